#pragma once
// What the file explorer shows: the listing on screen and the remote folder it belongs to.
#include <memory>
#include <string>

#include "tandrel/foundation/Jsonable.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"

struct current_file_explorer_settings {
    // The listing on screen; its `fileSections` are the table's one section.
    std::shared_ptr<VornServerFilesDataModel> currentServerReturnInfo = std::make_shared<VornServerFilesDataModel>();
    // The remote folder of that listing.
    std::string current_dir = "/";

    OrderedJson to_json() const {
        OrderedJson j = OrderedJson::object();
        j["currentServerReturnInfo"] = currentServerReturnInfo ? currentServerReturnInfo->to_json() : OrderedJson();
        j["current_dir"] = current_dir;
        return j;
    }
    // Throws DecodingError for a value that is not such an object.
    static current_file_explorer_settings from_json(const OrderedJson& j) {
        jsonable::require_object(j, "current_file_explorer_settings");
        current_file_explorer_settings s;
        s.currentServerReturnInfo = VornServerFilesDataModel::from_json(jsonable::require(j, "currentServerReturnInfo"));
        s.current_dir = jsonable::require_string(j, "current_dir");
        return s;
    }
};
