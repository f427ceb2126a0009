#pragma once
// What the SDK needs from the application it runs in, installed by the application at start-up:
// the main-thread runner, the primary screen's size, the application's version information and
// language, the folder for its data, and the key that protects stored target tokens. Every hook
// is optional; without one the SDK falls back to what it can find on its own.
#include <filesystem>
#include <functional>
#include <optional>
#include <nlohmann/json.hpp>
#include <string>

struct TLMScreenSize {
    int width = 0;   // pixels
    int height = 0;  // pixels
};

struct TLMAppInfo {
    std::optional<std::string> version;    // the short version string
    std::optional<std::string> build;      // the build number
    std::optional<std::string> bundleId;   // the application's identifier
};

struct TLMPlatformHooks {
    // Runs a task on the main thread (later, when called from elsewhere). Default: dispatch's main queue.
    std::function<void(std::function<void()>)> runOnMainThread;
    std::function<bool()> isMainThread;
    std::function<std::optional<TLMScreenSize>()> screenSize;
    std::function<TLMAppInfo()> appInfo;
    // The language the application runs in ("en", "de", ...).
    std::function<std::optional<std::string>()> appLanguage;
    // The application's data folder; the SDK keeps its files in "Tellium" under it.
    std::function<std::filesystem::path()> dataFolder;
    // 32 key bytes for the stored target tokens, from the desktop keyring; nothing when there is
    // no keyring. Called at most once per process, on the SDK's log queue, never at launch.
    std::function<std::optional<std::string>()> targetTokenKey;
    // The application's information values (its "Info.plist": identifier, versions, switches
    // such as "TelliumAppDelegateForwarderEnabled"), a JSON object.
    std::function<nlohmann::json()> infoDictionary;
};

class TLMPlatform {
public:
    static void setHooks(TLMPlatformHooks hooks);
    static TLMPlatformHooks hooks();

    static void runOnMainThread(std::function<void()> task);
    static bool isMainThread();
    static std::optional<TLMScreenSize> screenSize();
    static TLMAppInfo appInfo();
    static std::optional<std::string> appLanguage();
    // <data folder>/Tellium; the default data folder is $XDG_DATA_HOME/DravixFTPClient.
    static std::filesystem::path telliumFolder();
    static std::optional<std::string> targetTokenKey();
    // The value of one information key, or nothing (also without the hook).
    static std::optional<nlohmann::json> infoDictionaryValue(const std::string& key);
};
