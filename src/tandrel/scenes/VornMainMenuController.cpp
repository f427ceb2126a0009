#include "tandrel/scenes/VornMainMenuController.h"

#include "platform/dispatch/Dispatch.h"
#include "platform/text/TextEncoding.h"
#include "platform/ui/scenes/Application.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/VornEditorPreferencesManager.h"
#include "tandrel/foundation/VornServicesManager.h"
#include "tandrel/editor/EditorFileMenuActionsProtocol.h"
#include "tandrel/editor/EditorMenuActionsProtocol.h"
#include "tandrel/editor/FindMenuActionsProtocol.h"
#include "tandrel/foundation/VornFileServerViewController.h"

namespace {

constexpr int kCommand = ui::KeyModifier::command;
constexpr int kShift = ui::KeyModifier::shift;

ui::KeyCommand key_command(QString title, QString input, int modifiers, const char* action, QVariant list = {}) {
    ui::KeyCommand c;
    c.title = std::move(title);
    c.input = std::move(input);
    c.modifierFlags = modifiers;
    c.action = QString::fromLatin1(action);
    c.propertyList = std::move(list);
    return c;
}

ui::KeyCommand plain_command(QString title, const char* action, QVariant list = {}) {
    return key_command(std::move(title), {}, 0, action, std::move(list));
}

QVariantMap int_list(const char* key, int value) { return QVariantMap{{QString::fromLatin1(key), value}}; }

ui::MenuPtr theme_group(const char* title, const char* identifier, const char* heading, int heading_id,
                        const std::vector<EnumManager::ace_editor_theme>& themes) {
    ui::KeyCommand head = plain_command(QString::fromLatin1(heading), EditorMenuActionsProtocol::kSetTheme, int_list("themeEnumID", heading_id));
    head.attributes = ui::MenuElementAttributes::disabled;
    QList<ui::MenuElement> children{head};
    for (auto theme : themes) {
        children.append(plain_command(QString::fromStdString(EnumManager::display_name(theme)), EditorMenuActionsProtocol::kSetTheme,
                                      int_list("themeEnumID", static_cast<int>(theme))));
    }
    return ui::Menu::make(QString::fromLatin1(title), QString::fromLatin1(identifier), ui::MenuOptions::displayInline,
                          std::move(children));
}

}  // namespace

VornMainMenuController::VornMainMenuController(ui::MenuBuilder& builder) { build_main_menu(builder); }

void VornMainMenuController::build_main_menu(ui::MenuBuilder& builder) {
    builder.removeMenuForIdentifier(ui::MenuIdentifier::format);
    builder.removeMenuForIdentifier(ui::MenuIdentifier::newScene);
    builder.insertChildMenuAtStart(build_file_menu(), ui::MenuIdentifier::file);
    builder.insertChildMenuAtStart(build_new_menu(), ui::MenuIdentifier::file);

    builder.insertSiblingMenuAfter(ui::Menu::make("Find", "DravixFTPClient.findMenu"), ui::MenuIdentifier::view);
    builder.insertChildMenuAtEnd(build_find_menu(), "DravixFTPClient.findMenu");

    builder.insertSiblingMenuBefore(ui::Menu::make("Editor", "DravixFTPClient.editorMenu"), ui::MenuIdentifier::window);
    builder.insertChildMenuAtEnd(build_editor_menu_items(), "DravixFTPClient.editorMenu");

    builder.insertSiblingMenuAfter(ui::Menu::make("Soft Wrap", "DravixFTPClient.editorSoftWrapMenuID"),
                                   "DravixFTPClient.editorMenuItems_id_group_1");
    builder.insertChildMenuAtEnd(build_soft_wrap_menu_items(), "DravixFTPClient.editorSoftWrapMenuID");

    builder.insertSiblingMenuAfter(ui::Menu::make("Set Theme", "DravixFTPClient.editorThemeMenuItems"),
                                   "DravixFTPClient.editorSoftWrapMenuID");
    builder.insertChildMenuAtEnd(build_light_theme_menu(), "DravixFTPClient.editorThemeMenuItems");
    builder.insertChildMenuAtEnd(build_dark_theme_menu(), "DravixFTPClient.editorThemeMenuItems");
}

ui::MenuPtr VornMainMenuController::build_new_menu() {
    return ui::Menu::make("New", "DravixFTPClient.newMenu", ui::MenuOptions::destructive,
                          {key_command("Window", "t", kCommand | kShift, kNewSceneSelector),
                           key_command("File", "n", kCommand, VornFileServerViewController::kNewFile),
                           key_command("Folder", "n", kCommand | kShift, VornFileServerViewController::kNewFolder)});
}

