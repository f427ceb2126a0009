// The base screens: the light/dark hook, the window link, the error alert, the New actions and
// the release line.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QTest>
#include <mutex>

#include "support/MainQueueSettle.h"
#include "platform/log/Log.h"
#include "support/LogCapture.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Appearance.h"
#include "platform/ui/Responder.h"
#include "tandrel/foundation/VornDocViewController.h"

using ui::InterfaceStyle;

namespace {

class StyleScreen : public VornDocViewController {
    Q_OBJECT
public:
    std::vector<std::pair<InterfaceStyle, InterfaceStyle>> calls;
    int newFiles = 0;
    QPointer<QLineEdit> field;
    void user_interface_style_did_change(const ui::TraitCollection& previous,
                                         const ui::TraitCollection& current) override {
        calls.emplace_back(previous.userInterfaceStyle, current.userInterfaceStyle);
    }
    void new_file() override { ++newFiles; }

protected:
    void viewDidLoad() override { field = new QLineEdit(view()); }
};

void settle() {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

struct Shown {
    std::unique_ptr<QMainWindow> window = std::make_unique<QMainWindow>();
    std::shared_ptr<StyleScreen> screen = ui::make<StyleScreen>();
    explicit Shown(InterfaceStyle style = InterfaceStyle::unspecified) {
        window->setCentralWidget(screen->view());
        ui::setOverrideInterfaceStyle(window.get(), style);
        window->resize(400, 300);
        window->show();
        settle();
    }
    ~Shown() {
        if (window)
            if (QWidget* w = window->takeCentralWidget()) w->setParent(nullptr);
    }
};

class BaseScreens : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = QApplication::palette();
        QApplication::setPalette(ui::lightPalette());
        settle();
    }
    void TearDown() override {
        QApplication::setPalette(saved_);
        settle();
    }
    QPalette saved_;
};

}  // namespace

TEST_F(BaseScreens, SystemSwitchCallsTheStyleHookOnceWithTheOldStyleFirst) {
    Shown follows;                          // MODE_APPEARANCE 0
    Shown dark(ui::styleForModeAppearance(1));   // MODE_APPEARANCE 1
    Shown light(ui::styleForModeAppearance(2));  // MODE_APPEARANCE 2
    EXPECT_EQ(dark.screen->traitCollection().userInterfaceStyle, InterfaceStyle::dark);
    EXPECT_EQ(light.screen->traitCollection().userInterfaceStyle, InterfaceStyle::light);
    dark.screen->calls.clear();

    QApplication::setPalette(ui::darkPalette());
    settle();
    ASSERT_EQ(follows.screen->calls.size(), 1u);
    EXPECT_EQ(follows.screen->calls[0], std::make_pair(InterfaceStyle::light, InterfaceStyle::dark));
    EXPECT_TRUE(dark.screen->calls.empty());
    EXPECT_TRUE(light.screen->calls.empty());

    QApplication::setPalette(ui::lightPalette());
    settle();
    ASSERT_EQ(follows.screen->calls.size(), 2u);
    EXPECT_EQ(follows.screen->calls[1], std::make_pair(InterfaceStyle::dark, InterfaceStyle::light));
    EXPECT_TRUE(dark.screen->calls.empty());
    EXPECT_TRUE(light.screen->calls.empty());
}

TEST_F(BaseScreens, ATraitChangeThatKeepsTheStyleDoesNotCallTheHook) {
    Shown s;
    QPalette other = ui::lightPalette();
    other.setColor(QPalette::Highlight, Qt::darkGreen);
    QApplication::setPalette(other);
    settle();
    s.window->resize(200, 200);  // a size change is no style change either
    settle();
    EXPECT_TRUE(s.screen->calls.empty());
}

TEST_F(BaseScreens, TheWindowLinkEmptiesWhenTheWindowGoes) {
    auto screen = ui::make<StyleScreen>();
    auto* hub = new VornFileViewerSceneDelegateProtocol;
    screen->scene_file_delegatex = hub;
    EXPECT_EQ(screen->scene_file_delegatex.data(), hub);
    delete hub;
    EXPECT_TRUE(screen->scene_file_delegatex.isNull());
    auto* doc = new SceneDelegateProtocol;
    screen->scene_delegatex = doc;
    delete doc;
    EXPECT_TRUE(screen->scene_delegatex.isNull());
}

TEST_F(BaseScreens, PresentErrorShowsOneAlertWithOK) {
    Shown s;
    s.screen->present_error(std::nullopt);
    s.screen->present_error(VornError{"test", 1, "The server said no", "no"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.screen->presentedViewController() != nullptr; }, 3000));
    auto* alert = dynamic_cast<ui::AlertController*>(s.screen->presentedViewController());
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->alertTitle(), QStringLiteral("An Error Occurred"));
    EXPECT_EQ(alert->message(), QStringLiteral("The server said no"));
    ASSERT_EQ(alert->actions().size(), 1u);
    EXPECT_EQ(alert->actions()[0]->title(), QStringLiteral("OK"));
    alert->performAction(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.screen->presentedViewController() == nullptr; }, 3000));
    ASSERT_TRUE(testsupport::settleMainQueue(3));  // the absent error brought nothing after it
    EXPECT_EQ(s.screen->presentedViewController(), nullptr);

    // Through the weak error link other parts hold.
    VornErrorLink link(s.screen.get());
    ASSERT_TRUE(link);
    link->present_error(VornError{"test", 2, "again", "again"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return s.screen->presentedViewController() != nullptr; }, 3000));
}

TEST_F(BaseScreens, NewFileFromTheMenuReachesTheServerScreen) {
    Shown s;
    s.window->activateWindow();
    s.screen->field->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == s.screen->field; }, 3000));
    EXPECT_TRUE(ui::sendAction(QStringLiteral("new_file")));
    EXPECT_EQ(s.screen->newFiles, 1);
    EXPECT_EQ(ui::targetForAction(QStringLiteral("new_folder")), s.screen.get());
}

TEST_F(BaseScreens, ReleaseWritesADeinitLine) {
    testlog::LogCapture capture;
    QString description;
    {
        auto screen = ui::make<StyleScreen>();
        description = screen->description();
    }
    EXPECT_TRUE(capture.contains("deinit " + description.toStdString()));
    EXPECT_TRUE(description.startsWith(QStringLiteral("<StyleScreen: 0x")));
}

#include "BaseScreenTests.moc"
