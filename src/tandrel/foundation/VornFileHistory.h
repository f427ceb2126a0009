#pragma once
// The history of server copies: every copy of a file that the app replaces on a server (a save,
// a Merge, a Replace All: whatever goes through the checked save road with the bytes it knows
// the server holds) or deletes (the server window reads the file first) is kept here first, so a
// save that overwrote the wrong thing, or a delete, can be undone.
//
// Where: "History" in the app's data folder, a folder per server (named by a digest of its id),
// in it a folder per remote path (a digest of the path; its "path" file holds the path itself),
// in that one a file per kept copy, named by the time it was kept ("<ms since 1970, 15
// digits>-<4 digits>.copy": names sort as the copies were kept). A kept copy holds the server's
// bytes exactly; its size is its file's size.
//
// Limits: per file the newest `max_versions` copies (settings key HISTORY_MAX_VERSIONS, 20 by
// default), and per server `max_bytes` in all (HISTORY_MAX_MEGABYTES, 50 by default); the oldest
// copies go first, within the file and then across the server, each time a copy is kept. A copy
// larger than the server's whole allowance is not kept.
//
// Privacy: the copies hold what the server held, so they are as private as the server's files:
// every file is written atomically (temporary file + rename) and readable by its owner only
// (0600), every folder is 0700, and neither the bytes nor anything read from them go into a log.
//
// Writes and prunes run on the history's serial queue in the order asked; listings and reads run
// on the calling thread once the writes asked before them have run, or, asked with a completion
// (a screen's, which must not wait on the disk), on the queue after those writes, the completion
// there too. Failures are values.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "tandrel/foundation/VornError.h"

class VornFileHistory {
    // Tells apart copies kept within one millisecond.
    std::atomic<uint32_t> sequence_{0};

public:
    static constexpr const char* kFolderName = "History";
    static constexpr const char* kMaxVersionsKey = "HISTORY_MAX_VERSIONS";
    static constexpr const char* kMaxMegabytesKey = "HISTORY_MAX_MEGABYTES";
    static constexpr int64_t kDefaultMaxVersions = 20;
    static constexpr int64_t kDefaultMaxMegabytes = 50;

    struct Limits {
        int64_t max_versions = kDefaultMaxVersions;  // per file
        int64_t max_bytes = kDefaultMaxMegabytes * 1024 * 1024;  // per server
        // The limits the settings give (a missing or non-positive value: the default).
        static Limits from_settings();
    };

    // One kept copy.
    struct Version {
        std::filesystem::path file;
        std::chrono::system_clock::time_point kept;
        int64_t size = 0;
    };

    VornFileHistory();
    // The process-wide history; copies asked to be kept before the process ends are written
    // before it goes (within the exit bound).
    static VornFileHistory& shared();

    dispatch::SerialQueue queue{"file_history"};
    // The history's folder: when unset, "History" in the app's data folder (nothing is kept while
    // there is none).
    std::optional<std::filesystem::path> folder;
    // The limits: when unset, the settings' (read at each keep).
    std::optional<Limits> limits;

    // Keeps `bytes` as the copy of `path` on the server `service_id` that is about to be replaced
    // or deleted, then prunes to the limits; `done` runs on the queue with the outcome: the kept
    // copy's file, or why there is none.
    using KeepCompletion = std::function<void(std::optional<VornError> error, std::filesystem::path kept)>;
    void keep(const std::string& service_id, const std::string& path, std::string bytes, KeepCompletion done = nullptr);
    // Removes a kept copy again (on the queue, after the keeps asked before): the write it was
    // kept for was refused, and the server's copy is still that one.
    void forget(std::filesystem::path kept);
    // The kept copies of a file, newest first.
    std::vector<Version> versions(const std::string& service_id, const std::string& path);
    // The same on the queue, for the main thread, which never waits for the disk: `done` runs
    // there with the copies (and may read them there).
    void versions_later(const std::string& service_id, const std::string& path,
                        std::function<void(std::vector<Version> versions)> done);
    // A kept copy's bytes (nothing when it cannot be read).
    static std::optional<std::string> read(const Version& version);
    // The same on the queue: `done` runs there with the bytes.
    void read_later(Version version, std::function<void(std::optional<std::string> bytes)> done);

    // A file with kept copies: its path as it was kept, and its copies, newest first.
    struct KeptFile {
        std::string path;
        std::vector<Version> versions;
    };
    // The files of the server with kept copies whose path lies directly in `folder` (not deeper;
    // paths compared as the server window compares them, normalized: "/www/" and "/www" are one
    // folder), the file with the newest copy first; whether they are on the server now is not
    // asked. Runs on the queue; `done` runs there. A file whose path file cannot be read is left
    // out (its copies are still reached by its path).
    void files_in(const std::string& service_id, const std::string& folder,
                  std::function<void(std::vector<KeptFile> files)> done);

    // A copy as lists show it: "11 Dec 2026 08:12:03 · 1.2 kB" (the local time it was kept).
    static std::string describe(const Version& version);

    std::optional<std::filesystem::path> current_folder() const;
    // The folder of one server's copies, and of one file's.
    static std::string digest(const std::string& text);
    std::optional<std::filesystem::path> folder_of(const std::string& service_id, const std::string& path) const;

private:
    // Runs on the queue.
    static std::optional<VornError> keep_now(const std::filesystem::path& server_folder,
                                             const std::filesystem::path& file_folder, const std::string& path,
                                             const std::string& bytes, const Limits& limits, uint32_t sequence,
                                             std::filesystem::path& kept);
    static void prune(const std::filesystem::path& server_folder, const std::filesystem::path& file_folder,
                      const Limits& limits);
    static std::vector<KeptFile> files_in_now(const std::filesystem::path& server_folder, const std::string& folder);
};
