#include "tellium/model/TLMDevice.h"

#include "tellium/TLMLogger.h"

// ---- wrapper SDK ---------------------------------------------------------------------------

TLMJson TLMWrapperSdk::serializeToDictionary() const { return tlmfields::toJson(*this, fields()); }

bool TLMWrapperSdk::deserializeFromDictionary(const TLMJson& json) { return tlmfields::fromJson(*this, json, fields()); }

bool TLMWrapperSdk::isEqual(const TLMSerializableObject& other) const {
    auto o = dynamic_cast<const TLMWrapperSdk*>(&other);
    return o && tlmfields::equal(*this, *o, fields());
}

void TLMWrapperSdk::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }

bool TLMWrapperSdk::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }

bool TLMWrapperSdk::appendJson(std::string& out) const {
    return tlmfields::appendJson(*this, out, fields());
}

// ---- device --------------------------------------------------------------------------------

TLMJson TLMDevice::serializeToDictionary() const { return tlmfields::toJson(*this, fields()); }

bool TLMDevice::deserializeFromDictionary(const TLMJson& json) { return tlmfields::fromJson(*this, json, fields()); }

bool TLMDevice::isValid() const {
    if (!TLMWrapperSdk::isValid()) return false;
    const char* missing = nullptr;
    if (!sdkName) missing = "sdkName";
    else if (!sdkVersion) missing = "sdkVersion";
    else if (!osName) missing = "osName";
    else if (!osVersion) missing = "osVersion";
    else if (!locale) missing = "locale";
    else if (!timeZoneOffset) missing = "timeZoneOffset";
    else if (!appVersion) missing = "appVersion";
    else if (!appBuild) missing = "appBuild";
    if (missing) {
        TLMLogVerbose(kTLMLogTag, std::string("TLMDevice: \"") + missing + "\" is not valid.");
        return false;
    }
    return true;
}

bool TLMDevice::isEqual(const TLMSerializableObject& other) const {
    auto o = dynamic_cast<const TLMDevice*>(&other);
    return o && tlmfields::equal(*this, *o, fields());
}

void TLMDevice::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }

bool TLMDevice::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }

bool TLMDevice::appendJson(std::string& out) const {
    return tlmfields::appendJson(*this, out, fields());
}
