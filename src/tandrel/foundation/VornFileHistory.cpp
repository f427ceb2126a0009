#include "tandrel/foundation/VornFileHistory.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QLocale>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>

#include "platform/defaults/AtomicFile.h"
#include "platform/dispatch/ExitDrain.h"
#include "platform/files/RemotePath.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/UserPrefs.h"
#include "tandrel/foundation/VornAppUrlUtility.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kPathFile = "path";
constexpr const char* kCopyExtension = ".copy";

// "000001700000000-0001.copy" for a copy kept at that millisecond, the sequence telling apart
// copies kept within one.
std::string copy_name(std::chrono::system_clock::time_point when, uint32_t sequence) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    char name[48];
    std::snprintf(name, sizeof name, "%015lld-%04u%s", static_cast<long long>(ms), sequence % 10000, kCopyExtension);
    return name;
}

std::optional<std::chrono::system_clock::time_point> kept_time(const std::string& name) {
    if (name.size() < 16 || name[15] != '-') return std::nullopt;
    long long ms = 0;
    for (int i = 0; i < 15; ++i) {
        if (name[i] < '0' || name[i] > '9') return std::nullopt;
        ms = ms * 10 + (name[i] - '0');
    }
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(ms));
}

// The copies in one file's folder, oldest first (hidden names are atomic writes in progress).
std::vector<VornFileHistory::Version> copies_in(const fs::path& file_folder) {
    std::vector<VornFileHistory::Version> found;
    std::error_code ec;
    for (fs::directory_iterator it(file_folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.' || it->path().extension() != kCopyExtension) continue;
        auto when = kept_time(name);
        std::error_code kind;
        if (!when || !it->is_regular_file(kind)) continue;
        std::error_code sized;
        const auto size = fs::file_size(it->path(), sized);
        found.push_back({it->path(), *when, sized ? 0 : static_cast<int64_t>(size)});
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.file.filename() < b.file.filename(); });
    return found;
}

void remove_copy(const fs::path& file) {
    std::error_code ec;
    fs::remove(file, ec);
    if (ec) AMZLogger::shared().log_error("history: a kept copy could not be removed: " + ec.message());
}

}  // namespace

VornFileHistory::Limits VornFileHistory::Limits::from_settings() {
    Limits limits;
    auto& settings = UserPrefs::user_defaults();
    if (const int64_t versions = settings.integerForKey(kMaxVersionsKey); versions > 0) limits.max_versions = versions;
    if (const int64_t megabytes = settings.integerForKey(kMaxMegabytesKey); megabytes > 0) {
        limits.max_bytes = megabytes * 1024 * 1024;
    }
    return limits;
}

VornFileHistory::VornFileHistory() = default;

VornFileHistory& VornFileHistory::shared() {
    static VornFileHistory* history = [] {
        auto* made = new VornFileHistory;
        // A copy asked to be kept just before a quit is on disk before the process goes.
        new dispatch::ExitDrain(made->queue.label(), dispatch::queueDrain(made->queue));
        return made;
    }();
    return *history;
}

std::optional<fs::path> VornFileHistory::current_folder() const {
    if (folder) return folder;
    auto base = VornAppUrlUtility::base_url();
    if (!base) return std::nullopt;
    return *base / kFolderName;
}

std::string VornFileHistory::digest(const std::string& text) {
    return QCryptographicHash::hash(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())),
                                    QCryptographicHash::Sha256)
        .toHex()
        .left(40)
        .toStdString();
}

std::optional<fs::path> VornFileHistory::folder_of(const std::string& service_id, const std::string& path) const {
    auto where = current_folder();
    if (!where) return std::nullopt;
    return *where / digest(service_id) / digest(path);
}

void VornFileHistory::keep(const std::string& service_id, const std::string& path, std::string bytes, KeepCompletion done) {
    auto where = current_folder();
    auto file_folder = folder_of(service_id, path);
    const Limits chosen = limits.value_or(Limits::from_settings());
    const uint32_t sequence = ++sequence_;
    queue.async([where, file_folder, path, chosen, sequence, bytes = std::move(bytes), done = std::move(done)] {
        std::optional<VornError> error;
        fs::path kept;
        if (!where || !file_folder) {
            error = VornError{"FileError", 4, "There is no folder for the history.", "noFolder"};
        } else {
            error = keep_now(file_folder->parent_path(), *file_folder, path, bytes, chosen, sequence, kept);
        }
        if (error) AMZLogger::shared().log_error("history: a replaced copy was not kept: " + error->text());
        if (done) done(error, error ? fs::path() : kept);
    });
}

void VornFileHistory::forget(fs::path kept) {
    if (kept.empty()) return;
    queue.async([kept = std::move(kept)] { remove_copy(kept); });
}

