#include "tandrel/scenes/VornMainMenuController.h"

#include "platform/dispatch/Dispatch.h"
#include "tandrel/foundation/VornServicesManager.h"

VornMainMenuController::VornMainMenuController(ui::MenuBuilder& builder) { build_main_menu(builder); }

void VornMainMenuController::build_main_menu(ui::MenuBuilder& builder) {
    // The menus and their commands are added here as the screens that answer them arrive; a
    // window without menus shows no menu bar.
    (void)builder;
}

void VornMainMenuController::rebuild_menus() {
    dispatch::mainQueue().async([] { ui::Application::shared().setNeedsRebuildMainMenu(); });
}

void VornMainMenuController::install_menu_rebuilder() {
    VornServicesManager::set_menu_rebuilder([] { VornMainMenuController::rebuild_menus(); });
}
