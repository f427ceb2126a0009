// The alert and error presenter: main-queue presentation, queued alerts, dropped alerts logged.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>
#include <mutex>

#include "platform/log/Log.h"
#include "platform/ui/AlertController.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/VORNPresenterUtility.h"
#include "support/LogCapture.h"
#include "support/MainQueueSettle.h"

using namespace ui;

namespace {


class Presenter : public ::testing::Test {
protected:
    void SetUp() override {
        capture = std::make_unique<testlog::LogCapture>(7);
        window = std::make_unique<QMainWindow>();
        screen = make<ViewController>();
        window->setCentralWidget(screen->view());
        window->resize(600, 400);
        window->show();
    }
    void TearDown() override {
        if (window)
            if (QWidget* w = window->takeCentralWidget()) w->setParent(nullptr);
        screen.reset();
        window.reset();
        QTest::qWait(10);
        capture.reset();
    }

    AlertController* shownAlert() { return dynamic_cast<AlertController*>(screen->presentedViewController()); }
    bool waitForAlert(const QString& message) {
        return QTest::qWaitFor([&] { return shownAlert() && shownAlert()->message() == message; }, 3000);
    }
    QPushButton* button(int index) {
        return shownAlert()->view()->findChild<QPushButton*>(QStringLiteral("alert_action_%1").arg(index));
    }

    std::unique_ptr<testlog::LogCapture> capture;
    std::unique_ptr<QMainWindow> window;
    std::shared_ptr<ViewController> screen;
};

VornError error(const std::string& message) { return VornError{"test", 1, message, "test_error"}; }

}  // namespace

TEST_F(Presenter, ErrorAlertHasTheFixedTitleTheDescriptionAndOneButton) {
    bool completed = false;
    VORNPresenterUtility::present_error(screen.get(), VornError(EnumManager::vorn_error_throws(
                                                          EnumManager::vorn_error_throws::no_data)),
                                        "OK", [&](bool v) { completed = v; });
    ASSERT_TRUE(waitForAlert(QStringLiteral("No data was returned with that action")));
    EXPECT_EQ(shownAlert()->alertTitle(), QStringLiteral("An Error Occurred"));
    ASSERT_EQ(shownAlert()->actions().size(), 1u);
    EXPECT_EQ(shownAlert()->actions()[0]->title(), QStringLiteral("OK"));
    QTest::mouseClick(button(0), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return completed; }, 3000));
    EXPECT_EQ(screen->presentedViewController(), nullptr);
}

TEST_F(Presenter, AlertsThatArriveWhileOneIsShownAreShownOneAfterAnother) {
    std::vector<std::string> completions;
    for (const char* m : {"first", "second", "third"}) {
        VORNPresenterUtility::present_error(screen.get(), error(m), "OK",
                                            [&completions, m](bool) { completions.push_back(m); });
    }
    for (const char* m : {"first", "second", "third"}) {
        ASSERT_TRUE(waitForAlert(QString::fromLatin1(m))) << m;
        ASSERT_TRUE(testsupport::settleMainQueue(3));  // nothing jumps the queue while it is up
        EXPECT_EQ(shownAlert()->message(), QString::fromLatin1(m));
        QTest::mouseClick(button(0), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !completions.empty() && completions.back() == m; }, 3000));
    }
    EXPECT_EQ(completions, (std::vector<std::string>{"first", "second", "third"}));
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    EXPECT_EQ(screen->presentedViewController(), nullptr);
}

TEST_F(Presenter, AnAlertWaitsForAnotherPresentedScreenToClose) {
    auto sheet = make<ViewController>();
    ASSERT_TRUE(screen->presentViewController(sheet, false));
    bool done = false;
    VORNPresenterUtility::present_error(screen.get(), error("after the sheet"), "OK", [&](bool) { done = true; });
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    EXPECT_EQ(screen->presentedViewController(), sheet.get());
    screen->dismissViewControllerAnimated(false);
    ASSERT_TRUE(waitForAlert(QStringLiteral("after the sheet")));
    QTest::mouseClick(button(0), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, 3000));
}

TEST_F(Presenter, AnAlertWhoseScreenIsGoneIsLoggedAndNotShown) {
    bool completed = false;
    VORNPresenterUtility::present_error(screen.get(), error("nobody sees this"), "OK", [&](bool) { completed = true; });
    window->takeCentralWidget()->setParent(nullptr);
    screen.reset();  // gone before the main queue runs the request
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    xlog::Log::sharedInstance().flush();
    EXPECT_FALSE(completed);
    EXPECT_TRUE(capture->contains("nobody sees this"));
}

