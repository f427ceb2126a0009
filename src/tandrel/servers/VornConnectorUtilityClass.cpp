#include "tandrel/servers/VornConnectorUtilityClass.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <numeric>

#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/ExitDrain.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/VornProviderErrors.h"
#include "tandrel/foundation/VornServerAddress.h"
#include "tandrel/servers/VornTrust.h"

namespace {

using Type = EnumManager::VornConnectionType;
using Sorting = EnumManager::file_explorer_sorting;

VornError noProvider() {
    return EnumManager::vorn_error_throws(EnumManager::vorn_error_throws::guardReturnNoFileProvider);
}

Date toDate(files::Date d) {
    using namespace std::chrono;
    return Date::fromUnix(duration_cast<duration<double>>(d.time_since_epoch()).count());
}

URLFileResourceType toResourceType(files::FileType type) {
    switch (type) {
        case files::FileType::regular: return URLFileResourceType::regular;
        case files::FileType::directory: return URLFileResourceType::directory;
        case files::FileType::symbolicLink: return URLFileResourceType::symbolicLink;
        case files::FileType::unknown: return URLFileResourceType::unknown;
    }
    return URLFileResourceType::unknown;
}

// Names compare by code point after canonical composition; plain ASCII needs no composing.
std::string nameKey(const std::optional<std::string>& name) {
    if (!name) return {};
    const bool ascii = std::all_of(name->begin(), name->end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) return *name;
    return QString::fromStdString(*name).normalized(QString::NormalizationForm_C).toStdString();
}

// What a record is sorted by, worked out once per record and sort.
struct SortKey {
    std::string text;  // the name key or the kind's text value
    int64_t size = 0;
    double date = 0;
};

SortKey keyFor(const VornServerFileDataModel& f, Sorting order, Date now) {
    SortKey key;
    switch (order) {
        case Sorting::name: key.text = nameKey(f.name); break;
        case Sorting::kind:
            // A kind the server did not tell counts as none: such entries go last.
            if (f.kind && *f.kind != URLFileResourceType::unknown) key.text = url_file_resource_type_raw(*f.kind);
            break;
        case Sorting::size: key.size = f.size.value_or(0); break;
        case Sorting::dateModified: key.date = f.modifiedDate.value_or(now).sinceReferenceDate; break;
    }
    return key;
}

bool before(const SortKey& a, const SortKey& b, Sorting order) {
    switch (order) {
        case Sorting::name: return a.text < b.text;
        case Sorting::kind: return a.text > b.text;
        case Sorting::size: return a.size > b.size;
        case Sorting::dateModified: return a.date > b.date;
    }
    return false;
}

}  // namespace

// ---- connectors and bucket -----------------------------------------------------------------

VornConnectorBase::VornConnectorBase(bool has_provider, EnumManager::VornConnectionType connection_type)
    : type(connection_type) {
    if (!has_provider) AMZLogger::shared().log_verbose("FP Delegate: No Provider!");
}

VornConnectorFtp::VornConnectorFtp(std::shared_ptr<files::FileProvider> ftp, EnumManager::VornConnectionType connection_type)
    : VornConnectorBase(ftp != nullptr, connection_type), provider(std::move(ftp)) {}

VornConnectorWebDav::VornConnectorWebDav(std::shared_ptr<files::FileProvider> webdav,
                                         EnumManager::VornConnectionType connection_type)
    : VornConnectorBase(webdav != nullptr, connection_type), provider(std::move(webdav)) {}

VornConnectorSftp::VornConnectorSftp(std::shared_ptr<files::FileProvider> sftp, EnumManager::VornConnectionType connection_type)
    : VornConnectorBase(sftp != nullptr, connection_type), provider(std::move(sftp)) {}

std::shared_ptr<files::FileProvider> VornProviderBucket::provider() const {
    if (!provider_type) return nullptr;
    if (*provider_type == Type::ftp && ftp_provider) return ftp_provider->provider;
    if (*provider_type == Type::webDav && webdav_provider) return webdav_provider->provider;
    if (*provider_type == Type::sftp && sftp_provider) return sftp_provider->provider;
    return nullptr;
}

