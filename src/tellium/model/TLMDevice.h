#pragma once
// The device record every log carries, and its base, the wrapper-SDK record. Each lists its
// fields once, in fields() (see TLMFieldTable.h).
#include <cstdint>
#include <optional>
#include <string>

#include "tellium/model/TLMFieldTable.h"
#include "tellium/model/TLMSerializableObject.h"

class TLMWrapperSdk : public TLMSerializableObject, public TLMModel {
public:
    std::optional<std::string> wrapperSdkVersion;
    std::optional<std::string> wrapperSdkName;
    std::optional<std::string> wrapperRuntimeVersion;
    std::optional<std::string> liveUpdateReleaseLabel;
    std::optional<std::string> liveUpdateDeploymentKey;
    std::optional<std::string> liveUpdatePackageHash;

    static constexpr auto fields() {
        return std::tuple{
            tlmfields::field("wrapperSdkVersion", &TLMWrapperSdk::wrapperSdkVersion),
            tlmfields::field("wrapperSdkName", &TLMWrapperSdk::wrapperSdkName),
            tlmfields::field("wrapperRuntimeVersion", &TLMWrapperSdk::wrapperRuntimeVersion),
            tlmfields::field("liveUpdateReleaseLabel", &TLMWrapperSdk::liveUpdateReleaseLabel),
            tlmfields::field("liveUpdateDeploymentKey", &TLMWrapperSdk::liveUpdateDeploymentKey),
            tlmfields::field("liveUpdatePackageHash", &TLMWrapperSdk::liveUpdatePackageHash),
        };
    }

    std::string archiveClassName() const override { return "TLMWrapperSdk"; }
    TLMJson serializeToDictionary() const override;
    bool deserializeFromDictionary(const TLMJson& json) override;
    bool isValid() const override { return true; }
    bool isEqual(const TLMSerializableObject& other) const override;
    void encodeWithCoder(TLMKeyedArchiver& coder) const override;
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override;
    bool appendJson(std::string& out) const override;
};

class TLMDevice : public TLMWrapperSdk {
public:
    std::optional<std::string> sdkName;
    std::optional<std::string> sdkVersion;
    std::optional<std::string> model;
    std::optional<std::string> oemName;
    std::optional<std::string> osName;
    std::optional<std::string> osVersion;
    std::optional<std::string> osBuild;
    std::optional<int64_t> osApiLevel;
    std::optional<std::string> locale;
    std::optional<int64_t> timeZoneOffset;  // whole minutes east of UTC
    std::optional<std::string> screenSize;
    std::optional<std::string> appVersion;
    std::optional<std::string> carrierName;
    std::optional<std::string> carrierCountry;
    std::optional<std::string> appBuild;
    std::optional<std::string> appNamespace;

    static constexpr auto fields() {
        using tlmfields::field;
        return std::tuple_cat(TLMWrapperSdk::fields(),
                              std::tuple{
                                  field("sdkName", &TLMDevice::sdkName),
                                  field("sdkVersion", &TLMDevice::sdkVersion),
                                  field("model", &TLMDevice::model),
                                  field("oemName", &TLMDevice::oemName),
                                  field("osName", &TLMDevice::osName),
                                  field("osVersion", &TLMDevice::osVersion),
                                  field("osBuild", &TLMDevice::osBuild),
                                  field("osApiLevel", &TLMDevice::osApiLevel),
                                  field("locale", &TLMDevice::locale),
                                  field("timeZoneOffset", &TLMDevice::timeZoneOffset),
                                  field("screenSize", &TLMDevice::screenSize),
                                  field("appVersion", &TLMDevice::appVersion),
                                  field("carrierName", &TLMDevice::carrierName),
                                  field("carrierCountry", &TLMDevice::carrierCountry),
                                  field("appBuild", &TLMDevice::appBuild),
                                  field("appNamespace", &TLMDevice::appNamespace),
                              });
    }

    std::string archiveClassName() const override { return "TLMDevice"; }
    TLMJson serializeToDictionary() const override;
    bool deserializeFromDictionary(const TLMJson& json) override;
    // True when sdkName, sdkVersion, osName, osVersion, locale, timeZoneOffset, appVersion and
    // appBuild are all present; otherwise logs the first missing one.
    bool isValid() const override;
    bool isEqual(const TLMSerializableObject& other) const override;
    void encodeWithCoder(TLMKeyedArchiver& coder) const override;
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override;
    bool appendJson(std::string& out) const override;
};
