#include "tellium/storage/TLMLogDBStorage.h"

#include <sqlite3.h>

#include <algorithm>

#include "platform/defaults/Base64.h"
#include "tellium/TLMLogger.h"
#include "tellium/model/commonschema/TLMCommonSchemaLog.h"
#include "tellium/util/TLMPlatformHooks.h"
#include "tellium/util/TLMUtility.h"

namespace {

std::optional<std::string> columnText(sqlite3_stmt* s, int i) {
    if (sqlite3_column_type(s, i) == SQLITE_NULL) return std::nullopt;
    auto p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
    return std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(s, i)));
}

std::filesystem::path keyFileBeside(const std::filesystem::path& db) {
    return db.parent_path() / "TargetTokenKey";
}

// Statements run for every log or batch are kept as strings: they are looked up by their text.
const std::string kInsert =
    "INSERT INTO \"logs\" (\"groupId\", \"log\", \"targetToken\", \"targetKey\", \"priority\") VALUES (?, ?, ?, ?, ?)";
// The length of the stored text among an insert's values (the second one).
std::size_t textSize(const TLMStorageBindableArray& values) {
    if (values.array.size() < 2) return 0;
    auto text = std::dynamic_pointer_cast<TLMStorageTextType>(values.array[1]);
    return text && text->value ? text->value->size() : 0;
}

const std::string kDeleteIdRange = "DELETE FROM \"logs\" WHERE \"id\" BETWEEN ? AND ?";

// A full store makes room for this share of its cap at once (about 320 KB of 10 MB): one
// statement and one warning for every few hundred logs saved past the cap, not one for each.
constexpr int64_t kEvictionShare = 32;

}  // namespace

std::string TLMLogDBStorage::schema() {
    return "CREATE TABLE IF NOT EXISTS \"logs\" ("
           "\"id\" INTEGER PRIMARY KEY AUTOINCREMENT, "
           "\"groupId\" TEXT NOT NULL, "
           "\"log\" TEXT NOT NULL, "
           "\"targetToken\" TEXT, "
           "\"targetKey\" TEXT, "
           "\"priority\" INTEGER NOT NULL DEFAULT 0); "
           "CREATE INDEX IF NOT EXISTS \"ix_logs_groupId_priority_id\" ON \"logs\" (\"groupId\", \"priority\" DESC, \"id\" ASC); "
           // Which logs make room in a full store (the lowest priority, the oldest first): the
           // index holds the row id after the priority, so it gives that order as it stands.
           // Made in files of earlier versions too when they open; those versions keep it up
           // to date as SQLite does every index, and need nothing of it.
           "CREATE INDEX IF NOT EXISTS \"ix_logs_priority\" ON \"logs\" (\"priority\" ASC);";
}

TLMLogDBStorage::TLMLogDBStorage() : TLMLogDBStorage(TLMPlatform::telliumFolder() / "Logs.sqlite") {}

TLMLogDBStorage::TLMLogDBStorage(std::filesystem::path file, std::shared_ptr<TLMEncrypter> encrypter,
                                 int64_t maxSizeInBytes)
    : TLMDBStorage(file, schema(), maxSizeInBytes),
      encrypter_(encrypter ? std::move(encrypter) : std::make_shared<TLMEncrypter>(keyFileBeside(file))) {}

void TLMLogDBStorage::databaseWasReset() {
    remembered_.clear();
    rememberedBytes_ = 0;
    batches_.clear();
    reserved_.clear();
    cursors_.clear();
}

bool TLMLogDBStorage::isReservedLocked(int64_t id) const { return reserved_.count(id) != 0; }

void TLMLogDBStorage::rememberLocked(int64_t id, const std::shared_ptr<TLMAbstractLog>& log, std::size_t bytes) {
    // A Common Schema log comes back from its row with its first target token only: decode it.
    if (!log || dynamic_cast<const TLMCommonSchemaLog*>(log.get())) return;
    if (rememberedBytes_ + bytes > static_cast<std::size_t>(std::max<int64_t>(0, maxSizeInBytes_))) return;
    if (remembered_.emplace(id, Remembered{log, bytes}).second) rememberedBytes_ += bytes;
}

void TLMLogDBStorage::forgetLocked(int64_t id) {
    if (remembered_.empty()) return;
    auto it = remembered_.find(id);
    if (it == remembered_.end()) return;
    rememberedBytes_ -= it->second.bytes;
    remembered_.erase(it);
}

