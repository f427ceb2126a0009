#pragma once
// The preview page's connector: takes content from the editor, shows the preview or the
// no-preview panel, and loads HTML into the preview web view. All links are weak. Main thread.
//
// With a connected server window and a document path, a page loads at its site address
// (VornPreviewSite): its links reach the files of its server; without them it loads from memory,
// with no base URL. The connector also records its document's text for the pages of other
// windows on the same connection, and follows the texts of theirs that its page uses: a style
// sheet restyles the page in place (no reload, the scroll position stays), anything else reloads.
//
// A server with a Site URL offers a second way to see a page (HTML, or a page the server makes:
// preview_page_kind), kept per document:
// "Site", the page as the web server serves it (PHP and includes run) at the Site URL plus the
// file's path under the web root. It loads when chosen and again each time a save of a file in
// the web root has landed on the server (after the save's replace, never before), keeping the
// scroll position; edits in between change nothing. A file outside the web root says it has no
// address on the site, loading nothing. The page may reach http and https only, has no bridge,
// and a certificate the system does not trust is put to the user as the app's trust question.
// Until the site's page has come, the preview says it is on its way (never the editor's text);
// a page that does not come (no answer, a refused certificate) is said so, with the reason, in its
// place; an error status leaves the server's own page (the heading names the status). Either way
// "Try Again" (the preview's bar) asks the site again. A page the server makes
// (PHP, server-side includes) starts in "Site" where the server has a Site URL.
// The server's "Web root" and "Site URL", edited while the window is open, apply at once: the
// page shows anew under them.
#include <QObject>
#include <QPointF>
#include <QUrl>
#include <QPointer>
#include <functional>
#include <map>
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
    // A page (HTML, or one a server makes, by the document's name; without a path, "text/html")
    // shows the preview and loads the content; any other type shows the no-preview panel and
    // empties the page. No content or no type: `no_data`.
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

    // ---- "Live" and "Site" ----------------------------------------------------------------------
    enum class PreviewMode { live, site };
    static constexpr const char* kLiveTitle = "Live";
    static constexpr const char* kSiteTitle = "Site";
    // Whether the document's server has a Site URL (the preview's bar offers the choice then).
    bool site_mode_available() const;
    // The current document's choice ("Live" until the user picks "Site").
    PreviewMode preview_mode() const;
    void set_preview_mode(PreviewMode mode);
    // The address of the provider path on the web server: the Site URL plus the path under the
    // web root (unset: "/"); nothing for a path outside the web root or a Site URL that is no
    // http(s) address.
    static std::optional<QUrl> site_address_for(const std::string& site_url, const std::optional<std::string>& web_root,
                                                const std::string& provider_path);
    // What the preview says of a file outside the web root in "Site".
    static std::string no_site_address_html(const std::string& web_root);
    // What it says while the site's page is on its way, and when it did not come.
    static std::string site_loading_html(const QUrl& address);
    static std::string site_failure_html(const QUrl& address, const std::string& reason);
    // The reason, from the engine's report of the load (its error domain and code, and text).
    static std::string site_failure_reason(int domain, int code, const std::string& engine_text);
    static constexpr const char* kSiteFailureTitle = "The site did not answer";
    static constexpr const char* kTryAgainTitle = "Try Again";
    // Why the site's page did not come, while the preview says so; the HTTP status when the web
    // server answered with an error (its own page then shows).
    const std::optional<std::string>& site_failure() const { return site_failure_; }
    std::optional<int> site_status() const { return site_status_; }
    // Whether the preview shows (or loads) "Site" for the document.
    bool site_shown() const { return site_shown_; }
    // "Try Again": asks the site for the page once more.
    void try_site_again();
    // How many times "Site" loaded the page, or said it has no address (for observers).
    int site_loads() const { return site_loads_; }

signals:
    // The choice, or whether there is one, may have changed: the preview's bar shows it anew.
    void previewModeChanged();

private:
    // "Site": loads the document's page from the web server (or says it has none), keeping the
    // scroll position when `keep_scroll` and the same page shows.
    void show_site_page(bool keep_scroll);
    // Follows the window's saves ("Site" reloads once one landed) and its server's edited
    // settings (service_settings_changed).
    void follow_window();
    void service_settings_changed();
    void site_failed(const QUrl& address, const std::string& reason, std::optional<int> status);
    void site_file_written(const std::string& path);
    void answer_certificate(const QString& host, int port, const QList<QByteArray>& chain, const QString& description,
                            std::function<void(bool)> answer);
    std::map<std::string, PreviewMode> modes_;  // by document path
    std::string last_html_;                     // the document's text, as last pushed
    bool site_shown_ = false;                   // the view shows "Site" for the document
    std::string site_document_;                 // the document path "Site" shows the page of
    std::optional<std::string> site_failure_;   // why the page did not come, while that shows
    std::optional<int> site_status_;            // the error status the web server answered with
    std::optional<QPointF> restore_scroll_;     // for the site page being loaded
    QPointer<QObject> followed_;
    QMetaObject::Connection site_written_, settings_changed_;
    int site_loads_ = 0;
    // Loads the HTML at its site address (served in its file's encoding); false when there is no
    // connection or document path.
    bool load_site_page(const std::string& html);
    // The encoding of the document's file (UTF-8 while none is known).
    std::string document_encoding() const;
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
