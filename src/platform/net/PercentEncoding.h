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

// A URL as typed into an address bar, escaped the way a browser escapes it before it goes out:
// blanks around it are dropped, and in the path, query and fragment every byte a URL cannot
// hold as it is (blanks, controls, quotes, <>\^`{|}, bytes of non-ASCII characters, and a "%"
// that starts no %XX escape) becomes %XX. Escapes already there stay as they are, and so do
// the scheme, user, host and port. "http://host/web files/" -> "http://host/web%20files/".
std::string escapeTypedUrl(std::string_view typed);

}  // namespace net
