#pragma once
// The usage metric: at most once per local calendar day, one small JSON record (an identifier of
// this installation, the app's identifier and versions, a record version) posted to the metric
// service's "/up_redis_direct". Nothing waits for the answer; outcomes are only logged.
//
// Settings, read from the environment at each send: the endpoint is DRAVIX_METRIC_HOST
// ("host[:port]" for https, or a base URL "https://host[:port]"; plain http only to a loopback
// host), the "auth" header value DRAVIX_METRIC_AUTH. Without an endpoint nothing is sent. The day sent last is the
// user-defaults string "am_metric_interval".
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/dispatch/Dispatch.h"
#include "tandrel/foundation/VornError.h"

class AMZBaseOperation;

class AMAnalytics {
public:
    static AMAnalytics& shared();

    // Sends the launch record ({"version": 1} added) unless one was sent today; returns at once.
    void am_metric();

    // A stable identifier of this installation in the textual UUID form (upper case), derived
    // one-way from the machine's identity and the app; none when the machine has no identity.
    static std::optional<std::string> vendor_identifier();
    // Replaces where am_metric takes the identifier from (nullptr: vendor_identifier). For tests.
    static void set_vendor_identifier_provider(std::function<std::optional<std::string>()> provider);

private:
    AMAnalytics() = default;
};

class AMAnalyticsUtility {
public:
    using Block = std::function<void(std::optional<VornError> error)>;
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // Sends one record for `uuid` with the caller's `vars` merged in (a caller's value replaces a
    // record value of the same key). Unforced sends happen at most once per local day. Returns at
    // once; `block` runs once, on the metric queue or on the transfer's thread.
    static void am_send_metric(std::optional<std::string> uuid, nlohmann::json vars, bool force, Block block);

    // The steps, in calling order (exposed for tests).
    static void am_metric_interval_check(const std::optional<std::string>& uuid, const nlohmann::json& vars, bool force,
                                         const Block& block);
    static void postMetric(const std::string& uuid, const nlohmann::json& vars, const Block& block);
    static nlohmann::json buildMetricPayload(const std::string& uuid);
    static void am_metric_completion(AMZBaseOperation* operation, const Block& block);

    // The serial queue "am_check_queue" on which the check, the settings access and the request
    // building run.
    static dispatch::SerialQueue& metric_queue();
    // "yyyyMMdd" of the moment in the local time zone.
    static std::string metric_day(std::chrono::system_clock::time_point moment);
    // The endpoint URL ending in "/up_redis_direct"; none when not configured or malformed.
    static std::optional<std::string> metric_endpoint_url();
    static std::string metric_auth();

    // Where "today" comes from (nullptr: the system clock).
    static void set_clock(Clock clock);
    // The app's information values ("CFBundleIdentifier", "CFBundleVersion",
    // "CFBundleShortVersionString"): the app's information resource (app_bundle_info).
    // Replaceable (nullptr: the default). For tests.
    static nlohmann::json info_dictionary();
    static void set_info_dictionary_provider(std::function<nlohmann::json()> provider);
};
