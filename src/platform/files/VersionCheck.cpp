#include "platform/files/VersionCheck.h"

#include <openssl/sha.h>

#include "platform/log/Log.h"

namespace files::detail {

std::string sha256Hex(std::string_view bytes) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * SHA256_DIGEST_LENGTH);
    for (unsigned char b : digest) {
        hex.push_back(kHex[b >> 4]);
        hex.push_back(kHex[b & 0xf]);
    }
    return hex;
}

void addContentFacts(FileVersion& version, std::string_view bytes) {
    version.size = static_cast<std::int64_t>(bytes.size());
    version.sha256 = bytes.size() <= kHashedSizeLimit ? sha256Hex(bytes) : std::string();
}

std::string_view opaqueTag(std::string_view etag) {
    if (etag.size() >= 2 && (etag[0] == 'W' || etag[0] == 'w') && etag[1] == '/') etag.remove_prefix(2);
    return etag;
}

bool isStrongTag(std::string_view etag) { return !etag.empty() && opaqueTag(etag).size() == etag.size(); }

namespace {
// The first fact two versions tell differently, as the log names it; nothing when they agree.
std::optional<std::string> differingFact(const FileVersion& expected, const FileVersion& now) {
    if (!expected.etag.empty() && !now.etag.empty() && opaqueTag(expected.etag) != opaqueTag(now.etag))
        return "ETag " + expected.etag + " is now " + now.etag;
    if (!expected.lastModified.empty() && !now.lastModified.empty() && expected.lastModified != now.lastModified)
        return "Last-Modified " + expected.lastModified + " is now " + now.lastModified;
    if (expected.modificationDate && now.modificationDate && *expected.modificationDate != *now.modificationDate)
        return "the modification date changed";
    if (expected.size >= 0 && now.size >= 0 && expected.size != now.size)
        return "size " + std::to_string(expected.size) + " is now " + std::to_string(now.size);
    if (!expected.sha256.empty() && !now.sha256.empty() && expected.sha256 != now.sha256) return "its bytes changed";
    return std::nullopt;
}
}  // namespace

bool factsAgree(const FileVersion& expected, const FileVersion& now) { return !differingFact(expected, now); }

bool comparedByBytes(const FileVersion& expected) {
    return !expected.sha256.empty() && (expected.size < 0 || static_cast<std::uint64_t>(expected.size) <= kHashedSizeLimit);
}

std::optional<FileError> checkUnchanged(const FileVersion& expected, const AskFacts& facts, const AskBytes& bytes,
                                        FileVersion* told) {
    FileVersion now;
    if (comparedByBytes(expected)) {
        std::optional<Bytes> read;
        if (auto error = bytes(kHashedSizeLimit, now, read)) return error;
        if (!read || read->size() > kHashedSizeLimit) return FileError::make(ErrorKind::changedOnServer);
        addContentFacts(now, *read);
        if (told) *told = now;
        // The bytes settle it: a server may tell other facts of the very same bytes (Apache
        // dates a file whose time lies ahead of its clock by each answer's own time, and makes
        // its ETag of that), and writing over the bytes read loses nobody's change.
        if (now.sha256 == expected.sha256) return std::nullopt;
        xlog::logWarning("a checked write finds the file changed on the server: its bytes changed", __FILE__, __func__,
                         __LINE__);
        return FileError::make(ErrorKind::changedOnServer);
    }
    if (auto error = facts(now)) return error;
    if (told) *told = now;
    if (auto fact = differingFact(expected, now)) {
        // Which fact tells the change, so that a refused save can be followed in the log.
        xlog::logWarning("a checked write finds the file changed on the server: " + *fact, __FILE__, __func__, __LINE__);
        return FileError::make(ErrorKind::changedOnServer);
    }
    return std::nullopt;
}

}  // namespace files::detail
