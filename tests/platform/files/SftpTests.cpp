// What only the SFTP provider does, against OpenSSH's sshd (the peer "sshd"): saves that replace
// the file in one rename and keep its permission bits, links listed as links, "%2F" paths, key
// logins, checked writes, a connection the server dropped while idle, and host keys: unknown,
// accepted, refused, known, changed and revoked, each checked against sshd's own log for what
// reached it (no login attempt before the key is trusted), and logins by keyboard-interactive
// prompts and by ssh-agent. Saves cut at each of their steps (a hook of the save algorithm cuts
// the connection there) leave the old or the new file under its name and say which; a folder
// that takes no new file gets the file written in place. Also the known_hosts reading and the
// fingerprints, against OpenSSH's ssh-keygen.

#include <fcntl.h>
#include <arpa/inet.h>
#include <linux/landlock.h>
#include <netinet/in.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "ProviderTestSupport.h"
#include "SshTestSupport.h"
#include "platform/defaults/Base64.h"
#include "platform/files/RemotePath.h"
#include "platform/files/SftpWire.h"
#include "platform/files/SshSetup.h"
#include "platform/files/Save.h"
#include "platform/files/TrustHostKeys.h"
#include "platform/files/VersionCheck.h"

using namespace filestest;
using namespace sshtest;
using files::ErrorKind;
using files::WriteMode;

namespace {


std::string randomTag() {
    std::random_device random;
    char tag[13];
    std::snprintf(tag, sizeof tag, "%06x%06x", random() & 0xffffff, random() & 0xffffff);
    return tag;
}

// The key of a ".pub" file ("ssh-ed25519 AAAA... comment").
files::HostKey publicKey(const fs::path& pub) {
    std::istringstream fields(readDiskFile(pub));
    std::string type, base64;
    fields >> type >> base64;
    return {type, defaults::base64Decode(base64).value_or("")};
}

// ssh-keygen -l's fingerprint of a key file ("256 SHA256:... comment (ED25519)").
std::string keygenFingerprint(const fs::path& file) {
    auto [status, out] = run("ssh-keygen -l -E sha256 -f '" + file.string() + "'");
    std::istringstream fields(out);
    std::string bits, fingerprint;
    fields >> bits >> fingerprint;
    return status == 0 ? fingerprint : "ssh-keygen failed: " + out;
}


// Records the questions and answers each with `answer`; checks at the moment of asking that the
// server has seen no login for `watchedUser` (when one is set).
class RecordingAsker final : public files::TrustAsker {
public:
    explicit RecordingAsker(bool answer, fs::path log = {}, std::string watchedUser = {})
        : answer_(answer), log_(std::move(log)), watchedUser_(std::move(watchedUser)) {}
    void ask(files::TrustQuestion question, std::function<void(bool)> answer) override {
        {
            std::lock_guard lock(mutex_);
            questions_.push_back(question);
            if (!watchedUser_.empty() && readDiskFile(log_).find("user " + watchedUser_) != std::string::npos)
                loginBeforeQuestion_ = true;
        }
        answer(answer_ && question.acceptable);
    }
    std::vector<files::TrustQuestion> questions() {
        std::lock_guard lock(mutex_);
        return questions_;
    }
    bool loginBeforeQuestion() {
        std::lock_guard lock(mutex_);
        return loginBeforeQuestion_;
    }

private:
    const bool answer_;
    const fs::path log_;
    const std::string watchedUser_;
    std::mutex mutex_;
    std::vector<files::TrustQuestion> questions_;
    bool loginBeforeQuestion_ = false;
};

// Logged in (nothing), or refused with that kind of error.
void expectOutcome(const std::optional<files::FileError>& error, std::optional<ErrorKind> refused) {
    if (!refused) {
        EXPECT_FALSE(error) << describe(error);
        return;
    }
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, *refused) << describe(error);
}

class SftpPeerTest : public ::testing::Test {
protected:
    void SetUp() override {
        peer_ = loadPeer("sshd");
        if (!peer_.skipReason.empty()) GTEST_FAIL() << peer_.skipReason;  // this peer must run
        options_.timeouts.connect = 10s;
        options_.timeouts.reply = 20s;
        options_.trust = peerTrust(peer_);
        provider_ = files::makeProvider(peer_.url, {peer_.user, peer_.password}, options_);
        ASSERT_TRUE(provider_);
        ASSERT_EQ(provider_->kind(), files::ProviderKind::sftp);
        dir_ = "/t_sftp_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
        disk_ = peer_.root / dir_.substr(1);
        fs::remove_all(disk_);
        makeDiskFolder(disk_);
        log_ = peer_.values["LOG"];
        hostKey_ = publicKey(peer_.values["HOST_KEY"]);
    }
    void TearDown() override {
        provider_.reset();
        if (!disk_.empty()) fs::remove_all(disk_);
    }

    Sync sync() { return Sync{*provider_}; }
    std::string at(const std::string& name) const { return dir_ + "/" + name; }
    std::string knownName() const { return "[127.0.0.1]:" + std::to_string(peer_.port); }
    // How many lines of sshd's log hold `text`.
    std::size_t logged(const std::string& text) const {
        std::istringstream lines(readDiskFile(log_));
        std::size_t n = 0;
        for (std::string line; std::getline(lines, line);) n += line.find(text) != std::string::npos;
        return n;
    }
    // Waits until the log has a line with `text` (sshd writes it from another process).
    bool waitLogged(const std::string& text, std::size_t atLeast = 1) const {
        for (auto until = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < until;) {
            if (logged(text) >= atLeast) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
    std::shared_ptr<files::FileProvider> providerWith(std::shared_ptr<files::Trust> trust, const std::string& user,
                                                      const std::string& password, const std::string& url = {}) {
        files::ProviderOptions options = options_;
        options.trust = std::move(trust);
        return files::makeProvider(url.empty() ? peer_.url : url, {user, password}, options);
    }

    // A provider of one connection to `alias`, which the user's configuration in `home` sends to
    // 127.0.0.1:port with these lines more (the home already taken as the client's).
    std::shared_ptr<files::FileProvider> configuredProvider(const fs::path& home, const std::string& alias, int port,
                                                            const std::string& lines) {
        makeDiskFolder(home / ".ssh");
        writeDiskFile(home / ".ssh/config",
                      "Host " + alias + "\n    HostName 127.0.0.1\n    Port " + std::to_string(port) + "\n" + lines);
        files::ProviderOptions options = options_;
        options.workers = 1;
        return files::makeProvider("sftp://" + alias + "/", {peer_.user, peer_.password}, options);
    }

    Peer peer_;
    files::ProviderOptions options_;
    std::shared_ptr<files::FileProvider> provider_;
    std::string dir_;
    fs::path disk_;
    fs::path log_;
    files::HostKey hostKey_;
};

// ---- saves, listings, paths ----------------------------------------------------------------

// What happened to names in a folder on the server's disk, as inotify tells it.
class FolderEvents {
public:
    explicit FolderEvents(const fs::path& folder) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        ::inotify_add_watch(fd_, folder.c_str(), IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE | IN_CREATE);
    }
    ~FolderEvents() { ::close(fd_); }
    // "moved_from NAME", "moved_to NAME", "delete NAME", "create NAME", in order.
    std::vector<std::string> take() {
        std::vector<std::string> out;
        alignas(inotify_event) char buffer[8192];
        for (ssize_t n; (n = ::read(fd_, buffer, sizeof buffer)) > 0;) {
            for (char* p = buffer; p < buffer + n;) {
                auto* e = reinterpret_cast<inotify_event*>(p);
                const std::string name = e->len ? e->name : "";
                const char* what = e->mask & IN_MOVED_FROM ? "moved_from " : e->mask & IN_MOVED_TO ? "moved_to "
                                   : e->mask & IN_DELETE   ? "delete "
                                                           : "create ";
                out.push_back(what + name);
                p += sizeof(inotify_event) + e->len;
            }
        }
        return out;
    }

private:
    int fd_;
};

// The name of the file is never without it: only the temporary copy moves, onto the file.
TEST_F(SftpPeerTest, ASaveReplacesTheFileInOneRenameAndKeepsItsMode) {
    for (unsigned mode : {0640u, 0755u, 0600u}) {
        SCOPED_TRACE(mode);
        const fs::path file = disk_ / "page.php";
        writeDiskFile(file, "old contents, longer than the new ones");
        ::chmod(file.c_str(), mode);
        struct stat before {};
        ASSERT_EQ(::stat(file.c_str(), &before), 0);

        FolderEvents events(disk_);
        ASSERT_EQ(sync().write(at("page.php"), std::string("new")), std::nullopt);
        struct stat after {};
        ASSERT_EQ(::stat(file.c_str(), &after), 0);
        EXPECT_EQ(readDiskFile(file), "new");
        EXPECT_EQ(after.st_mode & 07777, mode);
        EXPECT_NE(after.st_ino, before.st_ino) << "the file was written in place, not replaced";
        EXPECT_EQ(std::distance(fs::directory_iterator(disk_), fs::directory_iterator()), 1) << "a temporary file was left";
        const auto seen = events.take();
        ASSERT_EQ(seen.size(), 3u) << ::testing::PrintToString(seen);
        EXPECT_EQ(seen[0].rfind("create .page.dravix-", 0), 0u) << seen[0];
        EXPECT_EQ(seen[0].substr(seen[0].size() - 4), ".php") << "the copy ends in the file's extension";
        EXPECT_EQ(seen[1], "moved_from " + seen[0].substr(7));
        EXPECT_EQ(seen[2], "moved_to page.php");
    }
}

// A server that refuses posix-rename: the old file goes aside, the new one takes its name, the
// old one goes; the name never holds part of the new bytes, and the mode is kept.
TEST_F(SftpPeerTest, WithoutPosixRenameTheOldFileStepsAsideUntilTheNewOneIsIn) {
    auto provider = providerWith(options_.trust, peer_.user, peer_.password, peer_.values["PLAIN_RENAME_URL"]);
    Sync s{*provider};
    const fs::path file = disk_ / "page.php";
    writeDiskFile(file, "old");
    ::chmod(file.c_str(), 0640);
    FolderEvents events(disk_);
    ASSERT_FALSE(s.write(at("page.php"), std::string("the new contents")));
    EXPECT_EQ(readDiskFile(file), "the new contents");
    struct stat after {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(std::distance(fs::directory_iterator(disk_), fs::directory_iterator()), 1) << "a temporary file was left";
    const auto seen = events.take();
    // OpenSSH's plain rename links the new name and unlinks the old one.
    const auto aside = std::find(seen.begin(), seen.end(), "moved_from page.php");
    ASSERT_NE(aside, seen.end()) << ::testing::PrintToString(seen);
    EXPECT_TRUE(std::find(aside, seen.end(), "create page.php") != seen.end() ||
                std::find(aside, seen.end(), "moved_to page.php") != seen.end())
        << ::testing::PrintToString(seen);

    // A file that is not there yet is simply renamed into place.
    ASSERT_FALSE(s.write(at("new.php"), std::string("fresh")));
    EXPECT_EQ(readDiskFile(disk_ / "new.php"), "fresh");
}

// Listings, reads and writes keep many requests on their way: every name and every byte still
// arrives once and in place, at the sizes where a request's answer ends (OpenSSH sends a hundred
// names an answer; a read or write request carries 64 KB).
TEST_F(SftpPeerTest, ManyRequestsOnTheirWayLoseNoNameAndNoByte) {
    for (int count : {0, 1, 99, 100, 101, 250, 3001}) {
        SCOPED_TRACE("folder of " + std::to_string(count));
        const std::string folder = "list" + std::to_string(count);
        makeDiskFolder(disk_ / folder);
        std::set<std::string> names;
        for (int i = 0; i < count; ++i) {
            const std::string name = "page " + std::to_string(i) + (i % 3 ? ".html" : ".php");
            writeDiskFile(disk_ / folder / name, std::to_string(i));
            names.insert(name);
        }
        auto [entries, error] = sync().list(at(folder));
        ASSERT_FALSE(error) << describe(error);
        std::multiset<std::string> listed;
        for (const auto& e : entries) listed.insert(e.name);
        EXPECT_EQ(listed, std::multiset<std::string>(names.begin(), names.end()));
    }
    std::mt19937 random(7);
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{65535}, std::size_t{65536}, std::size_t{65537},
                             std::size_t{20 * 1024}, std::size_t{1024 * 1024 + 3}, std::size_t{5 * 1024 * 1024}}) {
        SCOPED_TRACE("file of " + std::to_string(size));
        std::string bytes(size, '\0');
        for (auto& c : bytes) c = static_cast<char>(random());
        const std::string name = "file" + std::to_string(size);
        ASSERT_EQ(sync().write(at(name), bytes), std::nullopt);
        EXPECT_TRUE(readDiskFile(disk_ / name) == bytes) << "the server's copy differs";
        writeDiskFile(disk_ / (name + ".disk"), bytes);
        auto [read, error] = sync().read(at(name + ".disk"));
        ASSERT_FALSE(error) << describe(error);
        ASSERT_TRUE(read);
        EXPECT_TRUE(*read == bytes) << "read " << read->size() << " bytes";
    }
}

