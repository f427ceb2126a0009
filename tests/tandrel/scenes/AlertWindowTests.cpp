// The alert window: its texts from the request, its fixed size, its close button, and the
// desktop style step that touches the alert's own window only.
#include <QAccessible>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <map>

#include "platform/ui/DesktopBridge.h"
#include "tandrel/scenes/AlertScene.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/scenes/SceneTestSupport.h"

using namespace scenetest;

namespace {

class FakeDesktopWindow : public DesktopWindowObject {
public:
    std::map<std::string, uint64_t> values{{"styleMask", 15}, {"collectionBehavior", 128 | 256 | 1}};
    std::optional<uint64_t> unsigned_value_for_key(const std::string& key) const override {
        auto it = values.find(key);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
    void set_unsigned_value_for_key(const std::string& key, uint64_t value) override { values[key] = value; }
};

class FakeDesktop : public DesktopWindowSystem {
public:
    std::map<QWidget*, std::shared_ptr<FakeDesktopWindow>> windows;
    std::shared_ptr<DesktopWindowObject> host_window_for(QWidget* window) override {
        auto& w = windows[window];
        if (!w) w = std::make_shared<FakeDesktopWindow>();
        return w;
    }
};

class AlertWindowTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        declare<AlertScene, AlertSceneDelegate>(SceneKind::alert_window);
        declare<FileViewerScene, FileViewerSceneDelegate>(SceneKind::server_viewer);
    }
    void TearDown() override {
        AlertViewController::set_desktop_lookup(nullptr);
        SceneTest::TearDown();
    }
    AlertViewController* alertOf(ui::Scene* s) {
        auto* d = qobject_cast<AlertSceneDelegate*>(s->delegate());
        if (!d || !d->window()) return nullptr;
        return qobject_cast<AlertViewController*>(d->window()->rootViewController());
    }
};

}  // namespace

TEST_F(AlertWindowTest, TextsComeFromTheRequestOrAreEmpty) {
    struct Row {
        const char* name;
        std::optional<QVariantMap> info;
        const char* title;
        const char* message;
    };
    const Row rows[] = {
        {"no user info", std::nullopt, "", ""},
        {"empty user info", QVariantMap{}, "", ""},
        {"both texts", QVariantMap{{"title", QStringLiteral("Saved")}, {"message", QStringLiteral("All done.")}},
         "Saved", "All done."},
        {"mistyped", QVariantMap{{"title", 3}, {"message", true}}, "", ""},
        {"title only", QVariantMap{{"title", QStringLiteral("Only")}}, "Only", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ui::Scene* s = open(SceneKind::alert_window, row.info);
        ASSERT_TRUE(s);
        ASSERT_TRUE(qobject_cast<AlertScene*>(s));
        AlertViewController* alert = alertOf(s);
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->alertTitle, row.title);
        EXPECT_EQ(alert->alertMessage, row.message);
        EXPECT_EQ(alert->alertyTitleLbl->text(), QString::fromUtf8(row.title));
        EXPECT_EQ(alert->alertyMessageLbl->text(), QString::fromUtf8(row.message));
        // The icon and the button still show.
        EXPECT_TRUE(alert->alertyCloseBtn->isVisible());
        EXPECT_EQ(alert->alertyCloseBtn->size(), QSize(120, 30));
        EXPECT_EQ(alert->alertyIcon->size(), QSize(70, 80));
        ui::Window* w = s->windows().first();
        EXPECT_TRUE(qobject_cast<AlertSceneWindow*>(w));
        EXPECT_EQ(w->size(), QSize(320, 250));
        EXPECT_EQ(w->minimumSize(), QSize(320, 250));
        EXPECT_EQ(w->maximumSize(), QSize(320, 250));
    }
}

TEST_F(AlertWindowTest, ANewScreenStartsWithItsOwnTexts) {
    auto alert = ui::make<AlertViewController>();
    EXPECT_EQ(alert->alertTitle, "Oops!");
    EXPECT_EQ(alert->alertMessage, "We're very sorry. Something went wrong.");
}

