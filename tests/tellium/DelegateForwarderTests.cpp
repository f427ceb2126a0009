// The application-delegate forwarder on the SDK's object runtime: its switch from the
// application's information values, the trace buffer, and replacing a delegate's URL callback,
// forwarding it to registered SDK objects and restoring it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "TelliumTestSupport.h"
#include "tellium/TLMTellium.h"
#include "tellium/delegate/TLMAppDelegateForwarder.h"
#include "tellium/delegate/TLMApplication.h"
#include "tellium/util/TLMPlatformHooks.h"

namespace telltest {
namespace {

constexpr const char* kOptions = kTLMOpenURLOptionsSelector;
constexpr const char* kOld = kTLMOpenURLSourceApplicationSelector;
const std::string kOptionsReturned = std::string(kTLMOpenURLOptionsSelector) + "returnedValue:";

// An object of a runtime class made for one test, whose methods record their calls.
class RuntimeObject : public TLMObject {
public:
    explicit RuntimeObject(std::string cls) : cls_(std::move(cls)) {}
    std::string runtimeClassName() const override { return cls_; }
    std::vector<std::string> calls;

private:
    std::string cls_;
};

void addMethod(const std::string& cls, const std::string& selector,
               std::function<std::any(RuntimeObject&, TLMArguments&)> body) {
    TLMObjectRuntime::classAddMethod(cls,
                                     selector,
                                     TLMObjectRuntime::makeIMP([body, selector](TLMObject& self, TLMArguments& args) {
                                         auto& o = dynamic_cast<RuntimeObject&>(self);
                                         o.calls.push_back(selector);
                                         return body(o, args);
                                     }),
                                     "B@:@@@");
}

class DelegateForwarder : public TelliumTest {
protected:
    void SetUp() override {
        TelliumTest::SetUp();
        TLMDelegateForwarder::resetTraceBufferForTesting();
        TLMAppDelegateForwarder::resetSharedInstance();
        TLMApplication::sharedApplication()->storeDelegate(nullptr);
        ++serial_;
    }
    void TearDown() override {
        TLMAppDelegateForwarder::resetSharedInstance();
        TLMApplication::sharedApplication()->storeDelegate(nullptr);
        TLMDelegateForwarder::flushTraceBuffer();
        TelliumTest::TearDown();
    }
    void setInfo(nlohmann::json info) {
        TLMPlatformHooks hooks;
        hooks.infoDictionary = [info] { return info; };
        TLMPlatform::setHooks(hooks);
    }
    // A class name of this test only (the runtime keeps classes for the process).
    std::string className(const std::string& base) { return base + std::to_string(serial_); }

