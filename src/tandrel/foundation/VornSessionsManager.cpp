#include "tandrel/foundation/VornSessionsManager.h"

#include <algorithm>
#include <cerrno>
#include <functional>

#include "platform/dispatch/ExitDrain.h"
#include "platform/defaults/AtomicFile.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/JsonStoreFile.h"


VornSessionsManager& app_sessions_manager() {
    static VornSessionsManager* manager = [] {
        auto* store = new VornSessionsManager;
        // Saves still queued when the process ends are written before it goes (within the exit
        // bound). Kept, like the store, for the life of the process.
        new dispatch::ExitDrain(store->save_queue.label(), dispatch::queueDrain(store->save_queue));
        return store;
    }();
    return *manager;
}

VornSessionsManager::VornSessionsManager() = default;

VornSessionsManager& VornSessionsManager::shared() { return app_sessions_manager(); }

std::string VornSessionsManager::folder_name_for_service_id(const std::string& id) {
    std::string out;
    out.reserve(id.size());
    for (char c : id) {
        if (c == '%') out += "%25";
        else if (c == '/') out += "%2F";
        else out += c;
    }
    return out;
}

std::string VornSessionsManager::service_id_for_folder_name(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '%' && i + 2 < name.size()) {
            std::string code = name.substr(i + 1, 2);
            if (code == "2F" || code == "2f") { out += '/'; i += 2; continue; }
            if (code == "25") { out += '%'; i += 2; continue; }
        }
        out += name[i];
    }
    return out;
}

void VornSessionsManager::setup_sessions(std::optional<std::filesystem::path> folder) {
    url = folder;
    AMZLogger::shared().log_verbose("New Sessions JSON File: " + json_store::url_text(url));
    load_sessions(folder);
}

void VornSessionsManager::load_sessions(std::optional<std::filesystem::path> folder) {
    auto folders = session_folder_urls(folder);
    if (!folders) {
        AMZLogger::shared().log_error("load_sessions " + folders.error().text());
        return;
    }
    for (const auto& f : *folders) load_service_session(f);
}

Expected<std::vector<std::filesystem::path>> VornSessionsManager::session_folder_urls(
    const std::optional<std::filesystem::path>& folder) {
    std::vector<std::filesystem::path> result;
    if (!folder) return result;
    std::error_code ec;
    std::filesystem::directory_iterator it(*folder, ec);
    if (ec) return VornError{"FileError", ec.value(), ec.message(), "cannotList"};
    std::vector<std::filesystem::path> entries;
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec) return VornError{"FileError", ec.value(), ec.message(), "cannotList"};
        auto name = it->path().filename().string();
        if (!name.empty() && name[0] == '.') continue;  // hidden entries are skipped
        std::error_code dec;
        if (it->is_directory(dec)) entries.push_back(it->path());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

void VornSessionsManager::load_service_session(const std::filesystem::path& folder) {
    const std::string name = folder.filename().string();
    const auto file = folder / "session.json";
    VornError error;
    auto bytes = defaults::readWholeFile(file);
    if (!bytes) {
        error = VornError{"FileError", 260, "The file \"session.json\" couldn't be opened because there is no such file.", "noSuchFile"};
    } else {
        auto parsed = jsonable::parse(*bytes);
        if (!parsed) {
            error = parsed.error();
        } else {
            try {
                auto record = VornAppMultipleSessionsDataModel::from_json(*parsed);
                record->service_id = service_id_for_folder_name(name);
                service_sessions[record->service_id] = record;
                return;
            } catch (const DecodingError& e) {
                error = e.toError();
            }
        }
    }
    AMZLogger::shared().log_error("cannot session " + json_store::url_text(folder) + " " + error.text());
    // A file that is there but does not decode is kept aside before a later save replaces it.
    if (bytes && !bytes->empty()) {
        if (auto copy = defaults::keepAside(file)) AMZLogger::shared().log_error("unreadable sessions file kept as " + copy->string());
    }
}

