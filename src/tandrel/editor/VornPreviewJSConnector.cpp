#include "tandrel/editor/VornPreviewJSConnector.h"

#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <cmath>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/CertificateCheck.h"
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

// The engine's code for a load that a newer one replaced (net::ERR_ABORTED): no failure of the site.
constexpr int kAbortedByNextLoad = -3;

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

bool is_page(const std::string& path) { return preview_page_kind(path) != PreviewPage::none; }

std::string html_escaped(const std::string& text) {
    return QString::fromStdString(text).toHtmlEscaped().toStdString();
}

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
    // "Site": the scroll position of the page before a reload comes back once it has loaded.
    connect(view, &QWebEngineView::loadFinished, this, [self, view](bool) {
        if (!self || self->web_view != view || !self->restore_scroll_) return;
        const QPointF at = *self->restore_scroll_;
        self->restore_scroll_.reset();
        // Once now and once more after the next frame, over any scrolling of the engine's own.
        const std::string to = std::to_string(std::lround(at.x())) + "," + std::to_string(std::lround(at.y()));
        view->evaluateJavaScript("window.scrollTo(" + to + "); requestAnimationFrame(function () { window.scrollTo(" + to +
                                 "); }); true");
    });
    // "Site": a page of the site that did not come (no answer, or an error status) is said so,
    // in place of whatever showed before.
    connect(view->page(), &QWebEnginePage::loadingChanged, this, [self, view](const QWebEngineLoadingInfo& info) {
        if (!self || self->web_view != view || !self->site_shown_) return;
        const QString scheme = info.url().scheme();
        if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) return;
        if (info.status() != QWebEngineLoadingInfo::LoadFailedStatus) return;
        if (info.errorDomain() == QWebEngineLoadingInfo::InternalErrorDomain && info.errorCode() == kAbortedByNextLoad)
            return;
        // An error status comes with the server's own page (a framework's or PHP's account of the
        // error, often), which stays; an address that gave no answer leaves nothing to show.
        const bool answered = info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain;
        self->site_failed(info.url(),
                          site_failure_reason(info.errorDomain(), info.errorCode(), info.errorString().toStdString()),
                          answered ? std::optional<int>(info.errorCode()) : std::nullopt);
    });
    view->setCertificateHandler([self](const QString& host, int port, const QList<QByteArray>& chain,
                                       const QString& description, std::function<void(bool)> answer) {
        if (!self) return answer(false);
        self->answer_certificate(host, port, chain, description, std::move(answer));
    });
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
    follow_window();
    // The document's text, for the pages of other windows on the same connection, in its
    // file's encoding.
    const auto path = document_path();
    const std::string encoding = document_encoding();
    const auto provider = file_delegatex ? file_delegatex->provider_as_read_write() : nullptr;
    if (path && provider) {
        if (recorded_path_ && (*recorded_path_ != *path || recorded_provider_ != provider.get()))
            VornPreviewOpenTexts::shared().remove(recorded_provider_, *recorded_path_);
        recorded_path_ = files::path::normalize(*path);
        recorded_provider_ = provider.get();
        VornPreviewOpenTexts::shared().set(recorded_provider_, *recorded_path_, *bucket->content, encoding);
    }
    const bool page = path ? is_page(*path) : *bucket->file_mime == "text/html";
    if (page) last_html_ = *bucket->content;
    if (site_mode_available() && preview_mode() == PreviewMode::site) {
        // The page as the server serves it: edits change nothing until they are saved.
        if (screen) screen->show_preview();
        // Loaded when chosen, and for a document that has moved to another path since.
        if (!site_shown_ || (path && site_document_ != files::path::normalize(*path))) show_site_page(false);
    } else if (page || *bucket->file_mime == "text/html") {
        site_shown_ = false;
        site_failure_.reset();
        site_status_.reset();
        if (screen) screen->show_preview();
        if (!load_site_page(*bucket->content)) load_preview_html(*bucket->content);
    } else {
        site_shown_ = false;
        site_failure_.reset();
        site_status_.reset();
        if (screen) screen->show_no_preview(QString::fromStdString(*bucket->file_mime));
        load_preview_html(std::string());
    }
    emit previewModeChanged();
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
        // "Site" took the view over meanwhile: the editor's text waits for "Live".
        if (!self || self->site_shown_) return;
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

