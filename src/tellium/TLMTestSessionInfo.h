#pragma once
// A history record of a session made for tests of the SDK: a timestamp and a session id. Nothing
// in the product makes one.
#include <optional>
#include <string>

#include "tellium/model/TLMHistoryInfo.h"

class TLMTestSessionInfo : public TLMHistoryInfo {
public:
    TLMTestSessionInfo() = default;
    TLMTestSessionInfo(std::optional<TLMDate> timestamp, std::optional<std::string> sessionId)
        : TLMHistoryInfo(timestamp), sessionId(std::move(sessionId)) {}
    std::optional<std::string> sessionId;

    static constexpr auto fields() {
        return std::tuple_cat(TLMHistoryInfo::fields(), std::tuple{tlmfields::field("sessionId", &TLMTestSessionInfo::sessionId)});
    }

    std::string archiveClassName() const override { return "TLMTestSessionInfo"; }
    void encodeWithCoder(TLMKeyedArchiver& coder) const override { tlmfields::archive(*this, coder, fields()); }
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override { return tlmfields::unarchive(*this, coder, fields()); }
};