// ---- building ------------------------------------------------------------------------------

namespace {

// The SFTP bucket whose login the server form just checked, kept a short while so that the
// window that connects to the server right after it was saved takes it over: its connection is
// logged in already, and whatever the login asked (a passphrase, a one-time code) is not asked a
// second time. Taken once, by a bucket for the same URL and credential; let go (off the GUI
// thread) when a newer check replaces it or its time is up. Never destroyed with the process's
// globals: a provider still kept at exit is closed by the exit's own close, within its bound.
struct CheckedLogin {
    std::mutex mutex;
    std::string url;
    files::Credential credential;
    std::shared_ptr<VornProviderBucket> bucket;
    uint64_t serial = 0;
};
constexpr std::chrono::minutes kCheckedLoginKept{2};

CheckedLogin& checked_login() {
    static auto* kept = new CheckedLogin;
    return *kept;
}

void release_off_main(std::shared_ptr<VornProviderBucket> bucket) {
    if (!bucket) return;
    dispatch::asyncAwaitedAtExit(dispatch::globalQueue(dispatch::QoS::background), "a checked server's connection",
                                 [bucket = std::move(bucket)]() mutable { bucket.reset(); });
}

void keep_checked_login(const std::string& url, const files::Credential& credential,
                        std::shared_ptr<VornProviderBucket> bucket) {
    auto& kept = checked_login();
    std::shared_ptr<VornProviderBucket> replaced;
    uint64_t serial = 0;
    {
        std::lock_guard lock(kept.mutex);
        replaced = std::exchange(kept.bucket, std::move(bucket));
        kept.url = url;
        kept.credential = credential;
        serial = ++kept.serial;
    }
    release_off_main(std::move(replaced));
    dispatch::after(dispatch::mainQueue(), kCheckedLoginKept, [serial] {
        auto& k = checked_login();
        std::shared_ptr<VornProviderBucket> expired;
        {
            std::lock_guard lock(k.mutex);
            if (k.serial == serial) expired = std::move(k.bucket);
        }
        release_off_main(std::move(expired));
    });
}

std::shared_ptr<VornProviderBucket> take_checked_login(const std::string& url, const files::Credential& credential) {
    auto& kept = checked_login();
    std::lock_guard lock(kept.mutex);
    if (!kept.bucket || kept.url != url || kept.credential.user != credential.user ||
        kept.credential.password != credential.password)
        return nullptr;
    return std::move(kept.bucket);
}

// Puts the connector of a provider into the bucket; nothing without a provider.
template <typename Connector>
void add_connector(VornProviderBucket& bucket, std::shared_ptr<Connector> VornProviderBucket::*slot, Type type,
                   std::shared_ptr<files::FileProvider> provider, const std::string& url,
                   const std::optional<files::Credential>& credential) {
    if (!provider) return;
    auto connector = std::make_shared<Connector>(std::move(provider), type);
    connector->url = url;
    connector->credential = credential;
    bucket.*slot = std::move(connector);
    bucket.provider_type = type;
}

}  // namespace

files::ProviderOptions VornConnectorBuilder::provider_options(bool require_encryption, bool plain_allowed) {
    files::ProviderOptions options;
    options.trust = app_trust();
    options.requireTls = require_encryption;
    options.plainAfterTls = plain_allowed;
    return options;
}

void VornConnectorBuilder::make_bucket_for_service(const std::string& url, const std::optional<files::Credential>& credential,
                                                   EnumManager::VornConnectionType type, const BucketCompletion& completion,
                                                   std::shared_ptr<files::LeftoverCopies> leftovers,
                                                   bool require_encryption, bool plain_allowed) {
    if (type == Type::sftp) {
        if (auto checked = take_checked_login(url, credential.value_or(files::Credential{}))) {
            if (completion) completion(std::move(checked), std::nullopt);
            return;
        }
    }
    build_bucket(url, credential, type, completion, std::move(leftovers), require_encryption, plain_allowed);
}

