// The editor screen's answers to the Editor menu: gutter, invisibles, autocompletion, theme, soft
// wrap and beautify, with the validation that keeps the menu's titles and check marks current.
//
// The preferences record is changed here, on the main thread; the store encodes a copy taken at
// the request, so a later change never races the save. Save completions arrive on the store's
// save queue and hop back to the main queue before they touch the record, the screen or its
// connector; the screen is reached through a weak link, so a window closed during a save is left
// alone.
#include <charconv>

#include "platform/dispatch/Dispatch.h"
#include "tandrel/editor/EditorScripts.h"
#include "tandrel/editor/EditorWebViewController.h"
#include "tandrel/editor/VornEditorJSConnector.h"
#include "tandrel/foundation/VORNPresenterUtility.h"
#include "tandrel/foundation/VornEditorPreferencesManager.h"
#include "tandrel/foundation/VornSceneLinksProtocol.h"

namespace {

using Screen = QPointer<EditorWebViewController>;

VornEditorPreferencesDataModel& prefs() { return *app_editor_preferences_manager().theModel; }

// Saves the record; on success runs `then` with the screen's connector on the main queue.
void save_then(Screen screen, std::function<void(VornEditorJSConnector&)> then) {
    app_editor_preferences_manager().request_save_editor_preferences([screen, then](bool ok) {
        if (!ok) return;
        dispatch::mainQueue().async([screen, then] {
            if (screen && screen->jsc) then(*screen->jsc);
        });
    });
}

// The integer under `key` of a command's property list (a non-empty map of text to integer).
std::optional<int64_t> int_in_list(const QVariant& list, const char* key) {
    if (list.metaType() != QMetaType::fromType<QVariantMap>()) return std::nullopt;
    const QVariantMap map = list.toMap();
    auto it = map.constFind(QString::fromLatin1(key));
    if (map.isEmpty() || it == map.cend()) return std::nullopt;
    switch (it->metaType().id()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort: return it->toLongLong();
        default: return std::nullopt;
    }
}

const char* mode_title(EnumManager::soft_wrap mode) {
    switch (mode) {
        case EnumManager::soft_wrap::off_sw: return "Off";
        case EnumManager::soft_wrap::view_sw: return "View";
        case EnumManager::soft_wrap::print_sw: return "Print Margin";
        case EnumManager::soft_wrap::custom: break;
    }
    return nullptr;
}

}  // namespace

void EditorWebViewController::edm_toggle_gutter() {
    const bool visible = !prefs().gutter_visible;
    prefs().gutter_visible = visible;
    save_then(this, [visible](VornEditorJSConnector& jsc) { jsc.set_show_gutter(visible); });
}

void EditorWebViewController::edm_toggle_invisibles() {
    const bool visible = !prefs().invisibles_visible;
    prefs().invisibles_visible = visible;
    save_then(this, [visible](VornEditorJSConnector& jsc) { jsc.set_show_invisibles(visible); });
}

void EditorWebViewController::edm_toggle_autosuggest() {
    const bool enabled = !prefs().auto_suggest_enabled;
    prefs().auto_suggest_enabled = enabled;
    save_then(this, [enabled](VornEditorJSConnector& jsc) {
        jsc.run_editor_js(editor_script::set_autocompletion(enabled));
    });
}

void EditorWebViewController::edm_beautify() {
    if (jsc) jsc->run_editor_js(editor_script::beautify_code());
}

void EditorWebViewController::edm_set_theme(const ui::Command& sender) {
    const auto raw = int_in_list(sender.propertyList, "themeEnumID");
    if (!raw) return;
    const auto theme = EnumManager::ace_editor_theme_from_raw(*raw);
    if (!theme) return;
    prefs().theme_id = *theme;
    const auto chosen = *theme;
    save_then(this, [chosen](VornEditorJSConnector& jsc) { jsc.run_editor_js(editor_script::set_theme(chosen)); });
}

void EditorWebViewController::edm_sw_set(const ui::Command& sender) {
    const auto raw = int_in_list(sender.propertyList, "softWrap");
    if (!raw) return;
    switch (*raw) {
        case 1: apply_soft_wrap_mode(EnumManager::soft_wrap::off_sw); break;
        case 2: apply_soft_wrap_mode(EnumManager::soft_wrap::view_sw); break;
        case 3: apply_soft_wrap_mode(EnumManager::soft_wrap::print_sw); break;
        case 4: {
            const Screen screen(this);
            VORNPresenterUtility::present_on_main(VORNPresenterUtility::Presenter(screen.data()), [screen](bool ready) {
                if (!screen) return;
                VORNPresenterUtility::present_text_field_alert(
                    ready, kCustomWrapTitle, kCustomWrapMessage, {{"Wrap Width", ui::AlertActionStyle::default_}},
                    "Set",
                    [screen](const std::string& text) {
                        if (screen) screen->apply_custom_wrap_width(text);
                    },
                    screen.data());
            });
            break;
        }
        default: break;
    }
}

void EditorWebViewController::apply_soft_wrap_mode(EnumManager::soft_wrap mode) {
    prefs().soft_wrap = mode;
    const std::string value = editor_script::soft_wrap_value(prefs());
    save_then(this, [value](VornEditorJSConnector& jsc) { jsc.run_editor_js(editor_script::set_soft_wrap(value)); });
    scene_links().rebuild_menus();
}

std::optional<int> EditorWebViewController::parse_wrap_width(const std::string& text) {
    std::string_view digits(text);
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
        if (!digits.empty() && digits.front() == '-') return std::nullopt;
    }
    if (digits.empty()) return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

void EditorWebViewController::apply_custom_wrap_width(const std::string& text) {
    const auto width = parse_wrap_width(text);
    if (!width) return;
    const Screen screen(this);
    const int value = *width;
    prefs().soft_wrap_custom_value = value;
    // The width is written first, then the mode; the page follows the second write.
    app_editor_preferences_manager().request_save_editor_preferences([screen, value](bool) {
        dispatch::mainQueue().async([screen, value] {
            prefs().soft_wrap = EnumManager::soft_wrap::custom;
            save_then(screen, [value](VornEditorJSConnector& jsc) {
                jsc.run_editor_js(editor_script::set_soft_wrap(std::to_string(value)));
            });
            scene_links().rebuild_menus();
        });
    });
}

void EditorWebViewController::validateCommand(ui::Command* command) {
    if (!command) return;
    const auto& p = prefs();
    const QString& action = command->action;
    if (scene_links().validate_editor_toggle(command)) return;
    if (action == QLatin1String(kSoftWrapSet)) {
        // The saved mode's entry is marked; the custom entry (titled "Custom: N" while custom
        // wrapping is on) is marked by its mode, as its title changes with the width.
        if (const char* title = mode_title(p.soft_wrap)) {
            if (command->title == QLatin1String(title)) command->state = 1;
        } else if (int_in_list(command->propertyList, "softWrap") == 4) {
            command->state = 1;
        }
    }
}