// ---- saving --------------------------------------------------------------------------------

std::optional<std::string> TLMLogDBStorage::prepareText(const TLMAbstractLog& log) {
    return defaults::base64Encode(TLMUtility::archiveKeyedData(log));
}

std::optional<TLMStorageBindableArray> TLMLogDBStorage::insertValuesFor(const TLMStorageItem& item,
                                                                       const std::string& groupId) {
    const TLMAbstractLog& log = *item.log;
    const uint32_t flags = item.flags;
    std::string text = item.preparedText ? *item.preparedText : *prepareText(log);
    std::optional<std::string> token;
    std::optional<std::string> targetKey;
    if (dynamic_cast<const TLMCommonSchemaLog*>(&log)) {
        if (auto tokens = log.transmissionTargetTokens(); tokens && !tokens->empty()) {
            const std::string& first = *tokens->begin();
            targetKey = TLMUtility::targetKeyFromTargetToken(first);
            token = encrypter_->encryptString(first);
            if (!token) {
                TLMLogError(kTLMLogTag, "Failed to encrypt the target token; the log is not stored.");
                return std::nullopt;
            }
        }
    }
    TLMStorageBindableArray values;
    values.array.reserve(5);
    values.addString(groupId);
    values.addString(std::move(text));
    values.addString(token);
    values.addString(targetKey);
    values.addNumber(static_cast<int64_t>(flags & 0xFFu));
    return values;
}

void TLMLogDBStorage::logSavedLocked(const std::string& groupId, uint32_t flags) {
    // A log that sorts before the group's cursor is not held by any batch: start over.
    if (auto it = cursors_.find(groupId); it != cursors_.end() && static_cast<int64_t>(flags & 0xFFu) > it->second.priority)
        cursors_.erase(it);
}

bool TLMLogDBStorage::saveLog(const std::shared_ptr<TLMAbstractLog>& log, const std::string& groupId, uint32_t flags) {
    return saveItem({log, flags, std::nullopt}, groupId);
}

bool TLMLogDBStorage::saveItem(const TLMStorageItem& item, const std::string& groupId) {
    const auto& log = item.log;
    const uint32_t flags = item.flags;
    if (!log) return false;
    const auto values = insertValuesFor(item, groupId);
    if (!values) return false;

    std::lock_guard lock(mutex_);
    for (int attempt = 0;; ++attempt) {
        int rc = executeNonSelectionQuery(kInsert, *values);
        if (rc == SQLITE_DONE) {
            rememberLocked(sqlite3_last_insert_rowid(database()), log, textSize(*values));
            logSavedLocked(groupId, flags);
            return true;
        }
        if (recoverIfDamaged(rc) && attempt == 0) continue;
        if ((rc & 0xFF) != SQLITE_FULL) {
            TLMLogError(kTLMLogTag, "Failed to save log of type " + log->type.value_or("(null)") + ", result code " +
                                        std::to_string(rc));
            return false;
        }
        // Full: make room with the oldest logs of the lowest priority that no batch holds, a
        // share of the cap at a time, so that the next saves find free pages.
        if (!evictLocked(std::max<int64_t>(1, maxSizeInBytes_ / kEvictionShare))) {
            TLMLogError(kTLMLogTag, "The log database is full and holds nothing that can make room; the log is not stored.");
            return false;
        }
    }
}

