#pragma once
// Time for the SDK: the wall clock its records are stamped with and the one-shot timers its
// queues run. Both come through one replaceable clock, so tests can drive minutes of flush and
// retry intervals in virtual time.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/dispatch/Dispatch.h"

// A point in time, nanoseconds since 1970 UTC.
using TLMDate = std::chrono::time_point<std::chrono::system_clock, std::chrono::nanoseconds>;

inline TLMDate TLMDateFromNanoseconds(int64_t ns) { return TLMDate(std::chrono::nanoseconds(ns)); }
inline int64_t TLMDateToNanoseconds(TLMDate d) { return d.time_since_epoch().count(); }
inline TLMDate TLMDateFromMilliseconds(int64_t ms) { return TLMDate(std::chrono::milliseconds(ms)); }

// A scheduled one-shot task; cancel() (or dropping the last handle) keeps it from running.
class TLMTimer {
public:
    virtual ~TLMTimer() = default;
    virtual void cancel() = 0;
};

class TLMClock {
public:
    virtual ~TLMClock() = default;
    virtual TLMDate now() = 0;
    // Runs the task on the queue once the delay has passed, unless the handle is cancelled or gone.
    virtual std::shared_ptr<TLMTimer> schedule(dispatch::Queue& queue, std::chrono::nanoseconds delay,
                                               dispatch::Task task) = 0;

    // The clock the SDK uses (the system clock unless one was installed).
    static std::shared_ptr<TLMClock> current();
    static void setCurrent(std::shared_ptr<TLMClock> clock);  // nullptr: back to the system clock
};

// The system clock with dispatch timers.
class TLMSystemClock final : public TLMClock {
public:
    TLMDate now() override;
    std::shared_ptr<TLMTimer> schedule(dispatch::Queue& queue, std::chrono::nanoseconds delay,
                                       dispatch::Task task) override;
};
