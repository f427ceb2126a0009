// The SQLite log store: saving, batches, deletion, counts, the size cap, priorities, reopening,
// damaged files, unreadable rows, encrypted target tokens and saves from several threads; and
// the bindable values its statements use.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <thread>

#include "StoredLogs.h"
#include "TelliumTestSupport.h"
#include "platform/defaults/Base64.h"
#include "tellium/model/commonschema/TLMCommonSchemaLog.h"
#include "tellium/storage/TLMLogDBStorage.h"
#include "tellium/util/TLMPlatformHooks.h"
#include "tellium/util/TLMUtility.h"

using namespace telltest;

namespace {

class StorageTest : public TelliumTest {
protected:
    std::filesystem::path dbPath() const { return home_->data() / "DravixFTPClient" / "Tellium" / "Logs.sqlite"; }

    static std::shared_ptr<TLMLogWithProperties> makeLog(const std::string& name, std::size_t padding = 0) {
        auto log = std::make_shared<TLMLogWithProperties>();
        log->type = "custom";
        log->timestamp = utc(2024, 1, 1, 0, 0);
        log->device = sampleDevice();
        log->properties = std::map<std::string, std::string>{{"name", name}, {"pad", std::string(padding, 'p')}};
        return log;
    }
    static std::string nameOf(const std::shared_ptr<TLMAbstractLog>& log) {
        auto p = std::dynamic_pointer_cast<TLMLogWithProperties>(log);
        return p && p->properties ? p->properties->at("name") : std::string("?");
    }
    struct Batch {
        std::vector<std::string> names;
        std::vector<std::shared_ptr<TLMAbstractLog>> logs;
        std::optional<std::string> batchId;
        bool more = false;
    };
    static Batch load(TLMStorage& storage, const std::string& group, std::size_t limit,
                      std::optional<std::vector<std::string>> excluded = std::nullopt) {
        Batch b;
        bool called = false;
        b.more = storage.loadLogsWithGroupId(group, limit, excluded, [&](const auto& logs, const auto& id) {
            called = true;
            b.logs = logs;
            b.batchId = id;
            for (const auto& l : logs) b.names.push_back(nameOf(l));
        });
        EXPECT_TRUE(called);  // before the call returned
        return b;
    }
    // Runs raw SQL on the store's file (as another program would).
    void sql(const std::string& text) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(dbPath().c_str(), &db), SQLITE_OK);
        char* error = nullptr;
        EXPECT_EQ(sqlite3_exec(db, text.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
        sqlite3_free(error);
        sqlite3_close(db);
    }
};

TEST_F(StorageTest, LivesInTheDataFolderWithItsTableIndexAndJournalSettings) {
    TLMLogDBStorage storage;
    EXPECT_EQ(storage.file(), dbPath());
    EXPECT_TRUE(storage.saveLog(makeLog("a"), "Analytics", 1));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath().c_str(), &db), SQLITE_OK);
    auto scalar = [&](const char* q) {
        sqlite3_stmt* s = nullptr;
        std::string out;
        if (sqlite3_prepare_v2(db, q, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
            out = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        sqlite3_finalize(s);
        return out;
    };
    EXPECT_EQ(scalar("PRAGMA auto_vacuum"), "0");  // none: freed pages are reused, not moved
    EXPECT_EQ(scalar("PRAGMA journal_mode"), "wal");
    EXPECT_EQ(scalar("SELECT group_concat(name) FROM pragma_table_info('logs')"), "id,groupId,log,targetToken,targetKey,priority");
    EXPECT_EQ(scalar("SELECT count(*) FROM sqlite_master WHERE type='index' AND tbl_name='logs' AND sql LIKE '%groupId%priority%DESC%id%'"), "1");
    EXPECT_EQ(scalar("SELECT groupId || '/' || priority FROM logs"), "Analytics/1");
    // The log column is the Base64 text of the keyed archive.
    auto bytes = defaults::base64Decode(scalar("SELECT log FROM logs"));
    ASSERT_TRUE(bytes);
    auto back = TLMUtility::unarchiveKeyedDataOfClass<TLMLogWithProperties>(*bytes);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->isEqual(*makeLog("a")));
    sqlite3_close(db);
    EXPECT_EQ(storage.maxPageCount() * storage.pageSize(), kTLMDefaultDatabaseSizeInBytes);
}

