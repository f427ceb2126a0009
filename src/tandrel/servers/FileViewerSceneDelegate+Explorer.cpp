// How the window's connection flow drives its screens: the file explorer, the connection
// header and the welcome list of saved servers.
#include <algorithm>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/RemotePath.h"
#include "platform/ui/scenes/Application.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/VornSessionsDataModel.h"
#include "tandrel/foundation/VornSessionsManager.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/foundation/VornSceneLinksProtocol.h"
#include "tandrel/servers/ManageServicesViewController.h"
#include "tandrel/servers/QuickConnectView.h"
#include "tandrel/servers/VornFileViewController.h"

void FileViewerSceneDelegate::show_disconnected_window() {
    VornFileViewController* explorer = fileView_controller.get();
    if (!explorer) return;
    explorer->show_disconnected_state();
    explorer->update_window_title_on_main(nullptr);
    QuickConnectView* header = explorer->quickConnectView;
    if (header) header->clear_header_on_main();
    if (header && header->file_delegatex) {
        if (auto* window = qobject_cast<FileViewerSceneDelegate*>(header->file_delegatex.data())) window->show_welcome_splash();
    }
}

void FileViewerSceneDelegate::show_welcome_splash() {
    // The window shows the list of saved servers now: it names no server until one connects
    // (show_connected_window), though the last one may still be connected behind the list.
    if (fileView_controller) {
        fileView_controller->show_welcome_splash_view();
        fileView_controller->update_window_title_on_main(nullptr);
    }
    if (welcome_manage_services_vc) welcome_manage_services_vc->open_new_service_form_if_empty();
}

void FileViewerSceneDelegate::show_connected_window(const std::shared_ptr<VornSingleServiceDataModel>& server) {
    VornFileViewController* explorer = fileView_controller.get();
    if (!explorer || !server) return;
    explorer->show_connected_state();
    explorer->update_window_title_on_main(server);
    if (explorer->quickConnectView) explorer->quickConnectView->show_connected_service(server->id);
}

void FileViewerSceneDelegate::clear_header_on_main() {
    if (fileView_controller && fileView_controller->quickConnectView) fileView_controller->quickConnectView->clear_header_on_main();
}

std::shared_ptr<VornServerFilesDataModel> FileViewerSceneDelegate::explorer_listing() const {
    return fileView_controller ? fileView_controller->current_settings.currentServerReturnInfo : nullptr;
}

std::shared_ptr<VornServerFileDataModel> FileViewerSceneDelegate::find_listed_file(const std::string& file_id) const {
    auto listing = explorer_listing();
    if (!listing || !listing->fileSections) return nullptr;
    for (const auto& entry : *listing->fileSections) {
        if (!entry || !entry->path) continue;
        if (file_bucket_id_for_path(*entry->path) == file_id) return entry;
    }
    return nullptr;
}

void FileViewerSceneDelegate::reload_explorer_directory_on_main(bool show_spinner) {
    QPointer<FileViewerSceneDelegate> self(this);
    dispatch::mainQueue().async([self, show_spinner] {
        if (!self) return;
        if (self->explorer_reload_hook) self->explorer_reload_hook(show_spinner);
        if (self->fileView_controller) self->fileView_controller->refresh_directory_on_main(show_spinner);
    });
}

void FileViewerSceneDelegate::reload_visible_sections_on_main() {
    if (fileView_controller) fileView_controller->reload_visible_sections_on_main();
}

// ---- renamed and deleted items -----------------------------------------------------------------

namespace {
// The file-viewer windows connected to the server (this one among them).
std::vector<QPointer<FileViewerSceneDelegate>> windows_of_server(const std::string& service_id) {
    std::vector<QPointer<FileViewerSceneDelegate>> out;
    for (ui::Scene* scene : ui::Application::shared().connectedScenes()) {
        auto* window = scene ? qobject_cast<FileViewerSceneDelegate*>(scene->delegate()) : nullptr;
        if (window && window->service && window->service->id == service_id) out.emplace_back(window);
    }
    return out;
}
}  // namespace

void FileViewerSceneDelegate::remote_item_moved(const std::string& from, const std::string& to) {
    if (service) item_moved_on_server(service->id, from, to, this);
}

void FileViewerSceneDelegate::remote_item_removed(const std::string& path) {
    if (service) item_removed_on_server(service->id, path, this);
}

namespace {
// The server's editing sessions, saved when `change` changed one of them.
void change_sessions(const std::string& service_id,
                     const std::function<bool(VornACEFileSessionsDataModel& session)>& change) {
    auto& all = app_sessions_manager().service_sessions;
    auto it = all.find(service_id);
    if (it == all.end() || !it->second) return;
    bool changed = false;
    for (auto& session : it->second->ace_file_sessions) {
        if (session && change(*session)) changed = true;
    }
    if (!changed) return;
    app_sessions_manager().request_save_sessions(it->second, [](std::optional<VornError> error) {
        if (error) AMZLogger::shared().log_error("saving the sessions after a remote change: " + error->text());
    });
}

// The windows connected to the server, and `also` (the window where the change was made) when
// it is not among them.
std::vector<QPointer<FileViewerSceneDelegate>> windows_to_tell(const std::string& service_id,
                                                               FileViewerSceneDelegate* also) {
    std::vector<QPointer<FileViewerSceneDelegate>> windows = windows_of_server(service_id);
    if (also && std::find(windows.begin(), windows.end(), also) == windows.end()) windows.emplace_back(also);
    return windows;
}
}  // namespace

void FileViewerSceneDelegate::item_moved_on_server(const std::string& service_id, const std::string& from,
                                                   const std::string& to, FileViewerSceneDelegate* also) {
    change_sessions(service_id, [&](VornACEFileSessionsDataModel& session) { return session.follow_move(from, to); });
    for (const auto& window : windows_to_tell(service_id, also)) {
        if (window) emit window->remoteItemMoved(QByteArray::fromStdString(from), QByteArray::fromStdString(to));
    }
}

void FileViewerSceneDelegate::item_removed_on_server(const std::string& service_id, const std::string& path,
                                                     FileViewerSceneDelegate* also) {
    change_sessions(service_id, [&](VornACEFileSessionsDataModel& session) {
        if (session.removed_from_server || !files::path::isSameOrInside(session.file_path, path)) return false;
        session.removed_from_server = true;
        return true;
    });
    for (const auto& window : windows_to_tell(service_id, also)) {
        if (window) emit window->remoteItemRemoved(QByteArray::fromStdString(path));
    }
}

bool FileViewerSceneDelegate::apply_saved_settings(const VornSingleServiceDataModel& saved) {
    if (!VornFileViewerSceneDelegateProtocol::apply_saved_settings(saved)) return false;
    if (my_session_info->connected && fileView_controller) {
        fileView_controller->update_window_title_on_main(service);
        if (QuickConnectView* header = fileView_controller->quickConnectView) header->show_service_name(*service);
    }
    return true;
}

void FileViewerSceneDelegate::remote_file_written(const std::string& path, int64_t size) {
    if (!service) return;
    for (const auto& window : windows_of_server(service->id)) {
        if (window && window->fileView_controller) window->fileView_controller->file_written(path, size);
    }
}

void FileViewerSceneDelegate::find_in_site() { scene_links().open_site_search(this); }
