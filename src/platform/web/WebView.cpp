#include "platform/web/WebView.h"

#include <QSslCertificate>
#include <QWebEngineCertificateError>

#include <cctype>
#include <cstdlib>
#include <set>

#include <QApplication>
#include <QChildEvent>
#include <QKeyEvent>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>
#include <utility>
#include <QVariantMap>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

#include "platform/dispatch/Dispatch.h"
#include "platform/web/JsString.h"
#include "platform/web/MemoryRelease.h"
#include "platform/web/RequestPolicy.h"
#include "platform/web/ScriptBridge.h"
#include "platform/web/SiteResources.h"
#include "platform/web/WebProfile.h"
#include "platform/web/WebViewAccessible.h"

Q_LOGGING_CATEGORY(lcWeb, "dravix.web")

namespace web {

namespace {

constexpr const char* kBridgeScriptName = "dravix-bridge";
constexpr const char* kUserScriptPrefix = "dravix-user-";
constexpr const char* kBridgeObjectName = "dravixBridge";
// How long a page load may go without reporting its end before waiting HTML loads anyway.
constexpr int kLoadWatchMs = 15000;
// How long the large strings of a script result stay held for the page to name again.
constexpr int kHeldResultsMs = 1500;

// The script that gives every document window.webkit.messageHandlers. Posts are serialized to JSON
// text at once and kept until the web channel is up, then sent in order.
QString bridgeScriptSource() {
    static const QString source = [] {
        QFile file(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
        QString channelJs;
        if (file.open(QIODevice::ReadOnly)) channelJs = QString::fromUtf8(file.readAll());
        else qCWarning(lcWeb) << "qwebchannel.js is missing from Qt's resources; pages cannot post messages";
        return QStringLiteral(R"JS((function () {
  "use strict";
  if (window.webkit && window.webkit.__dravixBridge) return;
  var pending = [];
  var bridge = null;
  // Strings of 64 KiB or more cross beside the JSON text (in its place stands the marker and
  // their index), so a large body is not escaped here and unescaped again in the app.
  function send(name, body) {
    var text;
    var large = [];
    var marker = "\u0000" + Math.random().toString(36).slice(2) + ":";
    try {
      text = JSON.stringify(body === undefined ? null : body, function (key, value) {
        if (typeof value === "string" && value.length >= 65536) {
          large.push(value);
          return marker + (large.length - 1);
        }
        return value;
      });
    } catch (e) { text = undefined; large = []; }
    if (typeof text !== "string") text = "null";
    if (bridge) bridge.post(name, text, large, marker); else pending.push([name, text, large, marker]);
  }
  var posters = {};
  var handlers = new Proxy({}, {
    get: function (target, name) {
      if (typeof name !== "string") return undefined;
      if (!Object.prototype.hasOwnProperty.call(posters, name)) {
        posters[name] = Object.freeze({ postMessage: function (body) { send(name, body); } });
      }
      return posters[name];
    },
    has: function (target, name) { return typeof name === "string"; },
    set: function () { return false; },
    defineProperty: function () { return false; },
    deleteProperty: function () { return false; }
  });
  Object.defineProperty(window, "webkit", {
    value: Object.freeze({ messageHandlers: handlers, __dravixBridge: true }),
    writable: false, configurable: false, enumerable: false
  });
  var QWebChannel = (function () {
    var module;
%1
    return QWebChannel;
  })();
  var tries = 0;
  function connect() {
    if (typeof qt === "undefined" || !qt.webChannelTransport) {
      tries += 1;
      setTimeout(connect, tries < 100 ? 5 : 50);
      return;
    }
    new QWebChannel(qt.webChannelTransport, function (channel) {
      var b = channel.objects.%2;
      if (!b) return;
      var queued = pending;
      pending = [];
      for (var i = 0; i < queued.length; i++) b.post(queued[i][0], queued[i][1], queued[i][2], queued[i][3]);
      bridge = b;
    });
  }
  connect();
})();
)JS")
            .arg(channelJs, QString::fromLatin1(kBridgeObjectName));
    }();
    return source;
}

// The size of a script's result as it crossed: its JSON text and the strings lifted beside it.
std::size_t resultBytes(const QVariant& value) {
    if (value.typeId() != QMetaType::QVariantMap) return 0;
    const QVariantMap map = value.toMap();
    std::size_t bytes = static_cast<std::size_t>(map.value(QStringLiteral("v")).toString().size());
    for (const QVariant& lifted : map.value(QStringLiteral("b")).toList()) {
        bytes += static_cast<std::size_t>(lifted.toString().size());
    }
    return bytes;
}

using HeldStrings = std::map<std::string, std::shared_ptr<const std::string>>;

// Puts back the strings of a result or a page message: lifted ones ("<marker><index>", their text
// beside the JSON text, with the ids the page gave them, for results) and named ones
// ("<marker>=<id>", a string the app holds from an earlier result). `used` collects every string
// the result holds by id; false when a name is not held (which the page never sends: it names
// only what the call said is held).
bool restoreResultStrings(nlohmann::json& value, const std::string& marker, const std::vector<std::string>& lifted,
                          const std::vector<std::string>& ids, const HeldStrings& held, HeldStrings& used) {
    if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
        if (text.size() <= marker.size() || text.compare(0, marker.size(), marker) != 0) return true;
        const std::string rest = text.substr(marker.size());
        if (rest[0] == '=') {
            const auto it = held.find(rest.substr(1));
            if (it == held.end()) return false;
            used[it->first] = it->second;
            value = *it->second;
            return true;
        }
        char* end = nullptr;
        const unsigned long long i = std::strtoull(rest.c_str(), &end, 10);
        if (end && *end == '\0' && std::isdigit(static_cast<unsigned char>(rest[0])) && i < lifted.size()) {
            value = lifted[i];
            if (i < ids.size() && !ids[i].empty()) used[ids[i]] = std::make_shared<const std::string>(lifted[i]);
        }
        return true;
    }
    if (value.is_structured()) {
        for (auto& member : value) {
            if (!restoreResultStrings(member, marker, lifted, ids, held, used)) return false;
        }
    }
    return true;
}

}  // namespace

