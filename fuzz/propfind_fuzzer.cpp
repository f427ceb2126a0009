// WebDAV multi-status answers: the Depth 1 listing, the resource's own type and the first
// failure of a DELETE/COPY/MOVE answer, plus the dates and status lines they carry.
#include <string>

#include "FuzzCheck.h"
#include "platform/files/ListingParsers.h"
#include "platform/files/RemotePath.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text = fuzzText(data, size);
    const std::string_view folder = "/site";
    const auto entries = files::parse::propfind(text, "/dav", folder);
    if (entries) {
        for (const files::FileObject& e : *entries) {
            FUZZ_CHECK(!e.name.empty());
            FUZZ_CHECK(e.name.find('/') == std::string::npos);
            FUZZ_CHECK(e.name != "." && e.name != "..");
            // The path keeps the name's bytes (see path::fromServer); read back, it shows as the name.
            FUZZ_CHECK(files::path::decodeLenient(files::path::toServer(e.path)) == std::string(folder) + "/" + e.name);
            FUZZ_CHECK(e.isHidden == (e.name[0] == '.'));
            FUZZ_CHECK(!e.isDirectory() || e.size == -1);
        }
    }
    std::string copy(text);
    FUZZ_CHECK(files::parse::propfindInPlace(copy, "/dav", folder) == entries);
    (void)files::parse::propfindOwnType(text);
    if (auto failure = files::parse::firstMultistatusFailure(text)) FUZZ_CHECK(failure->status < 200 || failure->status > 299);
    (void)files::parse::httpDate(text);
    (void)files::parse::rfc3339(text);
    const int code = files::parse::statusCode(text);
    FUZZ_CHECK(code == 0 || (code >= 100 && code <= 999));
    (void)files::parse::statusText(text);
    return 0;
}
