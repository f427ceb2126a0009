// The usage metric against a loopback HTTP server, with the clock, the installation identifier
// and the app's information values injected.
#include <gtest/gtest.h>

#include <ostream>

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <future>
#include <thread>
#include <vector>

#include "platform/defaults/UserDefaults.h"
#include "support/LogCapture.h"
#include "platform/keychain/LoopbackHttpServer.h"
#include "support/TempHome.h"
#include "tandrel/foundation/AMAnalytics.h"
#include "tandrel/foundation/AMZUrlConnOperation.h"
#include "tandrel/foundation/AppGlobals.h"
#include "tandrel/foundation/UserPrefs.h"

using namespace std::chrono_literals;
using nlohmann::json;

namespace {

constexpr const char* kAuth = "k3Yt0k-Ab12Cd";  // 13 characters

// A local time as a clock reading.
std::chrono::system_clock::time_point localTime(int year, int month, int day, int hour, int minute) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&t));
}

class UsageMetric : public ::testing::Test {
protected:
    void SetUp() override {
        defaults::UserDefaults::resetStandardForTesting();
        ::setenv("DRAVIX_METRIC_HOST", server.baseUrl().c_str(), 1);
        ::setenv("DRAVIX_METRIC_AUTH", kAuth, 1);
        setNow(localTime(2026, 3, 14, 12, 0));
        AMAnalyticsUtility::set_clock([this] { return std::chrono::system_clock::time_point(std::chrono::system_clock::duration(now.load())); });
        AMAnalyticsUtility::set_info_dictionary_provider([] {
            return json{{"CFBundleIdentifier", "app.dravix.ftpclient"},
                        {"CFBundleVersion", "42"},
                        {"CFBundleShortVersionString", "1.4"}};
        });
    }
    void TearDown() override {
        AMAnalyticsUtility::set_clock(nullptr);
        AMAnalyticsUtility::set_info_dictionary_provider(nullptr);
        AMAnalytics::set_vendor_identifier_provider(nullptr);
        ::unsetenv("DRAVIX_METRIC_HOST");
        ::unsetenv("DRAVIX_METRIC_AUTH");
        defaults::UserDefaults::resetStandardForTesting();
    }

    void setNow(std::chrono::system_clock::time_point t) { now = t.time_since_epoch().count(); }

    // Sends and waits for the block.
    std::optional<VornError> send(std::optional<std::string> uuid, json vars = json{{"version", 1}}, bool force = false) {
        auto done = std::make_shared<std::promise<std::optional<VornError>>>();
        auto future = done->get_future();
        AMAnalyticsUtility::am_send_metric(std::move(uuid), std::move(vars), force,
                                           [done](std::optional<VornError> e) { done->set_value(std::move(e)); });
        EXPECT_EQ(future.wait_for(15s), std::future_status::ready);
        return future.get();
    }

    std::optional<std::string> storedDay() { return UserPrefs::user_defaults().stringForKey("am_metric_interval"); }

    testsupport::TempHome home;
    testhttp::LoopbackHttpServer server;
    std::atomic<std::chrono::system_clock::rep> now{0};
};

