#include "platform/web/WebProfile.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QPointer>
#include <QQuickWindow>
#include <QRandomGenerator>
#include <QSGRendererInterface>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>

#include <atomic>

#include "platform/dispatch/ApplicationEnd.h"
#include "platform/web/MemoryRelease.h"
#include "platform/web/SiteResources.h"
#include "platform/web/WebView.h"

namespace web {

namespace {

std::atomic<bool> gRegistered{false};

QHash<QString, QByteArray>& pageStore() {
    static QHash<QString, QByteArray> store;
    return store;
}

class PageSchemeHandler final : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    void requestStarted(QWebEngineUrlRequestJob* job) override {
        const QUrl url = job->requestUrl();
        if (refuseAllButGet(job)) return;
        const QString path = url.path();
        const auto it = pageStore().constFind(pages::keyOf(url));
        // Only the page itself lives here; relative links of the page find nothing.
        if (it == pageStore().constEnd() || !(path.isEmpty() || path == QLatin1String("/"))) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        auto* buffer = new QBuffer(job);
        buffer->setData(*it);
        buffer->open(QIODevice::ReadOnly);
        job->reply(QByteArrayLiteral("text/html;charset=utf-8"), buffer);
    }
};

QHash<QString, QByteArray>& documentStore() {
    static QHash<QString, QByteArray> store;
    return store;
}

std::size_t gServedDocuments = 0;

QString documentKeyOf(const QUrl& url) {
    if (url.scheme() != QLatin1String(kDocumentScheme)) return {};
    const QString path = url.path();
    if (!(path.isEmpty() || path == QLatin1String("/"))) return {};
    return url.host();
}

// Serves each offered document once, as UTF-8 text. The bytes go ahead of a byte order mark of
// their own: a text decoder takes one leading mark away, so a document that starts with a mark
// of its own keeps it.
class DocumentSchemeHandler final : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    void requestStarted(QWebEngineUrlRequestJob* job) override {
        if (refuseAllButGet(job)) return;
        const QString key = documentKeyOf(job->requestUrl());
        const auto it = key.isEmpty() ? documentStore().end() : documentStore().find(key);
        if (it == documentStore().end()) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        auto* buffer = new QBuffer(job);
        QByteArray bytes = std::move(it.value());
        documentStore().erase(it);
        ++gServedDocuments;
        memory::releaseAfterCrossing(static_cast<std::size_t>(bytes.size()));
        bytes.prepend("\xEF\xBB\xBF", 3);
        buffer->setData(std::move(bytes));
        buffer->open(QIODevice::ReadOnly);
        job->reply(QByteArrayLiteral("text/plain;charset=utf-8"), buffer);
    }
};

}  // namespace

QString unguessableKey() {
    quint64 words[2];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex());
}

bool refuseAllButGet(QWebEngineUrlRequestJob* job) {
    if (job->requestMethod() == QByteArrayLiteral("GET")) return false;
    job->fail(QWebEngineUrlRequestJob::RequestDenied);
    return true;
}

bool engineRunsWithoutGpu(const QByteArray& engineSwitches, const QStringList& arguments) {
    const QByteArray flag = QByteArrayLiteral("--disable-gpu");
    for (const QByteArray& word : engineSwitches.simplified().split(' ')) {
        if (word == flag) return true;
    }
    return arguments.contains(QString::fromLatin1(flag));
}

namespace {
// Before any Qt Quick window exists (see engineRunsWithoutGpu).
void chooseQuickRenderer() {
    if (qEnvironmentVariableIsSet("QT_QUICK_BACKEND") || qEnvironmentVariableIsSet("QSG_RHI_BACKEND")) return;
    // There is no application object yet: the arguments as the kernel has them.
    QStringList arguments;
    QFile file(QStringLiteral("/proc/self/cmdline"));
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& a : file.readAll().split('\0')) arguments << QString::fromLocal8Bit(a);
    }
    if (engineRunsWithoutGpu(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"), arguments)) {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    }
}
}  // namespace

