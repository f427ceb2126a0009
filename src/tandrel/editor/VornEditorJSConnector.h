#pragma once
// The one way into and out of an editor page. Each editor web view of a document window has one
// connector: it sends the page scripts (run_editor_js), hears the page's messages under
// "scriptlog", "log", "msg" and "err", mirrors the page's editing sessions in the server's
// editing-sessions store, decides whether a file is changed, closes and saves files, and applies
// the editor preferences to the page.
//
// Every link is weak: the connector owns nothing; the document interface manager owns it.
// Main thread only: page messages and script replies arrive there, and run_editor_js moves the
// evaluation there from any thread. Completions run on the main thread.
//
// A file counts as changed when the page's undo count for its session is above the count stored
// in its record and the page's editor does not mark its text as the saved one. The stored count
// moves only when the record is made and after a successful write of the file, so a refresh or a
// failed upload never makes a changed file look saved; the page's mark (Ace's clean state) moves
// with the write too, so undoing back to the saved text, and only that, clears the change.
#include <QList>
#include <QObject>
#include <QPointer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/text/TextEncoding.h"
#include "platform/text/ThreeWayMerge.h"
#include "tandrel/editor/EditorJStoPreviewJSControllerProtocol.h"
#include "tandrel/editor/ProtocolLink.h"
#include "tandrel/editor/VornEditorWKWebViewProtocol.h"
#include "tandrel/foundation/VornError.h"
#include "tandrel/foundation/SceneDelegateProtocol.h"
#include "tandrel/foundation/VornErrorProtocol.h"
#include "tandrel/foundation/VornFileViewerSceneDelegateProtocol.h"

class DocumentInterfaceHub;
class VornKeepDebounce;
class VornACEFileSessionsDataModel;
struct VornDocumentBase;
class VornServerFileContentModel;
namespace ui {
class Scene;
class ViewController;
}
namespace web {
class WebView;
struct ScriptMessage;
}

class VornEditorJSConnector : public QObject, public VornEditorWKWebViewProtocol {
    Q_OBJECT
public:
    using ErrorCompletion = std::function<void(std::optional<VornError>)>;
    using CloseCompletion = std::function<void(bool closed)>;
    // A save's outcome: `written` after a successful write; otherwise the error to show, or
    // nothing when there was nothing to save (no document, no file viewer, no record).
    using SaveCompletion = std::function<void(bool written, std::optional<VornError> error)>;

    explicit VornEditorJSConnector(QObject* parent = nullptr);
    ~VornEditorJSConnector() override;

    // ---- links (all weak) ------------------------------------------------------------------
    bool is_compact = false;
    ProtocolLink<EditorJStoPreviewJSControllerProtocol> editorwk_to_previewwk_delegate;
    QPointer<SceneDelegateProtocol> scene_delegatex;
    QPointer<VornFileViewerSceneDelegateProtocol> file_delegatex;
    VornErrorLink error_delegatex;
    QPointer<web::WebView> web_view;

    // The handler names, in the order they are registered.
    static const std::vector<std::string>& message_handler_names();

    // ---- the bridge ------------------------------------------------------------------------
    // Wires the connector to an editor web view: the preview link from the document, the four
    // message handlers. Without a document ("No SD") nothing is registered.
    void attach_web_view(web::WebView* view);
    // Stops the view loading and removes its user scripts and message handlers.
    void detach_web_view(web::WebView* view);
    // Queues the script's evaluation on the main queue. Without a web view the script and its
    // completion are dropped (warning "run_editor_js missing wk").
    void run_editor_js(const std::string& script, EditorScriptCompletion completion = nullptr) override;
    // One page message, dispatched by name and body.
    void handle_script_message(const web::ScriptMessage& message);
    // "session_manager.set_current_session(...)" with the session's stored state; the state
    // reaches the page as its bytes (offered to this page alone), not inside the script.
    void select_page_session(const std::string& session_json);
    // The same for a record's state. A state this page reported and still holds goes by its name
    // alone (the page has its text); should the page no longer hold it, the text follows.
    void select_page_session(const std::shared_ptr<VornACEFileSessionsDataModel>& record);
    // Presents the error (when there is one) through the error display.
    void report_error(std::optional<VornError> error);

