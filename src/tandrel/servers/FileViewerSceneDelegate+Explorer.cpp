// How the window's connection flow drives its screens: the file explorer, the connection
// header and the welcome list of saved servers.
#include "platform/dispatch/Dispatch.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/servers/FileViewerScene.h"

void FileViewerSceneDelegate::show_disconnected_window() {
    // The explorer's disconnected look and the header arrive with the explorer screen.
    show_welcome_splash();
}

void FileViewerSceneDelegate::show_welcome_splash() {}

void FileViewerSceneDelegate::show_connected_window(const std::shared_ptr<VornSingleServiceDataModel>& server) {
    (void)server;
}

void FileViewerSceneDelegate::clear_header_on_main() {}

std::shared_ptr<VornServerFilesDataModel> FileViewerSceneDelegate::explorer_listing() const { return nullptr; }

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
    });
}