std::string VornPreviewJSConnector::document_encoding() const {
    auto* hub = document_hub(scene_delegatex.data());
    const auto& format = hub ? hub->current_editor_info().text_format : std::nullopt;
    return format ? format->encoding : std::string("UTF-8");
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
    site_->set_page(*path, html, document_encoding());
    if (!site_->address_of(*path)) return false;
    QPointer<VornPreviewJSConnector> self(this);
    dispatch::mainQueue().async([self, html, path = *path] {
        if (!self || self->site_shown_) return;
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
        // The page's files are on their way while the engine sets the page up.
        self->site_->read_ahead(path, html);
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

// ---- "Live" and "Site" --------------------------------------------------------------------------

bool VornPreviewJSConnector::site_mode_available() const {
    if (!file_delegatex || !file_delegatex->service || !file_delegatex->service->site_url) return false;
    const auto path = document_path();
    return path && is_page(*path);
}

VornPreviewJSConnector::PreviewMode VornPreviewJSConnector::preview_mode() const {
    const auto path = document_path();
    if (!path) return PreviewMode::live;
    const auto it = modes_.find(files::path::normalize(*path));
    if (it != modes_.end()) return it->second;
    // A page the server makes shows as served, where the server has an address for it.
    return preview_page_kind(*path) == PreviewPage::server && site_mode_available() ? PreviewMode::site
                                                                                      : PreviewMode::live;
}

void VornPreviewJSConnector::set_preview_mode(PreviewMode mode) {
    const auto path = document_path();
    if (!path) return;
    modes_[files::path::normalize(*path)] = mode;
    if (mode == PreviewMode::site) {
        if (site_mode_available()) show_site_page(false);
    } else if (site_shown_) {
        site_shown_ = false;
        site_failure_.reset();
        site_status_.reset();
        restore_scroll_.reset();
        shown_.reset();
        auto* hub = document_hub(scene_delegatex.data());
        WebViewController* screen = hub ? hub->preview_screen() : nullptr;
        if (is_page(*path)) {
            if (!load_site_page(last_html_)) load_preview_html(last_html_);
        } else {
            if (screen) screen->show_no_preview(QString::fromStdString(mime_type_for_url(*path)));
            load_preview_html(std::string());
        }
    }
    emit previewModeChanged();
}

std::optional<QUrl> VornPreviewJSConnector::site_address_for(const std::string& site_url,
                                                             const std::optional<std::string>& web_root,
                                                             const std::string& provider_path) {
    QUrl base(QString::fromStdString(site_url), QUrl::StrictMode);
    const QString scheme = base.scheme().toLower();
    if (!base.isValid() || base.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return std::nullopt;
    const std::string root = web_root && !web_root->empty() ? files::path::normalize(*web_root) : std::string("/");
    const std::string path = files::path::normalize(provider_path);
    if (!files::path::isSameOrInside(path, root) || path == root) return std::nullopt;
    const std::string below = root == "/" ? path.substr(1) : path.substr(root.size() + 1);
    QString folder = base.path(QUrl::FullyDecoded);
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    base.setPath(folder + QString::fromStdString(below), QUrl::DecodedMode);
    base.setQuery(QString());
    base.setFragment(QString());
    return base;
}

namespace {

// A page of the preview's own that says something about "Site": a heading and lines, each with its
// element id.
std::string notice_html(const std::string& title, const std::vector<std::pair<std::string, std::string>>& lines) {
    std::string html = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + html_escaped(title) +
                       "</title></head><body style=\"font-family:sans-serif;color:#666;text-align:center;"
                       "margin:3em 1em;overflow-wrap:anywhere\">";
    for (const auto& [id, text] : lines) html += "<p id=\"" + id + "\">" + html_escaped(text) + "</p>";
    return html + "</body></html>";
}

}  // namespace

std::string VornPreviewJSConnector::no_site_address_html(const std::string& web_root) {
    return notice_html("No address on the site",
                       {{"no-site-address", "This file has no address on the site: it is outside the web root (" + web_root + ")."}});
}

std::string VornPreviewJSConnector::site_loading_html(const QUrl& address) {
    return notice_html("Loading", {{"site-loading", "Loading the page from the site\u2026"},
                                   {"site-address", address.toDisplayString().toStdString()}});
}

std::string VornPreviewJSConnector::site_failure_html(const QUrl& address, const std::string& reason) {
    return notice_html(kSiteFailureTitle, {{"site-failure", kSiteFailureTitle},
                                           {"site-failure-reason", reason},
                                           {"site-address", address.toDisplayString().toStdString()},
                                           {"site-try-again", std::string("Choose \u201C") + kTryAgainTitle +
                                                                  "\u201D to ask the site again."}});
}

std::string VornPreviewJSConnector::site_failure_reason(int domain, int code, const std::string& engine_text) {
    using Info = QWebEngineLoadingInfo;
    if (domain == Info::HttpStatusCodeDomain) return "The web server answered with HTTP status " + std::to_string(code) + ".";
    std::string what = "The connection failed";
    if (domain == Info::DnsErrorDomain) what = "The site's host name was not found";
    else if (domain == Info::CertificateErrorDomain) what = "The site's certificate was not accepted";
    else if (code == -102) what = "The connection was refused";
    else if (code == -7 || code == -118) what = "The connection timed out";
    else if (code == -109) what = "The site's address cannot be reached";
    else if (code == -100 || code == -101 || code == -324) what = "The connection closed without an answer";
    return what + " (" + engine_text + ").";
}

void VornPreviewJSConnector::show_site_page(bool keep_scroll) {
    const auto path = document_path();
    if (!web_view || !path || !file_delegatex || !file_delegatex->service || !file_delegatex->service->site_url) return;
    follow_window();
    auto* hub = document_hub(scene_delegatex.data());
    if (WebViewController* screen = hub ? hub->preview_screen() : nullptr) screen->show_preview();
    const auto& service = *file_delegatex->service;
    ++site_loads_;
    site_shown_ = true;
    site_document_ = files::path::normalize(*path);
    shown_.reset();
    shown_site_path_.reset();
    const bool failed_before = site_failure_.has_value();
    site_failure_.reset();
    site_status_.reset();
    const auto address = site_address_for(*service.site_url, service.web_root, *path);
    if (failed_before) emit previewModeChanged();
    if (!address) {
        restore_scroll_.reset();
        const std::string root = service.web_root && !service.web_root->empty() ? *service.web_root : std::string("/");
        web_view->loadHtmlString(no_site_address_html(root));
        return;
    }
    restore_scroll_.reset();
    if (!keep_scroll || web_view->url() != *address) {
        // The editor's text (or an older notice) never stands for the site's page: until the
        // page has come, the preview says that it is on its way.
        const QString scheme = web_view->url().scheme();
        if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
            web_view->loadHtmlString(site_loading_html(*address));
        web_view->loadWebPage(*address);
        return;
    }
    // The page's own word on where it is (the view's copy may lag behind), then the reload.
    QPointer<VornPreviewJSConnector> self(this);
    QPointer<web::WebView> view = web_view;
    const QUrl url = *address;
    web_view->evaluateJavaScript("[window.scrollX, window.scrollY]", [self, view, url](nlohmann::json at,
                                                                                       std::optional<web::ScriptError>) {
        if (!self || !view || self->web_view != view || !self->site_shown_) return;
        if (at.is_array() && at.size() == 2 && at[0].is_number() && at[1].is_number())
            self->restore_scroll_ = QPointF(at[0].get<double>(), at[1].get<double>());
        view->loadWebPage(url);
    });
}

void VornPreviewJSConnector::site_failed(const QUrl& address, const std::string& reason, std::optional<int> status) {
    AMZLogger::shared().log_info("the site's page " + address.toDisplayString().toStdString() + " did not come: " + reason);
    site_failure_ = reason;
    site_status_ = status;
    restore_scroll_.reset();
    if (web_view && !status) web_view->loadHtmlString(site_failure_html(address, reason));
    emit previewModeChanged();
}

void VornPreviewJSConnector::try_site_again() {
    if (site_shown_ && preview_mode() == PreviewMode::site) show_site_page(false);
}

void VornPreviewJSConnector::follow_window() {
    if (followed_ == file_delegatex.data() && followed_) return;
    QObject::disconnect(site_written_);
    QObject::disconnect(settings_changed_);
    followed_ = file_delegatex.data();
    if (!file_delegatex) return;
    site_written_ = connect(file_delegatex.data(), &VornFileViewerSceneDelegateProtocol::remoteFileWritten, this,
                            [this](const QByteArray& written) { site_file_written(written.toStdString()); });
    settings_changed_ = connect(file_delegatex.data(), &VornFileViewerSceneDelegateProtocol::serviceSettingsChanged,
                                this, [this] { service_settings_changed(); });
}

void VornPreviewJSConnector::service_settings_changed() {
    // The server's "Web root" or "Site URL" was edited: the page shows anew under them, "Site" at
    // its new address (or "Live", when the server has no Site URL any more), "Live" with its
    // links resolved against the new web root.
    const auto path = document_path();
    if (path && web_view) {
        if (site_mode_available() && preview_mode() == PreviewMode::site) {
            show_site_page(false);
        } else if (site_shown_ || is_page(*path)) {
            site_shown_ = false;
            site_failure_.reset();
            site_status_.reset();
            restore_scroll_.reset();
            shown_.reset();
            if (is_page(*path) && !load_site_page(last_html_)) load_preview_html(last_html_);
        }
    }
    emit previewModeChanged();
}

void VornPreviewJSConnector::site_file_written(const std::string& written) {
    // The save has landed (its replace is done): the server now serves what was saved.
    if (!site_shown_ || preview_mode() != PreviewMode::site || !file_delegatex || !file_delegatex->service) return;
    const auto& root = file_delegatex->service->web_root;
    const auto path = document_path();
    const bool in_site = files::path::isSameOrInside(written, root && !root->empty() ? *root : std::string("/"));
    if (in_site || (path && files::path::normalize(*path) == files::path::normalize(written))) show_site_page(true);
}

void VornPreviewJSConnector::answer_certificate(const QString& host, int port, const QList<QByteArray>& chain,
                                                const QString& description, std::function<void(bool)> answer) {
    // The app's own trust question, as for its connections: a certificate the user trusted for
    // this host and port goes on; another is asked about (off the GUI thread, which never waits).
    auto trust = file_delegatex ? file_delegatex->trust_store() : nullptr;
    if (!trust || chain.isEmpty()) return answer(false);
    auto certificate = files::detail::describeCertificate(chain.front().toStdString(), description.toStdString());
    if (!certificate) return answer(false);
    const std::string h = host.toStdString();
    files::detail::CertificateCheck check;
    check.host = h;
    check.port = port;
    check.verdict = trust->checkCertificate(h, port, *certificate);
    if (check.verdict == files::TrustVerdict::trusted) return answer(true);
    check.refused = *certificate;
    const files::TrustQuestion question = files::detail::certificateQuestion(check);
    dispatch::globalQueue(dispatch::QoS::userInitiated).async([trust, question, answer = std::move(answer)]() mutable {
        const bool yes = trust->decide(question);
        dispatch::mainQueue().async([answer = std::move(answer), yes] { answer(yes); });
    });
}
