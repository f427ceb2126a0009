// The live preview of a page on a far server, beside a browser loading the same page from a web
// server on the same link. Each server (vsftpd for FTP, OpenSSH's sshd for SFTP, Apache for
// WebDAV) is reached through tests/peers/delay_proxy.py, which delays every byte by
// DRAVIX_BENCH_DELAY_MS (default 25) each way: a round trip costs 50 ms more.
//
// The page links 20 files: 7 style sheets, 6 scripts and 7 images. Its own text comes from the
// editor (as in the app), its files through the connection's provider (3 workers kept logged in;
// over FTP it opens more for the page's files, which stay while the rounds go on).
//
//  - load: the preview (a VornPreviewJSConnector with its preview screen, as a document window has
//    them) is given the page and the time runs until the page has loaded and a check in it sees
//    every style sheet applied, every script run and every image decoded. Before each round the
//    site forgets its copies of the 20 files (as after the app saved them), so each is read from
//    the server again. The baseline: a plain QWebEngineView (its own off-the-record profile, no
//    HTTP cache) loads the same files over HTTP from Apache, through the same kind of proxy, and
//    the same check passes; each round's page links its files under a query of its own, so the
//    engine takes none of them from its memory. The ratio is the preview's time over the
//    browser's. The first load of each, with the connections opening, is printed apart. DRAVIX_BENCH_WORKERS sets the provider's workers (the app's 3 otherwise).
//  - restyle: another document window on the same connection reports a new text of one of the
//    page's style sheets (what the editor sends once it judges the typing paused); the time runs
//    to the first frame that shows the new style (the page stamps the frame with its clock, which
//    counts from the same epoch as the system clock).
//
// Medians over DRAVIX_BENCH_ROUNDS rounds (default 7), the two sides of a load round in
// alternating order. Needs a display (scripts/test's Xvfb, or QT_QPA_PLATFORM=offscreen).
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>

#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QAuthenticator>
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchPeers.h"
#include "platform/dispatch/ApplicationEnd.h"
#include "platform/files/FileProvider.h"
#include "platform/files/Trust.h"
#include "platform/ui/MainQueue.h"
#include "platform/ui/View.h"
#include "platform/web/WebProfile.h"
#include "platform/web/WebView.h"
#include "tandrel/editor/DocumentInterfaceHub.h"
#include "tandrel/editor/VornEditorJSConnectorSupport.h"
#include "tandrel/editor/VornPreviewJSConnector.h"
#include "tandrel/editor/VornPreviewSite.h"
#include "tandrel/editor/WebViewController.h"
#include "tandrel/foundation/VornCurrentEditorStateInfo.h"
#include "tandrel/foundation/VornFileViewerSceneDelegateProtocol.h"

namespace fs = std::filesystem;
using benchpeers::Server;

