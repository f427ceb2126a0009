// A program that asks for writes in its last moments and then ends, as a user's quit does; the
// exit tests run it and look at the files it leaves.
//
//   exit_probe plain <folder>  asks the stores for a preferences save and a sessions save and
//                              returns from main at once, without any exit step of its own.
//   exit_probe app <folder>    runs an event loop as the app does; its last main-queue task asks
//                              for the quit and then queues the saves behind it (so they are still
//                              on the main queue when the loop ends), and ends as the app does.
//
// The saved text: the preferences with gutter_visible false and a soft wrap width of 123; one
// sessions record for the server "probe-server" whose file session holds a large text (so that
// writing it takes a moment); in app mode also one saved server with the id "probe-added".
#include <QApplication>
#include <QTimer>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/AppExit.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/ui/MainQueue.h"
#include "tandrel/foundation/VornEditorPreferencesManager.h"
#include "tandrel/foundation/VornServicesManager.h"
#include "tandrel/foundation/VornSessionsManager.h"

namespace fs = std::filesystem;

namespace {

std::string largeText() {
    std::string text;
    text.reserve(24u << 20);
    while (text.size() < (24u << 20)) text += "<p>a line of the page that was being edited</p>\n";
    return text;
}

void setUpStores(const fs::path& folder) {
    fs::create_directories(folder / "sessions");
    app_sessions_manager().setup_sessions(folder / "sessions");
    app_editor_preferences_manager().load_editor_preferences(folder / "editor_preferences.json");
    app_services_manager().load_services(folder / "app_services.json");
}

void requestSaves(bool withServer) {
    auto& prefs = app_editor_preferences_manager();
    prefs.theModel->gutter_visible = false;
    prefs.theModel->soft_wrap_custom_value = 123;
    prefs.request_save_editor_preferences([](bool) {});

    auto record = std::make_shared<VornAppMultipleSessionsDataModel>();
    record->service_id = "probe-server";
    auto file = std::make_shared<VornACEFileSessionsDataModel>();
    file->session_id = "L3BhZ2UuaHRtbA==";
    file->file_path = "/page.html";
    file->json = largeText();
    file->undo_count = 7;
    record->ace_file_sessions.push_back(file);
    app_sessions_manager().service_sessions[record->service_id] = record;
    app_sessions_manager().request_save_sessions(record);

    if (withServer) {
        auto server = std::make_shared<VornSingleServiceDataModel>();
        server->id = "probe-added";
        server->url = "ftp://127.0.0.1/";
        app_services_manager().appServicesModel->add_service(server);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: exit_probe plain|app <folder>\n";
        return 2;
    }
    const std::string mode = argv[1];
    const fs::path folder = argv[2];
    if (mode == "plain") {
        setUpStores(folder);
        requestSaves(false);
        return 0;
    }
    if (mode != "app") return 2;

    QApplication qapp(argc, argv);
    ui::installMainQueueOnGuiThread();
    setUpStores(folder);
    QTimer::singleShot(0, [] {
        dispatch::mainQueue().async([] {
            QCoreApplication::quit();
            dispatch::mainQueue().async([] { requestSaves(true); });
        });
    });
    const int status = QApplication::exec();
    finish_application();
    return status;
}
