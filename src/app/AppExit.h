#pragma once
// The end of the app, once its event loop has ended, so that nothing the user asked for just
// before the quit is lost: the main queue's leftover tasks run (a save asked for in the last
// moment among them), the stores' queued writes and the uploads in flight are let finish, the
// windows are torn down (which may ask for more writes) and waited for once more. All of it
// within dispatch::kExitDrainBound, so a stalled server cannot hold the quit for long.

// Runs on the GUI thread after QApplication::exec() has returned, while the application
// delegate still exists; leaves no window and no delegate behind.
void finish_application();
