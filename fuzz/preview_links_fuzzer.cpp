// The preview's scan of a page (or a style sheet) for the files it loads, which the preview
// then reads ahead from the server: whatever the page says, every path it gives is a site path
// below the site's "/", normal, given once, and one the server may be asked for.
#include <set>
#include <string>

#include "FuzzCheck.h"
#include "platform/files/RemotePath.h"
#include "tandrel/editor/VornPreviewSite.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const char* const kPages[] = {"/index.html", "/blog/2024/post.html", "/a b/ü.html", "/"};
    const std::string from = kPages[data[0] % 4];
    const bool styleSheet = (data[0] & 4) != 0;
    const std::string text(fuzzText(data + 1, size - 1));

    const std::vector<std::string> paths = VornPreviewSite::linked_paths(from, text, styleSheet);
    std::set<std::string> seen;
    for (const std::string& path : paths) {
        FUZZ_CHECK(seen.insert(path).second);
        FUZZ_CHECK(files::path::normalize(path) == path);
        // No "." or ".." segment, no control character: the path stays below the site's root.
        FUZZ_CHECK(!files::path::check(path));
        const std::string onServer = files::path::join("/www/site", path);
        FUZZ_CHECK(files::path::isSameOrInside(onServer, "/www/site"));
    }
    // One path at most for each tag or @import.
    std::size_t openings = 0;
    for (const char c : text) openings += c == '<' || c == '@';
    FUZZ_CHECK(paths.size() <= openings);
    return 0;
}
