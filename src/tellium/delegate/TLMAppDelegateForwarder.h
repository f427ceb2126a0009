#pragma once
// The delegate forwarder of the application object (TLMApplication): it can pass the two
// URL-opening callbacks of the application's delegate on to SDK objects. Its switch is the
// information key "TelliumAppDelegateForwarderEnabled" (absent: enabled). The shared instance is
// made when the SDK is configured (load()), never during static initialisation.
#include <memory>
#include <mutex>

#include "tellium/delegate/TLMDelegateForwarder.h"

inline constexpr const char* kTLMAppDelegateForwarderEnabledKey = "TelliumAppDelegateForwarderEnabled";

class TLMAppDelegateForwarder : public TLMDelegateForwarder {
public:
    TLMAppDelegateForwarder();
    std::string runtimeClassName() const override { return "TLMAppDelegateForwarder"; }

    // Creates the shared instance and reads its switch (once; later calls do nothing).
    static void load();
    static std::shared_ptr<TLMAppDelegateForwarder> sharedInstance();
    // A new shared instance; the "setDelegate:" guards are armed again. For tests.
    static void resetSharedInstance();

    std::optional<std::string> originalClassForSetDelegate() const override;
    std::once_flag* swizzlingOnceToken() override;
    std::optional<std::string> enabledKey() const override { return std::string(kTLMAppDelegateForwarderEnabledKey); }

    // The runtime class of the forwarder, with its "custom_" methods.
    static void registerRuntimeClass();
};

// The selectors of the application's delegate that the forwarder knows.
inline constexpr const char* kTLMOpenURLOptionsSelector = "application:openURL:options:";
inline constexpr const char* kTLMOpenURLSourceApplicationSelector = "application:openURL:sourceApplication:annotation:";
