#pragma once
// Remote paths as the providers take them: "/" separated, absolute from the provider's root,
// UTF-8. A path is checked before any server is contacted: a "." or ".." segment or a control
// character (CR and LF would let a name smuggle FTP commands) refuses it.

#include <optional>
#include <string>
#include <string_view>

#include "platform/files/FileError.h"

namespace files::path {

// An invalidPath error when the path has a "." or ".." segment or a control character
// (below U+0020, or DEL); nothing otherwise. The empty path means the root.
std::optional<FileError> check(std::string_view path);
// The same for one name (a single segment): also refuses "", "/" inside, "." and "..".
std::optional<FileError> checkName(std::string_view name);

// "/a/b": a leading "/", no trailing "/" (except the root itself), no empty segments.
std::string normalize(std::string_view path);
std::string join(std::string_view folder, std::string_view name);
// The folder holding the path ("/" for "/a" and for "/").
std::string parent(std::string_view path);
// The last segment ("" for the root).
std::string lastComponent(std::string_view path);
// True when `path` is `folder` itself or lies inside it (both normalized first).
bool isSameOrInside(std::string_view path, std::string_view folder);

// Percent-encodes every byte except the unreserved characters and, in encodePath, "/".
std::string encodePath(std::string_view path);
std::string encodeComponent(std::string_view component);
// Decodes %XX escapes; malformed escapes are kept as they are.
std::string percentDecode(std::string_view text);

// Names a server sends that are not UTF-8 (a Latin-1 "caf\xE9.txt") travel through the app in a
// form that is valid UTF-8 and turns back into the very same bytes, so the file opens, renames
// and deletes. fromServer: valid UTF-8 stays as it is, except that a character of U+F700 to U+F7FF
// gets the marker U+F700 in front; every other byte becomes U+F700 + the byte (U+F780 to U+F7FF).
// toServer undoes it; bytes that are not UTF-8 pass through unchanged, so a path given in raw
// bytes still works. Paths given to the providers may use either form.
std::string fromServer(std::string_view bytes);
std::string toServer(std::string_view text);
// The text to show for a name or path of that form: its server bytes, each byte that is not
// UTF-8 shown as U+FFFD (never as the private-use character that carries it).
std::string forDisplay(std::string_view text);
// A rename typed over a name as it was shown (forDisplay of `original`, a name in the form of
// fromServer): where the typed name keeps the shown name's beginning and end, the original's own
// characters stand, so a byte that is not UTF-8 (shown as U+FFFD) stays that byte; the part the
// user changed is taken as typed. The result is in the form of fromServer.
std::string renamedKeepingBytes(std::string_view original, std::string_view typed);

bool isValidUtf8(std::string_view bytes);
// Valid UTF-8 comes back unchanged; each byte that is not part of a valid sequence becomes
// U+FFFD, so a listing with one badly encoded name still lists.
std::string decodeLenient(std::string_view bytes);

}  // namespace files::path
