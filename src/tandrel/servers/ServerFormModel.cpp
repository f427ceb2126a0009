#include "tandrel/servers/ServerFormModel.h"

#include <QString>
#include <QUrl>
#include <algorithm>
#include <cctype>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/RemotePath.h"
#include "platform/ui/scenes/Application.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/VornFileViewerSceneDelegateProtocol.h"
#include "tandrel/foundation/VornServerAddress.h"
#include "tandrel/foundation/VornServicesManager.h"

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

// A typed URL as the app connects to it ("http://host/web files/" is a URL); an invalid URL
// when the address is refused.
QUrl typed_url(const std::string& url) {
    const auto address = server_address::from_typed(url, EnumManager::VornConnectionType::unKnown);
    return address ? QUrl(q(*address), QUrl::StrictMode) : QUrl();
}

// Runs `done` with the value on the main queue (the store answers on its save queue).
template <class T>
std::function<void(T)> on_main(std::function<void(T)> done) {
    return [done](T value) {
        dispatch::mainQueue().async([done, value] {
            if (done) done(value);
        });
    };
}

// Another saved server whose password sits under the same keychain service and account.
bool password_still_used(const std::string& url, const std::string& username) {
    for (const auto& s : app_services_manager().appServicesModel->saved_services)
        if (s && s->url == url && s->username == username) return true;
    return false;
}

}  // namespace

// ---- values --------------------------------------------------------------------------------

std::string ServerFormModel::service_id_for(const std::string& url, const std::string& username) {
    return VornKeyChainUtilityClass::keychain_account(url, username);
}

