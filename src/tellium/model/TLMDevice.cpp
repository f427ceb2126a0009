#include "tellium/model/TLMDevice.h"

#include "tellium/TLMLogger.h"

namespace {
void put(TLMJson& json, const char* key, const std::optional<std::string>& v) {
    if (v) json[key] = *v;
}
void put(TLMJson& json, const char* key, const std::optional<int64_t>& v) {
    if (v) json[key] = *v;
}
}  // namespace

// ---- wrapper SDK ---------------------------------------------------------------------------

TLMJson TLMWrapperSdk::serializeToDictionary() const {
    TLMJson json = TLMJson::object();
    put(json, "wrapperSdkVersion", wrapperSdkVersion);
    put(json, "wrapperSdkName", wrapperSdkName);
    put(json, "wrapperRuntimeVersion", wrapperRuntimeVersion);
    put(json, "liveUpdateReleaseLabel", liveUpdateReleaseLabel);
    put(json, "liveUpdateDeploymentKey", liveUpdateDeploymentKey);
    put(json, "liveUpdatePackageHash", liveUpdatePackageHash);
    return json;
}

bool TLMWrapperSdk::deserializeFromDictionary(const TLMJson& json) {
    if (!json.is_object()) return false;
    bool ok = true;
    wrapperSdkVersion = tlmjson::string(json, "wrapperSdkVersion", ok);
    wrapperSdkName = tlmjson::string(json, "wrapperSdkName", ok);
    wrapperRuntimeVersion = tlmjson::string(json, "wrapperRuntimeVersion", ok);
    liveUpdateReleaseLabel = tlmjson::string(json, "liveUpdateReleaseLabel", ok);
    liveUpdateDeploymentKey = tlmjson::string(json, "liveUpdateDeploymentKey", ok);
    liveUpdatePackageHash = tlmjson::string(json, "liveUpdatePackageHash", ok);
    return ok;
}

bool TLMWrapperSdk::isEqual(const TLMSerializableObject& other) const {
    auto o = dynamic_cast<const TLMWrapperSdk*>(&other);
    return o && TLMOptionalEqual(wrapperSdkVersion, o->wrapperSdkVersion) &&
           TLMOptionalEqual(wrapperSdkName, o->wrapperSdkName) &&
           TLMOptionalEqual(wrapperRuntimeVersion, o->wrapperRuntimeVersion) &&
           TLMOptionalEqual(liveUpdateReleaseLabel, o->liveUpdateReleaseLabel) &&
           TLMOptionalEqual(liveUpdateDeploymentKey, o->liveUpdateDeploymentKey) &&
           TLMOptionalEqual(liveUpdatePackageHash, o->liveUpdatePackageHash);
}

void TLMWrapperSdk::encodeWithCoder(TLMKeyedArchiver& c) const {
    c.encodeString("wrapperSdkVersion", wrapperSdkVersion);
    c.encodeString("wrapperSdkName", wrapperSdkName);
    c.encodeString("wrapperRuntimeVersion", wrapperRuntimeVersion);
    c.encodeString("liveUpdateReleaseLabel", liveUpdateReleaseLabel);
    c.encodeString("liveUpdateDeploymentKey", liveUpdateDeploymentKey);
    c.encodeString("liveUpdatePackageHash", liveUpdatePackageHash);
}

bool TLMWrapperSdk::initWithCoder(const TLMKeyedUnarchiver& c) {
    wrapperSdkVersion = c.decodeString("wrapperSdkVersion");
    wrapperSdkName = c.decodeString("wrapperSdkName");
    wrapperRuntimeVersion = c.decodeString("wrapperRuntimeVersion");
    liveUpdateReleaseLabel = c.decodeString("liveUpdateReleaseLabel");
    liveUpdateDeploymentKey = c.decodeString("liveUpdateDeploymentKey");
    liveUpdatePackageHash = c.decodeString("liveUpdatePackageHash");
    return !c.failed();
}

// ---- device --------------------------------------------------------------------------------

TLMJson TLMDevice::serializeToDictionary() const {
    TLMJson json = TLMWrapperSdk::serializeToDictionary();
    put(json, "sdkName", sdkName);
    put(json, "sdkVersion", sdkVersion);
    put(json, "model", model);
    put(json, "oemName", oemName);
    put(json, "osName", osName);
    put(json, "osVersion", osVersion);
    put(json, "osBuild", osBuild);
    put(json, "osApiLevel", osApiLevel);
    put(json, "locale", locale);
    put(json, "timeZoneOffset", timeZoneOffset);
    put(json, "screenSize", screenSize);
    put(json, "appVersion", appVersion);
    put(json, "carrierName", carrierName);
    put(json, "carrierCountry", carrierCountry);
    put(json, "appBuild", appBuild);
    put(json, "appNamespace", appNamespace);
    return json;
}

