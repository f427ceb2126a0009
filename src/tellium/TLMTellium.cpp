#include "tellium/TLMTellium.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

#include "tellium/TLMServiceAbstract.h"
#include "tellium/context/TLMDeviceTracker.h"
#include "tellium/context/TLMSessionContext.h"
#include "tellium/context/TLMUserIdContext.h"
#include "tellium/delegate/TLMAppDelegateForwarder.h"
#include "tellium/http/TLMHttpClient.h"
#include "tellium/ingestion/TLMHttpIngestion.h"
#include "tellium/util/TLMTelliumUserDefaults.h"
#include "tellium/util/TLMUtility.h"
#include "tellium/channel/TLMChannelGroupDefault.h"
#include "tellium/channel/TLMEventCollectorChannelDelegate.h"

namespace {

constexpr const char* kTLMNetworkRequestsAllowedKey = "NetworkRequestsAllowed";
constexpr const char* kTLMIsEnabledKey = "TelliumIsEnabled";
constexpr const char* kTLMInstallIdKey = "InstallId";
constexpr const char* kTLMDisableVariable = "TELLIUM_DISABLE";
constexpr const char* kTLMRunningInTelliumVariable = "RUNNING_IN_TELLIUM";
constexpr const char* kTLMDisableAll = "All";

// -1: not read yet; 0: forbidden; 1: allowed.
std::atomic<int> networkRequestsAllowed{-1};

struct Shared {
    std::mutex mutex;
    std::shared_ptr<TLMTellium> instance;
    TLMTellium::ChannelGroupFactory factory;
};
Shared& shared() {
    static auto* s = new Shared;
    return *s;
}

const char* origin(bool fromApplication) { return fromApplication ? "" : "from a library "; }

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string join(const std::vector<std::string>& parts, const std::string& separator) {
    std::string out;
    for (const auto& part : parts) {
        if (!out.empty()) out += separator;
        out += part;
    }
    return out;
}

bool storedEnabled() { return TLMTelliumUserDefaults::shared().boolForKey(kTLMIsEnabledKey).value_or(true); }

std::shared_ptr<TLMChannelGroupProtocol> makeDefaultChannelGroup(std::shared_ptr<TLMHttpClientProtocol> httpClient,
                                                                 const std::string& installId,
                                                                 const std::string& logUrl) {
    return TLMChannelGroupDefault::initWithHttpClient(std::move(httpClient), installId, logUrl);
}

}  // namespace

// ---- shared instance -----------------------------------------------------------------------

std::shared_ptr<TLMTellium> TLMTellium::sharedInstance() {
    auto& s = shared();
    std::lock_guard lock(s.mutex);
    if (!s.instance) s.instance = std::make_shared<TLMTellium>();
    return s.instance;
}

void TLMTellium::resetSharedInstance() {
    std::shared_ptr<TLMTellium> old;
    {
        auto& s = shared();
        std::lock_guard lock(s.mutex);
        old.swap(s.instance);
    }
}

void TLMTellium::setChannelGroupFactory(ChannelGroupFactory factory) {
    auto& s = shared();
    std::lock_guard lock(s.mutex);
    s.factory = std::move(factory);
}

