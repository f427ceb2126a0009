// Takes pictures of the app's windows as the launch opens them, into <build>/screenshots, for a
// person to compare with the intended look. Checks what a picture can show by itself: size and
// that the window drew its background.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QTest>

#include "app/AppDelegate.h"
#include "app/AppScenes.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "support/TempHome.h"
#include "tandrel/foundation/UserPrefs.h"
#include "tandrel/foundation/VornAppUrlUtility.h"
#include "tandrel/scenes/SceneManager.h"
#include "tandrel/servers/FileViewerScene.h"

namespace {

QString shotPath(const QString& name) {
    QDir().mkpath(QStringLiteral(DRAVIX_SCREENSHOT_DIR));
    return QStringLiteral(DRAVIX_SCREENSHOT_DIR "/") + name;
}

AppLaunchServices quiet() {
    AppLaunchServices s = AppLaunchServices::defaults();
    s.send_usage_metric = [] {};
    return s;
}

class ScreenshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = std::make_unique<testsupport::TempHome>();
        defaults::UserDefaults::resetStandardForTesting();
        VornAppUrlUtility::reset_for_testing();
    }
    void TearDown() override {
        xlog::Log::removeAllLoggers();
        ui::Application::shared().resetForTesting();
        QTest::qWait(0);
        home_.reset();
        defaults::UserDefaults::resetStandardForTesting();
    }

    ui::Window* launchAndOpen(AppDelegate& delegate) {
        prepare_application(delegate);
        ui::Application::shared().finishLaunching();
        open_first_window();
        auto& app = ui::Application::shared();
        if (!QTest::qWaitFor([&] { return app.connectedScenes().size() == 1; }, 3000)) return nullptr;
        ui::Window* w = app.connectedScenes().first()->windows().value(0);
        if (w && !QTest::qWaitFor([&] { return w->isVisible(); }, 2000)) return nullptr;
        QTest::qWait(1500);  // let the first paint, layout and fades settle
        return w;
    }

    std::unique_ptr<testsupport::TempHome> home_;
};

}  // namespace

TEST_F(ScreenshotTest, FileViewerWindow) {
    AppDelegate delegate(quiet());
    ui::Window* w = launchAndOpen(delegate);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("DravixFTPClient"));
    const QPixmap shot = w->grab();
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(shot.size() / shot.devicePixelRatio(), QSize(300, 770));
    ASSERT_TRUE(shot.save(shotPath(QStringLiteral("file_viewer.png"))));
}

TEST_F(ScreenshotTest, FileViewerWindowDark) {
    UserPrefs::setPreference("MODE_APPEARANCE", defaults::Value(1));
    AppDelegate delegate(quiet());
    ui::Window* w = launchAndOpen(delegate);
    ASSERT_TRUE(w);
    const QImage img = w->grab().toImage();
    ASSERT_TRUE(img.save(shotPath(QStringLiteral("file_viewer_dark.png"))));
    const QColor middle = img.pixelColor(img.width() / 2, img.height() / 2);
    EXPECT_LT(middle.lightnessF(), 0.5);  // a dark window
}

TEST_F(ScreenshotTest, AlertWindow) {
    AppDelegate delegate(quiet());
    ASSERT_TRUE(launchAndOpen(delegate));
    auto& app = ui::Application::shared();
    SceneManager::open_alert_scene("Upload failed",
                                   "The server refused the file. Check your permissions and try again.");
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.connectedScenes().size() == 2; }, 3000));
    ui::Window* w = app.connectedScenes().last()->windows().value(0);
    ASSERT_TRUE(w);
    QTest::qWait(300);
    const QPixmap shot = w->grab();
    EXPECT_EQ(shot.size() / shot.devicePixelRatio(), QSize(320, 250));
    ASSERT_TRUE(shot.save(shotPath(QStringLiteral("alert_window.png"))));
}
