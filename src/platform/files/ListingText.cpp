#include "platform/files/ListingText.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <vector>

#include "platform/files/RemotePath.h"

namespace files::parse::text {

using namespace std::chrono;

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

bool startsWithI(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && iequals(text.substr(0, prefix.size()), prefix);
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string childPrefix(std::string_view folder) {
    std::string f = path::normalize(folder);
    if (f != "/") f.push_back('/');
    return f;
}

std::string_view stripLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    return line;
}

namespace {
template <typename T>
bool digitsToNumber(std::string_view s, T& out) {
    if (s.empty() || !isDigit(s.front())) return false;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && ptr == s.data() + s.size();
}
}  // namespace

bool toNumber(std::string_view s, int& out) { return digitsToNumber(s, out); }
bool toNumber(std::string_view s, std::int64_t& out) { return digitsToNumber(s, out); }

bool allDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return isDigit(c); });
}

bool toGroupedSize(std::string_view text, std::int64_t& out) {
    std::size_t comma = text.find(',');
    if (comma == std::string_view::npos) return toNumber(text, out);
    if (comma == 0 || comma > 3) return false;
    std::string digits(text.substr(0, comma));
    for (std::size_t i = comma; i < text.size(); i += 4) {
        std::string_view group = text.substr(i + 1, 3);
        if (text[i] != ',' || group.size() != 3 || !allDigits(group)) return false;
        digits.append(group);
    }
    return allDigits(digits) && toNumber(std::string_view(digits), out);
}

bool toUnitSize(std::string_view text, std::int64_t& out) {
    std::size_t i = 0;
    while (i < text.size() && isDigit(text[i])) ++i;
    if (i == 0 || i > 15) return false;
    std::size_t numberEnd = i;
    if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
        std::size_t start = ++i;
        while (i < text.size() && isDigit(text[i])) ++i;
        if (i == start || i - start > 6) return false;
        numberEnd = i;
    }
    std::string_view unit = text.substr(numberEnd);
    if (unit.empty()) return false;
    int power = 0;
    switch (lower(unit.front())) {
        case 'b': power = 0; break;
        case 'k': power = 1; break;
        case 'm': power = 2; break;
        case 'g': power = 3; break;
        case 't': power = 4; break;
        default: return false;
    }
    unit.remove_prefix(1);
    if (power > 0 && !unit.empty() && !iequals(unit, "b") && !iequals(unit, "ib")) return false;
    if (power == 0 && !unit.empty()) return false;
    if (power == 0 && text.substr(0, numberEnd).find_first_of(".,") != std::string_view::npos) return false;
    std::string number(text.substr(0, numberEnd));
    std::replace(number.begin(), number.end(), ',', '.');
    double value = 0;
    auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec != std::errc() || ptr != number.data() + number.size()) return false;
    const double bytes = value * std::pow(1024.0, power);
    if (!(bytes >= 0) || bytes > 9.0e18) return false;
    out = static_cast<std::int64_t>(std::llround(bytes));
    return true;
}

Tokens tokenize(std::string_view line, std::size_t maxTokens) {
    Tokens tokens;
    maxTokens = std::min(maxTokens, Tokens::kMax);
    std::size_t i = 0;
    while (i < line.size() && tokens.count < maxTokens) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) break;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        tokens.items[tokens.count++] = {line.substr(start, i - start), start, i};
    }
    return tokens;
}

std::size_t skipBlanks(std::string_view line, std::size_t from) {
    while (from < line.size() && (line[from] == ' ' || line[from] == '\t')) ++from;
    return std::min(from, line.size());
}

// ---- month names ---------------------------------------------------------------------------