TEST_F(AlertWindowTest, ViewsArePlacedFromTheTopDown) {
    const QString longText = QStringLiteral("A long message that needs more than one line in a window this narrow, "
                                            "so it wraps onto several lines below the title.");
    ui::Scene* s = open(SceneKind::alert_window, QVariantMap{{"title", QStringLiteral("T")}, {"message", longText}});
    ASSERT_TRUE(s);
    AlertViewController* a = alertOf(s);
    ASSERT_TRUE(a);
    const int width = a->view()->width();
    ASSERT_TRUE(waitFor([&] { return a->alertyMessageLbl->height() > 2 * QFontMetrics(a->alertyMessageLbl->font()).height(); }));
    EXPECT_EQ(a->alertyIcon->geometry(), QRect((width - 70) / 2, 10, 70, 80));
    EXPECT_EQ(a->alertyTitleLbl->geometry().top(), 10 + 80 + 5);
    EXPECT_EQ(a->alertyTitleLbl->geometry().left(), 10);
    EXPECT_EQ(a->alertyTitleLbl->width(), width - 20);
    EXPECT_EQ(a->alertyMessageLbl->geometry().top(), a->alertyTitleLbl->geometry().bottom() + 1 + 5);
    EXPECT_EQ(a->alertyCloseBtn->geometry().top(), a->alertyMessageLbl->geometry().bottom() + 1 + 15);
    EXPECT_EQ(a->alertyCloseBtn->geometry().left(), (width - 120) / 2);
}

TEST_F(AlertWindowTest, TheCloseButtonDestroysTheAlertsSessionOnly) {
    ui::Scene* viewer = open(SceneKind::server_viewer);
    ui::Scene* s = open(SceneKind::alert_window, QVariantMap{{"title", QStringLiteral("T")}});
    ASSERT_TRUE(viewer && s);
    AlertViewController* alert = alertOf(s);
    ASSERT_TRUE(alert);
    alert->alertyCloseBtn->click();
    ASSERT_TRUE(waitFor([&] { return disconnected == 1; }));
    EXPECT_EQ(app().connectedScenes(), QList<ui::Scene*>{viewer});
    EXPECT_TRUE(viewer->windows().first()->isVisible());
}

TEST_F(AlertWindowTest, WithoutTheDesktopWindowSystemTheStyleStepStops) {
    int lookups = 0;
    std::string asked;
    AlertViewController::set_desktop_lookup([&](const std::string& name) {
        ++lookups;
        asked = name;
        return std::shared_ptr<DesktopWindowSystem>();
    });
    ui::Scene* s = open(SceneKind::alert_window, std::nullopt);
    ASSERT_TRUE(s);
    ASSERT_TRUE(waitFor([&] { return lookups == 1; }));  // once the alert has appeared
    EXPECT_EQ(asked, "NSApplication");
    EXPECT_TRUE(s->windows().first()->isVisible());
}

TEST_F(AlertWindowTest, TheStyleChangeReachesTheAlertsOwnWindowOnly) {
    auto desktop = std::make_shared<FakeDesktop>();
    ui::Scene* viewer = open(SceneKind::server_viewer);
    ASSERT_TRUE(viewer);
    QWidget* viewerWindow = viewer->windows().first();
    auto viewerHost = std::static_pointer_cast<FakeDesktopWindow>(desktop->host_window_for(viewerWindow));
    AlertViewController::set_desktop_lookup([desktop](const std::string& name) {
        return name == "NSApplication" ? desktop : std::shared_ptr<DesktopWindowSystem>();
    });

    ui::Scene* s = open(SceneKind::alert_window, QVariantMap{{"title", QStringLiteral("T")}});
    ASSERT_TRUE(s);
    QWidget* alertWindow = s->windows().first();
    ASSERT_TRUE(waitFor([&] { return desktop->windows.count(alertWindow) == 1; }));
    const auto& own = desktop->windows[alertWindow];
    EXPECT_EQ(own->values["styleMask"], 15u & ~8u);                       // not resizable
    EXPECT_EQ(own->values["collectionBehavior"], static_cast<uint64_t>(1 | 512));  // no full screen
    // The other windows keep theirs.
    EXPECT_EQ(viewerHost->values["styleMask"], 15u);
    EXPECT_EQ(viewerHost->values["collectionBehavior"], static_cast<uint64_t>(128 | 256 | 1));
}

