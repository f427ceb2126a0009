#pragma once
// The preview page's connector: takes content from the editor, shows the preview or the
// no-preview panel, and loads HTML into the preview web view. All links are weak. Main thread.
//
// With a connected server window and a document path, an HTML page loads at its site address
// (VornPreviewSite): its links reach the files of its server; without them it loads from memory,
// with no base URL. The connector also records its document's text for the pages of other
// windows on the same connection, and follows the texts of theirs that its page uses: a style
// sheet restyles the page in place (no reload, the scroll position stays), anything else reloads.
#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "tandrel/editor/EditorJStoPreviewJSControllerProtocol.h"
#include "tandrel/editor/VornPreviewWKWebViewProtocol.h"
#include "tandrel/foundation/SceneDelegateProtocol.h"
#include "tandrel/foundation/VornErrorProtocol.h"
#include "tandrel/foundation/VornFileViewerSceneDelegateProtocol.h"

class VornPreviewContentBucket;
class VornPreviewSite;
namespace files {
class FileProvider;
}
namespace web {
class WebView;
struct ScriptMessage;
}

class VornPreviewJSConnector : public QObject,
                               public EditorJStoPreviewJSControllerProtocol,
                               public VornPreviewWKWebViewProtocol {
    Q_OBJECT
public:
    explicit VornPreviewJSConnector(QObject* parent = nullptr);
    ~VornPreviewJSConnector() override;

    bool first_preview_loaded = false;
    QPointer<SceneDelegateProtocol> scene_delegatex;
    QPointer<VornFileViewerSceneDelegateProtocol> file_delegatex;
    QPointer<web::WebView> web_view;
    VornErrorLink error_delegatex;

    // Keeps the view and registers the four message handlers ("scriptlog", "log", "msg", "err").
    void attach_web_view(web::WebView* view);
    // HTML ("text/html") shows the preview and loads the content; any other type shows the
    // no-preview panel and empties the page. No content or no type: `no_data`.
    void push_preview_content(std::shared_ptr<VornPreviewContentBucket> bucket) override;
    // The first content of the preview from a session's stored state (its "value" and
    // "file_path"), as just read back from the editor page: the page then need not send its whole
    // text across once more. Only while the preview has had no content: after that the page's
    // own text is the newer one (the page sends each change). Returns whether it pushed.
    bool push_first_content_from_state(const std::string& session_json);
    // How many contents reached the preview so far (for observers such as tests).
    int contents_pushed() const { return contents_pushed_; }
    // On the main queue: loads the HTML (from memory, no base URL). No web view: `no_webview`.
    // The HTML the page was last given is not loaded again (a save or a preview request of an
    // unchanged text would otherwise render the whole page anew).
    void load_preview_html(const std::string& html);
    // How many times a page was loaded into the preview (for observers such as tests).
    int preview_loads() const { return preview_loads_; }
    void handle_script_message(const web::ScriptMessage& message);
    // The site the page's files come from (none until a page loaded at a site address).
    std::shared_ptr<VornPreviewSite> site() const { return site_; }
    // How many times a used style sheet restyled the page in place (for observers such as tests).
    int restyles() const { return restyles_; }

private:
    // Loads the HTML at its site address; false when there is no connection or document path.
    bool load_site_page(const std::string& html);
    // The document's path on its server, when known.
    std::optional<std::string> document_path() const;
    void open_text_changed(const files::FileProvider* provider, const std::string& path);
    void server_file_written(const std::string& path);
    void reload_site_page();
    // Loads the page at the provider path under a fresh key of the site.
    void load_site_address(const std::string& path);
    std::shared_ptr<VornPreviewSite> site_;
    std::optional<std::string> recorded_path_;  // the path this connector's text is recorded under
    const files::FileProvider* recorded_provider_ = nullptr;
    QMetaObject::Connection written_, listed_;
    int restyles_ = 0;
    // The size and hash of the HTML last loaded, and the view it went to.
    std::optional<std::pair<std::size_t, std::size_t>> shown_;
    QPointer<web::WebView> shown_in_;
    std::optional<std::string> shown_site_path_;  // the document path of the site page last loaded
    int preview_loads_ = 0;
    int contents_pushed_ = 0;
};
