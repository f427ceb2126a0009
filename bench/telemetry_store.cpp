// The telemetry log store against plain SQLite: 10,000 logs of about 1 KB saved one by one
// (each its own transaction, as the channel units save them), beside raw sqlite3 inserts of the
// same logs with the store's journal settings, its checkpoints (on a thread and a connection of
// their own, from the same write-ahead log length, the writer catching up past four and eight
// times that) and its encoding, in rounds that run both back to back; loading them back in
// batches of 50; 100,000 logs saved past the default size cap beside 10,000 below it (time per
// log, each round's own ratio); and the keyed archive of one event-sized log there and back.
//
// Run: build/bench/bench_telemetry_store
// (DRAVIX_BENCH_LOGS changes the number of logs, DRAVIX_BENCH_ROUNDS the rounds of the save
// comparison, 9 by default, and of the past-the-cap one, 3; the files go to the temporary
// folder, TMPDIR.) Except in the past-the-cap one, both sides get a size cap well above what the
// logs need, so the store never has to make room.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "BenchPeers.h"
#include "platform/defaults/Base64.h"
#include "tellium/model/TLMAbstractLog.h"
#include "tellium/storage/TLMDBCheckpointer.h"
#include "tellium/storage/TLMLogDBStorage.h"
#include "tellium/util/TLMUtility.h"
#include "tellium/SampleDevice.h"

namespace fs = std::filesystem;

namespace {

int logCount() {
    const char* env = std::getenv("DRAVIX_BENCH_LOGS");
    return env ? std::max(1, std::atoi(env)) : 10000;
}

fs::path scratch(const std::string& name) {
    auto dir = fs::temp_directory_path() / ("dravix-bench-" + name + "-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    return dir;
}

// An event-sized log: the device, a session, a user and a few properties.
std::shared_ptr<TLMLogWithProperties> eventLog(int i, std::size_t padding) {
    auto log = std::make_shared<TLMLogWithProperties>();
    log->type = "event";
    log->timestamp = TLMDateFromMilliseconds(1714564800000 + i);
    log->sid = "3C8B2B3E-1F0A-4D7C-9E0B-2D9A1B9F4C11";
    log->userId = "alice";
    log->device = telltest::sampleDevice();
    log->properties = std::map<std::string, std::string>{
        {"name", "Started"}, {"index", std::to_string(i)}, {"screen", "explorer"}, {"pad", std::string(padding, 'p')}};
    return log;
}

// ~1 KB as stored (Base64 of the archive).
const std::vector<std::shared_ptr<TLMAbstractLog>>& logs() {
    static const auto all = [] {
        std::vector<std::shared_ptr<TLMAbstractLog>> v;
        for (int i = 0; i < logCount(); ++i) v.push_back(eventLog(i, 300));
        return v;
    }();
    return all;
}

constexpr int64_t kCap = 256LL * 1024 * 1024;

void exec(sqlite3* db, const std::string& sql) { sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr); }

// Milliseconds to save every log one by one through the store (it encodes each one as it saves
// it); negative on failure. The store is made and removed outside the time.
double storeSaveMillis() {
    auto dir = scratch("store");
    auto storage = std::make_unique<TLMLogDBStorage>(dir / "Logs.sqlite", nullptr, kCap);
    bool ok = true;
    const auto start = std::chrono::steady_clock::now();
    for (const auto& log : logs()) ok = storage->saveLog(log, "Analytics", 1) && ok;
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    storage.reset();
    fs::remove_all(dir);
    return ok ? ms : -1;
}

// The same with plain sqlite3: the store's journal settings (write-ahead log, synchronous=NORMAL,
// no auto-vacuum, the same size cap and -wal trim), its checkpoints and the store's
// encoding of each log (keyed archive, then Base64) in the loop, each insert its own transaction.
double rawSaveMillis() {
    auto dir = scratch("raw");
    sqlite3* db = nullptr;
    sqlite3_open((dir / "Logs.sqlite").c_str(), &db);
    exec(db, "PRAGMA auto_vacuum = NONE; PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; "
             "PRAGMA journal_size_limit = 1048576; " + TLMLogDBStorage::schema());
    exec(db, "PRAGMA max_page_count = " + std::to_string(kCap / 4096));
    // The store's checkpoints: on a thread of their own, from the same write-ahead log length.
    auto checkpoints = std::make_unique<TLMDBCheckpointer>(dir / "Logs.sqlite");
    checkpoints->watch(db);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO \"logs\" (\"groupId\", \"log\", \"targetToken\", \"targetKey\", \"priority\") "
                       "VALUES (?, ?, ?, ?, ?)",
                       -1, &insert, nullptr);
    bool ok = insert != nullptr;
    const auto start = std::chrono::steady_clock::now();
    for (const auto& log : logs()) {
        if (!ok) break;
        const std::string row = defaults::base64Encode(TLMUtility::archiveKeyedData(*log));
        sqlite3_bind_text(insert, 1, "Analytics", -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 2, row.c_str(), static_cast<int>(row.size()), SQLITE_STATIC);
        sqlite3_bind_null(insert, 3);
        sqlite3_bind_null(insert, 4);
        sqlite3_bind_int64(insert, 5, 1);
        ok = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    checkpoints.reset();
    sqlite3_finalize(insert);
    sqlite3_close(db);
    fs::remove_all(dir);
    return ok ? ms : -1;
}

}  // namespace

