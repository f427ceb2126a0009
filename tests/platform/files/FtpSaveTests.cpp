// Saving over FTP against the real servers, some of them made to misbehave by marker files
// (tests/peers/peers.py): a replaced file changes only once a complete copy stands beside it,
// keeps its permission bits, and servers that refuse the temporary file or the rename get a
// plain write that the log reports. A server without MLST that refuses "LIST -a NAME" tells
// the mode through "LIST NAME" or its folder's listing; when nothing tells it, the file is
// written in place. Also: names a server lists go through the path checks before they go
// into commands.

#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "ProviderTestSupport.h"
#include "platform/files/FileProvider.h"
#include "platform/log/Log.h"

using namespace filestest;
using files::ErrorKind;
using files::WriteMode;

namespace {

// Text that differs at every position between versions, so a fragment cannot pass for either.
std::string pageText(std::size_t size, char seed) {
    std::string text(size, ' ');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + static_cast<std::size_t>(seed)) % 26);
    return text;
}

struct DiskStat {
    ino_t inode = 0;
    unsigned mode = 0;
};
DiskStat statOf(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) return {};
    return {st.st_ino, static_cast<unsigned>(st.st_mode & 07777)};
}

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

class FtpSaveTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        peer_ = loadPeer(GetParam());
        if (!peer_.skipReason.empty()) GTEST_SKIP() << peer_.skipReason;
        files::ProviderOptions options;
        options.timeouts.connect = 10s;
        options.timeouts.reply = 20s;
        provider_ = files::makeProvider(peer_.url, {peer_.user, peer_.password}, options);
        ASSERT_TRUE(provider_);
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        dir_ = "/save_" + name;
        disk_ = peer_.root / dir_.substr(1);
        fs::remove_all(disk_);
        makeDiskFolder(disk_);
        log_ = std::make_shared<LogCollector>();
        xlog::setAsyncLoggingEnabled(false);
        xlog::setDynamicLogLevel(xlog::FlagError | xlog::FlagWarning);
        xlog::Log::addLogger(log_);
    }
    void TearDown() override {
        provider_.reset();
        xlog::Log::removeAllLoggers();
        if (!disk_.empty()) fs::remove_all(disk_);
    }

    Sync sync() { return Sync{*provider_}; }
    std::string at(const std::string& name) const { return dir_ + "/" + name; }
    void putFile(const std::string& name, const std::string& bytes, unsigned mode) {
        writeDiskFile(disk_ / name, bytes);
        ::chmod((disk_ / name).c_str(), mode);
    }
    void mark(const std::string& marker, const std::string& text = "") { writeDiskFile(disk_ / marker, text); }
    bool logged(const std::string& text) {
        auto lines = log_->lines();
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
    }

    Peer peer_;
    std::shared_ptr<files::FileProvider> provider_;
    std::shared_ptr<LogCollector> log_;
    std::string dir_;
    fs::path disk_;
};

class FtpSaveOnEveryServer : public FtpSaveTest {};
class FtpSaveOnMisbehavingServer : public FtpSaveTest {};
class FtpSaveOnServerThatAnswersLess : public FtpSaveTest {};

TEST_P(FtpSaveOnEveryServer, ReplacesByRenameAndKeepsThePermissionBits) {
    struct Case {
        std::string name;
        unsigned mode;
    };
    for (const Case& c : {Case{"index page.html", 0640}, Case{"run.cgi", 0755}, Case{"secret.php", 0600}}) {
        SCOPED_TRACE(c.name);
        putFile(c.name, pageText(3000, 'o'), c.mode);
        const DiskStat before = statOf(disk_ / c.name);
        const std::string text = pageText(700000, 'n');
        ASSERT_FALSE(sync().write(at(c.name), text));
        EXPECT_EQ(readDiskFile(disk_ / c.name), text);
        const DiskStat after = statOf(disk_ / c.name);
        EXPECT_NE(after.inode, before.inode) << "not put in place by a rename";
        EXPECT_EQ(after.mode, c.mode) << std::oct << after.mode;
    }
    EXPECT_EQ(namesIn(disk_), (std::set<std::string>{"index page.html", "run.cgi", "secret.php"}));
    EXPECT_TRUE(log_->lines().empty());

    // A name that is new goes through the same steps.
    ASSERT_FALSE(sync().write(at("new.html"), std::string("fresh")));
    EXPECT_EQ(readDiskFile(disk_ / "new.html"), "fresh");
    EXPECT_EQ(namesIn(disk_).size(), 4u);
}

