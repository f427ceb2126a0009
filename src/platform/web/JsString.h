#pragma once
// Putting text into script source. Anything the app splices into a script (ids, paths, Base64)
// goes through these, so a quote, a backslash or a line break in a file name can neither break
// the script nor run code of its own.
#include <string>
#include <string_view>

namespace web {

// The text escaped for use between the quotes of a script string literal (single or double):
// backslash, both quotes, CR, LF, the line and paragraph separators (U+2028, U+2029), other
// control characters and "</" (so "</script" cannot end an inline script). Every other character,
// non-ASCII included, passes unchanged; bytes that are not valid UTF-8 are replaced by U+FFFD.
std::string jsStringEscape(std::string_view text);

// A complete single-quoted script string literal of the text: "'" + jsStringEscape(text) + "'".
std::string jsStringLiteral(std::string_view text);

// The script evaluated in place of `script`: it runs `script` as a program through an indirect
// eval and answers an object {ok: 1, v: JSON text of the completion value} or {ok: 0, e: error
// text}, so a thrown error (syntax errors included) comes back as an error instead of an empty
// result.
std::string wrapForEvaluation(std::string_view script);

}  // namespace web
