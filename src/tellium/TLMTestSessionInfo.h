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

    std::string archiveClassName() const override { return "TLMTestSessionInfo"; }
    void encodeWithCoder(TLMKeyedArchiver& coder) const override {
        TLMHistoryInfo::encodeWithCoder(coder);
        coder.encodeString("sessionId", sessionId);
    }
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override {
        if (!TLMHistoryInfo::initWithCoder(coder)) return false;
        sessionId = coder.decodeString("sessionId");
        return !coder.failed();
    }
};
