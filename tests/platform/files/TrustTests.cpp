// Trust and TLS: the store of trusted certificates and the question to the user, FTP over TLS
// by default with plain FTP only where the server offers no TLS, encryption required per
// server, and the certificate rules against real servers (vsftpd with a certificate from a
// test CA, proftpd (explicit and implicit TLS) and pure-ftpd with self-signed ones, Apache over
// HTTPS with one that is also expired and for another name). For each rule the
// servers' own logs show what reached them: no login before the certificate is trusted.

#include <algorithm>
#include <functional>

#include "ProviderTestSupport.h"
#include "platform/files/CertificateCheck.h"
#include "platform/files/FileProvider.h"
#include "platform/files/Trust.h"

using namespace filestest;
using files::Certificate;
using files::ErrorKind;
using files::Trust;
using files::TrustQuestion;
using files::TrustVerdict;

namespace {

// Answers every question with `trust`, and keeps the questions.
class RecordingAsker : public files::TrustAsker {
public:
    explicit RecordingAsker(bool trust) : trust_(trust) {}
    void ask(TrustQuestion question, std::function<void(bool)> answer) override {
        {
            std::lock_guard lock(mutex_);
            questions_.push_back(std::move(question));
        }
        answer(trust_);
    }
    std::vector<TrustQuestion> questions() const {
        std::lock_guard lock(mutex_);
        return questions_;
    }

private:
    const bool trust_;
    mutable std::mutex mutex_;
    std::vector<TrustQuestion> questions_;
};

// Keeps the question and never answers; tells when it was asked.
class SilentAsker : public files::TrustAsker {
public:
    void ask(TrustQuestion, std::function<void(bool)> answer) override {
        std::lock_guard lock(mutex_);
        pending_ = std::move(answer);
        asked_.notify_all();
    }
    bool waitAsked() {
        std::unique_lock lock(mutex_);
        return asked_.wait_for(lock, 30s, [&] { return pending_ != nullptr; });
    }
    void answer(bool trust) {
        std::function<void(bool)> a;
        {
            std::lock_guard lock(mutex_);
            a = pending_;
        }
        if (a) a(trust);
    }

private:
    std::mutex mutex_;
    std::condition_variable asked_;
    std::function<void(bool)> pending_;
};

fs::path freshFolder(const std::string& name) {
    fs::path dir = fs::temp_directory_path() / ("dravix-trust-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

Certificate certificateWith(const std::string& der) {
    Certificate c;
    c.der = der;
    return c;
}

// ---- the store ------------------------------------------------------------------------------

// The host and port that trust is kept for, from a URL's authority: the scheme's port when the
// authority gives none or one that is no port.
TEST(TrustCertificates, AnAuthorityNamesItsHostAndPortOrTheSchemesPort) {
    const struct {
        const char* authority;
        const char* scheme;
        const char* host;
        int port;
    } rows[] = {
        {"example.com", "ftp", "example.com", 21},     {"example.com", "ftps", "example.com", 990},
        {"example.com", "sftp", "example.com", 22},    {"example.com", "https", "example.com", 443},
        {"example.com:2121", "ftp", "example.com", 2121}, {"[::1]:2222", "sftp", "::1", 2222},
        {"[::1]", "sftp", "::1", 22},                  {"example.com:70000", "sftp", "example.com", 22},
        {"example.com:65535", "sftp", "example.com", 65535}, {"example.com:x1", "ftp", "example.com", 21},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.scheme) + "://" + row.authority);
        const auto [host, port] = files::detail::hostAndPort(row.authority, row.scheme);
        EXPECT_EQ(host, row.host);
        EXPECT_EQ(port, row.port);
    }
}

TEST(TrustCertificates, AFingerprintIsTheSha256OfTheDerInUpperCaseHexPairs) {
    // SHA-256 of "abc".
    EXPECT_EQ(certificateWith("abc").fingerprint(),
              "BA:78:16:BF:8F:01:CF:EA:41:41:40:DE:5D:AE:22:23:B0:03:61:A3:96:17:7A:9C:B4:10:FF:61:F2:00:15:AD");
}

TEST(TrustCertificates, ATrustedCertificateIsKnownForItsHostAndPortOnly) {
    const fs::path dir = freshFolder("store");
    auto trust = std::make_shared<Trust>(dir / "data", dir / "none");
    const Certificate first = certificateWith("first"), second = certificateWith("second");
    EXPECT_EQ(trust->checkCertificate("example.test", 990, first), TrustVerdict::unknown);
    ASSERT_TRUE(trust->addCertificate("example.test", 990, first));
    ASSERT_TRUE(trust->addCertificate("::1", 21, second));

    struct Case {
        std::string host;
        int port;
        const Certificate* certificate;
        TrustVerdict verdict;
    };
    const Case cases[] = {
        {"example.test", 990, &first, TrustVerdict::trusted},
        {"example.test", 990, &second, TrustVerdict::changed},
        {"example.test", 21, &first, TrustVerdict::unknown},
        {"other.test", 990, &first, TrustVerdict::unknown},
        {"::1", 21, &second, TrustVerdict::trusted},
    };
    // A new Trust on the same folder reads what the first one wrote.
    auto again = std::make_shared<Trust>(dir / "data", dir / "none");
    for (const Case& c : cases) {
        EXPECT_EQ(again->checkCertificate(c.host, c.port, *c.certificate), c.verdict) << c.host << ":" << c.port;
    }
    // Trusting another certificate there replaces the first.
    ASSERT_TRUE(again->addCertificate("example.test", 990, second));
    EXPECT_EQ(trust->checkCertificate("example.test", 990, second), TrustVerdict::trusted);
    EXPECT_EQ(trust->checkCertificate("example.test", 990, first), TrustVerdict::changed);
    EXPECT_EQ((fs::status(trust->certificatesFile()).permissions() & fs::perms::group_read), fs::perms::none);
    fs::remove_all(dir);
}

TEST(TrustCertificates, AnUnreadableFileIsKeptAsideAndNothingInItIsTrusted) {
    const fs::path dir = freshFolder("unreadable");
    auto trust = std::make_shared<Trust>(dir, dir / "none");
    writeDiskFile(trust->certificatesFile(), "{ not json");
    EXPECT_EQ(trust->checkCertificate("h", 1, certificateWith("x")), TrustVerdict::unknown);
    ASSERT_TRUE(trust->addCertificate("h", 1, certificateWith("x")));
    EXPECT_EQ(trust->checkCertificate("h", 1, certificateWith("x")), TrustVerdict::trusted);
    int keptAside = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().filename().string().find(".bad-") != std::string::npos) {
            ++keptAside;
            EXPECT_EQ(readDiskFile(entry.path()), "{ not json");
        }
    }
    EXPECT_EQ(keptAside, 1);
    fs::remove_all(dir);
}

