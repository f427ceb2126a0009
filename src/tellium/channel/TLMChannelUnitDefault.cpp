#include "tellium/channel/TLMChannelUnitDefault.h"

#include <algorithm>

#include "tellium/TLMLogger.h"
#include "tellium/TLMTellium.h"
#include "tellium/context/TLMDeviceTracker.h"
#include "tellium/http/TLMHttpUtil.h"
#include "tellium/util/TLMTelliumUserDefaults.h"
#include "tellium/util/TLMUtility.h"

namespace {
std::string typeOf(const TLMAbstractLog& log) { return log.type.value_or("(null)"); }
}  // namespace

std::shared_ptr<TLMChannelUnitDefault> TLMChannelUnitDefault::initWithIngestion(
    std::shared_ptr<TLMIngestionProtocol> ingestion, std::shared_ptr<TLMStorage> storage,
    std::shared_ptr<const TLMChannelUnitConfiguration> configuration, std::shared_ptr<dispatch::Queue> logsDispatchQueue) {
    return std::shared_ptr<TLMChannelUnitDefault>(new TLMChannelUnitDefault(
        std::move(ingestion), std::move(storage), std::move(configuration), std::move(logsDispatchQueue)));
}

TLMChannelUnitDefault::TLMChannelUnitDefault(std::shared_ptr<TLMIngestionProtocol> ingestion,
                                             std::shared_ptr<TLMStorage> storage,
                                             std::shared_ptr<const TLMChannelUnitConfiguration> configuration,
                                             std::shared_ptr<dispatch::Queue> logsDispatchQueue)
    : configuration_(std::move(configuration)),
      logsDispatchQueue_(std::move(logsDispatchQueue)),
      ingestion_(std::move(ingestion)),
      storage_(std::move(storage)) {
    // Every stored log counts, whatever its group: a relaunch checks for waiting logs at once.
    itemsCount_ = storage_ ? storage_->countLogs() : 0;
}

TLMChannelUnitDefault::~TLMChannelUnitDefault() {
    if (timerSource_) timerSource_->cancel();
}

TLMError TLMChannelUnitDefault::connectionPausedError() {
    return TLMError{kTLMChannelErrorDomain, kTLMConnectionPausedErrorCode, kTLMConnectionPausedErrorDesc};
}

std::string TLMChannelUnitDefault::oldestPendingLogTimestampKey() const {
    return "ChannelStartTimer:" + configuration_->groupId;
}

void TLMChannelUnitDefault::onQueue(std::function<void(TLMChannelUnitDefault&)> work) {
    std::weak_ptr<TLMChannelUnitDefault> weak = weak_from_this();
    logsDispatchQueue_->async([weak, work = std::move(work)] {
        if (auto self = weak.lock()) work(*self);
    });
}

// ---- delegates ----------------------------------------------------------------------------------

void TLMChannelUnitDefault::addDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) {
    if (!delegate) return;
    std::lock_guard<std::mutex> lock(delegatesMutex_);
    std::erase_if(delegates_, [&](const auto& weak) {
        auto held = weak.lock();
        return !held || held == delegate;
    });
    delegates_.push_back(delegate);
}

void TLMChannelUnitDefault::removeDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) {
    std::lock_guard<std::mutex> lock(delegatesMutex_);
    std::erase_if(delegates_, [&](const auto& weak) {
        auto held = weak.lock();
        return !held || held == delegate;
    });
}

std::vector<std::shared_ptr<TLMChannelDelegate>> TLMChannelUnitDefault::delegatesSnapshot() {
    std::vector<std::shared_ptr<TLMChannelDelegate>> snapshot;
    std::lock_guard<std::mutex> lock(delegatesMutex_);
    snapshot.reserve(delegates_.size());
    for (const auto& weak : delegates_) {
        if (auto delegate = weak.lock()) snapshot.push_back(std::move(delegate));
    }
    return snapshot;
}

