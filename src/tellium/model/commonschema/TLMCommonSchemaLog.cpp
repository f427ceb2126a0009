#include "tellium/model/commonschema/TLMCommonSchemaLog.h"

#include <cstdio>
#include <cstdlib>

#include "tellium/TLMLogger.h"
#include "tellium/context/TLMUserIdContext.h"
#include "tellium/util/TLMOrderedDictionary.h"
#include "tellium/util/TLMPlatformHooks.h"
#include "tellium/util/TLMUtility.h"

// ---- the log -------------------------------------------------------------------------------

TLMJson TLMCommonSchemaLog::serializeToDictionary() const {
    TLMOrderedDictionary out;
    if (ver) out.setObject(*ver, "ver");
    if (name) out.setObject(*name, "name");
    if (timestamp) out.setObject(TLMUtility::dateToISO8601(*timestamp), "time");
    if (iKey) out.setObject(*iKey, "iKey");
    if (flags != 0) out.setObject(flags, "flags");
    if (ext) {
        auto e = ext->serializeToDictionary();
        if (!e.is_null()) out.setObject(std::move(e), "ext");
    }
    if (data) {
        auto d = data->serializeToDictionary();
        if (!d.is_null()) out.setObject(std::move(d), "data");
    }
    return out.toJson();
}

bool TLMCommonSchemaLog::deserializeFromDictionary(const TLMJson& json) {
    if (!json.is_object()) return false;
    bool ok = true;
    ver = tlmjson::string(json, "ver", ok);
    name = tlmjson::string(json, "name", ok);
    timestamp = tlmjson::date(json, "time", ok);
    iKey = tlmjson::string(json, "iKey", ok);
    flags = tlmjson::integer(json, "flags", ok).value_or(0);
    ext.reset();
    if (auto e = tlmjson::object(json, "ext", ok)) {
        ext = std::make_shared<TLMCSExtensions>();
        if (!ext->deserializeFromDictionary(*e)) return false;
    }
    data.reset();
    if (auto d = tlmjson::object(json, "data", ok)) {
        data = std::make_shared<TLMCSData>();
        if (!data->deserializeFromDictionary(*d)) return false;
    }
    return ok;
}

bool TLMCommonSchemaLog::isValid() const {
    if (!timestamp) {
        logInvalid(archiveClassName(), "timestamp");
        return false;
    }
    if (!ver) {
        logInvalid(archiveClassName(), "ver");
        return false;
    }
    if (!name) {
        logInvalid(archiveClassName(), "name");
        return false;
    }
    return true;
}

bool TLMCommonSchemaLog::isEqual(const TLMSerializableObject& other) const {
    auto o = dynamic_cast<const TLMCommonSchemaLog*>(&other);
    return o && TLMAbstractLog::isEqual(other) && TLMOptionalEqual(ver, o->ver) && TLMOptionalEqual(name, o->name) &&
           popSample == o->popSample && TLMOptionalEqual(iKey, o->iKey) && flags == o->flags &&
           TLMOptionalEqual(cV, o->cV) && TLMObjectEqual(ext, o->ext) && TLMObjectEqual(data, o->data);
}

void TLMCommonSchemaLog::encodeWithCoder(TLMKeyedArchiver& c) const {
    TLMAbstractLog::encodeWithCoder(c);
    c.encodeString("ver", ver);
    c.encodeString("name", name);
    c.encodeDouble("popSample", popSample);
    c.encodeString("iKey", iKey);
    c.encodeInt64("flags", flags);
    c.encodeString("cV", cV);
    c.encodeObject("ext", ext);
    c.encodeObject("data", data);
}

bool TLMCommonSchemaLog::initWithCoder(const TLMKeyedUnarchiver& c) {
    if (!TLMAbstractLog::initWithCoder(c)) return false;
    ver = c.decodeString("ver");
    name = c.decodeString("name");
    popSample = c.decodeDouble("popSample");
    iKey = c.decodeString("iKey");
    flags = c.decodeInt64("flags");
    cV = c.decodeString("cV");
    ext = c.decodeObjectOfClass<TLMCSExtensions>("ext");
    data = c.decodeObjectOfClass<TLMCSData>("data");
    return !c.failed();
}

// ---- conversion of any log -----------------------------------------------------------------

