#include "app/AppDelegate.h"

#include "platform/ui/scenes/UserActivity.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/AppGlobals.h"
#include "tandrel/foundation/UserPrefs.h"
#include "tandrel/foundation/VornAppUrlUtility.h"
#include "tandrel/foundation/VornEditorPreferencesManager.h"
#include "tandrel/foundation/VornServicesManager.h"
#include "tandrel/foundation/VornSessionsManager.h"
#include "tandrel/scenes/DocumentScene.h"
#include "tandrel/scenes/SceneKind.h"
#include "tandrel/scenes/SceneManager.h"
#include "tandrel/servers/VornTrust.h"

AppDelegate::AppDelegate(AppLaunchServices services) : services_(std::move(services)) {
    VornMainMenuController::install_menu_rebuilder();
}

AppDelegate::~AppDelegate() = default;

std::string AppDelegate::telemetry_secret_for_idiom(ui::Idiom idiom) {
    switch (idiom) {
        case ui::Idiom::mac: return kDesktopSecret;
        case ui::Idiom::pad:
        case ui::Idiom::phone: return kTouchSecret;
        case ui::Idiom::unspecified: break;
    }
    return {};
}

bool AppDelegate::didFinishLaunching(const QVariantMap&) {
    AMZLogger& log = AMZLogger::shared();
    // 1. The log first: it raises the run counter that every line carries.
    log.setup(app_build_environment());
    // 2. Settings that have no value yet.
    UserPrefs::registerDefaultPreferences();
    // 3. The telemetry secret for this kind of device.
    TELLIUM_KEY = telemetry_secret_for_idiom(ui::userInterfaceIdiom());
    // 4. Folders and default files; a failure is logged and the launch goes on with whatever
    //    folders were made.
    if (auto error = VornAppUrlUtility::create_urls()) {
        log.log_error("VornAppUrlUtility.create_urls() error: " + error->text());
    }
    // 5.
    const auto base = VornAppUrlUtility::base_url();
    log.log_verbose("Base URL: " + (base ? base->string() : std::string("nil")));
    // 6. and 7. Telemetry: the SDK orders the start of its services itself.
    if (services_.start_telemetry) services_.start_telemetry(TELLIUM_KEY, {"TLMAnalytics", "TLMCrashes"});
    if (services_.track_event) services_.track_event("Started");
    // 8.
    if (services_.send_usage_metric) services_.send_usage_metric();
    // 9.
    log.log_verbose("Started");
    // 10. to 12. The stores, each with its URL as it is now (unset when step 4 did not set it).
    app_sessions_manager().setup_sessions(VornAppUrlUtility::sessions_folder_url());
    app_services_manager().load_services(VornAppUrlUtility::services_file_url());
    app_editor_preferences_manager().load_editor_preferences(VornAppUrlUtility::editor_pref_file_url());
    // 13.
    if (services_.start_document_manager) services_.start_document_manager();
    // Certificates and host keys the connections meet are asked about in a window.
    app_trust()->setAsker(std::make_shared<VornTrustAsker>());
    return true;
}

ui::SceneConfiguration AppDelegate::configurationForConnectingSceneSession(ui::SceneSession*,
                                                                          const ui::ConnectionOptions& options) {
    return SceneManager::configuration_for_connecting(options);
}

void AppDelegate::buildMenu(ui::MenuBuilder& builder) {
    if (ui::userInterfaceIdiom() != ui::Idiom::mac || builder.system() != ui::MenuSystem::main) return;
    menuController = std::make_unique<VornMainMenuController>(builder);
}

namespace {

// The documents' "Unsaved Changes" decisions, one window after another; the first Cancel stops.
void decide_quit(const std::shared_ptr<std::vector<QPointer<DocumentScene>>>& scenes, size_t index,
                 const std::function<void(bool)>& reply) {
    auto link = [&scenes](size_t i) {
        const auto& scene = (*scenes)[i];
        return scene ? dynamic_cast<DocumentSceneServiceLink*>(scene->delegate()) : nullptr;
    };
    while (index < scenes->size() && !link(index)) ++index;
    if (index == scenes->size()) return reply(true);
    link(index)->decide_close_with_server([scenes, index, reply](bool may_close) {
        if (!may_close) return reply(false);
        decide_quit(scenes, index + 1, reply);
    });
}

}  // namespace

void AppDelegate::applicationShouldTerminate(std::function<void(bool)> reply) {
    auto scenes = std::make_shared<std::vector<QPointer<DocumentScene>>>();
    for (DocumentScene* scene : SceneManager::document_scenes()) scenes->emplace_back(scene);
    decide_quit(scenes, 0, reply);
}

void AppDelegate::validateCommand(ui::Command* command) { VornMainMenuController::validate_editor_toggle(command); }

void AppDelegate::new_scene() {
    ui::UserActivity activity(scene_kind_activity_type(SceneKind::server_viewer));
    ui::Application::shared().requestSceneSessionActivation(nullptr, activity, {}, nullptr);
}
