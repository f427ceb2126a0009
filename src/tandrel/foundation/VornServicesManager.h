#pragma once
// The saved-servers store: loads "app_services.json" at launch and writes it back, one save at a
// time in request order, on its own queue. It also finds, by id, the servers that windows are
// connected to without their being saved (a link's server the user chose to connect to only):
// those are never written, and are known only while a window holds them.
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "tandrel/foundation/VornServicesDataModel.h"

class VornServicesManager {
public:
    VornServicesManager();
    // The process-wide store (the same object as app_services_manager()).
    static VornServicesManager& shared();

    dispatch::SerialQueue save_queue{"save_app_services"};
    std::optional<std::filesystem::path> url;
    std::shared_ptr<VornServicesDataModel> appServicesModel = std::make_shared<VornServicesDataModel>();

    void load_services(std::optional<std::filesystem::path> file_url);
    // Reads the file into appServicesModel. Lenient about absence, strict about content: a file
    // that does not decode is logged, copied aside ("<name>.bad-<time>") and the model kept.
    void deserialize_services();
    // Takes a copy of the model now, then hops to the main queue and on to the save queue, which
    // writes that copy. The completion (true when written) runs on the save queue.
    void request_save_services(std::function<void(bool)> completion);
    // Writes the current model; runs on the save queue.
    void save_services(std::function<void(bool)> completion);

    // The saved server with that id, else a window's unsaved one (main thread).
    std::shared_ptr<VornSingleServiceDataModel> find_service(const std::string& id) const;
    // A server a window connects to without saving it: found by find_service while the window
    // (or anything else) holds the record, forgotten after.
    void add_unsaved_service(const std::shared_ptr<VornSingleServiceDataModel>& server);

    // Called after every successful save (the app rebuilds its main menu there).
    static void set_menu_rebuilder(std::function<void()> rebuild);

private:
    std::vector<std::weak_ptr<VornSingleServiceDataModel>> unsaved_services_;
    void save_snapshot(const std::shared_ptr<VornServicesDataModel>& model,
                       const std::optional<std::filesystem::path>& file, const std::function<void(bool)>& completion);
};

// The process-wide store.
VornServicesManager& app_services_manager();
