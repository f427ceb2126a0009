#pragma once
// Sends logs addressed to transmission targets to the Event Collector, without the services
// knowing. As a delegate of the channel group it gives every channel unit a mirror unit (group id
// + "/one") that posts through the Event Collector endpoint; a log carrying target tokens becomes
// one common-schema log per token on the mirror and is kept out of its own unit. Common-schema
// logs are stamped with an epoch and a sequence number per instrumentation key and the install id,
// once, on the mirror; their names are checked. Each mirror follows its source unit when that is
// switched on or off, paused or resumed.
//
// The mirror map and the epoch records are guarded by one lock, never held while calling a unit or
// the group (which call back into this delegate).
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "tellium/channel/TLMChannelDelegate.h"
#include "tellium/channel/TLMChannelGroupProtocol.h"
#include "tellium/channel/TLMChannelUnitProtocol.h"
#include "tellium/http/TLMHttpClientProtocol.h"
#include "tellium/ingestion/TLMHttpIngestion.h"
#include "tellium/model/commonschema/TLMCommonSchemaLog.h"

// The epoch of an instrumentation key and the last sequence number given in it.
class TLMCSEpochAndSeq {
public:
    explicit TLMCSEpochAndSeq(std::string epoch) : epoch(std::move(epoch)) {}
    static std::shared_ptr<TLMCSEpochAndSeq> initWithEpoch(const std::string& epoch) {
        return std::make_shared<TLMCSEpochAndSeq>(epoch);
    }
    int64_t seq = 0;
    std::string epoch;
};

inline constexpr const char* kTLMEventCollectorGroupIdSuffix = "/one";

class TLMEventCollectorChannelDelegate final : public TLMChannelDelegate {
public:
    // No base URL: the default Event Collector URL (a placeholder until the application sets one).
    static std::shared_ptr<TLMEventCollectorChannelDelegate> initWithHttpClient(
        std::shared_ptr<TLMHttpClientProtocol> httpClient, const std::string& installId,
        const std::optional<std::string>& baseUrl = std::nullopt);

    void setLogUrl(const std::string& logUrl);
    std::shared_ptr<TLMEventCollectorIngestion> eventCollectorIngestion() const { return eventCollectorIngestion_; }
    // The mirror of the unit with that group id, if any.
    std::shared_ptr<TLMChannelUnitProtocol> eventCollectorChannelFor(const std::string& groupId);

    static bool isEventCollectorGroup(const std::string& groupId);
    static bool shouldSendLogToEventCollector(const TLMAbstractLog& log);
    static bool validateLog(const TLMCommonSchemaLog& log);
    static bool validateLogName(const std::optional<std::string>& name);
    static const char* eventNameRule();

    void channelGroupDidAddChannelUnit(TLMChannelGroupProtocol& channelGroup,
                                       const std::shared_ptr<TLMChannelUnitProtocol>& channel) override;
    void channelPrepareLog(TLMChannelUnitProtocol& channel, const std::shared_ptr<TLMAbstractLog>& log) override;
    void channelDidPrepareLog(TLMChannelUnitProtocol& channel, const std::shared_ptr<TLMAbstractLog>& log,
                              const std::string& internalId, uint32_t flags) override;
    bool channelUnitShouldFilterLog(TLMChannelUnitProtocol& channelUnit, const std::shared_ptr<TLMAbstractLog>& log) override;
    void channelDidSetEnabled(TLMChannelProtocol& channel, bool isEnabled, bool deletedData) override;
    void channelDidPauseWithIdentifyingObject(TLMChannelProtocol& channel, TLMIdentifyingObject identifyingObject) override;
    void channelDidResumeWithIdentifyingObject(TLMChannelProtocol& channel,
                                               TLMIdentifyingObject identifyingObject) override;

    TLMEventCollectorChannelDelegate(std::shared_ptr<TLMHttpClientProtocol> httpClient, std::string installId,
                                     std::string baseUrl);  // use initWithHttpClient

private:
    std::shared_ptr<TLMChannelUnitProtocol> mirrorOf(TLMChannelProtocol& channel);

    std::mutex mutex_;  // eventCollectorChannels_, epochsAndSeqsByIKey_, baseUrl_
    std::map<std::string, std::shared_ptr<TLMChannelUnitProtocol>> eventCollectorChannels_;
    std::shared_ptr<TLMEventCollectorIngestion> eventCollectorIngestion_;
    std::string baseUrl_;
    std::map<std::string, std::shared_ptr<TLMCSEpochAndSeq>> epochsAndSeqsByIKey_;
    const std::string installId_;
};
