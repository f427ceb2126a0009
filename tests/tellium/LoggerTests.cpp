// The SDK logger: levels, the default handler's line, replaceable handlers from any thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "TelliumTestSupport.h"

using namespace telltest;

namespace {

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override { TLMLogger::resetForTesting(); }
    void TearDown() override { TLMLogger::resetForTesting(); }

    // What the default handler prints for one message at each level.
    static std::string printedAt(TLMLogLevel level) {
        ::testing::internal::CaptureStderr();
        TLM_LOG_AT(level, "Tellium", std::string("hello"));
        return ::testing::internal::GetCapturedStderr();
    }
};

TEST_F(LoggerTest, InitiallyOnlyAssertPrints) {
    EXPECT_EQ(TLMLogger::currentLogLevel(), TLMLogLevelAssert);
    EXPECT_FALSE(TLMLogger::isUserDefinedLogLevel());
    for (auto level : {TLMLogLevelVerbose, TLMLogLevelDebug, TLMLogLevelInfo, TLMLogLevelWarning, TLMLogLevelError})
        EXPECT_EQ(printedAt(level), "") << level;
    auto line = printedAt(TLMLogLevelAssert);
    EXPECT_NE(line.find("[Tellium] ASSERT: "), std::string::npos) << line;
    EXPECT_NE(line.find(" hello\n"), std::string::npos) << line;
}

TEST_F(LoggerTest, VerboseLevelPrintsEverythingButNone) {
    TLMLogger::setCurrentLogLevel(TLMLogLevelVerbose);
    EXPECT_TRUE(TLMLogger::isUserDefinedLogLevel());
    EXPECT_NE(printedAt(TLMLogLevelVerbose).find("[Tellium] VERBOSE: "), std::string::npos);
    EXPECT_NE(printedAt(TLMLogLevelWarning).find("[Tellium] WARNING: "), std::string::npos);
    EXPECT_EQ(printedAt(TLMLogLevelNone), "");
    TLMLogger::setCurrentLogLevel(TLMLogLevelNone);
    EXPECT_EQ(printedAt(TLMLogLevelAssert), "");
}

TEST_F(LoggerTest, LineHoldsTagLevelFunctionLineAndText) {
    EXPECT_EQ(TLMLogger::formatLine("Tellium", TLMLogLevelError, "flushQueue", 42, "text"),
              "[Tellium] ERROR: flushQueue/42 text");
    EXPECT_EQ(TLMLogger::formatLine("T", static_cast<TLMLogLevel>(11), "f", 1, "x"), "[T] : f/1 x");
}

TEST_F(LoggerTest, MessagesBelowTheLevelAreNeverFormatted) {
    int produced = 0;
    auto producer = [&] {
        ++produced;
        return std::string("x");
    };
    ::testing::internal::CaptureStderr();
    TLMLogger::logMessage(producer, TLMLogLevelDebug, "Tellium", __FILE__, __func__, __LINE__);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(produced, 0);
}

TEST_F(LoggerTest, ReplacementHandlerGetsTheCallSiteUnchanged) {
    std::vector<LoggedMessage> seen;
    const char* seenFile = nullptr;
    TLMLogger::setLogHandler([&](const TLMLogMessageProvider& m, TLMLogLevel level, const std::string& tag,
                                 const char* file, const char* function, unsigned line) {
        seenFile = file;
        seen.push_back({level, tag, m(), function, line});
    });
    EXPECT_TRUE(TLMLogger::isUserDefinedLogLevel());
    const unsigned expectedLine = __LINE__ + 1;
    TLMLogVerbose("Analytics", std::string("below the level, still handed over"));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].level, TLMLogLevelVerbose);
    EXPECT_EQ(seen[0].tag, "Analytics");
    EXPECT_EQ(seen[0].text, "below the level, still handed over");
    EXPECT_EQ(seen[0].function, std::string(__func__));
    EXPECT_EQ(seen[0].line, expectedLine);
    EXPECT_STREQ(seenFile, __FILE__);
    // The default handler is no longer called.
    ::testing::internal::CaptureStderr();
    TLMLogAssert("Tellium", std::string("x"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(LoggerTest, WrapperLoggerForwardsThroughTheSamePath) {
    LogRecorder log;
    TLMWrapperLogger::TLMWrapperLog([] { return std::string("from wrapper"); }, "Wrapper", TLMLogLevelInfo);
    auto messages = log.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].tag, "Wrapper");
    EXPECT_EQ(messages[0].level, TLMLogLevelInfo);
    EXPECT_EQ(messages[0].text, "from wrapper");
}

TEST_F(LoggerTest, HandlerCanBeReplacedWhileOtherThreadsLog) {
    std::atomic<int> calls{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> loggers;
    for (int t = 0; t < 4; ++t) {
        loggers.emplace_back([&] {
            while (!stop) TLMLogVerbose("Tellium", std::string("busy"));
        });
    }
    // Keep replacing the handler until the loggers have gone through the replacements many times.
    for (int i = 0; calls.load() < 2000; ++i) {
        TLMLogger::setLogHandler([&calls](const TLMLogMessageProvider& m, TLMLogLevel, const std::string&,
                                          const char*, const char*, unsigned) {
            if (m().size() == 4) ++calls;
        });
        TLMLogger::setCurrentLogLevel(i % 2 ? TLMLogLevelVerbose : TLMLogLevelNone);
        std::this_thread::yield();
    }
    stop = true;
    for (auto& t : loggers) t.join();
    EXPECT_GE(calls.load(), 2000);
}

}  // namespace
