#pragma once
// What the server screens ask of the file-viewer window they serve, in one place: connect a
// saved server (after dropping the current connection), show an error on the explorer, and
// rebuild the explorer's welcome screen a second later.
#include <QPointer>
#include <functional>
#include <optional>
#include <string>

#include "tandrel/foundation/VornError.h"
#include "tandrel/foundation/VornFileViewerSceneDelegateProtocol.h"

namespace ui {
class ViewController;
}

namespace servers_link {

// Runs once on the main queue: no error once the window is connected, else why it is not.
using ConnectDone = std::function<void(std::optional<VornError> error)>;

// Resets the window's connection, then connects it to the saved server with this id; another
// server than the window's current one first closes the current server's document windows, each
// after its decision about unsaved changes. Nothing happens (and `done` is not called) when the
// window is gone, when a document window was kept, or when a newer connect of the same window
// overtook this one.
void reset_and_connect(const QPointer<VornFileViewerSceneDelegateProtocol>& window, const std::string& service_id,
                       ConnectDone done);

// "An Error Occurred" with "OK" on the window's file explorer.
void show_error_on_window(const QPointer<VornFileViewerSceneDelegateProtocol>& window, const VornError& error);

// The explorer re-embeds the window's saved-servers list in its welcome screen one second later.
void rebuild_welcome_splash_later(const QPointer<VornFileViewerSceneDelegateProtocol>& window);

// Closes a server screen: a presented screen is dismissed; the root screen of its own window
// (the manage-services or single-service window) closes that window's scene; an embedded screen
// stays.
void dismiss_screen(ui::ViewController* screen);

// The window's identifier (its state record's static_window_file_id), when it is a file viewer.
std::optional<std::string> window_id(const QPointer<VornFileViewerSceneDelegateProtocol>& window);

}  // namespace servers_link
