#pragma once
// The checkpoint thread of a database in write-ahead log mode: woken by the writer's commits once
// the log is long enough, it runs a passive checkpoint (one that never blocks the writer) on its
// own connection. suspend() closes that connection, waiting for a checkpoint under way, before the
// file is closed or moved aside; the next request opens it again. TLMDBStorage runs one for its
// file; a benchmark's plain SQLite baseline runs the same for its own.
#include <sqlite3.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "tellium/storage/TLMDBStorage.h"

class TLMDBCheckpointer {
public:
    // What the -wal file is cut back to after a checkpoint.
    static constexpr int64_t kJournalSizeLimit = 1024 * 1024;

    explicit TLMDBCheckpointer(std::filesystem::path file) : file_(std::move(file)), thread_([this] { run(); }) {}

    ~TLMDBCheckpointer() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
        suspend();
    }

    std::atomic<int> checkpoints_{0};        // checkpoints of the thread that copied frames back
    std::atomic<int> writerCheckpoints_{0};  // checkpoints the writer had to run itself

    // Takes over the checkpoints of the writer's connection (SQLite's own, inside the commit that
    // fills the log, no longer run): a commit that leaves the log at
    // TLMDBStorage::kCheckpointPages pages or more wakes the thread; from four and eight times
    // that the writer catches up (catchUp).
    void watch(sqlite3* writer) {
        sqlite3_wal_hook(
            writer,
            [](void* self, sqlite3* db, const char* name, int pages) {
                constexpr int kPages = TLMDBStorage::kCheckpointPages;
                if (pages >= kPages) static_cast<TLMDBCheckpointer*>(self)->request();
                if (pages >= kPages * 4) static_cast<TLMDBCheckpointer*>(self)->catchUp(db, name, pages >= kPages * 8);
                return SQLITE_OK;
            },
            this);
    }

    void request() {
        {
            std::lock_guard lock(mutex_);
            requested_ = true;
        }
        wake_.notify_one();
    }

    // A writer that never pauses leaves the thread a few frames behind for good, and the log only
    // starts over once every frame is back: past the soft limit, the writer copies that tail
    // itself when the thread is between checkpoints (it has copied the rest), and goes on while
    // the thread is at work; past the hard limit it waits for the thread's checkpoint first.
    void catchUp(sqlite3* writer, const char* name, bool wait) {
        std::unique_lock lock(dbMutex_, std::defer_lock);
        if (wait) lock.lock();
        else if (!lock.try_lock()) return;
        if (sqlite3_wal_checkpoint_v2(writer, name, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr) == SQLITE_OK)
            ++writerCheckpoints_;
    }

    void suspend() {
        std::lock_guard lock(dbMutex_);
        if (db_) sqlite3_close_v2(db_);
        db_ = nullptr;
    }

private:
    void run() {
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return requested_ || stop_; });
                if (stop_) return;
                requested_ = false;
            }
            std::lock_guard lock(dbMutex_);
            if (!db_ && sqlite3_open_v2(file_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
                sqlite3_close_v2(db_);
                db_ = nullptr;
                continue;
            }
            sqlite3_busy_timeout(db_, 1000);
            // A connection that has read nothing yet does not know the file uses a write-ahead
            // log, and its checkpoint does nothing at all: one read of the header opens the log.
            sqlite3_exec(db_,
                         ("PRAGMA journal_size_limit = " + std::to_string(kJournalSizeLimit) +
                          "; PRAGMA schema_version;").c_str(),
                         nullptr, nullptr, nullptr);
            // Never stops the writer; once it has caught up, the writer's next commit starts the log over.
            int logFrames = 0;
            int copiedFrames = 0;
            if (sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, &logFrames, &copiedFrames) == SQLITE_OK &&
                copiedFrames > 0)
                ++checkpoints_;
        }
    }

    const std::filesystem::path file_;
    std::mutex mutex_;  // requested_, stop_
    std::condition_variable wake_;
    bool requested_ = false;
    bool stop_ = false;
    std::mutex dbMutex_;  // db_, held through a checkpoint
    sqlite3* db_ = nullptr;
    std::thread thread_;
};
