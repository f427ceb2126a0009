#include "tandrel/foundation/VornKeyChainUtilityClass.h"

#include <memory>
#include <utility>

#include <QByteArray>

#include "platform/keychain/Keychain.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/AppGlobals.h"

namespace {

// Backend trouble is worth a line in the log; "not found" and "duplicate" are ordinary answers.
void log_unexpected(const char* what, const keychain::Failure& failure) {
    if (failure.kind != keychain::Failure::Kind::backend) return;
    AMZLogger::shared().log_error(std::string("keychain ") + what + " " + failure.text());
}

using StoreCall = void (*)(const std::string& service, const std::string& account, const std::string& secret,
                           keychain::Completion completion);

// Stores the password with `call` (an add or a write); then, on success, the form's end of
// waiting, the continuation and the list's change notice; on failure only `failure`.
void store_then_steps(StoreCall call, const std::string& password, const std::string& service,
                      const std::string& account, VornKeyChainFormSteps form,
                      VornKeyChainUtilityClass::AddContinuation continuation,
                      VornKeyChainUtilityClass::FailureHandler failure) {
    // The keyring keeps no comment of ours (the backend has no such attribute); the text is made
    // for callers that show it.
    call(service, account, password,
         [form = std::move(form), continuation = std::move(continuation),
          failure = std::move(failure)](std::optional<keychain::Failure> error) {
             if (error) {
                 log_unexpected("store", *error);
                 if (failure) failure(VornError(VornKeyChainUtilityClass::keychain_error(*error)));
                 return;
             }
             if (form.end_authenticating_on_main) form.end_authenticating_on_main();
             if (continuation) continuation(form);
             if (form.service_list_changed) form.service_list_changed();
         });
}

}  // namespace

std::string VornKeyChainUtilityClass::keychain_account(const std::string& url, const std::string& username) {
    const std::string account = url + "-" + username;
    return QByteArray(account.data(), static_cast<qsizetype>(account.size())).toBase64().toStdString();
}

std::string VornKeyChainUtilityClass::keychain_comment() {
    return "Added to KeyChain by " + app_display_name() + ". This helps to connect to your service quickly and safely.";
}

EnumManager::KeychainError VornKeyChainUtilityClass::keychain_error(const keychain::Failure& failure) {
    switch (failure.kind) {
        case keychain::Failure::Kind::itemNotFound: return {EnumManager::KeychainError::itemNotFound};
        case keychain::Failure::Kind::duplicateItem: return {EnumManager::KeychainError::duplicateItem};
        case keychain::Failure::Kind::backend: break;
    }
    return {EnumManager::KeychainError::unexpectedStatus, failure.code};
}

void VornKeyChainUtilityClass::keychain_read_password(const std::string& service, const std::string& account,
                                                      ReadCompletion completion) {
    keychain::readPassword(service, account,
                           [completion = std::move(completion)](std::optional<std::string> secret,
                                                                std::optional<keychain::Failure> failure) {
                               if (!completion) return;
                               if (failure) {
                                   log_unexpected("read", *failure);
                                   completion(VornError(keychain_error(*failure)));
                               } else if (!secret) {
                                   completion(VornError(EnumManager::KeychainError(EnumManager::KeychainError::invalidItemFormat)));
                               } else {
                                   completion(std::move(*secret));
                               }
                           });
}

void VornKeyChainUtilityClass::keychain_add_password(const std::string& password, const std::string& service,
                                                     const std::string& account, VornKeyChainFormSteps form,
                                                     AddContinuation continuation, FailureHandler failure) {
    store_then_steps(keychain::addPassword, password, service, account, std::move(form), std::move(continuation),
                     std::move(failure));
}

void VornKeyChainUtilityClass::keychain_add_password_for_edit(const std::string& password, const std::string& service,
                                                              const std::string& account, VornKeyChainFormSteps form,
                                                              FailureHandler failure) {
    store_then_steps(keychain::writePassword, password, service, account, std::move(form),
                     [](const VornKeyChainFormSteps& f) {
                         if (f.update_editing_service) f.update_editing_service();
                     },
                     std::move(failure));
}

void VornKeyChainUtilityClass::keychain_add_password_for_new(const std::string& password, const std::string& service,
                                                             const std::string& account, VornKeyChainFormSteps form,
                                                             FailureHandler failure) {
    keychain_add_password(password, service, account, std::move(form),
                          [](const VornKeyChainFormSteps& f) {
                              if (f.add_new_service) f.add_new_service();
                          },
                          std::move(failure));
}

void VornKeyChainUtilityClass::keychain_update_password(const std::string& password, const std::string& service,
                                                        const std::string& account, VornKeyChainFormSteps form,
                                                        std::function<void()> completion) {
    keychain::updatePassword(
        service, account, password,
        [form = std::move(form), completion = std::move(completion)](std::optional<keychain::Failure> error) {
            if (error) {
                log_unexpected("update", *error);
                if (form.present_error) form.present_error(VornError(keychain_error(*error)));
            }
            // The record is saved either way; only the password may have stayed as it was.
            if (form.save_updated_service) form.save_updated_service(completion);
        });
}

void VornKeyChainUtilityClass::keychain_delete_password(const std::string& service, const std::string& account,
                                                        DeleteCompletion completion) {
    keychain::deletePassword(service, account,
                             [completion = std::move(completion)](std::optional<keychain::Failure> error) {
                                 if (error) log_unexpected("delete", *error);
                                 if (!completion) return;
                                 if (error) completion(VornError(keychain_error(*error)));
                                 else completion(std::nullopt);
                             });
}
