#include "platform/web/SiteResources.h"

#include <QBuffer>
#include <QHash>
#include <QPointer>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>

#include "platform/dispatch/Dispatch.h"
#include "platform/web/WebProfile.h"

namespace web::site {

namespace {

QHash<QString, std::weak_ptr<Source>>& registry() {
    static QHash<QString, std::weak_ptr<Source>> sources;
    return sources;
}

std::size_t gServed = 0;

}  // namespace

namespace {

class SchemeHandler final : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    void requestStarted(QWebEngineUrlRequestJob* job) override {
        if (refuseAllButGet(job)) return;
        const QUrl url = job->requestUrl();
        const auto it = registry().constFind(keyOf(url));
        std::shared_ptr<Source> source = it == registry().constEnd() ? nullptr : it->lock();
        if (!source) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        QString path = url.path(QUrl::FullyDecoded);
        if (path.isEmpty()) path = QStringLiteral("/");
        QPointer<QWebEngineUrlRequestJob> weakJob(job);
        source->fetch(path.toStdString(), [weakJob](Outcome outcome) {
            // Answers may come from inside fetch; the job is answered from the queue all the same.
            dispatch::mainQueue().async([weakJob, outcome = std::move(outcome)]() mutable {
                if (!weakJob) return;  // the page no longer wants it
                if (!outcome.resource) {
                    weakJob->fail(outcome.failure == Failure::notFound ? QWebEngineUrlRequestJob::UrlNotFound
                                                                       : QWebEngineUrlRequestJob::RequestFailed);
                    return;
                }
                ++gServed;
                auto* buffer = new QBuffer(weakJob.data());
                buffer->setData(std::move(outcome.resource->bytes));
                buffer->open(QIODevice::ReadOnly);
                weakJob->reply(outcome.resource->contentType, buffer);
            });
        });
    }
};

}  // namespace

QString open(std::weak_ptr<Source> source) {
    const QString key = unguessableKey();
    registry().insert(key, std::move(source));
    return key;
}

void close(const QString& key) {
    if (!key.isEmpty()) registry().remove(key);
}

QUrl address(const QString& key, const std::string& path) {
    QUrl url;
    url.setScheme(QString::fromLatin1(kSiteScheme));
    url.setHost(key);
    url.setPath(QString::fromStdString(path.empty() || path[0] != '/' ? "/" + path : path), QUrl::DecodedMode);
    return url;
}

QString keyOf(const QUrl& url) {
    if (url.scheme() != QLatin1String(kSiteScheme)) return {};
    return url.host();
}

std::size_t served() { return gServed; }

void registerScheme() {
    QWebEngineUrlScheme scheme{QByteArray(kSiteScheme)};
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setDefaultPort(QWebEngineUrlScheme::PortUnspecified);
    // CORS-enabled so that the page's fonts, module scripts and fetch() of its own files work as
    // on a web server; an ordinary (not local) scheme: such a page can never read files.
    scheme.setFlags(QWebEngineUrlScheme::CorsEnabled);
    QWebEngineUrlScheme::registerScheme(scheme);
}

QWebEngineUrlSchemeHandler* makeSchemeHandler(QObject* parent) { return new SchemeHandler(parent); }

}  // namespace web::site
