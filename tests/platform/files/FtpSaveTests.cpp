// Saving over FTP against the real servers, some of them made to misbehave by marker files
// (tests/peers/peers.py): a replaced file changes only once a complete copy stands beside it,
// keeps its permission bits, and a server that refuses hidden names or the permission change
// still gets the copy and the rename where that keeps the bits; one that refuses the rename over
// the file gets the old file moved aside. Servers that refuse every temporary name, or the bits
// the file has, get a plain write that the log reports, and a cut plain write says the file is
// now incomplete. A new file or a copy cut off leaves nothing under its name. A server without MLST that refuses
// "LIST -a NAME" tells the mode through "LIST NAME" or its folder's listing; when nothing tells
// it, the file is written in place. A page that is a symbolic link is saved into the file the
// link points to, and the link stays. A temporary copy that a broken save could not remove ends
// in the file's own extension and is removed once the server answers again. Also: names a
// server lists go through the path checks before they go into commands.

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <set>

#include "ProviderTestSupport.h"
#include "platform/files/FileProvider.h"
#include "platform/files/Save.h"
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
        if (!peer_.root.empty()) fs::remove(peer_.root / ".dravix-down");  // a server taken down stays no longer
    }

    Sync sync() { return Sync{*provider_}; }
    std::string at(const std::string& name) const { return dir_ + "/" + name; }
    void putFile(const std::string& name, const std::string& bytes, unsigned mode) {
        writeDiskFile(disk_ / name, bytes);
        ::chmod((disk_ / name).c_str(), mode);
    }
    void mark(const std::string& marker, const std::string& text = "") { writeDiskFile(disk_ / marker, text); }
    void freshFolder() {
        fs::remove_all(disk_);
        makeDiskFolder(disk_);
    }
    // The permission bits the server gives a file it creates.
    unsigned newFileMode() {
        const std::string probe = "new-file-mode.txt";
        if (sync().write(at(probe), std::string("x"))) return 0;
        const unsigned mode = statOf(disk_ / probe).mode;
        fs::remove(disk_ / probe);
        return mode;
    }
    // Bits that a new file does not get.
    unsigned otherMode() { return newFileMode() == 0640 ? 0600 : 0640; }
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
class FtpSaveOfALink : public FtpSaveTest {};
class FtpSaveOnServerThatGoesAway : public FtpSaveTest {};
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
        ASSERT_EQ(sync().write(at(c.name), text), std::nullopt);
        EXPECT_EQ(readDiskFile(disk_ / c.name), text);
        const DiskStat after = statOf(disk_ / c.name);
        EXPECT_NE(after.inode, before.inode) << "not put in place by a rename";
        EXPECT_EQ(after.mode, c.mode) << std::oct << after.mode;
    }
    EXPECT_EQ(namesIn(disk_), (std::set<std::string>{"index page.html", "run.cgi", "secret.php"}));
    EXPECT_TRUE(log_->lines().empty());

    // A name that is new goes through the same steps.
    ASSERT_EQ(sync().write(at("new.html"), std::string("fresh")), std::nullopt);
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
    ASSERT_EQ(sync().write(at("site.html"), text), std::nullopt);
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

// A server that takes no temporary name, or not the file's bits, gets a plain write that the log
// reports. One that will not rename over the file gets the rule every protocol follows there:
// the old file moves aside while the copy takes its name, and goes; nothing is written in place.
TEST_P(FtpSaveOnMisbehavingServer, RefusedTemporaryNamesRenameOrModeFallBackToAPlainWriteAndLogIt) {
    const unsigned mode = otherMode();
    struct Case {
        std::string marker;
        std::string because;  // in the log line of a write in place; none: renamed, nothing logged
    };
    for (const Case& c : {Case{".dravix-no-new-uploads", "553 Prohibited file name"},
                          Case{".dravix-no-rename-over", ""},
                          Case{".dravix-no-chmod", "550 Permission denied"}}) {
        SCOPED_TRACE(c.marker);
        freshFolder();
        mark(c.marker);
        putFile("page.html", pageText(2000, 'o'), mode);
        const DiskStat before = statOf(disk_ / "page.html");
        const std::size_t logBefore = log_->lines().size();
        const std::string text = pageText(300000, 'n');
        ASSERT_EQ(sync().write(at("page.html"), text), std::nullopt);
        EXPECT_EQ(readDiskFile(disk_ / "page.html"), text);
        const DiskStat after = statOf(disk_ / "page.html");
        EXPECT_EQ(after.inode == before.inode, !c.because.empty()) << "written in place, or renamed";
        EXPECT_EQ(after.mode, mode) << std::oct << after.mode;
        EXPECT_EQ(namesIn(disk_), (std::set<std::string>{c.marker, "page.html"}));
        if (c.because.empty()) EXPECT_EQ(log_->lines().size(), logBefore) << ::testing::PrintToString(log_->lines());
        else EXPECT_TRUE(logged(at("page.html")) && logged(c.because)) << ::testing::PrintToString(log_->lines());
    }
}

