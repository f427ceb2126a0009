#include "tellium/model/commonschema/TLMCSExtensions.h"

#include "tellium/TLMLogger.h"
#include "tellium/util/TLMOrderedDictionary.h"

namespace {

template <class T>
const T* same(const TLMSerializableObject& other) {
    return dynamic_cast<const T*>(&other);
}

}  // namespace

// ---- metadata ------------------------------------------------------------------------------

TLMJson TLMMetadataExtension::serializeToDictionary() const {
    const auto metadata = this->metadata.snapshot();  // one whole value, whoever replaces it now
    if (!metadata || !metadata->is_object()) return TLMJson();
    return *metadata;
}
bool TLMMetadataExtension::deserializeFromDictionary(const TLMJson& json) {
    if (!json.is_object()) return false;
    metadata = json;
    return true;
}
bool TLMMetadataExtension::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMMetadataExtension>(other);
    return o && TLMOptionalEqual(metadata.load(), o->metadata.load());
}
void TLMMetadataExtension::encodeWithCoder(TLMKeyedArchiver& c) const { c.encodeJson("metadata", metadata.load()); }
bool TLMMetadataExtension::initWithCoder(const TLMKeyedUnarchiver& c) {
    metadata = c.decodeJson("metadata");
    return !c.failed();
}

// ---- protocol -----------------------------------------------------------------------------------

TLMJson TLMProtocolExtension::serializeToDictionary() const { return tlmfields::toJsonOrNull(*this, fields()); }
bool TLMProtocolExtension::deserializeFromDictionary(const TLMJson& json) { return tlmfields::fromJson(*this, json, fields()); }
bool TLMProtocolExtension::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMProtocolExtension>(other);
    return o && tlmfields::equal(*this, *o, fields());
}
void TLMProtocolExtension::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }
bool TLMProtocolExtension::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }
bool TLMProtocolExtension::appendJson(std::string& out) const { return tlmfields::appendJsonOrNothing(*this, out, fields()); }

// ---- user ---------------------------------------------------------------------------------------

TLMJson TLMUserExtension::serializeToDictionary() const { return tlmfields::toJsonOrNull(*this, fields()); }
bool TLMUserExtension::deserializeFromDictionary(const TLMJson& json) { return tlmfields::fromJson(*this, json, fields()); }
bool TLMUserExtension::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMUserExtension>(other);
    return o && tlmfields::equal(*this, *o, fields());
}
void TLMUserExtension::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }
bool TLMUserExtension::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }
bool TLMUserExtension::appendJson(std::string& out) const { return tlmfields::appendJsonOrNothing(*this, out, fields()); }

// ---- device -------------------------------------------------------------------------------------

TLMJson TLMDeviceExtension::serializeToDictionary() const { return tlmfields::toJsonOrNull(*this, fields()); }
bool TLMDeviceExtension::deserializeFromDictionary(const TLMJson& json) { return tlmfields::fromJson(*this, json, fields()); }
bool TLMDeviceExtension::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMDeviceExtension>(other);
    return o && tlmfields::equal(*this, *o, fields());
}
void TLMDeviceExtension::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }
bool TLMDeviceExtension::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }
bool TLMDeviceExtension::appendJson(std::string& out) const { return tlmfields::appendJsonOrNothing(*this, out, fields()); }

// ---- os -----------------------------------------------------------------------------------------

TLMJson TLMOSExtension::serializeToDictionary() const { return tlmfields::toJsonOrNull(*this, fields()); }
bool TLMOSExtension::deserializeFromDictionary(const TLMJson& json) { return tlmfields::fromJson(*this, json, fields()); }
bool TLMOSExtension::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMOSExtension>(other);
    return o && tlmfields::equal(*this, *o, fields());
}
void TLMOSExtension::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }
bool TLMOSExtension::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }
bool TLMOSExtension::appendJson(std::string& out) const { return tlmfields::appendJsonOrNothing(*this, out, fields()); }

// ---- app ----------------------------------------------------------------------------------------

TLMJson TLMAppExtension::serializeToDictionary() const { return tlmfields::toJsonOrNull(*this, fields()); }
bool TLMAppExtension::deserializeFromDictionary(const TLMJson& json) { return tlmfields::fromJson(*this, json, fields()); }
bool TLMAppExtension::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMAppExtension>(other);
    return o && tlmfields::equal(*this, *o, fields());
}
void TLMAppExtension::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }
bool TLMAppExtension::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }
bool TLMAppExtension::appendJson(std::string& out) const { return tlmfields::appendJsonOrNothing(*this, out, fields()); }

// ---- net ----------------------------------------------------------------------------------------

