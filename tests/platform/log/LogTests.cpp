#include <gtest/gtest.h>

#include "platform/log/Log.h"
#include "support/TempHome.h"

using namespace std::chrono_literals;

namespace {
class Upper final : public xlog::Formatter {
public:
    std::string formatLogMessage(const xlog::Message& m) override { return "<" + m.message + ">"; }
};
}  // namespace

TEST(FileLogger, RollsByAgeAndKeepsAtMostTheMaximum) {
    testsupport::TempHome home;
    auto logger = std::make_shared<xlog::FileLogger>(home.state() / "logs");
    auto now = std::chrono::system_clock::now();
    logger->setClockForTesting([&] { return now; });
    logger->setRollingFrequency(86400);
    logger->setMaximumNumberOfLogFiles(3);
    logger->setLogFormatter(std::make_shared<Upper>());

    xlog::Message m;
    m.message = "first";
    logger->logMessage(m);
    m.message = "same day";
    now += 3600s;
    logger->logMessage(m);
    logger->flush();
    auto files = logger->sortedLogFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(testsupport::readFile(files[0]), "<first>\n<same day>\n");

    for (int day = 1; day <= 4; ++day) {
        now += 86400s;
        m.message = "day " + std::to_string(day);
        logger->logMessage(m);
    }
    logger->flush();
    files = logger->sortedLogFiles();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files.back(), logger->currentLogFile());
    EXPECT_EQ(testsupport::readFile(files.back()), "<day 4>\n");
}

TEST(LogHub, SynchronousMessagesArriveAfterEarlierAsynchronousOnes) {
    testsupport::TempHome home;
    auto logger = std::make_shared<xlog::FileLogger>(home.state() / "logs");
    xlog::Log::addLogger(logger);
    for (int i = 0; i < 50; ++i) {
        xlog::Message m;
        m.message = std::to_string(i);
        xlog::Log::sharedInstance().log(i != 49, m);
    }
    logger->flush();
    std::string expected;
    for (int i = 0; i < 50; ++i) expected += std::to_string(i) + "\n";
    EXPECT_EQ(testsupport::readFile(*logger->currentLogFile()), expected);
    xlog::Log::removeAllLoggers();
}
