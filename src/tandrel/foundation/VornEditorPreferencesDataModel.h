#pragma once
// The editor's display and editing options.
#include <memory>

#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/Jsonable.h"

class VornEditorPreferencesDataModel : public Jsonable {
public:
    bool gutter_visible = true;
    bool auto_suggest_enabled = true;
    bool invisibles_visible = false;
    EnumManager::ace_editor_theme theme_id = EnumManager::ace_editor_theme::xcode;
    EnumManager::soft_wrap soft_wrap = EnumManager::soft_wrap::view_sw;
    int64_t soft_wrap_custom_value = 80;

    OrderedJson to_json() const override;
    // Every key required; a theme or soft-wrap value with no case fails. Throws DecodingError.
    static std::shared_ptr<VornEditorPreferencesDataModel> from_json(const OrderedJson& j);
    bool operator==(const VornEditorPreferencesDataModel& o) const {
        return gutter_visible == o.gutter_visible && auto_suggest_enabled == o.auto_suggest_enabled &&
               invisibles_visible == o.invisibles_visible && theme_id == o.theme_id && soft_wrap == o.soft_wrap &&
               soft_wrap_custom_value == o.soft_wrap_custom_value;
    }
};

class VornEditorDataModelUtility {};