// A removal the server refuses is taken as refused: the save still goes through, the file that
// could not go (the copy that could not get the bits, or the old file moved aside) stays beside
// the page, and the log names it with the server's words.
TEST_P(FtpSaveOnMisbehavingServer, AFileTheServerWillNotRemoveStaysAndTheLogNamesIt) {
    const unsigned mode = otherMode();
    struct Case {
        std::string marker;
        std::string what;  // in the log line
    };
    for (const Case& c : {Case{".dravix-no-chmod", "temporary file"}, Case{".dravix-no-rename-over", "old file"}}) {
        SCOPED_TRACE(c.marker);
        freshFolder();
        mark(c.marker);
        mark(".dravix-no-delete");
        putFile("page.html", pageText(2000, 'o'), mode);
        const std::string text = pageText(300000, 'n');
        ASSERT_EQ(sync().write(at("page.html"), text), std::nullopt);
        EXPECT_EQ(readDiskFile(disk_ / "page.html"), text);
        std::vector<std::string> kept;
        for (const std::string& name : namesIn(disk_)) {
            if (name.rfind(".page.dravix-", 0) == 0) kept.push_back(name);
        }
        ASSERT_EQ(kept.size(), 1u) << ::testing::PrintToString(namesIn(disk_));
        EXPECT_TRUE(logged("refused to remove the " + c.what) && logged(kept[0]) && logged("550 Permission denied"))
            << ::testing::PrintToString(log_->lines());
    }
}

// A new file, or a copy, that the server cuts off while it goes up leaves nothing under its
// name (nor a temporary file), says the name is as it was, and goes up whole when tried again.
TEST_P(FtpSaveOnMisbehavingServer, ANewFileOrACopyCutOffLeavesNothingUnderItsName) {
    const std::string text = pageText(900000, 'n');
    makeDiskFolder(disk_ / "from");
    writeDiskFile(disk_ / "from" / "page.html", text);
    const std::function<std::optional<files::FileError>()> ways[] = {
        [&] { return sync().write(at("page.html"), text, WriteMode::createNew); },
        [&] { return sync().copy(at("from/page.html"), at("page.html")); },
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(&way == &ways[0] ? "a new file" : "a copy");
        fs::remove(disk_ / "page.html");
        mark(".dravix-cut-uploads", "3");
        auto error = way();
        ASSERT_TRUE(error) << "the server cut the upload";
        EXPECT_TRUE(error->targetUnchanged) << describe(error);
        EXPECT_FALSE(error->targetIncomplete);
        EXPECT_EQ(namesIn(disk_), (std::set<std::string>{".dravix-cut-uploads", "from"}));

        fs::remove(disk_ / ".dravix-cut-uploads");
        error = way();
        ASSERT_FALSE(error) << describe(error);
        EXPECT_EQ(readDiskFile(disk_ / "page.html"), text);
        EXPECT_EQ(namesIn(disk_), (std::set<std::string>{"from", "page.html"}));
    }
}

