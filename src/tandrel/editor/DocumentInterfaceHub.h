#pragma once
// What a document window's connectors and preview screen need of the window's hub, the document
// interface manager. The connectors hold the hub through their weak `scene_delegatex` link
// (typed SceneDelegateProtocol) and reach these operations by casting it to DocumentInterfaceHub;
// the document interface manager adopts it, and so can a stand-in.
//
// Pointers returned here are for immediate use on the main thread; nobody keeps them.
#include <memory>
#include <string>

#include "tandrel/foundation/SceneDelegateProtocol.h"

class VornCurrentEditorStateInfo;
class VornPreviewJSConnector;
class VornServerFileContentModel;
class WebViewController;
namespace ui {
class ViewController;
}

// An editor screen as its connector drives it (adopted by EditorWebViewController).
class VornEditorScreenProtocol {
public:
    virtual ~VornEditorScreenProtocol() = default;
    // The screen itself: alerts are presented on it, and it is dismissed when its editor closes
    // in a single-window app.
    virtual ui::ViewController* editor_view_controller() = 0;
    // Sets the screen's and its window's title from a file path.
    virtual void update_window_title(const std::string& path) = 0;
    // Switches the page to the content's editing session.
    virtual void open_file_content(std::shared_ptr<VornServerFileContentModel> content) = 0;
    // Marks the window as holding changes that are not saved (the desktop's modified mark).
    virtual void show_unsaved_changes(bool changed) { (void)changed; }
    // While the window's file is on its way (a big file takes a while), the empty state names
    // it as loading; an empty name brings back the invitation to open a document.
    virtual void show_file_loading(const std::string& file_name) { (void)file_name; }
    // Shows the document's encoding and line endings (current_editor_info's text_format) in the bar.
    virtual void show_text_format() {}
};

class DocumentInterfaceHub : public SceneDelegateProtocol {
    Q_OBJECT
public:
    ~DocumentInterfaceHub() override = default;

    // An editor page reported "doc_ready": load the window's file into the page of that editor.
    virtual void load_current_editor_file(bool is_compact) = 0;
    // An editor page asked for the preferences: apply them to the visible editor's page.
    virtual void apply_editor_preferences() = 0;
    // Whether the compact editor is the visible one (otherwise the regular editor is).
    virtual bool uses_compact_editor() const = 0;
    // The window's document (`my_current_editor_info`).
    virtual VornCurrentEditorStateInfo& current_editor_info() = 0;
    // The preview page's connector (`preview_js_connector`), if any.
    virtual VornPreviewJSConnector* preview_connector() const = 0;
    // The live preview screen (`ext_webview_vc`), if any.
    virtual WebViewController* preview_screen() const = 0;
    // The compact (`ext_compact_editor_vc`) or regular (`ext_editor_vc`) editor screen, if any.
    virtual VornEditorScreenProtocol* editor_screen(bool is_compact) const = 0;
    // The document's encoding, line endings or readability changed (current_editor_info's
    // text_format and text_lossy): the bars show it, the preview serves the text in it.
    virtual void text_format_changed() {}
};

// The hub behind a `scene_delegatex` link, or nullptr.
inline DocumentInterfaceHub* document_hub(SceneDelegateProtocol* link) {
    return qobject_cast<DocumentInterfaceHub*>(link);
}
