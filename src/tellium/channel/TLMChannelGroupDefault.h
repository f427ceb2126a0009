#pragma once
// The SDK's channel group: one log-ingestion endpoint, one log store and one serial log queue
// shared by every channel unit it makes. It is the delegate of each unit and passes every unit
// callback on to its own delegates (the Event Collector delegate, the services). Switching the
// group on or off, pausing and resuming it reach the endpoint and every unit.
//
// While enabled it observes the application's will-terminate event (TLMApplicationLifecycle): the
// work already queued then gets up to one second to finish before the process ends. The
// application may also call applicationWillTerminate() itself.
//
// Locking: the group's lock guards only its delegate set and unit list; callbacks run outside it.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tellium/channel/TLMChannelGroupProtocol.h"
#include "tellium/channel/TLMChannelUnitDefault.h"
#include "tellium/http/TLMHttpClientProtocol.h"
#include "tellium/ingestion/TLMHttpIngestion.h"
#include "tellium/storage/TLMStorage.h"

class TLMChannelGroupDefault final : public TLMChannelGroupProtocol,
                                     public TLMChannelDelegate,
                                     public std::enable_shared_from_this<TLMChannelGroupDefault> {
public:
    // A log-ingestion endpoint on the client, with that base URL and install id.
    static std::shared_ptr<TLMChannelGroupDefault> initWithHttpClient(std::shared_ptr<TLMHttpClientProtocol> httpClient,
                                                                      const std::string& installId,
                                                                      const std::string& logUrl);
    // The ingestion may be none; the store is the SDK's log database unless one is given (tests).
    static std::shared_ptr<TLMChannelGroupDefault> initWithIngestion(std::shared_ptr<TLMIngestionProtocol> ingestion,
                                                                     std::shared_ptr<TLMStorage> storage = nullptr);
    ~TLMChannelGroupDefault() override;

    // TLMChannelGroupProtocol
    std::shared_ptr<TLMChannelUnitProtocol> addChannelUnitWithConfiguration(
        const std::shared_ptr<const TLMChannelUnitConfiguration>& configuration) override;
    std::shared_ptr<TLMChannelUnitProtocol> addChannelUnitWithConfiguration(
        const std::shared_ptr<const TLMChannelUnitConfiguration>& configuration,
        const std::shared_ptr<TLMIngestionProtocol>& ingestion) override;
    void setMaxStorageSize(int64_t sizeInBytes, std::function<void(bool)> completionHandler) override;
    std::shared_ptr<TLMChannelUnitProtocol> channelUnitForGroupId(const std::string& groupId) override;
    std::string logUrl() override;
    void setLogUrl(const std::string& logUrl) override;
    std::optional<std::string> appSecret() override;
    void setAppSecret(const std::optional<std::string>& appSecret) override;

    // TLMChannelProtocol
    void setEnabled(bool isEnabled, bool deleteDataOnDisabled) override;
    void addDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) override;
    void removeDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) override;
    void pauseWithIdentifyingObject(TLMIdentifyingObject identifyingObject) override;
    void resumeWithIdentifyingObject(TLMIdentifyingObject identifyingObject) override;

    // Gives the queued work up to one second to finish; returns when it has or the second is up.
    void applicationWillTerminate();

    std::shared_ptr<TLMIngestionProtocol> ingestion() const { return ingestion_; }
    std::shared_ptr<TLMStorage> storage() const { return storage_; }
    dispatch::Queue& logsDispatchQueue() { return *logsDispatchQueue_; }
    std::vector<std::shared_ptr<TLMChannelUnitProtocol>> channels();

    // TLMChannelDelegate: every unit callback goes on to the group's delegates.
    void channelPrepareLog(TLMChannelUnitProtocol& channel, const std::shared_ptr<TLMAbstractLog>& log) override;
    void channelDidPrepareLog(TLMChannelUnitProtocol& channel, const std::shared_ptr<TLMAbstractLog>& log,
                              const std::string& internalId, uint32_t flags) override;
    void channelDidCompleteEnqueueingLog(TLMChannelUnitProtocol& channel, const std::shared_ptr<TLMAbstractLog>& log,
                                         const std::string& internalId) override;
    void channelWillSendLog(TLMChannelUnitProtocol& channel, const std::shared_ptr<TLMAbstractLog>& log) override;
    void channelDidSucceedSendingLog(TLMChannelUnitProtocol& channel, const std::shared_ptr<TLMAbstractLog>& log) override;
    void channelDidFailSendingLog(TLMChannelUnitProtocol& channel, const std::shared_ptr<TLMAbstractLog>& log,
                                  const std::optional<TLMError>& error) override;
    void channelDidSetEnabled(TLMChannelProtocol& channel, bool isEnabled, bool deletedData) override;
    void channelDidPauseWithIdentifyingObject(TLMChannelProtocol& channel, TLMIdentifyingObject identifyingObject) override;
    void channelDidResumeWithIdentifyingObject(TLMChannelProtocol& channel,
                                               TLMIdentifyingObject identifyingObject) override;
    bool channelUnitShouldFilterLog(TLMChannelUnitProtocol& channelUnit, const std::shared_ptr<TLMAbstractLog>& log) override;

private:
    TLMChannelGroupDefault(std::shared_ptr<TLMIngestionProtocol> ingestion, std::shared_ptr<TLMStorage> storage);
    std::vector<std::shared_ptr<TLMChannelDelegate>> delegatesSnapshot();
    void observeWillTerminate(bool observe);

    std::mutex mutex_;  // delegates_, channels_, willTerminateObserver_
    std::vector<std::weak_ptr<TLMChannelDelegate>> delegates_;
    const std::shared_ptr<TLMIngestionProtocol> ingestion_;
    const std::shared_ptr<TLMStorage> storage_;
    const std::shared_ptr<dispatch::SerialQueue> logsDispatchQueue_;
    std::vector<std::shared_ptr<TLMChannelUnitProtocol>> channels_;
    uint64_t willTerminateObserver_ = 0;
};
