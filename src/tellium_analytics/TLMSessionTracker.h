#pragma once
// The analytics session of this launch: started with the analytics service, it gives the launch a
// new session id (kept in the session context's history) and stamps it on every log the channel
// group prepares, except start-service logs and other logs that take no session id.
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "tellium/channel/TLMChannelDelegate.h"

class TLMSessionTracker : public TLMChannelDelegate {
public:
    // Starts a session (a new id) unless one is running.
    void start();
    void stop();
    std::optional<std::string> sessionId();

    void channelPrepareLog(TLMChannelUnitProtocol& channel, const std::shared_ptr<TLMAbstractLog>& log) override;

private:
    std::mutex mutex_;
    bool started_ = false;
};
