#include "tandrel/search/SiteSearchCache.h"

namespace sitesearch {

namespace {
std::size_t weight(const SiteSearchCache::Entry& entry) {
    return entry.file ? entry.file->bytes.size() + entry.file->text.utf8.size() : 0;
}
}  // namespace

std::optional<SiteSearchCache::Entry> SiteSearchCache::lookup(
    const std::string& path, std::int64_t size, const std::optional<std::chrono::system_clock::time_point>& date) const {
    if (size < 0 || !date) return std::nullopt;
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(path);
    if (it == entries_.end() || it->second.entry.size != size || it->second.entry.date != date) return std::nullopt;
    return it->second.entry;
}

void SiteSearchCache::store(const std::string& path, Entry entry) {
    if (entry.size < 0 || !entry.date) return forget(path);
    std::lock_guard lock(mutex_);
    if (auto it = entries_.find(path); it != entries_.end()) bytes_ -= weight(it->second.entry);
    bytes_ += weight(entry);
    const std::uint64_t stored = ++stores_;
    entries_[path] = Kept{std::move(entry), stored};
    order_.emplace_back(path, stored);
    while (bytes_ > kMaxBytes && order_.size() > 1) {
        auto [oldest, when] = std::move(order_.front());
        order_.pop_front();
        auto it = entries_.find(oldest);
        if (it == entries_.end() || it->second.stored != when) continue;  // stored again since
        bytes_ -= weight(it->second.entry);
        entries_.erase(it);
    }
    if (order_.size() > 2 * entries_.size() + 64) {
        std::erase_if(order_, [this](const auto& pair) {
            auto it = entries_.find(pair.first);
            return it == entries_.end() || it->second.stored != pair.second;
        });
    }
}

void SiteSearchCache::forget(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (auto it = entries_.find(path); it != entries_.end()) {
        bytes_ -= weight(it->second.entry);
        entries_.erase(it);
    }
}

std::size_t SiteSearchCache::entries() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

}  // namespace sitesearch
