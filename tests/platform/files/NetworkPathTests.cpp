// What reaches the machines between the app and a server, and what the servers are spoken to
// in: proxies named by the environment get no password in the clear (FTP goes direct, WebDAV
// over HTTPS only through the proxy's tunnel, plain WebDAV direct); a relay that hides an FTP
// server's TLS gets no login from a provider that requires TLS, and the provider tells the
// connection in use as not encrypted; WebDAV is spoken to in HTTP/1.1 (also to a server that
// offers HTTP/2); FTP reaches a server that speaks only TLS 1.3.

#include <cstdlib>

#include "LoopbackRelay.h"
#include "ProviderTestSupport.h"
#include "platform/files/CertificateCheck.h"
#include "platform/files/FileProvider.h"
#include "platform/files/Trust.h"
#include "platform/net/Curl.h"

using namespace filestest;
using files::Certificate;
using files::ErrorKind;
using files::Trust;

namespace {

fs::path freshFolder(const std::string& name) {
    fs::path dir = fs::temp_directory_path() / ("dravix-path-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// Options whose trust has the peer's certificate pinned for 127.0.0.1 and `port` (the peer's
// own, or a relay's in front of it).
files::ProviderOptions pinnedOptions(const Peer& peer, int port, const fs::path& dir) {
    auto trust = std::make_shared<Trust>(dir, dir / "none");
    Certificate certificate;
    certificate.der = derOfPem(peer.values.at("CERT"));
    EXPECT_TRUE(trust->addCertificate("127.0.0.1", port, certificate));
    files::ProviderOptions options;
    options.trust = trust;
    options.timeouts.connect = 10s;
    options.timeouts.reply = 20s;
    return options;
}

// Names a proxy in every variable libcurl reads, for the test's life; no host is exempt.
class ProxyEnvironment {
public:
    explicit ProxyEnvironment(const std::string& proxy) {
        for (const char* name : kNames) {
            const char* old = std::getenv(name);
            saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            if (std::string(name).find("no_proxy") != std::string::npos || std::string(name) == "NO_PROXY")
                ::unsetenv(name);
            else
                ::setenv(name, proxy.c_str(), 1);
        }
    }
    ~ProxyEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value) ::setenv(name.c_str(), value->c_str(), 1);
            else ::unsetenv(name.c_str());
        }
    }

private:
    static constexpr const char* kNames[] = {"ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY", "http_proxy",
                                             "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"};
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

bool holds(const std::string& haystack, const std::string& needle) {
    return !needle.empty() && haystack.find(needle) != std::string::npos;
}

std::vector<std::string> fileLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The server writes a request's log line after it answered, so a reader waits for the line it
// needs. Returns the number of lines up to and including the first after line `from` that holds
// `marker`, or 0.
std::size_t waitForLogLine(const std::string& path, const std::string& marker, std::size_t from = 0) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    do {
        const auto lines = fileLines(path);
        for (std::size_t i = from; i < lines.size(); ++i)
            if (holds(lines[i], marker)) return i + 1;
        std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return 0;
}

// ---- proxies --------------------------------------------------------------------------------

TEST(Proxies, FtpGoesDirectWhateverProxyTheEnvironmentNames) {
    LoopbackRelay proxy(LoopbackRelay::Mode::httpProxy);
    ProxyEnvironment environment(proxy.url("http"));
    for (const std::string kind : {"pyftpd", "vsftpd-tls"}) {
        SCOPED_TRACE(kind);
        Peer peer = loadPeer(kind);
        if (!peer.skipReason.empty()) {
            ADD_FAILURE() << peer.skipReason;
            continue;
        }
        const fs::path dir = freshFolder("ftp-proxy");
        files::ProviderOptions options = peer.values.count("CERT") ? pinnedOptions(peer, peer.port, dir) : files::ProviderOptions{};
        auto p = files::makeFtpProvider(peer.url, {peer.user, peer.password}, options);
        Sync sync{*p};
        EXPECT_FALSE(sync.login()) << "the login went through";
        auto [entries, error] = sync.list("/");
        EXPECT_FALSE(error) << describe(error);
        EXPECT_EQ(sync.write("/through.txt", std::string("direct")), std::nullopt);
        EXPECT_EQ(readDiskFile(peer.root / "through.txt"), "direct");
        fs::remove(peer.root / "through.txt");
        fs::remove_all(dir);
    }
    EXPECT_EQ(proxy.connections(), 0) << proxy.received();
}

TEST(Proxies, WebDavOverHttpsUsesTheProxyOnlyAsATunnel) {
    Peer peer = loadPeer("apache-tls");
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    LoopbackRelay proxy(LoopbackRelay::Mode::httpProxy);
    ProxyEnvironment environment(proxy.url("http"));
    const fs::path dir = freshFolder("dav-proxy");
    auto p = files::makeWebDavProvider(peer.url, {peer.user, peer.password}, pinnedOptions(peer, peer.port, dir));
    Sync sync{*p};
    EXPECT_EQ(sync.write("/tunnelled.txt", std::string("through the tunnel")), std::nullopt);
    EXPECT_EQ(readDiskFile(peer.root / "tunnelled.txt"), "through the tunnel");
    auto [entries, error] = sync.list("/");
    EXPECT_FALSE(error) << describe(error);
    EXPECT_TRUE(findEntry(entries, "tunnelled.txt"));
    // The proxy was used, and saw nothing but where the tunnel goes.
    EXPECT_GT(proxy.connections(), 0);
    const std::string seen = proxy.received();
    EXPECT_EQ(seen.rfind("CONNECT 127.0.0.1:" + std::to_string(peer.port) + " ", 0), 0u) << seen.substr(0, 200);
    EXPECT_FALSE(holds(seen, peer.password));
    EXPECT_FALSE(holds(seen, "Authorization"));
    EXPECT_FALSE(holds(seen, "PUT "));
    fs::remove(peer.root / "tunnelled.txt");
    fs::remove_all(dir);
}

TEST(Proxies, WebDavOverPlainHttpGoesDirect) {
    Peer peer = loadPeer("apache");
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    LoopbackRelay proxy(LoopbackRelay::Mode::httpProxy);
    ProxyEnvironment environment(proxy.url("http"));
    auto p = files::makeWebDavProvider(peer.url, {peer.user, peer.password});
    Sync sync{*p};
    EXPECT_EQ(sync.write("/direct.txt", std::string("no proxy")), std::nullopt);
    auto [entries, error] = sync.list("/");
    EXPECT_FALSE(error) << describe(error);
    EXPECT_EQ(proxy.connections(), 0) << proxy.received();
    fs::remove(peer.root / "direct.txt");
}

// ---- a machine in the middle that hides TLS --------------------------------------------------

TEST(TlsStripping, AProviderThatSpokeTlsOrRequiresItSendsNoLoginWithoutIt) {
    Peer peer = loadPeer("pureftpd-tls");
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    LoopbackRelay relay(LoopbackRelay::Mode::ftp, peer.port);
    const fs::path dir = freshFolder("strip");
    const files::ProviderOptions options = pinnedOptions(peer, relay.port(), dir);
    auto p = files::makeFtpProvider(relay.url("ftp"), {peer.user, peer.password}, options);
    Sync sync{*p};
    auto [entries, error] = sync.list("/");
    ASSERT_FALSE(error) << describe(error);
    EXPECT_EQ(p->connectionEncrypted(), std::optional<bool>(true));

    // From now on the relay hides the server's TLS; the connection open now goes. The provider
    // that spoke TLS asks for it again on every new connection, and sends no login without it,
    // for a listing and for a save alike.
    relay.stripTls(true);
    relay.closeAll();
    const std::size_t first = relay.received().size();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        std::optional<files::FileError> refused;
        if (round == 0) refused = sync.list("/").second;
        else refused = sync.write("/stripped.txt", std::string("not in plain text"));
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->kind, ErrorKind::secureConnectionRequired) << describe(refused);
        EXPECT_NE(refused->message.find("no longer offers"), std::string::npos) << refused->message;
    }
    std::string sent = relay.received().substr(first);
    EXPECT_TRUE(holds(sent, "AUTH TLS")) << sent;
    EXPECT_FALSE(holds(sent, "USER")) << sent;
    EXPECT_FALSE(holds(sent, peer.password)) << sent;
    EXPECT_FALSE(fs::exists(peer.root / "stripped.txt"));

    // A provider that never spoke TLS to it logs in in plain text, and says that it did.
    auto fresh = files::makeFtpProvider(relay.url("ftp"), {peer.user, peer.password}, options);
    std::tie(entries, error) = Sync{*fresh}.list("/");
    ASSERT_FALSE(error) << describe(error);
    EXPECT_EQ(fresh->connectionEncrypted(), std::optional<bool>(false));

    // A provider that requires TLS says so, and nothing of the login went out.
    const std::size_t before = relay.received().size();
    files::ProviderOptions required = options;
    required.requireTls = true;
    auto strict = files::makeFtpProvider(relay.url("ftp"), {peer.user, peer.password}, required);
    auto refused = Sync{*strict}.login();
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->kind, ErrorKind::secureConnectionRequired) << describe(refused);
    sent = relay.received().substr(before);
    EXPECT_TRUE(holds(sent, "AUTH TLS")) << sent;
    EXPECT_FALSE(holds(sent, "USER")) << sent;
    EXPECT_FALSE(holds(sent, peer.password)) << sent;
    fs::remove_all(dir);
}

