// The editor connector's unsaved text on disk: the page says when its text changes, and a moment
// later (VornUnsavedTextKeeper::kKeepDelay) the connector asks it for its session and keeps a
// changed file's state in the keeper's folder, so a crash or a kill loses no edit. A file that
// reads as saved (its page count no higher than the one the last write saw) has no kept copy.
#include "platform/web/WebView.h"
#include "tandrel/editor/DocumentInterfaceHub.h"
#include "tandrel/editor/EditorScripts.h"
#include "tandrel/editor/VornEditorJSConnector.h"
#include "tandrel/editor/VornEditorJSConnectorSupport.h"
#include "tandrel/foundation/VornCurrentEditorStateInfo.h"
#include "tandrel/foundation/VornServicesDataModel.h"
#include "tandrel/foundation/VornSessionsDataModel.h"
#include "tandrel/foundation/VornUnsavedTextKeeper.h"

std::optional<std::string> VornEditorJSConnector::kept_service_id() const {
    if (auto* viewer = file_viewer(); viewer && viewer->service) return viewer->service->id;
    if (auto* h = hub()) return h->current_editor_info().service_session_id;
    return std::nullopt;
}

void VornEditorJSConnector::note_page_change() {
    if (!keep_debounce_) {
        QPointer<VornEditorJSConnector> self(this);
        keep_debounce_ = std::make_unique<VornKeepDebounce>(VornUnsavedTextKeeper::kKeepDelay, [self] {
            if (self) self->keep_page_text();
        });
    }
    keep_debounce_->changed();
}

void VornEditorJSConnector::keep_page_text() {
    if (!web_view) return;
    const uint64_t generation = keep_generation_;
    QPointer<VornEditorJSConnector> self(this);
    run_editor_js(editor_script::get_current_session(), [self, generation](nlohmann::json reply,
                                                                          std::optional<VornError> error) {
        if (!self || error || generation != self->keep_generation_) return;
        auto session = editor_support::take_session_reply(std::move(reply));
        if (!session) return;
        // Only a file this editor holds a record of is kept: a closed or discarded one has none.
        auto record = self->find_file_session(session->session_id);
        const auto service_id = self->kept_service_id();
        if (!record || !service_id) return;
        auto& keeper = VornUnsavedTextKeeper::shared();
        if (!editor_support::holds_unsaved_changes(session->undo_count, session->clean, record->undo_count)) {
            self->kept_counts_.erase(session->session_id);
            keeper.forget(*service_id, session->session_id);
            return;
        }
        VornKeptDocument document;
        document.service_id = *service_id;
        document.session_id = session->session_id;
        document.file_path = record->file_path;
        if (auto* viewer = self->file_viewer(); viewer && viewer->service) {
            document.server_name = viewer->service->nickname.empty() ? viewer->service->url : viewer->service->nickname;
        }
        document.saved_count = record->undo_count;
        document.server_version = record->server_version;
        document.text_format = record->text_format;
        document.base = record->base;
        document.state = std::move(session->json);
        self->kept_counts_[session->session_id] = session->undo_count;
        keeper.keep(std::move(document));
    });
}

void VornEditorJSConnector::forget_kept_text(const std::string& session_id) {
    ++keep_generation_;
    if (keep_debounce_) keep_debounce_->cancel();
    kept_counts_.erase(session_id);
    if (auto service_id = kept_service_id()) VornUnsavedTextKeeper::shared().forget(*service_id, session_id);
}

void VornEditorJSConnector::kept_text_saved(const std::string& session_id) {
    const auto record = find_file_session(session_id);
    const auto kept = kept_counts_.find(session_id);
    // The kept copy holds changes the write did not see: it is brought up to date instead.
    if (record && kept != kept_counts_.end() && kept->second > record->undo_count) return keep_page_text();
    kept_counts_.erase(session_id);
    // A keep asked for before the write, and answered after it, finds the file saved.
    if (auto service_id = kept_service_id()) VornUnsavedTextKeeper::shared().forget(*service_id, session_id);
}
