#pragma once
// Replace All over the files a site search found: each file's text (the very text that was
// searched) gets every match replaced, is turned back into the file's bytes in its own encoding
// (its BOM and line endings as they were), and goes to the server through the app's one save
// road with the version the search read as the expected one. A file changed on the server
// since (or gone) is not written and is listed as skipped, with why; so is a file whose bytes
// did not all read in its encoding (it is never rewritten), and one whose new text holds a
// character its encoding cannot.
//
// The work runs off the GUI thread (the new bytes are made on a background queue); at most
// kSavesInFlight saves are on their way at once. stop() starts no more saves: those on their
// way end as they would (each save is whole or nothing on the server), so every file is either
// replaced or untouched. `finished` runs exactly once, after every save that started ended, on
// the thread of the last one (a background queue or a save's completion).
//
// Files shown in open documents are not for this class: their editors take the replacement.
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "tandrel/search/SitePattern.h"
#include "tandrel/search/SiteSearchResults.h"

namespace sitesearch {

// What became of one save through the save road.
struct SaveOutcome {
    enum class Kind { written, changedOnServer, notFound, failed };
    Kind kind = Kind::written;
    std::string message;  // a failure's, for the user
};

// The app's save road for one file: `searched` is the file as the search read it (its path,
// its bytes as they are on the server, and its version, which the save must expect); `bytes`
// are the new bytes. `done` runs once, on any thread.
using SaveRoad = std::function<void(std::shared_ptr<const SiteFileText> searched, std::string bytes,
                                    std::function<void(SaveOutcome)> done)>;

struct ReplaceSkip {
    std::string relativePath;
    std::string reason;
};

struct ReplaceSummary {
    std::vector<std::string> replaced;  // relative paths, in the order their saves ended
    std::size_t matchesReplaced = 0;
    std::vector<ReplaceSkip> skipped;
    std::size_t notStarted = 0;  // left untouched by a stop
    bool stopped = false;
};

class SiteReplace : public std::enable_shared_from_this<SiteReplace> {
public:
    static constexpr int kSavesInFlight = 3;

    // The new bytes of a file with every match of `pattern` replaced, and how many were; or why
    // the file cannot be written.
    struct NewBytes {
        std::string bytes;
        std::size_t count = 0;
    };
    static std::variant<NewBytes, std::string> replacedBytes(const SitePattern& pattern, const SiteFileText& file,
                                                             std::string_view replacement);

    static std::shared_ptr<SiteReplace> start(std::vector<FileHits> files, std::string patternText,
                                              PatternOptions options, std::string replacement, SaveRoad save,
                                              std::function<void(std::size_t done, std::size_t total)> progress,
                                              std::function<void(ReplaceSummary)> finished);
    void stop();

    SiteReplace(std::vector<FileHits> files, std::string patternText, PatternOptions options, std::string replacement,
                SaveRoad save, std::function<void(std::size_t, std::size_t)> progress,
                std::function<void(ReplaceSummary)> finished);

private:
    void pump();
    void runOne(const FileHits& hits);
    void ended(const FileHits& hits, std::optional<std::string> skipped, std::size_t count);

    std::vector<FileHits> files_;
    SitePattern pattern_;
    std::string replacement_;
    SaveRoad save_;
    std::function<void(std::size_t, std::size_t)> progress_;
    std::function<void(ReplaceSummary)> finished_;

    std::mutex mutex_;
    std::size_t next_ = 0;
    std::size_t done_ = 0;
    int running_ = 0;
    bool over_ = false;
    std::atomic<bool> stopping_{false};
    ReplaceSummary summary_;
};

}  // namespace sitesearch
