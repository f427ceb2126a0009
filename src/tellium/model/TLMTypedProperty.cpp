#include "tellium/model/TLMTypedProperty.h"

#include <cmath>

#include "tellium/TLMLogger.h"
#include "tellium/util/TLMUtility.h"

// ---- base ----------------------------------------------------------------------------------

TLMJson TLMTypedProperty::serializeToDictionary() const { return tlmfields::toJson(*this, fields()); }

bool TLMTypedProperty::deserializeFromDictionary(const TLMJson& json) { return tlmfields::fromJson(*this, json, fields()); }

bool TLMTypedProperty::isEqual(const TLMSerializableObject& other) const {
    auto o = dynamic_cast<const TLMTypedProperty*>(&other);
    return o && tlmfields::equal(*this, *o, fields());
}

void TLMTypedProperty::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }

// The type is the archived one, not the one the subclass's constructor set.
bool TLMTypedProperty::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }

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

// ---- boolean ------------------------------------------------------------------------------------

TLMJson TLMBooleanTypedProperty::serializeToDictionary() const { return tlmfields::toJson(*this, fields()); }
bool TLMBooleanTypedProperty::deserializeFromDictionary(const TLMJson& json) { return tlmfields::fromJson(*this, json, fields()); }
bool TLMBooleanTypedProperty::isEqual(const TLMSerializableObject& other) const {
    auto o = dynamic_cast<const TLMBooleanTypedProperty*>(&other);
    return o && tlmfields::equal(*this, *o, fields());
}
void TLMBooleanTypedProperty::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }
bool TLMBooleanTypedProperty::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }
bool TLMBooleanTypedProperty::appendJson(std::string& out) const { return tlmfields::appendJson(*this, out, fields()); }

// ---- date and time ------------------------------------------------------------------------------

TLMJson TLMDateTimeTypedProperty::serializeToDictionary() const { return tlmfields::toJson(*this, fields()); }
bool TLMDateTimeTypedProperty::deserializeFromDictionary(const TLMJson& json) { return tlmfields::fromJson(*this, json, fields()); }
bool TLMDateTimeTypedProperty::isEqual(const TLMSerializableObject& other) const {
    auto o = dynamic_cast<const TLMDateTimeTypedProperty*>(&other);
    return o && tlmfields::equal(*this, *o, fields());
}
void TLMDateTimeTypedProperty::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }
bool TLMDateTimeTypedProperty::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }
bool TLMDateTimeTypedProperty::appendJson(std::string& out) const { return tlmfields::appendJson(*this, out, fields()); }

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
TLMJson TLMDoubleTypedProperty::serializeToDictionary() const { return tlmfields::toJson(*this, fields()); }
bool TLMDoubleTypedProperty::deserializeFromDictionary(const TLMJson& json) { return tlmfields::fromJson(*this, json, fields()); }
bool TLMDoubleTypedProperty::isEqual(const TLMSerializableObject& other) const {
    auto o = dynamic_cast<const TLMDoubleTypedProperty*>(&other);
    return o && tlmfields::equal(*this, *o, fields());
}
void TLMDoubleTypedProperty::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }
bool TLMDoubleTypedProperty::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }
bool TLMDoubleTypedProperty::appendJson(std::string& out) const { return tlmfields::appendJson(*this, out, fields()); }

// ---- long ---------------------------------------------------------------------------------------

TLMJson TLMLongTypedProperty::serializeToDictionary() const { return tlmfields::toJson(*this, fields()); }
bool TLMLongTypedProperty::deserializeFromDictionary(const TLMJson& json) { return tlmfields::fromJson(*this, json, fields()); }
bool TLMLongTypedProperty::isEqual(const TLMSerializableObject& other) const {
    auto o = dynamic_cast<const TLMLongTypedProperty*>(&other);
    return o && tlmfields::equal(*this, *o, fields());
}
void TLMLongTypedProperty::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }
bool TLMLongTypedProperty::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }
bool TLMLongTypedProperty::appendJson(std::string& out) const { return tlmfields::appendJson(*this, out, fields()); }

// ---- string -------------------------------------------------------------------------------------

TLMJson TLMStringTypedProperty::serializeToDictionary() const { return tlmfields::toJson(*this, fields()); }
bool TLMStringTypedProperty::deserializeFromDictionary(const TLMJson& json) { return tlmfields::fromJson(*this, json, fields()); }
bool TLMStringTypedProperty::isEqual(const TLMSerializableObject& other) const {
    auto o = dynamic_cast<const TLMStringTypedProperty*>(&other);
    return o && tlmfields::equal(*this, *o, fields());
}
void TLMStringTypedProperty::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }
bool TLMStringTypedProperty::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }
bool TLMStringTypedProperty::appendJson(std::string& out) const { return tlmfields::appendJson(*this, out, fields()); }
