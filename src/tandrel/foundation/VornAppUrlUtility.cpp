#include "tandrel/foundation/VornAppUrlUtility.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <random>

#include "platform/defaults/AtomicFile.h"
#include "tandrel/foundation/AppGlobals.h"
#include "tandrel/foundation/VornEditorPreferencesManager.h"
#include "tandrel/foundation/VornServicesDataModel.h"

namespace {
std::mutex g_mutex;
struct Urls {
    VornAppUrlUtility::URL base, sessions, services, editor, ace, servicesFile, editorPrefFile;
} g_urls;

VornError fileError(const std::error_code& ec, const std::string& what) {
    return VornError{"FileError", ec.value(), what + ": " + ec.message(), "fileError"};
}

// The app's folders hold its settings, saved servers and the text of remote files: owner only.
std::optional<VornError> makeFolder(const std::filesystem::path& p) {
    std::error_code ec;
    if (auto failed = defaults::createPrivateDirectories(p)) {
        return VornError{"FileError", errno ? errno : EIO, *failed, "fileError"};
    }
    if (!std::filesystem::is_directory(p, ec)) {
        return fileError(std::make_error_code(std::errc::not_a_directory), "cannot create " + p.string());
    }
    return std::nullopt;
}

void set(VornAppUrlUtility::URL Urls::*field, VornAppUrlUtility::URL value) {
    std::lock_guard lock(g_mutex);
    g_urls.*field = std::move(value);
}
VornAppUrlUtility::URL get(VornAppUrlUtility::URL Urls::*field) {
    std::lock_guard lock(g_mutex);
    return g_urls.*field;
}

// Copies the page folder next to its final place, then swaps it in, so a failed copy never
// leaves half a page behind.
std::optional<VornError> replacePageFolder(const std::filesystem::path& source, const std::filesystem::path& target) {
    std::error_code ec;
    std::mt19937_64 rng{std::random_device{}()};
    const auto staging = target.parent_path() / (".ace-new-" + std::to_string(rng() % 1000000000ULL));
    std::filesystem::copy(source, staging, std::filesystem::copy_options::recursive, ec);
    if (ec) {
        auto err = fileError(ec, "cannot copy the editor page");
        std::filesystem::remove_all(staging, ec);
        return err;
    }
    if (std::filesystem::exists(target, ec)) {
        std::filesystem::remove_all(target, ec);
        if (ec) {
            auto err = fileError(ec, "cannot remove the old editor page");
            std::filesystem::remove_all(staging, ec);
            return err;
        }
    }
    std::filesystem::rename(staging, target, ec);
    if (ec) {
        auto err = fileError(ec, "cannot move the editor page into place");
        std::filesystem::remove_all(staging, ec);
        return err;
    }
    return std::nullopt;
}
}  // namespace

std::filesystem::path VornAppUrlUtility::application_folder() {
    std::filesystem::path base;
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) base = x;
    else if (const char* h = std::getenv("HOME"); h && *h) base = std::filesystem::path(h) / ".local" / "share";
    else base = std::filesystem::temp_directory_path();
    return base / "DravixFTPClient";
}

std::optional<VornError> VornAppUrlUtility::create_urls() {
    const auto app = application_folder();
    if (auto e = makeFolder(app)) return e;
    set(&Urls::base, app);

    set(&Urls::sessions, app / "Sessions");
    if (auto e = makeFolder(app / "Sessions")) return e;
    set(&Urls::services, app / "Services");
    if (auto e = makeFolder(app / "Services")) return e;
    set(&Urls::editor, app / "Editor");
    if (auto e = makeFolder(app / "Editor")) return e;

    const auto ace = app / "Editor" / "ace";
    std::optional<VornError> pageError;
    if (auto resource = app_resource("ace")) {
        pageError = replacePageFolder(*resource, ace);
    } else {
        std::error_code ec;
        std::filesystem::remove_all(ace, ec);  // no page in this build: leave no stale copy
        if (ec) pageError = fileError(ec, "cannot remove the old editor page");
    }
    std::error_code ec;
    if (std::filesystem::is_directory(ace, ec)) set(&Urls::ace, ace);

    create_default_json_files();
    return pageError;
}

void VornAppUrlUtility::create_default_json_files() {
    std::error_code ec;
    if (auto services = get(&Urls::services)) {
        auto file = *services / "app_services.json";
        set(&Urls::servicesFile, file);
        if (!std::filesystem::exists(file, ec)) {
            auto text = VornServicesDataModel().toJsonString();
            defaults::writeFileAtomically(file, text ? *text : std::string());
        }
    }
    if (auto editor = get(&Urls::editor)) {
        auto file = *editor / "editor_preferences.json";
        set(&Urls::editorPrefFile, file);
        if (!std::filesystem::exists(file, ec)) {
            defaults::writeFileAtomically(file, VornEditorPreferencesManager::default_editor_preferences_json());
        }
    }
}

VornAppUrlUtility::URL VornAppUrlUtility::base_url() { return get(&Urls::base); }
VornAppUrlUtility::URL VornAppUrlUtility::sessions_folder_url() { return get(&Urls::sessions); }
VornAppUrlUtility::URL VornAppUrlUtility::services_folder_url() { return get(&Urls::services); }
VornAppUrlUtility::URL VornAppUrlUtility::editor_folder_url() { return get(&Urls::editor); }
VornAppUrlUtility::URL VornAppUrlUtility::ace_folder_url() { return get(&Urls::ace); }
VornAppUrlUtility::URL VornAppUrlUtility::services_file_url() { return get(&Urls::servicesFile); }
VornAppUrlUtility::URL VornAppUrlUtility::editor_pref_file_url() { return get(&Urls::editorPrefFile); }

void VornAppUrlUtility::reset_for_testing() {
    std::lock_guard lock(g_mutex);
    g_urls = Urls{};
}