TEST_F(StorageTest, BatchesReserveTheirLogsUntilDeleted) {
    TLMLogDBStorage storage;
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(storage.saveLog(makeLog("a" + std::to_string(i)), "A", 1));
    ASSERT_TRUE(storage.saveLog(makeLog("b0"), "B", 1));
    EXPECT_EQ(storage.countLogs(), 6u);

    auto first = load(storage, "A", 2);
    EXPECT_EQ(first.names, (std::vector<std::string>{"a0", "a1"}));
    EXPECT_TRUE(first.more);
    ASSERT_TRUE(first.batchId);
    EXPECT_TRUE(TLMUtility::isValidUuid(*first.batchId));
    auto second = load(storage, "A", 2);
    EXPECT_EQ(second.names, (std::vector<std::string>{"a2", "a3"}));
    EXPECT_NE(second.batchId, first.batchId);
    auto third = load(storage, "A", 2);
    EXPECT_EQ(third.names, (std::vector<std::string>{"a4"}));
    EXPECT_FALSE(third.more);
    auto none = load(storage, "A", 2);
    EXPECT_TRUE(none.logs.empty());
    EXPECT_FALSE(none.batchId);

    storage.deleteLogsWithBatchId(*first.batchId, "A");
    EXPECT_EQ(storage.countLogs(), 4u);
    storage.deleteLogsWithBatchId(*first.batchId, "A");  // nothing reserved any more: nothing happens
    storage.deleteLogsWithBatchId(*second.batchId, "B");  // wrong group: nothing happens
    EXPECT_EQ(storage.countLogs(), 4u);

    auto deleted = storage.deleteLogsWithGroupId("A");
    EXPECT_EQ(deleted.size(), 3u);
    EXPECT_EQ(storage.countLogs(), 1u);
    storage.deleteLogsWithBatchId(*second.batchId, "A");  // the group's reservations went with it
    EXPECT_EQ(load(storage, "B", 10).names, (std::vector<std::string>{"b0"}));
}

TEST_F(StorageTest, HigherPrioritiesLoadFirstThenOlderLogs) {
    TLMLogDBStorage storage;
    storage.saveLog(makeLog("normal1"), "A", 1);
    storage.saveLog(makeLog("critical1"), "A", 2);
    storage.saveLog(makeLog("normal2"), "A", 0x101);  // only the low 8 bits count
    storage.saveLog(makeLog("critical2"), "A", 2);
    EXPECT_EQ(load(storage, "A", 10).names, (std::vector<std::string>{"critical1", "critical2", "normal1", "normal2"}));
}

TEST_F(StorageTest, LaterBatchesStillSeeLogsThatSortBeforeEarlierOnes) {
    TLMLogDBStorage storage;
    for (int i = 0; i < 5; ++i) storage.saveLog(makeLog("a" + std::to_string(i)), "A", 1);
    EXPECT_EQ(load(storage, "A", 2).names, (std::vector<std::string>{"a0", "a1"}));
    storage.saveLog(makeLog("urgent"), "A", 2);  // sorts before everything taken so far
    storage.saveLog(makeLog("low"), "A", 0);
    storage.saveLog(makeLog("a5"), "A", 1);
    EXPECT_EQ(load(storage, "A", 2).names, (std::vector<std::string>{"urgent", "a2"}));
    EXPECT_EQ(load(storage, "A", 2).names, (std::vector<std::string>{"a3", "a4"}));
    auto rest = load(storage, "A", 10);
    EXPECT_EQ(rest.names, (std::vector<std::string>{"a5", "low"}));
    // A batch's logs are never handed out twice, whatever the order of loads and deletions.
    storage.deleteLogsWithBatchId(*rest.batchId, "A");
    storage.saveLog(makeLog("b0"), "A", 1);
    EXPECT_EQ(load(storage, "A", 10).names, (std::vector<std::string>{"b0"}));
    EXPECT_TRUE(load(storage, "A", 10).names.empty());
}