std::pair<nlohmann::json, std::optional<ScriptError>> interpretEvaluation(WebView* view, const QVariant& value) {
    if (value.typeId() != QMetaType::QVariantMap) {
        return {nullptr, ScriptError{"The script did not run to its end (no page, or the page went away)"}};
    }
    const QVariantMap map = value.toMap();
    if (map.value(QStringLiteral("ok")).toInt() == 1) {
        const std::string text = map.value(QStringLiteral("v")).toString().toStdString();
        nlohmann::json result = nlohmann::json::parse(text, nullptr, false);
        if (result.is_discarded()) result = nullptr;
        const QString marker = map.value(QStringLiteral("m")).toString();
        std::vector<std::string> lifted, ids;
        for (const QVariant& s : map.value(QStringLiteral("b")).toList()) lifted.push_back(s.toString().toStdString());
        for (const QVariant& s : map.value(QStringLiteral("n")).toList()) ids.push_back(s.toString().toStdString());
        if (!marker.isEmpty()) {
            HeldStrings used;
            static const HeldStrings none;
            if (!restoreResultStrings(result, marker.toStdString(), lifted, ids, view ? view->heldResults_ : none, used)) {
                return {nullptr, ScriptError{"The script's result named a text the app no longer holds"}};
            }
            if (view && !used.empty()) view->keepResultStrings(std::move(used));
        }
        return {std::move(result), std::nullopt};
    }
    std::string message = map.value(QStringLiteral("e")).toString().toStdString();
    if (message.empty()) message = "script error";
    return {nullptr, ScriptError{std::move(message)}};
}

namespace {

void runCompletion(const ScriptCompletion& completion, nlohmann::json result, std::optional<ScriptError> error) {
    try {
        completion(std::move(result), std::move(error));
    } catch (const std::exception& e) {
        qCWarning(lcWeb) << "script completion threw:" << e.what();
    } catch (...) {
        qCWarning(lcWeb) << "script completion threw";
    }
}

}  // namespace

// ---- the page ------------------------------------------------------------------------------------