TLMTellium::TLMTellium() {
    TLMRegisterCoreArchiveClasses();
    // Settings of older versions move to their keys of today, once per installation.
    TLMTelliumUserDefaults::shared().migrateKeys(
        {
            {"TelliumChannelStartTimer", TLMUserDefaultsPrefixKey("TLMChannelStartTimer")},
            {"TelliumPastDevices", std::string("pastDevicesKey")},
            {"TelliumInstallId", std::string("TLMInstallId")},
            {"TelliumTelliumIsEnabled", std::string("TelliumIsEnabled")},
            {"TelliumEncryptionKeyMetadata", std::string("TLMEncryptionKeyMetadata")},
            {"TelliumSessionIdHistory", std::string("SessionIdHistory")},
            {"TelliumUserIdHistory", std::string("UserIdHistory")},
        },
        "Tellium");
    TLMUtility::addMigrationClasses({
        {"TLMDeviceHistoryInfo", "TLMDeviceHistoryInfo"},
        {"TLMDevice", "TLMDevice"},
        {"TLMStartServiceLog", "TLMStartServiceLog"},
        {"TLMSessionHistoryInfo", "TLMSessionHistoryInfo"},
        {"TLMUserIdHistoryInfo", "TLMUserIdHistoryInfo"},
        {"TLMLogWithProperties", "TLMLogWithProperties"},
        {"TLMLogContainer", "TLMLogContainer"},
        {"TLMWrapperSdk", "TLMWrapperSdk"},
        {"TLMAbstractLog", "TLMAbstractLog"},
    });
}

TLMTellium::~TLMTellium() { stopObservingApplication(); }

// ---- class operations ----------------------------------------------------------------------

void TLMTellium::configureWithAppSecret(const std::string& appSecret) {
    sharedInstance()->configureWithAppSecret(TLMUtility::appSecretFrom(appSecret),
                                             TLMUtility::transmissionTargetTokenFrom(appSecret), true);
}

void TLMTellium::configure() { sharedInstance()->configureWithAppSecret(std::nullopt, std::nullopt, true); }

void TLMTellium::start(const std::string& appSecret, const TLMServiceClasses& services) {
    sharedInstance()->start(appSecret, services, true);
}

void TLMTellium::startWithServices(const TLMServiceClasses& services) {
    sharedInstance()->start(std::nullopt, services, true);
}

void TLMTellium::startService(const TLMServiceClass* service) {
    if (!service) return;
    auto instance = sharedInstance();
    std::optional<std::string> secret;
    std::optional<std::string> token;
    {
        std::lock_guard lock(instance->lock());
        secret = instance->appSecret_;
        token = instance->defaultTransmissionTargetToken_;
    }
    instance->startServices(TLMServiceClasses{service}, secret, token, true);
}

void TLMTellium::startFromLibraryWithServices(const TLMServiceClasses& services) {
    sharedInstance()->start(std::nullopt, services, false);
}

bool TLMTellium::isConfigured() {
    auto instance = sharedInstance();
    return instance->sdkConfigured() && instance->configuredFromApplication();
}

bool TLMTellium::isRunningInTelliumHostedTests() {
    const char* value = std::getenv(kTLMRunningInTelliumVariable);
    return value && std::string(value) == "1";
}

void TLMTellium::setEnabled(bool isEnabled) { sharedInstance()->setEnabledInstance(isEnabled); }

bool TLMTellium::isEnabled() { return sharedInstance()->isEnabledInstance(); }

bool TLMTellium::isNetworkRequestsAllowed() {
    int value = networkRequestsAllowed.load();
    if (value < 0) {
        const bool stored = TLMTelliumUserDefaults::shared().boolForKey(kTLMNetworkRequestsAllowedKey).value_or(true);
        int expected = -1;
        networkRequestsAllowed.compare_exchange_strong(expected, stored ? 1 : 0);
        value = networkRequestsAllowed.load();
    }
    return value == 1;
}

void TLMTellium::setNetworkRequestsAllowed(bool isAllowed) { sharedInstance()->setNetworkRequestsAllowedInstance(isAllowed); }

void TLMTellium::setLogUrl(const std::string& logUrl) { sharedInstance()->setLogUrlInstance(logUrl); }

std::optional<std::string> TLMTellium::logUrl() { return sharedInstance()->logUrlValue(); }

void TLMTellium::setMaxStorageSize(int64_t sizeInBytes, std::function<void(bool)> completionHandler) {
    sharedInstance()->setMaxStorageSizeInstance(sizeInBytes, std::move(completionHandler));
}

void TLMTellium::setUserId(const std::optional<std::string>& userId) { sharedInstance()->setUserIdInstance(userId); }

