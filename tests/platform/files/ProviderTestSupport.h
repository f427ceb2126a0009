#pragma once
// Helpers for the provider tests: the local servers' connection data (written by the ctest
// fixtures of tests/peers), files on the servers' disks, and waiting for completions.

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/files/FileProvider.h"
#include "platform/files/Trust.h"
#include "platform/log/Log.h"

namespace filestest {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct Peer {
    std::string kind;
    std::string skipReason;  // not empty: the server cannot run here
    std::string url, user, password;
    int port = 0;
    fs::path root;
    std::map<std::string, std::string> values;  // everything the .env file says
};

inline Peer loadPeer(const std::string& kind) {
    Peer peer;
    peer.kind = kind;
    const char* dir = std::getenv("DRAVIX_PEERS_DIR");
    if (!dir || !*dir) {
        peer.skipReason = "DRAVIX_PEERS_DIR is not set: run this test through ctest, whose peer_" + kind +
                          " fixture starts the server";
        return peer;
    }
    std::ifstream in(fs::path(dir) / (kind + ".env"));
    if (!in) {
        peer.skipReason = "no " + kind + ".env in " + dir + ": the peer_" + kind + " fixture did not run";
        return peer;
    }
    std::map<std::string, std::string> values;
    for (std::string line; std::getline(in, line);) {
        auto eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    if (values.count("SKIP")) {
        peer.skipReason = kind + " is not available here: " + values["SKIP"];
        return peer;
    }
    peer.url = values["URL"];
    peer.user = values["USER"];
    peer.password = values["PASSWORD"];
    peer.port = values.count("PORT") ? std::atoi(values["PORT"].c_str()) : 0;
    peer.root = values["ROOT"];
    peer.values = values;
    return peer;
}

// For a peer with host keys (sshd): trust that knows them, from the peer's own known_hosts file,
// with an app folder of its own that stays empty. Nothing for the other peers.
inline std::shared_ptr<files::Trust> peerTrust(const Peer& peer) {
    auto it = peer.values.find("KNOWN_HOSTS");
    if (it == peer.values.end()) return nullptr;
    return std::make_shared<files::Trust>(fs::path(it->second).parent_path() / "no-app-folder", it->second);
}

// Files put on (or read from) a server's disk directly, readable and writable by the server's
// own user.
inline void writeDiskFile(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
    ::chmod(p.c_str(), 0666);
}
inline void makeDiskFolder(const fs::path& p) {
    if (fs::exists(p)) return;
    if (p.has_parent_path()) makeDiskFolder(p.parent_path());
    fs::create_directory(p);
    ::chmod(p.c_str(), 0777);
}
inline std::string readDiskFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The DER bytes of a PEM certificate file (a TLS peer's CERT); empty when it cannot be read.
inline std::string derOfPem(const fs::path& pem) {
    std::string der;
    if (FILE* f = std::fopen(pem.c_str(), "r")) {
        if (X509* x = PEM_read_X509(f, nullptr, nullptr, nullptr)) {
            unsigned char* out = nullptr;
            const int n = i2d_X509(x, &out);
            if (n > 0) der.assign(reinterpret_cast<char*>(out), static_cast<std::size_t>(n));
            OPENSSL_free(out);
            X509_free(x);
        }
        std::fclose(f);
    }
    return der;
}

// Records the calls of one completion: how many, with what, on which thread.
template <typename... Args>
class Capture {
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        int calls = 0;
        std::tuple<std::decay_t<Args>...> values;
        std::thread::id thread;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();

public:
    std::function<void(Args...)> callback() const {
        return [state = state_](Args... args) {
            std::lock_guard lock(state->mutex);
            ++state->calls;
            state->values = std::make_tuple(std::move(args)...);
            state->thread = std::this_thread::get_id();
            state->changed.notify_all();
        };
    }
    bool wait(std::chrono::milliseconds timeout = 30s) const {
        std::unique_lock lock(state_->mutex);
        return state_->changed.wait_for(lock, timeout, [&] { return state_->calls > 0; });
    }
    int calls() const {
        std::lock_guard lock(state_->mutex);
        return state_->calls;
    }
    std::thread::id thread() const {
        std::lock_guard lock(state_->mutex);
        return state_->thread;
    }
    template <std::size_t I>
    auto get() const {
        std::lock_guard lock(state_->mutex);
        return std::get<I>(state_->values);
    }
};

using DoneCapture = Capture<std::optional<files::FileError>>;
using ListCapture = Capture<std::vector<files::FileObject>, std::optional<files::FileError>>;
using DataCapture = Capture<std::optional<files::Bytes>, std::optional<files::FileError>>;
using VersionedRead = Capture<std::optional<files::Bytes>, files::FileVersion, std::optional<files::FileError>>;
using VersionedWrite = Capture<std::optional<files::FileVersion>, std::optional<files::FileError>>;

inline std::string describe(const std::optional<files::FileError>& e) {
    if (!e) return "no error";
    return std::string(files::kindName(e->kind)) + ": " + e->message;
}
}  // namespace filestest

namespace files {
// So that a failed expectation on a provider's answer says which error it was.
inline void PrintTo(const FileError& e, std::ostream* os) { *os << filestest::describe(e); }
}  // namespace files

namespace filestest {

// Waits for one completion; fails the test when none comes, or it runs on the caller's thread.
template <typename C>
void awaitOnce(const C& capture, std::chrono::milliseconds timeout = 30s) {
    ASSERT_TRUE(capture.wait(timeout)) << "no completion within " << timeout.count() << " ms";
    EXPECT_NE(capture.thread(), std::this_thread::get_id()) << "completion ran on the calling thread";
}

// Synchronous forms for test bodies.
struct Sync {
    files::FileProvider& p;

    std::pair<std::vector<files::FileObject>, std::optional<files::FileError>> list(const std::string& path) {
        ListCapture c;
        p.contentsOfDirectory(path, c.callback());
        awaitOnce(c);
        return {c.get<0>(), c.get<1>()};
    }
    std::pair<std::optional<files::Bytes>, std::optional<files::FileError>> read(const std::string& path) {
        DataCapture c;
        p.contents(path, c.callback());
        awaitOnce(c);
        return {c.get<0>(), c.get<1>()};
    }
    template <typename Start>
    std::optional<files::FileError> done(Start&& start) {
        DoneCapture c;
        start(c.callback());
        awaitOnce(c);
        return c.get<0>();
    }
    std::optional<files::FileError> write(const std::string& path, std::optional<files::Bytes> data,
                                          files::WriteMode mode = files::WriteMode::replace) {
        return done([&](auto cb) { p.writeContents(path, std::move(data), mode, cb); });
    }
    std::optional<files::FileError> mkdir(const std::string& name, const std::string& parent) {
        return done([&](auto cb) { p.createFolder(name, parent, cb); });
    }
    std::optional<files::FileError> move(const std::string& from, const std::string& to) {
        return done([&](auto cb) { p.moveItem(from, to, cb); });
    }
    std::optional<files::FileError> copy(const std::string& from, const std::string& to) {
        return done([&](auto cb) { p.copyItem(from, to, cb); });
    }
    std::optional<files::FileError> remove(const std::string& path) {
        return done([&](auto cb) { p.removeItem(path, cb); });
    }
    std::optional<files::FileError> login() {
        return done([&](auto cb) { p.checkLogin(cb); });
    }
};

// How many listings of `folder` (a path on the server, "/a/b") the peer's request log shows: LIST,
// MLSD and NLST commands on the FTP servers (vsftpd's log is followed per session, through its
// CWDs), PROPFIND requests on Apache. -1 when the peer keeps no such log.
inline int listingRequests(const Peer& peer, const std::string& folder) {
    auto it = peer.values.find("REQUEST_LOG");
    if (it == peer.values.end()) return -1;
    // The server writes its log with its first listing: none yet means no listing yet.
    if (!std::filesystem::exists(it->second)) return 0;
    std::ifstream in(it->second, std::ios::binary);
    if (!in) return -1;
    auto trimmed = [](std::string p) {
        while (p.size() > 1 && p.back() == '/') p.pop_back();
        return p;
    };
    const std::string wanted = trimmed(folder);
    auto isListing = [](const std::string& c) { return c == "LIST" || c == "MLSD" || c == "NLST"; };
    int count = 0;
    std::map<std::string, std::string> cwd;  // vsftpd: a session's folder, by its process id
    for (std::string line; std::getline(in, line);) {
        if (peer.kind == "vsftpd") {
            const auto pidAt = line.find("[pid ");
            const auto commandAt = line.find("FTP command: Client \"");
            if (pidAt == std::string::npos || commandAt == std::string::npos) continue;
            const std::string pid = line.substr(pidAt + 5, line.find(']', pidAt) - pidAt - 5);
            const auto open = line.find(", \"", commandAt);
            if (open == std::string::npos || line.size() < open + 4) continue;
            const std::string command = line.substr(open + 3, line.rfind('"') - open - 3);
            const auto space = command.find(' ');
            const std::string verb = command.substr(0, space);
            std::string arg = space == std::string::npos ? "" : command.substr(space + 1);
            if (verb == "CWD") {
                std::string& dir = cwd[pid];
                if (!arg.empty() && arg.front() == '/') dir = arg;
                else dir += (dir.empty() || dir.back() != '/' ? "/" : "") + arg;
            } else if (isListing(verb)) {
                // Options ("-a") name no folder; a name is taken in the session's folder.
                while (!arg.empty() && arg.front() == '-') {
                    const auto end = arg.find(' ');
                    arg = end == std::string::npos ? "" : arg.substr(end + 1);
                }
                const std::string& dir = cwd[pid];
                std::string listed = arg.empty() ? dir : arg.front() == '/' ? arg : dir + (dir.empty() || dir.back() != '/' ? "/" : "") + arg;
                if (trimmed(listed) == wanted) ++count;
            }
            continue;
        }
        const auto space = line.find(' ');
        if (space == std::string::npos) continue;
        const std::string verb = line.substr(0, space);
        const bool listing = peer.kind == "apache" ? verb == "PROPFIND" : isListing(verb);
        if (listing && trimmed(line.substr(space + 1)) == wanted) ++count;
    }
    return count;
}

// Collects what the providers log.
class LogCollector final : public xlog::Logger {
public:
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // How many lines hold `text`.
    std::size_t count(const std::string& text) {
        std::lock_guard lock(mutex_);
        std::size_t n = 0;
        for (const auto& line : lines_) n += line.find(text) != std::string::npos ? 1 : 0;
        return n;
    }

protected:
    void writeLine(const xlog::Message&, const std::string& line) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// A test against the server of its parameter's kind, in a folder of its own on the server's disk
// (removed again afterwards), with a provider for it.
class PeerFolderTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        peer_ = loadPeer(GetParam());
        if (!peer_.skipReason.empty()) GTEST_SKIP() << peer_.skipReason;
        connectTo(peer_.url);
        if (HasFatalFailure()) return;
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        dir_ = "/t_" + name;
        disk_ = peer_.root / dir_.substr(1);
        fs::remove_all(disk_);
        makeDiskFolder(disk_);
    }
    void TearDown() override {
        provider_.reset();
        if (!disk_.empty()) fs::remove_all(disk_);
    }
    // Makes the test's provider for the peer at url (the peer's own, or a relay's in front of it).
    void connectTo(const std::string& url) {
        files::ProviderOptions options;
        options.timeouts.connect = 10s;
        options.timeouts.reply = 20s;
        options.trust = peerTrust(peer_);
        provider_ = files::makeProvider(url, {peer_.user, peer_.password}, options);
        ASSERT_TRUE(provider_) << url;
    }
    // The names in the test's folder on the server's disk.
    std::set<std::string> diskNames() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(disk_)) names.insert(e.path().filename().string());
        return names;
    }