TEST_P(FtpSaveOnMisbehavingServer, ACutUploadLeavesTheOldFileWholeAndNoTemporaryFile) {
    const std::string old = pageText(400000, 'o');
    putFile("site.html", old, 0644);
    mark(".dravix-cut-uploads", "16");

    const std::string text = pageText(900000, 'n');
    auto error = sync().write(at("site.html"), text);
    ASSERT_TRUE(error) << "the server cut the upload";
    EXPECT_NE(error->kind, ErrorKind::cancelled) << describe(error);
    EXPECT_TRUE(error->targetUnchanged) << "only the temporary copy was written";
    EXPECT_EQ(readDiskFile(disk_ / "site.html"), old);
    EXPECT_EQ(namesIn(disk_), (std::set<std::string>{".dravix-cut-uploads", "site.html"}));

    fs::remove(disk_ / ".dravix-cut-uploads");
    ASSERT_FALSE(sync().write(at("site.html"), text));
    EXPECT_EQ(readDiskFile(disk_ / "site.html"), text);
    EXPECT_EQ(namesIn(disk_), std::set<std::string>{"site.html"});
}

TEST_P(FtpSaveOnMisbehavingServer, AServerThatKeepsLessThanItWasSentLeavesTheOldFile) {
    const std::string old = pageText(5000, 'o');
    putFile("site.html", old, 0644);
    mark(".dravix-short-uploads", "16");

    auto error = sync().write(at("site.html"), pageText(200000, 'n'));
    ASSERT_TRUE(error);
    EXPECT_NE(error->message.find("200000"), std::string::npos) << error->message;
    EXPECT_TRUE(error->targetUnchanged);
    EXPECT_EQ(readDiskFile(disk_ / "site.html"), old);
    EXPECT_EQ(namesIn(disk_), (std::set<std::string>{".dravix-short-uploads", "site.html"}));
}

TEST_P(FtpSaveOnMisbehavingServer, RefusedTemporaryFileRenameOrModeFallsBackToAPlainWriteAndLogsIt) {
    struct Case {
        std::string marker;
        std::string because;  // in the log line
    };
    for (const Case& c : {Case{".dravix-no-dot-uploads", "553 Prohibited file name"},
                          Case{".dravix-no-rename-over", "550 Cannot rename over an existing file"},
                          Case{".dravix-no-chmod", "550 Permission denied"}}) {
        SCOPED_TRACE(c.marker);
        fs::remove_all(disk_);
        makeDiskFolder(disk_);
        mark(c.marker);
        putFile("page.html", pageText(2000, 'o'), 0640);
        const DiskStat before = statOf(disk_ / "page.html");
        const std::string text = pageText(300000, 'n');
        ASSERT_FALSE(sync().write(at("page.html"), text));
        EXPECT_EQ(readDiskFile(disk_ / "page.html"), text);
        const DiskStat after = statOf(disk_ / "page.html");
        EXPECT_EQ(after.inode, before.inode) << "written in place";
        EXPECT_EQ(after.mode, 0640u) << std::oct << after.mode;
        EXPECT_EQ(namesIn(disk_), (std::set<std::string>{c.marker, "page.html"}));
        EXPECT_TRUE(logged(at("page.html")) && logged(c.because)) << ::testing::PrintToString(log_->lines());
    }
}

TEST_P(FtpSaveOnMisbehavingServer, ListedNamesWithControlCharactersStopRecursiveDeleteAndCopy) {
    // (A CR or LF cannot come through: the servers here end a listing line there.)
    for (const std::string& bad : {std::string("\x01start"), std::string("tab\there"), std::string("esc\x1b[0m"),
                                  std::string("del\x7f")}) {
        SCOPED_TRACE(::testing::PrintToString(bad));
        fs::remove_all(disk_ / "tree");
        fs::remove_all(disk_ / "copy");
        makeDiskFolder(disk_ / "tree");
        writeDiskFile(disk_ / "tree" / "keep.txt", "keep");
        writeDiskFile(disk_ / "tree" / bad, "odd");

        auto error = sync().remove(at("tree"));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind, ErrorKind::invalidPath) << describe(error);
        error = sync().copy(at("tree"), at("copy"));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind, ErrorKind::invalidPath) << describe(error);
        EXPECT_EQ(namesIn(disk_ / "tree"), (std::set<std::string>{"keep.txt", bad}));
        EXPECT_FALSE(fs::exists(disk_ / "copy"));
    }
}

