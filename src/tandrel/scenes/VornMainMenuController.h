#pragma once
// The desktop main menu's controller. Made by the application delegate's menu hook with a
// builder, which it fills: the standard Format and New Scene menus go, File gets a New submenu
// and the file commands, and a Find menu and an Editor menu (with Soft Wrap and Set Theme) are
// added. Every entry is a target-less command answered along the responder chain.
// `rebuild_menus` asks for every window's menu to be built again (after the saved servers
// change, and when the soft-wrap mode changes the custom entry's title).
#include "platform/ui/Menu.h"
#include "platform/ui/Responder.h"

class VornMainMenuController {
public:
    explicit VornMainMenuController(ui::MenuBuilder& builder);

    // Fills the main menu through the builder.
    void build_main_menu(ui::MenuBuilder& builder);

    static ui::MenuPtr build_new_menu();
    static ui::MenuPtr build_file_menu();
    static ui::MenuPtr build_find_menu();
    static ui::MenuPtr build_editor_menu_items();
    // The custom entry's title follows the editor-preferences store at build time.
    static ui::MenuPtr build_soft_wrap_menu_items();
    static ui::MenuPtr build_light_theme_menu();
    static ui::MenuPtr build_dark_theme_menu();

    // Queues, on the main queue, a request that the main menus be built again. Safe from any
    // thread; requests made before the rebuild runs give one rebuild.
    static void rebuild_menus();
    // Makes the saved-servers store rebuild the menus after each successful save.
    static void install_menu_rebuilder();

    // The titles and check marks of the Editor menu's three toggles, from the stored editor
    // preferences: "Disable Gutter" / "Enable Gutter", "Disable Invisibles" / "Enable
    // Invisibles", "Disable Auto Suggest" / "Enable Auto Suggest". True when the command is one
    // of them. The editor screen validates with it, and so does the end of the responder chain
    // when no editor has the focus (the entries are disabled then, but read true).
    static bool validate_editor_toggle(ui::Command* command);

    // New > Window: answered by the application delegate, at the end of every responder chain.
    static constexpr const char* kNewSceneSelector = "new_scene";
};