TEST_F(StorageTest, ExcludedTargetKeysStayStoredAndTokensComeBackDecrypted) {
    TLMLogDBStorage storage;
    auto makeCs = [](const std::string& token) {
        auto cs = makeLog("x")->toCommonSchemaLogForTargetToken(token, 1);
        cs->name = "cs-" + token;
        return cs;
    };
    ASSERT_TRUE(storage.saveLog(makeCs("keyA-secret1"), "A/one", 1));
    ASSERT_TRUE(storage.saveLog(makeCs("keyB-secret2"), "A/one", 1));
    ASSERT_TRUE(storage.saveLog(makeLog("plain"), "A/one", 1));

    // The token is not stored in the clear.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT targetToken, targetKey FROM logs WHERE targetKey IS NOT NULL ORDER BY id", -1, &s, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    std::string stored = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, 1))), "keyA");
    EXPECT_EQ(stored.find("secret1"), std::string::npos);
    sqlite3_finalize(s);
    sqlite3_close(db);

    auto batch = load(storage, "A/one", 10, std::vector<std::string>{"keyA"});
    ASSERT_EQ(batch.logs.size(), 2u);
    auto cs = std::dynamic_pointer_cast<TLMCommonSchemaLog>(batch.logs[0]);
    ASSERT_TRUE(cs);
    EXPECT_EQ(cs->name, "cs-keyB-secret2");
    ASSERT_TRUE(cs->transmissionTargetTokens());
    EXPECT_EQ(*cs->transmissionTargetTokens(), (std::set<std::string>{"keyB-secret2"}));
    EXPECT_EQ(nameOf(batch.logs[1]), "plain");
    EXPECT_EQ(load(storage, "A/one", 10).logs.size(), 1u);  // keyA once it is no longer excluded

    // The key file is the user's alone.
    struct stat st {};
    ASSERT_EQ(stat((dbPath().parent_path() / "TargetTokenKey").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(StorageTest, KeyFromTheKeyringHookIsUsedAndFetchedOnlyAtFirstUse) {
    std::atomic<int> asked{0};
    TLMPlatformHooks hooks;
    hooks.targetTokenKey = [&] {
        ++asked;
        return std::optional<std::string>(std::string(32, 'k'));
    };
    TLMPlatform::setHooks(hooks);
    TLMLogDBStorage storage;
    EXPECT_EQ(asked, 0);
    auto cs = makeLog("x")->toCommonSchemaLogForTargetToken("key-token", 1);
    ASSERT_TRUE(storage.saveLog(cs, "A", 1));
    ASSERT_TRUE(storage.saveLog(cs, "A", 1));
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(std::filesystem::exists(dbPath().parent_path() / "TargetTokenKey"));
    EXPECT_EQ(load(storage, "A", 10).logs.size(), 2u);
}

TEST_F(StorageTest, LogsSurviveAReopen) {
    {
        TLMLogDBStorage storage;
        storage.saveLog(makeLog("kept"), "A", 1);
        auto batch = load(storage, "A", 10);  // reserved only for this process
        EXPECT_EQ(batch.names.size(), 1u);
    }
    TLMLogDBStorage reopened;
    EXPECT_EQ(reopened.countLogs(), 1u);
    EXPECT_EQ(load(reopened, "A", 10).names, (std::vector<std::string>{"kept"}));
}

TEST_F(StorageTest, LogsSavedByThisProcessComeBackAsSavedAndFromTheirRowsAfterAReopen) {
    auto saved = makeLog("kept");
    {
        TLMLogDBStorage storage;
        ASSERT_TRUE(storage.saveLogs({{saved, 1}, {makeLog("other"), 1}}, "A")[0]);
        auto batch = load(storage, "A", 1);
        ASSERT_EQ(batch.logs.size(), 1u);
        EXPECT_EQ(batch.logs[0].get(), saved.get());  // not decoded again
    }
    TLMLogDBStorage reopened;
    auto batch = load(reopened, "A", 10);
    ASSERT_EQ(batch.logs.size(), 2u);
    EXPECT_NE(batch.logs[0].get(), saved.get());
    EXPECT_TRUE(batch.logs[0]->isEqual(*saved));
}

TEST_F(StorageTest, WriteAheadLogStaysBoundedWhileLogsComeAndGo) {
    {
        TLMLogDBStorage storage;
        std::uintmax_t largest = 0;
        const auto wal = std::filesystem::path(dbPath().string() + "-wal");
        for (int round = 0; round < 6; ++round) {
            for (int i = 0; i < 500; ++i) ASSERT_TRUE(storage.saveLog(makeLog("n" + std::to_string(i), 1000), "A", 1));
            for (;;) {
                auto batch = load(storage, "A", 50);
                if (!batch.batchId) break;
                storage.deleteLogsWithBatchId(*batch.batchId, "A");
            }
            std::error_code ec;
            largest = std::max(largest, std::filesystem::file_size(wal, ec));
        }
        EXPECT_GT(largest, 0u);
        // The checkpoint thread starts at 1000 pages; a writer that never pauses copies the tail
        // itself from four times that, and waits for the thread at eight; the log is trimmed back
        // to 1 MiB when it starts over.
        EXPECT_LE(largest, (8u * TLMDBStorage::kCheckpointPages + 64) * (4096 + 24));
        EXPECT_EQ(storage.countLogs(), 0u);
    }
    // The last connection to close folds the log back into the file.
    EXPECT_FALSE(std::filesystem::exists(dbPath().string() + "-wal"));
}

// The write-ahead log is folded back by the checkpoint thread, not by whoever writes: once it
// passes the threshold, the thread's checkpoint comes without any further write.
TEST_F(StorageTest, TheCheckpointThreadFoldsTheWriteAheadLogBack) {
    TLMLogDBStorage storage;
    const auto wal = std::filesystem::path(dbPath().string() + "-wal");
    // Frames of a 4 KiB page and their 24-byte headers.
    const auto threshold = static_cast<std::uintmax_t>(TLMDBStorage::kCheckpointPages + 1) * (4096 + 24);
    int saved = 0;
    for (std::error_code ec; std::filesystem::file_size(wal, ec) < threshold; ++saved) {
        ASSERT_LT(saved, 20000);
        ASSERT_TRUE(storage.saveLog(makeLog("n" + std::to_string(saved), 2000), "A", 1));
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (storage.checkpointCounts().background == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GE(storage.checkpointCounts().background, 1);
    EXPECT_EQ(storage.checkpointCounts().writer, 0);
    EXPECT_EQ(storage.countLogs(), static_cast<std::size_t>(saved));
}

// A delivered batch leaves the file at once (seen from another connection, as a later process
// would see it), in runs of ids, and is never in a batch again; the rest stays for later.
TEST_F(StorageTest, DeliveredBatchesLeaveTheFileAtOnceAndAreNeverSentAgain) {
    TLMLogDBStorage storage;
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(storage.saveLog(makeLog("n" + std::to_string(i)), "A", 1));
    auto first = load(storage, "A", 4);
    ASSERT_TRUE(first.batchId);
    auto second = load(storage, "A", 4);
    ASSERT_TRUE(second.batchId);
    storage.deleteLogsWithBatchId(*second.batchId, "A");
    EXPECT_EQ(countStoredLogs(dbPath()), 6);
    storage.deleteLogsWithBatchId(*first.batchId, "A");
    EXPECT_EQ(countStoredLogs(dbPath()), 2);
    EXPECT_EQ(load(storage, "A", 4).names, (std::vector<std::string>{"n8", "n9"}));
    TLMLogDBStorage next(dbPath());
    EXPECT_EQ(next.countLogs(), 2u);
}

// A store file as another connection sees it: rows, the total length of their stored texts, and
// the file's own check.
struct Seen {
    int rows = -1;
    long long textBytes = -1;
    std::string check;
    bool operator==(const Seen&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Seen& s) {
        return out << s.rows << " rows, " << s.textBytes << " bytes of text, check \"" << s.check << "\"";
    }
};

// What a commit wrote is in the file the moment the commit returns, whole, for any other
// connection (a later process, the checkpoint thread) to read, whatever the commit's size: a few
// bytes, many pages, more than one write's worth, one row spilling over many pages; and it stays
// so across checkpoints, when the write-ahead log starts over from its beginning.
TEST_F(StorageTest, EveryCommitIsWholeInTheFileWhenItReturns) {
    struct Case {
        const char* name;
        int logs;
        std::size_t padding;
    };
    const Case cases[] = {
        {"one small log", 1, 10},
        {"a few pages", 20, 2000},
        {"more than one write's worth", 200, 3000},
        {"one row over many pages", 1, 300000},
    };
    auto seenFromOutside = [&] {
        Seen seen;
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(dbPath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_exec(db, "SELECT COUNT(*), TOTAL(LENGTH(log)) FROM logs", [](void* out, int, char** values, char**) {
                static_cast<Seen*>(out)->rows = std::atoi(values[0]);
                static_cast<Seen*>(out)->textBytes = std::atoll(values[1]);
                return 0;
            }, &seen, nullptr);
            sqlite3_exec(db, "PRAGMA integrity_check", [](void* out, int, char** values, char**) {
                static_cast<Seen*>(out)->check += values[0] ? values[0] : "";
                return 0;
            }, &seen, nullptr);
        }
        sqlite3_close(db);
        return seen;
    };
    TLMLogDBStorage storage;
    Seen expected{0, 0, "ok"};
    std::map<std::string, long long> textBytes;  // by the log's name
    int round = 0;
    for (; round < 3 || storage.checkpointCounts().background + storage.checkpointCounts().writer == 0; ++round) {
        ASSERT_LT(round, 200) << "no checkpoint ever ran";
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", round " + std::to_string(round));
            std::vector<TLMStorageItem> items;
            for (int i = 0; i < c.logs; ++i) {
                const std::string name = std::string(c.name) + " " + std::to_string(round) + "." + std::to_string(i);
                auto log = makeLog(name, c.padding);
                items.emplace_back(log, 1, storage.prepareText(*log));
                textBytes[name] = static_cast<long long>(items.back().preparedText->size());
                expected.textBytes += textBytes[name];
            }
            const auto saved = storage.saveLogs(items, "A");
            ASSERT_EQ(std::count(saved.begin(), saved.end(), true), c.logs);
            expected.rows += c.logs;
            EXPECT_EQ(seenFromOutside(), expected);
        }
        // Every other round, everything is delivered, a batch (a commit of deletions) at a time.
        if (round % 2 == 1) {
            for (auto batch = load(storage, "A", 50); batch.batchId; batch = load(storage, "A", 50)) {
                for (const auto& name : batch.names) {
                    expected.rows -= 1;
                    expected.textBytes -= textBytes.at(name);
                }
                storage.deleteLogsWithBatchId(*batch.batchId, "A");
                EXPECT_EQ(seenFromOutside(), expected);
            }
        }
    }
}

TEST_F(StorageTest, UnreadableRowsAreDeletedNotLeftToBlockBatches) {
    LogRecorder log;
    TLMLogDBStorage storage;
    storage.saveLog(makeLog("good1"), "A", 1);
    storage.saveLog(makeLog("good2"), "A", 1);
    sql("INSERT INTO logs (groupId, log, priority) VALUES ('A', 'bm90IGFuIGFyY2hpdmU=', 2);"
        "INSERT INTO logs (groupId, log, priority) VALUES ('A', '***', 2);"
        "INSERT INTO logs (groupId, log, targetToken, targetKey, priority) VALUES ('A', '" +
        defaults::base64Encode(TLMUtility::archiveKeyedData(*makeLog("badtoken"))) + "', 'AAAA', 'k', 2);");
    auto batch = load(storage, "A", 2);
    EXPECT_EQ(batch.names, (std::vector<std::string>{"good1", "good2"}));
    EXPECT_FALSE(batch.more);
    EXPECT_EQ(storage.countLogs(), 2u);
    EXPECT_TRUE(log.contains("Deserialization failed for log with Id", TLMLogLevelError));
    EXPECT_TRUE(log.contains("Failed to decrypt the target token for log with Id", TLMLogLevelError));
}

TEST_F(StorageTest, FileThatIsNotADatabaseIsMovedAsideAndReplaced) {
    std::filesystem::create_directories(dbPath().parent_path());
    {
        std::ofstream junk(dbPath(), std::ios::binary);
        junk << std::string(8192, 'x');
    }
    TLMLogDBStorage storage;
    EXPECT_TRUE(storage.saveLog(makeLog("after"), "A", 1));
    EXPECT_EQ(storage.countLogs(), 1u);
    int aside = 0;
    for (const auto& e : std::filesystem::directory_iterator(dbPath().parent_path()))
        if (e.path().filename().string().rfind("Logs.sqlite.bad-", 0) == 0) ++aside;
    EXPECT_EQ(aside, 1);
}

TEST_F(StorageTest, FileHeldLockedByAnotherProgramIsLeftAloneAndUsedOnceFree) {
    {
        TLMLogDBStorage storage;
        ASSERT_TRUE(storage.saveLog(makeLog("before"), "A", 1));
    }
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    TLMLogDBStorage storage;
    EXPECT_FALSE(storage.saveLog(makeLog("while locked"), "A", 1));
    ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_TRUE(storage.saveLog(makeLog("after"), "A", 1));
    EXPECT_EQ(load(storage, "A", 10).names, (std::vector<std::string>{"before", "after"}));
    for (const auto& e : std::filesystem::directory_iterator(dbPath().parent_path()))
        EXPECT_EQ(e.path().filename().string().find(".bad-"), std::string::npos);
}

TEST_F(StorageTest, DamageFoundWhileRunningStartsANewDatabase) {
    TLMLogDBStorage storage;
    ASSERT_TRUE(storage.saveLog(makeLog("before"), "A", 1));
    // Another program overwrites the file's header while the store has it open.
    {
        std::fstream f(dbPath(), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(0);
        f << std::string(100, 'z');
    }
    // The store keeps working: the next operations see the damage and start over.
    bool saved = false;
    for (int i = 0; i < 3 && !saved; ++i) saved = storage.saveLog(makeLog("after"), "A", 1);
    EXPECT_TRUE(saved);
    auto batch = load(storage, "A", 10);
    EXPECT_FALSE(batch.names.empty());
    EXPECT_EQ(batch.names.back(), "after");
}

TEST_F(StorageTest, FullStoreEvictsTheOldestOfTheLowestPriorityNotInABatch) {
    LogRecorder log;
    TLMLogDBStorage storage(dbPath(), nullptr, kTLMMinimumDatabaseSizeInBytes * 2);
    // Fill with ~1 KB logs: a few high-priority ones first, then normal ones until full.
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(storage.saveLog(makeLog("high" + std::to_string(i), 1000), "A", 2));
    auto reserved = load(storage, "B", 10);  // nothing in B yet
    int normal = 0;
    while (!log.contains("The log database is full") && normal < 1000) {
        ASSERT_TRUE(storage.saveLog(makeLog("n" + std::to_string(normal), 1000), "A", 1));
        ++normal;
    }
    ASSERT_LT(normal, 1000);
    // The high-priority logs are still there; the first normal ones made room.
    auto batch = load(storage, "A", 1000);
    EXPECT_EQ(batch.names[0], "high0");
    EXPECT_EQ(batch.names[1], "high1");
    EXPECT_EQ(batch.names[2], "high2");
    EXPECT_NE(batch.names[3], "n0");
    EXPECT_EQ(batch.names.back(), "n" + std::to_string(normal - 1));
    EXPECT_LE(storage.pageCount() * storage.pageSize(), kTLMMinimumDatabaseSizeInBytes * 2);

    // Everything is reserved by that batch now: a new log finds nothing to evict and is refused.
    EXPECT_FALSE(storage.saveLog(makeLog("refused", 4000), "A", 1));
    storage.deleteLogsWithBatchId(*batch.batchId, "A");
    EXPECT_TRUE(storage.saveLog(makeLog("fits again", 4000), "A", 1));
}

TEST_F(StorageTest, AFullStoreMakesRoomForManyLogsAtOnceAndSaysSoOncePerTurn) {
    LogRecorder log;
    constexpr int64_t kCap = kTLMMinimumDatabaseSizeInBytes * 16;
    TLMLogDBStorage storage(dbPath(), nullptr, kCap);
    constexpr int kSaved = 3000;  // about five times what the cap holds
    for (int i = 0; i < kSaved; ++i) ASSERT_TRUE(storage.saveLog(makeLog("n" + std::to_string(i), 200), "A", 1));
    const auto evicted = static_cast<std::size_t>(kSaved) - storage.countLogs();
    ASSERT_GT(evicted, 1000u);
    std::size_t warnings = 0;
    for (const auto& m : log.messages()) warnings += m.text.find("The log database is full") != std::string::npos;
    // One warning (and one deletion) for each share of the cap, never one for each log.
    EXPECT_GT(warnings, 0u);
    EXPECT_LE(warnings * 10, evicted) << warnings << " warnings for " << evicted << " logs evicted";
    EXPECT_LE(storage.pageCount() * storage.pageSize(), kCap);
    auto batch = load(storage, "A", kSaved);
    EXPECT_EQ(batch.names.back(), "n" + std::to_string(kSaved - 1));
    EXPECT_EQ(batch.names.size(), storage.countLogs());
}

TEST_F(StorageTest, TheOrderOfEvictionHasAnIndexAlsoInFilesOfEarlierVersions) {
    // A file as earlier versions made it: the table and the batch index only.
    const std::string earlier =
        "CREATE TABLE IF NOT EXISTS \"logs\" (\"id\" INTEGER PRIMARY KEY AUTOINCREMENT, \"groupId\" TEXT NOT NULL, "
        "\"log\" TEXT NOT NULL, \"targetToken\" TEXT, \"targetKey\" TEXT, \"priority\" INTEGER NOT NULL DEFAULT 0); "
        "CREATE INDEX IF NOT EXISTS \"ix_logs_groupId_priority_id\" ON \"logs\" (\"groupId\", \"priority\" DESC, \"id\" ASC);";
    std::filesystem::create_directories(dbPath().parent_path());
    sql("PRAGMA journal_mode = WAL; " + earlier);
    {
        TLMLogDBStorage storage;
        ASSERT_TRUE(storage.saveLog(makeLog("new"), "A", 1));
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath().c_str(), &db), SQLITE_OK);
    std::string plan;
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "EXPLAIN QUERY PLAN SELECT \"id\" FROM \"logs\" ORDER BY \"priority\" ASC, \"id\" ASC",
                                 -1, &s, nullptr),
              SQLITE_OK);
    while (sqlite3_step(s) == SQLITE_ROW) plan += reinterpret_cast<const char*>(sqlite3_column_text(s, 3)) + std::string("; ");
    sqlite3_finalize(s);
    EXPECT_NE(plan.find("ix_logs_priority"), std::string::npos) << plan;
    EXPECT_EQ(plan.find("TEMP B-TREE"), std::string::npos) << plan;
    // An earlier version opening the file again: its statements still run, its rows are kept in the index too.
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, (earlier + "INSERT INTO \"logs\" (\"groupId\", \"log\", \"priority\") VALUES ('A', 'x', 0);").c_str(),
                           nullptr, nullptr, &error),
              SQLITE_OK)
        << (error ? error : "");
    sqlite3_free(error);
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "ok");
    sqlite3_finalize(s);
    sqlite3_close(db);
}

