#include "tandrel/editor/MainViewController.h"

#include <QLabel>
#include <QUrl>
#include <QVariantMap>

#include "platform/dispatch/Dispatch.h"
#include "platform/ui/Idiom.h"
#include "platform/ui/SplitViewController.h"
#include "platform/ui/View.h"
#include "platform/ui/scenes/UserActivity.h"
#include "platform/ui/scenes/Window.h"
#include "tandrel/editor/DocumentInterfaceManager.h"
#include "tandrel/editor/EditorScripts.h"
#include "tandrel/editor/EditorWebViewController.h"
#include "tandrel/editor/VORNSplitViewController.h"
#include "tandrel/editor/VornEditorJSConnector.h"
#include "platform/web/WebView.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/GradientView.h"
#include "tandrel/foundation/UIViewTandrel.h"
#include "tandrel/foundation/VORNPresenterUtility.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/foundation/VornSessionsDataModel.h"
#include "tandrel/foundation/XCol.h"
#include "tandrel/foundation/VornSceneLinksProtocol.h"

namespace {
using Err = EnumManager::vorn_error_throws;

void set_background(QWidget* view, const QColor& color) {
    QPalette palette = view->palette();
    palette.setColor(QPalette::Window, color);
    view->setPalette(palette);
    view->setAutoFillBackground(true);
}

void set_text_color(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

// The "ConnectionID" of a command whose property list is a dictionary of strings.
std::optional<QString> connection_id(const ui::Command& command) {
    if (command.propertyList.typeId() != QMetaType::QVariantMap) return std::nullopt;
    const QVariantMap map = command.propertyList.toMap();
    if (!ui::UserActivity::allValuesAreStrings(map)) return std::nullopt;
    return ui::UserActivity::stringValue(map, QStringLiteral("ConnectionID"));
}
// The encoding an encoding command's entry names.
std::optional<std::string> command_encoding(const ui::Command& command) {
    if (command.propertyList.typeId() != QMetaType::QVariantMap) return std::nullopt;
    const QVariant value = command.propertyList.toMap().value(QStringLiteral("encoding"));
    if (value.typeId() != QMetaType::QString) return std::nullopt;
    return value.toString().toStdString();
}
}  // namespace

MainViewController::MainViewController()
    : split_ViewController(ui::make<VORNSplitViewController>(ui::SplitViewController::Style::tripleColumn)),
      top_bar_view(new QWidget()),
      gradientView(new GradientView()),
      connection_status_circle(new QWidget()),
      serverConnectionStatus_Lbl(new QLabel()),
      serverConnectionName_Lbl(new QLabel()) {}

MainViewController::~MainViewController() {
    // Views that were never placed in the screen's view are this screen's to delete.
    for (QWidget* w : {static_cast<QWidget*>(top_bar_view.data()), static_cast<QWidget*>(gradientView.data()),
                       connection_status_circle.data(), static_cast<QWidget*>(serverConnectionStatus_Lbl.data()),
                       static_cast<QWidget*>(serverConnectionName_Lbl.data())}) {
        if (w && !w->parentWidget()) delete w;
    }
}

DocumentInterfaceManager* MainViewController::manager() const {
    return qobject_cast<DocumentInterfaceManager*>(scene_delegatex.data());
}

VornFileViewerSceneDelegateProtocol* MainViewController::file_viewer() const {
    return scene_file_delegatex.data();
}

VornEditorJSConnector* MainViewController::current_editor_connector() const {
    DocumentInterfaceManager* m = manager();
    return m ? m->visible_editor_connector() : nullptr;
}

// ---- view set-up ----------------------------------------------------------------------------------

void MainViewController::viewDidLoad() {
    VornDocViewController::viewDidLoad();
    set_background(view(), Qt::red);
    setup_top_bar();
    setup_split_view();
    if (ui::userInterfaceIdiom() == ui::Idiom::pad) setup_connection_status();
    refresh_connection_status();
}

void MainViewController::viewWillAppear(bool animated) {
    VornDocViewController::viewWillAppear(animated);
    schedule_editor_handover();
}

void MainViewController::setup_top_bar() {
    QWidget* root = view();
    const double height = hostWindow() && hostWindow() != root ? 0.0 + 20.0 : 48.0;
    top_bar_view->setParent(root);
    util_align_top_anchorWithPixel(top_bar_view, 0.0, false);
    util_fill_width_anchorWithSafe_area(top_bar_view, false);
    util_height_anchorWithPixel(top_bar_view, height);
    top_bar_view->show();
    setup_gradient();
}

void MainViewController::setup_gradient() {
    gradientView->setStartColor(XCol::bar_gradient_start());
    gradientView->update_colors();
    gradientView->setEndColor(XCol::bar_background());
    gradientView->update_colors();
    gradientView->setEndLocation(0.7);
    gradientView->setParent(top_bar_view);
    util_align_top_anchorWithPixel(gradientView, 0.0, false);
    util_fill_width_anchorWithSafe_area(gradientView, false);
    util_align_bottom_anchorWithPixel(gradientView, 0.0, false);
    gradientView->show();
}

void MainViewController::setup_split_view() {
    DocumentInterfaceManager* m = manager();
    const bool preview = m ? m->my_current_editor_info.preview_supported : false;
    QWidget* window = hostWindow();
    const double width = window && window != view() ? window->width() : 1200.0;
    std::shared_ptr<ui::SplitViewController> split;
    if (m) {
        split = m->build_split_view(preview, width);
    } else {
        split = ui::make<ui::SplitViewController>();
    }
    split_ViewController = split;
    addChildViewController(split);
    QWidget* split_view = split->view();
    split_view->setParent(view());
    util_align_top_anchorWithPixel(split_view, 0.0, false);
    util_fill_width_anchorWithSafe_area(split_view, false);
    util_align_bottom_anchorWithPixel(split_view, 0.0, false);
    split_view->show();
    // The split view covers the top bar whole, on every idiom. A covered widget that repaints
    // (the gradient follows the window's activation and focus) was drawn over the screens' bars
    // in a window that holds a web page, until the next full repaint: the bar, never seen, is
    // kept hidden so it cannot.
    if (top_bar_view) top_bar_view->hide();

    // A collapse or an expansion of the split view is this window's layout transition.
    QPointer<MainViewController> self(this);
    connect(split.get(), &ui::SplitViewController::collapsedChanged, this, [self](bool) {
        if (self) self->after_trait_transition();
    });
}

void MainViewController::setup_connection_status() {
    QWidget* root = view();
    connection_status_circle->setParent(root);
    ui::setAlpha(connection_status_circle, 0.0);
    set_background(connection_status_circle, XCol::status_pending().resolvedFor(root));
    connection_status_circle->setStyleSheet(QStringLiteral("border-radius: 3px;"));
    util_width_anchorWithPixel(connection_status_circle, 6);
    util_height_anchorWithPixel(connection_status_circle, 6);
    util_align_left_anchorWithPixel(connection_status_circle, 10, true);
    util_align_top_anchorWithPixel(connection_status_circle, -10, false);
    connection_status_circle->show();

    serverConnectionStatus_Lbl->setParent(root);
    ui::setAlpha(serverConnectionStatus_Lbl, 0.0);
    QFont bold = serverConnectionStatus_Lbl->font();
    bold.setPointSizeF(10);
    bold.setBold(true);
    serverConnectionStatus_Lbl->setFont(bold);
    set_text_color(serverConnectionStatus_Lbl, XCol::status_pending().resolvedFor(root));
    serverConnectionStatus_Lbl->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    util_align_left_anchor_to_right_of_viewWithView(serverConnectionStatus_Lbl, connection_status_circle, 5);
    util_width_anchorWithPixel(serverConnectionStatus_Lbl, 70);
    util_align_top_anchorWithPixel(serverConnectionStatus_Lbl, -13, false);
    serverConnectionStatus_Lbl->show();

    serverConnectionName_Lbl->setParent(root);
    ui::setAlpha(serverConnectionName_Lbl, 0.0);
    QFont plain = serverConnectionName_Lbl->font();
    plain.setPointSizeF(10);
    serverConnectionName_Lbl->setFont(plain);
    set_text_color(serverConnectionName_Lbl, XCol::text_primary().resolvedFor(root));
    serverConnectionName_Lbl->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    util_align_left_anchor_to_right_of_viewWithView(serverConnectionName_Lbl, serverConnectionStatus_Lbl, 0);
    util_align_right_anchorWithPixel(serverConnectionName_Lbl, 10, true);
    util_align_top_anchorWithPixel(serverConnectionName_Lbl, -13, false);
    serverConnectionName_Lbl->show();
}

void MainViewController::refresh_connection_status() {
    VornFileViewerSceneDelegateProtocol* viewer = file_viewer();
    if (!viewer || !viewer->my_session_info || !viewer->my_session_info->server_url) {
        VORNPresenterUtility::present_error(this, VornError(Err(Err::undeterminedError)), "OK");
        return;
    }
    const QString url_text = QUrl(QString::fromStdString(*viewer->my_session_info->server_url)).toString();
    schedule_connected_text(url_text);
    ui::animateAlpha(serverConnectionStatus_Lbl, 1.0, 1.0);
    ui::animateAlpha(connection_status_circle, 1.0, 1.0);
    ui::animateAlpha(serverConnectionName_Lbl, 1.0, 1.0);
}

void MainViewController::schedule_connected_text(const QString& url_text) {
    QPointer<MainViewController> self(this);
    dispatch::after(dispatch::mainQueue(), std::chrono::milliseconds(kConnectedTextDelayMs), [self, url_text] {
        if (self) self->show_connected_status(url_text);
    });
}

void MainViewController::show_connected_status(const QString& url_text) {
    serverConnectionName_Lbl->setText(url_text);
    serverConnectionStatus_Lbl->setText(QStringLiteral("CONNECTED"));
    const QColor connected = XCol::status_connected().resolvedFor(viewIfLoaded());
    set_text_color(serverConnectionStatus_Lbl, connected);
    set_background(connection_status_circle, connected);
}

// ---- file commands --------------------------------------------------------------------------------

void MainViewController::save_file() { request_save(); }

void MainViewController::request_save(std::function<void(bool written)> completion) {
    auto finish = [completion](bool written) {
        if (completion) completion(written);
    };
    DocumentInterfaceManager* m = manager();
    VornEditorJSConnector* connector = current_editor_connector();
    // Without its file viewer the connector still answers: with the error that says so.
    if (!m || !m->my_current_editor_info.file_bucket_id || !connector) return finish(false);
    QPointer<MainViewController> self(this);
    connector->save_current_file([self, finish](bool written, std::optional<VornError> error) {
        if (error && self) self->save_completion(error);
        finish(written);
    });
}

void MainViewController::save_completion(std::optional<VornError> error) {
    if (error) VORNPresenterUtility::present_error(this, error, "OK");
}

void MainViewController::reopen_with_encoding(const ui::Command& sender) {
    const auto encoding = command_encoding(sender);
    DocumentInterfaceManager* m = manager();
    if (encoding && m) m->reopen_with_encoding(*encoding);
}

void MainViewController::save_with_encoding(const ui::Command& sender) {
    const auto encoding = command_encoding(sender);
    DocumentInterfaceManager* m = manager();
    if (encoding && m) m->save_with_encoding(*encoding);
}

void MainViewController::close_session_main() {
    close_session(false, [](bool) {});
}

void MainViewController::close_session(bool force, std::function<void(bool)> block) {
    close_current_session(force, std::move(block));
}

void MainViewController::close_current_session(bool force, std::function<void(bool)> block) {
    if (!manager()) return;
    VornEditorJSConnector* connector = current_editor_connector();
    if (!connector) return;
    QPointer<VornEditorJSConnector> weak(connector);
    connector->run_editor_js(editor_script::get_current_session(),
                             [weak, force, block](nlohmann::json reply, std::optional<VornError> error) {
                                 if (weak) weak->handle_close_reply(reply, error, force, block);
                             });
}

void MainViewController::close_for_window(std::function<void()> close_now, std::function<void(bool)> block) {
    if (!close_now) close_now = [] {};
    DocumentInterfaceManager* m = manager();
    VornEditorJSConnector* connector = current_editor_connector();
    // No file ever reached the page: nothing can be lost.
    if (!m || !m->ace_loaded || !connector || !connector->web_view) return close_now();
    QPointer<VornEditorJSConnector> weak(connector);
    connector->run_editor_js(editor_script::get_current_session(),
                             [weak, block, close_now](nlohmann::json reply, std::optional<VornError> error) {
                                 // A page without a current session (or one that cannot answer any
                                 // more) holds no text of the file.
                                 if (!weak || error || !reply.is_object()) return close_now();
                                 weak->confirm_unsaved_changes(reply, false, block);
                             });
}

void MainViewController::decide_before_close(std::function<void(bool may_close)> decided) {
    auto decide = [decided](bool may_close) {
        if (decided) decided(may_close);
    };
    DocumentInterfaceManager* m = manager();
    VornEditorJSConnector* connector = current_editor_connector();
    // No file ever reached the page: nothing can be lost.
    if (!m || !m->ace_loaded || !connector || !connector->web_view) return decide(true);
    connector->decide_unsaved_changes(decide);
}

void MainViewController::close_after_decision(std::function<void()> close_now) {
    DocumentInterfaceManager* m = manager();
    VornEditorJSConnector* connector = current_editor_connector();
    if (m && connector && m->my_current_editor_info.file_bucket_id && file_viewer()) {
        connector->remove_record(*m->my_current_editor_info.file_bucket_id);
    }
    if (close_now) close_now();
}

// ---- find commands --------------------------------------------------------------------------------

void MainViewController::fim_find() {
    if (VornEditorJSConnector* connector = current_editor_connector()) {
        connector->run_editor_js(editor_script::toggle_search(false));
    }
}

void MainViewController::fim_find_replace() {
    if (VornEditorJSConnector* connector = current_editor_connector()) {
        connector->run_editor_js(editor_script::toggle_search(true));
    }
}

// ---- server commands ------------------------------------------------------------------------------

void MainViewController::sm_new_service() {
    VornFileViewerSceneDelegateProtocol* viewer = file_viewer();
    if (!viewer || !viewer->my_session_info) return;
    QPointer<VornFileViewerSceneDelegateProtocol> weak(viewer);
    scene_links().open_single_service_scene(viewer->my_session_info->static_window_file_id, [weak](const VornError& e) {
        if (weak) weak->show_error(e);
    });
}

void MainViewController::sm_disconnect_service() {
    VornFileViewerSceneDelegateProtocol* viewer = file_viewer();
    if (!viewer) return;
    // The server's document windows (this one among them) are decided and closed first; an
    // error of the reset then shows on the file viewer, since this window is gone by then.
    QPointer<VornFileViewerSceneDelegateProtocol> weak(viewer);
    viewer->disconnect_service([weak](std::optional<VornError> error) {
        if (error && weak) weak->show_error(error);
    });
}

void MainViewController::sm_connect_service(const ui::Command& sender) {
    const auto id = connection_id(sender);
    if (!id) return;
    VornFileViewerSceneDelegateProtocol* viewer = file_viewer();
    if (!viewer) return;
    QPointer<MainViewController> self(this);
    QPointer<VornFileViewerSceneDelegateProtocol> weak(viewer);
    // Another server: this server's document windows (this one among them) close first.
    viewer->switch_to_service(id->toStdString(), [self, weak](std::shared_ptr<VornProviderBucket>, std::optional<VornError> e) {
        if (!e) return;
        if (self) VORNPresenterUtility::present_error(self.data(), e, "OK");
        else if (weak) weak->show_error(e);
    });
}

void MainViewController::show_alert() {
    scene_links().open_alert_scene("Test Alert", "This is the message", nullptr);
}

void MainViewController::show_history() {
    if (DocumentInterfaceManager* m = manager()) m->show_history();
}

void MainViewController::validateCommand(ui::Command* command) {
    if (!command) return;
    const DocumentCommandValidation v = validate_service_command(*command);
    if (!v.handled) return;
    command->attributes = v.attributes;
    if (v.state_on) command->state = *v.state_on ? 1 : 0;
}

DocumentCommandValidation MainViewController::validate_service_command(const ui::Command& command) const {
    DocumentCommandValidation out;
    VornFileViewerSceneDelegateProtocol* viewer = file_viewer();
    if (command.action == QLatin1String(kDisconnectService)) {
        out.handled = true;
        const bool connected = viewer && viewer->my_session_info && viewer->my_session_info->connected;
        out.attributes = connected ? 0 : (DocumentCommandValidation::kDisabled | DocumentCommandValidation::kHidden);
    } else if (command.action == QLatin1String(kReopenWithEncoding) || command.action == QLatin1String(kSaveWithEncoding)) {
        // The document's own encoding is checked; without a file both are off.
        out.handled = true;
        const DocumentInterfaceManager* m = manager();
        const auto& format = m ? m->my_current_editor_info.text_format : std::nullopt;
        out.attributes = format ? 0 : DocumentCommandValidation::kDisabled;
        out.state_on = format && command_encoding(command) == format->encoding;
    } else if (command.action == QLatin1String(kShowHistory)) {
        // A window without a file has no history to show.
        out.handled = true;
        const DocumentInterfaceManager* m = manager();
        out.attributes = m && m->ace_loaded && m->current_file_path() ? 0 : DocumentCommandValidation::kDisabled;
    } else if (command.action == QLatin1String(kConnectService) && viewer) {
        out.handled = true;
        const auto id = connection_id(command);
        const auto& current = viewer->my_session_info ? viewer->my_session_info->service_id : std::nullopt;
        out.state_on = id && current && id->toStdString() == *current;
    }
    return out;
}

// ---- editor hand-over -----------------------------------------------------------------------------

void MainViewController::after_trait_transition() { schedule_editor_handover(); }

void MainViewController::schedule_editor_handover() {
    QPointer<MainViewController> self(this);
    dispatch::mainQueue().async([self] {
        if (self) self->handover_editor_session();
    });
}

void MainViewController::handover_editor_session() {
    const ui::Idiom idiom = ui::userInterfaceIdiom();
    if (idiom != ui::Idiom::pad && idiom != ui::Idiom::phone) return;
    DocumentInterfaceManager* m = manager();
    if (!m || !m->ace_loaded) return;
    const bool compact = m->uses_compact_editor();
    // Only a change of editor moves the text: a handover asked again (the window shown again, a
    // second layout pass) would copy the hidden page's older text over what was typed since.
    if (compact == m->file_in_compact_editor) return;
    auto target_screen = compact ? m->ext_compact_editor_vc : m->ext_editor_vc;
    auto source_screen = compact ? m->ext_editor_vc : m->ext_compact_editor_vc;
    auto target = compact ? m->editor_compact_js_connector : m->editor_js_connector;
    auto source = compact ? m->editor_js_connector : m->editor_compact_js_connector;
    if (!target_screen || !source_screen || !target || !source) return;

    m->file_in_compact_editor = compact;
    QPointer<MainViewController> self(this);
    QPointer<VornEditorJSConnector> weak_source(source.get());
    QPointer<VornEditorJSConnector> weak_target(target.get());
    QPointer<EditorWebViewController> weak_screen(target_screen.get());
    source->run_editor_js(editor_script::get_current_session(), [=](nlohmann::json reply, std::optional<VornError> error) {
        if (!weak_source) return;
        weak_source->update_file_session(reply, error, [=](std::optional<VornError> e) {
            if (!self) return;
            if (e) {
                // The text stayed where it was.
                if (DocumentInterfaceManager* mm = self->manager()) mm->file_in_compact_editor = !compact;
                VORNPresenterUtility::present_error(self.data(), e, "OK");
                return;
            }
            DocumentInterfaceManager* mm = self->manager();
            if (!mm || !mm->my_current_editor_info.file_bucket_id || !weak_target || !weak_screen) return;
            auto record = weak_target->find_file_session(*mm->my_current_editor_info.file_bucket_id);
            if (!record) return;
            auto content = std::make_shared<VornServerFileContentModel>();
            content->id = record->session_id;
            content->path.clear();
            content->contents.clear();
            content->file_type = EnumManager::editor_file_types::txt;
            const QUrl url(QString::fromStdString(record->file_path));
            const std::string title = url.isValid() && !record->file_path.empty() ? url.fileName().toStdString() : "Editor";
            weak_screen->update_window_title(title);
            weak_screen->open_file_content(content);
            self->restart_editor_session(weak_source.data());
        });
    });
}

void MainViewController::restart_editor_session(VornEditorJSConnector* source) {
    if (source) source->run_editor_js(editor_script::restart_session());
}
