#include "tellium/util/TLMKeyedArchiver.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
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

namespace {

// CBOR as nlohmann writes it: a head in its shortest form, numbers big-endian.
void cborHead(std::string& out, uint8_t major, uint64_t n) {
    if (n <= 0x17) {
        out.push_back(static_cast<char>(major | n));
        return;
    }
    int bytes = 8;
    uint8_t info = 27;
    if (n <= 0xFF) bytes = 1, info = 24;
    else if (n <= 0xFFFF) bytes = 2, info = 25;
    else if (n <= 0xFFFFFFFFu) bytes = 4, info = 26;
    out.push_back(static_cast<char>(major | info));
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
}

void cborString(std::string& out, std::string_view text) {
    cborHead(out, 0x60, text.size());
    out.append(text);
}

void cborInt(std::string& out, int64_t value) {
    if (value >= 0) cborHead(out, 0x00, static_cast<uint64_t>(value));
    else cborHead(out, 0x20, static_cast<uint64_t>(-1 - value));
}

void cborDouble(std::string& out, double value) {
    if (std::isnan(value)) {
        out.append("\xF9\x7E\x00", 3);
    } else if (std::isinf(value)) {
        out.append(value > 0 ? std::string_view("\xF9\x7C\x00", 3) : std::string_view("\xF9\xFC\x00", 3));
    } else if (value >= static_cast<double>(std::numeric_limits<float>::lowest()) &&
               value <= static_cast<double>(std::numeric_limits<float>::max()) &&
               static_cast<double>(static_cast<float>(value)) == value) {
        // A float that holds the value exactly is written as one, as nlohmann does.
        out.push_back(static_cast<char>(0xFA));
        const uint32_t bits = std::bit_cast<uint32_t>(static_cast<float>(value));
        for (int i = 3; i >= 0; --i) out.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
    } else {
        out.push_back(static_cast<char>(0xFB));
        const uint64_t bits = std::bit_cast<uint64_t>(value);
        for (int i = 7; i >= 0; --i) out.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
    }
}

std::string jsonText(const TLMJson& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace

json TLMKeyedArchiver::encodeRoot(const TLMCoding& object) {
    TLMKeyedArchiver coder;
    object.encodeWithCoder(coder);
    coder.map_["$class"] = object.archiveClassName();
    return std::move(coder.map_);
}

void TLMKeyedArchiver::archiveRoot(const TLMCoding& object, std::string& out) {
    std::string values;
    values.reserve(1024);
    TLMKeyedArchiver coder(&values);
    object.encodeWithCoder(coder);
    coder.finishInto(object, out);
}

void TLMKeyedArchiver::finishInto(const TLMCoding& object, std::string& out) {
    entries_.push_back({"$class", values_->size(), 0});
    cborString(*values_, object.archiveClassName());
    entries_.back().end = values_->size();
    // A JSON object keeps its keys in byte order, and a key set twice keeps its last value.
    std::stable_sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) { return a.key < b.key; });
    std::size_t count = 0;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (i + 1 == entries_.size() || entries_[i + 1].key != entries_[i].key) ++count;
    }
    cborHead(out, 0xA0, count);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (i + 1 < entries_.size() && entries_[i + 1].key == entries_[i].key) continue;
        cborString(out, entries_[i].key);
        out.append(*values_, entries_[i].begin, entries_[i].end - entries_[i].begin);
    }
}

std::string& TLMKeyedArchiver::beginValue(const char* key) {
    entries_.push_back({key, values_->size(), 0});
    return *values_;
}

void TLMKeyedArchiver::endValue() { entries_.back().end = values_->size(); }

void TLMKeyedArchiver::encodeString(const char* key, const std::optional<std::string>& value) {
    if (!value) return;
    if (!values_) {
        map_[key] = *value;
        return;
    }
    cborString(beginValue(key), *value);
    endValue();
}

void TLMKeyedArchiver::encodeBool(const char* key, bool value) {
    if (!values_) {
        map_[key] = value;
        return;
    }
    beginValue(key).push_back(static_cast<char>(value ? 0xF5 : 0xF4));
    endValue();
}

void TLMKeyedArchiver::encodeDouble(const char* key, double value) {
    if (!values_) {
        map_[key] = value;
        return;
    }
    cborDouble(beginValue(key), value);
    endValue();
}

void TLMKeyedArchiver::encodeInt64(const char* key, int64_t value) {
    if (!values_) {
        map_[key] = value;
        return;
    }
    cborInt(beginValue(key), value);
    endValue();
}

void TLMKeyedArchiver::encodeDate(const char* key, const std::optional<TLMDate>& value) {
    if (value) encodeInt64(key, TLMDateToNanoseconds(*value));
}

void TLMKeyedArchiver::encodeObject(const char* key, const std::shared_ptr<const TLMCoding>& object) {
    if (!object) return;
    if (!values_) {
        map_[key] = encodeRoot(*object);
        return;
    }
    archiveRoot(*object, beginValue(key));
    endValue();
}

void TLMKeyedArchiver::encodeObjects(const char* key,
                                     const std::optional<std::vector<std::shared_ptr<TLMCoding>>>& objects) {
    if (!objects) return;
    if (!values_) {
        json list = json::array();
        for (const auto& o : *objects) {
            if (o) list.push_back(encodeRoot(*o));
        }
        map_[key] = std::move(list);
        return;
    }
    std::string& out = beginValue(key);
    cborHead(out, 0x80, static_cast<uint64_t>(std::count_if(objects->begin(), objects->end(), [](const auto& o) {
                 return o != nullptr;
             })));
    for (const auto& o : *objects) {
        if (o) archiveRoot(*o, out);
    }
    endValue();
}

void TLMKeyedArchiver::encodeStrings(const char* key, const std::optional<std::vector<std::string>>& values) {
    if (!values) return;
    if (!values_) {
        map_[key] = *values;
        return;
    }
    std::string& out = beginValue(key);
    cborHead(out, 0x80, values->size());
    for (const auto& v : *values) cborString(out, v);
    endValue();
}

void TLMKeyedArchiver::encodeStringMap(const char* key,
                                       const std::optional<std::map<std::string, std::string>>& values) {
    if (!values) return;
    if (!values_) {
        map_[key] = *values;
        return;
    }
    // A std::map is already in the byte order of a JSON object's keys.
    std::string& out = beginValue(key);
    cborHead(out, 0xA0, values->size());
    for (const auto& [k, v] : *values) {
        cborString(out, k);
        cborString(out, v);
    }
    endValue();
}

void TLMKeyedArchiver::encodeJson(const char* key, const std::optional<TLMJson>& value) {
    // Kept as the text of the value, so its key order survives the archive.
    if (!value) return;
    if (!values_) {
        map_[key] = json{{"$json", jsonText(*value)}};
        return;
    }
    std::string& out = beginValue(key);
    cborHead(out, 0xA0, 1);
    cborString(out, "$json");
    cborString(out, jsonText(*value));
    endValue();
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
