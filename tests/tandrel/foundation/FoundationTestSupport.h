#pragma once
#include "platform/defaults/UserDefaults.h"
#include "support/LogCapture.h"
#include "support/TempHome.h"

// The app's log lines, at the launch's level mask (error, warning, info) unless told otherwise.
class CapturedLog : public testlog::LogCapture {
public:
    explicit CapturedLog(unsigned level = 7) : LogCapture(level) {}
};

// A temporary home whose settings store is fresh.
class AppHome : public testsupport::TempHome {
public:
    AppHome() { defaults::UserDefaults::resetStandardForTesting(); }
    ~AppHome() { defaults::UserDefaults::resetStandardForTesting(); }
};
