#include "tandrel/servers/ExplorerListingSource.h"

#include "platform/files/FileProvider.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/VornProviderErrors.h"

Expected<std::shared_ptr<files::FileProvider>> explorer_listing_provider(const FileViewerSceneDelegate& window) {
    auto provider = window.provider_as_read_write();
    if (!provider) {
        return VornError(EnumManager::vorn_error_throws(EnumManager::vorn_error_throws::guardReturnNoFileProvider));
    }
    return provider;
}

void explorer_list_directory(const std::shared_ptr<files::FileProvider>& provider, const std::string& path,
                             ExplorerListingCompletion completion) {
    provider->contentsOfDirectory(path, [path, completion](std::vector<files::FileObject> entries,
                                                           std::optional<files::FileError> error) {
        if (error) return completion(nullptr, vorn_error_from(*error));
        auto listing = std::make_shared<VornServerFilesDataModel>();
        listing->fileCount = static_cast<int64_t>(entries.size());
        std::vector<std::shared_ptr<VornServerFileDataModel>> rows;
        rows.reserve(entries.size() + 1);
        if (path != "/" && !path.empty()) rows.push_back(VornServerFileDataModel::up_one_level());
        for (const auto& e : entries) {
            auto r = std::make_shared<VornServerFileDataModel>();
            r->name = e.name;
            r->path = e.path;
            r->kind = e.isDirectory() ? URLFileResourceType::directory : URLFileResourceType::regular;
            r->size = e.size;
            r->special_assignment = EnumManager::file_special_assignment::no_assignment;
            rows.push_back(std::move(r));
        }
        listing->fileSections = std::move(rows);
        completion(listing, std::nullopt);
    });
}
