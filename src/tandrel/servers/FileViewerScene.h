#pragma once
// The file-viewer window: one window scene of the configuration "Default Configuration" that
// shows the remote file explorer and owns the connection to one saved server at a time. Its
// scene delegate is the hub of the window: it makes the window and its root screen and keeps the
// provider bucket, the connected server record and the window's state record.
#include <QPointer>
#include <memory>

#include "platform/ui/scenes/Scene.h"
#include "platform/ui/scenes/Window.h"
#include "tandrel/foundation/VornCurrentServiceStateInfo.h"
#include "tandrel/foundation/VornServicesDataModel.h"
#include "tandrel/servers/VornFileViewerSceneDelegateProtocol.h"

class ManageServicesViewController;
class VornFileViewController;
class VornProviderBucket;

class FileViewerWindow : public ui::Window {
    Q_OBJECT
public:
    explicit FileViewerWindow(ui::Scene* scene) : ui::Window(scene) {}
    bool hasActiveConnection = false;
};

class FileViewerScene : public ui::Scene {
    Q_OBJECT
public:
    explicit FileViewerScene(ui::SceneSession* session) : ui::Scene(session) {}

    // Next responder after the scene when set (else the delegate, as for every scene).
    QPointer<QObject> my_next;
    void set_my_next(QObject* next);
};

class FileViewerSceneDelegate : public VornFileViewerSceneDelegateProtocol {
    Q_OBJECT
public:
    FileViewerSceneDelegate();
    ~FileViewerSceneDelegate() override;

    // The saved-servers list shown on the explorer's welcome splash.
    std::shared_ptr<ManageServicesViewController> welcome_manage_services_vc;
    // The window's root screen.
    std::shared_ptr<VornFileViewController> fileView_controller;
    // The live connection, when connected.
    std::shared_ptr<VornProviderBucket> provider_bucket;
    // The connected server.
    std::shared_ptr<VornSingleServiceDataModel> service;
    // The window's state; its `static_window_file_id` is the window's identity for its life.
    std::shared_ptr<VornCurrentServiceStateInfo> my_session_info;
    // Next responder after the delegate when set (else the application).
    QPointer<QObject> my_next;
    void set_my_next(QObject* next);

    void willConnectToSession(ui::Scene* scene, ui::SceneSession* session, const ui::ConnectionOptions& options) override;
    void sceneDidDisconnect(ui::Scene* scene) override;
    void openURLContexts(ui::Scene* scene, const QList<QUrl>& urls) override;
    void didUpdateUserActivity(ui::Scene* scene, const ui::UserActivity& activity) override;

    void setup_file_viewer_window(ui::Scene* scene);

    // Sizes of the window: fixed at first, then free within these limits 3.0 s later.
    static constexpr QSize kOpeningSize{300, 770};
    static constexpr QSize kRelaxedMinimum{300, 300};
    static constexpr QSize kRelaxedMaximum{2560, 1600};
    static constexpr int kRelaxDelayMs = 3000;
};
