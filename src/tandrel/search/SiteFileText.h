#pragma once
// One server file as a site search read it: the bytes, the text the text road made of them (in
// the file's own encoding, BOM and line endings kept in its format), and the version a checked
// write of it must find on the server. Shared, never changed once made: a search's results and
// the search cache hold the same copy, and a Replace All writes from exactly what was searched.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/files/FileProvider.h"
#include "platform/text/TextEncoding.h"

namespace sitesearch {

struct SiteFileText {
    std::string path;              // the provider path
    files::Bytes bytes;            // as read from the server (empty for an editor's text)
    textcodec::DecodedText text;   // the file's text and format
    files::FileVersion version;    // what a checked write expects (size and SHA-256 of `bytes`, or the server's facts)
    // From an open document's editor, not from the server: replaced in the editor, never saved here.
    bool fromEditor = false;
    // What the listing said when it was read (the cache compares these).
    std::int64_t listedSize = -1;
    std::optional<std::chrono::system_clock::time_point> listedDate;
};

}  // namespace sitesearch
