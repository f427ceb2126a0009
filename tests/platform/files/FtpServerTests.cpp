// The FTP provider against servers that behave as many real ones do: a login folder below the
// server's root (pure-ftpd, proftpd, and pyftpdlib set up that way), logins refused until TLS
// is used (proftpd, and pyftpdlib answering as several servers do), a limit of connections
// per address, SIZE answered for folders, a listing that is no listing, a server that answers
// less (no MLST, 257 to MKD of a folder that exists), listings in every form the parser reads,
// sent as they are by a pyftpdlib that lists a marked folder with canned text, and a server that
// closes connections that sit idle (vsftpd's "421 Timeout.").

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <random>

#include "ProviderTestSupport.h"
#include "platform/files/FileProvider.h"
#include "platform/files/Trust.h"

using namespace filestest;
using files::ErrorKind;
using files::WriteMode;

namespace {

std::shared_ptr<files::FileProvider> ftpAt(const Peer& peer, const std::string& url, int workers = 3,
                                           std::chrono::milliseconds keepAlive = 60s) {
    files::ProviderOptions options;
    options.timeouts.connect = 10s;
    options.timeouts.reply = 20s;
    options.timeouts.keepAlive = keepAlive;
    options.workers = workers;
    return files::makeFtpProvider(url, {peer.user, peer.password}, options);
}

// ---- the login folder -----------------------------------------------------------------------

class LoginFolderTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        peer_ = loadPeer(GetParam());
        if (!peer_.skipReason.empty()) GTEST_SKIP() << peer_.skipReason;
        served_ = peer_.values["SERVED_ROOT"];
        ASSERT_FALSE(served_.empty());
        // Each test has a site folder of its own: tests run in parallel.
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        siteName_ = "site_" + name;
        site_ = peer_.root / siteName_;
        fs::remove_all(site_);
        makeDiskFolder(site_ / "css");
        writeDiskFile(site_ / "index.html", "<h1>home</h1>");
    }
    void TearDown() override {
        if (!site_.empty()) fs::remove_all(site_);
    }
    // The server-root path of a folder on the server's disk.
    std::string serverPathOf(const fs::path& disk) const {
        return "/" + fs::relative(disk, served_).generic_string();
    }

    Peer peer_;
    fs::path served_, site_;
    std::string siteName_;
};

TEST_P(LoginFolderTest, AUrlWithoutAPathStartsInTheLoginFolder) {
    ASSERT_NE(fs::weakly_canonical(peer_.root), fs::weakly_canonical(served_)) << "the peer has no login folder";
    auto provider = ftpAt(peer_, peer_.url);
    Sync sync{*provider};
    EXPECT_FALSE(sync.login());
    auto [entries, error] = sync.list("/");
    ASSERT_FALSE(error) << describe(error);
    const auto* site = findEntry(entries, siteName_);
    ASSERT_TRUE(site);
    EXPECT_TRUE(site->isDirectory());
    EXPECT_EQ(site->path, "/" + siteName_);
    EXPECT_FALSE(findEntry(entries, "home"));

    auto [page, readError] = sync.read("/" + siteName_ + "/index.html");
    ASSERT_FALSE(readError) << describe(readError);
    EXPECT_EQ(page.value_or(""), "<h1>home</h1>");
}

TEST_P(LoginFolderTest, AUrlPathCountsFromTheLoginFolderForListingOpeningAndSaving) {
    auto provider = ftpAt(peer_, peer_.url + "/" + siteName_);
    Sync sync{*provider};
    EXPECT_FALSE(sync.login());
    auto [entries, error] = sync.list("/");
    ASSERT_FALSE(error) << describe(error);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(findEntry(entries, "css"));
    ASSERT_TRUE(findEntry(entries, "index.html"));
    EXPECT_EQ(findEntry(entries, "index.html")->path, "/index.html");

    auto [page, readError] = sync.read("/index.html");
    ASSERT_FALSE(readError) << describe(readError);
    EXPECT_EQ(page.value_or(""), "<h1>home</h1>");

    ASSERT_FALSE(sync.write("/index.html", std::string("<h1>saved</h1>")));
    EXPECT_EQ(readDiskFile(site_ / "index.html"), "<h1>saved</h1>");
    ASSERT_FALSE(sync.write("/css/site.css", std::string("body{}"), WriteMode::createNew));
    EXPECT_EQ(readDiskFile(site_ / "css" / "site.css"), "body{}");
    ASSERT_FALSE(sync.mkdir("img", "/"));
    EXPECT_TRUE(fs::is_directory(site_ / "img"));
    ASSERT_FALSE(sync.move("/css/site.css", "/img/moved.css"));
    EXPECT_EQ(readDiskFile(site_ / "img" / "moved.css"), "body{}");
    ASSERT_FALSE(sync.remove("/img"));
    EXPECT_FALSE(fs::exists(site_ / "img"));
}

