#pragma once
// How many logs a telemetry store file holds, read from outside the SDK (read-only, waiting up
// to a second for a writer): -1 while the file is missing or cannot be read.
#include <sqlite3.h>

#include <filesystem>

namespace telltest {

inline int countStoredLogs(const std::filesystem::path& db) {
    if (!std::filesystem::exists(db)) return -1;
    sqlite3* handle = nullptr;
    int count = -1;
    if (sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(handle, 1000);
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(handle, "SELECT COUNT(*) FROM logs", -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW) {
            count = sqlite3_column_int(statement, 0);
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(handle);
    return count;
}

}  // namespace telltest
