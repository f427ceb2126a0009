// The window's provider bucket: built for a server, and its provider.
#include "platform/files/FileProvider.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/VornConnectorUtilityClass.h"
#include "tandrel/servers/VornProviderBucket.h"
#include "tandrel/servers/VornTrust.h"

void FileViewerSceneDelegate::build_service_bucket(const std::string& url, const std::string& user,
                                                   const std::string& password, EnumManager::VornConnectionType type,
                                                   ConnectCompletion built, std::shared_ptr<files::LeftoverCopies> leftovers,
                                                   bool require_encryption, bool plain_allowed) {
    VornConnectorBuilder::make_bucket_for_service(url, files::Credential{user, password}, type, built, std::move(leftovers),
                                                  require_encryption, plain_allowed);
}

std::shared_ptr<files::FileProvider> FileViewerSceneDelegate::provider_of(const std::shared_ptr<VornProviderBucket>& bucket) {
    return bucket ? bucket->provider() : nullptr;
}

std::shared_ptr<files::FileProvider> FileViewerSceneDelegate::provider_as_read_write() const {
    return provider_of(provider_bucket);
}

std::shared_ptr<files::Trust> FileViewerSceneDelegate::trust_store() const { return app_trust(); }
