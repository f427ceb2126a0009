// FTP listings as servers send them: MLSD and LIST, whole replies and single lines, plus the
// permission readers. Every entry a parser gives must be usable as a path below the folder.
#include <chrono>

#include "FuzzCheck.h"
#include "platform/files/ListingParsers.h"
#include "platform/files/RemotePath.h"

namespace {

using namespace files;

void checkEntry(const FileObject& e, std::string_view folder) {
    FUZZ_CHECK(!e.name.empty());
    FUZZ_CHECK(e.name.find('/') == std::string::npos);
    FUZZ_CHECK(e.name != "." && e.name != "..");
    FUZZ_CHECK(e.name.find('\0') == std::string::npos);
    FUZZ_CHECK(e.name.find('\n') == std::string::npos);
    // The path keeps the name's bytes (see path::fromServer); read back, it shows as the name.
    FUZZ_CHECK(path::decodeLenient(path::toServer(e.path)) == std::string(folder) + "/" + e.name);
    FUZZ_CHECK(e.isHidden == (e.name[0] == '.'));
    FUZZ_CHECK(e.size >= -1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text = fuzzText(data, size);
    const std::string_view folder = "/www";
    // A fixed "now" keeps a run repeatable: 2026-06-15 12:00:00 UTC.
    const Date now = Date(std::chrono::seconds(1781524800));

    const parse::Listing m = parse::readMlsd(text, folder);
    for (const FileObject& e : m.entries) checkEntry(e, folder);
    FUZZ_CHECK(parse::mlsd(text, folder) == m.entries);

    const parse::Listing l = parse::readList(text, folder, now);
    for (const FileObject& e : l.entries) checkEntry(e, folder);
    FUZZ_CHECK(parse::list(text, folder, now) == l.entries);

    // The line readers agree with the whole-listing readers on a single line.
    if (text.find('\n') == std::string_view::npos && text.find('\r') == std::string_view::npos) {
        if (auto e = parse::mlsdLine(text, folder)) checkEntry(*e, folder);
        if (auto e = parse::listLine(text, folder, now)) checkEntry(*e, folder);
    }
    if (auto mode = parse::mlsdMode(text)) FUZZ_CHECK(*mode <= 07777);
    if (auto mode = parse::listMode(text)) FUZZ_CHECK(*mode <= 07777);
    (void)parse::mlsdTime(text);
    return 0;
}
