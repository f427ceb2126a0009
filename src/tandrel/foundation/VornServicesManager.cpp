#include "tandrel/foundation/VornServicesManager.h"

#include <mutex>

#include "platform/defaults/AtomicFile.h"
#include "tandrel/foundation/AMZLogger.h"

namespace {
std::mutex g_rebuildMutex;
std::function<void()> g_rebuild;

std::string urlText(const std::optional<std::filesystem::path>& url) {
    return url ? "file://" + url->string() : std::string("nil");
}
}  // namespace

VornServicesManager& app_services_manager() {
    static VornServicesManager* manager = new VornServicesManager;
    return *manager;
}

VornServicesManager::VornServicesManager() = default;

VornServicesManager& VornServicesManager::shared() { return app_services_manager(); }

void VornServicesManager::set_menu_rebuilder(std::function<void()> rebuild) {
    std::lock_guard lock(g_rebuildMutex);
    g_rebuild = std::move(rebuild);
}

void VornServicesManager::load_services(std::optional<std::filesystem::path> file_url) {
    url = std::move(file_url);
    AMZLogger::shared().log_verbose("New Services JSON File: " + urlText(url));
    deserialize_services();
}

void VornServicesManager::deserialize_services() {
    if (!url) return;
    auto bytes = defaults::readWholeFile(*url);
    if (!bytes || bytes->empty()) return;

    VornError error;
    std::error_code ec;
    if (!std::filesystem::exists(*url, ec)) {
        error = make_error(jsonable_error::url_missing);
    } else if (auto again = defaults::readWholeFile(*url); !again) {
        error = VornError{"FileError", 1, "The file could not be read.", "readFailed"};
    } else {
        auto parsed = jsonable::parse(*again);
        if (!parsed) {
            error = parsed.error();
        } else {
            try {
                appServicesModel = VornServicesDataModel::from_json(*parsed);
                return;
            } catch (const DecodingError& e) {
                error = e.toError();
            }
        }
    }
    AMZLogger::shared().log_error("appServices deserialize error: " + error.text());
    // One bad record must not cost the user the rest of their servers: keep the file as it is.
    if (auto copy = defaults::keepAside(*url)) {
        AMZLogger::shared().log_error("appServices unreadable file kept as " + copy->string());
    }
}

void VornServicesManager::request_save_services(std::function<void(bool)> completion) {
    auto snapshot = appServicesModel->clone();
    auto file = url;
    dispatch::mainQueue().async([this, snapshot, file, completion] {
        save_queue.async([this, snapshot, file, completion] { save_snapshot(snapshot, file, completion); });
    });
}

void VornServicesManager::save_services(std::function<void(bool)> completion) {
    save_snapshot(appServicesModel, url, completion);
}

void VornServicesManager::save_snapshot(const std::shared_ptr<VornServicesDataModel>& model,
                                        const std::optional<std::filesystem::path>& file,
                                        const std::function<void(bool)>& completion) {
    std::optional<VornError> error;
    if (!file) {
        error = make_error(jsonable_error::url_missing);
    } else {
        auto text = model->toJsonString();
        if (!text) error = text.error();
        else if (auto failed = defaults::writeFileAtomically(*file, *text)) error = VornError{"FileError", 2, *failed, "writeFailed"};
    }
    if (error) {
        AMZLogger::shared().log_error("appServices settings_serialize_error: " + error->text());
        if (completion) completion(false);
        return;
    }
    std::function<void()> rebuild;
    {
        std::lock_guard lock(g_rebuildMutex);
        rebuild = g_rebuild;
    }
    if (rebuild) dispatch::mainQueue().async(rebuild);
    if (completion) completion(true);
}
