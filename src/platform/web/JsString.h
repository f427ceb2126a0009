#pragma once
// Putting text into script source. Anything the app splices into a script (ids, paths, Base64)
// goes through these, so a quote, a backslash or a line break in a file name can neither break
// the script nor run code of its own.
#include <string>
#include <string_view>
#include <vector>

namespace web {

// The text escaped for use between the quotes of a script string literal (single or double):
// backslash, both quotes, CR, LF, the line and paragraph separators (U+2028, U+2029), other
// control characters and "</" (so "</script" cannot end an inline script). Every other character,
// non-ASCII included, passes unchanged; bytes that are not valid UTF-8 are replaced by U+FFFD.
std::string jsStringEscape(std::string_view text);

// A complete single-quoted script string literal of the text: "'" + jsStringEscape(text) + "'".
std::string jsStringLiteral(std::string_view text);

// Whether the script is one call of a dotted name whose arguments are all literals (quoted
// strings with well-formed escapes, decimal numbers, true, false, null), with white space and one
// ";" allowed around it, e.g. "session_manager.set_current_session('e30=')". Such a script parses
// and means the same as an expression and as a program.
bool isLiteralCall(std::string_view script);

// The script evaluated in place of `script`. It runs `script` and answers an object
// {ok: 1, v: JSON text of the completion value, b: [large strings], m: marker} or
// {ok: 0, e: error text}, so
// a thrown error (syntax errors included) comes back as an error instead of an empty result.
// A literal call goes in as an expression; any other script goes in as one string literal run
// through an indirect eval, as a program. Strings of 64 KiB or more in the value travel in b,
// and the JSON text holds the marker m followed by their index in their place.
std::string wrapForEvaluation(std::string_view script);
// The same, where `held` names the lifted strings (by the ids the results gave them, in n) that
// the app still holds: a string of the value equal to one of those the page lifted last crosses
// as the marker, "=" and its id instead of its text.
std::string wrapForEvaluation(std::string_view script, const std::vector<std::string>& held);

}  // namespace web
