// Loading and saving the app's JSON stores at sizes a heavy user reaches: 1,000 saved servers,
// and the editing sessions of 100 servers with 20 open files each.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "tandrel/foundation/VornServicesManager.h"
#include "tandrel/foundation/VornSessionsManager.h"

namespace fs = std::filesystem;

namespace {
fs::path scratch(const std::string& name) {
    auto dir = fs::temp_directory_path() / ("dravix-bench-" + name + "-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    return dir;
}

std::shared_ptr<VornServicesDataModel> manyServers(int count) {
    auto model = std::make_shared<VornServicesDataModel>();
    for (int i = 0; i < count; ++i) {
        auto s = std::make_shared<VornSingleServiceDataModel>();
        s->connection_type = i % 2 ? EnumManager::VornConnectionType::ftp : EnumManager::VornConnectionType::webDav;
        s->url = "ftp://server" + std::to_string(i) + ".example.test/public_html";
        s->username = "user" + std::to_string(i);
        s->nickname = "Server number " + std::to_string(i);
        if (i % 3 == 0) s->port = 2121;
        model->saved_services.push_back(s);
    }
    return model;
}

std::shared_ptr<VornAppMultipleSessionsDataModel> sessionsOf(int server, int files) {
    auto record = std::make_shared<VornAppMultipleSessionsDataModel>();
    record->service_id = "c2VydmVy" + std::to_string(server) + "/LXVzZXI=";
    for (int f = 0; f < files; ++f) {
        auto s = std::make_shared<VornACEFileSessionsDataModel>();
        s->file_path = "/public_html/pages/page" + std::to_string(f) + ".html";
        s->session_id = "L3B1YmxpY19odG1s" + std::to_string(f);
        s->mime_type = "text/html";
        s->ace_language = "html";
        s->undo_count = f;
        // A page's serialised session: the text (a few KB) plus its editor state.
        s->json = R"({"value":")" + std::string(3000, 'x') + R"(","file_path":")" + s->file_path + R"(","undo_count":3})";
        record->ace_file_sessions.push_back(s);
    }
    return record;
}
}  // namespace

static void BM_SaveServices1000(benchmark::State& state) {
    auto dir = scratch("services");
    VornServicesManager store;
    store.url = dir / "app_services.json";
    store.appServicesModel = manyServers(1000);
    for (auto _ : state) {
        bool ok = false;
        store.save_services([&](bool saved) { ok = saved; });
        if (!ok) state.SkipWithError("save failed");
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_SaveServices1000)->Unit(benchmark::kMillisecond);

static void BM_LoadServices1000(benchmark::State& state) {
    auto dir = scratch("services");
    VornServicesManager writer;
    writer.url = dir / "app_services.json";
    writer.appServicesModel = manyServers(1000);
    writer.save_services(nullptr);
    for (auto _ : state) {
        VornServicesManager store;
        store.load_services(dir / "app_services.json");
        if (store.appServicesModel->saved_services.size() != 1000) state.SkipWithError("load failed");
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_LoadServices1000)->Unit(benchmark::kMillisecond);

static void BM_SaveSessions100x20(benchmark::State& state) {
    auto dir = scratch("sessions");
    VornSessionsManager store;
    store.url = dir;
    std::vector<std::shared_ptr<VornAppMultipleSessionsDataModel>> records;
    for (int i = 0; i < 100; ++i) records.push_back(sessionsOf(i, 20));
    for (auto _ : state) {
        for (auto& r : records)
            if (store.save_service_session(*r)) state.SkipWithError("save failed");
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_SaveSessions100x20)->Unit(benchmark::kMillisecond);

static void BM_LoadSessions100x20(benchmark::State& state) {
    auto dir = scratch("sessions");
    VornSessionsManager writer;
    writer.url = dir;
    for (int i = 0; i < 100; ++i) writer.save_service_session(*sessionsOf(i, 20));
    for (auto _ : state) {
        VornSessionsManager store;
        store.setup_sessions(dir);
        if (store.service_sessions.size() != 100) state.SkipWithError("load failed");
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_LoadSessions100x20)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    // Keep the settings store and logs out of the user's home.
    auto home = scratch("home");
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("XDG_STATE_HOME", (home / "state").c_str(), 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(home);
    return 0;
}