std::optional<VornError> VornFileHistory::keep_now(const fs::path& server_folder, const fs::path& file_folder,
                                                   const std::string& path, const std::string& bytes, const Limits& limits,
                                                   uint32_t sequence, fs::path& kept) {
    if (static_cast<int64_t>(bytes.size()) > limits.max_bytes) {
        return VornError{"FileError", EFBIG, "The copy is larger than the history may hold.", "tooLarge"};
    }
    if (auto failed = defaults::createPrivateDirectories(file_folder)) {
        return VornError{"FileError", errno ? errno : EIO, *failed, "cannotCreateFolder"};
    }
    const fs::path path_file = file_folder / kPathFile;
    std::error_code ec;
    if (!fs::exists(path_file, ec)) {
        if (auto failed = defaults::writeFileAtomically(path_file, path)) return VornError{"FileError", 2, *failed, "writeFailed"};
    }
    const auto name = copy_name(std::chrono::system_clock::now(), sequence);
    if (auto failed = defaults::writeFileAtomically(file_folder / name, bytes)) {
        return VornError{"FileError", 2, *failed, "writeFailed"};
    }
    kept = file_folder / name;
    prune(server_folder, file_folder, limits);
    return std::nullopt;
}

void VornFileHistory::prune(const fs::path& server_folder, const fs::path& file_folder, const Limits& limits) {
    // The file's own oldest copies beyond its count.
    auto own = copies_in(file_folder);
    const auto keep_count = static_cast<std::size_t>(std::max<int64_t>(limits.max_versions, 1));
    for (std::size_t i = 0; i + keep_count < own.size(); ++i) remove_copy(own[i].file);
    // Then the server's oldest copies beyond its allowance, whatever file they are of.
    std::vector<VornFileHistory::Version> all;
    int64_t total = 0;
    std::error_code ec;
    for (fs::directory_iterator it(server_folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code kind;
        if (!it->is_directory(kind)) continue;
        for (auto& copy : copies_in(it->path())) {
            total += copy.size;
            all.push_back(std::move(copy));
        }
    }
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.file.filename() < b.file.filename(); });
    for (const auto& copy : all) {
        if (total <= limits.max_bytes) break;
        remove_copy(copy.file);
        total -= copy.size;
    }
}

namespace {
std::vector<VornFileHistory::Version> newest_first(const std::optional<fs::path>& file_folder) {
    if (!file_folder) return {};
    auto found = copies_in(*file_folder);
    std::reverse(found.begin(), found.end());
    return found;
}
}  // namespace

std::vector<VornFileHistory::Version> VornFileHistory::versions(const std::string& service_id, const std::string& path) {
    queue.sync([] {});
    return newest_first(folder_of(service_id, path));
}

void VornFileHistory::versions_later(const std::string& service_id, const std::string& path,
                                     std::function<void(std::vector<Version> versions)> done) {
    queue.async([file_folder = folder_of(service_id, path), done = std::move(done)] {
        if (done) done(newest_first(file_folder));
    });
}

std::optional<std::string> VornFileHistory::read(const Version& version) { return defaults::readWholeFile(version.file); }

void VornFileHistory::read_later(Version version, std::function<void(std::optional<std::string> bytes)> done) {
    queue.async([version = std::move(version), done = std::move(done)] {
        auto bytes = read(version);
        if (done) done(std::move(bytes));
    });
}

void VornFileHistory::files_in(const std::string& service_id, const std::string& folder,
                               std::function<void(std::vector<KeptFile> files)> done) {
    auto where = current_folder();
    std::optional<fs::path> server_folder;
    if (where) server_folder = *where / digest(service_id);
    queue.async([server_folder, folder, done = std::move(done)] {
        auto found = server_folder ? files_in_now(*server_folder, folder) : std::vector<KeptFile>{};
        if (done) done(std::move(found));
    });
}

std::vector<VornFileHistory::KeptFile> VornFileHistory::files_in_now(const fs::path& server_folder,
                                                                      const std::string& folder) {
    namespace rp = files::path;
    const std::string wanted = rp::normalize(folder);
    std::vector<KeptFile> found;
    std::error_code ec;
    for (fs::directory_iterator it(server_folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code kind;
        if (!it->is_directory(kind)) continue;
        auto path = defaults::readWholeFile(it->path() / kPathFile);
        if (!path || path->empty()) continue;
        const std::string normalized = rp::normalize(*path);
        // The folder itself (a file once kept under the folder's name) is not in it.
        if (normalized == wanted || rp::normalize(rp::parent(*path)) != wanted) continue;
        auto copies = copies_in(it->path());
        if (copies.empty()) continue;
        std::reverse(copies.begin(), copies.end());
        found.push_back({std::move(*path), std::move(copies)});
    }
    // Copy names sort as the copies were kept.
    std::sort(found.begin(), found.end(), [](const KeptFile& a, const KeptFile& b) {
        return a.versions.front().file.filename() > b.versions.front().file.filename();
    });
    return found;
}

std::string VornFileHistory::describe(const Version& version) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(version.kept.time_since_epoch()).count();
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(ms).toLocalTime();
    const QLocale c = QLocale::c();
    return (when.toString(QStringLiteral("d MMM yyyy HH:mm:ss")) + QStringLiteral(" \u00B7 ") +
            c.formattedDataSize(version.size, 1, QLocale::DataSizeSIFormat))
        .toStdString();
}