int64_t ServerFormModel::port_value(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        if (value > (INT64_MAX - 9) / 10) break;  // longer numbers keep their leading part
        value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

bool ServerFormModel::port_text_acceptable(const std::string& text) {
    if (q(text).trimmed().isEmpty()) return true;
    const int64_t port = port_value(text);
    return port >= 1 && port <= 65535;
}

std::string ServerFormModel::url_with_port(const std::string& url, int64_t port, int64_t form_default) {
    if (port <= 0 || port > 65535 || port == form_default) return url;
    const QUrl parsed = typed_url(url);
    if (!parsed.isValid() || parsed.host().isEmpty() || parsed.port() != -1) return url;
    const std::string scheme = parsed.scheme().toLower().toStdString();
    int64_t scheme_default = 0;
    if (scheme == "ftp" || scheme == "ftps") scheme_default = 21;
    else if (scheme == "http" || scheme == "webdav") scheme_default = 80;
    else if (scheme == "https" || scheme == "webdavs") scheme_default = 443;
    else if (scheme == "sftp") scheme_default = 22;
    if (scheme_default == 0 || port == scheme_default) return url;
    const size_t start = url.find("://");
    if (start == std::string::npos) return url;
    const size_t end = std::min(url.find_first_of("/?#", start + 3), url.size());
    const std::string authority = url.substr(start + 3, end - start - 3);
    // "host:" names an empty port: left as typed rather than guessed at.
    const size_t host_start = authority.rfind('@') == std::string::npos ? 0 : authority.rfind('@') + 1;
    const size_t bracket = authority.rfind(']');
    if (authority.find(':', bracket == std::string::npos ? host_start : bracket) != std::string::npos) return url;
    return url.substr(0, end) + ":" + std::to_string(port) + url.substr(end);
}

int64_t ServerFormModel::form_default_port(int type_segment) {
    return type_segment == 1 ? 80 : type_segment == 2 ? 22 : 21;
}

ServerFormModel::ConnectionType ServerFormModel::connection_type_for_segment(int type_segment) {
    switch (type_segment) {
        case 0: return ConnectionType::ftp;
        case 1: return ConnectionType::webDav;
        case 2: return ConnectionType::sftp;
        default: return ConnectionType::unKnown;
    }
}

// ---- the preview's site -------------------------------------------------------------------

namespace {

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

std::optional<std::string> ServerFormModel::web_root_value(const std::string& text) {
    const std::string typed = trimmed(text);
    if (typed.empty()) return std::nullopt;
    const std::string path = files::path::normalize(typed.front() == '/' ? typed : "/" + typed);
    if (path == "/") return std::nullopt;
    return path;
}

std::optional<std::string> ServerFormModel::site_url_value(const std::string& text) {
    const std::string typed = trimmed(text);
    if (typed.empty()) return std::nullopt;
    return typed;
}

bool ServerFormModel::site_url_acceptable(const std::string& text) {
    const auto value = site_url_value(text);
    if (!value) return true;
    const QUrl url(q(*value), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty() && url.userInfo().isEmpty();
}

// ---- checking the form ---------------------------------------------------------------------

std::string ServerFormModel::missing_information_message(const std::string& missing_field) {
    if (missing_field.empty()) return kMissingInformationMessage;
    return missing_field + " " + kMissingInformationMessage;
}

ServerFormModel::Checked ServerFormModel::check(const Fields& fields) {
    Checked out;
    if (!port_text_acceptable(fields.port)) {
        out.problem = Problem::invalid_port;
        return out;
    }
    ServiceInfo info;
    info.password = fields.password;
    info.username = fields.username;  // may be empty
    info.nickname = fields.nickname;
    info.port = port_value(fields.port);
    info.require_encryption = fields.require_encryption && require_encryption_applies(fields.type_segment);
    if (fields.server_url.empty() || (info.password.empty() && !password_optional(fields.type_segment))) {
        out.problem = Problem::missing_information;
        out.missing_field = fields.server_url.empty() ? "The Service URL field is empty." : "The Password field is empty.";
        return out;
    }
    // The address is stored, its password filed and the server connected as the app reads it:
    // what passes here connects later too.
    auto address = server_address::from_typed(fields.server_url, connection_type_for_segment(fields.type_segment));
    if (!address) {
        // Text that is no URL at all is missing information, as ever; an address that is only
        // wrong in one way says which.
        const auto problem = server_address::problem_of(address.error());
        out.problem = problem == server_address::Problem::empty || problem == server_address::Problem::not_a_url
                          ? Problem::missing_information
                          : Problem::invalid_address;
        if (out.problem == Problem::missing_information) out.missing_field = "The Service URL field holds no server address.";
        out.address_error = address.error();
        return out;
    }
    info.server_url = std::move(*address);
    // A port the URL does not name goes into the URL: the connection, the record and its id
    // all use it from here on.
    info.server_url = url_with_port(info.server_url, info.port, form_default_port(fields.type_segment));
    if (!site_url_acceptable(fields.site_url)) {
        out.problem = Problem::invalid_address;
        out.address_error = VornError{"ServerFormModel", 1, kInvalidSiteUrlMessage, "invalid_site_url"};
        return out;
    }
    info.web_root = web_root_value(fields.web_root);
    info.site_url = site_url_value(fields.site_url);
    out.info = std::move(info);
    return out;
}

// ---- the record ----------------------------------------------------------------------------

void ServerFormModel::copy_into(VornSingleServiceDataModel& record, const ServiceInfo& info, ConnectionType type) {
    record.connection_type = type;
    record.url = info.server_url;
    record.username = info.username;
    record.nickname = info.nickname;
    record.port = info.port;
    record.require_encryption = info.require_encryption;
    record.web_root = info.web_root;
    record.site_url = info.site_url;
}

std::shared_ptr<VornSingleServiceDataModel> ServerFormModel::make_new_record(const ServiceInfo& info,
                                                                             ConnectionType type) {
    auto record = std::make_shared<VornSingleServiceDataModel>();
    record->id = unused_service_id(service_id_for(info.server_url, info.username));
    copy_into(*record, info, type);
    return record;
}

std::shared_ptr<VornSingleServiceDataModel> ServerFormModel::saved_service_with_id(const std::string& id) {
    for (const auto& s : app_services_manager().appServicesModel->saved_services)
        if (s && s->id == id) return s;
    return nullptr;
}

std::shared_ptr<VornSingleServiceDataModel> ServerFormModel::saved_service_with_login(const std::string& url,
                                                                                      const std::string& username) {
    for (const auto& s : app_services_manager().appServicesModel->saved_services)
        if (s && s->url == url && s->username == username) return s;
    return nullptr;
}

std::string ServerFormModel::unused_service_id(const std::string& wanted) {
    // A server edited to another address keeps the id of its first address, so the form's id
    // for a new server may be taken by a server that is not this one.
    if (!saved_service_with_id(wanted)) return wanted;
    for (int n = 2;; ++n) {
        std::string candidate = wanted + "-" + std::to_string(n);
        if (!saved_service_with_id(candidate)) return candidate;
    }
}

// ---- the keychain --------------------------------------------------------------------------

void ServerFormModel::saved_password(const std::string& url, const std::string& username,
                                     std::function<void(Expected<std::optional<std::string>> password)> completion) {
    VornKeyChainUtilityClass::keychain_read_password(
        url, service_id_for(url, username), [completion = std::move(completion)](Expected<std::string> read) {
            if (!completion) return;
            if (read) return completion(std::optional<std::string>(std::move(*read)));
            if (read.error().is("KeychainError", EnumManager::KeychainError::itemNotFound))
                return completion(std::optional<std::string>());
            completion(read.error());
        });
}

void ServerFormModel::store_password(const ServiceInfo& info, bool edit_mode, VornKeyChainFormSteps steps,
                                     VornKeyChainUtilityClass::FailureHandler failure) {
    if (info.password.empty() || (edit_mode && info.password_kept)) {
        // An SFTP server saved without a password, or an edit that keeps the saved one: nothing
        // goes into the keyring (a password kept there for this login stays), and the form goes
        // on as after a stored password.
        dispatch::mainQueue().async([steps = std::move(steps), edit_mode] {
            if (steps.end_authenticating_on_main) steps.end_authenticating_on_main();
            if (edit_mode && steps.update_editing_service) steps.update_editing_service();
            if (!edit_mode && steps.add_new_service) steps.add_new_service();
            if (steps.service_list_changed) steps.service_list_changed();
        });
        return;
    }
    const std::string account = service_id_for(info.server_url, info.username);
    if (edit_mode) {
        VornKeyChainUtilityClass::keychain_add_password_for_edit(info.password, info.server_url, account,
                                                                 std::move(steps), std::move(failure));
    } else {
        VornKeyChainUtilityClass::keychain_add_password_for_new(info.password, info.server_url, account,
                                                                std::move(steps), std::move(failure));
    }
}

void ServerFormModel::replace_password(const ServiceInfo& info, VornKeyChainFormSteps steps) {
    VornKeyChainUtilityClass::keychain_update_password(info.password, info.server_url,
                                                       service_id_for(info.server_url, info.username),
                                                       std::move(steps), nullptr);
}

void ServerFormModel::forget_password(const std::string& url, const std::string& username) {
    if (password_still_used(url, username)) return;
    VornKeyChainUtilityClass::keychain_delete_password(
        url, VornKeyChainUtilityClass::keychain_account(url, username), [](std::optional<VornError> error) {
            if (error && !error->is("KeychainError", EnumManager::KeychainError::itemNotFound))
                AMZLogger::shared().log_error("keychain_delete_password " + error->text());
        });
}

// ---- the store -----------------------------------------------------------------------------

void ServerFormModel::add_service(std::shared_ptr<VornSingleServiceDataModel> record,
                                  std::function<void(std::optional<std::string> saved_id)> saved) {
    app_services_manager().appServicesModel->add_service(std::move(record),
                                                         on_main<std::optional<std::string>>(std::move(saved)));
}

void ServerFormModel::update_service(std::shared_ptr<VornSingleServiceDataModel> record, const ServiceInfo& info,
                                     ConnectionType type, std::function<void(bool saved)> saved) {
    if (!record) {
        on_main<bool>(std::move(saved))(false);
        return;
    }
    const std::string old_url = record->url;
    const std::string old_username = record->username;
    copy_into(*record, info, type);
    app_services_manager().appServicesModel->update_service(
        record->id, record, on_main<bool>([old_url, old_username, record, saved](bool ok) {
            // A server that moved to another URL or user name leaves no password behind.
            if (ok && (old_url != record->url || old_username != record->username)) forget_password(old_url, old_username);
            if (ok) apply_to_connected_windows(*record);
            if (saved) saved(ok);
        }));
}

void ServerFormModel::update_existing_login(const std::shared_ptr<VornSingleServiceDataModel>& found,
                                            const ServiceInfo& info, ConnectionType type,
                                            std::function<void(bool saved)> saved) {
    if (!found) {
        on_main<bool>(std::move(saved))(false);
        return;
    }
    found->username = info.username;
    found->nickname = info.nickname;
    found->port = info.port;
    found->connection_type = type;
    found->require_encryption = info.require_encryption;
    found->web_root = info.web_root;
    found->site_url = info.site_url;
    app_services_manager().request_save_services(on_main<bool>([found, saved](bool ok) {
        if (ok) apply_to_connected_windows(*found);
        if (saved) saved(ok);
    }));
}

void ServerFormModel::apply_to_connected_windows(const VornSingleServiceDataModel& saved) {
    for (ui::Scene* scene : ui::Application::shared().connectedScenes()) {
        if (auto* window = qobject_cast<VornFileViewerSceneDelegateProtocol*>(scene ? scene->delegate() : nullptr))
            window->apply_saved_settings(saved);
    }
}

void ServerFormModel::delete_service(const std::shared_ptr<VornSingleServiceDataModel>& record,
                                     std::function<void(bool saved)> saved) {
    if (!record) {
        on_main<bool>(std::move(saved))(false);
        return;
    }
    const std::string id = record->id;
    const std::string url = record->url;
    const std::string username = record->username;
    auto& list = app_services_manager().appServicesModel->saved_services;
    std::erase_if(list, [&](const auto& s) { return s && s->id == id; });
    app_services_manager().request_save_services(on_main<bool>([url, username, saved](bool ok) {
        // The server's password goes with it (unless another saved server uses it).
        if (ok) forget_password(url, username);
        if (saved) saved(ok);
    }));
}