    // ---- sessions ----------------------------------------------------------------------------
    // The record of the session with that id among the file viewer's server's sessions.
    std::shared_ptr<VornACEFileSessionsDataModel> find_file_session(const std::string& session_id) const;
    // Makes the content's file the page's current session. `error` is the outcome of storing the
    // outgoing session: an error is handed straight to the completion. A record of the same id
    // that this page did not make (left by an earlier window or launch) is stale: the downloaded
    // text replaces it, so old text is never shown or saved over newer text on the server;
    // unless it holds changes the server's text lacks, when the user is asked first: "Restore"
    // (the stored text goes into the page, still marked changed) or "Discard" (the server's).
    void open_editor_session(std::optional<VornError> error, std::shared_ptr<VornServerFileContentModel> content,
                             ErrorCompletion completion);
    // Refreshes the record from the page after the scripts queued now, then reopens the file in
    // the editor screen; failures go to the presenter.
    void schedule_session_refresh(std::shared_ptr<VornServerFileContentModel> content, ErrorCompletion presenter);
    void request_current_session(std::shared_ptr<VornServerFileContentModel> content, ErrorCompletion presenter);
    // Stores a "session_manager.get_current_session()" reply (its "json" and "ace_language") in
    // the session's record and saves the server's sessions. A script error goes to the
    // completion; a reply that is not a session, or a session without record, completes with no
    // error and changes nothing. Without a file viewer nothing is stored and the completion is
    // told `no_file_window`. The completion runs once on every path.
    void update_file_session(const nlohmann::json& reply, std::optional<VornError> error,
                             ErrorCompletion completion = nullptr);

    // Saves the page's current file to the server: asks the page for its session and reads the
    // reply once (the session and its "value" text), stores the session in its record and writes
    // the sessions file, then hands (path, text) to the file viewer. A reply that is not a
    // session of the window's file is `no_data`, and nothing is written. After a successful write
    // the record's stored undo count becomes the page's count at the time of the save; only then,
    // and only when that count moved, is the sessions file written again. A failed write writes
    // nothing more: the record keeps the page's text, still marked changed.
    // A save that cannot reach the file's server (its file-viewer window gone, or serving another
    // server now) completes with the error to show, never with nothing.
    // One save of the file runs at a time: a save asked for while one runs waits for it, then
    // asks the page again, so the newest text is written last; saves asked for while one waits
    // share that one write (the first of them is told its error, when there is one).
    void save_current_file(SaveCompletion completion);
    // Whether a save waits for the running one.
    bool save_waiting() const { return !waiting_saves_.empty(); }

