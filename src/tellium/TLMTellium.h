#pragma once
// The telemetry SDK's entry point: one process-wide instance that configures the SDK from an
// app-secret string, builds the channel group with the SDK's own unit (group "Tellium") and the
// Event Collector delegate, starts the services in descending initialization priority, and keeps
// the SDK-wide switches: enabled ("TelliumIsEnabled"), network requests allowed
// ("NetworkRequestsAllowed"), log URL, storage size, user id and install id ("InstallId").
//
// Services are named by their class objects (TLMServiceClass, see TLMServiceAbstract.h). The
// environment variable "TELLIUM_DISABLE" (service names separated by ",", or "All") keeps
// services from starting.
//
// Locking: the instance lock is re-entrant and is always taken before a service's class lock.
// Nothing here waits for disk or network: logs go to the channel units, which move the work to
// the channel group's queue. Every failure is a log message; nothing throws.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tellium/TLMLogger.h"
#include "tellium/channel/TLMChannelGroupProtocol.h"
#include "tellium/channel/TLMChannelUnitProtocol.h"
#include "tellium/model/TLMDevice.h"
#include "tellium/util/TLMApplicationLifecycle.h"

class TLMServiceClass;
class TLMServiceAbstract;
class TLMHttpClientProtocol;
class TLMEventCollectorChannelDelegate;

using TLMServiceClasses = std::vector<const TLMServiceClass*>;

class TLMTellium : public std::enable_shared_from_this<TLMTellium> {
public:
    // ---- class operations (each forwards to the shared instance unless said otherwise) ----
    static std::shared_ptr<TLMTellium> sharedInstance();
    // The next sharedInstance() makes a fresh instance.
    static void resetSharedInstance();

    static void configureWithAppSecret(const std::string& appSecret);
    static void configure();
    static void start(const std::string& appSecret, const TLMServiceClasses& services);
    static void startWithServices(const TLMServiceClasses& services);
    static void startService(const TLMServiceClass* service);
    static void startFromLibraryWithServices(const TLMServiceClasses& services);
    static bool isConfigured();
    static bool isRunningInTelliumHostedTests();
    static void setEnabled(bool isEnabled);
    static bool isEnabled();
    // Read before every send without any lock (an atomic copy of the stored switch).
    static bool isNetworkRequestsAllowed();
    static void setNetworkRequestsAllowed(bool isAllowed);
    static void setLogUrl(const std::string& logUrl);
    static std::optional<std::string> logUrl();
    // At least 24576 bytes, once per launch, before the application configures the SDK.
    static void setMaxStorageSize(int64_t sizeInBytes, std::function<void(bool)> completionHandler);
    static void setUserId(const std::optional<std::string>& userId);
    static std::optional<std::string> userId();
    static std::string installId();
    // Setting the level also flushes the delegate forwarders' trace buffer.
    static TLMLogLevel logLevel();
    static void setLogLevel(TLMLogLevel logLevel);
    static TLMLogHandler logHandler();
    static void setLogHandler(TLMLogHandler handler);
    static void setWrapperSdk(std::shared_ptr<TLMWrapperSdk> wrapperSdk);
    static std::shared_ptr<TLMWrapperSdk> wrapperSdk();
    static void setCountryCode(const std::optional<std::string>& countryCode);
    static std::optional<std::string> countryCode();
    static bool isAppDelegateForwarderEnabled();
    // Whether a debugger traces this process (on Linux: TracerPid of /proc/self/status is not 0);
    // worked out once per process.
    static bool isDebuggerAttached();
    static std::string sdkVersion();
    static std::string logTag() { return kTLMLogTag; }
    static std::string groupId() { return kTLMLogTag; }

    // Forgets the cached network switch, so the next read loads the stored value. For tests.
    static void resetForTesting();

    // How the SDK builds its channel group and Event Collector delegate: the channel group of
    // this SDK by default; tests hand in their own.
    using ChannelGroupFactory = std::function<std::shared_ptr<TLMChannelGroupProtocol>(
        std::shared_ptr<TLMHttpClientProtocol> httpClient, const std::string& installId, const std::string& logUrl)>;
    static void setChannelGroupFactory(ChannelGroupFactory factory);

