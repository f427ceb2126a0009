#include "platform/files/ListingParsers.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

#include "platform/files/RemotePath.h"

namespace files::parse {

namespace {

using namespace std::chrono;

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

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

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Digits only: no field of a listing or a date has a sign ("-2" is no size).
template <typename T>
bool toNumber(std::string_view s, T& out) {
    if (s.empty() || s.front() < '0' || s.front() > '9') return false;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && ptr == s.data() + s.size();
}

bool allDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<Date> makeDate(int y, int mo, int d, int h, int mi, int s, milliseconds frac = {}) {
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

int monthIndex(std::string_view name) {
    if (name.size() != 3 && name.size() != 4) return 0;
    const unsigned key = (static_cast<unsigned char>(lower(name[0])) << 16) |
                         (static_cast<unsigned char>(lower(name[1])) << 8) | static_cast<unsigned char>(lower(name[2]));
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

bool parseClock(std::string_view text, int& h, int& mi, int& s) {
    // HH:MM or HH:MM:SS
    s = 0;
    if (text.size() != 5 && text.size() != 8) return false;
    if (text[2] != ':' || (text.size() == 8 && text[5] != ':')) return false;
    if (!toNumber(text.substr(0, 2), h) || !toNumber(text.substr(3, 2), mi)) return false;
    if (text.size() == 8 && !toNumber(text.substr(6, 2), s)) return false;
    return true;
}

struct Token {
    std::string_view text;
    std::size_t end;  // offset just past the token in the line
};

struct Tokens {
    static constexpr std::size_t kMax = 12;
    Token items[kMax];
    std::size_t count = 0;
    std::size_t size() const { return count; }
    const Token& operator[](std::size_t i) const { return items[i]; }
};

Tokens tokenize(std::string_view line, std::size_t maxTokens) {
    Tokens tokens;
    maxTokens = std::min(maxTokens, Tokens::kMax);
    std::size_t i = 0;
    while (i < line.size() && tokens.count < maxTokens) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) break;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        tokens.items[tokens.count++] = {line.substr(start, i - start), i};
    }
    return tokens;
}

// "folder/" for child paths ("/" for the root).
std::string childPrefix(std::string_view folder) {
    std::string f = path::normalize(folder);
    if (f != "/") f.push_back('/');
    return f;
}

// A name the other operations can use: one path component, and nothing a C string would cut
// short (a NUL inside would make every later command act on another file).
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

std::string_view stripLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    return line;
}

template <typename F>
void forEachLine(std::string_view text, F&& f) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        f(stripLineEnd(text.substr(start, end - start)));
        start = end + 1;
    }
}

// A size written with thousands separators ("9,730", "1,234,567") or without.
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

// Why a line gave no entry: it holds none by its nature (blank, "total N", ".", "..", the
// folder's own MLSD line), or it could not be read.
enum class LineKind { entry, none, unreadable };

