// Alerts: texts, buttons, text fields, and how choosing, escaping or closing ends them.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QShortcut>
#include <QTest>

#include "support/ClipboardLock.h"
#include "support/KeyWindow.h"
#include "support/MainQueueSettle.h"
#include "platform/ui/AlertController.h"

using namespace ui;

namespace {

struct Host {
    std::unique_ptr<QMainWindow> window = std::make_unique<QMainWindow>();
    std::shared_ptr<ViewController> root = make<ViewController>();
    Host() {
        window->setCentralWidget(root->view());
        window->resize(600, 400);
        window->show();
    }
    ~Host() {
        if (window)
            if (QWidget* w = window->takeCentralWidget()) w->setParent(nullptr);
    }
};

}  // namespace

TEST(Alert, ShowsTitleMessageAndButtonsAndRunsTheChosenHandlerAfterClosing) {
    Host host;
    auto alert = AlertController::make(QStringLiteral("Delete?"), QStringLiteral("It cannot be undone."));
    std::vector<std::string> order;
    alert->addAction(AlertAction::make(QStringLiteral("Delete"), AlertActionStyle::destructive, [&] {
        order.push_back(host.root->presentedViewController() ? "handler-while-shown" : "handler-after-close");
    }));
    alert->addAction(AlertAction::make(QStringLiteral("Cancel"), AlertActionStyle::cancel, [&] {
        order.push_back("cancel");
    }));
    ASSERT_TRUE(host.root->presentViewController(alert, true));
    QWidget* view = alert->view();
    EXPECT_EQ(view->findChild<QLabel*>(QStringLiteral("alert_title"))->text(), QStringLiteral("Delete?"));
    EXPECT_EQ(view->findChild<QLabel*>(QStringLiteral("alert_message"))->text(),
              QStringLiteral("It cannot be undone."));
    auto* deleteButton = view->findChild<QPushButton*>(QStringLiteral("alert_action_0"));
    ASSERT_NE(deleteButton, nullptr);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(deleteButton)->text(QAccessible::Name), QStringLiteral("Delete"));
    QTest::mouseClick(deleteButton, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !order.empty(); }, 2000));
    EXPECT_EQ(order, (std::vector<std::string>{"handler-after-close"}));
    EXPECT_EQ(host.root->presentedViewController(), nullptr);
    // A second answer is refused.
    EXPECT_FALSE(alert->performAction(1));
}

TEST(Alert, EscapeChoosesTheCancelAction) {
    Host host;
    auto alert = AlertController::make(QStringLiteral("Unsaved Changes"), QString());
    std::string chosen;
    alert->addAction(AlertAction::make(QStringLiteral("Save"), AlertActionStyle::default_, [&] { chosen = "save"; }));
    alert->addAction(AlertAction::make(QStringLiteral("Cancel"), AlertActionStyle::cancel, [&] { chosen = "cancel"; }));
    ASSERT_TRUE(host.root->presentViewController(alert, true));
    QTest::keyClick(alert->view()->window(), Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !chosen.empty(); }, 2000));
    EXPECT_EQ(chosen, "cancel");
}

TEST(Alert, ReturnPressesTheFocusedButton) {
    struct Row {
        const char* first;
        ui::AlertActionStyle firstStyle;
        int focused;  // index of the action whose button has the focus
        std::string expected;
    };
    const Row rows[] = {
        {"Delete", AlertActionStyle::destructive, 0, "Delete"},
        {"Delete", AlertActionStyle::destructive, 1, "Cancel"},
        {"Save", AlertActionStyle::default_, 1, "Cancel"},
        {"Save", AlertActionStyle::default_, 0, "Save"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.first) + " focus " + std::to_string(row.focused));
        Host host;
        auto alert = AlertController::make(QStringLiteral("Question"), QString());
        std::string chosen;
        alert->addAction(AlertAction::make(row.first, row.firstStyle, [&, t = std::string(row.first)] { chosen = t; }));
        alert->addAction(AlertAction::make(QStringLiteral("Cancel"), AlertActionStyle::cancel, [&] { chosen = "Cancel"; }));
        ASSERT_TRUE(host.root->presentViewController(alert, true));
        auto* button = alert->view()->findChild<QPushButton*>(QStringLiteral("alert_action_%1").arg(row.focused));
        ASSERT_TRUE(button);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(alert->view()->window()));
        button->setFocus(Qt::TabFocusReason);
        QTest::keyClick(button, Qt::Key_Return);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !chosen.empty(); }, 2000));
        EXPECT_EQ(chosen, row.expected);
    }
}

