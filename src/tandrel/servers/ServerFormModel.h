#pragma once
// The server form's work that needs no window: reading and checking what was typed (the port
// check, the required fields, the port written into the URL), building the saved-server record
// and its id, the password in the keychain (through VornKeyChainUtilityClass) and the writes to
// the saved-servers store. SingleServiceViewController keeps the layout and wires its fields and
// buttons to these; tests drive them without a window.
//
// The store writes' completions run on the main queue, once (the password that a write leaves
// unused is removed there, where the saved-servers list is read). Keychain completions run as
// VornKeyChainUtilityClass says.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/VornKeyChainUtilityClass.h"
#include "tandrel/foundation/VornServicesDataModel.h"

class ServerFormModel {
public:
    using ConnectionType = EnumManager::VornConnectionType;

    // The form's fields as typed, and the selected connection-type segment (0 FTP, 1 WebDAV, 2 SFTP).
    struct Fields {
        std::string nickname;
        std::string server_url;
        std::string username;
        std::string password;
        std::string port;
        int type_segment = 0;
        bool require_encryption = false;  // the "Require encryption" box (FTP)
        std::string web_root;  // "Web root": the folder the site's "/" is (blank: the login folder)
        std::string site_url;  // "Site URL": where the web server serves the web root (blank: none)
    };

    // The values of an accepted form (the form's `newServiceInfo`).
    struct ServiceInfo {
        std::string nickname;
        std::string server_url;  // with the port written in when the URL names none
        std::string username;
        std::string password;  // the password's UTF-8 bytes
        // The password is the one the keyring holds for this server's login already (the edit
        // form's field was left blank and the address and user name stayed): nothing to write.
        bool password_kept = false;
        int64_t port = 0;
        bool require_encryption = false;  // FTP only: never log in without TLS
        // The preview's site: the record's optional fields, unset when the field was left blank.
        std::optional<std::string> web_root;
        std::optional<std::string> site_url;
    };

    // Why a form was refused before any server was asked.
    enum class Problem { invalid_port, missing_information, invalid_address };
    struct Checked {
        std::optional<ServiceInfo> info;  // set when the form is usable
        std::optional<Problem> problem;   // set otherwise
        std::optional<VornError> address_error;  // what is wrong with the typed address (invalid_address)
        // missing_information: which field, in a sentence ("The Password field is empty.").
        std::string missing_field;
    };

    // The alert for a required field left empty or unusable: its title, and its message, which
    // names the field first when one is known.
    static constexpr const char* kMissingInformationTitle = "Missing Information...";
    static constexpr const char* kMissingInformationMessage =
        "Please check you have supplied the required information, and try again";
    static std::string missing_information_message(const std::string& missing_field);
    // The password field of a server whose password the keyring keeps (edit form): left blank,
    // it keeps that password.
    static constexpr const char* kSavedPasswordHint = "Saved in the desktop keyring: leave blank to keep it";
    // The add form's question when the keyring has a password for the login already.
    static constexpr const char* kDuplicateTitle = "Duplicate Found...";
    static constexpr const char* kDuplicateMessage =
        "Duplicate found: Your desktop keyring already has that account saved. Would you like us to update it?";

    // ---- values ---------------------------------------------------------------------------------
    // A server's id as the form makes it (and its keychain account): Base64 of the UTF-8 bytes
    // of URL + "-" + user name.
    static std::string service_id_for(const std::string& url, const std::string& username);
    // The integer value of the port text: its leading digits (after blanks and a sign), 0 when
    // there are none.
    static int64_t port_value(const std::string& text);
    // Whether the port text names a port: blank (the URL's own or its scheme's port), or a text
    // whose value as port_value reads it is from 1 to 65535.
    static bool port_text_acceptable(const std::string& text);
    // The alert for a port text that names no port; its message names the field.
    static constexpr const char* kInvalidPortTitle = "Invalid Port";
    static constexpr const char* kInvalidPortMessage = "The Port field needs a whole number from 1 to 65535.";
    // The URL to store for a typed URL and port: with ":port" after the host when the URL names
    // no port and the port (1 to 65535) is neither the scheme's default nor the protocol's form
    // default (`form_default`, 21 or 80); the URL as typed otherwise.
    static std::string url_with_port(const std::string& url, int64_t port, int64_t form_default);
    // The form's default port of a connection-type segment: 80 for WebDAV (1), 22 for SFTP (2),
    // 21 otherwise.
    static int64_t form_default_port(int type_segment);
    // The connection type of a segment: 0 FTP, 1 WebDAV, 2 SFTP, anything else unknown.
    static ConnectionType connection_type_for_segment(int type_segment);
    // The "Require encryption" box: its text, and whether it applies to a segment (FTP only;
    // WebDAV's encryption is its URL's scheme).
    static constexpr const char* kRequireEncryptionTitle = "Require encryption";
    static bool require_encryption_applies(int type_segment) { return type_segment == 0; }
    // Whether the password may be left empty: for SFTP (2), whose login then uses the user's SSH
    // keys (the agent's, the configuration's, ~/.ssh's). What the password field says then.
    static bool password_optional(int type_segment) { return type_segment == 2; }
    static constexpr const char* kOptionalPasswordHint = "Optional: without one, your SSH keys are used";

