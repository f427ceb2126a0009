#include "tandrel/editor/VornEditorJSConnectorSupport.h"

#include "platform/web/WebView.h"
#include "tandrel/editor/VornPreviewContentBucket.h"
#include "tandrel/foundation/JsonScan.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"

#include <QByteArray>

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

// All four members are there with the right types.
bool read_session_reply_shape(const nlohmann::json& reply) {
    if (!reply.is_object()) return false;
    auto id = reply.find("session_id");
    auto json = reply.find("json");
    auto count = reply.find("undo_count");
    auto language = reply.find("ace_language");
    if (id == reply.end() || json == reply.end() || count == reply.end() || language == reply.end()) return false;
    return id->is_string() && json->is_string() && is_integer(*count) && language->is_string();
}
}  // namespace

std::optional<SessionReply> read_session_reply(const nlohmann::json& reply) {
    if (!read_session_reply_shape(reply)) return std::nullopt;
    return SessionReply{reply["session_id"].get<std::string>(), reply["json"].get<std::string>(),
                        reply["undo_count"].get<int64_t>(), reply["ace_language"].get<std::string>(),
                        reply_says_clean(reply)};
}

std::optional<SessionReply> take_session_reply(nlohmann::json&& reply) {
    if (!read_session_reply_shape(reply)) return std::nullopt;
    const bool clean = reply_says_clean(reply);
    return SessionReply{std::move(reply["session_id"].get_ref<std::string&>()),
                        std::move(reply["json"].get_ref<std::string&>()), reply["undo_count"].get<int64_t>(),
                        std::move(reply["ace_language"].get_ref<std::string&>()), clean};
}

std::optional<std::pair<std::string, int64_t>> read_session_count(const nlohmann::json& reply) {
    if (!reply.is_object()) return std::nullopt;
    auto id = reply.find("session_id");
    auto count = reply.find("undo_count");
    if (id == reply.end() || count == reply.end() || !id->is_string() || !is_integer(*count)) return std::nullopt;
    return std::make_pair(id->get<std::string>(), count->get<int64_t>());
}

bool reply_says_clean(const nlohmann::json& reply) {
    if (!reply.is_object()) return false;
    const auto clean = reply.find("clean");
    return clean != reply.end() && clean->is_boolean() && clean->get<bool>();
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

std::optional<std::string> path_of_file_id(const std::string& id) {
    const auto decoded = QByteArray::fromBase64Encoding(QByteArray::fromStdString(id), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty()) return std::nullopt;
    std::string path = decoded.decoded.toStdString();
    if (file_bucket_id_for_path(path) != id) return std::nullopt;
    return path;
}

}  // namespace editor_support
