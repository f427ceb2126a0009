#pragma once
// The device record of this launch, built from the machine and the application and cached until
// something that goes into it changes, with a persisted history of the last five records
// ("PastDevices") so a log about an earlier moment can carry the device as it was then.
//
// On Linux: model from uname's machine, OEM from the DMI system vendor, OS name and version from
// /etc/os-release (NAME, VERSION_ID), OS build from uname's release, locale from LANGUAGE, LC_ALL,
// LC_MESSAGES, LANG, screen size and application version from the application's hooks. A desktop
// has no carrier.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tellium/model/TLMDevice.h"
#include "tellium/model/TLMHistoryInfo.h"

class TLMDeviceTracker {
public:
    static std::shared_ptr<TLMDeviceTracker> sharedInstance();
    // Drops the instance, forgets the wrapper-SDK record and the country code, marks for refresh.
    static void resetSharedInstance();
    static void refreshDeviceNextTime();

    // The current device, rebuilt first when needed (each build adds a history record).
    std::shared_ptr<TLMDevice> device();
    // The device in effect at that date (the current one for no date or no history).
    std::shared_ptr<TLMDevice> deviceForTimestamp(const std::optional<TLMDate>& date);
    // Keeps only the newest record.
    void clearDevices();

    void setWrapperSdk(std::shared_ptr<TLMWrapperSdk> wrapperSdk);
    std::shared_ptr<TLMWrapperSdk> wrapperSdk();
    void setCountryCode(std::optional<std::string> countryCode);
    std::optional<std::string> countryCode();

    // Copies of the history records, oldest first.
    std::vector<TLMDeviceHistoryInfo> deviceHistory();

    // The pieces the device is built from (exposed for tests).
    using Environment = std::function<std::optional<std::string>(const char* name)>;
    static std::string localeFromEnvironment(const Environment& env);
    static std::map<std::string, std::string> parseOsRelease(const std::string& text);
    static std::string screenSizeText(int width, int height);  // "HEIGHTxWIDTH"

    TLMDeviceTracker();  // use sharedInstance()

private:
    std::shared_ptr<TLMDevice> deviceLocked();
    std::shared_ptr<TLMDevice> updatedDevice();
    void storeHistory();

    std::shared_ptr<TLMDevice> device_;
    std::vector<std::shared_ptr<TLMDeviceHistoryInfo>> deviceHistory_;
};