TEST_P(LoginFolderTest, AUrlPathStartingWithAnEncodedSlashCountsFromTheServerRoot) {
    auto provider = ftpAt(peer_, peer_.url + "/%2F" + serverPathOf(site_).substr(1));
    Sync sync{*provider};
    EXPECT_FALSE(sync.login());
    auto [page, readError] = sync.read("/index.html");
    ASSERT_FALSE(readError) << describe(readError);
    EXPECT_EQ(page.value_or(""), "<h1>home</h1>");
    ASSERT_FALSE(sync.write("/index.html", std::string("absolute")));
    EXPECT_EQ(readDiskFile(site_ / "index.html"), "absolute");
}

TEST_P(LoginFolderTest, AUrlFolderThatIsNotThereIsNotFound) {
    auto provider = ftpAt(peer_, peer_.url + "/" + siteName_ + "_missing");
    Sync sync{*provider};
    auto error = sync.login();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::notFound) << describe(error);
    auto [entries, listError] = sync.list("/");
    ASSERT_TRUE(listError);
    EXPECT_EQ(listError->kind, ErrorKind::notFound) << describe(listError);
}

INSTANTIATE_TEST_SUITE_P(Servers, LoginFolderTest, ::testing::Values("pyftpdx", "pureftpd", "proftpd"),
                         [](const auto& info) { return info.param; });

// ---- logins that need TLS -------------------------------------------------------------------

TEST(FtpSecureLogin, ARefusalThatAsksForTlsSaysTheServerRequiresASecureConnection) {
    Peer peer = loadPeer("pyftpdx");
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    // The user names make the peer answer USER as servers that demand TLS do.
    for (const std::string user : {"tls550", "tls534", "tls530"}) {
        auto provider = files::makeFtpProvider(peer.url, {user, "any"});
        Sync sync{*provider};
        auto error = sync.login();
        ASSERT_TRUE(error) << user;
        EXPECT_EQ(error->kind, ErrorKind::secureConnectionRequired) << user << ": " << describe(error);
        EXPECT_NE(error->message.find("requires a secure connection"), std::string::npos) << error->message;
        EXPECT_EQ(error->message.find("user name or password"), std::string::npos) << error->message;
        EXPECT_EQ(error->serverCode, std::stoi(user.substr(3))) << user;
        auto [entries, listError] = sync.list("/");
        ASSERT_TRUE(listError);
        EXPECT_EQ(listError->kind, ErrorKind::secureConnectionRequired) << describe(listError);
    }
    // A plain wrong password still says so.
    auto wrong = files::makeFtpProvider(peer.url, {peer.user, "wrong"});
    auto error = Sync{*wrong}.login();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::loginRejected) << describe(error);
}

TEST(FtpSecureLogin, ProftpdThatRequiresTlsIsLoggedInToOverTlsOnceItsCertificateIsTrusted) {
    Peer peer = loadPeer("proftpd-tls");
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    // Its certificate is self-signed: without the user's word, no login is sent.
    auto provider = files::makeFtpProvider(peer.url, {peer.user, peer.password});
    auto error = Sync{*provider}.login();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::notTrusted) << describe(error);
    EXPECT_NE(error->message.find("self-signed"), std::string::npos) << error->message;

    // Trusted, it connects over TLS.
    const fs::path folder = fs::temp_directory_path() / ("dravix-proftpd-tls-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    auto trust = std::make_shared<files::Trust>(folder, folder / "known_hosts");
    files::Certificate certificate;
    certificate.der = derOfPem(peer.values["CERT"]);
    ASSERT_FALSE(certificate.der.empty());
    ASSERT_TRUE(trust->addCertificate("127.0.0.1", peer.port, certificate));
    files::ProviderOptions options;
    options.trust = trust;
    auto trusted = files::makeFtpProvider(peer.url, {peer.user, peer.password}, options);
    Sync sync{*trusted};
    EXPECT_FALSE(sync.login()) << describe(sync.login());
    EXPECT_EQ(trusted->connectionEncrypted(), std::optional<bool>(true));
    writeDiskFile(peer.root / "tls.txt", "private");
    auto [data, readError] = sync.read("/tls.txt");
    EXPECT_FALSE(readError) << describe(readError);
    EXPECT_EQ(data.value_or(""), "private");
    fs::remove(peer.root / "tls.txt");
    fs::remove_all(folder);
}

