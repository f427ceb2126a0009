#include "tellium_crashes/TLMCrashes.h"

#include <mutex>

#include "tellium/TLMLogger.h"
#include "tellium/TLMTellium.h"
#include "tellium/context/TLMDeviceTracker.h"
#include "tellium/context/TLMSessionContext.h"
#include "tellium/context/TLMUserIdContext.h"

namespace {
std::mutex g_instanceMutex;
std::shared_ptr<TLMCrashes>& instanceSlot() {
    static auto* instance = new std::shared_ptr<TLMCrashes>;
    return *instance;
}
}  // namespace

std::shared_ptr<TLMCrashes> TLMCrashes::sharedInstance() {
    std::lock_guard lock(g_instanceMutex);
    auto& slot = instanceSlot();
    if (!slot) slot = std::make_shared<TLMCrashes>();
    return slot;
}

void TLMCrashes::resetSharedInstance() {
    std::shared_ptr<TLMCrashes> old;
    std::lock_guard lock(g_instanceMutex);
    old.swap(instanceSlot());
}

const TLMServiceClass* TLMCrashes::serviceClassObject() {
    static const TLMServiceClassOf<TLMCrashes> object;
    return &object;
}

void TLMCrashes::startWithChannelGroup(const std::shared_ptr<TLMChannelGroupProtocol>& channelGroup,
                                       const std::optional<std::string>& appSecret,
                                       const std::optional<std::string>& transmissionTargetToken,
                                       bool fromApplication) {
    TLMServiceAbstract::startWithChannelGroup(channelGroup, appSecret, transmissionTargetToken, fromApplication);
    debuggerAttached_ = TLMTellium::isDebuggerAttached();
    if (debuggerAttached_) {
        TLMLogWarning(logTag(), std::string("A debugger is attached to the process."));
    }
    // Each launch adds a record to these histories; they only serve crashes of earlier launches,
    // which are not reported, so only this launch's records stay.
    TLMSessionContext::sharedInstance()->clearSessionHistoryAndKeepCurrentSession(true);
    TLMUserIdContext::sharedInstance()->clearUserIdHistory();
    TLMDeviceTracker::sharedInstance()->clearDevices();
    TLMLogVerbose(logTag(), std::string("Started Crashes service."));
}
