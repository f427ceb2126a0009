#pragma once
// What the server screens and the document screens ask of the other kinds of window: open a
// document, alert, server-form or site-search window, find the file-viewer window of a server, tell a document
// window apart, let the document windows a file viewer serves decide and close, and rebuild or
// validate the main menu. Declared here so that tandrel/servers and tandrel/editor need only the
// foundation; the scene layer (tandrel/scenes, which knows every window kind) implements it and
// installs it at start-up (SceneManager::install_scene_links). Until then the links answer as an
// app with no other window: nothing opens or is found, no document window has to decide.
// Main thread only.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "tandrel/foundation/VornError.h"

class QObject;
class VornFileViewerSceneDelegateProtocol;
namespace ui {
class Scene;
struct Command;
}  // namespace ui

class VornSceneLinksProtocol {
public:
    using ErrorHandler = std::function<void(const VornError&)>;
    virtual ~VornSceneLinksProtocol() = default;

    // A document window for a file of a server (nothing without multiple windows).
    virtual void open_document_scene(const std::string& service_session_id, const std::string& file_bucket_id,
                                     bool preview_supported, ErrorHandler error_handler);
    // An alert window with a title and a message.
    virtual void open_alert_scene(const std::string& title, const std::string& message, ErrorHandler error_handler);
    // The add-server form for the file-viewer window with that window id.
    virtual void open_single_service_scene(const std::string& file_controller_window_id, ErrorHandler error_handler);
    // The document windows a file-viewer window serves decide about their unsaved changes, then
    // close; `then` gets true, or false when one was kept (SceneManager::close_document_scenes_of).
    virtual void close_document_scenes_of(const QObject* file_viewer, const std::optional<std::string>& service_id,
                                          std::function<void(bool closed)> then);
    // The scene delegate of the file-viewer window connected to the server, or nullptr.
    virtual VornFileViewerSceneDelegateProtocol* find_file_viewer(const std::string& service_id);
    // Whether the scene is a document window's.
    virtual bool is_document_scene(const ui::Scene* scene) const;
    // The "Find in Site" window of a file-viewer window: opened, or brought forward.
    virtual void open_site_search(VornFileViewerSceneDelegateProtocol* file_viewer);
    // Queues a rebuild of the main menus.
    virtual void rebuild_menus();
    // The Editor menu's toggles' titles and check marks; true when the command is one of them.
    virtual bool validate_editor_toggle(ui::Command* command);
};

// The installed links (a plain VornSceneLinksProtocol until the scene layer installs its own).
VornSceneLinksProtocol& scene_links();
// Installs the links; nothing restores the plain ones.
void install_scene_links(std::shared_ptr<VornSceneLinksProtocol> links);
