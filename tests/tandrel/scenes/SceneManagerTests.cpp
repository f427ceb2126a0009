// The scene manager: finding file-viewer windows by the identifiers other windows carry,
// closing a server's document windows, and the document-window request.
#include "tandrel/scenes/DocumentScene.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/SingleServiceViewController.h"
#include "tandrel/servers/VornFileViewController.h"
#include "tandrel/scenes/SceneTestSupport.h"

using namespace scenetest;

namespace {

// A document window's delegate as the scene manager sees it: the server of its file comes from
// the request's "service_session_id".
class FakeDocumentDelegate : public ui::SceneDelegate, public DocumentSceneServiceLink {
public:
    void willConnectToSession(ui::Scene* scene, ui::SceneSession*, const ui::ConnectionOptions& options) override {
        options_ = options;
        if (!options.userActivities.isEmpty() && options.userActivities.first().userInfo()) {
            auto id = ui::UserActivity::stringValue(*options.userActivities.first().userInfo(), "service_session_id");
            if (id) service_ = id->toStdString();
        }
        auto* w = new ui::Window(scene);
        setWindow(w);
        w->show();
    }
    std::optional<std::string> document_service_session_id() const override { return service_; }
    static ui::ConnectionOptions options_;

private:
    std::optional<std::string> service_;
};
ui::ConnectionOptions FakeDocumentDelegate::options_;

class SceneManagerTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        declare<FileViewerScene, FileViewerSceneDelegate>(SceneKind::server_viewer);
        declare<DocumentScene, FakeDocumentDelegate>(SceneKind::main_editor);
    }

    FileViewerScene* openViewer() { return qobject_cast<FileViewerScene*>(open(SceneKind::server_viewer)); }
    static FileViewerSceneDelegate* hub(FileViewerScene* s) {
        return qobject_cast<FileViewerSceneDelegate*>(s->delegate());
    }
    DocumentScene* openDocument(const std::string& service) {
        const int before = connected;
        SceneManager::open_document_scene(service, "L2luZGV4Lmh0bWw=", true, nullptr);
        if (!waitFor([&] { return connected > before; })) return nullptr;
        return qobject_cast<DocumentScene*>(app().connectedScenes().last());
    }
};

}  // namespace

TEST_F(SceneManagerTest, FileViewerWindowsAreFoundByServerAndByWindowId) {
    FileViewerScene* a = openViewer();
    FileViewerScene* b = openViewer();
    ASSERT_TRUE(a && b);
    hub(a)->my_session_info->service_id = "server-A";
    // b is not connected: its service_id is absent and never matches.

    EXPECT_EQ(SceneManager::file_viewer_scenes(), (std::vector<FileViewerScene*>{a, b}));
    EXPECT_EQ(SceneManager::find_file_viewer_scene("server-A"), a);
    EXPECT_EQ(SceneManager::find_file_viewer_scene("server-B"), nullptr);
    EXPECT_EQ(SceneManager::find_file_viewer_scene(""), nullptr);

    const std::string idA = hub(a)->my_session_info->static_window_file_id;
    const std::string idB = hub(b)->my_session_info->static_window_file_id;
    EXPECT_NE(idA, idB);
    EXPECT_EQ(SceneManager::find_file_viewer_scene_for_window_id(idA), a);
    EXPECT_EQ(SceneManager::find_file_viewer_scene_for_window_id(idB), b);
    EXPECT_EQ(SceneManager::find_file_viewer_scene_for_window_id("no-such-window"), nullptr);

    // The key window's viewer. Under a real X server activation arrives later than the request:
    // let the window system settle before asking.
    (void)QTest::qWaitForWindowActive(b->windows().first(), 2000);
    EXPECT_EQ(SceneManager::key_file_viewer_scene(), b);
    a->windows().first()->makeKeyAndVisible();
    (void)QTest::qWaitForWindowActive(a->windows().first(), 2000);
    EXPECT_EQ(SceneManager::key_file_viewer_scene(), a);
}

