#pragma once
// Checking UTF-8: well-formed sequences only (no overlong forms, no surrogates, nothing past
// U+10FFFF), as text must be to be written as JSON or handed to a page; and writing such text as
// a JSON string.
#include <cstddef>
#include <string>
#include <string_view>

namespace defaults {

// The length of the valid UTF-8 sequence that starts at text[at] (1 for ASCII), or 0 when the
// bytes there are not one.
std::size_t utf8SequenceLength(std::string_view text, std::size_t at);

// Whether the whole text is valid UTF-8. Reads ASCII eight bytes at a time.
bool isValidUtf8(std::string_view text);

// Appends valid UTF-8 text as a JSON string, quotes included, byte for byte as nlohmann's dump
// writes it without ensure_ascii (UTF-8 kept; quote, backslash and control characters escaped),
// but copying the runs that need no escape at once: the library takes one byte per step through
// its decoder, several times slower on the long texts the stores and the telemetry bodies hold.
void appendJsonString(std::string& out, std::string_view text);

}  // namespace defaults
