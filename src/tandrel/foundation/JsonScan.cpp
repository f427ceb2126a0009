#include "tandrel/foundation/JsonScan.h"

#include <charconv>

#include "platform/defaults/Utf8.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace json_scan {

namespace {

// Bytes that stand for themselves inside a JSON string: printable ASCII but the quote and the
// backslash (DEL included, as the parser takes it).
constexpr auto kPlain = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x80; ++c) plain[c] = true;
    plain['"'] = false;
    plain['\\'] = false;
    return plain;
}();

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

class Scanner {
public:
    explicit Scanner(std::string_view text) : s_(text) {
        // A byte-order mark is allowed at the very start only.
        if (s_.size() >= 3 && s_.substr(0, 3) == "\xEF\xBB\xBF") i_ = 3;
    }

    void skip_space() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) ++i_;
    }
    size_t position() const { return i_; }
    bool at(char c) const { return i_ < s_.size() && s_[i_] == c; }
    bool at_end() const { return i_ >= s_.size(); }
    bool take(char c) {
        if (!at(c)) return false;
        ++i_;
        return true;
    }

    // The string at the current '"', decoded into `out` when one is given. The string is checked
    // first; then its text goes out in runs between backslashes, the only bytes that decode to
    // something else (checked text holds nothing else that needs work).
    bool string(std::string* out) {
        const size_t start = i_ + 1;
        if (!skip_string()) return false;
        if (!out) return true;
        const size_t end = i_ - 1;  // the closing quote
        const size_t after = i_;
        out->reserve(out->size() + (end - start));  // escapes only ever shorten the text
        size_t k = start;
        while (k < end) {
            const void* found = std::memchr(s_.data() + k, '\\', end - k);
            const size_t stop = found ? static_cast<size_t>(static_cast<const char*>(found) - s_.data()) : end;
            out->append(s_.data() + k, stop - k);
            if (stop == end) break;
            i_ = stop;
            escape(out);
            k = i_;
        }
        i_ = after;
        return true;
    }

    // Any one value, however deeply nested, without recursion.
    bool skip_value() {
        std::vector<char> open;
        for (;;) {
            // A value is expected here.
            skip_space();
            if (at_end()) return false;
            const char c = s_[i_];
            if (c == '{' || c == '[') {
                ++i_;
                skip_space();
                if (!take(c == '{' ? '}' : ']')) {
                    open.push_back(c);
                    if (c == '{' && !member_key()) return false;
                    continue;
                }
            } else if (c == '"') {
                if (!string(nullptr)) return false;
            } else if (c == '-' || (c >= '0' && c <= '9')) {
                if (!number()) return false;
            } else if (!literal()) {
                return false;
            }
            // After a value: close what ends here, then find the next value or stop.
            for (;;) {
                if (open.empty()) return true;
                skip_space();
                if (take(',')) {
                    if (open.back() == '{') {
                        skip_space();
                        if (!member_key()) return false;
                    }
                    break;
                }
                if (take(open.back() == '{' ? '}' : ']')) {
                    open.pop_back();
                    continue;
                }
                return false;
            }
        }
    }

    // `"key" :` at the current position (white space before the key already skipped).
    bool member_key(std::string* key = nullptr) {
        if (!string(key)) return false;
        skip_space();
        return take(':');
    }

