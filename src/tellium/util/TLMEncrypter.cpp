#include "tellium/util/TLMEncrypter.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>

#include "platform/defaults/Base64.h"
#include "tellium/TLMLogger.h"
#include "tellium/util/TLMPlatformHooks.h"

namespace {

constexpr std::size_t kKeySize = 32;
constexpr std::size_t kIvSize = 16;

std::string normalizedKey(const std::string& bytes) {
    if (bytes.size() == kKeySize) return bytes;
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    return std::string(reinterpret_cast<char*>(digest), sizeof digest);
}

std::optional<std::string> readKeyFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() != kKeySize) return std::nullopt;
    return bytes;
}

bool writeKeyFile(const std::filesystem::path& path, const std::string& key) {
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    auto temp = path;
    temp += ".tmp" + std::to_string(getpid());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = ::write(fd, key.data(), key.size()) == static_cast<ssize_t>(key.size()) && ::fsync(fd) == 0;
    ::close(fd);
    // Another process may have made the file meanwhile: the first one stays (link fails then).
    if (ok) ok = ::link(temp.c_str(), path.c_str()) == 0;
    ::unlink(temp.c_str());
    return ok;
}

struct CipherDeleter {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

}  // namespace

TLMEncrypter::TLMEncrypter(std::filesystem::path keyFile, KeyProvider provider)
    : keyFile_(std::move(keyFile)), provider_(std::move(provider)) {}

const std::string* TLMEncrypter::key() {
    if (loaded_) return key_ ? &*key_ : nullptr;
    loaded_ = true;
    std::optional<std::string> bytes = provider_ ? provider_() : TLMPlatform::targetTokenKey();
    if (bytes && !bytes->empty()) {
        key_ = normalizedKey(*bytes);
        return &*key_;
    }
    if (auto stored = readKeyFile(keyFile_)) {
        key_ = std::move(stored);
        return &*key_;
    }
    std::string fresh(kKeySize, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(fresh.data()), static_cast<int>(fresh.size())) != 1) {
        TLMLogError(kTLMLogTag, "Could not make a key for the target tokens.");
        return nullptr;
    }
    if (!writeKeyFile(keyFile_, fresh)) {
        // Lost a race with another process, or the folder is not writable: use what is there.
        if (auto stored = readKeyFile(keyFile_)) {
            key_ = std::move(stored);
            return &*key_;
        }
        TLMLogError(kTLMLogTag, "Could not store the key for the target tokens.");
        return nullptr;
    }
    key_ = std::move(fresh);
    return &*key_;
}

std::optional<std::string> TLMEncrypter::encryptString(const std::string& text) {
    std::lock_guard lock(mutex_);
    const std::string* k = key();
    if (!k) return std::nullopt;
    unsigned char iv[kIvSize];
    if (RAND_bytes(iv, sizeof iv) != 1) return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, CipherDeleter> ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr,
                                   reinterpret_cast<const unsigned char*>(k->data()), iv) != 1)
        return std::nullopt;
    std::string out(kIvSize + text.size() + kIvSize, '\0');
    std::copy(iv, iv + kIvSize, out.begin());
    int n1 = 0, n2 = 0;
    auto* dst = reinterpret_cast<unsigned char*>(out.data()) + kIvSize;
    if (EVP_EncryptUpdate(ctx.get(), dst, &n1, reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size())) != 1 ||
        EVP_EncryptFinal_ex(ctx.get(), dst + n1, &n2) != 1)
        return std::nullopt;
    out.resize(kIvSize + static_cast<std::size_t>(n1 + n2));
    return defaults::base64Encode(out);
}

std::optional<std::string> TLMEncrypter::decryptString(const std::string& base64) {
    std::lock_guard lock(mutex_);
    auto bytes = defaults::base64Decode(base64);
    if (!bytes || bytes->size() <= kIvSize || (bytes->size() - kIvSize) % kIvSize != 0) return std::nullopt;
    const std::string* k = key();
    if (!k) return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, CipherDeleter> ctx(EVP_CIPHER_CTX_new());
    const auto* iv = reinterpret_cast<const unsigned char*>(bytes->data());
    if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr,
                                   reinterpret_cast<const unsigned char*>(k->data()), iv) != 1)
        return std::nullopt;
    std::string out(bytes->size(), '\0');
    int n1 = 0, n2 = 0;
    auto* dst = reinterpret_cast<unsigned char*>(out.data());
    if (EVP_DecryptUpdate(ctx.get(), dst, &n1, iv + kIvSize, static_cast<int>(bytes->size() - kIvSize)) != 1 ||
        EVP_DecryptFinal_ex(ctx.get(), dst + n1, &n2) != 1)
        return std::nullopt;
    out.resize(static_cast<std::size_t>(n1 + n2));
    return out;
}