void TLMChannelUnitDefault::notifyFailureBeforeSendingForItem(const std::shared_ptr<TLMAbstractLog>& item,
                                                              const TLMError& error) {
    for (const auto& delegate : delegatesSnapshot()) {
        delegate->channelWillSendLog(*this, item);
        delegate->channelDidFailSendingLog(*this, item, error);
    }
}

// ---- enqueue ------------------------------------------------------------------------------------

void TLMChannelUnitDefault::enqueueItem(const std::shared_ptr<TLMAbstractLog>& item, uint32_t flags) {
    if (!item) {
        TLMLogWarning(kTLMLogTag, "Log is not valid.");
        return;
    }
    if (!item->timestamp) item->timestamp = TLMClock::current()->now();
    if (!item->device) item->device = TLMDeviceTracker::sharedInstance()->device();
    if (!item->isValid()) {
        TLMLogWarning(kTLMLogTag, "Log is not valid.");
        return;
    }
    const std::string internalId = TLMUtility::uuidString();
    const auto delegates = delegatesSnapshot();
    for (const auto& delegate : delegates) delegate->channelPrepareLog(*this, item);
    for (const auto& delegate : delegates) delegate->channelDidPrepareLog(*this, item, internalId, flags);
    // What the store writes for the log is made here, on the caller's thread, rather than on the
    // log queue, which every log and every batch goes through.
    std::optional<std::string> storedText;
    if (storage_ && ingestion_ && ingestion_->isReadyToSend()) storedText = storage_->prepareText(*item);
    // Logs enqueued while the queue is busy are taken together, so a burst is stored in one write.
    bool drainQueued = false;
    {
        std::lock_guard<std::mutex> lock(incomingMutex_);
        drainQueued = !incoming_.empty();
        incoming_.push_back({item, internalId, flags, std::move(storedText)});
    }
    if (!drainQueued) onQueue([](TLMChannelUnitDefault& self) { self.enqueueIncoming(); });
}

void TLMChannelUnitDefault::enqueueIncoming() {
    // Answers that came meanwhile go first: the next batches leave before a burst is stored.
    handleAnswers();
    std::vector<Incoming> incoming;
    bool more = false;
    {
        std::lock_guard<std::mutex> lock(incomingMutex_);
        const std::size_t taken = std::min(incoming_.size(), kIncomingBurst);
        incoming.assign(std::make_move_iterator(incoming_.begin()), std::make_move_iterator(incoming_.begin() + taken));
        incoming_.erase(incoming_.begin(), incoming_.begin() + taken);
        more = !incoming_.empty();
    }
    if (more) onQueue([](TLMChannelUnitDefault& self) { self.enqueueIncoming(); });
    if (incoming.empty()) return;
    const auto delegates = delegatesSnapshot();
    auto completed = [&](const Incoming& entry) {
        for (const auto& delegate : delegates) delegate->channelDidCompleteEnqueueingLog(*this, entry.log, entry.internalId);
    };
    // Each log in turn: kept out, dropped, or to be stored (in order).
    std::vector<TLMStorageItem> items;
    std::vector<std::optional<std::size_t>> storeIndex(incoming.size());
    for (std::size_t i = 0; i < incoming.size(); ++i) {
        auto& entry = incoming[i];
        const auto& item = entry.log;
        const bool filtered = std::any_of(delegates.begin(), delegates.end(), [&](const auto& delegate) {
            return delegate->channelUnitShouldFilterLog(*this, item);
        });
        if (filtered) {
            TLMLogDebug(kTLMLogTag, "Log of type '" + typeOf(*item) + "' was filtered out by delegate(s)");
            continue;
        }
        if (!ingestion_ || !ingestion_->isReadyToSend()) {
            TLMLogDebug(kTLMLogTag, "Log of type '" + typeOf(*item) +
                                        "' was not filtered out by delegate(s) but ingestion is not ready to send it.");
            continue;
        }
        if (discardLogs_) {
            TLMLogWarning(kTLMLogTag,
                          "Channel " + configuration_->groupId + " disabled in log discarding mode, discard this log.");
            notifyFailureBeforeSendingForItem(item, connectionPausedError());
            continue;
        }
        TLMLogDebug(kTLMLogTag, "Saving log, type: " + typeOf(*item) + ", flags: " + std::to_string(entry.flags) + ".");
        storeIndex[i] = items.size();
        items.push_back({item, entry.flags, std::move(entry.storedText)});
    }
    const std::vector<bool> saved = items.empty() ? std::vector<bool>() : storage_->saveLogs(items, configuration_->groupId);
    std::size_t stored = 0;
    for (std::size_t i = 0; i < incoming.size(); ++i) {
        completed(incoming[i]);
        if (storeIndex[i] && saved[*storeIndex[i]]) ++stored;
    }
    if (stored > 0) {
        itemsCount_ += stored;
        checkPendingLogs();
    }
}

