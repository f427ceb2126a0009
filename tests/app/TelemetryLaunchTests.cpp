// The real app's launch with the telemetry SDK, against the ingestion peer on 127.0.0.1: what a
// launch sends, what it keeps while the collector is unreachable and sends on the next launch,
// and a launch with every service switched off by the environment. Each case starts `dravix` in
// a throw-away home (needs an X server: scripts/test provides Xvfb) and ends it once the event the
// case waits for has happened.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/AppLifecycleMapper.h"
#include "support/TempHome.h"
#include "tellium/IngestionPeer.h"
#include "tellium/util/TLMApplicationLifecycle.h"
#include "tellium/StoredLogs.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr const char* kDesktopSecret = "c83f0d47-2a9e-4b15-8e6c-f41a07d95b28";

// One run of the app with the given extra environment, its standard error in a file.
class AppProcess {
public:
    AppProcess(const testsupport::TempHome& home, const std::vector<std::string>& extra) : stderr_(home.root() / "stderr.txt") {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (entry.rfind("TELLIUM_", 0) == 0 || entry.rfind("DRAVIX_TELEMETRY", 0) == 0) continue;
            env.push_back(entry);
        }
        env.push_back("DRAVIX_TELEMETRY_LOG_LEVEL=3");  // debug: the SDK tells what it did
        env.insert(env.end(), extra.begin(), extra.end());
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string binary = DRAVIX_APP_BINARY;
        char* argv[] = {binary.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, stderr_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int rc = posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0) << "could not start " << binary;
        if (rc != 0) pid_ = 0;
    }
    ~AppProcess() { stop(); }

    void stop() {
        if (!pid_) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }
    bool running() {
        if (!pid_) return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = 0;
            return false;
        }
        return true;
    }
    std::string errorOutput() const { return testsupport::readFile(stderr_); }
    // Waits until the app's standard error holds the text (or the app ended, or 60 s passed).
    bool waitForError(const std::string& text) {
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        while (Clock::now() < deadline) {
            if (errorOutput().find(text) != std::string::npos) return true;
            if (!running()) return errorOutput().find(text) != std::string::npos;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

private:
    fs::path stderr_;
    pid_t pid_ = 0;
};

// Every log the peer received, with the headers of the request that carried it.
struct Received {
    json log;
    json headers;
};
std::vector<Received> receivedLogs(const json& requests) {
    std::vector<Received> out;
    if (!requests.is_array()) return out;
    for (const auto& r : requests) {
        if (r.value("path", "") != "/logs") continue;
        const json body = json::parse(r.value("body", ""), nullptr, false);
        if (!body.is_object() || !body.contains("logs")) continue;
        for (const auto& log : body["logs"]) out.push_back({log, r["headers"]});
    }
    return out;
}
std::size_t countStartServiceLogs(const std::vector<Received>& logs) {
    std::size_t n = 0;
    for (const auto& r : logs) n += r.log.value("type", "") == "startService" ? 1 : 0;
    return n;
}
std::size_t countStartedEvents(const std::vector<Received>& logs) {
    std::size_t n = 0;
    for (const auto& r : logs) n += (r.log.value("type", "") == "event" && r.log.value("name", "") == "Started") ? 1 : 0;
    return n;
}

// Waits until the peer holds at least that many start-service logs and "Started" events.
std::vector<Received> waitForLogs(const telltest::IngestionPeer& peer, std::size_t each) {
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    std::vector<Received> logs = receivedLogs(peer.requests());
    while ((countStartServiceLogs(logs) < each || countStartedEvents(logs) < each) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        logs = receivedLogs(peer.requests());
    }
    return logs;
}

// Rows of the SDK's log store in that home; -1 while it cannot be read.
int storedLogs(const testsupport::TempHome& home) {
    return telltest::countStoredLogs(home.data() / "DravixFTPClient" / "Tellium" / "Logs.sqlite");
}

// Waits until the store holds that many logs (at most 60 s).
void waitForStore(const testsupport::TempHome& home, int count) {
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (storedLogs(home) != count && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(storedLogs(home), count);
}

class TelemetryLaunch : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (DISPLAY)";
        if (!peer_.skipReason().empty()) GTEST_SKIP() << peer_.skipReason();
    }
    testsupport::TempHome home_;
    telltest::IngestionPeer peer_;
};

TEST_F(TelemetryLaunch, ALaunchSendsTheStartedServicesAndTheStartedEventWithAStableInstallId) {
    std::string installId;
    for (int launch = 1; launch <= 2; ++launch) {
        SCOPED_TRACE("launch " + std::to_string(launch));
        AppProcess app(home_, {"DRAVIX_TELEMETRY_URL=" + peer_.baseUrl()});
        const auto logs = waitForLogs(peer_, static_cast<std::size_t>(launch));
        // Ended only once the store let go of what was sent: a process ended between the answer
        // and the deletion sends those logs again on its next launch (delivered at least once).
        waitForStore(home_, 0);
        app.stop();
        ASSERT_EQ(countStartServiceLogs(logs), static_cast<std::size_t>(launch)) << app.errorOutput();
        ASSERT_EQ(countStartedEvents(logs), static_cast<std::size_t>(launch));
        for (const auto& r : logs) {
            EXPECT_EQ(r.headers.value("App-Secret", ""), kDesktopSecret);
            if (installId.empty()) installId = r.headers.value("Install-ID", "");
            EXPECT_EQ(r.headers.value("Install-ID", ""), installId) << "the install id changed";
            if (r.log.value("type", "") == "startService") {
                const std::set<std::string> names(r.log["services"].begin(), r.log["services"].end());
                EXPECT_EQ(names, (std::set<std::string>{"Crashes", "Analytics"}));
            }
        }
        for (const auto& request : peer_.requests()) EXPECT_TRUE(request["problems"].empty()) << request.dump();
    }
    EXPECT_FALSE(installId.empty());
}

