// The editor connector's editing sessions: opening a file in the page, refreshing its record,
// saving, the close decision, and copy.
#include <algorithm>
#include <utility>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/RemotePath.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/scenes/Application.h"
#include "platform/ui/scenes/SceneSession.h"
#include "platform/ui/scenes/Window.h"
#include "platform/web/WebView.h"
#include "tandrel/editor/DocumentInterfaceHub.h"
#include "tandrel/editor/EditorScripts.h"
#include "tandrel/editor/VornEditorJSConnector.h"
#include "tandrel/editor/VornEditorJSConnectorSupport.h"
#include "tandrel/editor/VornEditorWKWebView.h"
#include "tandrel/editor/VornPreviewContentBucket.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/JsonScan.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/foundation/VORNPresenterUtility.h"
#include "tandrel/foundation/VornCurrentEditorStateInfo.h"
#include "tandrel/foundation/VornDocumentBase.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/foundation/VornProviderErrors.h"
#include "tandrel/foundation/VornSessionsManager.h"
#include "tandrel/foundation/VornSceneLinksProtocol.h"
#include "tandrel/foundation/VornUnsavedTextKeeper.h"

using Err = EnumManager::vorn_error_throws;
using editor_support::app_error;

namespace {

const char* const kMainConfiguration = "Main Configuration";

// The sessions record of the file viewer's server, if there is one.
std::shared_ptr<VornAppMultipleSessionsDataModel> sessions_of(const VornFileViewerSceneDelegateProtocol* viewer) {
    if (!viewer || !viewer->service) return nullptr;
    auto& all = app_sessions_manager().service_sessions;
    auto it = all.find(viewer->service->id);
    return it == all.end() ? nullptr : it->second;
}

void reload_explorer(VornFileViewerSceneDelegateProtocol* viewer) {
    if (viewer) viewer->reload_visible_sections_on_main();
}

}  // namespace

// ---- records ------------------------------------------------------------------------------------

std::shared_ptr<VornACEFileSessionsDataModel> VornEditorJSConnector::find_file_session(const std::string& session_id) const {
    auto record = sessions_of(file_viewer());
    if (!record) return nullptr;
    for (const auto& session : record->ace_file_sessions) {
        if (session && session->session_id == session_id) return session;
    }
    return nullptr;
}

void VornEditorJSConnector::remove_record(const std::string& session_id) {
    // A closed file (saved, discarded or unchanged) keeps no unsaved text.
    forget_kept_text(session_id);
    auto* viewer = file_viewer();
    if (!viewer) {
        report_error(app_error(Err::no_data));
        return;
    }
    page_sessions_.erase(session_id);
    QPointer<VornEditorJSConnector> self(this);
    viewer->remove_file_session(session_id, [self](std::optional<VornError> error) {
        if (self) self->after_file_session_removed(error);
    });
}

void VornEditorJSConnector::after_file_session_removed(std::optional<VornError> error) {
    if (error) {
        report_error(error);
        return;
    }
    reload_explorer(file_viewer());
}

// ---- opening ------------------------------------------------------------------------------------

void VornEditorJSConnector::open_editor_session(std::optional<VornError> error,
                                                std::shared_ptr<VornServerFileContentModel> content,
                                                ErrorCompletion completion) {
    auto complete = [completion](std::optional<VornError> e) {
        if (completion) completion(e);
    };
    if (error) return complete(error);
    auto* h = hub();
    if (!h) {
        report_error(app_error(Err::no_doc_int_manager));
        return;
    }
    if (!content) return complete(app_error(Err::no_data));

    auto record = find_file_session(content->id);
    if (record && !page_sessions_.count(content->id)) {
        // Left behind by an earlier window or launch. Changes in it that never reached the
        // server are the user's to keep or drop; otherwise the text just read from the server
        // wins, so old text is never shown or saved over newer text on the server.
        // A launch after a crash reopens its kept text without asking (it tells the user once).
        const auto service_id = kept_service_id();
        const bool relaunched = service_id && VornUnsavedTextKeeper::shared().take_restoring(*service_id, content->id);
        if (stored_edit_missing_from(*record, content->contents)) {
            if (!relaunched) return ask_restore_or_discard(content, std::move(completion));
            AMZLogger::shared().log_info("reopening the unsaved changes of " + content->path);
            page_sessions_.insert(content->id);
            return open_restored_session(std::move(record), std::move(content), std::move(completion));
        }
        // The server has that text already: nothing is unsaved.
        if (relaunched) forget_kept_text(content->id);
        AMZLogger::shared().log_info("replacing the stored editing session of " + content->path);
        record = nullptr;
    }
    open_session(std::move(record), std::move(content), std::move(completion));
}

