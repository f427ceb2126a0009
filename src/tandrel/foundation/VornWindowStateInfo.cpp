#include "tandrel/foundation/VornCurrentEditorStateInfo.h"
#include "tandrel/foundation/VornCurrentServiceStateInfo.h"

VornCurrentServiceStateInfo::VornCurrentServiceStateInfo() : static_window_file_id(new_uuid_string()) {}

OrderedJson VornCurrentServiceStateInfo::to_json() const {
    OrderedJson j = OrderedJson::object();
    j["static_window_file_id"] = static_window_file_id;
    if (file_path) j["file_path"] = *file_path;
    if (current_dir) j["current_dir"] = *current_dir;
    j["connected"] = connected;
    if (server_url) j["server_url"] = *server_url;
    if (service_id) j["service_id"] = *service_id;
    return j;
}

std::shared_ptr<VornCurrentServiceStateInfo> VornCurrentServiceStateInfo::from_json(const OrderedJson& j) {
    jsonable::require_object(j, "VornCurrentServiceStateInfo");
    auto s = std::make_shared<VornCurrentServiceStateInfo>();
    s->static_window_file_id = jsonable::require_string(j, "static_window_file_id");
    s->file_path = jsonable::optional_string(j, "file_path");
    s->current_dir = jsonable::optional_string(j, "current_dir");
    s->connected = jsonable::require_bool(j, "connected");
    s->server_url = jsonable::optional_string(j, "server_url");
    s->service_id = jsonable::optional_string(j, "service_id");
    return s;
}

OrderedJson VornCurrentEditorStateInfo::to_json() const {
    OrderedJson j = OrderedJson::object();
    if (file_path) j["file_path"] = *file_path;
    if (file_bucket_id) j["file_bucket_id"] = *file_bucket_id;
    if (service_session_id) j["service_session_id"] = *service_session_id;
    j["has_changes"] = has_changes;
    j["preview_supported"] = preview_supported;
    return j;
}

std::shared_ptr<VornCurrentEditorStateInfo> VornCurrentEditorStateInfo::from_json(const OrderedJson& j) {
    jsonable::require_object(j, "VornCurrentEditorStateInfo");
    auto s = std::make_shared<VornCurrentEditorStateInfo>();
    s->file_path = jsonable::optional_string(j, "file_path");
    s->file_bucket_id = jsonable::optional_string(j, "file_bucket_id");
    s->service_session_id = jsonable::optional_string(j, "service_session_id");
    s->has_changes = jsonable::require_bool(j, "has_changes");
    s->preview_supported = jsonable::require_bool(j, "preview_supported");
    return s;
}
