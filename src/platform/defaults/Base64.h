#pragma once
// Base64 with the standard alphabet and padding, no line breaks, for the code that has no Qt
// (settings store, telemetry SDK): OpenSSL's block encoder and decoder. Code with Qt uses
// QByteArray::toBase64 / fromBase64Encoding.
#include <optional>
#include <string>
#include <string_view>

namespace defaults {

std::string base64Encode(std::string_view bytes);
// Nothing when the text is not valid Base64: its length a multiple of four, only the alphabet,
// "=" only as the last one or two characters (whitespace is not accepted).
std::optional<std::string> base64Decode(std::string_view text);

}  // namespace defaults
