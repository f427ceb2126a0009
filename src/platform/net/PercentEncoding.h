#pragma once
// Percent-encoding of URL parts, the one encoder of the project: every byte becomes %XX
// (upper-case hex) except the unreserved characters (A-Z a-z 0-9 - . _ ~) and the ones the
// caller lets through as they are ("/" in a path, the query's delimiters in a query).
#include <string>
#include <string_view>

namespace net {

std::string percentEncode(std::string_view text, std::string_view keep = {});
// Decodes %XX escapes; malformed escapes are kept as they are.
std::string percentDecode(std::string_view text);

}  // namespace net
