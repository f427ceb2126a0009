#include "tellium/channel/TLMChannelGroupDefault.h"

#include "tellium/TLMLogger.h"
#include "tellium/storage/TLMLogDBStorage.h"
#include "tellium/util/TLMApplicationLifecycle.h"
#include "tellium/util/TLMDispatcherUtil.h"

namespace {
constexpr const char* kTLMLogsDispatchQueueLabel = "org.dravix.tellium.ChannelGroupQueue";
constexpr double kTLMTerminationWaitSeconds = 1.0;
}  // namespace

std::shared_ptr<TLMChannelGroupDefault> TLMChannelGroupDefault::initWithHttpClient(
    std::shared_ptr<TLMHttpClientProtocol> httpClient, const std::string& installId, const std::string& logUrl) {
    return initWithIngestion(TLMTelliumIngestion::initWithHttpClient(std::move(httpClient), logUrl, installId));
}

std::shared_ptr<TLMChannelGroupDefault> TLMChannelGroupDefault::initWithIngestion(
    std::shared_ptr<TLMIngestionProtocol> ingestion, std::shared_ptr<TLMStorage> storage) {
    if (!storage) storage = std::make_shared<TLMLogDBStorage>();
    return std::shared_ptr<TLMChannelGroupDefault>(new TLMChannelGroupDefault(std::move(ingestion), std::move(storage)));
}

TLMChannelGroupDefault::TLMChannelGroupDefault(std::shared_ptr<TLMIngestionProtocol> ingestion,
                                               std::shared_ptr<TLMStorage> storage)
    : ingestion_(std::move(ingestion)),
      storage_(std::move(storage)),
      logsDispatchQueue_(std::make_shared<dispatch::SerialQueue>(kTLMLogsDispatchQueueLabel, dispatch::QoS::utility)) {}

TLMChannelGroupDefault::~TLMChannelGroupDefault() {
    if (willTerminateObserver_) TLMApplicationLifecycle::shared().removeObserver(willTerminateObserver_);
}

// ---- units --------------------------------------------------------------------------------------

std::shared_ptr<TLMChannelUnitProtocol> TLMChannelGroupDefault::addChannelUnitWithConfiguration(
    const std::shared_ptr<const TLMChannelUnitConfiguration>& configuration) {
    return addChannelUnitWithConfiguration(configuration, ingestion_);
}

std::shared_ptr<TLMChannelUnitProtocol> TLMChannelGroupDefault::addChannelUnitWithConfiguration(
    const std::shared_ptr<const TLMChannelUnitConfiguration>& configuration,
    const std::shared_ptr<TLMIngestionProtocol>& ingestion) {
    if (!configuration) return nullptr;
    // A batch of no logs never empties the store: the unit would flush again and again.
    if (configuration->batchSizeLimit == 0) {
        TLMLogError(kTLMLogTag, "Cannot add channel unit for group Id " + configuration->groupId +
                                    ": its batch size limit must be at least 1.");
        return nullptr;
    }
    auto unit = TLMChannelUnitDefault::initWithIngestion(ingestion ? ingestion : ingestion_, storage_, configuration,
                                                         logsDispatchQueue_);
    unit->addDelegate(shared_from_this());
    std::weak_ptr<TLMChannelUnitDefault> weakUnit = unit;
    logsDispatchQueue_->async([weakUnit] {
        if (auto queued = weakUnit.lock()) queued->checkPendingLogs();
    });
    {
        std::lock_guard<std::mutex> lock(mutex_);
        channels_.push_back(unit);
    }
    for (const auto& delegate : delegatesSnapshot()) delegate->channelGroupDidAddChannelUnit(*this, unit);
    return unit;
}

std::shared_ptr<TLMChannelUnitProtocol> TLMChannelGroupDefault::channelUnitForGroupId(const std::string& groupId) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& unit : channels_) {
        if (unit->configuration()->groupId == groupId) return unit;
    }
    return nullptr;
}

