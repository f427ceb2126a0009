#pragma once
// Telling whether the server's copy of a file is still the one a version describes, for the
// providers' checked writes. The server's own facts go first (an ETag, a modification time, a
// size); where they may not show a change (dates to the second, and ETags made of them) a small
// file is compared by its bytes, so two writes within one second are never taken for one.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files/FileProvider.h"

namespace files::detail {

// Files up to this size keep the SHA-256 of their bytes in their version.
constexpr std::size_t kHashedSizeLimit = 4 * 1024 * 1024;

std::string sha256Hex(std::string_view bytes);

// The size of `bytes`, and their SHA-256 when they are small enough to be compared by content.
void addContentFacts(FileVersion& version, std::string_view bytes);

// An ETag without its weak marker ("W/"), as two answers about one file compare it.
std::string_view opaqueTag(std::string_view etag);
bool isStrongTag(std::string_view etag);

// The version a write must check, if any: a replace's, when it tells anything.
inline const FileVersion* versionToCheck(const std::optional<FileVersion>& expected, WriteMode mode) {
    return expected && !expected->empty() && mode == WriteMode::replace ? &*expected : nullptr;
}

// False when a fact both versions tell differs: the file has changed.
bool factsAgree(const FileVersion& expected, const FileVersion& now);

// True when the server's facts alone cannot settle whether the file is still this version and
// its bytes must be compared: the read kept their hash (every read and write of a file up to
// kHashedSizeLimit does, on every protocol) and the file is small enough to fetch.
bool comparedByBytes(const FileVersion& expected);

// The one check of a file against the version a write expects, over what a protocol can ask
// of the server: the file's bytes where comparedByBytes says so (they alone decide: the facts a
// server tells of the same bytes can move), else its facts alone. `facts` puts what the server tells now into `now`; `bytes` also
// puts the bytes there when the file holds at most `limit` of them (nothing when it holds
// more). Either gives an error when the asking failed (notFound: the file is gone). The result:
// that error, changedOnServer, or nothing while the file is still that version; `told` gets
// what the server told.
using AskFacts = std::function<std::optional<FileError>(FileVersion& now)>;
using AskBytes = std::function<std::optional<FileError>(std::size_t limit, FileVersion& now, std::optional<Bytes>& bytes)>;
std::optional<FileError> checkUnchanged(const FileVersion& expected, const AskFacts& facts, const AskBytes& bytes,
                                        FileVersion* told = nullptr);

}  // namespace files::detail
