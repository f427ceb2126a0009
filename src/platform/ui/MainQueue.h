#pragma once
// The main queue on the Qt GUI thread.

namespace ui {

// Runs the main queue's tasks on the GUI thread, one task per posted event, in order. The tasks
// wait in a list of our own and the posted event only says "run the next one": when Qt throws
// unrun events away at exit (while holding its event lock), no task, and nothing a task holds
// (a screen, a connection), is destroyed under that lock. Call after the QApplication exists.
void installMainQueueOnGuiThread();
// Back to the hand-pumped main queue; tasks that never ran are left alone (never destroyed).
void uninstallMainQueue();
// For the end of the process, once the event loop has ended: the main queue goes back to the
// hand-pumped list, with the tasks that never ran first in line, so dispatch::drainBeforeExit()
// can run them on this (the GUI) thread.
void handMainQueueBackForExit();

}  // namespace ui
