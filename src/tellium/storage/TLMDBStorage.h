#pragma once
// An SQLite database in one file, opened once and kept: statements are prepared once and reused,
// their parameters bound from a TLMStorageBindableArray. The file uses a write-ahead log whose
// commits are not flushed to disk (a killed process loses nothing; a power loss may lose the last
// few commits, which telemetry can afford), trimmed after each checkpoint so it stays bounded
// beside the size cap of the main file, and full auto-vacuum, so deleted rows give their pages
// back to the file system at once. A file that is not a database (or is damaged) is moved aside
// and a new database made in its place; the application never stops for it.
// Checkpoints (copying the write-ahead log back into the file and flushing it to disk) run on a
// thread and a connection of their own, started once the log holds kCheckpointPages pages, so
// whoever writes does not wait for the disk. The log starts over only once every frame is back in
// the file, which a writer that never pauses would not let the thread reach: from four times that
// size the writer copies the last frames itself whenever the thread is idle, and at eight times
// it waits for the thread's checkpoint to do so. The writer's connection hands a commit's log
// frames to the kernel in a few large writes rather than two per page (TLMWalBatchingVfs.h).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "tellium/storage/TLMStorageBindableArray.h"

struct sqlite3;
struct sqlite3_stmt;
class TLMDBCheckpointer;

class TLMDBStorage {
public:
    // `schema`: the statements that create the tables and indexes when missing.
    TLMDBStorage(std::filesystem::path file, std::string schema, int64_t maxSizeInBytes);
    virtual ~TLMDBStorage();
    TLMDBStorage(const TLMDBStorage&) = delete;
    TLMDBStorage& operator=(const TLMDBStorage&) = delete;

    // The write-ahead log's size (in pages) past which a checkpoint starts (SQLite's own default).
    // Four times as many make the writer catch up itself (eight, waiting for the thread).
    static constexpr int kCheckpointPages = 1000;

    const std::filesystem::path& file() const { return file_; }
    // How many checkpoints the checkpoint thread ran, and how many the writer had to run itself.
    struct CheckpointCounts {
        int background = 0;
        int writer = 0;
    };
    CheckpointCounts checkpointCounts();
    int64_t pageSize();
    int64_t pageCount();
    // The pages that hold data: the file's pages less those freed for reuse.
    int64_t usedPageCount();
    int64_t maxPageCount();

protected:
    using Row = std::function<bool(sqlite3_stmt*)>;  // answers false to stop stepping
    // Each answers SQLite's result code (SQLITE_DONE / SQLITE_OK on success). Caller holds mutex_.
    int executeNonSelectionQuery(const std::string& sql, const TLMStorageBindableArray& values);
    int executeSelectionQuery(const std::string& sql, const TLMStorageBindableArray& values, const Row& row);
    // Applies the size cap; answers the cap that holds now, in pages.
    int64_t applyMaxPageCount(int64_t pages);
    // The first column of the first row of a query that answers one integer; `fallback` when
    // the store is not open or the query answers nothing.
    int64_t integerOf(const char* sql, int64_t fallback = 0);
    // Rewrites the file without its free pages. Caller holds mutex_.
    bool compact();
    bool isOpen() const { return db_ != nullptr; }
    sqlite3* database() const { return db_; }
    // A damaged file seen mid-run: move it aside and start again. Answers whether it did.
    bool recoverIfDamaged(int rc);
    // Called after the database was replaced by a new, empty one.
    virtual void databaseWasReset() {}

    std::recursive_mutex mutex_;
    int64_t maxSizeInBytes_;

private:
    bool open();
    int openOnce();  // SQLite's result code
    void close();
    void moveAside();
    sqlite3_stmt* statement(const std::string& sql, int& rc);

    std::filesystem::path file_;
    std::string schema_;
    sqlite3* db_ = nullptr;
    std::unordered_map<std::string, sqlite3_stmt*> statements_;
    std::unique_ptr<TLMDBCheckpointer> checkpointer_;
};