// A server that refuses names beginning with "." gets a temporary name without the dot; one
// that refuses SITE CHMOD still gets the rename when the copy has the file's bits already. So a
// cut upload there leaves the old file whole too.
TEST_P(FtpSaveOnMisbehavingServer, RefusedDotNamesOrModeChangesStillReplaceByRename) {
    const unsigned fresh = newFileMode();
    ASSERT_NE(fresh, 0u);
    struct Case {
        std::vector<std::string> markers;
        unsigned mode;
    };
    for (const Case& c : {Case{{".dravix-no-dot-uploads"}, otherMode()}, Case{{".dravix-no-chmod"}, fresh},
                          Case{{".dravix-no-dot-uploads", ".dravix-no-chmod"}, fresh}}) {
        SCOPED_TRACE(::testing::PrintToString(c.markers));
        freshFolder();
        std::set<std::string> names{"site.html"};
        for (const auto& m : c.markers) {
            mark(m);
            names.insert(m);
        }
        const std::string old = pageText(400000, 'o');
        putFile("site.html", old, c.mode);
        const DiskStat before = statOf(disk_ / "site.html");
        const std::string text = pageText(900000, 'n');

        mark(".dravix-cut-uploads", "16");
        auto error = sync().write(at("site.html"), text);
        ASSERT_TRUE(error) << "the server cut the upload";
        EXPECT_TRUE(error->targetUnchanged) << describe(error);
        EXPECT_FALSE(error->targetIncomplete);
        EXPECT_EQ(readDiskFile(disk_ / "site.html"), old);
        fs::remove(disk_ / ".dravix-cut-uploads");
        EXPECT_EQ(namesIn(disk_), names) << "a temporary file was left";

        auto saved = sync().write(at("site.html"), text);
        ASSERT_FALSE(saved) << describe(saved);
        EXPECT_EQ(readDiskFile(disk_ / "site.html"), text);
        const DiskStat after = statOf(disk_ / "site.html");
        EXPECT_NE(after.inode, before.inode) << "not put in place by a rename";
        EXPECT_EQ(after.mode, c.mode) << std::oct << after.mode;
        EXPECT_EQ(namesIn(disk_), names);
        EXPECT_FALSE(logged("in place")) << ::testing::PrintToString(log_->lines());
    }
}

// Where the server takes no other name, the file is written in place: a cut leaves part of the
// new text in the file, and the error says the file is incomplete. A plain write the server
// refuses before any byte moved leaves the file as it was.
TEST_P(FtpSaveOnMisbehavingServer, ACutPlainWriteSaysTheFileIsIncomplete) {
    const unsigned mode = otherMode();
    for (const std::string marker : {".dravix-no-new-uploads"}) {
        SCOPED_TRACE(marker);
        freshFolder();
        mark(marker);
        mark(".dravix-cut-uploads", "16");
        const std::string old = pageText(400000, 'o');
        putFile("site.html", old, mode);
        const std::string text = pageText(900000, 'n');
        auto error = sync().write(at("site.html"), text);
        ASSERT_TRUE(error) << "the server cut the upload";
        EXPECT_TRUE(error->targetIncomplete) << describe(error);
        EXPECT_FALSE(error->targetUnchanged);
        const std::string kept = readDiskFile(disk_ / "site.html");
        EXPECT_LT(kept.size(), text.size());
        EXPECT_EQ(kept, text.substr(0, kept.size())) << "the file holds the start of the new text";
        EXPECT_EQ(statOf(disk_ / "site.html").mode, mode) << std::oct << statOf(disk_ / "site.html").mode;
        EXPECT_EQ(namesIn(disk_), (std::set<std::string>{marker, ".dravix-cut-uploads", "site.html"}));
    }

    freshFolder();
    makeDiskFolder(disk_ / "folder.html");  // written through, and refused
    auto error = sync().write(at("folder.html"), std::string("text"));
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->targetIncomplete) << describe(error);
    EXPECT_EQ(namesIn(disk_), std::set<std::string>{"folder.html"});
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
        ASSERT_EQ(sync().write(at(c.name), text), std::nullopt);
        EXPECT_EQ(readDiskFile(disk_ / c.name), text);
        const DiskStat after = statOf(disk_ / c.name);
        EXPECT_EQ(after.mode, c.mode) << std::oct << after.mode;
        EXPECT_EQ(after.inode, before.inode) << "written in place";
        EXPECT_TRUE(logged(at(c.name)) && logged("502")) << ::testing::PrintToString(log_->lines());
    }
    EXPECT_EQ(namesIn(disk_), (std::set<std::string>{"config.php", "deploy.sh", "private.txt"}));
}

