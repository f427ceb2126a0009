#include "tandrel/editor/EditorScripts.h"

#include <QByteArray>

#include "platform/web/JsString.h"
#include "tandrel/foundation/Jsonable.h"
#include "tandrel/foundation/VornEditorPreferencesDataModel.h"

namespace editor_script {

namespace {
std::string escaped(std::string_view text) { return web::jsStringEscape(text); }
const char* word(bool value) { return value ? "true" : "false"; }
}  // namespace

std::string base64(std::string_view text) {
    const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
    return bytes.toBase64().toStdString();
}

std::optional<std::string> decode_base64_text(std::string_view b64) {
    const QByteArray in(b64.data(), static_cast<qsizetype>(b64.size()));
    auto decoded = QByteArray::fromBase64Encoding(in, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) return std::nullopt;
    std::string text = decoded.decoded.toStdString();
    if (!is_valid_utf8(text)) return std::nullopt;
    return text;
}

std::string new_aces_editor_session(std::string_view file_id, std::string_view text, std::string_view path) {
    return "session_manager.new_aces_editor_session('" + escaped(file_id) + "', '" + base64(text) + "', '" +
           escaped(path) + "')";
}

std::string set_current_session(std::string_view session_json) {
    return "session_manager.set_current_session('" + base64(session_json) + "')";
}

std::string new_aces_editor_session_from(std::string_view file_id, std::string_view document_url, std::string_view path) {
    return "session_manager.new_aces_editor_session('" + escaped(file_id) + "', '" + escaped(document_url) + "', '" +
           escaped(path) + "')";
}

std::string set_current_session_from(std::string_view document_url) {
    return "session_manager.set_current_session('" + escaped(document_url) + "')";
}

std::string set_current_session_reported(std::string_view state_id) {
    return "session_manager.set_current_session('dravix-state:" + escaped(state_id) + "')";
}

std::optional<std::string> reported_state_id(std::string_view session_json) {
    constexpr std::string_view head = "{\"state_id\":\"";
    if (session_json.substr(0, head.size()) != head) return std::nullopt;
    const auto end = session_json.find('"', head.size());
    if (end == std::string_view::npos || end - head.size() < 16 || end - head.size() > 64) return std::nullopt;
    const std::string_view id = session_json.substr(head.size(), end - head.size());
    for (char c : id) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
    }
    return std::string(id);
}

std::string get_current_session() { return "session_manager.get_current_session()"; }
std::string restart_session() { return "session_manager.restart_session()"; }
std::string mark_saved(std::string_view file_id, int64_t count) {
    return "session_manager.mark_saved('" + escaped(file_id) + "', " + std::to_string(count) + ")";
}

std::string rename_session(std::string_view file_id, std::string_view new_file_id, std::string_view new_path) {
    return "session_manager.rename_session('" + escaped(file_id) + "', '" + escaped(new_file_id) + "', '" +
           escaped(new_path) + "')";
}
std::string replace_text(std::string_view file_id, std::size_t row, std::size_t column, std::size_t length,
                         std::string_view text) {
    return "session_manager.replace_text('" + escaped(file_id) + "', " + std::to_string(row) + ", " + std::to_string(column) +
           ", " + std::to_string(length) + ", '" + base64(text) + "')";
}
std::string set_text(std::string_view file_id, std::string_view text) {
    return "session_manager.set_text('" + escaped(file_id) + "', '" + base64(text) + "')";
}
std::string select_text(std::size_t row, std::size_t column, std::size_t length) {
    const std::string r = std::to_string(row), c = std::to_string(column), e = std::to_string(column + length);
    return "(function(){var R=ace.require('ace/range').Range;editor.gotoLine(" + std::to_string(row + 1) + "," + c +
           ",false);editor.selection.setSelectionRange(new R(" + r + "," + c + "," + r + "," + e +
           "));editor.centerSelection();editor.focus();return true;})()";
}
std::string set_read_only(bool read_only) { return std::string("editor.setReadOnly(") + word(read_only) + ");"; }
std::string get_selected_content() { return "session_manager.get_selected_content()"; }
std::string insert_content(std::string_view text) { return "main.insertContent('" + base64(text) + "')"; }
std::string send_content_to_preview() { return "main.send_content_to_preview()"; }
std::string toggle_search(bool replace) { return std::string("main.toggle_search(") + word(replace) + ");"; }
std::string beautify_code() { return "main.beautify_code()"; }
std::string undo() { return "editor.undo();"; }
std::string redo() { return "editor.redo();"; }
std::string select_all() { return "editor.selectAll();"; }
std::string remove_selection() {
    return "(function(){var r=editor.getSelectionRange();if(!r.isEmpty())editor.session.remove(r);"
           "editor.clearSelection();})();";
}
std::string set_soft_wrap(std::string_view value) { return "main.set_soft_wrap('" + escaped(value) + "')"; }

std::string set_theme(EnumManager::ace_editor_theme theme) {
    return "editor.setTheme(\"" + escaped(EnumManager::ace_path(theme)) + "\");";
}

std::string set_show_gutter(bool visible) {
    return std::string("editor.renderer.setShowGutter(") + word(visible) + ");";
}

std::string set_show_invisibles(bool visible) {
    return std::string("editor.renderer.setShowInvisibles(") + word(visible) + ");";
}

std::string set_autocompletion(bool enabled) {
    return std::string("editor.setOptions({ enableBasicAutocompletion: ") + word(enabled) +
           ", enableLiveAutocompletion: " + word(enabled) + " });";
}

std::string soft_wrap_value(EnumManager::soft_wrap mode, int64_t custom_value) {
    switch (mode) {
        case EnumManager::soft_wrap::off_sw: return "off";
        case EnumManager::soft_wrap::view_sw: return "free";
        case EnumManager::soft_wrap::print_sw: return "-1";
        case EnumManager::soft_wrap::custom: return std::to_string(custom_value);
    }
    return "off";
}

std::string soft_wrap_value(const VornEditorPreferencesDataModel& preferences) {
    return soft_wrap_value(preferences.soft_wrap, preferences.soft_wrap_custom_value);
}

}  // namespace editor_script