TEST(Alert, EscapeWithoutAnObviousAnswerKeepsTheAlert) {
    Host host;
    auto alert = AlertController::make(QStringLiteral("Pick"), QString());
    alert->addAction(AlertAction::make(QStringLiteral("A"), AlertActionStyle::default_));
    alert->addAction(AlertAction::make(QStringLiteral("B"), AlertActionStyle::default_));
    ASSERT_TRUE(host.root->presentViewController(alert, true));
    QTest::keyClick(alert->view()->window(), Qt::Key_Escape);
    ASSERT_TRUE(testsupport::settleMainQueue());
    EXPECT_EQ(host.root->presentedViewController(), alert.get());
    EXPECT_FALSE(alert->isAnswered());
}

TEST(Alert, AnAlertWhoseWindowGoesAwayStillRunsItsObviousHandler) {
    bool ran = false;
    {
        Host host;
        auto alert = AlertController::make(QStringLiteral("An Error Occurred"), QStringLiteral("x"));
        alert->addAction(AlertAction::make(QStringLiteral("OK"), AlertActionStyle::default_, [&] { ran = true; }));
        ASSERT_TRUE(host.root->presentViewController(alert, true));
        ASSERT_TRUE(QTest::qWaitFor([&] { return alert->isAppeared(); }, 2000));
        alert.reset();
        host.window.reset();  // the window closes with the sheet on it
        host.root.reset();
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return ran; }, 2000));
}

TEST(Alert, TextFieldsAndDisabledActions) {
    Host host;
    auto alert = AlertController::make(QStringLiteral("New Folder"), QStringLiteral("Name it"));
    alert->addTextField([](QLineEdit* f) { f->setPlaceholderText(QStringLiteral("Folder name")); });
    auto create = AlertAction::make(QStringLiteral("Create"), AlertActionStyle::default_);
    alert->addAction(create);
    create->setEnabled(false);
    ASSERT_TRUE(host.root->presentViewController(alert, true));
    ASSERT_EQ(alert->textFields().size(), 1);
    EXPECT_EQ(alert->textFields()[0]->placeholderText(), QStringLiteral("Folder name"));
    auto* button = alert->view()->findChild<QPushButton*>(QStringLiteral("alert_action_0"));
    EXPECT_FALSE(button->isEnabled());
    EXPECT_FALSE(alert->performAction(create));
    create->setEnabled(true);
    EXPECT_TRUE(button->isEnabled());
    // A field added after the alert is up appears too.
    alert->addTextField();
    EXPECT_EQ(alert->textFields().size(), 2);
    alert->setMessage(QStringLiteral("Please enter a value"));
    EXPECT_EQ(alert->view()->findChild<QLabel*>(QStringLiteral("alert_message"))->text(),
              QStringLiteral("Please enter a value"));
}

// The message can be selected with the pointer, yet is not read as a control that takes the
// focus: Tab never stops on it.
TEST(Alert, TheMessageIsSelectableButTakesNoFocus) {
    Host host;
    auto alert = AlertController::make(QStringLiteral("Saved"), QStringLiteral("All done."));
    bool answered = false;
    alert->addAction(AlertAction::make(QStringLiteral("OK"), AlertActionStyle::default_, [&] { answered = true; }));
    ASSERT_TRUE(host.root->presentViewController(alert, false));
    auto* message = alert->view()->findChild<QLabel*>(QStringLiteral("alert_message"));
    ASSERT_TRUE(message);
    EXPECT_TRUE(message->textInteractionFlags() & Qt::TextSelectableByMouse);
    QAccessibleInterface* i = QAccessible::queryAccessibleInterface(message);
    ASSERT_TRUE(i);
    EXPECT_FALSE(i->state().focusable);
    ASSERT_TRUE(alert->performAction(0));
    EXPECT_TRUE(QTest::qWaitFor([&] { return answered; }, 2000));
}