TEST_F(TelemetryLaunch, LogsOfALaunchWithoutTheCollectorAreSentByTheNextLaunch) {
    {
        telltest::RefusingPort down;
        AppProcess app(home_, {"DRAVIX_TELEMETRY_URL=" + down.url() + "/t/down"});
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        while (storedLogs(home_) < 2 && Clock::now() < deadline && app.running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_GE(storedLogs(home_), 2) << app.errorOutput();
        ASSERT_TRUE(app.running()) << "the launch must not fail without the collector\n" << app.errorOutput();
        app.stop();
    }
    AppProcess app(home_, {"DRAVIX_TELEMETRY_URL=" + peer_.baseUrl()});
    const auto logs = waitForLogs(peer_, 2);
    waitForStore(home_, 0);
    app.stop();
    EXPECT_EQ(countStartServiceLogs(logs), 2u) << app.errorOutput();
    EXPECT_EQ(countStartedEvents(logs), 2u);
    std::set<std::string> sessions;
    for (const auto& r : logs) {
        if (r.log.value("type", "") == "event") sessions.insert(r.log.value("sid", ""));
    }
    EXPECT_EQ(sessions.size(), 2u) << "the two events come from two launches";
}

// A telemetry failure never keeps the first window from showing.
struct FailureCase {
    const char* name;
    bool storeUnusable;  // the SDK's folder cannot be made (a file stands in its place)
    bool collectorDown;  // the collector's port refuses connections
};

TEST_F(TelemetryLaunch, TheFirstWindowShowsWhateverFailsInTelemetry) {
    const FailureCase cases[] = {
        {"store unusable", true, false},
        {"collector down", false, true},
        {"both", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempHome home;
        if (c.storeUnusable) {
            fs::create_directories(home.data() / "DravixFTPClient");
            testsupport::writeFile(home.data() / "DravixFTPClient" / "Tellium", "not a folder");
        }
        telltest::RefusingPort down;
        const fs::path report = home.root() / "launch.txt";
        AppProcess app(home, {"DRAVIX_TELEMETRY_URL=" + (c.collectorDown ? down.url() : peer_.baseUrl()),
                              "DRAVIX_LAUNCH_REPORT=" + report.string()});
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        while (!fs::exists(report) && app.running() && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_TRUE(fs::exists(report)) << "no window was shown\n" << app.errorOutput();
        EXPECT_TRUE(app.running()) << app.errorOutput();
        app.stop();
    }
}

TEST_F(TelemetryLaunch, WithEveryServiceSwitchedOffNoServiceStarts) {
    AppProcess app(home_, {"DRAVIX_TELEMETRY_URL=" + peer_.baseUrl(), "TELLIUM_DISABLE=All"});
    ASSERT_TRUE(app.waitForError("No services have been started.")) << app.errorOutput();
    // The "Started" event comes after the start and is refused: Analytics is not running.
    ASSERT_TRUE(app.waitForError("Analytics service hasn't been started.")) << app.errorOutput();
    EXPECT_TRUE(app.running()) << "the launch goes on";
    app.stop();
    EXPECT_TRUE(receivedLogs(peer_.requests()).empty());
}

}  // namespace

// The application's states as the SDK's life-cycle moments.
namespace {

struct StateCase {
    const char* name;
    std::vector<Qt::ApplicationState> states;
    std::vector<std::string> posted;
};

TEST(AppLifecycleMapping, StatesBecomeBackgroundAndForeground) {
    const StateCase cases[] = {
        {"inactive is not background", {Qt::ApplicationInactive, Qt::ApplicationActive}, {}},
        {"hidden then active", {Qt::ApplicationHidden, Qt::ApplicationActive}, {"background", "foreground"}},
        {"suspended then active", {Qt::ApplicationSuspended, Qt::ApplicationActive}, {"background", "foreground"}},
        {"hidden twice", {Qt::ApplicationHidden, Qt::ApplicationSuspended, Qt::ApplicationInactive,
                          Qt::ApplicationActive, Qt::ApplicationActive},
         {"background", "foreground"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> posted;
        auto& lifecycle = TLMApplicationLifecycle::shared();
        const uint64_t b = lifecycle.addObserver(TLMApplicationEvent::didEnterBackground, [&] { posted.push_back("background"); });
        const uint64_t f = lifecycle.addObserver(TLMApplicationEvent::willEnterForeground, [&] { posted.push_back("foreground"); });
        AppLifecycleMapper mapper;
        for (auto state : c.states) mapper.applicationStateChanged(state);
        lifecycle.removeObserver(b);
        lifecycle.removeObserver(f);
        EXPECT_EQ(posted, c.posted);
    }
}

}  // namespace
