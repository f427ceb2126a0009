// The common operations against far servers, counted in round trips: each local server (vsftpd
// for FTP, pure-ftpd offering TLS for FTP over TLS, OpenSSH's sshd for SFTP, Apache for WebDAV)
// is reached through tests/peers/delay_proxy.py, which delays every byte by DRAVIX_BENCH_DELAY_MS
// (default 25) each way, so a round trip costs 50 ms more. An operation's time divided by the
// round trip is the number of round trips it took, near enough (the servers and the loopback
// add a few milliseconds).
//
// Operations, each through the provider on a kept connection (its workers logged in before):
// login (a new provider's checkLogin), login and list 200 (a new provider's first listing; the
// tool's whole run), list a folder of 200, open 20 kB with its version, save
// 20 kB with the server-copy check, list 10,000, save 2 MB (checked), open 2 MB, open 20 MiB.
// Beside them the same operations by OpenSSH's `sftp -b`, `lftp` and `curl` through the same
// proxy; a tool's figure is its run with the operation less its run that only logs in (curl: the
// time after its connection was made), and the ratio is the provider's over the tool's. The
// 20 MiB open also tells the provider's process CPU time for it ("cpu ms"): a download's copying
// shows there, not in the wall time of a far link.
//
// Then the order users work in: list 200, open 20 kB, save 20 kB, list 200 again, one after the
// other on the same provider, through the proxy and directly to the server; each step's figure
// is its time through the proxy less its time direct, in round trips (the servers' own work
// falls out).
//
// Medians over DRAVIX_BENCH_ROUNDS rounds (default 5); DRAVIX_BENCH_DELAY_MS sets the proxy's
// delay each way (default 25), DRAVIX_BENCH_SERVERS which servers run (default all). Data connections of FTP over TLS cannot be
// routed through the proxy (their port is in an encrypted reply), so that server's figures
// count the control connection's round trips only.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <iomanip>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchPeers.h"
#include "platform/files/FileProvider.h"
#include "platform/files/ProviderTestSupport.h"
#include "platform/files/Trust.h"

namespace fs = std::filesystem;
using benchpeers::Server;

namespace {

fs::path gDir;
double gDelayMs = 25;
std::map<std::string, pid_t> gProxies;
std::map<std::string, std::map<std::string, std::string>> gEnv;
std::map<std::string, std::string> gDirectUrl;  // each server's own URL, without the proxy

double rtMs() { return 2 * gDelayMs; }

double msSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// The CPU time this process has used, in milliseconds.
double cpuMs() {
    rusage use{};
    ::getrusage(RUSAGE_SELF, &use);
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(use.ru_utime) + ms(use.ru_stime);
}

constexpr std::size_t kHuge = 20 * 1024 * 1024;

int startProxy(const std::string& kind, int port, bool ftp) {
    return benchpeers::startDelayProxy(gDir, kind, port, ftp, gDelayMs, gProxies[kind]);
}
using benchpeers::portOf;
using benchpeers::withPort;

// What each server's operations need on its disk, below its login folder.
void makeFiles(const fs::path& root) {
    fs::create_directories(root / "far/list200");
    for (int i = 0; i < 200; ++i) std::ofstream(root / "far/list200" / ("page-" + std::to_string(i) + ".html")) << i;
    benchpeers::makeBigFolder(root / "far/big", 10000);
    std::string small(20 * 1024, 'a'), big(2 * 1024 * 1024, 'b');
    std::ofstream(root / "far/page20k.html") << small;
    std::ofstream(root / "far/page2m.bin") << big;
    {
        std::string huge(kHuge, '\0');
        std::mt19937 random(7);
        for (char& c : huge) c = static_cast<char>(random());
        std::ofstream(root / "far/huge20m.bin", std::ios::binary) << huge;
    }
    // The servers' users write here (vsftpd's guest, pure-ftpd's and sshd's users). The files
    // are read and written by all, as the peers make new files (their umask is 0), not
    // executable: a page's usual bits, which a save's copy has from its upload.
    const auto rw = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::group_write |
                    fs::perms::others_read | fs::perms::others_write;
    for (auto& e : fs::recursive_directory_iterator(root / "far"))
        fs::permissions(e.path(), e.is_directory() ? fs::perms::all : rw, fs::perm_options::replace);
    fs::permissions(root / "far", fs::perms::all, fs::perm_options::add);
}

std::shared_ptr<files::FileProvider> providerFor(const Server& s, int workers = 3, bool direct = false) {
    const fs::path folder = gDir / ("trust-" + s.kind);
    const auto& env = gEnv[s.kind];
    auto trust = std::make_shared<files::Trust>(folder, env.count("KNOWN_HOSTS") ? fs::path(env.at("KNOWN_HOSTS"))
                                                                                  : folder / "none");
    if (env.count("CERT")) {
        files::Certificate certificate;
        certificate.der = filestest::derOfPem(env.at("CERT"));
        trust->addCertificate("127.0.0.1", portOf(s.url), certificate);
    }
    files::ProviderOptions options;
    options.workers = workers;
    options.trust = trust;
    return files::makeProvider(direct ? gDirectUrl.at(s.kind) : s.url, {s.user, s.password}, options);
}

template <typename T>
T wait(std::promise<T>& p) {
    return p.get_future().get();
}

struct Ops {
    std::shared_ptr<files::FileProvider> provider;
    std::optional<files::FileVersion> small, big;
    std::string smallBytes = std::string(20 * 1024, 'c'), bigBytes = std::string(2 * 1024 * 1024, 'd');

