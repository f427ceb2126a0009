#include "platform/net/HttpHeaders.h"

#include <cctype>

namespace net {

namespace {
char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
}  // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && startsWithIgnoringCase(a, b);
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (lower(text[i]) != lower(prefix[i])) return false;
    }
    return true;
}

std::string_view trimLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    return line;
}

std::optional<StatusLine> parseStatusLine(std::string_view line) {
    line = trimLineEnd(line);
    if (!startsWithIgnoringCase(line, "HTTP/")) return std::nullopt;
    StatusLine status;
    const std::size_t space = line.find(' ');
    status.version = std::string(line.substr(0, space));
    if (space == std::string_view::npos) return status;
    std::string_view rest = line.substr(space + 1);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (rest.size() >= 3 && std::isdigit(static_cast<unsigned char>(rest[0])) &&
        std::isdigit(static_cast<unsigned char>(rest[1])) && std::isdigit(static_cast<unsigned char>(rest[2])) &&
        (rest.size() == 3 || rest[3] == ' ')) {
        status.code = (rest[0] - '0') * 100 + (rest[1] - '0') * 10 + (rest[2] - '0');
        rest.remove_prefix(rest.size() == 3 ? 3 : 4);
        status.reason = std::string(rest);
    }
    return status;
}

std::optional<HeaderField> parseHeaderField(std::string_view line) {
    line = trimLineEnd(line);
    if (line.empty() || line.front() == ' ' || line.front() == '\t') return std::nullopt;
    if (startsWithIgnoringCase(line, "HTTP/")) return std::nullopt;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    return HeaderField{std::string(line.substr(0, colon)), std::string(value)};
}

std::vector<HeaderField> lastResponseFields(const std::vector<std::string>& lines) {
    std::vector<HeaderField> fields;
    for (const std::string& line : lines) {
        if (parseStatusLine(line)) {
            fields.clear();
        } else if (auto field = parseHeaderField(line)) {
            fields.push_back(std::move(*field));
        }
    }
    return fields;
}

std::vector<std::string> fieldValues(const std::vector<std::string>& lines, std::string_view name) {
    std::vector<std::string> values;
    for (const std::string& line : lines) {
        auto field = parseHeaderField(line);
        if (field && equalsIgnoringCase(field->name, name)) values.push_back(std::move(field->value));
    }
    return values;
}

}  // namespace net