class WebPage final : public QWebEnginePage {
public:
    WebPage(QWebEngineProfile* profile, WebView* view) : QWebEnginePage(profile, view), view_(view) {}

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        Q_UNUSED(type);
        Q_UNUSED(isMainFrame);
        // The interceptor judges every request too; refusing here keeps a refused navigation from
        // replacing the page with an error page.
        return view_->interceptor_ && view_->interceptor_->policy().allows(url);
    }

    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }

    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                  const QString& source) override {
        ConsoleLevel l = ConsoleLevel::info;
        if (level == WarningMessageLevel) l = ConsoleLevel::warning;
        else if (level == ErrorMessageLevel) l = ConsoleLevel::error;
        view_->deliverConsole(l, message, line, source);
    }

private:
    WebView* view_;
};

// ---- the view ------------------------------------------------------------------------------------

namespace {
std::set<WebView*>& liveViews() {
    static std::set<WebView*> views;
    return views;
}
}  // namespace

bool WebView::focusNextPrevChild(bool next) {
    // The engine may hand the focus on twice for one Tab from a page that has nothing to focus:
    // the second time the focus is already on the next control, which must keep it.
    QWidget* focused = QApplication::focusWidget();
    if (!focused || (focused != this && !isAncestorOf(focused))) return true;
    // It also hands the focus on by itself when a page with nothing to focus loads while the view
    // holds the focus (a preview whose content arrives after the user went into it): no Tab was
    // given then, and the focus stays.
    // When the view itself is hidden, the focus moves on as from any control that goes.
    if (!isVisible()) return QWebEngineView::focusNextPrevChild(next);
    if (!std::exchange(tabGiven_, false)) {
        // A load into another process replaces the page's surface; the old one hands the focus on
        // as it hides. The view keeps it, and the new surface takes it once it is shown.
        if (focused != this && !focused->isVisible()) surfaceFocusDue_ = true;
        return true;
    }
    return QWebEngineView::focusNextPrevChild(next);
}

void WebView::giveFocusToSurface() {
    if (!surfaceFocusDue_) return;
    // The window's own focus: it may be inactive (another window in front) and still hold it.
    QWidget* focused = window()->focusWidget();
    // Something else took the focus meanwhile (the user moved it): it stays there.
    if (focused && focused != this && !(isAncestorOf(focused) && !focused->isVisible())) {
        surfaceFocusDue_ = false;
        return;
    }
    QWidget* surface = focusProxy();
    if (!surface || !surface->isVisible()) return;  // the new surface is not shown yet: its Show comes
    surfaceFocusDue_ = false;
    surface->setFocus(Qt::OtherFocusReason);
}

namespace {
bool isTab(QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    return key == Qt::Key_Tab || key == Qt::Key_Backtab;
}
}  // namespace

bool WebView::event(QEvent* event) {
    if (isTab(event)) tabGiven_ = true;
    return QWebEngineView::event(event);
}

