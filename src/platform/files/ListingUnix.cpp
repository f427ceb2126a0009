// "ls -l"-style LIST lines: the form most servers send, with the variations seen in the field
// (see ListingFamilies.h), and VShell's lines without a permission field.

#include <chrono>
#include <cstring>

#include "platform/files/ListingFamilies.h"

namespace files::parse::families {

using namespace text;

namespace {

bool permissionLetter(char c) {
    switch (c) {
        case 'r': case 'w': case 'x': case 's': case 'S': case 't': case 'T': case 'l': case 'L': case '-': case '?':
            return true;
        default:
            return false;
    }
}

bool letterMode(std::string_view field) {
    if (field.size() < 10 || std::strchr("-dlbcpsD", field[0]) == nullptr) return false;
    for (std::size_t i = 1; i < 10; ++i) {
        if (!permissionLetter(field[i])) return false;
    }
    return true;
}

// A mode written in octal: the permission bits ("644", "0755") or the whole st_mode ("100644",
// "40755"), whose file type bits then say what the entry is.
bool digitMode(std::string_view field, unsigned& mode) {
    if (field.size() < 3 || field.size() > 7) return false;
    mode = 0;
    for (char c : field) {
        if (c < '0' || c > '7') return false;
        mode = mode * 8 + static_cast<unsigned>(c - '0');
    }
    return true;
}

FileType typeOfLetter(char c) {
    return c == '-' ? FileType::regular : c == 'd' ? FileType::directory : c == 'l' ? FileType::symbolicLink
                                                                                   : FileType::unknown;
}

FileType typeOfMode(unsigned mode, std::size_t digits) {
    if (digits < 5) return FileType::unknown;
    switch (mode & 0170000u) {
        case 0100000u: return FileType::regular;
        case 0040000u: return FileType::directory;
        case 0120000u: return FileType::symbolicLink;
        default: return FileType::unknown;
    }
}

// "8," then "0", or "8,0": a device's major and minor number, where other entries have a size.
bool devicePair(const Tokens& t, std::size_t i) {
    std::string_view s = t[i].text;
    const std::size_t comma = s.find(',');
    if (comma != std::string_view::npos) return comma > 0 && allDigits(s.substr(0, comma)) && allDigits(s.substr(comma + 1));
    if (!allDigits(s) || i == 0) return false;
    std::string_view major = t[i - 1].text;
    return major.size() > 1 && major.back() == ',' && allDigits(major.substr(0, major.size() - 1));
}

// The digits a long group name runs into ("webdevelopers1234567"): the group has a letter and
// does not end in "-".
bool joinedSize(std::string_view s, std::int64_t& size) {
    std::size_t digits = s.size();
    while (digits > 0 && isDigit(s[digits - 1])) --digits;
    if (digits == 0 || digits == s.size() || s[digits - 1] == '-') return false;
    bool letter = false;
    for (std::size_t i = 0; i < digits; ++i) letter = letter || (lower(s[i]) >= 'a' && lower(s[i]) <= 'z');
    return letter && toNumber(s.substr(digits), size);
}

bool looksLikeClock(std::string_view s) {
    const std::size_t colon = s.find(':');
    return colon != std::string_view::npos && colon > 0 && colon + 1 < s.size() && isDigit(s[colon - 1]) &&
           isDigit(s[colon + 1]);
}

// What follows a size looks like a date that could not be read: a month name (also joined to
// more: "Dec-25-19"), a day and a month, digits with other signs ("25-dec-19", "2019.", "12月"),
// two numbers in a row, or a time of day.
bool startsLikeADate(const Tokens& t, std::size_t k) {
    int d, y, mo;
    const std::string_view first = t[k].text;
    if (monthIndex(first) || numericDate(first, NumericOrder::dayFirst, y, mo, d)) return true;
    if (monthIndex(first.substr(0, first.find_first_of("-/.")))) return true;
    if (isDigit(first.front()) && !allDigits(first)) return true;
    if (k + 1 < t.size() && allDigits(first) &&
        (isDigit(t[k + 1].text.front()) || static_cast<unsigned char>(t[k + 1].text.front()) >= 0x80))
        return true;
    if (k + 1 < t.size() && isDay(first, d) && monthIndex(t[k + 1].text)) return true;
    for (std::size_t i = k; i < t.size() && i <= k + 3; ++i) {
        if (looksLikeClock(t[i].text)) return true;
    }
    return false;
}

// Seconds since 1970 as some servers write a date ("1718000000"): nine or ten digits.
std::optional<LineDate> unixTime(std::string_view s) {
    using namespace std::chrono;
    std::int64_t seconds;
    if (s.size() < 9 || s.size() > 10 || !toNumber(s, seconds)) return std::nullopt;
    const sys_seconds when{std::chrono::seconds{seconds}};
    const auto day = floor<days>(when);
    const year_month_day ymd{day};
    const hh_mm_ss clock{when - day};
    LineDate date;
    date.y = static_cast<int>(ymd.year());
    date.mo = static_cast<int>(static_cast<unsigned>(ymd.month()));
    date.d = static_cast<int>(static_cast<unsigned>(ymd.day()));
    date.h = static_cast<int>(clock.hours().count());
    date.mi = static_cast<int>(clock.minutes().count());
    date.s = static_cast<int>(clock.seconds().count());
    date.hasYear = true;
    return date;
}

// Three fields from k on that stand where "ls -l" puts its date, ending in a time or a year,
// with a name after them that starts with no more of a date: "Foo 10 08:30 name".
bool unreadDate(const Tokens& t, std::size_t k) {
    int h, mi, s, y;
    if (k + 3 >= t.size() || datePiece(t[k + 3].text)) return false;
    const std::string_view last = t[k + 2].text;
    return parseClock(last, h, mi, s) || (last.size() == 4 && toNumber(last, y) && y >= 1900 && y < 2100);
}

// Where the size can stand in a line of this form: after links, owner and group; after owner
// and group, or links and owner; after the owner alone. Further along, the owner or group has
// blanks in it ("Domain Users"): such a reading gives way to a usual one.
bool usualSizeIndex(const Tokens& t, std::size_t s) {
    const bool links = allDigits(t[1].text);
    return s == 3 || (s == 4 && links) || (s == 2 && !links);
}

std::optional<FileObject> finish(std::string_view line, std::size_t nameStart, bool link, FileType type,
                                 std::int64_t size, std::optional<Date> modified, const ListContext& context,
                                 LineKind& kind) {
    if (nameStart >= line.size()) return std::nullopt;
    std::string_view name = line.substr(nameStart);
    if (link) {
        std::size_t arrow = name.find(" -> ");
        if (arrow != std::string_view::npos) name = name.substr(0, arrow);
    }
    auto entry = namedEntry(name, type, context, kind);
    if (!entry) return std::nullopt;
    entry->size = size;
    entry->modificationDate = modified;
    return entry;
}

}  // namespace

std::optional<FileObject> unixLine(const Tokens& t, std::string_view line, const ListContext& context, LineKind& kind) {
    kind = LineKind::unreadable;
    if (t.size() < 3) return std::nullopt;
    const std::string_view field = t[0].text;
    FileType type;
    bool device = false, link = false;
    unsigned mode = 0;
    if (letterMode(field)) {
        type = typeOfLetter(field[0]);
        device = field[0] == 'b' || field[0] == 'c';
        link = field[0] == 'l';
    } else if (digitMode(field, mode)) {
        type = typeOfMode(mode, field.size());
        device = (mode & 0170000u) == 0020000u || (mode & 0170000u) == 0060000u;
        link = type == FileType::symbolicLink;
    } else {
        return std::nullopt;
    }

    // The entry once the date is found: the name starts one blank after it (after all blanks
    // when the date's column is padded). A name that starts with more of a date or time means
    // the date was not read whole: such a line is not read at all. A date that names no day
    // (Feb 29 of a year without one) or reads two ways leaves the entry without a date; so does
    // a line read two ways whose readings agree on where the name starts (`sure` false), which
    // leaves it without a size too.
    auto dated = [&](const LineDate& date, std::int64_t size, bool sure = true) -> std::optional<FileObject> {
        if (date.last + 1 < t.size() && datePiece(t[date.last + 1].text)) return std::nullopt;
        const auto modified = sure ? resolve(date, context) : std::nullopt;
        const std::size_t nameStart = date.padded ? skipBlanks(line, t[date.last].end) : t[date.last].end + 1;
        return finish(line, nameStart, link, type, sure ? size : -1, modified, context, kind);
    };
    auto sizeAt = [&](std::size_t i, std::int64_t& size) {
        const std::string_view s = t[i].text;
        if (device && devicePair(t, i)) size = -1;
        else if (!toNumber(s, size) && !(!isDigit(s.back()) && toUnitSize(s, size))) return false;
        return true;
    };
    // "<size> <date>": owner and group may be missing or contain digits.
    for (std::size_t m = 2; m < t.size(); ++m) {
        std::int64_t size;
        if (!sizeAt(m - 1, size)) continue;
        auto date = lineDate(t, m);
        if (!date) continue;
        // Another size and date within this date ("1234 2019 12月 25日": a size 2019 and a date
        // without a year), or right after it ("1 1 1 2019 2019-12-25 10:30": numeric owner,
        // group and size read as month, day and year), is another reading of the line: the
        // usual place of the size decides, and the line is not read when both places are usual.
        for (std::size_t other = m + 1; other <= date->last + 1 && other < t.size(); ++other) {
            std::int64_t otherSize;
            if (!sizeAt(other - 1, otherSize)) continue;
            const auto otherDate = lineDate(t, other);
            if (!otherDate) continue;
            if (usualSizeIndex(t, other - 1)) {
                if (usualSizeIndex(t, m - 1)) {
                    if (otherDate->last != date->last) return std::nullopt;
                    return dated(*date, size, false);
                }
                date.reset();
            }
            break;
        }
        if (!date) continue;
        // A group name with digits at its end before a number that starts a date as well
        // ("group1234 2019 12月 25日") reads as a size run into the group too.
        std::int64_t joined;
        if (m >= 3 && joinedSize(t[m - 2].text, joined)) {
            if (const auto otherDate = lineDate(t, m - 1)) {
                if (otherDate->last != date->last) return std::nullopt;
                return dated(*date, size, false);
            }
        }
        return dated(*date, size);
    }
    // A long group name runs into the size: "-rw-r--r--  1 owner  webdevelopers1234567 Jun 10 08:30 a",
    // also without the links: "-rw-r--r--  owner  webdevelopers1234567 Jun 10 08:30 a".
    for (std::size_t m = allDigits(t[1].text) ? 4 : 3; m < t.size(); ++m) {
        std::int64_t size;
        if (!joinedSize(t[m - 1].text, size)) continue;
        auto date = lineDate(t, m);
        if (!date) continue;
        return dated(*date, size);
    }
    // A date written as seconds since 1970 ("1718000000"), where the size usually stands before it.
    for (std::size_t m = 3; m + 1 < t.size(); ++m) {
        std::int64_t size;
        if (!usualSizeIndex(t, m - 1) || !sizeAt(m - 1, size)) continue;
        if (auto date = unixTime(t[m].text)) {
            // Servers that write the date this way pad its column: the name follows all blanks.
            date->last = m;
            date->padded = true;
            return dated(*date, size);
        }
    }
    // No date column: "mode links owner group size name", or without the group, or without the
    // links (where the mode is surely one: letters, or digits with the file type's bits). A line
    // whose date could not be read is not taken for one: when it holds the three fields of an
    // "ls -l" date ("Foo 10 08:30", "Mar 10  2020") the name follows them and the entry has no
    // date; otherwise where the name starts cannot be told.
    std::int64_t size;
    const bool links = allDigits(t[1].text);
    if (!links && !letterMode(field) && field.size() < 5) return std::nullopt;
    if (t.size() < (links ? 5u : 4u)) return std::nullopt;
    for (std::size_t s : {links ? std::size_t{4} : std::size_t{3}, links ? std::size_t{3} : std::size_t{2}}) {
        if (s + 1 >= t.size() || !toNumber(t[s].text, size)) continue;
        int day;
        const bool dateFields = unreadDate(t, s + 1) && isDay(t[s + 2].text, day);
        if (dateFields || startsLikeADate(t, s + 1)) {
            if (!unreadDate(t, s + 1)) return std::nullopt;
            return finish(line, t[s + 3].end + 1, link, type, size, std::nullopt, context, kind);
        }
        return finish(line, t[s].end + 1, link, type, size, std::nullopt, context, kind);
    }
    return std::nullopt;
}

std::optional<unsigned> numericMode(std::string_view line) {
    const Tokens t = tokenize(line);
    unsigned mode;
    if (t.size() == 0 || !digitMode(t[0].text, mode)) return std::nullopt;
    ListContext context{"/", Date{}, 2000};
    LineKind kind;
    if (!unixLine(t, line, context, kind)) return std::nullopt;
    return mode & 07777u;
}

std::optional<FileObject> vshellLine(const Tokens& t, std::string_view line, const ListContext& context,
                                     LineKind& kind) {
    kind = LineKind::unreadable;
    std::int64_t size;
    if (t.size() < 4 || !toNumber(t[0].text, size)) return std::nullopt;
    auto date = lineDate(t, 1);
    if (!date || (date->last + 1 < t.size() && datePiece(t[date->last + 1].text))) return std::nullopt;
    // A folder ends in "/"; a file's type is what is left. A date that names no day leaves
    // the entry without one.
    const auto modified = resolve(*date, context);
    const std::size_t nameStart = date->padded ? skipBlanks(line, t[date->last].end) : t[date->last].end + 1;
    return finish(line, nameStart, false, FileType::regular, size, modified, context, kind);
}

}  // namespace files::parse::families
