#pragma once
// Collects the lines the app logs while it lives, at the level mask given (every level by
// default); the mask in force before is put back afterwards.
#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/log/Log.h"

namespace testlog {

class LogCapture {
public:
    explicit LogCapture(unsigned level = 31) : sink_(std::make_shared<Sink>()), savedLevel_(xlog::dynamicLogLevel()) {
        xlog::setDynamicLogLevel(level);
        xlog::Log::addLogger(sink_);
    }
    ~LogCapture() {
        xlog::Log::removeAllLoggers();
        xlog::setDynamicLogLevel(savedLevel_);
    }

    std::vector<std::string> lines() {
        xlog::Log::sharedInstance().flush();
        std::lock_guard lock(sink_->mutex);
        return sink_->lines;
    }
    size_t count(const std::string& part) {
        auto all = lines();
        return static_cast<size_t>(std::count_if(all.begin(), all.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; }));
    }
    bool contains(const std::string& part) { return count(part) > 0; }

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
    unsigned savedLevel_;
};

}  // namespace testlog
