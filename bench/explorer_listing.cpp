// The file explorer on a 10,000-entry folder of the local servers: from the refresh action to the
// table filled (listing converted and sorted, one model reset, the visible rows painted), and, in
// the same run, the provider's listing of the same folder alone. Target: the screen adds at most
// 100 ms to the provider's listing (medians).
//
// The program starts its own servers with tests/peers/peers.py (pyftpdlib, vsftpd when run as
// root, Apache with mod_dav) in a temporary folder and stops them at the end. Each iteration
// takes one refresh and one bare listing, taking turns at going first. Counters: provider_ms and
// screen_ms (medians) and added_ms, their difference.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/files/FileProvider.h"
#include "platform/ui/scenes/Application.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/foundation/UserPrefs.h"
#include "tandrel/foundation/VornKeyChainUtilityClass.h"
#include "tandrel/foundation/VornServicesManager.h"
#include "tandrel/foundation/VornSessionsManager.h"
#include "tandrel/scenes/SceneManager.h"
#include "tandrel/servers/FileExplorerListingModel.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/VornFileViewController.h"
#include "tandrel/servers/VornConnectorUtilityClass.h"
#include "tandrel/servers/VornProviderBucket.h"
#include "platform/ui/MainQueue.h"

#include "BenchPeers.h"

namespace fs = std::filesystem;

