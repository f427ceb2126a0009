#pragma once
// What a site search reports: the files with matches (as each is searched), its progress, and
// its end.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/files/FileError.h"
#include "tandrel/search/SiteFileText.h"
#include "tandrel/search/SitePattern.h"

namespace sitesearch {

// One line that holds matches: its number (from 1), its text (UTF-8, without its line break),
// and where the matches stand in it (byte offsets; a match that goes on past the line's end is
// shown to that end).
struct LineHit {
    std::size_t line = 0;
    std::string text;
    std::vector<MatchSpan> spans;
};

// A file with matches.
struct FileHits {
    std::shared_ptr<const SiteFileText> file;
    std::string relativePath;  // from the searched folder, no leading "/"
    std::vector<LineHit> lines;
    std::vector<MatchSpan> matches;  // in the file's text
};

struct SearchProgress {
    std::size_t filesRead = 0;   // searched (read, from the cache, or an editor's text)
    std::size_t filesFound = 0;  // found to be searched so far
};

struct SearchSummary {
    std::size_t matches = 0;
    std::size_t files = 0;        // files with matches
    SearchProgress progress;
    std::size_t readFromServer = 0;  // of filesRead, those read from the server (not the cache)
    std::size_t unreadable = 0;      // files and folders the server would not give
    bool stopped = false;
    // The search could not run: the pattern's error, or the searched folder's listing error.
    std::optional<std::string> error;
};

}  // namespace sitesearch