TEST(TrustDecide, NothingIsTrustedWithoutAnAskerOrWhenTheUserSaysNo) {
    const fs::path dir = freshFolder("decide");
    auto trust = std::make_shared<Trust>(dir, dir / "none");
    TrustQuestion q;
    q.subject = TrustQuestion::Subject::certificate;
    q.host = "h";
    q.port = 443;
    q.certificate = certificateWith("c");
    EXPECT_FALSE(trust->decide(q));
    trust->setAsker(std::make_shared<RecordingAsker>(false));
    EXPECT_FALSE(trust->decide(q));
    EXPECT_EQ(trust->checkCertificate("h", 443, q.certificate), TrustVerdict::unknown);
    auto yes = std::make_shared<RecordingAsker>(true);
    trust->setAsker(yes);
    q.acceptable = false;
    EXPECT_FALSE(trust->decide(q)) << "a question that cannot be accepted is only shown";
    q.acceptable = true;
    EXPECT_TRUE(trust->decide(q));
    EXPECT_EQ(yes->questions().size(), 2u);
    EXPECT_EQ(trust->checkCertificate("h", 443, q.certificate), TrustVerdict::trusted);
    fs::remove_all(dir);
}

TEST(TrustDecide, ACancelledOperationStopsTheWaitAndALateAnswerTrustsNothing) {
    const fs::path dir = freshFolder("cancel");
    auto trust = std::make_shared<Trust>(dir, dir / "none");
    auto asker = std::make_shared<SilentAsker>();
    trust->setAsker(asker);
    TrustQuestion q;
    q.subject = TrustQuestion::Subject::certificate;
    q.host = "h";
    q.port = 443;
    q.certificate = certificateWith("c");
    files::Operation op;
    std::thread waiter([&] { EXPECT_FALSE(trust->decide(q, &op)); });
    ASSERT_TRUE(asker->waitAsked());
    op.cancel();
    waiter.join();
    asker->answer(true);
    EXPECT_EQ(trust->checkCertificate("h", 443, q.certificate), TrustVerdict::unknown);
    fs::remove_all(dir);
}