// ---- a limit of connections per address -----------------------------------------------------

// Holds one FTP control connection open (greeted; logged in when asked).
class HeldConnection {
public:
    explicit HeldConnection(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return;
        // The whole greeting: up to the line that starts with the code and a blank.
        timeval timeout{10, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        greeting_ = reply();
    }
    ~HeldConnection() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool greeted() const { return greeting_.rfind("220", 0) == 0; }
    // USER and PASS; true when the server took them ("230").
    bool logIn(const std::string& user, const std::string& password) {
        if (!send("USER " + user) || reply().rfind("331", 0) != 0) return false;
        return send("PASS " + password) && reply().rfind("230", 0) == 0;
    }

private:
    bool send(const std::string& command) {
        const std::string line = command + "\r\n";
        return ::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
    }
    // One whole reply: up to the line that starts with the code and a blank.
    std::string reply() {
        std::string text;
        char buffer[512];
        for (;;) {
            ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
            auto last = text.rfind('\n', text.size() - 2);
            std::string_view line = last == std::string::npos ? text : std::string_view(text).substr(last + 1);
            if (text.back() == '\n' && line.size() > 3 && line[3] == ' ') break;
        }
        return text;
    }

    int fd_ = -1;
    std::string greeting_;
};

// Holds `count` connections (logged in as the peer's user with `login`) as soon as the server
// takes them all (the sessions of earlier clients may still be closing).
std::vector<std::unique_ptr<HeldConnection>> holdConnections(const Peer& peer, int count, bool login) {
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    for (;;) {
        std::vector<std::unique_ptr<HeldConnection>> held;
        for (int i = 0; i < count; ++i) held.push_back(std::make_unique<HeldConnection>(peer.port));
        bool all = std::all_of(held.begin(), held.end(), [&](const auto& h) {
            return h->greeted() && (!login || h->logIn(peer.user, peer.password));
        });
        if (all || std::chrono::steady_clock::now() > deadline) return all ? std::move(held) : decltype(held){};
        held.clear();
        std::this_thread::sleep_for(50ms);
    }
}

// The peers take at most 2 connections per address (proftpd-limit: 2 sessions of the user, a
// third refused at its login) and are used by this test alone.
class ConnectionLimitTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ConnectionLimitTest, WorkSharesTheConnectionsTheServerTakesAndItsWordsShowWhenItTakesNone) {
    Peer peer = loadPeer(GetParam());
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    for (int i = 0; i < 6; ++i) {
        const fs::path folder = peer.root / ("folder " + std::to_string(i));
        fs::remove_all(folder);
        makeDiskFolder(folder);
        writeDiskFile(folder / ("file " + std::to_string(i) + ".txt"), std::to_string(i));
    }
    {
        auto provider = ftpAt(peer, peer.url, 6);
        std::vector<ListCapture> lists(6);
        for (int i = 0; i < 6; ++i) provider->contentsOfDirectory("/folder " + std::to_string(i), lists[i].callback());
        for (int i = 0; i < 6; ++i) {
            awaitOnce(lists[i]);
            ASSERT_FALSE(lists[i].get<1>()) << "listing " << i << ": " << describe(lists[i].get<1>());
            auto entries = lists[i].get<0>();
            ASSERT_EQ(entries.size(), 1u);
            EXPECT_EQ(entries[0].name, "file " + std::to_string(i) + ".txt");
        }
        // It goes on working with the connections it kept.
        std::vector<DataCapture> reads(6);
        for (int i = 0; i < 6; ++i) {
            provider->contents("/folder " + std::to_string(i) + "/file " + std::to_string(i) + ".txt",
                               reads[i].callback());
        }
        for (int i = 0; i < 6; ++i) {
            awaitOnce(reads[i]);
            ASSERT_FALSE(reads[i].get<1>()) << describe(reads[i].get<1>());
            EXPECT_EQ(reads[i].get<0>().value_or(""), std::to_string(i));
        }
        provider.reset();  // its workers are joined: no completion can come after this
        for (int i = 0; i < 6; ++i) EXPECT_EQ(lists[i].calls(), 1);
    }
    {
        // Many files at once, twice: the provider asks for more connections than the server
        // takes, and reads every file on those it gets.
        auto provider = ftpAt(peer, peer.url, 1);
        for (int round = 0; round < 2; ++round) {
            struct Got {
                std::mutex mutex;
                std::condition_variable changed;
                std::map<std::string, std::vector<std::string>> files;
            };
            auto got = std::make_shared<Got>();
            std::vector<std::string> paths;
            for (int i = 0; i < 6; ++i) paths.push_back("/folder " + std::to_string(i) + "/file " + std::to_string(i) + ".txt");
            provider->contentsOfFiles(paths, [got](std::string path, std::optional<files::Bytes> data,
                                                   std::optional<files::FileError> error) {
                std::lock_guard lock(got->mutex);
                got->files[path].push_back(error ? "error: " + describe(error) : std::string(data.value_or("")));
                got->changed.notify_all();
            });
            std::unique_lock lock(got->mutex);
            ASSERT_TRUE(got->changed.wait_for(lock, 60s, [&] { return got->files.size() == paths.size(); }))
                << got->files.size() << " files answered";
            for (int i = 0; i < 6; ++i) {
                EXPECT_EQ(got->files[paths[i]], std::vector<std::string>{std::to_string(i)}) << "round " << round << ", " << paths[i];
            }
        }
    }

