// The SDK's entry point with the two services: configuring from secret strings, the start order,
// the start-service log, the environment switch, the persisted switches across a restart, and
// the SDK-wide switch. The channel group is a recording fake (see FakeChannel.h).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <set>
#include <thread>

#include <sqlite3.h>

#include "FakeChannel.h"
#include "IngestionPeer.h"
#include "TelliumTestSupport.h"
#include "platform/defaults/UserDefaults.h"
#include "tellium/TLMTellium.h"
#include "tellium/context/TLMSessionContext.h"
#include "tellium/context/TLMUserIdContext.h"
#include "tellium/util/TLMPlatformHooks.h"
#include "tellium/util/TLMTelliumUserDefaults.h"
#include "tellium/util/TLMUtility.h"
#include "tellium_analytics/TLMAnalytics.h"
#include "tellium_analytics/TLMEventLog.h"
#include "tellium_crashes/TLMCrashes.h"
#include "tellium/StoredLogs.h"

namespace telltest {
namespace {

const TLMServiceClass* analytics() { return TLMAnalytics::serviceClassObject(); }
const TLMServiceClass* crashes() { return TLMCrashes::serviceClassObject(); }

class TelliumStart : public TelliumTest {
protected:
    void SetUp() override {
        TelliumTest::SetUp();
        unsetenv("TELLIUM_DISABLE");
        installFactory();
        TLMAnalytics::resetSharedInstance();
        TLMCrashes::resetSharedInstance();
    }
    void TearDown() override {
        unsetenv("TELLIUM_DISABLE");
        TLMAnalytics::resetSharedInstance();
        TLMCrashes::resetSharedInstance();
        TelliumTest::TearDown();
    }
    void installFactory() {
        TLMTellium::setChannelGroupFactory(
            [this](std::shared_ptr<TLMHttpClientProtocol>, const std::string& installId, const std::string& url) {
                group_ = std::make_shared<FakeChannelGroup>(installId, url);
                return group_;
            });
    }
    // A new process as far as the SDK is concerned: its singletons and the settings store are
    // read again from disk.
    void restart() {
        TLMTellium::resetSharedInstance();
        TLMTellium::resetForTesting();
        TLMAnalytics::resetSharedInstance();
        TLMCrashes::resetSharedInstance();
        TLMSessionContext::resetSharedInstance();
        TLMUserIdContext::resetSharedInstance();
        defaults::UserDefaults::resetStandardForTesting();
        group_.reset();
    }
    std::vector<std::shared_ptr<TLMStartServiceLog>> startServiceLogs() {
        std::vector<std::shared_ptr<TLMStartServiceLog>> out;
        if (auto unit = group_ ? group_->unit("Tellium") : nullptr) {
            for (auto& [log, flags] : unit->logs()) {
                EXPECT_EQ(flags, TLMFlagsNormal);
                if (auto s = std::dynamic_pointer_cast<TLMStartServiceLog>(log)) out.push_back(s);
            }
        }
        return out;
    }