// SITE refused, but the copy already has the file's bits (as "LIST NAME" shows them): renamed.
TEST_P(FtpSaveOnServerThatAnswersLess, ReplacesByRenameWhenTheCopyHasTheFilesBitsAlready) {
    const unsigned fresh = newFileMode();
    ASSERT_NE(fresh, 0u);
    putFile("page.html", pageText(2000, 'o'), fresh);
    const DiskStat before = statOf(disk_ / "page.html");
    const std::string text = pageText(300000, 'n');
    ASSERT_EQ(sync().write(at("page.html"), text), std::nullopt);
    EXPECT_EQ(readDiskFile(disk_ / "page.html"), text);
    const DiskStat after = statOf(disk_ / "page.html");
    EXPECT_NE(after.inode, before.inode) << "not put in place by a rename";
    EXPECT_EQ(after.mode, fresh) << std::oct << after.mode;
    EXPECT_EQ(namesIn(disk_), std::set<std::string>{"page.html"});
    EXPECT_FALSE(logged("in place")) << ::testing::PrintToString(log_->lines());
}

TEST_P(FtpSaveOnServerThatAnswersLess, AsksTheFoldersListingWhenTheServerWillNotListTheName) {
    mark(".dravix-no-list-name");
    putFile("page.html", pageText(2000, 'o'), 0640);
    const int listed = listingRequests(peer_, dir_);
    ASSERT_GE(listed, 0);
    const std::string text = pageText(100000, 'n');
    ASSERT_EQ(sync().write(at("page.html"), text), std::nullopt);
    EXPECT_EQ(readDiskFile(disk_ / "page.html"), text);
    EXPECT_EQ(statOf(disk_ / "page.html").mode, 0640u) << std::oct << statOf(disk_ / "page.html").mode;
    EXPECT_EQ(listingRequests(peer_, dir_), listed + 2) << "the folder's own listing was asked for the file and its copy";
    EXPECT_EQ(namesIn(disk_), (std::set<std::string>{".dravix-no-list-name", "page.html"}));
}

TEST_P(FtpSaveOnServerThatAnswersLess, WritesInPlaceWhenNoListingTellsTheMode) {
    mark(".dravix-no-list");
    putFile("secret.php", pageText(2000, 'o'), 0600);
    const DiskStat before = statOf(disk_ / "secret.php");
    const std::string text = pageText(100000, 'n');
    ASSERT_EQ(sync().write(at("secret.php"), text), std::nullopt);
    EXPECT_EQ(readDiskFile(disk_ / "secret.php"), text);
    const DiskStat after = statOf(disk_ / "secret.php");
    EXPECT_EQ(after.mode, 0600u) << std::oct << after.mode;
    EXPECT_EQ(after.inode, before.inode) << "written in place";
    EXPECT_TRUE(logged(at("secret.php")) && logged("did not tell")) << ::testing::PrintToString(log_->lines());
    EXPECT_EQ(namesIn(disk_), (std::set<std::string>{".dravix-no-list", "secret.php"}));
}

TEST_P(FtpSaveOnServerThatAnswersLess, ANewFileIsWrittenWhole) {
    ASSERT_EQ(sync().write(at("new page.html"), std::string("fresh")), std::nullopt);
    EXPECT_EQ(readDiskFile(disk_ / "new page.html"), "fresh");
    EXPECT_EQ(namesIn(disk_), std::set<std::string>{"new page.html"});
    EXPECT_TRUE(log_->lines().empty()) << ::testing::PrintToString(log_->lines());
}