std::optional<FileObject> dosLine(const Tokens& t, std::string_view line, std::string_view prefix, LineKind& kind) {
    // "01-02-20  10:30AM       <DIR>          name" / "12-31-2019  11:59PM   1234 name"
    // "2002-09-02  18:48       <DIR>          name" / "2002-09-02  19:06   9,730 name"
    if (t.size() < 4) return std::nullopt;
    std::string_view date = t[0].text, clock = t[1].text;
    int mo, d, y;
    if (date.size() == 10 && date[4] == '-' && date[7] == '-') {
        if (!toNumber(date.substr(0, 4), y) || !toNumber(date.substr(5, 2), mo) || !toNumber(date.substr(8, 2), d))
            return std::nullopt;
    } else if ((date.size() == 8 || date.size() == 10) && date[2] == '-' && date[5] == '-') {
        if (!toNumber(date.substr(0, 2), mo) || !toNumber(date.substr(3, 2), d) || !toNumber(date.substr(6), y))
            return std::nullopt;
        if (date.size() == 8) y += (y < 70 ? 2000 : 1900);
    } else {
        return std::nullopt;
    }
    int h, mi;
    if (clock.size() == 7 && clock[2] == ':') {
        if (!toNumber(clock.substr(0, 2), h) || !toNumber(clock.substr(3, 2), mi)) return std::nullopt;
        std::string_view ampm = clock.substr(5);
        if (iequals(ampm, "PM") && h < 12) h += 12;
        else if (iequals(ampm, "AM") && h == 12) h = 0;
        else if (!iequals(ampm, "AM") && !iequals(ampm, "PM")) return std::nullopt;
    } else if (clock.size() == 5 && clock[2] == ':') {
        if (!toNumber(clock.substr(0, 2), h) || !toNumber(clock.substr(3, 2), mi)) return std::nullopt;
    } else {
        return std::nullopt;
    }
    const bool folder = t[2].text == "<DIR>";
    std::int64_t size = -1;
    if (!folder && !toGroupedSize(t[2].text, size)) return std::nullopt;
    // The name starts one blank after a size, and after the 10 blanks that pad "<DIR>"; any
    // further blanks are the name's own.
    std::size_t nameStart = t[2].end;
    const std::size_t padding = folder ? 10 : 1;
    for (std::size_t n = 0; n < padding && nameStart < line.size() && line[nameStart] == ' '; ++n) ++nameStart;
    std::string_view name = line.substr(nameStart);
    if (name.empty()) return std::nullopt;
    if (name == "." || name == "..") {
        kind = LineKind::none;
        return std::nullopt;
    }
    if (!usableName(name)) return std::nullopt;
    FileObject entry = entryFor(name, prefix);
    entry.type = folder ? FileType::directory : FileType::regular;
    entry.size = size;
    entry.modificationDate = makeDate(y, mo, d, h, mi, 0);
    kind = LineKind::entry;
    return entry;
}

// ---- XML with namespaces -------------------------------------------------------------------

constexpr std::string_view kDav = "DAV:";

// The xmlns declarations in scope, innermost last, with a small cache of resolved prefixes
// (a response names the same two or three prefixes over and over).
struct Scope {
    std::vector<std::pair<std::string_view, std::string_view>> decls;
    struct Cached {
        std::string_view prefix;
        bool dav = false;
        bool valid = false;
    };
    mutable Cached cache[4];
    mutable unsigned next = 0;

    void invalidate() {
        for (auto& c : cache) c.valid = false;
    }
    std::size_t enter(const pugi::xml_node& node) {
        std::size_t mark = decls.size();
        for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
            const char* name = a.name();
            if (std::strncmp(name, "xmlns", 5) != 0) continue;
            if (name[5] == '\0') decls.emplace_back(std::string_view{}, a.value());
            else if (name[5] == ':') decls.emplace_back(std::string_view(name + 6), a.value());
        }
        if (decls.size() != mark) invalidate();
        return mark;
    }
    void leave(std::size_t mark) {
        if (decls.size() != mark) {
            decls.resize(mark);
            invalidate();
        }
    }

    std::string_view namespaceOf(std::string_view prefix) const {
        for (auto it = decls.rbegin(); it != decls.rend(); ++it) {
            if (it->first == prefix) return it->second;
        }
        return {};
    }
    bool isDavPrefix(std::string_view prefix) const {
        for (const auto& c : cache) {
            if (c.valid && c.prefix == prefix) return c.dav;
        }
        Cached& slot = cache[next++ % 4];
        slot = {prefix, namespaceOf(prefix) == kDav, true};
        return slot.dav;
    }
    // The element's local name when it is in the DAV: namespace, "" otherwise (also for text).
    std::string_view davName(const pugi::xml_node& node) const {
        const char* name = node.name();
        std::size_t colon = std::string_view::npos, n = 0;
        for (; name[n]; ++n) {
            if (name[n] == ':' && colon == std::string_view::npos) colon = n;
        }
        std::string_view full(name, n);
        std::string_view prefix = colon == std::string_view::npos ? std::string_view{} : full.substr(0, colon);
        std::string_view local = colon == std::string_view::npos ? full : full.substr(colon + 1);
        return isDavPrefix(prefix) ? local : std::string_view{};
    }
};