std::optional<std::string> TLMTellium::userId() { return TLMUserIdContext::sharedInstance()->userId(); }

std::string TLMTellium::installId() { return sharedInstance()->installIdInstance(); }

TLMLogLevel TLMTellium::logLevel() { return TLMLogger::currentLogLevel(); }

void TLMTellium::setLogLevel(TLMLogLevel logLevel) {
    TLMLogger::setCurrentLogLevel(logLevel);
    // Traces made before any level was set now follow this one.
    TLMDelegateForwarder::flushTraceBuffer();
}

TLMLogHandler TLMTellium::logHandler() { return TLMLogger::logHandler(); }

void TLMTellium::setLogHandler(TLMLogHandler handler) { TLMLogger::setLogHandler(std::move(handler)); }

void TLMTellium::setWrapperSdk(std::shared_ptr<TLMWrapperSdk> wrapperSdk) {
    TLMDeviceTracker::sharedInstance()->setWrapperSdk(std::move(wrapperSdk));
}

std::shared_ptr<TLMWrapperSdk> TLMTellium::wrapperSdk() { return TLMDeviceTracker::sharedInstance()->wrapperSdk(); }

void TLMTellium::setCountryCode(const std::optional<std::string>& countryCode) {
    TLMDeviceTracker::sharedInstance()->setCountryCode(countryCode);
}

std::optional<std::string> TLMTellium::countryCode() { return TLMDeviceTracker::sharedInstance()->countryCode(); }

bool TLMTellium::isAppDelegateForwarderEnabled() { return TLMAppDelegateForwarder::sharedInstance()->isEnabled(); }

bool TLMTellium::isDebuggerAttached() {
    static const bool attached = [] {
        std::ifstream status("/proc/self/status");
        if (!status) {
            std::fprintf(stderr, "[TLMCrashes] ERROR: Checking for a running debugger via sysctl() failed.\n");
            return false;
        }
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("TracerPid:", 0) == 0) {
                std::istringstream value(line.substr(10));
                long pid = 0;
                value >> pid;
                return pid != 0;
            }
        }
        std::fprintf(stderr, "[TLMCrashes] ERROR: Checking for a running debugger via sysctl() failed.\n");
        return false;
    }();
    return attached;
}

std::string TLMTellium::sdkVersion() { return TLMUtility::sdkVersion(); }

void TLMTellium::resetForTesting() { networkRequestsAllowed.store(-1); }

// ---- configure and start -------------------------------------------------------------------

bool TLMTellium::configureWithAppSecret(const std::optional<std::string>& appSecret,
                                        const std::optional<std::string>& transmissionTargetToken,
                                        bool fromApplication) {
    std::lock_guard lock(mutex_);
    if (configuredFromApplication_ && fromApplication) {
        TLMLogAssert(kTLMLogTag, std::string("Tellium SDK has already been configured."));
        TLMLogAssert(kTLMLogTag, std::string("Tellium SDK configuration ") + origin(fromApplication) + "failed.");
        return false;
    }
    if (!appSecret_) {
        appSecret_ = appSecret;
        TLMSessionContext::sharedInstance()->setSessionId(std::nullopt);
    }
    if (!defaultTransmissionTargetToken_) defaultTransmissionTargetToken_ = transmissionTargetToken;
    TLMUserIdContext::sharedInstance();
    initializeChannelGroup();
    applyPipelineEnabledState(storedEnabled());
    sdkConfigured_ = true;
    configuredFromApplication_ = configuredFromApplication_ || fromApplication;
    // The application delegate's forwarder reads its switch now (its trace waits for a log level).
    TLMAppDelegateForwarder::load();
    if (!TLMLogger::isUserDefinedLogLevel() && TLMUtility::currentAppEnvironment() == 99) {
        setLogLevel(TLMLogLevelWarning);
    }
    TLMLogInfo(kTLMLogTag, std::string("Tellium SDK configured ") + origin(fromApplication) + "successfully.");
    return true;
}