TEST_F(SceneManagerTest, AScenesClassAndConfigurationMustBothMatch) {
    // A file-viewer scene class under another configuration name is not a file viewer.
    app().manifest().declare(
        QStringLiteral("Alert Configuration"), [](ui::SceneSession* s) { return std::make_unique<FileViewerScene>(s); },
        [] { return std::make_unique<FileViewerSceneDelegate>(); });
    FileViewerScene* real = openViewer();
    ASSERT_TRUE(open(SceneKind::alert_window));
    EXPECT_EQ(SceneManager::file_viewer_scenes(), (std::vector<FileViewerScene*>{real}));
}

TEST_F(SceneManagerTest, OpenDocumentSceneSendsTheThreeKeysWithTheirTypes) {
    DocumentScene* doc = openDocument("server-A");
    ASSERT_TRUE(doc);
    const auto& options = FakeDocumentDelegate::options_;
    ASSERT_EQ(options.userActivities.size(), 1);
    const ui::UserActivity& activity = options.userActivities.first();
    EXPECT_EQ(activity.activityType(), QStringLiteral("main_editor"));
    ASSERT_TRUE(activity.userInfo());
    const QVariantMap& info = *activity.userInfo();
    EXPECT_EQ(ui::UserActivity::stringValue(info, "service_session_id"), QStringLiteral("server-A"));
    EXPECT_EQ(ui::UserActivity::stringValue(info, "file_bucket_id"), QStringLiteral("L2luZGV4Lmh0bWw="));
    EXPECT_EQ(ui::UserActivity::boolValue(info, "preview_supported"), true);
    EXPECT_EQ(SceneManager::document_scenes(), (std::vector<DocumentScene*>{doc}));
}

TEST_F(SceneManagerTest, OpenDocumentSceneDoesNothingWithOneWindow) {
    app().setSupportsMultipleScenesForTesting(false);
    bool called = false;
    SceneManager::open_document_scene("s", "f", false, [&](const VornError&) { called = true; });
    settle();
    EXPECT_FALSE(called);
    EXPECT_EQ(connected, 0);
}

TEST_F(SceneManagerTest, ClosingWithAServerClosesOnlyThatServersDocuments) {
    DocumentScene* a1 = openDocument("server-A");
    DocumentScene* a2 = openDocument("server-A");
    DocumentScene* b1 = openDocument("server-B");
    ASSERT_TRUE(a1 && a2 && b1);

    std::optional<bool> closed;
    SceneManager::close_document_scenes_of(nullptr, std::string("server-C"), [&](bool c) { closed = c; });  // nobody's
    ASSERT_TRUE(waitFor([&] { return closed.has_value(); }));
    EXPECT_TRUE(*closed);
    settle();
    EXPECT_EQ(disconnected, 0);

    closed.reset();
    SceneManager::close_document_scenes_of(nullptr, std::string("server-A"), [&](bool c) { closed = c; });
    ASSERT_TRUE(waitFor([&] { return closed.has_value(); }));
    EXPECT_TRUE(*closed);
    ASSERT_TRUE(waitFor([&] { return disconnected == 2; }));
    EXPECT_EQ(SceneManager::document_scenes(), (std::vector<DocumentScene*>{b1}));
}

TEST_F(SceneManagerTest, SingleServiceFormOverTheExplorerWithOneWindow) {
    app().setSupportsMultipleScenesForTesting(false);
    // Without a key file viewer nothing happens.
    SceneManager::open_single_service_scene("whatever");
    settle();
    EXPECT_EQ(connected, 0);

    FileViewerScene* viewer = openViewer();
    ASSERT_TRUE(viewer);
    auto explorer = hub(viewer)->fileView_controller;
    SceneManager::open_single_service_scene("ignored on this path");
    auto* form = dynamic_cast<SingleServiceViewController*>(explorer->presentedViewController());
    ASSERT_TRUE(form);
    EXPECT_FALSE(form->is_editing_a_service);
    EXPECT_EQ(form->scene_file_delegatex.data(), hub(viewer));
    settle();
    EXPECT_EQ(connected, 1);  // no new window
}