// A listing asked with a batch callback hands its entries over part by part while they arrive:
// every part before the completion, none twice, together the completion's whole list in order.
TEST_F(SftpPeerTest, AListingHandsOverItsEntriesPartByPartBeforeItsCompletion) {
    struct Case {
        int count;
        std::size_t fewestParts;
    };
    for (const Case& c : {Case{0, 0}, Case{99, 0}, Case{100, 1}, Case{250, 2}, Case{3001, 30}}) {
        SCOPED_TRACE("folder of " + std::to_string(c.count));
        const std::string folder = "parts" + std::to_string(c.count);
        makeDiskFolder(disk_ / folder);
        for (int i = 0; i < c.count; ++i) writeDiskFile(disk_ / folder / ("entry-" + std::to_string(i) + ".html"), "x");
        std::mutex mutex;
        std::vector<std::string> handed;
        std::size_t parts = 0;
        bool completed = false, partAfterCompletion = false;
        files::ListOptions options;
        options.batch = [&](std::vector<files::FileObject> entries) {
            std::lock_guard lock(mutex);
            ++parts;
            partAfterCompletion = partAfterCompletion || completed || entries.empty();
            for (const auto& e : entries) handed.push_back(e.path);
        };
        ListCapture list;
        auto complete = list.callback();
        provider_->contentsOfDirectory(at(folder), options, [&, complete](std::vector<files::FileObject> entries,
                                                                          std::optional<files::FileError> error) {
            {
                std::lock_guard lock(mutex);
                completed = true;
            }
            complete(std::move(entries), std::move(error));
        });
        ASSERT_TRUE(list.wait());
        ASSERT_FALSE(list.get<1>()) << describe(list.get<1>());
        std::vector<std::string> whole;
        for (const auto& e : list.get<0>()) whole.push_back(e.path);
        std::lock_guard lock(mutex);
        EXPECT_FALSE(partAfterCompletion) << "a part came after the completion, or an empty one";
        EXPECT_GE(parts, c.fewestParts);
        EXPECT_EQ(whole.size(), static_cast<std::size_t>(c.count));
        // The parts are what the completion has, in its order; the entries after the last part
        // come only in the completion.
        ASSERT_LE(handed.size(), whole.size());
        EXPECT_TRUE(std::equal(handed.begin(), handed.end(), whole.begin()));
        EXPECT_GE(handed.size() + 100, whole.size());
    }
}

// SFTP starts with the subsystem request sent without waiting for its answer: with the subsystem
// there, the server's VERSION and its extensions come back; a subsystem the server refuses is
// told as such at once, not waited for until the reply timeout (an hour here, for the session's
// calls too). sshd's log shows each request.
// A libssh session logged in to the peer with its password, without the provider.
struct RawSession {
    ssh_session ssh = ssh_new();
    ~RawSession() {
        ssh_disconnect(ssh);
        ssh_free(ssh);
    }
};
void logIn(RawSession& raw, const Peer& peer) {
    ssh_session ssh = raw.ssh;
    ASSERT_TRUE(ssh);
    const unsigned port = static_cast<unsigned>(peer.port);
    ssh_options_set(ssh, SSH_OPTIONS_HOST, "127.0.0.1");
    ssh_options_set(ssh, SSH_OPTIONS_PORT, &port);
    ssh_options_set(ssh, SSH_OPTIONS_USER, peer.user.c_str());
    const long hour = 3600;
    ssh_options_set(ssh, SSH_OPTIONS_TIMEOUT, &hour);
    ASSERT_EQ(ssh_connect(ssh), SSH_OK) << ssh_get_error(ssh);
    ASSERT_EQ(ssh_userauth_password(ssh, nullptr, peer.password.c_str()), SSH_AUTH_SUCCESS) << ssh_get_error(ssh);
}

TEST_F(SftpPeerTest, SftpStartsWithoutWaitingForTheSubsystemsAnswerAndTellsARefusalAtOnce) {
    RawSession raw;
    ASSERT_NO_FATAL_FAILURE(logIn(raw, peer_));
    ssh_session ssh = raw.ssh;
    struct Case {
        const char* subsystem;
        bool starts;
        const char* logLine;
    };
    for (const Case& c : {Case{"no-such-subsystem", false, "subsystem request for no-such-subsystem by user"},
                          Case{"sftp", true, "subsystem: internal-sftp"}}) {
        SCOPED_TRACE(c.subsystem);
        const std::size_t before = logged(c.logLine);
        files::sftpwire::Wire::Extensions extensions;
        sftp_session sftp = files::sftpwire::start(ssh, std::chrono::hours(1), extensions, c.subsystem);
        EXPECT_EQ(sftp != nullptr, c.starts) << ssh_get_error(ssh);
        EXPECT_TRUE(waitLogged(c.logLine, before + 1));
        if (!sftp) {
            EXPECT_TRUE(extensions.empty());
            continue;
        }
        EXPECT_EQ(sftp->version, 3);
        EXPECT_NE(std::find(extensions.begin(), extensions.end(), std::pair<std::string, std::string>("posix-rename@openssh.com", "1")),
                  extensions.end());
        // The channel is in step: libssh's own calls work on it.
        writeDiskFile(disk_ / "started.html", "x");
        sftp_attributes a = sftp_stat(sftp, (dir_.substr(1) + "/started.html").c_str());
        EXPECT_TRUE(a) << ssh_get_error(ssh);
        if (a) sftp_attributes_free(a);
        sftp_free(sftp);
    }
}

// The server may send megabytes that nobody has read yet (libssh alone lets it send 64,000
// bytes, later 1,280,000), so READs on their way are answered at the link's pace: here the
// answers to 3 MB of READs all arrive while nothing is read.
TEST_F(SftpPeerTest, AnswersToMegabytesOfReadsComeBeforeAnyIsRead) {
    RawSession raw;
    ASSERT_NO_FATAL_FAILURE(logIn(raw, peer_));
    files::sftpwire::Wire::Extensions extensions;
    sftp_session sftp = files::sftpwire::start(raw.ssh, std::chrono::hours(1), extensions, "sftp");
    ASSERT_TRUE(sftp) << ssh_get_error(raw.ssh);
    struct FreeSftp {
        sftp_session s;
        ~FreeSftp() { sftp_free(s); }
    } freeSftp{sftp};
    constexpr std::uint32_t kRead = 64 * 1024, kReads = 48;
    std::string bytes(kRead * kReads, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 / 5);
    writeDiskFile(disk_ / "big.bin", bytes);
    sftp_file file = sftp_open(sftp, (dir_.substr(1) + "/big.bin").c_str(), O_RDONLY, 0);
    ASSERT_TRUE(file) << ssh_get_error(raw.ssh);
    const std::string handle(static_cast<const char*>(ssh_string_data(file->handle)), ssh_string_len(file->handle));

    files::sftpwire::Wire wire(sftp, std::chrono::hours(1));
    std::vector<std::uint32_t> ids;
    for (std::uint32_t k = 0; k < kReads; ++k)
        ids.push_back(wire.post(SSH_FXP_READ, files::sftpwire::readRequest(handle, std::uint64_t{k} * kRead, kRead)));
    ASSERT_EQ(std::count(ids.begin(), ids.end(), 0u), 0);
    // Each answer: length, type, id, the data's length, the data.
    const int all = static_cast<int>(kReads * (kRead + 13));
    for (auto until = std::chrono::steady_clock::now() + 60s;
         ssh_channel_poll(sftp->channel, 0) < all && std::chrono::steady_clock::now() < until;)
        ssh_channel_poll_timeout(sftp->channel, 100, 1);  // takes in what comes (nothing on its stream)
    EXPECT_EQ(ssh_channel_poll(sftp->channel, 0), all);

    std::string read;
    for (std::uint32_t id : ids) {
        files::sftpwire::Wire::Answer answer;
        ASSERT_TRUE(wire.await(id, answer));
        std::string_view in(answer.body), data;
        ASSERT_EQ(answer.type, SSH_FXP_DATA);
        ASSERT_TRUE(files::sftpwire::takeString(in, data));
        read += data;
    }
    EXPECT_TRUE(read == bytes);
    sftp_close(file);
}

TEST_F(SftpPeerTest, ASaveThroughALinkWritesTheFileItPointsTo) {
    writeDiskFile(disk_ / "real.html", "old");
    fs::create_symlink("real.html", disk_ / "current.html");
    ASSERT_EQ(sync().write(at("current.html"), std::string("new")), std::nullopt);
    EXPECT_TRUE(fs::is_symlink(disk_ / "current.html"));
    EXPECT_EQ(readDiskFile(disk_ / "real.html"), "new");
}

TEST_F(SftpPeerTest, ListsLinksAsLinksAndTellsModes) {
    writeDiskFile(disk_ / "private.txt", "1234");
    ::chmod((disk_ / "private.txt").c_str(), 0640);
    makeDiskFolder(disk_ / "folder");
    fs::create_symlink("private.txt", disk_ / "to file");
    fs::create_symlink("folder", disk_ / "to folder");
    fs::create_symlink("nowhere", disk_ / "dangling");

    auto [entries, error] = sync().list(dir_);
    ASSERT_FALSE(error) << describe(error);
    ASSERT_EQ(entries.size(), 5u);
    const struct {
        const char* name;
        files::FileType type;
    } expected[] = {{"private.txt", files::FileType::regular},
                    {"folder", files::FileType::directory},
                    {"to file", files::FileType::symbolicLink},
                    {"to folder", files::FileType::symbolicLink},
                    {"dangling", files::FileType::symbolicLink}};
    for (const auto& row : expected) {
        const auto* entry = findEntry(entries, row.name);
        ASSERT_TRUE(entry) << row.name;
        EXPECT_EQ(entry->type, row.type) << row.name;
        EXPECT_TRUE(entry->modificationDate) << row.name;
    }
    const auto* file = findEntry(entries, "private.txt");
    EXPECT_EQ(file->size, 4);
    EXPECT_EQ(file->permissions, 0640u);
    EXPECT_EQ(findEntry(entries, "folder")->size, -1);

    // Removing the links leaves what they point to.
    ASSERT_FALSE(sync().remove(at("to folder")));
    ASSERT_FALSE(sync().remove(at("to file")));
    EXPECT_TRUE(fs::is_directory(disk_ / "folder"));
    EXPECT_EQ(readDiskFile(disk_ / "private.txt"), "1234");
}

TEST_F(SftpPeerTest, PathsCountFromTheLoginFolderOrFromTheRootAfter2F) {
    writeDiskFile(disk_ / "here.txt", "here");
    const std::string rooted = peer_.url + "/%2F" + files::path::encodePath((disk_.string()).substr(1));
    const std::string relative = peer_.url + dir_;
    for (const std::string& url : {rooted, relative}) {
        SCOPED_TRACE(url);
        auto provider = providerWith(options_.trust, peer_.user, peer_.password, url);
        Sync s{*provider};
        auto [entries, error] = s.list("/");
        ASSERT_FALSE(error) << describe(error);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].path, "/here.txt");
        ASSERT_FALSE(s.write("/made.txt", std::string("made"), WriteMode::createNew));
        EXPECT_EQ(readDiskFile(disk_ / "made.txt"), "made");
        ASSERT_FALSE(s.remove("/made.txt"));
    }
}

// A new provider's login check opens its root folder in the same flight as it asks for the login
// folder, naming it relative to the login folder: the root is the same as when it is asked for
// first, and a root that is not there is refused as before.
TEST_F(SftpPeerTest, ALoginCheckOpensTheRootBesideAskingForTheLoginFolder) {
    writeDiskFile(disk_ / "here.txt", "here");
    struct Case {
        std::string url;
        std::optional<ErrorKind> refused;
        fs::path disk;  // where the root is on the server's disk
    };
    const std::string rooted = peer_.url + "/%2F" + files::path::encodePath((disk_.string()).substr(1));
    for (const Case& c : {Case{peer_.url, std::nullopt, peer_.root}, Case{peer_.url + dir_, std::nullopt, disk_},
                          Case{rooted, std::nullopt, disk_}, Case{peer_.url + dir_ + "/missing", ErrorKind::notFound, {}}}) {
        SCOPED_TRACE(c.url);
        auto provider = providerWith(options_.trust, peer_.user, peer_.password, c.url);
        Sync s{*provider};
        const auto error = s.login();
        expectOutcome(error, c.refused);
        if (c.refused) continue;
        // A name of this test's own: the login folder is shared with other tests.
        const std::string made = dir_ + "-made.txt";
        ASSERT_FALSE(s.write(made, std::string("made"), WriteMode::createNew));
        EXPECT_EQ(readDiskFile(c.disk / made.substr(1)), "made");
        auto [entries, listed] = s.list("/");
        ASSERT_FALSE(listed) << describe(listed);
        EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [&](const files::FileObject& e) { return e.path == made; }));
        ASSERT_FALSE(s.remove(made));
    }
}

