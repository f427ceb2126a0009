#include "tellium/util/TLMApplicationLifecycle.h"

TLMApplicationLifecycle& TLMApplicationLifecycle::shared() {
    static auto* instance = new TLMApplicationLifecycle;  // lives for the process, also in exit handlers
    return *instance;
}

uint64_t TLMApplicationLifecycle::addObserver(TLMApplicationEvent event, Observer observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t token = nextToken_++;
    observers_.emplace(token, Entry{event, std::move(observer)});
    return token;
}

void TLMApplicationLifecycle::removeObserver(uint64_t token) {
    std::lock_guard<std::mutex> lock(mutex_);
    observers_.erase(token);
}

void TLMApplicationLifecycle::post(TLMApplicationEvent event) {
    std::vector<Observer> snapshot;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [token, entry] : observers_) {
            if (entry.event == event && entry.observer) snapshot.push_back(entry.observer);
        }
    }
    for (const auto& observer : snapshot) observer();
}
