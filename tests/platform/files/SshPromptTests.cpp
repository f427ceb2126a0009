// Logins that ask: a server (python3-asyncssh, the peer "sshd-otp") that asks for the password
// and then for a one-time code through keyboard-interactive prompts, checked against what its
// log shows arrived.

#include <map>
#include <sstream>

#include "ProviderTestSupport.h"
#include "SshTestSupport.h"

using namespace filestest;
using namespace sshtest;
using files::ErrorKind;

namespace {

// How many lines of the server's log are `text`.
std::size_t linesOf(const fs::path& log, const std::string& text) {
    std::istringstream lines(readDiskFile(log));
    std::size_t n = 0;
    for (std::string line; std::getline(lines, line);) n += line == text;
    return n;
}

// A server that asks for the password, then for a one-time code: the saved password answers
// only the password prompt, the code round is shown as the server wrote it, and with nobody
// to answer (or Cancel) nothing is sent for it. A wrong answer is asked again, as the server
// lets it (the saved password given again, the user asked for the code); the user's Cancel is
// no refusal.
TEST(SftpPrompts, AOneTimeCodeIsAskedForAsTheServerWritesIt) {
    Peer peer = loadPeer("sshd-otp");
    if (!peer.skipReason.empty()) GTEST_FAIL() << peer.skipReason;
    const std::string code = peer.values["CODE"];
    const fs::path log = peer.values["LOG"];
    auto count = [&](const std::string& text) { return linesOf(log, text); };
    using Script = std::vector<std::optional<std::vector<std::string>>>;
    struct Case {
        const char* what;
        std::string password;
        Script script;
        bool asker;
        std::optional<ErrorKind> failure;  // none: logged in
        std::vector<std::string> prompts;  // the prompts shown, round by round
        std::vector<std::string> logged;   // lines the server wrote for this login (a line twice: written twice)
    };
    const std::string u = peer.user;
    const Case cases[] = {
        {"saved password, code typed", peer.password, {std::vector<std::string>{code}}, true, std::nullopt,
         {"Verification code: "}, {"password ok " + u, "code ok " + u}},
        {"no saved password: both typed", "", {std::vector<std::string>{peer.password}, std::vector<std::string>{code}}, true,
         std::nullopt, {"Password: ", "Verification code: "}, {"password ok " + u, "code ok " + u}},
        {"wrong code, then nobody to ask", peer.password, {std::vector<std::string>{"000000"}}, true, ErrorKind::loginRejected,
         {"Verification code: ", "Verification code: "}, {"password ok " + u, "code wrong " + u, "password ok " + u}},
        {"wrong code, then the right one", peer.password, {std::vector<std::string>{"000000"}, std::vector<std::string>{code}},
         true, std::nullopt, {"Verification code: ", "Verification code: "},
         {"password ok " + u, "code wrong " + u, "password ok " + u, "code ok " + u}},
        {"wrong typed password, then the right one", "",
         {std::vector<std::string>{"wrong"}, std::vector<std::string>{peer.password}, std::vector<std::string>{code}}, true,
         std::nullopt, {"Password: ", "Password: ", "Verification code: "},
         {"password wrong " + u, "password ok " + u, "code ok " + u}},
        {"code cancelled", peer.password, {std::nullopt}, true, ErrorKind::cancelled, {"Verification code: "},
         {"password ok " + u}},
        {"nobody to ask", peer.password, {}, false, ErrorKind::loginRejected, {}, {"password ok " + u}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder app;
        auto trust = std::make_shared<files::Trust>(app.path, peer.values["KNOWN_HOSTS"]);
        auto asker = std::make_shared<ScriptedAsker>(c.script, peer.password);
        if (c.asker) trust->setAsker(asker);
        files::ProviderOptions options;
        options.trust = trust;
        options.timeouts.connect = 10s;
        options.timeouts.reply = 20s;
        std::map<std::string, std::size_t> before;
        for (const std::string& line : {"password ok " + u, "password wrong " + u, "code ok " + u, "code wrong " + u})
            before[line] = count(line);
        auto provider = files::makeProvider(peer.url, {u, c.password}, options);
        ASSERT_TRUE(provider);
        Sync s{*provider};
        auto error = s.login();
        if (!c.failure) {
            EXPECT_FALSE(error) << describe(error);
        } else {
            ASSERT_TRUE(error);
            EXPECT_EQ(error->kind, *c.failure) << describe(error);
            if (c.failure == ErrorKind::loginRejected) {
                EXPECT_NE(error->message.find("The server accepts only answers to its prompts"), std::string::npos) << error->message;
            }
            EXPECT_EQ(error->message.find(peer.password), std::string::npos) << "a secret in the message";
        }
        const auto questions = asker->questions();
        ASSERT_EQ(questions.size(), c.prompts.size());
        for (std::size_t i = 0; i < questions.size(); ++i) {
            const files::LoginQuestion& q = questions[i];
            EXPECT_EQ(q.kind, files::LoginQuestion::Kind::prompts);
            ASSERT_EQ(q.prompts.size(), 1u);
            EXPECT_EQ(q.prompts[0].text, c.prompts[i]);
            const bool codeRound = c.prompts[i] == "Verification code: ";
            EXPECT_EQ(q.prompts[0].echo, codeRound);
            if (codeRound) {
                EXPECT_EQ(q.name, "Two-step verification");
                EXPECT_EQ(q.instruction, "Enter the code from your authenticator app.");
            }
            EXPECT_EQ(q.user, u);
            // Asked again after the server refused the answers before.
            EXPECT_EQ(q.again, i > 0 && c.prompts[i - 1] == c.prompts[i]) << i;
        }
        EXPECT_FALSE(asker->leaked());
        // What reached the server: exactly the lines of this case, each once.
        for (const auto& [line, n] : before)
            EXPECT_EQ(count(line), n + static_cast<std::size_t>(std::count(c.logged.begin(), c.logged.end(), line))) << line;
    }
}

// What a login asked is asked once for the provider: operations on several workers at once
// wait for the one that connects, and once its login asked for a one-time code they all go over
// its connection (the server saw one login). A login that failed is the waiting operations'
// answer too: the user's Cancel is asked once.
TEST(SftpPrompts, ALoginIsAskedOnceForTheWorkersOfAProvider) {
    Peer peer = loadPeer("sshd-otp");
    if (!peer.skipReason.empty()) GTEST_FAIL() << peer.skipReason;
    const fs::path log = peer.values["LOG"];
    const std::string u = peer.user;
    auto count = [&](const std::string& text) { return linesOf(log, text); };
    using Script = std::vector<std::optional<std::vector<std::string>>>;
    const struct {
        const char* what;
        Script script;
        bool loggedIn;
    } cases[] = {
        {"code given", {std::vector<std::string>{peer.values["CODE"]}}, true},
        {"code cancelled", {std::nullopt}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder app;
        auto trust = std::make_shared<files::Trust>(app.path, peer.values["KNOWN_HOSTS"]);
        auto asker = std::make_shared<ScriptedAsker>(c.script, peer.password);
        trust->setAsker(asker);
        files::ProviderOptions options;
        options.trust = trust;
        options.workers = 3;
        options.timeouts.connect = 10s;
        options.timeouts.reply = 20s;
        const std::size_t passwords = count("password ok " + u), codes = count("code ok " + u);
        auto provider = files::makeProvider(peer.url, {u, peer.password}, options);
        ASSERT_TRUE(provider);
        std::vector<std::unique_ptr<ListCapture>> lists;
        for (int i = 0; i < 6; ++i) {
            lists.push_back(std::make_unique<ListCapture>());
            provider->contentsOfDirectory("/", lists.back()->callback());
        }
        for (auto& list : lists) {
            awaitOnce(*list, 60s);
            const auto& error = list->get<1>();
            if (c.loggedIn) {
                EXPECT_FALSE(error) << describe(error);
            } else {
                ASSERT_TRUE(error);
                EXPECT_EQ(error->kind, ErrorKind::cancelled) << describe(error);
            }
        }
        EXPECT_EQ(asker->questions().size(), 1u);
        EXPECT_EQ(count("password ok " + u), passwords + 1);
        EXPECT_EQ(count("code ok " + u), codes + (c.loggedIn ? 1 : 0));
    }
}

}  // namespace

namespace {

// A provider for python3-asyncssh's SFTP server, which answers in its own way: one worker (one
// login), its one-time code given `logins` times.
std::shared_ptr<files::FileProvider> otherServer(const Peer& peer, const fs::path& app, int logins) {
    auto trust = std::make_shared<files::Trust>(app, peer.values.at("KNOWN_HOSTS"));
    const std::vector<std::string> code{peer.values.at("CODE")};
    trust->setAsker(std::make_shared<ScriptedAsker>(
        std::vector<std::optional<std::vector<std::string>>>(static_cast<std::size_t>(logins), code), peer.password));
    files::ProviderOptions options;
    options.trust = trust;
    options.workers = 1;
    options.timeouts.connect = 10s;
    options.timeouts.reply = 20s;
    return files::makeProvider(peer.url, {peer.user, peer.password}, options);
}

// The shared provider checks, run against python3-asyncssh's server as they run against sshd.
TEST(SftpOtherServer, PassesTheProviderChecks) {
    Peer peer = loadPeer("sshd-otp");
    if (!peer.skipReason.empty()) GTEST_FAIL() << peer.skipReason;
    struct Case {
        const char* folder;
        int logins;  // a cancelled read drops the connection, and the next one logs in again
        std::function<void(std::shared_ptr<files::FileProvider>&, const fs::path&, const std::string&)> check;
    };
    const Case cases[] = {
        {"t_sftp_checked_edges", 1,
         [](auto& provider, const fs::path& disk, const std::string& folder) {
             checkedSavesAtRequestEdges(*provider, disk, folder);
         }},
        {"t_sftp_batch_reads", 2, &readsSeveralFilesInOneCall},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        TempFolder app;
        auto provider = otherServer(peer, app.path, c.logins);
        ASSERT_TRUE(provider);
        const fs::path disk = peer.root / c.folder;
        fs::remove_all(disk);
        makeDiskFolder(disk);
        c.check(provider, disk, std::string("/") + c.folder);
        provider.reset();
        fs::remove_all(disk);
    }
}

}  // namespace