std::vector<std::shared_ptr<TLMChannelUnitProtocol>> TLMChannelGroupDefault::channels() {
    std::lock_guard<std::mutex> lock(mutex_);
    return channels_;
}

// ---- settings passed on -------------------------------------------------------------------------

std::string TLMChannelGroupDefault::logUrl() {
    auto http = std::dynamic_pointer_cast<TLMHttpIngestion>(ingestion_);
    return http ? http->baseURL() : std::string();
}

void TLMChannelGroupDefault::setLogUrl(const std::string& logUrl) {
    if (auto http = std::dynamic_pointer_cast<TLMHttpIngestion>(ingestion_)) http->setBaseURL(logUrl);
}

std::optional<std::string> TLMChannelGroupDefault::appSecret() {
    auto tellium = std::dynamic_pointer_cast<TLMTelliumIngestion>(ingestion_);
    return tellium ? tellium->appSecret() : std::nullopt;
}

void TLMChannelGroupDefault::setAppSecret(const std::optional<std::string>& appSecret) {
    if (auto tellium = std::dynamic_pointer_cast<TLMTelliumIngestion>(ingestion_)) tellium->setAppSecret(appSecret);
}

void TLMChannelGroupDefault::setMaxStorageSize(int64_t sizeInBytes, std::function<void(bool)> completionHandler) {
    auto storage = storage_;
    logsDispatchQueue_->async([storage, sizeInBytes, completionHandler = std::move(completionHandler)]() mutable {
        storage->setMaxStorageSize(sizeInBytes, std::move(completionHandler));
    });
}

// ---- switches -----------------------------------------------------------------------------------

void TLMChannelGroupDefault::observeWillTerminate(bool observe) {
    auto& lifecycle = TLMApplicationLifecycle::shared();
    std::lock_guard<std::mutex> lock(mutex_);
    if (willTerminateObserver_) {
        lifecycle.removeObserver(willTerminateObserver_);
        willTerminateObserver_ = 0;
    }
    if (observe) {
        std::weak_ptr<TLMChannelGroupDefault> weak = weak_from_this();
        willTerminateObserver_ = lifecycle.addObserver(TLMApplicationEvent::willTerminate, [weak] {
            if (auto self = weak.lock()) self->applicationWillTerminate();
        });
    }
}

void TLMChannelGroupDefault::setEnabled(bool isEnabled, bool deleteDataOnDisabled) {
    observeWillTerminate(isEnabled);
    if (ingestion_) ingestion_->setEnabled(isEnabled, deleteDataOnDisabled);
    for (const auto& unit : channels()) unit->setEnabled(isEnabled, deleteDataOnDisabled);
    for (const auto& delegate : delegatesSnapshot()) delegate->channelDidSetEnabled(*this, isEnabled, deleteDataOnDisabled);
}

void TLMChannelGroupDefault::pauseWithIdentifyingObject(TLMIdentifyingObject identifyingObject) {
    if (ingestion_) ingestion_->setEnabled(false, false);
    for (const auto& unit : channels()) unit->pauseWithIdentifyingObject(identifyingObject);
}

void TLMChannelGroupDefault::resumeWithIdentifyingObject(TLMIdentifyingObject identifyingObject) {
    if (ingestion_) ingestion_->setEnabled(true, false);
    for (const auto& unit : channels()) unit->resumeWithIdentifyingObject(identifyingObject);
}

void TLMChannelGroupDefault::applicationWillTerminate() {
    TLMDispatcherUtil::dispatchSyncWithTimeout(kTLMTerminationWaitSeconds, *logsDispatchQueue_, [] {});
}

// ---- delegates ----------------------------------------------------------------------------------

void TLMChannelGroupDefault::addDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) {
    if (!delegate) return;
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(delegates_, [&](const auto& weak) {
        auto held = weak.lock();
        return !held || held == delegate;
    });
    delegates_.push_back(delegate);
}

