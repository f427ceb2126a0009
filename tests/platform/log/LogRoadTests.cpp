// Every logger of the program reaches the app's log files through platform/log, each line once:
// the app logger, the telemetry SDK's logger and the dynamic-messaging trace writer.
#include <gtest/gtest.h>

#include <QStringList>

#include "dynamic/Logger.h"
#include "platform/log/Log.h"
#include "support/TempHome.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tellium/TLMLogger.h"

namespace {

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

TEST(LogRoad, ALineOfEachLoggerLandsInTheLogFileOnce) {
    testsupport::TempHome home;
    const unsigned savedLevel = xlog::dynamicLogLevel();
    xlog::setDynamicLogLevel(31);
    auto file = std::make_shared<xlog::FileLogger>(home.state() / "logs");
    auto formatter = std::make_shared<AMZLogFormatter>();
    formatter->run = 7;
    file->setLogFormatter(formatter);
    xlog::Log::addLogger(file);
    TLMLogger::setCurrentLogLevel(TLMLogLevelInfo);

    AMZLogger::shared().log_info("app line 1f3a");
    TLMLogInfo(kTLMLogTag, "telemetry line 2b4c");
    TLMLogDebug(kTLMLogTag, "telemetry below its level 3c5d");
    dynamic::Logger::loggerFor(&home).log(QStringList{"trace", "line", "4d6e"});

    xlog::Log::removeAllLoggers();  // writes what is queued first
    TLMLogger::resetForTesting();
    xlog::setDynamicLogLevel(savedLevel);

    ASSERT_TRUE(file->currentLogFile());
    const std::string text = testsupport::readFile(*file->currentLogFile());
    EXPECT_EQ(occurrences(text, "[7] app line 1f3a\n"), 1u) << text;
    EXPECT_EQ(occurrences(text, "[7] [Tellium] INFO: "), 1u) << text;
    EXPECT_EQ(occurrences(text, " telemetry line 2b4c\n"), 1u) << text;
    EXPECT_EQ(occurrences(text, "3c5d"), 0u) << text;
    EXPECT_EQ(occurrences(text, "[7] trace line 4d6e\n"), 1u) << text;
}

}  // namespace