namespace {

struct MonthName {
    std::string_view name;  // lower case UTF-8, no trailing dot
    int month;
};

// Month names as "ls" and servers write them in their languages: English, German, French,
// Spanish, Italian, Portuguese, Dutch, Swedish, Danish, Norwegian, Hungarian, Polish, Czech,
// Finnish and Russian, the abbreviations and the full names.
constexpr MonthName kMonthNames[] = {
    {"jan", 1}, {"january", 1}, {"januar", 1}, {"janvier", 1}, {"janv", 1}, {"januari", 1},
    {"j\xC3\xA4n", 1}, {"j\xC3\xA4nner", 1}, {"ene", 1}, {"enero", 1}, {"gen", 1}, {"gennaio", 1},
    {"janeiro", 1}, {"janu\xC3\xA1r", 1}, {"sty", 1}, {"stycze\xC5\x84", 1}, {"stycznia", 1}, {"led", 1},
    {"tammi", 1}, {"tammikuu", 1}, {"\xD1\x8F\xD0\xBD\xD0\xB2", 1},
    {"feb", 2}, {"february", 2}, {"februar", 2}, {"f\xC3\xA9vrier", 2}, {"f\xC3\xA9vr", 2}, {"f\xC3\xA9v", 2},
    {"fevr", 2}, {"febrero", 2}, {"febbraio", 2}, {"februari", 2}, {"fev", 2}, {"fevereiro", 2}, {"febr", 2},
    {"febru\xC3\xA1r", 2}, {"lut", 2}, {"luty", 2}, {"lutego", 2}, {"\xC3\xBAno", 2}, {"helmi", 2},
    {"helmikuu", 2}, {"\xD1\x84\xD0\xB5\xD0\xB2", 2},
    {"mar", 3}, {"march", 3}, {"m\xC3\xA4rz", 3}, {"m\xC3\xA4r", 3}, {"mrz", 3}, {"mars", 3}, {"marzo", 3},
    {"maart", 3}, {"mrt", 3}, {"mar\xC3\xA7o", 3}, {"marc", 3}, {"m\xC3\xA1rc", 3}, {"m\xC3\xA1rcius", 3},
    {"marca", 3}, {"marzec", 3}, {"b\xC5\x99\x65", 3}, {"maalis", 3}, {"maaliskuu", 3},
    {"\xD0\xBC\xD0\xB0\xD1\x80", 3},
    {"apr", 4}, {"april", 4}, {"avril", 4}, {"avr", 4}, {"abr", 4}, {"abril", 4}, {"aprile", 4},
    {"\xC3\xA1pr", 4}, {"\xC3\xA1prilis", 4}, {"kwi", 4}, {"kwiecie\xC5\x84", 4}, {"kwietnia", 4}, {"dub", 4},
    {"huhti", 4}, {"huhtikuu", 4}, {"\xD0\xB0\xD0\xBF\xD1\x80", 4},
    {"may", 5}, {"mai", 5}, {"mayo", 5}, {"mag", 5}, {"maggio", 5}, {"mei", 5}, {"maj", 5}, {"maio", 5},
    {"m\xC3\xA1j", 5}, {"m\xC3\xA1jus", 5}, {"maja", 5}, {"kv\xC4\x9B", 5}, {"touko", 5}, {"toukokuu", 5},
    {"\xD0\xBC\xD0\xB0\xD0\xB9", 5}, {"\xD0\xBC\xD0\xB0\xD1\x8F", 5},
    {"jun", 6}, {"june", 6}, {"juni", 6}, {"juin", 6}, {"junio", 6}, {"giu", 6}, {"giugno", 6},
    {"j\xC3\xBAn", 6}, {"j\xC3\xBAnius", 6}, {"junho", 6}, {"cze", 6}, {"czerwiec", 6}, {"czerwca", 6},
    {"\xC4\x8D\x65r", 6}, {"kes\xC3\xA4", 6}, {"kes\xC3\xA4kuu", 6}, {"\xD0\xB8\xD1\x8E\xD0\xBD", 6},
    {"jul", 7}, {"july", 7}, {"juli", 7}, {"juil", 7}, {"juillet", 7}, {"julio", 7}, {"lug", 7},
    {"luglio", 7}, {"j\xC3\xBAl", 7}, {"j\xC3\xBAlius", 7}, {"julho", 7}, {"lip", 7}, {"lipiec", 7},
    {"lipca", 7}, {"\xC4\x8D\x76\x63", 7}, {"hein\xC3\xA4", 7}, {"hein\xC3\xA4kuu", 7},
    {"\xD0\xB8\xD1\x8E\xD0\xBB", 7},
    {"aug", 8}, {"august", 8}, {"ao\xC3\xBBt", 8}, {"aout", 8}, {"ago", 8}, {"agosto", 8}, {"augustus", 8},
    {"augusti", 8}, {"augusztus", 8}, {"sie", 8}, {"sierpie\xC5\x84", 8}, {"sierpnia", 8}, {"srp", 8},
    {"elo", 8}, {"elokuu", 8}, {"\xD0\xB0\xD0\xB2\xD0\xB3", 8},
    {"sep", 9}, {"sept", 9}, {"september", 9}, {"septembre", 9}, {"septiembre", 9}, {"set", 9},
    {"settembre", 9}, {"setiembre", 9}, {"setembro", 9}, {"szept", 9}, {"szeptember", 9}, {"wrz", 9},
    {"wrzesie\xC5\x84", 9}, {"wrze\xC5\x9Bnia", 9}, {"z\xC3\xA1\xC5\x99", 9}, {"syys", 9}, {"syyskuu", 9},
    {"\xD1\x81\xD0\xB5\xD0\xBD", 9},
    {"oct", 10}, {"october", 10}, {"okt", 10}, {"oktober", 10}, {"octobre", 10}, {"octubre", 10},
    {"ott", 10}, {"ottobre", 10}, {"out", 10}, {"outubro", 10}, {"okt\xC3\xB3\x62\x65r", 10},
    {"pa\xC5\xBA", 10}, {"pa\xC5\xBA\x64ziernik", 10}, {"pa\xC5\xBA\x64ziernika", 10}, {"\xC5\x99\xC3\xAD\x6A", 10},
    {"loka", 10}, {"lokakuu", 10}, {"\xD0\xBE\xD0\xBA\xD1\x82", 10},
    {"nov", 11}, {"november", 11}, {"novembre", 11}, {"noviembre", 11}, {"novembro", 11}, {"lis", 11},
    {"listopad", 11}, {"listopada", 11}, {"marras", 11}, {"marraskuu", 11}, {"\xD0\xBD\xD0\xBE\xD1\x8F", 11},
    {"dec", 12}, {"december", 12}, {"dez", 12}, {"dezember", 12}, {"d\xC3\xA9\x63", 12},
    {"d\xC3\xA9\x63\x65mbre", 12}, {"dic", 12}, {"diciembre", 12}, {"dicembre", 12}, {"des", 12},
    {"desember", 12}, {"dezembro", 12}, {"gru", 12}, {"grudzie\xC5\x84", 12}, {"grudnia", 12}, {"pro", 12},
    {"joulu", 12}, {"joulukuu", 12}, {"\xD0\xB4\xD0\xB5\xD0\xBA", 12},
};

const std::vector<MonthName>& sortedMonthNames() {
    static const std::vector<MonthName> names = [] {
        std::vector<MonthName> v(std::begin(kMonthNames), std::end(kMonthNames));
        std::sort(v.begin(), v.end(), [](const MonthName& a, const MonthName& b) { return a.name < b.name; });
        return v;
    }();
    return names;
}

int englishMonth(char a, char b, char c) {
    const unsigned key = (static_cast<unsigned char>(lower(a)) << 16) | (static_cast<unsigned char>(lower(b)) << 8) |
                         static_cast<unsigned char>(lower(c));
    switch (key) {
        case ('j' << 16) | ('a' << 8) | 'n': return 1;
        case ('f' << 16) | ('e' << 8) | 'b': return 2;
        case ('m' << 16) | ('a' << 8) | 'r': return 3;
        case ('a' << 16) | ('p' << 8) | 'r': return 4;
        case ('m' << 16) | ('a' << 8) | 'y': return 5;
        case ('j' << 16) | ('u' << 8) | 'n': return 6;
        case ('j' << 16) | ('u' << 8) | 'l': return 7;
        case ('a' << 16) | ('u' << 8) | 'g': return 8;
        case ('s' << 16) | ('e' << 8) | 'p': return 9;
        case ('o' << 16) | ('c' << 8) | 't': return 10;
        case ('n' << 16) | ('o' << 8) | 'v': return 11;
        case ('d' << 16) | ('e' << 8) | 'c': return 12;
        default: return 0;
    }
}

void appendCodePoint(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Lower case for the letters month names use: ASCII, Latin-1, Latin Extended-A and Cyrillic.
unsigned lowerCodePoint(unsigned cp) {
    if (cp < 0x80) return static_cast<unsigned char>(lower(static_cast<char>(cp)));
    if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 0x20;
    if ((cp >= 0x100 && cp <= 0x137) || (cp >= 0x14A && cp <= 0x177)) return cp | 1u;
    if (((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) && (cp & 1u)) return cp + 1;
    if (cp >= 0x410 && cp <= 0x42F) return cp + 0x20;
    if (cp >= 0x400 && cp <= 0x40F) return cp + 0x50;
    return cp;
}

// The lower-case UTF-8 form of a month token; Latin-1 bytes are taken as such.
bool foldMonthToken(std::string_view token, std::string& out) {
    out.clear();
    const bool utf8 = files::path::isValidUtf8(token);
    for (std::size_t i = 0; i < token.size();) {
        const auto c = static_cast<unsigned char>(token[i]);
        unsigned cp = c;
        std::size_t n = 1;
        if (c >= 0x80 && utf8) {
            if ((c >> 5) == 0x6) {
                cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(token[i + 1]) & 0x3Fu);
                n = 2;
            } else {
                return false;  // no month name needs more than two bytes a letter
            }
        }
        appendCodePoint(out, lowerCodePoint(cp));
        i += n;
    }
    return true;
}

}  // namespace

int monthIndex(std::string_view name) {
    while (!name.empty() && (name.back() == '.' || name.back() == ',')) name.remove_suffix(1);
    if (name.size() < 3 || name.size() > 24 || isDigit(name.front())) return 0;
    if (name.size() == 3) {
        if (int m = englishMonth(name[0], name[1], name[2])) return m;
    }
    thread_local std::string folded;
    if (!foldMonthToken(name, folded)) return 0;
    const auto& names = sortedMonthNames();
    auto it = std::lower_bound(names.begin(), names.end(), std::string_view(folded),
                               [](const MonthName& m, std::string_view key) { return m.name < key; });
    return it != names.end() && it->name == folded ? it->month : 0;
}

bool parseClock(std::string_view text, int& h, int& mi, int& s) {
    // H:MM, HH:MM, HH:MM:SS
    s = 0;
    const std::size_t colon = text.size() > 1 && text[1] == ':' ? 1 : text.size() > 2 && text[2] == ':' ? 2 : 0;
    if (colon == 0) return false;
    if (text.size() != colon + 3 && text.size() != colon + 6) return false;
    if (!toNumber(text.substr(0, colon), h) || !toNumber(text.substr(colon + 1, 2), mi)) return false;
    if (text.size() == colon + 6 && (text[colon + 3] != ':' || !toNumber(text.substr(colon + 4, 2), s))) return false;
    if (h > 24 || mi > 59 || s > 60 || (h == 24 && (mi != 0 || s != 0))) return false;
    return true;
}

bool isDay(std::string_view text, int& d) {
    if (!text.empty() && (text.back() == '.' || text.back() == ',')) text.remove_suffix(1);
    return text.size() <= 2 && toNumber(text, d) && d >= 1 && d <= 31;
}

namespace {
int expandYear(std::string_view digits, int y) {
    if (digits.size() == 2) return y + (y < 70 ? 2000 : 1900);
    if (digits.size() == 3) return y + 1900;  // years since 1900 ("103" is 2003)
    return y;
}
}  // namespace

bool numericDate(std::string_view text, NumericOrder order, int& y, int& mo, int& d) {
    if (!text.empty() && text.back() == '.') text.remove_suffix(1);
    if (text.size() < 5 || text.size() > 10 || !isDigit(text.front())) return false;
    std::size_t first = 1;
    while (first < text.size() && isDigit(text[first])) ++first;
    if (first == text.size() || (text[first] != '-' && text[first] != '/' && text[first] != '.')) return false;
    const char sep = text[first];
    const std::size_t second = text.find(sep, first + 1);
    if (second == std::string_view::npos || text.find(sep, second + 1) != std::string_view::npos) return false;
    const std::string_view a = text.substr(0, first), b = text.substr(first + 1, second - first - 1),
                           c = text.substr(second + 1);
    int na, nb, nc;
    if (!toNumber(a, na) || !toNumber(b, nb) || !toNumber(c, nc) || b.size() > 2) return false;
    if (a.size() == 3 || a.size() == 4) {
        if (c.size() > 2) return false;
        y = expandYear(a, na), mo = nb, d = nc;
        return mo >= 1 && mo <= 12 && d >= 1 && d <= 31;
    }
    if (a.size() > 2 || c.size() < 2 || c.size() > 4) return false;
    y = expandYear(c, nc);
    auto fits = [](int month, int day) { return month >= 1 && month <= 12 && day >= 1 && day <= 31; };
    const bool dayFirst = fits(nb, na), monthFirst = fits(na, nb);
    if (order == NumericOrder::dayFirst ? dayFirst : !monthFirst && dayFirst) {
        d = na, mo = nb;
        return true;
    }
    if (monthFirst) {
        mo = na, d = nb;
        return true;
    }
    return false;
}

// ---- CJK dates -----------------------------------------------------------------------------

namespace {

enum class CjkUnit { none, year, month, day, hour, minute, second };

// The year, month and day characters (年 月 日, Korean 년 월 일), and those of the time (時 分 秒,
// 时, Korean 시 분 초) in UTF-8 and in the legacy encodings servers in Japan, China, Taiwan and
// Korea use: Shift_JIS, EUC-JP, GBK, Big5, EUC-KR.
CjkUnit cjkUnit(std::string_view unit) {
    struct Mark {
        std::string_view bytes;
        CjkUnit unit;
    };
    static constexpr Mark kMarks[] = {
        {"\xE5\xB9\xB4", CjkUnit::year},  {"\xEB\x85\x84", CjkUnit::year},  {"\x94\x4E", CjkUnit::year},
        {"\xC7\xAF", CjkUnit::year},      {"\xC4\xEA", CjkUnit::year},      {"\xA6\x7E", CjkUnit::year},
        {"\xB3\xE2", CjkUnit::year},      {"\xD2\xB4", CjkUnit::year},      {"\xE6\x9C\x88", CjkUnit::month},
        {"\xEC\x9B\x94", CjkUnit::month}, {"\x8C\x8E", CjkUnit::month},     {"\xB7\xEE", CjkUnit::month},
        {"\xD4\xC2", CjkUnit::month},     {"\xA4\xEB", CjkUnit::month},     {"\xBF\xF9", CjkUnit::month},
        {"\xEA\xC5", CjkUnit::month},     {"\xE6\x97\xA5", CjkUnit::day},   {"\xEC\x9D\xBC", CjkUnit::day},
        {"\x93\xFA", CjkUnit::day},       {"\xC6\xFC", CjkUnit::day},       {"\xC8\xD5", CjkUnit::day},
        {"\xA4\xE9", CjkUnit::day},       {"\xC0\xCF", CjkUnit::day},       {"\xEC\xED", CjkUnit::day},
        {"\xE6\x99\x82", CjkUnit::hour},  {"\xE6\x97\xB6", CjkUnit::hour},  {"\xEC\x8B\x9C", CjkUnit::hour},
        {"\x8E\x9E", CjkUnit::hour},      {"\xBB\xFE", CjkUnit::hour},      {"\x95\x72", CjkUnit::hour},
        {"\xCA\xB1", CjkUnit::hour},      {"\xAE\xC9", CjkUnit::hour},      {"\xE3\xC1", CjkUnit::hour},
        {"\xBD\xC3", CjkUnit::hour},      {"\xE5\x88\x86", CjkUnit::minute}, {"\xEB\xB6\x84", CjkUnit::minute},
        {"\x95\xAA", CjkUnit::minute},    {"\xCA\xAC", CjkUnit::minute},    {"\xB7\xD6", CjkUnit::minute},
        {"\xA4\xC0", CjkUnit::minute},    {"\xDD\xC2", CjkUnit::minute},    {"\xBA\xD0", CjkUnit::minute},
        {"\xE7\xA7\x92", CjkUnit::second}, {"\xEC\xB4\x88", CjkUnit::second}, {"\x95\x62", CjkUnit::second},
        {"\xC9\xC3", CjkUnit::second},    {"\xC3\xEB", CjkUnit::second},    {"\xAC\xED", CjkUnit::second},
        {"\xF5\xA9", CjkUnit::second},    {"\xC3\xCA", CjkUnit::second},
    };
    for (const Mark& m : kMarks) {
        if (m.bytes == unit) return m.unit;
    }
    return CjkUnit::none;
}

// Splits a token into "<digits><unit>" pieces (the unit may be empty only on the last piece)
// and hands each to `take(digits, value, unit, last)`; false when a piece has no digits or more
// than `maxDigits`, or when `take` refuses one.
template <typename Take>
bool eachCjkPiece(std::string_view token, std::size_t maxDigits, Take take) {
    std::size_t i = 0;
    while (i < token.size()) {
        const std::size_t start = i;
        while (i < token.size() && isDigit(token[i])) ++i;
        if (i == start || i - start > maxDigits) return false;
        const std::string_view digits = token.substr(start, i - start);
        int value;
        toNumber(digits, value);
        const std::size_t unitStart = i;
        while (i < token.size() && !isDigit(token[i])) ++i;
        if (!take(digits, value, token.substr(unitStart, i - unitStart), i == token.size())) return false;
    }
    return true;
}

// Reads "<digits><unit>" pieces of one token into the date; false when the token is anything
// else. `sawUnit` tells whether any piece carried a unit character.
bool cjkPieces(std::string_view token, LineDate& date, bool& haveYear, bool& haveMonth, bool& haveDay, bool& sawUnit) {
    return eachCjkPiece(token, 4, [&](std::string_view digits, int value, std::string_view unitText, bool last) {
        CjkUnit unit = unitText.empty() ? CjkUnit::none : cjkUnit(unitText);
        if (!unitText.empty() && unit == CjkUnit::none) return false;
        if (unit == CjkUnit::none) {
            // A bare number right after the month is its day ("6月 10").
            if (!haveMonth || haveDay || !last) return false;
            unit = CjkUnit::day;
        } else {
            sawUnit = true;
        }
        switch (unit) {
            case CjkUnit::year:
                if (haveYear || haveMonth) return false;
                date.y = expandYear(digits, value);
                haveYear = true;
                return true;
            case CjkUnit::month:
                if (haveMonth || value < 1 || value > 12) return false;
                date.mo = value;
                haveMonth = true;
                return true;
            case CjkUnit::day:
                if (!haveMonth || haveDay || value < 1 || value > 31) return false;
                date.d = value;
                haveDay = true;
                return true;
            default: return false;  // a time is no part of the date
        }
    });
}

// "<digits><unit>" pieces of a time of day ("10時30分", "10시", "30분", "15秒") into h, mi, s;
// false when the token is anything else.
bool cjkClockPieces(std::string_view token, LineDate& date, int& seen) {
    return eachCjkPiece(token, 2, [&](std::string_view, int value, std::string_view unitText, bool) {
        const CjkUnit unit = cjkUnit(unitText);
        // Hour, minute and second, in that order, each once.
        const int rank = unit == CjkUnit::hour ? 1 : unit == CjkUnit::minute ? 2 : unit == CjkUnit::second ? 3 : 0;
        if (rank <= seen || rank != seen + 1) return false;
        if ((rank == 1 && value > 23) || (rank > 1 && value > 59)) return false;
        (rank == 1 ? date.h : rank == 2 ? date.mi : date.s) = value;
        seen = rank;
        return true;
    });
}

// A time of day with CJK units at token k, in one token or two ("10時30分", "10시 30분"): the
// index of its last token, or 0 when there is none.
std::size_t cjkClock(const Tokens& t, std::size_t k, LineDate& date) {
    if (k >= t.size() || !isDigit(t[k].text.front())) return 0;
    LineDate clock;
    int seen = 0;
    if (!cjkClockPieces(t[k].text, clock, seen)) return 0;
    std::size_t last = k;
    if (seen == 1 && k + 1 < t.size() && isDigit(t[k + 1].text.front())) {
        LineDate more = clock;
        int moreSeen = seen;
        if (cjkClockPieces(t[k + 1].text, more, moreSeen)) {
            clock = more;
            seen = moreSeen;
            last = k + 1;
        }
    }
    if (seen < 2) return 0;  // an hour alone is no time of day
    date.h = clock.h, date.mi = clock.mi, date.s = clock.s;
    return last;
}

// A year with or without its unit after the rest of a CJK date ("2019年", "2019").
bool cjkTrailingYear(std::string_view token, LineDate& date) {
    std::size_t i = 0;
    while (i < token.size() && isDigit(token[i])) ++i;
    if (i != 4 || !toNumber(token.substr(0, 4), date.y)) return false;
    return i == token.size() || cjkUnit(token.substr(i)) == CjkUnit::year;
}

}  // namespace

bool datePiece(std::string_view token) {
    int h, mi, s;
    if (token.empty() || !isDigit(token.front())) return false;
    if (parseClock(token, h, mi, s)) return true;
    // With hundredths of a second, as VMS writes the time: "10:30:08.59".
    if (const std::size_t dot = token.find('.');
        dot != std::string_view::npos && allDigits(token.substr(dot + 1)) && parseClock(token.substr(0, dot), h, mi, s))
        return true;
    std::size_t i = 0;
    while (i < token.size() && isDigit(token[i])) ++i;
    if (i == token.size() || static_cast<unsigned char>(token[i]) < 0x80) return false;
    LineDate date;
    bool haveYear = false, haveMonth = false, haveDay = false, sawUnit = false;
    int seen = 0;
    if (cjkClockPieces(token, date, seen)) return true;
    // Pieces of a date, in the order a date has them or on their own ("25日").
    if (cjkPieces(token, date, haveYear, haveMonth, haveDay, sawUnit)) return true;
    haveMonth = true;
    return cjkPieces(token, date, haveYear, haveMonth, haveDay, sawUnit) && sawUnit;
}

namespace {
std::optional<LineDate> cjkDateFrom(const Tokens& t, std::size_t m, bool yearMayFollow);
}  // namespace

std::optional<LineDate> cjkDate(const Tokens& t, std::size_t m) { return cjkDateFrom(t, m, true); }

namespace {
std::optional<LineDate> cjkDateFrom(const Tokens& t, std::size_t m, bool yearMayFollow) {
    if (m >= t.size() || !isDigit(t[m].text.front())) return std::nullopt;
    // Quick refusal: a CJK piece has a byte above ASCII right after its digits.
    {
        std::string_view first = t[m].text;
        std::size_t i = 0;
        while (i < first.size() && isDigit(first[i])) ++i;
        if (i == first.size() || static_cast<unsigned char>(first[i]) < 0x80) return std::nullopt;
    }
    LineDate date;
    bool haveYear = false, haveMonth = false, haveDay = false, sawUnit = false;
    std::size_t k = m;
    for (; k < t.size() && k < m + 3 && !haveDay; ++k) {
        if (!cjkPieces(t[k].text, date, haveYear, haveMonth, haveDay, sawUnit)) return std::nullopt;
    }
    if (!haveMonth || !haveDay || !sawUnit) return std::nullopt;
    date.last = k - 1;
    date.hasYear = haveYear;
    // A time ("08:30", "10時30分"), or the year of an older file ("6月 10  2020", "12月 25日
    // 2019年"), may follow.
    if (k < t.size()) {
        if (parseClock(t[k].text, date.h, date.mi, date.s)) {
            date.last = k;
        } else if (std::size_t last = cjkClock(t, k, date)) {
            date.last = last;
        } else if (!haveYear && yearMayFollow && cjkTrailingYear(t[k].text, date)) {
            date.hasYear = true;
            date.last = k;
        }
    }
    return date;
}
}  // namespace

// ---- the date of an "ls -l"-like line --------------------------------------------------------

namespace {
bool readYearOrClock(std::string_view when, LineDate& date) {
    if (!when.empty() && when.back() == ',') when.remove_suffix(1);
    if (when.size() == 4 && toNumber(when, date.y)) {
        date.hasYear = true;
        return true;
    }
    return parseClock(when, date.h, date.mi, date.s);
}

bool optionalClock(const Tokens& t, std::size_t k, LineDate& date) {
    if (k < t.size() && parseClock(t[k].text, date.h, date.mi, date.s)) {
        date.last = k;
        return true;
    }
    return false;
}

// A date without a time: when none follows, the time's column may be blank-padded.
void clockOrPadding(const Tokens& t, std::size_t k, LineDate& date) {
    if (!optionalClock(t, k, date)) date.padded = true;
}

// Day, month name and year in one token: "25-Dec-19", "25-Dec-2019", "25/Dec/19".
bool dayMonthNameYear(std::string_view text, LineDate& date) {
    const std::size_t first = text.find_first_of("-/");
    if (first == std::string_view::npos || first == 0 || first > 2) return false;
    const char sep = text[first];
    const std::size_t second = text.find(sep, first + 1);
    if (second == std::string_view::npos) return false;
    const std::string_view year = text.substr(second + 1);
    if (!isDay(text.substr(0, first), date.d) || !(date.mo = monthIndex(text.substr(first + 1, second - first - 1))) ||
        (year.size() != 2 && year.size() != 4) || !toNumber(year, date.y))
        return false;
    date.y = expandYear(year, date.y);
    date.hasYear = true;
    return true;
}

// "12 25 10:30", "12 25  2019": the month and the day as numbers, then a time or a year.
bool numericMonthDay(const Tokens& t, std::size_t m, LineDate& date) {
    if (m + 2 >= t.size()) return false;
    const std::string_view mo = t[m].text, d = t[m + 1].text;
    if (mo.size() > 2 || d.size() > 2 || !toNumber(mo, date.mo) || !toNumber(d, date.d) || date.mo < 1 ||
        date.mo > 12 || date.d < 1 || date.d > 31)
        return false;
    const std::string_view when = t[m + 2].text;
    if (when.size() == 4 && toNumber(when, date.y)) {
        // Only a year a file can have: "2 1 1 4096 Dec 08 06:08 ." has links, owner and group
        // as numbers, and its size is no year.
        if (date.y < 1970 || date.y > 2099) return false;
        date.hasYear = true;
    } else if (!parseClock(when, date.h, date.mi, date.s)) {
        return false;
    }
    // A month name or a time right after it: the line's date is further on, and these numbers
    // are links, owner, group or size.
    if (m + 3 < t.size()) {
        int h, mi, sec;
        const std::string_view next = t[m + 3].text;
        if (monthIndex(next) || parseClock(next, h, mi, sec)) return false;
    }
    date.last = m + 2;
    return true;
}

// "2019. 12. 25.", as Korean writes a date, a time may follow.
bool dottedYearMonthDay(const Tokens& t, std::size_t m, LineDate& date) {
    if (m + 2 >= t.size()) return false;
    auto dotted = [](std::string_view s, std::size_t maxDigits, int& out) {
        return s.size() >= 2 && s.size() <= maxDigits + 1 && s.back() == '.' && toNumber(s.substr(0, s.size() - 1), out);
    };
    if (t[m].text.size() != 5 || !dotted(t[m].text, 4, date.y) || !dotted(t[m + 1].text, 2, date.mo) ||
        !dotted(t[m + 2].text, 2, date.d) || date.mo < 1 || date.mo > 12 || date.d < 1 || date.d > 31)
        return false;
    date.hasYear = true;
    date.last = m + 2;
    clockOrPadding(t, m + 3, date);
    return true;
}

// A numeric date read day first; tells whether the other order reads it too (and differently)
// or whether only one order reads it, which shows the server's order. Dates with dots are
// always day first, year-first dates have no such question.
void noteNumericOrder(std::string_view text, LineDate& date) {
    if (text.find('.') != std::string_view::npos) return;
    std::size_t digits = 0;
    while (digits < text.size() && isDigit(text[digits])) ++digits;
    if (digits > 2) return;
    int y, mo, d;
    if (!numericDate(text, NumericOrder::monthFirst, y, mo, d)) return;
    if (mo != date.mo || d != date.d) {
        date.orderUnsure = true;
        return;
    }
    if (mo == d) return;
    int first;
    toNumber(text.substr(0, digits), first);
    // Only one order reads it (one field is above 12): the one that puts the first field where it is.
    date.shownOrder = first == mo ? NumericOrder::monthFirst : NumericOrder::dayFirst;
}
}  // namespace

std::optional<LineDate> lineDate(const Tokens& t, std::size_t m) {
    if (m >= t.size()) return std::nullopt;
    const std::string_view first = t[m].text;
    LineDate date;
    if (!isDigit(first.front())) {
        // Month first: "Jun 10 08:30", "Jun 10  2020", "Apr 04, 2000 21:06".
        if (m + 2 < t.size() && (date.mo = monthIndex(first)) && isDay(t[m + 1].text, date.d)) {
            if (t[m + 1].text.back() == ',') {
                std::string_view year = t[m + 2].text;
                if (year.size() != 4 || !toNumber(year, date.y)) return std::nullopt;
                date.hasYear = true;
                date.last = m + 2;
                optionalClock(t, m + 3, date);
                return date;
            }
            if (readYearOrClock(t[m + 2].text, date)) {
                date.last = m + 2;
                return date;
            }
        }
        return std::nullopt;
    }
    // Day first: "10 Jun 08:30", "26. Juli 2020", "3 févr. 10:15".
    if (m + 2 < t.size() && isDay(first, date.d) && (date.mo = monthIndex(t[m + 1].text)) &&
        readYearOrClock(t[m + 2].text, date)) {
        date.last = m + 2;
        return date;
    }
    date = {};
    if (allDigits(first)) {
        // Month and day as numbers: "12 25 10:30".
        if (numericMonthDay(t, m, date)) return date;
        // A year before a CJK month and day: "2019 12月 25日".
        int year;
        if (first.size() == 4 && m + 1 < t.size() && toNumber(first, year) && year >= 1970 && year < 2100) {
            auto cjk = cjkDateFrom(t, m + 1, false);
            if (cjk && !cjk->hasYear) {
                cjk->y = year;
                cjk->hasYear = true;
                return cjk;
            }
        }
        // Digits alone start no other form (owners, groups and sizes are tried here often).
        return std::nullopt;
    }
    // Day, month name and year in one token: "25-Dec-19".
    if (dayMonthNameYear(first, date)) {
        date.last = m;
        optionalClock(t, m + 1, date);
        return date;
    }
    date = {};
    // Year, month and day each with a dot: "2019. 12. 25.".
    if (dottedYearMonthDay(t, m, date)) return date;
    date = {};
    // Year first with a month name, as Hungarian writes it: "2014. márc. 15. 10:00".
    if (m + 2 < t.size() && first.size() == 5 && first.back() == '.' &&
        toNumber(first.substr(0, 4), date.y) && (date.mo = monthIndex(t[m + 1].text)) && isDay(t[m + 2].text, date.d)) {
        date.hasYear = true;
        date.last = m + 2;
        optionalClock(t, m + 3, date);
        return date;
    }
    date = {};
    // Numeric: "2005-06-07 21:22", "10.06.2024", "10/06/24 08:30".
    if (numericDate(first, NumericOrder::dayFirst, date.y, date.mo, date.d)) {
        date.hasYear = true;
        date.last = m;
        noteNumericOrder(first, date);
        clockOrPadding(t, m + 1, date);
        return date;
    }
    date = {};
    // GNU "iso" for a recent file: "06-07 21:22"; with the year after it: "09-26 2000".
    if (first.size() == 5 && first[2] == '-' && m + 1 < t.size() && toNumber(first.substr(0, 2), date.mo) &&
        toNumber(first.substr(3, 2), date.d)) {
        const std::string_view when = t[m + 1].text;
        if (parseClock(when, date.h, date.mi, date.s)) {
            date.last = m + 1;
            return date;
        }
        if (when.size() == 4 && toNumber(when, date.y) && date.y >= 1970 && date.y < 2100) {
            date.hasYear = true;
            date.last = m + 1;
            return date;
        }
    }
    date = {};
    return cjkDate(t, m);
}

std::optional<Date> makeDate(int y, int mo, int d, int h, int mi, int s, milliseconds frac) {
    if (y < 1 || y > 9999) return std::nullopt;
    year_month_day ymd{year{y}, month{static_cast<unsigned>(mo)}, day{static_cast<unsigned>(d)}};
    if (!ymd.ok() || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 60) return std::nullopt;
    // A time point counts nanoseconds from 1970, so it holds about 1678 to 2261: a date outside
    // (less a week, room for a zone offset) is no date rather than an overflow.
    constexpr auto lowest = time_point_cast<seconds>(system_clock::time_point::min()) + days{7};
    constexpr auto highest = time_point_cast<seconds>(system_clock::time_point::max()) - days{7};
    const sys_seconds when = sys_days{ymd} + hours{h} + minutes{mi} + seconds{s};
    if (when < lowest || when > highest || frac < milliseconds{0} || frac >= seconds{1}) return std::nullopt;
    return time_point_cast<system_clock::duration>(when + frac);
}

namespace {
std::optional<Date> dateAt(const LineDate& date, int y) {
    if (date.h == 24) {
        auto midnight = makeDate(y, date.mo, date.d, 0, 0, 0);
        if (!midnight) return std::nullopt;
        return *midnight + hours{24};
    }
    return makeDate(y, date.mo, date.d, date.h, date.mi, date.s);
}
}  // namespace

std::optional<Date> resolve(const LineDate& read, const ListContext& context) {
    LineDate date = read;
    if (context.orders && date.shownOrder)
        ++(*date.shownOrder == NumericOrder::dayFirst ? context.orders->dayFirst : context.orders->monthFirst);
    if (date.orderUnsure) {
        if (!context.numericOrder) {
            if (context.orders) ++context.orders->unsure;
            return std::nullopt;
        }
        if (*context.numericOrder == NumericOrder::monthFirst) std::swap(date.mo, date.d);
    }
    if (date.hasYear) return dateAt(date, date.y);
    // This year's date may be no day at all (Feb 29): then it is last year's, if that has it.
    auto when = dateAt(date, context.thisYear);
    if (!when || *when > context.now + hours{24}) when = dateAt(date, context.thisYear - 1);
    return when;
}

// ---- entries -------------------------------------------------------------------------------

bool usableName(std::string_view name) {
    return !name.empty() && name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

FileObject entryFor(std::string_view rawName, std::string_view prefix) {
    FileObject entry;
    entry.name = path::decodeLenient(rawName);
    // The path keeps the name's bytes (see path::fromServer); the name is for display only.
    entry.path.append(prefix).append(path::fromServer(rawName));
    entry.isHidden = !entry.name.empty() && entry.name.front() == '.';
    return entry;
}

std::optional<FileObject> namedEntry(std::string_view name, FileType type, const ListContext& context, LineKind& kind) {
    kind = LineKind::unreadable;
    if (name.size() > 1 && name.back() == '/') {
        while (name.size() > 1 && name.back() == '/') name.remove_suffix(1);
        type = FileType::directory;
    }
    if (name.empty()) return std::nullopt;
    if (name == "." || name == "..") {
        kind = LineKind::none;
        return std::nullopt;
    }
    if (!usableName(name)) return std::nullopt;
    FileObject entry = entryFor(name, context.prefix);
    entry.type = type;
    kind = LineKind::entry;
    return entry;
}

}  // namespace files::parse::text