bool TLMDevice::deserializeFromDictionary(const TLMJson& json) {
    if (!TLMWrapperSdk::deserializeFromDictionary(json)) return false;
    bool ok = true;
    sdkName = tlmjson::string(json, "sdkName", ok);
    sdkVersion = tlmjson::string(json, "sdkVersion", ok);
    model = tlmjson::string(json, "model", ok);
    oemName = tlmjson::string(json, "oemName", ok);
    osName = tlmjson::string(json, "osName", ok);
    osVersion = tlmjson::string(json, "osVersion", ok);
    osBuild = tlmjson::string(json, "osBuild", ok);
    osApiLevel = tlmjson::integer(json, "osApiLevel", ok);
    locale = tlmjson::string(json, "locale", ok);
    timeZoneOffset = tlmjson::integer(json, "timeZoneOffset", ok);
    screenSize = tlmjson::string(json, "screenSize", ok);
    appVersion = tlmjson::string(json, "appVersion", ok);
    carrierName = tlmjson::string(json, "carrierName", ok);
    carrierCountry = tlmjson::string(json, "carrierCountry", ok);
    appBuild = tlmjson::string(json, "appBuild", ok);
    appNamespace = tlmjson::string(json, "appNamespace", ok);
    return ok;
}

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
    return o && TLMWrapperSdk::isEqual(other) && TLMOptionalEqual(sdkName, o->sdkName) &&
           TLMOptionalEqual(sdkVersion, o->sdkVersion) && TLMOptionalEqual(model, o->model) &&
           TLMOptionalEqual(oemName, o->oemName) && TLMOptionalEqual(osName, o->osName) &&
           TLMOptionalEqual(osVersion, o->osVersion) && TLMOptionalEqual(osBuild, o->osBuild) &&
           TLMOptionalEqual(osApiLevel, o->osApiLevel) && TLMOptionalEqual(locale, o->locale) &&
           TLMOptionalEqual(timeZoneOffset, o->timeZoneOffset) && TLMOptionalEqual(screenSize, o->screenSize) &&
           TLMOptionalEqual(appVersion, o->appVersion) && TLMOptionalEqual(carrierName, o->carrierName) &&
           TLMOptionalEqual(carrierCountry, o->carrierCountry) && TLMOptionalEqual(appBuild, o->appBuild) &&
           TLMOptionalEqual(appNamespace, o->appNamespace);
}

void TLMDevice::encodeWithCoder(TLMKeyedArchiver& c) const {
    TLMWrapperSdk::encodeWithCoder(c);
    c.encodeString("sdkName", sdkName);
    c.encodeString("sdkVersion", sdkVersion);
    c.encodeString("model", model);
    c.encodeString("oemName", oemName);
    c.encodeString("osName", osName);
    c.encodeString("osVersion", osVersion);
    c.encodeString("osBuild", osBuild);
    if (osApiLevel) c.encodeInt64("osApiLevel", *osApiLevel);
    c.encodeString("locale", locale);
    if (timeZoneOffset) c.encodeInt64("timeZoneOffset", *timeZoneOffset);
    c.encodeString("screenSize", screenSize);
    c.encodeString("appVersion", appVersion);
    c.encodeString("carrierName", carrierName);
    c.encodeString("carrierCountry", carrierCountry);
    c.encodeString("appBuild", appBuild);
    c.encodeString("appNamespace", appNamespace);
}

bool TLMDevice::initWithCoder(const TLMKeyedUnarchiver& c) {
    if (!TLMWrapperSdk::initWithCoder(c)) return false;
    sdkName = c.decodeString("sdkName");
    sdkVersion = c.decodeString("sdkVersion");
    model = c.decodeString("model");
    oemName = c.decodeString("oemName");
    osName = c.decodeString("osName");
    osVersion = c.decodeString("osVersion");
    osBuild = c.decodeString("osBuild");
    if (c.contains("osApiLevel")) osApiLevel = c.decodeInt64("osApiLevel");
    locale = c.decodeString("locale");
    if (c.contains("timeZoneOffset")) timeZoneOffset = c.decodeInt64("timeZoneOffset");
    screenSize = c.decodeString("screenSize");
    appVersion = c.decodeString("appVersion");
    carrierName = c.decodeString("carrierName");
    carrierCountry = c.decodeString("carrierCountry");
    appBuild = c.decodeString("appBuild");
    appNamespace = c.decodeString("appNamespace");
    return !c.failed();
}
