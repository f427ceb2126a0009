#include "tandrel/foundation/AMZLogger.h"

#include "tandrel/foundation/UserPrefs.h"

AMZLogger& AMZLogger::shared() {
    static AMZLogger* logger = new AMZLogger;  // lives until exit: log calls stay safe during shutdown
    return *logger;
}

std::string AMZLogFormatter::formatLogMessage(const xlog::Message& message) {
    return "[" + std::to_string(run) + "] " + message.message;
}

std::string LogFormatter::formatLogMessage(const xlog::Message& message) {
    std::string letter;
    switch (message.level) {
        case 1: letter = "E"; break;
        case 3: letter = "W"; break;
        case 7: letter = "I"; break;
        case 15: letter = "D"; break;
        case 31: letter = "V"; break;
        default: break;
    }
    return "[" + message.fileName() + ":" + message.function + ":" + std::to_string(message.line) + " " + letter +
           "]: " + message.message;
}

void AMZLogger::setup(app_environment env) {
    environment = env;
    xlog::setDynamicLogLevel(env == app_environment::production ? 3u : 7u);

    auto& store = UserPrefs::user_defaults();
    log_run = store.integerForKey("xlog_run") + 1;
    store.setInteger("xlog_run", log_run);
    store.synchronize();

    auto formatter = std::make_shared<AMZLogFormatter>();
    formatter->run = log_run;

    auto system = xlog::SystemLogger::sharedInstance();
    system->setLogFormatter(formatter);
    xlog::Log::addLogger(system);

    auto file = std::make_shared<xlog::FileLogger>();
    file->setRollingFrequency(86400);
    file->setMaximumNumberOfLogFiles(3);
    file->setLogFormatter(formatter);
    xlog::Log::addLogger(file);
    fileLogger = file;
}

xlog::Message AMZLogger::make_log_message(std::string message, unsigned level, unsigned flag, int context,
                                          std::string file, std::optional<std::string> function, unsigned line,
                                          std::optional<std::string> tag,
                                          std::optional<std::chrono::system_clock::time_point> timestamp) {
    xlog::Message m;
    m.message = std::move(message);
    m.level = level;
    m.flag = flag;
    m.context = context;
    m.file = std::move(file);
    m.function = function.value_or("");
    m.line = line;
    m.tag = std::move(tag);
    m.options = 3;
    if (timestamp) m.timestamp = *timestamp;
    return m;
}

// Each operation tests its flag first, so a disabled level costs only that test.
#define AMZ_LOG(FLAG, FUNC, ASYNC)                                                                          \
    do {                                                                                                    \
        if ((xlog::dynamicLogLevel() & (FLAG)) == 0) return;                                                \
        xlog::Log::sharedInstance().log(ASYNC, make_log_message(message, ~0u, FLAG, 0, __FILE__, FUNC,      \
                                                                __LINE__, std::nullopt, std::nullopt));     \
    } while (0)

void AMZLogger::log_error(const std::string& message) { AMZ_LOG(xlog::FlagError, "log_error(_:)", false); }
void AMZLogger::log_warn(const std::string& message) { AMZ_LOG(xlog::FlagWarning, "log_warn(_:)", xlog::asyncLoggingEnabled()); }
void AMZLogger::log_info(const std::string& message) { AMZ_LOG(xlog::FlagInfo, "log_info(_:)", xlog::asyncLoggingEnabled()); }
void AMZLogger::log_verbose(const std::string& message) { AMZ_LOG(xlog::FlagVerbose, "log_verbose(_:)", xlog::asyncLoggingEnabled()); }
void AMZLogger::log_exception(const std::string& message) { AMZ_LOG(xlog::FlagError, "log_exception(_:)", false); }