// ---- when to send -------------------------------------------------------------------------------

void TLMChannelUnitDefault::checkPendingLogs() {
    const auto& config = *configuration_;
    if (!paused_ && config.flushInterval == TLMChannelUnitConfiguration::kDefaultFlushInterval &&
        itemsCount_ >= config.batchSizeLimit) {
        flushQueue();
        return;
    }
    if (itemsCount_ == 0) return;
    const uint64_t interval = resolveFlushInterval();
    if (paused_) return;
    if (interval > 0) {
        startTimer(interval);
    } else {
        flushQueue();
    }
}

uint64_t TLMChannelUnitDefault::resolveFlushInterval() {
    const uint64_t interval = configuration_->flushInterval;
    if (interval <= TLMChannelUnitConfiguration::kDefaultFlushInterval) return interval;
    auto& settings = TLMTelliumUserDefaults::shared();
    const std::string key = oldestPendingLogTimestampKey();
    const double now = std::chrono::duration<double>(TLMClock::current()->now().time_since_epoch()).count();
    if (auto stored = settings.objectForKey(key)) {
        if (const auto* start = stored->get<defaults::Date>(); start && start->unixTime() <= now) {
            const double elapsed = now - start->unixTime();
            if (elapsed <= static_cast<double>(interval)) {
                return interval - static_cast<uint64_t>(elapsed);
            }
            settings.removeObjectForKey(key);
            return 0;
        }
    }
    settings.setObject(defaults::Value(defaults::Date::fromUnix(now)), key);
    return interval;
}

void TLMChannelUnitDefault::startTimer(uint64_t seconds) {
    if (!enabled_) return;
    resetTimer();
    std::weak_ptr<TLMChannelUnitDefault> weak = weak_from_this();
    timerSource_ = TLMClock::current()->schedule(*logsDispatchQueue_, std::chrono::seconds(seconds), [weak] {
        auto self = weak.lock();
        if (!self) return;
        if (self->itemsCount_ > 0) self->flushQueue();
        self->resetTimer();
        TLMTelliumUserDefaults::shared().removeObjectForKey(self->oldestPendingLogTimestampKey());
    });
}

void TLMChannelUnitDefault::resetTimer() {
    if (timerSource_) {
        timerSource_->cancel();
        timerSource_.reset();
    }
}

// ---- sending ------------------------------------------------------------------------------------