void TLMTellium::start(const std::optional<std::string>& appSecretString,
                       const std::optional<TLMServiceClasses>& services, bool fromApplication) {
    const auto appSecret = TLMUtility::appSecretFrom(appSecretString);
    const auto token = TLMUtility::transmissionTargetTokenFrom(appSecretString);
    if (configureWithAppSecret(appSecret, token, fromApplication) && services) {
        startServices(services, appSecret, token, fromApplication);
    }
}

TLMServiceClasses TLMTellium::sortServices(const TLMServiceClasses& services) {
    TLMServiceClasses sorted = services;
    if (sorted.size() < 2) return sorted;
    auto priority = [](const TLMServiceClass* c) {
        if (!c) return std::numeric_limits<int>::min();
        auto instance = c->sharedInstance();
        return instance ? instance->initializationPriority() : std::numeric_limits<int>::min();
    };
    // A strict weak order (greater-than on the priority), kept stable for equal priorities.
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](const TLMServiceClass* a, const TLMServiceClass* b) { return priority(a) > priority(b); });
    return sorted;
}

void TLMTellium::startServices(const std::optional<TLMServiceClasses>& services,
                               const std::optional<std::string>& appSecret,
                               const std::optional<std::string>& transmissionTargetToken, bool fromApplication) {
    if (!services || !sdkConfigured_) return;
    const TLMServiceClasses sorted = sortServices(*services);
    std::vector<std::string> classNames;
    for (const auto* c : sorted) classNames.push_back(c ? c->className() : "(null)");
    TLMLogVerbose(kTLMLogTag, "Start services " + join(classNames, ", ") + " from " +
                                  (fromApplication ? "an application" : "a library"));
    std::vector<std::string> started;
    for (const auto* c : sorted) {
        if (startService(c, appSecret, transmissionTargetToken, fromApplication)) started.push_back(c->serviceName());
    }
    if (!started.empty()) {
        if (fromApplication) sendStartServiceLog(started);
    } else {
        TLMLogDebug(kTLMLogTag, std::string("No services have been started."));
    }
    if (fromApplication) trimLaunchHistoriesUnlessAServiceReadsThem();
}

void TLMTellium::trimLaunchHistoriesUnlessAServiceReadsThem() {
    bool read = false;
    {
        std::lock_guard lock(mutex_);
        for (const auto& service : services_) {
            if (service->started() && service->readsEarlierLaunchHistories()) read = true;
        }
    }
    if (read) return;
    TLMSessionContext::sharedInstance()->clearSessionHistoryAndKeepCurrentSession(true);
    TLMUserIdContext::sharedInstance()->clearUserIdHistory();
}

bool TLMTellium::startService(const TLMServiceClass* serviceClass, const std::optional<std::string>& appSecret,
                              const std::optional<std::string>& transmissionTargetToken, bool fromApplication) {
    std::lock_guard lock(mutex_);
    std::shared_ptr<TLMServiceAbstract> service = serviceClass ? serviceClass->sharedInstance() : nullptr;
    if (!service) {
        TLMLogError(kTLMLogTag, "Cannot start service " + (serviceClass ? serviceClass->serviceName() : "(null)") +
                                    ". Provided value is nil or invalid.");
        return false;
    }
    if (!sdkConfigured_ || (fromApplication && !configuredFromApplication_)) {
        TLMLogError(kTLMLogTag, std::string("Tellium has not been configured so it couldn't start the service."));
        return false;
    }
    const std::string name = serviceClass->serviceName();
    if (fromApplication && service->isAvailable() && service->isStartedFromApplication()) return false;
    if (service->isAppSecretRequired() && (!appSecret || appSecret->empty())) {
        TLMLogError(kTLMLogTag, "Cannot start service " + name +
                                    ". Tellium was started without app secret, but the service requires it.");
        return false;
    }
    if (shouldDisable(name)) {
        TLMLogDebug(kTLMLogTag, "Environment variable to disable service has been set; not starting service " + name);
        return false;
    }
    if (!service->isAvailable()) {
        if (std::find(services_.begin(), services_.end(), service) == services_.end()) services_.push_back(service);
        service->startWithChannelGroup(channelGroup_, appSecret, transmissionTargetToken, fromApplication);
        if (serviceClass->isEnabled() && !storedEnabled()) {
            enabledStateUpdating_ = true;
            serviceClass->setEnabled(false);
            enabledStateUpdating_ = false;
        }
    } else if (fromApplication) {
        service->updateConfigurationWithAppSecret(appSecret, transmissionTargetToken);
    }
    return true;
}