TEST_F(StorageTest, SeveralLogsSavedAtOnceKeepTheirOrderAndAFullStoreStillMakesRoom) {
    LogRecorder log;
    TLMLogDBStorage storage(dbPath(), nullptr, kTLMMinimumDatabaseSizeInBytes * 2);
    std::vector<TLMStorageItem> items;
    for (int i = 0; i < 5; ++i) items.push_back({makeLog("a" + std::to_string(i)), 1});
    items.push_back({nullptr, 1});  // not a log: not stored, the others are
    EXPECT_EQ(storage.saveLogs(items, "A"), (std::vector<bool>{true, true, true, true, true, false}));
    EXPECT_EQ(load(storage, "A", 10).names, (std::vector<std::string>{"a0", "a1", "a2", "a3", "a4"}));

    // More than the cap holds at once: the write falls back to one by one, each making room.
    items.clear();
    for (int i = 0; i < 60; ++i) items.push_back({makeLog("b" + std::to_string(i), 1000), 1});
    const auto saved = storage.saveLogs(items, "B");
    EXPECT_EQ(std::count(saved.begin(), saved.end(), true), 60);
    EXPECT_TRUE(log.contains("The log database is full"));
    const auto batch = load(storage, "B", 100);
    ASSERT_FALSE(batch.names.empty());
    EXPECT_NE(batch.names.front(), "b0");
    EXPECT_EQ(batch.names.back(), "b59");
    EXPECT_LE(storage.pageCount() * storage.pageSize(), kTLMMinimumDatabaseSizeInBytes * 2);
}

