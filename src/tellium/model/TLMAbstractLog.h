#pragma once
// The base of every telemetry log: its fields, its JSON object for the wire, its keyed archive
// for the log store, its validity test and equality, its transmission target tokens, and its
// conversion into Common Schema logs, one per target token.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tellium/model/TLMDevice.h"
#include "tellium/model/TLMSerializableObject.h"

class TLMCommonSchemaLog;

// A marker: the session tracker stamps no session id on logs that adopt it.
class TLMNoAutoAssignSessionIdLog {
public:
    virtual ~TLMNoAutoAssignSessionIdLog() = default;
};

class TLMAbstractLog : public TLMSerializableObject, public TLMModel {
public:
    using TokenSet = std::set<std::string>;

    std::optional<std::string> type;
    std::optional<TLMDate> timestamp;
    std::optional<std::string> sid;
    std::optional<std::string> distributionGroupId;
    std::optional<std::string> userId;
    std::shared_ptr<TLMDevice> device;
    // The log's owner (an analytics transmission target, for example). Never written or archived.
    std::shared_ptr<void> tag;

    // The target tokens: a set once handed out never changes (each addition stores a new set).
    std::shared_ptr<const TokenSet> transmissionTargetTokens() const;
    void addTransmissionTargetToken(const std::string& token);
    void setTransmissionTargetTokens(std::shared_ptr<const TokenSet> tokens);

    // The fields written and archived (see TLMFieldTable.h); `tag` is not one of them.
    static constexpr auto fields() {
        using tlmfields::field;
        return std::tuple{
            field("type", &TLMAbstractLog::type),
            field("timestamp", &TLMAbstractLog::timestamp),
            field("sid", &TLMAbstractLog::sid),
            field("distributionGroupId", &TLMAbstractLog::distributionGroupId),
            field("userId", &TLMAbstractLog::userId),
            field("device", &TLMAbstractLog::device),
        };
    }

    std::string archiveClassName() const override { return "TLMAbstractLog"; }
    TLMJson serializeToDictionary() const override;
    bool deserializeFromDictionary(const TLMJson& json) override;
    bool isValid() const override;
    bool isEqual(const TLMSerializableObject& other) const override;
    void encodeWithCoder(TLMKeyedArchiver& coder) const override;
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override;
    bool appendJson(std::string& out) const override;

    // The JSON text of this log; nothing when it cannot be written.
    std::optional<std::string> serializeLogWithPrettyPrinting(bool pretty) const;

    // One Common Schema log per target token; nothing when the log has no token.
    std::optional<std::vector<std::shared_ptr<TLMCommonSchemaLog>>> toCommonSchemaLogsWithFlags(int64_t flags) const;
    virtual std::shared_ptr<TLMCommonSchemaLog> toCommonSchemaLogForTargetToken(const std::string& token,
                                                                                int64_t flags) const;
    static std::optional<std::string> combineOsVersion(const std::optional<std::string>& version,
                                                       const std::optional<std::string>& build);
    static std::optional<std::string> combineSDKLibVer(const std::optional<std::string>& name,
                                                       const std::optional<std::string>& version);
    static std::string convertTimeZoneOffsetToISO8601(long minutes);

    // A log read back from its JSON object, of the class registered for its "type".
    using Factory = std::function<std::shared_ptr<TLMAbstractLog>()>;
    static void registerLogType(const std::string& type, Factory factory);
    static std::shared_ptr<TLMAbstractLog> logFromDictionary(const TLMJson& json);

protected:
    // The failure message of the validity tests: "<class>: \"<key>\" is not valid."
    static void logInvalid(const std::string& className, const char* key);

private:
    mutable std::mutex tokensMutex_;
    std::shared_ptr<const TokenSet> tokens_;
};

// A log with a free-form dictionary of text properties.
class TLMLogWithProperties : public TLMAbstractLog {
public:
    std::optional<std::map<std::string, std::string>> properties;

    static constexpr auto fields() {
        return std::tuple_cat(TLMAbstractLog::fields(),
                              std::tuple{tlmfields::field("properties", &TLMLogWithProperties::properties,
                                                          tlmfields::kOmitEmptyInJson)});
    }

    std::string archiveClassName() const override { return "TLMLogWithProperties"; }
    TLMJson serializeToDictionary() const override;
    bool deserializeFromDictionary(const TLMJson& json) override;
    bool isEqual(const TLMSerializableObject& other) const override;
    void encodeWithCoder(TLMKeyedArchiver& coder) const override;
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override;
    bool appendJson(std::string& out) const override;
};

// The log that names the services the SDK started.
class TLMStartServiceLog : public TLMAbstractLog, public TLMNoAutoAssignSessionIdLog {
public:
    TLMStartServiceLog();
    static constexpr const char* kType = "startService";

    bool isEventCollectorEnabled = false;
    std::optional<std::vector<std::string>> services;

    // The flag is written only together with the services, and takes no part in equality.
    static constexpr auto fields() {
        using namespace tlmfields;
        return std::tuple_cat(TLMAbstractLog::fields(),
                              std::tuple{
                                  field("services", &TLMStartServiceLog::services),
                                  field("isEventCollectorEnabled", &TLMStartServiceLog::isEventCollectorEnabled,
                                        kJsonWithPrevious | kNotCompared),
                              });
    }

    std::string archiveClassName() const override { return "TLMStartServiceLog"; }
    TLMJson serializeToDictionary() const override;
    bool deserializeFromDictionary(const TLMJson& json) override;
    bool isEqual(const TLMSerializableObject& other) const override;
    void encodeWithCoder(TLMKeyedArchiver& coder) const override;
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override;
    bool appendJson(std::string& out) const override;
};

// One batch of logs for the log-ingestion service; its JSON text is the request body.
class TLMLogContainer {
public:
    TLMLogContainer() = default;
    TLMLogContainer(std::optional<std::string> batchId, std::vector<std::shared_ptr<TLMAbstractLog>> logs)
        : batchId(std::move(batchId)), logs(std::move(logs)) {}

    std::optional<std::string> serializeLog() const { return serializeLogWithPrettyPrinting(false); }
    std::optional<std::string> serializeLogWithPrettyPrinting(bool pretty) const;
    bool isValid() const;

    std::optional<std::string> batchId;
    std::vector<std::shared_ptr<TLMAbstractLog>> logs;
};
