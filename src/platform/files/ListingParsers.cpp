// The FTP listings: MLSD fact lines and LIST lines of every family (ListingFamilies.h), read a
// line at a time or as a whole listing. The dates are in ListingDates.cpp, WebDAV's multi-status
// answers in ListingWebDav.cpp.

#include "platform/files/ListingParsers.h"

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

}  // namespace

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

namespace {

Listing readListWith(std::string_view listing, const ListContext& context) {
    Listing out;
    out.entries.reserve(listing.size() / 70 + 1);
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
            if (families::vmsContinuation(line)) {
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

}  // namespace

Listing readList(std::string_view listing, std::string_view folder, Date now) {
    const std::string prefix = childPrefix(folder);
    DateOrders orders;
    ListContext context{prefix, now, yearOf(now), std::nullopt, &orders};
    Listing out = readListWith(listing, context);
    // Numeric dates that read either way round ("03-04-2019") take the order the listing's
    // other dates show ("12-25-2019"); with no such date, or dates of both orders, they stay
    // unread rather than guessed.
    if (orders.unsure > 0 && (orders.dayFirst > 0) != (orders.monthFirst > 0)) {
        context.numericOrder = orders.dayFirst > 0 ? NumericOrder::dayFirst : NumericOrder::monthFirst;
        context.orders = nullptr;
        out = readListWith(listing, context);
    }
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

}  // namespace files::parse
