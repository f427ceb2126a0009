// Saving a 5 MB file over FTP to local servers: through the provider, which writes a temporary
// file beside the old one, checks its size, gives it the old file's mode and renames it over
// the old one, and, in the same run, as a raw libcurl upload of the same bytes straight over
// the file on a kept connection (the least the server and the transfer cost). The provider may
// cost the extra round trips, no more.
//
// The program starts its own servers with tests/peers/peers.py (pyftpdlib, and vsftpd when run
// as root) in a temporary folder and stops them at the end. Each server's benchmark alternates
// raw and provider saves and reports the medians (raw_ms, provider_ms) and the median of the
// rounds' own provider/raw ratios.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "platform/files/FileProvider.h"

#include "BenchPeers.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kSize = 5 * 1024 * 1024;

using benchpeers::Server;

std::string content(char seed) {
    std::string text(kSize, ' ');
    for (std::size_t i = 0; i < kSize; ++i) text[i] = static_cast<char>('a' + (i * 31 + static_cast<std::size_t>(seed)) % 26);
    return text;
}

std::optional<files::FileError> providerSave(files::FileProvider& provider, const std::string& path, const std::string& bytes) {
    std::promise<std::optional<files::FileError>> done;
    auto future = done.get_future();
    provider.writeContents(path, bytes, files::WriteMode::replace,
                           [&done](std::optional<files::FileError> error) { done.set_value(std::move(error)); });
    return future.get();
}

// A plain STOR over the file on one kept connection.
class RawUploader {
public:
    RawUploader(const Server& server, const std::string& name) : e_(curl_easy_init()) {
        url_ = server.url + "/%2F" + name;
        curl_easy_setopt(e_, CURLOPT_URL, url_.c_str());
        curl_easy_setopt(e_, CURLOPT_USERNAME, server.user.c_str());
        curl_easy_setopt(e_, CURLOPT_PASSWORD, server.password.c_str());
        curl_easy_setopt(e_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e_, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
        curl_easy_setopt(e_, CURLOPT_FTP_SKIP_PASV_IP, 1L);
        curl_easy_setopt(e_, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(e_, CURLOPT_READFUNCTION, &RawUploader::read);
        curl_easy_setopt(e_, CURLOPT_READDATA, this);
    }
    ~RawUploader() { curl_easy_cleanup(e_); }
    RawUploader(const RawUploader&) = delete;
    RawUploader& operator=(const RawUploader&) = delete;
    CURLcode upload(const std::string& bytes) {
        data_ = &bytes;
        pos_ = 0;
        curl_easy_setopt(e_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bytes.size()));
        return curl_easy_perform(e_);
    }

private:
    static size_t read(char* out, size_t size, size_t count, void* self) {
        auto* u = static_cast<RawUploader*>(self);
        const size_t n = std::min(size * count, u->data_->size() - u->pos_);
        std::memcpy(out, u->data_->data() + u->pos_, n);
        u->pos_ += n;
        return n;
    }
    CURL* e_;
    std::string url_;
    const std::string* data_ = nullptr;
    size_t pos_ = 0;
};

void pairedSave(benchmark::State& state, const Server& server) {
    const std::string a = content('a'), b = content('b');
    // Both files exist; the provider's has a mode of its own to keep, the raw one is writable
    // by servers that run as another user than its owner.
    for (const char* name : {"raw.html", "saved.html"}) {
        std::ofstream(server.root / name, std::ios::binary) << a;
        ::chmod((server.root / name).c_str(), name[0] == 'r' ? 0666 : 0640);
    }
    RawUploader raw(server, "raw.html");
    files::ProviderOptions options;
    options.workers = 1;
    auto provider = files::makeProvider(server.url, {server.user, server.password}, options);
    raw.upload(a);
    if (auto error = providerSave(*provider, "/saved.html", a)) state.SkipWithError(error->message.c_str());

    benchpeers::Rounds rounds;
    int round = 0;
    for (auto _ : state) {
        const std::string& bytes = (++round % 2) ? b : a;
        const bool rawFirst = rounds.baselineFirst();
        double rawTime = 0, providerTime = 0;
        for (int turn = 0; turn < 2; ++turn) {
            const auto start = std::chrono::steady_clock::now();
            if ((turn == 0) == rawFirst) {
                if (CURLcode code = raw.upload(bytes); code != CURLE_OK) state.SkipWithError(curl_easy_strerror(code));
                rawTime = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            } else {
                if (auto error = providerSave(*provider, "/saved.html", bytes)) state.SkipWithError(error->message.c_str());
                providerTime = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            }
        }
        rounds.add(rawTime, providerTime);
    }
    struct stat st {};
    if (::stat((server.root / "saved.html").c_str(), &st) != 0 || (st.st_mode & 0777) != 0640 ||
        static_cast<std::size_t>(st.st_size) != kSize)
        state.SkipWithError("the saved file lost its size or mode");
    rounds.report(state, "raw_ms", "provider_ms", "ratio");
}

}  // namespace

int main(int argc, char** argv) {
    files::initializeNetworking();
    benchmark::Initialize(&argc, argv);
    fs::path dir = fs::temp_directory_path() / ("dravix-bench-ftp-save-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);

    return benchpeers::runAgainstServers(dir, {"pyftpd", "vsftpd"}, "ftp_save_5mb", pairedSave, 10, 3);
}
