#pragma once
// The shape of one channel unit: its group id, how long it waits before sending a partial batch,
// how many logs a batch holds and how many batches may be in flight at once.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class TLMChannelUnitConfiguration {
public:
    // The interval at or below which a full batch goes out at once and no start time is stored.
    static constexpr uint64_t kDefaultFlushInterval = 6;

    TLMChannelUnitConfiguration(std::string groupId, int64_t priority, uint64_t flushInterval,
                                std::size_t batchSizeLimit, std::size_t pendingBatchesLimit)
        : groupId(std::move(groupId)),
          priority(priority),
          flushInterval(flushInterval),
          batchSizeLimit(batchSizeLimit),
          pendingBatchesLimit(pendingBatchesLimit) {}

    // Priority 1, batches of 50, 3 batches in flight.
    static std::shared_ptr<const TLMChannelUnitConfiguration> initDefaultConfigurationWithGroupId(
        const std::string& groupId, uint64_t flushInterval = kDefaultFlushInterval) {
        return std::make_shared<const TLMChannelUnitConfiguration>(groupId, 1, flushInterval, 50, 3);
    }

    const std::string groupId;
    const int64_t priority;
    const uint64_t flushInterval;  // seconds
    const std::size_t batchSizeLimit;
    const std::size_t pendingBatchesLimit;
};
