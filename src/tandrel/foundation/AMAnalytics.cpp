#include "tandrel/foundation/AMAnalytics.h"

#include <QByteArray>
#include <QString>
#include <QSysInfo>
#include <QUrl>
#include <QUuid>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <mutex>

#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/AMZUrlConnOperation.h"
#include "tandrel/foundation/AppGlobals.h"
#include "tandrel/foundation/UserPrefs.h"

using nlohmann::json;

namespace {

constexpr const char* kIntervalKey = "am_metric_interval";
constexpr const char* kMetricPath = "/up_redis_direct";

std::mutex g_mutex;
AMAnalyticsUtility::Clock g_clock;
std::function<std::optional<std::string>()> g_vendor_provider;
std::function<json()> g_info_provider;

void call(const AMAnalyticsUtility::Block& block, std::optional<VornError> error) {
    if (block) block(std::move(error));
}

// Set by whoever packages and runs the app; unset, the metric is off.
std::string setting(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::chrono::system_clock::time_point now() {
    AMAnalyticsUtility::Clock clock;
    {
        std::lock_guard lock(g_mutex);
        clock = g_clock;
    }
    return clock ? clock() : std::chrono::system_clock::now();
}

// A base-10 signed integer written as the whole text (an optional sign, then digits only).
int64_t integer_value(const json& value) {
    if (!value.is_string()) return 0;
    const std::string& s = value.get_ref<const std::string&>();
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i == s.size()) return 0;
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? uint64_t(std::numeric_limits<int64_t>::max()) + 1 : uint64_t(std::numeric_limits<int64_t>::max());
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return 0;
        uint64_t digit = uint64_t(s[i] - '0');
        if (magnitude > (limit - digit) / 10) return 0;  // out of range
        magnitude = magnitude * 10 + digit;
    }
    return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

bool is_loopback(const QString& host) {
    return host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost") || host == QLatin1String("::1");
}

}  // namespace

// ---- AMAnalytics -----------------------------------------------------------------------------

AMAnalytics& AMAnalytics::shared() {
    static auto* instance = new AMAnalytics;  // kept for the process
    return *instance;
}

void AMAnalytics::am_metric() {
    std::function<std::optional<std::string>()> provider;
    {
        std::lock_guard lock(g_mutex);
        provider = g_vendor_provider;
    }
    std::optional<std::string> uuid = provider ? provider() : vendor_identifier();
    AMAnalyticsUtility::am_send_metric(uuid, json{{"version", 1}}, false, [](std::optional<VornError> error) {
        if (error) AMZLogger::shared().log_error("am_metric " + error->text());
    });
}

std::optional<std::string> AMAnalytics::vendor_identifier() {
    static const std::optional<std::string> id = []() -> std::optional<std::string> {
        QByteArray machine = QSysInfo::machineUniqueId();
        if (machine.isEmpty()) return std::nullopt;
        // A name-based UUID in a namespace of this app: stable for the installation, and the
        // machine's own identity cannot be read back from it.
        static const QUuid kNamespace(QStringLiteral("6f1d9a52-0c8e-4b7a-9e3d-2a5c4f7b8d10"));
        return QUuid::createUuidV5(kNamespace, machine).toString(QUuid::WithoutBraces).toUpper().toStdString();
    }();
    return id;
}

void AMAnalytics::set_vendor_identifier_provider(std::function<std::optional<std::string>()> provider) {
    std::lock_guard lock(g_mutex);
    g_vendor_provider = std::move(provider);
}

// ---- AMAnalyticsUtility ----------------------------------------------------------------------

dispatch::SerialQueue& AMAnalyticsUtility::metric_queue() {
    static auto* queue = new dispatch::SerialQueue("am_check_queue", dispatch::QoS::default_);
    return *queue;
}

std::string AMAnalyticsUtility::metric_day(std::chrono::system_clock::time_point moment) {
    std::time_t t = std::chrono::system_clock::to_time_t(moment);
    std::tm local{};
    localtime_r(&t, &local);
    char text[16] = {};
    std::strftime(text, sizeof text, "%Y%m%d", &local);
    return text;
}