void VornSessionsManager::new_service_session(const std::string& service_id) {
    auto record = std::make_shared<VornAppMultipleSessionsDataModel>();
    record->service_id = service_id;
    service_sessions[service_id] = record;
    request_save_sessions(record, [](std::optional<VornError>) {});
}

std::optional<VornError> VornSessionsManager::save_service_session(const VornAppMultipleSessionsDataModel& record) {
    return save_to(record, url);
}

std::optional<VornError> VornSessionsManager::save_to(const VornAppMultipleSessionsDataModel& record,
                                                      const std::optional<std::filesystem::path>& sessions) {
    return write_sessions(record.service_id, [&](const std::filesystem::path& file) {
        return json_store::write(file, record);
    }, sessions);
}

std::optional<VornError> VornSessionsManager::save_snapshot_to(VornAppMultipleSessionsDataModel& snapshot,
                                                               const std::optional<std::filesystem::path>& sessions) {
    return write_sessions(snapshot.service_id, [&](const std::filesystem::path& file) {
        return json_store::write_value(file, snapshot.take_json());
    }, sessions);
}

std::optional<VornError> VornSessionsManager::write_sessions(
    const std::string& service_id, const std::function<std::optional<VornError>(const std::filesystem::path&)>& write,
    const std::optional<std::filesystem::path>& sessions) {
    if (!sessions) return VornError(EnumManager::vorn_error_throws(EnumManager::vorn_error_throws::no_url));
    std::optional<VornError> failure;
    if (service_id.empty()) {
        failure = VornError{"FileError", 4, "A sessions record needs a server id.", "noServiceId"};
    } else {
        const auto folder = *sessions / folder_name_for_service_id(service_id);
        if (auto failed = defaults::createPrivateDirectories(folder)) {
            failure = VornError{"FileError", errno ? errno : EIO, *failed, "cannotCreateFolder"};
        } else {
            failure = write(folder / "session.json");
        }
    }
    if (failure) {
        AMZLogger::shared().log_error("cannot serialize " + json_store::url_text(sessions) + " " + failure->text());
        return VornError(EnumManager::vorn_error_throws(EnumManager::vorn_error_throws::cannot_close_session));
    }
    return std::nullopt;
}

void VornSessionsManager::request_save_sessions(const std::shared_ptr<VornAppMultipleSessionsDataModel>& record,
                                                std::function<void(std::optional<VornError>)> completion) {
    // The copy is taken here, on the caller's (main) thread, so the save never reads a record
    // that the main thread is changing.
    write_soon(record->clone(), std::move(completion));
}

void VornSessionsManager::request_save_sessions(const std::shared_ptr<VornAppMultipleSessionsDataModel>& record,
                                                const std::shared_ptr<VornACEFileSessionsDataModel>& session,
                                                std::string state,
                                                std::function<void(std::optional<VornError>)> completion) {
    const auto& sessions = record->ace_file_sessions;
    const auto at = std::find(sessions.begin(), sessions.end(), session);
    if (!session || at == sessions.end()) {
        if (session) session->json = std::move(state);
        return request_save_sessions(record, std::move(completion));
    }
    // The outgoing state is not copied into the snapshot: the new one moves there, and the
    // session takes the one copy of it.
    session->json.clear();
    auto snapshot = record->clone();
    std::string& written = snapshot->ace_file_sessions[static_cast<size_t>(at - sessions.begin())]->json;
    written = std::move(state);
    session->json = written;
    write_soon(std::move(snapshot), std::move(completion));
}

void VornSessionsManager::write_soon(std::shared_ptr<VornAppMultipleSessionsDataModel> snapshot,
                                     std::function<void(std::optional<VornError>)> completion) {
    auto folder = url;
    save_queue.async([this, snapshot = std::move(snapshot), folder, completion = std::move(completion)] {
        auto error = save_snapshot_to(*snapshot, folder);
        if (completion) completion(error);
    });
}
