#include "platform/files/VersionCheck.h"

#include <openssl/sha.h>

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

bool factsAgree(const FileVersion& expected, const FileVersion& now) {
    if (!expected.etag.empty() && !now.etag.empty() && opaqueTag(expected.etag) != opaqueTag(now.etag)) return false;
    if (!expected.lastModified.empty() && !now.lastModified.empty() && expected.lastModified != now.lastModified)
        return false;
    if (expected.modificationDate && now.modificationDate && *expected.modificationDate != *now.modificationDate)
        return false;
    if (expected.size >= 0 && now.size >= 0 && expected.size != now.size) return false;
    if (!expected.sha256.empty() && !now.sha256.empty() && expected.sha256 != now.sha256) return false;
    return true;
}

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
    } else if (auto error = facts(now)) {
        return error;
    }
    if (told) *told = now;
    if (!factsAgree(expected, now)) return FileError::make(ErrorKind::changedOnServer);
    return std::nullopt;
}

}  // namespace files::detail
