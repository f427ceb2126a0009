#include "tandrel/foundation/VornSessionsDataModel.h"

VornACEFileSessionsDataModel::VornACEFileSessionsDataModel() : opened(Date::now()) {}

OrderedJson VornACEFileSessionsDataModel::to_json() const {
    OrderedJson j = OrderedJson::object();
    j["session_id"] = session_id;
    j["file_path"] = file_path;
    j["mime_type"] = mime_type;
    j["json"] = json;
    j["ace_language"] = ace_language;
    j["undo_count"] = undo_count;
    j["opened"] = jsonable::date_json(opened);
    return j;
}

OrderedJson VornACEFileSessionsDataModel::take_json() {
    OrderedJson j = OrderedJson::object();
    j["session_id"] = std::move(session_id);
    j["file_path"] = std::move(file_path);
    j["mime_type"] = std::move(mime_type);
    j["json"] = std::move(json);
    j["ace_language"] = std::move(ace_language);
    j["undo_count"] = undo_count;
    j["opened"] = jsonable::date_json(opened);
    return j;
}

std::shared_ptr<VornACEFileSessionsDataModel> VornACEFileSessionsDataModel::from_json(const OrderedJson& j) {
    jsonable::require_object(j, "VornACEFileSessionsDataModel");
    auto s = std::make_shared<VornACEFileSessionsDataModel>();
    s->session_id = jsonable::require_string(j, "session_id");
    s->file_path = jsonable::require_string(j, "file_path");
    s->mime_type = jsonable::require_string(j, "mime_type");
    s->json = jsonable::require_string(j, "json");
    s->ace_language = jsonable::require_string(j, "ace_language");
    s->undo_count = jsonable::require_int(j, "undo_count");
    s->opened = jsonable::require_date(j, "opened");
    return s;
}

std::shared_ptr<VornACEFileSessionsDataModel> VornACEFileSessionsDataModel::clone() const {
    return std::make_shared<VornACEFileSessionsDataModel>(*this);
}

OrderedJson VornAppMultipleSessionsDataModel::to_json() const {
    OrderedJson list = OrderedJson::array();
    for (const auto& s : ace_file_sessions) list.push_back(s->to_json());
    OrderedJson j = OrderedJson::object();
    j["service_id"] = service_id;
    j["ace_file_sessions"] = std::move(list);
    return j;
}

OrderedJson VornAppMultipleSessionsDataModel::take_json() {
    OrderedJson list = OrderedJson::array();
    for (const auto& s : ace_file_sessions) list.push_back(s->take_json());
    OrderedJson j = OrderedJson::object();
    j["service_id"] = service_id;
    j["ace_file_sessions"] = std::move(list);
    return j;
}

std::shared_ptr<VornAppMultipleSessionsDataModel> VornAppMultipleSessionsDataModel::from_json(const OrderedJson& j) {
    jsonable::require_object(j, "VornAppMultipleSessionsDataModel");
    auto m = std::make_shared<VornAppMultipleSessionsDataModel>();
    m->service_id = jsonable::require_string(j, "service_id");
    const auto& list = jsonable::require(j, "ace_file_sessions");
    if (!list.is_array()) throw DecodingError("typeMismatch: expected an array for key \"ace_file_sessions\"");
    for (const auto& e : list) m->ace_file_sessions.push_back(VornACEFileSessionsDataModel::from_json(e));
    return m;
}

std::shared_ptr<VornAppMultipleSessionsDataModel> VornAppMultipleSessionsDataModel::clone() const {
    auto copy = std::make_shared<VornAppMultipleSessionsDataModel>();
    copy->service_id = service_id;
    for (const auto& s : ace_file_sessions) copy->ace_file_sessions.push_back(s->clone());
    return copy;
}
