// The editor connector's bridge: attaching to a web view, sending scripts, and the page's
// messages.
#include "tandrel/editor/VornEditorJSConnector.h"

#include "platform/dispatch/Dispatch.h"
#include "platform/web/WebView.h"
#include "tandrel/editor/DocumentInterfaceHub.h"
#include "tandrel/foundation/VornCurrentEditorStateInfo.h"
#include "tandrel/editor/EditorScripts.h"
#include "tandrel/editor/VornEditorJSConnectorSupport.h"
#include "tandrel/editor/VornPreviewContentBucket.h"
#include "tandrel/editor/VornPreviewJSConnector.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/foundation/VornEditorPreferencesManager.h"
#include "tandrel/foundation/VornSessionsDataModel.h"
#include "tandrel/foundation/VornUnsavedTextKeeper.h"

using Err = EnumManager::vorn_error_throws;

VornEditorJSConnector::VornEditorJSConnector(QObject* parent) : QObject(parent) {}

VornEditorJSConnector::~VornEditorJSConnector() {
    // Decisions that waited for a save: the window holding the page is going, nothing stays to
    // be asked about. Told on the main queue, never from inside this destructor.
    for (auto& resume : std::exchange(decisions_after_saves_, {})) {
        dispatch::mainQueue().async([resume] { resume(false); });
    }
}

const std::vector<std::string>& VornEditorJSConnector::message_handler_names() {
    static const std::vector<std::string> names{"scriptlog", "log", "msg", "err"};
    return names;
}

DocumentInterfaceHub* VornEditorJSConnector::hub() const { return document_hub(scene_delegatex.data()); }

VornFileViewerSceneDelegateProtocol* VornEditorJSConnector::file_viewer() const {
    return file_delegatex.data();
}

// ---- attach and detach ---------------------------------------------------------------------------

void VornEditorJSConnector::attach_web_view(web::WebView* view) {
    if (!scene_delegatex) {
        AMZLogger::shared().log_warn("No SD");
        return;
    }
    if (!view) return;
    if (auto* h = hub()) {
        if (auto* preview = h->preview_connector()) editorwk_to_previewwk_delegate = preview;
    }
    web_view = view;
    reported_states_.clear();
    QPointer<VornEditorJSConnector> self(this);
    for (const auto& name : message_handler_names()) {
        view->addMessageHandler(name, [self](const web::ScriptMessage& message) {
            if (self) self->handle_script_message(message);
        });
    }
}

void VornEditorJSConnector::detach_web_view(web::WebView* view) {
    if (!view) return;
    if (view->isLoading()) view->stopLoading();
    view->removeAllUserScripts();
    view->removeAllMessageHandlers();
}

// ---- scripts --------------------------------------------------------------------------------------

void VornEditorJSConnector::run_editor_js(const std::string& script, EditorScriptCompletion completion) {
    QPointer<web::WebView> view = web_view;
    if (!view) {
        AMZLogger::shared().log_warn("run_editor_js missing wk");
        return;
    }
    dispatch::mainQueue().async([view, script, completion = std::move(completion)] {
        if (!view) {
            AMZLogger::shared().log_warn("run_editor_js missing wk");
            return;
        }
        if (!completion) {
            view->evaluateJavaScript(script);
            return;
        }
        view->evaluateJavaScript(script, [completion](nlohmann::json result, std::optional<web::ScriptError> error) {
            if (error) {
                completion(nullptr, editor_support::script_error(*error));
                return;
            }
            completion(std::move(result), std::nullopt);
        });
    });
}

