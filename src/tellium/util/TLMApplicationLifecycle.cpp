#include "tellium/util/TLMApplicationLifecycle.h"

#include <mutex>
#include <vector>

namespace {

struct Entry {
    TLMApplicationEvent event;
    std::function<void()> observer;
};

struct Observers {
    std::mutex mutex;
    std::vector<std::weak_ptr<Entry>> entries;
};

Observers& observers() {
    static auto* o = new Observers;
    return *o;
}

}  // namespace

TLMApplicationLifecycle::Token TLMApplicationLifecycle::addObserver(TLMApplicationEvent event,
                                                                    std::function<void()> observer) {
    auto entry = std::make_shared<Entry>(Entry{event, std::move(observer)});
    auto& o = observers();
    std::lock_guard lock(o.mutex);
    std::erase_if(o.entries, [](const auto& weak) { return weak.expired(); });
    o.entries.push_back(entry);
    return entry;
}

void TLMApplicationLifecycle::post(TLMApplicationEvent event) {
    std::vector<std::shared_ptr<Entry>> due;
    {
        auto& o = observers();
        std::lock_guard lock(o.mutex);
        for (const auto& weak : o.entries) {
            auto entry = weak.lock();
            if (entry && entry->event == event) due.push_back(std::move(entry));
        }
    }
    for (const auto& entry : due) {
        if (entry->observer) entry->observer();
    }
}
