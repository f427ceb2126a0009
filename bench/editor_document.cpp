// Opening and saving a 1 MB and a 5 MB file in a document window against local servers, each
// measured beside a raw libcurl download and upload of the same file in the same run.
//
//   open: from the file browser's request for a document window until the editor page holds the
//         whole text and the window has switched to it (the window built, the editor page loaded,
//         the file read through the provider, its editing session made and recorded, read back
//         and recorded again, and, 0.25 s later, selected; the 0.2 s fade-in of the editor that
//         starts at that moment is not counted);
//   save: from the save command until the server has taken the file (the page's session read
//         back and recorded, the sessions file written, the text uploaded), one edit made and the
//         window settled (1 s) before it.
// Beside the save, in the same round, its terms on their own: the page's read-back (the
// "session_manager.get_current_session()" script until its reply is a typed session), and one
// write of the server's sessions file holding that session.
// Targets: open at most the raw download plus 1 s at 5 MB; save at most the raw upload plus the
// read-back plus one sessions write plus 20 ms (save_over_terms_ms <= 20).
//
// The program starts its own servers with tests/peers/peers.py (pyftpdlib, Apache with mod_dav,
// vsftpd when run as root) in a temporary folder, runs the app's windows in this process (a
// display is needed: run it under Xvfb, e.g. tests/peers/with_session.sh), and reports medians:
// raw_down_ms, open_ms, open_over_raw_ms, raw_up_ms, readback_ms, sessions_write_ms, save_ms,
// save_ratio (save over raw upload), save_over_terms_ms and terms_ratio (save over the sum of the
// three terms). Only the 5 MB rounds: --benchmark_filter=5MB.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/FileProvider.h"
#include "platform/ui/View.h"
#include "platform/ui/scenes/Application.h"
#include "platform/web/WebProfile.h"
#include "platform/web/WebView.h"
#include "tandrel/editor/DocumentInterfaceManager.h"
#include "tandrel/editor/EditorWebViewController.h"
#include "tandrel/editor/MainViewController.h"
#include "tandrel/editor/VornEditorJSConnector.h"
#include "tandrel/editor/VornEditorJSConnectorSupport.h"
#include "tandrel/editor/VornEditorWKWebView.h"
#include "tandrel/foundation/VornAppUrlUtility.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/foundation/VornServicesDataModel.h"
#include "tandrel/foundation/VornSessionsManager.h"
#include "tandrel/scenes/DocumentScene.h"
#include "tandrel/scenes/SceneManager.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/VornConnectorUtilityClass.h"
#include "platform/ui/MainQueue.h"

#include "BenchPeers.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

using benchpeers::Server;
using benchpeers::median;
using benchpeers::collect;
using benchpeers::startServer;
using benchpeers::stopServer;

// Runs the event loop (and with it the main queue) until the condition holds.
bool spinUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

double ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

// Text of about `bytes` bytes: lines of markup and words, ASCII only.
std::string makeText(size_t bytes) {
    std::string out;
    out.reserve(bytes + 128);
    std::mt19937 rng(7);
    const char* words[] = {"lorem", "ipsum", "dolor", "sit", "amet", "server", "editor", "preview", "window", "save"};
    int line = 0;
    while (out.size() < bytes) {
        out += "<p class=\"l" + std::to_string(line++ % 97) + "\">";
        for (int w = 0; w < 10; ++w) {
            out += words[rng() % 10];
            out += ' ';
        }
        out += "</p>\n";
    }
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

DocumentSceneDelegate* openDocument(const std::string& service_id, const std::string& path) {
    ui::Application& app = ui::Application::shared();
    const int before = app.connectedScenes().size();
    SceneManager::open_document_scene(service_id, file_bucket_id_for_path(path), true);
    if (!spinUntil([&] { return app.connectedScenes().size() > before; }, 10000)) return nullptr;
    return qobject_cast<DocumentSceneDelegate*>(app.connectedScenes().last()->delegate());
}

// The editor page holds the whole text and shows it (the empty state has gone).
bool pageShows(DocumentSceneDelegate* doc, size_t length, int timeoutMs) {
    auto* m = doc->doc_int_man.get();
    if (!spinUntil([&] { return m->ext_editor_vc && ui::alpha(m->ext_editor_vc->editorWebView()) > 0.99; }, timeoutMs)) {
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

void openAndSave(benchmark::State& state, const Server& server, size_t bytes) {
    FileViewerSceneDelegate* window = connectedWindow(server);
    if (!window) {
        state.SkipWithError("no connected file-viewer window (the file viewer cannot build a connection)");
        return;
    }
    const std::string name = "/bench-" + std::to_string(bytes) + ".html";
    const std::string text = makeText(bytes);
    RawTransfer raw(server, name);
    std::vector<double> rawDown, open, rawUp, save, readBack, sessionsWrite, overTerms, termsRatio;
    for (auto _ : state) {
        // The server's copy is the original text at the start of every round.
        {
            std::ofstream(server.root / name.substr(1), std::ios::binary | std::ios::trunc) << text;
            fs::permissions(server.root / name.substr(1), fs::perms(0666));
        }
        std::string body;
        auto t0 = Clock::now();
        if (CURLcode c = raw.download(body); c != CURLE_OK || body.size() != text.size()) {
            state.SkipWithError(("raw download failed: " + std::string(curl_easy_strerror(c))).c_str());
            break;
        }
        rawDown.push_back(ms(t0, Clock::now()));

        t0 = Clock::now();
        DocumentSceneDelegate* doc = openDocument(*window->my_session_info->service_id, name);
        if (!doc || !pageShows(doc, text.size(), 120000)) {
            state.SkipWithError("the document never showed the file");
            break;
        }
        open.push_back(ms(t0, Clock::now()));

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
        // sessions write (after the save's own writes have left the store's queue).
        app_sessions_manager().save_queue.sync([] {});
        const double rb = timeReadBack(m->editor_js_connector.get());
        const double sw = timeSessionsWrite(*window->my_session_info->service_id);
        if (rb < 0 || sw < 0) {
            state.SkipWithError("the read-back or the sessions write failed");
            break;
        }
        readBack.push_back(rb);
        sessionsWrite.push_back(sw);
        overTerms.push_back(save.back() - (rawUp.back() + rb + sw));
        termsRatio.push_back(save.back() / (rawUp.back() + rb + sw));
        if (!closeDocument(doc)) {
            state.SkipWithError("the document window did not close");
            break;
        }
    }
    const double d = median(rawDown), o = median(open), u = median(rawUp), s = median(save);
    state.counters["raw_down_ms"] = d;
    state.counters["open_ms"] = o;
    state.counters["open_over_raw_ms"] = o - d;
    state.counters["raw_up_ms"] = u;
    state.counters["save_ms"] = s;
    state.counters["save_ratio"] = u > 0 ? s / u : 0;
    state.counters["readback_ms"] = median(readBack);
    state.counters["sessions_write_ms"] = median(sessionsWrite);
    state.counters["save_over_terms_ms"] = median(overTerms);
    state.counters["terms_ratio"] = median(termsRatio);
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

    std::vector<Server> servers;
    for (const char* kind : {"pyftpd", "vsftpd", "apache"}) {
        if (auto s = startServer(dir / "peers", kind)) servers.push_back(*s);
    }
    for (const Server& s : servers) {
        for (size_t mb : {1, 5}) {
            benchmark::RegisterBenchmark(("document/" + s.kind + "/" + std::to_string(mb) + "MB").c_str(), openAndSave, s,
                                         mb * 1024 * 1024)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->Iterations(7)
                ->Repetitions(1);
        }
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