// ---- servers --------------------------------------------------------------------------------

// What reached the server: the lines of its command (or request) log.
std::vector<std::string> logLines(const Peer& peer) {
    std::vector<std::string> lines;
    for (const char* key : {"COMMAND_LOG", "REQUEST_LOG"}) {
        auto it = peer.values.find(key);
        if (it == peer.values.end()) continue;
        std::ifstream in(it->second);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        break;
    }
    return lines;
}
// Whether any log line since `from` carries a login (USER, PASS) or, on a web server, any request.
bool loginReached(const Peer& peer, std::size_t from) {
    auto lines = logLines(peer);
    const bool web = peer.url.rfind("http", 0) == 0;
    for (std::size_t i = from; i < lines.size(); ++i) {
        if (web) return true;
        // vsftpd: FTP command: Client "127.0.0.1", "USER dravix"; proftpd: USER dravix
        for (const char* command : {"USER ", "PASS "}) {
            if (lines[i].rfind(command, 0) == 0 || lines[i].find(std::string("\"") + command) != std::string::npos)
                return true;
        }
    }
    return false;
}

struct TlsServer {
    std::string kind;
    std::string reason;  // part of what the system's trust store says of the certificate
};
void PrintTo(const TlsServer& server, std::ostream* out) { *out << server.kind; }

class CertificateTest : public ::testing::TestWithParam<TlsServer> {
protected:
    void SetUp() override {
        peer_ = loadPeer(GetParam().kind);
        if (!peer_.skipReason.empty()) GTEST_SKIP() << peer_.skipReason;
        dir_ = freshFolder(GetParam().kind + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        der_ = derOfPem(peer_.values["CERT"]);
        ASSERT_FALSE(der_.empty());
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }
    std::shared_ptr<Trust> newTrust(std::shared_ptr<files::TrustAsker> asker) const {
        auto trust = std::make_shared<Trust>(dir_, dir_ / "no_known_hosts");
        trust->setAsker(std::move(asker));
        return trust;
    }
    std::shared_ptr<files::FileProvider> provider(std::shared_ptr<Trust> trust) const {
        files::ProviderOptions options;
        options.timeouts.connect = 10s;
        options.timeouts.reply = 20s;
        options.trust = std::move(trust);
        return files::makeProvider(peer_.url, {peer_.user, peer_.password}, options);
    }

    Peer peer_;
    fs::path dir_;
    std::string der_;
};

TEST_P(CertificateTest, AnUntrustedCertificateStopsTheConnectionBeforeTheLogin) {
    const std::size_t before = logLines(peer_).size();
    // Nobody to ask: nothing unknown is trusted.
    auto p = provider(newTrust(nullptr));
    auto error = Sync{*p}.login();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::notTrusted) << describe(error);
    EXPECT_NE(error->message.find(GetParam().reason), std::string::npos) << error->message;
    // The user says no.
    auto no = std::make_shared<RecordingAsker>(false);
    auto refused = provider(newTrust(no));
    error = Sync{*refused}.login();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::notTrusted) << describe(error);
    ASSERT_EQ(no->questions().size(), 1u);
    const TrustQuestion q = no->questions().front();
    EXPECT_EQ(q.subject, TrustQuestion::Subject::certificate);
    EXPECT_EQ(q.verdict, TrustVerdict::unknown);
    EXPECT_EQ(q.host, "127.0.0.1");
    EXPECT_EQ(q.port, peer_.port);
    EXPECT_EQ(q.certificate.der, der_);
    EXPECT_NE(q.certificate.reason.find(GetParam().reason), std::string::npos) << q.certificate.reason;
    EXPECT_NE(q.certificate.subject.find("CN="), std::string::npos) << q.certificate.subject;
    for (const std::string& shown : {q.certificate.subject, q.certificate.issuer, q.certificate.notBefore,
                                     q.certificate.notAfter, q.certificate.reason, certificateWith(der_).fingerprint()}) {
        EXPECT_FALSE(shown.empty());
        EXPECT_NE(q.message.find(shown), std::string::npos) << shown << " not in: " << q.message;
    }
    EXPECT_FALSE(loginReached(peer_, before)) << "the server got a login before its certificate was trusted";
    EXPECT_FALSE(fs::exists(dir_ / "trusted_certificates.json"));
}