namespace {

constexpr int kEntries = 10000;
const char* kFolder = "/big";

using benchpeers::Server;
using benchpeers::median;

std::optional<Server> startServer(const fs::path& dir, const std::string& kind) {
    return benchpeers::startServerWithBigFolder(dir, kind, kFolder, kEntries);
}

// Spins the event loop (which runs the main queue) until the condition holds.
bool spinUntil(const std::function<bool()>& done, int timeoutMs = 60000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

class TestDelegate : public ui::ApplicationDelegate {
public:
    ui::SceneConfiguration configurationForConnectingSceneSession(ui::SceneSession*,
                                                                  const ui::ConnectionOptions& options) override {
        return SceneManager::configuration_for_connecting(options);
    }
};

// A file-viewer window connected to the server, showing the big folder.
struct ConnectedWindow {
    FileViewerSceneDelegate* window = nullptr;
    VornFileViewController* explorer = nullptr;
};

std::optional<ConnectedWindow> openConnectedWindow(const Server& server) {
    ui::Application& app = ui::Application::shared();
    const int before = static_cast<int>(SceneManager::file_viewer_scenes().size());
    SceneManager::request_scene(SceneKind::server_viewer, std::nullopt, nullptr);
    if (!spinUntil([&] { return static_cast<int>(SceneManager::file_viewer_scenes().size()) > before; })) return std::nullopt;
    auto* scene = SceneManager::file_viewer_scenes().back();
    auto* window = qobject_cast<FileViewerSceneDelegate*>(scene->delegate());
    if (!window) return std::nullopt;
    (void)app;

    // The saved server and its connection, as a connect leaves them.
    auto service = std::make_shared<VornSingleServiceDataModel>();
    service->url = server.url;
    service->username = server.user;
    service->nickname = server.kind;
    service->connection_type = server.kind == "apache" ? EnumManager::VornConnectionType::webDav
                                                       : EnumManager::VornConnectionType::ftp;
    service->id = VornKeyChainUtilityClass::keychain_account(server.url, server.user);
    app_services_manager().appServicesModel->saved_services.push_back(service);
    app_sessions_manager().new_service_session(service->id);

    std::promise<std::shared_ptr<VornProviderBucket>> built;
    auto future = built.get_future();
    VornConnectorBuilder::make_bucket_for_service(
        server.url, files::Credential{server.user, server.password}, service->connection_type,
        [&built](std::shared_ptr<VornProviderBucket> bucket, std::optional<VornError>) { built.set_value(bucket); });
    auto bucket = future.get();
    if (!bucket) return std::nullopt;
    window->provider_bucket = bucket;
    window->service = service;
    window->my_session_info->connected = true;
    window->my_session_info->server_url = server.url;
    window->my_session_info->service_id = service->id;

    VornFileViewController* explorer = window->fileView_controller.get();
    spinUntil([&] { return explorer->fileExplorerTableView->parentWidget() != nullptr; });
    window->window()->resize(420, 800);
    const int shown = explorer->listing_count();
    explorer->show_connected_state();
    if (!spinUntil([&] { return explorer->listing_count() > shown; })) return std::nullopt;
    const int big = explorer->listing_count();
    explorer->go_to_directory(kFolder, true);
    if (!spinUntil([&] { return explorer->listing_count() > big; })) return std::nullopt;
    return ConnectedWindow{window, explorer};
}

std::vector<files::FileObject> providerList(files::FileProvider& provider) {
    bool done = false;
    std::vector<files::FileObject> out;
    provider.contentsOfDirectory(kFolder, [&](std::vector<files::FileObject> entries, std::optional<files::FileError> error) {
        if (error) std::cerr << "listing failed: " << error->message << "\n";
        dispatch::mainQueue().async([&, entries = std::move(entries)]() mutable {
            out = std::move(entries);
            done = true;
        });
    });
    spinUntil([&] { return done; });
    return out;
}

// From the refresh action to the table filled: the listing shown and the visible rows painted.
double refreshOnce(VornFileViewController& explorer) {
    QElapsedTimer t;
    t.start();
    const int before = explorer.listing_count();
    explorer.refresh_action->trigger();
    spinUntil([&] { return explorer.listing_count() > before; });
    explorer.fileExplorerTableView->viewport()->repaint();
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

void pairedRefresh(benchmark::State& state, const Server& server) {
    auto connected = openConnectedWindow(server);
    if (!connected) {
        state.SkipWithError("could not connect a window");
        for (auto _ : state) {
        }
        return;
    }
    VornFileViewController& explorer = *connected->explorer;
    auto provider = files::makeProvider(server.url, {server.user, server.password});
    providerList(*provider);  // warm up
    refreshOnce(explorer);

    std::vector<double> providerMs, screenMs;
    bool providerFirst = true;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == providerFirst) {
                QElapsedTimer t;
                t.start();
                auto entries = providerList(*provider);
                providerMs.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
                if (entries.size() != static_cast<size_t>(kEntries)) state.SkipWithError("wrong entry count");
            } else {
                screenMs.push_back(refreshOnce(explorer));
                if (explorer.listing_model()->rowCount() != kEntries + 1) state.SkipWithError("wrong row count");
            }
        }
        providerFirst = !providerFirst;
    }
    const double p = median(providerMs), s = median(screenMs);
    state.counters["provider_ms"] = p;
    state.counters["screen_ms"] = s;
    state.counters["added_ms"] = s - p;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    files::initializeNetworking();
    benchmark::Initialize(&argc, argv);
    fs::path dir = fs::temp_directory_path() / ("dravix-bench-explorer-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir / "home");
    // The app's settings and stores in a folder of their own.
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((dir / "home" / "config").string()));
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString((dir / "home" / "data").string()));
    defaults::UserDefaults::resetStandardForTesting();
    UserPrefs::setPreference("FILEEXPLORER_SORTING", defaults::Value(int64_t(0)));
    fs::create_directories(dir / "sessions");
    app_sessions_manager().url = dir / "sessions";

    QApplication qapp(argc, argv);
    ui::installMainQueueOnGuiThread();
    TestDelegate delegate;
    ui::Application::shared().setDelegate(&delegate);
    ui::Application::shared().manifest().declare(
        scene_kind_configuration_name(SceneKind::server_viewer),
        [](ui::SceneSession* s) { return std::make_unique<FileViewerScene>(s); },
        [] { return std::make_unique<FileViewerSceneDelegate>(); });

    return benchpeers::runAgainstServers(dir, {"pyftpd", "vsftpd", "apache"}, "explorer_refresh", pairedRefresh, 10, 3,
                                         startServer, [] {
                                             ui::Application::shared().resetForTesting();
                                             ui::uninstallMainQueue();
                                         });
}
