#pragma once
// The file commands a document window answers (main menu and editor bar buttons): save the
// visible file, close it (asking about unsaved changes unless forced).
#include <functional>

class EditorFileMenuActionsProtocol {
public:
    virtual ~EditorFileMenuActionsProtocol() = default;
    virtual void save_file() = 0;
    virtual void close_session_main() = 0;
    // `block` receives whether the file was closed; it is not called while the user decides, nor
    // when the user cancels.
    virtual void close_session(bool force, std::function<void(bool)> block) = 0;

    // The commands' selectors, as the menus name them.
    static constexpr const char* kSaveFile = "save_file";
    static constexpr const char* kCloseSessionMain = "close_session_main";
    // "Reopen with Encoding" and "Save with Encoding": their entries name the encoding (a WHATWG
    // name) under "encoding" in their property list.
    static constexpr const char* kReopenWithEncoding = "reopen_with_encoding";
    static constexpr const char* kSaveWithEncoding = "save_with_encoding";
    // "History…": the copies of the window's file that the server's history keeps.
    static constexpr const char* kShowHistory = "show_history";
};
