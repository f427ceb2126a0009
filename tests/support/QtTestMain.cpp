// Test main for suites that need a Qt application: the main queue runs on the GUI thread
// (as in the app); tests wait with QTest::qWaitFor, which spins Qt's event loop.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMetaObject>
#include <QThread>
#include <unistd.h>

#include "platform/dispatch/ApplicationEnd.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/ui/MainQueue.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The web engine refuses to start its sandbox as root, and software rendering is all a test
    // X server offers: the same settings scripts/test exports, for tests run on their own.
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS")) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    ui::installMainQueueOnGuiThread();
    int rc = RUN_ALL_TESTS();
    ui::uninstallMainQueue();
    // What must go before the application object does (the web pages, then their profile).
    dispatch::runApplicationEndSteps();
    return rc;
}
