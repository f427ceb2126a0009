#include "platform/net/PercentEncoding.h"

#include <curl/curl.h>

#include "platform/net/Curl.h"

namespace net {

namespace {
int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

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
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int hi = hexValue(text[i + 1]);
            const int lo = hexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

}  // namespace net