TLMJson TLMNetExtension::serializeToDictionary() const { return tlmfields::toJsonOrNull(*this, fields()); }
bool TLMNetExtension::deserializeFromDictionary(const TLMJson& json) { return tlmfields::fromJson(*this, json, fields()); }
bool TLMNetExtension::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMNetExtension>(other);
    return o && tlmfields::equal(*this, *o, fields());
}
void TLMNetExtension::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }
bool TLMNetExtension::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }
bool TLMNetExtension::appendJson(std::string& out) const { return tlmfields::appendJsonOrNothing(*this, out, fields()); }

// ---- sdk ----------------------------------------------------------------------------------------

TLMJson TLMSDKExtension::serializeToDictionary() const { return tlmfields::toJsonOrNull(*this, fields()); }
bool TLMSDKExtension::deserializeFromDictionary(const TLMJson& json) { return tlmfields::fromJson(*this, json, fields()); }
bool TLMSDKExtension::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMSDKExtension>(other);
    return o && tlmfields::equal(*this, *o, fields());
}
void TLMSDKExtension::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }
bool TLMSDKExtension::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }
bool TLMSDKExtension::appendJson(std::string& out) const { return tlmfields::appendJsonOrNothing(*this, out, fields()); }

// ---- loc ----------------------------------------------------------------------------------------

TLMJson TLMLocExtension::serializeToDictionary() const { return tlmfields::toJsonOrNull(*this, fields()); }
bool TLMLocExtension::deserializeFromDictionary(const TLMJson& json) { return tlmfields::fromJson(*this, json, fields()); }
bool TLMLocExtension::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMLocExtension>(other);
    return o && tlmfields::equal(*this, *o, fields());
}
void TLMLocExtension::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }
bool TLMLocExtension::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }
bool TLMLocExtension::appendJson(std::string& out) const { return tlmfields::appendJsonOrNothing(*this, out, fields()); }

// ---- data ----------------------------------------------------------------------------------

TLMJson TLMCSData::serializeToDictionary() const {
    const auto properties = this->properties.snapshot();  // one whole value, whoever replaces it now
    if (!properties || !properties->is_object()) return TLMJson();
    TLMOrderedDictionary out;
    if (auto it = properties->find("baseType"); it != properties->end()) out.setObject(*it, "baseType");
    if (auto it = properties->find("baseData"); it != properties->end()) out.setObject(*it, "baseData");
    for (auto it = properties->begin(); it != properties->end(); ++it) {
        if (!out.objectForKey(it.key())) out.setObject(it.value(), it.key());
    }
    return out.toJson();
}
bool TLMCSData::deserializeFromDictionary(const TLMJson& json) {
    if (!json.is_object()) return false;
    properties = json;
    return true;
}
bool TLMCSData::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMCSData>(other);
    return o && TLMOptionalEqual(properties.load(), o->properties.load());
}
void TLMCSData::encodeWithCoder(TLMKeyedArchiver& c) const { c.encodeJson("properties", properties.load()); }
bool TLMCSData::initWithCoder(const TLMKeyedUnarchiver& c) {
    properties = c.decodeJson("properties");
    return !c.failed();
}

// ---- extensions ----------------------------------------------------------------------------

TLMJson TLMCSExtensions::serializeToDictionary() const { return tlmfields::toJson(*this, fields()); }
bool TLMCSExtensions::deserializeFromDictionary(const TLMJson& json) { return tlmfields::fromJson(*this, json, fields()); }
bool TLMCSExtensions::appendJson(std::string& out) const { return tlmfields::appendJson(*this, out, fields()); }
bool TLMCSExtensions::isValid() const {
    const std::pair<const char*, const TLMModel*> records[] = {
        {"metadataExt", metadataExt.get()}, {"protocolExt", protocolExt.get()}, {"userExt", userExt.get()},
        {"deviceExt", deviceExt.get()},     {"osExt", osExt.get()},             {"appExt", appExt.get()},
        {"netExt", netExt.get()},           {"sdkExt", sdkExt.get()},           {"locExt", locExt.get()},
    };
    for (const auto& [name, record] : records) {
        if (record && !record->isValid()) {
            TLMLogVerbose(kTLMLogTag, std::string("TLMCSExtensions: \"") + name + "\" is not valid.");
            return false;
        }
    }
    return true;
}

bool TLMCSExtensions::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMCSExtensions>(other);
    return o && tlmfields::equal(*this, *o, fields());
}
void TLMCSExtensions::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }
bool TLMCSExtensions::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }

// The metadata and data parts are free-form JSON: written through their JSON object.
bool TLMMetadataExtension::appendJson(std::string& out) const { return TLMSerializableObject::appendJson(out); }
bool TLMCSData::appendJson(std::string& out) const { return TLMSerializableObject::appendJson(out); }
