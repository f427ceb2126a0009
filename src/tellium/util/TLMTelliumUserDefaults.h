#pragma once
// The telemetry settings: values of the app's settings store kept under "Tellium" + key.
#include <map>
#include <optional>
#include <string>
#include <variant>

#include "platform/defaults/UserDefaults.h"

// An old-key prefix for migration: every stored key that starts with it moves.
class TLMUserDefaultsPrefixKey {
public:
    explicit TLMUserDefaultsPrefixKey(std::string prefix) : keyPrefix(std::move(prefix)) {}
    std::string keyPrefix;
};

using TLMUserDefaultsOldKey = std::variant<std::string, TLMUserDefaultsPrefixKey>;

class TLMTelliumUserDefaults {
public:
    static TLMTelliumUserDefaults& shared();

    std::optional<defaults::Value> objectForKey(const std::string& key) const;
    void setObject(const defaults::Value& value, const std::string& key);
    void removeObjectForKey(const std::string& key);

    // Convenience readers over objectForKey.
    std::optional<std::string> dataForKey(const std::string& key) const;  // bytes of a data value
    std::optional<bool> boolForKey(const std::string& key) const;

    // Moves old settings to their new keys, once per service (marked by
    // "310<service>UserDefaultsMigratedKey"). Map: new key -> old key or old-key prefix. Both are
    // keys of the settings store as they stand: the new keys already carry kKeyPrefix, as the
    // keys this class writes do (new key "TelliumInstallId" is read back as "InstallId").
    void migrateKeys(const std::map<std::string, TLMUserDefaultsOldKey>& keys, const std::string& service);

    static constexpr const char* kKeyPrefix = "Tellium";

private:
    static defaults::UserDefaults& store();
};
