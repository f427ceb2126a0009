#pragma once
// History records: a moment ("timestampKey") and what was current then — the device
// ("deviceKey"), the session id ("sessionIdKey") or the user id ("userIdKey"). They are only
// archived; each class lists its fields once, in fields() (see TLMFieldTable.h).
#include <memory>
#include <optional>
#include <string>

#include "tellium/model/TLMDevice.h"
#include "tellium/model/TLMFieldTable.h"
#include "tellium/util/TLMKeyedArchiver.h"

class TLMHistoryInfo : public TLMCoding {
public:
    TLMHistoryInfo() = default;
    explicit TLMHistoryInfo(std::optional<TLMDate> timestamp) : timestamp(timestamp) {}
    std::optional<TLMDate> timestamp;

    static constexpr auto fields() {
        return std::tuple{tlmfields::field("timestampKey", &TLMHistoryInfo::timestamp)};
    }

    std::string archiveClassName() const override { return "TLMHistoryInfo"; }
    void encodeWithCoder(TLMKeyedArchiver& coder) const override;
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

class TLMDeviceHistoryInfo : public TLMHistoryInfo {
public:
    TLMDeviceHistoryInfo() = default;
    TLMDeviceHistoryInfo(std::optional<TLMDate> timestamp, std::shared_ptr<TLMDevice> device)
        : TLMHistoryInfo(timestamp), device(std::move(device)) {}
    std::shared_ptr<TLMDevice> device;

    static constexpr auto fields() {
        return std::tuple_cat(TLMHistoryInfo::fields(), std::tuple{tlmfields::field("deviceKey", &TLMDeviceHistoryInfo::device)});
    }

    std::string archiveClassName() const override { return "TLMDeviceHistoryInfo"; }
    void encodeWithCoder(TLMKeyedArchiver& coder) const override;
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

class TLMSessionHistoryInfo : public TLMHistoryInfo {
public:
    TLMSessionHistoryInfo() = default;
    TLMSessionHistoryInfo(std::optional<TLMDate> timestamp, std::optional<std::string> sessionId)
        : TLMHistoryInfo(timestamp), sessionId(std::move(sessionId)) {}
    std::optional<std::string> sessionId;

    static constexpr auto fields() {
        return std::tuple_cat(TLMHistoryInfo::fields(),
                              std::tuple{tlmfields::field("sessionIdKey", &TLMSessionHistoryInfo::sessionId)});
    }

    std::string archiveClassName() const override { return "TLMSessionHistoryInfo"; }
    void encodeWithCoder(TLMKeyedArchiver& coder) const override;
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override;
};

class TLMUserIdHistoryInfo : public TLMHistoryInfo {
public:
    TLMUserIdHistoryInfo() = default;
    TLMUserIdHistoryInfo(std::optional<TLMDate> timestamp, std::optional<std::string> userId)
        : TLMHistoryInfo(timestamp), userId(std::move(userId)) {}
    std::optional<std::string> userId;

    static constexpr auto fields() {
        return std::tuple_cat(TLMHistoryInfo::fields(), std::tuple{tlmfields::field("userIdKey", &TLMUserIdHistoryInfo::userId)});
    }

    std::string archiveClassName() const override { return "TLMUserIdHistoryInfo"; }
    void encodeWithCoder(TLMKeyedArchiver& coder) const override;
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override;
};
