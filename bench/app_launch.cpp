// Launch time of the app with and without the telemetry SDK: each iteration starts the real
// `dravix` binary in a fresh home and takes the time from its main() to its first window being
// shown (the app writes it when DRAVIX_LAUNCH_REPORT is set), then ends the process. The two
// variants differ only in DRAVIX_SKIP_TELEMETRY (launch steps 6 and 7 left out). With the SDK on,
// the log URL points at a loopback port that refuses connections, so the logs are stored (the
// SDK's work at launch in full) and never leave the machine. Needs an X server (DISPLAY).
//
// Run: tests/peers/with_session.sh build/bench/bench_app_launch --benchmark_repetitions=15
//        --benchmark_report_aggregates_only
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/RefusingPort.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Milliseconds from the app's main() to its first shown window; negative on failure.
double launchOnce(bool telemetry, const std::string& url) {
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
    if (telemetry) {
        env.push_back("DRAVIX_TELEMETRY_URL=" + url);
    } else {
        env.push_back("DRAVIX_SKIP_TELEMETRY=1");
    }
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string binary = DRAVIX_APP_BINARY;
    char* argv[] = {binary.data(), nullptr};

    pid_t pid = 0;
    if (posix_spawn(&pid, binary.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return -1;
    double ms = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(report);
        if (in >> ms) break;
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

void BM_LaunchToFirstWindow(benchmark::State& state) {
    if (!std::getenv("DISPLAY")) {
        state.SkipWithError("no X server (DISPLAY is not set)");
        return;
    }
    const bool telemetry = state.range(0) == 1;
    testsupport::RefusingPort port;
    for (auto _ : state) {
        const double ms = launchOnce(telemetry, port.url());
        if (ms < 0) {
            state.SkipWithError("the app showed no window");
            return;
        }
        state.SetIterationTime(ms / 1000.0);
    }
    state.SetLabel(telemetry ? "telemetry SDK started" : "launch steps 6 and 7 skipped");
}

// Both ways in each iteration, in alternating order, so the machine's load falls on both alike:
// the counters give the two times and what the SDK adds (the iteration time is the SDK's launch).
void BM_LaunchPair(benchmark::State& state) {
    if (!std::getenv("DISPLAY")) {
        state.SkipWithError("no X server (DISPLAY is not set)");
        return;
    }
    testsupport::RefusingPort port;
    static int round = 0;
    double without = 0;
    double with = 0;
    for (auto _ : state) {
        const bool sdkFirst = (round++ % 2) == 1;
        double a = launchOnce(sdkFirst, port.url());
        double b = launchOnce(!sdkFirst, port.url());
        if (a < 0 || b < 0) {
            state.SkipWithError("the app showed no window");
            return;
        }
        with = sdkFirst ? a : b;
        without = sdkFirst ? b : a;
        state.SetIterationTime(with / 1000.0);
    }
    state.counters["without_sdk_ms"] = without;
    state.counters["with_sdk_ms"] = with;
    state.counters["sdk_adds_ms"] = with - without;
}

}  // namespace

BENCHMARK(BM_LaunchPair)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LaunchToFirstWindow)->Arg(0)->Arg(1)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
