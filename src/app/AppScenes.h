#pragma once
// The app's scene manifest (configuration name -> scene and delegate classes) and the start-up
// of the application object.
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