    std::shared_ptr<FakeChannelGroup> group_;
};

struct SecretCase {
    const char* name;
    const char* text;
    std::optional<std::string> secret;
    std::optional<std::string> token;
};

TEST_F(TelliumStart, ConfiguresFromTheSecretStringWithAndWithoutTargetParts) {
    const SecretCase cases[] = {
        {"appsecret and target", "appsecret=S1;target=T1", "S1", "T1"},
        {"bare secret", "S2", "S2", std::nullopt},
        {"only target", "target=T3", std::nullopt, "T3"},
        {"ios among platforms", "android=A;ios=I4;macos=M", "I4", std::nullopt},
        {"trailing separator", "S5;", "S5", std::nullopt},
        {"empty", "", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TLMTellium::resetSharedInstance();
        TLMTellium::configureWithAppSecret(c.text);
        auto sdk = TLMTellium::sharedInstance();
        EXPECT_TRUE(TLMTellium::isConfigured());
        EXPECT_EQ(sdk->appSecret(), c.secret);
        EXPECT_EQ(sdk->defaultTransmissionTargetToken(), c.token);
        ASSERT_TRUE(group_);
        EXPECT_EQ(group_->appSecret(), c.secret);
        EXPECT_EQ(group_->unitCount("Tellium"), 1u);
        EXPECT_TRUE(sdk->services().empty());
    }
}

TEST_F(TelliumStart, CrashesStartsBeforeAnalyticsAndOneStartServiceLogNamesBoth) {
    LogRecorder log;
    TLMTellium::start("appsecret=S", {analytics(), crashes()});
    auto sdk = TLMTellium::sharedInstance();
    const auto services = sdk->services();
    ASSERT_EQ(services.size(), 2u);
    EXPECT_EQ(services[0], TLMCrashes::sharedInstance());
    EXPECT_EQ(services[1], TLMAnalytics::sharedInstance());
    EXPECT_TRUE(log.contains("Start services TLMCrashes, TLMAnalytics from an application", TLMLogLevelVerbose));

    const auto logs = startServiceLogs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0]->services, (std::vector<std::string>{"Crashes", "Analytics"}));
    EXPECT_FALSE(logs[0]->isEventCollectorEnabled);
    // Analytics has its unit with the default configuration.
    auto unit = group_->unit("Analytics");
    ASSERT_TRUE(unit);
    EXPECT_EQ(unit->configuration()->flushInterval, 6u);
    EXPECT_EQ(unit->configuration()->batchSizeLimit, 50u);
    EXPECT_EQ(unit->configuration()->pendingBatchesLimit, 3u);
    EXPECT_EQ(unit->configuration()->priority, 1);
}

TEST_F(TelliumStart, ServicesOfEqualPriorityKeepTheirOrder) {
    // Analytics twice and Crashes: a sort that is not stable (or a comparator that never answers
    // "equal") could move the equal ones around or worse.
    const TLMServiceClasses in{analytics(), crashes(), analytics(), crashes()};
    const auto sorted = TLMTellium::sortServices(in);
    EXPECT_EQ(sorted, (TLMServiceClasses{crashes(), crashes(), analytics(), analytics()}));
    EXPECT_EQ(TLMTellium::sortServices({analytics()}), TLMServiceClasses{analytics()});
}

TEST_F(TelliumStart, TrackEventQueuesAnEventLogOnTheAnalyticsUnit) {
    TLMAnalytics::trackEvent("Before");  // not started: nothing
    TLMTellium::start("S", {analytics(), crashes()});
    TLMAnalytics::trackEvent("Started");
    auto logs = group_->unit("Analytics")->logs();
    ASSERT_EQ(logs.size(), 1u);
    auto event = std::dynamic_pointer_cast<TLMEventLog>(logs[0].first);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->name, "Started");
    EXPECT_TRUE(event->eventId && TLMUtility::isValidUuid(*event->eventId));
    EXPECT_EQ(logs[0].second, TLMFlagsNormal);
    const auto json = event->serializeToDictionary();
    EXPECT_EQ(json["type"], "event");
    EXPECT_FALSE(json.contains("typedProperties"));

    TLMAnalytics::serviceClassObject()->setEnabled(false);
    TLMAnalytics::trackEvent("Ignored");
    EXPECT_TRUE(group_->unit("Analytics")->logs().empty()) << "disabling deletes and stops queuing";
}

struct DisableCase {
    const char* value;
    std::vector<std::string> started;
};

