#include "tellium/model/TLMSerializableObject.h"

#include "tellium/util/TLMUtility.h"

bool TLMSerializableObject::appendJson(std::string& out) const {
    const TLMJson json = serializeToDictionary();
    if (json.is_null()) return false;
    auto text = tlmjson::dump(json, false);
    if (!text) return false;
    out += *text;
    return true;
}

namespace tlmjson {

namespace {
const TLMJson* find(const TLMJson& json, const char* key) {
    if (!json.is_object()) return nullptr;
    auto it = json.find(key);
    if (it == json.end() || it->is_null()) return nullptr;
    return &*it;
}
}  // namespace

std::optional<std::string> string(const TLMJson& json, const char* key, bool& ok) {
    auto v = find(json, key);
    if (!v) return std::nullopt;
    if (!v->is_string()) {
        ok = false;
        return std::nullopt;
    }
    return v->get<std::string>();
}

std::optional<int64_t> integer(const TLMJson& json, const char* key, bool& ok) {
    auto v = find(json, key);
    if (!v) return std::nullopt;
    if (!v->is_number_integer()) {
        ok = false;
        return std::nullopt;
    }
    return v->get<int64_t>();
}

std::optional<double> number(const TLMJson& json, const char* key, bool& ok) {
    auto v = find(json, key);
    if (!v) return std::nullopt;
    if (!v->is_number()) {
        ok = false;
        return std::nullopt;
    }
    return v->get<double>();
}

std::optional<bool> boolean(const TLMJson& json, const char* key, bool& ok) {
    auto v = find(json, key);
    if (!v) return std::nullopt;
    if (!v->is_boolean()) {
        ok = false;
        return std::nullopt;
    }
    return v->get<bool>();
}

std::optional<TLMDate> date(const TLMJson& json, const char* key, bool& ok) {
    auto text = string(json, key, ok);
    if (!text) return std::nullopt;
    auto d = TLMUtility::dateFromISO8601(*text);
    if (!d) ok = false;
    return d;
}

const TLMJson* object(const TLMJson& json, const char* key, bool& ok) {
    auto v = find(json, key);
    if (v && !v->is_object()) {
        ok = false;
        return nullptr;
    }
    return v;
}

const TLMJson* array(const TLMJson& json, const char* key, bool& ok) {
    auto v = find(json, key);
    if (v && !v->is_array()) {
        ok = false;
        return nullptr;
    }
    return v;
}

std::optional<std::string> dump(const TLMJson& json, bool pretty) {
    try {
        return json.dump(pretty ? 2 : -1, ' ', false, TLMJson::error_handler_t::replace);
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace tlmjson
