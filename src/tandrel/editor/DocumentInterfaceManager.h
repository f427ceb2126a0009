#pragma once
// The interface of one document window: its root screen, the split view of editor and preview,
// the regular and compact editor screens, the live preview screen, and the three script
// connectors (two editor pages, one preview page). It decides which editor is the visible one,
// answers the editor pages' "doc_ready" and "requestPreferences", asks the visible page for
// preview content, and detaches the editor page when the window goes.
//
// The manager owns every screen and connector; their links back to it (`scene_delegatex`) are
// weak, and so is its own link to the file-viewer window. The window's scene delegate owns the
// manager. Main thread only.
//
// Idioms: a phone works with the compact editor alone; a tablet has both editors (the compact one
// shows while the split view is collapsed); the desktop has the regular editor beside the preview,
// as a tablet does, and no compact editor.
#include <QPointer>
#include <memory>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tandrel/editor/DocumentInterfaceHub.h"
#include "tandrel/foundation/VornCurrentEditorStateInfo.h"
#include "tandrel/foundation/VornError.h"
#include "tandrel/foundation/VornFileViewerSceneDelegateProtocol.h"

class EditorWebViewController;
class MainViewController;
class VORNSplitViewController;
class VornEditorJSConnector;
class VornPreviewJSConnector;
class VornServerFileContentModel;
class WebViewController;
namespace ui {
class NavigationController;
class Scene;
class SplitViewController;
class ViewController;
}  // namespace ui

class DocumentInterfaceManager : public DocumentInterfaceHub {
    Q_OBJECT
public:
    DocumentInterfaceManager();
    ~DocumentInterfaceManager() override;

    // The file content most recently loaded for a page.
    std::shared_ptr<VornServerFileContentModel> gotFileBucket;
    bool full_screen_iphone = false;  // not consulted
    // Set when file content first arrived for an editor page; never cleared.
    bool ace_loaded = false;
    // Which of a tablet's two editor pages holds the file's latest text: the one it was loaded
    // into, then the one it was last handed over to. Only a change of the visible editor moves it.
    bool file_in_compact_editor = false;
    bool has_preview_support = true;  // not consulted (the split view reads my_current_editor_info)
    // The file-viewer window that owns the connection of this document.
    QPointer<VornFileViewerSceneDelegateProtocol> file_server_delegatex;

    std::shared_ptr<VornEditorJSConnector> editor_js_connector;
    std::shared_ptr<VornEditorJSConnector> editor_compact_js_connector;
    std::shared_ptr<VornPreviewJSConnector> preview_js_connector;
    // The window's root screen, and the error display of the connectors.
    std::shared_ptr<MainViewController> main_controller;
    std::shared_ptr<VORNSplitViewController> split_view_controller;
    std::shared_ptr<EditorWebViewController> ext_editor_vc;
    std::shared_ptr<EditorWebViewController> ext_compact_editor_vc;
    std::shared_ptr<WebViewController> ext_webview_vc;
    // Not consulted.
    std::shared_ptr<ui::ViewController> ext_nopreview_vc, compact_editor_vc, compact_webview_vc;
    std::shared_ptr<ui::NavigationController> compact_nav;
    // The window's document: which file of which server, and whether it can be previewed.
    VornCurrentEditorStateInfo my_current_editor_info;

    // The scene (window) this interface was built for; set by the document window's delegate.
    QPointer<ui::Scene> owning_scene;

    // Creates and wires the screens for the file named in my_current_editor_info (which needs
    // `service_session_id` and `file_bucket_id`) once its file-viewer window is found. Runs once,
    // before main_controller is shown.
    void setup_document_controllers();
    // Builds, keeps and returns the document split view; called when the root screen's view loads.
    std::shared_ptr<VORNSplitViewController> build_split_view(bool has_preview_support, double max_primary_width);
    // The two column layouts: tablet and desktop, and phone.
    void place_columns_pad(ui::SplitViewController& split, bool has_preview_support);
    void place_columns_other(ui::SplitViewController& split, bool has_preview_support);

