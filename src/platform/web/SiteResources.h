#pragma once
// A previewed page's own files, served to it under the app's site scheme
// ("dravix-site://<key>/<path>"): the page gets a real address, so its relative and root-relative
// links (style sheets, scripts, images, fonts, CSS url() and @import, srcset, <base href>) resolve
// as they would on the web server, and each request comes to the Source registered under the key.
// A source reads the files wherever they live (the editor's reads them through a server
// connection); the web layer only knows paths, bytes and content types.
//
// Keys are unguessable and a page's access rules (RequestPolicy::site) admit only its own key, so
// a page never reaches another source's files. Only GET is answered: a page can read through its
// source, never write. Main thread only; a source's answer runs once, on the main queue.
#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QObject;
class QWebEngineUrlSchemeHandler;

namespace web {

inline constexpr const char* kSiteScheme = "dravix-site";

namespace site {

struct Resource {
    QByteArray bytes;
    QByteArray contentType;  // e.g. "text/css", "image/png"
};

enum class Failure {
    notFound,  // the page sees a missing file (its request fails as a 404 would, with a console line)
    failed,    // the file could not be read (no connection, refused): the request fails
};

struct Outcome {
    std::optional<Resource> resource;  // set on success
    Failure failure = Failure::notFound;
};
using Answer = std::function<void(Outcome outcome)>;

class Source {
public:
    virtual ~Source() = default;
    // `path` is the URL's path, percent-decoded, starting with "/" (the web engine has already
    // resolved "." and ".." segments, never above "/"). `answer` runs exactly once, on the main
    // queue; a request the page dropped meanwhile takes no harm from it.
    virtual void fetch(const std::string& path, Answer answer) = 0;
};

// Registers a source and returns its fresh key. The registry holds the source weakly: a source
// that is gone answers every request with notFound.
QString open(std::weak_ptr<Source> source);
void close(const QString& key);
// The address of `path` ("/dir/page.html") under the key, percent-encoded as needed.
QUrl address(const QString& key, const std::string& path);
// The key of a site address, empty for other URLs.
QString keyOf(const QUrl& url);
// Whether a static web server would hand out the file at site path `path` ("/css/a.css") as it
// is. The files of a previewed site sit on the server beside what the web server never gives out:
// the source of code it runs (PHP and its kin, .inc, CGI and other scripts: passwords and keys
// live there), dot-files and dot-folders (.env, .git/, .htaccess, .htpasswd) and editors' backups
// ("page.html~", ".bak", ".swp"). Any script the page loads can ask its own site for such a file
// and send it anywhere, so a source answers none of them: only the page being previewed is
// served whatever its name. "/.well-known/" is served as web servers do.
bool servedAsStatic(std::string_view path);
// How many requests the sources answered with a resource (for observers such as tests).
std::size_t served();

// The web engine's side (WebProfile.cpp): the scheme's registration, before the application is
// made, and the handler for the shared profile.
void registerScheme();
QWebEngineUrlSchemeHandler* makeSchemeHandler(QObject* parent);

}  // namespace site

}  // namespace web
