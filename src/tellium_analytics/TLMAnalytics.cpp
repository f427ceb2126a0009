#include "tellium_analytics/TLMAnalytics.h"

#include <mutex>

#include "tellium/TLMLogger.h"
#include "tellium/TLMTellium.h"
#include "tellium/util/TLMUtility.h"
#include "tellium_analytics/TLMEventLog.h"
#include "tellium_analytics/TLMSessionTracker.h"

namespace {
std::mutex g_instanceMutex;
std::shared_ptr<TLMAnalytics>& instanceSlot() {
    static auto* instance = new std::shared_ptr<TLMAnalytics>;
    return *instance;
}
}  // namespace

std::shared_ptr<TLMAnalytics> TLMAnalytics::sharedInstance() {
    std::lock_guard lock(g_instanceMutex);
    auto& slot = instanceSlot();
    if (!slot) slot = std::make_shared<TLMAnalytics>();
    return slot;
}

void TLMAnalytics::resetSharedInstance() {
    std::shared_ptr<TLMAnalytics> old;
    std::lock_guard lock(g_instanceMutex);
    old.swap(instanceSlot());
}

const TLMServiceClass* TLMAnalytics::serviceClassObject() {
    static const TLMServiceClassOf<TLMAnalytics> object;
    return &object;
}

TLMAnalytics::TLMAnalytics() : sessionTracker_(std::make_shared<TLMSessionTracker>()) { TLMEventLog::registerClass(); }

TLMAnalytics::~TLMAnalytics() = default;

std::shared_ptr<const TLMChannelUnitConfiguration> TLMAnalytics::channelUnitConfiguration() const {
    return TLMChannelUnitConfiguration::initDefaultConfigurationWithGroupId(groupId());
}

void TLMAnalytics::startWithChannelGroup(const std::shared_ptr<TLMChannelGroupProtocol>& channelGroup,
                                         const std::optional<std::string>& appSecret,
                                         const std::optional<std::string>& transmissionTargetToken,
                                         bool fromApplication) {
    TLMServiceAbstract::startWithChannelGroup(channelGroup, appSecret, transmissionTargetToken, fromApplication);
    TLMLogVerbose(logTag(), std::string("Started Analytics service."));
}

void TLMAnalytics::applyEnabledState(bool isEnabled) {
    TLMServiceAbstract::applyEnabledState(isEnabled);
    auto group = channelGroup();
    if (isEnabled) {
        sessionTracker_->start();
        if (group) group->addDelegate(sessionTracker_);
    } else {
        if (group) group->removeDelegate(sessionTracker_);
        sessionTracker_->stop();
    }
    TLMLogInfo(logTag(), std::string("Analytics service has been ") + (isEnabled ? "enabled" : "disabled") + ".");
}

void TLMAnalytics::trackEvent(const std::string& eventName) { sharedInstance()->trackEventInstance(eventName, nullptr); }

void TLMAnalytics::trackEvent(const std::string& eventName, const std::shared_ptr<TLMEventProperties>& properties) {
    sharedInstance()->trackEventInstance(eventName, properties);
}

void TLMAnalytics::trackEventInstance(const std::string& eventName,
                                      const std::shared_ptr<TLMEventProperties>& properties) {
    if (!canBeUsed() || !isEnabled()) return;
    if (eventName.empty()) {
        TLMLogError(logTag(), std::string("Event name cannot be null or empty."));
        return;
    }
    auto unit = channelUnit();
    if (!unit) return;
    auto log = std::make_shared<TLMEventLog>();
    log->eventId = TLMUtility::uuidString();
    log->name = eventName;
    if (properties && !properties->isEmpty()) log->typedProperties = properties;
    unit->enqueueItem(log, TLMFlagsNormal);
}
