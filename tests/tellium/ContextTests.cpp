// The device tracker and the session and user-id contexts, with their persisted histories.
#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <fstream>
#include <thread>

#include "TelliumTestSupport.h"
#include "tellium/context/TLMDeviceTracker.h"
#include "tellium/context/TLMSessionContext.h"
#include "tellium/context/TLMUserIdContext.h"
#include "tellium/util/TLMPlatformHooks.h"
#include "tellium/util/TLMTelliumUserDefaults.h"

using namespace telltest;
using namespace std::chrono_literals;

namespace {

class ContextTest : public TelliumTest {
protected:
    // A new launch: the singletons are made again from the stored settings.
    static void relaunch() {
        TLMDeviceTracker::resetSharedInstance();
        TLMSessionContext::resetSharedInstance();
        TLMUserIdContext::resetSharedInstance();
    }
    static void installApp(TLMAppInfo info) {
        TLMPlatformHooks hooks;
        hooks.appInfo = [info] { return info; };
        hooks.screenSize = [] { return std::optional<TLMScreenSize>(TLMScreenSize{1920, 1080}); };
        TLMPlatform::setHooks(hooks);
    }
};

// ---- device --------------------------------------------------------------------------------

TEST_F(ContextTest, DeviceIsFilledFromThisMachine) {
    installApp({"1.2", "42", "net.dravix.ftpclient"});
    auto device = TLMDeviceTracker::sharedInstance()->device();
    ASSERT_TRUE(device);
    EXPECT_TRUE(device->isValid());
    struct utsname names {};
    ASSERT_EQ(uname(&names), 0);
    EXPECT_EQ(device->model, std::string(names.machine));
    EXPECT_EQ(device->osBuild, std::string(names.release));
    EXPECT_EQ(device->sdkName, "tellium.cpp");
    EXPECT_EQ(device->sdkVersion, "4.4.2");
    std::ifstream vendor("/sys/class/dmi/id/sys_vendor");
    std::string v;
    if (vendor && std::getline(vendor, v) && !v.empty()) {
        EXPECT_EQ(device->oemName->substr(0, 3), v.substr(0, 3));
    } else {
        EXPECT_EQ(device->oemName, "Unknown");
    }
    std::ifstream release("/etc/os-release");
    std::stringstream text;
    text << release.rdbuf();
    auto os = TLMDeviceTracker::parseOsRelease(text.str());
    EXPECT_EQ(device->osName, os.count("NAME") ? os["NAME"] : "Linux");
    if (os.count("VERSION_ID")) {
        EXPECT_EQ(device->osVersion, os["VERSION_ID"]);
    }
    EXPECT_EQ(device->screenSize, "1080x1920");
    EXPECT_EQ(device->appVersion, "1.2");
    EXPECT_EQ(device->appBuild, "42");
    EXPECT_EQ(device->appNamespace, "net.dravix.ftpclient");
    EXPECT_FALSE(device->carrierName);
    EXPECT_FALSE(device->osApiLevel);
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    EXPECT_EQ(device->timeZoneOffset, local.tm_gmtoff / 60);
}

TEST_F(ContextTest, MissingVersionOrBuildStandsInForTheOther) {
    installApp({std::nullopt, "42", std::nullopt});
    auto device = TLMDeviceTracker::sharedInstance()->device();
    EXPECT_EQ(device->appVersion, "42");
    EXPECT_EQ(device->appBuild, "42");
    EXPECT_FALSE(device->appNamespace);
    EXPECT_TRUE(device->isValid());
    relaunch();
    TLMDeviceTracker::refreshDeviceNextTime();
    installApp({"2.0", "", std::nullopt});
    device = TLMDeviceTracker::sharedInstance()->device();
    EXPECT_EQ(device->appBuild, "2.0");
}

struct LocaleCase {
    std::map<std::string, std::string> env;
    std::string expected;
};
class DeviceLocale : public ::testing::TestWithParam<LocaleCase> {};
TEST_P(DeviceLocale, ComesFromTheFirstLanguageSetting) {
    const auto& env = GetParam().env;
    auto locale = TLMDeviceTracker::localeFromEnvironment([&](const char* name) -> std::optional<std::string> {
        auto it = env.find(name);
        if (it == env.end()) return std::nullopt;
        return it->second;
    });
    EXPECT_EQ(locale, GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Settings, DeviceLocale,
    ::testing::Values(LocaleCase{{{"LANG", "de_AT.UTF-8"}}, "de_AT"},
                      LocaleCase{{{"LANGUAGE", "fr_CA:en"}, {"LANG", "de_AT.UTF-8"}}, "fr_CA"},
                      LocaleCase{{{"LANGUAGE", "fr"}, {"LANG", "de_AT.UTF-8"}}, "fr_AT"},  // country from the current locale
                      LocaleCase{{{"LC_ALL", "zh-Hans-CN"}}, "zh-Hans_CN"},
                      LocaleCase{{{"LANG", "sr_RS@latin"}}, "sr-Latn_RS"},
                      LocaleCase{{{"LC_MESSAGES", "pt_BR.UTF-8"}, {"LANG", "en_US.UTF-8"}}, "pt_BR"},
                      LocaleCase{{{"LANG", "C.UTF-8"}}, "en"},
                      LocaleCase{{{"LC_ALL", "POSIX"}}, "en"},
                      LocaleCase{{{"LANG", "C"}}, "en"},
                      LocaleCase{{}, "en"}));

TEST_F(ContextTest, TwoCallsInOneLaunchGiveOneDeviceAndOneRecord) {
    auto tracker = TLMDeviceTracker::sharedInstance();
    auto first = tracker->device();
    EXPECT_EQ(tracker->device(), first);
    EXPECT_EQ(tracker->deviceHistory().size(), 1u);
}

TEST_F(ContextTest, SixLaunchesKeepTheNewestFive) {
    ScopedClock clock(utc(2024, 1, 1, 9, 0));
    std::vector<TLMDate> launches;
    for (int i = 0; i < 6; ++i) {
        relaunch();
        clock->advance(1h);
        launches.push_back(clock->now());
        TLMDeviceTracker::sharedInstance();
    }
    relaunch();
    TLMDeviceTracker tracker;  // reads the stored history without adding a record
    auto history = tracker.deviceHistory();
    ASSERT_EQ(history.size(), 5u);
    EXPECT_EQ(history.front().timestamp, launches[1]);
    EXPECT_EQ(history.back().timestamp, launches[5]);
    EXPECT_TRUE(TLMTelliumUserDefaults::shared().dataForKey("PastDevices"));
}

TEST_F(ContextTest, DeviceForTimestampPicksTheNewestRecordBefore) {
    ScopedClock clock(utc(2024, 1, 1, 10, 0));
    installApp({"1.0", "1", std::nullopt});
    TLMDeviceTracker::sharedInstance();
    relaunch();
    clock->set(utc(2024, 1, 1, 11, 0));
    installApp({"2.0", "2", std::nullopt});
    auto tracker = TLMDeviceTracker::sharedInstance();
    auto versionAt = [&](std::optional<TLMDate> d) { return *tracker->deviceForTimestamp(d)->appVersion; };
    EXPECT_EQ(versionAt(utc(2024, 1, 1, 10, 30)), "1.0");
    EXPECT_EQ(versionAt(utc(2024, 1, 1, 11, 30)), "2.0");
    EXPECT_EQ(versionAt(utc(2024, 1, 1, 11, 0)), "1.0");
    EXPECT_EQ(versionAt(utc(2024, 1, 1, 9, 0)), "1.0");
    EXPECT_EQ(versionAt(utc(2024, 1, 1, 10, 0)), "1.0");
    EXPECT_EQ(versionAt(std::nullopt), "2.0");
    tracker->clearDevices();
    EXPECT_EQ(tracker->deviceHistory().size(), 1u);
    EXPECT_EQ(versionAt(utc(2024, 1, 1, 10, 30)), "2.0");
}

TEST_F(ContextTest, CountryCodeAddsARecordAndWrapperSdkReplacesTheNewest) {
    ScopedClock clock(utc(2024, 1, 1, 10, 0));
    auto tracker = TLMDeviceTracker::sharedInstance();
    tracker->setCountryCode("DE");
    clock->advance(1min);
    EXPECT_EQ(tracker->device()->carrierCountry, "DE");
    EXPECT_EQ(tracker->deviceHistory().size(), 2u);

    auto wrapper = std::make_shared<TLMWrapperSdk>();
    wrapper->wrapperSdkName = "wrapper.sdk";
    clock->advance(1min);
    tracker->setWrapperSdk(wrapper);
    auto history = tracker->deviceHistory();
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history.back().device->wrapperSdkName, "wrapper.sdk");
    EXPECT_EQ(tracker->device()->wrapperSdkName, "wrapper.sdk");
    TLMDeviceTracker::resetSharedInstance();
    EXPECT_EQ(TLMDeviceTracker::sharedInstance()->wrapperSdk(), nullptr);
}

TEST_F(ContextTest, DeviceIsSafeToReadWhileTheHistoryChanges) {
    auto tracker = TLMDeviceTracker::sharedInstance();
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            auto d = tracker->deviceForTimestamp(TLMClock::current()->now());
            EXPECT_TRUE(d);
        }
    });
    for (int i = 0; i < 50; ++i) tracker->setCountryCode(std::to_string(i)), tracker->device();
    stop = true;
    reader.join();
}

