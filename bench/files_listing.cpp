// Listing a 10,000-entry folder from local servers: through the provider, from the call to the
// sorted listing record the explorer shows, and, in the same run, as a raw libcurl transfer of the same listing on a kept
// connection (what the server and the transfer cost at the least). Target: the provider's
// median at most 1.3 times the raw transfer's.
//
// The program starts its own servers with tests/peers/peers.py (pyftpdlib with MLSD, vsftpd
// with LIST when run as root, Apache with mod_dav) in a temporary folder and stops them at the
// end. Each server's benchmark alternates raw and provider listings and reports the medians
// (raw_ms, provider_ms) and the median of the per-round ratios; the time column is one raw plus
// one provider listing.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

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

#include "platform/files/FileProvider.h"
#include "tandrel/servers/VornConnectorUtilityClass.h"

#include "BenchPeers.h"

namespace fs = std::filesystem;

namespace {

constexpr int kEntries = 10000;
const char* kFolder = "/big";

using benchpeers::Server;
using benchpeers::collect;

std::optional<Server> startServer(const fs::path& dir, const std::string& kind) {
    return benchpeers::startServerWithBigFolder(dir, kind, kFolder, kEntries);
}

// ---- through the provider ------------------------------------------------------------------

// The listing as the explorer gets it: entries converted to listing records and sorted by name
// (what the app's listing completion does on the provider's worker).
std::shared_ptr<VornServerFilesDataModel> providerList(files::FileProvider& provider) {
    std::promise<std::shared_ptr<VornServerFilesDataModel>> done;
    auto future = done.get_future();
    provider.contentsOfDirectory(kFolder, [&done](std::vector<files::FileObject> entries, std::optional<files::FileError> error) {
        if (error) std::cerr << "listing failed: " << error->message << "\n";
        done.set_value(VornConnectorUtilityClass::convert_listing(kFolder, entries, EnumManager::file_explorer_sorting::name, true));
    });
    return future.get();
}

// ---- raw libcurl: the same request on one kept connection, bytes only ------------------------

class RawLister {
public:
    explicit RawLister(const Server& server) : e_(curl_easy_init()) {
        const bool ftp = server.url.rfind("ftp", 0) == 0;
        url_ = ftp ? server.url + "/%2F" + std::string(kFolder).substr(1) + "/" : server.url + kFolder + "/";
        curl_easy_setopt(e_, CURLOPT_URL, url_.c_str());
        curl_easy_setopt(e_, CURLOPT_USERNAME, server.user.c_str());
        curl_easy_setopt(e_, CURLOPT_PASSWORD, server.password.c_str());
        curl_easy_setopt(e_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e_, CURLOPT_WRITEFUNCTION, &collect);
        curl_easy_setopt(e_, CURLOPT_WRITEDATA, &body_);
        if (ftp) {
            curl_easy_setopt(e_, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
            curl_easy_setopt(e_, CURLOPT_FTP_SKIP_PASV_IP, 1L);
            curl_easy_setopt(e_, CURLOPT_CUSTOMREQUEST, server.kind == "vsftpd" ? "LIST -a" : "MLSD");
        } else {
            static const std::string propfind =
                "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:propfind xmlns:D=\"DAV:\"><D:prop><D:resourcetype/>"
                "<D:getcontentlength/><D:getlastmodified/><D:creationdate/></D:prop></D:propfind>";
            headers_ = curl_slist_append(headers_, "Depth: 1");
            headers_ = curl_slist_append(headers_, "Content-Type: application/xml; charset=utf-8");
            curl_easy_setopt(e_, CURLOPT_HTTPHEADER, headers_);
            curl_easy_setopt(e_, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
            curl_easy_setopt(e_, CURLOPT_CUSTOMREQUEST, "PROPFIND");
            curl_easy_setopt(e_, CURLOPT_POSTFIELDS, propfind.c_str());
            curl_easy_setopt(e_, CURLOPT_POSTFIELDSIZE, static_cast<long>(propfind.size()));
        }
    }
    ~RawLister() {
        curl_slist_free_all(headers_);
        curl_easy_cleanup(e_);
    }
    RawLister(const RawLister&) = delete;
    RawLister& operator=(const RawLister&) = delete;
    CURLcode list() {
        body_.clear();
        return curl_easy_perform(e_);
    }

private:
    CURL* e_;
    std::string url_, body_;
    curl_slist* headers_ = nullptr;
};

// Each iteration is a round: the folder listed once raw and once through the provider, taking
// turns at going first, so both see the same load on the machine. Counters: the two medians and
// the median of the rounds' own provider/raw ratios (not the ratio of the two medians).
void pairedListing(benchmark::State& state, const Server& server) {
    RawLister raw(server);
    auto provider = files::makeProvider(server.url, {server.user, server.password});
    // Warm up: the raw connection, and every provider worker's (as many listings at once).
    raw.list();
    {
        std::vector<std::future<void>> warm;
        for (int i = 0; i < files::ProviderOptions{}.workers; ++i)
            warm.push_back(std::async(std::launch::async, [&] { providerList(*provider); }));
    }
    benchpeers::Rounds rounds;
    std::vector<double> rawMs, providerMs;
    for (auto _ : state) {
        const bool rawFirst = rounds.baselineFirst();
        double rawTime = 0, providerTime = 0;
        for (int turn = 0; turn < 2; ++turn) {
            const auto start = std::chrono::steady_clock::now();
            if ((turn == 0) == rawFirst) {
                if (CURLcode code = raw.list(); code != CURLE_OK) state.SkipWithError(curl_easy_strerror(code));
                rawTime = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            } else {
                auto listing = providerList(*provider);
                if (listing->fileCount != kEntries) state.SkipWithError("wrong entry count");
                providerTime = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
                benchmark::DoNotOptimize(listing);
            }
        }
        rounds.add(rawTime, providerTime);
        rawMs.push_back(rawTime);
        providerMs.push_back(providerTime);
    }
    rounds.report(state, "raw_ms", "provider_ms", "ratio");
    auto mean = [](const std::vector<double>& v) { double sum = 0; for (double x : v) sum += x; return v.empty() ? 0 : sum / v.size(); };
    state.counters["raw_mean_ms"] = mean(rawMs);
    state.counters["provider_mean_ms"] = mean(providerMs);
}

}  // namespace

int main(int argc, char** argv) {
    files::initializeNetworking();
    benchmark::Initialize(&argc, argv);
    fs::path dir = fs::temp_directory_path() / ("dravix-bench-listing-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);

    return benchpeers::runAgainstServers(dir, {"pyftpd", "vsftpd", "apache"}, "listing", pairedListing, 12, 5, startServer);
}
