#include "tellium/model/commonschema/TLMCommonSchemaLog.h"

#include <cstdio>
#include <cstdlib>

#include "tellium/TLMLogger.h"
#include "tellium/context/TLMUserIdContext.h"
#include "tellium/util/TLMPlatformHooks.h"
#include "tellium/util/TLMUtility.h"

// ---- the log -------------------------------------------------------------------------------

TLMJson TLMCommonSchemaLog::serializeToDictionary() const { return tlmfields::toJson(*this, jsonFields()); }

// The base log's other fields are not in the JSON object: they stay as they are.
bool TLMCommonSchemaLog::deserializeFromDictionary(const TLMJson& json) {
    return tlmfields::fromJson(*this, json, jsonFields());
}

bool TLMCommonSchemaLog::appendJson(std::string& out) const { return tlmfields::appendJson(*this, out, jsonFields()); }

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
    return o && tag == o->tag && tlmfields::equal(*this, *o, fields());
}

void TLMCommonSchemaLog::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }

bool TLMCommonSchemaLog::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }

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