void VornEditorJSConnector::open_restored_session(std::shared_ptr<VornACEFileSessionsDataModel> record,
                                                  std::shared_ptr<VornServerFileContentModel> content,
                                                  ErrorCompletion completion) {
    // The restored state carries its own change count, above the saved one: the window shows
    // the file as changed from the start, not only after the next edit.
    int64_t count = 0;
    // The restored text was edited from the server's copy the record names; when that is still
    // the copy just read, the copy is the base a later merge starts from (a crash-kept text
    // brings its own).
    if (record && !record->base && content && content->lossless && !content->server_version.empty() &&
        content->server_version == record->server_version) {
        record->base = std::make_shared<const VornDocumentBase>(
            VornDocumentBase{content->contents, content->text_format, content->server_version});
    }
    if (record) {
        const auto counted = json_scan::object_strings(record->json, {"undo_count"});
        if (counted.shape == json_scan::Shape::object && counted.raw[0]) {
            const auto value = nlohmann::json::parse(*counted.raw[0], nullptr, false);
            if (value.is_number_integer()) count = value.get<int64_t>();
        }
    }
    const std::string id = content ? content->id : std::string();
    QPointer<VornEditorJSConnector> self(this);
    open_session(std::move(record), std::move(content), [self, id, count, completion](std::optional<VornError> e) {
        if (!e && self) {
            auto* h = self->hub();
            auto stored = self->find_file_session(id);
            if (h && stored && h->current_editor_info().file_bucket_id == id && count > stored->undo_count) {
                self->page_counts_[id] = PageCount{count, false};
                self->set_has_changes(true);
            }
        }
        if (completion) completion(e);
    });
}

bool VornEditorJSConnector::stored_edit_missing_from(const VornACEFileSessionsDataModel& record,
                                                     const std::string& server_text) {
    // Changed: the page counted more changes than the last successful write saw. The state is
    // megabytes of JSON around the text: its change count is read first, and the text is only
    // decoded to be compared when that count is higher.
    const auto counted = json_scan::object_strings(record.json, {"undo_count"});
    if (counted.shape != json_scan::Shape::object || !counted.raw[0]) return false;
    const auto count = nlohmann::json::parse(*counted.raw[0], nullptr, false);
    if (!count.is_number_integer() || count.get<int64_t>() <= record.undo_count) return false;
    const auto state = json_scan::object_strings(record.json, {"value"});
    return state.strings[0] && *state.strings[0] != server_text;
}

void VornEditorJSConnector::ask_restore_or_discard(std::shared_ptr<VornServerFileContentModel> content,
                                                   ErrorCompletion completion) {
    QPointer<VornEditorJSConnector> self(this);
    auto choose = [self, content, completion](bool restore) {
        if (!self) return;
        if (restore) {
            // The stored state goes into the page with its own change count, above the saved
            // one: the file shows as changed until it is written.
            AMZLogger::shared().log_info("restoring the unsaved changes of " + content->path);
            self->page_sessions_.insert(content->id);
            self->open_restored_session(self->find_file_session(content->id), content, completion);
        } else {
            AMZLogger::shared().log_info("discarding the unsaved changes of " + content->path);
            self->open_session(nullptr, content, completion);
        }
    };
    auto* h = hub();
    auto* screen = h ? h->editor_screen(is_compact) : nullptr;
    QPointer<ui::ViewController> presenter = screen ? screen->editor_view_controller() : nullptr;
    if (!presenter) return choose(true);  // no one to ask: nothing is dropped unasked

    auto alert = ui::AlertController::make(QString::fromUtf8(kRestoreTitle), QString::fromUtf8(kRestoreMessage));
    alert->addAction(ui::AlertAction::make("Restore", ui::AlertActionStyle::default_, [choose] { choose(true); }));
    alert->addAction(ui::AlertAction::make("Discard", ui::AlertActionStyle::destructive, [choose] { choose(false); }));
    // A window that is gone before it could ask keeps the stored record, so the next open asks.
    VORNPresenterUtility::present_on_main(presenter, [presenter, alert](bool ready) {
        if (ready && presenter) presenter->presentViewController(alert, true);
    });
}

void VornEditorJSConnector::open_session(std::shared_ptr<VornACEFileSessionsDataModel> record,
                                         std::shared_ptr<VornServerFileContentModel> content,
                                         ErrorCompletion completion) {
    auto complete = [completion](std::optional<VornError> e) {
        if (completion) completion(e);
    };
    auto* h = hub();
    if (!h) {
        report_error(app_error(Err::no_doc_int_manager));
        return;
    }
    if (!record) {
        if (!file_viewer()) return complete(app_error(Err::no_data));
        QPointer<VornEditorJSConnector> self(this);
        run_with_text(
            content->contents,
            [&](std::string_view url) { return editor_script::new_aces_editor_session_from(content->id, url, content->path); },
            [&] { return editor_script::new_aces_editor_session(content->id, content->contents, content->path); },
            [self, content, completion](nlohmann::json result, std::optional<VornError> e) {
                if (self) self->store_new_file_session(std::move(result), e, content, completion);
            });
        return;
    }

    select_page_session(record);
    auto presenter = [self = QPointer<VornEditorJSConnector>(this)](std::optional<VornError> e) {
        if (self) self->report_error(e);
    };
    if (record->json.empty()) {
        complete(app_error(Err::no_data));
        schedule_session_refresh(content, presenter);
        return;
    }
    auto state = json_scan::object_strings(record->json, {"value", "file_path"});
    if (state.shape == json_scan::Shape::invalid) {
        AMZLogger::shared().log_verbose("Do Catch Error session_info error: the stored session is not JSON");
        return complete(VornError::dataCorrupt("session_info"));
    }
    if (state.shape != json_scan::Shape::object || !state.strings[0] || !state.strings[1]) {
        return complete(app_error(Err::no_data));
    }
    auto& info = h->current_editor_info();
    // The stored text is written as it was read (a record of an older build: UTF-8); a file this
    // window shows read-only stays so.
    const bool lossy = info.file_bucket_id == content->id && info.text_lossy;
    info.file_bucket_id = content->id;
    info.file_path = content->path;
    apply_text_format(content->id, record->text_format.value_or(textcodec::TextFormat{}), lossy, info.first_bad_offset);
    auto bucket = editor_support::preview_bucket(*state.strings[1], std::move(*state.strings[0]));
    if (auto* preview = editorwk_to_previewwk_delegate.get()) preview->push_preview_content(bucket);
    schedule_session_refresh(content, presenter);
    complete(std::nullopt);
}

