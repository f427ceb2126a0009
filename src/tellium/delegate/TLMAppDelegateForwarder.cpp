#include "tellium/delegate/TLMAppDelegateForwarder.h"

#include "tellium/delegate/TLMApplication.h"

namespace {

struct Shared {
    std::mutex mutex;
    std::shared_ptr<TLMAppDelegateForwarder> instance;
    // Guards of the "setDelegate:" replacement and of the delegate's method replacement. Held by
    // pointer so resetSharedInstance can arm them again.
    std::shared_ptr<std::once_flag> setDelegateToken = std::make_shared<std::once_flag>();
    std::shared_ptr<std::once_flag> delegateToken = std::make_shared<std::once_flag>();
    std::once_flag loadToken;
};
Shared& shared() {
    static auto* s = new Shared;
    return *s;
}

std::shared_ptr<std::once_flag> delegateToken() {
    auto& s = shared();
    std::lock_guard lock(s.mutex);
    return s.delegateToken;
}

// The application's result, then the registered objects' say through "...returnedValue:".
std::any forwardURLCallback(TLMObject& self, TLMArguments& args, const std::string& selector) {
    auto forwarder = TLMAppDelegateForwarder::sharedInstance();
    bool result = false;
    if (auto original = forwarder->originalImplementations()[selector]) {
        TLMArguments call = args;
        const std::any value = (*original)(self, call);
        if (const bool* b = std::any_cast<bool>(&value)) result = *b;
    }
    TLMArguments forwarded = args;
    forwarded.emplace_back(result);
    const std::any returned = forwarder->send(selector + "returnedValue:", std::move(forwarded));
    if (const bool* b = std::any_cast<bool>(&returned)) return *b;
    return result;
}

}  // namespace

TLMAppDelegateForwarder::TLMAppDelegateForwarder() {
    deprecatedSelectors_ = {{kTLMOpenURLOptionsSelector, kTLMOpenURLSourceApplicationSelector}};
    registerRuntimeClass();
}

void TLMAppDelegateForwarder::registerRuntimeClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        TLMObjectRuntime::registerClass("TLMDelegateForwarder");
        TLMObjectRuntime::registerClass("TLMAppDelegateForwarder", "TLMDelegateForwarder");
        // Runs as the application's "setDelegate:": the delegate's methods are replaced once, then
        // the application's own "setDelegate:" keeps the delegate.
        TLMObjectRuntime::classAddMethod(
            "TLMAppDelegateForwarder", "custom_setDelegate:",
            TLMObjectRuntime::makeIMP([](TLMObject& self, TLMArguments& args) -> std::any {
                auto forwarder = TLMAppDelegateForwarder::sharedInstance();
                std::shared_ptr<TLMObject> delegate;
                if (!args.empty()) {
                    if (auto* d = std::any_cast<std::shared_ptr<TLMObject>>(&args[0])) delegate = *d;
                }
                auto token = delegateToken();
                std::call_once(*token, [&] { forwarder->swizzleOriginalDelegate(delegate); });
                if (auto original = forwarder->originalSetDelegateImp()) (*original)(self, args);
                return {};
            }),
            "v@:@");
        TLMObjectRuntime::classAddMethod(
            "TLMAppDelegateForwarder", std::string("custom_") + kTLMOpenURLOptionsSelector,
            TLMObjectRuntime::makeIMP([](TLMObject& self, TLMArguments& args) -> std::any {
                return forwardURLCallback(self, args, kTLMOpenURLOptionsSelector);
            }),
            "B@:@@@");
        TLMObjectRuntime::classAddMethod(
            "TLMAppDelegateForwarder", std::string("custom_") + kTLMOpenURLSourceApplicationSelector,
            TLMObjectRuntime::makeIMP([](TLMObject& self, TLMArguments& args) -> std::any {
                return forwardURLCallback(self, args, kTLMOpenURLSourceApplicationSelector);
            }),
            "B@:@@@@");
    });
}

void TLMAppDelegateForwarder::load() {
    std::call_once(shared().loadToken, [] {
        sharedInstance()->setEnabledFromPlistForKey(kTLMAppDelegateForwarderEnabledKey);
    });
}

std::shared_ptr<TLMAppDelegateForwarder> TLMAppDelegateForwarder::sharedInstance() {
    auto& s = shared();
    std::lock_guard lock(s.mutex);
    if (!s.instance) s.instance = std::make_shared<TLMAppDelegateForwarder>();
    return s.instance;
}

void TLMAppDelegateForwarder::resetSharedInstance() {
    auto& s = shared();
    std::lock_guard lock(s.mutex);
    // What the old instance replaced goes back: the application's "setDelegate:" and the methods
    // of the delegate's class.
    if (s.instance) {
        if (auto original = s.instance->originalSetDelegateImp()) {
            if (auto method = TLMObjectRuntime::classGetInstanceMethod(TLMApplication::kClassName, "setDelegate:")) {
                TLMObjectRuntime::methodSetImplementation(*method, original);
            }
        }
        s.instance->restoreOriginalDelegate();
    }
    s.instance = std::make_shared<TLMAppDelegateForwarder>();
    s.setDelegateToken = std::make_shared<std::once_flag>();
    s.delegateToken = std::make_shared<std::once_flag>();
}

std::optional<std::string> TLMAppDelegateForwarder::originalClassForSetDelegate() const {
    TLMApplication::registerRuntimeClass();
    return std::string(TLMApplication::kClassName);
}

std::once_flag* TLMAppDelegateForwarder::swizzlingOnceToken() {
    auto& s = shared();
    std::lock_guard lock(s.mutex);
    return s.setDelegateToken.get();
}
