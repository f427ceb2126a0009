#include "platform/log/Log.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <functional>

#include <spdlog/sinks/daily_file_sink.h>
#include <spdlog/sinks/syslog_sink.h>
#include <spdlog/spdlog.h>

#include "platform/dispatch/Dispatch.h"

namespace xlog {

namespace {
std::atomic<unsigned> g_level{0};
std::atomic<bool> g_async{true};
std::atomic<uint64_t> g_sinkCounter{0};

std::shared_ptr<spdlog::logger> makeLogger(std::shared_ptr<spdlog::sinks::sink> sink) {
    auto name = "xlog-" + std::to_string(++g_sinkCounter);
    auto logger = std::make_shared<spdlog::logger>(name, std::move(sink));
    logger->set_pattern("%v");
    logger->set_level(spdlog::level::trace);
    logger->flush_on(spdlog::level::trace);
    return logger;
}

spdlog::level::level_enum spdLevel(unsigned flag) {
    switch (flag) {
        case FlagError: return spdlog::level::err;
        case FlagWarning: return spdlog::level::warn;
        case FlagInfo: return spdlog::level::info;
        case FlagDebug: return spdlog::level::debug;
        default: return spdlog::level::trace;
    }
}
}  // namespace

unsigned dynamicLogLevel() { return g_level.load(std::memory_order_relaxed); }
void setDynamicLogLevel(unsigned level) { g_level.store(level); }
bool asyncLoggingEnabled() { return g_async.load(); }
void setAsyncLoggingEnabled(bool enabled) { g_async.store(enabled); }

void logWarning(std::string text, const char* file, const char* function, int line) {
    if ((dynamicLogLevel() & FlagWarning) == 0) return;
    Message m;
    m.message = std::move(text);
    m.flag = FlagWarning;
    m.file = file;
    m.function = function;
    m.line = line;
    m.options = 3;
    Log::sharedInstance().log(asyncLoggingEnabled(), std::move(m));
}

std::string Message::fileName() const {
    return std::filesystem::path(file).stem().string();
}

void Logger::setLogFormatter(std::shared_ptr<Formatter> formatter) {
    std::lock_guard lock(mutex_);
    formatter_ = std::move(formatter);
}

std::shared_ptr<Formatter> Logger::logFormatter() const {
    std::lock_guard lock(mutex_);
    return formatter_;
}

void Logger::logMessage(const Message& message) {
    auto formatter = logFormatter();
    writeLine(message, formatter ? formatter->formatLogMessage(message) : message.message);
}

// ---- system log ----------------------------------------------------------------------------

std::shared_ptr<SystemLogger> SystemLogger::sharedInstance() {
    static auto instance = std::make_shared<SystemLogger>();
    return instance;
}

SystemLogger::SystemLogger()
    : sink_(makeLogger(std::make_shared<spdlog::sinks::syslog_sink_mt>("DravixFTPClient", 0, LOG_USER, false))) {}

void SystemLogger::writeLine(const Message& message, const std::string& line) {
    sink_->log(spdLevel(message.flag), "{}", line);
}

// ---- rolling files -------------------------------------------------------------------------

std::filesystem::path FileLogger::defaultDirectory() {
    std::filesystem::path base;
    if (const char* x = std::getenv("XDG_STATE_HOME"); x && *x) base = x;
    else if (const char* h = std::getenv("HOME"); h && *h) base = std::filesystem::path(h) / ".local" / "state";
    else base = std::filesystem::temp_directory_path();
    return base / "DravixFTPClient" / "logs";
}

struct FileLogger::DailyFiles {
    DailyFiles(const std::filesystem::path& base, unsigned maxFiles)
        : sink(base.string(), 0, 0, false, static_cast<uint16_t>(maxFiles)) {
        sink.set_pattern("%v");
    }
    spdlog::sinks::daily_file_sink_mt sink;
};

FileLogger::FileLogger() : FileLogger(defaultDirectory()) {}

FileLogger::FileLogger(std::filesystem::path directory)
    : directory_(std::move(directory)), clock_([] { return std::chrono::system_clock::now(); }) {}

FileLogger::~FileLogger() { flush(); }

void FileLogger::setRollingFrequency(double seconds) {
    std::lock_guard lock(fileMutex_);
    rollingFrequency_ = seconds;
}
double FileLogger::rollingFrequency() const {
    std::lock_guard lock(fileMutex_);
    return rollingFrequency_;
}
void FileLogger::setMaximumNumberOfLogFiles(unsigned count) {
    std::lock_guard lock(fileMutex_);
    maxFiles_ = count;
    pruneLocked();
}
unsigned FileLogger::maximumNumberOfLogFiles() const {
    std::lock_guard lock(fileMutex_);
    return maxFiles_;
}
std::optional<std::filesystem::path> FileLogger::currentLogFile() const {
    std::lock_guard lock(fileMutex_);
    return current_;
}
void FileLogger::setClockForTesting(std::function<std::chrono::system_clock::time_point()> clock) {
    std::lock_guard lock(fileMutex_);
    clock_ = std::move(clock);
}

std::vector<std::filesystem::path> FileLogger::sortedLogFiles() const {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(directory_, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        if (it->is_regular_file() && it->path().extension() == ".log") files.push_back(it->path());
    }
    // Names carry a sortable time stamp, so name order is age order.
    std::sort(files.begin(), files.end());
    return files;
}

// One file per local day ("DravixFTPClient_yyyy-mm-dd.log"), appended to by every launch of that
// day; the sink starts the next day's file at midnight and deletes the oldest beyond the limit.
void FileLogger::openFileLocked() {
    std::error_code ec;
    std::filesystem::create_directories(directory_, ec);
    try {
        sink_ = std::make_unique<DailyFiles>(directory_ / "DravixFTPClient.log", maxFiles_);
    } catch (const std::exception&) {
        sink_.reset();  // the folder is not writable: lines are dropped, nothing else fails
        current_.reset();
        return;
    }
    current_ = std::filesystem::path(sink_->sink.filename());
    pruneLocked();
}

void FileLogger::pruneLocked() {
    // The sink only knows the files of the days just before today; files of earlier days (the
    // app was not used every day) are removed here, oldest first, as the names sort by date.
    if (maxFiles_ == 0) return;
    auto files = sortedLogFiles();
    std::error_code ec;
    while (files.size() > maxFiles_) {
        if (current_ && files.front() == *current_) break;
        std::filesystem::remove(files.front(), ec);
        files.erase(files.begin());
    }
}

void FileLogger::writeLine(const Message& message, const std::string& line) {
    std::lock_guard lock(fileMutex_);
    if (!sink_) openFileLocked();
    if (!sink_) return;
    const spdlog::details::log_msg msg(clock_(), spdlog::source_loc{}, "xlog", spdLevel(message.flag), line);
    try {
        sink_->sink.log(msg);
        sink_->sink.flush();
    } catch (const std::exception&) {
        return;  // a full disk or a removed folder: the line is lost, the caller is not disturbed
    }
    std::filesystem::path now(sink_->sink.filename());
    if (current_ != now) {
        current_ = now;
        pruneLocked();
    }
}

void FileLogger::flush() {
    std::lock_guard lock(fileMutex_);
    if (sink_) sink_->sink.flush();
}

// ---- hub -----------------------------------------------------------------------------------

struct Log::Impl {
    std::mutex mutex;
    std::vector<std::shared_ptr<Logger>> loggers;
    dispatch::SerialQueue queue{"xlog"};

