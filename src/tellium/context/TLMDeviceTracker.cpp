#include "tellium/context/TLMDeviceTracker.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include "tellium/TLMLogger.h"
#include "tellium/util/TLMPlatformHooks.h"
#include "tellium/util/TLMTelliumUserDefaults.h"
#include "tellium/util/TLMUtility.h"

namespace {

constexpr const char* kPastDevicesKey = "PastDevices";
constexpr std::size_t kMaxDevicesHistorySize = 5;

// One lock for the tracker and its class-level values (only one instance exists at a time).
std::recursive_mutex g_lock;
std::shared_ptr<TLMDeviceTracker> g_instance;
std::shared_ptr<TLMWrapperSdk> g_wrapperSdk;
std::optional<std::string> g_countryCode;
bool g_needsRefresh = true;

std::optional<std::string> readFirstLine(const char* path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    std::size_t start = 0;
    while (start < line.size() && std::isspace(static_cast<unsigned char>(line[start]))) ++start;
    line.erase(0, start);
    if (line.empty()) return std::nullopt;
    return line;
}

std::optional<std::string> readFile(const char* path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::optional<std::string> nonEmpty(const char* v) {
    if (!v || !*v) return std::nullopt;
    return std::string(v);
}

struct LocaleParts {
    std::string language;
    std::string script;
    std::string country;
};

// "de_AT.UTF-8", "sr_RS@latin", "zh-Hans-CN", "pt_BR:en" (the first entry of a list counts).
std::optional<LocaleParts> parseLocale(std::string value) {
    if (auto colon = value.find(':'); colon != std::string::npos) value.resize(colon);
    std::string modifier;
    if (auto at = value.find('@'); at != std::string::npos) {
        modifier = value.substr(at + 1);
        value.resize(at);
    }
    if (auto dot = value.find('.'); dot != std::string::npos) value.resize(dot);
    if (value.empty()) return std::nullopt;
    if (value == "C" || value == "POSIX") return LocaleParts{"en", "", ""};
    LocaleParts parts;
    std::size_t start = 0;
    int index = 0;
    while (start <= value.size()) {
        auto end = value.find_first_of("_-", start);
        std::string piece = value.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (index == 0) {
            for (auto& c : piece) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            parts.language = piece;
        } else if (piece.size() == 4 && std::all_of(piece.begin(), piece.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); })) {
            piece[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(piece[0])));
            for (std::size_t i = 1; i < piece.size(); ++i)
                piece[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(piece[i])));
            parts.script = piece;
        } else if (!piece.empty() && parts.country.empty()) {
            for (auto& c : piece) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            parts.country = piece;
        }
        ++index;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (parts.language.empty() ||
        !std::all_of(parts.language.begin(), parts.language.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); }))
        return std::nullopt;
    if (parts.script.empty() && !modifier.empty()) {
        static const std::map<std::string, std::string> scripts = {
            {"latin", "Latn"}, {"cyrillic", "Cyrl"}, {"devanagari", "Deva"}, {"arabic", "Arab"}};
        if (auto it = scripts.find(modifier); it != scripts.end()) parts.script = it->second;
    }
    return parts;
}

}  // namespace

std::string TLMDeviceTracker::localeFromEnvironment(const Environment& env) {
    std::optional<LocaleParts> preferred;
    std::optional<LocaleParts> current;
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        auto value = env(name);
        if (!value || value->empty()) continue;
        auto parts = parseLocale(*value);
        if (!parts) continue;
        if (!preferred) preferred = parts;
        // The current locale is the one the C library would use (LANGUAGE only picks languages).
        if (!current && std::string_view(name) != "LANGUAGE") current = parts;
    }
    if (!preferred) return "en";
    std::string out = preferred->language;
    if (!preferred->script.empty()) out += "-" + preferred->script;
    std::string country = preferred->country;
    if (country.empty() && current) country = current->country;
    if (!country.empty()) out += "_" + country;
    return out;
}

