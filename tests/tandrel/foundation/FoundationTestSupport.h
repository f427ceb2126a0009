#pragma once
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "support/TempHome.h"

// Collects the lines the app logs while it exists (at the level mask given).
class CapturedLog {
public:
    explicit CapturedLog(unsigned level = 7) : sink_(std::make_shared<Sink>()) {
        xlog::setDynamicLogLevel(level);
        xlog::Log::addLogger(sink_);
    }
    ~CapturedLog() { xlog::Log::removeAllLoggers(); }
    std::vector<std::string> lines() {
        xlog::Log::sharedInstance().flush();
        std::lock_guard lock(sink_->mutex);
        return sink_->lines;
    }
    bool contains(const std::string& part) {
        auto all = lines();
        return std::any_of(all.begin(), all.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; });
    }

private:
    struct Sink final : xlog::Logger {
        std::mutex mutex;
        std::vector<std::string> lines;
        void writeLine(const xlog::Message&, const std::string& line) override {
            std::lock_guard lock(mutex);
            lines.push_back(line);
        }
    };
    std::shared_ptr<Sink> sink_;
};

// A temporary home whose settings store is fresh.
class AppHome : public testsupport::TempHome {
public:
    AppHome() { defaults::UserDefaults::resetStandardForTesting(); }
    ~AppHome() { defaults::UserDefaults::resetStandardForTesting(); }
};
