#include "tandrel/editor/VornPreviewJSConnector.h"

#include "platform/dispatch/Dispatch.h"
#include "platform/files/RemotePath.h"
#include "platform/web/WebView.h"
#include "tandrel/editor/DocumentInterfaceHub.h"
#include "tandrel/editor/VornEditorJSConnector.h"
#include "tandrel/editor/VornEditorJSConnectorSupport.h"
#include "tandrel/editor/VornPreviewContentBucket.h"
#include "tandrel/editor/VornPreviewSite.h"
#include "tandrel/editor/WebViewController.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/JsonScan.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/foundation/VornCurrentEditorStateInfo.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"

using Err = EnumManager::vorn_error_throws;

namespace {

// Restyles the page with the current text of one style sheet (its site path, decoded): each
// <link> to it is replaced once the new one has loaded, and each @import of it is imported
// again; the page is not reloaded. The value: how many were replaced.
std::string restyle_script(const std::string& site_path) {
    return R"JS((function (target) {
  var stamp = String(Date.now());
  function named(href, base) {
    try {
      var u = new URL(href, base || location.href);
      return u.origin === location.origin && decodeURIComponent(u.pathname) === target ? u : null;
    } catch (e) { return null; }
  }
  var hits = 0;
  document.querySelectorAll('link[rel~="stylesheet"][href]').forEach(function (link) {
    var u = named(link.href);
    if (!u) return;
    u.searchParams.set("dravix-restyle", stamp);
    var fresh = link.cloneNode();
    fresh.href = u.href;
    fresh.onload = fresh.onerror = function () { link.remove(); };
    link.after(fresh);
    hits++;
  });
  function walk(sheet) {
    var rules;
    try { rules = sheet.cssRules; } catch (e) { return; }
    for (var i = 0; i < rules.length; i++) {
      var rule = rules[i];
      if (!(rule instanceof CSSImportRule)) continue;
      var u = named(rule.href, sheet.href);
      if (u) {
        u.searchParams.set("dravix-restyle", stamp);
        var media = rule.media.mediaText;
        sheet.deleteRule(i);
        sheet.insertRule('@import url("' + u.href + '")' + (media ? " " + media : "") + ";", i);
        hits++;
      } else if (rule.styleSheet) {
        walk(rule.styleSheet);
      }
    }
  }
  for (var k = 0; k < document.styleSheets.length; k++) walk(document.styleSheets[k]);
  return hits;
})()JS" + nlohmann::json(site_path).dump() + ")";
}

bool is_style_sheet(const std::string& path) { return mime_type_for_url(path) == "text/css"; }

}  // namespace

VornPreviewJSConnector::VornPreviewJSConnector(QObject* parent) : QObject(parent) {
    connect(&VornPreviewOpenTexts::shared(), &VornPreviewOpenTexts::textChanged, this,
            &VornPreviewJSConnector::open_text_changed);
}

VornPreviewJSConnector::~VornPreviewJSConnector() {
    if (recorded_path_) VornPreviewOpenTexts::shared().remove(recorded_provider_, *recorded_path_);
}

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
    // The document's text, for the pages of other windows on the same connection.
    const auto path = document_path();
    const auto provider = file_delegatex ? file_delegatex->provider_as_read_write() : nullptr;
    if (path && provider) {
        if (recorded_path_ && (*recorded_path_ != *path || recorded_provider_ != provider.get()))
            VornPreviewOpenTexts::shared().remove(recorded_provider_, *recorded_path_);
        recorded_path_ = files::path::normalize(*path);
        recorded_provider_ = provider.get();
        VornPreviewOpenTexts::shared().set(recorded_provider_, *recorded_path_, *bucket->content);
    }
    if (*bucket->file_mime == "text/html") {
        if (screen) screen->show_preview();
        if (!load_site_page(*bucket->content)) load_preview_html(*bucket->content);
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
        if (self->shown_in_ == self->web_view && self->shown_ == digest && !self->shown_site_path_) return;
        self->shown_ = digest;
        self->shown_in_ = self->web_view;
        self->shown_site_path_.reset();
        ++self->preview_loads_;
        self->web_view->loadHtmlString(html);
    });
}

