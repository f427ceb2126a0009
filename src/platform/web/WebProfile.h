#pragma once
// The web engine's process-wide pieces: the app's page scheme, the one off-the-record profile all
// pages share, and clearing website data.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

class QWebEngineProfile;
class QWebEngineUrlRequestJob;

namespace web {

// Pages loaded from memory are served under this scheme ("dravix-page://<key>/"). It is an
// ordinary (not local) scheme: such a page can never read files.
inline constexpr const char* kPageScheme = "dravix-page";
// A document's bytes offered to one page are served under this scheme
// ("dravix-doc://<unguessable key>/"), once, to that page's own requests for data (see
// WebView::offerDocument). Nothing else is ever served under it: no file, no other page's bytes.
inline constexpr const char* kDocumentScheme = "dravix-doc";

// Registers the page scheme with the web engine and prepares Qt for it, lets the engine build its
// pages' accessibility trees for an assistive technology, and sets the allocator's bound for
// blocks that get pages of their own (MemoryRelease.h). Must run before the
// QApplication is created (the app's main and the tests' static set-up call it first); calling it
// again does nothing.
void registerWebSchemes();
bool webSchemesRegistered();

// Whether the web engine runs without the GPU: "--disable-gpu" among the engine's switches
// (QTWEBENGINE_CHROMIUM_FLAGS) or the program's arguments. The engine's frames are bitmaps then,
// and registerWebSchemes has Qt Quick, which puts them on screen in the web views, draw them in
// software too: through OpenGL they would only go through a software GL rasterizer and back
// once more per frame, on every frame of every view, at the GUI thread's cost. A renderer that
// the environment chooses (QT_QUICK_BACKEND, QSG_RHI_BACKEND) is left as it is.
bool engineRunsWithoutGpu(const QByteArray& engineSwitches, const QStringList& arguments);

// The one profile of the app: off the record (nothing is written to disk), with the page scheme
// handler installed. Made on first use; needs the QApplication.
// Made on first use; released at the program's end (dispatch::runApplicationEndSteps), after
// every web view still alive then, and so every page of the profile: a profile must outlive its
// pages.
QWebEngineProfile* sharedProfile();

// Removes the profile's website data: HTTP cache, cookies and visited links. Returns at once; the
// engine finishes the work in the background.
void clearWebsiteData();

// What the app's scheme handlers share: a fresh key no page can guess (32 hexadecimal digits),
// and the refusal of every request but GET (true when the job was refused), so that no page can
// make the app write anything.
QString unguessableKey();
bool refuseAllButGet(QWebEngineUrlRequestJob* job);

// The pages served from memory. publish() keeps the bytes under a fresh key and returns the URL to
// load; withdraw() drops a key. Main thread only.
namespace pages {
QUrl publish(const QByteArray& html, const QString& replacing = {});
void withdraw(const QString& key);
QString keyOf(const QUrl& url);
std::size_t count();
}  // namespace pages

// The documents offered to pages. offer() keeps the bytes under a fresh unguessable key and
// returns the URL to fetch; the first request of it takes the bytes away (a second finds
// nothing); withdraw() drops them unfetched. Main thread only.
namespace documents {
QUrl offer(QByteArray bytes);
void withdraw(const QUrl& url);
std::size_t count();
// How many offers were read so far (for observers such as tests).
std::size_t served();
}  // namespace documents

}  // namespace web