TEST_F(SftpPeerTest, LogsInWithTheUsersKeyWithoutAPassword) {
    const char* home = std::getenv("HOME");
    const std::string saved = home ? home : "";
    ::setenv("HOME", peer_.values["CLIENT_HOME"].c_str(), 1);
    files::ssh::setUserHomeForTests(peer_.values["CLIENT_HOME"]);
    ::unsetenv("SSH_AUTH_SOCK");
    auto provider = providerWith(options_.trust, peer_.user, "");
    files::ssh::setUserHomeForTests(std::nullopt);
    if (home) ::setenv("HOME", saved.c_str(), 1);
    else ::unsetenv("HOME");
    const std::size_t before = logged("Accepted publickey for " + peer_.user);
    Sync s{*provider};
    EXPECT_FALSE(s.login());
    EXPECT_TRUE(waitLogged("Accepted publickey for " + peer_.user, before + 1));

    // Without the key and without a password: refused, once.
    auto keyless = providerWith(options_.trust, peer_.user, "");
    Sync k{*keyless};
    auto error = k.login();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::loginRejected) << describe(error);
}

// An ssh-agent of the test's own (in the foreground, a child of the test), on a socket in a
// folder of its own; ended, and waited for, with the test.
class Agent {
public:
    explicit Agent(const fs::path& folder) : socket_(folder / "agent.sock") {
        const std::string path = socket_.string();
        char* argv[] = {const_cast<char*>("ssh-agent"), const_cast<char*>("-D"), const_cast<char*>("-a"),
                        const_cast<char*>(path.c_str()), nullptr};
        if (::posix_spawnp(&pid_, "ssh-agent", nullptr, nullptr, argv, environ) != 0) pid_ = -1;
        // It listens once the socket is there.
        for (auto until = std::chrono::steady_clock::now() + 10s; pid_ > 0 && !fs::exists(socket_);) {
            if (std::chrono::steady_clock::now() > until || ::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
    }
    ~Agent() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    bool running() const { return pid_ > 0; }
    int add(const fs::path& key) const {
        return run("SSH_AUTH_SOCK='" + socket_.string() + "' ssh-add -q '" + key.string() + "' 2>&1").first;
    }
    int removeAll() const { return run("SSH_AUTH_SOCK='" + socket_.string() + "' ssh-add -D 2>&1").first; }
    const fs::path& socket() const { return socket_; }

private:
    fs::path socket_;
    pid_t pid_ = -1;
};

// The other two ways in: the password as the answer to keyboard-interactive prompts (a port that
// takes it no other way), and a key held by ssh-agent when there is no password and no key file.
TEST_F(SftpPeerTest, LogsInThroughKeyboardInteractivePromptsAndWithTheAgentsKey) {
    const std::string kbdUrl = peer_.values["KBDINT_URL"];
    ASSERT_FALSE(kbdUrl.empty());
    TempFolder keyless, agentFolder;
    Agent agent(agentFolder.path);
    ASSERT_TRUE(agent.running());
    const fs::path clientKey = fs::path(peer_.values["CLIENT_HOME"]) / ".ssh/id_ed25519";

    // Every case runs with a HOME that holds no key, so only the way under test can log in.
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    const char* sock = std::getenv("SSH_AUTH_SOCK");
    const std::string savedSock = sock ? sock : "";
    ::setenv("HOME", keyless.path.c_str(), 1);
    files::ssh::setUserHomeForTests(keyless.path.string());

    struct Case {
        const char* what;
        std::string url, password;
        std::function<void()> prepare;
        bool agent;
        std::optional<std::string> accepted;  // sshd's "Accepted <method> for <user>", or refused
    };
    const Case cases[] = {
        {"keyboard-interactive, right password", kbdUrl, peer_.password, [] {}, false,
         "Accepted keyboard-interactive/pam for " + peer_.user},
        {"keyboard-interactive, wrong password", kbdUrl, "not-" + peer_.password, [] {}, false, std::nullopt},
        {"the agent's key", peer_.url, "", [&] { ASSERT_EQ(agent.add(clientKey), 0); }, true,
         "Accepted publickey for " + peer_.user},
        {"an agent without keys", peer_.url, "", [&] { ASSERT_EQ(agent.removeAll(), 0); }, true, std::nullopt},
        {"no agent, no key file, no password", peer_.url, "", [] {}, false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.prepare();
        if (c.agent) ::setenv("SSH_AUTH_SOCK", agent.socket().c_str(), 1);
        else ::unsetenv("SSH_AUTH_SOCK");
        const std::size_t before = c.accepted ? logged(*c.accepted) : 0;
        auto provider = providerWith(options_.trust, peer_.user, c.password, c.url);
        Sync s{*provider};
        auto error = s.login();
        if (c.accepted) {
            EXPECT_FALSE(error) << describe(error);
            EXPECT_TRUE(waitLogged(*c.accepted, before + 1));
        } else {
            ASSERT_TRUE(error);
            EXPECT_EQ(error->kind, ErrorKind::loginRejected) << describe(error);
        }
    }

    files::ssh::setUserHomeForTests(std::nullopt);
    if (home) ::setenv("HOME", savedHome.c_str(), 1);
    else ::unsetenv("HOME");
    if (sock) ::setenv("SSH_AUTH_SOCK", savedSock.c_str(), 1);
    else ::unsetenv("SSH_AUTH_SOCK");
}

// A relay for ProxyCommand tests: connects to its first two arguments (host, port) and carries
// its standard input and output there; it writes its process id and all its arguments, one
// line, to `log` first.
void writeRelay(const fs::path& script, const fs::path& log) {
    writeDiskFile(script,
                  "import os, socket, sys, threading\n"
                  "with open('" + log.string() + "', 'a') as f:\n"
                  "    f.write(str(os.getpid()) + ' ' + ' '.join(sys.argv[1:]) + '\\n')\n"
                  "s = socket.create_connection((sys.argv[1], int(sys.argv[2])))\n"
                  "def up():\n"
                  "    while True:\n"
                  "        data = os.read(0, 65536)\n"
                  "        if not data:\n"
                  "            s.shutdown(socket.SHUT_WR)\n"
                  "            return\n"
                  "        s.sendall(data)\n"
                  "threading.Thread(target=up, daemon=True).start()\n"
                  "while True:\n"
                  "    data = s.recv(65536)\n"
                  "    if not data:\n"
                  "        break\n"
                  "    while data:\n"
                  "        data = data[os.write(1, data):]\n");
}

// The relay runs the test has seen ended: each line's process id, and that process is gone.
std::vector<std::string> relayRuns(const fs::path& log) {
    std::vector<std::string> lines;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool processGone(const std::string& relayLine) {
    const pid_t pid = static_cast<pid_t>(std::atoi(relayLine.c_str()));
    return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
}

// Hosts named in ~/.ssh/config: the name, port, user and key file come from the first block
// that applies (Include, patterns with "?" and "!", "Host *" last); a user or port written in
// the app wins; a host with a ProxyCommand is reached through it (its tokens put in), and a
// command that fails says so in its own words; the command is ended with the connection.
TEST_F(SftpPeerTest, HostsAreNamedAsInTheUsersSshConfig) {
    TempFolder home;
    const fs::path sshFolder = home.path / ".ssh";
    makeDiskFolder(sshFolder / "conf.d");
    fs::copy_file(fs::path(peer_.values["CLIENT_HOME"]) / ".ssh/id_ed25519", sshFolder / "site_key");
    ::chmod((sshFolder / "site_key").c_str(), 0600);
    const std::string nobody = "nobody" + randomTag();
    writeDiskFile(sshFolder / "conf.d" / "sites",
                  "Host web?  !web2\n"
                  "    User " + peer_.user + "\n"
                  "    IdentityFile %d/.ssh/site_key\n");
    writeDiskFile(sshFolder / "config",
                  "Include conf.d/*\n"
                  "Host web3\n"
                  "    Port 1\n"
                  "Host jumped\n"
                  "    ProxyCommand python3 '" + (home.path / "relay.py").string() + "' %h %p %r %n %%\n"
                  "    IdentityFile %d/.ssh/site_key\n"
                  "Host failing\n"
                  "    ProxyCommand sh -c 'echo relay: no route to the site >&2; exit 3'\n"
                  "Host badtoken\n"
                  "    ProxyCommand nc %x %p\n"
                  "Host direct\n"
                  "    ProxyCommand none\n"
                  "    IdentityFile %d/.ssh/site_key\n"
                  "Host *\n"
                  "    HostName 127.0.0.1\n"
                  "    Port " + std::to_string(peer_.port) + "\n"
                  "    User " + nobody + "\n");

    const fs::path relayLog = home.path / "relay.log";
    writeRelay(home.path / "relay.py", relayLog);

    ClientHome client(home.path);

    const std::string probe = "probe" + randomTag();
    const std::string port = std::to_string(peer_.port);
    // A user name that, put into the command's shell line as it is, would run a command there.
    const fs::path ran = home.path / "ran";
    const std::string injected = "x$(touch " + ran.string() + ")y";
    struct Case {
        std::string url, user;
        std::string loggedUser;            // what sshd's log shows tried
        std::optional<ErrorKind> refused;  // nothing: logged in
        std::string says;                  // in the error's message
        std::string relayed;               // the relay's arguments, when it carried the connection
    };
    const Case cases[] = {
        {"sftp://web1/", "", "Accepted publickey for " + peer_.user, std::nullopt, "", ""},
        {"sftp://web1/", probe, "user " + probe, ErrorKind::loginRejected, "", ""},
        {"sftp://web3:" + port + "/", "", "Accepted publickey for " + peer_.user, std::nullopt, "", ""},
        {"sftp://web2/", "", "user " + nobody, ErrorKind::loginRejected, "", ""},
        {"sftp://jumped/", peer_.user, "Accepted publickey for " + peer_.user, std::nullopt, "",
         "127.0.0.1 " + port + " " + peer_.user + " jumped %"},
        {"sftp://jumped/", probe, "user " + probe, ErrorKind::loginRejected, "", "127.0.0.1 " + port + " " + probe + " jumped %"},
        {"sftp://jumped/", injected, "", ErrorKind::cannotReachHost, "the user name \"" + injected + "\" has \"$\"", ""},
        {"sftp://failing/", "", "", ErrorKind::cannotReachHost, "ended with status 3: relay: no route to the site", ""},
        {"sftp://badtoken/", "", "", ErrorKind::cannotReachHost, "%x", ""},
        {"sftp://direct/", peer_.user, "Accepted publickey for " + peer_.user, std::nullopt, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url + " as '" + c.user + "'");
        const std::size_t before = c.loggedUser.empty() ? 0 : logged(c.loggedUser);
        const std::size_t relays = relayRuns(relayLog).size();
        {
            auto provider = providerWith(options_.trust, c.user, "", c.url);
            ASSERT_TRUE(provider);
            Sync s{*provider};
            auto error = s.login();
            expectOutcome(error, c.refused);
            if (HasFatalFailure()) return;
            if (!c.loggedUser.empty()) {
                EXPECT_TRUE(waitLogged(c.loggedUser, before + 1));
            }
            if (!c.says.empty()) {
                EXPECT_NE(error->message.find("ProxyCommand"), std::string::npos) << error->message;
                EXPECT_NE(error->message.find(c.says), std::string::npos) << error->message;
            }
        }
        // The provider is gone, and with it the command that carried its connection.
        const auto runs = relayRuns(relayLog);
        if (c.relayed.empty()) {
            EXPECT_EQ(runs.size(), relays);
            continue;
        }
        ASSERT_GT(runs.size(), relays);
        for (std::size_t i = relays; i < runs.size(); ++i) {
            EXPECT_NE(runs[i].find(" " + c.relayed), std::string::npos) << runs[i];
            EXPECT_TRUE(processGone(runs[i])) << runs[i];
        }
    }
    EXPECT_FALSE(fs::exists(ran)) << "a user name ran a command through the ProxyCommand's shell";
}

// Names go into a ProxyCommand's shell line only as plain words: one the shell would read as
// more (an expansion, a separator, a redirection, a glob, quoting, a blank, a leading "-") is
// refused, naming the field, and nothing is run; a name the command does not take is not looked
// at, and plain names (dots, "@", "+", letters beyond ASCII) go in as they are.
TEST(SftpProxyCommand, ANameTheShellWouldReadAsMoreThanANameIsRefused) {
    struct Case {
        const char* command;
        std::string user, host, alias;
        std::string expanded;  // empty: refused
        std::string says;      // in the refusal
    };
    const Case cases[] = {
        {"nc %h %p", "x$(id)y", "127.0.0.1", "web1", "nc 127.0.0.1 22", ""},
        {"ssh -W %h:%p %r@jump", "x$(id)y", "127.0.0.1", "web1", "", "the user name \"x$(id)y\" has \"$\", \"(\" and \")\""},
        {"ssh -W %h:%p %r@jump", "a`id`", "h", "web1", "", "user name"},
        {"ssh -W %h:%p %r@jump", "a;reboot", "h", "web1", "", "\";\""},
        {"ssh -W %h:%p %r@jump", "a b", "h", "web1", "", "a blank"},
        {"ssh -W %h:%p %r@jump", "-oProxyCommand=id", "h", "web1", "", "\"-\""},
        {"ssh -W %h:%p %r@jump", "a|b", "h", "web1", "", "user name"},
        {"ssh -W %h:%p %r@jump", "a>b", "h", "web1", "", "user name"},
        {"ssh -W %h:%p %r@jump", "a*", "h", "web1", "", "user name"},
        {"ssh -W %h:%p %r@jump", "'a'", "h", "web1", "", "user name"},
        {"ssh -W %h:%p %r@jump", "a\nid", "h", "web1", "", "a control character"},
        {"ssh -W %h:%p %r@jump", "~root", "h", "web1", "", "user name"},
        {"nc %h %p", "ann", "h$(id)", "web1", "", "the host name"},
        {"relay %n", "ann", "h", "web&1", "", "the server name"},
        {"ssh -W %h:%p %r@jump # %%", "first.last+dev@example.com", "ex-1.example.org", "web1",
         "ssh -W ex-1.example.org:22 first.last+dev@example.com@jump # %", ""},
        {"relay %r %n", "jörg", "h", "web_1", "relay jörg web_1", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " / " + c.user + " / " + c.host + " / " + c.alias);
        files::ssh::HostConfig host;
        host.user = c.user;
        host.host = c.host;
        host.alias = c.alias;
        std::string error;
        const auto line = files::ssh::ProxyCommand::expand(c.command, host, error);
        if (!c.expanded.empty()) {
            EXPECT_EQ(line.value_or("(refused: " + error + ")"), c.expanded);
            continue;
        }
        EXPECT_FALSE(line) << *line;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_NE(error.find("it was not run"), std::string::npos) << error;
    }
}

// Hosts behind jump hosts (ProxyJump, one hop or two): each hop's key is checked as the
// target's is (unknown: asked, naming the hop as the jump host in front of the server; changed:
// refused), and nothing reaches a host before the hops in front of it are trusted. What fails at
// a hop (its key, its login, reaching it) is told as the jump host's. The hops are the server's
// third port, the target its first.
TEST_F(SftpPeerTest, HostsBehindJumpHostsAreReachedHopByHop) {
    const int hopPort = std::stoi(peer_.values["PLAIN_RENAME_URL"].substr(peer_.values["PLAIN_RENAME_URL"].rfind(':') + 1));
    const std::string hopName = "[127.0.0.1]:" + std::to_string(hopPort);
    TempFolder home, keys;
    makeDiskFolder(home.path / ".ssh");
    fs::copy_file(fs::path(peer_.values["CLIENT_HOME"]) / ".ssh/id_ed25519", home.path / ".ssh/id_ed25519");
    ::chmod((home.path / ".ssh/id_ed25519").c_str(), 0600);
    ASSERT_EQ(run("ssh-keygen -q -N '' -t ed25519 -f '" + (keys.path / "other").string() + "'").first, 0);
    const files::HostKey other = publicKey(keys.path / "other.pub");
    const std::string real = hostKey_.type + " " + defaults::base64Encode(hostKey_.blob);
    const std::string probe = "probe" + randomTag();
    auto block = [&](const std::string& name, const std::string& user, const std::string& jump) {
        return "Host " + name + "\n    HostName 127.0.0.1\n    Port " + std::to_string(peer_.port) + "\n    User " + user +
               "\n    ProxyJump " + jump + "\n";
    };
    const std::string hop = peer_.user + "@127.0.0.1:" + std::to_string(hopPort);
    // Hops named by blocks of their own: one with its HostName, Port and User, one that is
    // itself reached through the first (its own ProxyJump, followed as OpenSSH follows it).
    const std::string bastion = "Host bastion\n    HostName 127.0.0.1\n    Port " + std::to_string(hopPort) + "\n    User " +
                                peer_.user + "\n";
    const std::string inner = "Host innerbastion\n    HostName 127.0.0.1\n    Port " + std::to_string(hopPort) +
                              "\n    User " + peer_.user + "\n    ProxyJump bastion\n";
    // And a hop that is itself reached through a ProxyCommand.
    const fs::path relayLog = home.path / "relay.log";
    writeRelay(home.path / "relay.py", relayLog);
    const std::string commanded = "Host cmdbastion\n    HostName 127.0.0.1\n    Port " + std::to_string(hopPort) +
                                  "\n    User " + peer_.user + "\n    ProxyCommand python3 '" +
                                  (home.path / "relay.py").string() + "' %h %p\n";
    writeDiskFile(home.path / ".ssh/config", block("behind", peer_.user, hop) + block("twohops", peer_.user, hop + "," + hop) +
                                                 block("probed", probe, probe + "@127.0.0.1:" + std::to_string(hopPort)) +
                                                 block("viabastion", peer_.user, "bastion") +
                                                 block("viainner", peer_.user, "innerbastion") +
                                                 block("viacmd", peer_.user, "cmdbastion") +
                                                 block("deadhop", peer_.user, peer_.user + "@127.0.0.1:1") +
                                                 bastion + inner + commanded);

    ClientHome client(home.path);

    struct Case {
        const char* what;
        std::string host;
        std::string knownHosts;  // the user's known_hosts
        bool answer;             // to a trust question
        std::optional<ErrorKind> refused;
        int questions;           // about the hop
        int logins;              // accepted, hops and target together
        std::string says;        // in the error, for a refusal
    };
    const std::string hopOf = ", in front of the server ";
    const std::string targetOnly = knownName() + " " + real + "\n";
    const Case cases[] = {
        {"one hop, all known", "behind", "[127.0.0.1]:* " + real + "\n", true, std::nullopt, 0, 2, {}},
        {"two hops, all known", "twohops", "[127.0.0.1]:* " + real + "\n", true, std::nullopt, 0, 3, {}},
        {"a hop named by its block", "viabastion", "[127.0.0.1]:* " + real + "\n", true, std::nullopt, 0, 2, {}},
        {"a hop with a jump host of its own", "viainner", "[127.0.0.1]:* " + real + "\n", true, std::nullopt, 0, 3, {}},
        {"a hop reached through its ProxyCommand", "viacmd", "[127.0.0.1]:* " + real + "\n", true, std::nullopt, 0, 2, {}},
        {"unknown hop, accepted", "behind", targetOnly, true, std::nullopt, 1, 2, {}},
        {"unknown hop, refused", "probed", targetOnly, false, ErrorKind::notTrusted, 1, 0,
         "The identity of the jump host " + hopName + hopOf + "probed, was not trusted, so nothing was sent to it. Its host key"},
        {"changed hop key", "probed", targetOnly + hopName + " " + other.type + " " + defaults::base64Encode(other.blob) + "\n",
         true, ErrorKind::notTrusted, 1, 0, "The identity of the jump host " + hopName + hopOf + "probed, was not trusted"},
        {"a hop that cannot be reached", "deadhop", "[127.0.0.1]:* " + real + "\n", true, ErrorKind::cannotReachHost, 0, 0,
         "The jump host [127.0.0.1]:1" + hopOf + "deadhop, could not be reached. (Connection refused)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder app;
        writeDiskFile(app.path / "user_known_hosts", c.knownHosts);
        auto trust = std::make_shared<files::Trust>(app.path, app.path / "user_known_hosts");
        auto asker = std::make_shared<RecordingAsker>(c.answer, log_, probe);
        trust->setAsker(asker);
        const std::size_t before = logged("Accepted publickey for " + peer_.user);
        auto provider = providerWith(trust, "", "", "sftp://" + c.host + "/");
        Sync s{*provider};
        auto error = s.login();
        expectOutcome(error, c.refused);
        if (HasFatalFailure()) return;
        const auto questions = asker->questions();
        ASSERT_EQ(static_cast<int>(questions.size()), c.questions);
        if (c.refused) {
            EXPECT_EQ(error->message.rfind(c.says, 0), 0u) << error->message;
        }
        for (const auto& q : questions) {
            EXPECT_EQ(q.port, hopPort) << "the question names the hop";
            EXPECT_NE(q.message.find("the jump host \"127.0.0.1\" (port " + std::to_string(hopPort) + ")" + hopOf + "\"" +
                                     c.host + "\","),
                      std::string::npos)
                << q.message;
            if (c.refused && c.answer) {
                EXPECT_FALSE(q.acceptable);
                EXPECT_EQ(q.title, "The jump host's host key has changed");
                EXPECT_NE(q.message.find(hopName), std::string::npos) << q.message;
            } else {
                EXPECT_EQ(q.title, "Unknown jump host");
            }
        }
        if (c.logins > 0) {
            EXPECT_TRUE(waitLogged("Accepted publickey for " + peer_.user, before + static_cast<std::size_t>(c.logins)));
        }
        EXPECT_FALSE(asker->loginBeforeQuestion());
        EXPECT_EQ(logged("user " + probe), 0u) << "a login reached a server before its hop was trusted";
        if (c.host == "viacmd") {
            const auto runs = relayRuns(relayLog);
            ASSERT_EQ(runs.size(), 1u);
            EXPECT_NE(runs[0].find(" 127.0.0.1 " + std::to_string(hopPort)), std::string::npos) << runs[0];
        }
        if (c.answer && !c.refused && c.questions > 0) {
            EXPECT_EQ(run("ssh-keygen -F '" + hopName + "' -f '" + (app.path / "known_hosts").string() + "' >/dev/null").first, 0);
        }
    }
}

// Each kind of failure at a jump host is told as that host's, in front of the server the user
// named; the hop's own words stay.
TEST(SftpJumpHosts, AFailureAtAJumpHostIsToldAsThatHosts) {
    files::ssh::HostConfig hop;
    hop.alias = "bastion";
    hop.host = "10.0.0.5";
    hop.port = 2222;
    const std::string who = "the jump host [10.0.0.5]:2222 (bastion), in front of the server web1,";
    struct Case {
        files::FileError error;
        std::string told;
    };
    files::FileError custom;
    custom.kind = ErrorKind::cannotReachHost;
    custom.message = "The SSH configuration's ProxyCommand for bastion ended with status 1.";
    const Case cases[] = {
        {files::FileError::make(ErrorKind::cannotReachHost, "Connection refused"),
         "The " + who.substr(4) + " could not be reached. (Connection refused)"},
        {files::FileError::make(ErrorKind::timedOut), "The " + who.substr(4) + " did not answer in time."},
        {files::FileError::make(ErrorKind::loginRejected, "The server accepts only keys; tried ~/.ssh/id_ed25519."),
         "The " + who.substr(4) + " rejected the login. (The server accepts only keys; tried ~/.ssh/id_ed25519.)"},
        {files::FileError::make(ErrorKind::notTrusted), "The identity of " + who + " was not trusted, so nothing was sent to it."},
        {files::FileError::make(ErrorKind::other, "the connection broke off"),
         "The connection through " + who + " failed. (the connection broke off)"},
        {custom, "The " + who.substr(4) + " could not be reached. " + custom.message},
        {files::FileError::make(ErrorKind::cancelled), std::string(files::standardMessage(ErrorKind::cancelled))},
    };
    for (const Case& c : cases) {
        const files::FileError told = files::ssh::atJumpHost(c.error, hop, "web1");
        EXPECT_EQ(told.kind, c.error.kind);
        EXPECT_EQ(told.message, c.told);
    }
}

// "~" and "%d" are the home the user database gives (as for ssh and sftp), not HOME: the probe
// logs in as a user of the test's own, whose home's configuration names the server and the key,
// with HOME naming a folder whose configuration sends the same names nowhere.
TEST_F(SftpPeerTest, TheConfigurationAndKeysAreFoundInTheUserDatabasesHomeNotInHome) {
    TempFolder home, elsewhere;
    ::chmod(home.path.c_str(), 0755);
    const std::string name = "dvxh" + randomTag().substr(0, 8);
    ASSERT_EQ(run("useradd --system --no-create-home --home-dir '" + home.path.string() +
                  "' --shell /usr/sbin/nologin --gid nogroup " + name + " 2>&1").first, 0);
    struct Gone {
        std::string name;
        ~Gone() { run("userdel " + name + " 2>&1"); }
    } gone{name};
    const passwd* user = ::getpwnam(name.c_str());
    ASSERT_TRUE(user);
    const uid_t uid = user->pw_uid;
    const gid_t gid = user->pw_gid;

    const fs::path ssh = home.path / ".ssh";
    makeDiskFolder(ssh);
    fs::copy_file(fs::path(peer_.values["CLIENT_HOME"]) / ".ssh/id_ed25519", ssh / "site_key");
    fs::copy_file(peer_.values["KNOWN_HOSTS"], home.path / "known_hosts");
    auto block = [&](const std::string& alias, const std::string& port, const std::string& key) {
        return "Host " + alias + "\n    HostName 127.0.0.1\n    Port " + port + "\n    User " + peer_.user +
               (key.empty() ? "" : "\n    IdentityFile " + key) + "\n";
    };
    writeDiskFile(ssh / "config", block("bypercent", std::to_string(peer_.port), "%d/.ssh/site_key") +
                                      block("bytilde", std::to_string(peer_.port), "~/.ssh/site_key"));
    makeDiskFolder(elsewhere.path / ".ssh");
    writeDiskFile(elsewhere.path / ".ssh/config", block("bypercent", "1", "") + block("bytilde", "1", ""));
    for (const fs::path& p : {home.path / "known_hosts", ssh, ssh / "site_key", ssh / "config"})
        ASSERT_EQ(::chown(p.c_str(), uid, gid), 0) << p;
    ::chmod(ssh.c_str(), 0700);
    ::chmod((ssh / "site_key").c_str(), 0600);
    ::chmod((ssh / "config").c_str(), 0600);

    for (const char* alias : {"bypercent", "bytilde"}) {
        SCOPED_TRACE(alias);
        const std::size_t before = logged("Accepted publickey for " + peer_.user);
        int out[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        const std::string url = std::string("sftp://") + alias + "/";
        const std::string known = (home.path / "known_hosts").string();
        const std::string elsewhereHome = elsewhere.path.string();
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Only async-signal-safe calls until exec.
            ::dup2(out[1], 1);
            ::dup2(out[1], 2);
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(5);
            const std::string homeVariable = "HOME=" + elsewhereHome;
            char* env[] = {const_cast<char*>(homeVariable.c_str()), nullptr};
            ::execle(DRAVIX_SSH_HOME_PROBE, DRAVIX_SSH_HOME_PROBE, url.c_str(), known.c_str(), nullptr, env);
            ::_exit(6);
        }
        ::close(out[1]);
        std::string said;
        char buffer[4096];
        for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<std::size_t>(n));
        ::close(out[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << said;
        EXPECT_TRUE(waitLogged("Accepted publickey for " + peer_.user, before + 1));
    }
}

// The keys in OpenSSH's order: the agent's, then the configuration's IdentityFiles as written,
// or, only when it names none, the default key files (id_rsa, id_ecdsa, id_ed25519); with
// IdentitiesOnly, only the agent's keys of those files. A key held back is never offered: the
// server's own key here has a passphrase, and is not asked for where it is held back. A key file
// is offered by its public half, and nothing is written beside it.
TEST_F(SftpPeerTest, KeysAreOfferedInOpenSshsOrderAndIdentitiesOnlyHoldsBackTheAgentsOthers) {
    TempFolder home, agentFolder;
    Agent agent(agentFolder.path);
    ASSERT_TRUE(agent.running());
    const fs::path clientKey = fs::path(peer_.values["CLIENT_HOME"]) / ".ssh/id_ed25519";
    const fs::path ssh = home.path / ".ssh";
    makeDiskFolder(ssh);
    // Keys the server does not know; id_ecdsa without its ".pub".
    for (const auto& [key, type] : {std::pair{"first", "ed25519"}, {"second", "ed25519"}, {"id_ecdsa", "ecdsa"}, {"id_rsa", "rsa"}})
        ASSERT_EQ(run("ssh-keygen -q -N '' -t " + std::string(type) + " -f '" + (ssh / key).string() + "'").first, 0);
    fs::remove(ssh / "id_ecdsa.pub");
    // The server's key as the default file, with a passphrase; the agent holds it too, and its
    // public half is named by a file of its own.
    fs::copy_file(clientKey, ssh / "id_ed25519");
    fs::copy_file(clientKey.string() + ".pub", ssh / "id_ed25519.pub");
    ::chmod((ssh / "id_ed25519").c_str(), 0600);
    const std::string passphrase = "open sesame " + randomTag();
    ASSERT_EQ(run("ssh-keygen -q -p -P '' -N '" + passphrase + "' -f '" + (ssh / "id_ed25519").string() + "' >/dev/null 2>&1").first, 0);
    fs::copy_file(clientKey.string() + ".pub", ssh / "agents.pub");
    ASSERT_EQ(agent.add(clientKey), 0);
    auto block = [&](const std::string& alias, const std::string& lines) {
        return "Host " + alias + "\n    HostName 127.0.0.1\n    Port " + std::to_string(peer_.port) + "\n    User " +
               peer_.user + "\n" + lines;
    };
    writeDiskFile(ssh / "config",
                  block("ordered", "    IdentityFile ~/.ssh/first\n    IdentityFile %d/.ssh/second\n") +
                      block("defaults", "") +
                      block("only", "    IdentitiesOnly yes\n    IdentityFile ~/.ssh/first\n") +
                      block("named", "    IdentitiesOnly yes\n    IdentityFile ~/.ssh/agents\n") +
                      block("onlydefaults", "    IdentitiesOnly yes\n") +
                      block("notonly", "    IdentityFile ~/.ssh/first\n"));
    ClientHome client(home.path);
    const std::string rsa = keygenFingerprint(ssh / "id_rsa"), ecdsa = keygenFingerprint(ssh / "id_ecdsa");

    using Script = std::vector<std::optional<std::vector<std::string>>>;
    struct Case {
        const char* host;
        bool agent;
        bool accepted;
        std::vector<std::string> tried;  // in this order, in the refusal
        Script passphrases;              // the answers; as many questions as answers
    };
    const Case cases[] = {
        {"ordered", false, false, {"~/.ssh/first", "~/.ssh/second"}, {}},
        {"defaults", false, true, {}, {std::vector<std::string>{passphrase}}},
        {"only", true, false, {"~/.ssh/first"}, {}},
        {"named", true, true, {}, {}},
        {"onlydefaults", true, true, {}, {}},
        {"notonly", true, true, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        if (c.agent) ::setenv("SSH_AUTH_SOCK", agent.socket().c_str(), 1);
        else ::unsetenv("SSH_AUTH_SOCK");
        TempFolder app;
        auto trust = std::make_shared<files::Trust>(app.path, peer_.values["KNOWN_HOSTS"]);
        auto asker = std::make_shared<ScriptedAsker>(c.passphrases);
        trust->setAsker(asker);
        const std::size_t before = logged("Accepted publickey for " + peer_.user);
        const std::size_t lines = logged("");
        auto provider = providerWith(trust, "", "", std::string("sftp://") + c.host + "/");
        Sync s{*provider};
        auto error = s.login();
        std::vector<std::string> asked;
        for (const auto& q : asker->questions())  // (a refusal goes on to ask for the password nobody saved)
            if (q.kind == files::LoginQuestion::Kind::passphrase) asked.push_back(q.keyFile);
        EXPECT_EQ(asked.size(), c.passphrases.size()) << ::testing::PrintToString(asked);
        if (c.accepted) {
            EXPECT_FALSE(error) << describe(error);
            EXPECT_TRUE(waitLogged("Accepted publickey for " + peer_.user, before + 1));
        } else {
            ASSERT_TRUE(error);
            EXPECT_EQ(error->kind, ErrorKind::loginRejected) << describe(error);
            // The agent's key would have let the login through: it was not offered, and neither
            // was the default file.
            EXPECT_EQ(error->message.find("agent"), std::string::npos) << error->message;
            EXPECT_EQ(error->message.find("id_"), std::string::npos) << error->message;
            std::size_t at = 0;
            for (const std::string& key : c.tried) {
                const std::size_t found = error->message.find(key, at);
                ASSERT_NE(found, std::string::npos) << key << " in order in: " << error->message;
                at = found + key.size();
            }
        }
        if (std::string(c.host) == "defaults") {
            // id_rsa, then id_ecdsa, offered before the server's key was asked for.
            ASSERT_EQ(asked, std::vector<std::string>{"~/.ssh/id_ed25519"});
            EXPECT_TRUE(waitLogged(ecdsa));  // sshd's monitor writes what its session process tells it
            std::istringstream log(readDiskFile(log_));
            std::size_t line = 0, rsaAt = 0, ecdsaAt = 0;
            for (std::string text; std::getline(log, text); ++line) {
                if (line < lines) continue;
                if (!rsaAt && text.find(rsa) != std::string::npos) rsaAt = line;
                if (!ecdsaAt && text.find(ecdsa) != std::string::npos) ecdsaAt = line;
            }
            EXPECT_GT(rsaAt, 0u) << "id_rsa was not offered";
            EXPECT_GT(ecdsaAt, rsaAt) << "id_ecdsa was not offered after id_rsa";
        }
    }
    ::unsetenv("SSH_AUTH_SOCK");
    EXPECT_FALSE(fs::exists(ssh / "id_ecdsa.pub")) << "a file was written in ~/.ssh";
}

// Forbids the calling thread (only it, for the rest of its life) to make, write, remove or rename
// any file or folder anywhere; false where the kernel has no Landlock.
bool forbidWritingFiles() {
    const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 1) return false;
    landlock_ruleset_attr rules{};
    rules.handled_access_fs = LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE |
                              LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
                              LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK |
                              LANDLOCK_ACCESS_FS_MAKE_SYM;
    if (abi >= 2) rules.handled_access_fs |= LANDLOCK_ACCESS_FS_REFER;
    const int ruleset = static_cast<int>(::syscall(SYS_landlock_create_ruleset, &rules, sizeof rules, 0));
    if (ruleset < 0) return false;
    const bool confined = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
    ::close(ruleset);
    return confined;
}

// The configuration is read (and mended for libssh) without a file written anywhere: on a thread
// that may write none, the host's values, an Include and the key file still come through.
TEST(SftpConfiguration, IsReadWithoutWritingAFileAnywhere) {
    TempFolder home;
    const fs::path ssh = home.path / ".ssh";
    makeDiskFolder(ssh / "conf.d");
    writeDiskFile(ssh / "conf.d" / "site", "Host site\n    HostName 127.0.0.9\n    Port 2201\n    User ann\n");
    writeDiskFile(ssh / "config", "Include conf.d/*\nHost !other site\n    IdentityFile ~/.ssh/site_key\n");
    std::optional<files::ssh::HostConfig> config;
    bool confined = false;
    std::thread([&] {
        confined = forbidWritingFiles();
        if (!confined) return;
        ssh_session session = ssh_new();
        config = files::ssh::configure(session, {"site", 22, "", ssh.string()});
        ssh_free(session);
    }).join();
    if (!confined) GTEST_SKIP() << "the kernel has no Landlock to forbid writing files";
    ASSERT_TRUE(config);
    EXPECT_EQ(config->host, "127.0.0.9");
    EXPECT_EQ(config->port, 2201);
    EXPECT_EQ(config->user, "ann");
    EXPECT_EQ(config->identityFiles, std::vector<std::string>{(ssh / "site_key").string()});
}

// IdentityFiles come in the order written, their tokens put in, from the Host blocks and the
// Match blocks whose criteria hold (host: the HostName so far; user: the user the app was given,
// else the configuration's); a Match whose criterion the app does not run (exec) does not hold.
TEST(SftpConfiguration, KeyFilesComeFromTheBlocksThatApplyInTheOrderWritten) {
    TempFolder home;
    const fs::path ssh = home.path / ".ssh";
    makeDiskFolder(ssh);
    writeDiskFile(ssh / "config",
                  "Host site\n    HostName 127.0.0.9\n    User ann\n    IdentityFile ~/.ssh/first\n"
                  "Match host 127.0.0.9 user ann\n    IdentityFile ~/.ssh/matched_%r_%h_%p_%n\n"
                  "Match exec true\n    IdentityFile ~/.ssh/never\n"
                  "Match originalhost other\n    IdentityFile ~/.ssh/other\n"
                  "Match !user bob localuser *\n    IdentityFile %d/.ssh/last\n"
                  "Host *\n    IdentityFile ~/.ssh/first\n");
    struct Case {
        std::string user;  // as the app was given it
        std::vector<std::string> files;
    };
    const Case cases[] = {
        {"", {"first", "matched_ann_127.0.0.9_22_site", "last"}},
        {"bob", {"first"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user);
        ssh_session session = ssh_new();
        const auto config = files::ssh::configure(session, {"site", 22, c.user, ssh.string()});
        ssh_free(session);
        std::vector<std::string> expected;
        for (const std::string& name : c.files) expected.push_back((ssh / name).string());
        EXPECT_EQ(config.identityFiles, expected);
    }
}

// libssh runs a Match line's exec command through the shell with the host's name in it: a name
// as written that the shell would read as more than a name never gets there, while a plain one
// does.
TEST(SftpConfiguration, AMatchExecNeverRunsWithANameTheShellWouldReadAsMore) {
    TempFolder home;
    const fs::path ssh = home.path / ".ssh";
    makeDiskFolder(ssh);
    const fs::path ran = home.path / "ran";
    writeDiskFile(ssh / "config", "Match exec \"echo %h >> '" + (home.path / "names").string() + "'\"\n    Port 2202\n");
    struct Case {
        std::string host;
        int port;  // the Match applied: 2202
    };
    const Case cases[] = {{"x$(touch " + ran.string() + ")y", 22}, {"plain.example", 2202}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        ssh_session session = ssh_new();
        const auto config = files::ssh::configure(session, {c.host, 22, "", ssh.string()});
        ssh_free(session);
        EXPECT_EQ(config.port, c.port);
    }
    EXPECT_FALSE(fs::exists(ran));
    EXPECT_EQ(readDiskFile(home.path / "names"), "plain.example\n");
}

// A keyword of the configuration the app does not honour is logged, once for the process,
// however many connections and providers read it; those it reads beside libssh are not among
// them.
TEST_F(SftpPeerTest, AnUnsupportedKeywordIsLoggedOnce) {
    auto log = std::make_shared<LogCollector>();
    xlog::setAsyncLoggingEnabled(false);
    xlog::setDynamicLogLevel(xlog::FlagError | xlog::FlagWarning);
    xlog::Log::addLogger(log);
    {
        TempFolder home;
        ClientHome client(home.path);
        auto provider = configuredProvider(home.path, "plain", peer_.port,
                                           "    VisualHostKey yes\n    IdentitiesOnly no\n    ServerAliveCountMax 5\n");
        Sync sync{*provider};
        auto error = sync.login();
        EXPECT_FALSE(error) << describe(error);
        auto another = providerWith(options_.trust, peer_.user, peer_.password, "sftp://plain/");
        Sync again{*another};
        error = again.login();
        EXPECT_FALSE(error) << describe(error);
        EXPECT_FALSE(again.list("/").second);
    }
    xlog::Log::removeAllLoggers();
    EXPECT_EQ(log->count("VisualHostKey is not supported"), 1u) << ::testing::PrintToString(log->lines());
    EXPECT_EQ(log->count("IdentitiesOnly"), 0u) << ::testing::PrintToString(log->lines());
    EXPECT_EQ(log->count("ServerAliveCountMax"), 0u) << ::testing::PrintToString(log->lines());
}

// ---- checked writes ------------------------------------------------------------------------

TEST_F(SftpPeerTest, ACheckedSaveSeesChangesMadeOnTheServer) {
    using VersionCapture = Capture<std::optional<files::Bytes>, files::FileVersion, std::optional<files::FileError>>;
    using WrittenCapture = Capture<std::optional<files::FileVersion>, std::optional<files::FileError>>;
    const fs::path file = disk_ / "page.html";
    auto readVersion = [&] {
        VersionCapture c;
        provider_->contentsAndVersion(at("page.html"), c.callback());
        awaitOnce(c);
        EXPECT_FALSE(c.get<2>()) << describe(c.get<2>());
        return c.get<1>();
    };
    auto checkedWrite = [&](const std::string& bytes, const files::FileVersion& expected) {
        WrittenCapture c;
        provider_->writeContents(at("page.html"), bytes, WriteMode::replace, expected, c.callback());
        awaitOnce(c);
        return std::make_pair(c.get<0>(), c.get<1>());
    };

    writeDiskFile(file, "first");
    files::FileVersion version = readVersion();
    EXPECT_EQ(version.size, 5);
    EXPECT_TRUE(version.modificationDate);
    EXPECT_EQ(version.sha256.size(), 64u);
    auto [written, error] = checkedWrite("second", version);
    ASSERT_FALSE(error) << describe(error);
    ASSERT_TRUE(written);
    EXPECT_EQ(written->size, 6);
    EXPECT_EQ(readDiskFile(file), "second");
    EXPECT_EQ(*written, readVersion());

    struct Change {
        const char* what;
        std::function<void()> make;
        ErrorKind kind;
    };
    const Change changes[] = {
        {"another size", [&] { writeDiskFile(file, "changed by someone else"); }, ErrorKind::changedOnServer},
        {"same size and date, other bytes",
         [&] {
             struct stat st {};
             ::stat(file.c_str(), &st);
             writeDiskFile(file, "SECOND");
             const timespec times[2] = {st.st_atim, st.st_mtim};
             ::utimensat(AT_FDCWD, file.c_str(), times, 0);
         },
         ErrorKind::changedOnServer},
        {"removed", [&] { fs::remove(file); }, ErrorKind::notFound},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        writeDiskFile(file, "second");
        const files::FileVersion read = readVersion();
        change.make();
        const std::string there = fs::exists(file) ? readDiskFile(file) : "(none)";
        auto [none, refusal] = checkedWrite("mine", read);
        ASSERT_TRUE(refusal);
        EXPECT_EQ(refusal->kind, change.kind) << describe(refusal);
        EXPECT_FALSE(none);
        EXPECT_EQ(fs::exists(file) ? readDiskFile(file) : "(none)", there) << "the check must come before the write";
        EXPECT_EQ(std::distance(fs::directory_iterator(disk_), fs::directory_iterator()), fs::exists(file) ? 1 : 0);
    }
}

TEST_F(SftpPeerTest, CheckedSavesCompareTheWholeFileAtEverySize) { checkedSavesAtRequestEdges(*provider_, disk_, dir_); }

// ---- saves that break off, and folders that take no new file ---------------------------------

// Cuts the connection once, at one step of a save (see files::detail::setSaveCutHook).
class CutOnce {
public:
    CutOnce(std::string step, files::detail::SaveMoment moment) {
        files::detail::setSaveCutHook([this, step = std::move(step), moment](std::string_view at, files::detail::SaveMoment when) {
            if (at != step || when != moment || fired_.exchange(true)) return false;
            return true;
        });
    }
    ~CutOnce() { files::detail::setSaveCutHook(nullptr); }
    bool fired() const { return fired_; }

private:
    std::atomic<bool> fired_{false};
};

// Whatever step of a save the connection breaks at (before it, or after it with its answer
// lost), the file is there under its name, whole, old or new, and the error says which; a copy
// or an old file left aside goes with the next operation that reaches the server. On a server
// whose rename does not replace, the old file steps aside and comes back where the new one
// could not take its name.
TEST_F(SftpPeerTest, ASaveCutAtAnyStepLeavesTheOldOrTheNewFileUnderItsNameAndSaysWhich) {
    using VersionCapture = Capture<std::optional<files::Bytes>, files::FileVersion, std::optional<files::FileError>>;
    using WrittenCapture = Capture<std::optional<files::FileVersion>, std::optional<files::FileError>>;
    struct Server {
        const char* name;
        std::string url;
        std::vector<const char*> steps;
    };
    const Server servers[] = {
        {"posix-rename", peer_.url, {"writeCopy", "setMode", "replace"}},
        // Its replace is refused: the old file goes aside instead.
        {"plain rename", peer_.values["PLAIN_RENAME_URL"], {"writeCopy", "setMode", "asideOld", "putNew", "removeOld"}},
    };
    const std::string old = "the old text of the page", fresh = "the new text";
    for (const Server& server : servers) {
        auto provider = providerWith(options_.trust, peer_.user, peer_.password, server.url);
        for (const char* step : server.steps) {
            for (auto moment : {files::detail::SaveMoment::before, files::detail::SaveMoment::after}) {
                SCOPED_TRACE(std::string(server.name) + ", cut " +
                             (moment == files::detail::SaveMoment::before ? "before " : "after ") + step);
                fs::remove_all(disk_);
                makeDiskFolder(disk_);
                const fs::path file = disk_ / "page.php";
                writeDiskFile(file, old);
                ::chmod(file.c_str(), 0604);  // readable by the server's user, and no default mode
                VersionCapture read;
                provider->contentsAndVersion(at("page.php"), read.callback());
                awaitOnce(read);
                ASSERT_FALSE(read.get<2>()) << describe(read.get<2>());

                std::optional<files::FileError> error;
                {
                    CutOnce cut(step, moment);
                    WrittenCapture written;
                    provider->writeContents(at("page.php"), fresh, WriteMode::replace, read.get<1>(), written.callback());
                    awaitOnce(written);
                    error = written.get<1>();
                    ASSERT_TRUE(cut.fired()) << "the save took no such step";
                }
                ASSERT_TRUE(fs::exists(file)) << "no file under its name; " << describe(error);
                const std::string there = readDiskFile(file);
                if (error) {
                    EXPECT_FALSE(error->targetIncomplete) << describe(error);
                    EXPECT_EQ(error->targetUnchanged, there == old) << describe(error) << " / " << there;
                    EXPECT_TRUE(there == old || there == fresh) << there;
                } else {
                    EXPECT_EQ(there, fresh);
                }
                struct stat st {};
                ::stat(file.c_str(), &st);
                EXPECT_EQ(st.st_mode & 07777, 0604u);

                // The next operation that reaches the server takes away what the cut left.
                ASSERT_FALSE(Sync{*provider}.list(dir_).second);
                std::vector<std::string> names;
                for (const auto& e : fs::directory_iterator(disk_)) names.push_back(e.path().filename().string());
                EXPECT_EQ(names, std::vector<std::string>{"page.php"});
                EXPECT_EQ(readDiskFile(file), there);
            }
        }
    }
}

// A folder the user may not write to takes no temporary copy: a file that is writable is written
// in place; one that is not is refused, and the error says the server's copy is unchanged. A
// write in place cut after it began says the copy is incomplete, and hands over what the server
// tells of it, so that the next checked save goes ahead over that copy only.
TEST_F(SftpPeerTest, AFolderThatTakesNoNewFileGetsTheFileWrittenInPlaceOrAClearRefusal) {
    using WrittenCapture = Capture<std::optional<files::FileVersion>, std::optional<files::FileError>>;
    const fs::path folder = disk_ / "locked";
    makeDiskFolder(folder);
    const fs::path file = folder / "page.html";
    writeDiskFile(file, "old text");
    ::chmod(file.c_str(), 0666);
    ::chmod(folder.c_str(), 0555);
    struct stat before {};
    ::stat(file.c_str(), &before);
    ASSERT_EQ(sync().write(at("locked/page.html"), std::string("new text")), std::nullopt) << "the writable file was not saved";
    EXPECT_EQ(readDiskFile(file), "new text");
    struct stat after {};
    ::stat(file.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

    // Cut once the bytes went in: incomplete, with the version of what is there.
    files::FileVersion left;
    {
        CutOnce cut("inPlace", files::detail::SaveMoment::after);
        WrittenCapture c;
        provider_->writeContents(at("locked/page.html"), std::string("cut text"), WriteMode::replace, std::nullopt,
                                 c.callback());
        awaitOnce(c);
        ASSERT_TRUE(cut.fired());
        ASSERT_TRUE(c.get<1>());
        EXPECT_TRUE(c.get<1>()->targetIncomplete) << describe(c.get<1>());
        ASSERT_TRUE(c.get<0>()) << "no version of what the cut left";
        left = *c.get<0>();
    }
    EXPECT_EQ(left.size, 8);
    {
        WrittenCapture c;
        provider_->writeContents(at("locked/page.html"), std::string("whole text"), WriteMode::replace, left, c.callback());
        awaitOnce(c);
        EXPECT_FALSE(c.get<1>()) << describe(c.get<1>());
        EXPECT_EQ(readDiskFile(file), "whole text");
    }

    ::chmod(file.c_str(), 0444);
    auto refused = sync().write(at("locked/page.html"), std::string("more"));
    ::chmod(folder.c_str(), 0777);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->kind, ErrorKind::permissionDenied) << describe(refused);
    EXPECT_TRUE(refused->targetUnchanged);
    EXPECT_FALSE(refused->targetIncomplete);
    EXPECT_EQ(readDiskFile(file), "whole text");
}

// A link whose target the server cannot resolve stays a link: the bytes go through it, never
// over it as a plain file (with the link's own mode).
TEST_F(SftpPeerTest, ALinkWhoseTargetIsMissingStaysALink) {
    fs::create_symlink("missing.html", disk_ / "current.html");
    ASSERT_EQ(sync().write(at("current.html"), std::string("new")), std::nullopt);
    EXPECT_TRUE(fs::is_symlink(disk_ / "current.html"));
    EXPECT_EQ(readDiskFile(disk_ / "missing.html"), "new");
    struct stat st {};
    ASSERT_EQ(::stat((disk_ / "missing.html").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0777, 0777u);
}

// ---- connections ---------------------------------------------------------------------------

TEST_F(SftpPeerTest, AConnectionTheServerDroppedWhileIdleIsOpenedAgain) {
    files::ProviderOptions options = options_;
    options.workers = 1;
    auto provider = files::makeProvider(peer_.values["IDLE_URL"], {peer_.user, peer_.password}, options);
    Sync s{*provider};
    writeDiskFile(disk_ / "a.txt", "a");
    const std::string dropped = "Timeout, client not responding";
    const std::size_t before = logged(dropped);
    auto [entries, error] = s.list(dir_);
    ASSERT_FALSE(error) << describe(error);
    ASSERT_TRUE(waitLogged(dropped, before + 1)) << "the server did not drop the idle connection";
    std::tie(entries, error) = s.list(dir_);
    ASSERT_FALSE(error) << describe(error);
    EXPECT_EQ(entries.size(), 1u);
}

TEST_F(SftpPeerTest, AProviderLeavesNoConnectionOpenWhenItGoes) {
    auto openFiles = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()); };
    auto round = [&] {
        auto provider = providerWith(options_.trust, peer_.user, peer_.password);
        Sync s{*provider};
        EXPECT_FALSE(s.login());
        auto wrong = providerWith(options_.trust, peer_.user, "wrong");  // a connection given up
        Sync w{*wrong};
        EXPECT_TRUE(w.login());
    };
    round();  // what the libraries open once for the process
    const auto before = openFiles();
    for (int i = 0; i < 3; ++i) round();
    EXPECT_EQ(openFiles(), before);
}

// A relay on a port of its own to the server, passing every connection on, which can stop
// passing the server's bytes on (a server that falls silent in the middle of a session) or cut
// the connections it carries (as a server does whose login grace time ran out).
class Relay {
public:
    explicit Relay(int serverPort) : serverPort_(serverPort) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 8);
        socklen_t len = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        acceptor_ = std::thread([this] { acceptAll(); });
    }
    ~Relay() {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        acceptor_.join();
        cut();
        for (std::thread& t : pipes_) t.join();
        for (int fd : open_) ::close(fd);
        ::close(listener_);
    }
    int port() const { return port_; }
    int connections() const { return connections_; }
    long fromClient() const { return fromClient_; }  // bytes passed on to the server
    void freeze() { frozen_ = true; }
    void thaw() { frozen_ = false; }
    int ended() const { return ended_; }  // connections either side closed
    // Ends every connection carried so far, on both sides.
    void cut() {
        std::lock_guard lock(mutex_);
        for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
    }

private:
    void acceptAll() {
        for (;;) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0 || stop_) {
                if (client >= 0) ::close(client);
                return;
            }
            const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(static_cast<uint16_t>(serverPort_));
            ::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a);
            ++connections_;
            std::lock_guard lock(mutex_);
            open_.push_back(client);
            open_.push_back(server);
            pipes_.emplace_back([this, client, server] {
                char buffer[65536];
                while (!stop_) {
                    const bool frozen = frozen_;
                    pollfd fds[2] = {{client, POLLIN, 0}, {server, static_cast<short>(frozen ? 0 : POLLIN), 0}};
                    if (::poll(fds, 2, 50) < 0) break;
                    bool ended = false;
                    for (int i = 0; i < 2 && !ended; ++i) {
                        if ((i == 1 && frozen) || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                        const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                        ended = n <= 0 || ::send(fds[1 - i].fd, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n;
                        if (!ended && i == 0) fromClient_ += n;
                    }
                    if (ended) break;
                }
                ::shutdown(client, SHUT_RDWR);
                ::shutdown(server, SHUT_RDWR);
                ++ended_;
            });
        }
    }
    const int serverPort_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false}, frozen_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> ended_{0};
    std::atomic<long> fromClient_{0};
    std::mutex mutex_;
    std::vector<int> open_;  // closed with the relay
    std::vector<std::thread> pipes_;
    std::thread acceptor_;
};

// A kept connection sends keepalives while idle, every ServerAliveInterval of the user's
// configuration: the server's second port, which drops a connection idle for about two
// seconds, keeps it, and the next listing needs no new connection.
TEST_F(SftpPeerTest, AnIdleConnectionSendsKeepalivesAndStaysOpen) {
    const std::string idleUrl = peer_.values["IDLE_URL"];
    Relay relay(std::stoi(idleUrl.substr(idleUrl.rfind(':') + 1)));
    TempFolder home;
    ClientHome client(home.path);
    auto provider = configuredProvider(home.path, "alive", relay.port(), "    ServerAliveInterval 1\n");
    Sync s{*provider};
    writeDiskFile(disk_ / "a.txt", "a");
    ASSERT_FALSE(s.list(dir_).second);
    // Three keepalives' worth of bytes while nothing else goes on (each is a packet of its own).
    long seen = relay.fromClient();
    for (int sent = 0; sent < 3; ++sent) {
        const long before = seen;
        const auto until = std::chrono::steady_clock::now() + 10s;
        while ((seen = relay.fromClient()) == before && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(20ms);
        ASSERT_GT(seen, before) << "no keepalive";
    }
    auto [entries, error] = s.list(dir_);
    ASSERT_FALSE(error) << describe(error);
    EXPECT_EQ(entries.size(), 1u);
    EXPECT_EQ(relay.connections(), 1) << "the idle connection was dropped";
}

// Once ServerAliveCountMax keepalives in a row got nothing back (the relay holds the server's
// bytes), the connection counts as dropped: the app cuts it, and the next listing opens a new
// one and goes through.
TEST_F(SftpPeerTest, AConnectionWhoseKeepalivesGoUnansweredIsDroppedAndOpenedAgain) {
    Relay relay(peer_.port);
    TempFolder home;
    ClientHome client(home.path);
    auto provider =
        configuredProvider(home.path, "silent", relay.port(), "    ServerAliveInterval 1\n    ServerAliveCountMax 2\n");
    Sync s{*provider};
    ASSERT_FALSE(s.list(dir_).second);
    relay.freeze();
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (relay.ended() == 0 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(20ms);
    ASSERT_EQ(relay.ended(), 1) << "the connection was not dropped";
    relay.thaw();
    auto [entries, error] = s.list(dir_);
    EXPECT_FALSE(error) << describe(error);
    EXPECT_EQ(relay.connections(), 2);
}

TEST_F(SftpPeerTest, AServerThatFallsSilentInASessionTimesOut) {
    Relay relay(peer_.port);
    files::ProviderOptions options = options_;
    options.workers = 1;
    options.timeouts.reply = 1500ms;
    auto provider = files::makeProvider("sftp://127.0.0.1:" + std::to_string(relay.port()), {peer_.user, peer_.password},
                                        options);
    Sync s{*provider};
    ASSERT_FALSE(s.list(dir_).second);
    relay.freeze();
    const auto started = std::chrono::steady_clock::now();
    ListCapture list;
    provider->contentsOfDirectory(dir_, list.callback());
    awaitOnce(list, 20s);
    ASSERT_TRUE(list.get<1>());
    EXPECT_EQ(list.get<1>()->kind, ErrorKind::timedOut) << describe(list.get<1>());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 6s);
}

// ---- host keys -----------------------------------------------------------------------------

// No trust object, or one without an asker: an unknown key is refused before any login.
TEST_F(SftpPeerTest, AnUnknownHostKeyWithNobodyToAskSendsNoLogin) {
    TempFolder app;
    const std::string probe = "probe" + randomTag();
    for (auto trust : {std::shared_ptr<files::Trust>(), std::make_shared<files::Trust>(app.path, app.path / "none")}) {
        auto provider = providerWith(trust, probe, "secret-" + probe);
        Sync s{*provider};
        auto error = s.login();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind, ErrorKind::notTrusted) << describe(error);
        EXPECT_NE(error->message.find(hostKey_.fingerprint()), std::string::npos) << error->message;
    }
    EXPECT_FALSE(fs::exists(app.path / "known_hosts"));
    // The same user once the key is known does reach the server's log: it would show it.
    EXPECT_EQ(logged("user " + probe), 0u);
    auto known = providerWith(options_.trust, probe, "secret-" + probe);
    Sync k{*known};
    auto error = k.login();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::loginRejected) << describe(error);
    EXPECT_TRUE(waitLogged("user " + probe));
}

TEST_F(SftpPeerTest, AnUnknownHostKeyIsAskedAboutBeforeTheLoginAndKeptWhenAccepted) {
    TempFolder app;
    const std::string probe = "probe" + randomTag();
    auto trust = std::make_shared<files::Trust>(app.path, app.path / "none");
    auto asker = std::make_shared<RecordingAsker>(true, log_, probe);
    trust->setAsker(asker);

    auto provider = providerWith(trust, probe, "secret");
    Sync s{*provider};
    auto error = s.login();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::loginRejected) << describe(error);  // trusted, then the login was tried
    EXPECT_TRUE(waitLogged("user " + probe));
    EXPECT_FALSE(asker->loginBeforeQuestion());
    auto questions = asker->questions();
    ASSERT_EQ(questions.size(), 1u);
    const files::TrustQuestion& q = questions[0];
    EXPECT_EQ(q.subject, files::TrustQuestion::Subject::hostKey);
    EXPECT_EQ(q.verdict, files::TrustVerdict::unknown);
    EXPECT_TRUE(q.acceptable);
    EXPECT_EQ(q.host, "127.0.0.1");
    EXPECT_EQ(q.port, peer_.port);
    EXPECT_EQ(q.hostKey.type, hostKey_.type);
    EXPECT_EQ(q.hostKey.blob, hostKey_.blob);
    EXPECT_NE(q.message.find("ED25519"), std::string::npos) << q.message;
    EXPECT_NE(q.message.find(keygenFingerprint(peer_.values["HOST_KEY"])), std::string::npos) << q.message;

