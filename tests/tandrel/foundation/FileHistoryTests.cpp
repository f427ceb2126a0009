// The history of replaced server copies: copies kept per server and path, listed newest first
// with their sizes, a folder's files with kept copies, the limits (copies per file, bytes per server, oldest out first, both from
// the settings), private files and folders, and nothing of a copy in the log.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <future>

#include "FoundationTestSupport.h"
#include "platform/defaults/AtomicFile.h"
#include "tandrel/foundation/UserPrefs.h"
#include "tandrel/foundation/VornFileHistory.h"

namespace fs = std::filesystem;

namespace {

const std::string kServer = "sftp://dora@example.test";

class FileHistory : public ::testing::Test {
protected:
    void SetUp() override { history_.folder = home_.data() / "History"; }
    std::optional<VornError> keepNow(const std::string& path, const std::string& bytes, const std::string& server = kServer) {
        std::promise<std::optional<VornError>> done;
        auto f = done.get_future();
        history_.keep(server, path, bytes, [&](std::optional<VornError> e, fs::path) { done.set_value(e); });
        return f.get();
    }
    // The files of a folder with kept copies: each path with its copies' bytes, newest first.
    using Listed = std::vector<std::pair<std::string, std::vector<std::string>>>;
    Listed filesIn(const std::string& folder, const std::string& server = kServer) {
        std::promise<std::vector<VornFileHistory::KeptFile>> done;
        auto f = done.get_future();
        history_.files_in(server, folder, [&](std::vector<VornFileHistory::KeptFile> files) { done.set_value(std::move(files)); });
        Listed out;
        for (const auto& file : f.get()) {
            std::vector<std::string> copies;
            for (const auto& v : file.versions) copies.push_back(VornFileHistory::read(v).value_or("(unreadable)"));
            out.emplace_back(file.path, std::move(copies));
        }
        return out;
    }
    std::vector<std::string> texts(const std::string& path, const std::string& server = kServer) {
        std::vector<std::string> out;
        for (const auto& v : history_.versions(server, path)) out.push_back(VornFileHistory::read(v).value_or("(unreadable)"));
        return out;
    }
    static unsigned mode(const fs::path& p) {
        struct stat st {};
        return ::stat(p.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
    }

    AppHome home_;
    CapturedLog log_;
    VornFileHistory history_;
};

TEST_F(FileHistory, KeepsEachCopyPerServerAndPathNewestFirst) {
    ASSERT_FALSE(keepNow("/www/index.html", "one"));
    ASSERT_FALSE(keepNow("/www/index.html", "two!"));
    ASSERT_FALSE(keepNow("/www/other.html", "other"));
    ASSERT_FALSE(keepNow("/www/index.html", "elsewhere", "ftp://another.test"));
    EXPECT_EQ(texts("/www/index.html"), (std::vector<std::string>{"two!", "one"}));
    EXPECT_EQ(texts("/www/other.html"), (std::vector<std::string>{"other"}));
    EXPECT_EQ(texts("/www/index.html", "ftp://another.test"), (std::vector<std::string>{"elsewhere"}));
    EXPECT_TRUE(texts("/www/never.html").empty());
    const auto versions = history_.versions(kServer, "/www/index.html");
    ASSERT_EQ(versions.size(), 2u);
    EXPECT_EQ(versions[0].size, 4);
    EXPECT_EQ(versions[1].size, 3);
    EXPECT_GE(versions[0].kept, versions[1].kept);
    EXPECT_LE(std::chrono::system_clock::now() - versions[0].kept, std::chrono::minutes(1));
    // The path is kept beside the copies, for listing a folder's files.
    auto folder = history_.folder_of(kServer, "/www/index.html");
    ASSERT_TRUE(folder);
    EXPECT_EQ(defaults::readWholeFile(*folder / "path"), std::optional<std::string>("/www/index.html"));
    // A copy kept for a write the server then refused goes again.
    history_.forget(versions[0].file);
    EXPECT_EQ(texts("/www/index.html"), (std::vector<std::string>{"one"}));
}

// A folder's files: those directly in it, not deeper ones, not the folder itself (a file once
// kept under its name), not another server's; the file with the newest copy first.
TEST_F(FileHistory, ListsTheFilesKeptOfAFolder) {
    ASSERT_FALSE(keepNow("/www/a.html", "a1"));
    ASSERT_FALSE(keepNow("/www/b.html", "b1"));
    ASSERT_FALSE(keepNow("/www/sub/c.html", "deeper"));
    ASSERT_FALSE(keepNow("/www", "the folder's name"));
    ASSERT_FALSE(keepNow("/top.html", "top"));
    ASSERT_FALSE(keepNow("/www/d.html", "another server's", "ftp://another.test"));
    ASSERT_FALSE(keepNow("/www/a.html", "a2"));
    const Listed www{{"/www/a.html", {"a2", "a1"}}, {"/www/b.html", {"b1"}}};
    const std::pair<const char*, Listed> cases[] = {
        {"/www", www},
        {"/www/", www},  // one folder however it is written
        {"www", www},
        {"/www/sub", {{"/www/sub/c.html", {"deeper"}}}},
        {"/", {{"/top.html", {"top"}}, {"/www", {"the folder's name"}}}},
        {"/nothing", {}},
    };
    for (const auto& [folder, expected] : cases) EXPECT_EQ(filesIn(folder), expected) << folder;
    EXPECT_EQ(filesIn("/www", "ftp://another.test"), (Listed{{"/www/d.html", {"another server's"}}}));
}

// Every file is the owner's only and every folder 0700; no temporary file is left; the log never
// holds a copy's bytes.
TEST_F(FileHistory, CopiesArePrivateAndNeverLogged) {
    const std::string secret = "<?php $password = 'hunter2-in-history'; ?>";
    ASSERT_FALSE(keepNow("/www/config.php", secret));
    ASSERT_FALSE(keepNow("/www/config.php", secret + "\n"));
    for (const auto& entry : fs::recursive_directory_iterator(*history_.folder)) {
        SCOPED_TRACE(entry.path().string());
        EXPECT_NE(entry.path().filename().string()[0], '.') << "a temporary file was left";
        EXPECT_EQ(mode(entry.path()), entry.is_directory() ? 0700u : 0600u);
    }
    EXPECT_EQ(mode(*history_.folder), 0700u);
    for (const auto& line : log_.lines()) EXPECT_EQ(line.find("hunter2"), std::string::npos) << line;
}

struct LimitCase {
    const char* name;
    int64_t max_versions;
    int64_t max_bytes;
    // Copies kept, in order: (path, size).
    std::vector<std::pair<std::string, int>> kept;
    // What remains per path, newest first, as sizes.
    std::vector<std::pair<std::string, std::vector<int>>> remains;
};

void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.name; }

class FileHistoryLimits : public FileHistory, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(FileHistoryLimits, TheOldestGoFirst) {
    const auto& c = GetParam();
    history_.limits = VornFileHistory::Limits{c.max_versions, c.max_bytes};
    for (const auto& [path, size] : c.kept) {
        const auto error = keepNow(path, std::string(static_cast<std::size_t>(size), 'x'));
        // A copy larger than the server's allowance is refused, and nothing else goes for it.
        EXPECT_EQ(error.has_value(), size > c.max_bytes);
    }
    for (const auto& [path, sizes] : c.remains) {
        SCOPED_TRACE(path);
        std::vector<int> found;
        for (const auto& v : history_.versions(kServer, path)) found.push_back(static_cast<int>(v.size));
        EXPECT_EQ(found, sizes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileHistoryLimits,
    ::testing::Values(
        LimitCase{"CountPerFile", 3, 1000, {{"/a", 1}, {"/a", 2}, {"/a", 3}, {"/a", 4}, {"/a", 5}, {"/b", 6}},
                  {{"/a", {5, 4, 3}}, {"/b", {6}}}},
        LimitCase{"BytesPerServerAcrossFiles", 20, 100, {{"/a", 40}, {"/b", 30}, {"/a", 20}, {"/c", 25}},
                  {{"/a", {20}}, {"/b", {30}}, {"/c", {25}}}},
        LimitCase{"BothLimitsWhicheverComesFirst", 2, 50, {{"/a", 10}, {"/a", 11}, {"/a", 12}, {"/b", 30}},
                  {{"/a", {12}}, {"/b", {30}}}},
        LimitCase{"ACopyOverTheAllowanceIsNotKept", 20, 50, {{"/a", 10}, {"/a", 60}}, {{"/a", {10}}}}),
    [](const auto& info) { return info.param.name; });

TEST_F(FileHistory, LimitsComeFromTheSettings) {
    UserPrefs::registerDefaultPreferences();
    auto limits = VornFileHistory::Limits::from_settings();
    EXPECT_EQ(limits.max_versions, 20);
    EXPECT_EQ(limits.max_bytes, 50 * 1024 * 1024);
    UserPrefs::setPreference(VornFileHistory::kMaxVersionsKey, defaults::Value(int64_t{5}));
    UserPrefs::setPreference(VornFileHistory::kMaxMegabytesKey, defaults::Value(int64_t{2}));
    limits = VornFileHistory::Limits::from_settings();
    EXPECT_EQ(limits.max_versions, 5);
    EXPECT_EQ(limits.max_bytes, 2 * 1024 * 1024);
    // Nonsense is the default.
    UserPrefs::setPreference(VornFileHistory::kMaxVersionsKey, defaults::Value(int64_t{0}));
    UserPrefs::setPreference(VornFileHistory::kMaxMegabytesKey, defaults::Value(std::string("lots")));
    limits = VornFileHistory::Limits::from_settings();
    EXPECT_EQ(limits.max_versions, 20);
    EXPECT_EQ(limits.max_bytes, 50 * 1024 * 1024);
    // The store reads them at each keep.
    UserPrefs::setPreference(VornFileHistory::kMaxVersionsKey, defaults::Value(int64_t{2}));
    for (const char* text : {"1", "2", "3"}) ASSERT_FALSE(keepNow("/a", text));
    EXPECT_EQ(texts("/a"), (std::vector<std::string>{"3", "2"}));
}

}  // namespace
