#pragma once
// What the readers of FTP listing lines share: splitting a line into blank-separated tokens,
// numbers and sizes as servers write them, dates in the forms and languages servers use, and
// building the entry for a listed name. Internal to the listing parsers (ListingParsers.h is
// the interface); every function is pure.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files/FileObject.h"

namespace files::parse::text {

inline char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
inline bool isDigit(char c) { return c >= '0' && c <= '9'; }
inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

bool iequals(std::string_view a, std::string_view b);
bool startsWithI(std::string_view text, std::string_view prefix);
std::string_view trim(std::string_view s);
std::string_view stripLineEnd(std::string_view line);
// "folder/" for the paths of a listed folder's children ("/" for the root).
std::string childPrefix(std::string_view folder);

// Digits only: no field of a listing or a date has a sign ("-2" is no size).
bool toNumber(std::string_view s, int& out);
bool toNumber(std::string_view s, std::int64_t& out);
bool allDigits(std::string_view s);

// A size written with thousands separators ("9,730", "1,234,567") or without.
bool toGroupedSize(std::string_view text, std::int64_t& out);
// A size with a unit, as "ls -lh" and some servers write it: "33.5k", "14KB", "2M", "1.2GiB"
// (units of 1024). Nothing for a plain number.
bool toUnitSize(std::string_view text, std::int64_t& out);

struct Token {
    std::string_view text;
    std::size_t begin;  // offset of the token in the line
    std::size_t end;    // offset just past the token in the line
};

// The first few blank-separated tokens of a line (a name may hold more blanks than that).
struct Tokens {
    static constexpr std::size_t kMax = 12;
    Token items[kMax];
    std::size_t count = 0;
    std::size_t size() const { return count; }
    const Token& operator[](std::size_t i) const { return items[i]; }
};
Tokens tokenize(std::string_view line, std::size_t maxTokens = Tokens::kMax);

// The offset of the first non-blank at or after `from` (the line's size when there is none).
std::size_t skipBlanks(std::string_view line, std::size_t from);

// Why a line gave no entry: it holds none by its nature (blank, "total N", ".", "..", a
// header), it could not be read, or it belongs to a listing form that is not read at all.
enum class LineKind { entry, none, unreadable, unsupported };

// Which order a numeric date with two-digit fields is read in first; the other order is tried
// when the first gives no date. Four-digit (and three-digit) first fields are always years.
enum class NumericOrder { dayFirst, monthFirst };

// The date and time fields of a listing line, before the year rule and the time zone.
struct LineDate {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    bool hasYear = false;
    std::size_t last = 0;  // index of the date's last token
    // A numeric date such as "03-04-2019" that reads as a date either way round: mo and d hold
    // the day-first reading, and the listing's other dates have to tell which it is.
    bool orderUnsure = false;
    // A numeric date that only one order reads ("12-25-2019"): the order the server writes.
    std::optional<NumericOrder> shownOrder;
    // A date without a time of day whose column the server pads: the name starts at the first
    // non-blank after it ("2019.12.25      name").
    bool padded = false;
};

// What the numeric dates of a listing showed about their order, gathered as its lines are read.
struct DateOrders {
    std::size_t dayFirst = 0, monthFirst = 0, unsure = 0;
};

// What every reader needs besides the line: where the entries go and what "now" is.
struct ListContext {
    std::string_view prefix;  // the listed folder's path with its "/"
    Date now;
    int thisYear = 0;
    // The order the listing's numeric dates are known to be in; without it, a line whose date
    // reads either way round gives its entry without a date rather than a guessed one.
    std::optional<NumericOrder> numericOrder;
    DateOrders* orders = nullptr;  // where resolve notes what it saw, if anywhere
};

// A month name in English or another European language, abbreviated or not, in any case, with
// a trailing "." or "," allowed, in UTF-8 or Latin-1 ("Jun", "juil.", "März", "M\xE4r", "márc.",
// "Okt", "dic"). 0 when the text is none.
int monthIndex(std::string_view name);
// "HH:MM" or "HH:MM:SS", also "24:00" (the end of the day); hours up to 24.
bool parseClock(std::string_view text, int& h, int& mi, int& s);
// A day of the month, "7", "07", "26." or "04,".
bool isDay(std::string_view text, int& d);

// "2024-06-10", "2024/06/10", "2024.06.10", "10.06.2024", "10-06-24", "06/10/2024",
// "103-06-10" (three digits: years since 1900). Two-digit years: 70-99 are 19xx, the rest 20xx.
bool numericDate(std::string_view text, NumericOrder order, int& y, int& mo, int& d);

// The date of an "ls -l"-like line starting at token m, in any of the forms servers use:
//   "Jun 10 08:30", "Jun 10  2020", "10 Jun 08:30", "26. Juli 2020", "3 févr. 10:15"
//   "Apr 04, 2000" (a time may follow)          "2014. márc. 15. 10:00" (year first, dotted)
//   "2005-06-07 21:22", "10.06.2024", "10/06/2024 08:30"   "06-07 21:22" (GNU iso, recent)
//   "25-Dec-19", "25-Dec-2019", "25/Dec/19" (day, month name, year in one token)
//   "12 25 10:30", "12 25  2019" (month and day as numbers)   "2019. 12. 25." (Korean)
//   "6月 10 08:30", "2020年 6月 10日", "2020年6月10日 08:30", "12月 25日 2019年", "2019 12月 25日",
//   "2019年12月25日 10時30分" (CJK unit characters, in UTF-8 or Shift_JIS, EUC-JP, GBK, Big5,
//   EUC-KR)
std::optional<LineDate> lineDate(const Tokens& t, std::size_t m);
// Year-month-day pieces with CJK unit characters from token m on ("2020年", "6月", "10日",
// "2020年6月10日"), then a time or a year: the date and the index of its last token. Nothing
// without a month and day.
std::optional<LineDate> cjkDate(const Tokens& t, std::size_t m);
// A token that is nothing but date or time pieces: a time of day ("10:30", "10:30:08.59"), or digits with CJK
// date or time unit characters ("2019年", "25日", "10時30分"). A name never starts with one
// right after a date: the line is then of a form not read.
bool datePiece(std::string_view token);

// The date a LineDate stands for, in UTC: a date without a year takes the year of `now`, or
// the year before when that would put it more than a day after `now` or when `now`'s year has
// no such day (Feb 29); "24:00" is the next day's midnight. A date whose day and month could be
// either way round takes the context's order, and is none without one; so is a date that names
// no day. The readers then give the entry without a date. Notes what it saw in the context's DateOrders.
std::optional<Date> resolve(const LineDate& date, const ListContext& context);
std::optional<Date> makeDate(int y, int mo, int d, int h, int mi, int s,
                             std::chrono::milliseconds frac = std::chrono::milliseconds{0});

// A name the other operations can use: one path component, and nothing a C string would cut
// short (a NUL inside would make every later command act on another file).
bool usableName(std::string_view name);
// The entry for a name as the server wrote it, in the folder `prefix` ("/a/").
FileObject entryFor(std::string_view rawName, std::string_view prefix);
// An entry for a listed name: "." and ".." give none (kind none); a name ending in "/" is a
// folder (the "/" is cut off); unusable names give none (kind unreadable).
std::optional<FileObject> namedEntry(std::string_view name, FileType type, const ListContext& context, LineKind& kind);

}  // namespace files::parse::text