    // Kept in the app's known_hosts, which OpenSSH reads too; no question the next time.
    const fs::path file = app.path / "known_hosts";
    EXPECT_EQ(run("ssh-keygen -F '" + knownName() + "' -f '" + file.string() + "' >/dev/null").first, 0);
    EXPECT_EQ(trust->checkHostKey("127.0.0.1", peer_.port, hostKey_), files::TrustVerdict::trusted);
    auto again = providerWith(trust, peer_.user, peer_.password);
    Sync a{*again};
    EXPECT_FALSE(a.login());
    EXPECT_EQ(asker->questions().size(), 1u);
}

TEST_F(SftpPeerTest, AnUnknownHostKeyTheUserRefusesSendsNoLogin) {
    TempFolder app;
    const std::string probe = "probe" + randomTag();
    auto trust = std::make_shared<files::Trust>(app.path, app.path / "none");
    auto asker = std::make_shared<RecordingAsker>(false);
    trust->setAsker(asker);
    auto provider = providerWith(trust, probe, "secret");
    Sync s{*provider};
    auto error = s.login();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::notTrusted) << describe(error);
    EXPECT_EQ(asker->questions().size(), 1u);
    EXPECT_FALSE(fs::exists(app.path / "known_hosts"));
    EXPECT_EQ(logged("user " + probe), 0u);
}

