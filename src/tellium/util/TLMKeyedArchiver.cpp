#include "tellium/util/TLMKeyedArchiver.h"

#include <mutex>
#include <unordered_map>

using json = nlohmann::json;

// ---- registry ------------------------------------------------------------------------------

namespace {
struct Registry {
    std::mutex mutex;
    std::unordered_map<std::string, TLMArchiveRegistry::Factory> factories;
    std::unordered_map<std::string, std::string> migrations;
};
Registry& registry() {
    static auto* r = new Registry;
    return *r;
}
}  // namespace

void TLMArchiveRegistry::registerClass(const std::string& name, Factory factory) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.factories[name] = std::move(factory);
}

void TLMArchiveRegistry::addMigrationClasses(const std::map<std::string, std::string>& oldToNew) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    for (const auto& [from, to] : oldToNew) r.migrations[from] = to;
}

std::shared_ptr<TLMCoding> TLMArchiveRegistry::make(const std::string& name) {
    TLMRegisterCoreArchiveClasses();
    Factory factory;
    {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        auto it = r.factories.find(name);
        if (it == r.factories.end()) {
            auto m = r.migrations.find(name);
            if (m != r.migrations.end()) it = r.factories.find(m->second);
        }
        if (it == r.factories.end()) return nullptr;
        factory = it->second;
    }
    return factory();
}

// ---- writing -------------------------------------------------------------------------------

json TLMKeyedArchiver::encodeRoot(const TLMCoding& object) {
    TLMKeyedArchiver coder;
    object.encodeWithCoder(coder);
    coder.map_["$class"] = object.archiveClassName();
    return std::move(coder.map_);
}

void TLMKeyedArchiver::encodeString(const char* key, const std::optional<std::string>& value) {
    if (value) map_[key] = *value;
}
void TLMKeyedArchiver::encodeBool(const char* key, bool value) { map_[key] = value; }
void TLMKeyedArchiver::encodeDouble(const char* key, double value) { map_[key] = value; }
void TLMKeyedArchiver::encodeInt64(const char* key, int64_t value) { map_[key] = value; }
void TLMKeyedArchiver::encodeDate(const char* key, const std::optional<TLMDate>& value) {
    if (value) map_[key] = TLMDateToNanoseconds(*value);
}
void TLMKeyedArchiver::encodeObject(const char* key, const std::shared_ptr<const TLMCoding>& object) {
    if (object) map_[key] = encodeRoot(*object);
}
void TLMKeyedArchiver::encodeObjects(const char* key,
                                     const std::optional<std::vector<std::shared_ptr<TLMCoding>>>& objects) {
    if (!objects) return;
    json list = json::array();
    for (const auto& o : *objects) {
        if (o) list.push_back(encodeRoot(*o));
    }
    map_[key] = std::move(list);
}
void TLMKeyedArchiver::encodeStrings(const char* key, const std::optional<std::vector<std::string>>& values) {
    if (values) map_[key] = *values;
}
void TLMKeyedArchiver::encodeStringMap(const char* key,
                                       const std::optional<std::map<std::string, std::string>>& values) {
    if (values) map_[key] = *values;
}
void TLMKeyedArchiver::encodeJson(const char* key, const std::optional<TLMJson>& value) {
    // Kept as the text of the value, so its key order survives the archive.
    if (value) map_[key] = json{{"$json", value->dump(-1, ' ', false, json::error_handler_t::replace)}};
}

// ---- reading -------------------------------------------------------------------------------

const json* TLMKeyedUnarchiver::find(const char* key) const {
    if (!map_.is_object()) return nullptr;
    auto it = map_.find(key);
    return it == map_.end() ? nullptr : &*it;
}

bool TLMKeyedUnarchiver::contains(const char* key) const { return find(key) != nullptr; }

std::optional<std::string> TLMKeyedUnarchiver::decodeString(const char* key) const {
    auto v = find(key);
    if (!v || v->is_null()) return std::nullopt;
    if (!v->is_string()) {
        failed_ = true;
        return std::nullopt;
    }
    return v->get_ref<const std::string&>();
}