    // Someone else holds both connections: nothing opens, and the server's reply is shown.
    const bool perUser = GetParam() == "proftpd-limit";
    auto held = holdConnections(peer, 2, perUser);
    ASSERT_EQ(held.size(), 2u) << "the server did not take two connections";
    auto provider = ftpAt(peer, peer.url);
    std::vector<ListCapture> lists(3);
    for (auto& list : lists) provider->contentsOfDirectory("/folder 0", list.callback());
    for (auto& list : lists) {
        awaitOnce(list);
        auto error = list.get<1>();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind, ErrorKind::server) << describe(error);
        EXPECT_EQ(error->serverCode, perUser ? 530 : 421);
        EXPECT_FALSE(error->serverText.empty());
        EXPECT_NE(error->message.find(error->serverText), std::string::npos) << error->message;
        EXPECT_EQ(error->message.find("did not answer in time"), std::string::npos) << error->message;
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, ConnectionLimitTest, ::testing::Values("pyftpd-limit", "pureftpd-limit", "proftpd-limit"),
                         [](const auto& info) {
                             std::string name = info.param;
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name;
                         });

// ---- servers that answer SIZE for folders, listings that are none ----------------------------

TEST(FtpOddServer, AFolderThatAnswersSizeIsCopiedAndRemovedAsAFolder) {
    Peer peer = loadPeer("pyftpdx");
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    const fs::path disk = peer.root / "t_size_folders";
    fs::remove_all(disk);
    makeDiskFolder(disk / "tree" / "sub");
    writeDiskFile(disk / "tree" / "sub" / "page.html", "<p>");
    writeDiskFile(disk / "tree" / "top.txt", "top");

    auto provider = ftpAt(peer, peer.url);
    Sync sync{*provider};
    ASSERT_FALSE(sync.copy("/t_size_folders/tree", "/t_size_folders/tree copy"));
    EXPECT_EQ(readDiskFile(disk / "tree copy" / "sub" / "page.html"), "<p>");
    EXPECT_EQ(readDiskFile(disk / "tree copy" / "top.txt"), "top");
    auto error = sync.write("/t_size_folders/tree", std::string("x"), WriteMode::createNew);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::alreadyExists) << describe(error);
    ASSERT_FALSE(sync.remove("/t_size_folders/tree"));
    EXPECT_FALSE(fs::exists(disk / "tree"));
    ASSERT_FALSE(sync.remove("/t_size_folders/tree copy"));
    EXPECT_FALSE(fs::exists(disk / "tree copy"));
    fs::remove_all(disk);
}

