// Finding a file's own declaration of its encoding: the HTML standard's prescan of a page's first
// 1024 bytes for a <meta> naming a charset (also for PHP files, whose pages declare theirs so),
// a style sheet's @charset "..."; at its very start, and an XML declaration's encoding.
#include <algorithm>
#include <cctype>
#include <set>

#include "platform/text/TextEncoding.h"

namespace textcodec {

namespace {

constexpr std::size_t kPrescanBytes = 1024;

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool isSpace(char c) { return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool startsWithNoCase(std::string_view s, std::size_t at, std::string_view prefix) {
    if (s.size() - std::min(at, s.size()) < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (lower(s[at + i]) != prefix[i]) return false;
    return true;
}

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = lower(c);
    return out;
}

std::string extensionOf(std::string_view fileName) {
    const auto slash = fileName.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    return lowered(name.substr(dot + 1));
}

bool isPage(const std::string& ext) {
    static const std::set<std::string> kinds{"html", "htm", "xhtml", "shtml", "php", "phtml"};
    return kinds.count(ext) > 0;
}

bool isStyleSheet(const std::string& ext) {
    static const std::set<std::string> kinds{"css", "scss", "sass", "less"};
    return kinds.count(ext) > 0;
}

// A value as it stands in the text.
struct Span {
    std::size_t offset = 0;
    std::size_t length = 0;
};

// One attribute of a tag, read as the prescan's "get an attribute" reads it (the name
// lowercased; the value with its place in the text).
struct Attribute {
    std::string name;
    std::string value;
    Span at;
};

std::optional<Attribute> getAttribute(std::string_view s, std::size_t& pos) {
    while (pos < s.size() && (isSpace(s[pos]) || s[pos] == '/')) ++pos;
    if (pos >= s.size() || s[pos] == '>') return std::nullopt;
    Attribute a;
    // The name: up to "=", a space, "/" or ">" (a first "=" belongs to it).
    bool first = true;
    while (pos < s.size()) {
        const char c = s[pos];
        if (c == '=' && !first) break;
        if (isSpace(c) || c == '/' || c == '>') break;
        a.name += lower(c);
        ++pos;
        first = false;
    }
    while (pos < s.size() && isSpace(s[pos])) ++pos;
    if (pos >= s.size() || s[pos] != '=') return pos < s.size() ? std::optional<Attribute>(a) : std::nullopt;
    ++pos;
    while (pos < s.size() && isSpace(s[pos])) ++pos;
    if (pos >= s.size()) return std::nullopt;
    if (s[pos] == '"' || s[pos] == '\'') {
        const char quote = s[pos++];
        const std::size_t start = pos;
        while (pos < s.size() && s[pos] != quote) ++pos;
        if (pos >= s.size()) return std::nullopt;
        a.at = {start, pos - start};
        a.value = std::string(s.substr(start, pos - start));
        ++pos;
        return a;
    }
    const std::size_t start = pos;
    while (pos < s.size() && !isSpace(s[pos]) && s[pos] != '>') ++pos;
    if (pos >= s.size()) return std::nullopt;
    a.at = {start, pos - start};
    a.value = std::string(s.substr(start, pos - start));
    return a;
}

// The charset a Content-Type value names ("text/html; charset=windows-1252"), with its place
// inside the value.
std::optional<Span> charsetInContent(std::string_view value) {
    std::size_t pos = 0;
    for (;;) {
        std::size_t found = std::string_view::npos;
        for (std::size_t i = pos; i + 7 <= value.size(); ++i) {
            if (startsWithNoCase(value, i, "charset")) {
                found = i;
                break;
            }
        }
        if (found == std::string_view::npos) return std::nullopt;
        pos = found + 7;
        while (pos < value.size() && isSpace(value[pos])) ++pos;
        if (pos < value.size() && value[pos] == '=') break;
    }
    ++pos;
    while (pos < value.size() && isSpace(value[pos])) ++pos;
    if (pos >= value.size()) return std::nullopt;
    if (value[pos] == '"' || value[pos] == '\'') {
        const char quote = value[pos++];
        const auto end = value.find(quote, pos);
        if (end == std::string_view::npos) return std::nullopt;
        return Span{pos, end - pos};
    }
    std::size_t end = pos;
    while (end < value.size() && !isSpace(value[end]) && value[end] != ';') ++end;
    if (end == pos) return std::nullopt;
    return Span{pos, end - pos};
}

// The <meta> that names the page's charset within its first 1024 bytes, as the HTML standard's
// prescan finds it.
std::optional<Declaration> prescan(std::string_view all) {
    const std::string_view s = all.substr(0, std::min(all.size(), kPrescanBytes));
    std::size_t pos = 0;
    while (pos < s.size()) {
        if (s.compare(pos, 4, "<!--") == 0) {
            const auto end = s.find("-->", pos + 2);
            if (end == std::string_view::npos) return std::nullopt;
            pos = end + 3;
            continue;
        }
        if (startsWithNoCase(s, pos, "<meta") && pos + 5 < s.size() && (isSpace(s[pos + 5]) || s[pos + 5] == '/')) {
            pos += 6;
            std::set<std::string> names;
            bool gotPragma = false;
            std::optional<bool> needPragma;
            std::optional<Declaration> charset;
            while (auto a = getAttribute(s, pos)) {
                if (!names.insert(a->name).second) continue;
                if (a->name == "http-equiv") {
                    if (lowered(a->value) == "content-type") gotPragma = true;
                } else if (a->name == "content") {
                    if (!charset) {
                        if (auto in = charsetInContent(a->value)) {
                            charset = Declaration{a->at.offset + in->offset, in->length, a->value.substr(in->offset, in->length)};
                            needPragma = true;
                        }
                    }
                } else if (a->name == "charset") {
                    charset = Declaration{a->at.offset, a->at.length, a->value};
                    needPragma = false;
                }
            }
            if (charset && needPragma && (!*needPragma || gotPragma) && canonicalEncoding(charset->label)) return charset;
            continue;
        }
        if (s[pos] == '<' && pos + 1 < s.size() &&
            (isLetter(s[pos + 1]) || (s[pos + 1] == '/' && pos + 2 < s.size() && isLetter(s[pos + 2])))) {
            while (pos < s.size() && !isSpace(s[pos]) && s[pos] != '>') ++pos;
            while (getAttribute(s, pos)) {
            }
            ++pos;
            continue;
        }
        if (s.compare(pos, 2, "<!") == 0 || s.compare(pos, 2, "</") == 0 || s.compare(pos, 2, "<?") == 0) {
            const auto end = s.find('>', pos + 2);
            if (end == std::string_view::npos) return std::nullopt;
            pos = end + 1;
            continue;
        }
        ++pos;
    }
    return std::nullopt;
}

// @charset "name"; as the very first bytes of a style sheet.
std::optional<Declaration> styleSheetCharset(std::string_view s) {
    constexpr std::string_view head = "@charset \"";
    if (s.substr(0, head.size()) != head) return std::nullopt;
    const auto end = s.find('"', head.size());
    if (end == std::string_view::npos || end > kPrescanBytes || s.substr(end, 2) != "\";") return std::nullopt;
    return Declaration{head.size(), end - head.size(), std::string(s.substr(head.size(), end - head.size()))};
}

// <?xml version="1.0" encoding="name"?> at the start.
std::optional<Declaration> xmlEncoding(std::string_view all) {
    if (all.substr(0, 5) != "<?xml" || all.size() < 6 || !isSpace(all[5])) return std::nullopt;
    const std::string_view s = all.substr(0, std::min(all.size(), kPrescanBytes));
    const auto close = s.find("?>");
    const std::string_view decl = s.substr(0, close == std::string_view::npos ? s.size() : close);
    std::size_t pos = decl.find("encoding");
    if (pos == std::string_view::npos) return std::nullopt;
    pos += 8;
    while (pos < decl.size() && isSpace(decl[pos])) ++pos;
    if (pos >= decl.size() || decl[pos] != '=') return std::nullopt;
    ++pos;
    while (pos < decl.size() && isSpace(decl[pos])) ++pos;
    if (pos >= decl.size() || (decl[pos] != '"' && decl[pos] != '\'')) return std::nullopt;
    const char quote = decl[pos++];
    const auto end = decl.find(quote, pos);
    if (end == std::string_view::npos) return std::nullopt;
    return Declaration{pos, end - pos, std::string(decl.substr(pos, end - pos))};
}

}  // namespace

std::optional<Declaration> findDeclaration(std::string_view text, std::string_view fileName) {
    const std::string ext = extensionOf(fileName);
    if (isPage(ext)) {
        if (auto meta = prescan(text)) return meta;
    }
    if (isStyleSheet(ext)) {
        if (auto sheet = styleSheetCharset(text)) return sheet;
    }
    return xmlEncoding(text);
}

std::string withDeclaration(std::string_view utf8, std::string_view fileName, std::string_view encoding) {
    std::string out(utf8);
    if (auto found = findDeclaration(utf8, fileName)) out.replace(found->offset, found->length, encoding);
    return out;
}

}  // namespace textcodec