    // ---- closing -------------------------------------------------------------------------------
    // The close decision on a "session_manager.get_current_session()" reply: a script error is
    // presented; otherwise confirm_unsaved_changes.
    void handle_close_reply(const nlohmann::json& reply, std::optional<VornError> error, bool force,
                            CloseCompletion completion);
    // Asks "Unsaved Changes" when the page's count is above the stored one (unless forced);
    // otherwise drops the record and closes the editor.
    void confirm_unsaved_changes(const nlohmann::json& reply, bool force, CloseCompletion completion);
    // The decision of a window that closes with its server (the server window closes,
    // disconnects or switches to another server), asked while the connection is still up: an
    // unchanged file needs none; a changed one asks "Unsaved Changes". `decided` runs once: true
    // when the window may close (unchanged, "Discard", or "Save" wrote the file), false when it
    // stays ("Cancel", or the save failed and its error shows). Nothing is removed or closed here.
    // A save on its way is waited for first, so a Quit right after Save asks nothing when the
    // save wrote everything. While the decision waits for a save (one on its way, or the one
    // "Save" started), "Save in Progress" says so after a moment, and its Cancel keeps the window (the
    // save goes on, the page keeps its text): a server that does not answer holds a save for
    // as long as the connection's timeouts allow.
    void decide_unsaved_changes(std::function<void(bool may_close)> decided);
    // Drops the file's record and the page's claim on it (a closed file; no file viewer: no_data).
    void remove_record(const std::string& session_id);
    // The alert's actions.
    void save_and_close(const std::string& session_id, CloseCompletion completion);
    void discard_and_close(const std::string& session_id, CloseCompletion completion);
    // After the write of save_and_close: an error is presented and the editor stays open;
    // otherwise the record goes and the editor closes.
    void remove_session_after_save(std::optional<VornError> error, const std::string& session_id,
                                   std::function<void(bool)> completion);
    void after_file_session_removed(std::optional<VornError> error);
    // Closes the document window that holds this editor (or, in a single-window app, dismisses
    // the visible editor screen), then completes with true. Nothing for `closed` false.
    void close_editor_scene(bool closed, CloseCompletion completion);
    // The document window ("Main Configuration", DocumentScene) among the scenes that holds this
    // connector's editor; never another document's window, whichever is key.
    ui::Scene* find_main_document_scene(const QList<ui::Scene*>& scenes) const;

    // ---- copy and paste ------------------------------------------------------------------------
    void copy_selected_content(const nlohmann::json& reply, std::optional<VornError> error) override;

    // ---- preferences ---------------------------------------------------------------------------
    // Sends the saved preferences to the page: gutter, autocompletion and soft wrap, then the
    // theme and the invisibles (so a new page shows the saved theme, not the default one).
    void apply_preferences();

    // ---- the file renamed on the server ----------------------------------------------------------
    // The page session `old_id` goes on as `new_id` for the file now at `new_path` (its text,
    // changes and undo history stay); what this connector knows of the old id moves along.
    void follow_session_move(const std::string& old_id, const std::string& new_id, const std::string& new_path);
    void set_show_gutter(bool visible);
    void set_show_invisibles(bool visible);

    // The titles of the unsaved-changes alert.
    static constexpr const char* kUnsavedTitle = "Unsaved Changes";
    static constexpr const char* kUnsavedMessage = "Do you want to save your changes?";
    // The same for a file with a name: %1 is the file's name as listed.
    static constexpr const char* kUnsavedFileMessage = "Do you want to save your changes to \u201C%1\u201D?";
    // The title of the notices about a file deleted on the server while it is open.
    static constexpr const char* kRemovedTitle = "File Deleted";
    // The title of the question asked when a save finds the server's copy changed by someone else.
    static constexpr const char* kChangedTitle = "File Changed";
    // The question asked when a file opens over stored changes that never reached the server.
    // How long a decision waits for a save before "Save in Progress" shows.
    static constexpr std::chrono::milliseconds kSaveNoticeDelay{1000};
    // The alert shown while a close decision waits for a save.
    static constexpr const char* kSavingTitle = "Save in Progress";
    static constexpr const char* kSavingMessage =
        "%1 is still being saved to the server. The window closes once the save has finished.";
    static constexpr const char* kRestoreTitle = "Restore Unsaved Changes?";
    static constexpr const char* kRestoreMessage =
        "This file has changes from an earlier session that were never saved to the server. Restore them, "
        "or discard them and open the server's version?";
    // True when the record's stored page state counts changes that no write saved and its text
    // differs from the server's.
    static bool stored_edit_missing_from(const VornACEFileSessionsDataModel& record, const std::string& server_text);

    // ---- unsaved text kept on disk (VornEditorJSConnector+Keep.cpp) -------------------------------
    // While the page's file holds changes no write saved, its state is kept on disk
    // (VornUnsavedTextKeeper) within two seconds of a change; a save or a discard removes it.
    // The page said its text changed: the page is asked for it after the keeper's delay.
    void note_page_change();
    // Asks the page for its current session now: a changed file's state is kept, a saved one's
    // kept copy goes.
    void keep_page_text();
    // The file's kept copy goes (a discard, or a close), and a keep still to come with it.
    void forget_kept_text(const std::string& session_id);
    // A write of the file succeeded: its record's count is the saved one now.
    void kept_text_saved(const std::string& session_id);