void VornEditorJSConnector::store_new_file_session(nlohmann::json result, std::optional<VornError> error,
                                                   std::shared_ptr<VornServerFileContentModel> content,
                                                   ErrorCompletion completion) {
    auto complete = [completion](std::optional<VornError> e) {
        if (completion) completion(e);
    };
    if (error) return complete(error);
    auto* viewer = file_viewer();
    if (!viewer) return complete(app_error(Err::no_data));
    auto record = std::make_shared<VornACEFileSessionsDataModel>();
    record->session_id = content->id;
    record->file_path = content->path;
    record->mime_type = mime_type_for_url(content->path);
    record->json = result.is_string() ? std::move(result.get_ref<std::string&>()) : std::string();
    remember_reported_state(record->session_id, record->json);
    record->ace_language.clear();
    record->undo_count = 0;
    record->server_version = content->server_version;
    record->text_format = content->text_format;
    // The page holds the text now: the downloaded copy becomes the document's base (a text whose
    // bytes did not all read is never written, and needs none).
    if (content->lossless) {
        record->base = std::make_shared<const VornDocumentBase>(
            VornDocumentBase{std::move(content->contents), content->text_format, content->server_version});
    }
    std::string().swap(content->contents);

    // One record per id: a stale one of the same file goes.
    if (auto sessions = sessions_of(viewer)) {
        std::erase_if(sessions->ace_file_sessions,
                      [&](const auto& s) { return s && s->session_id == content->id; });
    }

    QPointer<VornEditorJSConnector> self(this);
    QPointer<VornFileViewerSceneDelegateProtocol> weak_viewer(viewer);
    viewer->add_file_session(record, [self, weak_viewer, content, complete](std::optional<VornError> e) {
        if (!e && self) {
            reload_explorer(weak_viewer.data());
            self->page_sessions_.insert(content->id);
            if (auto* h = self->hub()) {
                auto& info = h->current_editor_info();
                info.file_bucket_id = content->id;
                info.file_path = content->path;
            }
            self->apply_text_format(content->id, content->text_format, !content->lossless, content->first_bad_offset);
            if (!content->lossless) self->tell_lossy(content->path, content->text_format, content->first_bad_offset);
            self->schedule_session_refresh(content, [self](std::optional<VornError> refresh_error) {
                if (self) self->report_error(refresh_error);
            });
        }
        complete(e);
    });
}

// ---- refresh ------------------------------------------------------------------------------------

void VornEditorJSConnector::schedule_session_refresh(std::shared_ptr<VornServerFileContentModel> content,
                                                     ErrorCompletion presenter) {
    QPointer<VornEditorJSConnector> self(this);
    dispatch::mainQueue().after(std::chrono::milliseconds(0), [self, content, presenter] {
        dispatch::mainQueue().async([self, content, presenter] {
            if (self) self->request_current_session(content, presenter);
        });
    });
}

void VornEditorJSConnector::request_current_session(std::shared_ptr<VornServerFileContentModel> content,
                                                    ErrorCompletion presenter) {
    auto present = [presenter](std::optional<VornError> e) {
        if (presenter) presenter(e);
    };
    auto* h = hub();
    if (!h) {
        AMZLogger::shared().log_verbose("HERE");
        return present(app_error(Err::no_doc_int_manager));
    }
    if (!h->editor_screen(is_compact)) {
        AMZLogger::shared().log_warn("Get editor controller return");
        return present(app_error(Err::no_data));
    }
    QPointer<VornEditorJSConnector> self(this);
    run_editor_js(editor_script::get_current_session(),
                  [self, content, present](nlohmann::json reply, std::optional<VornError> error) {
                      if (!self) return;
                      self->update_file_session(reply, error, [self, content, present](std::optional<VornError> e) {
                          if (!e) {
                              dispatch::mainQueue().async([self, content] {
                                  if (!self || !content) return;
                                  auto* h = self->hub();
                                  auto* screen = h ? h->editor_screen(self->is_compact) : nullptr;
                                  if (!screen) return;
                                  screen->update_window_title(content->path);
                                  screen->open_file_content(content);
                              });
                          }
                          present(e);
                      });
                  });
}