TEST_P(CertificateTest, ATrustedCertificateConnectsAndIsNotAskedForAgain) {
    auto yes = std::make_shared<RecordingAsker>(true);
    auto p = provider(newTrust(yes));
    Sync sync{*p};
    ASSERT_FALSE(sync.login()) << describe(sync.login());
    writeDiskFile(peer_.root / "trusted.txt", "over TLS");
    auto [data, error] = sync.read("/trusted.txt");
    ASSERT_FALSE(error) << describe(error);
    EXPECT_EQ(data.value_or(""), "over TLS");
    EXPECT_EQ(yes->questions().size(), 1u);
    EXPECT_EQ(p->connectionEncrypted(), std::optional<bool>(true));

    // Another provider, and another Trust on the same folder (as after a restart): no question.
    auto asked = std::make_shared<RecordingAsker>(false);
    auto again = provider(newTrust(asked));
    Sync sync2{*again};
    auto [entries, listError] = sync2.list("/");
    ASSERT_FALSE(listError) << describe(listError);
    EXPECT_TRUE(findEntry(entries, "trusted.txt"));
    ASSERT_FALSE(sync2.write("/written.txt", std::string("saved over TLS")));
    EXPECT_EQ(readDiskFile(peer_.root / "written.txt"), "saved over TLS");
    EXPECT_TRUE(asked->questions().empty());
    fs::remove(peer_.root / "trusted.txt");
    fs::remove(peer_.root / "written.txt");
}

TEST_P(CertificateTest, OperationsThatMeetTheCertificateTogetherAreAskedAboutOnce) {
    auto no = std::make_shared<RecordingAsker>(false);
    auto p = provider(newTrust(no));
    std::vector<ListCapture> lists(3);
    for (auto& list : lists) p->contentsOfDirectory("/", list.callback());
    for (auto& list : lists) {
        awaitOnce(list);
        ASSERT_TRUE(list.get<1>());
        EXPECT_EQ(list.get<1>()->kind, ErrorKind::notTrusted) << describe(list.get<1>());
    }
    EXPECT_EQ(no->questions().size(), 1u);
}

TEST_P(CertificateTest, ACertificateThatChangedIsAskedForAgainAndSaysSo) {
    auto trust = newTrust(nullptr);
    ASSERT_TRUE(trust->addCertificate("127.0.0.1", peer_.port, certificateWith("the one trusted before")));
    const std::size_t before = logLines(peer_).size();
    auto no = std::make_shared<RecordingAsker>(false);
    trust->setAsker(no);
    auto error = Sync{*provider(trust)}.login();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::notTrusted) << describe(error);
    ASSERT_EQ(no->questions().size(), 1u);
    EXPECT_EQ(no->questions().front().verdict, TrustVerdict::changed);
    EXPECT_NE(no->questions().front().message.find("changed"), std::string::npos);
    EXPECT_NE(no->questions().front().title.find("changed"), std::string::npos);
    EXPECT_FALSE(loginReached(peer_, before));

    auto yes = std::make_shared<RecordingAsker>(true);
    trust->setAsker(yes);
    EXPECT_FALSE(Sync{*provider(trust)}.login());
    EXPECT_EQ(trust->checkCertificate("127.0.0.1", peer_.port, certificateWith(der_)), TrustVerdict::trusted);
}