// ---- sessions ------------------------------------------------------------------------------

TEST_F(ContextTest, SessionHistoryKeepsOneRecordPerLaunch) {
    ScopedClock clock(utc(2024, 1, 1, 9, 0));
    auto context = TLMSessionContext::sharedInstance();
    EXPECT_EQ(context->sessionHistory().size(), 1u);
    EXPECT_FALSE(context->sessionId());
    EXPECT_FALSE(TLMTelliumUserDefaults::shared().dataForKey("SessionIdHistory"));  // not stored until set

    clock->set(utc(2024, 1, 1, 9, 59));
    context->setSessionId("first");
    clock->set(utc(2024, 1, 1, 10, 0));
    context->setSessionId("A");
    auto history = context->sessionHistory();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].sessionId, "A");
    EXPECT_EQ(history[0].timestamp, utc(2024, 1, 1, 10, 0));

    relaunch();
    clock->set(utc(2024, 1, 1, 11, 0));
    context = TLMSessionContext::sharedInstance();
    context->setSessionId("B");
    EXPECT_EQ(context->sessionIdAt(utc(2024, 1, 1, 10, 30)), "A");
    EXPECT_EQ(context->sessionIdAt(utc(2024, 1, 1, 11, 30)), "B");
    EXPECT_EQ(context->sessionIdAt(utc(2024, 1, 1, 9, 0)), std::nullopt);
    EXPECT_EQ(context->sessionIdAt(utc(2024, 1, 1, 11, 0)), "A");
}