bool WebView::eventFilter(QObject* watched, QEvent* event) {
    if (watched->isWidgetType() && isTab(event)) tabGiven_ = true;
    if (watched->isWidgetType() && event->type() == QEvent::Hide && isVisible()) {
        // A surface that goes while the view stays was replaced (a load into another process).
        // If it held the window's focus, active or not, its successor takes it.
        auto* surface = static_cast<QWidget*>(watched);
        QWidget* focused = window()->focusWidget();
        if (focused && (focused == surface || surface->isAncestorOf(focused))) surfaceFocusDue_ = true;
    }
    if (surfaceFocusDue_ && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
        QTimer::singleShot(0, this, &WebView::giveFocusToSurface);
    return QWebEngineView::eventFilter(watched, event);
}

void WebView::childEvent(QChildEvent* event) {
    QWebEngineView::childEvent(event);
    // The page's surface arrives after construction, and again when a navigation to another
    // site or a renderer restart replaces it; it becomes the focus proxy only after it was
    // added, so every child widget is watched from the start.
    if ((event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildPolished) && event->child() &&
        event->child()->isWidgetType()) {
        event->child()->removeEventFilter(this);
        event->child()->installEventFilter(this);
    }
}

void releaseAllViews() {
    // A view may own others (its children): each deletion is checked against the set as it is now.
    while (!liveViews().empty()) delete *liveViews().begin();
}

namespace {

QString siteFetchScriptSource() {
    return QStringLiteral(R"js((function () {
  var scheme = '%1:';
  if (location.protocol !== scheme || typeof window.fetch !== 'function') return;
  var engineFetch = window.fetch;
  window.fetch = function (input, init) {
    var isRequest = typeof Request !== 'undefined' && input instanceof Request;
    var target;
    try { target = new URL(isRequest ? input.url : String(input), document.baseURI); }
    catch (e) { return engineFetch.apply(this, arguments); }
    if (target.protocol !== scheme) return engineFetch.apply(this, arguments);
    var method = String((init && init.method) || (isRequest ? input.method : 'GET')).toUpperCase();
    var signal = (init && init.signal) || (isRequest ? input.signal : null);
    return new Promise(function (resolve, reject) {
      if (method !== 'GET' && method !== 'HEAD') {
        reject(new TypeError('Failed to fetch: this site answers only GET'));
        return;
      }
      if (signal && signal.aborted) { reject(new DOMException('The user aborted a request.', 'AbortError')); return; }
      var xhr = new XMLHttpRequest();
      xhr.open('GET', target.href);
      xhr.responseType = 'arraybuffer';
      var answered = function (status, statusText, body, type) {
        var headers = type ? { 'Content-Type': type } : {};
        var response = new Response(method === 'HEAD' || status === 404 ? null : body,
                                    { status: status, statusText: statusText, headers: headers });
        Object.defineProperty(response, 'url', { value: target.href });
        resolve(response);
      };
      xhr.onload = function () {
        answered(xhr.status || 200, xhr.statusText || 'OK', xhr.response, xhr.getResponseHeader('Content-Type'));
      };
      // The site fails a request for a file it does not give: a web server's 404.
      xhr.onerror = function () { answered(404, 'Not Found', null, null); };
      xhr.onabort = function () { reject(new DOMException('The user aborted a request.', 'AbortError')); };
      if (signal) signal.addEventListener('abort', function () { xhr.abort(); });
      xhr.send();
    });
  };
})();)js").arg(QString::fromLatin1(kSiteScheme));
}

}  // namespace