void VornEditorJSConnector::update_file_session(const nlohmann::json& reply, std::optional<VornError> error,
                                                ErrorCompletion completion) {
    auto complete = [completion](std::optional<VornError> e) {
        if (completion) completion(e);
    };
    if (error) return complete(error);
    auto session = editor_support::read_session_reply(reply);
    if (!session) return complete(std::nullopt);
    // The records live with the server's window: without it nothing can be stored, and the
    // caller hears so (a save waiting on this must not take "nothing to store" for success).
    auto* viewer = file_viewer();
    if (!viewer) return complete(app_error(Err::no_file_window));
    auto record = find_file_session(session->session_id);
    if (!record) return complete(std::nullopt);
    // The text and language follow the page; the stored undo count stays what was last written,
    // so the file still reads as changed until a write succeeds.
    record->json = std::move(session->json);
    record->ace_language = std::move(session->ace_language);
    remember_reported_state(record->session_id, record->json);
    viewer->save_service_session(completion);
}

// ---- saving -------------------------------------------------------------------------------------

void VornEditorJSConnector::save_current_file(SaveCompletion completion) {
    auto* h = hub();
    if (!h || !h->current_editor_info().file_bucket_id) {
        // No file reached this window: there is nothing to save.
        if (completion) completion(false, std::nullopt);
        return;
    }
    save_file_session(*h->current_editor_info().file_bucket_id, std::move(completion));
}

void VornEditorJSConnector::save_file_session(const std::string& file_id, SaveCompletion completion) {
    if (save_running_) {
        // Two writes of one file at once could end with the older text on the server while the
        // newer one is marked saved: this save runs after the running one.
        waiting_saves_.push_back({file_id, std::move(completion)});
        return;
    }
    save_running_ = true;
    QPointer<VornEditorJSConnector> self(this);
    write_page_session(file_id, [self, file_id, completion](bool written, std::optional<VornError> error) {
        if (self) self->save_running_ = false;
        if (self && written) self->kept_text_saved(file_id);
        if (completion) completion(written, error);
        if (!self) return;
        self->start_waiting_saves();
        if (self && !self->save_running_) {
            auto pending = std::exchange(self->decisions_after_saves_, {});
            for (auto& resume : pending) resume(static_cast<bool>(self));
        }
    });
}

void VornEditorJSConnector::start_waiting_saves() {
    if (save_running_ || waiting_saves_.empty()) return;
    auto waiting = std::exchange(waiting_saves_, {});
    // One write serves them all: it asks the page for its text now, the newest there is.
    const std::string file_id = waiting.back().file_id;
    save_file_session(file_id, [waiting](bool written, std::optional<VornError> error) {
        bool told = false;
        for (const auto& w : waiting) {
            if (!w.completion) continue;
            w.completion(written, told ? std::nullopt : error);
            told = told || error.has_value();
        }
    });
}

bool VornEditorJSConnector::file_viewer_serves_document(const VornFileViewerSceneDelegateProtocol* viewer) const {
    if (!viewer) return false;
    auto* h = hub();
    const auto& wanted = h ? h->current_editor_info().service_session_id : std::nullopt;
    // A window that names its server is served only while the file viewer is on that server.
    if (!wanted) return true;
    return viewer->service && viewer->service->id == *wanted;
}

void VornEditorJSConnector::write_page_session(const std::string& file_id, SaveCompletion completion) {
    if (ask_before_recreating(file_id, completion)) return;
    auto done = [completion](bool written, std::optional<VornError> e) {
        if (completion) completion(written, e);
    };
    // A save that cannot reach the file's server says so.
    auto* viewer = file_viewer();
    if (!viewer) return done(false, app_error(Err::no_file_window));
    if (!file_viewer_serves_document(viewer)) return done(false, app_error(Err::guardReturnNoFileProvider));
    if (!web_view) return done(false, app_error(Err::no_webview));
    // A file whose bytes do not all read as its encoding is never written from its text: the
    // bytes that did not read would be lost.
    if (auto* h = hub(); h && h->current_editor_info().text_lossy && h->current_editor_info().file_bucket_id == file_id) {
        const auto& info = h->current_editor_info();
        const std::string name = info.file_path ? files::path::forDisplay(files::path::lastComponent(*info.file_path))
                                                : std::string("This file");
        const std::string encoding = info.text_format ? textcodec::displayName(info.text_format->encoding) : std::string("UTF-8");
        return done(false, VornError::cocoa(4, "\u201C" + name + "\u201D was not saved: some of its bytes do not read as " +
                                                   encoding + ". Reopen it with an encoding that holds every byte.",
                                            "lossy_text"));
    }

    QPointer<VornEditorJSConnector> self(this);
    run_editor_js(editor_script::get_current_session(),
                  [self, file_id, done](nlohmann::json reply, std::optional<VornError> error) {
                      if (!self) return done(false, std::nullopt);
                      if (error) return done(false, error);
                      // The reply is read once, into the session the record keeps; only a session
                      // of this window's file is ever stored or written.
                      auto session = editor_support::take_session_reply(std::move(reply));
                      if (!session || session->session_id != file_id) return done(false, app_error(Err::no_data));
                      auto* viewer = self->file_viewer();
                      if (!viewer) return done(false, app_error(Err::no_file_window));
                      auto record = self->find_file_session(file_id);
                      if (!record) return done(false, app_error(Err::cannot_save_ace_file_session));

                      // The page's state goes into the record and the sessions file before the
                      // upload starts, so the text is on disk whatever becomes of the upload. The
                      // stored undo count stays: the file reads as changed until a write succeeds.
                      const int64_t count = session->undo_count;
                      record->ace_language = std::move(session->ace_language);
                      // The text to upload is read out of the state while the sessions file is
                      // written; the completion runs on the main queue, after this block.
                      auto text = std::make_shared<std::optional<std::string>>();
                      viewer->save_session_state(record, std::move(session->json),
                                                 [self, file_id, count, text, done](std::optional<VornError> e) {
                          if (!self) return done(false, std::nullopt);
                          if (e) return done(false, e);
                          // A state without its text is stored as the page gave it, and not uploaded.
                          if (!*text) return done(false, app_error(Err::no_data));
                          self->upload_page_text(file_id, count, std::move(**text), done);
                      });
                      *text = editor_support::session_value(record->json);
                      self->remember_reported_state(record->session_id, record->json);
                  });
}