TEST_F(TelliumStart, TheEnvironmentKeepsServicesFromStarting) {
    const DisableCase cases[] = {
        {" Analytics ,  Crashes ", {}},
        {"All", {}},
        {"Crashes", {"Analytics"}},
        {"Analytic", {"Crashes", "Analytics"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        LogRecorder log;
        TLMTellium::resetSharedInstance();
        TLMAnalytics::resetSharedInstance();
        TLMCrashes::resetSharedInstance();
        setenv("TELLIUM_DISABLE", c.value, 1);
        TLMTellium::start("S", {analytics(), crashes()});
        const auto logs = startServiceLogs();
        if (c.started.empty()) {
            EXPECT_TRUE(logs.empty());
            EXPECT_TRUE(log.contains("No services have been started.", TLMLogLevelDebug));
            EXPECT_TRUE(log.contains(
                "Environment variable to disable service has been set; not starting service Analytics", TLMLogLevelDebug));
            EXPECT_TRUE(log.contains(
                "Environment variable to disable service has been set; not starting service Crashes", TLMLogLevelDebug));
        } else {
            ASSERT_EQ(logs.size(), 1u);
            EXPECT_EQ(logs[0]->services, c.started);
        }
    }
}

TEST_F(TelliumStart, SwitchesAndTheInstallIdSurviveARestart) {
    TLMTellium::start("S", {analytics(), crashes()});
    const std::string installId = TLMTellium::installId();
    EXPECT_TRUE(TLMUtility::isValidUuid(installId));
    EXPECT_EQ(group_->installId, installId);
    TLMAnalytics::serviceClassObject()->setEnabled(false);
    TLMTellium::setNetworkRequestsAllowed(false);
    EXPECT_EQ(TLMTelliumUserDefaults::shared().boolForKey("AnalyticsIsEnabled"), false);
    EXPECT_EQ(defaults::UserDefaults::standard().objectForKey("TelliumAnalyticsIsEnabled"), defaults::Value(false));

    restart();
    installFactory();
    EXPECT_FALSE(TLMTellium::isNetworkRequestsAllowed()) << "readable before configuration";
    TLMTellium::start("S", {analytics(), crashes()});
    EXPECT_EQ(TLMTellium::installId(), installId);
    EXPECT_FALSE(TLMAnalytics::serviceClassObject()->isEnabled());
    EXPECT_TRUE(TLMCrashes::serviceClassObject()->isEnabled());
    TLMTellium::setEnabled(false);

    restart();
    installFactory();
    TLMTellium::start("S", {analytics(), crashes()});
    EXPECT_FALSE(TLMTellium::isEnabled());
    EXPECT_EQ(TLMTelliumUserDefaults::shared().boolForKey("TelliumIsEnabled"), false);
    EXPECT_EQ(TLMTellium::installId(), installId);
    EXPECT_TRUE(startServiceLogs().empty()) << "held back while the SDK is disabled";
    EXPECT_EQ(TLMTellium::sharedInstance()->startedServiceNames(),
              (std::vector<std::string>{"Crashes", "Analytics"}));
}

TEST_F(TelliumStart, AnUnreadableInstallIdIsReplacedAndStored) {
    TLMTelliumUserDefaults::shared().setObject(defaults::Value("not a uuid"), "InstallId");
    const std::string installId = TLMTellium::installId();
    EXPECT_TRUE(TLMUtility::isValidUuid(installId));
    auto stored = TLMTelliumUserDefaults::shared().objectForKey("InstallId");
    ASSERT_TRUE(stored && stored->get<std::string>());
    EXPECT_EQ(*stored->get<std::string>(), installId);
}

TEST_F(TelliumStart, SettingsOfAnOlderInstallMoveToTheirKeysAndTheInstallIdIsKept) {
    struct Moved {
        const char* oldKey;
        const char* key;  // as the SDK reads it, without the store prefix
        defaults::Value value;
    };
    const Moved moved[] = {
        {"TLMInstallId", "InstallId", defaults::Value("0f8fad5b-d9cb-469f-a165-70867728950e")},
        {"pastDevicesKey", "PastDevices", defaults::Value(defaults::Data{"devices"})},
        {"TelliumIsEnabled", "TelliumIsEnabled", defaults::Value(false)},
        {"TLMEncryptionKeyMetadata", "EncryptionKeyMetadata", defaults::Value("key-metadata")},
        {"SessionIdHistory", "SessionIdHistory", defaults::Value(defaults::Data{"sessions"})},
        {"UserIdHistory", "UserIdHistory", defaults::Value(defaults::Data{"user ids"})},
        {"TLMChannelStartTimer:Analytics", "ChannelStartTimer:Analytics", defaults::Value(int64_t{42})},
    };
    auto& store = defaults::UserDefaults::standard();
    for (const auto& m : moved) store.setObject(m.oldKey, m.value);

    EXPECT_EQ(TLMTellium::installId(), "0f8fad5b-d9cb-469f-a165-70867728950e");
    for (const auto& m : moved) {
        SCOPED_TRACE(m.oldKey);
        EXPECT_EQ(TLMTelliumUserDefaults::shared().objectForKey(m.key), m.value);
        EXPECT_EQ(store.objectForKey(m.oldKey), std::nullopt);
    }

    // Once per installation: a later launch leaves a value stored under an old key alone.
    store.setObject("TLMInstallId", defaults::Value("7c9e6679-7425-40de-944b-e07fc1f90ae7"));
    restart();
    EXPECT_EQ(TLMTellium::installId(), "0f8fad5b-d9cb-469f-a165-70867728950e");
}

TEST_F(TelliumStart, DisablingTheSdkDeletesWhatItsChannelsHoldAndEnablingSendsTheHeldStartLog) {
    LogRecorder log;
    TLMTellium::start("S", {analytics(), crashes()});
    TLMAnalytics::trackEvent("Queued");
    ASSERT_EQ(group_->unit("Analytics")->logs().size(), 1u);

    TLMTellium::setEnabled(false);
    EXPECT_FALSE(TLMTellium::isEnabled());
    ASSERT_FALSE(group_->enabledCalls.empty());
    EXPECT_EQ(group_->enabledCalls.back(), std::make_pair(false, true)) << "disabled with deletion";
    EXPECT_TRUE(group_->unit("Analytics")->logs().empty());
    EXPECT_TRUE(group_->unit("Tellium")->logs().empty());
    EXPECT_FALSE(TLMAnalytics::serviceClassObject()->isEnabled());
    EXPECT_TRUE(log.contains("Tellium SDK disabled.", TLMLogLevelInfo));

    // A service started while the SDK is off is turned off; its start-service log waits.
    TLMTellium::startService(analytics());
    EXPECT_TRUE(startServiceLogs().empty());

    TLMTellium::setEnabled(true);
    EXPECT_TRUE(TLMAnalytics::serviceClassObject()->isEnabled());
    EXPECT_EQ(group_->enabledCalls.back(), std::make_pair(true, true));
    EXPECT_TRUE(log.contains("Tellium SDK enabled.", TLMLogLevelInfo));
}

TEST_F(TelliumStart, ServiceSwitchIsRefusedWhileTheSdkIsDisabled) {
    LogRecorder log;
    TLMTellium::start("S", {analytics(), crashes()});
    TLMTellium::setEnabled(false);
    TLMAnalytics::serviceClassObject()->setEnabled(false);
    EXPECT_TRUE(log.contains(
        "The SDK is disabled. Re-enable the whole SDK from Tellium first before enabling Analytics service.",
        TLMLogLevelError));
}

TEST_F(TelliumStart, MessagesNameTheServiceByItsServiceName) {
    LogRecorder log;
    EXPECT_FALSE(TLMAnalytics::serviceClassObject()->isEnabled());
    EXPECT_TRUE(log.contains("Analytics service hasn't been started. You need to call [TLMTellium "
                             "start:YOUR_APP_SECRET withServices:LIST_OF_SERVICES] first.",
                             TLMLogLevelError));
}

TEST_F(TelliumStart, AServiceStartedAgainAfterBeingDisabledKeepsItsOneUnit) {
    TLMTellium::start("S", {analytics(), crashes()});
    auto unit = group_->unit("Analytics");
    TLMAnalytics::serviceClassObject()->setEnabled(false);
    // Not available now, so a start runs the start hook again.
    TLMTellium::startService(analytics());
    EXPECT_EQ(group_->unitCount("Analytics"), 1u);
    EXPECT_EQ(TLMAnalytics::sharedInstance()->channelUnit(), unit);
    TLMAnalytics::serviceClassObject()->setEnabled(true);
    TLMTellium::startService(analytics());
    EXPECT_EQ(group_->unitCount("Analytics"), 1u);
}

TEST_F(TelliumStart, ASecondStartFromTheApplicationFailsAndStartServiceUsesTheFirstSecret) {
    LogRecorder log;
    TLMTellium::start("appsecret=FIRST;target=TOK", {analytics()});
    TLMTellium::start("SECOND", {crashes()});
    EXPECT_TRUE(log.contains("Tellium SDK has already been configured.", TLMLogLevelAssert));
    EXPECT_TRUE(log.contains("Tellium SDK configuration failed.", TLMLogLevelAssert));
    EXPECT_FALSE(TLMCrashes::sharedInstance()->started());
    TLMTellium::startService(crashes());
    EXPECT_TRUE(TLMCrashes::sharedInstance()->started());
    EXPECT_EQ(TLMCrashes::sharedInstance()->appSecret(), "FIRST");
    EXPECT_EQ(TLMCrashes::sharedInstance()->defaultTransmissionTargetToken(), "TOK");
}

TEST_F(TelliumStart, CrashesNeedsASecretAnalyticsDoesNot) {
    LogRecorder log;
    TLMTellium::start("target=TOK", {analytics(), crashes()});
    EXPECT_FALSE(TLMCrashes::sharedInstance()->started());
    EXPECT_TRUE(TLMAnalytics::sharedInstance()->started());
    EXPECT_TRUE(log.contains("Cannot start service Crashes. Tellium was started without app secret, but the "
                             "service requires it.",
                             TLMLogLevelError));
    const auto logs = startServiceLogs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0]->services, std::vector<std::string>{"Analytics"});
    EXPECT_TRUE(logs[0]->isEventCollectorEnabled);
}

