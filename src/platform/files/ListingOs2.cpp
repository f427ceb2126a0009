// OS/2 LIST lines: the size first, "DIR" for a folder, the attributes, then the date, the time
// and the name.

#include "platform/files/ListingFamilies.h"

namespace files::parse::families {

using namespace text;

namespace {
bool attributes(std::string_view s) {
    if (s.empty() || s.size() > 4) return false;
    for (char c : s) {
        if (c != 'A' && c != 'R' && c != 'H' && c != 'S') return false;
    }
    return true;
}
}  // namespace

std::optional<FileObject> os2Line(const Tokens& t, std::string_view line, const ListContext& context, LineKind& kind) {
    kind = LineKind::unreadable;
    std::int64_t size;
    if (t.size() < 4 || !toNumber(t[0].text, size)) return std::nullopt;
    std::size_t i = 1;
    const bool folder = t[i].text == "DIR";
    if (folder) ++i;
    if (i < t.size() && attributes(t[i].text)) ++i;
    if (i + 1 >= t.size()) return std::nullopt;
    LineDate date;
    if (!numericDate(t[i].text, NumericOrder::monthFirst, date.y, date.mo, date.d) ||
        !parseClock(t[i + 1].text, date.h, date.mi, date.s))
        return std::nullopt;
    date.hasYear = true;
    const auto modified = resolve(date, context);  // none when it names no day
    auto entry = namedEntry(line.substr(skipBlanks(line, t[i + 1].end)), folder ? FileType::directory : FileType::regular,
                            context, kind);
    if (!entry) return std::nullopt;
    // A folder's "0" stands in for a size it does not have.
    entry->size = folder ? -1 : size;
    entry->modificationDate = modified;
    return entry;
}

}  // namespace files::parse::families
