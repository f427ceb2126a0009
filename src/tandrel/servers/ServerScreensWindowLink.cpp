#include "tandrel/servers/ServerScreensWindowLink.h"

#include "platform/dispatch/Dispatch.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/scenes/Application.h"
#include "platform/ui/scenes/Scene.h"
#include "platform/ui/scenes/Window.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/VornFileViewController.h"

namespace servers_link {

namespace {
FileViewerSceneDelegate* viewer(const QPointer<VornFileViewerSceneDelegateProtocol>& window) {
    return qobject_cast<FileViewerSceneDelegate*>(window.data());
}
}  // namespace

void reset_and_connect(const QPointer<VornFileViewerSceneDelegateProtocol>& window, const std::string& service_id,
                       ConnectDone done) {
    FileViewerSceneDelegate* w = viewer(window);
    if (!w) return;
    // Another server than the window's current one: its document windows decide and close
    // first, as in a disconnect.
    w->switch_to_service(service_id, [done](std::shared_ptr<VornProviderBucket>, std::optional<VornError> failure) {
        // A connect that a newer reset or connect overtook has nothing to tell: the newer one
        // answers.
        if (failure && failure->name == "connection_superseded") return;
        if (done) done(std::move(failure));
    });
}

void show_error_on_window(const QPointer<VornFileViewerSceneDelegateProtocol>& window, const VornError& error) {
    FileViewerSceneDelegate* w = viewer(window);
    if (!w || !w->fileView_controller) return;
    w->fileView_controller->present_error(error);
}

void rebuild_welcome_splash_later(const QPointer<VornFileViewerSceneDelegateProtocol>& window) {
    FileViewerSceneDelegate* w = viewer(window);
    if (w && w->fileView_controller) w->fileView_controller->rebuild_welcome_splash_later();
}

void dismiss_screen(ui::ViewController* screen) {
    if (!screen) return;
    if (screen->presentingViewController()) {
        screen->dismissViewControllerAnimated(true);
        return;
    }
    QWidget* view = screen->viewIfLoaded();
    auto* window = view ? qobject_cast<ui::Window*>(view->window()) : nullptr;
    if (!window || window->rootViewController() != screen || !window->windowScene()) return;
    if (ui::SceneSession* session = window->windowScene()->session())
        ui::Application::shared().requestSceneSessionDestruction(session, {}, nullptr);
}

std::optional<std::string> window_id(const QPointer<VornFileViewerSceneDelegateProtocol>& window) {
    FileViewerSceneDelegate* w = viewer(window);
    if (!w || !w->my_session_info) return std::nullopt;
    return w->my_session_info->static_window_file_id;
}

}  // namespace servers_link