TEST_F(UsageMetric, PostsTheRecordWithItsHeadersToTheMetricPath) {
    EXPECT_FALSE(send("8C3A7E52-1F0B-4D6A-9B1E-3F2C5D7A9E01"));
    ASSERT_EQ(server.requests().size(), 1u);
    auto requests = server.requests();
    const auto& r = requests[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/up_redis_direct");
    EXPECT_EQ(r.header("auth"), std::optional<std::string>(kAuth));
    EXPECT_EQ(r.header("Content-Type"), std::optional<std::string>("application/json"));
    json body = json::parse(r.body);
    EXPECT_EQ(body, (json{{"uuid", "8C3A7E52-1F0B-4D6A-9B1E-3F2C5D7A9E01"},
                          {"environment", 2},
                          {"app_identifier", "app.dravix.ftpclient"},
                          {"app_version", 42},
                          {"app_short_version", "1.4"},
                          {"version", 1}}));
    EXPECT_EQ(storedDay(), std::optional<std::string>("20260314"));
}

TEST_F(UsageMetric, SendsOncePerLocalDayAndAgainAfterMidnight) {
    setNow(localTime(2026, 3, 14, 23, 58));
    EXPECT_FALSE(send("id"));
    setNow(localTime(2026, 3, 14, 23, 59));
    EXPECT_FALSE(send("id"));
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(storedDay(), std::optional<std::string>("20260314"));

    setNow(localTime(2026, 3, 15, 0, 1));
    EXPECT_FALSE(send("id"));
    EXPECT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(storedDay(), std::optional<std::string>("20260315"));
}

TEST_F(UsageMetric, AForcedSendGoesOutAndLeavesTheStoredDayAlone) {
    UserPrefs::user_defaults().setString("am_metric_interval", "20260314");
    EXPECT_FALSE(send("id", json::object(), /*force=*/true));
    EXPECT_EQ(server.requests().size(), 1u);
    setNow(localTime(2026, 3, 20, 9, 0));
    EXPECT_FALSE(send("id", json::object(), /*force=*/true));
    EXPECT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(storedDay(), std::optional<std::string>("20260314"));
}

TEST_F(UsageMetric, WithoutAnIdentifierNothingIsSentOrStored) {
    for (std::optional<std::string> uuid : {std::optional<std::string>(), std::optional<std::string>("")}) {
        EXPECT_FALSE(send(uuid));
    }
    EXPECT_TRUE(server.requests().empty());
    EXPECT_FALSE(storedDay());
}

TEST_F(UsageMetric, TheCallersValuesReplaceTheRecordsOwn) {
    EXPECT_FALSE(send("id", json{{"uuid", "other"}, {"environment", "test"}, {"extra", {1, 2}}}));
    ASSERT_EQ(server.requests().size(), 1u);
    json body = json::parse(server.requests()[0].body);
    EXPECT_EQ(body["uuid"], "other");
    EXPECT_EQ(body["environment"], "test");
    EXPECT_EQ(body["extra"], json({1, 2}));
    EXPECT_EQ(body.size(), 6u);
}

TEST_F(UsageMetric, AFailedSendStillCountsForTheDay) {
    testlog::LogCapture log;
    server.stop();
    auto error = send("id");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "AMZUrlSession");
    EXPECT_TRUE(log.contains("am_metric conn err "));
    EXPECT_TRUE(log.contains("op_error  0 AMZUrlJsonConnOperation"));
    EXPECT_EQ(storedDay(), std::optional<std::string>("20260314"));
    EXPECT_FALSE(send("id"));  // no second attempt today
}