TEST(FtpOddServer, AListingWithLinesButNoEntryIsAnErrorNotAnEmptyFolder) {
    Peer peer = loadPeer("pyftpdx");
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    const fs::path disk = peer.root / "t_garbled";
    fs::remove_all(disk);
    makeDiskFolder(disk / "garbled listing");
    makeDiskFolder(disk / "empty");

    auto provider = ftpAt(peer, peer.url);
    Sync sync{*provider};
    auto [entries, error] = sync.list("/t_garbled/garbled listing");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, "The server's folder listing could not be read.");
    EXPECT_TRUE(entries.empty());
    auto [empty, emptyError] = sync.list("/t_garbled/empty");
    ASSERT_FALSE(emptyError) << describe(emptyError);
    EXPECT_TRUE(empty.empty());
    fs::remove_all(disk);
}

// ---- a server that answers less ---------------------------------------------------------------

TEST(FtpServerThatAnswersLess, MakingAFolderThatIsThereIsRefusedThoughTheServerWouldSayItWasMade) {
    Peer peer = loadPeer("pyftpd-lax");
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    const fs::path disk = peer.root / "t_mkd";
    fs::remove_all(disk);
    makeDiskFolder(disk / "there");
    writeDiskFile(disk / "there" / "keep.txt", "keep");
    writeDiskFile(disk / "file.txt", "file");

    auto provider = ftpAt(peer, peer.url);
    Sync sync{*provider};
    for (const std::string name : {"there", "file.txt"}) {
        auto error = sync.mkdir(name, "/t_mkd");
        ASSERT_TRUE(error) << name;
        EXPECT_EQ(error->kind, ErrorKind::alreadyExists) << name << ": " << describe(error);
    }
    EXPECT_EQ(readDiskFile(disk / "there" / "keep.txt"), "keep");
    EXPECT_EQ(readDiskFile(disk / "file.txt"), "file");
    ASSERT_FALSE(sync.mkdir("new folder", "/t_mkd"));
    EXPECT_TRUE(fs::is_directory(disk / "new folder"));
    auto error = sync.mkdir("x", "/t_mkd/missing");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::parentMissing) << describe(error);
    fs::remove_all(disk);
}

// A folder whose listing shows a file that is not there (gone meanwhile): its removal meets
// pyftpdlib's "550 No such file or directory." for that file, which reads as not found.
TEST(FtpServerThatAnswersLess, ADeleteAnsweredNoSuchFileIsNotFound) {
    Peer peer = loadPeer("pyftpd-lax");
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    const fs::path disk = peer.root / "t_gone";
    fs::remove_all(disk);
    makeDiskFolder(disk / "folder");
    writeDiskFile(disk / "folder" / ".dravix-canned-list",
                  "-rw-r--r--   1 owner    group          10 Jan 02  2024 gone.html\r\n");
    auto provider = ftpAt(peer, peer.url);
    auto error = Sync{*provider}.remove("/t_gone/folder");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::notFound) << describe(error);
    EXPECT_EQ(error->message.find("did not allow"), std::string::npos) << error->message;
    fs::remove_all(disk);
}

// ---- listings in every form ------------------------------------------------------------------

struct ListedEntry {
    std::string name;
    files::FileType type;
    std::int64_t size;
};

class FtpListingFormsTest : public ::testing::Test {
protected:
    void SetUp() override {
        peer_ = loadPeer("pyftpd-lax");
        if (!peer_.skipReason.empty()) GTEST_SKIP() << peer_.skipReason;
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        disk_ = peer_.root / ("t_forms_" + name);
        fs::remove_all(disk_);
        makeDiskFolder(disk_);
        log_ = std::make_shared<LogCollector>();
        xlog::setAsyncLoggingEnabled(false);
        xlog::setDynamicLogLevel(xlog::FlagError | xlog::FlagWarning);
        xlog::Log::addLogger(log_);
        provider_ = ftpAt(peer_, peer_.url);
    }
    void TearDown() override {
        provider_.reset();
        xlog::Log::removeAllLoggers();
        if (!disk_.empty()) fs::remove_all(disk_);
    }
    // A folder whose listing is `listing`, as the server sends it; its provider path.
    std::string cannedFolder(const std::string& name, const std::string& listing) {
        makeDiskFolder(disk_ / name);
        writeDiskFile(disk_ / name / ".dravix-canned-list", listing);
        return "/" + disk_.filename().string() + "/" + name;
    }

