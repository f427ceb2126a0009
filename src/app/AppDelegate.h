#pragma once
// The application delegate: runs the launch sequence once, chooses the configuration of each
// connecting window from its activity, and hooks the desktop main menu.
#include <memory>
#include <string>

#include "app/AppLaunchServices.h"
#include "platform/ui/Idiom.h"
#include "platform/ui/scenes/Application.h"
#include "tandrel/scenes/VornMainMenuController.h"

class AppDelegate : public ui::ApplicationDelegate {
    Q_OBJECT
public:
    explicit AppDelegate(AppLaunchServices services = AppLaunchServices::defaults());
    ~AppDelegate() override;

    // The telemetry app secret, chosen by idiom at launch (empty before).
    std::string TELLIUM_KEY;
    // The main menu's controller, made by the menu hook on the desktop.
    std::unique_ptr<VornMainMenuController> menuController;

    // The launch sequence; always true.
    bool didFinishLaunching(const QVariantMap& options) override;
    ui::SceneConfiguration configurationForConnectingSceneSession(ui::SceneSession* session,
                                                                  const ui::ConnectionOptions& options) override;
    // The main-menu hook: on the desktop idiom and for the main menu system only.
    void buildMenu(ui::MenuBuilder& builder) override;
    // Quit: each document window with a changed file asks "Unsaved Changes" in turn; Cancel in
    // any of them keeps the application running.
    void applicationShouldTerminate(std::function<void(bool)> reply) override;

    // A new file-viewer window (the "New > Window" command).
    Q_INVOKABLE void new_scene();
    // How the menu commands no window takes read (the Editor toggles show the stored settings).
    Q_INVOKABLE void validateCommand(ui::Command* command);

    // The secret for an idiom: the desktop's, the touch devices', or empty for any other idiom.
    static std::string telemetry_secret_for_idiom(ui::Idiom idiom);
    static constexpr const char* kDesktopSecret = "c83f0d47-2a9e-4b15-8e6c-f41a07d95b28";
    static constexpr const char* kTouchSecret = "5e2a91c0-7b3d-4f68-a1c4-9d0e6b2f7a13";

private:
    AppLaunchServices services_;
};
