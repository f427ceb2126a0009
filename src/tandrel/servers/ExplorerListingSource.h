#pragma once
// Where the file explorer gets a folder's listing: the provider of the window's connection and
// the provider's directory listing turned into the explorer's sorted listing record.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tandrel/foundation/VornError.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"

class FileViewerSceneDelegate;
namespace files {
class FileProvider;
}

// The provider that lists folders for the window, from the connector its bucket names:
// guardReturnNoFileProvider without a bucket or that connector (an unknown kind is logged as
// "No Provider provided"), no_permission_no_data for a connector without a provider.
Expected<std::shared_ptr<files::FileProvider>> explorer_listing_provider(const FileViewerSceneDelegate& window);

using ExplorerListingCompletion =
    std::function<void(std::shared_ptr<VornServerFilesDataModel> listing, std::optional<VornError> error)>;
// Lists the folder and converts the answer (sorted by the stored order, "[UP ONE LEVEL] .."
// first below the root). The completion runs once, on the main queue.
void explorer_list_directory(const std::shared_ptr<files::FileProvider>& provider, const std::string& path,
                             ExplorerListingCompletion completion);

// The entries of a folder still loading, converted and unsorted, in the order they arrived.
using ExplorerListingBatch = std::function<void(std::vector<std::shared_ptr<VornServerFileDataModel>> entries)>;
// The same, with `batch` given the entries as they arrive, on the main queue, before the
// completion: at most one call per kExplorerBatchInterval, each with what came since the last.
// What is still waiting when the listing completes is dropped (the completion has it all).
inline constexpr std::chrono::milliseconds kExplorerBatchInterval{50};
void explorer_list_directory(const std::shared_ptr<files::FileProvider>& provider, const std::string& path,
                             ExplorerListingBatch batch, ExplorerListingCompletion completion);
