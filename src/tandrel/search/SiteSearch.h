#pragma once
// A search of every text file in a folder of a server, and of the open documents' texts.
//
// How it runs: the folders are listed breadth first, those known at a time together
// (FileProvider::contentsOfDirectories: one flight on SFTP), a few such listings at once; the
// files each listing names that SiteFileFilter lets through are taken from the server's cache
// (SiteSearchCache) when the listing shows them unchanged, and otherwise read together
// (FileProvider::contentsOfFiles: many requests in flight on SFTP, the provider's several
// connections elsewhere); a file larger than the size whose SHA-256 a version keeps is read
// with its version instead. Each file is decoded by the text road in its own encoding and
// searched as it arrives. A file an open document shows with unsaved changes is searched in
// that document's text (given at the start), not read.
//
// Each file's version is kept with its bytes (their size and SHA-256, or the server's facts for
// the larger ones) so that a Replace All writes only while the server's copy is still what
// was searched.
//
// Reports: `found` for each file with matches, `progress` after each file searched (both on
// the providers' worker threads, possibly several at once), then `finished` exactly once, after
// every other report, on every path: the summary says whether it was stopped, and why a search
// could not run at all (a pattern that does not compile, a folder that cannot be listed).
// Files and folders below it that cannot be read are counted and passed over. stop() cancels
// what is on its way; nothing more is reported but `finished`.
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/files/FileProvider.h"
#include "tandrel/search/SiteFileFilter.h"
#include "tandrel/search/SitePattern.h"
#include "tandrel/search/SiteSearchCache.h"
#include "tandrel/search/SiteSearchResults.h"

namespace sitesearch {

struct SearchQuery {
    std::string text;
    PatternOptions options;
    std::string folder = "/";  // a provider path
    std::string includes;      // SiteFileFilter's patterns
    std::string excludes = SiteFileFilter::kDefaultExcludes;
};

struct SearchHandlers {
    std::function<void(FileHits)> found;
    std::function<void(SearchProgress)> progress;
    std::function<void(SearchSummary)> finished;
};

class SiteSearch : public std::enable_shared_from_this<SiteSearch> {
public:
    // Listings on their way at once, each of up to kFoldersPerListing folders.
    static constexpr int kListingsInFlight = 4;
    static constexpr std::size_t kFoldersPerListing = 64;
    // How many files one contentsOfFiles call asks for at most.
    static constexpr std::size_t kReadBatch = 64;

    // Starts the search. `editorTexts`: open documents with unsaved changes, by provider path,
    // their UTF-8 text. `cache`: the server's cache (none: every file is read).
    static std::shared_ptr<SiteSearch> start(std::shared_ptr<files::FileProvider> provider,
                                             std::shared_ptr<SiteSearchCache> cache, SearchQuery query,
                                             std::map<std::string, std::string> editorTexts, SearchHandlers handlers);
    void stop();

    // The matches of `pattern` in a file's text, by line; nothing when there are none.
    static std::optional<FileHits> hitsIn(const SitePattern& pattern, std::shared_ptr<const SiteFileText> file,
                                          std::string relativePath);
    // `path` from `folder` ("/a/b/c.html" from "/a": "b/c.html").
    static std::string relativeTo(const std::string& folder, const std::string& path);

    SiteSearch(std::shared_ptr<files::FileProvider> provider, std::shared_ptr<SiteSearchCache> cache, SearchQuery query,
               SearchHandlers handlers);

private:
    void begin(std::map<std::string, std::string> editorTexts);
    void pump();  // starts listings while there is room; finishes when nothing is left
    // One folder of a listing; `pumpAfter`: whether the next listing may start now.
    void listed(const std::string& folder, std::vector<files::FileObject> entries, std::optional<files::FileError> error,
                bool pumpAfter);
    void readArrived(const files::FileObject& entry, std::optional<files::Bytes> data, files::FileVersion version,
                     bool withVersion, std::optional<files::FileError> error);
    void searchFile(std::shared_ptr<const SiteFileText> file);  // reports it; counts it as searched
    void settleOne(bool pumpAfter = true);  // one folder's listing or one file's read is done
    void finishIfDone(std::unique_lock<std::mutex>& lock);

    std::shared_ptr<files::FileProvider> provider_;
    std::shared_ptr<SiteSearchCache> cache_;
    SearchQuery query_;
    SitePattern pattern_;
    SiteFileFilter filter_;
    SearchHandlers handlers_;

    std::mutex mutex_;
    std::deque<std::string> folders_;
    int pending_ = 0;  // listings and file reads on their way
    int listings_ = 0;  // contentsOfDirectories calls on their way
    std::map<std::string, std::string> editorTexts_;
    std::vector<files::OperationHandle> operations_;
    SearchSummary summary_;
    bool finished_ = false;
    std::atomic<bool> stopping_{false};
};

}  // namespace sitesearch