std::map<std::string, std::string> TLMDeviceTracker::parseOsRelease(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        auto eq = line.find('=');
        if (eq == std::string::npos || line.empty() || line[0] == '#') continue;
        std::string key = line.substr(0, eq);
        std::string value = line.substr(eq + 1);
        while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) value.pop_back();
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        std::string unescaped;
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) ++i;
            unescaped += value[i];
        }
        values[key] = unescaped;
    }
    return values;
}

std::string TLMDeviceTracker::screenSizeText(int width, int height) {
    return std::to_string(height) + "x" + std::to_string(width);
}

// ---- instance ------------------------------------------------------------------------------

std::shared_ptr<TLMDeviceTracker> TLMDeviceTracker::sharedInstance() {
    std::lock_guard lock(g_lock);
    if (!g_instance) {
        g_instance = std::make_shared<TLMDeviceTracker>();
        g_instance->device();  // the record of this launch
    }
    return g_instance;
}

void TLMDeviceTracker::resetSharedInstance() {
    std::lock_guard lock(g_lock);
    g_instance.reset();
    g_wrapperSdk.reset();
    g_countryCode.reset();
    g_needsRefresh = true;
}

void TLMDeviceTracker::refreshDeviceNextTime() {
    std::lock_guard lock(g_lock);
    g_needsRefresh = true;
}

TLMDeviceTracker::TLMDeviceTracker() {
    std::lock_guard lock(g_lock);
    if (auto data = TLMTelliumUserDefaults::shared().dataForKey(kPastDevicesKey)) {
        if (auto list = TLMUtility::unarchiveKeyedArray(*data)) {
            for (auto& object : *list) {
                if (auto record = std::dynamic_pointer_cast<TLMDeviceHistoryInfo>(object); record && record->timestamp)
                    deviceHistory_.push_back(std::move(record));
            }
            std::stable_sort(deviceHistory_.begin(), deviceHistory_.end(),
                             [](const auto& a, const auto& b) { return *a->timestamp < *b->timestamp; });
        }
    }
}

std::shared_ptr<TLMDevice> TLMDeviceTracker::device() {
    std::lock_guard lock(g_lock);
    return deviceLocked();
}

std::shared_ptr<TLMDevice> TLMDeviceTracker::deviceLocked() {
    if (device_ && !g_needsRefresh) return device_;
    device_ = updatedDevice();
    auto record = std::make_shared<TLMDeviceHistoryInfo>(TLMClock::current()->now(), device_);
    auto at = std::upper_bound(deviceHistory_.begin(), deviceHistory_.end(), *record->timestamp,
                               [](TLMDate t, const auto& r) { return t < *r->timestamp; });
    deviceHistory_.insert(at, record);
    if (deviceHistory_.size() > kMaxDevicesHistorySize) deviceHistory_.erase(deviceHistory_.begin());
    storeHistory();
    return device_;
}

void TLMDeviceTracker::storeHistory() {
    std::vector<std::shared_ptr<TLMCoding>> list(deviceHistory_.begin(), deviceHistory_.end());
    TLMTelliumUserDefaults::shared().setObject(defaults::Data{TLMUtility::archiveKeyedArray(list)}, kPastDevicesKey);
}

