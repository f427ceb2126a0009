#include "app/AppScenes.h"

#include "app/AppDelegate.h"

#include <QPointer>
#include <utility>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/ui/scenes/UserActivity.h"
#include "tandrel/editor/CompactDocumentRoute.h"
#include "tandrel/scenes/AlertScene.h"
#include "tandrel/scenes/DocumentScene.h"
#include "tandrel/scenes/SceneKind.h"
#include "tandrel/scenes/SceneManager.h"
#include "tandrel/scenes/ServerWindowScenes.h"
#include "tandrel/scenes/VornMainMenuController.h"
#include "tandrel/servers/FileViewerScene.h"

namespace {
template <class S, class D>
void declare(ui::SceneManifest& manifest, SceneKind kind) {
    manifest.declare(
        scene_kind_configuration_name(kind), [](ui::SceneSession* session) { return std::make_unique<S>(session); },
        [] { return std::make_unique<D>(); });
}
}  // namespace

void declare_app_scenes(ui::SceneManifest& manifest) {
    // The server and document screens reach the other windows through the scene layer's links.
    SceneManager::install_scene_links();
    declare<DocumentScene, DocumentSceneDelegate>(manifest, SceneKind::main_editor);
    declare<FileViewerScene, FileViewerSceneDelegate>(manifest, SceneKind::server_viewer);
    declare<AlertScene, AlertSceneDelegate>(manifest, SceneKind::alert_window);
    declare<ManageServicesScene, ManageServicesSceneDelegate>(manifest, SceneKind::manage_services);
    declare<SingleServiceScene, SingleServiceSceneDelegate>(manifest, SceneKind::single_service);
    manifest.declare(scene_kind_configuration_name(SceneKind::preferences), nullptr, nullptr);
}

void prepare_application(AppDelegate& delegate) {
    ui::Application& app = ui::Application::shared();
    declare_app_scenes(app.manifest());
    app.setDelegate(&delegate);
    VornMainMenuController::install_menu_rebuilder();
    install_compact_document_route();
}

namespace {
// Set from the first window's request until a server window connects: a later launch's request
// that comes in between waits for that window instead of opening another one.
QPointer<QObject> first_window_pending;
bool forward_when_first_window_opens = false;
// What waits for the first window (when_first_window_opens).
std::vector<std::function<void(FileViewerScene*)>>& first_window_waiters() {
    static std::vector<std::function<void(FileViewerScene*)>> waiters;
    return waiters;
}

// The first window opened (or could not be made): those who waited for it go on.
void first_window_settled(FileViewerScene* scene) {
    if (first_window_pending) first_window_pending->deleteLater();
    first_window_pending = nullptr;
    // Once it shows (its window is made key as its scene connects, on this same turn).
    if (std::exchange(forward_when_first_window_opens, false))
        dispatch::mainQueue().async([] { bring_server_window_forward(); });
    QPointer<FileViewerScene> opened(scene);
    for (auto& waiter : std::exchange(first_window_waiters(), {}))
        dispatch::mainQueue().async([opened, waiter = std::move(waiter)] { waiter(opened.data()); });
}
}  // namespace

void open_first_window() {
    ui::Application& app = ui::Application::shared();
    delete first_window_pending.data();
    forward_when_first_window_opens = false;
    first_window_pending = new QObject(&app);
    QObject::connect(&app, &ui::Application::sceneConnected, first_window_pending, [](ui::Scene* scene) {
        if (auto* viewer = qobject_cast<FileViewerScene*>(scene)) first_window_settled(viewer);
    });
    app.requestSceneSessionActivation(nullptr, std::nullopt, {}, [](const ui::SceneError&) { first_window_settled(nullptr); });
}

bool when_first_window_opens(std::function<void(FileViewerScene*)> opened) {
    if (!first_window_pending) return false;
    first_window_waiters().push_back(std::move(opened));
    return true;
}

void open_server_window(std::function<void(FileViewerScene*)> opened) {
    ui::Application& app = ui::Application::shared();
    auto made = std::make_shared<QPointer<FileViewerScene>>();
    auto watch = std::make_shared<QMetaObject::Connection>(
        QObject::connect(&app, &ui::Application::sceneConnected, &app, [made](ui::Scene* scene) {
            if (auto* viewer = qobject_cast<FileViewerScene*>(scene); viewer && !*made) *made = viewer;
        }));
    app.requestSceneSessionActivation(nullptr, ui::UserActivity(scene_kind_activity_type(SceneKind::server_viewer)), {},
                                      nullptr);
    // The request's task runs on the main queue before this one: the window is open by now, or
    // it will not be.
    dispatch::mainQueue().async([made, watch, opened = std::move(opened)] {
        QObject::disconnect(*watch);
        opened(made->data());
    });
}

void bring_server_window_forward() {
    ui::Application& app = ui::Application::shared();
    FileViewerScene* scene = SceneManager::key_file_viewer_scene();
    if (!scene) {
        const auto scenes = SceneManager::file_viewer_scenes();
        if (!scenes.empty()) scene = scenes.front();
    }
    if ((!scene || !scene->session()) && first_window_pending) {
        forward_when_first_window_opens = true;
        return;
    }
    if (!scene || !scene->session()) {
        app.requestSceneSessionActivation(nullptr, ui::UserActivity(scene_kind_activity_type(SceneKind::server_viewer)), {},
                                          nullptr);
        return;
    }
    bring_file_viewer_forward(scene);
}

void bring_file_viewer_forward(FileViewerScene* scene) {
    if (!scene || !scene->session()) return;
    for (ui::Window* window : scene->windows()) {
        if (window->isMinimized()) window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    }
    ui::Application::shared().requestSceneSessionActivation(scene->session(), std::nullopt, {}, nullptr);
}
