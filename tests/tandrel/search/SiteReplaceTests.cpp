// Replace All against an FTP, a WebDAV and an SFTP server: each file written through a checked
// save in its own encoding, BOM and line endings; a file changed since the search skipped and
// left as it is; a stop that leaves every file replaced or untouched.
#include "SearchTestSupport.h"

using namespace searchtest;

namespace {

class SiteReplacePeerTest : public PeerFolderTest {
protected:
    void put(const std::string& relative, const std::string& bytes) {
        const fs::path p = disk_ / relative;
        makeDiskFolder(p.parent_path());
        writeDiskFile(p, bytes);
    }
    sitesearch::SearchQuery query(std::string text) {
        sitesearch::SearchQuery q;
        q.text = std::move(text);
        q.options.matchCase = true;
        q.folder = dir_;
        return q;
    }
    static std::vector<sitesearch::FileHits> hitsOf(const Outcome& outcome) {
        std::vector<sitesearch::FileHits> out;
        for (const auto& [path, hits] : outcome.files) out.push_back(hits);
        return out;
    }
    sitesearch::ReplaceSummary replaceAll(std::vector<sitesearch::FileHits> files, const std::string& text,
                                          const std::string& replacement, bool stopAtOnce = false) {
        std::mutex mutex;
        std::condition_variable changed;
        std::optional<sitesearch::ReplaceSummary> summary;
        int calls = 0;
        auto running = sitesearch::SiteReplace::start(
            std::move(files), text, {.matchCase = true}, replacement, providerSaveRoad(provider_), nullptr,
            [&](sitesearch::ReplaceSummary s) {
                std::lock_guard lock(mutex);
                ++calls;
                summary = std::move(s);
                changed.notify_all();
            });
        if (stopAtOnce) running->stop();
        std::unique_lock lock(mutex);
        EXPECT_TRUE(changed.wait_for(lock, 60s, [&] { return calls > 0; }));
        EXPECT_EQ(calls, 1);
        return summary.value_or(sitesearch::ReplaceSummary{});
    }
};

TEST_P(SiteReplacePeerTest, SavesEachFileInItsOwnFormatAndSkipsOnesChangedSinceTheSearch) {
    struct File {
        std::string name, before, after;
    };
    const std::vector<File> files = {
        {"bom-crlf.html", "\xEF\xBB\xBF<p>old.example</p>\r\n<a href=\"//old.example/\">old.example</a>\r\n",
         "\xEF\xBB\xBF<p>new.example</p>\r\n<a href=\"//new.example/\">new.example</a>\r\n"},
        {"western.html", "<meta charset=\"windows-1252\">\r<p>Caf\xE9 old.example</p>\r",
         "<meta charset=\"windows-1252\">\r<p>Caf\xE9 new.example</p>\r"},
        {"sub/utf16.txt", std::string("\xFF\xFEo\0l\0d\0.\0e\0x\0a\0m\0p\0l\0e\0\n\0", 26),
         std::string("\xFF\xFEn\0e\0w\0.\0e\0x\0a\0m\0p\0l\0e\0\n\0", 26)},
    };
    for (const auto& f : files) put(f.name, f.before);
    put("changed.css", "a { background: url(//old.example/x.png) }\n");
    // Declared UTF-8, with a byte that is not: never rewritten.
    put("lossy.html", "<meta charset=\"utf-8\"><p>old.example \xC3</p>\n");

    Outcome searched = search(provider_, nullptr, query("old.example"));
    ASSERT_TRUE(searched.summary);
    ASSERT_EQ(searched.summary->files, 5u);
    // Somebody changes one file between the search and the replace.
    const std::string theirs = "a { background: url(//old.example/theirs.png) }\n";
    put("changed.css", theirs);

    sitesearch::ReplaceSummary summary = replaceAll(hitsOf(searched), "old.example", "new.example");
    EXPECT_FALSE(summary.stopped);
    for (const auto& f : files) EXPECT_EQ(readDiskFile(disk_ / f.name), f.after) << f.name;
    EXPECT_EQ(readDiskFile(disk_ / "changed.css"), theirs) << "a file changed since the search is not written";
    std::set<std::string> replaced(summary.replaced.begin(), summary.replaced.end());
    EXPECT_EQ(replaced, (std::set<std::string>{"bom-crlf.html", "western.html", "sub/utf16.txt"}));
    std::map<std::string, std::string> skipped;
    for (const auto& s : summary.skipped) skipped[s.relativePath] = s.reason;
    EXPECT_EQ(skipped, (std::map<std::string, std::string>{
                           {"changed.css", "Changed on the server since the search."},
                           {"lossy.html", "Some of its bytes do not read as UTF-8; it is left as it is."}}));
    EXPECT_EQ(summary.matchesReplaced, 5u);
    EXPECT_EQ(readDiskFile(disk_ / "lossy.html"), "<meta charset=\"utf-8\"><p>old.example \xC3</p>\n");

    // The same results again: every file has changed since (the replace itself), so none is written twice.
    sitesearch::ReplaceSummary again = replaceAll(hitsOf(searched), "old.example", "other.example");
    EXPECT_TRUE(again.replaced.empty());
    for (const auto& f : files) EXPECT_EQ(readDiskFile(disk_ / f.name), f.after) << f.name;
}

TEST_P(SiteReplacePeerTest, StopLeavesEveryFileReplacedOrUntouched) {
    const int count = 40;
    for (int i = 0; i < count; ++i) put("p" + std::to_string(i) + ".html", "<p>old " + std::to_string(i) + "</p>\n");
    Outcome searched = search(provider_, nullptr, query("old"));
    ASSERT_EQ(searched.summary->files, static_cast<std::size_t>(count));
    sitesearch::ReplaceSummary summary = replaceAll(hitsOf(searched), "old", "new", true);
    EXPECT_TRUE(summary.stopped);
    EXPECT_EQ(summary.replaced.size() + summary.skipped.size() + summary.notStarted, static_cast<std::size_t>(count));
    EXPECT_GT(summary.notStarted, 0u);
    std::set<std::string> replaced(summary.replaced.begin(), summary.replaced.end());
    for (int i = 0; i < count; ++i) {
        const std::string name = "p" + std::to_string(i) + ".html";
        const std::string bytes = readDiskFile(disk_ / name);
        const std::string expected = std::string("<p>") + (replaced.count(name) ? "new " : "old ") + std::to_string(i) + "</p>\n";
        EXPECT_EQ(bytes, expected) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, SiteReplacePeerTest, ::testing::Values("pyftpd", "apache", "sshd"),
                         [](const auto& info) { return info.param; });

}  // namespace