void registerWebSchemes() {
    if (gRegistered.exchange(true)) return;
    // The texts crossing to and from pages are large and short-lived (see MemoryRelease.h).
    memory::keepLargeBlocksApart();
    QWebEngineUrlScheme scheme{QByteArray(kPageScheme)};
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setDefaultPort(QWebEngineUrlScheme::PortUnspecified);
    scheme.setFlags(QWebEngineUrlScheme::Flags());
    QWebEngineUrlScheme::registerScheme(scheme);
    // Fetched by the app's own file pages (XMLHttpRequest), so cross-origin reads must work.
    QWebEngineUrlScheme document{QByteArray(kDocumentScheme)};
    document.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    document.setDefaultPort(QWebEngineUrlScheme::PortUnspecified);
    document.setFlags(QWebEngineUrlScheme::LocalScheme | QWebEngineUrlScheme::LocalAccessAllowed |
                      QWebEngineUrlScheme::CorsEnabled);
    QWebEngineUrlScheme::registerScheme(document);
    site::registerScheme();
    // The web engine shares GL contexts with the widgets; Qt wants this set before the application.
    if (!QCoreApplication::instance()) QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    chooseQuickRenderer();
    // On Linux the engine builds no accessibility tree for its pages unless told to, and a screen
    // reader would find each page empty. Told so, it builds one only while an assistive technology
    // listens (the cost is the engine's only then); a value the environment sets is kept.
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY"))
        qputenv("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY", "1");
}

bool webSchemesRegistered() { return gRegistered.load(); }

namespace {
QPointer<QWebEngineProfile> gProfile;

// The end of the program: views left alive (a hidden spare page, a view nobody deleted) go with
// their pages, and then the profile, which would otherwise go with the application object while
// pages of it still exist.
void releaseProfileAtEnd() {
    releaseAllViews();
    delete gProfile.data();
}
}  // namespace

QWebEngineProfile* sharedProfile() {
    if (!gProfile) {
        auto* p = new QWebEngineProfile(QCoreApplication::instance());  // no storage name: off the record
        p->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
        p->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
        p->setSpellCheckEnabled(false);
        p->installUrlSchemeHandler(QByteArray(kPageScheme), new PageSchemeHandler(p));
        p->installUrlSchemeHandler(QByteArray(kDocumentScheme), new DocumentSchemeHandler(p));
        p->installUrlSchemeHandler(QByteArray(kSiteScheme), site::makeSchemeHandler(p));
        gProfile = p;
        dispatch::atApplicationEnd(releaseProfileAtEnd);
    }
    return gProfile.data();
}

void clearWebsiteData() {
    QWebEngineProfile* p = sharedProfile();
    p->clearHttpCache();
    p->cookieStore()->deleteAllCookies();
    p->clearAllVisitedLinks();
}

namespace {

// "scheme://key/": the URL of a page or a document held in memory under that key.
QUrl keyedUrl(const char* scheme, const QString& key) {
    QUrl url;
    url.setScheme(QString::fromLatin1(scheme));
    url.setHost(key);
    url.setPath(QStringLiteral("/"));
    return url;
}

}  // namespace

namespace pages {

QUrl publish(const QByteArray& html, const QString& replacing) {
    static quint64 counter = 0;
    if (!replacing.isEmpty()) pageStore().remove(replacing);
    const QString key = QStringLiteral("p%1").arg(++counter);
    pageStore().insert(key, html);
    return keyedUrl(kPageScheme, key);
}

void withdraw(const QString& key) {
    if (!key.isEmpty()) pageStore().remove(key);
}

QString keyOf(const QUrl& url) {
    if (url.scheme() != QLatin1String(kPageScheme)) return {};
    return url.host();
}

std::size_t count() { return static_cast<std::size_t>(pageStore().size()); }

}  // namespace pages

namespace documents {

QUrl offer(QByteArray bytes) {
    const QString key = unguessableKey();
    documentStore().insert(key, std::move(bytes));
    return keyedUrl(kDocumentScheme, key);
}

void withdraw(const QUrl& url) {
    const QString key = documentKeyOf(url);
    if (!key.isEmpty()) documentStore().remove(key);
}

std::size_t count() { return static_cast<std::size_t>(documentStore().size()); }

std::size_t served() { return gServedDocuments; }

}  // namespace documents

}  // namespace web
