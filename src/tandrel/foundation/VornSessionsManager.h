#pragma once
// The editing-sessions store: one "session.json" per server, in a folder named by the server's
// id under the sessions folder; loaded at launch, saved one at a time on its own queue.
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "tandrel/foundation/VornSessionsDataModel.h"

class VornSessionsManager {
public:
    VornSessionsManager();
    // The process-wide store (the same object as app_sessions_manager()).
    static VornSessionsManager& shared();

    dispatch::SerialQueue save_queue{"save_app_sessions"};
    std::optional<std::filesystem::path> url;
    std::map<std::string, std::shared_ptr<VornAppMultipleSessionsDataModel>> service_sessions;

    void setup_sessions(std::optional<std::filesystem::path> folder);
    void load_sessions(std::optional<std::filesystem::path> folder);
    Expected<std::vector<std::filesystem::path>> session_folder_urls(const std::optional<std::filesystem::path>& folder);
    void load_service_session(const std::filesystem::path& folder);
    // Creates, stores and saves an empty record for the server (replacing any entry).
    void new_service_session(const std::string& service_id);
    // Writes one record's file on the calling thread; nothing on success.
    std::optional<VornError> save_service_session(const VornAppMultipleSessionsDataModel& record);
    // Copies the record now and writes the copy on the save queue; the completion runs there.
    void request_save_sessions(const std::shared_ptr<VornAppMultipleSessionsDataModel>& record,
                               std::function<void(std::optional<VornError>)> completion = nullptr);
    // Sets `session`'s `json` to `state` and saves the record as request_save_sessions does. The
    // copy that is written takes the state as it comes (a page's state can be megabytes), so the
    // state is copied once, for the session. A session that is not one of the record's gets the
    // state, and the record is saved as it is.
    void request_save_sessions(const std::shared_ptr<VornAppMultipleSessionsDataModel>& record,
                               const std::shared_ptr<VornACEFileSessionsDataModel>& session, std::string state,
                               std::function<void(std::optional<VornError>)> completion = nullptr);

    // Server ids become folder names: "/" and "%" are escaped as "%2F" and "%25", so ids that
    // carry them (Base64 text does) still name one folder; other ids keep their own text.
    static std::string folder_name_for_service_id(const std::string& service_id);
    static std::string service_id_for_folder_name(const std::string& folder_name);

private:
    std::optional<VornError> save_to(const VornAppMultipleSessionsDataModel& record,
                                     const std::optional<std::filesystem::path>& folder);
    // The same for a snapshot of the record that is written once and dropped: its texts (whole
    // documents) move into the file's text instead of being copied on the way.
    std::optional<VornError> save_snapshot_to(VornAppMultipleSessionsDataModel& snapshot,
                                              const std::optional<std::filesystem::path>& folder);
    // Writes the snapshot on the save queue; the completion runs there.
    void write_soon(std::shared_ptr<VornAppMultipleSessionsDataModel> snapshot,
                    std::function<void(std::optional<VornError>)> completion);
    std::optional<VornError> write_sessions(const std::string& service_id, const std::function<std::optional<VornError>(const std::filesystem::path&)>& write,
                                            const std::optional<std::filesystem::path>& folder);
};

VornSessionsManager& app_sessions_manager();
