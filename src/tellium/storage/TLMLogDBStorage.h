#pragma once
// The durable store of telemetry logs: <data>/Tellium/Logs.sqlite, table "logs" (id, groupId,
// log, targetToken, targetKey, priority). A log is kept as the Base64 text of its keyed archive;
// a Common Schema log also keeps its first target token, encrypted, and that token's target key.
// Batches are reserved in memory for the rest of the process. When the size cap is reached the
// oldest logs of the lowest priority that no batch holds make room, a share of the cap at a time
// (found through an index of their own, one warning per share); a row that cannot be read
// back is deleted rather than left to block every later batch. Logs saved by this process (other
// than Common Schema ones, whose stored token is only their first) are also kept in memory until
// their row is deleted, up to the size cap's worth of archives, so loading them for a batch does
// not decode what was just encoded; the object handed back is then the one that was saved.
// The rows of a delivered batch are deleted as soon as the collector took them, one statement
// per run of consecutive ids, in one transaction.
// Safe to use from any thread.
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "tellium/storage/TLMDBStorage.h"
#include "tellium/storage/TLMStorage.h"
#include "tellium/util/TLMEncrypter.h"

inline constexpr int64_t kTLMDefaultDatabaseSizeInBytes = 10 * 1024 * 1024;
inline constexpr int64_t kTLMMinimumDatabaseSizeInBytes = 24 * 1024;

class TLMLogDBStorage final : public TLMStorage, public TLMDBStorage {
public:
    // The store in the SDK's folder (Logs.sqlite), its target-token key file beside it.
    TLMLogDBStorage();
    // A store at that file (tests, benchmarks); `encrypter` defaults to a key file beside it.
    explicit TLMLogDBStorage(std::filesystem::path file, std::shared_ptr<TLMEncrypter> encrypter = nullptr,
                             int64_t maxSizeInBytes = kTLMDefaultDatabaseSizeInBytes);

    bool saveLog(const std::shared_ptr<TLMAbstractLog>& log, const std::string& groupId, uint32_t flags) override;
    // All in one transaction (one write to disk); when that fails, one by one as saveLog does.
    std::vector<bool> saveLogs(const std::vector<TLMStorageItem>& items, const std::string& groupId) override;
    // The Base64 text of the log's keyed archive; a log that carries a target token also stores
    // its encrypted token, which is left to the save.
    std::optional<std::string> prepareText(const TLMAbstractLog& log) override;
    bool loadLogsWithGroupId(const std::string& groupId, std::size_t limit,
                             const std::optional<std::vector<std::string>>& excludedTargetKeys,
                             const TLMLoadDataCompletionHandler& completionHandler) override;
    void deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) override;
    void deleteLogsWithBatchIds(const std::vector<std::string>& batchIds, const std::string& groupId) override;
    std::vector<std::shared_ptr<TLMAbstractLog>> deleteLogsWithGroupId(const std::string& groupId) override;
    std::size_t countLogs() override;
    // Sizes below 24 KiB are refused. Lowering the cap below what the file holds makes room
    // the same way a full store does.
    void setMaxStorageSize(int64_t sizeInBytes, std::function<void(bool)> completionHandler) override;

    static std::string schema();

protected:
    void databaseWasReset() override;

private:
    using BatchKey = std::pair<std::string, std::string>;  // group id, batch id
    std::optional<TLMStorageBindableArray> insertValuesFor(const TLMStorageItem& item, const std::string& groupId);
    bool saveItem(const TLMStorageItem& item, const std::string& groupId);
    void logSavedLocked(const std::string& groupId, uint32_t flags);
    // Deletes the oldest logs of the lowest priority that no batch holds until their stored text
    // adds up to `bytes` (one log at least), in one transaction, and says so once. False when
    // nothing could be deleted.
    bool evictLocked(int64_t bytes);
    bool isReservedLocked(int64_t id) const;
    // Deletes the rows in a transaction of its own; false when it failed.
    bool deleteIdsLocked(const std::vector<int64_t>& ids);
    // The DELETE statements alone, inside the caller's transaction: SQLite's result code.
    int deleteRunsLocked(const std::vector<int64_t>& ids);
    std::shared_ptr<TLMAbstractLog> decodeRowLocked(int64_t id, const std::string& text,
                                                    const std::optional<std::string>& token);
    // Reads and decodes one stored row (nothing, said in the log, when it cannot be read back).
    std::shared_ptr<TLMAbstractLog> readRowLocked(int64_t id);

    // Logs saved by this process, by row id, with the size of their stored text.
    void rememberLocked(int64_t id, const std::shared_ptr<TLMAbstractLog>& log, std::size_t bytes);
    void forgetLocked(int64_t id);
    struct Remembered {
        std::shared_ptr<TLMAbstractLog> log;
        std::size_t bytes;
    };
    std::unordered_map<int64_t, Remembered> remembered_;
    std::size_t rememberedBytes_ = 0;

    std::shared_ptr<TLMEncrypter> encrypter_;
    std::map<BatchKey, std::vector<int64_t>> batches_;
    std::unordered_set<int64_t> reserved_;
    // Per group, the last row a batch took, when every row of the group ordered before it is
    // held by a batch: the next batch starts after it instead of stepping over the held rows.
    struct Cursor {
        int64_t priority;
        int64_t id;
    };
    std::map<std::string, Cursor> cursors_;
};
