#include "tellium/util/TLMTelliumUserDefaults.h"

#include "tellium/TLMLogger.h"

namespace {
std::string prefixed(const std::string& key) { return std::string(TLMTelliumUserDefaults::kKeyPrefix) + key; }
}  // namespace

TLMTelliumUserDefaults& TLMTelliumUserDefaults::shared() {
    static auto* instance = new TLMTelliumUserDefaults;
    return *instance;
}

defaults::UserDefaults& TLMTelliumUserDefaults::store() { return defaults::UserDefaults::standard(); }

std::optional<defaults::Value> TLMTelliumUserDefaults::objectForKey(const std::string& key) const {
    return store().objectForKey(prefixed(key));
}

void TLMTelliumUserDefaults::setObject(const defaults::Value& value, const std::string& key) {
    store().setObject(prefixed(key), value);
}

void TLMTelliumUserDefaults::removeObjectForKey(const std::string& key) { store().removeObjectForKey(prefixed(key)); }

std::optional<std::string> TLMTelliumUserDefaults::dataForKey(const std::string& key) const {
    auto v = objectForKey(key);
    if (!v) return std::nullopt;
    if (auto d = v->get<defaults::Data>()) return d->bytes;
    return std::nullopt;
}

std::optional<bool> TLMTelliumUserDefaults::boolForKey(const std::string& key) const {
    auto v = objectForKey(key);
    if (!v) return std::nullopt;
    if (auto b = v->get<bool>()) return *b;
    if (auto i = v->get<int64_t>()) return *i != 0;
    if (auto d = v->get<double>()) return *d != 0;
    return std::nullopt;
}

void TLMTelliumUserDefaults::migrateKeys(const std::map<std::string, TLMUserDefaultsOldKey>& keys,
                                         const std::string& service) {
    const std::string marker = "310" + service + "UserDefaultsMigratedKey";
    auto done = boolForKey(marker);
    if (done && *done) return;
    auto& defaults = store();
    for (const auto& [newKey, oldKey] : keys) {
        if (const auto* plain = std::get_if<std::string>(&oldKey)) {
            auto value = defaults.objectForKey(*plain);
            if (!value) continue;
            defaults.setObject(newKey, *value);
            defaults.removeObjectForKey(*plain);
            TLMLogVerbose(kTLMLogTag, "Migrating key " + *plain + " -> " + newKey);
        } else {
            const auto& prefix = std::get<TLMUserDefaultsPrefixKey>(oldKey).keyPrefix;
            for (const auto& [storedKey, value] : defaults.dictionaryRepresentation()) {
                if (storedKey.size() < prefix.size() || storedKey.compare(0, prefix.size(), prefix) != 0) continue;
                const std::string target = newKey + storedKey.substr(prefix.size());
                defaults.setObject(target, value);
                defaults.removeObjectForKey(storedKey);
                TLMLogVerbose(kTLMLogTag, "Migrating key " + storedKey + " -> " + target);
            }
        }
    }
    setObject(defaults::Value(true), marker);
}
