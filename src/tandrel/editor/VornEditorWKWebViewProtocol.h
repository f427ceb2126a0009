#pragma once
// The editor web view's link to its connector (`editor_wv_delegatex`): the web view's copy and
// paste go through the page. Adopted by VornEditorJSConnector.
#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "tandrel/foundation/VornError.h"

// A script's outcome: its value as JSON (null for none) or the error it ended with.
using EditorScriptCompletion = std::function<void(nlohmann::json result, std::optional<VornError> error)>;

class VornEditorWKWebViewProtocol {
public:
    virtual ~VornEditorWKWebViewProtocol() = default;
    virtual void run_editor_js(const std::string& script, EditorScriptCompletion completion = nullptr) = 0;
    // The reply handler of the copy script: puts the selected text on the pasteboard.
    virtual void copy_selected_content(const nlohmann::json& reply, std::optional<VornError> error) = 0;
};
