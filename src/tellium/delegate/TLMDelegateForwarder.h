#pragma once
// Lets SDK services observe the callbacks an application's delegate receives, without the
// application calling the SDK from its delegate methods. Built on the SDK's object runtime
// (TLMObjectRuntime): the forwarder replaces, by selector name, chosen methods of the class of the
// delegate the application installs, runs the application's own implementation, and passes the
// call on to every SDK object registered with it.
//
// The method replacement starts when the platform object's "setDelegate:" is replaced (the first
// selector asked for arms it); the delegate's methods are replaced when the application installs
// its delegate. What could not be replaced is reported through the trace buffer, whose messages
// wait until the SDK's log level is set (so messages made before that follow the level then).
#include <any>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tellium/util/TLMObjectRuntime.h"

// One message as an object: selector, arguments (the receiver not counted) and the return value.
struct TLMInvocation {
    std::string selector;
    TLMArguments arguments;
    std::any returnValue;
};

// What the SDK objects registered with a forwarder implement (their optional callbacks are
// methods of their runtime class, by selector name).
class TLMCustomDelegate : public TLMObject {};

class TLMDelegateForwarder : public TLMObject {
public:
    TLMDelegateForwarder();
    ~TLMDelegateForwarder() override;

    std::string runtimeClassName() const override { return "TLMDelegateForwarder"; }

    // The platform class whose "setDelegate:" is replaced; nothing in the base class.
    virtual std::optional<std::string> originalClassForSetDelegate() const { return std::nullopt; }
    // The guard of the "setDelegate:" replacement, one per forwarder class; nothing in the base.
    virtual std::once_flag* swizzlingOnceToken() { return nullptr; }
    // The info key of the switch; nothing in the base class.
    virtual std::optional<std::string> enabledKey() const { return std::nullopt; }

    // Runs a trace now when the buffer is gone, else keeps it for flushTraceBuffer.
    static void addTraceBlock(std::function<void()> block);
    // Runs every buffered trace in order and drops the buffer for good.
    static void flushTraceBuffer();

    // Only while enabled: the first time (per forwarder class) arms the "setDelegate:"
    // replacement, then the selector waits for the delegate.
    void addDelegateSelectorToSwizzle(const std::string& selector);
    // Replaces every waiting selector on the delegate's class by the forwarder's "custom_" one.
    void swizzleOriginalDelegate(const std::shared_ptr<TLMObject>& originalDelegate);
    // Replaces (or adds) one method; answers the implementation it replaced, or nothing.
    TLMIMP swizzleOriginalSelector(const std::string& originalSelector, const std::string& customSelector,
                                   const std::string& originalClass);
    // Puts back what swizzleOriginalDelegate changed on the delegate's class: replaced methods get
    // their original implementation, added ones are removed.
    void restoreOriginalDelegate();

    // Passes a message the forwarder does not implement on to the registered delegates that answer
    // it; for a "...returnedValue:" message each one gets the value the previous one returned.
    void forwardInvocation(TLMInvocation& invocation);
    // Sends a message to the forwarder: its own method when it has one, else forwardInvocation.
    std::any send(const std::string& selector, TLMArguments arguments);

    // Registered objects are held weakly; both act only while enabled.
    void addDelegate(const std::shared_ptr<TLMObject>& delegate);
    void removeDelegate(const std::shared_ptr<TLMObject>& delegate);

    // Reads the switch from the application's information values (absent: enabled).
    void setEnabledFromPlistForKey(const std::string& key);
    bool isEnabled();
    // Turning off drops every registered delegate.
    void setEnabled(bool isEnabled);

    // Accessors.
    TLMIMP originalSetDelegateImp();
    std::map<std::string, TLMIMP> originalImplementations();
    std::set<std::string> selectorsToSwizzle();
    std::size_t delegateCount();
    const std::map<std::string, std::string>& deprecatedSelectors() const { return deprecatedSelectors_; }

    // The trace buffer as at process start (buffering, "Start buffering traces." not yet added).
    static void resetTraceBufferForTesting();

protected:
    std::map<std::string, std::string> deprecatedSelectors_;
    // Where the original "setDelegate:" goes (set by addDelegateSelectorToSwizzle).
    void setOriginalSetDelegateImp(TLMIMP imp);

private:
    std::mutex mutex_;  // enabled flag and delegates
    bool enabled_ = true;
    std::vector<std::weak_ptr<TLMObject>> delegates_;

    std::mutex swizzleMutex_;  // the fields below
    TLMIMP originalSetDelegateImp_;
    std::map<std::string, TLMIMP> originalImplementations_;
    std::set<std::string> selectorsToSwizzle_;
    std::string swizzledClass_;
    std::set<std::string> addedSelectors_;
};
