// A document window as the site search reaches it: its editor's text, the spot of a match
// selected, and a Replace All's edits.
#include <algorithm>

#include "platform/dispatch/Dispatch.h"
#include "platform/web/WebView.h"
#include "tandrel/editor/DocumentInterfaceManager.h"
#include "tandrel/editor/EditorScripts.h"
#include "tandrel/editor/VornEditorJSConnector.h"
#include "tandrel/editor/VornEditorJSConnectorSupport.h"

void DocumentInterfaceManager::reveal_text(TextSpot spot) {
    VornEditorJSConnector* connector = visible_editor_connector();
    if (!ace_loaded || !connector) {
        pending_reveal_ = spot;
        return;
    }
    pending_reveal_.reset();
    connector->run_editor_js(editor_script::select_text(spot.row, spot.column, spot.length));
}

void DocumentInterfaceManager::file_shown() {
    if (auto spot = std::exchange(pending_reveal_, std::nullopt)) reveal_text(*spot);
}

void DocumentInterfaceManager::current_text(std::function<void(std::optional<std::string>)> done) {
    VornEditorJSConnector* connector = visible_editor_connector();
    const std::optional<std::string> file_id = my_current_editor_info.file_bucket_id;
    if (!ace_loaded || !connector || !connector->web_view || !file_id) {
        dispatch::mainQueue().async([done] { done(std::nullopt); });
        return;
    }
    connector->run_editor_js(editor_script::get_current_session(),
                             [done, file_id](nlohmann::json reply, std::optional<VornError> error) {
                                 std::optional<std::string> text;
                                 if (!error) {
                                     if (auto session = editor_support::take_session_reply(std::move(reply));
                                         session && session->session_id == *file_id) {
                                         text = editor_support::session_value(session->json);
                                     }
                                 }
                                 done(std::move(text));
                             });
}

void DocumentInterfaceManager::replace_spots(std::vector<std::pair<TextSpot, std::string>> edits,
                                             std::function<void(bool)> done) {
    VornEditorJSConnector* connector = visible_editor_connector();
    const std::optional<std::string> file_id = my_current_editor_info.file_bucket_id;
    if (!ace_loaded || !connector || !connector->web_view || !file_id || edits.empty()) {
        const bool nothing = edits.empty();
        dispatch::mainQueue().async([done, nothing] {
            if (done) done(nothing);
        });
        return;
    }
    std::sort(edits.begin(), edits.end(), [](const auto& a, const auto& b) {
        return std::tie(a.first.row, a.first.column) > std::tie(b.first.row, b.first.column);
    });
    // One script after another on the page: the last reply settles the whole.
    auto all_went_in = std::make_shared<bool>(true);
    const std::size_t last = edits.size() - 1;
    for (std::size_t i = 0; i < edits.size(); ++i) {
        const auto& [spot, text] = edits[i];
        connector->run_editor_js(
            editor_script::replace_text(*file_id, spot.row, spot.column, spot.length, text),
            [all_went_in, done, i, last](nlohmann::json reply, std::optional<VornError> error) {
                if (error || !reply.is_boolean() || !reply.get<bool>()) *all_went_in = false;
                if (i == last && done) done(*all_went_in);
            });
    }
}
