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