TEST_F(StorageTest, SizeCapChangesAndRefusesTooSmallSizes) {
    // A store made now, and one made by an earlier version with auto-vacuum (which it keeps): a
    // lower cap evicts the oldest logs until the rest fit, not every one, and the file holds it.
    for (const bool autoVacuumFile : {false, true}) {
        SCOPED_TRACE(autoVacuumFile ? "file with auto-vacuum" : "new file");
        std::filesystem::remove_all(dbPath().parent_path());
        if (autoVacuumFile) {
            std::filesystem::create_directories(dbPath().parent_path());
            sql("PRAGMA auto_vacuum = FULL; PRAGMA journal_mode = WAL; " + TLMLogDBStorage::schema());
        }
        TLMLogDBStorage storage;
        for (int i = 0; i < 60; ++i) storage.saveLog(makeLog("n" + std::to_string(i), 1000), "A", 1);
        // Half of them delivered: their pages are free, and the cap must not count them.
        const auto delivered = load(storage, "A", 30);
        storage.deleteLogsWithBatchId(*delivered.batchId, "A");
        std::optional<bool> answer;
        storage.setMaxStorageSize(kTLMMinimumDatabaseSizeInBytes - 1, [&](bool ok) { answer = ok; });
        EXPECT_EQ(answer, false);
        answer.reset();
        storage.setMaxStorageSize(kTLMMinimumDatabaseSizeInBytes * 2, [&](bool ok) { answer = ok; });
        EXPECT_EQ(answer, true);
        EXPECT_LE(storage.pageCount() * storage.pageSize(), kTLMMinimumDatabaseSizeInBytes * 2);
        EXPECT_LT(storage.countLogs(), 30u);
        EXPECT_GE(storage.countLogs(), 8u);  // as many as fit in 48 KiB, about two a page
        auto batch = load(storage, "A", 100);
        EXPECT_EQ(batch.names.back(), "n59");  // the newest stayed
        storage.deleteLogsWithBatchId(*batch.batchId, "A");
        // Full again: each new log makes room within the cap.
        for (int i = 0; i < 40; ++i) EXPECT_TRUE(storage.saveLog(makeLog("m" + std::to_string(i), 1000), "A", 1));
        EXPECT_LE(storage.pageCount() * storage.pageSize(), kTLMMinimumDatabaseSizeInBytes * 2);
        EXPECT_EQ(load(storage, "A", 100).names.back(), "m39");
    }
}

