#pragma once
// The log store as the channel units see it (a fake can stand in for it in their tests).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tellium/model/TLMAbstractLog.h"

using TLMLoadDataCompletionHandler =
    std::function<void(const std::vector<std::shared_ptr<TLMAbstractLog>>& logs, const std::optional<std::string>& batchId)>;

// A log to store, with its flags and, when made ahead on another thread, what the store writes
// for it (prepareText).
struct TLMStorageItem {
    TLMStorageItem(std::shared_ptr<TLMAbstractLog> log, uint32_t flags, std::optional<std::string> preparedText = std::nullopt)
        : log(std::move(log)), flags(flags), preparedText(std::move(preparedText)) {}

    std::shared_ptr<TLMAbstractLog> log;
    uint32_t flags = 0;
    std::optional<std::string> preparedText;
};

class TLMStorage {
public:
    virtual ~TLMStorage() = default;
    // Stores the log with its group id and, as its priority, the low 8 bits of the flags.
    virtual bool saveLog(const std::shared_ptr<TLMAbstractLog>& log, const std::string& groupId, uint32_t flags) = 0;
    // Stores several logs of a group (a store may write them at once); whether each was stored.
    virtual std::vector<bool> saveLogs(const std::vector<TLMStorageItem>& items, const std::string& groupId) {
        std::vector<bool> saved;
        saved.reserve(items.size());
        for (const auto& item : items) saved.push_back(saveLog(item.log, groupId, item.flags));
        return saved;
    }
    // What the store writes for the log, made on the caller's thread so that the thread that
    // saves need not; nothing when the store has nothing to make ahead. Touches no stored state.
    virtual std::optional<std::string> prepareText(const TLMAbstractLog& /*log*/) { return std::nullopt; }
    // Up to `limit` logs of the group that no batch holds and whose target key is not excluded,
    // highest priority first, then oldest first; they are reserved under a new batch id for the
    // rest of the process. The handler runs before the call returns. Answers whether more
    // logs than `limit` were waiting.
    virtual bool loadLogsWithGroupId(const std::string& groupId, std::size_t limit,
                                     const std::optional<std::vector<std::string>>& excludedTargetKeys,
                                     const TLMLoadDataCompletionHandler& completionHandler) = 0;
    virtual void deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) = 0;
    // Deletes several delivered batches of a group (a store may do so in one write).
    virtual void deleteLogsWithBatchIds(const std::vector<std::string>& batchIds, const std::string& groupId) {
        for (const auto& batchId : batchIds) deleteLogsWithBatchId(batchId, groupId);
    }
    virtual std::vector<std::shared_ptr<TLMAbstractLog>> deleteLogsWithGroupId(const std::string& groupId) = 0;
    virtual std::size_t countLogs() = 0;
    virtual void setMaxStorageSize(int64_t sizeInBytes, std::function<void(bool)> completionHandler) = 0;
};
