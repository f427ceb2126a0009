// Saving a 5 MB file with the check that the server's copy is still the version read, beside the
// same save without it, through the provider on FTP and WebDAV local servers. The checked save
// asks the server about the file once before it writes (MDTM and SIZE, or a HEAD) and once after
// (for the version written, unless the PUT's answer names it); the file is too big to be
// compared by content. Each round saves both ways back to back, in alternating order; the
// figures are medians of each side and of the rounds' own checked/plain ratios.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <random>
#include <string>

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

std::optional<files::FileError> plainSave(files::FileProvider& provider, const std::string& path, const std::string& bytes) {
    std::promise<std::optional<files::FileError>> done;
    auto future = done.get_future();
    provider.writeContents(path, bytes, files::WriteMode::replace,
                           [&done](std::optional<files::FileError> error) { done.set_value(std::move(error)); });
    return future.get();
}

// A save over `version`, which becomes the version written.
std::optional<files::FileError> checkedSave(files::FileProvider& provider, const std::string& path,
                                            const std::string& bytes, files::FileVersion& version) {
    std::promise<std::optional<files::FileError>> done;
    auto future = done.get_future();
    provider.writeContents(path, bytes, files::WriteMode::replace, version,
                           [&done, &version](std::optional<files::FileVersion> written, std::optional<files::FileError> error) {
                               if (written) version = std::move(*written);
                               done.set_value(std::move(error));
                           });
    return future.get();
}

files::FileVersion readVersion(files::FileProvider& provider, const std::string& path) {
    std::promise<files::FileVersion> done;
    auto future = done.get_future();
    provider.contentsAndVersion(path, [&done](std::optional<files::Bytes>, files::FileVersion version,
                                              std::optional<files::FileError>) { done.set_value(std::move(version)); });
    return future.get();
}

void pairedSave(benchmark::State& state, const Server& server) {
    const std::string a = content('a'), b = content('b');
    for (const char* name : {"plain.html", "checked.html"}) {
        std::ofstream(server.root / name, std::ios::binary) << a;
        fs::permissions(server.root / name, fs::perms(0666));
    }
    files::ProviderOptions options;
    options.workers = 1;
    auto provider = files::makeProvider(server.url, {server.user, server.password}, options);
    files::FileVersion version = readVersion(*provider, "/checked.html");
    if (version.empty()) state.SkipWithError("the server told nothing of the file");
    if (auto error = plainSave(*provider, "/plain.html", a)) state.SkipWithError(error->message.c_str());

    benchpeers::Rounds rounds;
    int round = 0;
    for (auto _ : state) {
        const std::string& bytes = (++round % 2) ? b : a;
        double plainMs = 0, checkedMs = 0;
        for (int turn = 0; turn < 2; ++turn) {
            const auto start = std::chrono::steady_clock::now();
            if ((turn == 0) == rounds.baselineFirst()) {
                if (auto error = plainSave(*provider, "/plain.html", bytes)) state.SkipWithError(error->message.c_str());
                plainMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            } else {
                if (auto error = checkedSave(*provider, "/checked.html", bytes, version))
                    state.SkipWithError(error->message.c_str());
                checkedMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            }
        }
        rounds.add(plainMs, checkedMs);
    }
    if (fs::file_size(server.root / "checked.html") != kSize) state.SkipWithError("the checked save lost bytes");
    rounds.report(state, "plain_ms", "checked_ms");
    rounds.print(std::cout, "checked_save_5mb/" + server.kind, "plain", "checked");
}

}  // namespace

int main(int argc, char** argv) {
    files::initializeNetworking();
    benchmark::Initialize(&argc, argv);
    fs::path dir = fs::temp_directory_path() / ("dravix-bench-checked-save-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms(0755));
    return benchpeers::runAgainstServers(dir, {"pyftpd", "vsftpd", "apache", "nginx", "lighttpd"}, "checked_save_5mb",
                                         pairedSave, benchpeers::roundCount(20), 1);
}