// Each button has a mnemonic, as menu entries do: the first action has the first pick, a
// capitalised word's initial before any other letter, and no two buttons of one alert share one.
// The button is read by its plain title, with Alt and the letter as the key that presses it.
TEST(Alert, EachButtonHasItsOwnMnemonic) {
    struct Row {
        QStringList titles;
        QStringList keys;
    };
    const Row rows[] = {
        {{"Trust", "Cancel"}, {"Alt+T", "Alt+C"}},
        {{"Overwrite", "Cancel"}, {"Alt+O", "Alt+C"}},
        {{"Save", "Discard", "Cancel"}, {"Alt+S", "Alt+D", "Alt+C"}},
        {{"Save", "Save As", "Cancel"}, {"Alt+S", "Alt+A", "Alt+C"}},
        {{"Copy & Paste", "Cancel"}, {"Alt+C", "Alt+A"}},
        {{"OK"}, {"Alt+O"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.titles.join(", ").toStdString());
        Host host;
        auto alert = AlertController::make(QStringLiteral("Question"), QStringLiteral("Which?"));
        for (const QString& title : row.titles) {
            const auto style = title == QLatin1String("Cancel") ? AlertActionStyle::cancel : AlertActionStyle::default_;
            alert->addAction(AlertAction::make(title, style));
        }
        ASSERT_TRUE(host.root->presentViewController(alert, false));
        for (qsizetype i = 0; i < row.titles.size(); ++i) {
            auto* button = alert->view()->findChild<QPushButton*>(QStringLiteral("alert_action_%1").arg(i));
            ASSERT_TRUE(button);
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(button);
            EXPECT_EQ(a->text(QAccessible::Name), row.titles[i]);
            ASSERT_TRUE(a->actionInterface());
            EXPECT_EQ(a->actionInterface()->keyBindingsForAction(QAccessibleActionInterface::pressAction()),
                      QStringList{row.keys[i]})
                << button->text().toStdString();
            EXPECT_EQ(alert->actions()[static_cast<size_t>(i)]->title(), row.titles[i]) << "the action keeps its title";
        }
        alert->dismissViewControllerAnimated(false);
    }
}

// A message with a word wider than any screen (a link of 10,000 characters): the sheet keeps its
// width bound, its button stays inside it, the word shows broken and shortened around "…", and
// Ctrl+C with nothing selected still copies the message whole.
TEST(Alert, AVeryLongWordKeepsTheSheetWithinItsWidthAndIsCopiedWhole) {
    testsupport::ClipboardLock clipboard;
    ASSERT_TRUE(clipboard.held());
    Host host;
    const QString link = QStringLiteral("sftp://example.com/") + QString(10000, QLatin1Char('x'));
    const QString text = QStringLiteral("The link ") + link + QStringLiteral(" cannot be opened.");
    auto alert = AlertController::make(QStringLiteral("Cannot Open Link"), text);
    alert->addAction(AlertAction::make(QStringLiteral("OK"), AlertActionStyle::default_));
    ASSERT_TRUE(host.root->presentViewController(alert, false));
    QWidget* sheet = alert->view()->window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    EXPECT_LE(sheet->width(), AlertController::kMaxWidth);
    auto* ok = alert->view()->findChild<QPushButton*>(QStringLiteral("alert_action_0"));
    ASSERT_TRUE(ok);
    EXPECT_TRUE(sheet->rect().contains(QRect(ok->mapTo(sheet, QPoint(0, 0)), ok->size())));
    auto* message = alert->view()->findChild<QLabel*>(QStringLiteral("alert_message"));
    ASSERT_TRUE(message);
    EXPECT_LE(message->minimumSizeHint().width(), sheet->width());
    EXPECT_TRUE(message->text().contains(QChar(0x2026)));
    EXPECT_LT(message->text().size(), AlertController::kLongestWord + 100);
    EXPECT_EQ(alert->message(), text);

    QGuiApplication::clipboard()->clear();
    auto* copy = alert->view()->findChild<QShortcut*>();
    ASSERT_TRUE(copy);
    emit copy->activated();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), text);
}

