#pragma once
// Reading the header lines libcurl hands over for an answer: the status line, "Name: value"
// fields compared without case, and the fields of the last answer only (an interim 100 or a
// redirect comes before it on the same transfer). Duplicate fields are all kept, in order;
// a folded continuation line (starting with a blank) is not joined to the field before it
// and is not a field of its own.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace net {

bool equalsIgnoringCase(std::string_view a, std::string_view b);
bool startsWithIgnoringCase(std::string_view text, std::string_view prefix);

// A header line without its line end (CR, LF).
std::string_view trimLineEnd(std::string_view line);

struct StatusLine {
    std::string version;  // "HTTP/1.1"
    int code = 0;         // 0 when the line has no three-digit code
    std::string reason;
};
// Nothing when the line does not start with "HTTP/".
std::optional<StatusLine> parseStatusLine(std::string_view line);

struct HeaderField {
    std::string name;
    std::string value;  // without the blanks after the colon
    bool operator==(const HeaderField&) const = default;
};
// Nothing for a status line, a line without a colon and a folded continuation line.
std::optional<HeaderField> parseHeaderField(std::string_view line);

// The fields of the last answer among these header lines: a status line starts a new answer.
std::vector<HeaderField> lastResponseFields(const std::vector<std::string>& lines);
// The values of the fields with this name, in order.
std::vector<std::string> fieldValues(const std::vector<std::string>& lines, std::string_view name);

}  // namespace net
