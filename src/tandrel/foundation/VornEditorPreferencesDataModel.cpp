#include "tandrel/foundation/VornEditorPreferencesDataModel.h"

OrderedJson VornEditorPreferencesDataModel::to_json() const {
    OrderedJson j = OrderedJson::object();
    j["gutter_visible"] = gutter_visible;
    j["auto_suggest_enabled"] = auto_suggest_enabled;
    j["invisibles_visible"] = invisibles_visible;
    j["theme_id"] = to_json_value(theme_id);
    j["soft_wrap"] = to_json_value(soft_wrap);
    j["soft_wrap_custom_value"] = soft_wrap_custom_value;
    return j;
}

std::shared_ptr<VornEditorPreferencesDataModel> VornEditorPreferencesDataModel::from_json(const OrderedJson& j) {
    jsonable::require_object(j, "VornEditorPreferencesDataModel");
    auto m = std::make_shared<VornEditorPreferencesDataModel>();
    m->gutter_visible = jsonable::require_bool(j, "gutter_visible");
    m->auto_suggest_enabled = jsonable::require_bool(j, "auto_suggest_enabled");
    m->invisibles_visible = jsonable::require_bool(j, "invisibles_visible");
    m->theme_id = ace_editor_theme_from_json(jsonable::require(j, "theme_id"));
    m->soft_wrap = soft_wrap_from_json(jsonable::require(j, "soft_wrap"));
    m->soft_wrap_custom_value = jsonable::require_int(j, "soft_wrap_custom_value");
    return m;
}