void VornEditorJSConnector::upload_page_text(const std::string& file_id, int64_t count, std::string text,
                                             SaveCompletion completion) {
    auto done = [completion](bool written, std::optional<VornError> e) {
        if (completion) completion(written, e);
    };
    auto* viewer = file_viewer();
    if (!viewer) return done(false, app_error(Err::no_file_window));
    if (!file_viewer_serves_document(viewer) || !viewer->provider_as_read_write()) {
        return done(false, app_error(Err::guardReturnNoFileProvider));
    }
    auto record = find_file_session(file_id);
    if (!record) return done(false, app_error(Err::cannot_save_ace_file_session));
    // A save in another encoding (save_in_encoding) changes the file's format first.
    if (auto wanted = std::exchange(save_encoding_, std::nullopt)) {
        const textcodec::TextFormat format = record->text_format.value_or(textcodec::TextFormat{});
        if (*wanted != format.encoding) {
            textcodec::TextFormat other = format;
            other.encoding = *wanted;
            other.bom = *wanted == "UTF-16LE" || *wanted == "UTF-16BE";
            other.source = textcodec::TextFormat::Source::chosen;
            return switch_format_and_write(file_id, std::move(other), std::move(completion));
        }
    }
    // The text becomes the file's bytes before anything is sent: a character its encoding cannot
    // hold stops the save here, and the server's file stays as it was.
    SaveCompletion on_refusal = completion;
    bool asked = false;
    // The text written becomes the document's base once the server has it, and is what a merge
    // starts from when the server's copy changed meanwhile.
    auto written_text = std::make_shared<const std::string>(text);
    const textcodec::TextFormat written_format = record->text_format.value_or(textcodec::TextFormat{});
    auto bytes = bytes_to_write(file_id, std::move(text), on_refusal, asked);
    if (!bytes) {
        if (!asked) done(false, app_error(Err::no_data));
        return;
    }
    text = std::move(*bytes);
    // The text replaces the server's copy it was edited from, and no other: unless the user said
    // to overwrite, the write takes the version the record keeps (none for a record of an older
    // build: that write is not checked). A deleted file the user writes again is made anew, and
    // refused where somebody has made one of that name meanwhile (then the user is asked).
    auto* h = hub();
    // The mark of a deleted file lives with the window and with the session (over a restart).
    const bool recreating = (h && h->current_editor_info().removed_from_server) || record->removed_from_server;
    // The server's copy this write replaces, as far as it is known, goes to the history before
    // the write: the copy the user chose to overwrite, or the base's bytes; the version check
    // proves the server still holds them.
    std::optional<files::FileVersion> expected;
    std::optional<std::string> replaced;
    if (overwrite_consented_ && overwrite_over_) {
        expected = std::move(overwrite_over_->version);
        replaced = std::move(overwrite_over_->bytes);
    } else if (!overwrite_consented_ && !recreating && !record->server_version.empty()) {
        expected = record->server_version;
    }
    overwrite_over_.reset();
    const auto mode = recreating && !overwrite_consented_ ? files::WriteMode::createNew : files::WriteMode::replace;
    const bool checked = expected.has_value() || mode == files::WriteMode::createNew;
    if (!replaced && expected && record->base && record->base->version == *expected) replaced = record->base->bytes();
    QPointer<VornEditorJSConnector> self(this);
    QPointer<VornFileViewerSceneDelegateProtocol> weak_viewer(viewer);
    viewer->write_file_text_checked(record->file_path, std::move(text), mode, std::move(expected),
                                    [self, file_id, record, count, checked, weak_viewer, done, written_text,
                                     written_format](std::optional<files::FileVersion> version, std::optional<VornError> w) {
        // A failed write leaves the record as the sessions file has it: the page's text, still
        // marked changed. Nothing more is written. A copy changed or deleted on the server
        // meanwhile is the user's question.
        if (w) {
            if (version) {
                // A write cut half-way left another copy on the server: no longer the base.
                record->server_version = std::move(*version);
                record->base = nullptr;
            }
            if (checked && self && self->ask_about_server_copy(file_id, *w, done, written_text)) return;
            return done(false, w);
        }
        record->base = std::make_shared<const VornDocumentBase>(
            VornDocumentBase{*written_text, written_format, version.value_or(files::FileVersion{})});
        // Written: the page's count at the save is the saved state, and the version written
        // the one the next save expects. Only a mark that moved is written again (a save of
        // text saved before changes nothing the user made; its version goes into the sessions
        // file with the record's next write); the save is told first, as the server has the
        // text already, and the write snapshots the record as it is now.
        const bool marked = count > record->undo_count;
        if (marked) record->undo_count = count;
        if (version) record->server_version = std::move(*version);
        // Saved, unless the page changed again while the text travelled; the page's editor marks
        // the written text saved, so undoing back to it is unchanged.
        if (self) {
            self->set_has_changes_of(file_id);
            self->mark_saved_in_page(file_id, count);
        }
        done(true, std::nullopt);
        // A record that the save's completion removed (Save in "Unsaved Changes") is gone from
        // the file already.
        if (!marked || !weak_viewer || (self && self->find_file_session(file_id) != record)) return;
        weak_viewer->save_service_session();
    }, std::move(replaced));
}

