#include "tandrel/scenes/DocumentScene.h"
#include "tandrel/scenes/SiteSearchWindow.h"

#include <QAction>
#include <QCloseEvent>

#include <cstdio>

#include "platform/ui/Idiom.h"
#include "platform/ui/scenes/Application.h"
#include "platform/ui/scenes/SceneSession.h"
#include "platform/ui/scenes/UserActivity.h"
#include "tandrel/editor/DocumentInterfaceManager.h"
#include "tandrel/editor/MainViewController.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/scenes/SceneKind.h"
#include "tandrel/scenes/SceneManager.h"

// ---- DocumentScene ----------------------------------------------------------------------------

DocumentScene::DocumentScene(ui::SceneSession* session) : ui::Scene(session) {}

DocumentScene::~DocumentScene() { AMZLogger::shared().log_verbose("deinit DocumentScene"); }

// ---- DocumentWindow ---------------------------------------------------------------------------

DocumentWindow::DocumentWindow(ui::Scene* scene) : ui::Window(scene) {
    auto* close_key = new QAction(this);
    close_key->setObjectName(QStringLiteral("document_window_close_key"));
    close_key->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    close_key->setShortcutContext(Qt::WindowShortcut);
    connect(close_key, &QAction::triggered, this, [this] { close(); });
    addAction(close_key);
}

DocumentWindow::~DocumentWindow() { AMZLogger::shared().log_verbose("deinit DocumentWindow"); }

void DocumentWindow::closeEvent(QCloseEvent* event) {
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

// ---- DocumentSceneDelegate --------------------------------------------------------------------

DocumentSceneDelegate::DocumentSceneDelegate() : doc_int_man(std::make_shared<DocumentInterfaceManager>()) {}

DocumentSceneDelegate::~DocumentSceneDelegate() {
    AMZLogger::shared().log_verbose("deinit DocumentSceneDelegate");
}

void DocumentSceneDelegate::willConnectToSession(ui::Scene* scene, ui::SceneSession* session,
                                                 const ui::ConnectionOptions& options) {
    setup_document_window(scene, session, options);
}

void DocumentSceneDelegate::sceneDidDisconnect(ui::Scene*) {
    if (torn_down_) return;
    torn_down_ = true;
    doc_int_man->teardown_document_interface();
}

void DocumentSceneDelegate::didUpdateUserActivity(ui::Scene*, const ui::UserActivity&) {
    std::printf("SSA SceneDelegate didUpdate\n");
    std::fflush(stdout);
}

void DocumentSceneDelegate::setup_document_window(ui::Scene* scene, ui::SceneSession* session,
                                                  const ui::ConnectionOptions& options) {
    (void)session;
    scene_ = scene;
    std::optional<QString> service_session_id, file_bucket_id;
    std::optional<bool> preview_supported;
    if (!options.userActivities.isEmpty()) {
        if (const auto& info = options.userActivities.first().userInfo()) {
            service_session_id = ui::UserActivity::stringValue(*info, scene_user_info::service_session_id);
            file_bucket_id = ui::UserActivity::stringValue(*info, scene_user_info::file_bucket_id);
            preview_supported = ui::UserActivity::boolValue(*info, scene_user_info::preview_supported);
        }
    }
    if (!service_session_id || !file_bucket_id || !preview_supported) {
        // Without its document the window has nothing to show: a server window opens instead.
        ui::Application& app = ui::Application::shared();
        app.requestSceneSessionActivation(nullptr, ui::UserActivity(scene_kind_activity_type(SceneKind::server_viewer)),
                                          {}, nullptr);
        destroy_own_session();
        return;
    }
    if (!qobject_cast<DocumentScene*>(scene)) return;

    // The same file of the same server already has a window: that window comes forward instead
    // of a second editor whose saves could overwrite the first one's.
    for (DocumentScene* other : SceneManager::document_scenes()) {
        if (other == scene) continue;
        auto* delegate = qobject_cast<DocumentSceneDelegate*>(other->delegate());
        if (!delegate || !delegate->doc_int_man) continue;
        const auto& info = delegate->doc_int_man->my_current_editor_info;
        if (info.service_session_id == service_session_id->toStdString() &&
            info.file_bucket_id == file_bucket_id->toStdString()) {
            ui::Application::shared().requestSceneSessionActivation(other->session(), std::nullopt, {}, nullptr);
            destroy_own_session();
            return;
        }
    }

    auto* window = new DocumentWindow(scene);
    if (ui::userInterfaceIdiom() == ui::Idiom::mac) window->resize(kDefaultSize);
    auto& info = doc_int_man->my_current_editor_info;
    info.file_bucket_id = file_bucket_id->toStdString();
    info.service_session_id = service_session_id->toStdString();
    info.preview_supported = *preview_supported;
    doc_int_man->owning_scene = scene;
    doc_int_man->setup_document_controllers();
    doc_int_man->main_controller->scene_delegatex = doc_int_man.get();
    window->setRootViewController(doc_int_man->main_controller);

    switch (EnumManager::read_mode_appearance()) {
        case 1: window->setOverrideUserInterfaceStyle(ui::InterfaceStyle::dark); break;
        case 2: window->setOverrideUserInterfaceStyle(ui::InterfaceStyle::light); break;
        default: break;
    }
    QPointer<DocumentSceneDelegate> self(this);
    window->close_requested = [self] {
        if (self) self->request_window_close();
    };
    setWindow(window);
    window->makeKeyAndVisible();
}

void DocumentSceneDelegate::destroy_own_session() {
    if (!scene_ || !scene_->session()) return;
    ui::Application::shared().requestSceneSessionDestruction(scene_->session(), {}, nullptr);
}

void DocumentSceneDelegate::request_window_close() {
    if (!doc_int_man || !doc_int_man->main_controller) return destroy_own_session();
    QPointer<DocumentSceneDelegate> self(this);
    doc_int_man->main_controller->close_for_window(
        [self] {
            if (self) self->destroy_own_session();
        },
        [](bool) {});
}

std::optional<std::string> DocumentSceneDelegate::document_service_session_id() const {
    if (!doc_int_man) return std::nullopt;
    return doc_int_man->my_current_editor_info.service_session_id;
}

const QObject* DocumentSceneDelegate::document_file_viewer() const {
    return doc_int_man ? doc_int_man->file_server_delegatex.data() : nullptr;
}

void DocumentSceneDelegate::decide_close_with_server(std::function<void(bool may_close)> decided) {
    if (!doc_int_man || !doc_int_man->main_controller) {
        if (decided) decided(true);
        return;
    }
    doc_int_man->main_controller->decide_before_close(std::move(decided));
}

bool DocumentSceneDelegate::close_after_decision() {
    QPointer<DocumentSceneDelegate> self(this);
    auto close_now = [self] {
        if (self) self->destroy_own_session();
    };
    if (!doc_int_man || !doc_int_man->main_controller) {
        close_now();
    } else {
        doc_int_man->main_controller->close_after_decision(close_now);
    }
    return true;
}

void DocumentSceneDelegate::find_in_site() {
    if (doc_int_man && doc_int_man->file_server_delegatex) SiteSearchWindow::open_for(doc_int_man->file_server_delegatex);
}
