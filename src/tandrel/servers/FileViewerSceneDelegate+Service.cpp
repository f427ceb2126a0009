// A file-viewer window's connection to one saved server: connecting with the password from the
// keychain (or to a link's server the user did not save, with the window's own password for it),
// dropping the connection, and the server's editing-sessions record.
#include <utility>

#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/ExitDrain.h"
#include "platform/files/FileProvider.h"
#include "platform/files/RemotePath.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/VORNPresenterUtility.h"
#include "tandrel/foundation/VornKeyChainUtilityClass.h"
#include "tandrel/foundation/VornLeftoverCopies.h"
#include "tandrel/foundation/VornServicesManager.h"
#include "tandrel/foundation/VornSessionsManager.h"
#include "tandrel/foundation/VornSceneLinksProtocol.h"
#include "tandrel/foundation/VornServerAddress.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/VornFileViewController.h"
#include "tandrel/servers/VornTrust.h"
#include "tandrel/foundation/VornProviderErrors.h"

namespace {

using Err = EnumManager::vorn_error_throws;

VornError app_error(Err::Case c) { return Err(c); }

// A connect that a later reset (or connect) overtook; its caller may ignore it.
VornError superseded_error() {
    return VornError{"FileViewerSceneDelegate", 1, "The connection was replaced by a newer one.", "connection_superseded"};
}

std::shared_ptr<VornSingleServiceDataModel> saved_service(const std::string& id) {
    for (const auto& s : app_services_manager().appServicesModel->saved_services) {
        if (s && s->id == id) return s;
    }
    return nullptr;
}

std::shared_ptr<VornAppMultipleSessionsDataModel> sessions_record(const std::shared_ptr<VornSingleServiceDataModel>& service) {
    if (!service) return nullptr;
    auto& all = app_sessions_manager().service_sessions;
    auto it = all.find(service->id);
    return it == all.end() ? nullptr : it->second;
}

// An FTP server that has spoken TLS to the app (its connection began a TLS handshake, the
// user's trust in its certificate included) is from then on only logged in to over TLS: a
// machine in the middle that strips "AUTH TLS" later gets no login in plain text. Its record's
// "Require encryption" is ticked, once; a user who unticks it is not overruled.
void remember_tls(const std::string& service_id, EnumManager::VornConnectionType type,
                  const std::shared_ptr<files::FileProvider>& provider) {
    if (type != EnumManager::VornConnectionType::ftp || !provider || provider->connectionEncrypted() != true) return;
    auto record = saved_service(service_id);
    if (!record || record->tls_seen) return;
    record->tls_seen = true;
    record->require_encryption = true;
    app_services_manager().request_save_services(nullptr);
}

// Runs the completion (when there is one) on the main queue.
void deliver(const FileViewerSceneDelegate::ErrorCompletion& completion, std::optional<VornError> error) {
    if (!completion) return;
    dispatch::mainQueue().async([completion, error] { completion(error); });
}

}  // namespace

// ---- reset ---------------------------------------------------------------------------------

void FileViewerSceneDelegate::reset_service_connection(ErrorCompletion completion) {
    ++connection_generation_;
    // Dropping the last reference stops the provider and joins its workers: never on the GUI thread.
    release_in_background(std::move(provider_bucket));
    provider_bucket.reset();
    my_session_info->server_url.reset();
    my_session_info->current_dir = std::string();
    my_session_info->file_path = std::string();
    my_session_info->connected = false;

    QPointer<FileViewerSceneDelegate> self(this);
    save_session_if_present([self, completion](std::optional<VornError> error) {
        if (error) {
            AMZLogger::shared().log_error("reset_service_connection " + error->text());
            if (completion) completion(error);
            return;
        }
        if (self) self->show_disconnected_window();
        if (completion) completion(std::nullopt);
    });
}

void FileViewerSceneDelegate::save_session_if_present(ErrorCompletion completion) {
    if (sessions_record(service)) {
        save_service_session(std::move(completion));
    } else {
        deliver(completion, std::nullopt);
    }
}

// ---- letting go of a server ------------------------------------------------------------------

