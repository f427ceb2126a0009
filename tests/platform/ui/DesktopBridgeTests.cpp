// The notification centre and the desktop window system's names: which idiom registers them,
// the key-window state and the main-window notification as the focus moves, and the style flags.
#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>
#include <QWindow>

#include "dynamic/ClassRegistry.h"
#include "dynamic/Dynamic.h"
#include "platform/ui/DesktopBridge.h"
#include "platform/ui/NotificationCenter.h"

using dynamic::Dynamic;

namespace {

TEST(NotificationCenterTest, PostsReachMatchingObserversWhileTheyLive) {
    ui::NotificationCenter& center = ui::NotificationCenter::defaultCenter();
    QObject sender, otherSender;
    auto observer = std::make_unique<QObject>();
    QStringList heard;
    center.addObserver(observer.get(), QStringLiteral("A"), nullptr, [&](const ui::Notification& n) { heard << "any:" + n.name; });
    center.addObserver(observer.get(), QStringLiteral("A"), &sender, [&](const ui::Notification&) { heard << "sender"; });
    center.post(QStringLiteral("A"), &otherSender);
    center.post(QStringLiteral("B"), &sender);
    center.post(QStringLiteral("A"), &sender);
    EXPECT_EQ(heard, (QStringList{"any:A", "any:A", "sender"}));
    EXPECT_EQ(center.observationCount(observer.get()), 2);

    observer.reset();  // a destroyed observer hears nothing more
    heard.clear();
    center.post(QStringLiteral("A"), &sender);
    EXPECT_TRUE(heard.isEmpty());

    QObject again;
    center.addObserver(&again, QStringLiteral("A"), nullptr, [&](const ui::Notification&) { heard << "again"; });
    center.removeObserver(&again);
    center.post(QStringLiteral("A"));
    EXPECT_TRUE(heard.isEmpty());
    EXPECT_EQ(center.observationCount(&again), 0);
}

class DesktopBridgeTest : public ::testing::Test {
protected:
    void SetUp() override { idiom_ = qgetenv("DRAVIX_IDIOM"); }
    void TearDown() override {
        ui::DesktopBridge::uninstall();
        qputenv("DRAVIX_IDIOM", idiom_);
    }
    static std::optional<bool> isKey(QObject* w) {
        return Dynamic::className(QStringLiteral("NSApplication"))[QStringLiteral("sharedApplication")]
            [QStringLiteral("delegate")][QStringLiteral("hostWindowForUIWindow")]({{QString(), QVariant::fromValue<QObject*>(w)}})
            [QStringLiteral("attachedWindow")]
                .member<bool>(QStringLiteral("isKeyWindow"));
    }
    QByteArray idiom_;
};

TEST_F(DesktopBridgeTest, OnlyTheDesktopIdiomRegistersTheNames) {
    for (const char* idiom : {"phone", "pad", "mac"}) {
        qputenv("DRAVIX_IDIOM", idiom);
        ui::DesktopBridge::install();
        const bool desktop = std::string(idiom) == "mac";
        EXPECT_EQ(ui::DesktopBridge::installed(), desktop) << idiom;
        EXPECT_EQ(dynamic::ClassRegistry::classNamed(QStringLiteral("NSApplication")) != nullptr, desktop) << idiom;
        const auto name = Dynamic::className(QStringLiteral("NSWindow")).member<QString>(QStringLiteral("didBecomeMainNotification"));
        EXPECT_EQ(name.has_value(), desktop) << idiom;
        if (desktop) {
            EXPECT_EQ(*name, QString::fromLatin1(ui::DesktopBridge::kDidBecomeMainNotification));
        }
    }
}

TEST_F(DesktopBridgeTest, KeyWindowAndMainNotificationFollowTheFocus) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "no display";
    qputenv("DRAVIX_IDIOM", "mac");
    ui::DesktopBridge::install();
    QObject observer;
    QList<QWindow*> mains;
    ui::NotificationCenter::defaultCenter().addObserver(
        &observer, QString::fromLatin1(ui::DesktopBridge::kDidBecomeMainNotification), nullptr,
        [&](const ui::Notification& n) { mains << qobject_cast<QWindow*>(n.object.data()); });

    QWidget a, b;
    a.resize(200, 100);
    b.resize(200, 100);
    a.show();
    b.show();
    // Activates a window that is not the active one and waits for the notification about it;
    // a late focus event of the other window repeats the activation.
    auto activate = [&](QWidget* w) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            mains.clear();
            w->activateWindow();
            if (!QTest::qWaitForWindowActive(w, 5000)) continue;
            if (!QTest::qWaitFor([&] { return mains.contains(w->windowHandle()); }, 5000)) continue;
            QTest::qWait(0);
            if (w->isActiveWindow() && mains.last() == w->windowHandle()) return true;
        }
        return false;
    };
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&b, 5000));
    b.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&b, 5000));
    for (QWidget* w : {&a, &b, &a}) {
        ASSERT_TRUE(activate(w));
        QWidget* other = w == &a ? &b : &a;
        EXPECT_EQ(isKey(w), true);
        EXPECT_EQ(isKey(other), false);
    }
    // A window that is not on screen is not key; an object that is not a window has no host.
    QWidget hidden;
    EXPECT_EQ(isKey(&hidden), false);
    QObject notAWindow;
    EXPECT_FALSE(isKey(&notAWindow));

    const auto windows = Dynamic::className(QStringLiteral("NSApplication"))[QStringLiteral("sharedApplication")]
                             [QStringLiteral("windows")].asArray();
    ASSERT_TRUE(windows);
    EXPECT_EQ(windows->size(), 2);
}

TEST_F(DesktopBridgeTest, StyleFlagsChangeTheWindow) {
    QWidget w;
    w.resize(300, 200);
    auto* desktop = qobject_cast<ui::DesktopWindow*>(ui::DesktopHostWindow::of(&w)->attachedWindow());
    ASSERT_TRUE(desktop);
    EXPECT_EQ(ui::DesktopHostWindow::of(&w), ui::DesktopHostWindow::of(&w));  // one host per window
    Dynamic window(QVariant::fromValue<QObject*>(desktop));
    EXPECT_EQ(window.member<qulonglong>(QStringLiteral("styleMask")), 15u);
    window.set(QStringLiteral("styleMask"), QVariant(qulonglong(7)));
    EXPECT_EQ(w.minimumSize(), QSize(300, 200));
    EXPECT_EQ(w.maximumSize(), QSize(300, 200));
    EXPECT_EQ(window.member<qulonglong>(QStringLiteral("styleMask")), 7u);
    window.set(QStringLiteral("styleMask"), QVariant(qulonglong(15)));
    EXPECT_NE(w.minimumSize(), w.maximumSize());
    window.set(QStringLiteral("collectionBehavior"), QVariant(qulonglong(512)));
    EXPECT_EQ(desktop->collectionBehavior(), 512u);
}

}  // namespace
