// The desktop document tracker in the real app under an X server: the launch starts it, and as
// the user activates windows the key document window's delegate is recorded; server windows
// leave the record alone; closing the recorded window empties it. The new-window command opens a
// file viewer each time.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QTest>
#include <QWindow>

#include "app/AppDelegate.h"
#include "app/AppScenes.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/ui/DesktopBridge.h"
#include "platform/ui/NotificationCenter.h"
#include "platform/ui/Responder.h"
#include "support/KeyWindow.h"
#include "support/MainQueueSettle.h"
#include "support/TempHome.h"
#include "tandrel/foundation/VornServicesManager.h"
#include "tandrel/foundation/VornAppUrlUtility.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/scenes/DocumentScene.h"
#include "tandrel/scenes/SceneManager.h"
#include "tandrel/scenes/VornDocumentManager.h"
#include "tandrel/servers/FileViewerScene.h"

namespace {

// Runs first (and alone under ctest): the tracker has not been started in this process yet.
TEST(DocumentTrackerWithoutDesktopTest, WithoutTheDesktopNamesNothingIsRegistered) {
    if (VornDocumentManager::shared().is_observing()) GTEST_SKIP() << "the tracker already runs in this process";
    qputenv("DRAVIX_IDIOM", "phone");
    ui::DesktopBridge::install();
    ASSERT_FALSE(ui::DesktopBridge::installed());
    VornDocumentManager::shared().observe_main_window_changes();
    EXPECT_FALSE(VornDocumentManager::shared().is_observing());
    EXPECT_EQ(ui::NotificationCenter::defaultCenter().observationCount(&VornDocumentManager::shared()), 0);
    // A pass with no desktop names finds no key window.
    VornDocumentManager::shared().find_current_scene_delegate();
    EXPECT_TRUE(VornDocumentManager::shared().current_scene_delegate.isNull());
    qunsetenv("DRAVIX_IDIOM");
}

class DocumentTrackerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "no display (DISPLAY is empty)";
        home_ = std::make_unique<testsupport::TempHome>();
        defaults::UserDefaults::resetStandardForTesting();
        VornAppUrlUtility::reset_for_testing();
        qputenv("DRAVIX_IDIOM", "mac");
        AppLaunchServices services;  // no telemetry, no metric: nothing leaves the machine
        services.start_document_manager = AppLaunchServices::defaults().start_document_manager;
        delegate_ = std::make_unique<AppDelegate>(services);
        prepare_application(*delegate_);
        ASSERT_TRUE(app().finishLaunching());
        ui::NotificationCenter::defaultCenter().addObserver(
            &observer_, QString::fromLatin1(ui::DesktopBridge::kDidBecomeMainNotification), nullptr,
            [this](const ui::Notification& n) {
                if (auto* w = qobject_cast<QWindow*>(n.object.data())) mains_.append(w);
            });
    }
    void TearDown() override {
        ui::NotificationCenter::defaultCenter().removeObserver(&observer_);
        app().resetForTesting();
        QTest::qWait(0);
        delegate_.reset();
        qunsetenv("DRAVIX_IDIOM");
        home_.reset();
        defaults::UserDefaults::resetStandardForTesting();
    }

    static ui::Application& app() { return ui::Application::shared(); }
    static VornDocumentManager& tracker() { return VornDocumentManager::shared(); }

    template <class SceneType>
    SceneType* waitForNewScene(int before) {
        if (!QTest::qWaitFor([&] { return app().connectedScenes().size() > before; }, 10000)) return nullptr;
        return qobject_cast<SceneType*>(app().connectedScenes().last());
    }
    FileViewerScene* openViewer() {
        // A saved server: the window shows its list (with none it opens on the add form, which
        // would hold the window's activation).
        auto& saved = app_services_manager().appServicesModel->saved_services;
        if (saved.empty()) saved.push_back(std::make_shared<VornSingleServiceDataModel>());
        const int before = static_cast<int>(app().connectedScenes().size());
        open_first_window();
        return waitForNewScene<FileViewerScene>(before);
    }
    DocumentScene* openDocument(const std::string& path) {
        const int before = static_cast<int>(app().connectedScenes().size());
        SceneManager::open_document_scene("tracker-server", file_bucket_id_for_path(path), false, nullptr);
        return waitForNewScene<DocumentScene>(before);
    }
    static DocumentSceneDelegate* delegateOf(ui::Scene* s) {
        return s ? qobject_cast<DocumentSceneDelegate*>(s->delegate()) : nullptr;
    }

    // Makes the window the key one and waits for the display's input focus to reach it; the
    // focus events of a window opened just before may take it away once more (see activate).
    static bool makeKey(ui::Window* w) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            w->makeKeyAndVisible();
            if (testsupport::waitForKeyboard(w, 5000)) return true;
        }
        return false;
    }

    // Makes the window the active one, as a click on it does, and waits for the desktop's
    // main-window notification about it and the pass it schedules. The window must not be the
    // active one already. Focus events of windows opened just before may still arrive late and
    // move the focus once more: then the activation is repeated.
    bool activate(ui::Scene* scene) {
        if (!scene || scene->windows().isEmpty()) return false;
        ui::Window* w = scene->windows().first();
        for (int attempt = 0; attempt < 3; ++attempt) {
            mains_.clear();
            if (!makeKey(w)) continue;
            QWindow* handle = w->windowHandle();
            if (!QTest::qWaitFor([&] { return mains_.contains(handle); }, 5000)) continue;
            if (!testsupport::settleMainQueue()) return false;
            if (w->isActiveWindow() && mains_.last() == handle) return true;
        }
        return false;
    }

    std::unique_ptr<testsupport::TempHome> home_;
    std::unique_ptr<AppDelegate> delegate_;
    QObject observer_;
    QList<QWindow*> mains_;
};