WebView::WebView(QWidget* parent, Bridge bridge) : QWebEngineView(parent) {
    liveViews().insert(this);
    if (!webSchemesRegistered()) {
        qCWarning(lcWeb) << "registerWebSchemes() did not run before the application was made; "
                            "pages loaded from memory will not show";
    }
    page_ = new WebPage(sharedProfile(), this);
    interceptor_ = new RequestInterceptor(page_);
    page_->setUrlRequestInterceptor(interceptor_);
    connect(interceptor_, &RequestInterceptor::refused, this, &WebView::requestRefused, Qt::QueuedConnection);

    if (bridge == Bridge::page) {
        channel_ = new QWebChannel(page_);
        bridge_ = new ScriptBridge(this, channel_);
        channel_->registerObject(QString::fromLatin1(kBridgeObjectName), bridge_);
        page_->setWebChannel(channel_, QWebEngineScript::MainWorld);

        QWebEngineScript shim;
        shim.setName(QString::fromLatin1(kBridgeScriptName));
        shim.setSourceCode(bridgeScriptSource());
        shim.setInjectionPoint(QWebEngineScript::DocumentCreation);
        shim.setWorldId(QWebEngineScript::MainWorld);
        shim.setRunsOnSubFrames(false);
        page_->scripts().insert(shim);
    }

    // fetch() of a site page's own files: the web engine of Qt 6.4 lets fetch reach only the
    // schemes it knows (http, https, data, blob), so on a site page a fetch of the site's own
    // address goes by XMLHttpRequest instead, as GET or HEAD only (the site answers nothing else).
    QWebEngineScript siteFetch;
    siteFetch.setName(QStringLiteral("dravix-site-fetch"));
    siteFetch.setSourceCode(siteFetchScriptSource());
    siteFetch.setInjectionPoint(QWebEngineScript::DocumentCreation);
    siteFetch.setWorldId(QWebEngineScript::MainWorld);
    siteFetch.setRunsOnSubFrames(true);
    page_->scripts().insert(siteFetch);

    QWebEngineSettings* s = page_->settings();
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    s->setAttribute(QWebEngineSettings::LocalStorageEnabled, true);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    s->setAttribute(QWebEngineSettings::AllowRunningInsecureContent, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    s->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, false);
    s->setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);
    s->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
    s->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
    s->setAttribute(QWebEngineSettings::ScrollAnimatorEnabled, false);

    setPage(page_);
    // The page's surface (the view's focus proxy) is what Tab and a click give the focus to; the
    // view takes the focus as well, so that the assistive technologies read the page as a control
    // that does (the view is the page's element in the window's tree; the surface is not in it).
    setFocusPolicy(Qt::StrongFocus);
    installDocumentAccessibility(this);
    loadWatch_ = new QTimer(this);
    loadWatch_->setSingleShot(true);
    loadWatch_->setInterval(kLoadWatchMs);
    connect(loadWatch_, &QTimer::timeout, this, [this] { loadEnded(); });
    connect(page_, &QWebEnginePage::loadStarted, this, [this] { loading_ = true; });
    // A certificate the system does not trust: the page waits for the handler's answer (the
    // engine's own question, never a nested loop); without a handler, or for a fault that cannot
    // be let through, it is refused.
    connect(page_, &QWebEnginePage::certificateError, this, [this](QWebEngineCertificateError error) {
        if (!certificates_ || !error.isOverridable()) {
            error.rejectCertificate();
            return;
        }
        error.defer();
        QList<QByteArray> chain;
        for (const QSslCertificate& c : error.certificateChain()) chain.push_back(c.toDer());
        const QUrl url = error.url();
        auto once = std::make_shared<bool>(false);
        certificates_(url.host(), url.port(url.scheme() == QLatin1String("https") ? 443 : 80), chain,
                      error.description(), [error, once](bool trust) mutable {
                          if (*once) return;
                          *once = true;
                          if (trust) error.acceptCertificate();
                          else error.rejectCertificate();
                      });
    });
    connect(page_, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        // A page from memory that has loaded needs its bytes no more: the page holds them now.
        if (ok && !memoryPageKey_.isEmpty() && pages::keyOf(page_->url()) == memoryPageKey_) {
            pages::withdraw(memoryPageKey_);
            memory::releaseAfterCrossing(memoryPageBytes_);
        }
        loadEnded();
    });
}

WebView::~WebView() {
    alive_.reset();
    liveViews().erase(this);
    pages::withdraw(memoryPageKey_);
    for (const QString& url : offeredDocuments_) documents::withdraw(QUrl(url));
    handlers_.clear();
    // A page going away (a window's editor or preview) leaves the app's copies of its texts freed.
    memory::releaseSoon();
}

QUrl WebView::offerDocument(QByteArray bytes) {
    const QUrl url = documents::offer(std::move(bytes));
    interceptor_->allowDocument(url);
    offeredDocuments_.insert(url.toString());
    return url;
}

void WebView::withdrawDocument(const QUrl& url) {
    documents::withdraw(url);
    interceptor_->forgetDocument(url);
    offeredDocuments_.erase(url.toString());
}

void WebView::evaluateJavaScript(const std::string& script, ScriptCompletion completion) {
    if (!dispatch::mainQueue().isCurrent()) {
        QPointer<WebView> self(this);
        dispatch::mainQueue().async([self, script, completion] {
            if (self) {
                self->evaluateJavaScript(script, completion);
            } else if (completion) {
                runCompletion(completion, nullptr, ScriptError{"The web view went away before the script ran"});
            }
        });
        return;
    }
    std::vector<std::string> held;
    if (completion) {
        for (const auto& [id, text] : heldResults_) held.push_back(id);
    }
    const QString source = QString::fromStdString(wrapForEvaluation(script, held));
    memory::releaseAfterCrossing(script.size());
    if (!completion) {
        page_->runJavaScript(source, QWebEngineScript::MainWorld);
        return;
    }
    ++evaluationsRunning_;
    std::weak_ptr<void> alive = alive_;
    page_->runJavaScript(source, QWebEngineScript::MainWorld, [this, alive, completion](const QVariant& value) {
        const std::size_t bytes = resultBytes(value);
        WebView* view = alive.expired() ? nullptr : this;
        if (view) --view->evaluationsRunning_;
        auto outcome =
            std::make_shared<std::pair<nlohmann::json, std::optional<ScriptError>>>(interpretEvaluation(view, value));
        dispatch::mainQueue().async([completion, outcome, bytes] {
            runCompletion(completion, std::move(outcome->first), std::move(outcome->second));
            // Asked after the completion, which has taken what it keeps of the result by then.
            memory::releaseAfterCrossing(bytes);
        });
    });
}

