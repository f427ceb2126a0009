#pragma once
// The analytics service: tracks named events (with typed properties) as event logs on its own
// channel unit (group "Analytics": sent every 6 s or per 50 logs, 3 batches in flight), and keeps
// the launch's session. It needs no app secret; it starts at the default priority.
#include <memory>
#include <optional>
#include <string>

#include "tellium/TLMServiceAbstract.h"
#include "tellium_analytics/TLMEventProperties.h"

class TLMSessionTracker;

class TLMAnalytics : public TLMServiceAbstract {
public:
    static constexpr const char* kClassName = "TLMAnalytics";
    static std::string serviceName() { return "Analytics"; }
    static std::string logTag() { return "TelliumAnalytics"; }
    static std::shared_ptr<TLMAnalytics> sharedInstance();
    // The next sharedInstance() makes a fresh, unstarted instance. For tests.
    static void resetSharedInstance();
    // What the application passes to the SDK to name this service.
    static const TLMServiceClass* serviceClassObject();

    // Queues one event of that name (normal priority) when the service is started and enabled.
    static void trackEvent(const std::string& eventName);
    static void trackEvent(const std::string& eventName, const std::shared_ptr<TLMEventProperties>& properties);

    TLMAnalytics();
    ~TLMAnalytics() override;

    std::string groupId() const override { return "Analytics"; }
    const TLMServiceClass& serviceClass() const override { return *serviceClassObject(); }
    std::shared_ptr<const TLMChannelUnitConfiguration> channelUnitConfiguration() const override;
    bool isAppSecretRequired() const override { return false; }

    void startWithChannelGroup(const std::shared_ptr<TLMChannelGroupProtocol>& channelGroup,
                               const std::optional<std::string>& appSecret,
                               const std::optional<std::string>& transmissionTargetToken,
                               bool fromApplication) override;
    void applyEnabledState(bool isEnabled) override;

    std::shared_ptr<TLMSessionTracker> sessionTracker() const { return sessionTracker_; }

private:
    void trackEventInstance(const std::string& eventName, const std::shared_ptr<TLMEventProperties>& properties);

    std::shared_ptr<TLMSessionTracker> sessionTracker_;
};
