#include "platform/net/PercentEncoding.h"

#include <curl/curl.h>

#include <cctype>

#include "platform/net/Curl.h"

namespace net {

std::string percentEncode(std::string_view text, std::string_view keep) {
    // libcurl escapes all but the unreserved characters, with upper-case hex; the runs between
    // the kept characters go through it one by one.
    initialize();
    std::string out;
    out.reserve(text.size() + 8);
    std::size_t start = 0;
    auto flush = [&](std::size_t end) {
        if (end <= start) return;
        char* escaped = curl_easy_escape(nullptr, text.data() + start, static_cast<int>(end - start));
        if (escaped) {
            out += escaped;
            curl_free(escaped);
        }
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!keep.empty() && keep.find(text[i]) != std::string_view::npos) {
            flush(i);
            out.push_back(text[i]);
            start = i + 1;
        }
    }
    flush(text.size());
    return out;
}

std::string percentDecode(std::string_view text) {
    if (text.find('%') == std::string_view::npos) return std::string(text);
    // libcurl decodes %XX and keeps a "%" that two hex digits do not follow as it is.
    initialize();
    int length = 0;
    char* decoded = curl_easy_unescape(nullptr, text.data(), static_cast<int>(text.size()), &length);
    if (!decoded) return std::string(text);
    std::string out(decoded, static_cast<std::size_t>(length));
    curl_free(decoded);
    return out;
}

std::string escapeTypedUrl(std::string_view typed) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!typed.empty() && blank(typed.front())) typed.remove_prefix(1);
    while (!typed.empty() && blank(typed.back())) typed.remove_suffix(1);
    // The path starts at the first "/" after "scheme://" (the authority is left as it is).
    std::size_t start = 0;
    const std::size_t scheme = typed.find("://");
    if (scheme != std::string_view::npos) {
        start = typed.find_first_of("/?#", scheme + 3);
        if (start == std::string_view::npos) start = typed.size();
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out(typed.substr(0, start));
    out.reserve(typed.size() + 16);
    for (std::size_t i = start; i < typed.size(); ++i) {
        const auto c = static_cast<unsigned char>(typed[i]);
        const bool escape = c <= 0x20 || c >= 0x7F || std::string_view("\"<>\\^`{|}").find(static_cast<char>(c)) != std::string_view::npos ||
                            (c == '%' && !(i + 2 < typed.size() && std::isxdigit(static_cast<unsigned char>(typed[i + 1])) &&
                                             std::isxdigit(static_cast<unsigned char>(typed[i + 2]))));
        if (!escape) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        out.push_back('%');
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 0xF]);
    }
    return out;
}

}  // namespace net