// A key the user's own known_hosts has is trusted without a question; one that differs from
// the known key of its type, or is revoked, is refused with a warning that cannot be accepted.
TEST_F(SftpPeerTest, KnownChangedAndRevokedHostKeys) {
    TempFolder keys;
    ASSERT_EQ(run("ssh-keygen -q -N '' -t ed25519 -f '" + (keys.path / "other").string() + "'").first, 0);
    ASSERT_EQ(run("ssh-keygen -q -N '' -t rsa -b 2048 -f '" + (keys.path / "rsa").string() + "'").first, 0);
    const files::HostKey other = publicKey(keys.path / "other.pub");
    const files::HostKey rsa = publicKey(keys.path / "rsa.pub");
    const std::string real = hostKey_.type + " " + defaults::base64Encode(hostKey_.blob);
    const std::string changed = other.type + " " + defaults::base64Encode(other.blob);
    const std::string otherType = rsa.type + " " + defaults::base64Encode(rsa.blob);
    struct Row {
        const char* what;
        std::string userLines, appLines;
        bool hashed;
        files::TrustVerdict verdict;
        const char* knownType = nullptr;  // named in the warning: only a key of another type is known
    };
    const Row rows[] = {
        {"known to the user", knownName() + " " + real + "\n", "", false, files::TrustVerdict::trusted},
        {"known to the user, hashed", knownName() + " " + real + "\n", "", true, files::TrustVerdict::trusted},
        {"known to the app", "", "127.0.0.2," + knownName() + " " + real + "\n", false, files::TrustVerdict::trusted},
        {"changed in the app's file", "", knownName() + " " + changed + "\n", false, files::TrustVerdict::changed},
        {"changed in the user's file, hashed", knownName() + " " + changed + "\n", "", true, files::TrustVerdict::changed},
        {"changed, though another type is known", "", knownName() + " " + changed + "\n" + knownName() +
                                                         " ssh-rsa AAAAB3NzaC1yc2EAAAADAQABAAAAgQDe\n",
         false, files::TrustVerdict::changed},
        {"revoked", knownName() + " " + real + "\n@revoked * " + real + "\n", "", false, files::TrustVerdict::changed},
        {"another port's key", "127.0.0.1 " + changed + "\n[127.0.0.1]:1 " + changed + "\n", "", false,
         files::TrustVerdict::unknown},
        // The server cannot show the RSA key known for it and shows its ed25519 one instead.
        {"only a key of another type is known to the app", "", knownName() + " " + otherType + "\n", false,
         files::TrustVerdict::changed, "RSA"},
        {"only a key of another type is known to the user, hashed", knownName() + " " + otherType + "\n", "", true,
         files::TrustVerdict::changed, "RSA"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempFolder app;
        const fs::path user = app.path / "user_known_hosts";
        writeDiskFile(user, row.userLines);
        if (row.hashed) { ASSERT_EQ(run("ssh-keygen -q -H -f '" + user.string() + "' 2>/dev/null").first, 0); }
        if (row.hashed) { ASSERT_EQ(readDiskFile(user).rfind("|1|", 0), 0u) << readDiskFile(user); }
        if (!row.appLines.empty()) writeDiskFile(app.path / "known_hosts", row.appLines);
        auto trust = std::make_shared<files::Trust>(app.path, user);
        EXPECT_EQ(trust->checkHostKey("127.0.0.1", peer_.port, hostKey_), row.verdict);
        if (row.verdict == files::TrustVerdict::unknown) continue;
        auto asker = std::make_shared<RecordingAsker>(true);
        trust->setAsker(asker);
        const std::string probe = "probe" + randomTag();
        const std::string appBefore = readDiskFile(app.path / "known_hosts");
        auto provider = providerWith(trust, probe, "secret");
        Sync s{*provider};
        auto error = s.login();
        ASSERT_TRUE(error);
        if (row.verdict == files::TrustVerdict::trusted) {
            EXPECT_EQ(error->kind, ErrorKind::loginRejected) << describe(error);
            EXPECT_TRUE(asker->questions().empty());
            continue;
        }
        EXPECT_EQ(error->kind, ErrorKind::notTrusted) << describe(error);
        auto questions = asker->questions();
        ASSERT_EQ(questions.size(), 1u);
        EXPECT_FALSE(questions[0].acceptable);
        EXPECT_EQ(questions[0].verdict, files::TrustVerdict::changed);
        const std::string removal = "ssh-keygen -R \"" + knownName() + "\" -f \"" + (app.path / "known_hosts").string() + "\"";
        EXPECT_NE(questions[0].message.find(removal), std::string::npos) << questions[0].message;
        EXPECT_NE(error->message.find(removal), std::string::npos) << error->message;
        if (row.knownType) {
            EXPECT_NE(error->message.find("of another type (" + std::string(row.knownType) + ")"), std::string::npos)
                << error->message;
        }
        EXPECT_EQ(readDiskFile(app.path / "known_hosts"), appBefore) << "a changed key is never added";
        EXPECT_EQ(readDiskFile(user), row.hashed ? readDiskFile(user) : row.userLines);
        EXPECT_EQ(logged("user " + probe), 0u);
    }
}

// A server with several host keys is asked first for the type that is known for it, in either
// file: the known key is then shown and trusted, with nobody to ask.
TEST_F(SftpPeerTest, TheKnownKeyTypeIsAskedForFirst) {
    const files::HostKey ecdsa = publicKey(peer_.values["ECDSA_HOST_KEY"]);
    ASSERT_EQ(ecdsa.type, "ecdsa-sha2-nistp256");
    const std::string line = knownName() + " " + ecdsa.type + " " + defaults::base64Encode(ecdsa.blob) + "\n";
    for (const bool inAppFile : {true, false}) {
        SCOPED_TRACE(inAppFile ? "the app's known_hosts" : "the user's known_hosts");
        TempFolder app;
        const fs::path user = app.path / "user_known_hosts";
        writeDiskFile(inAppFile ? app.path / "known_hosts" : user, line);
        auto trust = std::make_shared<files::Trust>(app.path, user);  // no asker
        auto provider = providerWith(trust, peer_.user, peer_.password);
        Sync s{*provider};
        EXPECT_FALSE(s.login()) << describe(s.login());
    }
}

TEST_F(SftpPeerTest, AConnectionIsReportedEncryptedOnceMade) {
    EXPECT_EQ(provider_->connectionEncrypted(), std::nullopt);
    ASSERT_FALSE(sync().login());
    EXPECT_EQ(provider_->connectionEncrypted(), std::optional<bool>(true));
}


// The user answers the host-key question after the server gave up waiting for a login: the
// provider connects again (the key trusted now, so without a second question) and logs in.
TEST_F(SftpPeerTest, AnAnswerThatComesAfterTheServerGaveUpConnectsAgain) {
    struct CuttingAsker final : files::TrustAsker {
        Relay* relay = nullptr;
        std::atomic<int> asked{0};
        void ask(files::TrustQuestion, std::function<void(bool)> answer) override {
            ++asked;
            relay->cut();
            answer(true);
        }
    };
    Relay relay(peer_.port);
    TempFolder app;
    auto trust = std::make_shared<files::Trust>(app.path, app.path / "none");
    auto asker = std::make_shared<CuttingAsker>();
    asker->relay = &relay;
    trust->setAsker(asker);
    {
        auto provider = providerWith(trust, peer_.user, peer_.password, "sftp://127.0.0.1:" + std::to_string(relay.port()));
        Sync s{*provider};
        auto error = s.login();
        EXPECT_FALSE(error) << describe(error);
        EXPECT_EQ(asker->asked.load(), 1);
        EXPECT_EQ(relay.connections(), 2);
        EXPECT_EQ(provider->connectionEncrypted(), std::optional<bool>(true));
    }
}

// ---- what the login asks ------------------------------------------------------------------



// A key with a passphrase: asked for in a question that names the key file, asked again when
// wrong; Cancel (or nobody to ask) goes on to the next way in, and the refusal says what was
// tried, without the passphrase.
TEST_F(SftpPeerTest, AKeysPassphraseIsAskedForAndAskedAgainWhenWrong) {
    TempFolder home;
    makeDiskFolder(home.path / ".ssh");
    const fs::path key = home.path / ".ssh/id_ed25519";
    fs::copy_file(fs::path(peer_.values["CLIENT_HOME"]) / ".ssh/id_ed25519", key);
    fs::copy_file(fs::path(peer_.values["CLIENT_HOME"]) / ".ssh/id_ed25519.pub", key.string() + ".pub");
    ::chmod(key.c_str(), 0600);
    const std::string passphrase = "open sesame " + randomTag();
    ASSERT_EQ(run("ssh-keygen -q -p -P '' -N '" + passphrase + "' -f '" + key.string() + "' >/dev/null 2>&1").first, 0);

    ClientHome client(home.path);

    using Script = std::vector<std::optional<std::vector<std::string>>>;
    struct Case {
        const char* what;
        Script script;
        bool asker;
        bool loggedIn;
        std::vector<bool> again;  // the questions put, and whether each said the last answer was wrong
        const char* tried;        // in the refusal
    };
    const Case cases[] = {
        {"right passphrase", {std::vector<std::string>{passphrase}}, true, true, {false}, nullptr},
        {"wrong, then right", {std::vector<std::string>{"wrong"}, std::vector<std::string>{passphrase}}, true, true,
         {false, true}, nullptr},
        {"cancelled", {std::nullopt}, true, false, {false}, "~/.ssh/id_ed25519 (no passphrase given)"},
        {"nobody to ask", {}, false, false, {}, "~/.ssh/id_ed25519"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder app;
        auto trust = std::make_shared<files::Trust>(app.path, peer_.values["KNOWN_HOSTS"]);
        auto asker = std::make_shared<ScriptedAsker>(c.script);
        if (c.asker) trust->setAsker(asker);
        const std::size_t before = logged("Accepted publickey for " + peer_.user);
        auto provider = providerWith(trust, peer_.user, "");
        Sync s{*provider};
        auto error = s.login();
        if (c.loggedIn) {
            EXPECT_FALSE(error) << describe(error);
            EXPECT_TRUE(waitLogged("Accepted publickey for " + peer_.user, before + 1));
        } else {
            ASSERT_TRUE(error);
            EXPECT_EQ(error->kind, ErrorKind::loginRejected) << describe(error);
            EXPECT_NE(error->message.find(std::string("tried ") + c.tried), std::string::npos) << error->message;
            EXPECT_EQ(error->message.find(passphrase), std::string::npos);
        }
        // (A refused key is followed by the question for the password nobody saved.)
        std::vector<files::LoginQuestion> questions;
        for (const auto& q : asker->questions())
            if (q.kind == files::LoginQuestion::Kind::passphrase) questions.push_back(q);
        ASSERT_EQ(questions.size(), c.again.size());
        for (std::size_t i = 0; i < questions.size(); ++i) {
            EXPECT_EQ(questions[i].keyFile, "~/.ssh/id_ed25519");
            EXPECT_NE(questions[i].title.find("~/.ssh/id_ed25519"), std::string::npos);
            EXPECT_EQ(questions[i].again, c.again[i]);
        }
    }
}

TEST(SftpPrompts, OnlyAPromptForThePasswordGetsTheSavedPassword) {
    const struct {
        const char* prompt;
        bool password;
    } rows[] = {
        {"Password: ", true},
        {"user@example.com's password: ", true},
        {"Passwort: ", true},
        {"Verification code: ", false},
        {"One-time password (OATH) for `user': ", false},
        {"OTP: ", false},
        {"New password: ", false},
        {"Retype new password: ", false},
        {"Token: ", false},
        {"Username: ", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.prompt);
        EXPECT_EQ(files::ssh::Login::asksForPassword(row.prompt), row.password);
    }
}

// ---- known_hosts and fingerprints, without a server ----------------------------------------

// An answer other than the one a request is answered with is a refusal, a status "OK" too: an
// OPEN or FSTAT never comes to a success without its handle or attributes.
TEST(SftpWire, OnlyTheAnswerAskedForIsASuccess) {
    using files::sftpwire::Result;
    using files::sftpwire::Wire;
    std::string ok, eof, handleBody, attrsBody;
    files::sftpwire::putU32(ok, SSH_FX_OK);
    files::sftpwire::putU32(eof, SSH_FX_EOF);
    files::sftpwire::putString(handleBody, "h1");
    files::sftpwire::putU32(attrsBody, 0);
    struct Row {
        std::uint8_t type;
        std::string body;
        Result::Kind kind;
        int status;
    } const handleRows[] = {
        {SSH_FXP_HANDLE, handleBody, Result::Kind::ok, 0},
        {SSH_FXP_STATUS, ok, Result::Kind::status, SSH_FX_BAD_MESSAGE},
        {SSH_FXP_STATUS, eof, Result::Kind::status, SSH_FX_EOF},
        {SSH_FXP_HANDLE, "", Result::Kind::connection, 0},
    };
    for (const Row& row : handleRows) {
        std::string handle;
        const Result r = Wire::handleIn({row.type, 1, row.body}, handle);
        EXPECT_EQ(r.kind, row.kind);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(handle, r ? "h1" : "");
    }
    const Row attrsRows[] = {
        {SSH_FXP_ATTRS, attrsBody, Result::Kind::ok, 0},
        {SSH_FXP_STATUS, ok, Result::Kind::status, SSH_FX_BAD_MESSAGE},
        {SSH_FXP_ATTRS, "", Result::Kind::connection, 0},
    };
    for (const Row& row : attrsRows) {
        sftp_attributes a = nullptr;
        const Result r = Wire::attributesIn({row.type, 1, row.body}, a);
        EXPECT_EQ(r.kind, row.kind);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(a != nullptr, bool(r));
        if (a) sftp_attributes_free(a);
    }
}

TEST(SftpKnownHosts, FingerprintsAreWrittenAsSshKeygenWritesThem) {
    TempFolder keys;
    for (const char* type : {"ed25519", "ecdsa", "rsa"}) {
        SCOPED_TRACE(type);
        const fs::path key = keys.path / type;
        ASSERT_EQ(run("ssh-keygen -q -N '' -t " + std::string(type) + " -f '" + key.string() + "'").first, 0);
        const files::HostKey hostKey = publicKey(key.string() + ".pub");
        EXPECT_EQ(hostKey.fingerprint(), keygenFingerprint(key.string() + ".pub"));
    }
}

TEST(SftpKnownHosts, LinesAndHostPatterns) {
    struct Row {
        std::string line;
        bool parsed;
        files::knownhosts::Marker marker;
        std::string name;
        bool matches;
    };
    using files::knownhosts::Marker;
    const std::string key = "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIOvj";
    const Row rows[] = {
        {"example.com " + key, true, Marker::none, "example.com", true},
        {"Example.COM " + key + " comment words", true, Marker::none, "example.com", true},
        {"a.com,b.com " + key, true, Marker::none, "b.com", true},
        {"[127.0.0.1]:2222 " + key, true, Marker::none, "[127.0.0.1]:2222", true},
        {"[127.0.0.1]:2222 " + key, true, Marker::none, "127.0.0.1", false},
        {"127.0.0.1 " + key, true, Marker::none, "[127.0.0.1]:2222", false},
        {"*.example.com " + key, true, Marker::none, "www.example.com", true},
        {"web* " + key, true, Marker::none, "web*1", true},
        {"*.example.com " + key, true, Marker::none, "example.com", false},
        {"web?.example.com " + key, true, Marker::none, "web1.example.com", true},
        {"!bad.example.com,*.example.com " + key, true, Marker::none, "bad.example.com", false},
        {"!bad.example.com,*.example.com " + key, true, Marker::none, "good.example.com", true},
        {"@revoked * " + key, true, Marker::revoked, "anything", true},
        {"@cert-authority *.example.com " + key, true, Marker::certAuthority, "www.example.com", true},
        {"\t example.com\t" + key, true, Marker::none, "example.com", true},
        {"example.com " + key + "\r\n", true, Marker::none, "example.com", true},
        {"# example.com " + key, false, Marker::none, "", false},
        {"", false, Marker::none, "", false},
        {"example.com ssh-ed25519", false, Marker::none, "", false},
        {"example.com ssh-ed25519 not*base64", false, Marker::none, "", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line + " / " + row.name);
        auto entry = files::knownhosts::parseLine(row.line);
        ASSERT_EQ(entry.has_value(), row.parsed);
        if (!entry) continue;
        EXPECT_EQ(entry->marker, row.marker);
        EXPECT_EQ(entry->type, "ssh-ed25519");
        EXPECT_EQ(files::knownhosts::matchesHost(entry->hosts, row.name), row.matches);
    }
}

// Names hashed here are found by ssh-keygen, and names ssh-keygen hashed are found here.
TEST(SftpKnownHosts, HashedNamesAgreeWithOpenSsh) {
    TempFolder folder;
    const fs::path file = folder.path / "known_hosts";
    const std::string key = "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIOvjbmJtKSXeV0HGBqsRdx7HdfmQNJ0dUbJ4rBXSNdN1";
    for (const std::string name : {"example.com", "[127.0.0.1]:2222"}) {
        SCOPED_TRACE(name);
        const std::string hashed = files::knownhosts::hashedName(name);
        EXPECT_TRUE(files::knownhosts::matchesHost(hashed, name));
        EXPECT_FALSE(files::knownhosts::matchesHost(hashed, name + "x"));
        writeDiskFile(file, hashed + " " + key + "\n");
        EXPECT_EQ(run("ssh-keygen -F '" + name + "' -f '" + file.string() + "' >/dev/null").first, 0);

        writeDiskFile(file, name + " " + key + "\n");
        ASSERT_EQ(run("ssh-keygen -q -H -f '" + file.string() + "' 2>/dev/null").first, 0);
        auto entry = files::knownhosts::parseLine(readDiskFile(file));
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->hosts.rfind("|1|", 0), 0u);
        EXPECT_TRUE(files::knownhosts::matchesHost(entry->hosts, name));
    }
}

}  // namespace
