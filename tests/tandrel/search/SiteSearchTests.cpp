// Site searches against an FTP, a WebDAV and an SFTP server: which files are searched (nested
// folders, excludes, binary files, sizes, encodings), what is found (literal, case, whole word,
// regular expression), open documents' texts, the cache, and Stop.
#include <atomic>
#include <thread>

#include "SearchTestSupport.h"
#include "platform/files/RemotePath.h"

using namespace searchtest;
using sitesearch::PatternOptions;
using sitesearch::SearchQuery;

namespace {

class SiteSearchPeerTest : public PeerFolderTest {
protected:
    // A small site on the server's disk.
    void writeSite() {
        put("index.html", "<p>Hello World</p>\n<p>hello again</p>\n");
        put("css/site.css", "body { color: red; } /* Hello */\n");
        put("js/app/main.js", "const helloWorld = 1;\r\nconsole.log('Hello');\r\n");
        put("node_modules/lib/index.js", "Hello\n");
        put(".git/config", "Hello\n");
        put(".cache/page.html", "Hello\n");
        put("vendor/autoload.php", "<?php // Hello\n");
        put(".htaccess", "# Hello\n");
        put("logo.png", std::string("\x89PNG\r\n\x1a\n Hello", 14));
        put("data.txt", std::string("Hello\0binary", 12));
        put("latin1.html", "<meta charset=\"windows-1252\">Caf\xE9 Hello\n");
        put("utf16.txt", std::string("\xFF\xFEH\0e\0l\0l\0o\0\n\0", 14));
        put("big.txt", "Hello\n" + std::string(sitesearch::SiteFileFilter::kMaxBytes, 'x'));
    }
    void put(const std::string& relative, const std::string& bytes) {
        const fs::path p = disk_ / relative;
        makeDiskFolder(p.parent_path());
        writeDiskFile(p, bytes);
    }
    SearchQuery query(std::string text, PatternOptions options = {}) {
        SearchQuery q;
        q.text = std::move(text);
        q.options = options;
        q.folder = dir_;
        return q;
    }
};

TEST_P(SiteSearchPeerTest, FindsWhatEachQueryAsksInTheFilesItTakes) {
    writeSite();
    using Counts = std::map<std::string, std::size_t>;
    struct Case {
        const char* name;
        SearchQuery query;
        Counts expected;
    };
    auto with = [this](std::string text, PatternOptions options, std::string folder = {}, std::string includes = {},
                       std::optional<std::string> excludes = {}) {
        SearchQuery q = query(std::move(text), options);
        if (!folder.empty()) q.folder = dir_ + folder;
        q.includes = std::move(includes);
        if (excludes) q.excludes = *excludes;
        return q;
    };
    const std::vector<Case> cases = {
        {"literal without case, nested folders, excludes, binaries and big files passed over",
         with("hello", {}),
         {{"index.html", 2}, {"css/site.css", 1}, {"js/app/main.js", 2}, {".htaccess", 1}, {"latin1.html", 1}, {"utf16.txt", 1}}},
        {"match case", with("Hello", {.matchCase = true}),
         {{"index.html", 1}, {"css/site.css", 1}, {"js/app/main.js", 1}, {".htaccess", 1}, {"latin1.html", 1}, {"utf16.txt", 1}}},
        {"whole word", with("hello", {.wholeWord = true}),
         {{"index.html", 2}, {"css/site.css", 1}, {"js/app/main.js", 1}, {".htaccess", 1}, {"latin1.html", 1}, {"utf16.txt", 1}}},
        {"regular expression", with("hel+o\\s+(world|again)", {.regularExpression = true}), {{"index.html", 2}}},
        {"another encoding", with("Café", {.matchCase = true}), {{"latin1.html", 1}}},
        {"a folder below", with("hello", {}, "/js"), {{"app/main.js", 2}}},
        {"include patterns", with("hello", {}, {}, "*.css *.js"), {{"css/site.css", 1}, {"js/app/main.js", 2}}},
        {"no excludes", with("hello", {.wholeWord = true}, {}, "*.js, *.php, config, *.html", std::string()),
         {{"index.html", 2}, {"js/app/main.js", 1}, {"node_modules/lib/index.js", 1}, {".git/config", 1},
          {".cache/page.html", 1}, {"vendor/autoload.php", 1}, {"latin1.html", 1}}},
        {"nothing found", with("absent", {}), {}},
    };
    for (const auto& c : cases) {
        Outcome outcome = search(provider_, nullptr, c.query);
        ASSERT_TRUE(outcome.summary) << c.name;
        EXPECT_FALSE(outcome.summary->error) << c.name << ": " << outcome.summary->error.value_or("");
        EXPECT_EQ(outcome.counts(), c.expected) << c.name;
        EXPECT_EQ(outcome.finishedCalls, 1) << c.name;
        EXPECT_EQ(outcome.foundAfterFinished, 0) << c.name;
        std::size_t matches = 0;
        for (const auto& [path, n] : c.expected) matches += n;
        EXPECT_EQ(outcome.summary->matches, matches) << c.name;
        EXPECT_EQ(outcome.summary->files, c.expected.size()) << c.name;
        EXPECT_EQ(outcome.summary->progress.filesRead, outcome.summary->progress.filesFound) << c.name;
    }

    // Each hit names its line, the line's text and where the match stands in it.
    Outcome outcome = search(provider_, nullptr, query("hello"));
    const auto& index = outcome.files.at("index.html");
    ASSERT_EQ(index.lines.size(), 2u);
    EXPECT_EQ(index.lines[0].line, 1u);
    EXPECT_EQ(index.lines[0].text, "<p>Hello World</p>");
    EXPECT_EQ(index.lines[0].spans, (std::vector<sitesearch::MatchSpan>{{3, 5}}));
    EXPECT_EQ(index.lines[1].line, 2u);
    const auto& script = outcome.files.at("js/app/main.js");
    ASSERT_EQ(script.lines.size(), 2u);
    EXPECT_EQ(script.lines[1].text, "console.log('Hello');") << "a CR LF ends the line";
    EXPECT_EQ(outcome.files.at("latin1.html").file->text.format.encoding, "windows-1252");
    EXPECT_EQ(outcome.files.at("utf16.txt").file->text.format.encoding, "UTF-16LE");

    // What cannot run says why, once.
    for (const SearchQuery& bad : {query("(", {.regularExpression = true}), query("")}) {
        Outcome refused = search(provider_, nullptr, bad);
        ASSERT_TRUE(refused.summary);
        EXPECT_TRUE(refused.summary->error);
        EXPECT_TRUE(refused.files.empty());
        EXPECT_EQ(refused.finishedCalls, 1);
    }
    SearchQuery missing = query("hello");
    missing.folder = dir_ + "/no such folder";
    Outcome gone = search(provider_, nullptr, missing);
    ASSERT_TRUE(gone.summary);
    EXPECT_TRUE(gone.summary->error);
}

TEST_P(SiteSearchPeerTest, SearchesOpenDocumentsInTheirEditorsText) {
    writeSite();
    // index.html has unsaved changes; a document outside the folder or in an excluded one is not searched.
    std::map<std::string, std::string> editors = {{dir_ + "/index.html", "Hello edited\nno match\nhello"},
                                                  {dir_ + "/node_modules/lib/index.js", "Hello"},
                                                  {"/elsewhere.html", "Hello"}};
    Outcome outcome = search(provider_, nullptr, query("hello"), editors);
    ASSERT_TRUE(outcome.summary);
    EXPECT_EQ(outcome.counts(), (std::map<std::string, std::size_t>{{"index.html", 2}, {"css/site.css", 1}, {"js/app/main.js", 2},
                                                                    {".htaccess", 1}, {"latin1.html", 1}, {"utf16.txt", 1}}));
    const auto& index = outcome.files.at("index.html");
    EXPECT_TRUE(index.file->fromEditor);
    ASSERT_EQ(index.lines.size(), 2u);
    EXPECT_EQ(index.lines[1].line, 3u);
}

TEST_P(SiteSearchPeerTest, ASecondSearchReadsOnlyWhatChanged) {
    writeSite();
    auto cache = std::make_shared<sitesearch::SiteSearchCache>();
    Outcome first = search(provider_, cache, query("hello"));
    ASSERT_TRUE(first.summary);
    // Every text file and both binary ones (data.txt by its NUL, the image by its name: never read).
    EXPECT_EQ(first.summary->readFromServer, 7u);

    Outcome second = search(provider_, cache, query("Hello", {.matchCase = true}));
    ASSERT_TRUE(second.summary);
    EXPECT_EQ(second.summary->readFromServer, 0u) << "nothing changed";
    EXPECT_EQ(second.summary->files, 6u);

    // A file changed on the server (another size) is read again, and searched as it is now.
    put("css/site.css", "body { color: blue; }\n");
    Outcome third = search(provider_, cache, query("hello"));
    ASSERT_TRUE(third.summary);
    EXPECT_EQ(third.summary->readFromServer, 1u);
    EXPECT_FALSE(third.files.count("css/site.css"));
    EXPECT_EQ(third.summary->files, 5u);
}

TEST_P(SiteSearchPeerTest, StopEndsTheSearchOnceAndReportsNothingMore) {
    for (int folder = 0; folder < 3; ++folder) {
        for (int i = 0; i < 100; ++i) {
            put("f" + std::to_string(folder) + "/page" + std::to_string(i) + ".html", "<p>Hello " + std::to_string(i) + "</p>\n");
        }
    }
    Recorder recorder;
    std::shared_ptr<sitesearch::SiteSearch> running;
    std::mutex startMutex;
    std::atomic<bool> stopped{false};
    recorder.onProgress = [&](sitesearch::SearchProgress) {
        if (stopped.exchange(true)) return;
        std::lock_guard lock(startMutex);
        running->stop();
    };
    {
        std::lock_guard lock(startMutex);
        running = sitesearch::SiteSearch::start(provider_, nullptr, query("hello"), {}, recorder.handlers());
    }
    Outcome outcome = recorder.wait();
    ASSERT_TRUE(outcome.summary);
    EXPECT_TRUE(outcome.summary->stopped);
    EXPECT_LT(outcome.summary->progress.filesRead, 300u);
    EXPECT_EQ(outcome.finishedCalls, 1);
    EXPECT_EQ(outcome.foundAfterFinished, 0);
    running->stop();  // a stop after the end changes nothing
    EXPECT_EQ(recorder.wait().finishedCalls, 1);
}

// Folders listed together may be handed over side by side (each on its own thread): the search
// ends however their hand-overs interleave. Here the first folder's hand-over is inside it (reading
// its file, the read answered before it returns) while the other folder's whole hand-over runs.
class SideBySideListings final : public ForwardingProvider {
public:
    using ForwardingProvider::ForwardingProvider;
    ~SideBySideListings() override {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(mutex_);
            threads.swap(threads_);
        }
        for (auto& t : threads) t.join();
    }
    files::OperationHandle contentsOfDirectories(std::vector<std::string> paths, files::FolderCompletion each) override {
        if (paths.size() < 2) return ForwardingProvider::contentsOfDirectories(std::move(paths), std::move(each));
        // Listed one by one; once all are in, handed over on two threads of the test's own.
        struct Listed {
            std::string folder;
            std::vector<files::FileObject> entries;
            std::optional<files::FileError> error;
        };
        auto listed = std::make_shared<std::vector<Listed>>(paths.size());
        auto left = std::make_shared<std::atomic<std::size_t>>(paths.size());
        {
            std::lock_guard lock(mutex_);
            first_ = paths.front();
        }
        for (std::size_t i = 0; i < paths.size(); ++i) {
            (*listed)[i].folder = paths[i];
            inner_->contentsOfDirectory(paths[i], [this, listed, left, each, i](std::vector<files::FileObject> entries,
                                                                                std::optional<files::FileError> error) {
                (*listed)[i].entries = std::move(entries);
                (*listed)[i].error = std::move(error);
                if (--*left != 0) return;
                std::lock_guard lock(mutex_);
                threads_.emplace_back([listed, each] { each(listed->front().folder, listed->front().entries, listed->front().error); });
                threads_.emplace_back([this, listed, each] {
                    awaitFlag(insideFirst_);
                    for (std::size_t k = 1; k < listed->size(); ++k) each((*listed)[k].folder, (*listed)[k].entries, (*listed)[k].error);
                    setFlag(othersDone_);
                });
            });
        }
        return std::make_shared<files::Operation>();
    }
    files::OperationHandle contentsOfFiles(std::vector<std::string> paths, files::FileCompletion each) override {
        if (paths.empty() || files::path::normalize(files::path::parent(paths.front())) != files::path::normalize(firstFolder())) {
            return ForwardingProvider::contentsOfFiles(std::move(paths), std::move(each));
        }
        setFlag(insideFirst_);
        awaitFlag(othersDone_);
        auto left = std::make_shared<std::atomic<std::size_t>>(paths.size());
        auto op = inner_->contentsOfFiles(std::move(paths), [this, left, each](std::string path, std::optional<files::Bytes> data,
                                                                               std::optional<files::FileError> error) {
            each(std::move(path), std::move(data), std::move(error));
            if (--*left == 0) setFlag(readsAnswered_);
        });
        awaitFlag(readsAnswered_);
        return op;
    }

private:
    std::string firstFolder() {
        std::lock_guard lock(mutex_);
        return first_;
    }
    void setFlag(bool& flag) {
        std::lock_guard lock(mutex_);
        flag = true;
        changed_.notify_all();
    }
    void awaitFlag(bool& flag) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return flag; });
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    bool insideFirst_ = false, othersDone_ = false, readsAnswered_ = false;
    std::string first_;
    std::vector<std::thread> threads_;
};

TEST_P(SiteSearchPeerTest, FoldersHandedOverSideBySideEndTheSearch) {
    put("a/one.html", "Hello\n");
    put("b/two.html", "Hello\n");
    auto provider = std::make_shared<SideBySideListings>(provider_);
    Outcome outcome = search(provider, nullptr, query("hello"));
    ASSERT_TRUE(outcome.summary) << "the search never ended";
    EXPECT_EQ(outcome.counts(), (std::map<std::string, std::size_t>{{"a/one.html", 1}, {"b/two.html", 1}}));
}

INSTANTIATE_TEST_SUITE_P(Servers, SiteSearchPeerTest, ::testing::Values("pyftpd", "apache", "sshd"),
                         [](const auto& info) { return info.param; });

}  // namespace
