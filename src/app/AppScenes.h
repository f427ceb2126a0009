#pragma once
// The app's scene manifest (configuration name -> scene and delegate classes) and the start-up
// of the application object.
#include <functional>

#include "platform/ui/scenes/Application.h"

class AppDelegate;

// Declares the app's window configurations. "New Document Configuration" has no window, so
// asking for it fails to the request's error handler.
void declare_app_scenes(ui::SceneManifest& manifest);

// Makes the application object ready: the manifest, the delegate (the responder after the
// application) and the main-menu rebuild after saved-server changes.
void prepare_application(AppDelegate& delegate);

// Asks for the first window: no activity, so "Default Configuration" (a file viewer).
void open_first_window();

// Another launch of the app on the same data folder asked this one to come forward: the key
// server window (else the first one) is shown, restored if minimised, raised and made key; with
// no server window, a new one opens. A request that comes while the first window is still on its
// way waits for it and brings it forward once it opens (no second window).
void bring_server_window_forward();

class FileViewerScene;
// That window itself: restored if minimised, raised and made key.
void bring_file_viewer_forward(FileViewerScene* scene);

// While the first window is still on its way (asked for, no server window open yet): `opened`
// runs once it opened, on the main queue, with it (nullptr when it could not be made); true.
// Otherwise false, and `opened` never runs.
bool when_first_window_opens(std::function<void(FileViewerScene*)> opened);
// Opens a new server window; `opened` runs once, on the main queue, with it (nullptr when none
// could be made).
void open_server_window(std::function<void(FileViewerScene*)> opened);
