#include "tandrel/scenes/SceneManager.h"

#include <QRandomGenerator>
#include <QWidget>
#include <memory>

#include "platform/dispatch/Dispatch.h"
#include "platform/ui/scenes/Application.h"
#include "tandrel/scenes/DocumentScene.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/SingleServiceViewController.h"
#include "tandrel/servers/VornFileViewController.h"

namespace {
bool configurationIs(const ui::Scene* scene, SceneKind kind) {
    const ui::SceneSession* session = scene->session();
    if (!session || !session->configuration().name) return false;
    return *session->configuration().name == scene_kind_configuration_name(kind);
}
}  // namespace

ui::SceneConfiguration SceneManager::scene_configuration(SceneKind kind) {
    return ui::SceneConfiguration(scene_kind_configuration_name(kind), ui::SceneSessionRole::windowApplication);
}

ui::SceneConfiguration SceneManager::configuration_for_connecting(const ui::ConnectionOptions& options) {
    if (!options.userActivities.isEmpty()) {
        if (auto kind = scene_kind_from_activity_type(options.userActivities.first().activityType())) {
            return scene_configuration(*kind);
        }
    }
    return ui::SceneConfiguration(QString::fromLatin1(kDefaultSceneConfigurationName),
                                  ui::SceneSessionRole::windowApplication);
}

VornError SceneManager::scene_error(const ui::SceneError& error) {
    const char* name = "sceneError";
    switch (error.code) {
        case ui::SceneError::Code::configurationUnavailable: name = "configurationUnavailable"; break;
        case ui::SceneError::Code::multipleScenesUnsupported: name = "multipleScenesUnsupported"; break;
        case ui::SceneError::Code::sessionNotFound: name = "sessionNotFound"; break;
    }
    return VornError{"SceneError", static_cast<int64_t>(error.code), error.message.toStdString(), name};
}

void SceneManager::request_scene(SceneKind kind, std::optional<QVariantMap> user_info, ErrorHandler error_handler) {
    ui::UserActivity activity(scene_kind_activity_type(kind));
    if (user_info) activity.addUserInfoEntries(*user_info);
    ui::SceneErrorHandler handler;
    if (error_handler) {
        handler = [error_handler](const ui::SceneError& e) { error_handler(scene_error(e)); };
    }
    ui::Application::shared().requestSceneSessionActivation(nullptr, activity, {}, handler);
}

void SceneManager::open_document_scene(const std::string& service_session_id, const std::string& file_bucket_id,
                                       bool preview_supported, ErrorHandler error_handler) {
    if (!ui::Application::shared().supportsMultipleScenes()) return;
    QVariantMap info;
    info.insert(scene_user_info::service_session_id, QString::fromStdString(service_session_id));
    info.insert(scene_user_info::file_bucket_id, QString::fromStdString(file_bucket_id));
    info.insert(scene_user_info::preview_supported, preview_supported);
    request_scene(SceneKind::main_editor, info, std::move(error_handler));
}

void SceneManager::open_alert_scene(const std::string& title, const std::string& message, ErrorHandler error_handler) {
    ui::UserActivity activity(scene_kind_activity_type(SceneKind::alert_window));
    activity.addUserInfoEntries({{scene_user_info::title, QString::fromStdString(title)}});
    activity.addUserInfoEntries({{scene_user_info::message, QString::fromStdString(message)}});
    request_scene(SceneKind::alert_window, activity.userInfo(), std::move(error_handler));
}

void SceneManager::open_single_service_scene(const std::string& file_controller_window_id, ErrorHandler error_handler) {
    if (ui::Application::shared().supportsMultipleScenes()) {
        QVariantMap info;
        info.insert(scene_user_info::file_controller_window_id, QString::fromStdString(file_controller_window_id));
        request_scene(SceneKind::single_service, info, std::move(error_handler));
        return;
    }
    // One window: the form opens over the key file viewer's explorer.
    FileViewerScene* scene = key_file_viewer_scene();
    if (!scene) return;
    auto* delegate = qobject_cast<FileViewerSceneDelegate*>(scene->delegate());
    if (!delegate || !delegate->fileView_controller) return;
    auto explorer = delegate->fileView_controller;
    QPointer<VornFileViewerSceneDelegateProtocol> link = explorer->scene_file_delegatex;
    if (!link) return;
    if (QWidget* root = explorer->view()) {
        auto* rng = QRandomGenerator::global();
        QPalette p = root->palette();
        p.setColor(QPalette::Window, QColor::fromRgbF(static_cast<float>(rng->generateDouble()),
                                                      static_cast<float>(rng->generateDouble()),
                                                      static_cast<float>(rng->generateDouble()), 1.0f));
        root->setPalette(p);
        root->setAutoFillBackground(true);
    }
    auto form = ui::make<SingleServiceViewController>();
    form->is_editing_a_service = false;
    form->scene_file_delegatex = link;
    explorer->presentViewController(form, true);
}