// However the message is copied (Ctrl+C pressed in the alert, or the Copy of the message's own
// menu; with nothing selected, or all of it selected by the pointer or by that menu's Select All)
// the copy has its line breaks, not the paragraph separators the label's selection holds, and
// nothing of the breaks shown in a long word.
struct CopyRoute {
    const char* name;
    bool select_first;      // the whole message selected as the pointer does
    bool menu_select_all;   // the message menu's Select All first
    bool menu_copy;         // the message menu's Copy (else Ctrl+C pressed in the alert)
};
void PrintTo(const CopyRoute& r, std::ostream* os) { *os << r.name; }
class AlertCopy : public ::testing::TestWithParam<CopyRoute> {};

TEST_P(AlertCopy, TheMessageIsCopiedWithItsLineBreaks) {
    const CopyRoute route = GetParam();
    testsupport::ClipboardLock clipboard;
    ASSERT_TRUE(clipboard.held());
    Host host;
    const QString path = QStringLiteral("/home/user/") + QString(200, QLatin1Char('k')) + QStringLiteral("/known_hosts");
    const QString text = QStringLiteral("The key changed.\nTo remove the old key:\nssh-keygen -R \"[h]:22\" -f ") + path;
    auto alert = AlertController::make(QStringLiteral("Key Changed"), text);
    alert->addAction(AlertAction::make(QStringLiteral("OK"), AlertActionStyle::default_));
    ASSERT_TRUE(host.root->presentViewController(alert, false));
    QWidget* sheet = alert->view()->window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    auto* message = alert->view()->findChild<QLabel*>(QStringLiteral("alert_message"));
    ASSERT_TRUE(message);
    EXPECT_NE(message->text(), text);  // the path is broken where the sheet's lines end
    auto menuItem = [&](const char* name) { return message->findChild<QAction*>(QString::fromLatin1(name)); };
    if (route.select_first) message->setSelection(0, static_cast<int>(message->text().size()));
    if (route.menu_select_all) {
        ASSERT_TRUE(menuItem("alert_message_select_all"));
        EXPECT_TRUE(message->actions().contains(menuItem("alert_message_select_all")));
        menuItem("alert_message_select_all")->trigger();
    }
    EXPECT_EQ(message->hasSelectedText(), route.select_first || route.menu_select_all);
    QGuiApplication::clipboard()->clear();
    if (route.menu_copy) {
        ASSERT_EQ(message->contextMenuPolicy(), Qt::ActionsContextMenu) << "the label's own menu copies its layout";
        ASSERT_TRUE(menuItem("alert_message_copy"));
        menuItem("alert_message_copy")->trigger();
    } else {
        ASSERT_TRUE(testsupport::activateForKeyboard(sheet));
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : sheet, Qt::Key_C,
                        Qt::ControlModifier);
    }
    EXPECT_EQ(QGuiApplication::clipboard()->text(), text);
}

INSTANTIATE_TEST_SUITE_P(Routes, AlertCopy,
                         ::testing::Values(CopyRoute{"KeyNothingSelected", false, false, false},
                                           CopyRoute{"KeyAllSelected", true, false, false},
                                           CopyRoute{"MenuNothingSelected", false, false, true},
                                           CopyRoute{"MenuAllSelected", true, false, true},
                                           CopyRoute{"MenuSelectAllThenCopy", false, true, true},
                                           CopyRoute{"MenuSelectAllThenKey", false, true, false}),
                         [](const ::testing::TestParamInfo<CopyRoute>& info) { return std::string(info.param.name); });

// A title or message holding markup (a file or server name a server or link chose) is shown, and
// read, as the text it is: never laid out as rich text.
TEST(Alert, MarkupInTheTitleOrMessageIsShownAsText) {
    Host host;
    const QString title = QStringLiteral("<b>page</b>.html");
    const QString message = QStringLiteral("Cannot open <img src=\"file:///etc/hostname\"> on <i>host</i>");
    auto alert = AlertController::make(title, message);
    alert->addAction(AlertAction::make(QStringLiteral("OK"), AlertActionStyle::default_));
    ASSERT_TRUE(host.root->presentViewController(alert, false));
    for (const auto& [name, text] : {std::pair{"alert_title", title}, std::pair{"alert_message", message}}) {
        auto* label = alert->view()->findChild<QLabel*>(QString::fromLatin1(name));
        ASSERT_TRUE(label) << name;
        QAccessibleInterface* i = QAccessible::queryAccessibleInterface(label);
        ASSERT_TRUE(i);
        EXPECT_EQ(i->text(QAccessible::Name), text) << name;
    }
}