TEST_F(StorageTest, PagesOfDeliveredLogsAreTakenByTheNextOnes) {
    TLMLogDBStorage storage;
    auto round = [&](const std::string& prefix) {
        for (int i = 0; i < 200; ++i) ASSERT_TRUE(storage.saveLog(makeLog(prefix + std::to_string(i), 500), "A", 1));
        for (;;) {
            auto batch = load(storage, "A", 50);
            if (!batch.batchId) break;
            storage.deleteLogsWithBatchId(*batch.batchId, "A");
        }
        EXPECT_EQ(storage.countLogs(), 0u);
    };
    round("a");
    const int64_t afterFirst = storage.pageCount();
    EXPECT_GT(storage.pageCount() - storage.usedPageCount(), 20);  // the delivered logs' pages, free
    for (int r = 0; r < 3; ++r) round("b" + std::to_string(r));
    EXPECT_LE(storage.pageCount(), afterFirst + 2);  // taken again, the file did not grow
}

TEST_F(StorageTest, ConcurrentSavesFromSeveralThreadsAreAllKept) {
    TLMLogDBStorage storage;
    constexpr int kThreads = 4, kEach = 50;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                if (!storage.saveLog(makeLog(std::to_string(t) + ":" + std::to_string(i)), "G" + std::to_string(t % 2), 1))
                    ++failures;
                if (i % 10 == 0) (void)storage.countLogs();
            }
        });
    }
    // A reader takes batches meanwhile.
    std::size_t loaded = 0;
    for (int i = 0; i < 20; ++i) loaded += load(storage, "G0", 5).logs.size();
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(storage.countLogs(), static_cast<std::size_t>(kThreads * kEach));
    loaded += load(storage, "G0", 1000).logs.size();
    EXPECT_EQ(loaded, static_cast<std::size_t>(kThreads * kEach / 2));
    // Each thread's logs keep their order.
    auto g1 = load(storage, "G1", 1000).names;
    std::map<std::string, int> last;
    for (const auto& n : g1) {
        auto t = n.substr(0, n.find(':'));
        int i = std::stoi(n.substr(n.find(':') + 1));
        if (last.count(t)) {
            EXPECT_GT(i, last[t]);
        }
        last[t] = i;
    }
}

// ---- bindable values -----------------------------------------------------------------------

TEST(StorageBindableTest, BindsInOrderAndStopsAtTheFirstFailure) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT ?, ?, typeof(?)", -1, &s, nullptr), SQLITE_OK);
    TLMStorageBindableArray values;
    values.addNumber(INT64_MAX);
    values.addString(std::string("text"));
    values.addString(std::nullopt);
    EXPECT_EQ(values.bindAllValuesWithStatement(s, db), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int64(s, 0), INT64_MAX);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)), "text");
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 2)), "null");
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);

    LogRecorder log;
    TLMStorageBindableArray tooMany;
    tooMany.addNumber(1);
    tooMany.addNumber(2);
    tooMany.addNumber(3);
    tooMany.addNumber(std::nullopt);  // parameter 4 does not exist
    tooMany.addNumber(5);
    EXPECT_EQ(tooMany.bindAllValuesWithStatement(s, db), SQLITE_RANGE);
    EXPECT_TRUE(log.contains("Binding query parameter 4 failed with error: 25", TLMLogLevelError));
    EXPECT_EQ(TLMStorageBindableArray().bindAllValuesWithStatement(s, db), SQLITE_OK);
    sqlite3_finalize(s);
    sqlite3_close(db);
}

}  // namespace