TEST_F(DocumentTrackerTest, TheLaunchStartsTheTrackerOnTheDesktop) {
    EXPECT_TRUE(ui::DesktopBridge::installed());
    EXPECT_TRUE(tracker().is_observing());
    EXPECT_EQ(ui::NotificationCenter::defaultCenter().observationCount(&tracker()), 1);
}

TEST_F(DocumentTrackerTest, TheKeyDocumentWindowIsRecordedAsTheUserActivatesWindows) {
    FileViewerScene* viewer = openViewer();
    DocumentScene* first = openDocument("/first.html");
    DocumentScene* second = openDocument("/second.css");
    ASSERT_TRUE(viewer && first && second);
    ASSERT_TRUE(delegateOf(first) && delegateOf(second));
    ASSERT_FALSE(first->windows().isEmpty());
    ASSERT_FALSE(second->windows().isEmpty());

    // From a known state: the server window is the main window.
    ASSERT_TRUE(activate(viewer));
    ASSERT_TRUE(activate(second));
    EXPECT_EQ(tracker().current_scene_delegate, delegateOf(second));
    ASSERT_TRUE(activate(first));
    EXPECT_EQ(tracker().current_scene_delegate, delegateOf(first));

    // A file-viewer window becoming main keeps the last document window.
    ASSERT_TRUE(activate(viewer));
    EXPECT_EQ(tracker().current_scene_delegate, delegateOf(first));

    // Closing the recorded window empties the record.
    QPointer<DocumentSceneDelegate> recorded = delegateOf(first);
    bool destroyed = false;
    app().requestSceneSessionDestruction(first->session(), {}, [&](const ui::SceneError&) { destroyed = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorded.isNull(); }, 10000));
    EXPECT_FALSE(destroyed);  // no error
    EXPECT_TRUE(tracker().current_scene_delegate.isNull());

    // The remaining document window is recorded again once it becomes main.
    ASSERT_TRUE(activate(second));
    EXPECT_EQ(tracker().current_scene_delegate, delegateOf(second));
}

TEST_F(DocumentTrackerTest, TheNewWindowCommandOpensAFileViewerEachTime) {
    FileViewerScene* viewer = openViewer();
    ASSERT_TRUE(viewer);
    ui::Window* w = viewer->windows().first();
    for (int i = 0; i < 2; ++i) {
        const int before = static_cast<int>(app().connectedScenes().size());
        EXPECT_TRUE(ui::sendAction(QStringLiteral("new_scene"), {}, w));
        EXPECT_TRUE(waitForNewScene<FileViewerScene>(before)) << "command " << i + 1;
    }
    EXPECT_EQ(SceneManager::file_viewer_scenes().size(), 3u);
}

// The "Window" item of the main menu's "New" menu, anywhere in the window's menu bar.
QAction* newWindowItem(QWidget* menuOwner) {
    auto plain = [](QString t) { return t.remove(QLatin1Char('&')).trimmed(); };
    for (QMenu* menu : menuOwner->findChildren<QMenu*>()) {
        if (plain(menu->title()) != QStringLiteral("New")) continue;
        for (QAction* a : menu->actions()) {
            if (plain(a->text()) == QStringLiteral("Window")) return a;
        }
    }
    return nullptr;
}

TEST_F(DocumentTrackerTest, TheNewWindowMenuItemOpensAFileViewerEachTime) {
    FileViewerScene* viewer = openViewer();
    ASSERT_TRUE(viewer);
    ui::Window* w = viewer->windows().first();
    ASSERT_TRUE(testsupport::settleMainQueue());  // a queued menu rebuild has run
    QAction* item = newWindowItem(w);
    if (!item) GTEST_SKIP() << "the main menu has no New > Window item in this build";
    for (int i = 0; i < 2; ++i) {
        const int before = static_cast<int>(app().connectedScenes().size());
        item->trigger();
        EXPECT_TRUE(waitForNewScene<FileViewerScene>(before)) << "choice " << i + 1;
    }
    EXPECT_EQ(SceneManager::file_viewer_scenes().size(), 3u);
}

TEST_F(DocumentTrackerTest, OnTouchDevicesNothingIsRegisteredAndNothingRecorded) {
    qputenv("DRAVIX_IDIOM", "pad");
    ASSERT_TRUE(app().finishLaunching());
    EXPECT_FALSE(ui::DesktopBridge::installed());
    DocumentScene* doc = openDocument("/third.js");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(makeKey(doc->windows().first()));
    tracker().find_current_scene_delegate();
    EXPECT_TRUE(tracker().current_scene_delegate.isNull());
}

}  // namespace
