#pragma once
// The session id of this launch and of earlier ones, one record per launch, kept in the
// telemetry settings under "SessionIdHistory", so a log about an earlier moment (a crash sent on
// the next launch) can carry the session that was current then.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tellium/model/TLMHistoryInfo.h"

class TLMSessionContext {
public:
    static std::shared_ptr<TLMSessionContext> sharedInstance();
    // Drops the instance; the next sharedInstance() reads the stored history again.
    static void resetSharedInstance();

    std::optional<std::string> sessionId();
    void setSessionId(const std::optional<std::string>& sessionId);
    // The id current at that date: the newest record taken strictly before it; nothing otherwise.
    std::optional<std::string> sessionIdAt(TLMDate date);
    void clearSessionHistoryAndKeepCurrentSession(bool keepCurrentSession);

    // Copies of the records, oldest first (for inspection).
    std::vector<TLMSessionHistoryInfo> sessionHistory();

    TLMSessionContext();  // use sharedInstance()

private:
    void store();  // caller holds mutex_
    std::mutex mutex_;
    std::shared_ptr<TLMSessionHistoryInfo> currentSessionInfo_;
    std::vector<std::shared_ptr<TLMSessionHistoryInfo>> sessionHistory_;
};
