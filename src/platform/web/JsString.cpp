#include "platform/web/JsString.h"

#include <cstdint>
#include <cstdio>

namespace web {

namespace {

// Length of the valid UTF-8 sequence starting at s[i], or 0 when it is not valid.
size_t utf8SequenceLength(std::string_view s, size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) return 1;
    size_t n = 0;
    uint32_t cp = 0;
    if ((b0 & 0xE0) == 0xC0) { n = 2; cp = b0 & 0x1F; }
    else if ((b0 & 0xF0) == 0xE0) { n = 3; cp = b0 & 0x0F; }
    else if ((b0 & 0xF8) == 0xF0) { n = 4; cp = b0 & 0x07; }
    else return 0;
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not valid.
    if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000)) return 0;
    if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
    if (cp > 0x10FFFF) return 0;
    return n;
}

}  // namespace

std::string jsStringEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8 + 8);
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
                case '\\': out += "\\\\"; break;
                case '\'': out += "\\'"; break;
                case '"': out += "\\\""; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\t': out += "\\t"; break;
                case '<':
                    // "</" becomes "<\/": the same string, but never the end of an inline script.
                    out += '<';
                    if (i + 1 < text.size() && text[i + 1] == '/') {
                        out += "\\/";
                        ++i;
                    }
                    break;
                default:
                    if (c < 0x20 || c == 0x7F) {
                        char buf[8];
                        std::snprintf(buf, sizeof buf, "\\x%02X", c);
                        out += buf;
                    } else {
                        out += static_cast<char>(c);
                    }
            }
            ++i;
            continue;
        }
        const size_t n = utf8SequenceLength(text, i);
        if (n == 0) {
            out += "\\uFFFD";
            ++i;
            continue;
        }
        // U+2028 and U+2029 (E2 80 A8 / E2 80 A9) end a line in older script grammars.
        if (n == 3 && c == 0xE2 && static_cast<unsigned char>(text[i + 1]) == 0x80) {
            const auto b2 = static_cast<unsigned char>(text[i + 2]);
            if (b2 == 0xA8 || b2 == 0xA9) {
                out += b2 == 0xA8 ? "\\u2028" : "\\u2029";
                i += 3;
                continue;
            }
        }
        out.append(text.substr(i, n));
        i += n;
    }
    return out;
}

std::string jsStringLiteral(std::string_view text) {
    std::string out = "'";
    out += jsStringEscape(text);
    out += '\'';
    return out;
}

std::string wrapForEvaluation(std::string_view script) {
    std::string out =
        "(function(){try{var r=(0,eval)(";
    out += jsStringLiteral(script);
    out +=
        ");var j;try{j=JSON.stringify(r);}catch(x){j=undefined;}"
        "return{ok:1,v:(typeof j===\"string\"?j:\"null\")};"
        "}catch(e){var m;try{m=(e&&e.name&&e.message!==undefined)?(e.name+\": \"+e.message):String(e);}"
        "catch(x){m=\"script error\";}return{ok:0,e:m};}})()";
    return out;
}

}  // namespace web