// The decoded server path of an href ("http://h/a%20b/" and "/a%20b/" both give "/a b/").
// An href names a resource, never a query or a fragment: some servers write "#" and "?" of
// names as they are, so both stay part of the path.
std::string hrefPath(std::string_view href) {
    href = trim(href);
    std::size_t scheme = href.find("://");
    if (scheme != std::string_view::npos) {
        std::size_t slash = href.find('/', scheme + 3);
        href = slash == std::string_view::npos ? std::string_view("/") : href.substr(slash);
    }
    return path::percentDecode(href);
}

struct PropValues {
    bool haveType = false;
    bool collection = false;
    std::optional<std::int64_t> length;
    std::optional<Date> modified;
    std::optional<Date> created;
};

void readProp(const pugi::xml_node& prop, Scope& scope, PropValues& out);

// One response element: its first href (decoded) and the properties of its 2xx propstats.
// False when it has no href.
bool readResponse(const pugi::xml_node& response, Scope& scope, std::string& href, PropValues& values) {
    bool haveHref = false;
    for (pugi::xml_node child = response.first_child(); child; child = child.next_sibling()) {
        std::size_t mark = scope.enter(child);
        std::string_view name = scope.davName(child);
        if (name == "href") {
            if (!haveHref) href = hrefPath(child.child_value());
            haveHref = true;
        } else if (name == "propstat") {
            int status = 0;
            pugi::xml_node prop;
            for (pugi::xml_node ps = child.first_child(); ps; ps = ps.next_sibling()) {
                std::size_t m2 = scope.enter(ps);
                std::string_view psName = scope.davName(ps);
                if (psName == "status") status = statusCode(ps.child_value());
                else if (psName == "prop") prop = ps;
                scope.leave(m2);
            }
            if (status >= 200 && status < 300 && prop) {
                // The prop element's own declarations were dropped with its scope: enter again.
                std::size_t m3 = scope.enter(prop);
                readProp(prop, scope, values);
                scope.leave(m3);
            }
        }
        scope.leave(mark);
    }
    return haveHref;
}

void readProp(const pugi::xml_node& prop, Scope& scope, PropValues& out) {
    for (pugi::xml_node p = prop.first_child(); p; p = p.next_sibling()) {
        std::size_t mark = scope.enter(p);
        std::string_view name = scope.davName(p);
        if (name == "resourcetype") {
            out.haveType = true;
            for (pugi::xml_node t = p.first_child(); t; t = t.next_sibling()) {
                std::size_t m2 = scope.enter(t);
                if (scope.davName(t) == "collection") out.collection = true;
                scope.leave(m2);
            }
        } else if (name == "getcontentlength") {
            std::int64_t n;
            if (toNumber(trim(p.child_value()), n)) out.length = n;
        } else if (name == "getlastmodified") {
            std::string_view v = trim(p.child_value());
            out.modified = httpDate(v);
            if (!out.modified) out.modified = rfc3339(v);
        } else if (name == "creationdate") {
            std::string_view v = trim(p.child_value());
            out.created = rfc3339(v);
            if (!out.created) out.created = httpDate(v);
        }
        scope.leave(mark);
    }
}

}  // namespace

// ---- dates ---------------------------------------------------------------------------------

std::optional<Date> mlsdTime(std::string_view text) {
    text = trim(text);
    if (text.size() < 14 || !allDigits(text.substr(0, 14))) return std::nullopt;
    int y, mo, d, h, mi, s;
    toNumber(text.substr(0, 4), y);
    toNumber(text.substr(4, 2), mo);
    toNumber(text.substr(6, 2), d);
    toNumber(text.substr(8, 2), h);
    toNumber(text.substr(10, 2), mi);
    toNumber(text.substr(12, 2), s);
    milliseconds frac{0};
    if (text.size() > 14) {
        if (text[14] != '.' || !allDigits(text.substr(15))) return std::nullopt;
        std::string digits(text.substr(15, 3));
        while (digits.size() < 3) digits.push_back('0');
        int ms;
        toNumber(std::string_view(digits), ms);
        frac = milliseconds{ms};
    }
    return makeDate(y, mo, d, h, mi, s, frac);
}