void TLMChannelUnitDefault::flushQueue() {
    const auto& config = *configuration_;
    for (;;) {
        if (!ingestion_ || !ingestion_->isEnabled()) {
            TLMLogDebug(kTLMLogTag, "Tellium SDK is offline, groupId:" + config.groupId + ".");
            return;
        }
        if (!enabled_ || !ingestion_->isReadyToSend()) return;
        resetTimer();
        if (paused_ || pendingBatchQueueFull_) {
            if (itemsCount_ >= config.batchSizeLimit) {
                availableBatchFromStorage_ = true;
                itemsCount_ = 0;
            }
            return;
        }
        itemsCount_ = 0;
        std::optional<std::vector<std::string>> excluded;
        if (!pausedTargetKeys_.empty()) excluded.emplace(pausedTargetKeys_.begin(), pausedTargetKeys_.end());
        std::shared_ptr<TLMLogContainer> container;
        availableBatchFromStorage_ = storage_->loadLogsWithGroupId(
            config.groupId, config.batchSizeLimit, excluded,
            [&](const std::vector<std::shared_ptr<TLMAbstractLog>>& logs, const std::optional<std::string>& batchId) {
                if (!logs.empty() && batchId) container = std::make_shared<TLMLogContainer>(batchId, logs);
            });
        if (container) sendLogContainer(container);
        if (!availableBatchFromStorage_ || pendingBatchQueueFull_) return;
    }
}

void TLMChannelUnitDefault::sendLogContainer(const std::shared_ptr<TLMLogContainer>& container) {
    const std::string batchId = container->batchId.value_or("");
    pendingBatchIds_.push_back(batchId);
    if (pendingBatchIds_.size() >= configuration_->pendingBatchesLimit) pendingBatchQueueFull_ = true;
    if (TLMTellium::logLevel() < TLMLogLevelInfo) {
        const auto count = container->logs.size();
        for (std::size_t i = 0; i < count; ++i) {
            const auto& log = container->logs[i];
            TLMLogDebug(kTLMLogTag, "Sending " + std::to_string(i + 1) + "/" + std::to_string(count) +
                                        " log, group Id: " + configuration_->groupId + ", batch Id: " + batchId +
                                        ", session Id: " + log->sid.value_or("(null)") + ", payload:\n" +
                                        TLMUtility::prettyPrintJson(log->serializeLogWithPrettyPrinting(false)).value_or(""));
        }
    }
    const auto delegates = delegatesSnapshot();
    for (const auto& log : container->logs) {
        for (const auto& delegate : delegates) delegate->channelWillSendLog(*this, log);
    }
    std::weak_ptr<TLMChannelUnitDefault> weak = weak_from_this();
    ingestion_->sendAsync(container, [weak, container](std::optional<std::string> callId,
                                                       std::shared_ptr<TLMHttpResponse> response,
                                                       std::optional<std::string>, std::optional<TLMError> error) {
        // The answer comes on the client's thread (or at once); it is handled on the log queue,
        // with any others that came meanwhile.
        auto self = weak.lock();
        if (!self) return;
        bool drainQueued = false;
        {
            std::lock_guard<std::mutex> lock(self->answersMutex_);
            drainQueued = !self->answers_.empty();
            self->answers_.push_back({container, std::move(callId), std::move(response), std::move(error)});
        }
        if (!drainQueued) self->onQueue([](TLMChannelUnitDefault& unit) { unit.handleAnswers(); });
    });
}

void TLMChannelUnitDefault::handleAnswers() {
    std::vector<Answer> answers;
    {
        std::lock_guard<std::mutex> lock(answersMutex_);
        answers.swap(answers_);
    }
    if (answers.empty()) return;
    std::vector<std::string> delivered;
    for (const auto& answer : answers) handleAnswer(answer, delivered);
    if (!delivered.empty()) storage_->deleteLogsWithBatchIds(delivered, configuration_->groupId);
}

