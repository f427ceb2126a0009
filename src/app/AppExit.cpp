#include "app/AppExit.h"

#include <QCoreApplication>
#include <QEvent>

#include "platform/dispatch/ExitDrain.h"
#include "platform/log/Log.h"
#include "platform/ui/MainQueue.h"
#include "platform/ui/scenes/Application.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/scenes/UnsavedRestore.h"

namespace {

void drain(dispatch::Clock::time_point deadline, const char* stage) {
    for (const auto& label : dispatch::drainBeforeExit(deadline)) {
        AMZLogger::shared().log_error(std::string("quit ") + stage + ": \"" + label + "\" had not finished in time");
    }
}

}  // namespace

void finish_application() {
    const auto deadline = dispatch::Clock::now() + dispatch::kExitDrainBound;
    // The quit was decided: every open document was saved or discarded, so no unsaved text of
    // theirs is kept for the next launch.
    unsaved_restore::forget_kept_text_of_open_documents();
    // From here on the main queue is a list this function runs by hand: no event loop runs again.
    ui::handMainQueueBackForExit();
    // Before the windows go: an upload in flight belongs to a window's connection, which would
    // be cut when the window is torn down.
    drain(deadline, "before closing the windows");
    ui::Application::shared().disconnectAllScenes();
    drain(deadline, "after closing the windows");
    ui::Application::shared().setDelegate(nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    drain(deadline, "at the end");
    // The log's last lines (what did not finish among them) reach its files too.
    xlog::Log::sharedInstance().flush();
}
