#pragma once
// The log pipeline of one group id. A log enqueued here is stamped, validated and shown to the
// delegates on the caller's thread; the rest happens on the group's serial log queue: the delegates
// may keep it out, else it is stored, counted, and sent in batches through the ingestion endpoint
// when a batch is full or the flush timer fires. At most `pendingBatchesLimit` batches are in
// flight. A success deletes the batch's logs; a recoverable failure leaves them stored (reserved
// for this process, so a later launch sends them); any other failure shuts the unit down and
// deletes the group's logs.
//
// For a flush interval above the default the deadline of the first waiting log is kept in the
// settings ("ChannelStartTimer:<groupId>"), so a relaunch does not push it back.
//
// All state lives on the log queue; the delegate set has its own lock, held only to change it or
// take a snapshot. Timers and queued work hold the unit weakly.
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tellium/channel/TLMChannelUnitProtocol.h"
#include "tellium/ingestion/TLMHttpIngestion.h"
#include "tellium/storage/TLMStorage.h"
#include "tellium/util/TLMClock.h"

// The error of logs dropped without being sent.
inline constexpr const char* kTLMChannelErrorDomain = "org.dravix.tellium.ChannelErrorDomain";
inline constexpr long kTLMConnectionPausedErrorCode = 100;
inline constexpr const char* kTLMConnectionPausedErrorDesc = "Canceled, connection paused with log deletion.";

class TLMChannelUnitDefault final : public TLMChannelUnitProtocol,
                                    public std::enable_shared_from_this<TLMChannelUnitDefault> {
public:
    // The queue is the group's; the unit keeps it alive as long as it lives.
    static std::shared_ptr<TLMChannelUnitDefault> initWithIngestion(
        std::shared_ptr<TLMIngestionProtocol> ingestion, std::shared_ptr<TLMStorage> storage,
        std::shared_ptr<const TLMChannelUnitConfiguration> configuration,
        std::shared_ptr<dispatch::Queue> logsDispatchQueue);
    ~TLMChannelUnitDefault() override;

    // TLMEnable / TLMChannelProtocol
    void setEnabled(bool isEnabled, bool deleteDataOnDisabled) override;
    // Takes effect at once (under the set's lock), so a log enqueued right after is seen.
    void addDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) override;
    void removeDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) override;
    void pauseWithIdentifyingObject(TLMIdentifyingObject identifyingObject) override;
    void resumeWithIdentifyingObject(TLMIdentifyingObject identifyingObject) override;

    // TLMChannelUnitProtocol
    void enqueueItem(const std::shared_ptr<TLMAbstractLog>& item, uint32_t flags) override;
    void pauseSendingLogsWithToken(const std::string& token) override;
    void resumeSendingLogsWithToken(const std::string& token) override;
    void checkPendingLogs() override;
    std::shared_ptr<const TLMChannelUnitConfiguration> configuration() const override { return configuration_; }
    dispatch::Queue& logsDispatchQueue() override { return *logsDispatchQueue_; }

    std::shared_ptr<TLMIngestionProtocol> ingestion() const { return ingestion_; }
    std::shared_ptr<TLMStorage> storage() const { return storage_; }

    // Queued on the log queue / its body, run there.
    void deleteAllLogsWithError(const TLMError& error);
    void deleteAllLogsWithErrorSync(const TLMError& error);
    void pauseWithIdentifyingObjectSync(TLMIdentifyingObject identifyingObject);
    void resumeWithIdentifyingObjectSync(TLMIdentifyingObject identifyingObject);

    // The settings key of the first waiting log's time: "ChannelStartTimer:<groupId>".
    std::string oldestPendingLogTimestampKey() const;
    static TLMError connectionPausedError();

    // A snapshot of the state, read on the log queue (for tests and diagnostics).
    struct State {
        bool enabled;
        bool paused;
        bool discardLogs;
        bool pendingBatchQueueFull;
        bool availableBatchFromStorage;
        bool timerRunning;
        std::size_t itemsCount;
        std::size_t pendingBatches;
        std::set<std::string> pausedTargetKeys;
    };
    State stateSync();

    // The most logs stored in one write. 128 keeps a write short (an answer that comes meanwhile
    // waits for it) while a long run of logs still takes few writes.
    static constexpr std::size_t kIncomingBurst = 128;

private:
    TLMChannelUnitDefault(std::shared_ptr<TLMIngestionProtocol> ingestion, std::shared_ptr<TLMStorage> storage,
                          std::shared_ptr<const TLMChannelUnitConfiguration> configuration,
                          std::shared_ptr<dispatch::Queue> logsDispatchQueue);

    // On the log queue.
    // Takes the logs enqueued so far, up to kIncomingBurst of them: filters, checks and stores them
    // (in one write), then counts them and checks whether to send. Answers that came meanwhile are
    // handled first, and more logs waiting are taken by a task of their own, so a long burst of
    // logs never holds up the batches in flight.
    void enqueueIncoming();
    void setEnabledSync(bool isEnabled, bool deleteDataOnDisabled);
    void flushQueue();
    void startTimer(uint64_t seconds);
    void resetTimer();
    uint64_t resolveFlushInterval();
    void sendLogContainer(const std::shared_ptr<TLMLogContainer>& container);
    struct Answer {
        std::shared_ptr<TLMLogContainer> container;
        std::optional<std::string> callId;
        std::shared_ptr<TLMHttpResponse> response;
        std::optional<TLMError> error;
    };
    // Takes every answer that has come so far: for each, the next batch goes out first; the
    // delivered batches then leave the store together, in one write, while those travel.
    void handleAnswers();
    // One answer; a delivered batch is added to `delivered` for the caller to delete. Anything that
    // may delete logs itself deletes `delivered` first.
    void handleAnswer(const Answer& answer, std::vector<std::string>& delivered);
    void notifyFailureBeforeSendingForItem(const std::shared_ptr<TLMAbstractLog>& item, const TLMError& error);

    std::vector<std::shared_ptr<TLMChannelDelegate>> delegatesSnapshot();
    // Runs the work on the log queue with the unit, if it still lives then.
    void onQueue(std::function<void(TLMChannelUnitDefault&)> work);

    // Log-queue state.
    bool availableBatchFromStorage_ = false;
    bool pendingBatchQueueFull_ = false;
    bool enabled_ = true;
    bool paused_ = false;
    bool discardLogs_ = false;
    const std::shared_ptr<const TLMChannelUnitConfiguration> configuration_;
    const std::shared_ptr<dispatch::Queue> logsDispatchQueue_;
    const std::shared_ptr<TLMIngestionProtocol> ingestion_;
    const std::shared_ptr<TLMStorage> storage_;
    std::shared_ptr<TLMTimer> timerSource_;
    std::size_t itemsCount_ = 0;
    std::vector<std::string> pendingBatchIds_;
    std::set<TLMIdentifyingObject> pausedIdentifyingObjects_;
    std::set<std::string> pausedTargetKeys_;

    struct Incoming {
        std::shared_ptr<TLMAbstractLog> log;
        std::string internalId;
        uint32_t flags;
        std::optional<std::string> storedText;  // made ahead by the store
    };
    std::mutex incomingMutex_;  // incoming_: filled on the callers' threads, taken on the log queue
    std::deque<Incoming> incoming_;
    std::mutex answersMutex_;  // answers_: filled on the HTTP client's threads, taken on the log queue
    std::vector<Answer> answers_;

    std::mutex delegatesMutex_;
    std::vector<std::weak_ptr<TLMChannelDelegate>> delegates_;
};
