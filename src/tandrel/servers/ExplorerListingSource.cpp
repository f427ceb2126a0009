#include "tandrel/servers/ExplorerListingSource.h"

#include "platform/files/FileProvider.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/VornConnectorUtilityClass.h"
#include "tandrel/servers/VornProviderBucket.h"

namespace {
using Err = EnumManager::vorn_error_throws;
VornError app_error(Err::Case c) { return Err(c); }
}  // namespace

Expected<std::shared_ptr<files::FileProvider>> explorer_listing_provider(const FileViewerSceneDelegate& window) {
    const auto& bucket = window.provider_bucket;
    if (!bucket || !bucket->provider_type) {
        AMZLogger::shared().log_error("No Provider provided");
        return app_error(Err::guardReturnNoFileProvider);
    }
    std::shared_ptr<files::FileProvider> provider;
    switch (*bucket->provider_type) {
        case EnumManager::VornConnectionType::ftp:
            if (!bucket->ftp_provider) return app_error(Err::guardReturnNoFileProvider);
            provider = bucket->ftp_provider->provider;
            break;
        case EnumManager::VornConnectionType::webDav:
            if (!bucket->webdav_provider) return app_error(Err::guardReturnNoFileProvider);
            provider = bucket->webdav_provider->provider;
            break;
        case EnumManager::VornConnectionType::sftp:
            if (!bucket->sftp_provider) return app_error(Err::guardReturnNoFileProvider);
            provider = bucket->sftp_provider->provider;
            break;
        default:
            AMZLogger::shared().log_error("No Provider provided");
            return app_error(Err::guardReturnNoFileProvider);
    }
    if (!provider) return app_error(Err::no_permission_no_data);
    return provider;
}

void explorer_list_directory(const std::shared_ptr<files::FileProvider>& provider, const std::string& path,
                             ExplorerListingCompletion completion) {
    provider->contentsOfDirectory(path, VornConnectorUtilityClass::listing_completion(path, std::move(completion)));
}
