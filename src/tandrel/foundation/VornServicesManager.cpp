#include "tandrel/foundation/VornServicesManager.h"

#include <mutex>

#include "platform/dispatch/ExitDrain.h"
#include "tandrel/foundation/JsonStoreFile.h"
#include "tandrel/foundation/AMZLogger.h"

namespace {
std::mutex g_rebuildMutex;
std::function<void()> g_rebuild;
}  // namespace

VornServicesManager& app_services_manager() {
    static VornServicesManager* manager = [] {
        auto* store = new VornServicesManager;
        // Saves still queued when the process ends are written before it goes (within the exit
        // bound). Kept, like the store, for the life of the process.
        new dispatch::ExitDrain(store->save_queue.label(), dispatch::queueDrain(store->save_queue));
        return store;
    }();
    return *manager;
}

VornServicesManager::VornServicesManager() = default;

VornServicesManager& VornServicesManager::shared() { return app_services_manager(); }

void VornServicesManager::set_menu_rebuilder(std::function<void()> rebuild) {
    std::lock_guard lock(g_rebuildMutex);
    g_rebuild = std::move(rebuild);
}

std::shared_ptr<VornSingleServiceDataModel> VornServicesManager::find_service(const std::string& id) const {
    for (const auto& s : appServicesModel->saved_services) {
        if (s && s->id == id) return s;
    }
    for (const auto& weak : unsaved_services_) {
        if (auto s = weak.lock(); s && s->id == id) return s;
    }
    return nullptr;
}

void VornServicesManager::add_unsaved_service(const std::shared_ptr<VornSingleServiceDataModel>& server) {
    std::erase_if(unsaved_services_, [](const auto& weak) { return weak.expired(); });
    if (server) unsaved_services_.insert(unsaved_services_.begin(), server);
}

void VornServicesManager::load_services(std::optional<std::filesystem::path> file_url) {
    url = std::move(file_url);
    AMZLogger::shared().log_verbose("New Services JSON File: " + json_store::url_text(url));
    deserialize_services();
}

void VornServicesManager::deserialize_services() {
    std::optional<VornError> error;
    std::optional<std::filesystem::path> kept;
    json_store::read(url, [&](const OrderedJson& j) { appServicesModel = VornServicesDataModel::from_json(j); }, error, kept);
    if (!error) return;
    AMZLogger::shared().log_error("appServices deserialize error: " + error->text());
    // One bad record must not cost the user the rest of their servers: the file is kept as it was.
    if (kept) AMZLogger::shared().log_error("appServices unreadable file kept as " + kept->string());
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
    auto error = json_store::write(file, *model);
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