    std::vector<std::shared_ptr<Logger>> snapshot() {
        std::lock_guard lock(mutex);
        return loggers;
    }
    void write(const Message& m) {
        for (auto& l : snapshot()) l->logMessage(m);
    }
};

Log::Log() : impl_(std::make_shared<Impl>()) {}

Log& Log::sharedInstance() {
    static Log* log = new Log;  // lives until exit, so late log calls stay safe
    return *log;
}

void Log::addLogger(std::shared_ptr<Logger> logger) {
    auto& impl = *sharedInstance().impl_;
    std::lock_guard lock(impl.mutex);
    impl.loggers.push_back(std::move(logger));
}

void Log::removeAllLoggers() {
    auto& log = sharedInstance();
    log.flush();
    std::lock_guard lock(log.impl_->mutex);
    log.impl_->loggers.clear();
}

void Log::log(bool asynchronous, Message message) {
    auto impl = impl_;
    if (asynchronous) {
        impl->queue.async([impl, m = std::move(message)] { impl->write(m); });
    } else if (impl->queue.isCurrent()) {
        impl->write(message);
    } else {
        impl->queue.sync([&] { impl->write(message); });
    }
}

void Log::flush() {
    auto impl = impl_;
    auto work = [impl] {
        for (auto& l : impl->snapshot()) l->flush();
    };
    if (impl->queue.isCurrent()) work();
    else impl->queue.sync(work);
}

}  // namespace xlog