bool VornEditorJSConnector::ask_before_recreating(const std::string& file_id, SaveCompletion& completion) {
    auto* h = hub();
    if (!h) return false;
    // The mark lives with the window and with the file's session, which keeps it over a restart.
    auto record = find_file_session(file_id);
    if (!h->current_editor_info().removed_from_server && !(record && record->removed_from_server)) return false;
    QPointer<VornEditorJSConnector> self(this);
    if (recreate_consented_) {
        recreate_consented_ = false;
        // Written again: the file is on the server once more.
        completion = [self, completion, record](bool written, std::optional<VornError> e) {
            if (written && self) {
                if (auto* hh = self->hub()) hh->current_editor_info().removed_from_server = false;
                if (record && record->removed_from_server) {
                    record->removed_from_server = false;
                    if (auto* viewer = self->file_viewer()) viewer->save_service_session();
                }
            }
            if (completion) completion(written, e);
        };
        return false;
    }
    const auto& path = h->current_editor_info().file_path;
    const std::string name = path ? files::path::forDisplay(files::path::lastComponent(*path)) : std::string("This file");
    const std::string message = "\u201C" + name + "\u201D was deleted from the server. Save it there again?";
    auto* screen = h->editor_screen(is_compact);
    QPointer<ui::ViewController> presenter = screen ? screen->editor_view_controller() : nullptr;
    auto answer = [self, file_id, completion, name](bool recreate) {
        if (!self || !recreate) {
            if (completion) completion(false, std::nullopt);
            return;
        }
        self->recreate_consented_ = true;
        self->write_page_session(file_id, completion);
    };
    if (!presenter) {
        // Nobody to ask: the file is not written again unasked.
        if (completion) {
            completion(false, VornError::cocoa(4, "\u201C" + name + "\u201D was deleted from the server and was not saved.",
                                               "file_removed"));
        }
        return true;
    }
    VORNPresenterUtility::present_on_main(presenter, [presenter, message, answer](bool ready) {
        if (!ready) return answer(false);
        VORNPresenterUtility::present_actions_alert(
            ready, kRemovedTitle, message,
            {{"Save", ui::AlertActionStyle::default_, true}, {"Cancel", ui::AlertActionStyle::cancel, false}}, answer,
            presenter);
    });
    return true;
}

void VornEditorJSConnector::follow_session_move(const std::string& old_id, const std::string& new_id,
                                                const std::string& new_path) {
    if (old_id == new_id) return;
    if (page_sessions_.erase(old_id)) page_sessions_.insert(new_id);
    // The kept copy goes by the file's new id.
    forget_kept_text(old_id);
    reported_states_.erase(old_id);
    reported_states_.erase(new_id);
    for (auto& waiting : waiting_saves_) {
        if (waiting.file_id == old_id) waiting.file_id = new_id;
    }
    if (web_view) {
        run_editor_js(editor_script::rename_session(old_id, new_id, new_path));
        keep_page_text();
    }
}

// ---- closing ------------------------------------------------------------------------------------

void VornEditorJSConnector::handle_close_reply(const nlohmann::json& reply, std::optional<VornError> error, bool force,
                                               CloseCompletion completion) {
    if (error) {
        report_error(error);
        return;
    }
    confirm_unsaved_changes(reply, force, std::move(completion));
}

void VornEditorJSConnector::confirm_unsaved_changes(const nlohmann::json& reply, bool force,
                                                    CloseCompletion completion) {
    auto session = editor_support::read_session_count(reply);
    auto record = session ? find_file_session(session->first) : nullptr;
    if (!record) {
        report_error(app_error(Err::cannot_close_session));
        return;
    }
    if (editor_support::holds_unsaved_changes(session->second, editor_support::reply_says_clean(reply), record->undo_count) &&
        !force) {
        show_unsaved_changes_alert(session->first, std::move(completion));
        return;
    }
    remove_record(session->first);
    close_editor_scene(true, std::move(completion));
}

