// The window's provider bucket: built for a server, and its provider.
#include "platform/files/FileProvider.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/servers/FileViewerScene.h"

void FileViewerSceneDelegate::build_service_bucket(const std::string&, const std::string&, const std::string&,
                                                   EnumManager::VornConnectionType, ConnectCompletion built) {
    built(nullptr, VornError(EnumManager::vorn_error_throws(EnumManager::vorn_error_throws::guardReturnNoFileProvider)));
}

std::shared_ptr<files::FileProvider> FileViewerSceneDelegate::provider_of(const std::shared_ptr<VornProviderBucket>&) {
    return nullptr;
}

std::shared_ptr<files::FileProvider> FileViewerSceneDelegate::provider_as_read_write() const {
    return provider_of(provider_bucket);
}