ui::MenuPtr VornMainMenuController::build_file_menu() {
    // The offered encodings by name, each entry naming its encoding.
    auto encodings = [](const char* title, const char* identifier, const char* action) {
        QList<ui::MenuElement> entries;
        for (const auto& [name, shown] : textcodec::offeredEncodings()) {
            entries.append(plain_command(QString::fromStdString(shown), action,
                                         QVariantMap{{QStringLiteral("encoding"), QString::fromStdString(name)}}));
        }
        return ui::Menu::make(QString::fromLatin1(title), QString::fromLatin1(identifier), 0, std::move(entries));
    };
    return ui::Menu::make({}, "file_sec2_items", ui::MenuOptions::displayInline,
                          {key_command(ui::localizedTitle("Save File"), "s", kCommand, EditorFileMenuActionsProtocol::kSaveFile),
                           key_command(ui::localizedTitle("Close File"), {}, 0, EditorFileMenuActionsProtocol::kCloseSessionMain),
                           encodings("Reopen with Encoding", "DravixFTPClient.reopenEncodingMenu",
                                     EditorFileMenuActionsProtocol::kReopenWithEncoding),
                           encodings("Save with Encoding", "DravixFTPClient.saveEncodingMenu",
                                     EditorFileMenuActionsProtocol::kSaveWithEncoding),
                           key_command(QStringLiteral("History\u2026"), {}, 0, EditorFileMenuActionsProtocol::kShowHistory)});
}

ui::MenuPtr VornMainMenuController::build_find_menu() {
    return ui::Menu::make({}, "DravixFTPClient.findMenuItems_group_1", ui::MenuOptions::displayInline,
                          {plain_command("Find...", FindMenuActionsProtocol::kFind), plain_command("Find and Replace...", FindMenuActionsProtocol::kFindReplace),
                           key_command(QStringLiteral("Find in Site\u2026"), "f", kCommand | kShift, FindMenuActionsProtocol::kFindInSite)});
}

ui::MenuPtr VornMainMenuController::build_editor_menu_items() {
    return ui::Menu::make({}, "DravixFTPClient.editorMenuItems_id_group_1", ui::MenuOptions::displayInline,
                          {plain_command("Disable Gutter", EditorMenuActionsProtocol::kToggleGutter),
                           plain_command("Disable Auto Suggest", EditorMenuActionsProtocol::kToggleAutosuggest),
                           plain_command("Disable Invisibles", EditorMenuActionsProtocol::kToggleInvisibles),
                           plain_command("Beautify Code", EditorMenuActionsProtocol::kBeautify)});
}

ui::MenuPtr VornMainMenuController::build_soft_wrap_menu_items() {
    const auto& model = app_editor_preferences_manager().theModel;
    const bool custom = model && model->soft_wrap == EnumManager::soft_wrap::custom;
    const QString custom_title =
        custom ? QStringLiteral("Custom: %1").arg(model->soft_wrap_custom_value) : QStringLiteral("Set Custom");
    return ui::Menu::make({}, "DravixFTPClient.editor_soft_wrap_items", ui::MenuOptions::displayInline,
                          {plain_command("Off", EditorMenuActionsProtocol::kSoftWrapSet, int_list("softWrap", 1)),
                           plain_command("View", EditorMenuActionsProtocol::kSoftWrapSet, int_list("softWrap", 2)),
                           plain_command("Print Margin", EditorMenuActionsProtocol::kSoftWrapSet, int_list("softWrap", 3)),
                           plain_command(custom_title, EditorMenuActionsProtocol::kSoftWrapSet, int_list("softWrap", 4))});
}

ui::MenuPtr VornMainMenuController::build_light_theme_menu() {
    return theme_group("Light Themes", "DravixFTPClient.editorLightThemeMenu", "- Light Themes", -1,
                       EnumManager::light_themes());
}

ui::MenuPtr VornMainMenuController::build_dark_theme_menu() {
    return theme_group("Dark Themes", "DravixFTPClient.editorDarkThemeMenu", "- Dark Themes", -2,
                       EnumManager::dark_themes());
}

void VornMainMenuController::rebuild_menus() {
    dispatch::mainQueue().async([] { ui::Application::shared().setNeedsRebuildMainMenu(); });
}

void VornMainMenuController::install_menu_rebuilder() {
    VornServicesManager::set_menu_rebuilder([] { VornMainMenuController::rebuild_menus(); });
}

bool VornMainMenuController::validate_editor_toggle(ui::Command* command) {
    if (!command) return false;
    const auto& model = app_editor_preferences_manager().theModel;
    if (!model) return false;
    auto toggle = [command](bool on, const char* disable, const char* enable) {
        command->state = on ? 1 : 0;
        command->title = QString::fromLatin1(on ? disable : enable);
        return true;
    };
    const QString& action = command->action;
    if (action == QLatin1String(EditorMenuActionsProtocol::kToggleGutter)) return toggle(model->gutter_visible, "Disable Gutter", "Enable Gutter");
    if (action == QLatin1String(EditorMenuActionsProtocol::kToggleInvisibles)) {
        return toggle(model->invisibles_visible, "Disable Invisibles", "Enable Invisibles");
    }
    if (action == QLatin1String(EditorMenuActionsProtocol::kToggleAutosuggest)) {
        return toggle(model->auto_suggest_enabled, "Disable Auto Suggest", "Enable Auto Suggest");
    }
    return false;
}
