#include "tandrel/editor/VornPreviewJSConnector.h"

#include "platform/dispatch/Dispatch.h"
#include "platform/web/WebView.h"
#include "tandrel/editor/DocumentInterfaceHub.h"
#include "tandrel/editor/VornEditorJSConnector.h"
#include "tandrel/editor/VornEditorJSConnectorSupport.h"
#include "tandrel/editor/VornPreviewContentBucket.h"
#include "tandrel/editor/WebViewController.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/JsonScan.h"

using Err = EnumManager::vorn_error_throws;

VornPreviewJSConnector::VornPreviewJSConnector(QObject* parent) : QObject(parent) {}

VornPreviewJSConnector::~VornPreviewJSConnector() = default;

void VornPreviewJSConnector::attach_web_view(web::WebView* view) {
    if (!view) return;
    web_view = view;
    QPointer<VornPreviewJSConnector> self(this);
    for (const auto& name : VornEditorJSConnector::message_handler_names()) {
        view->addMessageHandler(name, [self](const web::ScriptMessage& message) {
            if (self) self->handle_script_message(message);
        });
    }
}

void VornPreviewJSConnector::push_preview_content(std::shared_ptr<VornPreviewContentBucket> bucket) {
    ++contents_pushed_;
    if (!bucket || !bucket->content || !bucket->file_mime) {
        if (auto* display = error_delegatex.get()) display->present_error(editor_support::app_error(Err::no_data));
        return;
    }
    auto* hub = document_hub(scene_delegatex.data());
    WebViewController* screen = hub ? hub->preview_screen() : nullptr;
    if (*bucket->file_mime == "text/html") {
        if (screen) screen->show_preview();
        load_preview_html(*bucket->content);
    } else {
        if (screen) screen->show_no_preview(QString::fromStdString(*bucket->file_mime));
        load_preview_html(std::string());
    }
}

bool VornPreviewJSConnector::push_first_content_from_state(const std::string& session_json) {
    if (contents_pushed_ > 0 || session_json.empty()) return false;
    auto state = json_scan::object_strings(session_json, {"value", "file_path"});
    if (state.shape != json_scan::Shape::object || !state.strings[0] || !state.strings[1]) return false;
    push_preview_content(editor_support::preview_bucket(*state.strings[1], std::move(*state.strings[0])));
    return true;
}

void VornPreviewJSConnector::load_preview_html(const std::string& html) {
    QPointer<VornPreviewJSConnector> self(this);
    dispatch::mainQueue().async([self, html] {
        if (!self) return;
        if (!self->web_view) {
            if (auto* display = self->error_delegatex.get()) {
                display->present_error(editor_support::app_error(Err::no_webview));
            }
            return;
        }
        const std::pair<std::size_t, std::size_t> digest{html.size(), std::hash<std::string>{}(html)};
        if (self->shown_in_ == self->web_view && self->shown_ == digest) return;
        self->shown_ = digest;
        self->shown_in_ = self->web_view;
        ++self->preview_loads_;
        self->web_view->loadHtmlString(html);
    });
}

void VornPreviewJSConnector::handle_script_message(const web::ScriptMessage& message) {
    const auto& body = message.body;
    if (message.name == "log" && body.is_string()) {
        AMZLogger::shared().log_verbose("WKLOG PreviewWK " + body.get<std::string>());
        return;
    }
    if (message.name == "err" && body.is_string()) {
        AMZLogger::shared().log_error("WKERR PreviewWK " + body.get<std::string>());
        return;
    }
    if (body.is_object()) return;
    AMZLogger::shared().log_verbose("JS PreviewWK: Non Dict Message: " + body.dump());
}