void VornEditorJSConnector::run_with_text(std::string_view text,
                                          const std::function<std::string(std::string_view url)>& by_url,
                                          const std::function<std::string()>& by_base64,
                                          EditorScriptCompletion completion) {
    if (!web_view) return run_editor_js(by_base64(), std::move(completion));
    QPointer<web::WebView> view = web_view;
    const QUrl url = view->offerDocument(QByteArray(text.data(), static_cast<qsizetype>(text.size())));
    run_editor_js(by_url(url.toString().toStdString()),
                  [view, url, completion = std::move(completion)](nlohmann::json result, std::optional<VornError> error) {
                      // Read by now, or never to be: the offer goes.
                      if (view) view->withdrawDocument(url);
                      if (completion) completion(std::move(result), std::move(error));
                  });
}

void VornEditorJSConnector::select_page_session(const std::string& session_json) {
    if (session_json.empty()) return run_editor_js(editor_script::set_current_session(session_json));
    run_with_text(
        session_json, [](std::string_view url) { return editor_script::set_current_session_from(url); },
        [&] { return editor_script::set_current_session(session_json); }, nullptr);
}

void VornEditorJSConnector::select_page_session(const std::shared_ptr<VornACEFileSessionsDataModel>& record) {
    if (!record) return;
    const auto state_id = reported_by_page(*record);
    if (!state_id) {
        select_page_session(record->json);
        // A session the page builds from the stored state has no saved text in its history: the
        // record names the count its last write saved.
        return mark_saved_in_page(record->session_id, record->undo_count);
    }
    QPointer<VornEditorJSConnector> self(this);
    std::weak_ptr<VornACEFileSessionsDataModel> weak = record;
    run_editor_js(editor_script::set_current_session_reported(*state_id),
                  [self, weak](nlohmann::json result, std::optional<VornError>) {
                      if (!self || !result.is_string() || result.get_ref<const std::string&>() != editor_script::kStateUnknown) {
                          return;
                      }
                      // The page let go of that state (replaced, or rebuilt): its text goes after all.
                      auto current = weak.lock();
                      if (!current) return;
                      self->reported_states_.clear();
                      self->select_page_session(current->json);
                      self->mark_saved_in_page(current->session_id, current->undo_count);
                  });
}

void VornEditorJSConnector::remember_reported_state(const std::string& session_id, const std::string& session_json) {
    auto id = editor_script::reported_state_id(session_json);
    if (!id) {
        reported_states_.erase(session_id);
        return;
    }
    reported_states_[session_id] = ReportedState{std::move(*id), session_json.size()};
}

std::optional<std::string> VornEditorJSConnector::reported_by_page(const VornACEFileSessionsDataModel& record) const {
    const auto reported = reported_states_.find(record.session_id);
    if (reported == reported_states_.end()) return std::nullopt;
    auto id = editor_script::reported_state_id(record.json);
    if (!id || *id != reported->second.state_id || record.json.size() != reported->second.bytes) return std::nullopt;
    return id;
}

void VornEditorJSConnector::report_error(std::optional<VornError> error) {
    if (auto* display = error_delegatex.get()) display->present_error(error);
}

// ---- page messages ----------------------------------------------------------------------------------

void VornEditorJSConnector::set_has_changes(bool changed) {
    auto* h = hub();
    if (!h) return;
    h->current_editor_info().has_changes = changed;
    if (auto* screen = h->editor_screen(is_compact)) screen->show_unsaved_changes(changed);
}

void VornEditorJSConnector::set_has_changes_of(const std::string& session_id) {
    auto* h = hub();
    if (!h || h->current_editor_info().file_bucket_id != session_id) return;
    auto record = find_file_session(session_id);
    const auto count = page_counts_.find(session_id);
    if (!record || count == page_counts_.end()) return set_has_changes(false);
    set_has_changes(editor_support::holds_unsaved_changes(count->second.count, count->second.clean, record->undo_count));
}