INSTANTIATE_TEST_SUITE_P(Servers, CertificateTest,
                         ::testing::Values(TlsServer{"vsftpd-tls", "unable to get local issuer certificate"},
                                           TlsServer{"proftpd-tls", "self-signed certificate"},
                                           TlsServer{"proftpd-ftps", "self-signed certificate"},
                                           TlsServer{"pureftpd-tls", "self-signed certificate"},
                                           TlsServer{"apache-tls",
                                                     "self-signed certificate; certificate has expired; the "
                                                     "certificate is for another name than 127.0.0.1"}),
                         [](const auto& info) {
                             std::string name = info.param.kind;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// ---- FTP with and without TLS ---------------------------------------------------------------

TEST(FtpTls, AServerWithoutTlsIsStillSpokenToInPlainFtp) {
    Peer peer = loadPeer("pyftpd");
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    auto p = files::makeFtpProvider(peer.url, {peer.user, peer.password});
    EXPECT_EQ(p->connectionEncrypted(), std::nullopt);
    EXPECT_FALSE(Sync{*p}.login());
    EXPECT_EQ(p->connectionEncrypted(), std::optional<bool>(false));
}

TEST(FtpTls, AServerSetToRequireEncryptionThatOffersNoneGetsNoLogin) {
    Peer peer = loadPeer("vsftpd");
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    const std::size_t before = logLines(peer).size();
    files::ProviderOptions options;
    options.requireTls = true;
    auto p = files::makeFtpProvider(peer.url, {peer.user, peer.password}, options);
    auto error = Sync{*p}.login();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, ErrorKind::secureConnectionRequired) << describe(error);
    EXPECT_NE(error->message.find("require"), std::string::npos) << error->message;
    auto lines = logLines(peer);
    bool askedForTls = false;
    for (std::size_t i = before; i < lines.size(); ++i) askedForTls |= lines[i].find("\"AUTH TLS\"") != std::string::npos;
    EXPECT_TRUE(askedForTls);
    EXPECT_FALSE(loginReached(peer, before));
}

// An FTP provider for the TLS peer whose trust (kept in `dir`) has the peer's certificate pinned;
// nullptr when the certificate cannot be pinned.
std::shared_ptr<files::FileProvider> providerTrustingItsCertificate(Peer& peer, const fs::path& dir) {
    auto trust = std::make_shared<Trust>(dir, dir / "none");
    if (!trust->addCertificate("127.0.0.1", peer.port, certificateWith(derOfPem(peer.values["CERT"])))) return nullptr;
    files::ProviderOptions options;
    options.trust = trust;
    return files::makeFtpProvider(peer.url, {peer.user, peer.password}, options);
}

TEST(FtpTls, AServerThatOffersTlsIsSpokenToOverTlsWithProtectedData) {
    Peer peer = loadPeer("vsftpd-tls");
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    const fs::path dir = freshFolder("offers");
    const std::size_t before = logLines(peer).size();
    auto p = providerTrustingItsCertificate(peer, dir);
    ASSERT_TRUE(p);
    auto [entries, error] = Sync{*p}.list("/");
    ASSERT_FALSE(error) << describe(error);
    EXPECT_EQ(p->connectionEncrypted(), std::optional<bool>(true));
    auto lines = logLines(peer);
    std::vector<std::string> commands;
    for (std::size_t i = before; i < lines.size(); ++i) {
        for (const char* c : {"\"AUTH TLS\"", "\"USER ", "\"PROT P\""}) {
            if (lines[i].find(c) != std::string::npos) commands.push_back(c);
        }
    }
    const std::vector<std::string> expected{"\"AUTH TLS\"", "\"USER ", "\"PROT P\""};
    EXPECT_EQ(commands, expected);
    fs::remove_all(dir);
}

// vsftpd 3.0 over TLS 1.3 broke off uploads of some hundred kilobytes ("426 Failure reading
// network stream") when the client closed the data connection with the server's session tickets
// unread, so that the kernel reset it: the provider reads them before it closes. Saves of every
// size where that came (a few of each, as it came at a moment that varied) reach vsftpd whole,
// TLS 1.3 only or not, without one 426 and without the TLS 1.2 fall-back.
class FtpTlsUploads : public ::testing::TestWithParam<std::string> {};

TEST_P(FtpTlsUploads, SavesReachVsftpdWholeOverTls13) {
    Peer peer = loadPeer(GetParam());
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    const fs::path dir = freshFolder("uploads");
    auto log = std::make_shared<LogCollector>();
    xlog::setAsyncLoggingEnabled(false);
    xlog::setDynamicLogLevel(xlog::FlagError | xlog::FlagWarning);
    xlog::Log::addLogger(log);
    const std::size_t before = logLines(peer).size();
    auto p = providerTrustingItsCertificate(peer, dir);
    ASSERT_TRUE(p);
    Sync sync{*p};
    for (std::size_t size : {128u << 10, 256u << 10, 512u << 10, 1024u << 10}) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919) % 251);
        for (int round = 0; round < 5; ++round) {
            SCOPED_TRACE(std::to_string(size >> 10) + " kB, save " + std::to_string(round));
            bytes[0] = static_cast<char>(round);
            auto error = sync.write("/uploaded.bin", bytes);
            ASSERT_FALSE(error) << describe(error);
            EXPECT_EQ(readDiskFile(peer.root / "uploaded.bin"), bytes);
        }
    }
    auto [read, error] = sync.read("/uploaded.bin");
    ASSERT_FALSE(error) << describe(error);
    EXPECT_EQ(read.value_or("").size(), 1024u << 10);
    const auto lines = logLines(peer);
    for (std::size_t i = before; i < lines.size(); ++i) EXPECT_EQ(lines[i].find("\"426 "), std::string::npos) << lines[i];
    EXPECT_EQ(log->count("TLS 1.2"), 0u) << ::testing::PrintToString(log->lines());
    p.reset();
    xlog::Log::removeAllLoggers();
    fs::remove(peer.root / "uploaded.bin");
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpTlsUploads, ::testing::Values("vsftpd-tls", "vsftpd-tls13"),
                         [](const auto& info) {
                             std::string name = info.param;
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name;
                         });


