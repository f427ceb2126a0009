// AS/400 (OS/400, IBM i) LIST lines: owner, size, date, time, the object type ("*DIR",
// "*STMF", "*FILE", ...) and the name; members of a file ("*MEM") come without size and date.

#include "platform/files/ListingFamilies.h"

namespace files::parse::families {

using namespace text;

namespace {

FileType objectType(std::string_view type) {
    for (std::string_view folder : {"*DIR", "*FLR", "*LIB"}) {
        if (iequals(type, folder)) return FileType::directory;
    }
    return FileType::regular;
}

// The job's date format decides the order: "/" dates are read month first, "." and "-" dates
// day first (either falls back on the other when it gives no date).
bool as400Date(std::string_view s, LineDate& date) {
    const NumericOrder order = s.find('/') != std::string_view::npos ? NumericOrder::monthFirst : NumericOrder::dayFirst;
    if (!numericDate(s, order, date.y, date.mo, date.d)) return false;
    date.hasYear = true;
    return true;
}

}  // namespace

std::optional<FileObject> as400Line(const Tokens& t, std::string_view line, const ListContext& context,
                                    LineKind& kind) {
    kind = LineKind::unreadable;
    std::size_t typeIndex;
    std::int64_t size = -1;
    LineDate date;
    bool dated = false;
    if (t.size() >= 6 && t[4].text.size() > 1 && t[4].text.front() == '*') {
        typeIndex = 4;
        if (!toNumber(t[1].text, size) || !as400Date(t[2].text, date) || !parseClock(t[3].text, date.h, date.mi, date.s))
            return std::nullopt;
        dated = true;
    } else if (t.size() >= 3 && t[1].text.size() > 1 && t[1].text.front() == '*') {
        typeIndex = 1;
    } else {
        return std::nullopt;
    }
    std::string_view name = line.substr(skipBlanks(line, t[typeIndex].end));
    // Objects inside a library or file are named by their path there: the last part names it.
    std::size_t end = name.size();
    while (end > 1 && name[end - 1] == '/') --end;
    if (end > 0) {
        const std::size_t slash = name.rfind('/', end - 1);
        if (slash != std::string_view::npos) name = name.substr(slash + 1);
    }
    auto entry = namedEntry(name, objectType(t[typeIndex].text), context, kind);
    if (!entry) return std::nullopt;
    entry->size = entry->isDirectory() ? -1 : size;
    if (dated) entry->modificationDate = resolve(date, context);
    return entry;
}

}  // namespace files::parse::families
