#pragma once
// The two small windows that serve a file-viewer window: the single-service window (the form that
// adds or edits one saved server) and the manage-services window (the list of saved servers).
// Both open at a fixed size on the desktop and become resizable up to 2560 x 1600 three seconds
// later. A request without the window id it needs closes its own session.
#include <QPointer>
#include <QSize>
#include <optional>

#include "platform/ui/scenes/Scene.h"
#include "platform/ui/scenes/Window.h"
#include "tandrel/foundation/VornFileViewerSceneDelegateProtocol.h"

class SingleServiceScene : public ui::Scene {
    Q_OBJECT
public:
    explicit SingleServiceScene(ui::SceneSession* session) : ui::Scene(session) {}
    ~SingleServiceScene() override;
};

class SingleServiceWindow : public ui::Window {
    Q_OBJECT
public:
    explicit SingleServiceWindow(ui::Scene* scene) : ui::Window(scene) {}
    ~SingleServiceWindow() override;
};

class SingleServiceSceneDelegate : public ui::SceneDelegate {
    Q_OBJECT
public:
    ~SingleServiceSceneDelegate() override;

    // The window's document-interface link: only the weak link to the file-viewer window that
    // the form works for; no document screens are built here.
    struct DocumentInterfaceLink {
        QPointer<VornFileViewerSceneDelegateProtocol> file_server_delegatex;
    } doc_int_man;

    void willConnectToSession(ui::Scene* scene, ui::SceneSession* session, const ui::ConnectionOptions& options) override;
    void openURLContexts(ui::Scene* scene, const QList<QUrl>& urls) override;
    void didUpdateUserActivity(ui::Scene* scene, const ui::UserActivity& activity) override;

    void setup_single_service_window(ui::Scene* scene, ui::SceneSession* session, const ui::ConnectionOptions& options);
    static void relax_size_limits(ui::Scene* scene);

    static constexpr QSize kOpeningSize{450, 450};
};

class ManageServicesScene : public ui::Scene {
    Q_OBJECT
public:
    explicit ManageServicesScene(ui::SceneSession* session) : ui::Scene(session) {}
    ~ManageServicesScene() override;
};

class ManageServicesWindow : public ui::Window {
    Q_OBJECT
public:
    explicit ManageServicesWindow(ui::Scene* scene) : ui::Window(scene) {}
    ~ManageServicesWindow() override;
};

class ManageServicesSceneDelegate : public ui::SceneDelegate {
    Q_OBJECT
public:
    ~ManageServicesSceneDelegate() override;

    void willConnectToSession(ui::Scene* scene, ui::SceneSession* session, const ui::ConnectionOptions& options) override;
    void sceneWillEnterForeground(ui::Scene* scene) override;
    void openURLContexts(ui::Scene* scene, const QList<QUrl>& urls) override;
    void didUpdateUserActivity(ui::Scene* scene, const ui::UserActivity& activity) override;

    void setup_manage_services_window(ui::Scene* scene, ui::SceneSession* session, const ui::ConnectionOptions& options);
    static void relax_size_limits(ui::Scene* scene);

    static constexpr QSize kOpeningSize{450, 400};
};

// Size limits both server windows end with.
inline constexpr QSize kServerWindowRelaxedMaximum{2560, 1600};
inline constexpr int kServerWindowRelaxDelayMs = 3000;

// The user info of the first activity when every value is text; nothing otherwise (no activity,
// no user info, or a value of another type).
std::optional<QVariantMap> server_window_user_info(const ui::ConnectionOptions& options);