    // The "Site URL" must be an http:// or https:// address with a host; what the alert says
    // otherwise.
    static constexpr const char* kInvalidSiteUrlMessage =
        "The Site URL needs a web address starting with http:// or https://, such as https://example.com/.";
    // The "Web root" as stored: a folder path with one "/" in front and none behind ("" and "/"
    // alike mean the login folder: nothing is stored).
    static std::optional<std::string> web_root_value(const std::string& text);
    static std::optional<std::string> site_url_value(const std::string& text);
    static bool site_url_acceptable(const std::string& text);

    // ---- checking the form ----------------------------------------------------------------------
    // The port first (invalid_port), then the required fields: a URL and, but for SFTP, a
    // password (missing_information, naming the field), then the URL as server_address::from_typed reads it for the
    // selected type, then the Site URL (invalid_address, with the message that says what is wrong). An accepted
    // form's URL is that address, with the port when it named none.
    static Checked check(const Fields& fields);

    // ---- the record -----------------------------------------------------------------------------
    // Writes the accepted values and the connection type into a record (its id stays).
    static void copy_into(VornSingleServiceDataModel& record, const ServiceInfo& info, ConnectionType type);
    // A new record for the accepted values: its id is service_id_for(URL, user), with "-2",
    // "-3", ... when a saved server already has that id (adding never replaces a saved server).
    static std::shared_ptr<VornSingleServiceDataModel> make_new_record(const ServiceInfo& info, ConnectionType type);
    // The saved server with that id, if any.
    static std::shared_ptr<VornSingleServiceDataModel> saved_service_with_id(const std::string& id);
    // The saved server that logs in as this user at this address (the same keychain item), if any.
    static std::shared_ptr<VornSingleServiceDataModel> saved_service_with_login(const std::string& url,
                                                                                const std::string& username);
    // `wanted`, or it with "-N" appended (the first N from 2 on) when a saved server has it.
    static std::string unused_service_id(const std::string& wanted);

    // ---- the keychain ---------------------------------------------------------------------------
    // The password the keyring keeps for a login, nothing when it keeps none (itemNotFound), or
    // the keyring's error; on the main queue, once.
    static void saved_password(const std::string& url, const std::string& username,
                               std::function<void(Expected<std::optional<std::string>> password)> completion);
    // Stores the password of the accepted values under the server's URL and account; on success
    // the form's steps run, on failure only `failure`. A new server's password is added
    // (keychain_add_password_for_new: duplicateItem when the keyring has one for the login); an
    // edited server's replaces what the keyring holds for its login (keychain_add_password_for_edit).
    // Nothing is written (the steps run as after a write) for an empty password (an SFTP server
    // without one) or a kept one (`password_kept`).
    static void store_password(const ServiceInfo& info, bool edit_mode, VornKeyChainFormSteps steps,
                               VornKeyChainUtilityClass::FailureHandler failure);
    // Replaces the stored password, then the form's save_updated_service step.
    static void replace_password(const ServiceInfo& info, VornKeyChainFormSteps steps);
    // Removes a password no saved server uses any more; "not found" is fine, other failures are
    // logged.
    static void forget_password(const std::string& url, const std::string& username);

    // ---- the store ------------------------------------------------------------------------------
    // Appends a new record and saves; `saved` gets its id, or nothing when the save failed.
    static void add_service(std::shared_ptr<VornSingleServiceDataModel> record,
                            std::function<void(std::optional<std::string> saved_id)> saved);
    // Writes the accepted values into the edited record and saves; a server that moved to
    // another URL or user name leaves no password behind. Once saved, the windows connected to
    // the server take its new "Web root" and "Site URL" at once (apply_to_connected_windows).
    static void update_service(std::shared_ptr<VornSingleServiceDataModel> record, const ServiceInfo& info,
                               ConnectionType type, std::function<void(bool saved)> saved);
    // The saved server of the same login gets the typed user, nickname, port and type and the
    // store is saved (it is stored once, never added a second time); its connected windows
    // follow as for update_service.
    static void update_existing_login(const std::shared_ptr<VornSingleServiceDataModel>& found, const ServiceInfo& info,
                                      ConnectionType type, std::function<void(bool saved)> saved);
    // Removes the record from the store and saves; once saved its password goes too (unless
    // another saved server uses it).
    static void delete_service(const std::shared_ptr<VornSingleServiceDataModel>& record,
                               std::function<void(bool saved)> saved);
    // The file-viewer windows connected to the saved server take what of it applies without a
    // new connection (VornFileViewerSceneDelegateProtocol::apply_saved_settings); main thread.
    static void apply_to_connected_windows(const VornSingleServiceDataModel& saved);
};
