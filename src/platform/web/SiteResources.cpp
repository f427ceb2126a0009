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

namespace {

// Extensions a web server runs (or that hold code it runs) rather than hands out.
constexpr std::string_view kServerSide[] = {
    "php", "php2", "php3", "php4", "php5", "php6", "php7", "php8", "phtml", "pht", "phps", "phar", "inc",
    "cgi", "fcgi", "pl", "pm", "py", "pyc", "rb", "erb", "sh", "bash", "lua", "tcl", "asp", "aspx", "ascx",
    "ashx", "asmx", "asa", "cfm", "cfc", "jsp", "jspx", "shtml", "shtm", "stm", "ssi"};
// Editors' and tools' backup copies.
constexpr std::string_view kBackup[] = {"bak", "backup", "old", "orig", "save", "sav", "swp", "swo", "swn", "rej"};

template <std::size_t N>
bool among(std::string_view word, const std::string_view (&list)[N]) {
    for (std::string_view w : list) {
        if (w.size() != word.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < w.size() && same; ++i) {
            const char c = word[i];
            same = (c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c) == w[i];
        }
        if (same) return true;
    }
    return false;
}

}  // namespace

bool servedAsStatic(std::string_view path) {
    std::size_t at = 0;
    bool first = true;
    std::string_view last;
    while (at <= path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view segment = path.substr(at, end - at);
        at = end + 1;
        if (segment.empty()) continue;
        if (segment.front() == '.' && !(first && segment == ".well-known")) return false;
        first = false;
        last = segment;
    }
    if (last.empty()) return true;  // a folder: its index is the server's to choose
    if (last.back() == '~' || (last.size() > 1 && last.front() == '#' && last.back() == '#')) return false;
    // Every extension counts, not only the last: servers run "x.php.en" or "x.php.bak" as PHP.
    std::size_t dot = last.find('.');
    while (dot != std::string_view::npos) {
        const std::size_t next = last.find('.', dot + 1);
        const std::string_view extension = last.substr(dot + 1, next == std::string_view::npos ? std::string_view::npos : next - dot - 1);
        if (among(extension, kServerSide) || among(extension, kBackup)) return false;
        dot = next;
    }
    return true;
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
