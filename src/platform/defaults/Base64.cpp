#include "platform/defaults/Base64.h"

#include <array>
#include <cstdint>

namespace defaults {

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> makeReverse() {
    std::array<int8_t, 256> r{};
    for (auto& x : r) x = -1;
    for (int i = 0; i < 64; ++i) r[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    return r;
}
constexpr auto kReverse = makeReverse();
}  // namespace

std::string base64Encode(std::string_view bytes) {
    // Written through a pointer into the string sized once (the telemetry store encodes every log).
    std::string out((bytes.size() + 2) / 3 * 4, '\0');
    char* o = out.data();
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        uint32_t n = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8) | uint8_t(bytes[i + 2]);
        *o++ = kAlphabet[(n >> 18) & 63];
        *o++ = kAlphabet[(n >> 12) & 63];
        *o++ = kAlphabet[(n >> 6) & 63];
        *o++ = kAlphabet[n & 63];
    }
    if (i + 1 == bytes.size()) {
        uint32_t n = uint8_t(bytes[i]) << 16;
        *o++ = kAlphabet[(n >> 18) & 63];
        *o++ = kAlphabet[(n >> 12) & 63];
        *o++ = '=';
        *o++ = '=';
    } else if (i + 2 == bytes.size()) {
        uint32_t n = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8);
        *o++ = kAlphabet[(n >> 18) & 63];
        *o++ = kAlphabet[(n >> 12) & 63];
        *o++ = kAlphabet[(n >> 6) & 63];
        *o++ = '=';
    }
    return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        int v[4];
        int pad = 0;
        for (int k = 0; k < 4; ++k) {
            char c = text[i + k];
            if (c == '=') {
                // Padding only at the very end, in the last one or two places.
                if (i + 4 != text.size() || k < 2) return std::nullopt;
                ++pad;
                v[k] = 0;
            } else {
                if (pad) return std::nullopt;
                v[k] = kReverse[static_cast<unsigned char>(c)];
                if (v[k] < 0) return std::nullopt;
            }
        }
        uint32_t n = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
        out += char((n >> 16) & 0xFF);
        if (pad < 2) out += char((n >> 8) & 0xFF);
        if (pad < 1) out += char(n & 0xFF);
    }
    return out;
}

}  // namespace defaults