void FileViewerSceneDelegate::close_document_windows(std::function<void(bool closed)> then) {
    if (closing_documents_) {
        // The windows are being asked already; that run decides.
        if (then) then(false);
        return;
    }
    closing_documents_ = true;
    QPointer<FileViewerSceneDelegate> self(this);
    scene_links().close_document_scenes_of(this, my_session_info->service_id, [self, then](bool closed) {
        if (self) self->closing_documents_ = false;
        if (then) then(closed);
    });
}

void FileViewerSceneDelegate::disconnect_service(ErrorCompletion completion) {
    QPointer<FileViewerSceneDelegate> self(this);
    close_document_windows([self, completion](bool closed) {
        if (closed && self) self->reset_service_connection(completion);
    });
}

void FileViewerSceneDelegate::switch_to_service(const std::string& service_id, ConnectCompletion completion) {
    QPointer<FileViewerSceneDelegate> self(this);
    auto reconnect = [self, service_id, completion] {
        if (!self) return;
        self->reset_service_connection([self, service_id, completion](std::optional<VornError> error) {
            if (!self) {
                if (completion) completion(nullptr, app_error(Err::no_file_window));
                return;
            }
            self->connect_after_reset(error, completion, service_id);
        });
    };
    // The same server again keeps its document windows: their records stay with it.
    const auto& current = my_session_info->service_id;
    if (current && *current == service_id) return reconnect();
    close_document_windows([reconnect, completion](bool closed) {
        if (closed) return reconnect();
        // A document window kept (the user's Cancel, or a save that failed and was told): the
        // connection stays as it is, and the caller hears so, to go on with what it does next.
        if (completion)
            completion(nullptr, VornError{"FileViewerSceneDelegate", 3, "The server's document windows stay open.",
                                          "cancelled"});
    });
}

// ---- connect -------------------------------------------------------------------------------

void FileViewerSceneDelegate::connect_after_reset(std::optional<VornError> error, ConnectCompletion completion,
                                                  const std::string& service_id) {
    if (error) {
        if (completion) completion(nullptr, error);
        return;
    }
    connect_with_keychain_credentials(service_id, std::move(completion));
}

