#include "platform/files/ListingParsers.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

#include "platform/files/ListingFamilies.h"
#include "platform/files/ListingText.h"
#include "platform/files/RemotePath.h"

namespace files::parse {

using namespace text;

namespace {

using namespace std::chrono;

// "folder/" for child paths ("/" for the root).
std::string childPrefix(std::string_view folder) {
    std::string f = path::normalize(folder);
    if (f != "/") f.push_back('/');
    return f;
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

// Counts a line that could not be read and keeps it for the log, once, up to a limit.
void noteUnread(Listing& out, std::string_view line) {
    ++out.unreadLines;
    if (out.unreadSamples.size() >= Listing::kMaxUnreadSamples) return;
    for (const std::string& kept : out.unreadSamples) {
        if (kept == line) return;
    }
    out.unreadSamples.emplace_back(line);
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
        else if (kind == LineKind::unreadable) noteUnread(out, line);
    });
    return out;
}

std::vector<FileObject> mlsd(std::string_view listing, std::string_view folder) {
    return readMlsd(listing, folder).entries;
}

namespace {

// One LIST line, by the first reader that knows its form (see ListingFamilies.h). Lines that
// are blank, "total N" or a VMS heading hold no entry.
std::optional<FileObject> listEntry(std::string_view line, const ListContext& context, LineKind& kind) {
    line = stripLineEnd(line);
    kind = LineKind::none;
    if (line.empty() || startsWithI(line, "total ") || families::vmsHeading(line)) return std::nullopt;
    kind = LineKind::unreadable;
    const Tokens t = tokenize(line);
    if (t.size() == 0) {
        kind = LineKind::none;
        return std::nullopt;
    }
    std::optional<FileObject> entry;
    auto tried = [&](std::optional<FileObject> got) {
        entry = std::move(got);
        return entry || kind != LineKind::unreadable;
    };
    const char first = t[0].text.front();
    if (first == '+' && tried(families::eplfLine(line, context, kind))) return entry;
    if (tried(families::unixLine(t, line, context, kind))) return entry;
    if ((first == 'd' || first == '-') && tried(families::netwareLine(t, line, context, kind))) return entry;
    if (isDigit(first)) {
        if (tried(families::dosLine(t, line, context, kind))) return entry;
        if (tried(families::os2Line(t, line, context, kind))) return entry;
        if (tried(families::vshellLine(t, line, context, kind))) return entry;
    }
    if (tried(families::vmsLine(t, line, context, kind))) return entry;
    if (tried(families::as400Line(t, line, context, kind))) return entry;
    if (tried(families::dosNameFirstLine(line, context, kind))) return entry;
    kind = families::mainframeLine(t, line) ? LineKind::unsupported : LineKind::unreadable;
    return std::nullopt;
}

int yearOf(Date date) { return static_cast<int>(year_month_day{floor<days>(date)}.year()); }

}  // namespace

std::optional<FileObject> listLine(std::string_view line, std::string_view folder, Date now) {
    LineKind kind;
    const std::string prefix = childPrefix(folder);
    return listEntry(line, ListContext{prefix, now, yearOf(now)}, kind);
}

Listing readList(std::string_view listing, std::string_view folder, Date now) {
    Listing out;
    out.entries.reserve(listing.size() / 70 + 1);
    const std::string prefix = childPrefix(folder);
    const ListContext context{prefix, now, yearOf(now)};
    std::size_t mainframeLines = 0;
    auto take = [&](std::string_view line) {
        LineKind kind;
        if (auto entry = listEntry(line, context, kind)) {
            out.entries.push_back(std::move(*entry));
        } else if (kind == LineKind::unreadable || kind == LineKind::unsupported) {
            if (kind == LineKind::unsupported) ++mainframeLines;
            noteUnread(out, line);
        }
    };
    // A VMS name too long for its column stands alone; its entry goes on in the next line.
    std::string_view pending;
    std::string joined;
    forEachLine(listing, [&](std::string_view line) {
        if (!pending.empty()) {
            const std::string_view name = pending;
            pending = {};
            if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
                joined.assign(name).append(" ").append(line);
                take(joined);
                return;
            }
            take(name);
        }
        if (families::vmsLoneName(line)) {
            pending = line;
            return;
        }
        take(line);
    });
    if (!pending.empty()) take(pending);
    out.unsupportedForm = out.entries.empty() && mainframeLines > 0;
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
    if (!line.empty() && line.front() == '+') return families::eplfMode(line);
    if (!line.empty() && isDigit(line.front())) return families::numericMode(line);
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