namespace {

// The windows of one close with their server, decided one after another.
struct DecisionRun {
    std::vector<QPointer<DocumentScene>> scenes;
    std::function<void(bool closed)> then;
};

DocumentSceneServiceLink* link_of(const QPointer<DocumentScene>& scene) {
    return scene ? dynamic_cast<DocumentSceneServiceLink*>(scene->delegate()) : nullptr;
}

void decide_from(const std::shared_ptr<DecisionRun>& run, size_t index) {
    // A window that went meanwhile needs no decision.
    while (index < run->scenes.size() && !link_of(run->scenes[index])) ++index;
    if (index == run->scenes.size()) {
        for (const auto& scene : run->scenes) {
            auto* link = link_of(scene);
            if (!link || link->close_after_decision() || !scene->session()) continue;
            ui::Application::shared().requestSceneSessionDestruction(scene->session(), {}, nullptr);
        }
        if (run->then) run->then(true);
        return;
    }
    link_of(run->scenes[index])->decide_close_with_server([run, index](bool may_close) {
        if (!may_close) {
            if (run->then) run->then(false);
            return;
        }
        decide_from(run, index + 1);
    });
}

}  // namespace

void SceneManager::close_document_scenes_of(const QObject* file_viewer, const std::optional<std::string>& service_id,
                                            std::function<void(bool closed)> then) {
    auto run = std::make_shared<DecisionRun>();
    run->then = std::move(then);
    for (DocumentScene* scene : document_scenes()) {
        auto* link = dynamic_cast<DocumentSceneServiceLink*>(scene->delegate());
        if (!link) continue;
        const QObject* viewer = link->document_file_viewer();
        const bool served = viewer ? viewer == file_viewer : service_id && link->document_service_session_id() == service_id;
        if (served) run->scenes.emplace_back(scene);
    }
    decide_from(run, 0);
}

std::vector<FileViewerScene*> SceneManager::file_viewer_scenes() {
    std::vector<FileViewerScene*> out;
    for (ui::Scene* s : ui::Application::shared().connectedScenes()) {
        if (!configurationIs(s, SceneKind::server_viewer)) continue;
        if (auto* viewer = qobject_cast<FileViewerScene*>(s)) out.push_back(viewer);
    }
    return out;
}

std::vector<DocumentScene*> SceneManager::document_scenes() {
    std::vector<DocumentScene*> out;
    for (ui::Scene* s : ui::Application::shared().connectedScenes()) {
        if (!configurationIs(s, SceneKind::main_editor)) continue;
        if (auto* doc = qobject_cast<DocumentScene*>(s)) out.push_back(doc);
    }
    return out;
}

FileViewerScene* SceneManager::find_file_viewer_scene(const std::string& service_id) {
    for (FileViewerScene* scene : file_viewer_scenes()) {
        auto* delegate = qobject_cast<FileViewerSceneDelegate*>(scene->delegate());
        if (!delegate || !delegate->my_session_info) continue;
        const auto& id = delegate->my_session_info->service_id;
        if (id && *id == service_id) return scene;
    }
    return nullptr;
}

FileViewerScene* SceneManager::find_file_viewer_scene_for_window_id(const std::string& window_id) {
    for (FileViewerScene* scene : file_viewer_scenes()) {
        auto* delegate = qobject_cast<FileViewerSceneDelegate*>(scene->delegate());
        if (!delegate || !delegate->my_session_info) continue;
        if (delegate->my_session_info->static_window_file_id == window_id) return scene;
    }
    return nullptr;
}

FileViewerScene* SceneManager::key_file_viewer_scene() {
    FileViewerScene* found = nullptr;
    for (FileViewerScene* scene : file_viewer_scenes()) {
        if (ui::Window* key = scene->keyWindow(); key && key->isKeyWindow()) found = scene;
    }
    return found;
}