    Peer peer_;
    std::shared_ptr<files::FileProvider> provider_;
    std::string dir_;  // the folder's provider path
    fs::path disk_;    // the folder on the server's disk
};

// Files of 0 B, 10 B, 100 KB and 1.5 MB, a missing one, a folder, a refused path and forty
// small ones (more than one flight of SFTP requests), read with one contentsOfFiles call through
// `folder` (`disk` on the server's disk): each answered once, as a read of it alone would be;
// and a cancelled call that still answers each file once. Drops the provider (to see that
// nothing comes after).
void readsSeveralFilesInOneCall(std::shared_ptr<files::FileProvider>& provider, const fs::path& disk,
                                const std::string& folder);

inline const files::FileObject* findEntry(const std::vector<files::FileObject>& entries, const std::string& name) {
    for (const auto& e : entries) {
        if (e.name == name) return &e;
    }
    return nullptr;
}

// A provider that hands every call to another: tests derive from it to step into one call (hold
// it, reorder its answers) and leave the rest as the server answers them.
class ForwardingProvider : public files::FileProvider {
public:
    explicit ForwardingProvider(std::shared_ptr<files::FileProvider> inner) : inner_(std::move(inner)) {}

    files::ProviderKind kind() const override { return inner_->kind(); }
    std::string baseUrl() const override { return inner_->baseUrl(); }
    files::OperationHandle contentsOfDirectory(std::string path, files::ListCompletion completion) override {
        return listDirectory(std::move(path), {}, std::move(completion));
    }
    files::OperationHandle contents(std::string path, files::DataCompletion completion) override {
        return inner_->contents(std::move(path), std::move(completion));
    }
    files::OperationHandle writeContents(std::string path, std::optional<files::Bytes> data, files::WriteMode mode,
                                         files::Completion completion) override {
        return inner_->writeContents(std::move(path), std::move(data), mode, std::move(completion));
    }
    files::OperationHandle createFolder(std::string name, std::string parent, files::Completion completion) override {
        return inner_->createFolder(std::move(name), std::move(parent), std::move(completion));
    }
    files::OperationHandle copyItem(std::string from, std::string to, files::Completion completion) override {
        return inner_->copyItem(std::move(from), std::move(to), std::move(completion));
    }
    files::OperationHandle moveItem(std::string from, std::string to, files::Completion completion) override {
        return inner_->moveItem(std::move(from), std::move(to), std::move(completion));
    }
    files::OperationHandle removeItem(std::string path, files::Completion completion) override {
        return inner_->removeItem(std::move(path), std::move(completion));
    }
    files::OperationHandle checkLogin(files::Completion completion) override { return inner_->checkLogin(std::move(completion)); }
    void setTimeouts(const files::Timeouts& timeouts) override { inner_->setTimeouts(timeouts); }
    files::Timeouts timeouts() const override { return inner_->timeouts(); }

protected:
    files::OperationHandle listDirectory(std::string path, files::ListOptions options,
                                         files::ListCompletion completion) override {
        return inner_->contentsOfDirectory(std::move(path), std::move(options), std::move(completion));
    }
    std::shared_ptr<files::FileProvider> inner_;
};

}  // namespace filestest
