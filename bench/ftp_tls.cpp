// Listing and saving over FTP with TLS (AUTH TLS, protected data connections) to local servers
// whose certificates the system does not know (vsftpd with a test CA's certificate, pure-ftpd
// with a self-signed one): through the provider, which trusts the certificate the user pinned,
// and beside it raw libcurl on a kept connection that trusts the server's CA file and asks for
// the same listing (MLSD where the server has it), the least the server and TLS cost. Each round runs both, alternating which goes first; the figures are
// medians over the rounds, with the median of the rounds' provider/raw ratios.
//
// The program starts its servers with tests/peers/peers.py in a temporary folder and stops them
// at the end (both need root here; a server that cannot run is left out).
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <iostream>
#include <map>
#include <random>
#include <string>

#include "platform/files/FileProvider.h"
#include "platform/files/Trust.h"

#include "BenchPeers.h"
#include "platform/files/ProviderTestSupport.h"

namespace fs = std::filesystem;

namespace {

using benchpeers::Rounds;
using benchpeers::Server;

constexpr int kEntries = 500;
constexpr std::size_t kSaveSize = 1024 * 1024;

fs::path gDir;
std::map<std::string, std::string> gCertificate, gCaFile;  // by kind: the server's certificate, what raw curl trusts

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Raw libcurl over TLS on one kept connection, verifying against the server's own CA file.
class RawTls {
public:
    explicit RawTls(const Server& server) : e_(curl_easy_init()), server_(server) {
        curl_easy_setopt(e_, CURLOPT_USERNAME, server.user.c_str());
        curl_easy_setopt(e_, CURLOPT_PASSWORD, server.password.c_str());
        curl_easy_setopt(e_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e_, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        curl_easy_setopt(e_, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
        // As the provider: vsftpd 3.0 breaks off uploads over TLS 1.3.
        curl_easy_setopt(e_, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2 | CURL_SSLVERSION_MAX_TLSv1_2));
        curl_easy_setopt(e_, CURLOPT_CAINFO, gCaFile[server.kind].c_str());
        curl_easy_setopt(e_, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
        curl_easy_setopt(e_, CURLOPT_FTP_SKIP_PASV_IP, 1L);
    }
    ~RawTls() { curl_easy_cleanup(e_); }
    RawTls(const RawTls&) = delete;
    RawTls& operator=(const RawTls&) = delete;

    // Paths count from the login folder. The listing the provider asks for: MLSD where the
    // server has it (the first call finds out), "LIST -a" elsewhere.
    CURLcode list(const std::string& folder, std::string& out) {
        out.clear();
        const std::string url = server_.url + "/" + folder + "/";
        curl_easy_setopt(e_, CURLOPT_UPLOAD, 0L);
        curl_easy_setopt(e_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(e_, CURLOPT_CUSTOMREQUEST, mlsd_ ? "MLSD" : "LIST -a");
        curl_easy_setopt(e_, CURLOPT_WRITEFUNCTION, &benchpeers::collect);
        curl_easy_setopt(e_, CURLOPT_WRITEDATA, &out);
        CURLcode code = curl_easy_perform(e_);
        if (code != CURLE_OK && mlsd_) {
            mlsd_ = false;
            return list(folder, out);
        }
        return code;
    }
    CURLcode store(const std::string& path, const std::string& bytes) {
        const std::string url = server_.url + "/" + path;
        data_ = &bytes;
        pos_ = 0;
        curl_easy_setopt(e_, CURLOPT_CUSTOMREQUEST, nullptr);
        curl_easy_setopt(e_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(e_, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(e_, CURLOPT_READFUNCTION, &RawTls::read);
        curl_easy_setopt(e_, CURLOPT_READDATA, this);
        curl_easy_setopt(e_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bytes.size()));
        return curl_easy_perform(e_);
    }

private:
    static size_t read(char* out, size_t size, size_t count, void* self) {
        auto* r = static_cast<RawTls*>(self);
        const size_t n = std::min(size * count, r->data_->size() - r->pos_);
        std::memcpy(out, r->data_->data() + r->pos_, n);
        r->pos_ += n;
        return n;
    }
    CURL* e_;
    const Server& server_;
    bool mlsd_ = true;
    const std::string* data_ = nullptr;
    size_t pos_ = 0;
};

// A provider that trusts the server's certificate as if the user had said so.
std::shared_ptr<files::FileProvider> trustingProvider(const Server& server) {
    const fs::path folder = gDir / ("trust-" + server.kind);
    auto trust = std::make_shared<files::Trust>(folder, folder / "known_hosts");
    files::Certificate certificate;
    certificate.der = filestest::derOfPem(gCertificate[server.kind]);
    const auto at = server.url.rfind(':');
    trust->addCertificate("127.0.0.1", std::stoi(server.url.substr(at + 1)), certificate);
    files::ProviderOptions options;
    options.workers = 1;
    options.trust = trust;
    return files::makeProvider(server.url, {server.user, server.password}, options);
}

template <typename Start>
std::optional<files::FileError> await(Start&& start) {
    std::promise<std::optional<files::FileError>> done;
    auto future = done.get_future();
    start([&done](std::optional<files::FileError> error) { done.set_value(std::move(error)); });
    return future.get();
}

// The rounds: each runs `raw` and `provider` (which return an error text, empty on success),
// in alternating order; the medians go to the benchmark's counters and to a line about `what`.
template <typename Raw, typename Provider>
void runRounds(benchmark::State& state, const std::string& what, Raw raw, Provider provider) {
    Rounds rounds;
    int round = 0;
    for (auto _ : state) {
        ++round;
        double rawMs = 0, providerMs = 0;
        for (int turn = 0; turn < 2; ++turn) {
            const bool rawTurn = (turn == 0) == rounds.baselineFirst();
            const auto start = std::chrono::steady_clock::now();
            const std::string error = rawTurn ? raw(round) : provider(round);
            if (!error.empty()) return state.SkipWithError(error.c_str());
            (rawTurn ? rawMs : providerMs) = msSince(start);
        }
        rounds.add(rawMs, providerMs);
    }
    rounds.report(state, "raw_ms", "provider_ms");
    rounds.print(std::cout, what, "raw", "provider");
}

std::string textOf(const std::optional<files::FileError>& error) { return error ? error->message : std::string(); }

void listing(benchmark::State& state, const Server& server) {
    RawTls raw(server);
    auto provider = trustingProvider(server);
    std::string body;
    auto listOnce = [&]() -> std::optional<files::FileError> {
        std::promise<std::optional<files::FileError>> done;
        auto future = done.get_future();
        provider->contentsOfDirectory("/big", [&done](std::vector<files::FileObject> entries,
                                                      std::optional<files::FileError> error) {
            if (!error && entries.size() != static_cast<std::size_t>(kEntries))
                error = files::FileError::make(files::ErrorKind::other, "a listing missed entries");
            done.set_value(std::move(error));
        });
        return future.get();
    };
    // Warm: both sides connected and logged in before the rounds.
    if (auto error = listOnce()) return state.SkipWithError(error->message.c_str());
    const std::string rawFolder = "big";  // from the login folder, as the provider's "/big"
    if (raw.list(rawFolder, body) != CURLE_OK) return state.SkipWithError("raw listing failed");
    runRounds(
        state, "listing of " + std::to_string(kEntries) + " entries over TLS, " + server.kind,
        [&](int) { return raw.list(rawFolder, body) == CURLE_OK ? std::string() : std::string("raw listing failed"); },
        [&](int) { return textOf(listOnce()); });
}

void saving(benchmark::State& state, const Server& server) {
    RawTls raw(server);
    auto provider = trustingProvider(server);
    const std::string a(kSaveSize, 'a'), b(kSaveSize, 'b');
    auto saveOnce = [&](const std::string& bytes) {
        return await([&](files::Completion c) { provider->writeContents("/saved.html", bytes, files::WriteMode::replace, c); });
    };
    const std::string rawPath = "raw.html";
    if (auto error = saveOnce(a)) return state.SkipWithError(error->message.c_str());
    if (raw.store(rawPath, a) != CURLE_OK) return state.SkipWithError("raw upload failed");
    auto bytesOf = [&](int round) -> const std::string& { return round % 2 ? b : a; };
    runRounds(
        state, "saving 1 MB over TLS, " + server.kind,
        [&](int round) {
            return raw.store(rawPath, bytesOf(round)) == CURLE_OK ? std::string() : std::string("raw upload failed");
        },
        [&](int round) { return textOf(saveOnce(bytesOf(round))); });
}

}  // namespace

int main(int argc, char** argv) {
    files::initializeNetworking();
    benchmark::Initialize(&argc, argv);
    gDir = fs::temp_directory_path() / ("dravix-bench-ftp-tls-" + std::to_string(std::random_device{}()));
    fs::create_directories(gDir);
    auto start = [](const fs::path& dir, const std::string& kind) -> std::optional<Server> {
        auto s = benchpeers::startServer(dir, kind);
        if (!s) return s;
        auto env = benchpeers::readEnv(dir / (kind + ".env"));
        gCertificate[kind] = env["CERT"];
        gCaFile[kind] = env.count("CA_CERT") ? env["CA_CERT"] : env["CERT"];
        benchpeers::makeBigFolder(s->root / "big", kEntries);
        return s;
    };
    // Each server: its listing, then its saving.
    return benchpeers::runAgainstServers(gDir, {"vsftpd-tls", "pureftpd-tls"},
                                         {{"ftp_tls_listing", &listing}, {"ftp_tls_save_1mb", &saving}},
                                         benchpeers::roundCount(15), 1, start);
}
