#include "platform/defaults/Utf8.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace defaults {

std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
    const auto b0 = static_cast<unsigned char>(text[at]);
    if (b0 < 0x80) return 1;
    std::size_t n = 0;
    uint32_t cp = 0;
    if ((b0 & 0xE0) == 0xC0) { n = 2; cp = b0 & 0x1F; }
    else if ((b0 & 0xF0) == 0xE0) { n = 3; cp = b0 & 0x0F; }
    else if ((b0 & 0xF8) == 0xF0) { n = 4; cp = b0 & 0x07; }
    else return 0;
    if (at + n > text.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(text[at + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000)) return 0;
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
    return n;
}

bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        uint64_t word;
        if (i + 8 <= n) {
            std::memcpy(&word, text.data() + i, 8);
            if ((word & 0x8080808080808080ULL) == 0) {
                i += 8;
                continue;
            }
        }
        const std::size_t len = utf8SequenceLength(text, i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

namespace {
// How many bytes more than the one it stands for each byte takes in a JSON string: 1 for the
// two-character escapes, 5 for \u00XX, 0 for a byte written as it is.
constexpr std::array<unsigned char, 256> kEscapeExtra = [] {
    std::array<unsigned char, 256> extra{};
    for (int c = 0; c < 0x20; ++c) extra[c] = 5;
    for (unsigned char c : {'"', '\\', '\b', '\t', '\n', '\f', '\r'}) extra[c] = 1;
    return extra;
}();
}  // namespace

void appendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    // The escapes are counted first, so the text goes straight into its final room, a run at a
    // time (a store's text of a few megabytes holds hundreds of thousands of escapes).
    std::size_t extra = 0;
    for (const char ch : text) extra += kEscapeExtra[static_cast<unsigned char>(ch)];
    const std::size_t start = out.size();
    out.resize(start + text.size() + extra + 2);
    char* p = out.data() + start;
    *p++ = '"';
    std::size_t run = 0;
    for (std::size_t i = 0; extra > 0 && i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!kEscapeExtra[c]) continue;
        std::memcpy(p, text.data() + run, i - run);
        p += i - run;
        run = i + 1;
        extra -= kEscapeExtra[c];
        *p++ = '\\';
        switch (c) {
            case '"': *p++ = '"'; break;
            case '\\': *p++ = '\\'; break;
            case '\b': *p++ = 'b'; break;
            case '\t': *p++ = 't'; break;
            case '\n': *p++ = 'n'; break;
            case '\f': *p++ = 'f'; break;
            case '\r': *p++ = 'r'; break;
            default:
                *p++ = 'u';
                *p++ = '0';
                *p++ = '0';
                *p++ = kHex[c >> 4];
                *p++ = kHex[c & 0xF];
        }
    }
    if (text.size() > run) std::memcpy(p, text.data() + run, text.size() - run);
    p += text.size() - run;
    *p = '"';
}

}  // namespace defaults
