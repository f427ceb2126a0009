#include "tandrel/editor/DocumentInterfaceManager.h"

#include <QWidget>

#include <QByteArray>
#include "platform/dispatch/Dispatch.h"
#include "platform/files/FileProvider.h"
#include "platform/files/RemotePath.h"
#include "platform/ui/Idiom.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/scenes/Application.h"
#include "tandrel/editor/EditorScripts.h"
#include "tandrel/editor/EditorWebViewController.h"
#include "tandrel/editor/MainViewController.h"
#include "tandrel/editor/VORNSplitViewController.h"
#include "tandrel/editor/VornEditorJSConnector.h"
#include "tandrel/editor/VornEditorJSConnectorSupport.h"
#include "tandrel/editor/VornEditorWKWebView.h"
#include "tandrel/editor/VornHistoryViewController.h"
#include "tandrel/editor/VornPreviewJSConnector.h"
#include "tandrel/editor/WebViewController.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/foundation/VORNPresenterUtility.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/foundation/VornSessionsDataModel.h"
#include "tandrel/foundation/VornProviderErrors.h"
#include "tandrel/foundation/VornSceneLinksProtocol.h"
#include "tandrel/foundation/VornFileHistory.h"
#include "tandrel/foundation/VornUnsavedTextKeeper.h"

namespace {
using Err = EnumManager::vorn_error_throws;

// A screen as a column of the split view: inside a navigation controller, so that its title and
// bar buttons show above it.
std::shared_ptr<ui::ViewController> in_navigation(const std::shared_ptr<ui::ViewController>& screen) {
    if (!screen) return nullptr;
    if (auto* nav = screen->navigationController()) return nav->sharedFromThis();
    return ui::make<ui::NavigationController>(screen);
}

bool tablet_or_desktop(ui::Idiom idiom) { return idiom == ui::Idiom::pad || idiom == ui::Idiom::mac; }

// The file's name as the explorer shows it.
std::string file_display_name(const std::string& path) {
    return files::path::forDisplay(files::path::lastComponent(path));
}

// A document the launch reopens from its kept unsaved text, whose file is gone from the server,
// opens with that text all the same (the read found no file): the window knows the file was
// deleted there, so a save asks before writing it there again.
std::shared_ptr<VornServerFileContentModel> kept_text_of_deleted_file(const std::optional<VornError>& error,
                                                                      VornCurrentEditorStateInfo& info) {
    if (!error || error->name != "notFound" || !info.service_session_id || !info.file_bucket_id) return nullptr;
    if (!VornUnsavedTextKeeper::shared().is_restoring(*info.service_session_id, *info.file_bucket_id)) return nullptr;
    const auto path = editor_support::path_of_file_id(*info.file_bucket_id);
    if (!path) return nullptr;
    auto content = std::make_shared<VornServerFileContentModel>();
    content->id = *info.file_bucket_id;
    content->path = *path;
    info.removed_from_server = true;
    AMZLogger::shared().log_info("reopening the kept unsaved text of " + *path + ", deleted on the server");
    return content;
}
}  // namespace

DocumentInterfaceManager::DocumentInterfaceManager()
    : editor_js_connector(std::make_shared<VornEditorJSConnector>()),
      editor_compact_js_connector(std::make_shared<VornEditorJSConnector>()),
      preview_js_connector(std::make_shared<VornPreviewJSConnector>()),
      main_controller(ui::make<MainViewController>()) {}

DocumentInterfaceManager::~DocumentInterfaceManager() {
    AMZLogger::shared().log_verbose("deinit DocumentInterfaceManager");
}

VornFileViewerSceneDelegateProtocol* DocumentInterfaceManager::file_viewer() const {
    return file_server_delegatex.data();
}

// ---- set-up ---------------------------------------------------------------------------------------