    bool list(const std::string& folder, std::size_t expect) {
        std::promise<bool> done;
        provider->contentsOfDirectory(folder, [&](std::vector<files::FileObject> e, std::optional<files::FileError> err) {
            if (err) std::cerr << "list " << folder << ": " << err->message << "\n";
            done.set_value(!err && e.size() == expect);
        });
        return wait(done);
    }
    bool open(const std::string& file, std::optional<files::FileVersion>& version) {
        std::promise<bool> done;
        provider->contentsAndVersion(file, [&](std::optional<files::Bytes> d, files::FileVersion v,
                                               std::optional<files::FileError> err) {
            if (err) std::cerr << "open " << file << ": " << err->message << "\n";
            version = v;
            done.set_value(!err && d);
        });
        return wait(done);
    }
    bool save(const std::string& file, const std::string& bytes, std::optional<files::FileVersion>& version) {
        std::promise<bool> done;
        provider->writeContents(file, bytes, files::WriteMode::replace, version,
                                [&](std::optional<files::FileVersion> v, std::optional<files::FileError> err) {
                                    if (err) std::cerr << "save " << file << ": " << err->message << "\n";
                                    if (v) version = v;
                                    done.set_value(!err);
                                });
        return wait(done);
    }
};

bool login(const Server& s) {
    auto p = providerFor(s, 1);
    std::promise<bool> done;
    p->checkLogin([&](std::optional<files::FileError> err) {
        if (err) std::cerr << "login: " << err->message << "\n";
        done.set_value(!err);
    });
    return wait(done);
}

// ---- the tools ------------------------------------------------------------------------------

double run(const std::string& command) {
    const auto t0 = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) std::cerr << "failed: " << command << "\n";
    return msSince(t0);
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// The tool's command that logs in and then does `op` (empty: only logs in).
std::string toolCommand(const Server& s, const std::string& op) {
    const auto& env = gEnv[s.kind];
    const int port = portOf(s.url);
    const fs::path batch = gDir / ("batch-" + s.kind);
    if (s.kind == "sshd") {
        std::ofstream(batch) << (op.empty() ? "pwd" : op) << "\n";
        return "sftp -q -b " + quoted(batch) + " -P " + std::to_string(port) + " -i " +
               quoted(env.at("CLIENT_HOME") + "/.ssh/id_ed25519") + " -o UserKnownHostsFile=" +
               quoted(env.at("KNOWN_HOSTS")) + " -o StrictHostKeyChecking=yes -o BatchMode=yes " + s.user +
               "@127.0.0.1 >/dev/null";
    }
    if (s.kind == "apache") {
        return "curl -s -o /dev/null -u " + quoted(s.user + ":" + s.password) + " " + op + " -w '%{time_connect}\\n'";
    }
    const bool tls = env.count("CERT") > 0;
    std::string settings = tls ? "set ftp:ssl-force true; set ftp:ssl-protect-data true; set ssl:verify-certificate no; "
                               : "set ftp:ssl-allow no; ";
    settings += "set ftp:passive-mode true; set net:max-retries 1; set cmd:fail-exit true; set xfer:clobber on; ";
    return "lftp -u " + quoted(s.user + "," + s.password) + " -p " + std::to_string(port) + " -e " +
           quoted(settings + (op.empty() ? "quote NOOP" : op) + "; bye") + " 127.0.0.1 >/dev/null";
}

// Milliseconds the tool took for `op` beyond logging in.
double toolOp(const Server& s, const std::string& op) {
    if (s.kind == "apache") {
        const std::string out = gDir / "curl.out";
        const auto t0 = std::chrono::steady_clock::now();
        std::system((toolCommand(s, op) + " > " + quoted(out)).c_str());
        const double total = msSince(t0);
        std::ifstream in(out);
        double connect = 0;
        in >> connect;
        return total - connect * 1000;
    }
    return run(toolCommand(s, op)) - run(toolCommand(s, ""));
}

std::map<std::string, std::string> toolOps(const Server& s) {
    const std::string local = gDir / "local-copy";
    const std::string small = gDir / "small.bin", big = gDir / "big.bin";
    if (s.kind == "sshd")
        return {{"login", ""}, {"list 200", "ls -l far/list200"}, {"open 20 kB", "get far/page20k.html " + local},
                {"save 20 kB", "put " + small + " far/page20k.html"}, {"list 10,000", "ls -l far/big"},
                {"save 2 MB", "put " + big + " far/page2m.bin"}, {"open 2 MB", "get far/page2m.bin " + local},
                {"open 20 MiB", "get far/huge20m.bin " + local}};
    if (s.kind == "apache") {
        const std::string base = s.url + "/far/";
        const std::string propfind = "-X PROPFIND -H 'Depth: 1' ";
        return {{"login", propfind + quoted(s.url + "/")}, {"list 200", propfind + quoted(base + "list200/")},
                {"open 20 kB", quoted(base + "page20k.html")}, {"save 20 kB", "-T " + small + " " + quoted(base + "page20k.html")},
                {"list 10,000", propfind + quoted(base + "big/")}, {"save 2 MB", "-T " + big + " " + quoted(base + "page2m.bin")},
                {"open 2 MB", quoted(base + "page2m.bin")}, {"open 20 MiB", quoted(base + "huge20m.bin")}};
    }
    return {{"login", ""}, {"list 200", "ls far/list200"}, {"open 20 kB", "get far/page20k.html -o " + local},
            {"save 20 kB", "put " + small + " -o far/page20k.html"}, {"list 10,000", "ls far/big"},
            {"save 2 MB", "put " + big + " -o far/page2m.bin"}, {"open 2 MB", "get far/page2m.bin -o " + local},
            {"open 20 MiB", "get far/huge20m.bin -o " + local}};
}

const std::vector<std::string> kOps = {"login", "login and list 200", "list 200", "open 20 kB", "save 20 kB",
                                       "list 10,000", "save 2 MB", "open 2 MB", "open 20 MiB"};

// The order users work in, on one provider: a listing, an open of a file in it, its save, and
// the listing again. Each step's time in milliseconds, added to `times` under its name.
const std::vector<std::string> kWorkOrder = {"then list 200", "then open 20 kB", "then save 20 kB", "then list 200 again"};

void workOrder(Ops& ops, std::map<std::string, std::vector<double>>& times) {
    auto timeOf = [](auto&& f) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        return msSince(t0);
    };
    std::optional<files::FileVersion> read;
    times[kWorkOrder[0]].push_back(timeOf([&] { ops.list("/far/list200", 200); }));
    times[kWorkOrder[1]].push_back(timeOf([&] { ops.open("/far/page20k.html", read); }));
    times[kWorkOrder[2]].push_back(timeOf([&] { ops.save("/far/page20k.html", ops.smallBytes, read); }));
    times[kWorkOrder[3]].push_back(timeOf([&] { ops.list("/far/list200", 200); }));
}

