#include "tandrel/servers/FileViewerScene.h"

#include <QCloseEvent>
#include <QPushButton>
#include <QTimer>

#include "platform/ui/Responder.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/scenes/Application.h"
#include "platform/ui/scenes/SceneSession.h"
#include "tandrel/foundation/AppGlobals.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/servers/ManageServicesViewController.h"
#include "tandrel/servers/VornFileViewController.h"

void FileViewerWindow::closeEvent(QCloseEvent* event) {
    ui::Scene* scene = windowScene();
    // A window closing with its scene (destroyed, or the application ending) just goes.
    const bool scene_going = !scene || !scene->session() || scene->activationState() == ui::SceneActivationState::unattached;
    if (scene_going || !close_requested) {
        ui::Window::closeEvent(event);
        return;
    }
    event->ignore();
    close_requested();
}

void FileViewerScene::set_my_next(QObject* next) {
    my_next = next;
    setNextResponderOverride(next);
}

FileViewerSceneDelegate::FileViewerSceneDelegate()
    : welcome_manage_services_vc(ui::make<ManageServicesViewController>()),
      fileView_controller(ui::make<VornFileViewController>()) {
    // A fresh record: a new window id, nothing connected.
    my_session_info = std::make_shared<VornCurrentServiceStateInfo>();
    my_session_info->file_path.reset();
    my_session_info->current_dir.reset();
    my_session_info->server_url.reset();
    my_session_info->service_id.reset();
    my_session_info->connected = false;
}

FileViewerSceneDelegate::~FileViewerSceneDelegate() {
    // A closing window's connection stops its workers off the GUI thread.
    release_in_background(std::move(provider_bucket));
}

void FileViewerSceneDelegate::set_my_next(QObject* next) {
    my_next = next;
    ui::setNextResponder(this, next);
}

void FileViewerSceneDelegate::willConnectToSession(ui::Scene* scene, ui::SceneSession*, const ui::ConnectionOptions&) {
    setup_file_viewer_window(scene);
}

void FileViewerSceneDelegate::sceneDidDisconnect(ui::Scene*) {}
void FileViewerSceneDelegate::openURLContexts(ui::Scene*, const QList<QUrl>&) {}
void FileViewerSceneDelegate::didUpdateUserActivity(ui::Scene*, const ui::UserActivity&) {}

void FileViewerSceneDelegate::setup_file_viewer_window(ui::Scene* scene) {
    auto* viewer = qobject_cast<FileViewerScene*>(scene);
    if (!viewer) return;

    // The welcome list works for this window.
    welcome_manage_services_vc->scene_file_delegatex = this;
    welcome_manage_services_vc->file_controller_window_id = my_session_info->static_window_file_id;
    welcome_manage_services_vc->close_btn->setHidden(true);

    viewer->setTitle(QString::fromStdString(app_display_name()));

    scene_ = viewer;
    auto* window = new FileViewerWindow(viewer);
    QPointer<FileViewerSceneDelegate> self(this);
    window->close_requested = [self] {
        if (self) self->request_window_close();
    };
    fileView_controller = ui::make<VornFileViewController>();
    fileView_controller->scene_file_delegatex = this;
    window->setRootViewController(fileView_controller);

    welcome_manage_services_vc->welcome_manage_services_protocol_delegate = fileView_controller.get();

    window->setOverrideUserInterfaceStyle(ui::styleForModeAppearance(EnumManager::read_mode_appearance()));
    setWindow(window);

    if (auto* limits = viewer->sizeRestrictions()) {
        limits->setMinimumSize(kOpeningSize);
        limits->setMaximumSize(kOpeningSize);
        QPointer<FileViewerScene> target(viewer);
        QTimer::singleShot(kRelaxDelayMs, viewer, [target] {
            if (!target || !target->sizeRestrictions()) return;
            target->sizeRestrictions()->setMinimumSize(kRelaxedMinimum);
            target->sizeRestrictions()->setMaximumSize(kRelaxedMaximum);
        });
    }
    window->resize(kOpeningSize);
    window->makeKeyAndVisible();
}

void FileViewerSceneDelegate::request_window_close() {
    QPointer<FileViewerSceneDelegate> self(this);
    close_document_windows([self](bool closed) {
        if (!closed || !self || !self->scene_ || !self->scene_->session()) return;
        ui::Application::shared().requestSceneSessionDestruction(self->scene_->session(), {}, nullptr);
    });
}