TEST_F(UsageMetric, WithoutAnEndpointNothingIsSent) {
    ::unsetenv("DRAVIX_METRIC_HOST");
    EXPECT_FALSE(send("id"));
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(UsageMetric, ARecordThatCannotBeWrittenIsAnErrorAndNothingIsSent) {
    testlog::LogCapture log;
    EXPECT_TRUE(send("id", json{{"bad", std::string("\xff\xfe")}}));
    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(log.contains("am_metric "));
}

TEST_F(UsageMetric, SendsRacingOnTheSameDayPostOnce) {
    std::vector<std::thread> threads;
    std::atomic<int> blocks{0};
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            AMAnalyticsUtility::am_send_metric("id", json::object(), false, [&](std::optional<VornError>) { ++blocks; });
        });
    }
    for (auto& t : threads) t.join();
    for (int i = 0; i < 1500 && blocks.load() < 8; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(blocks.load(), 8);
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(UsageMetric, TheLaunchSendsTheInstallationsIdentifierWithVersionOne) {
    testlog::LogCapture log;
    AMAnalytics::set_vendor_identifier_provider([] { return std::optional<std::string>("5D0C2B8E-7A41-4F3B-8E2D-1C9A6B3F0E77"); });
    AMAnalytics::shared().am_metric();
    ASSERT_TRUE(server.waitForRequests(1, 10s));
    json body = json::parse(server.requests()[0].body);
    EXPECT_EQ(body["uuid"], "5D0C2B8E-7A41-4F3B-8E2D-1C9A6B3F0E77");
    EXPECT_EQ(body["version"], 1);
    EXPECT_EQ(body.size(), 6u);
    // The default answer {"result":{}} is a success: nothing is logged.
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(log.contains("am_metric"));
}

TEST_F(UsageMetric, TheLaunchRecordCarriesTheAppsInformationFromItsResource) {
    AMAnalyticsUtility::set_info_dictionary_provider(nullptr);
    auto resource = app_resource("Info.json");
    ASSERT_TRUE(resource) << "the app's Info.json resource is missing";
    const json info = json::parse(testsupport::readFile(*resource));
    ASSERT_FALSE(info.value("CFBundleIdentifier", "").empty());
    EXPECT_EQ(app_display_name(), info.value("CFBundleDisplayName", ""));

    AMAnalytics::set_vendor_identifier_provider([] { return std::optional<std::string>("5D0C2B8E-7A41-4F3B-8E2D-1C9A6B3F0E77"); });
    AMAnalytics::shared().am_metric();
    ASSERT_TRUE(server.waitForRequests(1, 10s));
    json body = json::parse(server.requests()[0].body);
    EXPECT_EQ(body["app_identifier"], info["CFBundleIdentifier"]);
    EXPECT_EQ(body["app_short_version"], info["CFBundleShortVersionString"]);
    EXPECT_EQ(body["app_version"], std::stoll(info["CFBundleVersion"].get<std::string>()));
    EXPECT_GT(body["app_version"].get<int64_t>(), 0);
}

TEST(UsageMetricIdentity, TheInstallationIdentifierIsAStableUuid) {
    auto a = AMAnalytics::vendor_identifier();
    if (!a) GTEST_SKIP() << "this machine has no machine id";
    EXPECT_EQ(a, AMAnalytics::vendor_identifier());
    ASSERT_EQ(a->size(), 36u);
    EXPECT_EQ((*a)[8], '-');
    EXPECT_EQ(*a, [&] { std::string u = *a; for (auto& c : u) c = static_cast<char>(std::toupper(c)); return u; }());
}

// What the service answers, and what the caller's block and the log see.
struct AnswerCase {
    const char* name;
    int status;
    std::string body;
    bool error;
    bool missingData;
};
void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }

class UsageMetricAnswer : public UsageMetric, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(UsageMetricAnswer, OnlyAnObjectUnderResultCountsAsSuccess) {
    const auto& c = GetParam();
    testlog::LogCapture log;
    testhttp::Reply reply;
    reply.status = c.status;
    reply.body = c.body;
    server.setReply(reply);
    auto error = send("id", json::object(), true);
    EXPECT_EQ(error.has_value(), c.error);
    EXPECT_EQ(log.contains("am_metric missing data"), c.missingData);
    EXPECT_EQ(log.contains("am_metric conn err "), c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, UsageMetricAnswer,
    ::testing::Values(AnswerCase{"empty_result_object", 200, R"({"result":{}})", false, false},
                      AnswerCase{"server_error_status_ignored", 500, R"({"result":{"ok":1}})", false, false},
                      AnswerCase{"result_is_text", 200, R"({"result":"ok"})", false, true},
                      AnswerCase{"no_result_key", 200, R"({"other":{}})", false, true},
                      AnswerCase{"empty_object", 200, "{}", false, true},
                      AnswerCase{"array", 200, "[1]", false, true},
                      AnswerCase{"empty_body", 200, "", false, true},
                      AnswerCase{"not_json", 502, "<html>bad gateway</html>", true, false}),
    [](const auto& info) { return std::string(info.param.name); });

// "app_version" is the information value read as a whole base-10 integer; anything else is 0.
struct VersionCase {
    const char* name;
    json info;
    int64_t version;
};
void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }

class UsageMetricVersion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(UsageMetricVersion, AppVersionIsTheBuildNumberOrZero) {
    json info = GetParam().info;
    AMAnalyticsUtility::set_info_dictionary_provider([info] { return info; });
    json record = AMAnalyticsUtility::buildMetricPayload("id");
    AMAnalyticsUtility::set_info_dictionary_provider(nullptr);
    EXPECT_EQ(record["app_version"], GetParam().version);
    EXPECT_TRUE(record["app_version"].is_number_integer());
}

INSTANTIATE_TEST_SUITE_P(
    Versions, UsageMetricVersion,
    ::testing::Values(VersionCase{"plain", json{{"CFBundleVersion", "42"}}, 42},
                      VersionCase{"dotted", json{{"CFBundleVersion", "1.2.3"}}, 0},
                      VersionCase{"absent", json::object(), 0},
                      VersionCase{"empty", json{{"CFBundleVersion", ""}}, 0},
                      VersionCase{"signed", json{{"CFBundleVersion", "-7"}}, -7},
                      VersionCase{"plus", json{{"CFBundleVersion", "+8"}}, 8},
                      VersionCase{"blank_around", json{{"CFBundleVersion", " 42"}}, 0},
                      VersionCase{"too_big", json{{"CFBundleVersion", "99999999999999999999"}}, 0},
                      VersionCase{"number_not_text", json{{"CFBundleVersion", 42}}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UsageMetricRecord, AbsentInformationValuesAreEmptyTexts) {
    AMAnalyticsUtility::set_info_dictionary_provider([] { return json::object(); });
    json record = AMAnalyticsUtility::buildMetricPayload("u");
    AMAnalyticsUtility::set_info_dictionary_provider(nullptr);
    EXPECT_EQ(record, (json{{"uuid", "u"}, {"environment", 2}, {"app_identifier", ""}, {"app_version", 0}, {"app_short_version", ""}}));
}

// Which settings make an endpoint (nothing is contacted here).
struct EndpointCase {
    const char* name;
    const char* host;
    std::optional<std::string> url;
};
void PrintTo(const EndpointCase& c, std::ostream* os) { *os << c.name; }

class UsageMetricEndpoint : public ::testing::TestWithParam<EndpointCase> {};

TEST_P(UsageMetricEndpoint, HostSettingBecomesTheEndpointOrNone) {
    ::setenv("DRAVIX_METRIC_HOST", GetParam().host, 1);
    EXPECT_EQ(AMAnalyticsUtility::metric_endpoint_url(), GetParam().url);
    ::unsetenv("DRAVIX_METRIC_HOST");
}

INSTANTIATE_TEST_SUITE_P(
    Settings, UsageMetricEndpoint,
    ::testing::Values(EndpointCase{"bare_host_is_https", "metrics.example.org", std::string("https://metrics.example.org/up_redis_direct")},
                      EndpointCase{"https_with_port_and_slash", "https://metrics.example.org:8443/", std::string("https://metrics.example.org:8443/up_redis_direct")},
                      EndpointCase{"http_loopback", "http://127.0.0.1:8080", std::string("http://127.0.0.1:8080/up_redis_direct")},
                      EndpointCase{"http_elsewhere_refused", "http://metrics.example.org", std::nullopt},
                      EndpointCase{"other_scheme_refused", "ftp://metrics.example.org", std::nullopt},
                      EndpointCase{"query_refused", "https://metrics.example.org/?a=b", std::nullopt},
                      EndpointCase{"credentials_refused", "https://user:pw@metrics.example.org", std::nullopt},
                      EndpointCase{"blank_refused", "metrics example.org", std::nullopt},
                      EndpointCase{"empty_is_off", "", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UsageMetricDay, TheDayIsTheLocalCalendarDate) {
    EXPECT_EQ(AMAnalyticsUtility::metric_day(localTime(2026, 1, 2, 0, 0)), "20260102");
    EXPECT_EQ(AMAnalyticsUtility::metric_day(localTime(2025, 12, 31, 23, 59)), "20251231");
}

}  // namespace
