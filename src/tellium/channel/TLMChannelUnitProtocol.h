#pragma once
// One log pipeline of a group id: logs enqueued here are stored, batched and sent.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/dispatch/Dispatch.h"
#include "tellium/channel/TLMChannelProtocol.h"
#include "tellium/channel/TLMChannelUnitConfiguration.h"

// Flags of an enqueued log: the low 8 bits are its priority in the store.
inline constexpr uint32_t TLMFlagsNormal = 1;
inline constexpr uint32_t TLMFlagsCritical = 2;

class TLMChannelUnitProtocol : public TLMChannelProtocol {
public:
    // Never waits on disk or network: the log is stamped, validated and prepared on the caller's
    // thread, everything else happens on the group's log queue.
    virtual void enqueueItem(const std::shared_ptr<TLMAbstractLog>& item, uint32_t flags) = 0;
    // Holds back (or lets go) the logs of one transmission target token.
    virtual void pauseSendingLogsWithToken(const std::string& token) = 0;
    virtual void resumeSendingLogsWithToken(const std::string& token) = 0;
    // On the log queue only.
    virtual void checkPendingLogs() = 0;
    virtual std::shared_ptr<const TLMChannelUnitConfiguration> configuration() const = 0;
    virtual dispatch::Queue& logsDispatchQueue() = 0;
};