std::optional<std::vector<std::shared_ptr<TLMCommonSchemaLog>>> TLMAbstractLog::toCommonSchemaLogsWithFlags(
    int64_t flags) const {
    std::vector<std::shared_ptr<TLMCommonSchemaLog>> logs;
    if (auto tokens = transmissionTargetTokens()) {
        for (const auto& token : *tokens) {
            if (auto log = toCommonSchemaLogForTargetToken(token, flags)) logs.push_back(std::move(log));
        }
    }
    if (logs.empty()) return std::nullopt;
    return logs;
}

namespace {
std::optional<std::string> fromDevice(const std::shared_ptr<TLMDevice>& device,
                                      std::optional<std::string> TLMDevice::*field) {
    if (!device) return std::nullopt;
    return (*device).*field;
}
}  // namespace

std::shared_ptr<TLMCommonSchemaLog> TLMAbstractLog::toCommonSchemaLogForTargetToken(const std::string& token,
                                                                                    int64_t flags) const {
    auto csLog = std::make_shared<TLMCommonSchemaLog>();
    csLog->setTransmissionTargetTokens(std::make_shared<const TokenSet>(TokenSet{token}));
    csLog->ver = "3.0";
    csLog->timestamp = timestamp;
    csLog->iKey = TLMUtility::iKeyFromTargetToken(token);
    csLog->flags = flags;
    csLog->ext = std::make_shared<TLMCSExtensions>();

    auto protocol = std::make_shared<TLMProtocolExtension>();
    protocol->devMake = fromDevice(device, &TLMDevice::oemName);
    protocol->devModel = fromDevice(device, &TLMDevice::model);
    csLog->ext->protocolExt = protocol;

    auto user = std::make_shared<TLMUserExtension>();
    user->localId = TLMUserIdContext::prefixedUserIdFromUserId(userId);
    if (auto locale = fromDevice(device, &TLMDevice::locale)) {
        for (auto& ch : *locale) {
            if (ch == '_') ch = '-';
        }
        user->locale = std::move(locale);
    }
    csLog->ext->userExt = user;

    auto os = std::make_shared<TLMOSExtension>();
    os->name = fromDevice(device, &TLMDevice::osName);
    os->ver = combineOsVersion(fromDevice(device, &TLMDevice::osVersion), fromDevice(device, &TLMDevice::osBuild));
    csLog->ext->osExt = os;

    auto app = std::make_shared<TLMAppExtension>();
    if (auto ns = fromDevice(device, &TLMDevice::appNamespace)) app->appId = "I:" + *ns;
    app->ver = fromDevice(device, &TLMDevice::appVersion);
    app->locale = TLMPlatform::appLanguage();
    if (!app->locale) app->locale = "en";
    csLog->ext->appExt = app;

    auto net = std::make_shared<TLMNetExtension>();
    net->provider = fromDevice(device, &TLMDevice::carrierName);
    csLog->ext->netExt = net;

    auto sdk = std::make_shared<TLMSDKExtension>();
    sdk->libVer = combineSDKLibVer(fromDevice(device, &TLMDevice::sdkName), fromDevice(device, &TLMDevice::sdkVersion));
    csLog->ext->sdkExt = sdk;

    auto loc = std::make_shared<TLMLocExtension>();
    if (device && device->timeZoneOffset) loc->tz = convertTimeZoneOffsetToISO8601(static_cast<long>(*device->timeZoneOffset));
    else loc->tz = convertTimeZoneOffsetToISO8601(0);
    csLog->ext->locExt = loc;

    csLog->ext->deviceExt = std::make_shared<TLMDeviceExtension>();
    return csLog;
}

std::optional<std::string> TLMAbstractLog::combineOsVersion(const std::optional<std::string>& version,
                                                            const std::optional<std::string>& build) {
    if (!version || version->empty()) return std::nullopt;
    std::string text = "Version " + *version;
    if (build && !build->empty()) text += " (Build " + *build + ")";
    return text;
}

std::optional<std::string> TLMAbstractLog::combineSDKLibVer(const std::optional<std::string>& name,
                                                            const std::optional<std::string>& version) {
    if (!name || name->empty() || !version || version->empty()) return std::nullopt;
    return *name + "-" + *version;
}

std::string TLMAbstractLog::convertTimeZoneOffsetToISO8601(long minutes) {
    const char sign = minutes < 0 ? '-' : '+';
    long magnitude = std::labs(minutes);
    char buf[24];
    std::snprintf(buf, sizeof buf, "%c%02ld:%02ld", sign, magnitude / 60, magnitude % 60);
    return buf;
}