// Relative targets, one in another folder, a link to a link and an absolute target: each save
// replaces the file the link points to by a rename, with its permission bits, and the link
// stays as it was. An absolute target is a path on the server's disk: where the login sees
// another root (pyftpdlib, vsftpd's chroot) that path names nothing the server shows, so the
// bytes go through the link in place, and the log says so.
TEST_P(FtpSaveOfALink, WritesTheFileTheLinkPointsToAndKeepsTheLink) {
    const bool diskPaths = peer_.values["SERVED_ROOT"] == "/";  // the server's paths are the disk's
    makeDiskFolder(disk_ / "sub");
    makeDiskFolder(disk_ / "pages");
    struct Case {
        std::string link;    // below the test's folder
        std::string points;  // the link's text
        std::string file;    // what it ends at, below the test's folder
        bool renamed;
    };
    const std::vector<Case> cases{
        {"link.html", "index.html", "index.html", true},
        {"sub/deep.html", "../pages/about.html", "pages/about.html", true},
        {"chain.html", "link.html", "index.html", true},
        {"absolute.html", (disk_ / "pages" / "about.html").string(), "pages/about.html", diskPaths},
    };
    putFile("index.html", pageText(3000, 'o'), 0640);
    putFile("pages/about.html", pageText(3000, 'p'), 0604);
    for (const Case& c : cases) fs::create_symlink(c.points, disk_ / c.link);

    char seed = 'a';
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link + " -> " + c.points);
        const std::size_t logLines = log_->lines().size();
        const DiskStat before = statOf(disk_ / c.file);
        const std::string old = readDiskFile(disk_ / c.file), text = pageText(200000, seed++);
        auto error = sync().write(at(c.link), text);
        ASSERT_TRUE(fs::is_symlink(fs::symlink_status(disk_ / c.link))) << "the link was replaced";
        EXPECT_EQ(fs::read_symlink(disk_ / c.link).string(), c.points);
        EXPECT_EQ(statOf(disk_ / c.file).mode, before.mode) << std::oct << statOf(disk_ / c.file).mode;
        if (c.renamed) {
            ASSERT_FALSE(error) << describe(error);
            EXPECT_EQ(readDiskFile(disk_ / c.file), text);
            EXPECT_NE(statOf(disk_ / c.file).inode, before.inode) << "not put in place by a rename";
            EXPECT_EQ(log_->lines().size(), logLines) << ::testing::PrintToString(log_->lines());
            continue;
        }
        EXPECT_TRUE(logged(at(c.link)) && logged("symbolic link")) << ::testing::PrintToString(log_->lines());
        // pyftpdlib, outside any chroot, follows the link; vsftpd cannot reach the target from
        // inside its chroot and refuses before any byte moved.
        if (error) {
            EXPECT_FALSE(error->targetIncomplete) << describe(error);
            EXPECT_EQ(readDiskFile(disk_ / c.file), old);
        } else {
            EXPECT_EQ(readDiskFile(disk_ / c.file), text);
        }
    }
    EXPECT_EQ(namesIn(disk_), (std::set<std::string>{"absolute.html", "chain.html", "index.html", "link.html", "pages", "sub"}));
    EXPECT_EQ(namesIn(disk_ / "pages"), std::set<std::string>{"about.html"});
    EXPECT_EQ(namesIn(disk_ / "sub"), std::set<std::string>{"deep.html"});
}

// A save cut while the server goes away leaves its partial copy: named with the file's own
// extension last, so a web server runs it as the page (or refuses a hidden name) rather than
// sending its source. It is removed at the next save once the server is back, or, with the
// set of leftovers kept (as the app keeps it with the file's session), by the next provider's
// first operation.
TEST_P(FtpSaveOnServerThatGoesAway, ACopyLeftByASaveCutWhileTheServerWentAwayIsRemovedOnceItIsBack) {
    struct Case {
        std::vector<std::string> markers;
        std::string prefix;  // of the copy's name
        bool newProvider;    // the next operation comes from a provider made afresh
    };
    for (const Case& c : {Case{{}, ".page.dravix-", false}, Case{{".dravix-no-dot-uploads"}, "page.dravix-", false},
                          Case{{}, ".page.dravix-", true}}) {
        SCOPED_TRACE(c.prefix + (c.newProvider ? " (a new provider)" : ""));
        freshFolder();
        std::set<std::string> names{"page.php"};
        for (const auto& m : c.markers) {
            mark(m);
            names.insert(m);
        }
        const std::string old = pageText(400000, 'o');
        putFile("page.php", old, 0640);
        files::ProviderOptions options;
        options.timeouts.connect = 10s;
        options.timeouts.reply = 20s;
        options.leftovers = files::makeLeftoverCopies();
        provider_ = files::makeProvider(peer_.url, {peer_.user, peer_.password}, options);

        mark(".dravix-cut-uploads", "16");
        mark(".dravix-down-after-cut");
        const std::string text = pageText(900000, 'n');
        auto error = sync().write(at("page.php"), text);
        ASSERT_TRUE(error) << "the server cut the upload";
        EXPECT_TRUE(error->targetUnchanged) << describe(error);
        EXPECT_EQ(readDiskFile(disk_ / "page.php"), old);
        std::vector<std::string> left;
        for (const std::string& name : namesIn(disk_)) {
            if (!names.count(name) && name.rfind(".dravix-", 0) != 0) left.push_back(name);
        }
        ASSERT_EQ(left.size(), 1u) << ::testing::PrintToString(namesIn(disk_));
        EXPECT_EQ(left[0].rfind(c.prefix, 0), 0u) << left[0];
        EXPECT_EQ(left[0].substr(left[0].size() - 4), ".php") << left[0];
        EXPECT_EQ(options.leftovers->copies().size(), 1u);

        // The server comes back.
        fs::remove(disk_ / ".dravix-cut-uploads");
        fs::remove(disk_ / ".dravix-down-after-cut");
        fs::remove(peer_.root / ".dravix-down");
        if (c.newProvider) {
            provider_ = files::makeProvider(peer_.url, {peer_.user, peer_.password}, options);
            ASSERT_FALSE(sync().list(dir_).second);
            EXPECT_EQ(readDiskFile(disk_ / "page.php"), old);
        } else {
            ASSERT_EQ(sync().write(at("page.php"), text), std::nullopt);
            EXPECT_EQ(readDiskFile(disk_ / "page.php"), text);
        }
        EXPECT_EQ(namesIn(disk_), names);
        EXPECT_TRUE(options.leftovers->copies().empty());
    }
}