bool TLMKeyedUnarchiver::decodeBool(const char* key) const {
    auto v = find(key);
    if (!v) return false;
    if (v->is_boolean()) return v->get<bool>();
    if (v->is_number_integer()) return v->get<int64_t>() != 0;
    failed_ = true;
    return false;
}

double TLMKeyedUnarchiver::decodeDouble(const char* key) const {
    auto v = find(key);
    if (!v) return 0;
    if (v->is_number()) return v->get<double>();
    failed_ = true;
    return 0;
}

int64_t TLMKeyedUnarchiver::decodeInt64(const char* key) const {
    auto v = find(key);
    if (!v) return 0;
    if (v->is_number_integer()) return v->get<int64_t>();
    failed_ = true;
    return 0;
}

std::optional<TLMDate> TLMKeyedUnarchiver::decodeDate(const char* key) const {
    auto v = find(key);
    if (!v || v->is_null()) return std::nullopt;
    if (!v->is_number_integer()) {
        failed_ = true;
        return std::nullopt;
    }
    return TLMDateFromNanoseconds(v->get<int64_t>());
}

std::shared_ptr<TLMCoding> TLMKeyedUnarchiver::decodeObject(const char* key) const {
    auto v = find(key);
    if (!v || v->is_null()) return nullptr;
    auto object = decodeRoot(*v);
    if (!object) failed_ = true;
    return object;
}

std::optional<std::vector<std::shared_ptr<TLMCoding>>> TLMKeyedUnarchiver::decodeObjects(const char* key) const {
    auto v = find(key);
    if (!v || v->is_null()) return std::nullopt;
    if (!v->is_array()) {
        failed_ = true;
        return std::nullopt;
    }
    std::vector<std::shared_ptr<TLMCoding>> out;
    out.reserve(v->size());
    for (const auto& e : *v) {
        auto object = decodeRoot(e);
        if (!object) {
            failed_ = true;
            return std::nullopt;
        }
        out.push_back(std::move(object));
    }
    return out;
}

std::optional<std::vector<std::string>> TLMKeyedUnarchiver::decodeStrings(const char* key) const {
    auto v = find(key);
    if (!v || v->is_null()) return std::nullopt;
    if (!v->is_array()) {
        failed_ = true;
        return std::nullopt;
    }
    std::vector<std::string> out;
    out.reserve(v->size());
    for (const auto& e : *v) {
        if (!e.is_string()) {
            failed_ = true;
            return std::nullopt;
        }
        out.push_back(e.get<std::string>());
    }
    return out;
}

std::optional<std::map<std::string, std::string>> TLMKeyedUnarchiver::decodeStringMap(const char* key) const {
    auto v = find(key);
    if (!v || v->is_null()) return std::nullopt;
    if (!v->is_object()) {
        failed_ = true;
        return std::nullopt;
    }
    std::map<std::string, std::string> out;
    for (auto it = v->begin(); it != v->end(); ++it) {
        if (!it.value().is_string()) {
            failed_ = true;
            return std::nullopt;
        }
        out.emplace(it.key(), it.value().get<std::string>());
    }
    return out;
}

std::optional<TLMJson> TLMKeyedUnarchiver::decodeJson(const char* key) const {
    auto v = find(key);
    if (!v || v->is_null()) return std::nullopt;
    if (!v->is_object()) {
        failed_ = true;
        return std::nullopt;
    }
    auto text = v->find("$json");
    if (text == v->end() || !text->is_string()) {
        failed_ = true;
        return std::nullopt;
    }
    auto parsed = TLMJson::parse(text->get_ref<const std::string&>(), nullptr, false);
    if (parsed.is_discarded()) {
        failed_ = true;
        return std::nullopt;
    }
    return parsed;
}

std::shared_ptr<TLMCoding> TLMKeyedUnarchiver::decodeRoot(const json& map) {
    if (!map.is_object()) return nullptr;
    auto cls = map.find("$class");
    if (cls == map.end() || !cls->is_string()) return nullptr;
    auto object = TLMArchiveRegistry::make(cls->get_ref<const std::string&>());
    if (!object) return nullptr;
    TLMKeyedUnarchiver coder(map);
    if (!object->initWithCoder(coder) || coder.failed()) return nullptr;
    return object;
}