void FileViewerSceneDelegate::connect_with_keychain_credentials(const std::string& service_id,
                                                                ConnectCompletion completion) {
    // Every outcome reaches the caller once, on the main queue.
    auto done = [completion](std::shared_ptr<VornProviderBucket> bucket, std::optional<VornError> error) {
        if (error) AMZLogger::shared().log_error("connect " + error->text());
        if (completion) completion(std::move(bucket), std::move(error));
    };

    auto found = saved_service(service_id);
    // A server this window connects to without its being saved (a saved one of the same id wins).
    const bool window_only = !found && unsaved_service_ && unsaved_service_->id == service_id;
    if (window_only) {
        found = unsaved_service_;
    } else {
        unsaved_service_.reset();
        unsaved_password_.reset();
    }
    if (!found) {
        dispatch::mainQueue().async([done] { done(nullptr, app_error(Err::no_saved_service)); });
        return;
    }
    auto server = found->clone();
    clear_header_on_main();
    // What can be told without the keychain is told first.
    const auto type = server->connection_type;
    if (auto address = server_address::from_typed(server->url, type); !address) {
        dispatch::mainQueue().async([done, error = address.error()] { done(nullptr, error); });
        return;
    }
    if (type != EnumManager::VornConnectionType::ftp && type != EnumManager::VornConnectionType::webDav &&
        type != EnumManager::VornConnectionType::sftp) {
        dispatch::mainQueue().async([done] { done(nullptr, app_error(Err::unsupported_connection_type)); });
        return;
    }

    // A newer connect overtakes this one, as a reset does: of two picks in a row the later wins.
    const uint64_t generation = ++connection_generation_;
    const std::string account = VornKeyChainUtilityClass::keychain_account(server->url, server->username);
    // Temporary copies that broken saves left on this server, as its editing sessions keep them.
    auto leftovers = std::make_shared<VornLeftoverCopies>(server->id, app_sessions_manager());
    QPointer<FileViewerSceneDelegate> self(this);
    // Connects with the password found (or typed); empty for an SFTP login by keys.
    auto connect_with = [self, server, type, generation, done, leftovers](const std::string& secret) {
        if (!self) return done(nullptr, app_error(Err::no_file_window));
        if (self->connection_generation_ != generation) return done(nullptr, superseded_error());
        build_service_bucket(
            server->url, server->username, secret, type,
            [self, server, generation, done](std::shared_ptr<VornProviderBucket> bucket, std::optional<VornError> error) {
                auto provider = provider_of(bucket);
                if (error || !provider) {
                    release_in_background(std::move(bucket));
                    auto failure = error ? *error : app_error(Err::guardReturnNoFileProvider);
                    dispatch::mainQueue().async([done, failure] { done(nullptr, failure); });
                    return;
                }
                // A wrong password or a server that does not answer is told now, not as an
                // empty listing later.
                provider->checkLogin([self, server, generation, done, bucket](std::optional<files::FileError> login) {
                    dispatch::mainQueue().async([self, server, generation, done, bucket, login]() mutable {
                        remember_tls(server->id, server->connection_type, provider_of(bucket));
                        std::optional<VornError> failure;
                        if (!self) failure = app_error(Err::no_file_window);
                        else if (self->connection_generation_ != generation) failure = superseded_error();
                        else if (login) failure = vorn_error_from(*login);
                        if (failure) {
                            release_in_background(std::move(bucket));
                            return done(nullptr, failure);
                        }
                        self->store_connection(server, server->url, std::move(bucket), std::nullopt, done);
                    });
                });
            },
            // A user who unticked the box that the first TLS login ticked allows plain FTP.
            leftovers, server->require_encryption, server->tls_seen && !server->require_encryption);
    };
    // No password at hand (none saved, or an unsaved server's link had none): SFTP logs in with
    // keys (and asks what the server asks); the others ask for the password, for this connection.
    auto without_password = [server, type, done, connect_with] {
        if (type == EnumManager::VornConnectionType::sftp) return connect_with(std::string());
        files::LoginQuestion question;
        question.kind = files::LoginQuestion::Kind::prompts;
        question.user = server->username;
        question.title = "Password for " + (server->username.empty() ? std::string() : server->username + " at ") +
                         (server->nickname.empty() ? server->url : server->nickname);
        question.instruction = "No password is saved for this server.";
        question.prompts = {{"Password:", false}};
        VornTrustAsker().askLogin(std::move(question), [done, connect_with](std::optional<files::LoginAnswer> typed) {
            dispatch::mainQueue().async([done, connect_with, typed = std::move(typed)] {
                if (typed && !typed->answers.empty()) return connect_with(typed->answers.front());
                // The user's own Cancel: nothing to tell them.
                done(nullptr, VornError{"FileViewerSceneDelegate", 2, "No password was given.", "cancelled"});
            });
        });
    };
    // An unsaved server's password is the window's own: the keychain has none for it.
    if (window_only) {
        if (!unsaved_password_) return dispatch::mainQueue().async(without_password);
        return dispatch::mainQueue().async([connect_with, password = *unsaved_password_] { connect_with(password); });
    }
    VornKeyChainUtilityClass::keychain_read_password(
        server->url, account, [self, generation, done, connect_with, without_password](Expected<std::string> password) {
            if (!self) return done(nullptr, app_error(Err::no_file_window));
            if (self->connection_generation_ != generation) return done(nullptr, superseded_error());
            // Stored bytes that are not UTF-8 still give a password (with U+FFFD), as typed.
            if (password) return connect_with(files::path::decodeLenient(*password));
            if (!password.error().is("KeychainError", EnumManager::KeychainError::itemNotFound))
                return done(nullptr, password.error());
            // A server saved without a password has no keyring item.
            without_password();
        });
}

void FileViewerSceneDelegate::connect_unsaved_service(std::shared_ptr<VornSingleServiceDataModel> server,
                                                      std::optional<std::string> password, ConnectCompletion completion) {
    if (!server) {
        if (completion) dispatch::mainQueue().async([completion] { completion(nullptr, app_error(Err::no_saved_service)); });
        return;
    }
    // The window holds the record and the password (the keychain is never asked for it) until it
    // connects to another server or closes.
    unsaved_service_ = server;
    unsaved_password_ = std::move(password);
    app_services_manager().add_unsaved_service(server);
    QPointer<FileViewerSceneDelegate> self(this);
    const std::string id = server->id;
    switch_to_service(id, [self, id, completion](std::shared_ptr<VornProviderBucket> bucket, std::optional<VornError> error) {
        // Not connected after all (a Cancel, a refused login): the window lets go of the server.
        const bool connected = self && self->provider_bucket && self->my_session_info->service_id == id;
        if (!bucket && self && !connected && self->unsaved_service_ && self->unsaved_service_->id == id) {
            self->unsaved_service_.reset();
            self->unsaved_password_.reset();
        }
        if (completion) completion(std::move(bucket), std::move(error));
    });
}