void WebView::keepResultStrings(std::map<std::string, std::shared_ptr<const std::string>> strings) {
    heldResults_ = std::move(strings);
    if (!heldDrop_) {
        heldDrop_ = new QTimer(this);
        heldDrop_->setSingleShot(true);
        heldDrop_->setInterval(kHeldResultsMs);
        connect(heldDrop_, &QTimer::timeout, this, [this] { dropHeldResults(); });
    }
    heldDrop_->start();
}

void WebView::dropHeldResults() {
    // A result on its way may name what the call said was held: kept until it is in.
    if (evaluationsRunning_ > 0) {
        heldDrop_->start();
        return;
    }
    // Blocks this large have pages of their own (MemoryRelease.h): they go back as they are freed.
    heldResults_.clear();
}

void WebView::addMessageHandler(const std::string& name, MessageHandler handler) {
    if (!handler) {
        handlers_.erase(name);
        return;
    }
    handlers_[name] = std::move(handler);
}

void WebView::removeMessageHandler(const std::string& name) { handlers_.erase(name); }

void WebView::removeAllMessageHandlers() { handlers_.clear(); }

bool WebView::hasMessageHandler(const std::string& name) const { return handlers_.count(name) != 0; }

void WebView::deliverMessage(const QString& name, const QString& bodyJson, const QVariantList& large,
                             const QString& marker) {
    ScriptMessage message;
    message.name = name.toStdString();
    message.body = nlohmann::json::parse(bodyJson.toStdString(), nullptr, false);
    if (message.body.is_discarded()) message.body = bodyJson.toStdString();
    if (!large.isEmpty() && !marker.isEmpty()) {
        std::vector<std::string> lifted;
        for (const QVariant& s : large) lifted.push_back(s.toString().toStdString());
        HeldStrings unused;
        restoreResultStrings(message.body, marker.toStdString(), lifted, {}, {}, unused);
    }
    std::size_t bytes = static_cast<std::size_t>(bodyJson.size());
    for (const QVariant& lifted : large) bytes += static_cast<std::size_t>(lifted.toString().size());
    QPointer<WebView> self(this);
    auto shared = std::make_shared<ScriptMessage>(std::move(message));
    dispatch::mainQueue().async([self, shared, bytes] {
        memory::releaseAfterCrossing(bytes);
        if (!self) return;
        const auto it = self->handlers_.find(shared->name);
        if (it == self->handlers_.end()) {
            qCDebug(lcWeb) << "message for a name without handler:" << QString::fromStdString(shared->name);
            return;
        }
        const MessageHandler handler = it->second;  // a handler may remove itself
        try {
            handler(*shared);
        } catch (const std::exception& e) {
            qCWarning(lcWeb) << "message handler threw:" << e.what();
        } catch (...) {
            qCWarning(lcWeb) << "message handler threw";
        }
    });
}

void WebView::addUserScript(const std::string& source, bool atDocumentStart) {
    QWebEngineScript script;
    script.setName(QString::fromLatin1(kUserScriptPrefix) + QString::number(++userScriptCounter_));
    script.setSourceCode(QString::fromStdString(source));
    script.setInjectionPoint(atDocumentStart ? QWebEngineScript::DocumentCreation : QWebEngineScript::DocumentReady);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    page_->scripts().insert(script);
}

void WebView::removeAllUserScripts() {
    const auto all = page_->scripts().toList();
    for (const QWebEngineScript& script : all) {
        if (script.name().startsWith(QLatin1String(kUserScriptPrefix))) page_->scripts().remove(script);
    }
}

