#pragma once
// The telemetry SDK's own leveled logger. Every message of the SDK goes through it as a producer
// of its text, so a message below the current level is never formatted. The handler can be
// replaced by the application; the default one prints to standard error and hands the same line
// to the app's log (platform/log, Qt-free), which writes it to the log files the app set up.
#include <atomic>
#include <functional>
#include <memory>
#include <string>

enum TLMLogLevel : int {
    TLMLogLevelVerbose = 2,
    TLMLogLevelDebug = 3,
    TLMLogLevelInfo = 4,
    TLMLogLevelWarning = 5,
    TLMLogLevelError = 6,
    TLMLogLevelAssert = 7,
    TLMLogLevelNone = 99,
};

// The core's tag; each service logs with its own.
inline constexpr const char* kTLMLogTag = "Tellium";

using TLMLogMessageProvider = std::function<std::string()>;
using TLMLogHandler = std::function<void(const TLMLogMessageProvider& message, TLMLogLevel level,
                                         const std::string& tag, const char* file, const char* function,
                                         unsigned line)>;

class TLMLogger {
public:
    // Hands the message to the current handler, if any. Takes no lock: the handler is held in an
    // atomic shared pointer (TLMAtomicSharedPtr), so a concurrent setLogHandler never frees the one being called.
    static void logMessage(const TLMLogMessageProvider& message, TLMLogLevel level, const std::string& tag,
                           const char* file, const char* function, unsigned line);

    static TLMLogLevel currentLogLevel();
    static void setCurrentLogLevel(TLMLogLevel level);  // also marks the level as user-defined
    static TLMLogHandler logHandler();
    static void setLogHandler(TLMLogHandler handler);  // also marks the level as user-defined
    static bool isUserDefinedLogLevel();
    static void setIsUserDefinedLogLevel(bool value);

    // The name printed for a level ("VERBOSE" ... "ASSERT"; empty for other values).
    static const char* levelName(TLMLogLevel level);
    // The default handler's line for a message: "[tag] LEVEL: function/line text".
    static std::string formatLine(const std::string& tag, TLMLogLevel level, const char* function, unsigned line,
                                  const std::string& text);
    static TLMLogHandler defaultHandler();

    // Back to the initial state (level ASSERT, default handler, not user-defined). For tests.
    static void resetForTesting();
};

class TLMWrapperLogger {
public:
    static void TLMWrapperLog(const TLMLogMessageProvider& message, const std::string& tag, TLMLogLevel level);
};

#define TLM_LOG_AT(level, tag, ...) \
    TLMLogger::logMessage([&]() -> std::string { return (__VA_ARGS__); }, (level), (tag), __FILE__, __func__, __LINE__)
#define TLMLogVerbose(tag, ...) TLM_LOG_AT(TLMLogLevelVerbose, tag, __VA_ARGS__)
#define TLMLogDebug(tag, ...) TLM_LOG_AT(TLMLogLevelDebug, tag, __VA_ARGS__)
#define TLMLogInfo(tag, ...) TLM_LOG_AT(TLMLogLevelInfo, tag, __VA_ARGS__)
#define TLMLogWarning(tag, ...) TLM_LOG_AT(TLMLogLevelWarning, tag, __VA_ARGS__)
#define TLMLogError(tag, ...) TLM_LOG_AT(TLMLogLevelError, tag, __VA_ARGS__)
#define TLMLogAssert(tag, ...) TLM_LOG_AT(TLMLogLevelAssert, tag, __VA_ARGS__)
