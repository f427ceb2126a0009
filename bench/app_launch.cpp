// Launch time of the app beside the framework's own: each round starts, back to back and in
// rotating order, the real `dravix` binary with the telemetry SDK, the same without it
// (DRAVIX_SKIP_TELEMETRY, launch steps 6 and 7 left out), and the framework baseline: this
// program again as a bare window of a program linked to the web engine (the same Qt and web
// engine set-up the app makes before its first window, and nothing of the app). Like the app's
// first window, which holds no web view, it does not start the web engine: a baseline that
// started it would pay for what the app does not do at launch and flatter the app. Every launch is timed
// from the moment the process is spawned until its first window is shown on screen (exposed);
// the process writes that moment when DRAVIX_LAUNCH_REPORT is set, and is then ended. With the
// SDK on, the log URL points at a loopback port that refuses connections, so the logs are stored
// (the SDK's work at launch in full) and never leave the machine. Needs an X server (DISPLAY).
// The figures are medians over the rounds, the ratios those of each round's own times.
//
// Run: tests/peers/with_session.sh build/bench/bench_app_launch
// (DRAVIX_BENCH_ROUNDS changes the number of rounds, 15 by default.)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QWidget>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "BenchPeers.h"
#include "app/LaunchReport.h"
#include "platform/web/WebProfile.h"
#include "support/RefusingPort.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kBareWindowArg = "--bare-window-linked-to-web-engine";

enum class Launch { app, appWithoutSdk, bareWindow };

// Milliseconds from the spawn of the process to its first shown window; negative on failure.
double launchOnce(Launch what, const std::string& url) {
    const fs::path home = fs::temp_directory_path() / ("dravix-launch-" + std::to_string(getpid()));
    fs::remove_all(home);
    fs::create_directories(home);
    const fs::path report = home / "report.txt";

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("HOME=", 0) == 0 || entry.rfind("XDG_", 0) == 0 || entry.rfind("DRAVIX_", 0) == 0) {
            if (entry.rfind("XDG_RUNTIME_DIR=", 0) != 0) continue;
        }
        env.push_back(entry);
    }
    env.push_back("HOME=" + home.string());
    env.push_back("XDG_DATA_HOME=" + (home / "data").string());
    env.push_back("XDG_CONFIG_HOME=" + (home / "config").string());
    env.push_back("XDG_STATE_HOME=" + (home / "state").string());
    env.push_back("XDG_CACHE_HOME=" + (home / "cache").string());
    env.push_back("DRAVIX_LAUNCH_REPORT=" + report.string());
    env.push_back("QTWEBENGINE_DISABLE_SANDBOX=1");
    if (what == Launch::app) {
        env.push_back("DRAVIX_TELEMETRY_URL=" + url);
    } else if (what == Launch::appWithoutSdk) {
        env.push_back("DRAVIX_SKIP_TELEMETRY=1");
    }
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string binary = what == Launch::bareWindow ? fs::read_symlink("/proc/self/exe").string() : DRAVIX_APP_BINARY;
    std::string arg = kBareWindowArg;
    char* argv[] = {binary.data(), what == Launch::bareWindow ? arg.data() : nullptr, nullptr};

    pid_t pid = 0;
    const auto spawned = Clock::now();
    // What the processes print (the web engine's start-up notes among it) would bury the results.
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int spawnError = posix_spawn(&pid, binary.c_str(), &quiet, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&quiet);
    if (spawnError != 0) return -1;
    double ms = -1;
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < deadline) {
        std::ifstream in(report);
        double sinceMain = 0, shownAt = 0;
        if (in >> sinceMain >> shownAt) {
            ms = shownAt - std::chrono::duration<double, std::milli>(spawned.time_since_epoch()).count();
            break;
        }
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = 0;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (pid) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    fs::remove_all(home);
    return ms;
}

// The framework baseline's process: the Qt and web engine set-up of the app's main, then one
// bare window, shown. The program links the web engine (with the app's libraries: they load at
// start as the app's do) but starts no web view, as the app's first window starts none.
int bareWindowMain(int argc, char** argv) {
    const auto started = Clock::now();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    web::registerWebSchemes();
    QApplication qapp(argc, argv);
    report_first_window_when_shown(started);
    QWidget window;
    window.resize(900, 600);
    window.show();
    return QApplication::exec();
}

benchpeers::Rounds frameworkRounds;  // the bare window, then the app with the SDK
benchpeers::Rounds sdkRounds;        // the app without the SDK, then with it

// One iteration is one round of the three launches. The iteration time is the app's (with the SDK).
void BM_LaunchRounds(benchmark::State& state) {
    if (!std::getenv("DISPLAY")) {
        state.SkipWithError("no X server (DISPLAY is not set)");
        return;
    }
    testsupport::RefusingPort port;
    int round = 0;
    for (auto _ : state) {
        double times[3] = {-1, -1, -1};  // by Launch
        for (int i = 0; i < 3; ++i) {
            const int which = (round + i) % 3;
            times[which] = launchOnce(static_cast<Launch>(which), port.url());
        }
        ++round;
        if (times[0] < 0 || times[1] < 0 || times[2] < 0) {
            state.SkipWithError(times[2] < 0 ? "the bare window was never shown" : "the app showed no window");
            return;
        }
        frameworkRounds.add(times[2], times[0]);
        sdkRounds.add(times[1], times[0]);
        state.SetIterationTime(times[0] / 1000.0);
    }
    state.counters["bare_window_ms"] = frameworkRounds.baseline();
    state.counters["app_ms"] = frameworkRounds.subject();
    state.counters["ratio_to_bare_window"] = frameworkRounds.ratio();
    state.counters["without_sdk_ms"] = sdkRounds.baseline();
    state.counters["sdk_ratio"] = sdkRounds.ratio();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], kBareWindowArg) == 0) return bareWindowMain(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("LaunchRounds", BM_LaunchRounds)
        ->UseManualTime()
        ->Iterations(benchpeers::roundCount(15))
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    frameworkRounds.print(std::cout, "app (telemetry SDK started) beside a bare window linked to the web engine",
                          "bare window", "app");
    sdkRounds.print(std::cout, "app with the telemetry SDK beside the app without it", "without SDK", "with SDK");
    return 0;
}