bool WebView::loadFileUrl(const std::filesystem::path& file, const std::filesystem::path& readAccessFolder) {
    auto policy = RequestPolicy::folder(readAccessFolder);
    if (!policy) return false;
    const QString canonical = QFileInfo(QString::fromStdString(file.string())).canonicalFilePath();
    if (canonical.isEmpty() || !QFileInfo(canonical).isFile()) return false;
    const QUrl url = QUrl::fromLocalFile(canonical);
    if (!policy->allows(url)) return false;
    pages::withdraw(memoryPageKey_);
    memoryPageKey_.clear();
    waiting_.reset();  // the file page replaces whatever waited
    interceptor_->setPolicy(*policy);
    page_->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    loading_ = true;
    loadWatch_->start();
    page_->load(url);
    return true;
}

void WebView::loadHtmlString(const std::string& html) {
    if (loading_) {
        // A navigation started over one still under way can lose to it (the older page then shows,
        // or a blank one): the newest page waits for the current load to end.
        waiting_ = html;
        return;
    }
    startHtmlLoad(html);
}

bool WebView::loadSitePage(const QUrl& url) {
    if (site::keyOf(url).isEmpty()) return false;
    loadAddress(url);
    return true;
}

bool WebView::loadWebPage(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) return false;
    loadAddress(url);
    return true;
}

void WebView::loadAddress(const QUrl& url) {
    if (loading_) {
        waiting_ = url;
        return;
    }
    startAddressLoad(url);
}

void WebView::startAddressLoad(const QUrl& url) {
    pages::withdraw(memoryPageKey_);
    memoryPageKey_.clear();
    // A site's page reaches its own site (and the web as allowed); a web server's page the web only.
    const QString key = site::keyOf(url);
    interceptor_->setPolicy(key.isEmpty() ? RequestPolicy::web() : RequestPolicy::site(key, networkForHtml_));
    page_->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    loading_ = true;
    loadWatch_->start();
    page_->load(url);
}

void WebView::setCertificateHandler(CertificateHandler handler) { certificates_ = std::move(handler); }

void WebView::startHtmlLoad(const std::string& html) {
    const QUrl url = pages::publish(QByteArray::fromStdString(html), memoryPageKey_);
    memoryPageKey_ = pages::keyOf(url);
    memoryPageBytes_ = html.size();
    interceptor_->setPolicy(RequestPolicy::memoryPage(networkForHtml_));
    page_->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    loading_ = true;
    loadWatch_->start();
    page_->load(url);
}

void WebView::loadEnded() {
    loading_ = false;
    loadWatch_->stop();
    if (!waiting_) return;
    auto next = std::move(*waiting_);
    waiting_.reset();
    if (auto* html = std::get_if<std::string>(&next)) startHtmlLoad(*html);
    else startAddressLoad(std::get<QUrl>(next));
}

void WebView::setNetworkAllowedForHtml(bool allowed) {
    networkForHtml_ = allowed;
    if (!memoryPageKey_.isEmpty()) interceptor_->setPolicy(RequestPolicy::memoryPage(allowed));
    const QString site = site::keyOf(page_->url());
    if (!site.isEmpty()) interceptor_->setPolicy(RequestPolicy::site(site, allowed));
}

bool WebView::networkAllowedForHtml() const { return networkForHtml_; }

bool WebView::isLoading() const { return loading_; }

void WebView::stopLoading() { page_->triggerAction(QWebEnginePage::Stop); }

std::optional<std::filesystem::path> WebView::readAccessFolder() const {
    auto folder = interceptor_->policy().readAccessFolder();
    if (!folder) return std::nullopt;
    return std::filesystem::path(folder->toStdString());
}

void WebView::setConsoleHandler(ConsoleHandler handler) { console_ = std::move(handler); }

void WebView::deliverConsole(ConsoleLevel level, const QString& message, int line, const QString& source) {
    if (!console_) {
        qCDebug(lcWeb) << "console:" << message << source << line;
        return;
    }
    try {
        console_(level, message.toStdString(), line, source.toStdString());
    } catch (...) {
        qCWarning(lcWeb) << "console handler threw";
    }
}

}  // namespace web
