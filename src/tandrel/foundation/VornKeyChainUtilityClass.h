#pragma once
// Server passwords in the desktop keyring: one generic password per saved server, filed under the
// server's URL text (the service) and the Base64 text of URL + "-" + user name (the account).
//
// Every operation returns at once; the keyring answers on its own thread and everything below
// (completions, failures and the form's steps) runs on the main queue, once. Passwords are bytes
// as the caller gives them and never reach a log.
#include <functional>
#include <optional>
#include <string>

#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/VornError.h"

namespace keychain { struct Failure; }

// The server form's side of an add or an update: the steps the keychain store runs once the
// keyring has answered. The form fills them with calls on itself (through a weak link); an empty
// step is skipped.
struct VornKeyChainFormSteps {
    // Ends the form's waiting state.
    std::function<void()> end_authenticating_on_main;
    // The after-save steps: store the edited record, or the new one.
    std::function<void()> update_editing_service;
    std::function<void()> add_new_service;
    // The step after an update; receives the completion given to the update.
    std::function<void(std::function<void()> completion)> save_updated_service;
    // Shows an error on the form with the single button "OK".
    std::function<void(const VornError& error)> present_error;
    // The saved-servers list linked to the form, told that the list changed; empty when the
    // form has no list screen (or it has gone).
    std::function<void()> service_list_changed;
};

class VornKeyChainUtilityClass {
public:
    using ReadCompletion = std::function<void(Expected<std::string> password)>;
    using AddContinuation = std::function<void(const VornKeyChainFormSteps& form)>;
    using FailureHandler = std::function<void(const VornError& error)>;
    using DeleteCompletion = std::function<void(std::optional<VornError> error)>;

    // The keyring account of a server: Base64 (standard, padded, no line breaks) of the UTF-8
    // bytes of url + "-" + username.
    static std::string keychain_account(const std::string& url, const std::string& username);
    // The comment of a new item: "Added to KeyChain by <display name>. This helps ...".
    static std::string keychain_comment();

    // The stored password, or a KeychainError (itemNotFound when none is stored).
    static void keychain_read_password(const std::string& service, const std::string& account,
                                       ReadCompletion completion);

    // Stores a new password. On success, in this order: the form's end of waiting, the
    // continuation with the form, and the list's change notice when the form has a list. On
    // failure (duplicateItem when the server already has a password, nothing written) only
    // `failure` runs; nothing is called on the form.
    static void keychain_add_password(const std::string& password, const std::string& service,
                                      const std::string& account, VornKeyChainFormSteps form,
                                      AddContinuation continuation, FailureHandler failure);
    // For an edited server: the same steps with the continuation fixed to the form's
    // update_editing_service, the password stored replacing the one the keyring keeps for the
    // account (the server's own, or one an earlier server of the same login left), so an edit
    // never meets duplicateItem.
    static void keychain_add_password_for_edit(const std::string& password, const std::string& service,
                                               const std::string& account, VornKeyChainFormSteps form,
                                               FailureHandler failure);
    // For a new server: keychain_add_password with the continuation fixed to add_new_service.
    static void keychain_add_password_for_new(const std::string& password, const std::string& service,
                                              const std::string& account, VornKeyChainFormSteps form,
                                              FailureHandler failure);

    // Replaces the stored password, then runs the form's save_updated_service with `completion`.
    // A failure (itemNotFound when nothing is stored; nothing is written then) is first shown on
    // the form with present_error; the record save still follows. Never fails to its caller.
    static void keychain_update_password(const std::string& password, const std::string& service,
                                         const std::string& account, VornKeyChainFormSteps form,
                                         std::function<void()> completion);

    // Removes a server's password (for the server form's delete). itemNotFound when there was
    // none; callers deleting a server may ignore that.
    static void keychain_delete_password(const std::string& service, const std::string& account,
                                         DeleteCompletion completion);

    // How a keyring failure becomes the app's error value: "not found" is itemNotFound, a
    // duplicate is duplicateItem, anything else unexpectedStatus carrying the keyring's code.
    static EnumManager::KeychainError keychain_error(const keychain::Failure& failure);
};
