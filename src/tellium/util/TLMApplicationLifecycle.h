#pragma once
// The application's life-cycle events as the telemetry SDK hears of them. The SDK has no event
// loop or notification centre of its own: the application posts these (from its GUI toolkit's
// state changes, for example) and the SDK's parts observe them. Observers run on the posting
// thread, outside the notifier's lock, in the order they were added.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

enum class TLMApplicationEvent {
    didEnterBackground,   // the application is no longer in front (hidden, minimised, inactive)
    willEnterForeground,  // it is coming back to the front
    willTerminate,        // the process is about to end: last chance to finish queued work
};

class TLMApplicationLifecycle {
public:
    using Observer = std::function<void()>;

    static TLMApplicationLifecycle& shared();

    // The token removes the observer again; 0 is never a token.
    uint64_t addObserver(TLMApplicationEvent event, Observer observer);
    void removeObserver(uint64_t token);
    // Calls every observer of the event; returns when they have all run.
    void post(TLMApplicationEvent event);

private:
    struct Entry {
        TLMApplicationEvent event;
        Observer observer;
    };
    std::mutex mutex_;
    uint64_t nextToken_ = 1;
    std::map<uint64_t, Entry> observers_;
};