// No MLST, "LIST -a NAME" refused, SITE refused: "LIST NAME" tells the mode, and as the mode
// of a temporary copy cannot be set, the file is written in place and keeps it.
TEST_P(FtpSaveOnServerThatAnswersLess, KeepsThePermissionBitsOfEveryFileItReplaces) {
    struct Case {
        std::string name;
        unsigned mode;
    };
    for (const Case& c : {Case{"config.php", 0640}, Case{"deploy.sh", 0750}, Case{"private.txt", 0600}}) {
        SCOPED_TRACE(c.name);
        putFile(c.name, pageText(2000, 'o'), c.mode);
        const DiskStat before = statOf(disk_ / c.name);
        const std::string text = pageText(300000, 'n');
        ASSERT_FALSE(sync().write(at(c.name), text));
        EXPECT_EQ(readDiskFile(disk_ / c.name), text);
        const DiskStat after = statOf(disk_ / c.name);
        EXPECT_EQ(after.mode, c.mode) << std::oct << after.mode;
        EXPECT_EQ(after.inode, before.inode) << "written in place";
        EXPECT_TRUE(logged(at(c.name)) && logged("502")) << ::testing::PrintToString(log_->lines());
    }
    EXPECT_EQ(namesIn(disk_), (std::set<std::string>{"config.php", "deploy.sh", "private.txt"}));
}

TEST_P(FtpSaveOnServerThatAnswersLess, AsksTheFoldersListingWhenTheServerWillNotListTheName) {
    mark(".dravix-no-list-name");
    putFile("page.html", pageText(2000, 'o'), 0640);
    const int listed = listingRequests(peer_, dir_);
    ASSERT_GE(listed, 0);
    const std::string text = pageText(100000, 'n');
    ASSERT_FALSE(sync().write(at("page.html"), text));
    EXPECT_EQ(readDiskFile(disk_ / "page.html"), text);
    EXPECT_EQ(statOf(disk_ / "page.html").mode, 0640u) << std::oct << statOf(disk_ / "page.html").mode;
    EXPECT_EQ(listingRequests(peer_, dir_), listed + 1) << "the folder's own listing was asked for once";
    EXPECT_EQ(namesIn(disk_), (std::set<std::string>{".dravix-no-list-name", "page.html"}));
}

TEST_P(FtpSaveOnServerThatAnswersLess, WritesInPlaceWhenNoListingTellsTheMode) {
    mark(".dravix-no-list");
    putFile("secret.php", pageText(2000, 'o'), 0600);
    const DiskStat before = statOf(disk_ / "secret.php");
    const std::string text = pageText(100000, 'n');
    ASSERT_FALSE(sync().write(at("secret.php"), text));
    EXPECT_EQ(readDiskFile(disk_ / "secret.php"), text);
    const DiskStat after = statOf(disk_ / "secret.php");
    EXPECT_EQ(after.mode, 0600u) << std::oct << after.mode;
    EXPECT_EQ(after.inode, before.inode) << "written in place";
    EXPECT_TRUE(logged(at("secret.php")) && logged("did not tell")) << ::testing::PrintToString(log_->lines());
    EXPECT_EQ(namesIn(disk_), (std::set<std::string>{".dravix-no-list", "secret.php"}));
}

TEST_P(FtpSaveOnServerThatAnswersLess, ANewFileIsWrittenWhole) {
    ASSERT_FALSE(sync().write(at("new page.html"), std::string("fresh")));
    EXPECT_EQ(readDiskFile(disk_ / "new page.html"), "fresh");
    EXPECT_EQ(namesIn(disk_), std::set<std::string>{"new page.html"});
    EXPECT_TRUE(log_->lines().empty()) << ::testing::PrintToString(log_->lines());
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpSaveOnEveryServer, ::testing::Values("pyftpd", "pyftpdx", "pureftpd", "vsftpd"),
                         [](const auto& info) { return info.param; });
// Only pyftpdlib has the misbehaving modes.
INSTANTIATE_TEST_SUITE_P(Servers, FtpSaveOnMisbehavingServer, ::testing::Values("pyftpd"),
                         [](const auto& info) { return info.param; });
INSTANTIATE_TEST_SUITE_P(Servers, FtpSaveOnServerThatAnswersLess, ::testing::Values("pyftpd-lax"),
                         [](const auto&) { return std::string("pyftpdlax"); });

}  // namespace