std::optional<Date> httpDate(std::string_view text) {
    text = trim(text);
    auto t = tokenize(text, 8);
    int d, y, h, mi, s, mo;
    if (t.size() == 6 && !t[0].text.empty() && t[0].text.back() == ',') {
        // RFC 1123: "Sun, 06 Nov 1994 08:49:37 GMT"
        if (!toNumber(t[1].text, d) || !(mo = monthIndex(t[2].text)) || !toNumber(t[3].text, y) ||
            !parseClock(t[4].text, h, mi, s) || !(iequals(t[5].text, "GMT") || iequals(t[5].text, "UTC")))
            return std::nullopt;
        return makeDate(y, mo, d, h, mi, s);
    }
    if (t.size() == 4 && !t[0].text.empty() && t[0].text.back() == ',') {
        // RFC 850: "Sunday, 06-Nov-94 08:49:37 GMT"
        std::string_view date = t[1].text;
        if (date.size() != 9 || date[2] != '-' || date[6] != '-') return std::nullopt;
        if (!toNumber(date.substr(0, 2), d) || !(mo = monthIndex(date.substr(3, 3))) ||
            !toNumber(date.substr(7, 2), y) || !parseClock(t[2].text, h, mi, s))
            return std::nullopt;
        y += y < 70 ? 2000 : 1900;
        return makeDate(y, mo, d, h, mi, s);
    }
    if (t.size() == 5) {
        // asctime: "Sun Nov  6 08:49:37 1994"
        if (!(mo = monthIndex(t[1].text)) || !toNumber(t[2].text, d) || !parseClock(t[3].text, h, mi, s) ||
            !toNumber(t[4].text, y))
            return std::nullopt;
        return makeDate(y, mo, d, h, mi, s);
    }
    return std::nullopt;
}

std::optional<Date> rfc3339(std::string_view text) {
    text = trim(text);
    if (text.size() < 19) return std::nullopt;
    if (text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != 't' && text[10] != ' ') ||
        text[13] != ':' || text[16] != ':')
        return std::nullopt;
    int y, mo, d, h, mi, s;
    if (!toNumber(text.substr(0, 4), y) || !toNumber(text.substr(5, 2), mo) || !toNumber(text.substr(8, 2), d) ||
        !toNumber(text.substr(11, 2), h) || !toNumber(text.substr(14, 2), mi) || !toNumber(text.substr(17, 2), s))
        return std::nullopt;
    std::size_t i = 19;
    milliseconds frac{0};
    if (i < text.size() && text[i] == '.') {
        std::size_t start = ++i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
        if (i == start) return std::nullopt;
        std::string digits(text.substr(start, std::min<std::size_t>(3, i - start)));
        while (digits.size() < 3) digits.push_back('0');
        int ms;
        toNumber(std::string_view(digits), ms);
        frac = milliseconds{ms};
    }
    minutes offset{0};
    if (i == text.size()) {
        // No zone: read it as UTC rather than refuse it.
    } else if (text[i] == 'Z' || text[i] == 'z') {
        if (i + 1 != text.size()) return std::nullopt;
    } else if (text[i] == '+' || text[i] == '-') {
        std::string_view zone = text.substr(i + 1);
        int oh, om;
        if (zone.size() != 5 || zone[2] != ':' || !toNumber(zone.substr(0, 2), oh) || !toNumber(zone.substr(3, 2), om))
            return std::nullopt;
        offset = hours{oh} + minutes{om};
        if (text[i] == '-') offset = -offset;
    } else {
        return std::nullopt;
    }
    auto date = makeDate(y, mo, d, h, mi, s, frac);
    if (!date) return std::nullopt;
    return *date - offset;
}

// ---- FTP -----------------------------------------------------------------------------------

