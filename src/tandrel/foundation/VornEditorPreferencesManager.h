#pragma once
// The editor-preferences store: "editor_preferences.json" in the Editor folder.
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Dispatch.h"
#include "tandrel/foundation/VornEditorPreferencesDataModel.h"

class VornEditorPreferencesManager {
public:
    VornEditorPreferencesManager();
    // The process-wide store (the same object as app_editor_preferences_manager()).
    static VornEditorPreferencesManager& shared();

    dispatch::SerialQueue save_queue{"save_app_editor_pref"};
    std::optional<std::filesystem::path> url;
    std::shared_ptr<VornEditorPreferencesDataModel> theModel = std::make_shared<VornEditorPreferencesDataModel>();

    void load_editor_preferences(std::optional<std::filesystem::path> file_url);
    void deserialize_editor_preferences();
    // Copies theModel now and writes the copy on the save queue; the completion runs there.
    void request_save_editor_preferences(std::function<void(bool)> completion);
    // Writes theModel on the calling thread, then calls the completion once.
    void save_editor_preferences(std::function<void(bool)> completion);
    static std::string default_editor_preferences_json();

private:
    void save_snapshot(const VornEditorPreferencesDataModel& model, const std::optional<std::filesystem::path>& file,
                       const std::function<void(bool)>& completion);
};

VornEditorPreferencesManager& app_editor_preferences_manager();
