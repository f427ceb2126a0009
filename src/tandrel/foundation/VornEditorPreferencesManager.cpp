#include "tandrel/foundation/VornEditorPreferencesManager.h"

#include "platform/defaults/AtomicFile.h"
#include "tandrel/foundation/AMZLogger.h"

namespace {
std::string urlText(const std::optional<std::filesystem::path>& url) {
    return url ? "file://" + url->string() : std::string("nil");
}
}  // namespace

VornEditorPreferencesManager& app_editor_preferences_manager() {
    static VornEditorPreferencesManager* manager = new VornEditorPreferencesManager;
    return *manager;
}

VornEditorPreferencesManager::VornEditorPreferencesManager() = default;

VornEditorPreferencesManager& VornEditorPreferencesManager::shared() { return app_editor_preferences_manager(); }

void VornEditorPreferencesManager::load_editor_preferences(std::optional<std::filesystem::path> file_url) {
    url = std::move(file_url);
    AMZLogger::shared().log_verbose("New editor pref JSON File: " + urlText(url));
    deserialize_editor_preferences();
}

void VornEditorPreferencesManager::deserialize_editor_preferences() {
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
                theModel = VornEditorPreferencesDataModel::from_json(*parsed);
                return;
            } catch (const DecodingError& e) {
                error = e.toError();
            }
        }
    }
    AMZLogger::shared().log_error(error.text());
    if (auto copy = defaults::keepAside(*url)) AMZLogger::shared().log_error("unreadable editor preferences kept as " + copy->string());
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
    std::optional<VornError> error;
    if (!file) {
        error = make_error(jsonable_error::url_missing);
    } else {
        auto text = model.toJsonString();
        if (!text) error = text.error();
        else if (auto failed = defaults::writeFileAtomically(*file, *text)) error = VornError{"FileError", 2, *failed, "writeFailed"};
    }
    if (error) AMZLogger::shared().log_error("theModel EditorPref settings_serialize_error: " + error->text());
    if (completion) completion(!error);
}

std::string VornEditorPreferencesManager::default_editor_preferences_json() {
    VornEditorPreferencesDataModel defaults_model;
    auto text = defaults_model.toJsonString();
    return text ? *text : std::string();
}