std::vector<bool> TLMLogDBStorage::saveLogs(const std::vector<TLMStorageItem>& items, const std::string& groupId) {
    if (items.size() <= 1) {
        std::vector<bool> saved;
        for (const auto& item : items) saved.push_back(saveItem(item, groupId));
        return saved;
    }
    std::vector<std::optional<TLMStorageBindableArray>> values;
    values.reserve(items.size());
    for (const auto& item : items) {
        values.push_back(item.log ? insertValuesFor(item, groupId) : std::nullopt);
    }
    std::vector<bool> saved(items.size(), false);
    std::vector<int64_t> rowIds(items.size(), 0);
    std::lock_guard lock(mutex_);
    if (executeNonSelectionQuery("BEGIN", {}) == SQLITE_DONE) {
        bool failed = false;
        for (std::size_t i = 0; i < items.size() && !failed; ++i) {
            if (!values[i]) continue;
            failed = executeNonSelectionQuery(kInsert, *values[i]) != SQLITE_DONE;
            saved[i] = !failed;
            if (saved[i]) rowIds[i] = sqlite3_last_insert_rowid(database());
        }
        if (!failed && executeNonSelectionQuery("COMMIT", {}) == SQLITE_DONE) {
            for (std::size_t i = 0; i < items.size(); ++i) {
                if (!saved[i]) continue;
                rememberLocked(rowIds[i], items[i].log, textSize(*values[i]));
                logSavedLocked(groupId, items[i].flags);
            }
            return saved;
        }
        executeNonSelectionQuery("ROLLBACK", {});
    }
    // Something failed (a full store, a damaged file): none of them is stored yet; one at a time,
    // each making room as needed.
    for (std::size_t i = 0; i < items.size(); ++i) saved[i] = saveItem(items[i], groupId);
    return saved;
}

bool TLMLogDBStorage::evictLocked(int64_t bytes) {
    std::vector<int64_t> victims;
    int64_t freed = 0;
    executeSelectionQuery(
        "SELECT \"id\", length(\"log\") FROM \"logs\" ORDER BY \"priority\" ASC, \"id\" ASC", {}, [&](sqlite3_stmt* s) {
            const int64_t id = sqlite3_column_int64(s, 0);
            if (isReservedLocked(id)) return true;
            victims.push_back(id);
            freed += sqlite3_column_int64(s, 1);
            return freed < bytes;
        });
    if (victims.empty() || !deleteIdsLocked(victims)) return false;
    const auto [first, last] = std::minmax_element(victims.begin(), victims.end());
    TLMLogWarning(kTLMLogTag, victims.size() == 1
                                  ? "The log database is full; deleted the oldest log of the lowest priority (Id " +
                                        std::to_string(*first) + ")."
                                  : "The log database is full; deleted the " + std::to_string(victims.size()) +
                                        " oldest logs of the lowest priority (Ids " + std::to_string(*first) + " to " +
                                        std::to_string(*last) + ").");
    return true;
}

// ---- loading -------------------------------------------------------------------------------

std::shared_ptr<TLMAbstractLog> TLMLogDBStorage::decodeRowLocked(int64_t id, const std::string& text,
                                                                 const std::optional<std::string>& token) {
    std::shared_ptr<TLMAbstractLog> log;
    if (auto bytes = defaults::base64Decode(text)) log = TLMUtility::unarchiveKeyedDataOfClass<TLMAbstractLog>(*bytes);
    if (!log) {
        TLMLogError(kTLMLogTag, "Deserialization failed for log with Id " + std::to_string(id));
        return nullptr;
    }
    if (token) {
        auto plain = encrypter_->decryptString(*token);
        if (!plain) {
            TLMLogError(kTLMLogTag, "Failed to decrypt the target token for log with Id " + std::to_string(id) + ".");
            return nullptr;
        }
        if (plain->empty()) {
            TLMLogError(kTLMLogTag, "Unexpected empty target token for log with Id " + std::to_string(id) + ".");
            return nullptr;
        }
        log->addTransmissionTargetToken(*plain);
    }
    return log;
}

std::shared_ptr<TLMAbstractLog> TLMLogDBStorage::readRowLocked(int64_t id) {
    std::shared_ptr<TLMAbstractLog> log;
    bool found = false;
    TLMStorageBindableArray values;
    values.addNumber(id);
    executeSelectionQuery("SELECT \"log\", \"targetToken\" FROM \"logs\" WHERE \"id\" = ?", values, [&](sqlite3_stmt* s) {
        found = true;
        log = decodeRowLocked(id, columnText(s, 0).value_or(""), columnText(s, 1));
        return false;
    });
    if (!found) TLMLogError(kTLMLogTag, "Deserialization failed for log with Id " + std::to_string(id));
    return log;
}

