#include "platform/web/WebProfile.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QHash>
#include <QPointer>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>

#include <atomic>

#include "platform/dispatch/ApplicationEnd.h"
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
        if (job->requestMethod() != QByteArrayLiteral("GET")) {
            job->fail(QWebEngineUrlRequestJob::RequestDenied);
            return;
        }
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

}  // namespace

void registerWebSchemes() {
    if (gRegistered.exchange(true)) return;
    QWebEngineUrlScheme scheme{QByteArray(kPageScheme)};
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setDefaultPort(QWebEngineUrlScheme::PortUnspecified);
    scheme.setFlags(QWebEngineUrlScheme::Flags());
    QWebEngineUrlScheme::registerScheme(scheme);
    // The web engine shares GL contexts with the widgets; Qt wants this set before the application.
    if (!QCoreApplication::instance()) QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
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

namespace pages {

QUrl publish(const QByteArray& html, const QString& replacing) {
    static quint64 counter = 0;
    if (!replacing.isEmpty()) pageStore().remove(replacing);
    const QString key = QStringLiteral("p%1").arg(++counter);
    pageStore().insert(key, html);
    QUrl url;
    url.setScheme(QString::fromLatin1(kPageScheme));
    url.setHost(key);
    url.setPath(QStringLiteral("/"));
    return url;
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

}  // namespace web
