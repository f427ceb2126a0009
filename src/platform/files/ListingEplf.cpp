// EPLF (the Easily Parsed LIST Format): "+" and comma-separated facts, a tab, the name. Facts
// read: "/" a folder, "r" a file that can be retrieved, "s" the size, "m" the modification time
// in seconds since 1970 (UTC), "up" the permission bits.

#include "platform/files/ListingFamilies.h"

namespace files::parse::families {

using namespace text;

namespace {
template <typename F>
bool forEachFact(std::string_view line, F&& f) {
    if (line.empty() || line.front() != '+') return false;
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return false;
    const std::string_view facts = line.substr(1, tab - 1);
    for (std::size_t start = 0; start < facts.size();) {
        const std::size_t end = std::min(facts.find(',', start), facts.size());
        if (end > start) f(facts.substr(start, end - start));
        start = end + 1;
    }
    return true;
}
}  // namespace

std::optional<FileObject> eplfLine(std::string_view line, const ListContext& context, LineKind& kind) {
    kind = LineKind::unreadable;
    bool folder = false, file = false;
    std::int64_t size = -1;
    std::optional<Date> modified;
    const bool eplf = forEachFact(line, [&](std::string_view fact) {
        std::int64_t n;
        if (fact == "/") folder = true;
        else if (fact == "r") file = true;
        else if (fact.front() == 's' && toNumber(fact.substr(1), n)) size = n;
        else if (fact.front() == 'm' && toNumber(fact.substr(1), n) && n < 9000000000LL)  // a time point holds dates up to 2262
            modified = Date{std::chrono::duration_cast<Date::duration>(std::chrono::seconds{n})};
    });
    if (!eplf) return std::nullopt;
    const FileType type = folder ? FileType::directory : file ? FileType::regular : FileType::unknown;
    auto entry = namedEntry(line.substr(line.find('\t') + 1), type, context, kind);
    if (!entry) return std::nullopt;
    entry->size = folder ? -1 : size;
    entry->modificationDate = modified;
    return entry;
}

std::optional<unsigned> eplfMode(std::string_view line) {
    std::optional<unsigned> mode;
    forEachFact(line, [&](std::string_view fact) {
        if (fact.size() < 3 || fact.size() > 6 || fact.substr(0, 2) != "up") return;
        unsigned bits = 0;
        for (char c : fact.substr(2)) {
            if (c < '0' || c > '7') return;
            bits = bits * 8 + static_cast<unsigned>(c - '0');
        }
        mode = bits & 07777u;
    });
    return mode;
}

}  // namespace files::parse::families