std::optional<std::string> VornPreviewJSConnector::document_path() const {
    auto* hub = document_hub(scene_delegatex.data());
    if (!hub) return std::nullopt;
    const auto& info = hub->current_editor_info();
    if (info.file_path && !info.file_path->empty()) return info.file_path;
    return info.file_bucket_id ? editor_support::path_of_file_id(*info.file_bucket_id) : std::nullopt;
}

bool VornPreviewJSConnector::load_site_page(const std::string& html) {
    const auto path = document_path();
    auto provider = file_delegatex ? file_delegatex->provider_as_read_write() : nullptr;
    if (!path || !provider) return false;
    // Root-relative links resolve against the server's web root, for a page inside it; a page
    // outside it has the connection's root for its site.
    std::string root = "/";
    if (file_delegatex->service && file_delegatex->service->web_root && !file_delegatex->service->web_root->empty())
        root = files::path::normalize(*file_delegatex->service->web_root);
    if (!files::path::isSameOrInside(*path, root)) root = "/";
    if (!site_ || site_->provider() != provider.get() || site_->root() != root) {
        site_ = VornPreviewSite::make(provider, root);
        QObject::disconnect(written_);
        QObject::disconnect(listed_);
        written_ = connect(file_delegatex.data(), &VornFileViewerSceneDelegateProtocol::remoteFileWritten, this,
                           [this](const QByteArray& written) { server_file_written(written.toStdString()); });
        listed_ = connect(file_delegatex.data(), &VornFileViewerSceneDelegateProtocol::remoteFolderListed, this,
                          [this](std::shared_ptr<VornServerFilesDataModel> listing) {
                              if (site_ && listing) site_->listed(*listing);
                          });
    }
    site_->set_text(*path, html);
    if (!site_->address_of(*path)) return false;
    QPointer<VornPreviewJSConnector> self(this);
    dispatch::mainQueue().async([self, html, path = *path] {
        if (!self) return;
        if (!self->web_view) {
            if (auto* display = self->error_delegatex.get()) {
                display->present_error(editor_support::app_error(Err::no_webview));
            }
            return;
        }
        if (!self->site_) return;
        const std::pair<std::size_t, std::size_t> digest{html.size(), std::hash<std::string>{}(html)};
        if (self->shown_in_ == self->web_view && self->shown_ == digest && self->shown_site_path_ == path) return;
        self->shown_ = digest;
        self->shown_in_ = self->web_view;
        self->load_site_address(path);
    });
    return true;
}

void VornPreviewJSConnector::load_site_address(const std::string& path) {
    if (!web_view || !site_) return;
    site_->renew_key();
    const auto address = site_->address_of(path);
    if (!address) return;
    ++preview_loads_;
    shown_site_path_ = path;
    site_->clear_requested();
    web_view->loadSitePage(*address);
}

void VornPreviewJSConnector::reload_site_page() {
    if (!web_view || !site_) return;
    if (const auto path = site_->path_of(web_view->url())) load_site_address(*path);
}

void VornPreviewJSConnector::open_text_changed(const files::FileProvider* provider, const std::string& path) {
    if (!site_ || provider != site_->provider() || (recorded_path_ && path == *recorded_path_)) return;
    if (!site_->requested().count(path) || !web_view) return;
    const auto address = site_->address_of(path);
    if (!is_style_sheet(path) || !address) return reload_site_page();
    QPointer<VornPreviewJSConnector> self(this);
    web_view->evaluateJavaScript(restyle_script(address->path(QUrl::FullyDecoded).toStdString()),
                                 [self](nlohmann::json hits, std::optional<web::ScriptError> error) {
                                     if (!self) return;
                                     // A sheet the page reaches in another way: the page loads again.
                                     if (error || !hits.is_number() || hits.get<int>() == 0) return self->reload_site_page();
                                     ++self->restyles_;
                                 });
}

void VornPreviewJSConnector::server_file_written(const std::string& path) {
    if (site_) site_->forget(path);
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
