#include "platform/dispatch/ExitDrain.h"

#include <condition_variable>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

namespace dispatch {

namespace {

struct Entry {
    std::string label;
    DrainFunction drain;
};

struct Registry {
    std::mutex mutex;
    std::map<std::uint64_t, std::shared_ptr<Entry>> entries;
    std::uint64_t next = 1;
    bool exitHandlerInstalled = false;
};

// Never destroyed: drains may be unregistered by objects that outlive static destruction.
Registry& registry() {
    static auto* r = new Registry;
    return *r;
}

std::vector<std::shared_ptr<Entry>> snapshot() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    std::vector<std::shared_ptr<Entry>> out;
    out.reserve(r.entries.size());
    for (const auto& [id, entry] : r.entries) out.push_back(entry);
    return out;
}

bool stillRegistered(const std::shared_ptr<Entry>& entry) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    for (const auto& [id, e] : r.entries) {
        if (e == entry) return true;
    }
    return false;
}

// One round: every drain, in registration order, each until the shared deadline.
std::vector<std::string> waitForDrains(Clock::time_point deadline) {
    std::vector<std::string> unfinished;
    for (const auto& entry : snapshot()) {
        if (!stillRegistered(entry)) continue;  // its owner went while the others ran
        bool done = false;
        try {
            done = entry->drain(deadline);
        } catch (...) {
            done = false;
        }
        if (!done) unfinished.push_back(entry->label);
    }
    return unfinished;
}

// A program that returns from main without draining still lets the registered work end.
void drainAtProcessExit() { waitForDrains(Clock::now() + kExitDrainBound); }

}  // namespace

std::vector<std::string> waitForExitDrains(Clock::time_point deadline) { return waitForDrains(deadline); }

void asyncAwaitedAtExit(Queue& queue, std::string label, Task task) {
    struct Progress {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
    };
    auto progress = std::make_shared<Progress>();
    auto drain = std::make_shared<ExitDrain>(std::move(label), [progress](Clock::time_point deadline) {
        std::unique_lock lock(progress->mutex);
        return progress->ended.wait_until(lock, deadline, [&] { return progress->done; });
    });
    queue.async([task = std::move(task), progress, drain = std::move(drain)]() mutable {
        try {
            task();
        } catch (...) {
            // The task's own failure stays with it; the wait for it ends all the same.
        }
        task = nullptr;  // what it holds goes before the wait ends
        {
            std::lock_guard lock(progress->mutex);
            progress->done = true;
        }
        progress->ended.notify_all();
        drain.reset();
    });
}

ExitDrain::ExitDrain(std::string label, DrainFunction drain) {
    auto entry = std::make_shared<Entry>();
    entry->label = std::move(label);
    entry->drain = std::move(drain);
    auto& r = registry();
    bool install = false;
    {
        std::lock_guard lock(r.mutex);
        id_ = r.next++;
        r.entries.emplace(id_, std::move(entry));
        install = !r.exitHandlerInstalled;
        r.exitHandlerInstalled = true;
    }
    if (install) std::atexit(drainAtProcessExit);
}

ExitDrain::~ExitDrain() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.entries.erase(id_);
}

DrainFunction queueDrain(Queue& queue) {
    return [&queue](Clock::time_point deadline) {
        // A marker queued behind the work: when it runs, everything before it has.
        struct Marker {
            std::mutex mutex;
            std::condition_variable ran;
            bool done = false;
        };
        auto marker = std::make_shared<Marker>();
        queue.async([marker] {
            std::lock_guard lock(marker->mutex);
            marker->done = true;
            marker->ran.notify_all();
        });
        std::unique_lock lock(marker->mutex);
        return marker->ran.wait_until(lock, deadline, [&] { return marker->done; });
    };
}

std::vector<std::string> drainBeforeExit(Clock::time_point deadline) {
    drainMainQueueBefore(deadline);
    for (;;) {
        auto unfinished = waitForDrains(deadline);
        // The completions of what just ended may have queued main-queue work, and that work more
        // writes: another round then, until a round leaves the main queue empty.
        const std::size_t ran = drainMainQueueBefore(deadline);
        if (ran == 0 || Clock::now() >= deadline) {
            if (ran != 0) unfinished = waitForDrains(deadline);
            return unfinished;
        }
    }
}

std::vector<std::string> registeredExitDrains() {
    std::vector<std::string> labels;
    for (const auto& entry : snapshot()) labels.push_back(entry->label);
    return labels;
}

}  // namespace dispatch
