#pragma once
// The application's states (Qt's) as the telemetry SDK's life-cycle moments.
#include <Qt>

// The application's states as the SDK's life-cycle moments: hidden or suspended posts
// did-enter-background (once), active after that posts will-enter-foreground; inactive (another
// window has the focus) changes nothing.
class AppLifecycleMapper {
public:
    void applicationStateChanged(Qt::ApplicationState state);

private:
    bool background_ = false;
};