    Peer peer_;
    fs::path disk_;
    std::shared_ptr<LogCollector> log_;
    std::shared_ptr<files::FileProvider> provider_;
};

TEST_F(FtpListingFormsTest, AListingOfEveryFamilyShowsItsEntries) {
    using files::FileType;
    struct Case {
        std::string family;
        std::string listing;
        std::vector<ListedEntry> want;
    };
    const std::vector<Case> cases = {
        {"unix",
         "total 12\r\n"
         "drwxr-xr-x   2 web      web          4096 Jun 10 08:30 css\r\n"
         "-rw-r--r--   1 web      webdevelopers1234567 Jun 10 08:30 big.zip\r\n"
         "crw-rw-rw-   1 root     root       1,   3 Jan 02  2020 null\r\n"
         "-rw-r--r--   1 web      web         33.5k 26. Juli 2020 site.html\r\n",
         {{"css", FileType::directory, 4096}, {"big.zip", FileType::regular, 1234567}, {"null", FileType::unknown, -1},
          {"site.html", FileType::regular, 34304}}},
        {"vshell",
         "drwxr-xr-x   1 web      web             0 Apr 04, 2000 21:06 images/\r\n"
         "        12345 Apr 04, 2000 21:06 index.html\r\n",
         {{"images", FileType::directory, 0}, {"index.html", FileType::regular, 12345}}},
        {"netware",
         "d [R----F--] supervisor            512       Jan 16 18:53    login\r\n"
         "- [RWCEAFMS] webmaster            214       Oct 20  2019    index.html\r\n",
         {{"login", FileType::directory, 512}, {"index.html", FileType::regular, 214}}},
        {"eplf",
         "+i8388621.48594,m825718503,r,s280,\tdjb.html\r\n"
         "+i8388621.50690,m824255907,/,\tpub\r\n",
         {{"djb.html", FileType::regular, 280}, {"pub", FileType::directory, -1}}},
        {"os2",
         "     0           DIR   05-12-97   16:44  PSFONTS\r\n"
         " 36611      A          05-12-97   16:46  README.TXT\r\n",
         {{"PSFONTS", FileType::directory, -1}, {"README.TXT", FileType::regular, 36611}}},
        {"vms",
         "\r\nDirectory DISK$USER:[WEB]\r\n\r\n"
         "INDEX.HTML;3           2/3        5-APR-2001 16:21:01  [WEB,OWNER]  (RWED,RWED,RE,)\r\n"
         "A_NAME_TOO_LONG_FOR_ITS_COLUMN.CSS;1\r\n"
         "                       4/6        5-APR-2001 16:21:01  [WEB,OWNER]  (RWED,RWED,RE,)\r\n"
         "IMAGES.DIR;1           1/3       12-MAR-1996 10:23:46  [WEB,OWNER]  (RWE,RWE,RE,RE)\r\n"
         "\r\nTotal of 3 files, 7/12 blocks.\r\n",
         {{"INDEX.HTML", FileType::regular, 1024}, {"A_NAME_TOO_LONG_FOR_ITS_COLUMN.CSS", FileType::regular, 2048},
          {"IMAGES", FileType::directory, -1}}},
        {"as400",
         "WEBOWNER        77824 02/23/00 15:09:55 *DIR       images/\r\n"
         "WEBOWNER         1234 02/23/00 15:09:55 *STMF      index.html\r\n",
         {{"images", FileType::directory, -1}, {"index.html", FileType::regular, 1234}}},
        {"dos",
         "06-10-25  08:30AM       <DIR>          Web Site\r\n"
         "2002-09-02  19:06                 9,730 name.htm\r\n",
         {{"Web Site", FileType::directory, -1}, {"name.htm", FileType::regular, 9730}}},
        {"dos name first",
         "Program Files          <DIR>     04-27-00  12:09p\r\n"
         "readme.txt            1,234     04-27-00   6:22a\r\n",
         {{"Program Files", FileType::directory, -1}, {"readme.txt", FileType::regular, 1234}}},
        {"cjk",
         "-rw-r--r-- 1 web web 100  6\xE6\x9C\x88 10 08:30 ja.html\r\n"
         "-rw-r--r-- 1 web web 200 2020\x94\x4E" "6\x8C\x8E" "10\x93\xFA sjis.html\r\n",
         {{"ja.html", FileType::regular, 100}, {"sjis.html", FileType::regular, 200}}},
    };
    Sync sync{*provider_};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.family);
        const std::string folder = cannedFolder(c.family, c.listing);
        auto [entries, error] = sync.list(folder);
        ASSERT_FALSE(error) << describe(error);
        ASSERT_EQ(entries.size(), c.want.size());
        for (std::size_t i = 0; i < c.want.size(); ++i) {
            EXPECT_EQ(entries[i].name, c.want[i].name);
            EXPECT_EQ(entries[i].path, folder + "/" + c.want[i].name);
            EXPECT_EQ(entries[i].type, c.want[i].type) << c.want[i].name;
            EXPECT_EQ(entries[i].size, c.want[i].size) << c.want[i].name;
            EXPECT_TRUE(entries[i].modificationDate) << c.want[i].name;
        }
    }
    EXPECT_TRUE(log_->lines().empty()) << ::testing::PrintToString(log_->lines());
}