void VornConnectorBuilder::build_bucket(const std::string& url, const std::optional<files::Credential>& credential,
                                        EnumManager::VornConnectionType type, const BucketCompletion& completion,
                                        std::shared_ptr<files::LeftoverCopies> leftovers, bool require_encryption,
                                        bool plain_allowed) {
    auto bucket = std::make_shared<VornProviderBucket>();
    bucket->base = std::make_shared<VornConnectorBase>();
    bucket->base->url = url;
    bucket->base->credential = credential;
    const files::Credential login = credential.value_or(files::Credential{});
    // The server's URL as the app reads typed text ("http://host/web files/" goes out escaped);
    // the record and the connectors keep the text they were given. An address that cannot be
    // read says what is wrong with it.
    const auto readable = server_address::from_typed(url, type);
    const bool connectable = type == Type::ftp || type == Type::webDav || type == Type::sftp;
    if (connectable && !readable) {
        if (completion) completion(nullptr, readable.error());
        return;
    }
    const std::string address = readable ? *readable : url;
    switch (type) {
        case Type::ftp: {
            files::ProviderOptions options = provider_options(require_encryption, plain_allowed);
            options.leftovers = std::move(leftovers);
            add_connector<VornConnectorFtp>(*bucket, &VornProviderBucket::ftp_provider, Type::ftp,
                                            files::makeFtpProvider(address, login, options), url, credential);
            break;
        }
        case Type::webDav:
            add_connector<VornConnectorWebDav>(*bucket, &VornProviderBucket::webdav_provider, Type::webDav,
                                               files::makeWebDavProvider(address, login, provider_options(false)), url,
                                               credential);
            break;
        case Type::sftp: {
            // Host keys are checked (and asked about) before any password or key is offered.
            add_connector<VornConnectorSftp>(*bucket, &VornProviderBucket::sftp_provider, Type::sftp,
                                             files::makeSftpProvider(address, login, provider_options(false)), url,
                                             credential);
            break;
        }
        case Type::unKnown:
        case Type::notConnected:
            // No connector for these: said so rather than never answering.
            break;
    }
    if (!completion) return;
    if (!bucket->provider_type) {
        completion(nullptr, noProvider());
        return;
    }
    completion(std::move(bucket), std::nullopt);
}

void VornConnectorBuilder::make_bucket_for_form(const std::string& url, const std::optional<files::Credential>& credential,
                                                EnumManager::VornConnectionType type, LoginCompletion completion,
                                                bool require_encryption) {
    build_bucket(
        url, credential, type,
        [url, credential, type, completion](std::shared_ptr<VornProviderBucket> bucket, std::optional<VornError> error) {
            // An SFTP login that went through is kept for the window that connects next (see
            // keep_checked_login). One holder for all the copies of the completion: the bucket
            // is let go where this says, not wherever the last copy goes.
            auto kept = std::make_shared<std::shared_ptr<VornProviderBucket>>(type == Type::sftp && !error ? bucket : nullptr);
            VornConnectorUtilityClass::check_login(
                std::move(bucket), std::move(error), [url, credential, kept, completion](std::optional<VornError> failure) {
                    auto checked = std::move(*kept);
                    if (!failure && checked) keep_checked_login(url, credential.value_or(files::Credential{}), std::move(checked));
                    else release_off_main(std::move(checked));
                    if (completion) completion(failure);
                });
        },
        nullptr, require_encryption, false);
}

// ---- login check ---------------------------------------------------------------------------