bool TLMLogDBStorage::loadLogsWithGroupId(const std::string& groupId, std::size_t limit,
                                          const std::optional<std::vector<std::string>>& excludedTargetKeys,
                                          const TLMLoadDataCompletionHandler& completionHandler) {
    std::vector<std::shared_ptr<TLMAbstractLog>> logs;
    std::optional<std::string> batchId;
    bool more = false;
    {
        std::lock_guard lock(mutex_);
        // The index holds all this needs (group, priority, id): the rows themselves are read only
        // for logs this process does not hold already.
        std::string sql = "SELECT \"id\", \"priority\" FROM \"logs\" WHERE \"groupId\" = ?";
        TLMStorageBindableArray values;
        values.addString(groupId);
        const bool excluding = excludedTargetKeys && !excludedTargetKeys->empty();
        if (auto cursor = cursors_.find(groupId); cursor != cursors_.end() && !excluding) {
            sql += " AND (\"priority\" < ? OR (\"priority\" = ? AND \"id\" > ?))";
            values.addNumber(cursor->second.priority);
            values.addNumber(cursor->second.priority);
            values.addNumber(cursor->second.id);
        }
        if (excluding) {
            sql += " AND (\"targetKey\" IS NULL OR \"targetKey\" NOT IN (";
            for (std::size_t i = 0; i < excludedTargetKeys->size(); ++i) {
                sql += i ? ", ?" : "?";
                values.addString((*excludedTargetKeys)[i]);
            }
            sql += "))";
        }
        sql += " ORDER BY \"priority\" DESC, \"id\" ASC";

        std::vector<int64_t> ids;
        std::vector<int64_t> unreadable;
        std::optional<Cursor> last;
        int rc = executeSelectionQuery(sql, values, [&](sqlite3_stmt* s) {
            int64_t id = sqlite3_column_int64(s, 0);
            if (isReservedLocked(id)) return true;
            if (logs.size() >= limit) {
                more = true;
                return false;
            }
            // A log saved by this process is handed back as it is; its text is not even read.
            std::shared_ptr<TLMAbstractLog> log;
            if (auto known = remembered_.find(id); known != remembered_.end()) log = known->second.log;
            else log = readRowLocked(id);
            if (!log) {
                unreadable.push_back(id);
                return true;
            }
            ids.push_back(id);
            logs.push_back(std::move(log));
            last = Cursor{sqlite3_column_int64(s, 1), id};
            return true;
        });
        if (recoverIfDamaged(rc)) {
            logs.clear();
            ids.clear();
            unreadable.clear();
            last.reset();
            more = false;
        }
        // A row that cannot be read back would otherwise head every later batch of its group.
        if (!unreadable.empty()) deleteIdsLocked(unreadable);
        // Rows left out for their target key are held by no batch: no cursor can pass them.
        if (excluding) cursors_.erase(groupId);
        else if (last) cursors_[groupId] = *last;
        if (!logs.empty()) {
            batchId = TLMUtility::uuidString();
            for (auto id : ids) reserved_.insert(id);
            batches_[{groupId, *batchId}] = std::move(ids);
        }
    }
    if (completionHandler) completionHandler(logs, batchId);
    return more;
}

// ---- deleting ------------------------------------------------------------------------------

int TLMLogDBStorage::deleteRunsLocked(const std::vector<int64_t>& ids) {
    // A batch is mostly one run of consecutive ids: one statement per run. Every id of a run is
    // in the list, so no other row can be in its range.
    std::vector<int64_t> sorted = ids;
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::pair<int64_t, int64_t>> runs;
    for (auto id : sorted) {
        if (!runs.empty() && (id == runs.back().second || id == runs.back().second + 1)) runs.back().second = id;
        else runs.emplace_back(id, id);
    }
    for (const auto& [first, last] : runs) {
        TLMStorageBindableArray values;
        values.addNumber(first);
        values.addNumber(last);
        const int rc = executeNonSelectionQuery(kDeleteIdRange, values);
        if (rc != SQLITE_DONE) return rc;
    }
    return SQLITE_DONE;
}

bool TLMLogDBStorage::deleteIdsLocked(const std::vector<int64_t>& ids) {
    for (auto id : ids) forgetLocked(id);
    if (ids.empty()) return true;
    int rc = executeNonSelectionQuery("BEGIN", {});
    if (rc == SQLITE_DONE) rc = deleteRunsLocked(ids);
    if (rc == SQLITE_DONE) rc = executeNonSelectionQuery("COMMIT", {});
    if (rc != SQLITE_DONE) executeNonSelectionQuery("ROLLBACK", {});
    return rc == SQLITE_DONE;
}

void TLMLogDBStorage::deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) {
    deleteLogsWithBatchIds({batchId}, groupId);
}

