#pragma once
// The SDK's channel group: makes the channel units (sharing one log queue, one store and, by
// default, one ingestion endpoint), finds them by group id, and passes switches and settings on.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "tellium/channel/TLMChannelProtocol.h"
#include "tellium/channel/TLMChannelUnitProtocol.h"

class TLMIngestionProtocol;

class TLMChannelGroupProtocol : public TLMChannelProtocol {
public:
    // Nothing for an absent configuration, or (with an error logged) one whose batches hold no log.
    virtual std::shared_ptr<TLMChannelUnitProtocol> addChannelUnitWithConfiguration(
        const std::shared_ptr<const TLMChannelUnitConfiguration>& configuration) = 0;
    // With the given ingestion (the group's own when none is given).
    virtual std::shared_ptr<TLMChannelUnitProtocol> addChannelUnitWithConfiguration(
        const std::shared_ptr<const TLMChannelUnitConfiguration>& configuration,
        const std::shared_ptr<TLMIngestionProtocol>& ingestion) = 0;
    virtual void setMaxStorageSize(int64_t sizeInBytes, std::function<void(bool)> completionHandler) = 0;
    // The first unit added with that group id, or nothing.
    virtual std::shared_ptr<TLMChannelUnitProtocol> channelUnitForGroupId(const std::string& groupId) = 0;
    virtual std::string logUrl() = 0;
    virtual void setLogUrl(const std::string& logUrl) = 0;
    virtual std::optional<std::string> appSecret() = 0;
    virtual void setAppSecret(const std::optional<std::string>& appSecret) = 0;
};