TEST_F(ContextTest, SessionHistoryClears) {
    auto context = TLMSessionContext::sharedInstance();
    context->setSessionId("A");
    context->clearSessionHistoryAndKeepCurrentSession(true);
    EXPECT_EQ(context->sessionHistory().size(), 1u);
    context->clearSessionHistoryAndKeepCurrentSession(false);
    EXPECT_TRUE(context->sessionHistory().empty());
    context->setSessionId("B");  // nothing to take off an empty history
    auto history = context->sessionHistory();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].sessionId, "B");
}

TEST_F(ContextTest, UnreadableStoredHistoryStartsEmpty) {
    TLMTelliumUserDefaults::shared().setObject(defaults::Data{"not an archive"}, "SessionIdHistory");
    TLMTelliumUserDefaults::shared().setObject(defaults::Data{"\xa1"}, "PastDevices");
    EXPECT_EQ(TLMSessionContext::sharedInstance()->sessionHistory().size(), 1u);
    EXPECT_EQ(TLMDeviceTracker::sharedInstance()->deviceHistory().size(), 1u);
}

// ---- user ids ------------------------------------------------------------------------------

struct Listener : TLMUserIdContextDelegate {
    std::vector<std::optional<std::string>> seen;
    void userIdContextDidUpdateUserId(TLMUserIdContext&, const std::optional<std::string>& id) override {
        seen.push_back(id);
    }
};

