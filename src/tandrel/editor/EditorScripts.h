#pragma once
// Every script the app sends to the editor page, as exact text. Ids and paths are spliced in as
// script string literal content (escaped), so a quote, a backslash or a line break in a file
// name can neither break the call nor run code of its own; texts travel as Base64 of their UTF-8
// bytes (standard alphabet, padded, no line breaks).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tandrel/foundation/EnumManager.h"

class VornEditorPreferencesDataModel;

namespace editor_script {

// Base64 of the UTF-8 bytes, and back (nothing for text that is not Base64, or whose bytes are
// not UTF-8).
std::string base64(std::string_view text);
std::optional<std::string> decode_base64_text(std::string_view b64);

std::string new_aces_editor_session(std::string_view file_id, std::string_view text, std::string_view path);
std::string set_current_session(std::string_view session_json);
// The same two calls with the text offered to the page as its bytes (WebView::offerDocument): in
// place of the Base64 argument stands the document URL the page reads the text from.
std::string new_aces_editor_session_from(std::string_view file_id, std::string_view document_url, std::string_view path);
std::string set_current_session_from(std::string_view document_url);
// The same call for a state the page itself reported (named by its "state_id"), which the page
// still holds: "dravix-state:<state_id>" stands in place of the state's text. The page answers
// kStateUnknown when it holds no such state (the state must then go as its text).
std::string set_current_session_reported(std::string_view state_id);
inline constexpr const char* kStateUnknown = "unknown_state";
// The "state_id" at the head of a state the page serialized ({"state_id":"<hex>",...}), or
// nothing for a state of another form (an older page's, or none).
std::optional<std::string> reported_state_id(std::string_view session_json);
std::string get_current_session();
std::string restart_session();
// A write saved the text the page session `file_id` had at change count `count`: the page marks
// that text saved (its reply: whether the session's text is the saved one now).
std::string mark_saved(std::string_view file_id, int64_t count);
// The page session `file_id` goes on as `new_file_id` for the file now at `new_path`.
std::string rename_session(std::string_view file_id, std::string_view new_file_id, std::string_view new_path);
// Replaces `length` UTF-16 units at `row`, `column` (from 0) of the page session `file_id` with
// `text`, within one line, as an edit the user sees (and can undo).
std::string replace_text(std::string_view file_id, std::size_t row, std::size_t column, std::size_t length,
                         std::string_view text);
// Replaces the whole text of the page session `file_id` with `text`, as one edit the user sees
// (and can undo), each line keeping its own line break; its reply: whether the session's text is
// now exactly `text`.
std::string set_text(std::string_view file_id, std::string_view text);
// Selects `length` UTF-16 units at `row`, `column` (from 0) of the editor's current session,
// scrolls them to the middle of the view and gives the editor the focus.
std::string select_text(std::size_t row, std::size_t column, std::size_t length);
// The editor takes no typing (a file whose bytes do not all read as its encoding), or takes it again.
std::string set_read_only(bool read_only);
std::string get_selected_content();
std::string insert_content(std::string_view text);
std::string send_content_to_preview();
std::string toggle_search(bool replace);
std::string beautify_code();
std::string set_soft_wrap(std::string_view value);
std::string set_theme(EnumManager::ace_editor_theme theme);
std::string set_show_gutter(bool visible);
std::string set_show_invisibles(bool visible);
std::string set_autocompletion(bool enabled);
// The Edit menu's commands in the page: undo and redo of its current session, selecting all of
// its text, and removing the selection (the second half of a cut, after its copy).
std::string undo();
std::string redo();
std::string select_all();
std::string remove_selection();

// The page value of a soft-wrap mode: "off", "free", "-1", or the custom width in decimal.
std::string soft_wrap_value(EnumManager::soft_wrap mode, int64_t custom_value);
std::string soft_wrap_value(const VornEditorPreferencesDataModel& preferences);

}  // namespace editor_script