void DocumentInterfaceManager::setup_document_controllers() {
    const auto& info = my_current_editor_info;
    if (!info.service_session_id || !info.file_bucket_id) return;
    VornFileViewerSceneDelegateProtocol* viewer = scene_links().find_file_viewer(*info.service_session_id);
    if (!viewer) return;
    if (controllers_set_up_) return;
    controllers_set_up_ = true;

    file_server_delegatex = viewer;
    connect(viewer, &VornFileViewerSceneDelegateProtocol::remoteItemMoved, this,
            &DocumentInterfaceManager::follow_file_move);
    connect(viewer, &VornFileViewerSceneDelegateProtocol::remoteItemRemoved, this,
            &DocumentInterfaceManager::file_removed_on_server);
    main_controller->scene_delegatex = this;
    main_controller->scene_file_delegatex = viewer;

    editor_js_connector->is_compact = false;
    ext_editor_vc = ui::make<EditorWebViewController>();
    ext_editor_vc->is_compact = false;
    ext_webview_vc = ui::make<WebViewController>();
    for (VornDocViewController* screen : {static_cast<VornDocViewController*>(ext_editor_vc.get()),
                                          static_cast<VornDocViewController*>(ext_webview_vc.get())}) {
        screen->scene_delegatex = this;
        screen->scene_file_delegatex = viewer;
    }

    editor_js_connector->scene_delegatex = this;
    editor_js_connector->error_delegatex = main_controller.get();
    editor_js_connector->file_delegatex = viewer;
    preview_js_connector->scene_delegatex = this;
    preview_js_connector->error_delegatex = main_controller.get();
    preview_js_connector->file_delegatex = viewer;
    editor_js_connector->editorwk_to_previewwk_delegate = preview_js_connector.get();

    const ui::Idiom idiom = ui::userInterfaceIdiom();
    if (idiom == ui::Idiom::pad || idiom == ui::Idiom::phone) {
        ext_compact_editor_vc = ui::make<EditorWebViewController>();
        ext_compact_editor_vc->is_compact = true;
        ext_compact_editor_vc->scene_delegatex = this;
        ext_compact_editor_vc->scene_file_delegatex = viewer;
        editor_compact_js_connector->scene_delegatex = this;
        editor_compact_js_connector->error_delegatex = main_controller.get();
        editor_compact_js_connector->file_delegatex = viewer;
        editor_compact_js_connector->is_compact = true;
        ext_compact_editor_vc->setup_editor_web_view();
    }
    // A tablet and the desktop edit in the regular editor; a phone works with the compact one alone.
    if (tablet_or_desktop(idiom)) {
        ext_editor_vc->setup_editor_web_view();
    } else {
        ext_editor_vc.reset();
    }
    // The page and the file take a while (a big file longer): meanwhile the window says so.
    show_file_loading(true);
}

void DocumentInterfaceManager::show_file_loading(bool loading) {
    std::string name;
    if (loading) {
        if (auto path = current_file_path()) name = file_display_name(*path);
    }
    for (EditorWebViewController* screen : {ext_editor_vc.get(), ext_compact_editor_vc.get()}) {
        if (screen) screen->show_file_loading(name);
    }
}

std::shared_ptr<VORNSplitViewController> DocumentInterfaceManager::build_split_view(bool has_preview_support,
                                                                                     double max_primary_width) {
    auto split = ui::make<VORNSplitViewController>(ui::SplitViewController::Style::doubleColumn);
    split->setPreferredDisplayMode(ui::SplitViewController::DisplayMode::automatic);
    split->setMinimumPrimaryColumnWidth(300.0);
    split->setMaximumPrimaryColumnWidth(max_primary_width);
    split->scene_delegatex = this;
    split->delegate = this;
    split->setPresentsWithGesture(false);
    split->setPreferredSplitBehavior(ui::SplitViewController::SplitBehavior::tile);
    split->setPrimaryBackgroundStyle(ui::SplitViewController::BackgroundStyle::none);
    if (tablet_or_desktop(ui::userInterfaceIdiom())) {
        place_columns_pad(*split, has_preview_support);
    } else {
        place_columns_other(*split, has_preview_support);
    }
    split_view_controller = split;
    return split;
}

