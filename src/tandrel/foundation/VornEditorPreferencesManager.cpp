#include "tandrel/foundation/VornEditorPreferencesManager.h"

#include "platform/dispatch/ExitDrain.h"
#include "tandrel/foundation/JsonStoreFile.h"
#include "tandrel/foundation/AMZLogger.h"


VornEditorPreferencesManager& app_editor_preferences_manager() {
    static VornEditorPreferencesManager* manager = [] {
        auto* store = new VornEditorPreferencesManager;
        // Saves still queued when the process ends are written before it goes (within the exit
        // bound). Kept, like the store, for the life of the process.
        new dispatch::ExitDrain(store->save_queue.label(), dispatch::queueDrain(store->save_queue));
        return store;
    }();
    return *manager;
}

VornEditorPreferencesManager::VornEditorPreferencesManager() = default;

VornEditorPreferencesManager& VornEditorPreferencesManager::shared() { return app_editor_preferences_manager(); }

void VornEditorPreferencesManager::load_editor_preferences(std::optional<std::filesystem::path> file_url) {
    url = std::move(file_url);
    AMZLogger::shared().log_verbose("New editor pref JSON File: " + json_store::url_text(url));
    deserialize_editor_preferences();
}

void VornEditorPreferencesManager::deserialize_editor_preferences() {
    std::optional<VornError> error;
    std::optional<std::filesystem::path> kept;
    json_store::read(url, [&](const OrderedJson& j) { theModel = VornEditorPreferencesDataModel::from_json(j); }, error, kept);
    if (!error) return;
    AMZLogger::shared().log_error(error->text());
    if (kept) AMZLogger::shared().log_error("unreadable editor preferences kept as " + kept->string());
}

void VornEditorPreferencesManager::request_save_editor_preferences(std::function<void(bool)> completion) {
    auto snapshot = *theModel;
    auto file = url;
    save_queue.async([this, snapshot, file, completion] { save_snapshot(snapshot, file, completion); });
}

void VornEditorPreferencesManager::save_editor_preferences(std::function<void(bool)> completion) {
    save_snapshot(*theModel, url, completion);
}

void VornEditorPreferencesManager::save_snapshot(const VornEditorPreferencesDataModel& model,
                                                 const std::optional<std::filesystem::path>& file,
                                                 const std::function<void(bool)>& completion) {
    auto error = json_store::write(file, model);
    if (error) AMZLogger::shared().log_error("theModel EditorPref settings_serialize_error: " + error->text());
    if (completion) completion(!error);
}

std::string VornEditorPreferencesManager::default_editor_preferences_json() {
    VornEditorPreferencesDataModel defaults_model;
    auto text = defaults_model.toJsonString();
    return text ? *text : std::string();
}
