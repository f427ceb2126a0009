#pragma once
// Base64 with the standard alphabet and padding, no line breaks.
#include <optional>
#include <string>
#include <string_view>

namespace defaults {

std::string base64Encode(std::string_view bytes);
// Nothing when the text is not valid Base64 (whitespace is not accepted).
std::optional<std::string> base64Decode(std::string_view text);

}  // namespace defaults
