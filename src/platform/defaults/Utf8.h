#pragma once
// Checking UTF-8: well-formed sequences only (no overlong forms, no surrogates, nothing past
// U+10FFFF), as text must be to be written as JSON or handed to a page.
#include <cstddef>
#include <string_view>

namespace defaults {

// The length of the valid UTF-8 sequence that starts at text[at] (1 for ASCII), or 0 when the
// bytes there are not one.
std::size_t utf8SequenceLength(std::string_view text, std::size_t at);

// Whether the whole text is valid UTF-8. Reads ASCII eight bytes at a time.
bool isValidUtf8(std::string_view text);

}  // namespace defaults