// vsftpd and proftpd take a data connection only when it resumes the TLS session of its control
// connection (vsftpd's require_ssl_reuse and proftpd's default): what follows a save, on the
// connection that made it, is taken every time, the reads at once from every worker too. A case
// runs a few rounds, on a provider whose workers all logged in first.
class FtpTlsSessionReuse : public ::testing::TestWithParam<std::string> {};

TEST_P(FtpTlsSessionReuse, WhatFollowsASaveIsTaken) {
    Peer peer = loadPeer(GetParam());
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    constexpr int kWorkers = 3;
    auto readsAtOnce = [&](files::FileProvider& p, int round) {
        std::vector<DataCapture> reads(2 * kWorkers);
        for (auto& read : reads) p.contents("/after/saved.txt", read.callback());
        for (auto& read : reads) {
            awaitOnce(read);
            EXPECT_FALSE(read.get<1>()) << describe(read.get<1>());
            EXPECT_EQ(read.get<0>().value_or(""), "saved " + std::to_string(round));
        }
    };
    const struct {
        const char* name;
        std::function<void(files::FileProvider&, int round)> next;
    } rows[] = {
        {"reads at once", readsAtOnce},
        {"a save", [](files::FileProvider& p, int round) {
             EXPECT_FALSE(Sync{p}.write("/after/other.txt", "other " + std::to_string(round)));
         }},
        {"a listing", [](files::FileProvider& p, int) {
             auto [entries, error] = Sync{p}.list("/after");
             EXPECT_FALSE(error) << describe(error);
             EXPECT_TRUE(std::any_of(entries.begin(), entries.end(),
                                     [](const files::FileObject& e) { return e.path == "/after/saved.txt"; }));
         }},
        {"a save, then reads at once", [&](files::FileProvider& p, int round) {
             EXPECT_FALSE(Sync{p}.write("/after/saved.txt", "saved " + std::to_string(round)));
             readsAtOnce(p, round);
         }},
    };
    fs::create_directories(peer.root / "after");
    fs::permissions(peer.root / "after", fs::perms::all);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path dir = freshFolder("after-save");
        auto trust = std::make_shared<Trust>(dir, dir / "none");
        ASSERT_TRUE(trust->addCertificate("127.0.0.1", peer.port, certificateWith(derOfPem(peer.values["CERT"]))));
        files::ProviderOptions options;
        options.trust = trust;
        options.workers = kWorkers;
        auto p = files::makeFtpProvider(peer.url, {peer.user, peer.password}, options);
        // Every worker logs in (and reads once) before the saves.
        writeDiskFile(peer.root / "after/saved.txt", "saved 0");
        readsAtOnce(*p, 0);
        for (int round = 1; round <= 3 && !HasFailure(); ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            ASSERT_FALSE(Sync{*p}.write("/after/saved.txt", "saved " + std::to_string(round)));
            row.next(*p, round);
        }
        p.reset();
        fs::remove_all(dir);
    }
    fs::remove_all(peer.root / "after");
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpTlsSessionReuse, ::testing::Values("vsftpd-tls", "proftpd-tls13"),
                         [](const auto& info) {
                             std::string name = info.param;
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name;
                         });

}  // namespace
