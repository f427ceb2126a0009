// The file-viewer window and the two server windows that serve it.
#include <QPushButton>

#include "platform/ui/Appearance.h"
#include "platform/ui/Responder.h"
#include "tandrel/foundation/UserPrefs.h"
#include "tandrel/scenes/ServerWindowScenes.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/ManageServicesViewController.h"
#include "tandrel/servers/SingleServiceViewController.h"
#include "tandrel/servers/VornFileViewController.h"
#include "tandrel/scenes/SceneTestSupport.h"

using namespace scenetest;

namespace {

class ServerWindowTest : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        declare<FileViewerScene, FileViewerSceneDelegate>(SceneKind::server_viewer);
        declare<SingleServiceScene, SingleServiceSceneDelegate>(SceneKind::single_service);
        declare<ManageServicesScene, ManageServicesSceneDelegate>(SceneKind::manage_services);
    }
    static FileViewerSceneDelegate* hub(ui::Scene* s) { return qobject_cast<FileViewerSceneDelegate*>(s->delegate()); }

    // Asks for the window and waits until it has connected and, when it closes itself, gone.
    ui::Scene* request(SceneKind kind, std::optional<QVariantMap> info) {
        ui::Scene* s = open(kind, std::move(info));
        settle();
        return s;
    }
};

}  // namespace

TEST_F(ServerWindowTest, FileViewerWindowOpensFixedThenRelaxesAfterThreeSeconds) {
    ui::Scene* scene = open(SceneKind::server_viewer);
    ASSERT_TRUE(scene);
    auto* viewer = qobject_cast<FileViewerScene*>(scene);
    ASSERT_TRUE(viewer);
    FileViewerSceneDelegate* d = hub(scene);
    ASSERT_TRUE(d);
    ui::Window* w = d->window();
    ASSERT_TRUE(w);
    EXPECT_TRUE(qobject_cast<FileViewerWindow*>(w));
    EXPECT_FALSE(static_cast<FileViewerWindow*>(w)->hasActiveConnection);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("DravixFTPClient"));
    EXPECT_EQ(w->size(), QSize(300, 770));
    EXPECT_EQ(w->minimumSize(), QSize(300, 770));
    EXPECT_EQ(w->maximumSize(), QSize(300, 770));
    EXPECT_EQ(w->rootViewController(), d->fileView_controller.get());
    EXPECT_EQ(d->fileView_controller->scene_file_delegatex.data(), d);
    EXPECT_FALSE(d->my_session_info->connected);
    EXPECT_FALSE(d->my_session_info->service_id);
    EXPECT_FALSE(d->provider_bucket);
    EXPECT_FALSE(d->service);

    // The welcome list works for this window.
    EXPECT_EQ(d->welcome_manage_services_vc->scene_file_delegatex.data(), d);
    EXPECT_EQ(d->welcome_manage_services_vc->file_controller_window_id, d->my_session_info->static_window_file_id);
    EXPECT_TRUE(d->welcome_manage_services_vc->close_btn->isHidden());
    EXPECT_EQ(d->welcome_manage_services_vc->welcome_manage_services_protocol_delegate.data(),
              d->fileView_controller.get());

    // Commands of the main menu start at the explorer's view and reach the explorer.
    ASSERT_TRUE(w->focusWidget());
    EXPECT_EQ(ui::targetForAction(QStringLiteral("new_file"), w->focusWidget()), d->fileView_controller.get());
    EXPECT_EQ(ui::targetForAction(QStringLiteral("new_folder"), w->focusWidget()), d->fileView_controller.get());

    ASSERT_TRUE(waitFor([&] { return w->minimumSize() == QSize(300, 300); }, 5000));
    EXPECT_EQ(w->maximumSize(), QSize(2560, 1600));
}

TEST_F(ServerWindowTest, AppearanceSettingFixesTheFileViewerWindow) {
    struct Row {
        int mode;
        ui::InterfaceStyle expected;
    };
    const Row rows[] = {{0, ui::InterfaceStyle::unspecified}, {1, ui::InterfaceStyle::dark},
                        {2, ui::InterfaceStyle::light}, {7, ui::InterfaceStyle::unspecified}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mode);
        UserPrefs::setPreference("MODE_APPEARANCE", defaults::Value(row.mode));
        ui::Scene* scene = open(SceneKind::server_viewer);
        ASSERT_TRUE(scene);
        EXPECT_EQ(scene->windows().first()->overrideUserInterfaceStyle(), row.expected);
    }
}