// Each iteration is one round: the raw inserts and the store's saves back to back, in alternating
// order. The iteration time is the store's; the counters are the medians of the rounds (raw_ms,
// store_ms, and ratio, the median of each round's store/raw).
static void BM_SaveOneByOne(benchmark::State& state) {
    state.counters["row_bytes"] =
        static_cast<double>(defaults::base64Encode(TLMUtility::archiveKeyedData(*logs()[0])).size());
    benchpeers::Rounds rounds;
    for (auto _ : state) {
        double raw = -1, store = -1;
        if (rounds.baselineFirst()) {
            raw = rawSaveMillis();
            store = storeSaveMillis();
        } else {
            store = storeSaveMillis();
            raw = rawSaveMillis();
        }
        if (raw < 0 || store < 0) {
            state.SkipWithError(raw < 0 ? "insert failed" : "save failed");
            break;
        }
        rounds.add(raw, store);
        state.SetIterationTime(store / 1000.0);
    }
    rounds.report(state, "raw_ms", "store_ms", "ratio");
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(logs().size()));
}
BENCHMARK(BM_SaveOneByOne)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(benchpeers::roundCount(9));

// Microseconds per log saving `count` logs one by one into a store of that cap (the logs taken
// in turn from the event-sized ones); negative on failure.
double storeMicrosPerLog(int count, int64_t cap) {
    auto dir = scratch("cap");
    auto storage = std::make_unique<TLMLogDBStorage>(dir / "Logs.sqlite", nullptr, cap);
    bool ok = true;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) ok = storage->saveLog(logs()[static_cast<std::size_t>(i) % logs().size()], "Analytics", 1) && ok;
    const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    storage.reset();
    fs::remove_all(dir);
    return ok ? us / count : -1;
}

// Each iteration is one round: 10,000 logs into a store that never fills, and 100,000 into one at
// the default cap (about 10,000 of them fit: the rest each make room), back to back in
// alternating order. Counters: the medians of the time per log, and of each round's ratio
// (target: at most 2).
static void BM_SavePastTheSizeCap(benchmark::State& state) {
    benchpeers::Rounds rounds;
    for (auto _ : state) {
        double below = -1, past = -1;
        if (rounds.baselineFirst()) {
            below = storeMicrosPerLog(10000, kCap);
            past = storeMicrosPerLog(100000, kTLMDefaultDatabaseSizeInBytes);
        } else {
            past = storeMicrosPerLog(100000, kTLMDefaultDatabaseSizeInBytes);
            below = storeMicrosPerLog(10000, kCap);
        }
        if (below < 0 || past < 0) {
            state.SkipWithError("a save failed");
            break;
        }
        rounds.add(below, past);
        state.SetIterationTime(past * 100000 / 1e6);
    }
    state.counters["below_cap_us_per_log"] = rounds.baseline();
    state.counters["past_cap_us_per_log"] = rounds.subject();
    state.counters["ratio"] = rounds.ratio();
    state.counters["rounds"] = static_cast<double>(rounds.count());
}
BENCHMARK(BM_SavePastTheSizeCap)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(benchpeers::roundCount(3));

static void BM_StoreLoadBatchesOf50(benchmark::State& state) {
    auto dir = scratch("load");
    {
        TLMLogDBStorage fill(dir / "Logs.sqlite", nullptr, kCap);
        for (const auto& log : logs()) fill.saveLog(log, "Analytics", 1);
    }
    std::size_t loaded = 0;
    for (auto _ : state) {
        // Reservations live in memory: a new store object on the same file loads them all again.
        TLMLogDBStorage storage(dir / "Logs.sqlite", nullptr, kCap);
        bool more = true;
        while (more) {
            std::size_t got = 0;
            more = storage.loadLogsWithGroupId("Analytics", 50, std::nullopt,
                                               [&](const auto& batch, const auto&) { got = batch.size(); });
            loaded += got;
            if (got == 0) break;
        }
    }
    if (loaded != state.iterations() * logs().size()) state.SkipWithError("not every log came back");
    state.SetItemsProcessed(static_cast<int64_t>(loaded));
    fs::remove_all(dir);
}
BENCHMARK(BM_StoreLoadBatchesOf50)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_ArchiveAndUnarchiveEventLog(benchmark::State& state) {
    auto log = eventLog(1, 40);
    for (auto _ : state) {
        auto bytes = TLMUtility::archiveKeyedData(*log);
        auto back = TLMUtility::unarchiveKeyedDataOfClass<TLMLogWithProperties>(bytes);
        benchmark::DoNotOptimize(back);
    }
}
BENCHMARK(BM_ArchiveAndUnarchiveEventLog)->Unit(benchmark::kMicrosecond);