TEST_F(Presenter, QueuedAlertsOfAScreenThatGoesAreLogged) {
    VORNPresenterUtility::present_error(screen.get(), error("shown"), "OK");
    VORNPresenterUtility::present_error(screen.get(), error("waiting"), "OK");
    ASSERT_TRUE(waitForAlert(QStringLiteral("shown")));
    window->takeCentralWidget()->setParent(nullptr);
    screen.reset();
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    xlog::Log::sharedInstance().flush();
    EXPECT_TRUE(capture->contains("waiting"));
}

TEST_F(Presenter, AScreenOutsideAWindowShowsNothing) {
    auto loose = make<ViewController>();
    loose->view();
    bool completed = false;
    VORNPresenterUtility::present_error(loose.get(), error("loose"), "OK", [&](bool) { completed = true; });
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    EXPECT_EQ(loose->presentedViewController(), nullptr);
    EXPECT_FALSE(completed);
    VORNPresenterUtility::present_error(screen.get(), std::nullopt, "OK");  // no error, nothing
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    EXPECT_EQ(screen->presentedViewController(), nullptr);
}

TEST_F(Presenter, ActionsAlertPassesTheChosenEntrysFlag) {
    struct Case {
        int button;
        bool expected;
    };
    for (const Case c : {Case{0, true}, Case{1, false}}) {
        std::optional<bool> got;
        QPointer<ViewController> p(screen.get());
        VORNPresenterUtility::present_on_main(p, [p, &got](bool flag) {
            VORNPresenterUtility::present_actions_alert(
                flag, "Delete File", "Are you sure?",
                {{"Delete", AlertActionStyle::destructive, true}, {"Cancel", AlertActionStyle::cancel, false}},
                [&got](bool v) { got = v; }, p);
        });
        ASSERT_TRUE(waitForAlert(QStringLiteral("Are you sure?")));
        ASSERT_TRUE(shownAlert()->performAction(c.button));
        ASSERT_TRUE(QTest::qWaitFor([&] { return got.has_value(); }, 3000));
        EXPECT_EQ(*got, c.expected);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !screen->presentedViewController(); }, 3000));
    }
}

TEST_F(Presenter, TextFieldAlertPassesTheTextOfTheChosenEntrysField) {
    std::optional<std::string> got;
    QPointer<ViewController> p(screen.get());
    VORNPresenterUtility::present_on_main(p, [p, &got](bool flag) {
        VORNPresenterUtility::present_text_field_alert(
            flag, "New Folder", "Name", {{"first", AlertActionStyle::default_}, {"second", AlertActionStyle::default_}},
            "Create", [&got](const std::string& text) { got = text; }, p);
    });
    ASSERT_TRUE(waitForAlert(QStringLiteral("Name")));
    ASSERT_EQ(shownAlert()->textFields().size(), 2);
    EXPECT_EQ(shownAlert()->textFields()[1]->placeholderText(), QStringLiteral("second"));
    shownAlert()->textFields()[0]->setText(QStringLiteral("one"));
    shownAlert()->textFields()[1]->setText(QStringLiteral("two"));
    ASSERT_TRUE(shownAlert()->performAction(1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.has_value(); }, 3000));
    EXPECT_EQ(*got, "two");
}

TEST_F(Presenter, EmptyFieldCheckTogglesTheFirstButton) {
    auto alert = AlertController::make(QStringLiteral("New File"), QStringLiteral("Enter a name"));
    alert->addTextField();
    alert->addAction(AlertAction::make(QStringLiteral("Create"), AlertActionStyle::default_));
    alert->addAction(AlertAction::make(QStringLiteral("Cancel"), AlertActionStyle::cancel));
    ASSERT_TRUE(screen->presentViewController(alert, false));
    QLineEdit* field = alert->textFields()[0];
    attach_field_empty_check(*alert, field);
    QTest::keyClick(field, Qt::Key_A);
    EXPECT_TRUE(alert->actions()[0]->isEnabled());
    EXPECT_EQ(alert->message(), QStringLiteral("Enter a name"));
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_FALSE(alert->actions()[0]->isEnabled());
    EXPECT_TRUE(alert->actions()[1]->isEnabled());
    EXPECT_EQ(alert->message(), QStringLiteral("Please enter a value"));
    QTest::keyClick(field, Qt::Key_B);
    EXPECT_TRUE(alert->actions()[0]->isEnabled());
    EXPECT_EQ(alert->message(), QStringLiteral("Please enter a value"));  // stays replaced
    // Without text fields the check does nothing.
    auto plain = AlertController::make(QStringLiteral("t"), QStringLiteral("m"));
    plain->addAction(AlertAction::make(QStringLiteral("OK"), AlertActionStyle::default_));
    textDidChangeFieldEmptyCheck(*plain);
    EXPECT_TRUE(plain->actions()[0]->isEnabled());
    EXPECT_EQ(plain->message(), QStringLiteral("m"));
}
