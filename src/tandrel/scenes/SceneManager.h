#pragma once
// The window vocabulary of the app and the requests that open, find and close windows. Class-level
// operations only, used on the main thread. The scene layer is the one place that knows every
// kind of window: the server screens (tandrel/servers) and the document screens (tandrel/editor)
// reach these operations only through VornSceneLinksProtocol (tandrel/foundation), which
// install_scene_links puts in place.
#include <QVariantMap>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/scenes/SceneConfiguration.h"
#include "tandrel/foundation/VornError.h"
#include "tandrel/scenes/SceneKind.h"

class DocumentScene;
class QObject;
class FileViewerScene;

class SceneManager {
public:
    using ErrorHandler = std::function<void(const VornError&)>;

    // A new configuration with the kind's name and the application window role.
    static ui::SceneConfiguration scene_configuration(SceneKind kind);
    // The configuration for a connecting scene: the first activity's type when it is one of
    // the kinds (exactly, case-sensitive), else "Default Configuration".
    static ui::SceneConfiguration configuration_for_connecting(const ui::ConnectionOptions& options);

    // A document window for a file of a server; nothing (and no error) without multiple windows.
    static void open_document_scene(const std::string& service_session_id, const std::string& file_bucket_id,
                                    bool preview_supported, ErrorHandler error_handler = nullptr);
    // An alert window; asked for even where only one window is possible (the failure then
    // reaches the error handler).
    static void open_alert_scene(const std::string& title, const std::string& message,
                                 ErrorHandler error_handler = nullptr);
    // The add-server window for a file-viewer window; without multiple windows, the form is
    // shown over the key file viewer's explorer instead.
    static void open_single_service_scene(const std::string& file_controller_window_id,
                                          ErrorHandler error_handler = nullptr);
    // Closes the document windows that a file-viewer window serves (those linked to it, and those
    // of its server `service_id` that name no file viewer), before that window lets go of its
    // server: each window's "Unsaved Changes" decision is asked in turn (the connection still up,
    // so "Save" can write); once every one is decided, they all close and `then` gets true. A
    // "Cancel" (or a save that failed) stops there and keeps every window open: `then` gets false.
    static void close_document_scenes_of(const QObject* file_viewer, const std::optional<std::string>& service_id,
                                         std::function<void(bool closed)> then);

    // The file-viewer window connected to the server (`my_session_info.service_id`).
    static FileViewerScene* find_file_viewer_scene(const std::string& service_id);
    // The file-viewer window with that `static_window_file_id`.
    static FileViewerScene* find_file_viewer_scene_for_window_id(const std::string& window_id);
    // The file-viewer window holding the key window (the last one when several do).
    static FileViewerScene* key_file_viewer_scene();
    static std::vector<FileViewerScene*> file_viewer_scenes();
    static std::vector<DocumentScene*> document_scenes();

    // The common request: an activity of the kind with the user info, no session, no options.
    static void request_scene(SceneKind kind, std::optional<QVariantMap> user_info, ErrorHandler error_handler);

    // The error value of a failed scene request.
    static VornError scene_error(const ui::SceneError& error);

    // Installs the scene layer's VornSceneLinksProtocol (SceneLinks.cpp), through which the server
    // and document screens reach the other windows and the main menu. The app calls it at start-up,
    // before any window connects; calling it again changes nothing.
    static void install_scene_links();
};
