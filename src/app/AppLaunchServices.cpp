#include "app/AppLaunchServices.h"

#include "tandrel/foundation/AMAnalytics.h"
#include "tandrel/scenes/VornDocumentManager.h"

AppLaunchServices AppLaunchServices::defaults() {
    AppLaunchServices s;
    // The telemetry SDK is not part of this build yet: starting it and tracking are no-ops.
    s.start_telemetry = [](const std::string&, const std::vector<std::string>&) {};
    s.track_event = [](const std::string&) {};
    s.send_usage_metric = [] { AMAnalytics::shared().am_metric(); };
    s.start_document_manager = [] { VornDocumentManager::shared().observe_main_window_changes(); };
    return s;
}
