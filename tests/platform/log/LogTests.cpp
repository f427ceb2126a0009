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

TEST(FileLogger, LaunchesOfOneDayShareAFileAndDaysRollKeepingAtMostTheMaximum) {
    testsupport::TempHome home;
    const auto folder = home.state() / "logs";
    // Files of days long past (the app was not used in between) count against the limit too.
    testsupport::writeFile(folder / "DravixFTPClient_2001-01-01.log", "old\n");
    testsupport::writeFile(folder / "DravixFTPClient_2001-01-02.log", "old\n");
    testsupport::writeFile(folder / "DravixFTPClient_2001-01-03.log", "old\n");
    auto now = std::chrono::system_clock::now();
    auto launch = [&] {
        auto logger = std::make_shared<xlog::FileLogger>(folder);
        logger->setClockForTesting([&] { return now; });
        logger->setRollingFrequency(86400);
        logger->setMaximumNumberOfLogFiles(3);
        logger->setLogFormatter(std::make_shared<Upper>());
        return logger;
    };
    xlog::Message m;
    m.message = "first launch";
    launch()->logMessage(m);
    auto logger = launch();
    m.message = "second launch";
    logger->logMessage(m);
    logger->flush();
    auto files = logger->sortedLogFiles();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files.back(), logger->currentLogFile());
    EXPECT_EQ(testsupport::readFile(files.back()), "<first launch>\n<second launch>\n");

    for (int day = 1; day <= 4; ++day) {
        now += 86400s;
        m.message = "day " + std::to_string(day);
        logger->logMessage(m);
    }
    logger->flush();
    files = logger->sortedLogFiles();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files.back(), logger->currentLogFile());
    EXPECT_EQ(testsupport::readFile(files.front()), "<day 2>\n");
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