    // ---- instance operations used inside the SDK ----
    TLMTellium();
    ~TLMTellium();

    bool configureWithAppSecret(const std::optional<std::string>& appSecret,
                                const std::optional<std::string>& transmissionTargetToken, bool fromApplication);
    void start(const std::optional<std::string>& appSecretString, const std::optional<TLMServiceClasses>& services,
               bool fromApplication);
    void startServices(const std::optional<TLMServiceClasses>& services, const std::optional<std::string>& appSecret,
                       const std::optional<std::string>& transmissionTargetToken, bool fromApplication);
    bool startService(const TLMServiceClass* service, const std::optional<std::string>& appSecret,
                      const std::optional<std::string>& transmissionTargetToken, bool fromApplication);
    // Highest initialization priority first; services of equal priority keep their order.
    static TLMServiceClasses sortServices(const TLMServiceClasses& services);
    void initializeChannelGroup();
    void applyPipelineEnabledState(bool isEnabled);
    void sendStartServiceLog(const std::vector<std::string>& servicesNames);
    // Keeps only this launch's session and user-id records unless a started service reads the
    // earlier ones (and trims them itself).
    void trimLaunchHistoriesUnlessAServiceReadsThem();
    // True when configured; else logs the not-configured error.
    bool canBeUsed();
    static bool shouldDisable(const std::string& serviceName);
    bool isEnabledInstance();
    void setEnabledInstance(bool isEnabled);
    void setNetworkRequestsAllowedInstance(bool isAllowed);
    void setLogUrlInstance(const std::string& logUrl);
    void setMaxStorageSizeInstance(int64_t sizeInBytes, std::function<void(bool)> completionHandler);
    void setUserIdInstance(const std::optional<std::string>& userId);
    std::string installIdInstance();
    void applicationDidEnterBackground();
    void applicationWillEnterForeground();

    // Accessors.
    std::recursive_mutex& lock() { return mutex_; }
    bool sdkConfigured() const { return sdkConfigured_.load(); }
    bool configuredFromApplication() const { return configuredFromApplication_.load(); }
    bool enabledStateUpdating() const { return enabledStateUpdating_.load(); }
    std::shared_ptr<TLMChannelGroupProtocol> channelGroup();
    std::shared_ptr<TLMChannelUnitProtocol> channelUnit();
    std::vector<std::shared_ptr<TLMServiceAbstract>> services();
    std::optional<std::vector<std::string>> startedServiceNames();
    std::optional<std::string> appSecret();
    std::optional<std::string> defaultTransmissionTargetToken();
    std::optional<std::string> logUrlValue();

private:
    std::recursive_mutex mutex_;
    std::atomic<bool> sdkConfigured_{false};
    std::atomic<bool> configuredFromApplication_{false};
    std::atomic<bool> enabledStateUpdating_{false};
    bool setMaxStorageSizeHasBeenCalled_ = false;
    std::optional<std::string> installId_;
    std::optional<std::string> logUrl_;
    std::shared_ptr<TLMChannelUnitProtocol> channelUnit_;
    std::shared_ptr<TLMEventCollectorChannelDelegate> eventCollectorChannelDelegate_;
    std::shared_ptr<TLMChannelGroupProtocol> channelGroup_;
    std::vector<std::shared_ptr<TLMServiceAbstract>> services_;
    std::optional<std::vector<std::string>> startedServiceNames_;
    std::optional<std::string> appSecret_;
    std::optional<std::string> defaultTransmissionTargetToken_;
    std::optional<int64_t> requestedMaxStorageSizeInBytes_;
    std::function<void(bool)> maxStorageSizeCompletionHandler_;
    std::vector<uint64_t> observers_;  // TLMApplicationLifecycle tokens
    void stopObservingApplication();
};

// The smallest storage size the SDK accepts.
inline constexpr int64_t kTLMMinUpperSizeLimitInBytes = 24 * 1024;
