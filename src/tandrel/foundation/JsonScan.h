#pragma once
// Reading a few top-level text members out of a large JSON object without building the whole
// document: an editing session's state is megabytes of JSON around one long "value" string, and
// the save path needs that string and the file path, nothing else.
//
// The whole text is still checked: it is accepted exactly when the app's JSON parser
// (nlohmann::json::parse, which allows any value at the top level, skips a leading UTF-8 byte-order
// mark and rejects bad UTF-8 and control characters in strings) accepts it, with one exception:
// that parser takes a NUL byte for the end of its input and ignores what follows, where a NUL
// byte anywhere makes the text invalid here.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace json_scan {

enum class Shape {
    invalid,     // not JSON
    not_object,  // JSON, but not an object at the top level
    object,
};

struct Members {
    Shape shape = Shape::invalid;
    // One entry per key asked for, in the order asked: the decoded text when the object has that
    // member and its value is a string (the last one when the key repeats, as the parser keeps),
    // otherwise nothing.
    std::vector<std::optional<std::string>> strings;
    // One entry per key asked for: the member's value as it stands in the text (any kind of
    // value, the last one when the key repeats), for a value that is not text; nothing when the
    // object has no such member.
    std::vector<std::optional<std::string_view>> raw;
};

Members object_strings(std::string_view text, const std::vector<std::string_view>& keys);

}  // namespace json_scan
