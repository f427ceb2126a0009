#include "tellium/context/TLMUserIdContext.h"

#include <algorithm>

#include "tellium/TLMLogger.h"
#include "tellium/util/TLMTelliumUserDefaults.h"
#include "tellium/util/TLMUtility.h"

namespace {
constexpr const char* kHistoryKey = "UserIdHistory";
std::mutex g_instanceMutex;
std::shared_ptr<TLMUserIdContext> g_instance;
}  // namespace

std::shared_ptr<TLMUserIdContext> TLMUserIdContext::sharedInstance() {
    std::lock_guard lock(g_instanceMutex);
    if (!g_instance) g_instance = std::make_shared<TLMUserIdContext>();
    return g_instance;
}

void TLMUserIdContext::resetSharedInstance() {
    std::lock_guard lock(g_instanceMutex);
    g_instance.reset();
}

TLMUserIdContext::TLMUserIdContext() {
    if (auto data = TLMTelliumUserDefaults::shared().dataForKey(kHistoryKey)) {
        if (auto list = TLMUtility::unarchiveKeyedArray(*data)) {
            for (auto& object : *list) {
                if (auto record = std::dynamic_pointer_cast<TLMUserIdHistoryInfo>(object))
                    userIdHistory_.push_back(std::move(record));
            }
        }
    }
    TLMLogDebug(kTLMLogTag, std::to_string(userIdHistory_.size()) + " userId(s) in the history.");
    currentUserIdInfo_ = std::make_shared<TLMUserIdHistoryInfo>(TLMClock::current()->now(), std::nullopt);
    userIdHistory_.push_back(currentUserIdInfo_);
    std::lock_guard lock(mutex_);
    store();
}

void TLMUserIdContext::store() {
    std::vector<std::shared_ptr<TLMCoding>> list(userIdHistory_.begin(), userIdHistory_.end());
    TLMTelliumUserDefaults::shared().setObject(defaults::Data{TLMUtility::archiveKeyedArray(list)}, kHistoryKey);
}

std::optional<std::string> TLMUserIdContext::userId() {
    std::lock_guard lock(mutex_);
    return currentUserIdInfo_->userId;
}

void TLMUserIdContext::setUserId(const std::optional<std::string>& userId) {
    std::vector<std::shared_ptr<TLMUserIdContextDelegate>> snapshot;
    {
        std::lock_guard lock(mutex_);
        if (currentUserIdInfo_->userId == userId) return;
        currentUserIdInfo_->timestamp = TLMClock::current()->now();
        currentUserIdInfo_->userId = userId;
        if (!userIdHistory_.empty()) userIdHistory_.pop_back();
        userIdHistory_.push_back(currentUserIdInfo_);
        store();
        TLMLogVerbose(kTLMLogTag, "Stored new userId:" + userId.value_or("(null)") + " and timestamp: " +
                                      TLMUtility::dateToISO8601(*currentUserIdInfo_->timestamp) + ".");
        for (const auto& weak : delegates_) {
            if (auto d = weak.lock()) snapshot.push_back(std::move(d));
        }
    }
    for (const auto& d : snapshot) d->userIdContextDidUpdateUserId(*this, userId);
}

std::optional<std::string> TLMUserIdContext::userIdAt(TLMDate date) {
    std::lock_guard lock(mutex_);
    for (auto it = userIdHistory_.rbegin(); it != userIdHistory_.rend(); ++it) {
        if ((*it)->timestamp && *(*it)->timestamp < date) return (*it)->userId;
    }
    return std::nullopt;
}

void TLMUserIdContext::clearUserIdHistory() {
    std::lock_guard lock(mutex_);
    userIdHistory_.clear();
    userIdHistory_.push_back(currentUserIdInfo_);
    store();
    TLMLogVerbose(kTLMLogTag, "Cleared old userIds while keeping current userId.");
}

void TLMUserIdContext::addDelegate(const std::shared_ptr<TLMUserIdContextDelegate>& delegate) {
    if (!delegate) return;
    std::lock_guard lock(mutex_);
    std::erase_if(delegates_, [](const auto& w) { return w.expired(); });
    delegates_.push_back(delegate);
}

void TLMUserIdContext::removeDelegate(const std::shared_ptr<TLMUserIdContextDelegate>& delegate) {
    std::lock_guard lock(mutex_);
    std::erase_if(delegates_, [&](const auto& w) {
        auto d = w.lock();
        return !d || d == delegate;
    });
}

bool TLMUserIdContext::isUserIdValidForTellium(const std::optional<std::string>& userId) {
    if (!userId) return true;
    if (TLMUtility::utf16Length(*userId) > static_cast<std::size_t>(kTLMMaxUserIdLength)) {
        TLMLogError(kTLMLogTag, "userId is limited to " + std::to_string(kTLMMaxUserIdLength) + " characters.");
        return false;
    }
    return true;
}

bool TLMUserIdContext::isUserIdValidForEventCollector(const std::optional<std::string>& userId) {
    if (!userId) return true;
    if (userId->empty()) {
        TLMLogError(kTLMLogTag, "userId must not be empty.");
        return false;
    }
    auto colon = userId->find(':');
    if (colon == std::string::npos) return true;
    const std::string prefix = userId->substr(0, colon);
    if (prefix == "c") {
        if (colon == userId->size() - 1) {
            TLMLogError(kTLMLogTag, "userId must not be empty.");
            return false;
        }
        return true;
    }
    TLMLogError(kTLMLogTag, "userId prefix must be 'c', '" + prefix + "' is not supported.");
    return false;
}

std::optional<std::string> TLMUserIdContext::prefixedUserIdFromUserId(const std::optional<std::string>& userId) {
    if (!userId) return std::nullopt;
    if (userId->find(':') == std::string::npos) return "c:" + *userId;
    return userId;
}

std::vector<TLMUserIdHistoryInfo> TLMUserIdContext::userIdHistory() {
    std::lock_guard lock(mutex_);
    std::vector<TLMUserIdHistoryInfo> out;
    for (const auto& r : userIdHistory_) out.emplace_back(r->timestamp, r->userId);
    return out;
}
