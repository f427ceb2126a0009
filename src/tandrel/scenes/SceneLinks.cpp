// The scene layer's side of VornSceneLinksProtocol: each request of the server and document
// screens answered by the scene manager, the document window's classes and the main menu.
#include <QObject>

#include "tandrel/foundation/VornSceneLinksProtocol.h"
#include "tandrel/scenes/DocumentScene.h"
#include "tandrel/scenes/SceneManager.h"
#include "tandrel/scenes/SiteSearchWindow.h"
#include "tandrel/scenes/VornMainMenuController.h"
#include "tandrel/servers/FileViewerScene.h"

namespace {

class SceneManagerLinks : public VornSceneLinksProtocol {
public:
    void open_document_scene(const std::string& service_session_id, const std::string& file_bucket_id,
                             bool preview_supported, ErrorHandler error_handler) override {
        SceneManager::open_document_scene(service_session_id, file_bucket_id, preview_supported,
                                          std::move(error_handler));
    }
    void open_alert_scene(const std::string& title, const std::string& message, ErrorHandler error_handler) override {
        SceneManager::open_alert_scene(title, message, std::move(error_handler));
    }
    void open_single_service_scene(const std::string& file_controller_window_id, ErrorHandler error_handler) override {
        SceneManager::open_single_service_scene(file_controller_window_id, std::move(error_handler));
    }
    void close_document_scenes_of(const QObject* file_viewer, const std::optional<std::string>& service_id,
                                  std::function<void(bool closed)> then) override {
        SceneManager::close_document_scenes_of(file_viewer, service_id, std::move(then));
    }
    VornFileViewerSceneDelegateProtocol* find_file_viewer(const std::string& service_id) override {
        FileViewerScene* scene = SceneManager::find_file_viewer_scene(service_id);
        return scene ? qobject_cast<FileViewerSceneDelegate*>(scene->delegate()) : nullptr;
    }
    bool is_document_scene(const ui::Scene* scene) const override {
        return qobject_cast<const DocumentScene*>(scene) != nullptr;
    }
    void open_site_search(VornFileViewerSceneDelegateProtocol* file_viewer) override {
        SiteSearchWindow::open_for(file_viewer);
    }
    void rebuild_menus() override { VornMainMenuController::rebuild_menus(); }
    bool validate_editor_toggle(ui::Command* command) override {
        return VornMainMenuController::validate_editor_toggle(command);
    }
};

}  // namespace

void SceneManager::install_scene_links() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    ::install_scene_links(std::make_shared<SceneManagerLinks>());
}