TEST_F(ServerWindowTest, SingleServiceWindowWithoutAUsableRequestDestroysItsSession) {
    ui::Scene* viewer = open(SceneKind::server_viewer);
    ASSERT_TRUE(viewer);
    const QString windowId = QString::fromStdString(hub(viewer)->my_session_info->static_window_file_id);
    struct Row {
        const char* name;
        std::optional<QVariantMap> info;
    };
    const Row rows[] = {
        {"no user info", std::nullopt},
        {"empty user info", QVariantMap{}},
        {"no window id", QVariantMap{{"service_id", QStringLiteral("x")}}},
        {"window id of another type", QVariantMap{{"file_controller_window_id", 42}}},
        {"a Boolean beside the window id", QVariantMap{{"file_controller_window_id", windowId}, {"flag", true}}},
        {"a window id no file viewer has", QVariantMap{{"file_controller_window_id", QStringLiteral("gone")}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const int before = disconnected;
        ui::Scene* s = open(SceneKind::single_service, row.info);
        ASSERT_TRUE(s);
        EXPECT_TRUE(s->windows().isEmpty());
        ASSERT_TRUE(waitFor([&] { return disconnected == before + 1; }));
        EXPECT_EQ(app().openSessions().size(), 1);  // only the file viewer's
        EXPECT_EQ(app().connectedScenes(), QList<ui::Scene*>{viewer});
    }
}

TEST_F(ServerWindowTest, SingleServiceWindowAddsOrEditsForItsFileViewer) {
    ui::Scene* viewer = open(SceneKind::server_viewer);
    ASSERT_TRUE(viewer);
    const QString windowId = QString::fromStdString(hub(viewer)->my_session_info->static_window_file_id);
    struct Row {
        std::optional<QString> serviceId;
        bool editing;
    };
    const Row rows[] = {{std::nullopt, false}, {QStringLiteral("c2VydmVy"), true}};
    for (const auto& row : rows) {
        QVariantMap info{{"file_controller_window_id", windowId}};
        if (row.serviceId) info.insert("service_id", *row.serviceId);
        ui::Scene* s = request(SceneKind::single_service, info);
        ASSERT_TRUE(s);
        ASSERT_TRUE(qobject_cast<SingleServiceScene*>(s));
        auto* d = qobject_cast<SingleServiceSceneDelegate*>(s->delegate());
        ASSERT_TRUE(d && d->window());
        EXPECT_TRUE(qobject_cast<SingleServiceWindow*>(d->window()));
        auto* form = dynamic_cast<SingleServiceViewController*>(d->window()->rootViewController());
        ASSERT_TRUE(form);
        EXPECT_EQ(d->doc_int_man.file_server_delegatex.data(), hub(viewer));
        EXPECT_EQ(form->scene_file_delegatex.data(), hub(viewer));
        EXPECT_EQ(form->is_editing_a_service, row.editing);
        EXPECT_EQ(form->service_id, row.serviceId.value_or(QString()).toStdString());
        EXPECT_EQ(d->window()->size(), QSize(450, 450));
        EXPECT_EQ(d->window()->minimumSize(), QSize(450, 450));
        EXPECT_EQ(d->window()->maximumSize(), QSize(450, 450));
    }
    EXPECT_EQ(disconnected, 0);
    auto* last = app().connectedScenes().last();
    ASSERT_TRUE(waitFor([&] { return last->windows().first()->maximumSize() == QSize(2560, 1600); }, 5000));
    EXPECT_EQ(last->windows().first()->minimumSize(), QSize(450, 450));
}

TEST_F(ServerWindowTest, ManageServicesWindowNeedsOnlyAWindowIdAndIsAlwaysDark) {
    UserPrefs::setPreference("MODE_APPEARANCE", defaults::Value(2));  // light is asked for...
    ui::Scene* s = request(SceneKind::manage_services, QVariantMap{{"file_controller_window_id", QStringLiteral("none")}});
    ASSERT_TRUE(s);
    auto* d = qobject_cast<ManageServicesSceneDelegate*>(s->delegate());
    ASSERT_TRUE(d && d->window());
    EXPECT_TRUE(qobject_cast<ManageServicesWindow*>(d->window()));
    EXPECT_EQ(d->window()->overrideUserInterfaceStyle(), ui::InterfaceStyle::dark);  // ...and not used
    auto* list = dynamic_cast<ManageServicesViewController*>(d->window()->rootViewController());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->file_controller_window_id, std::optional<std::string>("none"));
    EXPECT_FALSE(list->scene_file_delegatex);
    EXPECT_EQ(d->window()->size(), QSize(450, 400));
    EXPECT_EQ(d->window()->maximumSize(), QSize(450, 400));
    // Entering the foreground (as on connecting) reloads the list.
    ASSERT_TRUE(waitFor([&] { return list->reload_count() >= 1; }));
    const int reloads = list->reload_count();
    // Coming back from the background (a minimised window restored) reloads it again.
    d->window()->showMinimized();
    ASSERT_TRUE(waitFor([&] { return s->activationState() == ui::SceneActivationState::background; }));
    d->window()->showNormal();
    ASSERT_TRUE(waitFor([&] { return list->reload_count() == reloads + 1; }));
    EXPECT_EQ(disconnected, 0);
}

TEST_F(ServerWindowTest, ManageServicesWindowWithoutWindowIdDestroysItsSession) {
    const std::optional<QVariantMap> infos[] = {std::nullopt, QVariantMap{},
                                                QVariantMap{{"file_controller_window_id", true}}};
    for (const auto& info : infos) {
        const int before = disconnected;
        ui::Scene* s = open(SceneKind::manage_services, info);
        ASSERT_TRUE(s);
        EXPECT_TRUE(s->windows().isEmpty());
        ASSERT_TRUE(waitFor([&] { return disconnected == before + 1; }));
        EXPECT_TRUE(app().openSessions().isEmpty());
    }
}
