#include "tellium/TLMServiceAbstract.h"

#include "tellium/TLMLogger.h"
#include "tellium/TLMTellium.h"
#include "tellium/util/TLMTelliumUserDefaults.h"

TLMServiceAbstract::TLMServiceAbstract() = default;
TLMServiceAbstract::~TLMServiceAbstract() = default;

const std::string& TLMServiceAbstract::isEnabledKey() {
    std::call_once(keyOnce_, [this] { isEnabledKey_ = groupId() + "IsEnabled"; });
    return isEnabledKey_;
}

bool TLMServiceAbstract::isEnabled() {
    return TLMTelliumUserDefaults::shared().boolForKey(isEnabledKey()).value_or(true);
}

void TLMServiceAbstract::setEnabled(bool isEnabled) {
    if (isEnabled == this->isEnabled()) return;
    applyEnabledState(isEnabled);
    TLMTelliumUserDefaults::shared().setObject(defaults::Value(isEnabled), isEnabledKey());
}

void TLMServiceAbstract::applyEnabledState(bool isEnabled) {
    if (auto unit = channelUnit()) unit->setEnabled(isEnabled, true);
}

bool TLMServiceAbstract::canBeUsed() {
    if (TLMTellium::sharedInstance()->sdkConfigured() && started()) return true;
    // The service's own name ("Analytics"), not a cut of its class name.
    const std::string name = serviceClass().serviceName();
    TLMLogError(kTLMLogTag, name + " service hasn't been started. You need to call [TLMTellium "
                                   "start:YOUR_APP_SECRET withServices:LIST_OF_SERVICES] first.");
    return false;
}

bool TLMServiceAbstract::isAvailable() { return isEnabled() && started(); }

bool TLMServiceAbstract::isStartedFromApplication() const {
    std::lock_guard lock(fieldsMutex_);
    return startedFromApplication_;
}

void TLMServiceAbstract::startWithChannelGroup(const std::shared_ptr<TLMChannelGroupProtocol>& channelGroup,
                                               const std::optional<std::string>& appSecret,
                                               const std::optional<std::string>& transmissionTargetToken,
                                               bool fromApplication) {
    std::shared_ptr<TLMChannelUnitProtocol> unit;
    {
        std::lock_guard lock(fieldsMutex_);
        // A unit belongs to the group that made it.
        if (channelGroup_ != channelGroup) channelUnit_.reset();
        startedFromApplication_ = fromApplication;
        channelGroup_ = channelGroup;
        appSecret_ = appSecret;
        defaultTransmissionTargetToken_ = transmissionTargetToken;
        started_ = true;
        unit = channelUnit_;
    }
    if (auto configuration = channelUnitConfiguration(); configuration && channelGroup) {
        // A service started again (after it was disabled) keeps the unit it has, or takes the one
        // the group already holds for its group id: two units of one group would each send the
        // group's stored logs.
        if (!unit) unit = channelGroup->channelUnitForGroupId(configuration->groupId);
        if (!unit) unit = channelGroup->addChannelUnitWithConfiguration(configuration);
        std::lock_guard lock(fieldsMutex_);
        channelUnit_ = unit;
    }
    if (isEnabled()) applyEnabledState(true);
}

void TLMServiceAbstract::updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                                          const std::optional<std::string>& transmissionTargetToken) {
    {
        std::lock_guard lock(fieldsMutex_);
        startedFromApplication_ = true;
        appSecret_ = appSecret;
        defaultTransmissionTargetToken_ = transmissionTargetToken;
    }
    if (isEnabled()) applyEnabledState(true);
}

std::shared_ptr<TLMChannelGroupProtocol> TLMServiceAbstract::channelGroup() const {
    std::lock_guard lock(fieldsMutex_);
    return channelGroup_;
}

std::shared_ptr<TLMChannelUnitProtocol> TLMServiceAbstract::channelUnit() const {
    std::lock_guard lock(fieldsMutex_);
    return channelUnit_;
}

std::optional<std::string> TLMServiceAbstract::appSecret() const {
    std::lock_guard lock(fieldsMutex_);
    return appSecret_;
}

std::optional<std::string> TLMServiceAbstract::defaultTransmissionTargetToken() const {
    std::lock_guard lock(fieldsMutex_);
    return defaultTransmissionTargetToken_;
}

bool TLMServiceAbstract::started() const {
    std::lock_guard lock(fieldsMutex_);
    return started_;
}

// ---- the class-level switch ----------------------------------------------------------------

void TLMServiceClass::setEnabled(bool isEnabled) const {
    auto tellium = TLMTellium::sharedInstance();
    auto service = sharedInstance();
    // The SDK's lock first, then the service's: the SDK takes them in this order when it switches
    // its services, so the two never wait on each other.
    std::lock_guard sdkLock(tellium->lock());
    std::lock_guard serviceLock(service->classLock());
    if (!service->canBeUsed()) return;
    if (!tellium->isEnabledInstance() && !tellium->enabledStateUpdating()) {
        TLMLogError(kTLMLogTag, "The SDK is disabled. Re-enable the whole SDK from Tellium first before enabling " +
                                    serviceName() + " service.");
        return;
    }
    service->setEnabled(isEnabled);
}

bool TLMServiceClass::isEnabled() const {
    auto tellium = TLMTellium::sharedInstance();
    auto service = sharedInstance();
    std::lock_guard sdkLock(tellium->lock());
    std::lock_guard serviceLock(service->classLock());
    return service->canBeUsed() && service->isEnabled();
}
