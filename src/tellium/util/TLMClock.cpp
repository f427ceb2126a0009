#include "tellium/util/TLMClock.h"

#include "tellium/util/TLMAtomicSharedPtr.h"

namespace {

TLMAtomicSharedPtr<TLMClock>& clockSlot() {
    static auto* slot = new TLMAtomicSharedPtr<TLMClock>(std::make_shared<TLMSystemClock>());
    return *slot;
}

class DispatchTimer final : public TLMTimer {
public:
    DispatchTimer(dispatch::Queue& queue, std::chrono::milliseconds delay, dispatch::Task task)
        : timer_(queue, delay, std::move(task)) {}
    void cancel() override { timer_.cancel(); }

private:
    dispatch::Timer timer_;
};

}  // namespace

std::shared_ptr<TLMClock> TLMClock::current() { return clockSlot().load(); }

void TLMClock::setCurrent(std::shared_ptr<TLMClock> clock) {
    clockSlot().store(clock ? std::move(clock) : std::make_shared<TLMSystemClock>());
}

TLMDate TLMSystemClock::now() {
    return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now());
}

std::shared_ptr<TLMTimer> TLMSystemClock::schedule(dispatch::Queue& queue, std::chrono::nanoseconds delay,
                                                   dispatch::Task task) {
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(delay);
    if (ms.count() < 0) ms = std::chrono::milliseconds(0);
    return std::make_shared<DispatchTimer>(queue, ms, std::move(task));
}
