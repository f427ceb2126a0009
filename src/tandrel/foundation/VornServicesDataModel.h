#pragma once
// The saved servers: one record per server and the file's model.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/Jsonable.h"

// One saved server. The password is not part of it: it lives in the keychain.
class VornSingleServiceDataModel : public Jsonable {
public:
    VornSingleServiceDataModel();  // a new UUID id, unKnown type, created now

    std::string id;
    EnumManager::VornConnectionType connection_type = EnumManager::VornConnectionType::unKnown;
    std::string url;
    std::string username;
    std::optional<int64_t> port;
    std::string nickname;
    Date created_date;
    Date last_connected;
    // FTP: never log in without TLS. Stored as "require_encryption" only when set, so a file
    // without it reads as before (TLS whenever the server offers it).
    bool require_encryption = false;
    // FTP: the server has spoken TLS (or offered it) to the app once. Its first TLS connection
    // ticks `require_encryption`, once: a user who unticks it later is not overruled. Stored as
    // "tls_seen" only when set.
    bool tls_seen = false;

    // The folder of the server (a path of its connection, from the login folder) that the site's
    // root ("/") maps to: the live preview resolves a page's root-relative links ("/css/a.css")
    // against it. Unset: the login folder. Stored as "web_root" only when set.
    std::optional<std::string> web_root;
    // The address at which the web server serves the web root ("https://example.com/"): the
    // preview's "Site" mode shows a page from there. Stored as "site_url" only when set.
    std::optional<std::string> site_url;

    OrderedJson to_json() const override;
    // Strict: every key but "port", "require_encryption", "tls_seen", "web_root" and "site_url"
    // must be there with its type. Throws DecodingError.
    static std::shared_ptr<VornSingleServiceDataModel> from_json(const OrderedJson& j);
    std::shared_ptr<VornSingleServiceDataModel> clone() const;
};

// The saved-servers file.
class VornServicesDataModel : public Jsonable {
public:
    std::vector<std::shared_ptr<VornSingleServiceDataModel>> saved_services;

    OrderedJson to_json() const override;
    static std::shared_ptr<VornServicesDataModel> from_json(const OrderedJson& j);
    // A copy whose records are copies too (what a save writes).
    std::shared_ptr<VornServicesDataModel> clone() const;

    // Appends the record and saves; the completion gets the record's id, or nothing when the
    // save failed. The completion runs on the save queue.
    void add_service(std::shared_ptr<VornSingleServiceDataModel> service,
                     std::function<void(std::optional<std::string>)> completion = nullptr);
    // Replaces the record with that id by `service` (which moves to the end) and saves.
    void update_service(const std::string& id, std::shared_ptr<VornSingleServiceDataModel> service,
                        std::function<void(bool)> completion = nullptr);
};

class VornServicesDataModelUtility {};