TEST_F(FtpListingFormsTest, AMainframeListingSaysTheFormIsNotSupported) {
    const std::string folder = cannedFolder("mvs",
                                            "Volume Unit    Referred Ext Used Recfm Lrecl BlkSz Dsorg Dsname\r\n"
                                            "WEB001 3390   2024/06/10  1   15  FB      80 27920  PS  WEB.INDEX.HTML\r\n");
    auto [entries, error] = Sync{*provider_}.list(folder);
    ASSERT_TRUE(error);
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(error->message, "The server's folder listing is in a form that is not supported (a mainframe data set listing).");
}

TEST_F(FtpListingFormsTest, AListingWithUnreadableLinesShowsTheRestAndLogsEachSuchLineOnce) {
    const std::string folder = cannedFolder("mixed",
                                            "-rw-r--r--   1 web      web             5 Jun 10 08:30 a.html\r\n"
                                            "this line is no entry\r\n"
                                            "drwxr-xr-x   2 web      web          4096 Jun 10 08:30 b\r\n"
                                            "this line is no entry\r\n"
                                            "neither is\x1b[2J this\r\n");
    Sync sync{*provider_};
    for (int round = 0; round < 2; ++round) {
        auto [entries, error] = sync.list(folder);
        ASSERT_FALSE(error) << describe(error);
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0].name, "a.html");
        EXPECT_EQ(entries[1].name, "b");
    }
    EXPECT_EQ(log_->count("this line is no entry"), 1u) << ::testing::PrintToString(log_->lines());
    EXPECT_EQ(log_->count("neither is\\x1b[2J this"), 1u) << ::testing::PrintToString(log_->lines());
    EXPECT_EQ(log_->lines().size(), 2u) << ::testing::PrintToString(log_->lines());
    for (const std::string& line : log_->lines()) {
        EXPECT_EQ(line.find(peer_.password), std::string::npos) << line;
        EXPECT_EQ(line.find(peer_.user), std::string::npos) << line;
    }
}

// ---- a server that closes idle connections ----------------------------------------------------