TEST_F(AlertWindowTest, TheRegisteredDesktopWindowSystemGetsTheStyleOfTheAlertsWindowOnly) {
    const QByteArray idiom = qgetenv("DRAVIX_IDIOM");
    qputenv("DRAVIX_IDIOM", "mac");
    ui::DesktopBridge::install();
    ui::Scene* viewer = open(SceneKind::server_viewer);
    ASSERT_TRUE(viewer);
    auto* viewerWindow = qobject_cast<ui::DesktopWindow*>(
        ui::DesktopHostWindow::of(viewer->windows().first())->attachedWindow());
    const QSize viewerMin = viewer->windows().first()->minimumSize();
    const QSize viewerMax = viewer->windows().first()->maximumSize();
    ui::Scene* s = open(SceneKind::alert_window, QVariantMap{{"title", QStringLiteral("T")}});
    ASSERT_TRUE(s);
    auto* own = qobject_cast<ui::DesktopWindow*>(ui::DesktopHostWindow::of(s->windows().first())->attachedWindow());
    ASSERT_TRUE(own && viewerWindow);
    ASSERT_TRUE(waitFor([&] { return own->collectionBehavior() & ui::DesktopWindow::kFullScreenNone; }));
    EXPECT_EQ(own->collectionBehavior(), ui::DesktopWindow::kFullScreenNone);
    EXPECT_EQ(own->styleMask() & ui::DesktopWindow::kResizable, 0u);
    EXPECT_EQ(s->windows().first()->minimumSize(), s->windows().first()->maximumSize());
    // The server window keeps its size behaviour.
    EXPECT_EQ(viewerWindow->collectionBehavior(), ui::DesktopWindow::kFullScreenPrimary);
    EXPECT_EQ(viewer->windows().first()->minimumSize(), viewerMin);
    EXPECT_EQ(viewer->windows().first()->maximumSize(), viewerMax);
    ui::DesktopBridge::uninstall();
    qputenv("DRAVIX_IDIOM", idiom);
}

TEST_F(AlertWindowTest, TheWindowAndItsButtonAreNamed) {
    struct Row {
        const char* name;
        QVariantMap info;
        const char* windowName;
    };
    const Row rows[] = {
        {"title", QVariantMap{{"title", QStringLiteral("Upload failed")}, {"message", QStringLiteral("No space.")}},
         "Upload failed"},
        {"message only", QVariantMap{{"message", QStringLiteral("No space.")}}, "No space."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ui::Scene* s = open(SceneKind::alert_window, row.info);
        ASSERT_TRUE(s);
        AlertViewController* alert = alertOf(s);
        ASSERT_TRUE(alert);
        QAccessibleInterface* window = QAccessible::queryAccessibleInterface(s->windows().first());
        ASSERT_TRUE(window);
        EXPECT_EQ(window->text(QAccessible::Name), QString::fromUtf8(row.windowName));
        QAccessibleInterface* button = QAccessible::queryAccessibleInterface(alert->alertyCloseBtn);
        ASSERT_TRUE(button);
        EXPECT_EQ(button->role(), QAccessible::Button);
        EXPECT_EQ(button->text(QAccessible::Name), QStringLiteral("Close"));
        EXPECT_FALSE(button->state().invisible);
        EXPECT_TRUE(button->state().focusable);
    }
}

// Escape, Return and Enter press the alert's one button; the focus starts on it.
TEST_F(AlertWindowTest, TheKeysPressItsOneButton) {
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        SCOPED_TRACE(QKeySequence(key).toString().toStdString());
        const int before = disconnected;
        ui::Scene* s = open(SceneKind::alert_window, QVariantMap{{"title", QStringLiteral("T")}});
        ASSERT_TRUE(s);
        AlertViewController* alert = alertOf(s);
        ASSERT_TRUE(alert);
        QWidget* window = s->windows().first();
        // The window's focus is on the button (whether or not the window is the active one).
        ASSERT_TRUE(waitFor([&] { return window->focusWidget() == alert->alertyCloseBtn; }));
        QTest::keyClick(alert->alertyCloseBtn, key);
        ASSERT_TRUE(waitFor([&] { return disconnected == before + 1; }));
    }
}
