#include "tellium/storage/TLMDBStorage.h"

#include <sqlite3.h>

#include <ctime>

#include "tellium/TLMLogger.h"
#include "tellium/storage/TLMDBCheckpointer.h"
#include "tellium/storage/TLMWalBatchingVfs.h"

namespace {
constexpr int64_t kJournalSizeLimit = TLMDBCheckpointer::kJournalSizeLimit;

bool isDamage(int rc) {
    rc &= 0xFF;
    return rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB;
}
}  // namespace

namespace {
// SQLite counts its allocations under a process-wide lock taken for every allocation and release;
// nothing here reads the counts. Possible only before SQLite starts (later it is refused and
// nothing changes), so it is done before the first database opens.
void stopAllocationCounts() {
    static std::once_flag once;
    std::call_once(once, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
}
}  // namespace

TLMDBStorage::TLMDBStorage(std::filesystem::path file, std::string schema, int64_t maxSizeInBytes)
    : maxSizeInBytes_(maxSizeInBytes), file_(std::move(file)), schema_(std::move(schema)) {
    stopAllocationCounts();
    std::lock_guard lock(mutex_);
    open();
}

TLMDBStorage::~TLMDBStorage() {
    std::lock_guard lock(mutex_);
    close();
    checkpointer_.reset();
}

void TLMDBStorage::close() {
    if (checkpointer_) checkpointer_->suspend();
    for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
    statements_.clear();
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool TLMDBStorage::open() {
    int rc = openOnce();
    if (rc == SQLITE_OK) return true;
    if (isDamage(rc)) {
        // Not a database, or damaged: keep it for whoever wants to look and start a new one.
        moveAside();
        rc = openOnce();
        if (rc == SQLITE_OK) return true;
    }
    // Anything else (a folder that cannot be written, a file another program holds locked) leaves
    // the file alone; the store works without it and says so.
    TLMLogError(kTLMLogTag, "Failed to open database at " + file_.string() + " (" + std::to_string(rc) +
                                "); logs will not be stored.");
    return false;
}

int TLMDBStorage::openOnce() {
    close();
    std::error_code ec;
    std::filesystem::create_directories(file_.parent_path(), ec);
    int rc = sqlite3_open_v2(file_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             tlmstorage::walBatchingVfsName());
    if (rc != SQLITE_OK) {
        TLMLogError(kTLMLogTag, "Failed to open database with result code: " + std::to_string(rc));
        close();
        return rc;
    }
    sqlite3_busy_timeout(db_, 1000);
    // auto_vacuum only takes effect before the first table exists; journal_mode reads the header,
    // which is where a file that is not a database shows.
    // No auto-vacuum: the pages a delivered batch frees are taken by the next logs saved, instead
    // of every deletion moving pages about to shrink the file (the file stays within the size cap,
    // and a lower cap compacts it). Files made with auto-vacuum keep it until they are compacted.
    // A write-ahead log with synchronous=NORMAL: a commit is one append to the -wal file and no
    // flush to disk, so a process that is killed loses nothing it committed (the OS holds the
    // written pages); only a power loss may drop the last few commits, never the file's
    // consistency. The log is copied back and flushed at checkpoints; journal_size_limit trims
    // the -wal file after each one so it stays bounded beside the capped main file.
    const std::string setup =
        "PRAGMA auto_vacuum = NONE; PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; "
        "PRAGMA journal_size_limit = " + std::to_string(kJournalSizeLimit) + "; " + schema_;
    char* error = nullptr;
    rc = sqlite3_exec(db_, setup.c_str(), nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        TLMLogError(kTLMLogTag, "Failed to prepare database: " + std::string(error ? error : "") + " (" +
                                    std::to_string(rc) + ")");
        sqlite3_free(error);
        close();
        return rc;
    }
    applyMaxPageCount(std::max<int64_t>(1, maxSizeInBytes_ / std::max<int64_t>(1, pageSize())));
    // Instead of SQLite's checkpoint inside the commit that fills the log: the checkpoint thread's.
    if (!checkpointer_) checkpointer_ = std::make_unique<TLMDBCheckpointer>(file_);
    checkpointer_->watch(db_);
    return SQLITE_OK;
}

void TLMDBStorage::moveAside() {
    close();
    std::error_code ec;
    if (!std::filesystem::exists(file_, ec)) return;
    char stamp[32];
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &tm);
    auto aside = file_;
    aside += std::string(".bad-") + stamp;
    for (int n = 1; std::filesystem::exists(aside, ec); ++n) {
        aside = file_;
        aside += std::string(".bad-") + stamp + "-" + std::to_string(n);
    }
    std::filesystem::rename(file_, aside, ec);
    if (ec) std::filesystem::remove(file_, ec);
    // A journal or write-ahead log left by the old file belongs to it, never to the new one.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        auto journal = file_;
        journal += suffix;
        if (!std::filesystem::exists(journal, ec)) continue;
        auto asideJournal = aside;
        asideJournal += suffix;
        std::filesystem::rename(journal, asideJournal, ec);
        if (ec) std::filesystem::remove(journal, ec);
    }
    TLMLogError(kTLMLogTag, "The log database was damaged; it was moved to " + aside.string() + " and a new one made.");
}

