#pragma once
// A web view for the app's pages, on Qt WebEngine, with the two-way script bridge the editor and
// the preview use:
//  - evaluateJavaScript runs a script in the page and hands its result, converted to JSON, or the
//    error it threw, to a completion on the main queue;
//  - the page posts messages with window.webkit.messageHandlers.NAME.postMessage(body); each body
//    arrives, converted to JSON, at the handler added for NAME, on the main queue. Posts made
//    before the page's channel is up are kept and delivered in order once it is;
//  - loadFileUrl loads a file with read access to one folder and nothing else (no network);
//    loadHtmlString serves HTML from memory through the app's page scheme, without file access;
//    loadSitePage loads a page of a site (SiteResources.h), which reaches its own site's files only.
// A view made without the page bridge (Bridge::none, the preview's) gives its pages no web channel
// and no message handlers: such a page cannot reach the app at all; scripts the app runs in it
// (evaluateJavaScript) work as ever.
// Every page uses the shared off-the-record profile (WebProfile.h); registerWebSchemes() must have
// run before the QApplication was made.
//
// Main thread only, except evaluateJavaScript, which may be called from any thread (it moves to the
// main queue). Completions and handlers never run inside the caller's stack, and an exception
// thrown by one is caught and dropped.
#include <QUrl>
#include <QVariantList>
#include <QWebEngineView>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>

class QTimer;
class QWebChannel;

namespace web {

class RequestInterceptor;
class ScriptBridge;
class WebPage;

struct ScriptError {
    std::string message;  // the script's error, e.g. "TypeError: x is undefined"
};

// result: the script's completion value as JSON (null for undefined, functions and the like).
using ScriptCompletion = std::function<void(nlohmann::json result, std::optional<ScriptError> error)>;

struct ScriptMessage {
    std::string name;     // the handler name the page posted to
    nlohmann::json body;  // the posted value as JSON (undefined arrives as null)
};
using MessageHandler = std::function<void(const ScriptMessage& message)>;

enum class ConsoleLevel { info, warning, error };
using ConsoleHandler =
    std::function<void(ConsoleLevel level, const std::string& message, int line, const std::string& source)>;

// Deletes every web view still alive (with its page); the application's end does this before it
// releases the shared profile.
void releaseAllViews();

enum class Bridge { page, none };

class WebView : public QWebEngineView {
    Q_OBJECT
public:
    explicit WebView(QWidget* parent = nullptr, Bridge bridge = Bridge::page);
    ~WebView() override;

    // Runs the script (a program, as for eval) in the page's main world. The completion, when given,
    // receives the value of the last statement or the error thrown (syntax errors included); when
    // the page goes away first it receives an error.
    void evaluateJavaScript(const std::string& script, ScriptCompletion completion = nullptr);

    // Handlers by name; adding a name again replaces its handler. Posts to a name without handler
    // are dropped.
    void addMessageHandler(const std::string& name, MessageHandler handler);
    void removeMessageHandler(const std::string& name);
    void removeAllMessageHandlers();
    bool hasMessageHandler(const std::string& name) const;

    // Scripts added to every document this view loads (the bridge's own script is not one of them).
    void addUserScript(const std::string& source, bool atDocumentStart = false);
    void removeAllUserScripts();

    // Loads `file` (which must lie inside `readAccessFolder`) with read access to that folder only.
    // Returns false, loading nothing, when either does not exist or the file is outside the folder.
    bool loadFileUrl(const std::filesystem::path& file, const std::filesystem::path& readAccessFolder);
    // Loads the HTML from memory (any size). The page has no base URL and cannot read files.
    // One load runs at a time: HTML given while a page is loading waits for that load to end
    // (only the newest waits), so quick successive pages always end on the last one.
    void loadHtmlString(const std::string& html);
    // Loads a site page (a "dravix-site:" address, SiteResources.h): the page and the files it
    // links come from the site's source; it may reach no other site and no file (and http and
    // https as networkAllowedForHtml says). One load at a time, as for loadHtmlString. Returns
    // false, loading nothing, for another kind of URL.
    bool loadSitePage(const QUrl& url);
    // Loads a web server's page at its own http or https address: it and what it links may reach
    // http and https only (no file, none of the app's schemes). One load at a time, as for
    // loadHtmlString. Returns false, loading nothing, for another kind of URL.
    bool loadWebPage(const QUrl& url);
    // A page's TLS certificate that the system does not trust: the handler gets the host, port,
    // the certificate chain (leaf first, DER), the engine's description of the fault and an
    // answer to call once, on the main thread (true: go on). Without a handler it is refused.
    using CertificateHandler = std::function<void(const QString& host, int port, const QList<QByteArray>& chain,
                                                  const QString& description, std::function<void(bool)> answer)>;
    void setCertificateHandler(CertificateHandler handler);
    // Whether pages loaded with loadHtmlString or loadSitePage may fetch http and https resources
    // (default false).
    void setNetworkAllowedForHtml(bool allowed);
    bool networkAllowedForHtml() const;

