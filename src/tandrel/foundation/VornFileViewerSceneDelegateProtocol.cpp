// What a file-viewer link answers when nothing adopted the operations: no window, no connection.
#include "tandrel/foundation/VornFileViewerSceneDelegateProtocol.h"

#include "platform/dispatch/Dispatch.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/VornSessionsDataModel.h"

namespace {
void no_window(const VornFileViewerSceneDelegateProtocol::ErrorCompletion& completion) {
    if (!completion) return;
    dispatch::mainQueue().async([completion] {
        completion(VornError(EnumManager::vorn_error_throws(EnumManager::vorn_error_throws::no_file_window)));
    });
}
}  // namespace

void VornFileViewerSceneDelegateProtocol::show_error(const std::optional<VornError>&) {}

void VornFileViewerSceneDelegateProtocol::disconnect_service(ErrorCompletion completion) { no_window(completion); }

void VornFileViewerSceneDelegateProtocol::switch_to_service(const std::string&, ConnectCompletion completion) {
    if (!completion) return;
    no_window([completion](std::optional<VornError> error) { completion(nullptr, error); });
}

void VornFileViewerSceneDelegateProtocol::save_service_session(ErrorCompletion completion) { no_window(completion); }

void VornFileViewerSceneDelegateProtocol::save_session_state(const std::shared_ptr<VornACEFileSessionsDataModel>& session,
                                                             std::string state, ErrorCompletion completion) {
    if (session) session->json = std::move(state);
    no_window(completion);
}

void VornFileViewerSceneDelegateProtocol::add_file_session(std::shared_ptr<VornACEFileSessionsDataModel>,
                                                           ErrorCompletion completion) {
    no_window(completion);
}

void VornFileViewerSceneDelegateProtocol::remove_file_session(const std::string&, ErrorCompletion completion) {
    no_window(completion);
}

std::shared_ptr<files::FileProvider> VornFileViewerSceneDelegateProtocol::provider_as_read_write() const {
    return nullptr;
}

std::shared_ptr<VornServerFileDataModel> VornFileViewerSceneDelegateProtocol::find_listed_file(const std::string&) const {
    return nullptr;
}

void VornFileViewerSceneDelegateProtocol::create_remote_file(const std::string&, const std::string&,
                                                             ErrorCompletion completion) {
    no_window(completion);
}

void VornFileViewerSceneDelegateProtocol::create_remote_folder(const std::string&, const std::string&,
                                                               ErrorCompletion completion) {
    no_window(completion);
}

void VornFileViewerSceneDelegateProtocol::write_file_text_checked(const std::string&, std::string, files::WriteMode,
                                                                  std::optional<files::FileVersion>,
                                                                  VersionedWriteCompletion written,
                                                                  std::optional<std::string>) {
    if (!written) return;
    no_window([written](std::optional<VornError> error) { written(std::nullopt, error); });
}

void VornFileViewerSceneDelegateProtocol::reload_visible_sections_on_main() {}

bool VornFileViewerSceneDelegateProtocol::apply_saved_settings(const VornSingleServiceDataModel& saved) {
    if (!service || service->id != saved.id) return false;
    const bool named = service->nickname != saved.nickname;
    const bool site = service->web_root != saved.web_root || service->site_url != saved.site_url;
    if (!named && !site) return false;
    service->nickname = saved.nickname;
    service->web_root = saved.web_root;
    service->site_url = saved.site_url;
    if (site) emit serviceSettingsChanged();
    return true;
}