void DocumentInterfaceManager::place_columns_pad(ui::SplitViewController& split, bool has_preview_support) {
    using Column = ui::SplitViewController::Column;
    split.setPrimaryEdge(ui::SplitViewController::PrimaryEdge::trailing);
    if (ext_editor_vc) ext_editor_vc->has_preview_support = has_preview_support;
    split.setViewController(in_navigation(ext_editor_vc), Column::secondary);
    if (has_preview_support) {
        split.setViewController(in_navigation(ext_webview_vc), Column::primary);
        if (ext_compact_editor_vc) split.setViewController(in_navigation(ext_compact_editor_vc), Column::compact);
    } else {
        split.setPreferredDisplayMode(ui::SplitViewController::DisplayMode::secondaryOnly);
        split.setShowsSecondaryOnlyButton(false);
    }
}

void DocumentInterfaceManager::place_columns_other(ui::SplitViewController& split, bool has_preview_support) {
    using Column = ui::SplitViewController::Column;
    split.setPrimaryEdge(ui::SplitViewController::PrimaryEdge::leading);
    if (has_preview_support) {
        if (ext_compact_editor_vc) split.setViewController(in_navigation(ext_compact_editor_vc), Column::compact);
    } else {
        split.setViewController(in_navigation(ext_editor_vc), Column::secondary);
        split.setPreferredDisplayMode(ui::SplitViewController::DisplayMode::secondaryOnly);
        split.setShowsSecondaryOnlyButton(false);
    }
}

// ---- the visible editor ---------------------------------------------------------------------------

bool DocumentInterfaceManager::uses_compact_editor() const {
    switch (ui::userInterfaceIdiom()) {
        case ui::Idiom::pad: return split_view_controller && split_view_controller->isCollapsed();
        case ui::Idiom::mac: return false;  // the desktop has no compact editor
        default: return true;
    }
}

EditorWebViewController* DocumentInterfaceManager::visible_editor_screen() const {
    return uses_compact_editor() ? ext_compact_editor_vc.get() : ext_editor_vc.get();
}

VornEditorJSConnector* DocumentInterfaceManager::visible_editor_connector() const {
    return uses_compact_editor() ? editor_compact_js_connector.get() : editor_js_connector.get();
}

VornEditorScreenProtocol* DocumentInterfaceManager::editor_screen(bool is_compact) const {
    return is_compact ? ext_compact_editor_vc.get() : ext_editor_vc.get();
}

void DocumentInterfaceManager::apply_editor_preferences() {
    if (auto* connector = visible_editor_connector()) connector->apply_preferences();
}

void DocumentInterfaceManager::request_preview_content() {
    if (auto* connector = visible_editor_connector()) connector->run_editor_js(editor_script::send_content_to_preview());
}

// ---- loading the window's file --------------------------------------------------------------------

void DocumentInterfaceManager::load_current_editor_file(bool is_compact) {
    if (ui::userInterfaceIdiom() == ui::Idiom::pad) {
        const bool collapsed = split_view_controller && split_view_controller->isCollapsed();
        if (is_compact != collapsed) return;
    }
    const auto& info = my_current_editor_info;
    auto* viewer = file_viewer();
    if (!info.service_session_id || !info.file_bucket_id || !viewer) return;

    // The file's path: its entry in the explorer's listing, or, when the explorer has moved on to
    // another folder since the file was opened, the path the file's id carries (Base64 of it).
    std::optional<std::string> path;
    if (auto entry = viewer->find_listed_file(*info.file_bucket_id)) path = entry->path;
    if (!path) path = editor_support::path_of_file_id(*info.file_bucket_id);
    if (!path || path->empty()) return;

    auto connector = is_compact ? editor_compact_js_connector : editor_js_connector;
    auto provider = viewer->provider_as_read_write();
    if (!provider) {
        file_loaded(nullptr, Err(Err::guardReturnNoFileProvider), connector);
        return;
    }
    std::string file_type = path_extension(*path);
    if (file_type.empty()) file_type = "txt";

    QPointer<DocumentInterfaceManager> self(this);
    std::weak_ptr<VornEditorJSConnector> weak_connector = connector;
    const std::string file_path = *path;
    const auto encoding = encoding_for_read(*info.file_bucket_id);
    // The file's version goes with its text into the session record, for the saves' check.
    provider->contentsAndVersion(file_path, [self, weak_connector, file_type, file_path, encoding](
                                                std::optional<files::Bytes> data, files::FileVersion version,
                                                std::optional<files::FileError> error) {
        auto read_error = vorn_error_from(error);
        dispatch::mainQueue().async([self, weak_connector, file_type, file_path, encoding, data = std::move(data),
                                     version = std::move(version), read_error]() mutable {
            if (!self) return;
            build_file_content_model(
                std::move(data), read_error, file_type, file_path,
                [self, weak_connector, version](std::shared_ptr<VornServerFileContentModel> content, std::optional<VornError> e) {
                    if (content) content->server_version = version;
                    if (self) self->file_loaded(content, e, weak_connector.lock());
                },
                encoding);
        });
    });
}

