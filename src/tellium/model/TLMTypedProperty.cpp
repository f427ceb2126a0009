#include "tellium/model/TLMTypedProperty.h"

#include <cmath>

#include "tellium/TLMLogger.h"
#include "tellium/util/TLMUtility.h"

// ---- base ----------------------------------------------------------------------------------

TLMJson TLMTypedProperty::serializeToDictionary() const {
    TLMJson json = TLMJson::object();
    if (type) json["type"] = *type;
    if (name) json["name"] = *name;
    return json;
}

bool TLMTypedProperty::deserializeFromDictionary(const TLMJson& json) {
    if (!json.is_object()) return false;
    bool ok = true;
    type = tlmjson::string(json, "type", ok);
    name = tlmjson::string(json, "name", ok);
    return ok;
}

bool TLMTypedProperty::isEqual(const TLMSerializableObject& other) const {
    auto o = dynamic_cast<const TLMTypedProperty*>(&other);
    return o && TLMOptionalEqual(type, o->type);
}

void TLMTypedProperty::encodeWithCoder(TLMKeyedArchiver& c) const {
    c.encodeString("type", type);
    c.encodeString("name", name);
}

bool TLMTypedProperty::initWithCoder(const TLMKeyedUnarchiver& c) {
    // The type is the archived one, not the one the subclass's constructor set.
    type = c.decodeString("type");
    name = c.decodeString("name");
    return !c.failed();
}

std::shared_ptr<TLMTypedProperty> TLMTypedProperty::propertyFromDictionary(const TLMJson& json) {
    bool ok = true;
    auto type = tlmjson::string(json, "type", ok);
    if (!type) return nullptr;
    std::shared_ptr<TLMTypedProperty> p;
    if (*type == "boolean") p = std::make_shared<TLMBooleanTypedProperty>();
    else if (*type == "dateTime") p = std::make_shared<TLMDateTimeTypedProperty>();
    else if (*type == "double") p = std::make_shared<TLMDoubleTypedProperty>();
    else if (*type == "long") p = std::make_shared<TLMLongTypedProperty>();
    else if (*type == "string") p = std::make_shared<TLMStringTypedProperty>();
    else return nullptr;
    return p->deserializeFromDictionary(json) ? p : nullptr;
}

// ---- boolean -------------------------------------------------------------------------------

TLMJson TLMBooleanTypedProperty::serializeToDictionary() const {
    auto json = TLMTypedProperty::serializeToDictionary();
    json["value"] = value;
    return json;
}
bool TLMBooleanTypedProperty::deserializeFromDictionary(const TLMJson& json) {
    if (!TLMTypedProperty::deserializeFromDictionary(json)) return false;
    bool ok = true;
    value = tlmjson::boolean(json, "value", ok).value_or(false);
    return ok;
}
bool TLMBooleanTypedProperty::isEqual(const TLMSerializableObject& other) const {
    auto o = dynamic_cast<const TLMBooleanTypedProperty*>(&other);
    return o && TLMTypedProperty::isEqual(other) && value == o->value;
}
void TLMBooleanTypedProperty::encodeWithCoder(TLMKeyedArchiver& c) const {
    TLMTypedProperty::encodeWithCoder(c);
    c.encodeBool("value", value);
}
bool TLMBooleanTypedProperty::initWithCoder(const TLMKeyedUnarchiver& c) {
    if (!TLMTypedProperty::initWithCoder(c)) return false;
    value = c.decodeBool("value");
    return !c.failed();
}

// ---- date and time -------------------------------------------------------------------------

TLMJson TLMDateTimeTypedProperty::serializeToDictionary() const {
    auto json = TLMTypedProperty::serializeToDictionary();
    if (value) json["value"] = TLMUtility::dateToISO8601(*value);
    return json;
}
bool TLMDateTimeTypedProperty::deserializeFromDictionary(const TLMJson& json) {
    if (!TLMTypedProperty::deserializeFromDictionary(json)) return false;
    bool ok = true;
    value = tlmjson::date(json, "value", ok);
    return ok;
}
bool TLMDateTimeTypedProperty::isEqual(const TLMSerializableObject& other) const {
    auto o = dynamic_cast<const TLMDateTimeTypedProperty*>(&other);
    return o && TLMTypedProperty::isEqual(other) && TLMOptionalEqual(value, o->value);
}
void TLMDateTimeTypedProperty::encodeWithCoder(TLMKeyedArchiver& c) const {
    TLMTypedProperty::encodeWithCoder(c);
    c.encodeDate("value", value);
}
bool TLMDateTimeTypedProperty::initWithCoder(const TLMKeyedUnarchiver& c) {
    if (!TLMTypedProperty::initWithCoder(c)) return false;
    value = c.decodeDate("value");
    return !c.failed();
}

