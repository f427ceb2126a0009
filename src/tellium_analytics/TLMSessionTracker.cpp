#include "tellium_analytics/TLMSessionTracker.h"

#include "tellium/TLMLogger.h"
#include "tellium/context/TLMSessionContext.h"
#include "tellium/util/TLMUtility.h"

void TLMSessionTracker::start() {
    std::lock_guard lock(mutex_);
    if (started_) return;
    started_ = true;
    TLMSessionContext::sharedInstance()->setSessionId(TLMUtility::uuidString());
}

void TLMSessionTracker::stop() {
    std::lock_guard lock(mutex_);
    started_ = false;
}

std::optional<std::string> TLMSessionTracker::sessionId() { return TLMSessionContext::sharedInstance()->sessionId(); }

void TLMSessionTracker::channelPrepareLog(TLMChannelUnitProtocol&, const std::shared_ptr<TLMAbstractLog>& log) {
    if (!log || dynamic_cast<const TLMNoAutoAssignSessionIdLog*>(log.get())) return;
    if (log->type && *log->type == "startSession") return;
    {
        std::lock_guard lock(mutex_);
        if (!started_) return;
    }
    log->sid = sessionId();
}
