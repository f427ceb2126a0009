#pragma once
// The launch steps that reach other subsystems: the telemetry SDK (start with the app secret and
// the services, then the "Started" event), the usage metric and the desktop document tracker.
// Each is a function the launch calls at its step; the defaults reach what exists in this build,
// and tests replace them to watch the launch.
#include <functional>
#include <string>
#include <vector>

struct AppLaunchServices {
    // Starts the telemetry SDK with the app secret and the services, by name, in that order.
    std::function<void(const std::string& app_secret, const std::vector<std::string>& services)> start_telemetry;
    // Tracks one analytics event by name.
    std::function<void(const std::string& event_name)> track_event;
    // Sends the daily usage metric.
    std::function<void()> send_usage_metric;
    // Starts following the desktop's main document window.
    std::function<void()> start_document_manager;

    static AppLaunchServices defaults();
};
