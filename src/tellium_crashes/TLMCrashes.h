#pragma once
// The crashes service as far as this product uses it: it starts first (priority 999), notes
// whether a debugger traces the process, and keeps the per-launch histories from growing: at
// start it clears the session-id history (keeping this launch's record), the user-id history and
// the past devices. Crash reports are not captured or sent.
#include <memory>
#include <optional>
#include <string>

#include "tellium/TLMServiceAbstract.h"

class TLMCrashes : public TLMServiceAbstract {
public:
    static constexpr const char* kClassName = "TLMCrashes";
    static constexpr int kInitializationPriority = 999;
    static std::string serviceName() { return "Crashes"; }
    static std::string logTag() { return "TelliumCrashes"; }
    static std::shared_ptr<TLMCrashes> sharedInstance();
    // The next sharedInstance() makes a fresh, unstarted instance. For tests.
    static void resetSharedInstance();
    static const TLMServiceClass* serviceClassObject();

    std::string groupId() const override { return "Crashes"; }
    const TLMServiceClass& serviceClass() const override { return *serviceClassObject(); }
    int initializationPriority() const override { return kInitializationPriority; }
    bool readsEarlierLaunchHistories() const override { return true; }

    void startWithChannelGroup(const std::shared_ptr<TLMChannelGroupProtocol>& channelGroup,
                               const std::optional<std::string>& appSecret,
                               const std::optional<std::string>& transmissionTargetToken,
                               bool fromApplication) override;

    // What the start found.
    bool debuggerAttached() const { return debuggerAttached_; }

private:
    bool debuggerAttached_ = false;
};
