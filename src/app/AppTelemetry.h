#pragma once
// The app's side of the telemetry SDK: at launch it installs what the SDK needs of the
// application (main-thread runner, version and identifier, screen size, information values, the
// keyring key for stored target tokens), points the SDK at DRAVIX_TELEMETRY_URL when that is set,
// maps the application's states onto the SDK's life cycle (hidden or suspended: background;
// active again: foreground; about to quit: terminate, where the SDK gives its queue up to one
// second), and starts the SDK with the services named by class.
//
// DRAVIX_TELEMETRY_LOG_LEVEL (2 verbose ... 7 assert, 99 none) sets the SDK's log level, whose
// messages go to standard error. DRAVIX_SKIP_TELEMETRY=1 leaves the SDK out of the launch altogether (for launch-time
// comparisons). Nothing here reports a failure to the launch: the SDK logs its own.
#include <string>
#include <vector>

// Steps 6 and 7 of the launch.
void start_app_telemetry(const std::string& app_secret, const std::vector<std::string>& service_class_names);
void track_app_event(const std::string& event_name);

// Whether DRAVIX_SKIP_TELEMETRY asks to leave the SDK out.
bool app_telemetry_skipped();

