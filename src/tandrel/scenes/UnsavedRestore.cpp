#include "tandrel/scenes/UnsavedRestore.h"

#include <QPointer>
#include <map>
#include <memory>
#include <vector>

#include "platform/defaults/AtomicFile.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/files/RemotePath.h"
#include "platform/text/TextEncoding.h"
#include "platform/ui/scenes/Application.h"
#include "platform/ui/scenes/UserActivity.h"
#include "tandrel/editor/DocumentInterfaceManager.h"
#include "tandrel/editor/VornEditorJSConnector.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/AppGlobals.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/foundation/VORNPresenterUtility.h"
#include "tandrel/foundation/VornAppUrlUtility.h"
#include "tandrel/foundation/VornSessionsManager.h"
#include "tandrel/foundation/VornUnsavedTextKeeper.h"
#include "tandrel/scenes/DocumentScene.h"
#include "tandrel/scenes/SceneManager.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/ServerFormModel.h"
#include "tandrel/servers/VornFileViewController.h"

namespace fs = std::filesystem;

namespace unsaved_restore {

namespace {

// What one launch's reopening did, told in one alert once every server has answered.
struct Run {
    size_t servers_left = 0;
    std::vector<std::string> reopened;   // "“page.html” on Server"
    std::vector<std::string> not_reached;
    std::vector<std::string> recovered;
    std::optional<fs::path> recovered_in;
    QPointer<ui::ViewController> presenter;
    // The windows taken for a server so far.
    std::vector<QPointer<FileViewerSceneDelegate>> claimed;
    bool is_claimed(const FileViewerSceneDelegate* viewer) const {
        for (const auto& c : claimed) {
            if (c == viewer) return true;
        }
        return false;
    }
};

std::string quoted_name(const std::string& path) {
    return "\u201C" + files::path::forDisplay(files::path::lastComponent(path)) + "\u201D";
}

std::shared_ptr<VornACEFileSessionsDataModel> sessions_record(const std::string& service_id,
                                                              const std::string& session_id) {
    auto& all = app_sessions_manager().service_sessions;
    auto it = all.find(service_id);
    if (it == all.end() || !it->second) return nullptr;
    for (const auto& session : it->second->ace_file_sessions) {
        if (session && session->session_id == session_id) return session;
    }
    return nullptr;
}

// A deleted server's kept text, offered as a plain file; the kept copy goes once it is written.
void recover(VornKeptDocument& document, Run& run) {
    auto folder = recovered_folder();
    auto kept = document.text();
    if (!folder || !kept) return;
    if (auto failed = defaults::createPrivateDirectories(*folder)) {
        AMZLogger::shared().log_error("cannot recover kept text: " + *failed);
        return;
    }
    const auto file = unused_file_name(*folder, files::path::lastComponent(document.file_path));
    // In the file's own encoding, as the server had it (as UTF-8 where that cannot hold the text).
    if (document.text_format) {
        auto bytes = textcodec::encodeText(*kept, *document.text_format);
        if (auto* encoded = std::get_if<std::string>(&bytes)) *kept = std::move(*encoded);
    }
    if (auto failed = defaults::writeFileAtomically(file, *kept)) {
        AMZLogger::shared().log_error("cannot recover kept text: " + *failed);
        return;
    }
    AMZLogger::shared().log_info("kept text of a deleted server saved as " + file.string());
    run.recovered_in = folder;
    std::string line = quoted_name(document.file_path);
    if (!document.server_name.empty()) line += " of " + document.server_name;
    run.recovered.push_back(line + " \u2192 " + file.filename().string());
    VornUnsavedTextKeeper::shared().forget(document.service_id, document.session_id);
}

std::string message_of(const Run& run) {
    auto list = [](const std::vector<std::string>& lines) {
        std::string out;
        for (const auto& line : lines) out += "\n\u2022 " + line;
        return out;
    };
    std::string message;
    auto paragraph = [&message](const std::string& text) {
        if (!message.empty()) message += "\n\n";
        message += text;
    };
    if (!run.reopened.empty()) {
        paragraph("These files had unsaved changes when " + app_display_name() +
                  " ended unexpectedly. They are open again with those changes, not yet saved:" + list(run.reopened));
    }
    if (!run.not_reached.empty()) {
        paragraph("These files had unsaved changes, but their server could not be reached. Their text is kept "
                  "for the next launch:" + list(run.not_reached));
    }
    if (!run.recovered.empty()) {
        paragraph("These files had unsaved changes on a server that is no longer saved. Their text was saved in " +
                  (run.recovered_in ? run.recovered_in->string() : std::string()) + ":" + list(run.recovered));
    }
    return message;
}

void tell(const std::shared_ptr<Run>& run) {
    const std::string message = message_of(*run);
    if (message.empty()) return;
    QPointer<ui::ViewController> presenter = run->presenter;
    if (!presenter) {
        for (FileViewerScene* scene : SceneManager::file_viewer_scenes()) {
            auto* viewer = qobject_cast<FileViewerSceneDelegate*>(scene->delegate());
            if (viewer && viewer->fileView_controller) {
                presenter = viewer->fileView_controller.get();
                break;
            }
        }
    }
    VORNPresenterUtility::present_on_main(presenter, [presenter, message](bool ready) {
        VORNPresenterUtility::present_action_alert(ready, kRestoredTitle, message, "OK", nullptr, presenter);
    });
}

void server_done(const std::shared_ptr<Run>& run) {
    if (run->servers_left > 0) --run->servers_left;
    if (run->servers_left == 0) tell(run);
}

FileViewerSceneDelegate* viewer_of(FileViewerScene* scene) {
    return scene ? qobject_cast<FileViewerSceneDelegate*>(scene->delegate()) : nullptr;
}

// A file-viewer window for a server: the first window while it is connected to none, else a new one.
void with_server_window(const std::shared_ptr<Run>& run, std::function<void(FileViewerSceneDelegate*)> then) {
    for (FileViewerScene* scene : SceneManager::file_viewer_scenes()) {
        auto* viewer = viewer_of(scene);
        if (viewer && viewer->my_session_info && !viewer->my_session_info->connected &&
            !viewer->my_session_info->service_id && !run->is_claimed(viewer)) {
            run->claimed.emplace_back(viewer);
            return then(viewer);
        }
    }
    ui::Application::shared().requestSceneSessionActivation(
        nullptr, ui::UserActivity(scene_kind_activity_type(SceneKind::server_viewer)), {}, nullptr);
    // The window is made by the request's task on the main queue, which runs before this one.
    dispatch::mainQueue().async([run, then] {
        const auto scenes = SceneManager::file_viewer_scenes();
        auto* viewer = scenes.empty() ? nullptr : viewer_of(scenes.back());
        if (viewer && run->is_claimed(viewer)) viewer = nullptr;
        if (viewer) run->claimed.emplace_back(viewer);
        then(viewer);
    });
}

void reopen_on_server(const std::string& service_id, std::vector<VornKeptDocument> documents,
                      const std::shared_ptr<Run>& run) {
    auto shared_documents = std::make_shared<std::vector<VornKeptDocument>>(std::move(documents));
    with_server_window(run, [service_id, shared_documents, run](FileViewerSceneDelegate* viewer) {
        auto not_reached = [shared_documents, run](const std::string& why) {
            for (const auto& d : *shared_documents) run->not_reached.push_back(quoted_name(d.file_path) + " (" + why + ")");
            server_done(run);
        };
        if (!viewer) return not_reached("no window for its server");
        if (!run->presenter && viewer->fileView_controller) run->presenter = viewer->fileView_controller.get();
        QPointer<FileViewerSceneDelegate> weak(viewer);
        viewer->switch_to_service(service_id, [weak, service_id, shared_documents, run, not_reached](
                                                  std::shared_ptr<VornProviderBucket> bucket, std::optional<VornError> error) {
            if (!bucket || !weak) return not_reached(error ? error->localizedDescription() : std::string("not connected"));
            auto& keeper = VornUnsavedTextKeeper::shared();
            for (auto& document : *shared_documents) {
                const std::string path = document.file_path;
                const std::string session_id = document.session_id;
                put_in_sessions_record(document);
                keeper.mark_restoring(service_id, session_id);
                AMZLogger::shared().log_info("reopening the kept unsaved text of " + path);
                SceneManager::open_document_scene(service_id, session_id,
                                                  VornFileViewController::preview_supported_for_path(path),
                                                  [weak](const VornError& e) {
                                                      if (weak) weak->show_error(e);
                                                  });
                std::string line = quoted_name(path);
                if (weak->service && !weak->service->nickname.empty()) line += " on " + weak->service->nickname;
                run->reopened.push_back(line);
            }
            server_done(run);
        });
    });
}

}  // namespace

void put_in_sessions_record(VornKeptDocument& document) {
    if (auto record = sessions_record(document.service_id, document.session_id)) {
        record->json = std::move(document.state);
        if (record->server_version.empty()) record->server_version = document.server_version;
        // The kept text is written as it was read.
        if (document.text_format) record->text_format = document.text_format;
        // The copy the kept text was edited from, when it is the one the record's save checks.
        if (document.base && document.base->version == record->server_version) record->base = document.base;
        return;
    }
    auto& sessions = app_sessions_manager().service_sessions[document.service_id];
    if (!sessions) {
        sessions = std::make_shared<VornAppMultipleSessionsDataModel>();
        sessions->service_id = document.service_id;
    }
    auto record = std::make_shared<VornACEFileSessionsDataModel>();
    record->session_id = document.session_id;
    record->file_path = document.file_path;
    record->mime_type = mime_type_for_url(document.file_path);
    record->undo_count = document.saved_count;
    // The first save checks the server's copy the text was edited from.
    record->server_version = document.server_version;
    record->text_format = document.text_format;
    record->base = document.base;
    record->json = std::move(document.state);
    sessions->ace_file_sessions.push_back(std::move(record));
}

std::optional<fs::path> recovered_folder() {
    auto base = VornAppUrlUtility::base_url();
    if (!base) return std::nullopt;
    return *base / kRecoveredFolderName;
}

fs::path unused_file_name(const fs::path& folder, const std::string& name) {
    std::string base = name;
    if (base.empty() || base == "." || base == ".." || base.find('/') != std::string::npos) base = "untitled.txt";
    const fs::path plain(base);
    std::error_code ec;
    if (!fs::exists(folder / plain, ec)) return folder / plain;
    const std::string stem = plain.stem().string();
    const std::string extension = plain.extension().string();
    for (int n = 2;; ++n) {
        fs::path candidate = folder / (stem + " (" + std::to_string(n) + ")" + extension);
        if (!fs::exists(candidate, ec)) return candidate;
    }
}

void reopen_kept_documents() {
    auto& keeper = VornUnsavedTextKeeper::shared();
    auto kept = keeper.kept_documents();
    if (kept.empty()) return;
    if (!ui::Application::shared().supportsMultipleScenes()) {
        AMZLogger::shared().log_info("kept unsaved text waits for a launch with document windows");
        return;
    }
    auto run = std::make_shared<Run>();
    std::map<std::string, std::vector<VornKeptDocument>> by_server;
    for (auto& document : kept) {
        if (!ServerFormModel::saved_service_with_id(document.service_id)) {
            recover(document, *run);
            continue;
        }
        // Written by a save that the kept copy's removal did not follow before the app ended.
        auto record = sessions_record(document.service_id, document.session_id);
        const auto count = document.page_count();
        if (record && count && *count <= record->undo_count) {
            keeper.forget(document.service_id, document.session_id);
            continue;
        }
        by_server[document.service_id].push_back(std::move(document));
    }
    run->servers_left = by_server.size();
    // After the first window's request, which is on the main queue already: the first server
    // connects in that window, and the alert shows there.
    dispatch::mainQueue().async([run, by_server = std::move(by_server)]() mutable {
        if (by_server.empty()) return tell(run);
        for (auto& [service_id, documents] : by_server) reopen_on_server(service_id, std::move(documents), run);
    });
}

void forget_kept_text_of_open_documents() {
    for (DocumentScene* scene : SceneManager::document_scenes()) {
        auto* document = scene ? qobject_cast<DocumentSceneDelegate*>(scene->delegate()) : nullptr;
        auto manager = document ? document->doc_int_man : nullptr;
        if (!manager || !manager->my_current_editor_info.file_bucket_id) continue;
        const std::string id = *manager->my_current_editor_info.file_bucket_id;
        for (auto* connector : {manager->editor_js_connector.get(), manager->editor_compact_js_connector.get()}) {
            if (connector) connector->forget_kept_text(id);
        }
    }
}

}  // namespace unsaved_restore