namespace {
std::optional<FileObject> mlsdEntry(std::string_view line, std::string_view prefix, LineKind& kind) {
    line = stripLineEnd(line);
    kind = line.empty() ? LineKind::none : LineKind::unreadable;
    // The facts end at the first blank; some servers put a tab there instead of the space.
    std::size_t space = line.find_first_of(" \t");
    if (space == std::string_view::npos || space == 0) return std::nullopt;
    std::string_view facts = line.substr(0, space);
    std::string_view name = line.substr(space + 1);
    if (facts.find('=') == std::string_view::npos) return std::nullopt;
    if (name == "." || name == "..") {
        kind = LineKind::none;
        return std::nullopt;
    }
    if (!usableName(name)) return std::nullopt;

    FileObject entry = entryFor(name, prefix);
    std::optional<std::int64_t> size, sizd;
    std::size_t start = 0;
    while (start < facts.size()) {
        std::size_t end = facts.find(';', start);
        if (end == std::string_view::npos) end = facts.size();
        std::string_view fact = facts.substr(start, end - start);
        start = end + 1;
        std::size_t eq = fact.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = fact.substr(0, eq), value = fact.substr(eq + 1);
        if (iequals(key, "type")) {
            if (iequals(value, "file")) entry.type = FileType::regular;
            else if (iequals(value, "dir")) entry.type = FileType::directory;
            else if (iequals(value, "cdir") || iequals(value, "pdir")) {
                kind = LineKind::none;
                return std::nullopt;
            } else if (startsWithI(value, "os.unix=slink") || startsWithI(value, "os.unix=symlink"))
                entry.type = FileType::symbolicLink;
            else entry.type = FileType::unknown;
        } else if (iequals(key, "size")) {
            std::int64_t n;
            if (toNumber(value, n)) size = n;
        } else if (iequals(key, "sizd")) {
            std::int64_t n;
            if (toNumber(value, n)) sizd = n;
        } else if (iequals(key, "modify")) {
            entry.modificationDate = mlsdTime(value);
        } else if (iequals(key, "create")) {
            entry.creationDate = mlsdTime(value);
        }
    }
    if (size) entry.size = *size;
    else if (sizd) entry.size = *sizd;
    kind = LineKind::entry;
    return entry;
}
}  // namespace

std::optional<FileObject> mlsdLine(std::string_view line, std::string_view folder) {
    LineKind kind;
    return mlsdEntry(line, childPrefix(folder), kind);
}

Listing readMlsd(std::string_view listing, std::string_view folder) {
    Listing out;
    out.entries.reserve(listing.size() / 80 + 1);
    const std::string prefix = childPrefix(folder);
    forEachLine(listing, [&](std::string_view line) {
        LineKind kind;
        if (auto entry = mlsdEntry(line, prefix, kind)) out.entries.push_back(std::move(*entry));
        else if (kind == LineKind::unreadable) ++out.unreadLines;
    });
    return out;
}

std::vector<FileObject> mlsd(std::string_view listing, std::string_view folder) {
    return readMlsd(listing, folder).entries;
}

