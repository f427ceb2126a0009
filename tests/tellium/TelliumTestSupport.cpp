#include "TelliumTestSupport.h"

#include <algorithm>
#include <chrono>
#include <regex>
#include <thread>

#include "platform/defaults/UserDefaults.h"
#include "tellium/TLMTellium.h"
#include "tellium/context/TLMDeviceTracker.h"
#include "tellium/context/TLMSessionContext.h"
#include "tellium/context/TLMUserIdContext.h"
#include "tellium/util/TLMPlatformHooks.h"

namespace telltest {

LogRecorder::LogRecorder() : state_(std::make_shared<State>()) {
    TLMLogger::setCurrentLogLevel(TLMLogLevelVerbose);
    TLMLogger::setLogHandler([state = state_](const TLMLogMessageProvider& message, TLMLogLevel level,
                                              const std::string& tag, const char*, const char* function, unsigned line) {
        if (!message) return;
        std::string text = message();
        std::lock_guard lock(state->mutex);
        state->messages.push_back({level, tag, std::move(text), function ? function : "", line});
    });
}

LogRecorder::~LogRecorder() { TLMLogger::resetForTesting(); }

std::vector<LoggedMessage> LogRecorder::messages() const {
    std::lock_guard lock(state_->mutex);
    return state_->messages;
}

bool LogRecorder::contains(const std::string& fragment, TLMLogLevel level) const {
    std::lock_guard lock(state_->mutex);
    return std::any_of(state_->messages.begin(), state_->messages.end(), [&](const LoggedMessage& m) {
        return m.level == level && m.text.find(fragment) != std::string::npos;
    });
}

bool LogRecorder::contains(const std::string& fragment) const {
    std::lock_guard lock(state_->mutex);
    return std::any_of(state_->messages.begin(), state_->messages.end(),
                       [&](const LoggedMessage& m) { return m.text.find(fragment) != std::string::npos; });
}

// ---- manual clock --------------------------------------------------------------------------

struct ManualClock::Entry : TLMTimer {
    TLMDate due;
    dispatch::Queue* queue;
    dispatch::Task task;
    std::atomic<bool> cancelled{false};
    void cancel() override { cancelled = true; }
};

ManualClock::ManualClock(TLMDate start) : now_(start) {}

TLMDate ManualClock::now() {
    std::lock_guard lock(mutex_);
    return now_;
}

std::shared_ptr<TLMTimer> ManualClock::schedule(dispatch::Queue& queue, std::chrono::nanoseconds delay,
                                                dispatch::Task task) {
    auto entry = std::make_shared<Entry>();
    entry->queue = &queue;
    entry->task = std::move(task);
    std::lock_guard lock(mutex_);
    entry->due = now_ + delay;
    entries_.push_back(entry);
    return entry;
}

void ManualClock::advance(std::chrono::nanoseconds by) { set(now() + by); }

void ManualClock::set(TLMDate to) {
    for (;;) {
        std::shared_ptr<Entry> next;
        {
            std::lock_guard lock(mutex_);
            auto it = std::min_element(entries_.begin(), entries_.end(),
                                       [](const auto& a, const auto& b) { return a->due < b->due; });
            if (it == entries_.end() || (*it)->due > to) {
                now_ = to;
                return;
            }
            next = *it;
            entries_.erase(it);
            if (next->due > now_) now_ = next->due;
        }
        if (!next->cancelled) {
            std::weak_ptr<Entry> weak = next;
            next->queue->async([weak] {
                if (auto e = weak.lock(); e && !e->cancelled) e->task();
            });
        }
    }
}

ScopedClock::ScopedClock(TLMDate start) : clock_(std::make_shared<ManualClock>(start)) { TLMClock::setCurrent(clock_); }
ScopedClock::~ScopedClock() { TLMClock::setCurrent(nullptr); }

// ---- fixture -------------------------------------------------------------------------------

namespace {
void resetSingletons() {
    TLMTellium::resetSharedInstance();
    TLMTellium::resetForTesting();
    TLMTellium::setChannelGroupFactory(nullptr);
    TLMDeviceTracker::resetSharedInstance();
    TLMSessionContext::resetSharedInstance();
    TLMUserIdContext::resetSharedInstance();
    defaults::UserDefaults::resetStandardForTesting();
    TLMPlatform::setHooks({});
    TLMLogger::resetForTesting();
}
}  // namespace

void TelliumTest::SetUp() {
    home_ = std::make_unique<testsupport::TempHome>();
    resetSingletons();
}

void TelliumTest::TearDown() {
    resetSingletons();
    home_.reset();
}

TLMDate utc(int year, int month, int day, int hour, int minute, int second, int millis) {
    using namespace std::chrono;
    auto d = sys_days(year_month_day{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                                     std::chrono::day(static_cast<unsigned>(day))});
    return time_point_cast<nanoseconds>(d + hours(hour) + minutes(minute) + seconds(second) + milliseconds(millis));
}

}  // namespace telltest

long telltest::LogRecorder::waitForRetryPlan(int attempt, long statusCode, std::size_t nth) const {
    const std::regex pattern("Call attempt #" + std::to_string(attempt) + " failed with status code: " +
                             std::to_string(statusCode) + ", it will be retried in ([0-9]+) ms\\.");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        std::vector<long> delays;
        for (const auto& message : messages()) {
            std::smatch match;
            if (message.level == TLMLogLevelWarning && std::regex_search(message.text, match, pattern)) {
                delays.push_back(std::stol(match[1]));
            }
        }
        if (delays.size() > nth) return delays[nth];
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "no retry planned for attempt #" << attempt;
    return -1;
}
