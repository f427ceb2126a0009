#pragma once
// What the telemetry tests share: a throw-away home with a fresh settings store, a recorder of the
// SDK's log messages, a clock the test moves by hand, and sample records.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/TempHome.h"
#include "tellium/SampleDevice.h"
#include "tellium/TLMLogger.h"
#include "tellium/model/TLMAbstractLog.h"
#include "tellium/util/TLMClock.h"

namespace telltest {

// Runs this test program again as `<prefix> '<this program>' --gtest_filter=<filter>` through the
// shell (prefix: environment settings and a wrapper such as "unshare -rn"); hands back its exit
// status as pclose gives it, and its output with stderr in *output. -1 when it cannot start.
inline int runThisProgram(const std::string& prefix, const std::string& filter, std::string* output) {
    std::array<char, 4096> self{};
    const ssize_t n = readlink("/proc/self/exe", self.data(), self.size() - 1);
    if (n <= 0) return -1;
    const std::string command =
        prefix + " '" + std::string(self.data(), static_cast<std::size_t>(n)) + "' --gtest_filter=" + filter + " 2>&1";
    FILE* child = popen(command.c_str(), "r");
    if (!child) return -1;
    std::array<char, 512> chunk{};
    while (std::fgets(chunk.data(), static_cast<int>(chunk.size()), child)) output->append(chunk.data());
    return pclose(child);
}

struct LoggedMessage {
    TLMLogLevel level;
    std::string tag;
    std::string text;
    std::string function;
    unsigned line;
};

// Installs a handler that keeps every message (at any level); puts the logger back when gone.
class LogRecorder {
public:
    LogRecorder();
    ~LogRecorder();
    std::vector<LoggedMessage> messages() const;
    bool contains(const std::string& fragment, TLMLogLevel level) const;
    bool contains(const std::string& fragment) const;
    // Waits (up to 30 s) for the HTTP client's warning that the nth call failing at that attempt
    // with that status will be retried; the delay it chose, in milliseconds (-1, and a test
    // failure, when none came).
    long waitForRetryPlan(int attempt, long statusCode, std::size_t nth = 0) const;

private:
    struct State {
        mutable std::mutex mutex;
        std::vector<LoggedMessage> messages;
    };
    std::shared_ptr<State> state_;
};

// A clock that stands still until advanced; advancing fires the timers that fall due, in order,
// on their queues.
class ManualClock final : public TLMClock {
public:
    explicit ManualClock(TLMDate start);
    TLMDate now() override;
    std::shared_ptr<TLMTimer> schedule(dispatch::Queue& queue, std::chrono::nanoseconds delay,
                                       dispatch::Task task) override;
    void advance(std::chrono::nanoseconds by);
    void set(TLMDate to);

private:
    struct Entry;
    std::mutex mutex_;
    TLMDate now_;
    std::vector<std::shared_ptr<Entry>> entries_;
};

// Installs a manual clock as the SDK's clock for the scope.
class ScopedClock {
public:
    explicit ScopedClock(TLMDate start);
    ~ScopedClock();
    ManualClock& operator*() { return *clock_; }
    ManualClock* operator->() { return clock_.get(); }

private:
    std::shared_ptr<ManualClock> clock_;
};

// A fresh home (settings, data) for each test, the SDK's singletons reset, the logger reset.
class TelliumTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::unique_ptr<testsupport::TempHome> home_;
};

TLMDate utc(int year, int month, int day, int hour, int minute, int second = 0, int millis = 0);

}  // namespace telltest
