#pragma once
// The files a server's searches have read, so that the next search reads only what changed: an
// entry is used again while the server's listing gives the file the same size and the same
// modification date as when it was read; a file the listing gives no date or size is read
// every time. Files found to be binary are remembered too (as such, without their bytes), so
// they are not read again either. Kept in memory for one server (the window keeps one per
// saved server), up to kMaxBytes of file bytes: past that, the entries stored first go.
// Thread-safe.
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "tandrel/search/SiteFileText.h"

namespace sitesearch {

class SiteSearchCache {
public:
    static constexpr std::size_t kMaxBytes = 256u * 1024 * 1024;

    struct Entry {
        std::int64_t size = -1;
        std::optional<std::chrono::system_clock::time_point> date;
        std::shared_ptr<const SiteFileText> file;  // nothing: the file is binary
    };

    // The entry for the path while the listing still gives it that size and date.
    std::optional<Entry> lookup(const std::string& path, std::int64_t size,
                                const std::optional<std::chrono::system_clock::time_point>& date) const;
    // Keeps what was read (nothing is kept for a file without a listed size or date).
    void store(const std::string& path, Entry entry);
    void forget(const std::string& path);
    std::size_t entries() const;

private:
    mutable std::mutex mutex_;
    struct Kept {
        Entry entry;
        std::uint64_t stored = 0;  // which store put it here
    };
    std::unordered_map<std::string, Kept> entries_;
    // (path, store) in the order stored; a pair whose path was stored again since is stale.
    std::deque<std::pair<std::string, std::uint64_t>> order_;
    std::uint64_t stores_ = 0;
    std::size_t bytes_ = 0;
};

}  // namespace sitesearch