// vsftpd with idle_session_timeout=2 closes the kept connection two seconds after each operation.
// The next operation, of whatever kind, opens a new one and goes through.
TEST(FtpIdleServer, EveryKindOfOperationWorksAfterTheServerClosedTheIdleConnection) {
    Peer peer = loadPeer("vsftpd-idle");
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    const fs::path disk = peer.root / "idle";
    fs::remove_all(disk);
    makeDiskFolder(disk);
    writeDiskFile(disk / "page.html", "<p>old</p>");
    auto provider = ftpAt(peer, peer.url, 1);  // one worker: one kept connection
    Sync sync{*provider};

    // The server's log shows a "421 Timeout." for each connection it closed.
    auto closes = [&] {
        std::ifstream in(peer.values["REQUEST_LOG"]);
        int n = 0;
        for (std::string line; std::getline(in, line);) n += line.find("\"421 Timeout.\"") != std::string::npos;
        return n;
    };
    auto waitForClose = [&](int before) {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (closes() == before && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
        return closes() > before;
    };

    struct Step {
        std::string what;
        std::function<std::optional<files::FileError>()> run;
    };
    const std::vector<Step> steps{
        {"list", [&] { return sync.list("/idle").second; }},
        {"read", [&] { return sync.read("/idle/page.html").second; }},
        {"replace", [&] { return sync.write("/idle/page.html", std::string("<p>new</p>")); }},
        {"create", [&] { return sync.write("/idle/new.html", std::string("x"), WriteMode::createNew); }},
        {"mkdir", [&] { return sync.mkdir("sub", "/idle"); }},
        {"move", [&] { return sync.move("/idle/new.html", "/idle/sub/moved.html"); }},
        {"copy", [&] { return sync.copy("/idle/sub", "/idle/copy"); }},
        {"remove", [&] { return sync.remove("/idle/copy"); }},
        {"login", [&] { return sync.login(); }},
    };
    int seen = closes();
    ASSERT_FALSE(sync.list("/idle").second);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        ASSERT_TRUE(waitForClose(seen)) << "the server did not close the idle connection";
        seen = closes();
        auto error = step.run();
        EXPECT_FALSE(error) << describe(error);
    }
    EXPECT_EQ(readDiskFile(disk / "page.html"), "<p>new</p>");
    EXPECT_EQ(readDiskFile(disk / "sub" / "moved.html"), "x");
    EXPECT_FALSE(fs::exists(disk / "copy"));
    provider.reset();
    fs::remove_all(disk);
}

}  // namespace

// An idle kept connection sends a NOOP each keep-alive time: vsftpd, which closes a session idle
// for two seconds, keeps it, and the next listing goes over the same session. The server's log
// has a line per command and reply, with its session's process id ("[pid 123]").
TEST(FtpIdleServer, AnIdleKeptConnectionSendsNoopsAndStaysOpen) {
    Peer peer = loadPeer("vsftpd-idle");
    ASSERT_TRUE(peer.skipReason.empty()) << peer.skipReason;
    const std::string folder = "kept-" + std::to_string(std::random_device{}());
    const fs::path disk = peer.root / folder;
    fs::remove_all(disk);
    makeDiskFolder(disk);
    auto provider = ftpAt(peer, peer.url, 1, 300ms);  // one worker: one kept connection
    Sync sync{*provider};
    auto lines = [&] {
        std::ifstream in(peer.values["REQUEST_LOG"]);
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    };
    // The session that last sent a command naming the folder (other tests use this server too).
    auto session = [&] {
        std::string pid;
        for (const std::string& line : lines()) {
            const auto at = line.find("[pid ");
            if (at != std::string::npos && line.find("FTP command") != std::string::npos && line.find(folder) != std::string::npos)
                pid = line.substr(at, line.find(']', at) - at + 1);
        }
        return pid;
    };
    auto count = [&](const std::string& pid, const std::string& text) {
        int n = 0;
        for (const std::string& line : lines()) n += line.find(pid) != std::string::npos && line.find(text) != std::string::npos;
        return n;
    };
    ASSERT_FALSE(sync.list("/" + folder).second);
    const std::string pid = session();
    ASSERT_FALSE(pid.empty());
    // Eight NOOPs take longer than the two idle seconds after which the server closes.
    const int noops = count(pid, "\"NOOP\"");
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (count(pid, "\"NOOP\"") < noops + 8 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(50ms);
    ASSERT_GE(count(pid, "\"NOOP\""), noops + 8) << "no NOOP while idle";
    EXPECT_EQ(count(pid, "421 Timeout."), 0) << "the server closed the idle connection";
    ASSERT_FALSE(sync.list("/" + folder).second);
    EXPECT_EQ(session(), pid) << "the listing needed a new connection";
    fs::remove_all(disk);
}
