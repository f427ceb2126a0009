#pragma once
// The app's run, from the process's arguments to its exit status: `dravix`'s main() is this call
// and nothing else. A program built on the app may add to the run through `AppRunAdditions`; the
// test build of the program (tests/app/TestableMain.cpp, built only with the tests) attaches its
// control channel there, while `dravix` passes none, so that the installed program holds no way
// for a test (or anyone else) to steer it.
#include <QtGlobal>
#include <functional>

struct AppRunAdditions {
    // Once the first window was asked for and the application object runs the launch's work.
    std::function<void()> launched;
    // The window that waits for a running copy still starting (AppInstanceWait.h) shows; the
    // running copy's process id.
    std::function<void(qint64)> waiting;
};

int run_app(int argc, char** argv, const AppRunAdditions& additions = {});
