#include "platform/net/PercentEncoding.h"

#include <curl/curl.h>

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

}  // namespace net