// A connection cut right before or right after the rename that puts the copy over the file: a
// new connection tells whether the rename happened, so the file is the old or the new one and
// the outcome says which; no copy is left once the next operation went through.
TEST_P(FtpSaveOnEveryServer, ACutAroundTheRenameLeavesTheOldOrTheNewFileAndSaysWhich) {
    for (auto moment : {files::detail::SaveMoment::before, files::detail::SaveMoment::after}) {
        SCOPED_TRACE(moment == files::detail::SaveMoment::before ? "before" : "after");
        freshFolder();
        const std::string old = pageText(3000, 'o'), text = pageText(2000, 'n');
        putFile("page.html", old, 0644);
        std::atomic<bool> fired{false};
        files::detail::setSaveCutHook([&](std::string_view step, files::detail::SaveMoment when) {
            return step == "replace" && when == moment && !fired.exchange(true);
        });
        auto error = sync().write(at("page.html"), text);
        files::detail::setSaveCutHook(nullptr);
        ASSERT_TRUE(fired);
        const std::string there = readDiskFile(disk_ / "page.html");
        if (error) EXPECT_EQ(error->targetUnchanged, there == old) << describe(error);
        else EXPECT_EQ(there, text);
        EXPECT_TRUE(there == old || there == text);
        ASSERT_FALSE(sync().list(dir_).second);
        EXPECT_EQ(namesIn(disk_), std::set<std::string>{"page.html"});
    }
}