namespace {

// The date of a LIST line, from its first token on.
struct LineDate {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    bool hasYear = false;
    std::size_t last = 0;  // index of the date's last token
};

bool readYearOrClock(std::string_view when, LineDate& date) {
    if (when.size() == 4 && allDigits(when)) {
        toNumber(when, date.y);
        date.hasYear = true;
        return true;
    }
    return parseClock(when, date.h, date.mi, date.s);
}

bool isDay(std::string_view text, int& d) { return text.size() <= 2 && toNumber(text, d) && d >= 1 && d <= 31; }

// The date forms of "ls -l" after the size, starting at token m:
//   "Jun 10 08:30", "Jun 10  2020"   month, day, then the time or the year
//   "10 Jun 08:30", "10 Jun  2020"   day first
//   "2005-06-07 21:22"               GNU long-iso
//   "06-07 21:22"                    GNU iso, a recent file
std::optional<LineDate> lineDate(const Tokens& t, std::size_t m) {
    LineDate date;
    if (m + 2 < t.size()) {
        if ((date.mo = monthIndex(t[m].text)) && isDay(t[m + 1].text, date.d) && readYearOrClock(t[m + 2].text, date)) {
            date.last = m + 2;
            return date;
        }
        date = {};
        if (isDay(t[m].text, date.d) && (date.mo = monthIndex(t[m + 1].text)) && readYearOrClock(t[m + 2].text, date)) {
            date.last = m + 2;
            return date;
        }
        date = {};
    }
    if (m + 1 < t.size() && parseClock(t[m + 1].text, date.h, date.mi, date.s)) {
        std::string_view day = t[m].text;
        if (day.size() == 10 && day[4] == '-' && day[7] == '-' && toNumber(day.substr(0, 4), date.y) &&
            toNumber(day.substr(5, 2), date.mo) && toNumber(day.substr(8, 2), date.d)) {
            date.hasYear = true;
            date.last = m + 1;
            return date;
        }
        if (day.size() == 5 && day[2] == '-' && toNumber(day.substr(0, 2), date.mo) &&
            toNumber(day.substr(3, 2), date.d)) {
            date.last = m + 1;
            return date;
        }
    }
    return std::nullopt;
}

std::optional<FileObject> listEntry(std::string_view line, std::string_view prefix, Date now, int thisYear,
                                    LineKind& kind) {
    line = stripLineEnd(line);
    kind = LineKind::none;
    if (line.empty() || startsWithI(line, "total ")) return std::nullopt;
    kind = LineKind::unreadable;
    auto t = tokenize(line, 12);
    if (t.size() < 4) return std::nullopt;
    if (std::isdigit(static_cast<unsigned char>(t[0].text[0]))) return dosLine(t, line, prefix, kind);

    std::string_view perms = t[0].text;
    if (perms.size() < 10 || std::strchr("-dlbcpsD", perms[0]) == nullptr) return std::nullopt;
    // Find "<size> <date>"; owner and group may be missing or contain digits.
    for (std::size_t m = 2; m + 1 < t.size(); ++m) {
        std::int64_t size;
        if (!toNumber(t[m - 1].text, size)) continue;
        auto date = lineDate(t, m);
        if (!date) continue;
        std::size_t nameStart = t[date->last].end + 1;  // one blank, then the name verbatim
        if (nameStart >= line.size()) return std::nullopt;
        std::string_view name = line.substr(nameStart);
        if (perms[0] == 'l') {
            std::size_t arrow = name.find(" -> ");
            if (arrow != std::string_view::npos) name = name.substr(0, arrow);
        }
        if (name.empty()) return std::nullopt;
        if (name == "." || name == "..") {
            kind = LineKind::none;
            return std::nullopt;
        }
        if (!usableName(name)) return std::nullopt;

        FileObject entry = entryFor(name, prefix);
        entry.type = perms[0] == '-' ? FileType::regular
                     : perms[0] == 'd' ? FileType::directory
                     : perms[0] == 'l' ? FileType::symbolicLink
                                       : FileType::unknown;
        entry.size = size;
        if (date->hasYear) {
            entry.modificationDate = makeDate(date->y, date->mo, date->d, date->h, date->mi, date->s);
        } else {
            auto when = makeDate(thisYear, date->mo, date->d, date->h, date->mi, date->s);
            if (when && *when > now + hours{24}) when = makeDate(thisYear - 1, date->mo, date->d, date->h, date->mi, date->s);
            entry.modificationDate = when;
        }
        kind = LineKind::entry;
        return entry;
    }
    return std::nullopt;
}

int yearOf(Date date) { return static_cast<int>(year_month_day{floor<days>(date)}.year()); }
}  // namespace

std::optional<FileObject> listLine(std::string_view line, std::string_view folder, Date now) {
    LineKind kind;
    return listEntry(line, childPrefix(folder), now, yearOf(now), kind);
}

Listing readList(std::string_view listing, std::string_view folder, Date now) {
    Listing out;
    out.entries.reserve(listing.size() / 70 + 1);
    const std::string prefix = childPrefix(folder);
    const int thisYear = yearOf(now);
    forEachLine(listing, [&](std::string_view line) {
        LineKind kind;
        if (auto entry = listEntry(line, prefix, now, thisYear, kind)) out.entries.push_back(std::move(*entry));
        else if (kind == LineKind::unreadable) ++out.unreadLines;
    });
    return out;
}