std::optional<std::string> DocumentInterfaceManager::encoding_for_read(const std::string& file_id) const {
    if (reopen_encoding_) return reopen_encoding_;
    const auto& info = my_current_editor_info;
    auto record = editor_js_connector ? editor_js_connector->find_file_session(file_id) : nullptr;
    if (!record || !record->text_format) return std::nullopt;
    // A kept text reopened after a crash is compared with the server's in the encoding it was
    // read in, and saved in it.
    const bool restoring = info.service_session_id && VornUnsavedTextKeeper::shared().is_restoring(*info.service_session_id, file_id);
    if (restoring || record->text_format->source == textcodec::TextFormat::Source::chosen) return record->text_format->encoding;
    return std::nullopt;
}

void DocumentInterfaceManager::file_loaded(std::shared_ptr<VornServerFileContentModel> content,
                                           std::optional<VornError> error,
                                           std::shared_ptr<VornEditorJSConnector> connector) {
    QPointer<ui::ViewController> main_screen = main_controller.get();
    if (auto kept = kept_text_of_deleted_file(error, my_current_editor_info)) {
        content = std::move(kept);
        error.reset();
    }
    if (error || !content) {
        show_file_loading(false);
        const VornError shown = error ? *error : VornError(Err(Err::no_data));
        // A window that never showed its file has nothing to offer: it goes now, and the error
        // is told where the file was opened (a window that holds the file already stays).
        QPointer<VornFileViewerSceneDelegateProtocol> viewer(file_viewer());
        if (viewer && close_window_without_file()) {
            viewer->show_error(shown);
            return;
        }
        QPointer<DocumentInterfaceManager> self(this);
        VORNPresenterUtility::present_error(main_screen, shown, "OK", [self](bool) {
            if (self) self->close_window_without_file();
        });
        return;
    }
    gotFileBucket = content;
    ace_loaded = true;
    if (!connector) return;
    file_in_compact_editor = connector->is_compact;

    QPointer<DocumentInterfaceManager> self(this);
    std::weak_ptr<VornEditorJSConnector> weak = connector;
    auto present_on_visible_editor = [self](std::optional<VornError> e) {
        if (!e && self) self->file_shown();
        if (!e || !self) return;
        EditorWebViewController* screen = self->visible_editor_screen();
        if (!screen) return;
        VORNPresenterUtility::present_error(QPointer<ui::ViewController>(screen), e, "OK");
    };
    // A reopen in another encoding: the text read replaces the page's.
    if (std::exchange(reopening_, false)) {
        reopen_encoding_.reset();
        connector->reopen_session(content, present_on_visible_editor);
        return;
    }
    connector->run_editor_js(editor_script::get_current_session(),
                             [weak, content, present_on_visible_editor](nlohmann::json reply, std::optional<VornError> e) {
                                 auto c = weak.lock();
                                 if (!c) return;
                                 c->update_file_session(reply, e, [weak, content, present_on_visible_editor](std::optional<VornError> stored) {
                                     auto c2 = weak.lock();
                                     if (!c2) return;
                                     c2->open_editor_session(stored, content, present_on_visible_editor);
                                 });
                             });
}

