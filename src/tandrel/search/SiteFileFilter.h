#pragma once
// Which entries of a server a site search looks at.
//   - Folders: every one below the searched folder, except those an exclude pattern names (by
//     default ".git", "node_modules", "vendor" and hidden folders, those whose name starts
//     with "."). Links are never followed into folders, so a link loop cannot hold a search.
//   - Files: those an include pattern names (all when there is none) and no exclude pattern
//     names, up to kMaxBytes each, whose extension is not one of a binary kind (images,
//     archives, fonts, audio, video, documents, executables), and whose first 8 kB hold no NUL
//     byte once read (a UTF-16 file, which starts with its byte-order mark, is text all the
//     same). Images, archives and other binaries are never read as text and never changed.
// Patterns are shell globs on one name (fnmatch: "*", "?", "[...]"), written with commas or
// blanks between them; one ending in "/" names folders only. Names compare with case.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sitesearch {

class SiteFileFilter {
public:
    // The largest file a search reads.
    static constexpr std::int64_t kMaxBytes = 5 * 1024 * 1024;
    // How far into a file a NUL byte marks it as binary.
    static constexpr std::size_t kBinaryProbeBytes = 8 * 1024;
    // The exclude patterns a search starts with.
    static constexpr const char* kDefaultExcludes = ".git/, node_modules/, vendor/, .*/";

    SiteFileFilter() : SiteFileFilter({}, kDefaultExcludes) {}
    SiteFileFilter(std::string_view includes, std::string_view excludes);

    // The patterns written in `text`, in order.
    static std::vector<std::string> parsePatterns(std::string_view text);

    bool searchesFolder(std::string_view name) const;
    // By name alone: included, not excluded, not of a binary kind.
    bool searchesFile(std::string_view name) const;
    static bool hasBinaryExtension(std::string_view name);
    // The bytes are no text: a NUL in the first kBinaryProbeBytes, unless they start with a
    // UTF-16 byte-order mark.
    static bool looksBinary(std::string_view bytes);

private:
    struct Pattern {
        std::string glob;
        bool foldersOnly = false;
    };
    static bool matches(const std::vector<Pattern>& patterns, std::string_view name, bool isFolder);
    std::vector<Pattern> includes_;
    std::vector<Pattern> excludes_;
};

}  // namespace sitesearch