bool TLMTellium::shouldDisable(const std::string& serviceName) {
    const char* value = std::getenv(kTLMDisableVariable);
    if (!value) return false;
    std::stringstream list(value);
    std::string entry;
    while (std::getline(list, entry, ',')) {
        entry = trim(entry);
        if (entry == serviceName || entry == kTLMDisableAll) return true;
    }
    return false;
}

// ---- channel group -------------------------------------------------------------------------

void TLMTellium::initializeChannelGroup() {
    std::lock_guard lock(mutex_);
    const std::string installId = installIdInstance();
    if (!eventCollectorChannelDelegate_) {
        eventCollectorChannelDelegate_ = TLMEventCollectorChannelDelegate::initWithHttpClient(
            TLMHttpClient::init(), installId, appSecret_ ? std::nullopt : logUrl_);
    }
    if (!channelGroup_) {
        auto httpClient = TLMDependencyConfiguration::httpClient();
        if (!httpClient) httpClient = TLMHttpClient::init();
        ChannelGroupFactory factory;
        {
            auto& s = shared();
            std::lock_guard factoryLock(s.mutex);
            factory = s.factory;
        }
        const std::string url = logUrl_.value_or(kTLMDefaultLogUrl);
        channelGroup_ = factory ? factory(httpClient, installId, url) : makeDefaultChannelGroup(httpClient, installId, url);
        if (!channelGroup_) {
            TLMLogError(kTLMLogTag, std::string("Could not create the channel group; no logs will be kept."));
            return;
        }
        if (eventCollectorChannelDelegate_) channelGroup_->addDelegate(eventCollectorChannelDelegate_);
        if (requestedMaxStorageSizeInBytes_) {
            channelGroup_->setMaxStorageSize(*requestedMaxStorageSizeInBytes_, maxStorageSizeCompletionHandler_);
        }
    }
    channelGroup_->setAppSecret(appSecret_);
    if (!channelUnit_) {
        channelUnit_ = channelGroup_->addChannelUnitWithConfiguration(
            TLMChannelUnitConfiguration::initDefaultConfigurationWithGroupId(groupId()));
    }
}

void TLMTellium::stopObservingApplication() {
    for (uint64_t token : observers_) TLMApplicationLifecycle::shared().removeObserver(token);
    observers_.clear();
}

void TLMTellium::applyPipelineEnabledState(bool isEnabled) {
    stopObservingApplication();
    if (isEnabled) {
        std::weak_ptr<TLMTellium> weak = weak_from_this();
        observers_.push_back(TLMApplicationLifecycle::shared().addObserver(TLMApplicationEvent::didEnterBackground, [weak] {
            if (auto self = weak.lock()) self->applicationDidEnterBackground();
        }));
        observers_.push_back(TLMApplicationLifecycle::shared().addObserver(TLMApplicationEvent::willEnterForeground, [weak] {
            if (auto self = weak.lock()) self->applicationWillEnterForeground();
        }));
    } else {
        TLMDeviceTracker::sharedInstance()->clearDevices();
        TLMSessionContext::sharedInstance()->clearSessionHistoryAndKeepCurrentSession(false);
        TLMUserIdContext::sharedInstance()->clearUserIdHistory();
    }
    std::optional<std::vector<std::string>> waiting;
    {
        std::lock_guard lock(mutex_);
        if (channelGroup_) channelGroup_->setEnabled(isEnabled, true);
        if (isEnabled) waiting.swap(startedServiceNames_);
    }
    if (waiting) sendStartServiceLog(*waiting);
}