std::vector<FileObject> list(std::string_view listing, std::string_view folder, Date now) {
    return readList(listing, folder, now).entries;
}

std::optional<unsigned> mlsdMode(std::string_view line) {
    line = stripLineEnd(line);
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    std::string_view facts = line.substr(0, line.find(' '));
    for (std::size_t start = 0; start < facts.size();) {
        std::size_t end = std::min(facts.find(';', start), facts.size());
        std::string_view fact = facts.substr(start, end - start);
        start = end + 1;
        if (!startsWithI(fact, "unix.mode=")) continue;
        std::string_view value = fact.substr(10);
        if (startsWithI(value, "0o")) value.remove_prefix(2);
        if (value.empty() || value.size() > 5) return std::nullopt;
        unsigned mode = 0;
        for (char c : value) {
            if (c < '0' || c > '7') return std::nullopt;
            mode = mode * 8 + static_cast<unsigned>(c - '0');
        }
        return mode & 07777u;
    }
    return std::nullopt;
}

std::optional<unsigned> listMode(std::string_view line) {
    line = stripLineEnd(line);
    if (line.size() < 10 || std::strchr("-dlbcpsD", line[0]) == nullptr) return std::nullopt;
    // Each of owner, group, others: r, w, then x or its set-id/sticky letter.
    static constexpr unsigned special[3] = {04000, 02000, 01000};
    unsigned mode = 0;
    for (int who = 0; who < 3; ++who) {
        const char r = line[1 + who * 3], w = line[2 + who * 3], x = line[3 + who * 3];
        const unsigned shift = static_cast<unsigned>(2 - who) * 3;
        if (r == 'r') mode |= 4u << shift;
        else if (r != '-') return std::nullopt;
        if (w == 'w') mode |= 2u << shift;
        else if (w != '-') return std::nullopt;
        const char setLetter = who == 2 ? 't' : 's';
        if (x == 'x') mode |= 1u << shift;
        else if (x == setLetter) mode |= (1u << shift) | special[who];
        else if (x == setLetter - 32) mode |= special[who];
        else if (x != '-') return std::nullopt;
    }
    if (line.size() > 10 && line[10] != ' ' && line[10] != '+' && line[10] != '.' && line[10] != '@')
        return std::nullopt;
    return mode;
}

// ---- WebDAV --------------------------------------------------------------------------------

int statusCode(std::string_view statusLine) {
    statusLine = trim(statusLine);
    std::size_t space = statusLine.find(' ');
    if (space == std::string_view::npos) return 0;
    std::string_view rest = statusLine.substr(space + 1);
    int code = 0;
    if (rest.size() < 3 || !toNumber(rest.substr(0, 3), code) || code < 100) return 0;
    return code;
}

std::string statusText(std::string_view statusLine) {
    statusLine = trim(statusLine);
    std::size_t space = statusLine.find(' ');
    if (space == std::string_view::npos) return {};
    std::string_view rest = statusLine.substr(space + 1);
    std::size_t second = rest.find(' ');
    if (second == std::string_view::npos) return {};
    return std::string(trim(rest.substr(second + 1)));
}

std::optional<std::vector<FileObject>> propfind(std::string_view xml, std::string_view basePath,
                                                std::string_view folder) {
    std::string copy(xml);
    return propfindInPlace(copy, basePath, folder);
}