std::shared_ptr<TLMDevice> TLMDeviceTracker::updatedDevice() {
    auto device = std::make_shared<TLMDevice>();
    device->sdkName = TLMUtility::sdkName();
    device->sdkVersion = TLMUtility::sdkVersion();

    struct utsname names {};
    const bool haveUname = uname(&names) == 0;
    device->model = haveUname && names.machine[0] ? std::string(names.machine) : std::string("Unknown");
    device->oemName = readFirstLine("/sys/class/dmi/id/sys_vendor").value_or("Unknown");

    std::map<std::string, std::string> release;
    if (auto text = readFile("/etc/os-release")) release = parseOsRelease(*text);
    else if (auto lib = readFile("/usr/lib/os-release")) release = parseOsRelease(*lib);
    auto name = release.find("NAME");
    device->osName = name != release.end() && !name->second.empty() ? name->second : std::string("Linux");
    const std::optional<std::string> kernel = haveUname && names.release[0] ? std::optional<std::string>(names.release) : std::nullopt;
    auto version = release.find("VERSION_ID");
    if (version != release.end() && !version->second.empty()) device->osVersion = version->second;
    else device->osVersion = kernel.value_or("Unknown");
    device->osBuild = kernel.value_or("Unknown");

    device->locale = localeFromEnvironment([](const char* n) { return nonEmpty(std::getenv(n)); });

    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    device->timeZoneOffset = static_cast<int64_t>(local.tm_gmtoff / 60);

    if (auto screen = TLMPlatform::screenSize(); screen && screen->width > 0 && screen->height > 0)
        device->screenSize = screenSizeText(screen->width, screen->height);

    // The validity test needs both: each stands in for the other when one is missing.
    auto app = TLMPlatform::appInfo();
    auto present = [](const std::optional<std::string>& s) { return s && !s->empty(); };
    std::optional<std::string> appVersion = present(app.version) ? app.version : std::nullopt;
    std::optional<std::string> appBuild = present(app.build) ? app.build : std::nullopt;
    if (!appVersion) appVersion = appBuild;
    if (!appBuild) appBuild = appVersion;
    device->appVersion = appVersion.value_or("Unknown");
    device->appBuild = appBuild.value_or("Unknown");
    if (present(app.bundleId)) device->appNamespace = app.bundleId;

    // No carrier on a desktop: the country code the application set stands in.
    if (g_countryCode) device->carrierCountry = g_countryCode;

    if (g_wrapperSdk) {
        device->wrapperSdkVersion = g_wrapperSdk->wrapperSdkVersion;
        device->wrapperSdkName = g_wrapperSdk->wrapperSdkName;
        device->wrapperRuntimeVersion = g_wrapperSdk->wrapperRuntimeVersion;
        device->liveUpdateReleaseLabel = g_wrapperSdk->liveUpdateReleaseLabel;
        device->liveUpdateDeploymentKey = g_wrapperSdk->liveUpdateDeploymentKey;
        device->liveUpdatePackageHash = g_wrapperSdk->liveUpdatePackageHash;
    }
    g_needsRefresh = false;
    return device;
}

std::shared_ptr<TLMDevice> TLMDeviceTracker::deviceForTimestamp(const std::optional<TLMDate>& date) {
    std::lock_guard lock(g_lock);
    if (!date || deviceHistory_.empty()) return deviceLocked();
    auto at = std::lower_bound(deviceHistory_.begin(), deviceHistory_.end(), *date,
                               [](const auto& r, TLMDate t) { return *r->timestamp < t; });
    if (at == deviceHistory_.begin()) return deviceHistory_.front()->device;
    return (*(at - 1))->device;
}

void TLMDeviceTracker::clearDevices() {
    std::lock_guard lock(g_lock);
    if (deviceHistory_.size() >= 2) deviceHistory_.erase(deviceHistory_.begin(), deviceHistory_.end() - 1);
    storeHistory();
}

void TLMDeviceTracker::setWrapperSdk(std::shared_ptr<TLMWrapperSdk> wrapperSdk) {
    std::lock_guard lock(g_lock);
    g_wrapperSdk = std::move(wrapperSdk);
    g_needsRefresh = true;
    // The record of this launch is replaced by one holding the wrapper fields.
    if (!deviceHistory_.empty()) deviceHistory_.pop_back();
    deviceLocked();
}

std::shared_ptr<TLMWrapperSdk> TLMDeviceTracker::wrapperSdk() {
    std::lock_guard lock(g_lock);
    return g_wrapperSdk;
}

void TLMDeviceTracker::setCountryCode(std::optional<std::string> countryCode) {
    std::lock_guard lock(g_lock);
    g_countryCode = std::move(countryCode);
    g_needsRefresh = true;
}

std::optional<std::string> TLMDeviceTracker::countryCode() {
    std::lock_guard lock(g_lock);
    return g_countryCode;
}

std::vector<TLMDeviceHistoryInfo> TLMDeviceTracker::deviceHistory() {
    std::lock_guard lock(g_lock);
    std::vector<TLMDeviceHistoryInfo> out;
    for (const auto& r : deviceHistory_) out.emplace_back(r->timestamp, r->device);
    return out;
}