TEST_F(TelliumStart, HistoriesKeepOnlyThisLaunchsRecordsWithOrWithoutCrashes) {
    const DisableCase cases[] = {
        {"", {"Crashes", "Analytics"}},
        {"Crashes", {"Analytics"}},
        {"All", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        setenv("TELLIUM_DISABLE", c.value, 1);
        for (int launch = 0; launch < 3; ++launch) {
            restart();
            installFactory();
            TLMTellium::start("S", {analytics(), crashes()});
            TLMSessionContext::sharedInstance()->setSessionId("session-" + std::to_string(launch));
            TLMTellium::setUserId("user-" + std::to_string(launch));
        }
        EXPECT_EQ(TLMCrashes::sharedInstance()->started(), std::string(c.value).empty());
        const auto sessions = TLMSessionContext::sharedInstance()->sessionHistory();
        ASSERT_EQ(sessions.size(), 1u);
        EXPECT_EQ(sessions[0].sessionId, "session-2");
        const auto userIds = TLMUserIdContext::sharedInstance()->userIdHistory();
        ASSERT_EQ(userIds.size(), 1u);
        EXPECT_EQ(userIds[0].userId, "user-2");
    }
    EXPECT_FALSE(TLMTellium::isDebuggerAttached()) << "nobody traces the test";
}

TEST_F(TelliumStart, StorageSizeRequests) {
    std::vector<bool> answers;
    TLMTellium::setMaxStorageSize(24575, [&](bool ok) { answers.push_back(ok); });
    TLMTellium::setMaxStorageSize(24576, [&](bool ok) { answers.push_back(ok); });
    EXPECT_EQ(answers, std::vector<bool>{false});
    TLMTellium::configure();
    EXPECT_EQ(group_->maxStorageSize, 24576);
    EXPECT_EQ(answers, (std::vector<bool>{false, true}));
}

TEST_F(TelliumStart, TheLogUrlSetBeforeStartIsTheGroupsBaseUrl) {
    EXPECT_FALSE(TLMTellium::isEnabled()) << "not configured";
    TLMTellium::setLogUrl("http://127.0.0.1:9/t/x");
    TLMTellium::start("S", {analytics()});
    EXPECT_EQ(group_->logUrl(), "http://127.0.0.1:9/t/x");
    TLMTellium::setLogUrl("http://127.0.0.1:9/t/y");
    EXPECT_EQ(group_->logUrl(), "http://127.0.0.1:9/t/y");
}

TEST_F(TelliumStart, BackgroundPausesAndForegroundResumesTheGroup) {
    TLMTellium::start("S", {analytics()});
    auto sdk = TLMTellium::sharedInstance();
    TLMApplicationLifecycle::shared().post(TLMApplicationEvent::didEnterBackground);
    TLMApplicationLifecycle::shared().post(TLMApplicationEvent::willEnterForeground);
    ASSERT_EQ(group_->pauses.size(), 1u);
    EXPECT_EQ(group_->pauses[0], sdk.get());
    ASSERT_EQ(group_->resumes.size(), 1u);
    EXPECT_EQ(group_->resumes[0], sdk.get());
}

// The SDK's lock and a service's lock are taken in one order on every path: switching the SDK and
// a service from two threads at once never deadlocks (and is clean under ThreadSanitizer).
TEST_F(TelliumStart, SwitchingTheSdkAndAServiceFromTwoThreads) {
    TLMTellium::start("S", {analytics(), crashes()});
    std::atomic<bool> go{false};
    std::thread sdk([&] {
        while (!go) std::this_thread::yield();
        for (int i = 0; i < 50; ++i) TLMTellium::setEnabled(i % 2 == 1);
    });
    std::thread service([&] {
        while (!go) std::this_thread::yield();
        for (int i = 0; i < 50; ++i) {
            TLMAnalytics::serviceClassObject()->setEnabled(i % 2 == 0);
            TLMAnalytics::trackEvent("e");
        }
    });
    go = true;
    sdk.join();
    service.join();
    EXPECT_TRUE(TLMTellium::isEnabled());
}

// With the SDK's own channel group and store: disabling the SDK deletes the logs it holds.
class TelliumWithStore : public TelliumTest {
protected:
    void SetUp() override {
        TelliumTest::SetUp();
        unsetenv("TELLIUM_DISABLE");
        TLMAnalytics::resetSharedInstance();
        TLMCrashes::resetSharedInstance();
    }
    void TearDown() override {
        TLMTellium::resetSharedInstance();
        TLMAnalytics::resetSharedInstance();
        TLMCrashes::resetSharedInstance();
        TelliumTest::TearDown();
    }
    // Rows of the store; -1 while it cannot be read.
    static int storedLogs() { return countStoredLogs(TLMPlatform::telliumFolder() / "Logs.sqlite"); }
    static bool waitForStoredLogs(const std::function<bool(int)>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            if (done(storedLogs())) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
};

TEST_F(TelliumWithStore, DisablingTheSdkDeletesThePendingLogs) {
    RefusingPort down;  // the logs stay pending
    TLMTellium::setLogUrl(down.url());
    TLMTellium::start("S", {analytics(), crashes()});
    TLMAnalytics::trackEvent("Started");
    ASSERT_TRUE(waitForStoredLogs([](int n) { return n >= 2; })) << storedLogs();

    TLMTellium::setEnabled(false);
    EXPECT_TRUE(waitForStoredLogs([](int n) { return n == 0; })) << storedLogs();
    TLMAnalytics::trackEvent("While disabled");
    TLMTellium::setEnabled(true);
    TLMAnalytics::trackEvent("Enabled again");
    EXPECT_TRUE(waitForStoredLogs([](int n) { return n >= 1; })) << "the pipeline works again";
}

// Until the app names a collector no log is stored and none is sent; what stays on disk is the
// SDK's settings (install id, device records, this launch's session and user-id records) and its
// empty log store.
TEST_F(TelliumWithStore, WithoutACollectorOnlyTheSettingsAndAnEmptyStoreAreKept) {
    LogRecorder log;
    TLMTellium::start("S", {analytics(), crashes()});
    TLMTellium::setUserId("user");
    TLMAnalytics::trackEvent("Started");
    auto turnedAway = [&log] {
        int n = 0;
        for (const auto& m : log.messages()) n += m.text.find("ingestion is not ready to send it.") != std::string::npos;
        return n;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (turnedAway() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_GE(turnedAway(), 2) << "the start-service log and the event";

    EXPECT_EQ(storedLogs(), 0);
    std::set<std::string> keys;
    for (const auto& [key, value] : defaults::UserDefaults::standard().dictionaryRepresentation()) keys.insert(key);
    EXPECT_EQ(keys, (std::set<std::string>{"Tellium310TelliumUserDefaultsMigratedKey", "TelliumInstallId",
                                           "TelliumPastDevices", "TelliumSessionIdHistory", "TelliumUserIdHistory"}));
    EXPECT_EQ(TLMSessionContext::sharedInstance()->sessionHistory().size(), 1u);
    EXPECT_EQ(TLMUserIdContext::sharedInstance()->userIdHistory().size(), 1u);
    for (const auto& m : log.messages()) EXPECT_EQ(m.text.find("HTTP"), std::string::npos) << m.text;
}

}  // namespace
}  // namespace telltest