    // ---- the text's encoding (VornEditorJSConnector+Encoding.cpp) -------------------------------
    // The file's text is read and written in `format` (its session record keeps it for the
    // saves, the window for its bar and preview). `lossy`: some of the file's bytes (the first at
    // `first_bad`) do not read as that encoding; the page takes no typing and saves are refused
    // until the file is reopened in an encoding that holds them all.
    void apply_text_format(const std::string& session_id, const textcodec::TextFormat& format, bool lossy,
                           std::optional<std::size_t> first_bad = std::nullopt);
    // The page shows `content` in place of its session of that file (the file reopened in another
    // encoding): the session, its record and its kept text start anew, with no changes.
    void reopen_session(std::shared_ptr<VornServerFileContentModel> content, ErrorCompletion completion);
    // How many times the file's session was replaced by a reopen: a selection of the file's record
    // asked for before a reopen is stale once this has moved (it would put the old text back).
    uint64_t reopen_count(const std::string& session_id) const {
        const auto it = reopen_counts_.find(session_id);
        return it == reopen_counts_.end() ? 0 : it->second;
    }
    // Saves the window's file in `encoding` (a WHATWG name) from now on: the file's declaration,
    // when it has one, is changed to name it in the page (an edit the user sees), then the save
    // runs as the save command's does. A character the encoding cannot hold is asked about as in
    // any save.
    void save_in_encoding(const std::string& encoding, SaveCompletion completion);
    // A copy from the file's history goes into the page as one edit (which saves like any other);
    // a failure is told on the editor screen.
    void restore_text(const std::string& file_id, std::string text);
    // The alert of a save refused for a character the file's encoding cannot hold; its actions.
    static constexpr const char* kUnencodableTitle = "Cannot Save in This Encoding";
    static constexpr const char* kSaveAsUtf8 = "Save as UTF-8";
    // The alert that tells a file opened read-only because its bytes do not all read.
    static constexpr const char* kLossyTitle = "Opened Read-Only";

signals:
    // The unsaved-changes alert was presented (for observers such as tests).
    void unsavedChangesAlertShown();

private:
    DocumentInterfaceHub* hub() const;
    // Runs the script `script_for` makes for a text: with the text offered to the page as its
    // bytes and the document URL in the script (withdrawn once the script ran), or, without a
    // page to offer it to, with its Base64.
    void run_with_text(std::string_view text, const std::function<std::string(std::string_view url)>& by_url,
                       const std::function<std::string()>& by_base64, EditorScriptCompletion completion);
    VornFileViewerSceneDelegateProtocol* file_viewer() const;
    // Opens the content in the page: from the record's stored state, or as a new session.
    void open_session(std::shared_ptr<VornACEFileSessionsDataModel> record,
                      std::shared_ptr<VornServerFileContentModel> content, ErrorCompletion completion);
    // open_session for a record whose unsaved changes come back: the window is marked changed.
    void open_restored_session(std::shared_ptr<VornACEFileSessionsDataModel> record,
                               std::shared_ptr<VornServerFileContentModel> content, ErrorCompletion completion);
    void ask_restore_or_discard(std::shared_ptr<VornServerFileContentModel> content, ErrorCompletion completion);
    void store_new_file_session(nlohmann::json result, std::optional<VornError> error,
                                std::shared_ptr<VornServerFileContentModel> content, ErrorCompletion completion);
    void show_unsaved_changes_alert(const std::string& session_id, CloseCompletion completion);
    // The name of the window's file as the file list shows it (empty when there is none).
    std::string shown_file_name() const;
    // Presents "Unsaved Changes" with its three actions; `not_shown` when it cannot be.
    void present_unsaved_changes_alert(std::function<void()> save, std::function<void()> discard,
                                       std::function<void()> cancel, std::function<void()> not_shown);
    bool holds_editor_of(ui::Scene* scene) const;
    // The serialized save of the window's file (`file_id`), and the one write it runs.
    void save_file_session(const std::string& file_id, SaveCompletion completion);
    void write_page_session(const std::string& file_id, SaveCompletion completion);
    // The save's upload of the page's text, once the sessions file holds the page's state; a
    // successful write moves the stored undo count up to `count`.
    void upload_page_text(const std::string& file_id, int64_t count, std::string text, SaveCompletion completion);
    void start_waiting_saves();
    // A file deleted on the server since it was opened is written there again only when the user
    // says so: true when the save waits for that answer (the completion then runs once, after it;
    // "Cancel" is a save that wrote nothing, without error). `consented` is the answer given.
    bool ask_before_recreating(const std::string& file_id, SaveCompletion& completion);
    bool recreate_consented_ = false;
    // A save whose check found the server's copy changed (or gone, the error of a checked
    // write): the user is asked, "Overwrite" or "Cancel" (deleted: as ask_before_recreating).
    // Changed, with the document's base known and `editor_text` the text the save wrote, the
    // server's copy is read and merged three ways first (see +Conflict): the question then also
    // offers "Merge" when the merge is clean. Nothing is written before the answer. True when the
    // save waits for that answer; the completion then runs once, after it.
    bool ask_about_server_copy(const std::string& file_id, const VornError& error, SaveCompletion completion,
                               std::shared_ptr<const std::string> editor_text = nullptr);
    // The server's copy read after a save met another change (its text read in the base's format,
    // its version), and the merge of the editor's text with it from the base; no copy when it
    // could not be read as text.
    struct ServerCopyMerge {
        files::Bytes bytes;
        files::FileVersion version;
        std::shared_ptr<const VornDocumentBase> copy;  // none: not text in the base's format
        textmerge::ThreeWayMerge merge;                // run when there is a base and a copy
        std::shared_ptr<const std::string> editor_text;
    };
    // "Compare…": the server's copy beside `start` (the merge) in the comparison sheet, whose
    // server's changes are found against `editor_text`; its Save goes the way of
    // save_merged_text, its Cancel writes nothing.
    void compare_with_server_copy(const std::string& file_id, std::shared_ptr<const VornDocumentBase> server_copy,
                                  std::string editor_text, std::string start, SaveCompletion completion);
    static constexpr const char* kCompareAnswer = "Compare\u2026";
    // Reads the server's copy of the record's file and merges with it when the document has a
    // base; `done` runs once on the main thread (nothing: not read; `gone`: the file is gone from
    // the server).
    void merge_with_server_copy(const std::string& file_id, std::shared_ptr<const std::string> editor_text,
                                std::function<void(std::optional<ServerCopyMerge>, bool gone)> done);
    // "File Changed": Cancel, Overwrite, and Merge when `merged` is clean.
    void ask_changed_on_server(const std::string& file_id, const std::string& message,
                               std::optional<ServerCopyMerge> merged, SaveCompletion completion);
    // "Merge": the merged text goes into the page as an edit, and the page's text is saved at
    // once, checked against the server's copy that was merged (which is the base from now on).
    void save_merged_text(const std::string& file_id, std::shared_ptr<const VornDocumentBase> server_copy,
                          std::string merged, SaveCompletion completion);
    // The page session's whole text replaced by `text`, as one edit the user can undo; `done`
    // runs once, with an error when the page did not take it.
    void put_text_in_page(const std::string& file_id, std::string text, std::function<void(std::optional<VornError>)> done);
    // "Overwrite" was the answer: the save it starts writes over the server's copy the user was
    // asked about (checked against it, and that copy kept in the history first), or, when that
    // copy could not be read, without the check.
    bool overwrite_consented_ = false;
    struct ReadServerCopy {
        files::FileVersion version;
        files::Bytes bytes;
    };
    std::optional<ReadServerCopy> overwrite_over_;
    // The file's server as this document knows it is still the file viewer's server.
    bool file_viewer_serves_document(const VornFileViewerSceneDelegateProtocol* viewer) const;