void TLMTellium::applicationDidEnterBackground() {
    if (auto group = channelGroup()) group->pauseWithIdentifyingObject(this);
}

void TLMTellium::applicationWillEnterForeground() {
    if (auto group = channelGroup()) group->resumeWithIdentifyingObject(this);
}

void TLMTellium::sendStartServiceLog(const std::vector<std::string>& servicesNames) {
    std::lock_guard lock(mutex_);
    if (storedEnabled()) {
        auto log = std::make_shared<TLMStartServiceLog>();
        log->services = servicesNames;
        log->isEventCollectorEnabled = defaultTransmissionTargetToken_.has_value();
        if (channelUnit_) channelUnit_->enqueueItem(log, TLMFlagsNormal);
    } else {
        if (!startedServiceNames_) startedServiceNames_.emplace();
        startedServiceNames_->insert(startedServiceNames_->end(), servicesNames.begin(), servicesNames.end());
    }
}

// ---- switches ------------------------------------------------------------------------------

bool TLMTellium::canBeUsed() {
    if (sdkConfigured_) return true;
    TLMLogError(kTLMLogTag, std::string("Tellium SDK hasn't been configured. You need to call [TLMTellium "
                                        "start:YOUR_APP_SECRET withServices:LIST_OF_SERVICES] first."));
    return false;
}

bool TLMTellium::isEnabledInstance() {
    std::lock_guard lock(mutex_);
    return canBeUsed() && storedEnabled();
}

void TLMTellium::setEnabledInstance(bool isEnabled) {
    std::lock_guard lock(mutex_);
    if (!canBeUsed()) return;
    enabledStateUpdating_ = true;
    if (isEnabled != storedEnabled()) {
        TLMTelliumUserDefaults::shared().setObject(defaults::Value(isEnabled), kTLMIsEnabledKey);
        applyPipelineEnabledState(isEnabled);
    }
    for (const auto& service : services_) service->serviceClass().setEnabled(isEnabled);
    enabledStateUpdating_ = false;
    TLMLogInfo(kTLMLogTag, std::string("Tellium SDK ") + (isEnabled ? "enabled" : "disabled") + ".");
}

void TLMTellium::setNetworkRequestsAllowedInstance(bool isAllowed) {
    std::lock_guard lock(mutex_);
    TLMLogInfo(kTLMLogTag, std::string("Tellium SDK network requests are ") + (isAllowed ? "allowed" : "forbidden") + ".");
    TLMTelliumUserDefaults::shared().setObject(defaults::Value(isAllowed), kTLMNetworkRequestsAllowedKey);
    networkRequestsAllowed.store(isAllowed ? 1 : 0);
    if (!canBeUsed()) return;
    if (channelGroup_) {
        if (isAllowed) channelGroup_->resumeWithIdentifyingObject(channelGroup_.get());
        else channelGroup_->pauseWithIdentifyingObject(channelGroup_.get());
    }
}

void TLMTellium::setLogUrlInstance(const std::string& logUrl) {
    std::lock_guard lock(mutex_);
    logUrl_ = logUrl;
    if (!channelGroup_) return;
    if (appSecret_) {
        TLMLogInfo(kTLMLogTag, "The log url of Tellium endpoint was changed to " + logUrl);
        channelGroup_->setLogUrl(logUrl);
    } else {
        TLMLogInfo(kTLMLogTag, "The log url of Event Collector endpoint was changed to " + logUrl);
        if (eventCollectorChannelDelegate_) eventCollectorChannelDelegate_->setLogUrl(logUrl);
    }
}

