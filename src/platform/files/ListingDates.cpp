// The date forms of listings and WebDAV properties: MLSD facts, HTTP dates and RFC 3339.

#include "platform/files/ListingParsers.h"

#include <charconv>
#include <cstring>

#include "platform/files/ListingText.h"

namespace files::parse {

using namespace text;
using namespace std::chrono;

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

}  // namespace files::parse