void FileViewerSceneDelegate::release_in_background(std::shared_ptr<VornProviderBucket> bucket) {
    if (!bucket) return;
    // The quit waits for it (within its bound): a connection closed after the process's exit
    // began would find its libraries cleaned up.
    dispatch::asyncAwaitedAtExit(dispatch::globalQueue(dispatch::QoS::background), "a closed window's connection",
                                 [bucket = std::move(bucket)]() mutable { bucket.reset(); });
}

void FileViewerSceneDelegate::store_connection(std::shared_ptr<VornSingleServiceDataModel> server, std::string url,
                                               std::shared_ptr<VornProviderBucket> bucket,
                                               std::optional<VornError> error, ConnectCompletion completion) {
    if (error || !bucket) {
        completion(nullptr, error ? *error : app_error(Err::guardReturnNoFileProvider));
        return;
    }
    service = server;
    release_in_background(std::exchange(provider_bucket, bucket));
    if (!sessions_record(server)) app_sessions_manager().new_service_session(server->id);
    my_session_info->connected = true;
    my_session_info->server_url = std::move(url);
    // The saved server's own id: document windows and a later disconnect find this server's
    // windows by it, so it stays after a reset.
    my_session_info->service_id = server->id;

    QPointer<FileViewerSceneDelegate> self(this);
    save_service_session([self, server, completion](std::optional<VornError> saved) {
        if (!self) return completion(nullptr, app_error(Err::no_file_window));
        self->finish_connection(server, saved, completion);
    });
}

void FileViewerSceneDelegate::finish_connection(std::shared_ptr<VornSingleServiceDataModel> server,
                                                std::optional<VornError> error, ConnectCompletion completion) {
    if (error) {
        completion(nullptr, error);
        return;
    }
    show_connected_window(server);
    completion(provider_bucket, std::nullopt);
}

void FileViewerSceneDelegate::show_error(const std::optional<VornError>& error) {
    if (!error) return;
    VORNPresenterUtility::present_error(fileView_controller.get(), error, "OK");
}

// ---- the server's editing sessions -----------------------------------------------------------

void FileViewerSceneDelegate::save_service_session(ErrorCompletion completion) {
    auto record = sessions_record(service);
    if (!record) {
        deliver(completion, app_error(Err::no_multiple_session));
        return;
    }
    app_sessions_manager().request_save_sessions(record, [completion](std::optional<VornError> error) {
        deliver(completion, error);
    });
}

void FileViewerSceneDelegate::save_session_state(const std::shared_ptr<VornACEFileSessionsDataModel>& session,
                                                 std::string state, ErrorCompletion completion) {
    auto record = sessions_record(service);
    if (!record) {
        if (session) session->json = std::move(state);
        deliver(completion, app_error(Err::no_multiple_session));
        return;
    }
    app_sessions_manager().request_save_sessions(record, session, std::move(state),
                                                 [completion](std::optional<VornError> error) { deliver(completion, error); });
}

void FileViewerSceneDelegate::add_file_session(std::shared_ptr<VornACEFileSessionsDataModel> session,
                                               ErrorCompletion completion) {
    auto record = sessions_record(service);
    if (!record || !session) {
        deliver(completion, app_error(Err::no_multiple_session));
        return;
    }
    record->ace_file_sessions.push_back(std::move(session));
    app_sessions_manager().request_save_sessions(record, [completion](std::optional<VornError> error) {
        deliver(completion, error);
    });
}

void FileViewerSceneDelegate::remove_file_session(const std::string& session_id, ErrorCompletion completion) {
    auto record = sessions_record(service);
    if (!record) {
        deliver(completion, app_error(Err::no_multiple_session));
        return;
    }
    auto& list = record->ace_file_sessions;
    std::erase_if(list, [&](const auto& s) { return !s || s->session_id == session_id; });
    app_sessions_manager().request_save_sessions(record, [completion](std::optional<VornError> error) {
        deliver(completion, error);
    });
}
