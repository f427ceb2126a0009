// The trace lines: prefixes, bullets, boxes, the dummy logger and the wrapper's trace order.
#include <gtest/gtest.h>

#include "Fixtures.h"

using dynamic::Dynamic;
using dynamic::Logger;

namespace {

const QString kDown = QStringLiteral(" \u2577");
const QString kBullet = QStringLiteral("\u2023 ");
const QString kOpen = QStringLiteral(" \u256D") + QString(44, QChar(0x2574));
const QString kClose = QStringLiteral(" \u2570") + QString(44, QChar(0x2574));

QStringList captured(const std::function<void()>& body) {
    testing::internal::CaptureStdout();
    body();
    const QString out = QString::fromStdString(testing::internal::GetCapturedStdout());
    QStringList lines = out.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override { Logger::resetForTesting(); }
    void TearDown() override {
        Logger::resetForTesting();
        Dynamic::setLoggingEnabled(false);
    }
};

TEST_F(LoggerTest, LinesAndBoxes) {
    Logger& log = Logger::loggerFor(this);
    struct Row {
        const char* what;
        std::function<void()> body;
        QStringList lines;
        int level;
    };
    const std::vector<Row> rows = {
        {"close at level 0", [&] { log.logGroup(true); }, {}, 0},
        {"bullet at level 0", [&] { log.log({QStringLiteral("Class:"), QStringLiteral("X")}); },
         {QStringLiteral("Class: X")}, 0},
        {"open, line", [&] { log.logGroup(false).log({QStringLiteral("a")}); }, {kOpen, kDown + kBullet + "a"}, 1},
        {"two opens, line",
         [&] { log.logGroup(false).logGroup(false).log({QStringLiteral("a")}); },
         {kOpen, kDown + QStringLiteral("   ") + kOpen.mid(1), kDown + QStringLiteral("  ") + kDown + kBullet + "a"}, 2},
        {"open, close", [&] { log.logGroup(false).logGroup(true); }, {kOpen, kClose}, 0},
        {"no bullet", [&] { log.logGroup(false).log({QStringLiteral("a")}, false); },
         {kOpen, kDown + QStringLiteral("  a")}, 1},
    };
    for (const Row& r : rows) {
        Logger::resetForTesting();
        EXPECT_EQ(captured(r.body), r.lines) << r.what;
        EXPECT_EQ(Logger::level(), r.level) << r.what;
    }
    EXPECT_EQ(kOpen.size(), 46);
}

TEST_F(LoggerTest, DummyWritesNothing) {
    Logger& dummy = Logger::dummy();
    EXPECT_TRUE(captured([&] {
                    EXPECT_EQ(&dummy.log({QStringLiteral("x")}), &dummy);
                    EXPECT_EQ(&dummy.logGroup(false), &dummy);
                }).isEmpty());
    EXPECT_EQ(Logger::level(), 0);
}

TEST_F(LoggerTest, WrappersTraceOnlyWhenSwitchedOn) {
    fixtures::RegisteredGadget reg;
    EXPECT_TRUE(captured([] { Dynamic::className(QStringLiteral("Gadget"))[QStringLiteral("shared")].asQObject(); })
                    .isEmpty());

    Dynamic::setLoggingEnabled(true);
    const QString b = kDown + kBullet;
    const QStringList lines = captured([] { Dynamic::className(QStringLiteral("Gadget"))[QStringLiteral("shared")]; });
    const QStringList expected = {kOpen, b + "# Dynamic", b + "Class: Gadget", b + "Get: Gadget.shared", kClose,
                                  kOpen, b + "# Dynamic", b + QStringLiteral("Object: <Gadget>"),
                                  b + "Member: shared"};
    EXPECT_EQ(lines, expected);
}

TEST_F(LoggerTest, InvocationTraceNestsInsideTheWrappersBox) {
    fixtures::RegisteredGadget reg;
    Dynamic::setLoggingEnabled(true);
    const QStringList lines =
        captured([] { Dynamic::className(QStringLiteral("Gadget"))[QStringLiteral("shared")][QStringLiteral("count")].asInt32(); });
    const QString b1 = kDown + kBullet;
    const QString b2 = kDown + QStringLiteral("  ") + kDown + kBullet;
    auto has = [&](const QString& l) { return lines.contains(l); };
    EXPECT_TRUE(has(b1 + "Call: [Gadget shared]")) << lines.join('\n').toStdString();
    EXPECT_TRUE(has(b2 + "# Invocation"));
    EXPECT_TRUE(has(b2 + "[Gadget count]"));
    EXPECT_TRUE(has(b2 + "Selector: count"));
    EXPECT_TRUE(has(b2 + "NumberOfArguments: 2"));
    EXPECT_TRUE(has(b2 + "ReturnLength: 4"));
    EXPECT_TRUE(has(b2 + "ReturnType: int"));
    EXPECT_TRUE(has(b2 + "Invoking..."));
    EXPECT_EQ(Logger::level(), 0);
}

}  // namespace
