#include "app/AppLaunchServices.h"

#include "app/AppTelemetry.h"
#include "tandrel/foundation/AMAnalytics.h"
#include "tandrel/scenes/VornDocumentManager.h"

AppLaunchServices AppLaunchServices::defaults() {
    AppLaunchServices s;
    s.start_telemetry = start_app_telemetry;
    s.track_event = track_app_event;
    s.send_usage_metric = [] { AMAnalytics::shared().am_metric(); };
    s.start_document_manager = [] { VornDocumentManager::shared().observe_main_window_changes(); };
    return s;
}
