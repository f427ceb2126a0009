// The site search over a far SFTP server: a site of 1,000 text files, 20 MB in all, in 50
// folders two levels deep, on OpenSSH's sshd reached through tests/peers/delay_proxy.py, which
// delays every byte by DRAVIX_BENCH_DELAY_MS (default 25) each way: a 50 ms round trip.
//
// Each round, in alternating order:
//   - the baseline: OpenSSH's `sftp -b` downloading the whole tree ("get -r"), login included;
//   - the first search: a new provider (its login included) searching every file with an empty
//     cache, which reads them all;
//   - the second search: the same provider and cache again, no file changed: the folders are
//     listed again and nothing is read.
// Reported: the medians of each, the per-round ratio first search / sftp download (meant to be
// at most 2) and the second search's time (meant to be under 1 s). DRAVIX_BENCH_ROUNDS rounds
// (default 3).
#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/wait.h>

#include <condition_variable>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <random>

#include "BenchPeers.h"
#include "platform/files/FileProvider.h"
#include "platform/files/Trust.h"
#include "tandrel/search/SiteSearch.h"

namespace fs = std::filesystem;
using benchpeers::Server;

namespace {

fs::path gDir;
double gDelayMs = 25;
pid_t gProxy = 0;
std::map<std::string, std::string> gEnv;

constexpr int kFolders = 10, kSubfolders = 5, kFilesPerFolder = 20;  // 1,000 files
constexpr std::size_t kFileBytes = 20 * 1000;                         // 20 MB in all

double msSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

void makeSite(const fs::path& root) {
    std::mt19937 random(11);
    const std::string words[] = {"<div class=\"item\">", "lorem", "ipsum", "dolor", "sit", "amet", "</div>\n",
                                 "function", "return", "color: #333;", "needle"};
    for (int f = 0; f < kFolders; ++f) {
        for (int s = 0; s < kSubfolders; ++s) {
            const fs::path folder = root / "site" / ("section" + std::to_string(f)) / ("part" + std::to_string(s));
            fs::create_directories(folder);
            for (int i = 0; i < kFilesPerFolder; ++i) {
                std::string text;
                while (text.size() < kFileBytes) {
                    text += words[random() % std::size(words)];
                    text += random() % 12 ? ' ' : '\n';
                }
                text.resize(kFileBytes);
                std::ofstream(folder / ("page" + std::to_string(i) + (i % 3 ? ".html" : ".css"))) << text;
            }
        }
    }
    for (auto& e : fs::recursive_directory_iterator(root / "site"))
        fs::permissions(e.path(), e.is_directory() ? fs::perms::all : fs::perms(0666), fs::perm_options::replace);
    fs::permissions(root / "site", fs::perms::all, fs::perm_options::replace);
}

std::shared_ptr<files::FileProvider> providerFor(const Server& s) {
    const fs::path folder = gDir / "trust";
    auto trust = std::make_shared<files::Trust>(folder, fs::path(gEnv.at("KNOWN_HOSTS")));
    files::ProviderOptions options;
    options.trust = trust;
    return files::makeProvider(s.url, {s.user, s.password}, options);
}

struct Searched {
    double ms = 0;
    sitesearch::SearchSummary summary;
};

Searched searchOnce(const std::shared_ptr<files::FileProvider>& provider,
                    const std::shared_ptr<sitesearch::SiteSearchCache>& cache) {
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<sitesearch::SearchSummary> summary;
    sitesearch::SearchQuery query;
    query.text = "needle";
    query.folder = "/site";
    sitesearch::SearchHandlers handlers;
    handlers.finished = [&](sitesearch::SearchSummary s) {
        std::lock_guard lock(mutex);
        summary = std::move(s);
        changed.notify_all();
    };
    const auto t0 = std::chrono::steady_clock::now();
    auto search = sitesearch::SiteSearch::start(provider, cache, query, {}, handlers);
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return summary.has_value(); });
    return {msSince(t0), *summary};
}

double sftpDownload(const Server& s) {
    const fs::path local = gDir / "download";
    fs::remove_all(local);
    fs::create_directories(local);
    const fs::path batch = gDir / "batch";
    std::ofstream(batch) << "get -r site " << local.string() << "\n";
    const std::string command = "sftp -q -b '" + batch.string() + "' -P " + std::to_string(benchpeers::portOf(s.url)) +
                                " -i '" + gEnv.at("CLIENT_HOME") + "/.ssh/id_ed25519' -o UserKnownHostsFile='" +
                                gEnv.at("KNOWN_HOSTS") + "' -o StrictHostKeyChecking=yes -o BatchMode=yes " + s.user +
                                "@127.0.0.1 >/dev/null";
    const auto t0 = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) std::cerr << "failed: " << command << "\n";
    return msSince(t0);
}

void rounds(benchmark::State& state, const Server& s) {
    benchpeers::Rounds first, second;
    for (auto _ : state) {
        for (int round = 0; round < benchpeers::roundCount(3); ++round) {
            double baseline = 0;
            Searched fresh, again;
            auto cache = std::make_shared<sitesearch::SiteSearchCache>();
            std::shared_ptr<files::FileProvider> provider;
            auto ours = [&] {
                provider = providerFor(s);
                fresh = searchOnce(provider, cache);
                again = searchOnce(provider, cache);
            };
            if (first.baselineFirst()) {
                baseline = sftpDownload(s);
                ours();
            } else {
                ours();
                baseline = sftpDownload(s);
            }
            if (fresh.summary.error || fresh.summary.progress.filesRead != 1000 || again.summary.readFromServer != 0) {
                std::cerr << "unexpected search: " << fresh.summary.error.value_or("") << " read "
                          << fresh.summary.progress.filesRead << ", second read " << again.summary.readFromServer << "\n";
            }
            first.add(baseline, fresh.ms);
            second.add(baseline, again.ms);
            provider.reset();
        }
    }
    first.report(state, "sftp_download_ms", "first_search_ms", "first_over_sftp");
    state.counters["second_search_ms"] = second.subject();
    std::cout << std::fixed << std::setprecision(2);
    first.print(std::cout, "1,000 files, 20 MB over SFTP at a " + std::to_string(static_cast<int>(2 * gDelayMs)) +
                               " ms round trip", "sftp -b get -r", "first search");
    std::cout << std::setprecision(2) << "first search / sftp download: " << first.ratio()
              << "; second search (no change): " << std::setprecision(0) << second.subject() << " ms\n";
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (const char* d = std::getenv("DRAVIX_BENCH_DELAY_MS")) gDelayMs = std::atof(d);
    gDir = fs::temp_directory_path() / ("dravix-bench-search-" + std::to_string(std::random_device{}()));
    fs::create_directories(gDir);
    auto start = [](const fs::path& dir, const std::string& kind) -> std::optional<Server> {
        auto s = benchpeers::startServer(dir, kind);
        if (!s) return s;
        gEnv = benchpeers::readEnv(dir / (kind + ".env"));
        makeSite(s->root);
        s->url = benchpeers::withPort(s->url, benchpeers::startDelayProxy(dir, kind, benchpeers::portOf(s->url), false,
                                                                          gDelayMs, gProxy));
        return s;
    };
    return benchpeers::runAgainstServers(gDir, {"sshd"}, "site_search", &rounds, 1, 1, start, [] {
        if (gProxy > 0) {
            ::kill(gProxy, SIGTERM);
            ::waitpid(gProxy, nullptr, 0);
        }
    });
}