// A checked save reads the file's bytes for its check over a second connection once its copy
// is up, beside the copy's replies: a free one in binary mode (two files were just read at
// once), or the provider's spare (made by the save before, which checked over its own
// connection meanwhile); with one connection and no spare it reads them after the replies.
// Every way, a change made to the file before the copy went up is found: the file stays as the
// other writer left it, and nothing of the save stays beside it; without one the file is saved.
TEST_P(FtpSaveOnEveryServer, ACheckedSaveFindsAChangeMadeMeanwhileOverASecondConnectionOrItsOwn) {
    struct Case {
        const char* name;
        int workers;
        bool spare;     // one may be made (it ends after the keep-alive time without work)
        bool twoReads;  // two files are read at once first
        bool savedBefore;
        bool changed;
        bool otherBits = false;  // the file's bits are not a new file's: the copy gets them set
    };
    const Case cases[] = {
        {"one connection, unchanged", 1, false, false, false, false},
        {"one connection, changed", 1, false, false, false, true},
        {"a second connection free, unchanged", 3, false, true, false, false},
        {"a second connection free, changed", 3, false, true, false, true},
        {"a second connection free, the copy's bits set, unchanged", 3, false, true, false, false, true},
        {"a second connection free, the copy's bits set, changed", 3, false, true, false, true, true},
        {"the spare, unchanged", 1, true, false, true, false},
        {"the spare, changed", 1, true, false, true, true},
    };
    // The bits the server gives a new file: the copy has them, so the save sends nothing between
    // the copy's replies and its check; or others, which it sets with SITE CHMOD.
    const unsigned newMode = newFileMode();
    ASSERT_NE(newMode, 0u);
    const unsigned otherMode = newMode == 0664 ? 0644 : 0664;  // readable by the server's user too
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const unsigned mode = c.otherBits ? otherMode : newMode;
        files::ProviderOptions options;
        options.timeouts.connect = 10s;
        options.timeouts.reply = 20s;
        options.timeouts.keepAlive = c.spare ? 60s : 0s;
        options.workers = c.workers;
        provider_ = files::makeProvider(peer_.url, {peer_.user, peer_.password}, options);
        freshFolder();
        // Of one size, so that only their bytes tell them apart.
        const std::string old = pageText(3000, 'o'), theirs = pageText(3000, 't'), mine = pageText(3000, 'm');
        putFile("page.html", old, mode);
        putFile("other.html", "<p>other</p>", mode);
        VersionedRead page, other;
        provider_->contentsAndVersion(at("page.html"), page.callback());
        if (c.twoReads) provider_->contentsAndVersion(at("other.html"), other.callback());
        awaitOnce(page);
        if (c.twoReads) awaitOnce(other);
        ASSERT_FALSE(page.get<2>()) << describe(page.get<2>());
        ASSERT_EQ(page.get<0>().value_or(""), old);
        std::optional<files::FileVersion> version = page.get<1>();
        if (c.savedBefore) {
            VersionedWrite before;
            provider_->writeContents(at("page.html"), old, WriteMode::replace, version, before.callback());
            awaitOnce(before);
            ASSERT_FALSE(before.get<1>()) << describe(before.get<1>());
            version = before.get<0>();
        }

        std::atomic<bool> fired{false};
        files::detail::setSaveCutHook([&](std::string_view step, files::detail::SaveMoment when) {
            if (c.changed && step == "writeCopy" && when == files::detail::SaveMoment::before && !fired.exchange(true))
                putFile("page.html", theirs, mode);
            return false;
        });
        VersionedWrite saved;
        provider_->writeContents(at("page.html"), mine, WriteMode::replace, version, saved.callback());
        awaitOnce(saved);
        files::detail::setSaveCutHook(nullptr);
        if (c.changed) {
            ASSERT_TRUE(saved.get<1>());
            EXPECT_EQ(saved.get<1>()->kind, ErrorKind::changedOnServer) << describe(saved.get<1>());
            EXPECT_TRUE(saved.get<1>()->targetUnchanged);
            EXPECT_EQ(readDiskFile(disk_ / "page.html"), theirs);
        } else {
            EXPECT_FALSE(saved.get<1>()) << describe(saved.get<1>());
            EXPECT_EQ(readDiskFile(disk_ / "page.html"), mine);
            EXPECT_EQ(statOf(disk_ / "page.html").mode, mode);
        }
        EXPECT_EQ(namesIn(disk_), (std::set<std::string>{"page.html", "other.html"}));
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpSaveOnEveryServer, ::testing::Values("pyftpd", "pyftpdx", "pureftpd", "vsftpd"),
                         [](const auto& info) { return info.param; });
INSTANTIATE_TEST_SUITE_P(Servers, FtpSaveOfALink, ::testing::Values("pyftpd", "vsftpd", "proftpd", "pureftpd"),
                         [](const auto& info) { return info.param; });
// Only pyftpdlib has the misbehaving modes.
INSTANTIATE_TEST_SUITE_P(Servers, FtpSaveOnMisbehavingServer, ::testing::Values("pyftpd"),
                         [](const auto& info) { return info.param; });
// A pyftpdlib of its own: taken down, it is down for every connection.
INSTANTIATE_TEST_SUITE_P(Servers, FtpSaveOnServerThatGoesAway, ::testing::Values("pyftpd-away"),
                         [](const auto&) { return std::string("pyftpdaway"); });
INSTANTIATE_TEST_SUITE_P(Servers, FtpSaveOnServerThatAnswersLess, ::testing::Values("pyftpd-lax"),
                         [](const auto&) { return std::string("pyftpdlax"); });

}  // namespace
