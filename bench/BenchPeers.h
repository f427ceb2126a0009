#pragma once
// The local test servers for benchmarks: started and stopped with tests/peers/peers.py, on free
// loopback ports, like the test fixtures do; and the small pieces the benchmarks against them share.
#include <benchmark/benchmark.h>
#include <unistd.h>


#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace benchpeers {

struct Server {
    std::string kind, url, user, password;
    std::filesystem::path root;
};

inline std::string peersScript() { return std::string(DRAVIX_SOURCE_DIR) + "/tests/peers/peers.py"; }

inline std::map<std::string, std::string> readEnv(const std::filesystem::path& file) {
    std::map<std::string, std::string> values;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        auto eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

// Starts a server of that kind with its state in `dir`; nothing (and a line on stderr) when it
// cannot run here.
inline std::optional<Server> startServer(const std::filesystem::path& dir, const std::string& kind) {
    std::string cmd = "/usr/bin/python3 '" + peersScript() + "' start " + kind + " --dir '" + dir.string() +
                      "' --bin '" DRAVIX_PEERS_BIN "'";
    if (std::system(cmd.c_str()) != 0) {
        std::cerr << "could not start " << kind << "\n";
        return std::nullopt;
    }
    auto env = readEnv(dir / (kind + ".env"));
    if (env.count("SKIP")) {
        std::cerr << kind << " skipped: " << env["SKIP"] << "\n";
        return std::nullopt;
    }
    return Server{kind, env["URL"], env["USER"], env["PASSWORD"], env["ROOT"]};
}

inline void stopServer(const std::filesystem::path& dir, const std::string& kind) {
    std::string cmd = "/usr/bin/python3 '" + peersScript() + "' stop " + kind + " --dir '" + dir.string() + "'";
    if (std::system(cmd.c_str()) != 0) std::cerr << "could not stop " << kind << "\n";
}

using Starter = std::function<std::optional<Server>(const std::filesystem::path&, const std::string&)>;

using ServerBench = void (*)(benchmark::State&, const Server&);

// Starts a server of each kind in `dir` (with `start`), runs each of `benches` against each under
// "<name>/<kind>" (real time, `iterations` a repetition; of several repetitions only their
// aggregates are reported), calls `afterRuns`, then stops the servers and removes `dir`.
inline int runAgainstServers(const std::filesystem::path& dir, std::initializer_list<const char*> kinds,
                             const std::vector<std::pair<std::string, ServerBench>>& benches, int iterations,
                             int repetitions, const Starter& start = startServer,
                             const std::function<void()>& afterRuns = {}) {
    std::vector<Server> servers;
    for (const char* kind : kinds) {
        if (auto s = start(dir, kind)) servers.push_back(*s);
    }
    for (const Server& s : servers) {
        for (const auto& [name, bench] : benches) {
            benchmark::RegisterBenchmark((name + "/" + s.kind).c_str(), bench, s)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->Iterations(iterations)
                ->Repetitions(repetitions)
                ->ReportAggregatesOnly(repetitions > 1);
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (afterRuns) afterRuns();
    for (const Server& s : servers) stopServer(dir, s.kind);
    std::filesystem::remove_all(dir);
    return servers.empty() ? 1 : 0;
}

// The same for one bench.
inline int runAgainstServers(const std::filesystem::path& dir, std::initializer_list<const char*> kinds,
                             const std::string& name, ServerBench bench, int iterations, int repetitions,
                             const Starter& start = startServer, const std::function<void()>& afterRuns = {}) {
    return runAgainstServers(dir, kinds, {{name, bench}}, iterations, repetitions, start, afterRuns);
}

// A big folder on the server's disk: `count` entries, one in ten a folder, names in no order.
inline void makeBigFolder(const std::filesystem::path& folder, int count) {
    std::filesystem::create_directories(folder);
    for (int i = 0; i < count; ++i) {
        char name[64];
        if (i % 10 == 0) {
            std::snprintf(name, sizeof name, "folder %05d", i);
            std::filesystem::create_directory(folder / name);
        } else {
            std::snprintf(name, sizeof name, "page-%05d%s.html", (i * 7919) % 100000, i % 7 ? "" : " copy");
            std::ofstream(folder / name) << i;
        }
    }
}

// The listing benchmarks' server: started, with `count` entries in `folder` ("/big").
inline std::optional<Server> startServerWithBigFolder(const std::filesystem::path& dir, const std::string& kind,
                                                      const std::string& folder, int count) {
    auto s = startServer(dir, kind);
    if (s) makeBigFolder(s->root / folder.substr(1), count);
    return s;
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Rounds of a subject beside its baseline: each round runs the two back to back (in alternating
// order, so a change in the machine's load falls on both alike) and adds their times here. The
// figures are medians over the rounds: of each side, and of the rounds' own subject/baseline
// ratios (never the ratio of two medians taken from different rounds).
class Rounds {
public:
    // Whether this round runs the baseline first (every other round does).
    bool baselineFirst() const { return baseline_.size() % 2 == 0; }

    void add(double baseline, double subject) {
        baseline_.push_back(baseline);
        subject_.push_back(subject);
        ratio_.push_back(baseline > 0 ? subject / baseline : 0);
    }

    std::size_t count() const { return ratio_.size(); }
    double baseline() const { return median(baseline_); }
    double subject() const { return median(subject_); }
    double ratio() const { return median(ratio_); }

    // The medians as the benchmark's counters: "<prefix>baseline_ms", "<prefix>subject_ms" (or
    // the names given) and "<prefix>ratio".
    void report(benchmark::State& state, const std::string& baselineName = "baseline_ms",
                const std::string& subjectName = "subject_ms", const std::string& ratioName = "ratio") const {
        state.counters[baselineName] = baseline();
        state.counters[subjectName] = subject();
        state.counters[ratioName] = ratio();
        state.counters["rounds"] = static_cast<double>(count());
    }

    // One line: "<what>: median baseline X ms, median subject Y ms, median ratio Z over N rounds".
    void print(std::ostream& out, const std::string& what, const std::string& baselineName,
               const std::string& subjectName) const {
        out << what << ": median " << baselineName << " " << baseline() << " ms, median " << subjectName << " "
            << subject() << " ms, median per-round ratio " << ratio() << " over " << count() << " rounds\n";
    }

private:
    std::vector<double> baseline_, subject_, ratio_;
};

// The number of rounds: DRAVIX_BENCH_ROUNDS, else `fallback`.
inline int roundCount(int fallback) {
    const char* env = std::getenv("DRAVIX_BENCH_ROUNDS");
    return env && std::atoi(env) > 0 ? std::atoi(env) : fallback;
}

// A libcurl write callback that appends the bytes to the std::string given as its user data.
inline size_t collect(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

// Starts tests/peers/delay_proxy.py in front of loopback `port`, delaying every byte by `delayMs`
// each way (`ftp`: it also rewrites the passive-mode replies, so data connections go through it);
// its own port (0 when it did not start), and its process id in `pid`.
inline int startDelayProxy(const std::filesystem::path& dir, const std::string& kind, int port, bool ftp, double delayMs,
                           pid_t& pid) {
    const std::filesystem::path portFile = dir / ("proxy-" + kind + ".port");
    pid = ::fork();
    if (pid == 0) {
        const std::string script = std::string(DRAVIX_SOURCE_DIR) + "/tests/peers/delay_proxy.py";
        const std::string target = std::to_string(port), delay = std::to_string(delayMs);
        std::vector<const char*> args{"/usr/bin/python3", script.c_str(), "--target-port", target.c_str(),
                                      "--delay-ms", delay.c_str(), "--port-file", portFile.c_str()};
        if (ftp) args.push_back("--ftp");
        args.push_back(nullptr);
        ::execv(args[0], const_cast<char* const*>(args.data()));
        ::_exit(127);
    }
    for (int i = 0; i < 200 && !std::filesystem::exists(portFile); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    std::ifstream in(portFile);
    int mine = 0;
    in >> mine;
    return mine;
}

inline int portOf(const std::string& url) { return std::stoi(url.substr(url.rfind(':') + 1)); }

inline std::string withPort(const std::string& url, int port) {
    return url.substr(0, url.rfind(':') + 1) + std::to_string(port);
}

}  // namespace benchpeers