TEST_F(ContextTest, UserIdHistoryIsStoredAtOnceAndTellsDelegates) {
    ScopedClock clock(utc(2024, 1, 1, 10, 0));
    auto context = TLMUserIdContext::sharedInstance();
    EXPECT_TRUE(TLMTelliumUserDefaults::shared().dataForKey("UserIdHistory"));
    auto listener = std::make_shared<Listener>();
    context->addDelegate(listener);

    context->setUserId(std::nullopt);  // equal to the current one: nothing happens
    EXPECT_TRUE(listener->seen.empty());
    context->setUserId("alice");
    context->setUserId("alice");
    EXPECT_EQ(listener->seen.size(), 1u);
    context->setUserId(std::nullopt);
    ASSERT_EQ(listener->seen.size(), 2u);
    EXPECT_EQ(listener->seen[1], std::nullopt);
    EXPECT_EQ(context->userIdHistory().size(), 1u);

    context->setUserId("bob");
    EXPECT_EQ(listener->seen.size(), 3u);
    context->removeDelegate(listener);
    context->setUserId("eve");
    context->setUserId("bob");
    EXPECT_EQ(listener->seen.size(), 3u);
    relaunch();
    clock->set(utc(2024, 1, 1, 11, 0));
    context = TLMUserIdContext::sharedInstance();
    context->setUserId("carol");
    EXPECT_EQ(context->userIdAt(utc(2024, 1, 1, 10, 30)), "bob");
    EXPECT_EQ(context->userIdAt(utc(2024, 1, 1, 11, 30)), "carol");
    EXPECT_EQ(context->userIdAt(utc(2024, 1, 1, 9, 0)), std::nullopt);
    context->clearUserIdHistory();
    EXPECT_EQ(context->userIdHistory().size(), 1u);
}

TEST_F(ContextTest, UserIdRules) {
    LogRecorder log;
    EXPECT_TRUE(TLMUserIdContext::isUserIdValidForTellium(std::nullopt));
    EXPECT_TRUE(TLMUserIdContext::isUserIdValidForTellium(std::string(256, 'a')));
    EXPECT_FALSE(TLMUserIdContext::isUserIdValidForTellium(std::string(257, 'a')));
    EXPECT_TRUE(log.contains("userId is limited to 256 characters.", TLMLogLevelError));
    std::string emoji;
    for (int i = 0; i < 128; ++i) emoji += "\xF0\x9F\x98\x80";  // 256 UTF-16 units, 512 bytes
    EXPECT_TRUE(TLMUserIdContext::isUserIdValidForTellium(emoji));

    EXPECT_TRUE(TLMUserIdContext::isUserIdValidForEventCollector(std::nullopt));
    EXPECT_TRUE(TLMUserIdContext::isUserIdValidForEventCollector(std::string("c:alice")));
    EXPECT_TRUE(TLMUserIdContext::isUserIdValidForEventCollector(std::string("alice")));
    EXPECT_FALSE(TLMUserIdContext::isUserIdValidForEventCollector(std::string("c:")));
    EXPECT_FALSE(TLMUserIdContext::isUserIdValidForEventCollector(std::string("")));
    EXPECT_FALSE(TLMUserIdContext::isUserIdValidForEventCollector(std::string("d:alice")));
    EXPECT_TRUE(log.contains("userId prefix must be 'c', 'd' is not supported.", TLMLogLevelError));

    EXPECT_EQ(TLMUserIdContext::prefixedUserIdFromUserId(std::string("alice")), "c:alice");
    EXPECT_EQ(TLMUserIdContext::prefixedUserIdFromUserId(std::string("x:alice")), "x:alice");
    EXPECT_EQ(TLMUserIdContext::prefixedUserIdFromUserId(std::nullopt), std::nullopt);
}

}  // namespace
