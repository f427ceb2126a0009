#pragma once
// The app's logger: five levels, each guarded by the process-wide level mask, written to the
// system log and to rolling files, every line "[run] message".
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/log/Log.h"

enum class app_environment { develop, production };

// "[run] message".
class AMZLogFormatter final : public xlog::Formatter {
public:
    std::string formatLogMessage(const xlog::Message& message) override;
    int64_t run = 0;
    std::string dateFormat = "yyyy-MM-dd HH:mm:ss:SSS";  // kept for callers; the line does not use it
};

// "[file:function:line L]: message" (not installed by setup).
class LogFormatter final : public xlog::Formatter {
public:
    std::string formatLogMessage(const xlog::Message& message) override;
};

class AMZLogger {
public:
    static AMZLogger& shared();

    // Sets the level mask, raises "xlog_run" by one and adds the system and file loggers.
    void setup(app_environment environment);

    void log_error(const std::string& message);
    void log_warn(const std::string& message);
    void log_info(const std::string& message);
    void log_verbose(const std::string& message);
    void log_exception(const std::string& message);

    static xlog::Message make_log_message(std::string message, unsigned level, unsigned flag, int context,
                                          std::string file, std::optional<std::string> function, unsigned line,
                                          std::optional<std::string> tag,
                                          std::optional<std::chrono::system_clock::time_point> timestamp);

    int64_t log_run = 0;
    std::shared_ptr<xlog::FileLogger> fileLogger;
    app_environment environment = app_environment::develop;

private:
    AMZLogger() = default;
};
