#pragma once
// A later launch whose running copy does not answer yet (it is still starting: a slow keyring,
// a busy machine) says so in a window and waits for it, instead of ending with a line on the
// terminal that a user who launched from the desktop never sees. The window goes when the
// running copy answers (it has brought its window forward), or when the running copy ended and
// this launch holds the data folder now; "Quit" ends the launch.
#include <QtGlobal>
#include <functional>

#include "app/AppInstance.h"

// Runs the event loop until the wait is settled: handedOver, first, or unanswered after "Quit".
// `shown` (if any) is told the running copy's process id once the window shows.
AppInstance::Claim wait_for_running_copy(AppInstance& instance, const std::function<void(qint64)>& shown = {});