// ---- double --------------------------------------------------------------------------------

bool TLMDoubleTypedProperty::setValue(double value) {
    if (!std::isfinite(value)) {
        TLMLogError(kTLMLogTag, "Double property '" + name.value_or("") +
                                    "' must be a finite number. Property will not be added.");
        return false;
    }
    value_ = value;
    return true;
}
TLMJson TLMDoubleTypedProperty::serializeToDictionary() const {
    auto json = TLMTypedProperty::serializeToDictionary();
    json["value"] = value_;
    return json;
}
bool TLMDoubleTypedProperty::deserializeFromDictionary(const TLMJson& json) {
    if (!TLMTypedProperty::deserializeFromDictionary(json)) return false;
    bool ok = true;
    auto v = tlmjson::number(json, "value", ok);
    return ok && (!v || setValue(*v));
}
bool TLMDoubleTypedProperty::isEqual(const TLMSerializableObject& other) const {
    auto o = dynamic_cast<const TLMDoubleTypedProperty*>(&other);
    return o && TLMTypedProperty::isEqual(other) && value_ == o->value_;
}
void TLMDoubleTypedProperty::encodeWithCoder(TLMKeyedArchiver& c) const {
    TLMTypedProperty::encodeWithCoder(c);
    c.encodeDouble("value", value_);
}
bool TLMDoubleTypedProperty::initWithCoder(const TLMKeyedUnarchiver& c) {
    if (!TLMTypedProperty::initWithCoder(c)) return false;
    double v = c.decodeDouble("value");
    return !c.failed() && setValue(v);
}

// ---- long ----------------------------------------------------------------------------------

TLMJson TLMLongTypedProperty::serializeToDictionary() const {
    auto json = TLMTypedProperty::serializeToDictionary();
    json["value"] = value;
    return json;
}
bool TLMLongTypedProperty::deserializeFromDictionary(const TLMJson& json) {
    if (!TLMTypedProperty::deserializeFromDictionary(json)) return false;
    bool ok = true;
    value = tlmjson::integer(json, "value", ok).value_or(0);
    return ok;
}
bool TLMLongTypedProperty::isEqual(const TLMSerializableObject& other) const {
    auto o = dynamic_cast<const TLMLongTypedProperty*>(&other);
    return o && TLMTypedProperty::isEqual(other) && value == o->value;
}
void TLMLongTypedProperty::encodeWithCoder(TLMKeyedArchiver& c) const {
    TLMTypedProperty::encodeWithCoder(c);
    c.encodeInt64("value", value);
}
bool TLMLongTypedProperty::initWithCoder(const TLMKeyedUnarchiver& c) {
    if (!TLMTypedProperty::initWithCoder(c)) return false;
    value = c.decodeInt64("value");
    return !c.failed();
}

// ---- string --------------------------------------------------------------------------------

TLMJson TLMStringTypedProperty::serializeToDictionary() const {
    auto json = TLMTypedProperty::serializeToDictionary();
    if (value) json["value"] = *value;
    return json;
}
bool TLMStringTypedProperty::deserializeFromDictionary(const TLMJson& json) {
    if (!TLMTypedProperty::deserializeFromDictionary(json)) return false;
    bool ok = true;
    value = tlmjson::string(json, "value", ok);
    return ok;
}
bool TLMStringTypedProperty::isEqual(const TLMSerializableObject& other) const {
    auto o = dynamic_cast<const TLMStringTypedProperty*>(&other);
    return o && TLMTypedProperty::isEqual(other) && TLMOptionalEqual(value, o->value);
}
void TLMStringTypedProperty::encodeWithCoder(TLMKeyedArchiver& c) const {
    TLMTypedProperty::encodeWithCoder(c);
    c.encodeString("value", value);
}
bool TLMStringTypedProperty::initWithCoder(const TLMKeyedUnarchiver& c) {
    if (!TLMTypedProperty::initWithCoder(c)) return false;
    value = c.decodeString("value");
    return !c.failed();
}
