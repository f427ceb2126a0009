// Opening and saving files in a document window against local servers, each measured beside the
// baseline a user would pick, in the same round: for an open, a raw libcurl download of the file
// and then a bare web view of this process that loads the same editor page and sets the
// downloaded text the cheapest way the engine has (the page reads the bytes itself from the
// app's document scheme), with no delay of its own; for a save, the raw upload of the same bytes
// alone. Both sides load the editor page cold: a new view each, and the window never gets the
// page the app keeps loaded for the next editor screen (it is let go before each open). The
// ratios are medians of each round's own ratio.
//
//   window (1 KB): from the file browser's request for a new document window until the window
//         shows the file's text (the editor page holds the whole text and the editor has started
//         to fade in), beside the download and the bare view's load of the editor page and its
//         text (open_ratio; the window's time includes the app's own 0.25 s before a file opens).
//   document (1, 5, 20 MB): the same open, then the tree's PSS (this process and every web engine
//         process under it, /proc/<pid>/smaps_rollup) with the document open and settled (until
//         it stops changing: a page laying out a large document grows for seconds), beside the
//         bare view's; and beside what the engine itself needs for all the window shows: the bare
//         view and, in a second bare view, the same text as a page from memory, as the window's
//         preview shows it (bare_with_preview_pss_MB, pss_ratio_with_preview); then one edit
//         and the save command (until the server took the file) beside the raw upload alone
//         (save_ratio), and, in the same round, the parts of the save on their own: the page's
//         read-back (the "session_manager.get_current_session()" script until its reply is a
//         typed session) and one write of the server's sessions file holding that session
//         (readback_ms, sessions_write_ms; save_over_parts_ms is what the save takes beyond the
//         upload and these two). Targets at 5 MB: PSS at most 1.3 times the bare view's.
//   encoding (5 MB): the same open, one edit and the save command, of a page in windows-1252
//         without a declaration (read through the text road's guess) beside the same text in
//         UTF-8, in the same round (in alternating order); target: the windows-1252 file's
//         open and save at most 1.1 times the UTF-8 file's (open_save_ratio). Also the text
//         road's own decode and encode of each file (decode_1252_ms, decode_utf8_ms, ...).
//   repeat (5 MB): ten opens and closes of the document in one window's life; the tree's PSS after
//         the tenth close within 10% of that after the first.
//   cycles (1 MB): thirty opens and closes of a document window (DRAVIX_BENCH_CYCLES sets how
//         many), each closed by its window once the editor and the preview show the text and the
//         next window's page is ready, and sampled once the window's pages are deleted and their
//         renderer processes have ended; beside bare views doing the same thirty times: a plain
//         engine view of the default profile loading the text as a file page (bare-engine), the
//         app's own web views with the editor page given the text and a second view with it as a
//         page (bare-editor), and those with the website data cleared once per view, as a window
//         does (bare-editor-clear). Reported per cycle after the first five (which fill the
//         engine's pools and caches): the growth of the tree's PSS, of its own memory (anonymous
//         and shared, "tree_anon", "tree_shmem"; the rest of the PSS is the share of the mapped
//         libraries, which moves with every other process mapping them) and of each kind of
//         process. The engine runs its GPU and network parts inside the app, so the tree is the
//         app, the two zygotes and the pages' renderers.
//         Target: tree_anon_MB_per_cycle of a window at most the bare-editor's plus 0.02 MB.
//
// The program starts its own servers with tests/peers/peers.py (pyftpdlib, Apache with mod_dav,
// vsftpd when run as root) in a temporary folder, runs the app's windows in this process (a
// display is needed: run it under Xvfb, e.g. tests/peers/with_session.sh), and reports medians.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <QPointer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <cctype>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/FileProvider.h"
#include "platform/ui/View.h"
#include "platform/ui/scenes/Window.h"
#include "platform/ui/scenes/Application.h"
#include "platform/web/MemoryRelease.h"
#include "platform/web/WebProfile.h"
#include "platform/web/WebView.h"
#include "tandrel/editor/DocumentInterfaceManager.h"
#include "tandrel/editor/EditorWebViewController.h"
#include "tandrel/editor/MainViewController.h"
#include "tandrel/editor/VornEditorJSConnector.h"
#include "tandrel/editor/VornEditorJSConnectorSupport.h"
#include "tandrel/editor/VornEditorWKWebView.h"
#include "tandrel/editor/VornPreviewWKWebView.h"
#include "tandrel/editor/WebViewController.h"
#include "tandrel/foundation/VornAppUrlUtility.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/foundation/VornServicesDataModel.h"
#include "tandrel/foundation/VornSessionsManager.h"
#include "tandrel/scenes/DocumentScene.h"
#include "tandrel/scenes/SceneManager.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/VornConnectorUtilityClass.h"
#include "platform/ui/MainQueue.h"
#include "tandrel/editor/EditorScripts.h"
#include "platform/text/TextEncoding.h"

#include "BenchPeers.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using benchpeers::Server;
using benchpeers::median;
using benchpeers::collect;
using benchpeers::startServer;
using benchpeers::stopServer;

// Runs the event loop (and with it the main queue) until the condition holds. Objects whose
// deletion was deferred go too, as they do when the app's own event loop runs: the bench runs
// outside any event loop, where Qt would otherwise keep them until the program ends. Between
// events the thread sleeps (a timer wakes it every few milliseconds for conditions that no event
// announces, such as a time passed) rather than polling at full speed, which would take a core
// from the engine the bench measures.
bool spinUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    QTimer wake;
    wake.start(5);
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

double ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

// Text of about `bytes` bytes: lines of markup, each of ten of `words` picked by a generator
// seeded with `seed`.
std::string makeTextOf(size_t bytes, const std::vector<const char*>& words, unsigned seed) {
    std::string out;
    out.reserve(bytes + 128);
    std::mt19937 rng(seed);
    int line = 0;
    while (out.size() < bytes) {
        out += "<p class=\"l" + std::to_string(line++ % 97) + "\">";
        for (int w = 0; w < 10; ++w) {
            out += words[rng() % words.size()];
            out += ' ';
        }
        out += "</p>\n";
    }
    return out;
}

// Text of about `bytes` bytes: lines of markup and words, ASCII only.
std::string makeText(size_t bytes) {
    return makeTextOf(bytes, {"lorem", "ipsum", "dolor", "sit", "amet", "server", "editor", "preview", "window", "save"}, 7);
}

// ---- memory: PSS of this process and the web engine's processes under it ----------------------

double pssMB(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/smaps_rollup");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Pss:", 0) == 0) return std::strtod(line.c_str() + 4, nullptr) / 1024.0;
    }
    return 0;
}

