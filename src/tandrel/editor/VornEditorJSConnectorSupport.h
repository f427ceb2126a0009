#pragma once
// Readers and small values the editor connector shares between its files.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/VornError.h"

class VornPreviewContentBucket;
namespace web {
struct ScriptError;
}

namespace editor_support {

VornError app_error(EnumManager::vorn_error_throws::Case c);
// A script that threw (or could not run) in the page.
VornError script_error(const web::ScriptError& error);
// A "session_info" value that is neither an object nor an array.
VornError session_info_error();

// An object whose values are all text (an empty object is one).
bool is_text_dictionary(const nlohmann::json& value);

// A reply of "session_manager.get_current_session()" with all four members of the right type.
struct SessionReply {
    std::string session_id;
    std::string json;
    int64_t undo_count = 0;
    std::string ace_language;
    // The page's text is the one its editor marks saved (reply_says_clean).
    bool clean = false;
};
std::optional<SessionReply> read_session_reply(const nlohmann::json& reply);
// The same reading of a reply that is not needed afterwards: its texts move out of it uncopied
// (a session's "json" holds the whole text of the file).
std::optional<SessionReply> take_session_reply(nlohmann::json&& reply);

// Only "session_id" (text) and "undo_count" (integer), as the close decision reads them.
std::optional<std::pair<std::string, int64_t>> read_session_count(const nlohmann::json& reply);
// The optional "clean" member of a page reply or change report: true only when it is there and
// true (a page that does not say so has changes whenever its count is above the saved one).
bool reply_says_clean(const nlohmann::json& reply);
// Whether the page's text holds changes no write saved: its change count is above the count of
// the last successful write and its editor does not mark the text as the saved one (an undo
// back to the saved text counts up, but is clean).
inline bool holds_unsaved_changes(int64_t page_count, bool page_clean, int64_t saved_count) {
    return page_count > saved_count && !page_clean;
}

// The "value" text of a stored session state, when the state is an object that holds it.
std::optional<std::string> session_value(const std::string& session_json);

// Preview content for a document path and its text: the MIME type and extension come from the
// path.
std::shared_ptr<VornPreviewContentBucket> preview_bucket(const std::string& file_path, std::string text);

// The path a file id was made from (the id is Base64 of the path's bytes).
std::optional<std::string> path_of_file_id(const std::string& id);

}  // namespace editor_support