void TLMChannelUnitDefault::handleAnswer(const Answer& answer, std::vector<std::string>& delivered) {
    const auto& container = answer.container;
    const auto& response = answer.response;
    const auto& error = answer.error;
    const std::string batchId = answer.callId.value_or(container->batchId.value_or(""));
    auto pending = std::find(pendingBatchIds_.begin(), pendingBatchIds_.end(), batchId);
    if (pending == pendingBatchIds_.end()) {
        TLMLogWarning(kTLMLogTag, "Batch Id " + batchId + " not expected, ignore.");
        return;
    }
    const long statusCode = response ? response->statusCode : 0;
    const bool succeeded = response && !error && TLMHttpUtil::isSuccessStatusCode(statusCode);
    const auto delegates = delegatesSnapshot();
    if (succeeded) {
        TLMLogDebug(kTLMLogTag, "Log(s) sent with success, batch Id:" + batchId + ".");
        for (const auto& log : container->logs) {
            for (const auto& delegate : delegates) delegate->channelDidSucceedSendingLog(*this, log);
        }
    } else {
        TLMLogError(kTLMLogTag, "Log(s) sent with failure, batch Id:" + batchId + ", status code:" +
                                    std::to_string(statusCode));
        // An answer without a transport error (a final HTTP status) still tells the delegates why.
        std::optional<TLMError> failure = error;
        if (!failure && response) {
            failure = TLMError{kTLMErrorDomain, statusCode, "HTTP status code " + std::to_string(statusCode)};
        }
        for (const auto& log : container->logs) {
            for (const auto& delegate : delegates) delegate->channelDidFailSendingLog(*this, log, failure);
        }
        if (!TLMHttpUtil::isRecoverableError(statusCode)) {
            TLMLogError(kTLMLogTag, "Fatal error encountered; shutting down channel unit with group ID " +
                                        configuration_->groupId);
            // Batches delivered just before leave the store as delivered, not with the rest.
            storage_->deleteLogsWithBatchIds(delivered, configuration_->groupId);
            delivered.clear();
            setEnabledSync(false, true);
            return;
        }
    }
    pendingBatchIds_.erase(std::find(pendingBatchIds_.begin(), pendingBatchIds_.end(), batchId));
    if (pendingBatchQueueFull_ && pendingBatchIds_.size() < configuration_->pendingBatchesLimit) {
        pendingBatchQueueFull_ = false;
    }
    if (!succeeded) return;
    // The next batch goes out first and the delivered one leaves the store while it travels, in
    // this same task: its logs stay reserved until then, so no batch takes them again.
    if (availableBatchFromStorage_) flushQueue();
    delivered.push_back(batchId);
}

// ---- switches -----------------------------------------------------------------------------------

void TLMChannelUnitDefault::setEnabled(bool isEnabled, bool deleteDataOnDisabled) {
    onQueue([isEnabled, deleteDataOnDisabled](TLMChannelUnitDefault& self) {
        self.setEnabledSync(isEnabled, deleteDataOnDisabled);
    });
}

void TLMChannelUnitDefault::setEnabledSync(bool isEnabled, bool deleteDataOnDisabled) {
    if (enabled_ != isEnabled) {
        enabled_ = isEnabled;
        if (isEnabled) {
            resumeWithIdentifyingObjectSync(this);
        } else {
            pauseWithIdentifyingObjectSync(this);
        }
    }
    if (!isEnabled && deleteDataOnDisabled) {
        TLMLogDebug(kTLMLogTag, "Delete all logs for group Id " + configuration_->groupId);
        deleteAllLogsWithErrorSync(connectionPausedError());
        itemsCount_ = 0;
        availableBatchFromStorage_ = false;
        pendingBatchQueueFull_ = false;
        TLMTelliumUserDefaults::shared().removeObjectForKey(oldestPendingLogTimestampKey());
        discardLogs_ = true;
    } else {
        discardLogs_ = false;
    }
    for (const auto& delegate : delegatesSnapshot()) {
        delegate->channelDidSetEnabled(*this, isEnabled, deleteDataOnDisabled);
    }
}

void TLMChannelUnitDefault::pauseWithIdentifyingObject(TLMIdentifyingObject identifyingObject) {
    onQueue([identifyingObject](TLMChannelUnitDefault& self) { self.pauseWithIdentifyingObjectSync(identifyingObject); });
}

void TLMChannelUnitDefault::resumeWithIdentifyingObject(TLMIdentifyingObject identifyingObject) {
    onQueue([identifyingObject](TLMChannelUnitDefault& self) { self.resumeWithIdentifyingObjectSync(identifyingObject); });
}

