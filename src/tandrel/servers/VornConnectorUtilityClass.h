#pragma once
// Building a server's provider bucket, checking a login, and turning a provider's directory
// listing into the explorer's sorted listing record.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/files/FileProvider.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/VornError.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/servers/VornProviderBucket.h"

class VornConnectorBuilder {
public:
    using BucketCompletion = std::function<void(std::shared_ptr<VornProviderBucket>, std::optional<VornError>)>;
    using LoginCompletion = std::function<void(std::optional<VornError>)>;

    // Builds the bucket for a file-viewer window and calls the completion before returning: the
    // bucket, or guardReturnNoFileProvider when the type has no connector (unKnown,
    // notConnected) or the URL gives no provider for the type. Every provider trusts what
    // app_trust() trusts; an FTP provider keeps the temporary copies broken saves leave in
    // `leftovers` (in memory only without it), and with `require_encryption` never logs in
    // without TLS; once it has spoken TLS, only with `plain_allowed` (the user unticked
    // "Require encryption" for a server that had) does it log in without TLS again. An SFTP bucket
    // whose login the server form checked a moment ago for the same URL and credential is handed
    // over instead of a new one (one login, asked once: see make_bucket_for_form).
    static void make_bucket_for_service(const std::string& url, const std::optional<files::Credential>& credential,
                                        EnumManager::VornConnectionType type, const BucketCompletion& completion,
                                        std::shared_ptr<files::LeftoverCopies> leftovers = nullptr,
                                        bool require_encryption = false, bool plain_allowed = false);
    // Builds the same bucket, then checks the login on it: the completion runs exactly once, on
    // the main queue, with the failure or none. An SFTP bucket whose login went through is kept
    // for two minutes, for the window that connects to the server next (make_bucket_for_service
    // takes it once).
    static void make_bucket_for_form(const std::string& url, const std::optional<files::Credential>& credential,
                                     EnumManager::VornConnectionType type, LoginCompletion completion,
                                     bool require_encryption = false);
    // The options every provider the app builds gets.
    static files::ProviderOptions provider_options(bool require_encryption, bool plain_allowed = false);

private:
    // make_bucket_for_service without the bucket a form check kept.
    static void build_bucket(const std::string& url, const std::optional<files::Credential>& credential,
                             EnumManager::VornConnectionType type, const BucketCompletion& completion,
                             std::shared_ptr<files::LeftoverCopies> leftovers, bool require_encryption, bool plain_allowed);
};

class VornConnectorUtilityClass {
public:
    using LoginCompletion = VornConnectorBuilder::LoginCompletion;
    using ListingCompletion = std::function<void(std::shared_ptr<VornServerFilesDataModel>, std::optional<VornError>)>;

    // An error passed in goes to the completion unchanged; no bucket (or an empty one) gives
    // guardReturnNoFileProvider; otherwise the provider logs in and reads its root folder, and
    // the answer (loginRejected for a wrong password, FTP and WebDAV alike) is the result. The
    // completion runs exactly once, on the main queue.
    static void check_login(std::shared_ptr<VornProviderBucket> bucket, std::optional<VornError> error,
                            LoginCompletion completion);

    // The completion to hand a provider's contentsOfDirectory for `path`: on success the listing
    // converted with the stored sort order ("FILEEXPLORER_SORTING") and the up-one-level entry,
    // on failure none and the provider's error. The conversion runs on the provider's worker;
    // the completion runs on the main queue.
    static files::ListCompletion listing_completion(std::string path, ListingCompletion completion);

    // The listing record of `entries` in the folder `path`: one record per entry (the server's
    // order), sorted stably by `order`; with `up_entry` and a path other than "/" (an empty
    // path counts as "/"), "[UP ONE LEVEL] .." first whatever the order.
    static std::shared_ptr<VornServerFilesDataModel> convert_listing(const std::string& path,
                                                                     const std::vector<files::FileObject>& entries,
                                                                     EnumManager::file_explorer_sorting order,
                                                                     bool up_entry);
    // One entry as a listing record.
    static std::shared_ptr<VornServerFileDataModel> convert_entry(const files::FileObject& entry);

    // True when a goes before b in `order`: name ascending (code points after canonical
    // composition, so upper case first), kind descending by its text value, size largest first,
    // modification date newest first. A missing name or kind counts as "", a missing size as 0,
    // a missing date as `now`, which a sort takes once for all its comparisons.
    static bool compare_files(const VornServerFileDataModel& a, const VornServerFileDataModel& b,
                              EnumManager::file_explorer_sorting order, Date now = Date::now());
    // Sorts stably in place with compare_files, "now" read once.
    static void sort_files(std::vector<std::shared_ptr<VornServerFileDataModel>>& files,
                           EnumManager::file_explorer_sorting order);
};