// Every process's children, by parent pid.
std::map<std::string, std::vector<std::string>> processChildren() {
    std::map<std::string, std::vector<std::string>> children;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        if (pid.empty() || !std::isdigit(static_cast<unsigned char>(pid[0]))) continue;
        std::ifstream in(entry.path() / "stat");
        std::string stat;
        std::getline(in, stat);
        const auto close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 2));
        std::string state, ppid;
        rest >> state >> ppid;
        children[ppid].push_back(pid);
    }
    return children;
}

double treePssMB() {
    auto children = processChildren();
    double total = 0;
    std::vector<std::string> todo{std::to_string(::getpid())};
    while (!todo.empty()) {
        const std::string pid = todo.back();
        todo.pop_back();
        total += pssMB(pid);
        for (const auto& c : children[pid]) todo.push_back(c);
    }
    return total;
}

// With DRAVIX_BENCH_PSS_DETAIL set, each PSS figure is also printed to stderr per process of the
// tree ("app", then each web engine process by its --type), to see which process holds what.
void printPssDetail(const char* when) {
    if (!qEnvironmentVariableIsSet("DRAVIX_BENCH_PSS_DETAIL")) return;
    auto children = processChildren();
    std::ostringstream line;
    line << "pss " << when << ":";
    double total = 0;
    std::vector<std::string> todo{std::to_string(::getpid())};
    while (!todo.empty()) {
        const std::string pid = todo.back();
        todo.pop_back();
        std::ifstream cmd("/proc/" + pid + "/cmdline");
        std::string args((std::istreambuf_iterator<char>(cmd)), std::istreambuf_iterator<char>());
        std::string type = pid == std::to_string(::getpid()) ? "app" : "other";
        // A web engine process may have rewritten its arguments as one line with spaces.
        const std::string ends("\0 ", 2);
        if (const auto at = args.find("--type="); at != std::string::npos) {
            type = args.substr(at + 7, args.find_first_of(ends, at) - at - 7);
            if (const auto sub = args.find("--utility-sub-type="); sub != std::string::npos) {
                type += "(" + args.substr(sub + 19, args.find_first_of(ends, sub) - sub - 19) + ")";
            }
        }
        const double p = pssMB(pid);
        total += p;
        // A process forked by the zygote keeps the zygote's command line: it is a page's renderer.
        std::ifstream status("/proc/" + pid + "/stat");
        std::string stat;
        std::getline(status, stat);
        std::istringstream rest(stat.substr(stat.rfind(')') + 2));
        std::string state, ppid;
        rest >> state >> ppid;
        std::ifstream parentCmd("/proc/" + ppid + "/cmdline");
        std::string parentArgs((std::istreambuf_iterator<char>(parentCmd)), std::istreambuf_iterator<char>());
        if (type == "zygote" && parentArgs.find("--type=zygote") != std::string::npos) type = "renderer";
        std::ifstream rollup("/proc/" + pid + "/smaps_rollup");
        double anon = 0, shmem = 0;
        for (std::string l; std::getline(rollup, l);) {
            if (l.rfind("Pss_Anon:", 0) == 0) anon = std::strtod(l.c_str() + 9, nullptr) / 1024.0;
            if (l.rfind("Pss_Shmem:", 0) == 0) shmem = std::strtod(l.c_str() + 10, nullptr) / 1024.0;
        }
        line << " " << type << "=" << static_cast<int>(p) << "(anon " << static_cast<int>(anon) << ", shm "
             << static_cast<int>(shmem) << ")";
        for (const auto& c : children[pid]) todo.push_back(c);
    }
    line << " total=" << static_cast<int>(total);
    std::cerr << line.str() << std::endl;
}

void settle(int msTime) {
    QElapsedTimer clock;
    clock.start();
    spinUntil([&] { return clock.elapsed() > msTime; }, msTime + 1000);
}

// The tree's PSS once it has stopped changing: a page that lays out a large document grows for a
// few seconds after it shows. Sampled every 500 ms from `firstMs` on, until two samples in a row
// are within 1% (at most 15 s).
double settledTreePssMB(int firstMs) {
    settle(firstMs);
    double last = treePssMB();
    for (int i = 0; i < 30; ++i) {
        settle(500);
        const double now = treePssMB();
        if (std::abs(now - last) <= 0.01 * last) return now;
        last = now;
    }
    return last;
}

// ---- the baseline: a bare web view with the editor page and the text -------------------------

struct Bare {
    double ms = 0;
    double pss = 0;
};

// The same text as an HTML page in a second bare view beside the first, as the document window's
// preview shows it (a page from memory); true once the page has parsed all of it.
bool barePreview(web::WebView& view, const std::string& text) {
    view.resize(500, 700);
    view.show();
    view.loadHtmlString(text);
    bool shown = false;
    spinUntil([&] {
        if (view.isLoading()) return false;
        bool done = false;
        view.evaluateJavaScript("document.readyState === 'complete' && document.body ? document.body.children.length : 0",
                                [&](nlohmann::json result, std::optional<web::ScriptError>) {
                                    shown = result.is_number_integer() && result.get<int64_t>() > 0;
                                    done = true;
                                });
        spinUntil([&] { return done; }, 10000);
        return shown;
    }, 60000);
    return shown;
}

// Has a bare view load the editor page, then read the text's bytes from the document scheme and
// set them as the editor's text; true once the editor holds all of it.
bool loadEditorWithText(web::WebView* view, const std::filesystem::path& folder, const std::string& text) {
    auto ready = std::make_shared<bool>(false);
    view->addMessageHandler("msg", [ready](const web::ScriptMessage& m) {
        if (m.body.is_object() && m.body.contains("doc_ready")) *ready = true;
    });
    if (!view->loadFileUrl(folder / "index.html", folder) || !spinUntil([&] { return *ready; }, 60000)) return false;
    const QUrl url = view->offerDocument(QByteArray::fromStdString(text));
    auto done = std::make_shared<bool>(false);
    auto shown = std::make_shared<int64_t>(-1);
    view->evaluateJavaScript(
        "(function(){var r=new XMLHttpRequest();r.open('GET','" + url.toString().toStdString() +
            "',false);r.send();editor.session.setValue(r.responseText);return editor.getValue().length;})()",
        [done, shown](nlohmann::json result, std::optional<web::ScriptError>) {
            if (result.is_number_integer()) *shown = result.get<int64_t>();
            *done = true;
        });
    return spinUntil([&] { return *done; }, 120000) && *shown == static_cast<int64_t>(text.size());
}

