// MS-DOS style LIST lines: IIS and other Windows servers (the date first), and the "dir" style
// with the name first and "<DIR>" or the size after it.

#include "platform/files/ListingFamilies.h"

namespace files::parse::families {

using namespace text;

namespace {

// "10:30AM", "6:22a", "12:09p", "23:59".
bool dosClock(std::string_view clock, int& h, int& mi) {
    const std::size_t colon = clock.find(':');
    if ((colon != 1 && colon != 2) || clock.size() < colon + 3) return false;
    if (!toNumber(clock.substr(0, colon), h) || !toNumber(clock.substr(colon + 1, 2), mi) || mi > 59) return false;
    const std::string_view half = clock.substr(colon + 3);
    if (half.empty()) return h <= 23;
    if (h < 1 || h > 12) return false;
    if (iequals(half, "AM") || iequals(half, "A")) {
        if (h == 12) h = 0;
        return true;
    }
    if (iequals(half, "PM") || iequals(half, "P")) {
        if (h < 12) h += 12;
        return true;
    }
    return false;
}

// "01-02-20", "12-31-2019", "2002-09-02": the month first, as these servers write it, unless
// only the day-first order gives a date; dates with dots are read day first.
bool dosDate(std::string_view date, int& y, int& mo, int& d) {
    const NumericOrder order = date.find('.') != std::string_view::npos ? NumericOrder::dayFirst : NumericOrder::monthFirst;
    return numericDate(date, order, y, mo, d);
}

std::optional<Date> dosWhen(int y, int mo, int d, int h, int mi) { return makeDate(y, mo, d, h, mi, 0); }

}  // namespace

std::optional<FileObject> dosLine(const Tokens& t, std::string_view line, const ListContext& context, LineKind& kind) {
    kind = LineKind::unreadable;
    if (t.size() < 4) return std::nullopt;
    int y, mo, d, h, mi;
    if (!dosDate(t[0].text, y, mo, d) || !dosClock(t[1].text, h, mi)) return std::nullopt;
    const bool folder = t[2].text == "<DIR>";
    std::int64_t size = -1;
    if (!folder && !toGroupedSize(t[2].text, size)) return std::nullopt;
    // The name starts one blank after a size, and after the 10 blanks that pad "<DIR>"; any
    // further blanks are the name's own.
    std::size_t nameStart = t[2].end;
    const std::size_t padding = folder ? 10 : 1;
    for (std::size_t n = 0; n < padding && nameStart < line.size() && line[nameStart] == ' '; ++n) ++nameStart;
    auto entry = namedEntry(line.substr(nameStart), folder ? FileType::directory : FileType::regular, context, kind);
    if (!entry) return std::nullopt;
    entry->size = size;
    entry->modificationDate = dosWhen(y, mo, d, h, mi);
    return entry;
}

std::optional<FileObject> dosNameFirstLine(std::string_view line, const ListContext& context, LineKind& kind) {
    kind = LineKind::unreadable;
    // The last three fields, from the end: time, date, then "<DIR>" or the size.
    std::string_view fields[3];
    std::size_t end = line.size(), begin = end;
    for (auto& field : fields) {
        while (end > 0 && (line[end - 1] == ' ' || line[end - 1] == '\t')) --end;
        begin = end;
        while (begin > 0 && line[begin - 1] != ' ' && line[begin - 1] != '\t') --begin;
        if (begin == end) return std::nullopt;
        field = line.substr(begin, end - begin);
        end = begin;
    }
    int y, mo, d, h, mi;
    if (!dosClock(fields[0], h, mi) || !dosDate(fields[1], y, mo, d)) return std::nullopt;
    const bool folder = fields[2] == "<DIR>";
    std::int64_t size = -1;
    if (!folder && !toGroupedSize(fields[2], size)) return std::nullopt;
    std::size_t nameEnd = begin;
    while (nameEnd > 0 && (line[nameEnd - 1] == ' ' || line[nameEnd - 1] == '\t')) --nameEnd;
    const std::size_t nameStart = skipBlanks(line, 0);
    if (nameEnd <= nameStart) return std::nullopt;
    auto entry = namedEntry(line.substr(nameStart, nameEnd - nameStart), folder ? FileType::directory : FileType::regular,
                            context, kind);
    if (!entry) return std::nullopt;
    entry->size = size;
    entry->modificationDate = dosWhen(y, mo, d, h, mi);
    return entry;
}

}  // namespace files::parse::families