void VornEditorJSConnector::show_unsaved_changes_alert(const std::string& session_id, CloseCompletion completion) {
    QPointer<VornEditorJSConnector> self(this);
    present_unsaved_changes_alert(
        [self, session_id, completion] {
            if (self) self->save_and_close(session_id, completion);
        },
        [self, session_id, completion] {
            if (self) self->discard_and_close(session_id, completion);
        },
        [self, completion] {
            if (self) self->close_editor_scene(false, completion);
        },
        nullptr);
}

void VornEditorJSConnector::present_unsaved_changes_alert(std::function<void()> save, std::function<void()> discard,
                                                          std::function<void()> cancel, std::function<void()> not_shown) {
    auto* h = hub();
    auto* screen = h ? h->editor_screen(is_compact) : nullptr;
    QPointer<ui::ViewController> presenter = screen ? screen->editor_view_controller() : nullptr;
    if (!presenter) {
        if (not_shown) not_shown();
        return;
    }

    QPointer<VornEditorJSConnector> self(this);
    // The question names its file: at a quit each changed window asks in turn.
    const std::string file = shown_file_name();
    const QString message = file.empty() ? QString::fromUtf8(kUnsavedMessage)
                                         : QString::fromUtf8(kUnsavedFileMessage).arg(QString::fromStdString(file));
    auto alert = ui::AlertController::make(QString::fromUtf8(kUnsavedTitle), message);
    alert->addAction(ui::AlertAction::make("Save", ui::AlertActionStyle::default_, std::move(save)));
    alert->addAction(ui::AlertAction::make("Discard", ui::AlertActionStyle::destructive, std::move(discard)));
    alert->addAction(ui::AlertAction::make("Cancel", ui::AlertActionStyle::cancel, std::move(cancel)));
    VORNPresenterUtility::present_on_main(presenter, [self, presenter, alert, not_shown](bool ready) {
        if (ready && presenter && presenter->presentViewController(alert, true)) {
            if (self) emit self->unsavedChangesAlertShown();
            return;
        }
        if (not_shown) not_shown();
    });
}

std::string VornEditorJSConnector::shown_file_name() const {
    auto* h = hub();
    if (!h) return {};
    const auto& info = h->current_editor_info();
    std::string path = info.file_path.value_or(std::string());
    if (info.file_bucket_id) {
        if (auto record = find_file_session(*info.file_bucket_id)) path = record->file_path;
    }
    return files::path::forDisplay(files::path::lastComponent(path));
}

struct VornEditorJSConnector::SaveNotice {
    bool settled = false;
    std::weak_ptr<ui::AlertController> alert;
    // The first call wins: true for it, and the alert (when it shows) goes away.
    bool settle() {
        if (settled) return false;
        settled = true;
        if (auto shown = alert.lock(); shown && shown->presentingViewController()) {
            shown->dismissViewControllerAnimated(true);
        }
        return true;
    }
};

void VornEditorJSConnector::decide_unsaved_changes(std::function<void(bool may_close)> decided) {
    auto decide = [decided](bool may_close) {
        if (decided) decided(may_close);
    };
    // A window without a page holds no text of the file.
    if (!web_view) return decide(true);
    QPointer<VornEditorJSConnector> self(this);
    if (save_running_ || !waiting_saves_.empty()) {
        auto notice = std::make_shared<SaveNotice>();
        decisions_after_saves_.push_back([self, notice, decide](bool connector_alive) {
            if (!notice->settle()) return;  // cancelled while the save ran
            if (!connector_alive || !self) return decide(true);
            self->decide_unsaved_changes(decide);
        });
        schedule_save_notice(notice, decide);
        return;
    }
    run_editor_js(editor_script::get_current_session(), [self, decide](nlohmann::json reply, std::optional<VornError> error) {
        if (!self) return decide(true);
        // A page without a current session (or one that cannot answer any more) holds no text
        // of the file; neither does a session without record: nothing could be saved from it.
        auto session = error ? std::nullopt : editor_support::read_session_count(reply);
        auto record = session ? self->find_file_session(session->first) : nullptr;
        if (!record ||
            !editor_support::holds_unsaved_changes(session->second, editor_support::reply_says_clean(reply), record->undo_count)) {
            return decide(true);
        }
        self->present_unsaved_changes_alert(
            [self, decide] {
                if (!self) return decide(false);
                auto notice = std::make_shared<SaveNotice>();
                self->save_current_file([self, decide, notice](bool written, std::optional<VornError> e) {
                    // A failed save keeps the window, with the error to tell why.
                    if (!written && self) self->report_error(e);
                    if (notice->settle()) decide(written);
                });
                self->schedule_save_notice(notice, decide);
            },
            [decide] { decide(true); },
            [decide] { decide(false); },
            // The alert cannot show when the editor screen has left its window: the window is
            // going anyway.
            [decide] { decide(true); });
    });
}

// Said once the save takes longer than a moment: a Quit right after an ordinary save sees no
// notice flash before the app goes. Cancel in the notice keeps the window (decides false).
void VornEditorJSConnector::schedule_save_notice(const std::shared_ptr<SaveNotice>& notice,
                                                 std::function<void(bool may_close)> decide) {
    QPointer<VornEditorJSConnector> self(this);
    dispatch::after(dispatch::mainQueue(), kSaveNoticeDelay, [self, notice, decide] {
        if (self && !notice->settled) self->present_save_notice(notice, [decide] { decide(false); });
    });
}

