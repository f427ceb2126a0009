#include "tellium/context/TLMSessionContext.h"

#include "tellium/TLMLogger.h"
#include "tellium/util/TLMTelliumUserDefaults.h"
#include "tellium/util/TLMUtility.h"

namespace {
constexpr const char* kHistoryKey = "SessionIdHistory";
std::mutex g_instanceMutex;
std::shared_ptr<TLMSessionContext> g_instance;
}  // namespace

std::shared_ptr<TLMSessionContext> TLMSessionContext::sharedInstance() {
    std::lock_guard lock(g_instanceMutex);
    if (!g_instance) g_instance = std::make_shared<TLMSessionContext>();
    return g_instance;
}

void TLMSessionContext::resetSharedInstance() {
    std::lock_guard lock(g_instanceMutex);
    g_instance.reset();
}

TLMSessionContext::TLMSessionContext() {
    if (auto data = TLMTelliumUserDefaults::shared().dataForKey(kHistoryKey)) {
        if (auto list = TLMUtility::unarchiveKeyedArray(*data)) {
            for (auto& object : *list) {
                if (auto record = std::dynamic_pointer_cast<TLMSessionHistoryInfo>(object))
                    sessionHistory_.push_back(std::move(record));
            }
        }
    }
    TLMLogDebug(kTLMLogTag, std::to_string(sessionHistory_.size()) + " session(s) in the history.");
    currentSessionInfo_ = std::make_shared<TLMSessionHistoryInfo>(TLMClock::current()->now(), std::nullopt);
    sessionHistory_.push_back(currentSessionInfo_);
}

void TLMSessionContext::store() {
    std::vector<std::shared_ptr<TLMCoding>> list(sessionHistory_.begin(), sessionHistory_.end());
    TLMTelliumUserDefaults::shared().setObject(defaults::Data{TLMUtility::archiveKeyedArray(list)}, kHistoryKey);
}

std::optional<std::string> TLMSessionContext::sessionId() {
    std::lock_guard lock(mutex_);
    return currentSessionInfo_->sessionId;
}

void TLMSessionContext::setSessionId(const std::optional<std::string>& sessionId) {
    std::lock_guard lock(mutex_);
    // After a clear without the current record the history is empty: nothing to take off.
    if (!sessionHistory_.empty()) sessionHistory_.pop_back();
    currentSessionInfo_->sessionId = sessionId;
    currentSessionInfo_->timestamp = TLMClock::current()->now();
    sessionHistory_.push_back(currentSessionInfo_);
    store();
    TLMLogVerbose(kTLMLogTag, "Stored new session with id:" + sessionId.value_or("(null)") +
                                  " and timestamp: " + TLMUtility::dateToISO8601(*currentSessionInfo_->timestamp) + ".");
}

std::optional<std::string> TLMSessionContext::sessionIdAt(TLMDate date) {
    std::lock_guard lock(mutex_);
    for (auto it = sessionHistory_.rbegin(); it != sessionHistory_.rend(); ++it) {
        if ((*it)->timestamp && *(*it)->timestamp < date) return (*it)->sessionId;
    }
    return std::nullopt;
}

void TLMSessionContext::clearSessionHistoryAndKeepCurrentSession(bool keepCurrentSession) {
    std::lock_guard lock(mutex_);
    sessionHistory_.clear();
    if (keepCurrentSession) sessionHistory_.push_back(currentSessionInfo_);
    store();
    TLMLogVerbose(kTLMLogTag, "Cleared old sessions.");
}

std::vector<TLMSessionHistoryInfo> TLMSessionContext::sessionHistory() {
    std::lock_guard lock(mutex_);
    std::vector<TLMSessionHistoryInfo> out;
    for (const auto& r : sessionHistory_) out.emplace_back(r->timestamp, r->sessionId);
    return out;
}
