// VMS LIST lines: "NAME.EXT;version", the size in blocks, the date ("5-APR-2001"), the time,
// then the owner and the protection, which are not read. A name too long for its column stands
// alone on its line and the entry goes on in the next one (ListingParsers joins the two).

#include <limits>

#include "platform/files/ListingFamilies.h"

namespace files::parse::families {

using namespace text;

namespace {

constexpr std::int64_t kBlock = 512;

// "README.TXT;12": the name, and where its version starts.
bool vmsName(std::string_view token, std::size_t& semicolon) {
    semicolon = token.rfind(';');
    return semicolon != std::string_view::npos && semicolon > 0 && allDigits(token.substr(semicolon + 1));
}

bool toBlocks(std::string_view s, std::int64_t& size) {
    if (!toNumber(s, size) || size > std::numeric_limits<std::int64_t>::max() / kBlock) return false;
    size *= kBlock;
    return true;
}

// "12/18" (used and allocated blocks), "12" (blocks), "14KB".
bool vmsSize(std::string_view s, std::int64_t& size) {
    const std::size_t slash = s.find('/');
    if (slash != std::string_view::npos) {
        std::int64_t allocated;
        return toNumber(s.substr(slash + 1), allocated) && toBlocks(s.substr(0, slash), size);
    }
    return toBlocks(s, size) || toUnitSize(s, size);
}

// "5-APR-2001" or "05-APR-01".
bool vmsDate(std::string_view s, LineDate& date) {
    const std::size_t first = s.find('-');
    if (first == std::string_view::npos) return false;
    const std::size_t second = s.find('-', first + 1);
    if (second == std::string_view::npos) return false;
    const std::string_view y = s.substr(second + 1);
    if (!isDay(s.substr(0, first), date.d) || !(date.mo = monthIndex(s.substr(first + 1, second - first - 1))) ||
        (y.size() != 2 && y.size() != 4) || !toNumber(y, date.y))
        return false;
    if (y.size() == 2) date.y += date.y < 70 ? 2000 : 1900;
    date.hasYear = true;
    return true;
}

}  // namespace

bool vmsLoneName(std::string_view line) {
    if (line.empty() || line.front() == ' ' || line.front() == '\t') return false;
    // One token: nothing but blanks after the first blank (most lines end this test early).
    std::size_t blank = 0;
    while (blank < line.size() && line[blank] != ' ' && line[blank] != '\t') ++blank;
    if (skipBlanks(line, blank) < line.size()) return false;
    const Tokens t = tokenize(line, 2);
    std::size_t semicolon;
    return t.size() == 1 && vmsName(t[0].text, semicolon);
}

bool vmsContinuation(std::string_view line) {
    if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) return true;
    const Tokens t = tokenize(line, 3);
    std::int64_t size;
    LineDate date;
    return t.size() >= 2 && vmsSize(t[0].text, size) && vmsDate(t[1].text, date);
}

bool vmsHeading(std::string_view line) {
    const std::string_view trimmed = trim(line);
    return (startsWithI(trimmed, "Directory ") && trimmed.back() == ']') || startsWithI(trimmed, "Grand total of ");
}

std::optional<FileObject> vmsLine(const Tokens& t, std::string_view line, const ListContext& context, LineKind& kind) {
    (void)line;
    kind = LineKind::unreadable;
    std::size_t semicolon;
    if (t.size() < 3 || !vmsName(t[0].text, semicolon)) return std::nullopt;
    std::int64_t size;
    if (!vmsSize(t[1].text, size)) return std::nullopt;
    LineDate date;
    if (!vmsDate(t[2].text, date)) return std::nullopt;
    if (t.size() > 3) {
        std::string_view clock = t[3].text;
        if (const std::size_t dot = clock.find('.'); dot != std::string_view::npos) clock = clock.substr(0, dot);
        if (!parseClock(clock, date.h, date.mi, date.s)) date.h = date.mi = date.s = 0;
    }
    const auto modified = resolve(date, context);  // none when it names no day
    std::string_view name = t[0].text.substr(0, semicolon);
    FileType type = FileType::regular;
    if (name.size() > 4 && iequals(name.substr(name.size() - 4), ".DIR")) {
        name.remove_suffix(4);
        type = FileType::directory;
    }
    auto entry = namedEntry(name, type, context, kind);
    if (!entry) return std::nullopt;
    entry->size = type == FileType::directory ? -1 : size;
    entry->modificationDate = modified;
    return entry;
}

}  // namespace files::parse::families
