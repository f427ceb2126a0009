#pragma once
// The logging layer under the app's logger: messages with a level flag, a process-wide level mask,
// an asynchronous switch, and loggers (system log, rolling files) that turn a message into a line
// through their formatter. Written on spdlog.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace spdlog { class logger; }

namespace xlog {

enum Flag : unsigned { FlagError = 1, FlagWarning = 2, FlagInfo = 4, FlagDebug = 8, FlagVerbose = 16 };

struct Message {
    std::string message;
    unsigned level = ~0u;
    unsigned flag = 0;
    int context = 0;
    std::string file;      // full source path
    std::string function;
    unsigned line = 0;
    std::optional<std::string> tag;
    unsigned options = 0;  // 1: copy file, 2: copy function (kept for callers; strings are always owned)
    std::chrono::system_clock::time_point timestamp = std::chrono::system_clock::now();

    // The file's name without folders or extension.
    std::string fileName() const;
};

class Formatter {
public:
    virtual ~Formatter() = default;
    virtual std::string formatLogMessage(const Message& message) = 0;
};

class Logger {
public:
    virtual ~Logger() = default;
    void setLogFormatter(std::shared_ptr<Formatter> formatter);
    std::shared_ptr<Formatter> logFormatter() const;
    // Formats (the plain message when no formatter is set) and writes one line.
    void logMessage(const Message& message);
    virtual void flush() {}

protected:
    virtual void writeLine(const Message& message, const std::string& line) = 0;

private:
    mutable std::mutex mutex_;
    std::shared_ptr<Formatter> formatter_;
};

// Writes to the system log (syslog, ident "DravixFTPClient").
class SystemLogger final : public Logger {
public:
    static std::shared_ptr<SystemLogger> sharedInstance();
    SystemLogger();

protected:
    void writeLine(const Message& message, const std::string& line) override;

private:
    std::shared_ptr<spdlog::logger> sink_;
};

// Writes to files in one folder, one file per local day (every launch of the day appends to it),
// deleting the oldest beyond the maximum number of files.
class FileLogger final : public Logger {
public:
    // Default folder: $XDG_STATE_HOME (or ~/.local/state) / DravixFTPClient / logs.
    FileLogger();
    explicit FileLogger(std::filesystem::path directory);
    ~FileLogger() override;

    static std::filesystem::path defaultDirectory();

    // Kept for the callers; files roll at local midnight, one per day.
    void setRollingFrequency(double seconds);
    double rollingFrequency() const;
    void setMaximumNumberOfLogFiles(unsigned count);
    unsigned maximumNumberOfLogFiles() const;
    const std::filesystem::path& directory() const { return directory_; }
    // The file being written, once a line has been written.
    std::optional<std::filesystem::path> currentLogFile() const;
    // Log files of the folder, oldest first.
    std::vector<std::filesystem::path> sortedLogFiles() const;
    void flush() override;

    // For tests: the clock the roll decision reads.
    void setClockForTesting(std::function<std::chrono::system_clock::time_point()> clock);

protected:
    void writeLine(const Message& message, const std::string& line) override;

private:
    void openFileLocked();
    void pruneLocked();

    std::filesystem::path directory_;
    mutable std::mutex fileMutex_;
    double rollingFrequency_ = 86400;
    unsigned maxFiles_ = 5;
    struct DailyFiles;
    std::unique_ptr<DailyFiles> sink_;
    std::optional<std::filesystem::path> current_;
    std::function<std::chrono::system_clock::time_point()> clock_;
};

// The hub: the loggers added to it receive every message handed to log().
class Log {
public:
    static Log& sharedInstance();
    static void addLogger(std::shared_ptr<Logger> logger);
    static void removeAllLoggers();

    // Asynchronous messages are written on the hub's queue; synchronous ones are written before
    // the call returns (after every message queued before them).
    void log(bool asynchronous, Message message);
    // Waits until every queued message has been written and the loggers flushed.
    void flush();

private:
    Log();
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

unsigned dynamicLogLevel();
void setDynamicLogLevel(unsigned level);
bool asyncLoggingEnabled();
void setAsyncLoggingEnabled(bool enabled);

// A warning of the platform layers, when warnings are logged: `file`, `function` and `line` say
// where it comes from (pass __FILE__ and __LINE__).
void logWarning(std::string text, const char* file, const char* function, int line);

}  // namespace xlog