namespace {

fs::path gDir;
double gDelayMs = 25;
std::map<std::string, pid_t> gProxies;
std::map<std::string, std::map<std::string, std::string>> gEnv;
std::optional<Server> gWeb;  // Apache, for the browser's side

constexpr int kSheets = 7, kScripts = 6, kImages = 7;
const std::string kPagePath = "/bench/index.html";

double msSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

double epochMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Spins the event loop until `done` or `ms` have passed; whether `done`.
bool spinUntil(const std::function<bool()>& done, int ms = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

int startProxy(const std::string& kind, int port, bool ftp) {
    return benchpeers::startDelayProxy(gDir, kind, port, ftp, gDelayMs, gProxies[kind]);
}
using benchpeers::portOf;
using benchpeers::withPort;

std::string png(int i) {
    QImage image(160, 120, QImage::Format_RGB32);
    QPainter painter(&image);
    for (int y = 0; y < 120; y += 8)
        for (int x = 0; x < 160; x += 8) painter.fillRect(x, y, 8, 8, QColor((x * 7 + i * 31) % 256, (y * 5) % 256, (x + y + i) % 256));
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

std::string filler(const std::string& prefix, int n) {
    std::string out;
    for (int k = 0; k < n; ++k) out += prefix + std::to_string(k) + "\n";
    return out;
}

// The page; `query` (e.g. "?round=3") follows each link, so that a browser takes none of the
// files from its memory of an earlier load.
std::string pageHtml(const std::string& mark, const std::string& query = "") {
    std::string html = "<!doctype html><html><head><meta charset=\"utf-8\"><title>bench</title>\n";
    for (int i = 0; i < kSheets; ++i) html += "<link rel=\"stylesheet\" href=\"css/s" + std::to_string(i) + ".css" + query + "\">\n";
    for (int i = 0; i < kScripts; ++i) html += "<script src=\"js/m" + std::to_string(i) + ".js" + query + "\"></script>\n";
    html += "</head><body>\n";
    for (int i = 0; i < kSheets; ++i) html += "<p id=\"c" + std::to_string(i) + "\">styled " + std::to_string(i) + "</p>\n";
    for (int i = 0; i < kImages; ++i) html += "<img id=\"i" + std::to_string(i) + "\" src=\"img/p" + std::to_string(i) + ".png" + query + "\">\n";
    html += "</body></html>\n<!--" + mark + "-->";
    return html;
}

void makeFiles(const fs::path& root) {
    const fs::path site = root / "bench";
    fs::create_directories(site / "css");
    fs::create_directories(site / "js");
    fs::create_directories(site / "img");
    std::ofstream(site / "index.html") << pageHtml("served");
    for (int i = 0; i < kSheets; ++i)
        std::ofstream(site / "css" / ("s" + std::to_string(i) + ".css"))
            << "#c" << i << " { color: rgb(" << i << ", 1, 2); }\n"
            << filler(".unused-" + std::to_string(i) + "-rule { margin: 1px; } /* ", 80);
    for (int i = 0; i < kScripts; ++i)
        std::ofstream(site / "js" / ("m" + std::to_string(i) + ".js"))
            << "window.__s" << i << " = true;\n" << filler("// some code of the page ", 100);
    for (int i = 0; i < kImages; ++i) std::ofstream(site / "img" / ("p" + std::to_string(i) + ".png"), std::ios::binary) << png(i);
    for (auto& e : fs::recursive_directory_iterator(site)) fs::permissions(e.path(), fs::perms::all, fs::perm_options::add);
    fs::permissions(site, fs::perms::all, fs::perm_options::add);
}

std::vector<std::string> linkedPaths() {
    std::vector<std::string> out;
    for (int i = 0; i < kSheets; ++i) out.push_back("/bench/css/s" + std::to_string(i) + ".css");
    for (int i = 0; i < kScripts; ++i) out.push_back("/bench/js/m" + std::to_string(i) + ".js");
    for (int i = 0; i < kImages; ++i) out.push_back("/bench/img/p" + std::to_string(i) + ".png");
    return out;
}

// How many of the 20 files the page shows applied (20: all).
std::string checkScript() {
    return "(function(){ var n = 0; for (var i = 0; i < " + std::to_string(kSheets) +
           "; i++) { var e = document.getElementById('c' + i);"
           " if (e && getComputedStyle(e).color === 'rgb(' + i + ', 1, 2)') n++; }"
           " for (var j = 0; j < " + std::to_string(kScripts) + "; j++) if (window['__s' + j] === true) n++;"
           " for (var k = 0; k < " + std::to_string(kImages) + "; k++) { var m = document.getElementById('i' + k);"
           " if (m && m.complete && m.naturalWidth > 0) n++; } return n; })()";
}
constexpr int kAll = kSheets + kScripts + kImages;

std::shared_ptr<files::FileProvider> providerFor(const Server& s) {
    const fs::path folder = gDir / ("trust-" + s.kind);
    const auto& env = gEnv[s.kind];
    auto trust = std::make_shared<files::Trust>(folder, env.count("KNOWN_HOSTS") ? fs::path(env.at("KNOWN_HOSTS"))
                                                                                  : folder / "none");
    files::ProviderOptions options;  // the app's: 3 workers
    options.trust = trust;
    if (const char* w = std::getenv("DRAVIX_BENCH_WORKERS")) options.workers = std::atoi(w);
    return files::makeProvider(s.url, {s.user, s.password}, options);
}

// A document window's connection, as the preview reaches it.
class Window : public VornFileViewerSceneDelegateProtocol {
public:
    std::shared_ptr<files::FileProvider> provider;
    std::shared_ptr<files::FileProvider> provider_as_read_write() const override { return provider; }
};

class Hub : public DocumentInterfaceHub {
public:
    void load_current_editor_file(bool) override {}
    void apply_editor_preferences() override {}
    bool uses_compact_editor() const override { return false; }
    VornCurrentEditorStateInfo& current_editor_info() override { return info; }
    VornPreviewJSConnector* preview_connector() const override { return preview.data(); }
    WebViewController* preview_screen() const override { return screen.get(); }
    VornEditorScreenProtocol* editor_screen(bool) const override { return nullptr; }

    VornCurrentEditorStateInfo info;
    QPointer<VornPreviewJSConnector> preview;
    std::shared_ptr<WebViewController> screen;
};

// The browser: a plain view with a profile of its own that caches nothing.
struct Browser {
    QWebEngineProfile profile;
    QWebEnginePage page{&profile};
    QWebEngineView view;
    bool loaded = false;

    explicit Browser(const Server& web) {
        profile.setHttpCacheType(QWebEngineProfile::NoCache);
        view.setPage(&page);
        view.resize(640, 480);
        view.show();
        const QString user = QString::fromStdString(web.user), password = QString::fromStdString(web.password);
        QObject::connect(&page, &QWebEnginePage::authenticationRequired, [user, password](const QUrl&, QAuthenticator* a) {
            a->setUser(user);
            a->setPassword(password);
        });
        QObject::connect(&page, &QWebEnginePage::loadFinished, [this](bool ok) { loaded = ok; });
    }
    ~Browser() { view.setPage(nullptr); }

    // Milliseconds to the page of round `round` shown with all its files; -1 when the check fails.
    // Each round has a page of its own on the server, whose links are all new addresses.
    double load(const Server& web, int round) {
        const std::string name = "index-" + std::to_string(round) + ".html";
        const std::string query = "?round=" + std::to_string(round);
        std::ofstream(web.root / "bench" / name) << pageHtml("browser", query);
        fs::permissions(web.root / "bench" / name, fs::perms::all, fs::perm_options::add);
        const std::string url = web.url + (web.url.back() == '/' ? "" : "/") + "bench/" + name;
        loaded = false;
        const auto t0 = std::chrono::steady_clock::now();
        page.load(QUrl(QString::fromStdString(url)));
        if (!spinUntil([&] { return loaded; })) return -1;
        int applied = -1;
        page.runJavaScript(QString::fromStdString(checkScript()), [&](const QVariant& v) { applied = v.toInt(); });
        if (!spinUntil([&] { return applied >= 0; }, 5000)) return -1;
        const double ms = msSince(t0);
        if (applied != kAll) std::cerr << "browser: " << applied << " of " << kAll << " applied\n";
        return applied == kAll ? ms : -1;
    }
};

nlohmann::json evaluate(web::WebView& view, const std::string& script) {
    std::optional<nlohmann::json> out;
    view.evaluateJavaScript(script, [&](nlohmann::json r, std::optional<web::ScriptError> e) {
        out = e ? nlohmann::json(e->message) : r;
    });
    spinUntil([&] { return out.has_value(); }, 5000);
    return out.value_or(nullptr);
}

void rounds(benchmark::State& state, const Server& s) {
    if (!gWeb) {
        state.SkipWithError("Apache, the browser's server, did not start");
        return;
    }
    Window window;
    window.provider = providerFor(s);
    Hub hub;
    VornPreviewJSConnector preview;
    preview.scene_delegatex = &hub;
    preview.file_delegatex = &window;
    hub.preview = &preview;
    hub.info.file_path = kPagePath;
    hub.screen = ui::make<WebViewController>();
    hub.screen->scene_delegatex = &hub;
    hub.screen->view()->resize(640, 480);
    hub.screen->view()->show();
    if (!spinUntil([&] { return preview.web_view != nullptr; }, 10000)) {
        state.SkipWithError("the preview has no web view");
        return;
    }
    // The load of the page under the site's current key (the page of this round) finished.
    bool loaded = false;
    QPointer<web::WebView> view = preview.web_view;
    QObject::connect(view.data(), &QWebEngineView::loadFinished, [&](bool ok) {
        const auto site = preview.site();
        loaded = ok && site && view && view->url() == site->address_of(kPagePath);
    });
    int shown = 0;
    auto previewLoad = [&]() -> double {
        // The site read each file again, as after a save of each by the app.
        for (const auto& path : linkedPaths()) emit window.remoteFileWritten(QByteArray::fromStdString(path));
        loaded = false;
        const auto t0 = std::chrono::steady_clock::now();
        preview.push_preview_content(editor_support::preview_bucket(kPagePath, pageHtml("round " + std::to_string(++shown))));
        if (!spinUntil([&] { return loaded; })) return -1;
        const auto applied = evaluate(*preview.web_view, checkScript());
        const double ms = msSince(t0);
        if (applied != kAll) std::cerr << s.kind << ": " << applied.dump() << " of " << kAll << " applied\n";
        return applied == kAll ? ms : -1;
    };

    Browser browser(*gWeb);
    static int round = 0;  // over all the servers' runs: the browser's pages are all new
    // Once each, outside the rounds: the browser's connections open; the provider's workers log
    // in (as the server window's browsing left them) and then, for the page's files, FTP opens
    // more connections. The first load of each is told apart.
    {
        auto listed = std::make_shared<std::atomic<int>>(0);
        for (int i = 0; i < 3; ++i)
            window.provider->contentsOfDirectory("/bench", [listed](std::vector<files::FileObject>, std::optional<files::FileError>) { ++*listed; });
        spinUntil([&] { return *listed == 3; });
    }
    const double firstPreview = previewLoad();
    previewLoad();
    const double firstBrowser = browser.load(*gWeb, round++);
    browser.load(*gWeb, round++);

    benchpeers::Rounds load, restyle;
    for (auto _ : state) {
        const int n = benchpeers::roundCount(7);
        for (int r = 0; r < n; ++r) {
            const bool browserFirst = load.baselineFirst();
            double b = 0, p = 0;
            if (browserFirst) b = browser.load(*gWeb, round++);
            p = previewLoad();
            if (!browserFirst) b = browser.load(*gWeb, round++);
            if (b > 0 && p > 0) load.add(b, p);
        }
        // Another window's edit of a style sheet the page links.
        VornPreviewJSConnector other;
        Hub otherHub;
        other.scene_delegatex = &otherHub;
        other.file_delegatex = &window;
        const std::string sheet = "/bench/css/s0.css";
        otherHub.info.file_path = sheet;
        for (int r = 0; r < n; ++r) {
            const std::string target = "rgb(" + std::to_string(100 + r) + ", 7, 7)";
            evaluate(*preview.web_view,
                     "window.__restyledAt = 0; (function () { var e = document.getElementById('c0');"
                     " function frame() { if (getComputedStyle(e).color === '" + target + "')"
                     " window.__restyledAt = performance.timeOrigin + performance.now();"
                     " else requestAnimationFrame(frame); } requestAnimationFrame(frame); })(); true");
            const double t0 = epochMs();
            const auto s0 = std::chrono::steady_clock::now();
            other.push_preview_content(editor_support::preview_bucket(sheet, "#c0 { color: " + target + "; }\n"));
            double at = 0;
            spinUntil([&] {
                const auto v = evaluate(*preview.web_view, "window.__restyledAt");
                at = v.is_number() ? v.get<double>() : 0;
                return at > 0;
            }, 10000);
            const double polled = msSince(s0);
            if (at > 0) restyle.add(polled, at - t0);
            else std::cerr << s.kind << ": no restyle\n";
        }
    }
    load.report(state, "browser_ms", "preview_ms", "ratio");
    state.counters["restyle_ms"] = restyle.subject();
    std::ostringstream line;
    line << std::fixed << std::setprecision(1);
    load.print(line, s.kind + " page with " + std::to_string(kAll) + " files at a " + std::to_string(int(2 * gDelayMs)) +
                         " ms round trip", "browser (Apache over HTTP)", "preview");
    line << s.kind << " first load (connections opening): browser " << firstBrowser << " ms, preview " << firstPreview
         << " ms\n";
    line << s.kind << " restyle: median " << restyle.subject() << " ms from the reported edit to the restyled frame (seen by "
         << restyle.baseline() << " ms) over " << restyle.count() << " rounds; preview loads " << preview.preview_loads()
         << ", restyles " << preview.restyles() << "\n";
    std::cout << line.str();
    hub.screen.reset();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS")) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    benchmark::Initialize(&argc, argv);
    if (const char* d = std::getenv("DRAVIX_BENCH_DELAY_MS")) gDelayMs = std::atof(d);
    web::registerWebSchemes();
    QApplication app(argc, argv);
    ui::installMainQueueOnGuiThread();
    gDir = fs::temp_directory_path() / ("dravix-bench-preview-" + std::to_string(std::random_device{}()));
    fs::create_directories(gDir);
    auto start = [](const fs::path& dir, const std::string& kind) -> std::optional<Server> {
        auto s = benchpeers::startServer(dir, kind);
        if (!s) return s;
        gEnv[kind] = benchpeers::readEnv(dir / (kind + ".env"));
        makeFiles(s->root);
        const bool ftp = kind == "vsftpd";
        s->url = withPort(s->url, startProxy(kind, portOf(s->url), ftp));
        if (kind == "apache") gWeb = s;
        return s;
    };
    // Apache first: its HTTP side is the browser's server for every protocol.
    const int rc = benchpeers::runAgainstServers(gDir, {"apache", "vsftpd", "sshd"}, "preview", &rounds, 1, 1, start, [] {
        for (auto& [kind, pid] : gProxies) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    });
    ui::uninstallMainQueue();
    dispatch::runApplicationEndSteps();
    return rc;
}
