#include "tellium_analytics/TLMEventProperties.h"

#include <algorithm>

#include "tellium/TLMLogger.h"
#include "tellium_analytics/TLMAnalytics.h"

bool TLMEventProperties::validateKey(const std::string& key) const {
    if (key.empty()) {
        TLMLogError(TLMAnalytics::logTag(), std::string("Key cannot be null or empty. Property will not be added."));
        return false;
    }
    return true;
}

void TLMEventProperties::store(const std::string& key, std::shared_ptr<TLMTypedProperty> property) {
    property->name = key;
    if (!properties_.count(key)) order_.push_back(key);
    properties_[key] = std::move(property);
}

void TLMEventProperties::setString(const std::optional<std::string>& value, const std::string& key) {
    if (!validateKey(key)) return;
    if (!value) {
        TLMLogError(TLMAnalytics::logTag(), std::string("Value cannot be null. Property will not be added."));
        return;
    }
    auto p = std::make_shared<TLMStringTypedProperty>();
    p->value = value;
    store(key, std::move(p));
}

void TLMEventProperties::setDouble(double value, const std::string& key) {
    if (!validateKey(key)) return;
    auto p = std::make_shared<TLMDoubleTypedProperty>();
    if (!p->setValue(value)) return;
    store(key, std::move(p));
}

void TLMEventProperties::setInt64(int64_t value, const std::string& key) {
    if (!validateKey(key)) return;
    auto p = std::make_shared<TLMLongTypedProperty>();
    p->value = value;
    store(key, std::move(p));
}

void TLMEventProperties::setBool(bool value, const std::string& key) {
    if (!validateKey(key)) return;
    auto p = std::make_shared<TLMBooleanTypedProperty>();
    p->value = value;
    store(key, std::move(p));
}

void TLMEventProperties::setDate(const std::optional<TLMDate>& value, const std::string& key) {
    if (!validateKey(key)) return;
    if (!value) {
        TLMLogError(TLMAnalytics::logTag(), std::string("Value cannot be null. Property will not be added."));
        return;
    }
    auto p = std::make_shared<TLMDateTimeTypedProperty>();
    p->value = value;
    store(key, std::move(p));
}

std::vector<std::shared_ptr<TLMTypedProperty>> TLMEventProperties::properties() const {
    std::vector<std::shared_ptr<TLMTypedProperty>> out;
    for (const auto& key : order_) out.push_back(properties_.at(key));
    return out;
}

TLMJson TLMEventProperties::serializeToArray() const {
    TLMJson list = TLMJson::array();
    for (const auto& p : properties()) list.push_back(p->serializeToDictionary());
    return list;
}

std::shared_ptr<TLMEventProperties> TLMEventProperties::fromProperties(
    const std::vector<std::shared_ptr<TLMTypedProperty>>& list) {
    auto out = std::make_shared<TLMEventProperties>();
    for (const auto& p : list) {
        if (p && p->name) out->store(*p->name, p);
    }
    return out;
}

// ---- as a field of a record's table -------------------------------------------------------------

bool hasJson(const std::shared_ptr<TLMEventProperties>& v, unsigned) { return v && !v->isEmpty(); }

void putJson(TLMJson& j, const char* key, const std::shared_ptr<TLMEventProperties>& v, unsigned options) {
    if (hasJson(v, options)) j[key] = v->serializeToArray();
}

bool appendJsonValue(std::string& out, const std::shared_ptr<TLMEventProperties>& v, unsigned) {
    out += '[';
    bool first = true;
    for (const auto& p : v->properties()) {
        if (!first) out += ',';
        first = false;
        if (!p->appendJson(out)) out += "null";
    }
    out += ']';
    return true;
}

void readJson(const TLMJson& j, const char* key, std::shared_ptr<TLMEventProperties>& v, bool& ok) {
    v.reset();
    const TLMJson* list = tlmjson::array(j, key, ok);
    if (!list) return;
    std::vector<std::shared_ptr<TLMTypedProperty>> properties;
    for (const auto& entry : *list) {
        auto p = TLMTypedProperty::propertyFromDictionary(entry);
        if (!p) {
            ok = false;
            return;
        }
        properties.push_back(std::move(p));
    }
    v = TLMEventProperties::fromProperties(properties);
}

void encode(TLMKeyedArchiver& c, const char* key, const std::shared_ptr<TLMEventProperties>& v) {
    if (!v || v->isEmpty()) return;
    std::vector<std::shared_ptr<TLMCoding>> list;
    for (const auto& p : v->properties()) list.push_back(p);
    c.encodeObjects(key, list);
}

void decode(const TLMKeyedUnarchiver& c, const char* key, std::shared_ptr<TLMEventProperties>& v) {
    v.reset();
    auto list = c.decodeObjects(key);
    if (!list) return;
    std::vector<std::shared_ptr<TLMTypedProperty>> properties;
    for (const auto& object : *list) {
        if (auto p = std::dynamic_pointer_cast<TLMTypedProperty>(object)) properties.push_back(std::move(p));
    }
    v = TLMEventProperties::fromProperties(properties);
}

bool same(const std::shared_ptr<TLMEventProperties>& a, const std::shared_ptr<TLMEventProperties>& b, unsigned) {
    const TLMJson mine = a ? a->serializeToArray() : TLMJson::array();
    const TLMJson theirs = b ? b->serializeToArray() : TLMJson::array();
    return mine == theirs;
}