void TLMChannelGroupDefault::removeDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(delegates_, [&](const auto& weak) {
        auto held = weak.lock();
        return !held || held == delegate;
    });
}

std::vector<std::shared_ptr<TLMChannelDelegate>> TLMChannelGroupDefault::delegatesSnapshot() {
    std::vector<std::shared_ptr<TLMChannelDelegate>> snapshot;
    std::lock_guard<std::mutex> lock(mutex_);
    snapshot.reserve(delegates_.size());
    for (const auto& weak : delegates_) {
        if (auto delegate = weak.lock()) snapshot.push_back(std::move(delegate));
    }
    return snapshot;
}

void TLMChannelGroupDefault::channelPrepareLog(TLMChannelUnitProtocol& channel, const std::shared_ptr<TLMAbstractLog>& log) {
    for (const auto& delegate : delegatesSnapshot()) delegate->channelPrepareLog(channel, log);
}

void TLMChannelGroupDefault::channelDidPrepareLog(TLMChannelUnitProtocol& channel, const std::shared_ptr<TLMAbstractLog>& log,
                                                  const std::string& internalId, uint32_t flags) {
    for (const auto& delegate : delegatesSnapshot()) delegate->channelDidPrepareLog(channel, log, internalId, flags);
}

void TLMChannelGroupDefault::channelDidCompleteEnqueueingLog(TLMChannelUnitProtocol& channel,
                                                             const std::shared_ptr<TLMAbstractLog>& log,
                                                             const std::string& internalId) {
    for (const auto& delegate : delegatesSnapshot()) delegate->channelDidCompleteEnqueueingLog(channel, log, internalId);
}

void TLMChannelGroupDefault::channelWillSendLog(TLMChannelUnitProtocol& channel, const std::shared_ptr<TLMAbstractLog>& log) {
    for (const auto& delegate : delegatesSnapshot()) delegate->channelWillSendLog(channel, log);
}

void TLMChannelGroupDefault::channelDidSucceedSendingLog(TLMChannelUnitProtocol& channel,
                                                         const std::shared_ptr<TLMAbstractLog>& log) {
    for (const auto& delegate : delegatesSnapshot()) delegate->channelDidSucceedSendingLog(channel, log);
}

void TLMChannelGroupDefault::channelDidFailSendingLog(TLMChannelUnitProtocol& channel,
                                                      const std::shared_ptr<TLMAbstractLog>& log,
                                                      const std::optional<TLMError>& error) {
    for (const auto& delegate : delegatesSnapshot()) delegate->channelDidFailSendingLog(channel, log, error);
}

void TLMChannelGroupDefault::channelDidSetEnabled(TLMChannelProtocol& channel, bool isEnabled, bool deletedData) {
    for (const auto& delegate : delegatesSnapshot()) delegate->channelDidSetEnabled(channel, isEnabled, deletedData);
}

void TLMChannelGroupDefault::channelDidPauseWithIdentifyingObject(TLMChannelProtocol& channel,
                                                                  TLMIdentifyingObject identifyingObject) {
    for (const auto& delegate : delegatesSnapshot()) delegate->channelDidPauseWithIdentifyingObject(channel, identifyingObject);
}

void TLMChannelGroupDefault::channelDidResumeWithIdentifyingObject(TLMChannelProtocol& channel,
                                                                   TLMIdentifyingObject identifyingObject) {
    for (const auto& delegate : delegatesSnapshot()) delegate->channelDidResumeWithIdentifyingObject(channel, identifyingObject);
}

bool TLMChannelGroupDefault::channelUnitShouldFilterLog(TLMChannelUnitProtocol& channelUnit,
                                                        const std::shared_ptr<TLMAbstractLog>& log) {
    for (const auto& delegate : delegatesSnapshot()) {
        if (delegate->channelUnitShouldFilterLog(channelUnit, log)) return true;
    }
    return false;
}