// Loads the editor page in a new bare web view, then has the page read the text's bytes from the
// document scheme and set them as the editor's text. `pss`: the tree's PSS too, once settled;
// `preview`: with the text also shown as a page in a second bare view (barePreview) meanwhile.
std::optional<Bare> bareOpen(const std::string& text, bool pss, bool preview = false) {
    const auto folder = VornAppUrlUtility::ace_folder_url();
    if (!folder) return std::nullopt;
    Bare out;
    const auto t0 = Clock::now();
    auto* view = new web::WebView();
    view->resize(1000, 700);
    view->show();
    bool ok = loadEditorWithText(view, *folder, text);
    out.ms = ms(t0, Clock::now());
    std::unique_ptr<web::WebView> second;
    if (ok && preview) {
        second = std::make_unique<web::WebView>();
        ok = barePreview(*second, text);
    }
    if (ok && pss) {
        out.pss = settledTreePssMB(2000);
        printPssDetail(preview ? "bare with preview" : "bare");
    }
    second.reset();
    delete view;
    if (!ok) return std::nullopt;
    return out;
}

// ---- raw libcurl on one kept connection --------------------------------------------------------

struct Upload {
    const std::string* bytes;
    size_t offset = 0;
};
size_t feed(char* buffer, size_t size, size_t count, void* in) {
    auto* u = static_cast<Upload*>(in);
    const size_t n = std::min(size * count, u->bytes->size() - u->offset);
    std::memcpy(buffer, u->bytes->data() + u->offset, n);
    u->offset += n;
    return n;
}

class RawTransfer {
public:
    RawTransfer(const Server& server, const std::string& path)
        : server_(server), url_(server.url + path), e_(curl_easy_init()) {}
    ~RawTransfer() { curl_easy_cleanup(e_); }
    RawTransfer(const RawTransfer&) = delete;
    RawTransfer& operator=(const RawTransfer&) = delete;