namespace {
std::string addressText(const void* address) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", address);
    return text;
}
}  // namespace

void TLMChannelUnitDefault::pauseWithIdentifyingObjectSync(TLMIdentifyingObject identifyingObject) {
    pausedIdentifyingObjects_.insert(identifyingObject);
    TLMLogVerbose(kTLMLogTag, "Identifying object " + addressText(identifyingObject) + " added to pause lane for channel " +
                                  configuration_->groupId + ".");
    if (!paused_) {
        TLMLogDebug(kTLMLogTag, "Pause channel " + configuration_->groupId + ".");
        paused_ = true;
        resetTimer();
    }
    for (const auto& delegate : delegatesSnapshot()) delegate->channelDidPauseWithIdentifyingObject(*this, identifyingObject);
}

void TLMChannelUnitDefault::resumeWithIdentifyingObjectSync(TLMIdentifyingObject identifyingObject) {
    pausedIdentifyingObjects_.erase(identifyingObject);
    TLMLogVerbose(kTLMLogTag, "Identifying object " + addressText(identifyingObject) +
                                  " removed from pause lane for channel " + configuration_->groupId + ".");
    if (pausedIdentifyingObjects_.empty() && paused_) {
        TLMLogDebug(kTLMLogTag, "Resume channel " + configuration_->groupId + ".");
        paused_ = false;
        checkPendingLogs();
    }
    for (const auto& delegate : delegatesSnapshot()) delegate->channelDidResumeWithIdentifyingObject(*this, identifyingObject);
}

void TLMChannelUnitDefault::pauseSendingLogsWithToken(const std::string& token) {
    const auto targetKey = TLMUtility::targetKeyFromTargetToken(token);
    if (!targetKey || targetKey->empty()) return;  // no key: nothing could be held back by it
    onQueue([key = *targetKey](TLMChannelUnitDefault& self) {
        TLMLogDebug(kTLMLogTag, "Pause channel for target key " + key + ".");
        self.pausedTargetKeys_.insert(key);
    });
}

void TLMChannelUnitDefault::resumeSendingLogsWithToken(const std::string& token) {
    const auto targetKey = TLMUtility::targetKeyFromTargetToken(token);
    if (!targetKey || targetKey->empty()) return;
    onQueue([key = *targetKey](TLMChannelUnitDefault& self) {
        TLMLogDebug(kTLMLogTag, "Resume channel for target key " + key + ".");
        self.pausedTargetKeys_.erase(key);
        self.itemsCount_ = self.storage_->countLogs();
        self.checkPendingLogs();
    });
}

// ---- deleting -----------------------------------------------------------------------------------

void TLMChannelUnitDefault::deleteAllLogsWithError(const TLMError& error) {
    onQueue([error](TLMChannelUnitDefault& self) { self.deleteAllLogsWithErrorSync(error); });
}

void TLMChannelUnitDefault::deleteAllLogsWithErrorSync(const TLMError& error) {
    for (const auto& batchId : pendingBatchIds_) storage_->deleteLogsWithBatchId(batchId, configuration_->groupId);
    pendingBatchIds_.clear();
    for (const auto& log : storage_->deleteLogsWithGroupId(configuration_->groupId)) {
        notifyFailureBeforeSendingForItem(log, error);
    }
}

TLMChannelUnitDefault::State TLMChannelUnitDefault::stateSync() {
    State state{};
    auto read = [&] {
        state = State{enabled_,        paused_,     discardLogs_, pendingBatchQueueFull_, availableBatchFromStorage_,
                      timerSource_ != nullptr, itemsCount_, pendingBatchIds_.size(), pausedTargetKeys_};
    };
    if (logsDispatchQueue_->isCurrent()) {
        read();
    } else {
        logsDispatchQueue_->sync(read);
    }
    return state;
}
