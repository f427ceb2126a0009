// NetWare LIST lines: the type, the rights in brackets, the owner, the size, the date and the
// name after a few blanks.

#include "platform/files/ListingFamilies.h"

namespace files::parse::families {

using namespace text;

std::optional<FileObject> netwareLine(const Tokens& t, std::string_view line, const ListContext& context,
                                      LineKind& kind) {
    kind = LineKind::unreadable;
    if (t.size() < 6) return std::nullopt;
    const std::string_view type = t[0].text, rights = t[1].text;
    if (type.size() != 1 || (type[0] != 'd' && type[0] != '-')) return std::nullopt;
    if (rights.size() < 3 || rights.front() != '[' || rights.back() != ']') return std::nullopt;
    for (std::size_t m = 3; m < t.size(); ++m) {
        std::int64_t size;
        if (!toNumber(t[m - 1].text, size)) continue;
        auto date = lineDate(t, m);
        if (!date) continue;
        const auto modified = resolve(*date, context);  // none when it names no day or reads two ways
        auto entry = namedEntry(line.substr(skipBlanks(line, t[date->last].end)),
                                type[0] == 'd' ? FileType::directory : FileType::regular, context, kind);
        if (!entry) return std::nullopt;
        entry->size = size;
        entry->modificationDate = modified;
        return entry;
    }
    return std::nullopt;
}

}  // namespace files::parse::families
