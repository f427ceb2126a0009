#pragma once
// The editor screen of a document window: the editor page in its web view, an empty state shown
// until a file is open, and the bar buttons close, save, "Preview" and the desktop's show/hide
// preview toggle. Every exchange with the page goes through the screen's connector; the window is
// reached through the weak `scene_delegatex` link (the document interface manager).
//
// A document window has one regular editor screen and, on phones and tablets, a compact one; the
// document interface manager makes and configures both. Main thread only.
#include <QPointer>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/NavigationController.h"
#include "tandrel/editor/DocumentInterfaceHub.h"
#include "tandrel/editor/EditorMenuActionsProtocol.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/VornDocViewController.h"
#include "tandrel/foundation/CompactEditorRoute.h"

class DocumentInterfaceManager;
class QLabel;
class QMenu;
class VornCurrentEditorStateInfo;
class VornEditorJSConnector;
class VornEditorWKWebView;
class VornServerFileContentModel;
namespace ui {
class ImageView;
}

class EditorWebViewController : public VornDocViewController,
                                public VornEditorScreenProtocol,
                                public CompactEditorScreen,
                                public EditorMenuActionsProtocol {
    Q_OBJECT
public:
    EditorWebViewController();
    ~EditorWebViewController() override;

    // This is the window's compact editor; set by the document interface manager.
    bool is_compact = false;
    // setup_editor_web_view has run (it runs once).
    bool loaded = false;
    // The window's file can be previewed; set by the document interface manager.
    bool has_preview_support = false;
    ui::BarButtonItemRef close_bar_item;
    ui::BarButtonItemRef preview_bar_item;
    // Replaced by the checkmark while the save feedback shows.
    ui::BarButtonItemRef save_bar_button;
    // Replaced on every toggle.
    ui::BarButtonItemRef toggle_preview_button;
    // The document's encoding and line endings ("Shift_JIS · CRLF"); pressed, the encoding menu.
    // None until a file is open.
    ui::BarButtonItemRef encoding_bar_item;
    // The container of the empty state.
    QPointer<QWidget> empty_view;
    // The web view has been detached from its connector (that happens once). Named apart from
    // ViewController::released(), the release hook.
    bool web_view_released = false;
    // This editor's connector, taken from the window when the web view is set up.
    std::shared_ptr<VornEditorJSConnector> jsc;
    // The web view came with the editor page already loaded (see prepare_warm_page).
    bool page_preloaded = false;

    // Keeps one editor page loading in the background for the next editor screen, which then
    // starts with a ready page (its "doc_ready" and "requestPreferences" are passed on when the
    // screen takes it). Each screen prepares the next one a little after it showed its file.
    static void prepare_warm_page();
    static bool warm_page_ready();
    // Lets the page kept for the next editor screen go: that screen loads its page itself
    // (benchmarks compare such a cold open with a bare view's).
    static void discard_warm_page();
    static constexpr int kWarmPageDelayMs = 1500;

    // The editor page's web view, made on first use.
    VornEditorWKWebView* editorWebView();

    // Places the web view, attaches it to the connector and loads the editor page; later calls do
    // nothing.
    void setup_editor_web_view() override;
    // (Re)loads the editor page from the app's editor folder; nothing when that is not set.
    void load_editor_page() override;
    // Loads a file page with read access to its folder. No file: the completion gets false (and
    // an error line is logged); a file that cannot be loaded also gives false.
    void load_url(const std::optional<std::filesystem::path>& request, std::function<void(bool)> completion);
    // After 0.25 s: switches the page to the content's session (select_file_session).
    void open_file_content(std::shared_ptr<VornServerFileContentModel> content) override;
    void select_file_session(std::shared_ptr<VornServerFileContentModel> content);
    // Queued: the screen's and its window's title from a file path ("index · HTML").
    void update_window_title(const std::string& path) override;
    void set_window_title(const std::string& path);
    // The title for a path, or nothing when the path cannot be read as a URL.
    static std::optional<QString> window_title_for_path(const std::string& path);
    // The titles of document windows, one for each file (its path and its server's name), in
    // order: each reads as its file does ("index · HTML"), but files whose titles would read
    // alike add their folder, and their server too when their servers differ, so that no two
    // windows read the same.
    struct TitleSubject {
        std::string path;
        std::string server;
    };
    static std::vector<QString> document_window_titles(const std::vector<TitleSubject>& subjects);
    // Titles every document window afresh from its file (after a title changed or a window went).
    static void retitle_document_windows();
    // The window's mark for changes no save wrote (its title shows it as the desktop does).
    void show_unsaved_changes(bool changed) override;
    // The bar's encoding item from the document's format.
    void show_text_format() override;
    // What the encoding item says of a document: its encoding ("UTF-8 BOM" with a BOM), its line
    // endings, and "Read-Only" when its bytes do not all read; empty before a file is open.
    static QString text_format_title(const VornCurrentEditorStateInfo& info);
    // The encoding item's menu: "Reopen with Encoding" and "Save with Encoding", each listing
    // the offered encodings by name, the document's own checked.
    std::unique_ptr<QMenu> build_encoding_menu();
    Q_INVOKABLE void show_encoding_menu();
    static constexpr const char* kReopenWithEncoding = "Reopen with Encoding";
    static constexpr const char* kSaveWithEncoding = "Save with Encoding";

    ui::ViewController* editor_view_controller() override { return this; }
    // The screen the single-window route presents.
    std::shared_ptr<ui::ViewController> compact_view_controller() override { return sharedFromThis(); }

    // ---- bar buttons ---------------------------------------------------------------------------
    Q_INVOKABLE void close_editor();
    // Saves through the main screen; the checkmark shows once the server took the file.
    Q_INVOKABLE void save_editor();
    Q_INVOKABLE void preview_trigger();
    Q_INVOKABLE void toggle_preview_btn_pressed();
    // Does nothing: the target of the checkmark shown after a save.
    Q_INVOKABLE void save_feedback_noop() {}

    void make_bar_buttons();
    // Queued on the main queue: the regular or the compact placement.
    void update_bar_buttons();
    void place_bar_buttons_regular();
    void place_bar_buttons_compact();
    // The checkmark in place of the save button for 3.0 s.
    void show_save_feedback();
    static constexpr int kSaveFeedbackMs = 3000;
    void push_preview_screen();
    void toggle_preview_column();

    // ---- Editor menu ---------------------------------------------------------------------------
    // Each command changes the shared preferences record at once, saves it, and sends the page
    // script once the save succeeded (a failed save keeps the page as it was).
    Q_INVOKABLE void edm_toggle_gutter() override;
    Q_INVOKABLE void edm_toggle_autosuggest() override;
    Q_INVOKABLE void edm_toggle_invisibles() override;
    // "themeEnumID" 1 to 39; anything else is ignored.
    Q_INVOKABLE void edm_set_theme(const ui::Command& sender) override;
    Q_INVOKABLE void edm_beautify() override;
    // "softWrap" 1 off, 2 view, 3 print margin, 4 asks for a custom width.
    Q_INVOKABLE void edm_sw_set(const ui::Command& sender) override;
    // Titles and check marks of the toggles and the soft-wrap modes, from the current record.
    Q_INVOKABLE void validateCommand(ui::Command* command);
    void apply_soft_wrap_mode(EnumManager::soft_wrap mode);
    // The custom width alert's "Set": a whole number (optional sign) is stored, then the mode
    // becomes custom; anything else changes nothing.
    void apply_custom_wrap_width(const std::string& text);
    // A decimal integer that fits an int, with an optional leading sign; nothing otherwise.
    static std::optional<int> parse_wrap_width(const std::string& text);
    static constexpr const char* kCustomWrapTitle = "Set Custom Wrap";
    static constexpr const char* kCustomWrapMessage = "Set the size of the wrapping...";

    // ---- empty state ---------------------------------------------------------------------------
    void show_empty_state();
    void fade_in_empty_view();
    void fade_out_empty_view();
    static constexpr const char* kEmptyStateText = "Please open a document from\nthe server to begin editing";
    QPointer<QLabel> empty_label;
    // The empty state's text while the window's file loads, or the invitation when no name.
    void show_file_loading(const std::string& file_name) override;
    static QString empty_state_text(const std::string& loading_file_name);

    // The delay before a file opens in the page.
    static constexpr int kOpenFileDelayMs = 250;
    // The delay, after the page switched to a file, before a previewable file is sent to the
    // preview (the empty state's fade).
    static constexpr int kPreviewAfterOpenMs = 200;

    void user_interface_style_did_change(const ui::TraitCollection& previous,
                                         const ui::TraitCollection& current) override;
    void released() override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;

private:
    DocumentInterfaceManager* manager() const;
    // The file the empty state names as loading (none: the invitation).
    std::string loading_file_name_;
    // The path the window's title was last made from (none before the first file).
    std::optional<std::string> title_path_;
    // The first file a desktop document window shows takes the keyboard focus into its text (a
    // new document window is for typing), unless the user has put it on a control already.
    void focus_first_file();
    bool first_file_focused_ = false;
    VornEditorWKWebView* make_editor_web_view();
    QPointer<VornEditorWKWebView> editorWebView_;
};