    static inline int serial_ = 0;
};

struct SwitchCase {
    const char* name;
    nlohmann::json info;
    bool enabled;
};

TEST_F(DelegateForwarder, TheSwitchComesFromTheApplicationsInformation) {
    const SwitchCase cases[] = {
        {"absent", nlohmann::json::object(), true},
        {"true", {{"TelliumAppDelegateForwarderEnabled", true}}, true},
        {"false", {{"TelliumAppDelegateForwarderEnabled", false}}, false},
        {"NO", {{"TelliumAppDelegateForwarderEnabled", "NO"}}, false},
        {"0", {{"TelliumAppDelegateForwarderEnabled", 0}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setInfo(c.info);
        TLMAppDelegateForwarder::resetSharedInstance();
        auto forwarder = TLMAppDelegateForwarder::sharedInstance();
        forwarder->setEnabledFromPlistForKey(kTLMAppDelegateForwarderEnabledKey);
        EXPECT_EQ(forwarder->isEnabled(), c.enabled);
        auto sdkObject = std::make_shared<RuntimeObject>(className("Sdk"));
        forwarder->addDelegate(sdkObject);
        forwarder->addDelegateSelectorToSwizzle(kOptions);
        EXPECT_EQ(forwarder->delegateCount(), c.enabled ? 1u : 0u);
        EXPECT_EQ(forwarder->selectorsToSwizzle().size(), c.enabled ? 1u : 0u);
    }
}

TEST_F(DelegateForwarder, TracesWaitForTheLogLevelAndLaterOnesAreLoggedAtOnce) {
    LogRecorder log;
    setInfo({{"TelliumAppDelegateForwarderEnabled", false}});
    TLMAppDelegateForwarder::sharedInstance()->setEnabledFromPlistForKey(kTLMAppDelegateForwarderEnabledKey);
    EXPECT_FALSE(log.contains("Delegate forwarder for info.plist key"));

    TLMTellium::setLogLevel(TLMLogLevelVerbose);  // flushes
    const auto messages = log.messages();
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages[0].text, "Start buffering traces.");
    EXPECT_EQ(messages[1].text, "Delegate forwarder for info.plist key 'TelliumAppDelegateForwarderEnabled' "
                                "disabled. It won't use swizzling.");
    EXPECT_EQ(messages[1].level, TLMLogLevelDebug);
    EXPECT_TRUE(log.contains("Stop buffering traces, flushed.", TLMLogLevelVerbose));

    bool ran = false;
    TLMDelegateForwarder::addTraceBlock([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST_F(DelegateForwarder, ReplacesForwardsAndRestoresTheDelegatesCallback) {
    const std::string appClass = className("AppDelegate");
    TLMObjectRuntime::registerClass(appClass);
    addMethod(appClass, kOptions, [](RuntimeObject&, TLMArguments&) { return std::any(false); });
    auto appDelegate = std::make_shared<RuntimeObject>(appClass);

    // Two SDK objects: the first turns the value around, the second records what it got.
    const std::string sdkClass = className("Sdk");
    TLMObjectRuntime::registerClass(sdkClass);
    std::vector<bool> seen;
    addMethod(sdkClass, kOptionsReturned, [&seen](RuntimeObject&, TLMArguments& args) {
        const bool value = std::any_cast<bool>(args.back());
        seen.push_back(value);
        return std::any(!value);
    });
    auto first = std::make_shared<RuntimeObject>(sdkClass);
    auto second = std::make_shared<RuntimeObject>(sdkClass);

    auto forwarder = TLMAppDelegateForwarder::sharedInstance();
    forwarder->addDelegateSelectorToSwizzle(kOptions);
    forwarder->addDelegate(first);
    forwarder->addDelegate(second);
    auto app = TLMApplication::sharedApplication();
    app->setDelegate(appDelegate);
    EXPECT_EQ(app->delegate(), appDelegate) << "the original setDelegate: still runs";
    EXPECT_TRUE(forwarder->selectorsToSwizzle().empty());
    EXPECT_EQ(forwarder->originalImplementations().count(kOptions), 1u);

    // The application's own method runs (false), the first gets false and answers true, the
    // second gets true and answers false: the caller gets false.
    EXPECT_FALSE(app->openURL("dravix://x", TLMOpenURLOptions{{"k", "v"}}));
    EXPECT_EQ(appDelegate->calls, std::vector<std::string>{kOptions});
    EXPECT_EQ(seen, (std::vector<bool>{false, true}));

    // With nobody registered the caller gets what the application's method returned.
    forwarder->removeDelegate(first);
    forwarder->removeDelegate(second);
    seen.clear();
    EXPECT_FALSE(app->openURL("dravix://y", TLMOpenURLOptions{}));
    EXPECT_TRUE(seen.empty());

    // Restored: the application's method alone again.
    forwarder->addDelegate(first);
    forwarder->restoreOriginalDelegate();
    appDelegate->calls.clear();
    EXPECT_FALSE(app->openURL("dravix://z", TLMOpenURLOptions{}));
    EXPECT_EQ(appDelegate->calls, std::vector<std::string>{kOptions});
    EXPECT_TRUE(seen.empty());
}

TEST_F(DelegateForwarder, WithoutRegisteredObjectsTheApplicationsValueComesBack) {
    const std::string appClass = className("AppDelegate");
    TLMObjectRuntime::registerClass(appClass);
    addMethod(appClass, kOptions, [](RuntimeObject&, TLMArguments&) { return std::any(true); });
    auto forwarder = TLMAppDelegateForwarder::sharedInstance();
    forwarder->addDelegateSelectorToSwizzle(kOptions);
    auto app = TLMApplication::sharedApplication();
    app->setDelegate(std::make_shared<RuntimeObject>(appClass));
    EXPECT_TRUE(app->openURL("dravix://x", TLMOpenURLOptions{}));
}

TEST_F(DelegateForwarder, AMissingCallbackIsAddedAndRemovedOnRestore) {
    LogRecorder log;
    const std::string appClass = className("BareDelegate");
    TLMObjectRuntime::registerClass(appClass);
    auto forwarder = TLMAppDelegateForwarder::sharedInstance();
    forwarder->addDelegateSelectorToSwizzle(kOptions);
    auto app = TLMApplication::sharedApplication();
    app->setDelegate(std::make_shared<RuntimeObject>(appClass));
    EXPECT_TRUE(TLMObjectRuntime::instancesRespondToSelector(appClass, kOptions));
    EXPECT_TRUE(forwarder->originalImplementations().empty()) << "nothing was replaced";
    EXPECT_FALSE(app->openURL("dravix://x", TLMOpenURLOptions{})) << "no original: false";
    TLMTellium::setLogLevel(TLMLogLevelVerbose);
    EXPECT_TRUE(log.contains("Selector 'application:openURL:options:' of class '" + appClass + "' is swizzled.",
                             TLMLogLevelDebug));
    forwarder->restoreOriginalDelegate();
    EXPECT_FALSE(TLMObjectRuntime::instancesRespondToSelector(appClass, kOptions));
}

TEST_F(DelegateForwarder, ADelegateWithOnlyTheOlderCallbackGetsNoNewerOneAndAWarning) {
    LogRecorder log;
    const std::string appClass = className("OldDelegate");
    TLMObjectRuntime::registerClass(appClass);
    addMethod(appClass, kOld, [](RuntimeObject&, TLMArguments&) { return std::any(true); });
    auto forwarder = TLMAppDelegateForwarder::sharedInstance();
    forwarder->addDelegateSelectorToSwizzle(kOptions);
    TLMApplication::sharedApplication()->setDelegate(std::make_shared<RuntimeObject>(appClass));
    EXPECT_FALSE(TLMObjectRuntime::instancesRespondToSelector(appClass, kOptions));
    TLMTellium::setLogLevel(TLMLogLevelVerbose);
    EXPECT_TRUE(log.contains("Cannot swizzle selector 'application:openURL:options:' of class '" + appClass +
                                 "'. No implementation found for this selector, though an implementation of its "
                                 "deprecated API 'application:openURL:sourceApplication:annotation:' exists.",
                             TLMLogLevelWarning));
}

TEST_F(DelegateForwarder, TheSdkReportsTheForwardersSwitch) {
    setInfo({{"TelliumAppDelegateForwarderEnabled", false}});
    TLMAppDelegateForwarder::sharedInstance()->setEnabledFromPlistForKey(kTLMAppDelegateForwarderEnabledKey);
    EXPECT_FALSE(TLMTellium::isAppDelegateForwarderEnabled());
}

}  // namespace
}  // namespace telltest