// ---- the file's encoding --------------------------------------------------------------------------

void DocumentInterfaceManager::reopen_with_encoding(const std::string& encoding) {
    const auto name = textcodec::canonicalEncoding(encoding);
    if (!name || !ace_loaded) return;
    QPointer<DocumentInterfaceManager> self(this);
    auto reopen = [self, name] {
        if (!self) return;
        self->reopen_encoding_ = *name;
        self->reopening_ = true;
        AMZLogger::shared().log_info("reopening " + self->current_file_path().value_or("the file") + " in " + *name);
        self->load_current_editor_file(self->uses_compact_editor());
    };
    if (!my_current_editor_info.has_changes) return reopen();
    EditorWebViewController* screen = visible_editor_screen();
    QPointer<ui::ViewController> presenter =
        screen ? QPointer<ui::ViewController>(screen) : QPointer<ui::ViewController>(main_controller.get());
    const std::string file = file_display_name(current_file_path().value_or(std::string()));
    const std::string message = "\u201C" + file + "\u201D has changes that are not saved. Reopening it in " +
                                textcodec::displayName(*name) + " discards them.";
    VORNPresenterUtility::present_on_main(presenter, [presenter, message, reopen](bool ready) {
        VORNPresenterUtility::present_actions_alert(
            ready, kReopenTitle, message,
            {{"Reopen", ui::AlertActionStyle::destructive, true}, {"Cancel", ui::AlertActionStyle::cancel, false}},
            [reopen](bool chosen) {
                if (chosen) reopen();
            },
            presenter);
    });
}

// ---- the history of the file's server copies -------------------------------------------------------

void DocumentInterfaceManager::show_history() {
    VornEditorJSConnector* connector = visible_editor_connector();
    VornFileViewerSceneDelegateProtocol* viewer = file_viewer();
    const auto path = current_file_path();
    const auto& file_id = my_current_editor_info.file_bucket_id;
    if (!connector || !ace_loaded || !viewer || !viewer->service || !path || !file_id) return;
    const textcodec::TextFormat format = my_current_editor_info.text_format.value_or(textcodec::TextFormat{});
    QPointer<DocumentInterfaceManager> self(this);
    QPointer<VornEditorJSConnector> weak_connector(connector);
    const std::string id = *file_id;
    const std::string name = file_display_name(*path);
    // The copies are read on the history's queue; the main thread shows them once they are read.
    VornFileHistory::shared().versions_later(viewer->service->id, *path, [self, weak_connector, id, name, format](
                                                                              std::vector<VornFileHistory::Version> versions) {
        auto copies = VornHistoryViewController::read_copies(std::move(versions), name, format);
        dispatch::mainQueue().async([self, weak_connector, id, name, copies = std::move(copies)]() mutable {
            if (!self || !weak_connector) return;
            // The copies are shown against the editor's text as it is now.
            weak_connector->run_editor_js(
                editor_script::get_current_session(),
                [self, weak_connector, id, name, copies = std::move(copies)](nlohmann::json reply,
                                                                             std::optional<VornError> e) mutable {
                    if (!self || e) return;
                    auto session = editor_support::take_session_reply(std::move(reply));
                    if (!session || session->session_id != id) return;
                    std::string text = editor_support::session_value(session->json).value_or(std::string());
                    auto sheet = ui::make<VornHistoryViewController>(
                        name, std::move(copies), std::move(text), [weak_connector, id](std::string restored) {
                            if (weak_connector) weak_connector->restore_text(id, std::move(restored));
                        });
                    EditorWebViewController* screen = self->visible_editor_screen();
                    QPointer<ui::ViewController> presenter = screen ? QPointer<ui::ViewController>(screen)
                                                                    : QPointer<ui::ViewController>(self->main_controller.get());
                    if (presenter) presenter->presentViewController(sheet, true);
                });
        });
    });
}

