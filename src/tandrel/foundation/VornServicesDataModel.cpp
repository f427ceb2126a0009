#include "tandrel/foundation/VornServicesDataModel.h"

#include "tandrel/foundation/VornServicesManager.h"

VornSingleServiceDataModel::VornSingleServiceDataModel()
    : id(new_uuid_string()), created_date(Date::now()), last_connected(created_date) {}

OrderedJson VornSingleServiceDataModel::to_json() const {
    OrderedJson j = OrderedJson::object();
    j["id"] = id;
    j["connection_type"] = EnumManager::connection_type_to_json(connection_type);
    j["url"] = url;
    j["username"] = username;
    if (port) j["port"] = *port;
    j["nickname"] = nickname;
    j["created_date"] = jsonable::date_json(created_date);
    j["last_connected"] = jsonable::date_json(last_connected);
    if (require_encryption) j["require_encryption"] = true;
    if (tls_seen) j["tls_seen"] = true;
    if (web_root) j["web_root"] = *web_root;
    if (site_url) j["site_url"] = *site_url;
    return j;
}

std::shared_ptr<VornSingleServiceDataModel> VornSingleServiceDataModel::from_json(const OrderedJson& j) {
    jsonable::require_object(j, "VornSingleServiceDataModel");
    auto s = std::make_shared<VornSingleServiceDataModel>();
    s->id = jsonable::require_string(j, "id");
    s->connection_type = EnumManager::connection_type_from_json(jsonable::require(j, "connection_type"));
    s->url = jsonable::require_string(j, "url");
    s->username = jsonable::require_string(j, "username");
    s->port = jsonable::optional_int(j, "port");
    s->nickname = jsonable::require_string(j, "nickname");
    s->created_date = jsonable::require_date(j, "created_date");
    s->last_connected = jsonable::require_date(j, "last_connected");
    if (auto it = j.find("require_encryption"); it != j.end() && !it->is_null()) {
        if (!it->is_boolean()) throw DecodingError("typeMismatch: expected a boolean for key \"require_encryption\"");
        s->require_encryption = it->get<bool>();
    }
    if (auto it = j.find("tls_seen"); it != j.end() && !it->is_null()) {
        if (!it->is_boolean()) throw DecodingError("typeMismatch: expected a boolean for key \"tls_seen\"");
        s->tls_seen = it->get<bool>();
    }
    s->web_root = jsonable::optional_string(j, "web_root");
    s->site_url = jsonable::optional_string(j, "site_url");
    return s;
}

std::shared_ptr<VornSingleServiceDataModel> VornSingleServiceDataModel::clone() const {
    return std::make_shared<VornSingleServiceDataModel>(*this);
}

OrderedJson VornServicesDataModel::to_json() const {
    OrderedJson list = OrderedJson::array();
    for (const auto& s : saved_services) list.push_back(s->to_json());
    OrderedJson j = OrderedJson::object();
    j["saved_services"] = std::move(list);
    return j;
}

std::shared_ptr<VornServicesDataModel> VornServicesDataModel::from_json(const OrderedJson& j) {
    jsonable::require_object(j, "VornServicesDataModel");
    const auto& list = jsonable::require(j, "saved_services");
    if (!list.is_array()) throw DecodingError("typeMismatch: expected an array for key \"saved_services\"");
    auto model = std::make_shared<VornServicesDataModel>();
    for (const auto& e : list) model->saved_services.push_back(VornSingleServiceDataModel::from_json(e));
    return model;
}

std::shared_ptr<VornServicesDataModel> VornServicesDataModel::clone() const {
    auto copy = std::make_shared<VornServicesDataModel>();
    for (const auto& s : saved_services) copy->saved_services.push_back(s->clone());
    return copy;
}

void VornServicesDataModel::add_service(std::shared_ptr<VornSingleServiceDataModel> service,
                                        std::function<void(std::optional<std::string>)> completion) {
    std::string id = service->id;
    saved_services.push_back(std::move(service));
    app_services_manager().request_save_services([id, completion](bool saved) {
        if (!completion) return;
        if (saved) completion(id);
        else completion(std::nullopt);
    });
}

void VornServicesDataModel::update_service(const std::string& id, std::shared_ptr<VornSingleServiceDataModel> service,
                                           std::function<void(bool)> completion) {
    std::vector<std::shared_ptr<VornSingleServiceDataModel>> list;
    for (auto& s : saved_services)
        if (s->id != id) list.push_back(s);
    list.push_back(std::move(service));
    saved_services = std::move(list);
    app_services_manager().request_save_services([completion](bool saved) {
        if (completion) completion(saved);
    });
}
