#pragma once
// Encryption of the target tokens kept in the log store: AES-256-CBC with a fresh random IV stored
// before the ciphertext, the whole as Base64 text. The key comes from the desktop keyring through
// the application's hook, fetched at the first use (never at launch, so an unlock prompt cannot
// hold the start); without a keyring, from a key file readable by the user only in the SDK's folder.
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

class TLMEncrypter {
public:
    using KeyProvider = std::function<std::optional<std::string>()>;

    // The key from `provider` (the keyring hook by default), else from the key file.
    explicit TLMEncrypter(std::filesystem::path keyFile, KeyProvider provider = nullptr);

    std::optional<std::string> encryptString(const std::string& text);
    std::optional<std::string> decryptString(const std::string& base64);

private:
    const std::string* key();  // nothing when no key can be had
    std::filesystem::path keyFile_;
    KeyProvider provider_;
    std::mutex mutex_;
    bool loaded_ = false;
    std::optional<std::string> key_;
};