// ---- protocol versions ------------------------------------------------------------------------

TEST(WebDavHttp, ServersThatOfferHttp2AreSpokenToInHttp11) {
    Peer peer = loadPeer("apache-tls");
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    const std::string log = peer.values["PROTOCOL_LOG"];
    ASSERT_FALSE(log.empty());
    // The server speaks HTTP/2 to a client that asks for it (libcurl's own choice over TLS).
    const std::string probePath = "/h2-probe-" + std::to_string(::getpid());
    {
        net::Transfer probe;
        probe.setUrl(peer.url + probePath);
        probe.setTls(net::Tls{false, false});
        curl_easy_setopt(probe.easy(), CURLOPT_PROXY, "");
        ASSERT_EQ(probe.perform(), CURLE_OK);
        long version = 0;
        curl_easy_getinfo(probe.easy(), CURLINFO_HTTP_VERSION, &version);
        ASSERT_EQ(version, static_cast<long>(CURL_HTTP_VERSION_2_0)) << "the peer offers no HTTP/2";
    }
    // Only lines after the probe's own count; it is logged once the server answered it.
    const std::size_t before = waitForLogLine(log, probePath);
    ASSERT_GT(before, 0u) << "the probe's request never reached the log";
    const fs::path dir = freshFolder("http11");
    files::ProviderOptions options = pinnedOptions(peer, peer.port, dir);
    for (int login = 0; login < 10; ++login) {
        auto p = files::makeWebDavProvider(peer.url, {peer.user, peer.password}, options);
        ASSERT_FALSE(Sync{*p}.login()) << "login " << login;
    }
    auto p = files::makeWebDavProvider(peer.url, {peer.user, peer.password}, options);
    Sync sync{*p};
    EXPECT_EQ(sync.write("/h1.txt", std::string("one point one")), std::nullopt);
    // A PUT into a folder that is not there: the server's 409 arrives, and nothing was written.
    auto missing = sync.write("/no such folder/h1.txt", std::string(256 * 1024, 'x'));
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->kind, ErrorKind::parentMissing) << describe(missing);
    EXPECT_FALSE(missing->targetIncomplete);
    ASSERT_GT(waitForLogLine(log, "such folder/h1.txt", before), before) << "the last request never reached the log";
    const auto lines = fileLines(log);
    for (std::size_t i = before; i < lines.size(); ++i) EXPECT_EQ(lines[i].rfind("HTTP/1.1 ", 0), 0u) << lines[i];
    fs::remove(peer.root / "h1.txt");
    fs::remove_all(dir);
}

TEST(FtpTls13, AServerThatSpeaksOnlyTls13IsReachedAndTakesAWholeUpload) {
    Peer peer = loadPeer("proftpd-tls13");
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    const fs::path dir = freshFolder("tls13");
    auto p = files::makeFtpProvider(peer.url, {peer.user, peer.password}, pinnedOptions(peer, peer.port, dir));
    Sync sync{*p};
    ASSERT_FALSE(sync.login());
    EXPECT_EQ(p->connectionEncrypted(), std::optional<bool>(true));
    std::string bytes(1024 * 1024, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919) % 251);
    ASSERT_EQ(sync.write("/tls13.bin", bytes), std::nullopt);
    EXPECT_EQ(readDiskFile(peer.root / "tls13.bin"), bytes);
    auto [read, error] = sync.read("/tls13.bin");
    ASSERT_FALSE(error) << describe(error);
    EXPECT_EQ(read.value_or(""), bytes);
    fs::remove(peer.root / "tls13.bin");
    fs::remove_all(dir);
}

}  // namespace
