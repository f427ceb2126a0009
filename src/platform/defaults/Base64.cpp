#include "platform/defaults/Base64.h"

#include <openssl/evp.h>

namespace defaults {

namespace {
bool inAlphabet(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}
}  // namespace

std::string base64Encode(std::string_view bytes) {
    if (bytes.empty()) return {};
    std::string out((bytes.size() + 2) / 3 * 4 + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
    // OpenSSL's decoder lets blanks and misplaced padding through: the strict form is checked first.
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        if (!inAlphabet(static_cast<unsigned char>(text[i]))) return std::nullopt;
    }
    if (text.empty()) return std::string();
    std::string out(text.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0 || static_cast<std::size_t>(n) != out.size()) return std::nullopt;
    out.resize(out.size() - padding);  // the block decoder counts the padding as zero bytes
    return out;
}

}  // namespace defaults
