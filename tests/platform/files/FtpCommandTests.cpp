// The commands each common FTP operation sends, against the real servers: a far server costs a
// round trip per command, so an operation sends only what it needs. A relay in front of each
// server records what the provider sends (it refuses AUTH, so the commands can be read); each
// operation runs on the provider's one kept connection after a first round that taught the
// provider the server (its login folder, whether it has MLSD) and the connection its options.

#include <algorithm>
#include <functional>

#include "LoopbackRelay.h"
#include "ProviderTestSupport.h"
#include "platform/files/FileProvider.h"

using namespace filestest;
using files::FileVersion;
using files::WriteMode;

namespace {


class FtpCommandsTest : public PeerFolderTest {
protected:
    void SetUp() override {
        PeerFolderTest::SetUp();
        if (IsSkipped()) return;
        relay_ = std::make_unique<LoopbackRelay>(LoopbackRelay::Mode::ftp, peer_.port);
        relay_->stripTls(true);
        // The peer's URL with the relay's address (its path, the login folder's part, kept).
        const std::size_t pathAt = peer_.url.find('/', peer_.url.find("://") + 3);
        url_ = relay_->url("ftp") + (pathAt == std::string::npos ? std::string() : peer_.url.substr(pathAt));
        provider_ = connect(1);
    }
    void TearDown() override {
        provider_.reset();
        PeerFolderTest::TearDown();
        relay_.reset();
    }

    std::shared_ptr<files::FileProvider> connect(int workers) {
        files::ProviderOptions options;
        options.timeouts.connect = 10s;
        options.timeouts.reply = 20s;
        options.workers = workers;
        // No keep-alive time, so no spare connection for a save's check either: a spare made by
        // one save logs in beside it and may still be sending when the next operation begins,
        // its commands then counted as that operation's. The spare has tests of its own.
        options.timeouts.keepAlive = 0s;
        return files::makeFtpProvider(url_, {peer_.user, peer_.password}, options);
    }

    // The commands sent since `from` (a count of bytes the relay had received), one per line.
    std::vector<std::string> commandsSince(std::size_t from) const {
        const std::string sent = relay_->received().substr(from);
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start < sent.size()) {
            const std::size_t end = std::min(sent.find("\r\n", start), sent.size());
            lines.push_back(sent.substr(start, end - start));
            start = end + 2;
        }
        return lines;
    }
    static std::string verb(const std::string& line) {
        std::string v = line.substr(0, line.find(' '));
        std::transform(v.begin(), v.end(), v.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        return v;
    }
    static std::string joined(const std::vector<std::string>& lines) {
        std::string all;
        for (const auto& line : lines) all += (verb(line) == "PASS" ? "PASS ****" : line) + "\n";
        return all;
    }

    std::pair<std::string, FileVersion> read(const std::string& file) {
        VersionedRead c;
        provider_->contentsAndVersion(file, c.callback());
        awaitOnce(c);
        EXPECT_FALSE(c.get<2>()) << describe(c.get<2>());
        return {c.get<0>().value_or(""), c.get<1>()};
    }
    std::optional<FileVersion> save(const std::string& file, std::string text, std::optional<FileVersion> expected) {
        VersionedWrite c;
        provider_->writeContents(file, std::move(text), WriteMode::replace, std::move(expected), c.callback());
        awaitOnce(c);
        EXPECT_FALSE(c.get<1>()) << describe(c.get<1>());
        return c.get<0>();
    }

    std::unique_ptr<LoopbackRelay> relay_;
    std::string url_;
};

TEST_P(FtpCommandsTest, EachOperationSendsOnlyTheCommandsItNeeds) {
    makeDiskFolder(disk_ / "list");
    for (int i = 0; i < 20; ++i) writeDiskFile(disk_ / "list" / ("page-" + std::to_string(i) + ".html"), "<p>x</p>");
    writeDiskFile(disk_ / "page.html", "<p>as read</p>");
    const std::string folder = dir_ + "/list", file = dir_ + "/page.html";
    Sync sync{*provider_};

    // The first round: the provider learns the server, the connection its options.
    ASSERT_FALSE(sync.list(folder).second);
    auto [text, version] = read(file);
    ASSERT_EQ(text, "<p>as read</p>");
    auto saved = save(file, "<p>first</p>", version);
    ASSERT_TRUE(saved);
    version = *saved;

    struct Case {
        const char* operation;
        std::function<void()> run;
        std::size_t most;                    // commands at most
        std::vector<std::string> once;       // sent exactly once
        std::vector<std::string> never;      // never sent
    };
    const std::vector<std::string> none{"PWD", "NOOP", "OPTS", "SIZE", "CWD"};
    const Case cases[] = {
        {"login",
         [&] {
             auto fresh = connect(1);
             Sync other{*fresh};
             EXPECT_FALSE(other.login()) << "login";
         },
         // AUTH TLS and AUTH SSL (both refused here), USER, PASS, PWD: the login folder.
         5, {"USER", "PASS", "PWD"}, {"CWD", "NOOP", "OPTS", "TYPE", "MLSD", "LIST"}},
        {"list",
         [&] {
             auto [entries, error] = sync.list(folder);
             EXPECT_FALSE(error) << describe(error);
             EXPECT_EQ(entries.size(), 20u);
         },
         // Into the folder (where the listing command takes no path), the data connection, the
         // listing's type, the listing.
         4, {}, {"PWD", "NOOP", "OPTS", "SIZE", "MDTM"}},
        {"open with its version",
         [&] {
             auto [bytes, told] = read(file);
             EXPECT_EQ(bytes, "<p>first</p>");
             EXPECT_TRUE(told.modificationDate);
         },
         // The modification time, the type, the data connection, the file: by its full path.
         4, {"MDTM", "RETR"}, none},
        {"checked save",
         [&] {
             auto written = save(file, "<p>second</p>", version);
             ASSERT_TRUE(written);
             EXPECT_EQ(readDiskFile(disk_ / "page.html"), "<p>second</p>");
             EXPECT_EQ(diskNames(), (std::set<std::string>{"list", "page.html"}));
         },
         // What the file is (STAT, where it shows nothing MLST or a listing), the copy up and
         // its size, the bits, the server's file compared by its bytes, the copy over the file.
         14, {"STOR", "RNFR", "RNTO", "RETR"}, {"PWD", "NOOP", "OPTS"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.operation);
        const std::size_t from = relay_->received().size();
        c.run();
        std::vector<std::string> sent = commandsSince(from);
        sent.erase(std::remove_if(sent.begin(), sent.end(), [](const auto& l) { return verb(l) == "QUIT"; }), sent.end());
        if (std::string(c.operation) == "login") {
            // Only the fresh connection's own commands, from its greeting on.
            const auto user = std::find_if(sent.begin(), sent.end(), [](const auto& l) { return verb(l) == "AUTH"; });
            sent.erase(sent.begin(), user);
        }
        EXPECT_LE(sent.size(), c.most) << joined(sent);
        for (const auto& v : c.once)
            EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [&](const auto& l) { return verb(l) == v; }), 1) << v << "\n" << joined(sent);
        for (const auto& v : c.never)
            EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [&](const auto& l) { return verb(l) == v; }), 0) << v << "\n" << joined(sent);
        // A folder is never changed into twice for one path.
        EXPECT_LE(std::count_if(sent.begin(), sent.end(), [](const auto& l) { return verb(l) == "CWD"; }), 1) << joined(sent);
    }
}