bool TLMDBStorage::recoverIfDamaged(int rc) {
    if (!isDamage(rc)) return false;
    moveAside();
    open();
    databaseWasReset();
    return true;
}

sqlite3_stmt* TLMDBStorage::statement(const std::string& sql, int& rc) {
    rc = SQLITE_OK;
    // A database that could not be opened before (held locked, say) is tried again.
    if (!db_ && !open()) {
        rc = SQLITE_CANTOPEN;
        return nullptr;
    }
    if (auto it = statements_.find(sql); it != statements_.end()) return it->second;
    sqlite3_stmt* stmt = nullptr;
    rc = sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (rc != SQLITE_OK) {
        TLMLogError(kTLMLogTag, "Failed to prepare SQL statement: " + std::string(sqlite3_errmsg(db_)));
        sqlite3_finalize(stmt);
        return nullptr;
    }
    statements_.emplace(sql, stmt);
    return stmt;
}

int TLMDBStorage::executeNonSelectionQuery(const std::string& sql, const TLMStorageBindableArray& values) {
    return executeSelectionQuery(sql, values, nullptr);
}

int TLMDBStorage::executeSelectionQuery(const std::string& sql, const TLMStorageBindableArray& values, const Row& row) {
    int rc;
    sqlite3_stmt* stmt = statement(sql, rc);
    if (!stmt) return rc;
    rc = values.bindAllValuesWithStatement(stmt, db_);
    if (rc == SQLITE_OK) {
        for (;;) {
            rc = sqlite3_step(stmt);
            if (rc != SQLITE_ROW) break;
            if (row && !row(stmt)) {
                rc = SQLITE_DONE;
                break;
            }
        }
    }
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    if (rc != SQLITE_DONE && rc != SQLITE_OK && (rc & 0xFF) != SQLITE_FULL) {
        TLMLogError(kTLMLogTag, "Query failed with error: " + std::to_string(rc) + ". Message: " + sqlite3_errmsg(db_));
    }
    return rc;
}

TLMDBStorage::CheckpointCounts TLMDBStorage::checkpointCounts() {
    std::lock_guard lock(mutex_);
    if (!checkpointer_) return {};
    return {checkpointer_->checkpoints_.load(), checkpointer_->writerCheckpoints_.load()};
}

int64_t TLMDBStorage::integerOf(const char* sql, int64_t fallback) {
    std::lock_guard lock(mutex_);
    int64_t value = fallback;
    if (db_) executeSelectionQuery(sql, {}, [&](sqlite3_stmt* s) {
        value = sqlite3_column_int64(s, 0);
        return false;
    });
    return value;
}

int64_t TLMDBStorage::pageSize() { return integerOf("PRAGMA page_size", 4096); }

int64_t TLMDBStorage::pageCount() { return integerOf("PRAGMA page_count"); }

int64_t TLMDBStorage::usedPageCount() {
    return integerOf("SELECT (SELECT page_count FROM pragma_page_count) - (SELECT freelist_count FROM pragma_freelist_count)");
}

bool TLMDBStorage::compact() {
    return db_ && executeNonSelectionQuery("VACUUM", {}) == SQLITE_DONE;
}

int64_t TLMDBStorage::maxPageCount() { return integerOf("PRAGMA max_page_count"); }

int64_t TLMDBStorage::applyMaxPageCount(int64_t pages) {
    if (!db_) return 0;
    // A pragma's value cannot be a bound parameter.
    int64_t result = 0;
    const std::string sql = "PRAGMA max_page_count = " + std::to_string(pages);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
        result = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    return result;
}