    // The text to write for the record's file, in its format; a character the format cannot
    // hold is the user's question (true: the save waits for the answer, and `completion` runs
    // once after it) or, with nobody to ask, the save's error.
    std::optional<std::string> bytes_to_write(const std::string& file_id, std::string text, SaveCompletion& completion,
                                              bool& asked);
    // The record's file is written in `format` from now on: its declaration changed in the page
    // to name the new encoding (when it names another), then the page's text is written again.
    void switch_format_and_write(const std::string& file_id, textcodec::TextFormat format, SaveCompletion completion);
    // The encoding the next save writes in (save_in_encoding), taken by that save.
    std::optional<std::string> save_encoding_;
    // Tells the user once that the window's file opened read-only.
    void tell_lossy(const std::string& path, const textcodec::TextFormat& format, std::optional<std::size_t> first_bad);

    // The window's file has changes no save wrote (the page's count above the stored one, and
    // its editor not back at the saved text): `has_changes` of the document, and the window's mark.
    void set_has_changes(bool changed);
    // The same, decided for the session from its record and the page's latest report (nothing
    // when it is not the window's file).
    void set_has_changes_of(const std::string& session_id);
    // Tells the page that a write saved the session's text of change count `count` (or, for a
    // session rebuilt from its stored state, that the record's count is the saved one); the
    // page's answer (whether its text is the saved one now) updates the window's mark.
    void mark_saved_in_page(const std::string& session_id, int64_t count);
    // The page's latest change count of each session, and whether its editor marked that text
    // saved, as the page reported them.
    struct PageCount {
        int64_t count = 0;
        bool clean = false;
    };
    std::map<std::string, PageCount> page_counts_;
    std::map<std::string, uint64_t> reopen_counts_;