void TLMTellium::setMaxStorageSizeInstance(int64_t sizeInBytes, std::function<void(bool)> completionHandler) {
    if (sizeInBytes < kTLMMinUpperSizeLimitInBytes) {
        TLMLogWarning(kTLMLogTag, "Cannot set storage size to " + std::to_string(sizeInBytes) +
                                      " bytes, minimum value is " + std::to_string(kTLMMinUpperSizeLimitInBytes) +
                                      " bytes");
        if (completionHandler) completionHandler(false);
        return;
    }
    std::unique_lock lock(mutex_);
    if (setMaxStorageSizeHasBeenCalled_) {
        TLMLogWarning(kTLMLogTag,
                      std::string("setMaxStorageSize:completionHandler: may only be called once per app launch"));
        lock.unlock();
        if (completionHandler) completionHandler(false);
        return;
    }
    setMaxStorageSizeHasBeenCalled_ = true;
    if (configuredFromApplication_) {
        TLMLogWarning(kTLMLogTag, std::string("Unable to set storage size after the application has configured Tellium"));
        lock.unlock();
        if (completionHandler) completionHandler(false);
        return;
    }
    requestedMaxStorageSizeInBytes_ = sizeInBytes;
    maxStorageSizeCompletionHandler_ = completionHandler;
    if (channelGroup_) channelGroup_->setMaxStorageSize(sizeInBytes, std::move(completionHandler));
}

void TLMTellium::setUserIdInstance(const std::optional<std::string>& userId) {
    if (!configuredFromApplication_) {
        TLMLogError(kTLMLogTag, std::string("Tellium must be configured from application, libraries cannot call setUserId."));
        return;
    }
    std::optional<std::string> secret;
    std::optional<std::string> token;
    {
        std::lock_guard lock(mutex_);
        secret = appSecret_;
        token = defaultTransmissionTargetToken_;
    }
    if (!secret && !token) {
        TLMLogError(kTLMLogTag, std::string("Tellium must be configured with a secret from application to call setUserId."));
        return;
    }
    if (userId) {
        if (secret && !TLMUserIdContext::isUserIdValidForTellium(userId)) return;
        if (token && !TLMUserIdContext::isUserIdValidForEventCollector(userId)) return;
    }
    TLMUserIdContext::sharedInstance()->setUserId(userId);
}

std::string TLMTellium::installIdInstance() {
    std::lock_guard lock(mutex_);
    if (!installId_) {
        auto stored = TLMTelliumUserDefaults::shared().objectForKey(kTLMInstallIdKey);
        const std::string* text = stored ? stored->get<std::string>() : nullptr;
        if (text && TLMUtility::isValidUuid(*text)) {
            installId_ = *text;
        } else {
            installId_ = TLMUtility::uuidString();
            TLMTelliumUserDefaults::shared().setObject(defaults::Value(*installId_), kTLMInstallIdKey);
        }
    }
    return *installId_;
}

// ---- accessors -----------------------------------------------------------------------------

std::shared_ptr<TLMChannelGroupProtocol> TLMTellium::channelGroup() {
    std::lock_guard lock(mutex_);
    return channelGroup_;
}

std::shared_ptr<TLMChannelUnitProtocol> TLMTellium::channelUnit() {
    std::lock_guard lock(mutex_);
    return channelUnit_;
}

std::vector<std::shared_ptr<TLMServiceAbstract>> TLMTellium::services() {
    std::lock_guard lock(mutex_);
    return services_;
}

std::optional<std::vector<std::string>> TLMTellium::startedServiceNames() {
    std::lock_guard lock(mutex_);
    return startedServiceNames_;
}

std::optional<std::string> TLMTellium::appSecret() {
    std::lock_guard lock(mutex_);
    return appSecret_;
}

std::optional<std::string> TLMTellium::defaultTransmissionTargetToken() {
    std::lock_guard lock(mutex_);
    return defaultTransmissionTargetToken_;
}

std::optional<std::string> TLMTellium::logUrlValue() {
    std::lock_guard lock(mutex_);
    return logUrl_;
}