std::optional<std::string> AMAnalyticsUtility::metric_endpoint_url() {
    std::string base = setting("DRAVIX_METRIC_HOST");
    if (base.empty()) return std::nullopt;
    for (unsigned char c : base)
        if (c <= 0x20 || c == 0x7f) return std::nullopt;
    if (base.find("://") == std::string::npos) base = "https://" + base;
    while (!base.empty() && base.back() == '/') base.pop_back();
    QUrl url(QString::fromStdString(base), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    // The "auth" value travels in the clear over http: only to this machine.
    if (scheme != QLatin1String("https") && !(scheme == QLatin1String("http") && is_loopback(url.host())))
        return std::nullopt;
    return base + kMetricPath;
}

std::string AMAnalyticsUtility::metric_auth() { return setting("DRAVIX_METRIC_AUTH"); }

void AMAnalyticsUtility::set_clock(Clock clock) {
    std::lock_guard lock(g_mutex);
    g_clock = std::move(clock);
}

json AMAnalyticsUtility::info_dictionary() {
    std::function<json()> provider;
    {
        std::lock_guard lock(g_mutex);
        provider = g_info_provider;
    }
    return provider ? provider() : app_bundle_info();
}

void AMAnalyticsUtility::set_info_dictionary_provider(std::function<json()> provider) {
    std::lock_guard lock(g_mutex);
    g_info_provider = std::move(provider);
}

void AMAnalyticsUtility::am_send_metric(std::optional<std::string> uuid, json vars, bool force, Block block) {
    metric_queue().async([uuid = std::move(uuid), vars = std::move(vars), force, block = std::move(block)] {
        am_metric_interval_check(uuid, vars, force, block);
    });
}

void AMAnalyticsUtility::am_metric_interval_check(const std::optional<std::string>& uuid, const json& vars, bool force,
                                                  const Block& block) {
    if (!uuid || uuid->empty()) {
        call(block, std::nullopt);
        return;
    }
    if (!force) {
        std::string today = metric_day(now());
        auto& store = UserPrefs::user_defaults();
        if (store.stringForKey(kIntervalKey) == today) {
            call(block, std::nullopt);
            return;
        }
        // Stored before sending: a send that then fails is not retried until tomorrow.
        store.setString(kIntervalKey, today);
    }
    postMetric(*uuid, vars, block);
}

json AMAnalyticsUtility::buildMetricPayload(const std::string& uuid) {
    json info = info_dictionary();
    auto stored = [&](const char* key) -> json {
        if (info.is_object() && info.contains(key) && !info[key].is_null()) return info[key];
        return "";
    };
    json record = json::object();
    record["uuid"] = uuid;
    record["environment"] = 2;
    record["app_identifier"] = stored("CFBundleIdentifier");
    record["app_version"] = info.is_object() && info.contains("CFBundleVersion") ? integer_value(info["CFBundleVersion"]) : 0;
    record["app_short_version"] = stored("CFBundleShortVersionString");
    return record;
}

void AMAnalyticsUtility::postMetric(const std::string& uuid, const json& vars, const Block& block) {
    auto queue = std::make_shared<AMZOperationQueue>("am_metric");
    queue->setMaxConcurrentOperationCount(1);

    auto url = metric_endpoint_url();
    if (!url) {
        call(block, std::nullopt);
        return;
    }

    AMZUrlRequest request(*url, AMZUrlRequest::CachePolicy::reloadIgnoringLocalAndRemoteCacheData, 10);
    request.httpMethod = "POST";
    request.setValue("application/json", "Content-Type");
    request.setValue(metric_auth(), "auth");

    json record = buildMetricPayload(uuid);
    if (vars.is_object()) {
        for (auto it = vars.begin(); it != vars.end(); ++it) record[it.key()] = it.value();
    }

    std::string body;
    try {
        body = record.dump();
    } catch (const json::exception& e) {
        VornError error = VornError::cocoa(e.id, e.what(), "json_write");
        AMZLogger::shared().log_error("am_metric " + error.text());
        call(block, error);
        return;
    }
    request.httpBody = std::move(body);

    auto operation = std::make_shared<AMZUrlJsonConnOperation>();
    operation->set_request(std::move(request));
    operation->setQueuePriority(AMZQueuePriority::veryLow);
    operation->set_complete_block([block](AMZBaseOperation* op) { am_metric_completion(op, block); });
    queue->addOperation(operation);
}

void AMAnalyticsUtility::am_metric_completion(AMZBaseOperation* operation, const Block& block) {
    if (!operation) {
        AMZLogger::shared().log_error("am_metric missing data");
        call(block, std::nullopt);
        return;
    }
    if (auto error = operation->error()) {
        AMZLogger::shared().log_error("am_metric conn err " + error->text());
        call(block, error);
        return;
    }
    std::any result = operation->result();
    if (const json* answer = std::any_cast<json>(&result);
        answer && answer->is_object() && !answer->empty() && answer->contains("result") && (*answer)["result"].is_object()) {
        call(block, std::nullopt);
        return;
    }
    AMZLogger::shared().log_error("am_metric missing data");
    call(block, std::nullopt);
}