void VornEditorJSConnector::mark_saved_in_page(const std::string& session_id, int64_t count) {
    QPointer<VornEditorJSConnector> self(this);
    run_editor_js(editor_script::mark_saved(session_id, count),
                  [self, session_id](nlohmann::json clean, std::optional<VornError> error) {
                      if (!self || error || !clean.is_boolean()) return;
                      // Only the page's answer moves the mark; a page that holds no such session
                      // (or an older page) leaves the counts to decide.
                      auto known = self->page_counts_.find(session_id);
                      if (known == self->page_counts_.end()) return;
                      known->second.clean = clean.get<bool>();
                      self->set_has_changes_of(session_id);
                  });
}

void VornEditorJSConnector::handle_script_message(const web::ScriptMessage& message) {
    const nlohmann::json& body = message.body;
    if (message.name == "msg" && body.is_object() && body.contains("doc_ready")) {
        if (auto* h = hub()) h->load_current_editor_file(is_compact);
    }
    if (message.name == "log" && body.is_string()) {
        AMZLogger::shared().log_verbose("WKLOG " + body.get<std::string>());
        return;
    }
    if (message.name == "err" && body.is_string()) {
        AMZLogger::shared().log_error("WKERR " + body.get<std::string>());
        return;
    }
    if (!body.is_object() || body.empty()) return;

    if (auto it = body.find("session_info"); it != body.end()) {
        // Only an object or an array is JSON text of its own; anything else is unreadable.
        if (!it->is_object() && !it->is_array()) {
            report_error(editor_support::session_info_error());
        } else if (auto* viewer = file_viewer()) {
            QPointer<VornEditorJSConnector> self(this);
            viewer->save_service_session([self](std::optional<VornError> error) {
                if (self) self->report_error(error);
            });
        }
    }

    if (auto it = body.find("content_changed"); it != body.end() && it->is_object()) {
        const auto id = it->find("session_id");
        const auto count = it->find("undo_count");
        auto* h = hub();
        if (h && id != it->end() && id->is_string() && count != it->end() && count->is_number_integer() &&
            h->current_editor_info().file_bucket_id == id->get<std::string>()) {
            page_counts_[id->get<std::string>()] = PageCount{count->get<int64_t>(), editor_support::reply_says_clean(*it)};
            if (find_file_session(id->get<std::string>())) set_has_changes_of(id->get<std::string>());
        }
        // The page's text changed: it is kept on disk a moment later.
        note_page_change();
    }

    if (auto it = body.find("send_content_to_preview"); it != body.end() && editor_support::is_text_dictionary(*it)) {
        const nlohmann::json& content = *it;
        std::optional<std::string> text;
        if (content.contains("file_path") && content.contains("content")) {
            text = editor_script::decode_base64_text(content["content"].get<std::string>());
        }
        if (!text) {
            report_error(editor_support::app_error(Err::no_data));
            return;
        }
        auto bucket = editor_support::preview_bucket(content["file_path"].get<std::string>(), std::move(*text));
        if (auto* preview = editorwk_to_previewwk_delegate.get()) preview->push_preview_content(bucket);
    }

    if (auto it = body.find("requestPreferences"); it != body.end() && editor_support::is_text_dictionary(*it)) {
        if (auto* h = hub()) h->apply_editor_preferences();
    }
}

// ---- preferences ------------------------------------------------------------------------------------

void VornEditorJSConnector::apply_preferences() {
    const auto preferences = app_editor_preferences_manager().theModel;
    if (!preferences) return;
    set_show_gutter(preferences->gutter_visible);
    run_editor_js(editor_script::set_autocompletion(preferences->auto_suggest_enabled));
    run_editor_js(editor_script::set_soft_wrap(editor_script::soft_wrap_value(*preferences)));
    // A page starts with its default theme and no invisibles: the saved ones go too.
    run_editor_js(editor_script::set_theme(preferences->theme_id));
    set_show_invisibles(preferences->invisibles_visible);
}

void VornEditorJSConnector::set_show_gutter(bool visible) { run_editor_js(editor_script::set_show_gutter(visible)); }

void VornEditorJSConnector::set_show_invisibles(bool visible) {
    run_editor_js(editor_script::set_show_invisibles(visible));
}
