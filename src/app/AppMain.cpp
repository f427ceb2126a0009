// The app's run (AppMain.h): sets up Qt, the main queue and the application object, runs the
// launch sequence, opens the first window and hands over to the event loop; after it, lets what
// was asked for before the quit finish.
#include "app/AppMain.h"

#include <QApplication>
#include <chrono>
#include <cstdio>

#include "app/AppCommandLine.h"
#include "app/AppDelegate.h"
#include "app/AppExit.h"
#include "app/AppInstance.h"
#include "app/AppInstanceWait.h"
#include "app/AppLinks.h"
#include "app/AppScenes.h"
#include "app/LaunchReport.h"
#include "platform/dispatch/ApplicationEnd.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/ui/MainQueue.h"
#include "tandrel/foundation/VornAppUrlUtility.h"
#include "tandrel/scenes/UnsavedRestore.h"
#ifdef DRAVIX_HAS_WEB
#include "platform/web/WebProfile.h"
#endif

namespace {
int answer(const AppCommandLine& line) {
    const QByteArray text = line.text.toLocal8Bit();
    std::fputs(text.constData(), line.action == AppCommandLine::Action::invalid ? stderr : stdout);
    return line.action == AppCommandLine::Action::invalid ? 2 : 0;
}
}  // namespace

int run_app(int argc, char** argv, const AppRunAdditions& additions) {
    const auto main_started = std::chrono::steady_clock::now();
    // --help and --version answer here, before anything needs a display.
    {
        QStringList arguments;
        for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
        const auto early = AppCommandLine::early(arguments);
        if (early.action != AppCommandLine::Action::run) return answer(early);
    }
    // The web views of the editor and the preview share their GL contexts, and the web engine
    // learns the app's page scheme; both must happen before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
#ifdef DRAVIX_HAS_WEB
    web::registerWebSchemes();
#endif
    QCoreApplication::setApplicationName(QStringLiteral("DravixFTPClient"));
    QApplication qapp(argc, argv);
    // The desktop entry the windows belong to (its icon and name in the shell).
    QGuiApplication::setDesktopFileName(QStringLiteral("com.dravix.ftpclient"));
    const auto command_line = AppCommandLine::parse(QCoreApplication::arguments());
    if (command_line.action != AppCommandLine::Action::run) return answer(command_line);

    // One copy of the app per data folder: a later launch brings the running copy's server
    // window forward and ends here, before it has read or written anything of the stores.
    // A running copy that is still starting is waited for, in a window that says so.
    AppInstance instance(VornAppUrlUtility::application_folder());
    instance.setLinks(command_line.urls);
    AppInstance::Claim claim = instance.claim(std::chrono::seconds(3));
    if (claim == AppInstance::Claim::unanswered) claim = wait_for_running_copy(instance, additions.waiting);
    switch (claim) {
        case AppInstance::Claim::first: break;
        case AppInstance::Claim::handedOver: return 0;
        case AppInstance::Claim::unanswered:
            std::fprintf(stderr, "DravixFTPClient is already running on this data folder (process %lld) and does not answer.\n",
                         static_cast<long long>(instance.holderPid()));
            return 1;
    }

    // The main queue runs on the GUI thread, one task per event.
    ui::installMainQueueOnGuiThread();

    int status = 0;
    {
        AppDelegate delegate;
        report_first_window_when_shown(main_started);
        prepare_application(delegate);
        ui::Application::shared().finishLaunching();
        open_first_window();
        // Documents whose unsaved text the last run left kept (it ended without a quit) open again.
        unsaved_restore::reopen_kept_documents();
        if (additions.launched) additions.launched();
        // The links of the command line open once the first window is there (its request's task
        // runs first on the main queue); a later launch's links open the same way.
        dispatch::mainQueue().async([links = command_line.urls] { open_app_links(links); });
        instance.setActivationHandler([](const QStringList& links) {
            if (links.isEmpty()) return bring_server_window_forward();
            open_app_links(links);
        });
        status = QApplication::exec();
        instance.stopListening();
        finish_application();
    }
    // What must go before the application object does (the web pages, then their profile).
    dispatch::runApplicationEndSteps();
    return status;
}
