// SFTP against OpenSSH's sshd (started with tests/peers/peers.py): listing a 10,000-entry folder
// and saving a 100 KB file through the provider, each beside raw libssh on one kept connection
// of the same server (a listing read to its end; a write of the file over itself: the least a
// save costs). Rounds run the two back to back in alternating order; the figures are medians of
// each side and of the per-round ratios (provider / raw).
//
// Before the rounds it shows what libssh's own sftp_rename does over an existing file on this
// server: it sends the plain SFTP rename, which OpenSSH refuses there; the provider's saves send
// posix-rename@openssh.com themselves.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <future>
#include <iostream>
#include <random>

#include "BenchPeers.h"
#include "platform/files/FileProvider.h"
#include "platform/files/Trust.h"

namespace fs = std::filesystem;

namespace {

constexpr int kEntries = 10000;
const char* kFolder = "/big";
const std::size_t kSaveBytes = 100 * 1024;

using benchpeers::Server;

fs::path gDir;

// Raw libssh: one connection, password login, the SFTP channel.
class RawSftp {
public:
    explicit RawSftp(const Server& server) {
        const std::string rest = server.url.substr(std::string("sftp://").size());
        const std::string host = rest.substr(0, rest.find(':'));
        const int port = std::atoi(rest.substr(rest.find(':') + 1).c_str());
        ssh_ = ssh_new();
        int no = 0;
        ssh_options_set(ssh_, SSH_OPTIONS_PROCESS_CONFIG, &no);
        ssh_options_set(ssh_, SSH_OPTIONS_HOST, host.c_str());
        ssh_options_set(ssh_, SSH_OPTIONS_PORT, &port);
        ssh_options_set(ssh_, SSH_OPTIONS_USER, server.user.c_str());
        int on = 1;  // as the provider's own socket: no waiting for delayed acknowledgements
        ssh_options_set(ssh_, SSH_OPTIONS_NODELAY, &on);
        ok_ = ssh_connect(ssh_) == SSH_OK && ssh_userauth_password(ssh_, nullptr, server.password.c_str()) == SSH_AUTH_SUCCESS;
        if (ok_) {
            sftp_ = sftp_new(ssh_);
            ok_ = sftp_ && sftp_init(sftp_) == SSH_OK;
        }
        if (ok_) {
            char* home = sftp_canonicalize_path(sftp_, ".");
            home_ = home ? home : "/";
            ssh_string_free_char(home);
        }
    }
    ~RawSftp() {
        if (sftp_) sftp_free(sftp_);
        ssh_disconnect(ssh_);
        ssh_free(ssh_);
    }
    bool ok() const { return ok_; }
    std::string at(const std::string& path) const { return home_ + path; }

    int list(const std::string& folder) {
        sftp_dir dir = sftp_opendir(sftp_, at(folder).c_str());
        if (!dir) return -1;
        int n = 0;
        while (sftp_attributes a = sftp_readdir(sftp_, dir)) {
            ++n;
            sftp_attributes_free(a);
        }
        sftp_closedir(dir);
        return n - 2;  // "." and ".."
    }
    bool write(const std::string& file, const std::string& bytes) {
        sftp_file f = sftp_open(sftp_, at(file).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (!f) return false;
        bool ok = true;
        for (std::size_t at = 0; ok && at < bytes.size(); at += 64 * 1024) {
            const std::size_t n = std::min<std::size_t>(64 * 1024, bytes.size() - at);
            ok = sftp_write(f, bytes.data() + at, n) == static_cast<ssize_t>(n);
        }
        return sftp_close(f) == SSH_NO_ERROR && ok;
    }
    int rename(const std::string& from, const std::string& to) { return sftp_rename(sftp_, at(from).c_str(), at(to).c_str()); }

private:
    ssh_session ssh_ = nullptr;
    sftp_session sftp_ = nullptr;
    std::string home_;
    bool ok_ = false;
};

std::shared_ptr<files::FileProvider> providerFor(const Server& server) {
    const auto env = benchpeers::readEnv(gDir / "sshd.env");
    files::ProviderOptions options;
    options.trust = std::make_shared<files::Trust>(gDir / "app", env.at("KNOWN_HOSTS"));
    return files::makeProvider(server.url, {server.user, server.password}, options);
}

template <typename Start>
double timed(Start&& start) {
    const auto t0 = std::chrono::steady_clock::now();
    start();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

void paired(benchmark::State& state, const Server& server, bool saving) {
    RawSftp raw(server);
    auto provider = providerFor(server);
    if (!raw.ok() || !provider) {
        state.SkipWithError("no connection");
        return;
    }
    std::string bytes(kSaveBytes, 'x');
    for (std::size_t i = 0; i < bytes.size(); i += 61) bytes[i] = static_cast<char>('a' + i % 26);
    auto providerRun = [&] {
        std::promise<std::optional<files::FileError>> done;
        if (saving) {
            provider->writeContents("/page.html", bytes, files::WriteMode::replace,
                                    [&done](std::optional<files::FileError> e) { done.set_value(e); });
        } else {
            provider->contentsOfDirectory(kFolder, [&done](std::vector<files::FileObject> entries,
                                                           std::optional<files::FileError> e) {
                if (!e && entries.size() != kEntries) e = files::FileError::make(files::ErrorKind::other, "wrong count");
                done.set_value(e);
            });
        }
        if (auto e = done.get_future().get()) std::cerr << "provider: " << e->message << "\n";
    };
    auto rawRun = [&] {
        if (saving ? !raw.write("/page.html", bytes) : raw.list(kFolder) != kEntries) std::cerr << "raw libssh failed\n";
    };
    // Warm up every provider worker's connection.
    {
        std::vector<std::future<void>> warm;
        for (int i = 0; i < files::ProviderOptions{}.workers; ++i) warm.push_back(std::async(std::launch::async, providerRun));
    }
    rawRun();
    benchpeers::Rounds rounds;
    for (auto _ : state) {
        double r = 0, p = 0;
        if (rounds.baselineFirst()) {
            r = timed(rawRun);
            p = timed(providerRun);
        } else {
            p = timed(providerRun);
            r = timed(rawRun);
        }
        rounds.add(r, p);
    }
    rounds.report(state, "raw_libssh_ms", "provider_ms", "ratio");
    rounds.print(std::cout, std::string(saving ? "save 100 KB" : "list 10,000 entries") + " over SFTP", "raw libssh",
                 "provider");
}

void listing(benchmark::State& state, const Server& server) { paired(state, server, false); }
void saving(benchmark::State& state, const Server& server) { paired(state, server, true); }

// sftp_rename over an existing file: what libssh does on this server.
void checkRename(const Server& server) {
    RawSftp raw(server);
    if (!raw.ok()) return;
    raw.write("/rename-a", "a");
    raw.write("/rename-b", "b");
    std::cout << "libssh sftp_rename over an existing file on OpenSSH: "
              << (raw.rename("/rename-a", "/rename-b") == 0 ? "replaced it" : "refused (a plain SFTP rename)") << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    gDir = fs::temp_directory_path() / ("dravix-bench-sftp-" + std::to_string(std::random_device{}()));
    fs::create_directories(gDir);
    auto start = [](const fs::path& dir, const std::string& kind) {
        auto server = benchpeers::startServerWithBigFolder(dir, kind, kFolder, kEntries);
        if (server) checkRename(*server);
        return server;
    };
    return benchpeers::runAgainstServers(gDir, {"sshd"}, {{"sftp_listing", &listing}, {"sftp_save", &saving}},
                                         benchpeers::roundCount(30), 1, start);
}
