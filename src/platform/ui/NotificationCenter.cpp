#include "platform/ui/NotificationCenter.h"

#include <algorithm>

namespace ui {

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter* center = new NotificationCenter;  // lives for the process
    return *center;
}

void NotificationCenter::addObserver(QObject* observer, const QString& name, QObject* sender, Handler handler) {
    if (!observer || !handler) return;
    std::lock_guard lock(mutex_);
    entries_.push_back(Entry{observer, name, sender, sender == nullptr, std::move(handler)});
}

void NotificationCenter::removeObserver(QObject* observer) {
    std::lock_guard lock(mutex_);
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [observer](const Entry& e) { return !e.observer || e.observer == observer; }),
                   entries_.end());
}

int NotificationCenter::observationCount(const QObject* observer) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(entries_.begin(), entries_.end(),
                                          [observer](const Entry& e) { return e.observer && e.observer == observer; }));
}

void NotificationCenter::post(const Notification& notification) {
    std::vector<Handler> matching;
    {
        std::lock_guard lock(mutex_);
        entries_.erase(std::remove_if(entries_.begin(), entries_.end(), [](const Entry& e) { return !e.observer; }),
                       entries_.end());
        for (const Entry& e : entries_) {
            if (e.name != notification.name) continue;
            if (!e.anySender && (!e.sender || e.sender != notification.object)) continue;
            matching.push_back(e.handler);
        }
    }
    // Outside the lock: a handler may register or post in turn.
    for (const Handler& h : matching) h(notification);
}

}  // namespace ui
