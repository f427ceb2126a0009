#pragma once
// What the channel group and its units tell their observers: a unit was added, a log is being
// prepared, was enqueued, is about to be sent, was sent or failed, the channel was switched on or
// off, paused or resumed; and the one question they ask: should this log be kept out of the unit.
// Every callback is optional (the defaults do nothing and keep every log).
//
// Channels and identifying objects are passed by address: a channel is the group or unit that
// calls, an identifying object is whatever the pauser chose to tell its pauses apart by.
#include <memory>
#include <optional>
#include <string>

#include "tellium/TLMErrors.h"
#include "tellium/model/TLMAbstractLog.h"

class TLMChannelProtocol;
class TLMChannelUnitProtocol;
class TLMChannelGroupProtocol;

// Whoever pauses a channel names itself by an address; the same address resumes it.
using TLMIdentifyingObject = const void*;

class TLMChannelDelegate {
public:
    virtual ~TLMChannelDelegate() = default;

    virtual void channelGroupDidAddChannelUnit(TLMChannelGroupProtocol& /*channelGroup*/,
                                               const std::shared_ptr<TLMChannelUnitProtocol>& /*channel*/) {}
    // On the enqueuing thread, before the log leaves it.
    virtual void channelPrepareLog(TLMChannelUnitProtocol& /*channel*/, const std::shared_ptr<TLMAbstractLog>& /*log*/) {}
    virtual void channelDidPrepareLog(TLMChannelUnitProtocol& /*channel*/, const std::shared_ptr<TLMAbstractLog>& /*log*/,
                                      const std::string& /*internalId*/, uint32_t /*flags*/) {}
    virtual void channelDidCompleteEnqueueingLog(TLMChannelUnitProtocol& /*channel*/,
                                                 const std::shared_ptr<TLMAbstractLog>& /*log*/,
                                                 const std::string& /*internalId*/) {}
    virtual void channelWillSendLog(TLMChannelUnitProtocol& /*channel*/, const std::shared_ptr<TLMAbstractLog>& /*log*/) {}
    virtual void channelDidSucceedSendingLog(TLMChannelUnitProtocol& /*channel*/,
                                             const std::shared_ptr<TLMAbstractLog>& /*log*/) {}
    virtual void channelDidFailSendingLog(TLMChannelUnitProtocol& /*channel*/, const std::shared_ptr<TLMAbstractLog>& /*log*/,
                                          const std::optional<TLMError>& /*error*/) {}
    virtual void channelDidSetEnabled(TLMChannelProtocol& /*channel*/, bool /*isEnabled*/, bool /*deletedData*/) {}
    virtual void channelDidPauseWithIdentifyingObject(TLMChannelProtocol& /*channel*/,
                                                      TLMIdentifyingObject /*identifyingObject*/) {}
    virtual void channelDidResumeWithIdentifyingObject(TLMChannelProtocol& /*channel*/,
                                                       TLMIdentifyingObject /*identifyingObject*/) {}
    // True keeps the log out of the unit (it is not stored).
    virtual bool channelUnitShouldFilterLog(TLMChannelUnitProtocol& /*channelUnit*/,
                                            const std::shared_ptr<TLMAbstractLog>& /*log*/) {
        return false;
    }
};
