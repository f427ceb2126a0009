#include "tandrel/editor/VornEditorJSConnectorSupport.h"

#include "platform/web/WebView.h"
#include "tandrel/editor/VornPreviewContentBucket.h"
#include "tandrel/foundation/JsonScan.h"
#include "tandrel/foundation/TandrelExtensions.h"

namespace editor_support {

VornError app_error(EnumManager::vorn_error_throws::Case c) { return EnumManager::vorn_error_throws(c); }

VornError script_error(const web::ScriptError& error) {
    return VornError{"WKErrorDomain", 4, "A JavaScript exception occurred: " + error.message,
                     "javaScriptExceptionOccurred"};
}

VornError session_info_error() {
    return VornError::dataCorrupt("session_info", "The editor's session information could not be read.");
}

bool is_text_dictionary(const nlohmann::json& value) {
    if (!value.is_object()) return false;
    for (const auto& member : value) {
        if (!member.is_string()) return false;
    }
    return true;
}

namespace {
bool is_integer(const nlohmann::json& v) { return v.is_number_integer(); }
}  // namespace

std::optional<SessionReply> read_session_reply(const nlohmann::json& reply) {
    if (!reply.is_object()) return std::nullopt;
    auto id = reply.find("session_id");
    auto json = reply.find("json");
    auto count = reply.find("undo_count");
    auto language = reply.find("ace_language");
    if (id == reply.end() || json == reply.end() || count == reply.end() || language == reply.end()) return std::nullopt;
    if (!id->is_string() || !json->is_string() || !is_integer(*count) || !language->is_string()) return std::nullopt;
    return SessionReply{id->get<std::string>(), json->get<std::string>(), count->get<int64_t>(),
                        language->get<std::string>()};
}

std::optional<std::pair<std::string, int64_t>> read_session_count(const nlohmann::json& reply) {
    if (!reply.is_object()) return std::nullopt;
    auto id = reply.find("session_id");
    auto count = reply.find("undo_count");
    if (id == reply.end() || count == reply.end() || !id->is_string() || !is_integer(*count)) return std::nullopt;
    return std::make_pair(id->get<std::string>(), count->get<int64_t>());
}

std::optional<std::string> session_value(const std::string& session_json) {
    auto state = json_scan::object_strings(session_json, {"value"});
    if (state.shape != json_scan::Shape::object) return std::nullopt;
    return std::move(state.strings[0]);
}

std::shared_ptr<VornPreviewContentBucket> preview_bucket(const std::string& file_path, std::string text) {
    auto bucket = std::make_shared<VornPreviewContentBucket>();
    bucket->content = std::move(text);
    bucket->file_mime = mime_type_for_url(file_path);
    bucket->file_type = path_extension(file_path);
    return bucket;
}

}  // namespace editor_support