private:
    size_t utf8_length() const { return defaults::utf8SequenceLength(s_, i_); }

    // Past the string at the current '"', checked as the parser checks it.
    bool skip_string() {
        if (!take('"')) return false;
        const size_t n = s_.size();
        for (;;) {
            skip_plain();
            if (i_ >= n) return false;
            const auto c = static_cast<unsigned char>(s_[i_]);
            if (c == '"') {
                ++i_;
                return true;
            }
            if (c == '\\') {
                if (!escape(nullptr)) return false;
            } else if (c < 0x20) {
                return false;
            } else {
                const size_t len = utf8_length();
                if (len == 0) return false;
                i_ += len;
            }
        }
    }

    // Past the bytes that stand for themselves, eight at a time: a word's flags mark the bytes
    // that need a look of their own (a quote, a backslash, a control character or a byte of a
    // UTF-8 sequence), and the lowest flag is always right (a borrow only runs upwards).
    void skip_plain() {
        constexpr uint64_t ones = 0x0101010101010101ULL;
        constexpr uint64_t highs = 0x8080808080808080ULL;
        auto below = [](uint64_t v, uint64_t n) { return (v - ones * n) & ~v & highs; };
        const size_t n = s_.size();
        while (n - i_ >= 8) {
            uint64_t v;
            std::memcpy(&v, s_.data() + i_, 8);
            if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
            const uint64_t flags = (v & highs) | below(v, 0x20) | below(v ^ (ones * '"'), 1) | below(v ^ (ones * '\\'), 1);
            if (flags) {
                i_ += static_cast<size_t>(std::countr_zero(flags)) / 8;
                return;
            }
            i_ += 8;
        }
        while (i_ < n && kPlain[static_cast<unsigned char>(s_[i_])]) ++i_;
    }

    bool hex4(uint32_t& value) {
        if (i_ + 4 > s_.size()) return false;
        value = 0;
        for (int k = 0; k < 4; ++k) {
            const int h = hex_value(s_[i_ + k]);
            if (h < 0) return false;
            value = value * 16 + static_cast<uint32_t>(h);
        }
        i_ += 4;
        return true;
    }

    bool escape(std::string* out) {
        ++i_;  // the backslash
        if (i_ >= s_.size()) return false;
        const char e = s_[i_++];
        char plain = 0;
        switch (e) {
            case '"': plain = '"'; break;
            case '\\': plain = '\\'; break;
            case '/': plain = '/'; break;
            case 'b': plain = '\b'; break;
            case 'f': plain = '\f'; break;
            case 'n': plain = '\n'; break;
            case 'r': plain = '\r'; break;
            case 't': plain = '\t'; break;
            case 'u': {
                uint32_t cp = 0;
                if (!hex4(cp)) return false;
                if (cp >= 0xDC00 && cp <= 0xDFFF) return false;  // a low surrogate alone
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    uint32_t low = 0;
                    if (!take('\\') || !take('u') || !hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                if (out) append_utf8(*out, cp);
                return true;
            }
            default: return false;
        }
        if (out) *out += plain;
        return true;
    }

    bool digits() {
        const size_t start = i_;
        while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
        return i_ > start;
    }

    bool number() {
        const size_t start = i_;
        if (!number_syntax()) return false;
        // The parser refuses a number too large for a double (it would read as infinity); one too
        // small for a double reads as zero and passes.
        const std::string_view token = s_.substr(start, i_ - start);
        double value = 0;
        const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
        (void)end;
        return ec != std::errc::result_out_of_range || !beyond_one(token);
    }

    // Whether a number's magnitude is above one, from its digits and exponent (asked only of a
    // number out of a double's range, which is far above or far below one).
    static bool beyond_one(std::string_view token) {
        size_t k = token.front() == '-' ? 1 : 0;
        int64_t place = 0;  // the power of ten of the first significant digit, plus one
        bool seen = false, point = false;
        for (; k < token.size() && token[k] != 'e' && token[k] != 'E'; ++k) {
            if (token[k] == '.') {
                point = true;
            } else if (!seen && token[k] == '0') {
                if (point) --place;
            } else {
                seen = true;
                if (!point) ++place;
            }
        }
        if (!seen) return false;
        int64_t exponent = 0;
        if (k < token.size()) {
            ++k;
            const bool negative = token[k] == '-';
            if (token[k] == '-' || token[k] == '+') ++k;
            for (; k < token.size() && exponent < 1000000000; ++k) exponent = exponent * 10 + (token[k] - '0');
            if (negative) exponent = -exponent;
        }
        return place + exponent > 0;
    }

    bool number_syntax() {
        take('-');
        if (take('0')) {
            // no more integer digits after a leading zero
        } else if (!at_end() && s_[i_] >= '1' && s_[i_] <= '9') {
            digits();
        } else {
            return false;
        }
        if (take('.') && !digits()) return false;
        if (at('e') || at('E')) {
            ++i_;
            if (!take('+')) take('-');
            if (!digits()) return false;
        }
        return true;
    }

    bool literal() {
        for (std::string_view word : {std::string_view("true"), std::string_view("false"), std::string_view("null")}) {
            if (s_.substr(i_, word.size()) == word) {
                i_ += word.size();
                return true;
            }
        }
        return false;
    }

    std::string_view s_;
    size_t i_ = 0;
};

}  // namespace

Members object_strings(std::string_view text, const std::vector<std::string_view>& keys) {
    auto invalid = [&] {
        return Members{Shape::invalid, std::vector<std::optional<std::string>>(keys.size()),
                       std::vector<std::optional<std::string_view>>(keys.size())};
    };
    Members result;
    result.strings.assign(keys.size(), std::nullopt);
    result.raw.assign(keys.size(), std::nullopt);
    Scanner scan(text);
    scan.skip_space();
    if (!scan.at('{')) {
        if (!scan.skip_value()) return invalid();
        scan.skip_space();
        if (!scan.at_end()) return invalid();
        result.shape = Shape::not_object;
        return result;
    }
    scan.take('{');
    scan.skip_space();
    if (!scan.take('}')) {
        std::string key;
        for (;;) {
            key.clear();
            if (!scan.member_key(&key)) return invalid();
            scan.skip_space();
            size_t wanted = keys.size();
            for (size_t k = 0; k < keys.size(); ++k) {
                if (keys[k] == key) wanted = k;
            }
            if (wanted < keys.size() && scan.at('"')) {
                std::string value;
                if (!scan.string(&value)) return invalid();
                result.strings[wanted] = std::move(value);
                result.raw[wanted].reset();
            } else {
                const size_t start = scan.position();
                if (!scan.skip_value()) return invalid();
                if (wanted < keys.size()) {
                    result.strings[wanted].reset();  // a later non-text value wins
                    result.raw[wanted] = text.substr(start, scan.position() - start);
                }
            }
            scan.skip_space();
            if (scan.take(',')) {
                scan.skip_space();
                continue;
            }
            if (scan.take('}')) break;
            return invalid();
        }
    }
    scan.skip_space();
    if (!scan.at_end()) return invalid();
    result.shape = Shape::object;
    return result;
}

}  // namespace json_scan
