#include "tandrel/scenes/ServerWindowScenes.h"

#include <QTimer>

#include "platform/ui/ViewController.h"
#include "platform/ui/scenes/Application.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/scenes/SceneKind.h"
#include "tandrel/scenes/SceneManager.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/ManageServicesViewController.h"
#include "tandrel/servers/SingleServiceViewController.h"
#include "tandrel/servers/VornFileViewController.h"

namespace {

void destroyOwnSession(ui::SceneSession* session) {
    if (session) ui::Application::shared().requestSceneSessionDestruction(session, {}, nullptr);
}

// The file-viewer window a server window works for, named in its request.
std::optional<QString> requestedWindowId(const std::optional<QVariantMap>& info) {
    return info ? ui::UserActivity::stringValue(*info, scene_user_info::file_controller_window_id) : std::nullopt;
}

// After the opening size, a server window may be resized within these limits.
void relaxServerWindowLimits(ui::Scene* scene, QSize minimum) {
    if (auto* limits = scene->sizeRestrictions()) {
        limits->setMinimumSize(minimum);
        limits->setMaximumSize(kServerWindowRelaxedMaximum);
    }
}

void openFixedThenRelax(ui::Scene* scene, QSize opening, void (*relax)(ui::Scene*)) {
    auto* limits = scene->sizeRestrictions();
    if (!limits) return;
    limits->setMinimumSize(opening);
    limits->setMaximumSize(opening);
    QPointer<ui::Scene> target(scene);
    QTimer::singleShot(kServerWindowRelaxDelayMs, scene, [target, relax] {
        if (target) relax(target);
    });
}

}  // namespace

std::optional<QVariantMap> server_window_user_info(const ui::ConnectionOptions& options) {
    if (options.userActivities.isEmpty()) return std::nullopt;
    const auto& info = options.userActivities.first().userInfo();
    if (!info || info->isEmpty() || !ui::UserActivity::allValuesAreStrings(*info)) return std::nullopt;
    return info;
}

// ---- single service ------------------------------------------------------------------------

SingleServiceScene::~SingleServiceScene() { AMZLogger::shared().log_verbose("deinit SingleServiceScene"); }
SingleServiceWindow::~SingleServiceWindow() { AMZLogger::shared().log_verbose("deinit SingleServiceWindow"); }
SingleServiceSceneDelegate::~SingleServiceSceneDelegate() {
    AMZLogger::shared().log_verbose("deinit SingleServiceSceneDelegate");
}

void SingleServiceSceneDelegate::willConnectToSession(ui::Scene* scene, ui::SceneSession* session,
                                                      const ui::ConnectionOptions& options) {
    setup_single_service_window(scene, session, options);
}
void SingleServiceSceneDelegate::openURLContexts(ui::Scene*, const QList<QUrl>&) {}
void SingleServiceSceneDelegate::didUpdateUserActivity(ui::Scene*, const ui::UserActivity&) {}

void SingleServiceSceneDelegate::setup_single_service_window(ui::Scene* scene, ui::SceneSession* session,
                                                             const ui::ConnectionOptions& options) {
    const auto info = server_window_user_info(options);
    const auto window_id = requestedWindowId(info);
    if (!window_id) {
        destroyOwnSession(session);
        return;
    }
    // The form works for one file-viewer window; when that window is gone there is nothing to
    // show, and the session goes too rather than staying open without a window.
    FileViewerScene* viewer = SceneManager::find_file_viewer_scene_for_window_id(window_id->toStdString());
    auto* viewer_delegate = viewer ? qobject_cast<FileViewerSceneDelegate*>(viewer->delegate()) : nullptr;
    if (!viewer_delegate) {
        destroyOwnSession(session);
        return;
    }
    doc_int_man.file_server_delegatex =
        viewer_delegate->fileView_controller ? viewer_delegate->fileView_controller->scene_file_delegatex : nullptr;
    if (!scene) return;

    auto* window = new SingleServiceWindow(scene);
    auto form = ui::make<SingleServiceViewController>();
    form->scene_file_delegatex = doc_int_man.file_server_delegatex;
    if (auto service_id = ui::UserActivity::stringValue(*info, scene_user_info::service_id)) {
        form->is_editing_a_service = true;
        form->service_id = service_id->toStdString();
    }
    window->setOverrideUserInterfaceStyle(ui::styleForModeAppearance(EnumManager::read_mode_appearance()));
    window->setRootViewController(form);
    setWindow(window);
    openFixedThenRelax(scene, kOpeningSize, &SingleServiceSceneDelegate::relax_size_limits);
    window->resize(kOpeningSize);
    window->makeKeyAndVisible();
}

void SingleServiceSceneDelegate::relax_size_limits(ui::Scene* scene) { relaxServerWindowLimits(scene, kOpeningSize); }

// ---- manage services -----------------------------------------------------------------------

ManageServicesScene::~ManageServicesScene() { AMZLogger::shared().log_verbose("deinit ManageServicesScene"); }
ManageServicesWindow::~ManageServicesWindow() { AMZLogger::shared().log_verbose("deinit ManageServicesWindow"); }
ManageServicesSceneDelegate::~ManageServicesSceneDelegate() {
    AMZLogger::shared().log_verbose("deinit ManageServicesSceneDelegate");
}

void ManageServicesSceneDelegate::willConnectToSession(ui::Scene* scene, ui::SceneSession* session,
                                                       const ui::ConnectionOptions& options) {
    setup_manage_services_window(scene, session, options);
}
void ManageServicesSceneDelegate::openURLContexts(ui::Scene*, const QList<QUrl>&) {}
void ManageServicesSceneDelegate::didUpdateUserActivity(ui::Scene*, const ui::UserActivity&) {}

void ManageServicesSceneDelegate::sceneWillEnterForeground(ui::Scene*) {
    ui::Window* w = window();
    if (!w) return;
    if (auto* list = qobject_cast<ManageServicesViewController*>(w->rootViewController())) list->reload_services_on_main();
}

void ManageServicesSceneDelegate::setup_manage_services_window(ui::Scene* scene, ui::SceneSession* session,
                                                               const ui::ConnectionOptions& options) {
    const auto info = server_window_user_info(options);
    const auto window_id = requestedWindowId(info);
    if (!window_id) {
        destroyOwnSession(session);
        return;
    }
    if (!scene) return;

    auto* window = new ManageServicesWindow(scene);
    auto list = ui::make<ManageServicesViewController>();
    list->file_controller_window_id = window_id->toStdString();
    window->setOverrideUserInterfaceStyle(ui::InterfaceStyle::dark);
    window->setRootViewController(list);
    setWindow(window);
    openFixedThenRelax(scene, kOpeningSize, &ManageServicesSceneDelegate::relax_size_limits);
    window->resize(kOpeningSize);
    window->makeKeyAndVisible();
}

void ManageServicesSceneDelegate::relax_size_limits(ui::Scene* scene) { relaxServerWindowLimits(scene, kOpeningSize); }
