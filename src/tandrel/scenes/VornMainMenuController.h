#pragma once
// The desktop main menu's controller. Made by the application delegate's menu hook with a
// builder, which it fills; `rebuild_menus` asks for every window's menu to be built again
// (after the saved servers change, for one).
#include "platform/ui/scenes/Application.h"

class VornMainMenuController {
public:
    explicit VornMainMenuController(ui::MenuBuilder& builder);

    // Fills the main menu through the builder.
    void build_main_menu(ui::MenuBuilder& builder);

    // Queues, on the main queue, a request that the main menus be built again. Safe from any
    // thread.
    static void rebuild_menus();
    // Makes the saved-servers store rebuild the menus after each successful save.
    static void install_menu_rebuilder();
};
