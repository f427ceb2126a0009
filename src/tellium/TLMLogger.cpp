#include "tellium/TLMLogger.h"

#include "platform/log/Log.h"
#include "tellium/util/TLMAtomicSharedPtr.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <unistd.h>

namespace {

std::mutex g_lock;  // guards writes of the level and the handler
std::atomic<int> g_level{TLMLogLevelAssert};
std::atomic<bool> g_userDefined{false};

TLMAtomicSharedPtr<const TLMLogHandler>& handlerSlot() {
    static auto* slot =
        new TLMAtomicSharedPtr<const TLMLogHandler>(std::make_shared<const TLMLogHandler>(TLMLogger::defaultHandler()));
    return *slot;
}

unsigned logFlag(TLMLogLevel level) {
    switch (level) {
        case TLMLogLevelVerbose: return xlog::FlagVerbose;
        case TLMLogLevelDebug: return xlog::FlagDebug;
        case TLMLogLevelInfo: return xlog::FlagInfo;
        case TLMLogLevelWarning: return xlog::FlagWarning;
        default: return xlog::FlagError;
    }
}

// The same line in the app's log (its files and the system log, when the app added them).
void logLine(const std::string& line, TLMLogLevel level, const char* file, const char* function, unsigned lineNo) {
    xlog::Message message;
    message.message = line;
    message.flag = logFlag(level);
    message.file = file ? file : "";
    message.function = function ? function : "";
    message.line = lineNo;
    message.tag = "tellium";
    xlog::Log::sharedInstance().log(xlog::asyncLoggingEnabled(), std::move(message));
}

void printLine(const std::string& line) {
    // The console log's usual prefix: local time with milliseconds and the process id.
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t t = system_clock::to_time_t(now);
    std::tm tm{};
    localtime_r(&t, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
    auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::fprintf(stderr, "%s.%03d tellium[%d] %s\n", stamp, static_cast<int>(ms), static_cast<int>(getpid()),
                 line.c_str());
}

}  // namespace

const char* TLMLogger::levelName(TLMLogLevel level) {
    switch (level) {
        case TLMLogLevelVerbose: return "VERBOSE";
        case TLMLogLevelDebug: return "DEBUG";
        case TLMLogLevelInfo: return "INFO";
        case TLMLogLevelWarning: return "WARNING";
        case TLMLogLevelError: return "ERROR";
        case TLMLogLevelAssert: return "ASSERT";
        default: return "";
    }
}

std::string TLMLogger::formatLine(const std::string& tag, TLMLogLevel level, const char* function, unsigned line,
                                  const std::string& text) {
    std::string out;
    out.reserve(tag.size() + text.size() + 48);
    out += '[';
    out += tag;
    out += "] ";
    out += levelName(level);
    out += ": ";
    out += function ? function : "";
    out += '/';
    out += std::to_string(line);
    out += ' ';
    out += text;
    return out;
}

TLMLogHandler TLMLogger::defaultHandler() {
    return [](const TLMLogMessageProvider& message, TLMLogLevel level, const std::string& tag, const char* file,
              const char* function, unsigned line) {
        if (level < g_level.load(std::memory_order_relaxed) || !message) return;
        if (level == TLMLogLevelNone) return;
        const std::string text = formatLine(tag, level, function, line, message());
        printLine(text);
        logLine(text, level, file, function, line);
    };
}

void TLMLogger::logMessage(const TLMLogMessageProvider& message, TLMLogLevel level, const std::string& tag,
                           const char* file, const char* function, unsigned line) {
    auto handler = handlerSlot().load();
    if (handler && *handler) (*handler)(message, level, tag, file, function, line);
}

TLMLogLevel TLMLogger::currentLogLevel() {
    std::lock_guard lock(g_lock);
    return static_cast<TLMLogLevel>(g_level.load());
}

void TLMLogger::setCurrentLogLevel(TLMLogLevel level) {
    std::lock_guard lock(g_lock);
    g_userDefined = true;
    g_level = level;
}

TLMLogHandler TLMLogger::logHandler() {
    std::lock_guard lock(g_lock);
    auto handler = handlerSlot().load();
    return handler ? *handler : TLMLogHandler();
}

void TLMLogger::setLogHandler(TLMLogHandler handler) {
    std::lock_guard lock(g_lock);
    g_userDefined = true;
    handlerSlot().store(handler ? std::make_shared<const TLMLogHandler>(std::move(handler)) : nullptr);
}

bool TLMLogger::isUserDefinedLogLevel() { return g_userDefined.load(); }
void TLMLogger::setIsUserDefinedLogLevel(bool value) { g_userDefined = value; }

void TLMLogger::resetForTesting() {
    std::lock_guard lock(g_lock);
    g_level = TLMLogLevelAssert;
    g_userDefined = false;
    handlerSlot().store(std::make_shared<const TLMLogHandler>(defaultHandler()));
}

void TLMWrapperLogger::TLMWrapperLog(const TLMLogMessageProvider& message, const std::string& tag, TLMLogLevel level) {
    TLMLogger::logMessage(message, level, tag, __FILE__, __func__, __LINE__);
}