    // An editor page reported "doc_ready": read the window's file through the file viewer and open
    // it in that page.
    void load_current_editor_file(bool is_compact) override;
    // The loaded file (or the error of its read), continued: store it and open it in the page of
    // `connector`.
    // A failed read (or a file that is not text, or a link to nothing) shows its error. A window
    // that never showed its file closes at once and the error shows in the file-viewer window
    // that opened it, so no empty editor stands behind it; without that window the error shows
    // over this one, which closes once the user has read it (close_window_without_file).
    void file_loaded(std::shared_ptr<VornServerFileContentModel> content, std::optional<VornError> error,
                     std::shared_ptr<VornEditorJSConnector> connector);
    // Closes this document window when no file ever reached its page; true when it asked to.
    bool close_window_without_file();
    // The editor screens' empty state names the window's file as loading (loading false: it
    // invites to open a document again, after a read that failed).
    void show_file_loading(bool loading);
    void apply_editor_preferences() override;
    // Asks the visible page to send its content to the preview.
    void request_preview_content();
    // The window's file (or a folder above it) was renamed on the server: the document follows it
    // (its id and path, the page session, the title), so later saves go to the new name.
    void follow_file_move(const QByteArray& from, const QByteArray& to);
    // The window's file (or a folder above it) was deleted on the server: the window says so, and
    // a later save asks before it writes the file there again.
    void file_removed_on_server(const QByteArray& path);
    // ---- the file's encoding ---------------------------------------------------------------------
    // Reads the window's file from the server again in `encoding` (a WHATWG name) and shows it in
    // place of the page's text; a file with unsaved changes asks first ("Discard Changes?"): they go.
    void reopen_with_encoding(const std::string& encoding);
    // Saves the window's file in `encoding` from now on (VornEditorJSConnector::save_in_encoding).
    void save_with_encoding(const std::string& encoding, std::function<void(bool written)> completion = nullptr);
    // "History": the copies of the window's file that saves replaced on its server
    // (VornFileHistory), shown against the editor's text; "Restore" puts one into the editor.
    void show_history();
    // The bars and the preview follow the document's format.
    void text_format_changed() override;
    static constexpr const char* kReopenTitle = "Discard Changes?";

    // The remote path of the window's file (from its id when no page has reported it yet).
    std::optional<std::string> current_file_path() const;
    // The window goes: detaches the visible editor's web view from its connector (once).
    void teardown_document_interface();
    // An action with no effect.
    Q_INVOKABLE void trigger_previewDocument() {}

    // The compact editor is the visible one on a phone, and on a tablet while the split view is
    // collapsed; otherwise (a tablet expanded, the desktop) the regular editor is.
    bool uses_compact_editor() const override;
    // The visible editor's screen and connector (by uses_compact_editor), when they exist.
    EditorWebViewController* visible_editor_screen() const;
    VornEditorJSConnector* visible_editor_connector() const;

    // ---- the site search (DocumentInterfaceManager+Find.cpp) ---------------------------------
    // A place in the text: a row and a column from 0, and a length, in UTF-16 units (as the
    // editor counts), within one line.
    struct TextSpot {
        std::size_t row = 0;
        std::size_t column = 0;
        std::size_t length = 0;
    };
    // Selects the spot in the editor and scrolls to it: now when the page shows the window's
    // file, else once it does (the latest spot asked for wins).
    void reveal_text(TextSpot spot);
    // The editor's text of the window's file, as UTF-8; nothing when no page shows it. `done`
    // runs once, on the main queue.
    void current_text(std::function<void(std::optional<std::string>)> done);
    // Replaces each spot with its text in the editor, as edits the user sees and can undo (the
    // document then holds unsaved changes). Spots are taken last first, so the earlier ones stay
    // where they are. `done` runs once on the main queue: true when every edit went in.
    void replace_spots(std::vector<std::pair<TextSpot, std::string>> edits, std::function<void(bool)> done);

    // ---- DocumentInterfaceHub ------------------------------------------------------------------
    VornCurrentEditorStateInfo& current_editor_info() override { return my_current_editor_info; }
    VornPreviewJSConnector* preview_connector() const override { return preview_js_connector.get(); }
    WebViewController* preview_screen() const override { return ext_webview_vc.get(); }
    VornEditorScreenProtocol* editor_screen(bool is_compact) const override;

    // The file-viewer window, when it is still there.
    VornFileViewerSceneDelegateProtocol* file_viewer() const;

private:
    // The page now shows the window's file: a spot asked for meanwhile is selected.
    void file_shown();
    std::optional<TextSpot> pending_reveal_;
    bool controllers_set_up_ = false;
    // The encoding the next read of the window's file is in, and that read replaces the page's
    // text (a reopen).
    std::optional<std::string> reopen_encoding_;
    bool reopening_ = false;
    // The encoding the file's read is in: a reopen's, the one the user chose before (kept in the
    // file's session record), or the kept text's on a restore after a crash.
    std::optional<std::string> encoding_for_read(const std::string& file_id) const;
};