void VornEditorJSConnector::present_save_notice(const std::shared_ptr<SaveNotice>& notice,
                                                std::function<void()> cancel) {
    auto* h = hub();
    auto* screen = h ? h->editor_screen(is_compact) : nullptr;
    QPointer<ui::ViewController> presenter = screen ? screen->editor_view_controller() : nullptr;
    // Without the editor screen in a window there is nowhere to say it: the decision waits.
    if (!presenter) return;
    const std::string file = shown_file_name();
    const std::string name = file.empty() ? std::string("The file") : "\"" + file + "\"";
    auto alert = ui::AlertController::make(QString::fromUtf8(kSavingTitle),
                                           QString::fromUtf8(kSavingMessage).arg(QString::fromStdString(name)));
    alert->addAction(ui::AlertAction::make("Cancel", ui::AlertActionStyle::cancel, [notice, cancel] {
        if (notice->settle() && cancel) cancel();
    }));
    notice->alert = alert;
    VORNPresenterUtility::present_on_main(presenter, [presenter, alert, notice](bool ready) {
        // A save that ended before the alert could show needs no alert.
        if (ready && presenter && !notice->settled) presenter->presentViewController(alert, true);
    });
}

void VornEditorJSConnector::save_and_close(const std::string& session_id, CloseCompletion completion) {
    QPointer<VornEditorJSConnector> self(this);
    auto then_close = [self, completion](bool closed) {
        if (self) self->close_editor_scene(closed, completion);
    };
    // The same serialized save as the save command: a failed or unreadable reply, or a failed
    // write, keeps the editor open with the error shown.
    save_file_session(session_id, [self, session_id, then_close](bool written, std::optional<VornError> error) {
        if (!self) return;
        // A save the user called off (a deleted file not written again) keeps the editor open.
        if (!written) {
            if (error) self->report_error(error);
            return;
        }
        self->remove_session_after_save(std::nullopt, session_id, then_close);
    });
}

void VornEditorJSConnector::remove_session_after_save(std::optional<VornError> error, const std::string& session_id,
                                                      std::function<void(bool)> completion) {
    if (error) {
        report_error(error);
        return;
    }
    remove_record(session_id);
    if (completion) completion(true);
}

void VornEditorJSConnector::discard_and_close(const std::string& session_id, CloseCompletion completion) {
    remove_record(session_id);
    close_editor_scene(true, std::move(completion));
}

void VornEditorJSConnector::close_editor_scene(bool closed, CloseCompletion completion) {
    if (!closed) return;
    auto* h = hub();
    if (!h) {
        if (completion) completion(false);
        return;
    }
    auto& app = ui::Application::shared();
    if (app.supportsMultipleScenes()) {
        ui::Scene* scene = find_main_document_scene(app.connectedScenes());
        if (!scene || !scene->session()) return;
        app.requestSceneSessionDestruction(scene->session(), {}, nullptr);
    } else {
        auto* screen = h->editor_screen(h->uses_compact_editor());
        QPointer<ui::ViewController> editor = screen ? screen->editor_view_controller() : nullptr;
        dispatch::mainQueue().async([editor] {
            if (editor) editor->dismissViewControllerAnimated(true);
        });
    }
    if (completion) completion(true);
}

bool VornEditorJSConnector::holds_editor_of(ui::Scene* scene) const {
    if (!scene) return false;
    QList<QWidget*> editors;
    if (web_view) editors.push_back(web_view.data());
    if (auto* h = hub()) {
        for (bool compact : {false, true}) {
            auto* screen = h->editor_screen(compact);
            auto* controller = screen ? screen->editor_view_controller() : nullptr;
            if (controller && controller->viewIfLoaded()) editors.push_back(controller->viewIfLoaded());
        }
    }
    for (ui::Window* window : scene->windows()) {
        for (QWidget* editor : editors) {
            if (window && (window == editor || window->isAncestorOf(editor))) return true;
        }
    }
    return false;
}

ui::Scene* VornEditorJSConnector::find_main_document_scene(const QList<ui::Scene*>& scenes) const {
    ui::Scene* found = nullptr;
    for (ui::Scene* scene : scenes) {
        if (!scene || !scene_links().is_document_scene(scene) || !scene->session()) continue;
        const auto& name = scene->session()->configuration().name;
        if (!name || *name != QLatin1String(kMainConfiguration)) continue;
        if (!holds_editor_of(scene)) continue;
        found = scene;
    }
    return found;
}

// ---- copy -----------------------------------------------------------------------------------------

void VornEditorJSConnector::copy_selected_content(const nlohmann::json& reply, std::optional<VornError> error) {
    if (error || !editor_support::is_text_dictionary(reply) || !reply.contains("selected_content")) return;
    auto text = editor_script::decode_base64_text(reply["selected_content"].get<std::string>());
    if (!text) return;
    VornEditorWKWebView::put_on_pasteboard(text);
}