    CURLcode download(std::string& body) {
        body.clear();
        prepare();
        curl_easy_setopt(e_, CURLOPT_WRITEFUNCTION, &collect);
        curl_easy_setopt(e_, CURLOPT_WRITEDATA, &body);
        return finish();
    }
    CURLcode upload(const std::string& bytes) {
        Upload u{&bytes};
        prepare();
        curl_easy_setopt(e_, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(e_, CURLOPT_READFUNCTION, &feed);
        curl_easy_setopt(e_, CURLOPT_READDATA, &u);
        curl_easy_setopt(e_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bytes.size()));
        return finish();
    }

private:
    void prepare() {
        curl_easy_reset(e_);
        curl_easy_setopt(e_, CURLOPT_URL, url_.c_str());
        curl_easy_setopt(e_, CURLOPT_USERNAME, server_.user.c_str());
        curl_easy_setopt(e_, CURLOPT_PASSWORD, server_.password.c_str());
        curl_easy_setopt(e_, CURLOPT_NOSIGNAL, 1L);
        if (server_.url.rfind("ftp", 0) == 0) {
            curl_easy_setopt(e_, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
            curl_easy_setopt(e_, CURLOPT_FTP_SKIP_PASV_IP, 1L);
        } else {
            curl_easy_setopt(e_, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        }
    }
    CURLcode finish() {
        CURLcode code = curl_easy_perform(e_);
        long status = 0;
        curl_easy_getinfo(e_, CURLINFO_RESPONSE_CODE, &status);
        if (code == CURLE_OK && server_.url.rfind("http", 0) == 0 && status >= 300) return CURLE_HTTP_RETURNED_ERROR;
        return code;
    }
    Server server_;
    std::string url_;
    CURL* e_;
};

// ---- the app's side ----------------------------------------------------------------------------

class BenchAppDelegate : public ui::ApplicationDelegate {
public:
    ui::SceneConfiguration configurationForConnectingSceneSession(ui::SceneSession*,
                                                                  const ui::ConnectionOptions& options) override {
        return SceneManager::configuration_for_connecting(options);
    }
};

// A file-viewer window connected to the server (the bucket built as a connect builds it).
FileViewerSceneDelegate* connectedWindow(const Server& server) {
    ui::Application& app = ui::Application::shared();
    const int before = app.connectedScenes().size();
    SceneManager::request_scene(SceneKind::server_viewer, std::nullopt, nullptr);
    if (!spinUntil([&] { return app.connectedScenes().size() > before; }, 10000)) return nullptr;
    auto* window = qobject_cast<FileViewerSceneDelegate*>(app.connectedScenes().last()->delegate());
    if (!window) return nullptr;
    auto service = std::make_shared<VornSingleServiceDataModel>();
    service->id = "bench-" + server.kind;
    service->url = server.url;
    service->username = server.user;
    service->connection_type =
        server.kind == "apache" ? EnumManager::VornConnectionType::webDav : EnumManager::VornConnectionType::ftp;
    std::shared_ptr<VornProviderBucket> bucket;
    VornConnectorBuilder::make_bucket_for_service(server.url, files::Credential{server.user, server.password},
                                                  service->connection_type,
                                                  [&](std::shared_ptr<VornProviderBucket> b, std::optional<VornError>) { bucket = b; });
    if (!bucket) return nullptr;
    window->provider_bucket = bucket;
    window->service = service;
    window->my_session_info->service_id = service->id;
    window->my_session_info->server_url = server.url;
    window->my_session_info->connected = true;
    app_sessions_manager().new_service_session(service->id);
    return window->provider_as_read_write() ? window : nullptr;
}

FileViewerSceneDelegate* connectedWindowOrSkip(benchmark::State& state, const Server& server) {
    FileViewerSceneDelegate* window = connectedWindow(server);
    if (!window) state.SkipWithError("no connected file-viewer window (the file viewer cannot build a connection)");
    return window;
}

// Puts the file straight into the server's folder, readable and writable by the server.
void placeFile(const Server& server, const std::string& name, const std::string& text) {
    std::ofstream(server.root / name.substr(1), std::ios::binary | std::ios::trunc) << text;
    fs::permissions(server.root / name.substr(1), fs::perms(0666));
}

DocumentSceneDelegate* openDocument(const std::string& service_id, const std::string& path) {
    ui::Application& app = ui::Application::shared();
    const int before = app.connectedScenes().size();
    SceneManager::open_document_scene(service_id, file_bucket_id_for_path(path), true);
    if (!spinUntil([&] { return app.connectedScenes().size() > before; }, 10000)) return nullptr;
    return qobject_cast<DocumentSceneDelegate*>(app.connectedScenes().last()->delegate());
}

// The editor page holds the whole text and shows it (the editor has started to fade in).
bool pageShows(DocumentSceneDelegate* doc, size_t length, int timeoutMs) {
    auto* m = doc->doc_int_man.get();
    if (!spinUntil([&] { return m->ext_editor_vc && ui::alpha(m->ext_editor_vc->editorWebView()) > 0.0; }, timeoutMs)) {
        return false;
    }
    for (int attempt = 0; attempt < 2000; ++attempt) {
        bool done = false;
        int64_t shown = -1;
        m->ext_editor_vc->editorWebView()->evaluateJavaScript(
            "editor.getValue().length", [&](nlohmann::json result, std::optional<web::ScriptError>) {
                if (result.is_number_integer()) shown = result.get<int64_t>();
                done = true;
            });
        if (!spinUntil([&] { return done; }, timeoutMs)) return false;
        if (shown == static_cast<int64_t>(length)) return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    return false;
}

// The page's read-back as the save takes it: the session script through the connector until its
// reply is read into a typed session; the time in ms, or a negative value when it failed.
double timeReadBack(VornEditorJSConnector* connector) {
    bool done = false, ok = false;
    const auto t0 = Clock::now();
    connector->run_editor_js("session_manager.get_current_session()", [&](nlohmann::json reply, std::optional<VornError> e) {
        ok = !e && editor_support::read_session_reply(reply).has_value();
        done = true;
    });
    if (!spinUntil([&] { return done; }, 60000) || !ok) return -1;
    return ms(t0, Clock::now());
}

// One write of the server's sessions file as it stands (holding the saved session), in ms.
double timeSessionsWrite(const std::string& service_id) {
    auto& store = app_sessions_manager();
    auto it = store.service_sessions.find(service_id);
    if (it == store.service_sessions.end() || !it->second) return -1;
    const auto t0 = Clock::now();
    if (store.save_service_session(*it->second)) return -1;
    return ms(t0, Clock::now());
}

bool closeDocument(DocumentSceneDelegate* doc) {
    QPointer<DocumentSceneDelegate> weak(doc);
    doc->doc_int_man->main_controller->close_session(true, [](bool) {});
    return spinUntil([&] { return !weak || SceneManager::document_scenes().empty(); }, 20000);
}

// The opens' counters: the download and the bare view each, their sum per round beside the
// window's open, and the median of the rounds' own ratios.
void reportOpens(benchmark::State& state, const std::vector<double>& rawDown, const std::vector<double>& bare,
                 const benchpeers::Rounds& rounds) {
    state.counters["raw_down_ms"] = median(rawDown);
    state.counters["bare_view_ms"] = median(bare);
    state.counters["download_and_bare_ms"] = rounds.baseline();
    state.counters["open_ms"] = rounds.subject();
    state.counters["open_ratio"] = rounds.ratio();
}

void openAndSave(benchmark::State& state, const Server& server, size_t bytes) {
    FileViewerSceneDelegate* window = connectedWindowOrSkip(state, server);
    if (!window) return;
    const std::string name = "/bench-" + std::to_string(bytes) + ".html";
    const std::string text = makeText(bytes);
    RawTransfer raw(server, name);
    std::vector<double> rawDown, open, rawUp, save, bare, barePss, barePreviewPss, openPss, readBack, sessionsWrite,
        overParts;
    benchpeers::Rounds openRounds, saveRounds;
    for (auto _ : state) {
        // The server's copy is the original text at the start of every round.
        {
            std::ofstream(server.root / name.substr(1), std::ios::binary | std::ios::trunc) << text;
            fs::permissions(server.root / name.substr(1), fs::perms(0666));
        }
        // The baseline of this round: the download, then the bare page and the downloaded text,
        // and the tree's PSS with it.
        std::string body;
        auto t0 = Clock::now();
        if (CURLcode c = raw.download(body); c != CURLE_OK || body.size() != text.size()) {
            state.SkipWithError(("raw download failed: " + std::string(curl_easy_strerror(c))).c_str());
            break;
        }
        rawDown.push_back(ms(t0, Clock::now()));
        auto b = bareOpen(body, true);
        if (!b) {
            state.SkipWithError("the bare editor page never showed the text");
            break;
        }
        bare.push_back(b->ms);
        barePss.push_back(b->pss);
        settle(500);
        // What the engine itself needs for what the window shows: the bare page and its text, and
        // the same text as a page in a view of its own.
        auto bp = bareOpen(text, true, true);
        if (!bp) {
            state.SkipWithError("the bare views never showed the text");
            break;
        }
        barePreviewPss.push_back(bp->pss);
        // The window loads its page cold too.
        EditorWebViewController::discard_warm_page();
        settle(500);

        t0 = Clock::now();
        DocumentSceneDelegate* doc = openDocument(*window->my_session_info->service_id, name);
        if (!doc || !pageShows(doc, text.size(), 120000)) {
            state.SkipWithError("the document never showed the file");
            break;
        }
        open.push_back(ms(t0, Clock::now()));
        openRounds.add(rawDown.back() + bare.back(), open.back());
        openPss.push_back(settledTreePssMB(2000));
        printPssDetail("open");

        // One edit, then the save command; beside it the raw upload of the same bytes.
        auto* m = doc->doc_int_man.get();
        bool typed = false;
        m->ext_editor_vc->editorWebView()->evaluateJavaScript("editor.navigateFileStart(); editor.insert('x')",
                                                              [&](nlohmann::json, std::optional<web::ScriptError>) { typed = true; });
        spinUntil([&] { return typed; }, 10000);
        const std::string edited = "x" + text;
        // Let the window settle (the preview's copy of the opened text, and the live preview's
        // copy of the edit 0.4 s later), so the save is measured on its own.
        QElapsedTimer settle;
        settle.start();
        spinUntil([&] { return settle.elapsed() > 1000; }, 2000);

        t0 = Clock::now();
        if (CURLcode c = raw.upload(edited); c != CURLE_OK) {
            state.SkipWithError(("raw upload failed: " + std::string(curl_easy_strerror(c))).c_str());
            break;
        }
        rawUp.push_back(ms(t0, Clock::now()));
        {
            std::ofstream(server.root / name.substr(1), std::ios::binary | std::ios::trunc) << text;
        }

        bool finished = false, written = false;
        t0 = Clock::now();
        m->main_controller->request_save([&](bool w) {
            written = w;
            finished = true;
        });
        if (!spinUntil([&] { return finished; }, 120000) || !written) {
            state.SkipWithError("the save did not write the file");
            break;
        }
        save.push_back(ms(t0, Clock::now()));
        if (fs::file_size(server.root / name.substr(1)) != edited.size()) {
            state.SkipWithError("the server's file is not the saved text");
            break;
        }
        // The save's terms on their own, on the same window and text: the read-back, then one
        // sessions write (after the save's own writes have left the store's queue). The read-back
        // is a fresh one, as the save's own was: it waits until the page and the app have let go
        // of the texts they keep a moment to spare a repeated read (kept at most 3 s).
        app_sessions_manager().save_queue.sync([] {});
        settle.restart();
        spinUntil([&] { return settle.elapsed() > 3200; }, 4200);
        const double rb = timeReadBack(m->editor_js_connector.get());
        const double sw = timeSessionsWrite(*window->my_session_info->service_id);
        if (rb < 0 || sw < 0) {
            state.SkipWithError("the read-back or the sessions write failed");
            break;
        }
        readBack.push_back(rb);
        sessionsWrite.push_back(sw);
        saveRounds.add(rawUp.back(), save.back());
        overParts.push_back(save.back() - (rawUp.back() + rb + sw));
        if (!closeDocument(doc)) {
            state.SkipWithError("the document window did not close");
            break;
        }
    }
    const double bp = median(barePss), op = median(openPss);
    reportOpens(state, rawDown, bare, openRounds);
    state.counters["bare_pss_MB"] = bp;
    state.counters["open_pss_MB"] = op;
    state.counters["pss_ratio"] = bp > 0 ? op / bp : 0;
    const double bpp = median(barePreviewPss);
    state.counters["bare_with_preview_pss_MB"] = bpp;
    state.counters["pss_ratio_with_preview"] = bpp > 0 ? op / bpp : 0;
    state.counters["raw_up_ms"] = saveRounds.baseline();
    state.counters["save_ms"] = saveRounds.subject();
    state.counters["save_ratio"] = saveRounds.ratio();
    state.counters["readback_ms"] = median(readBack);
    state.counters["sessions_write_ms"] = median(sessionsWrite);
    state.counters["save_over_parts_ms"] = median(overParts);
    state.counters["rounds"] = static_cast<double>(openRounds.count());
}

// Text of about `bytes` bytes in Western European words (one accented letter in four words or
// so), as UTF-8.
std::string makeWesternText(size_t bytes) {
    return makeTextOf(bytes,
                      {"caf\u00e9", "cr\u00e8me", "na\u00efve", "fa\u00e7ade", "lorem", "ipsum", "dolor", "sit", "amet",
                       "server", "editor", "preview", "window", "save", "page", "text"},
                      11);
}

// The characters of UTF-8 text (the page's length of it: every one is in the BMP here).
size_t characters(const std::string& utf8) {
    size_t n = 0;
    for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
    return n;
}

// The open and the save of one file: its open until the page shows its text, then one edit and
// the save command until the server took the file (checked by its size). Nothing when it failed.
std::optional<std::pair<double, double>> openEditSave(FileViewerSceneDelegate* window, const Server& server,
                                                       const std::string& name, const std::string& bytes, size_t length) {
    placeFile(server, name, bytes);
    EditorWebViewController::discard_warm_page();
    settle(500);
    auto t0 = Clock::now();
    DocumentSceneDelegate* doc = openDocument(*window->my_session_info->service_id, name);
    if (!doc || !pageShows(doc, length, 120000)) return std::nullopt;
    const double open = ms(t0, Clock::now());
    auto* m = doc->doc_int_man.get();
    bool typed = false;
    m->ext_editor_vc->editorWebView()->evaluateJavaScript("editor.navigateFileStart(); editor.insert('x')",
                                                          [&](nlohmann::json, std::optional<web::ScriptError>) { typed = true; });
    spinUntil([&] { return typed; }, 10000);
    settle(1000);
    bool finished = false, written = false;
    t0 = Clock::now();
    m->main_controller->request_save([&](bool w) {
        written = w;
        finished = true;
    });
    if (!spinUntil([&] { return finished; }, 120000) || !written) return std::nullopt;
    const double save = ms(t0, Clock::now());
    if (fs::file_size(server.root / name.substr(1)) != bytes.size() + 1) return std::nullopt;
    if (!closeDocument(doc)) return std::nullopt;
    return std::make_pair(open, save);
}

// A 5 MB page in windows-1252 beside the same text in UTF-8, opened, edited and saved in one round.
void encodingOpenAndSave(benchmark::State& state, const Server& server, size_t bytes) {
    FileViewerSceneDelegate* window = connectedWindowOrSkip(state, server);
    if (!window) return;
    const std::string utf8 = makeWesternText(bytes);
    textcodec::TextFormat western;
    western.encoding = "windows-1252";
    const std::string latin = std::get<std::string>(textcodec::encodeText(utf8, western));
    const size_t length = characters(utf8);
    // The text road alone: each file's read and write.
    std::vector<double> decodeLatin, decodeUtf8, encodeLatin, encodeUtf8;
    for (int i = 0; i < 7; ++i) {
        auto t0 = Clock::now();
        const auto readLatin = textcodec::decodeText(latin, "page.html");
        auto t1 = Clock::now();
        const auto readUtf8 = textcodec::decodeText(utf8, "page.html");
        auto t2 = Clock::now();
        const auto backLatin = textcodec::encodeText(readLatin.utf8, readLatin.format);
        auto t3 = Clock::now();
        const auto backUtf8 = textcodec::encodeText(readUtf8.utf8, readUtf8.format);
        auto t4 = Clock::now();
        if (readLatin.format.encoding != "windows-1252" || std::get<std::string>(backLatin) != latin ||
            std::get<std::string>(backUtf8) != utf8) {
            state.SkipWithError("the text road did not read the files back as they were");
            return;
        }
        decodeLatin.push_back(ms(t0, t1));
        decodeUtf8.push_back(ms(t1, t2));
        encodeLatin.push_back(ms(t2, t3));
        encodeUtf8.push_back(ms(t3, t4));
    }
    std::vector<double> openLatin, saveLatin, openUtf8, saveUtf8;
    benchpeers::Rounds rounds;
    for (auto _ : state) {
        std::optional<std::pair<double, double>> a, b;
        if (rounds.baselineFirst()) {
            a = openEditSave(window, server, "/bench-utf8.html", utf8, length);
            b = openEditSave(window, server, "/bench-1252.html", latin, length);
        } else {
            b = openEditSave(window, server, "/bench-1252.html", latin, length);
            a = openEditSave(window, server, "/bench-utf8.html", utf8, length);
        }
        if (!a || !b) {
            state.SkipWithError("a document never showed its file or was not saved");
            break;
        }
        openUtf8.push_back(a->first);
        saveUtf8.push_back(a->second);
        openLatin.push_back(b->first);
        saveLatin.push_back(b->second);
        rounds.add(a->first + a->second, b->first + b->second);
    }
    rounds.report(state, "utf8_open_save_ms", "w1252_open_save_ms", "open_save_ratio");
    state.counters["utf8_open_ms"] = median(openUtf8);
    state.counters["utf8_save_ms"] = median(saveUtf8);
    state.counters["w1252_open_ms"] = median(openLatin);
    state.counters["w1252_save_ms"] = median(saveLatin);
    state.counters["decode_1252_ms"] = median(decodeLatin);
    state.counters["decode_utf8_ms"] = median(decodeUtf8);
    state.counters["encode_1252_ms"] = median(encodeLatin);
    state.counters["encode_utf8_ms"] = median(encodeUtf8);
}

// A new document window for a 1 KB file, beside the download and the bare page of the same round.
void newWindow(benchmark::State& state, const Server& server) {
    FileViewerSceneDelegate* window = connectedWindowOrSkip(state, server);
    if (!window) return;
    const std::string name = "/bench-window.html";
    const std::string text = makeText(1024);
    placeFile(server, name, text);
    RawTransfer raw(server, name);
    benchpeers::Rounds rounds;
    std::vector<double> rawDown, bare;
    double first_open = -1, first_baseline = -1;
    for (auto _ : state) {
        std::string body;
        auto t0 = Clock::now();
        if (CURLcode c = raw.download(body); c != CURLE_OK || body != text) {
            state.SkipWithError(("raw download failed: " + std::string(curl_easy_strerror(c))).c_str());
            break;
        }
        rawDown.push_back(ms(t0, Clock::now()));
        auto b = bareOpen(body, false);
        if (!b) {
            state.SkipWithError("the bare editor page never showed the text");
            break;
        }
        bare.push_back(b->ms);
        EditorWebViewController::discard_warm_page();
        settle(300);
        t0 = Clock::now();
        DocumentSceneDelegate* doc = openDocument(*window->my_session_info->service_id, name);
        if (!doc || !pageShows(doc, text.size(), 60000)) {
            state.SkipWithError("the document never showed the file");
            break;
        }
        const double open = ms(t0, Clock::now());
        rounds.add(rawDown.back() + bare.back(), open);
        if (first_open < 0) {
            first_open = open;
            first_baseline = rawDown.back() + bare.back();
        }
        settle(300);
        if (!closeDocument(doc)) {
            state.SkipWithError("the document window did not close");
            break;
        }
        settle(300);
    }
    reportOpens(state, rawDown, bare, rounds);
    state.counters["first_download_and_bare_ms"] = first_baseline;
    state.counters["first_open_ms"] = first_open;
    state.counters["rounds"] = static_cast<double>(rounds.count());
}

// Ten opens and closes of a 5 MB document: the tree's PSS after the first and the tenth close.
void repeatOpen(benchmark::State& state, const Server& server, size_t bytes) {
    FileViewerSceneDelegate* window = connectedWindowOrSkip(state, server);
    if (!window) return;
    const std::string name = "/bench-repeat.html";
    const std::string text = makeText(bytes);
    placeFile(server, name, text);
    double after_first = 0, after_tenth = 0;
    for (auto _ : state) {
        for (int round = 1; round <= 10; ++round) {
            DocumentSceneDelegate* doc = openDocument(*window->my_session_info->service_id, name);
            if (!doc || !pageShows(doc, text.size(), 120000)) {
                state.SkipWithError("the document never showed the file");
                return;
            }
            settle(1000);
            if (!closeDocument(doc)) {
                state.SkipWithError("the document window did not close");
                return;
            }
            settle(2500);
            if (round == 1) after_first = treePssMB();
            if (round == 10) after_tenth = treePssMB();
            if (round == 1 || round == 10) printPssDetail(round == 1 ? "first close" : "tenth close");
        }
    }
    state.counters["pss_first_close_MB"] = after_first;
    state.counters["pss_tenth_close_MB"] = after_tenth;
    state.counters["pss_growth_ratio"] = after_first > 0 ? after_tenth / after_first : 0;
}

// ---- open and close cycles ---------------------------------------------------------------------

// A process of the tree by what it is: "app", a page's "renderer", or the web engine process's
// --type (with its utility sub-type).
std::string processType(const std::string& pid) {
    if (pid == std::to_string(::getpid())) return "app";
    std::ifstream cmd("/proc/" + pid + "/cmdline");
    std::string args((std::istreambuf_iterator<char>(cmd)), std::istreambuf_iterator<char>());
    std::string type = "other";
    const std::string ends("\0 ", 2);
    if (const auto at = args.find("--type="); at != std::string::npos) {
        type = args.substr(at + 7, args.find_first_of(ends, at) - at - 7);
        if (const auto sub = args.find("--utility-sub-type="); sub != std::string::npos) {
            type += "(" + args.substr(sub + 19, args.find_first_of(ends, sub) - sub - 19) + ")";
        }
    }
    std::ifstream status("/proc/" + pid + "/stat");
    std::string stat;
    std::getline(status, stat);
    if (const auto close = stat.rfind(')'); close != std::string::npos && type == "zygote") {
        std::istringstream rest(stat.substr(close + 2));
        std::string state, ppid;
        rest >> state >> ppid;
        std::ifstream parentCmd("/proc/" + ppid + "/cmdline");
        std::string parentArgs((std::istreambuf_iterator<char>(parentCmd)), std::istreambuf_iterator<char>());
        if (parentArgs.find("--type=zygote") != std::string::npos) type = "renderer";
    }
    return type;
}

// The tree's PSS summed by process kind, with the whole tree under "tree" and the number of
// renderers under "#renderers"; and of each its anonymous memory and shared memory ("_anon",
// "_shmem"). Those two are the tree's own: the rest, the mapped files (the engine's libraries
// above all), is shared with every other process mapping the same files, and so moves with
// processes outside the tree.
std::map<std::string, double> pssByType() {
    auto children = processChildren();
    std::map<std::string, double> out;
    std::vector<std::string> todo{std::to_string(::getpid())};
    while (!todo.empty()) {
        const std::string pid = todo.back();
        todo.pop_back();
        const double p = pssMB(pid);
        const std::string type = processType(pid);
        out[type] += p;
        out["tree"] += p;
        std::ifstream rollup("/proc/" + pid + "/smaps_rollup");
        for (std::string l; std::getline(rollup, l);) {
            if (l.rfind("Pss_Anon:", 0) == 0) {
                const double anon = std::strtod(l.c_str() + 9, nullptr) / 1024.0;
                out[type + "_anon"] += anon;
                out["tree_anon"] += anon;
            }
            if (l.rfind("Pss_Shmem:", 0) == 0) {
                const double shmem = std::strtod(l.c_str() + 10, nullptr) / 1024.0;
                out[type + "_shmem"] += shmem;
                out["tree_shmem"] += shmem;
            }
        }
        if (type == "renderer") out["#renderers"] += 1;
        for (const auto& c : children[pid]) todo.push_back(c);
    }
    return out;
}

// Whether the process has ended (gone, or a zombie waiting for its parent).
bool processEnded(qint64 pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return true;
    const auto close = stat.rfind(')');
    return close == std::string::npos || stat.compare(close + 2, 1, "Z") == 0 || stat.compare(close + 2, 1, "X") == 0;
}

// After a window or view went: until the pages' objects are deleted and their renderer processes
// have ended (false when that does not happen within 20 s: a renderer kept for another page).
bool teardownDone(const std::vector<QPointer<QObject>>& objects, const std::vector<qint64>& renderers) {
    return spinUntil([&] {
        for (const auto& o : objects) {
            if (o) return false;
        }
        for (qint64 pid : renderers) {
            if (pid > 0 && !processEnded(pid)) return false;
        }
        return !web::memory::releasePending();
    }, 20000);
}

// The growth per cycle of the samples from `from` on: the median of the steps from one sample to
// the next. A steady growth shows in every step; the engine's own caches and shared buffers
// change the level now and then by tens of MB, up or down, in a single step, which would swamp
// a line fitted through the samples but leaves the median step as it is.
double growthPerCycle(const std::vector<double>& y, size_t from) {
    if (y.size() < from + 2) return 0;
    std::vector<double> steps;
    for (size_t i = from + 1; i < y.size(); ++i) steps.push_back(y[i] - y[i - 1]);
    return median(steps);
}

int cycleCount() {
    const int n = qEnvironmentVariableIntValue("DRAVIX_BENCH_CYCLES");
    return n > 2 ? n : 30;
}

// The first cycles fill the engine's pools and caches (the spare renderer, the warm page, code
// caches): the growth per cycle is taken from the samples after them.
constexpr size_t kWarmUpCycles = 5;

// The bare editor views' growth of the tree's own memory per cycle, once they have run (the
// windows' cycles run after them and are reported beside it); negative until then.
double gBareEditorAnonGrowth = -1;

// Samples after each cycle, reported as growth per cycle (MB) of the tree and of each kind of
// process, and the tree's first and last sample.
class CycleSeries {
public:
    void add(const std::map<std::string, double>& sample, int cycle) {
        samples_.push_back(sample);
        if (qEnvironmentVariableIsSet("DRAVIX_BENCH_PSS_DETAIL")) {
            std::cerr << "cycle " << cycle << ":";
            for (const auto& [k, v] : sample) std::cerr << " " << k << "=" << v;
            std::cerr << std::endl;
        }
    }
    // The tree's own memory's growth per cycle (MB).
    double anonGrowth() const {
        std::vector<double> y;
        for (const auto& s : samples_) y.push_back(s.count("tree_anon") ? s.at("tree_anon") : 0.0);
        return growthPerCycle(y, std::min(kWarmUpCycles, y.size() / 2));
    }
    void report(benchmark::State& state, int kept) const {
        if (samples_.empty()) return;
        std::set<std::string> kinds;
        for (const auto& s : samples_) {
            for (const auto& [k, v] : s) kinds.insert(k);
        }
        for (const std::string& kind : kinds) {
            std::vector<double> y;
            for (const auto& s : samples_) y.push_back(s.count(kind) ? s.at(kind) : 0.0);
            if (kind == "#renderers") {
                state.counters["renderers_after_last"] = y.back();
                continue;
            }
            const size_t from = std::min(kWarmUpCycles, y.size() / 2);
            state.counters[kind + "_MB_per_cycle"] = growthPerCycle(y, from);
            if (kind == "tree") {
                state.counters["tree_after_warmup_MB"] = y[from];
                state.counters["tree_last_MB"] = y.back();
                // Over the whole run, jumps included.
                state.counters["tree_mean_MB_per_cycle"] = (y.back() - y[from]) / static_cast<double>(y.size() - 1 - from);
            }
        }
        state.counters["cycles"] = static_cast<double>(samples_.size());
        state.counters["renderers_kept"] = kept;
    }

private:
    std::vector<std::map<std::string, double>> samples_;
};

// One sample after a cycle: the tree's PSS once it stopped changing, by kind of process.
std::map<std::string, double> cycleSample() {
    settledTreePssMB(500);
    return pssByType();
}

// What a bare view does in a cycle.
enum class BareKind {
    engine,       // a QWebEngineView of the engine's default profile loading the text as a file page
    editor,       // the app's web views: the editor page given the text, and a second view with the
                  // text as a page from memory (as the window's editor and preview hold it)
    editorClear,  // the same, and the shared profile's website data cleared once per view
};

void bareCycles(benchmark::State& state, BareKind kind, size_t bytes) {
    const std::string text = makeText(bytes);
    const fs::path file = fs::temp_directory_path() / ("dravix-bench-cycle-" + std::to_string(::getpid()) + ".html");
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    const auto folder = VornAppUrlUtility::ace_folder_url();
    CycleSeries series;
    int kept = 0;
    for (auto _ : state) {
        for (int cycle = 1; cycle <= cycleCount(); ++cycle) {
            std::vector<QPointer<QObject>> objects;
            std::vector<qint64> renderers;
            if (kind == BareKind::engine) {
                auto* view = new QWebEngineView();
                view->resize(1000, 700);
                view->show();
                bool loaded = false;
                QObject::connect(view->page(), &QWebEnginePage::loadFinished, [&](bool ok) { loaded = ok; });
                view->load(QUrl::fromLocalFile(QString::fromStdString(file.string())));
                if (!spinUntil([&] { return loaded; }, 60000)) {
                    state.SkipWithError("the bare view never loaded the page");
                    return;
                }
                settle(300);
                objects = {view, view->page()};
                renderers = {view->page()->renderProcessPid()};
                delete view;
            } else {
                if (!folder) {
                    state.SkipWithError("no editor folder");
                    return;
                }
                auto* editor = new web::WebView();
                editor->resize(1000, 700);
                editor->show();
                if (kind == BareKind::editorClear) web::clearWebsiteData();
                bool ok = loadEditorWithText(editor, *folder, text);
                auto* preview = new web::WebView();
                if (kind == BareKind::editorClear) web::clearWebsiteData();
                ok = ok && barePreview(*preview, text);
                if (!ok) {
                    state.SkipWithError("the bare views never showed the text");
                    return;
                }
                objects = {editor, editor->page(), preview, preview->page()};
                renderers = {editor->page()->renderProcessPid(), preview->page()->renderProcessPid()};
                delete preview;
                delete editor;
            }
            if (!teardownDone(objects, renderers)) ++kept;
            series.add(cycleSample(), cycle);
        }
    }
    std::error_code ec;
    fs::remove(file, ec);
    series.report(state, kept);
    if (kind == BareKind::editor) gBareEditorAnonGrowth = series.anonGrowth();
}

// Opens and closes a document window for the file, cycle after cycle: each cycle waits until the
// editor shows the text, the preview shows it and the next window's warm page is ready, then
// closes the window (by the window, as a user does) and waits until its two pages are deleted and their renderers have ended.
void documentCycles(benchmark::State& state, const Server& server, size_t bytes) {
    FileViewerSceneDelegate* window = connectedWindowOrSkip(state, server);
    if (!window) return;
    const std::string name = "/bench-cycles.html";
    const std::string text = makeText(bytes);
    placeFile(server, name, text);
    CycleSeries series;
    int kept = 0;
    for (auto _ : state) {
        for (int cycle = 1; cycle <= cycleCount(); ++cycle) {
            DocumentSceneDelegate* doc = openDocument(*window->my_session_info->service_id, name);
            if (!doc || !pageShows(doc, text.size(), 120000)) {
                state.SkipWithError("the document never showed the file");
                return;
            }
            auto* m = doc->doc_int_man.get();
            web::WebView* editor = m->ext_editor_vc->editorWebView();
            web::WebView* preview = m->ext_webview_vc ? m->ext_webview_vc->previewWebView() : nullptr;
            bool shown = !preview;
            if (preview && !spinUntil([&] {
                    bool done = false;
                    preview->evaluateJavaScript("document.body ? document.body.children.length : 0",
                                                [&](nlohmann::json result, std::optional<web::ScriptError>) {
                                                    shown = result.is_number_integer() && result.get<int64_t>() > 0;
                                                    done = true;
                                                });
                    spinUntil([&] { return done; }, 10000);
                    return shown;
                }, 60000)) {
                state.SkipWithError("the preview never showed the file");
                return;
            }
            if (!spinUntil([] { return EditorWebViewController::warm_page_ready(); }, 60000)) {
                state.SkipWithError("the next window's page never became ready");
                return;
            }
            std::vector<QPointer<QObject>> objects{editor, editor->page()};
            std::vector<qint64> renderers{editor->page()->renderProcessPid()};
            if (preview) {
                objects.push_back(preview);
                objects.push_back(preview->page());
                renderers.push_back(preview->page()->renderProcessPid());
            }
            // Closed as a user closes it: by the window.
            QPointer<DocumentSceneDelegate> weak(doc);
            doc->window()->close();
            if (!spinUntil([&] { return !weak || SceneManager::document_scenes().empty(); }, 20000)) {
                state.SkipWithError("the document window did not close");
                return;
            }
            if (!teardownDone(objects, renderers)) ++kept;
            series.add(cycleSample(), cycle);
        }
    }
    series.report(state, kept);
    if (gBareEditorAnonGrowth >= 0) state.counters["tree_anon_over_bare_MB_per_cycle"] = series.anonGrowth() - gBareEditorAnonGrowth;
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS")) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::cerr << "no display: run under Xvfb (tests/peers/with_session.sh sets one up)\n";
        return 0;
    }
    files::initializeNetworking();
    web::registerWebSchemes();
    benchmark::Initialize(&argc, argv);
    QApplication qapp(argc, argv);
    ui::installMainQueueOnGuiThread();

    fs::path dir = fs::temp_directory_path() / ("dravix-bench-document-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir / "home");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString((dir / "home").string()));
    VornAppUrlUtility::create_urls();
    app_sessions_manager().url = dir / "home" / "sessions";
    fs::create_directories(dir / "home" / "sessions");

    // The window features reach each other through the scene layer, as in the app.
    SceneManager::install_scene_links();
    BenchAppDelegate delegate;
    ui::Application& app = ui::Application::shared();
    app.setDelegate(&delegate);
    app.manifest().declare(
        scene_kind_configuration_name(SceneKind::server_viewer),
        [](ui::SceneSession* s) { return std::make_unique<FileViewerScene>(s); },
        [] { return std::make_unique<FileViewerSceneDelegate>(); });
    app.manifest().declare(
        scene_kind_configuration_name(SceneKind::main_editor),
        [](ui::SceneSession* s) { return std::make_unique<DocumentScene>(s); },
        [] { return std::make_unique<DocumentSceneDelegate>(); });

    // Open and close cycles of a 1 MB file: bare views first, then a document window per server.
    benchmark::RegisterBenchmark("cycles/bare-engine/1MB", bareCycles, BareKind::engine, size_t{1} << 20)
        ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(1);
    benchmark::RegisterBenchmark("cycles/bare-editor/1MB", bareCycles, BareKind::editor, size_t{1} << 20)
        ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(1);
    benchmark::RegisterBenchmark("cycles/bare-editor-clear/1MB", bareCycles, BareKind::editorClear, size_t{1} << 20)
        ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(1);
    std::vector<Server> servers;
    for (const char* kind : {"pyftpd", "vsftpd", "apache"}) {
        if (auto s = startServer(dir / "peers", kind)) servers.push_back(*s);
    }
    for (const Server& s : servers) {
        benchmark::RegisterBenchmark(("window/" + s.kind + "/1KB").c_str(), newWindow, s)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(7)
            ->Repetitions(1);
        for (size_t mb : {1, 5, 20}) {
            benchmark::RegisterBenchmark(("document/" + s.kind + "/" + std::to_string(mb) + "MB").c_str(), openAndSave, s,
                                         mb * 1024 * 1024)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->Iterations(mb >= 20 ? 3 : 5)
                ->Repetitions(1);
        }
        benchmark::RegisterBenchmark(("encoding/" + s.kind + "/5MB").c_str(), encodingOpenAndSave, s, size_t{5} << 20)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(7)
            ->Repetitions(1);
        benchmark::RegisterBenchmark(("cycles/" + s.kind + "/1MB").c_str(), documentCycles, s, size_t{1} << 20)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(1)
            ->Repetitions(1);
        benchmark::RegisterBenchmark(("repeat/" + s.kind + "/5MB").c_str(), repeatOpen, s, 5 * 1024 * 1024)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(1)
            ->Repetitions(1);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    app.disconnectAllScenes();
    for (const Server& s : servers) stopServer(dir / "peers", s.kind);
    ui::uninstallMainQueue();
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