// A provider whose workers have all logged in (each listed the folder of 200 once).
Ops warmedUp(const Server& s, bool direct) {
    Ops ops;
    ops.provider = providerFor(s, 3, direct);
    std::vector<std::future<bool>> warm;
    for (int i = 0; i < 3; ++i) warm.push_back(std::async(std::launch::async, [&] { return ops.list("/far/list200", 200); }));
    for (auto& w : warm) w.get();
    return ops;
}

void rounds(benchmark::State& state, const Server& s) {
    // Every worker logged in, and the versions the checked saves expect.
    Ops ops = warmedUp(s, false);
    Ops far = warmedUp(s, false), near = warmedUp(s, true);
    ops.open("/far/page20k.html", ops.small);
    ops.open("/far/page2m.bin", ops.big);
    const auto tools = toolOps(s);
    std::map<std::string, std::vector<double>> mine, theirs, farOrder, nearOrder;
    std::vector<double> hugeCpu;
    for (auto _ : state) {
        auto timeOf = [](auto&& f) {
            const auto t0 = std::chrono::steady_clock::now();
            f();
            return msSince(t0);
        };
        std::optional<files::FileVersion> read;
        // The tools of the round before wrote the files: the checked saves expect what is there now.
        state.PauseTiming();
        ops.open("/far/page20k.html", ops.small);
        ops.open("/far/page2m.bin", ops.big);
        state.ResumeTiming();
        mine["login"].push_back(timeOf([&] { login(s); }));
        mine["login and list 200"].push_back(timeOf([&] {
            Ops fresh;
            fresh.provider = providerFor(s, 1);
            fresh.list("/far/list200", 200);
        }));
        mine["list 200"].push_back(timeOf([&] { ops.list("/far/list200", 200); }));
        mine["open 20 kB"].push_back(timeOf([&] { ops.open("/far/page20k.html", read); }));
        mine["save 20 kB"].push_back(timeOf([&] { ops.save("/far/page20k.html", ops.smallBytes, ops.small); }));
        mine["list 10,000"].push_back(timeOf([&] { ops.list("/far/big", 10000); }));
        mine["save 2 MB"].push_back(timeOf([&] { ops.save("/far/page2m.bin", ops.bigBytes, ops.big); }));
        mine["open 2 MB"].push_back(timeOf([&] { ops.open("/far/page2m.bin", read); }));
        const double cpu0 = cpuMs();
        mine["open 20 MiB"].push_back(timeOf([&] { ops.open("/far/huge20m.bin", read); }));
        hugeCpu.push_back(cpuMs() - cpu0);
        for (const auto& op : kOps) {
            if (op == "login") theirs[op].push_back(run(toolCommand(s, tools.at("login"))));
            else if (op == "login and list 200") theirs[op].push_back(run(toolCommand(s, tools.at("list 200"))));
            else theirs[op].push_back(toolOp(s, tools.at(op)));
        }
        workOrder(far, farOrder);
        workOrder(near, nearOrder);
    }
    std::ostringstream line;
    line << std::fixed << std::setprecision(1) << s.kind << " (round trips at " << rtMs() << " ms; provider / tool):";
    for (const auto& op : kOps) {
        const double m = benchpeers::median(mine[op]) / rtMs(), t = benchpeers::median(theirs[op]) / rtMs();
        state.counters[op + " rt"] = m;
        state.counters[op + " tool rt"] = t;
        line << "  " << op << " " << m << " / " << t << " (" << (t > 0 ? m / t : 0) << "x)";
    }
    const double cpu = benchpeers::median(hugeCpu);
    state.counters["open 20 MiB cpu ms"] = cpu;
    line << "  open 20 MiB cpu " << cpu << " ms;  in the order users work (through less direct):";
    for (const auto& step : kWorkOrder) {
        const double rt = (benchpeers::median(farOrder[step]) - benchpeers::median(nearOrder[step])) / rtMs();
        state.counters[step + " rt"] = rt;
        line << "  " << step << " " << rt;
    }
    std::cout << line.str() << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (const char* d = std::getenv("DRAVIX_BENCH_DELAY_MS")) gDelayMs = std::atof(d);
    gDir = fs::temp_directory_path() / ("dravix-bench-far-" + std::to_string(std::random_device{}()));
    fs::create_directories(gDir);
    std::ofstream(gDir / "small.bin") << std::string(20 * 1024, 'e');
    std::ofstream(gDir / "big.bin") << std::string(2 * 1024 * 1024, 'f');
    // DRAVIX_BENCH_SERVERS ("sshd,vsftpd"): only those servers.
    const std::string only = std::getenv("DRAVIX_BENCH_SERVERS") ? std::getenv("DRAVIX_BENCH_SERVERS") : "";
    auto start = [only](const fs::path& dir, const std::string& kind) -> std::optional<Server> {
        if (!only.empty() && ("," + only + ",").find("," + kind + ",") == std::string::npos) return std::nullopt;
        auto s = benchpeers::startServer(dir, kind);
        if (!s) return s;
        gEnv[kind] = benchpeers::readEnv(dir / (kind + ".env"));
        makeFiles(s->root);
        gDirectUrl[kind] = s->url;
        const bool ftp = kind != "sshd" && kind != "apache";
        s->url = withPort(s->url, startProxy(kind, portOf(s->url), ftp));
        return s;
    };
    const int rc = benchpeers::runAgainstServers(gDir, {"vsftpd", "pureftpd-tls", "sshd", "apache"}, "far", &rounds, benchpeers::roundCount(5),
                                                 1, start, [] {
                                                     for (auto& [kind, pid] : gProxies) {
                                                         ::kill(pid, SIGTERM);
                                                         ::waitpid(pid, nullptr, 0);
                                                     }
                                                 });
    return rc;
}
