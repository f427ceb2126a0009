#include "tandrel/servers/ExplorerListingSource.h"

#include <mutex>

#include "platform/dispatch/Dispatch.h"
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

namespace {
// The entries that came since the last hand-over to the main queue, and whether one is planned.
struct PendingBatches {
    std::mutex mutex;
    std::vector<std::shared_ptr<VornServerFileDataModel>> entries;
    bool planned = false;
    bool finished = false;
    std::chrono::steady_clock::time_point last{};
};
}  // namespace

void explorer_list_directory(const std::shared_ptr<files::FileProvider>& provider, const std::string& path,
                             ExplorerListingBatch batch, ExplorerListingCompletion completion) {
    if (!batch) return explorer_list_directory(provider, path, std::move(completion));
    auto pending = std::make_shared<PendingBatches>();
    auto shared_batch = std::make_shared<ExplorerListingBatch>(std::move(batch));
    files::ListOptions options;
    options.batch = [pending, shared_batch](std::vector<files::FileObject> entries) {
        std::vector<std::shared_ptr<VornServerFileDataModel>> records;
        records.reserve(entries.size());
        for (const auto& entry : entries) records.push_back(VornConnectorUtilityClass::convert_entry(entry));
        std::lock_guard lock(pending->mutex);
        if (pending->finished) return;
        pending->entries.insert(pending->entries.end(), std::make_move_iterator(records.begin()),
                                std::make_move_iterator(records.end()));
        if (pending->planned) return;
        pending->planned = true;
        const auto since = std::chrono::steady_clock::now() - pending->last;
        const auto wait = since >= kExplorerBatchInterval
                              ? std::chrono::milliseconds(0)
                              : std::chrono::ceil<std::chrono::milliseconds>(kExplorerBatchInterval - since);
        auto hand_over = [pending, shared_batch] {
            std::vector<std::shared_ptr<VornServerFileDataModel>> ready;
            {
                std::lock_guard lock(pending->mutex);
                pending->planned = false;
                if (pending->finished) return;
                pending->last = std::chrono::steady_clock::now();
                ready.swap(pending->entries);
            }
            if (!ready.empty() && *shared_batch) (*shared_batch)(std::move(ready));
        };
        if (wait.count() == 0) dispatch::mainQueue().async(std::move(hand_over));
        else dispatch::after(dispatch::mainQueue(), wait, std::move(hand_over));
    };
    auto whole = VornConnectorUtilityClass::listing_completion(
        path, [pending, completion = std::move(completion)](std::shared_ptr<VornServerFilesDataModel> listing,
                                                            std::optional<VornError> error) {
            // On the main queue: no part handed over after this.
            {
                std::lock_guard lock(pending->mutex);
                pending->finished = true;
                pending->entries.clear();
            }
            if (completion) completion(std::move(listing), std::move(error));
        });
    provider->contentsOfDirectory(path, std::move(options), std::move(whole));
}