    // Sessions this page was given (made or selected) while the window lives.
    std::set<std::string> page_sessions_;
    // The state this page last reported for each session, as stored in its record: its
    // "state_id" and the size of its text.
    struct ReportedState {
        std::string state_id;
        std::size_t bytes = 0;
    };
    std::map<std::string, ReportedState> reported_states_;
    void remember_reported_state(const std::string& session_id, const std::string& session_json);
    // The "state_id" of the record's state when this page reported that very state.
    std::optional<std::string> reported_by_page(const VornACEFileSessionsDataModel& record) const;
    // A save is running; saves asked for meanwhile wait here.
    struct WaitingSave {
        std::string file_id;
        SaveCompletion completion;
    };
    bool save_running_ = false;
    std::vector<WaitingSave> waiting_saves_;
    // Close decisions asked for while a save was on its way: resumed once the saves are done
    // (true), to decide on what the saves left unsaved, or when the connector goes (false),
    // which lets them close.
    std::vector<std::function<void(bool connector_alive)>> decisions_after_saves_;
    // "Save in Progress" for a decision that waits for a save; `cancel` runs when the user
    // chooses Cancel before the save ends. Whichever comes first settles the notice.
    struct SaveNotice;
    void schedule_save_notice(const std::shared_ptr<SaveNotice>& notice, std::function<void(bool may_close)> decide);
    void present_save_notice(const std::shared_ptr<SaveNotice>& notice, std::function<void()> cancel);

    // The server whose files this editor keeps (the file viewer's, else the document's).
    std::optional<std::string> kept_service_id() const;
    std::unique_ptr<VornKeepDebounce> keep_debounce_;
    // Raised by every forget: a page reply asked for before it keeps nothing.
    uint64_t keep_generation_ = 0;
    // The page's count in the latest kept copy of each session.
    std::map<std::string, int64_t> kept_counts_;
};
