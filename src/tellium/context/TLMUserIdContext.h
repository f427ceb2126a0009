#pragma once
// The user id of this launch and of earlier ones, one record per launch, kept in the telemetry
// settings under "UserIdHistory"; and the rules user ids must follow for the two services.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tellium/model/TLMHistoryInfo.h"

class TLMUserIdContext;

class TLMUserIdContextDelegate {
public:
    virtual ~TLMUserIdContextDelegate() = default;
    virtual void userIdContextDidUpdateUserId(TLMUserIdContext& context, const std::optional<std::string>& userId) = 0;
};

class TLMUserIdContext {
public:
    static std::shared_ptr<TLMUserIdContext> sharedInstance();
    static void resetSharedInstance();

    std::optional<std::string> userId();
    // Records the id (nothing when it equals the current one) and tells the delegates, outside the lock.
    void setUserId(const std::optional<std::string>& userId);
    std::optional<std::string> userIdAt(TLMDate date);
    void clearUserIdHistory();

    // Delegates are held weakly.
    void addDelegate(const std::shared_ptr<TLMUserIdContextDelegate>& delegate);
    void removeDelegate(const std::shared_ptr<TLMUserIdContextDelegate>& delegate);

    static bool isUserIdValidForTellium(const std::optional<std::string>& userId);
    static bool isUserIdValidForEventCollector(const std::optional<std::string>& userId);
    static std::optional<std::string> prefixedUserIdFromUserId(const std::optional<std::string>& userId);

    std::vector<TLMUserIdHistoryInfo> userIdHistory();

    TLMUserIdContext();  // use sharedInstance()

private:
    void store();  // caller holds mutex_
    std::mutex mutex_;
    std::shared_ptr<TLMUserIdHistoryInfo> currentUserIdInfo_;
    std::vector<std::shared_ptr<TLMUserIdHistoryInfo>> userIdHistory_;
    std::vector<std::weak_ptr<TLMUserIdContextDelegate>> delegates_;
};

inline constexpr int kTLMMaxUserIdLength = 256;