void VornConnectorUtilityClass::check_login(std::shared_ptr<VornProviderBucket> bucket, std::optional<VornError> error,
                                            LoginCompletion completion) {
    auto deliver = [completion](std::optional<VornError> result) {
        dispatch::mainQueue().async([completion, result = std::move(result)] {
            if (completion) completion(result);
        });
    };
    if (error) return deliver(std::move(error));
    auto provider = bucket ? bucket->provider() : nullptr;
    if (!provider) return deliver(noProvider());
    // FTP and WebDAV alike: log in and read the root folder, and wait for the answer, so a wrong
    // password is one error and never a success first. The bucket rides along with the request
    // and is let go on the provider's worker, not on the GUI thread.
    provider->checkLogin([deliver, bucket](std::optional<files::FileError> failure) mutable {
        deliver(vorn_error_from(failure));
        bucket.reset();
    });
}

// ---- listings ------------------------------------------------------------------------------

files::ListCompletion VornConnectorUtilityClass::listing_completion(std::string path, ListingCompletion completion) {
    return [path = std::move(path), completion = std::move(completion)](std::vector<files::FileObject> entries,
                                                                        std::optional<files::FileError> error) {
        std::shared_ptr<VornServerFilesDataModel> listing;
        std::optional<VornError> failure;
        if (error) failure = vorn_error_from(*error);
        else listing = convert_listing(path, entries, EnumManager::read_file_explorer_sorting(), true);
        dispatch::mainQueue().async([completion, listing = std::move(listing), failure = std::move(failure)] {
            if (completion) completion(listing, failure);
        });
    };
}

std::shared_ptr<VornServerFileDataModel> VornConnectorUtilityClass::convert_entry(const files::FileObject& entry) {
    // Entries the server marks hidden are converted like any other.
    auto record = std::make_shared<VornServerFileDataModel>();
    record->name = entry.name;
    record->path = entry.path;
    record->kind = toResourceType(entry.type);
    // -1 when the server gave no size: the cell shows no size text for it.
    record->size = entry.size >= 0 ? entry.size : -1;
    if (entry.creationDate) record->creationDate = toDate(*entry.creationDate);
    if (entry.modificationDate) record->modifiedDate = toDate(*entry.modificationDate);
    record->special_assignment = EnumManager::file_special_assignment::no_assignment;
    return record;
}

std::shared_ptr<VornServerFilesDataModel> VornConnectorUtilityClass::convert_listing(
    const std::string& path, const std::vector<files::FileObject>& entries, EnumManager::file_explorer_sorting order,
    bool up_entry) {
    auto listing = std::make_shared<VornServerFilesDataModel>();
    listing->fileCount = static_cast<int64_t>(entries.size());
    std::vector<std::shared_ptr<VornServerFileDataModel>> records;
    records.reserve(entries.size() + 1);
    for (const auto& entry : entries) records.push_back(convert_entry(entry));
    sort_files(records, order);
    const std::string folder = path.empty() ? "/" : path;
    if (up_entry && folder != "/") records.insert(records.begin(), VornServerFileDataModel::up_one_level());
    listing->fileSections = std::move(records);
    return listing;
}

bool VornConnectorUtilityClass::compare_files(const VornServerFileDataModel& a, const VornServerFileDataModel& b,
                                              EnumManager::file_explorer_sorting order, Date now) {
    return before(keyFor(a, order, now), keyFor(b, order, now), order);
}

void VornConnectorUtilityClass::sort_files(std::vector<std::shared_ptr<VornServerFileDataModel>>& files,
                                           EnumManager::file_explorer_sorting order) {
    // "Now" once for the whole sort: a comparison that read the clock itself would not be
    // consistent, and the order of undated entries would be left to chance.
    const Date now = Date::now();
    std::vector<SortKey> keys;
    keys.reserve(files.size());
    for (const auto& f : files) keys.push_back(f ? keyFor(*f, order, now) : SortKey{});
    std::vector<std::size_t> index(files.size());
    std::iota(index.begin(), index.end(), 0);
    std::stable_sort(index.begin(), index.end(),
                     [&](std::size_t a, std::size_t b) { return before(keys[a], keys[b], order); });
    std::vector<std::shared_ptr<VornServerFileDataModel>> sorted;
    sorted.reserve(files.size());
    for (std::size_t i : index) sorted.push_back(std::move(files[i]));
    files = std::move(sorted);
}
