#pragma once
// gzip of request bodies (zlib deflate with the gzip wrapper).
#include <optional>
#include <string>
#include <string_view>

class TLMCompression {
public:
    // The gzip form of the bytes; nothing for empty input or when zlib fails (logged).
    static std::optional<std::string> compressData(std::string_view data);
};