void DocumentInterfaceManager::save_with_encoding(const std::string& encoding, std::function<void(bool written)> completion) {
    VornEditorJSConnector* connector = visible_editor_connector();
    if (!connector || !ace_loaded) {
        if (completion) completion(false);
        return;
    }
    QPointer<MainViewController> screen = main_controller.get();
    connector->save_in_encoding(encoding, [screen, completion](bool written, std::optional<VornError> error) {
        if (error && screen) screen->save_completion(error);
        if (completion) completion(written);
    });
}

void DocumentInterfaceManager::text_format_changed() {
    for (EditorWebViewController* screen : {ext_editor_vc.get(), ext_compact_editor_vc.get()}) {
        if (screen) screen->show_text_format();
    }
    // The preview serves the page's text in the document's encoding.
    if (my_current_editor_info.preview_supported && preview_js_connector && preview_js_connector->contents_pushed() > 0) {
        request_preview_content();
    }
}

// ---- the file renamed or deleted on the server ----------------------------------------------------

std::optional<std::string> DocumentInterfaceManager::current_file_path() const {
    const auto& info = my_current_editor_info;
    if (info.file_path && !info.file_path->empty()) return info.file_path;
    return info.file_bucket_id ? editor_support::path_of_file_id(*info.file_bucket_id) : std::nullopt;
}

void DocumentInterfaceManager::follow_file_move(const QByteArray& from, const QByteArray& to) {
    auto& info = my_current_editor_info;
    const auto path = current_file_path();
    if (!path || !info.file_bucket_id) return;
    const auto moved = moved_remote_path(*path, from.toStdString(), to.toStdString());
    if (!moved) return;
    const std::string old_id = *info.file_bucket_id;
    const std::string new_id = file_bucket_id_for_path(*moved);
    AMZLogger::shared().log_info("the open file " + *path + " is now " + *moved);
    info.file_bucket_id = new_id;
    info.file_path = *moved;
    if (gotFileBucket && gotFileBucket->id == old_id) {
        gotFileBucket->id = new_id;
        gotFileBucket->path = *moved;
    }
    for (auto* connector : {editor_js_connector.get(), editor_compact_js_connector.get()}) {
        if (connector) connector->follow_session_move(old_id, new_id, *moved);
    }
    for (EditorWebViewController* screen : {ext_editor_vc.get(), ext_compact_editor_vc.get()}) {
        if (screen) screen->update_window_title(*moved);
    }
}

void DocumentInterfaceManager::file_removed_on_server(const QByteArray& path) {
    auto& info = my_current_editor_info;
    const auto file = current_file_path();
    if (!file || !files::path::isSameOrInside(*file, path.toStdString())) return;
    if (info.removed_from_server) return;
    info.removed_from_server = true;
    AMZLogger::shared().log_info("the open file " + *file + " was deleted on the server");
    EditorWebViewController* screen = visible_editor_screen();
    QPointer<ui::ViewController> presenter =
        screen ? QPointer<ui::ViewController>(screen) : QPointer<ui::ViewController>(main_controller.get());
    const std::string name = file_display_name(*file);
    VORNPresenterUtility::present_on_main(presenter, [presenter, name](bool ready) {
        VORNPresenterUtility::present_action_alert(
            ready, VornEditorJSConnector::kRemovedTitle,
            "\u201C" + name + "\u201D was deleted from the server. Its text stays open here; saving asks before "
            "writing the file there again.",
            "OK", nullptr, presenter);
    });
}

// ---- teardown -------------------------------------------------------------------------------------

bool DocumentInterfaceManager::close_window_without_file() {
    if (ace_loaded) return false;
    ui::Scene* scene = owning_scene.data();
    if (!scene || !scene_links().is_document_scene(scene) || !scene->session()) return false;
    ui::Application::shared().requestSceneSessionDestruction(scene->session(), {}, nullptr);
    return true;
}

void DocumentInterfaceManager::teardown_document_interface() {
    EditorWebViewController* screen = visible_editor_screen();
    if (!screen || screen->web_view_released) return;
    screen->web_view_released = true;
    if (!screen->jsc) return;
    VornEditorWKWebView* view = screen->editorWebView();
    screen->jsc->detach_web_view(view);
    view->hide();
    view->setParent(nullptr);
    view->deleteLater();
}