    // Offers the bytes to this view's page alone: it may read them once, as UTF-8 text, from the
    // returned URL (an unguessable one-shot "dravix-doc:" URL) with XMLHttpRequest. So a large
    // text reaches the page as its bytes, instead of inside a script's source. The offer lasts
    // until it is read, withdrawn, or the view goes.
    QUrl offerDocument(QByteArray bytes);
    void withdrawDocument(const QUrl& url);

    bool isLoading() const;
    void stopLoading();
    // The folder the current file page may read, if a file page is loaded.
    std::optional<std::filesystem::path> readAccessFolder() const;

    void setConsoleHandler(ConsoleHandler handler);

protected:
    // The page hands the focus on (Tab past its last element): to the window's next control, once,
    // and only for a Tab the user gave it.
    bool focusNextPrevChild(bool next) override;
    // Tab keys that reach the view or the page's surface (its focus proxy) are noted for that.
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void childEvent(QChildEvent* event) override;

signals:
    // A request of the page was refused by its access rules.
    void requestRefused(const QUrl& url);

private:
    friend class ScriptBridge;
    friend class WebPage;
    void deliverMessage(const QString& name, const QString& bodyJson, const QVariantList& large, const QString& marker);
    void deliverConsole(ConsoleLevel level, const QString& message, int line, const QString& source);
    void startHtmlLoad(const std::string& html);
    // A site page's or web page's address: now, or once the load under way has ended.
    void loadAddress(const QUrl& url);
    void startAddressLoad(const QUrl& url);
    void loadEnded();

    WebPage* page_ = nullptr;
    QWebChannel* channel_ = nullptr;
    ScriptBridge* bridge_ = nullptr;
    RequestInterceptor* interceptor_ = nullptr;
    std::map<std::string, MessageHandler> handlers_;
    ConsoleHandler console_;
    CertificateHandler certificates_;
    QString memoryPageKey_;
    std::size_t memoryPageBytes_ = 0;
    bool networkForHtml_ = false;
    bool loading_ = false;
    bool tabGiven_ = false;  // a Tab reached the page and it has not handed the focus on for it yet
    bool surfaceFocusDue_ = false;  // the focused surface was replaced: its successor takes the focus
    void giveFocusToSurface();
    // The newest page (HTML, or a site page's address) given while a page was loading.
    std::optional<std::variant<std::string, QUrl>> waiting_;
    QTimer* loadWatch_ = nullptr;             // lets waiting HTML go when a load never reports its end
    int userScriptCounter_ = 0;
    std::set<QString> offeredDocuments_;
    // The large strings of the latest script results (by the ids the page gave them), kept for a
    // moment so that the page may name them instead of sending them again (see wrapForEvaluation).
    std::map<std::string, std::shared_ptr<const std::string>> heldResults_;
    int evaluationsRunning_ = 0;
    QTimer* heldDrop_ = nullptr;
    // Gone as the destructor starts: the page, deleted after this view's members (as a child of
    // the widget), answers its scripts still running then, and those answers must not reach in.
    std::shared_ptr<void> alive_ = std::make_shared<int>(0);
    void keepResultStrings(std::map<std::string, std::shared_ptr<const std::string>> strings);
    void dropHeldResults();
    friend std::pair<nlohmann::json, std::optional<ScriptError>> interpretEvaluation(WebView*, const QVariant&);
};

}  // namespace web