void TLMLogDBStorage::deleteLogsWithBatchIds(const std::vector<std::string>& batchIds, const std::string& groupId) {
    std::lock_guard lock(mutex_);
    std::vector<int64_t> ids;
    std::vector<std::string> deleted;
    for (const auto& batchId : batchIds) {
        auto it = batches_.find({groupId, batchId});
        if (it == batches_.end()) continue;
        ids.insert(ids.end(), it->second.begin(), it->second.end());
        deleted.push_back(batchId);
    }
    if (deleted.empty()) return;
    // Deleted at once, in one write: a delivered log is never sent again by a later process.
    deleteIdsLocked(ids);
    for (auto id : ids) reserved_.erase(id);
    for (const auto& batchId : deleted) {
        batches_.erase({groupId, batchId});
        TLMLogVerbose(kTLMLogTag, "Deleted logs of batch " + batchId + " of group " + groupId + ".");
    }
}

std::vector<std::shared_ptr<TLMAbstractLog>> TLMLogDBStorage::deleteLogsWithGroupId(const std::string& groupId) {
    std::vector<std::shared_ptr<TLMAbstractLog>> logs;
    std::lock_guard lock(mutex_);
    TLMStorageBindableArray values;
    values.addString(groupId);
    std::vector<int64_t> ids;
    executeSelectionQuery("SELECT \"id\", \"log\", \"targetToken\" FROM \"logs\" WHERE \"groupId\" = ? ORDER BY \"id\" ASC",
                          values, [&](sqlite3_stmt* s) {
                              const int64_t id = sqlite3_column_int64(s, 0);
                              ids.push_back(id);
                              std::shared_ptr<TLMAbstractLog> log;
                              if (auto known = remembered_.find(id); known != remembered_.end()) log = known->second.log;
                              else log = decodeRowLocked(id, columnText(s, 1).value_or(""), columnText(s, 2));
                              if (log) logs.push_back(std::move(log));
                              return true;
                          });
    executeNonSelectionQuery("DELETE FROM \"logs\" WHERE \"groupId\" = ?", values);
    for (auto id : ids) forgetLocked(id);
    cursors_.erase(groupId);
    for (auto it = batches_.begin(); it != batches_.end();) {
        if (it->first.first == groupId) {
            for (auto id : it->second) reserved_.erase(id);
            it = batches_.erase(it);
        } else {
            ++it;
        }
    }
    return logs;
}

std::size_t TLMLogDBStorage::countLogs() {
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    int rc = executeSelectionQuery("SELECT COUNT(*) FROM \"logs\"", {}, [&](sqlite3_stmt* s) {
        count = static_cast<std::size_t>(sqlite3_column_int64(s, 0));
        return false;
    });
    recoverIfDamaged(rc);
    return count;
}

// ---- size cap ------------------------------------------------------------------------------

void TLMLogDBStorage::setMaxStorageSize(int64_t sizeInBytes, std::function<void(bool)> completionHandler) {
    bool ok = false;
    if (sizeInBytes < kTLMMinimumDatabaseSizeInBytes) {
        TLMLogWarning(kTLMLogTag, "Cannot set storage size to " + std::to_string(sizeInBytes) +
                                      " bytes, minimum value is " + std::to_string(kTLMMinimumDatabaseSizeInBytes) + " bytes");
    } else {
        std::lock_guard lock(mutex_);
        if (isOpen()) {
            const int64_t pageBytes = std::max<int64_t>(1, pageSize());
            const int64_t pages = sizeInBytes / pageBytes;
            // Freed pages stay in the file for the next logs: the oldest logs go until the rest
            // fit, then the file is rewritten without the free pages, so that the cap can hold.
            for (;;) {
                while (usedPageCount() > pages && evictLocked(1)) {
                }
                if (pageCount() > pages) compact();
                if (pageCount() <= pages || !evictLocked(1)) break;
            }
            const int64_t applied = applyMaxPageCount(pages);
            ok = applied == pages;
            if (ok) maxSizeInBytes_ = sizeInBytes;
            else
                TLMLogError(kTLMLogTag, "Could not set the log database's size limit to " + std::to_string(sizeInBytes) +
                                            " bytes; it holds " + std::to_string(pageCount() * pageBytes) + " bytes.");
        }
    }
    if (completionHandler) completionHandler(ok);
}