std::optional<std::vector<FileObject>> propfindInPlace(std::string& xml, std::string_view basePath,
                                                       std::string_view folder) {
    pugi::xml_document doc;
    constexpr unsigned kOptions = pugi::parse_minimal | pugi::parse_escapes | pugi::parse_cdata;
    if (!doc.load_buffer_inplace(xml.data(), xml.size(), kOptions)) return std::nullopt;
    pugi::xml_node root = doc.document_element();
    Scope scope;
    scope.enter(root);
    if (scope.davName(root) != "multistatus") return std::nullopt;

    const std::string prefix = childPrefix(folder);
    const std::string ownServerPath = path::join(basePath, path::toServer(folder));
    std::vector<FileObject> entries;
    entries.reserve(xml.size() / 512 + 1);
    std::string normalized;
    for (pugi::xml_node response = root.first_child(); response; response = response.next_sibling()) {
        std::size_t responseMark = scope.enter(response);
        if (scope.davName(response) != "response") {
            scope.leave(responseMark);
            continue;
        }
        std::string href;
        PropValues values;
        const bool haveHref = readResponse(response, scope, href, values);
        scope.leave(responseMark);
        if (!haveHref) continue;

        std::string_view serverPath = href;
        const bool slashEnded = serverPath.size() > 1 && serverPath.back() == '/';
        while (serverPath.size() > 1 && serverPath.back() == '/') serverPath.remove_suffix(1);
        if (serverPath.empty() || serverPath.front() != '/' || serverPath.find("//") != std::string_view::npos) {
            normalized = path::normalize(serverPath);
            serverPath = normalized;
        }
        if (serverPath == ownServerPath) continue;
        std::string_view rawName = serverPath.substr(serverPath.rfind('/') + 1);
        if (rawName.empty() || rawName == "." || rawName == "..") continue;
        if (!usableName(rawName)) continue;

        FileObject entry = entryFor(rawName, prefix);
        if (values.haveType) entry.type = values.collection ? FileType::directory : FileType::regular;
        else entry.type = slashEnded ? FileType::directory : FileType::unknown;
        // What a server sends as a folder's length (often its size on disk) is no file size.
        if (values.length && !entry.isDirectory()) entry.size = *values.length;
        entry.modificationDate = values.modified;
        entry.creationDate = values.created;
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::optional<FileType> propfindOwnType(std::string_view xml) {
    pugi::xml_document doc;
    if (!doc.load_buffer(xml.data(), xml.size())) return std::nullopt;
    pugi::xml_node root = doc.document_element();
    Scope scope;
    scope.enter(root);
    if (scope.davName(root) != "multistatus") return std::nullopt;
    for (pugi::xml_node response = root.first_child(); response; response = response.next_sibling()) {
        std::size_t responseMark = scope.enter(response);
        if (scope.davName(response) == "response") {
            std::string href;
            PropValues values;
            if (readResponse(response, scope, href, values)) {
                if (!values.haveType) return FileType::unknown;
                return values.collection ? FileType::directory : FileType::regular;
            }
        }
        scope.leave(responseMark);
    }
    return std::nullopt;
}

std::optional<MultistatusFailure> firstMultistatusFailure(std::string_view xml) {
    pugi::xml_document doc;
    if (!doc.load_buffer(xml.data(), xml.size())) return std::nullopt;
    pugi::xml_node root = doc.document_element();
    Scope scope;
    scope.enter(root);
    if (scope.davName(root) != "multistatus") return std::nullopt;
    for (pugi::xml_node response = root.first_child(); response; response = response.next_sibling()) {
        std::size_t responseMark = scope.enter(response);
        if (scope.davName(response) == "response") {
            MultistatusFailure failure;
            std::string statusLine;
            for (pugi::xml_node child = response.first_child(); child; child = child.next_sibling()) {
                    std::size_t mark = scope.enter(child);
                std::string_view name = scope.davName(child);
                if (name == "href" && failure.href.empty()) failure.href = hrefPath(child.child_value());
                else if (name == "status") statusLine = child.child_value();
                else if (name == "propstat" && statusLine.empty()) {
                    for (pugi::xml_node ps = child.first_child(); ps; ps = ps.next_sibling()) {
                            std::size_t m2 = scope.enter(ps);
                        if (scope.davName(ps) == "status") {
                            int code = statusCode(ps.child_value());
                            if (code < 200 || code >= 300) statusLine = ps.child_value();
                        }
                        scope.leave(m2);
                    }
                }
                scope.leave(mark);
            }
            int code = statusCode(statusLine);
            if (code != 0 && (code < 200 || code >= 300)) {
                failure.status = code;
                failure.text = statusText(statusLine);
                scope.leave(responseMark);
                return failure;
            }
        }
        scope.leave(responseMark);
    }
    return std::nullopt;
}

}  // namespace files::parse