// In the order users work (a listing, an open of a file in it, its save, the listing again),
// on the provider's usual three connections: the first listing of a new provider says OPTS UTF8
// ON once, and once each connection did its first work, a listing or an open sends no TYPE:
// each goes to a connection already in the type it needs.
TEST_P(FtpCommandsTest, InTheOrderUsersWorkListingsAndOpensSendNoType) {
    makeDiskFolder(disk_ / "list");
    for (int i = 0; i < 20; ++i) writeDiskFile(disk_ / "list" / ("page-" + std::to_string(i) + ".html"), "<p>x</p>");
    writeDiskFile(disk_ / "page.html", "<p>as read</p>");
    const std::string folder = dir_ + "/list", file = dir_ + "/page.html";
    provider_ = connect(3);
    Sync sync{*provider_};
    auto count = [](const std::vector<std::string>& sent, const std::string& v) {
        return std::count_if(sent.begin(), sent.end(), [&](const auto& l) { return verb(l) == v; });
    };

    std::size_t from = relay_->received().size();
    ASSERT_FALSE(sync.list(folder).second);
    EXPECT_EQ(count(commandsSince(from), "OPTS"), 1) << joined(commandsSince(from));
    auto version = read(file).second;
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        auto saved = save(file, "<p>saved " + std::to_string(round) + "</p>", version);
        ASSERT_TRUE(saved);
        from = relay_->received().size();
        ASSERT_FALSE(sync.list(folder).second);
        const auto listed = commandsSince(from);
        from = relay_->received().size();
        version = read(file).second;
        const auto opened = commandsSince(from);
        if (round < 2) continue;  // the first rounds ready the connections
        EXPECT_EQ(count(listed, "TYPE"), 0) << joined(listed);
        EXPECT_EQ(count(opened, "TYPE"), 0) << joined(opened);
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpCommandsTest, ::testing::Values("pyftpd", "vsftpd", "proftpd", "pureftpd"),
                         [](const auto& info) { return info.param; });

}  // namespace
