#include "tandrel/servers/ManageServicesViewController.h"

#include <QPainter>
#include <QPushButton>
#include <QWidget>

#include "platform/dispatch/Dispatch.h"
#include "platform/ui/Image.h"
#include "platform/ui/Layout.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/foundation/UIViewTandrel.h"
#include "tandrel/foundation/VornServicesManager.h"
#include "tandrel/foundation/XCol.h"
#include "tandrel/servers/ManageServices_TableViewCell.h"
#include "tandrel/servers/ServerScreenWidgets.h"
#include "tandrel/servers/ServerScreensWindowLink.h"
#include "tandrel/servers/SingleServiceViewController.h"

using servers_ui::TextStyle;

namespace {

// The screen's root view, filled with the palette's background of the appearance it is drawn in.
class ManageServicesRootView : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), XCol::background().resolvedFor(this));
    }
};

// Puts a view into `parent` (keeping a hidden view hidden) and drops the constraints it had, so
// that a builder run again places it afresh.
void place(QWidget* view, QWidget* parent) {
    if (!view || !parent) return;
    const bool keptHidden = view->testAttribute(Qt::WA_WState_ExplicitShowHide) && view->isHidden();
    if (view->parentWidget() != parent) view->setParent(parent);
    if (!keptHidden) view->show();
    ui::deactivate(ui::constraintsOf(view));
}

}  // namespace

ManageServicesViewController::ManageServicesViewController() { make_views(); }

void ManageServicesViewController::make_views() {
    if (!refreshControl) {
        refreshControl = new servers_ui::RefreshControl;
        connect(refreshControl, &servers_ui::RefreshControl::valueChanged, this, [this] { refresh(); });
    }
    if (!header_lbl) header_lbl = new VornLabel;
    if (!services_tableView) {
        services_tableView = new servers_ui::ServicesTableView;
        services_tableView->setAccessibleName(QStringLiteral("Services"));
        services_tableView->setDataSource(this);
        services_tableView->setDelegate(this);
        services_tableView->registerCell(ManageServices_TableViewCell::cell_identifier,
                                         [] { return new ManageServices_TableViewCell; });
    }
    if (!close_btn) {
        close_btn = new QPushButton(QStringLiteral("Close"));
        connect(close_btn, &QPushButton::clicked, this, [this] { close_controller(); });
    }
    if (!new_btn) {
        new_btn = new QPushButton;
        connect(new_btn, &QPushButton::clicked, this, [this] { new_service_pressed(); });
    }
}

ManageServicesViewController::~ManageServicesViewController() {
    if (services_tableView) {
        services_tableView->setDataSource(nullptr);
        services_tableView->setDelegate(nullptr);
    }
    // Views not (yet) in the screen's view are this screen's own.
    const QList<QPointer<QWidget>> own = {refreshControl.data(), header_lbl.data(), services_tableView.data(),
                                          close_btn.data(), new_btn.data()};
    for (const QPointer<QWidget>& w : own)
        if (w && !w->parentWidget()) delete w.data();
}

std::string ManageServicesViewController::connectedServicesSummary(size_t count) {
    std::string phrase;
    // The list counts the servers saved, connected or not.
    if (count == 0) phrase = "no saved services";
    else if (count == 1) phrase = "1 saved service";
    else phrase = std::to_string(count) + " saved services";
    return "You currently have " + phrase + ".";
}

// ---- life cycle ------------------------------------------------------------------------------

void ManageServicesViewController::loadView() {
    make_views();
    setView(new ManageServicesRootView);
}

void ManageServicesViewController::viewDidLoad() {
    VornFileServerViewController::viewDidLoad();
    setTitle(QStringLiteral("Manage Services"));
    setup_header_label();
    setup_new_button();
    setup_close_button();
    setup_services_table();
    refreshControl->setAttributedTitle(QStringLiteral("Pull to refresh"));
}

void ManageServicesViewController::viewWillAppear(bool animated) {
    VornFileServerViewController::viewWillAppear(animated);
    reload_services_on_main();
}

void ManageServicesViewController::user_interface_style_did_change(const ui::TraitCollection&,
                                                                   const ui::TraitCollection&) {}

// ---- building ------------------------------------------------------------------------------

void ManageServicesViewController::setup_header_label() {
    QWidget* root = view();
    make_views();
    header_lbl->setFont(servers_ui::text_style_font(TextStyle::body));
    servers_ui::bind_text_color(header_lbl, XCol::teal());
    place(header_lbl, root);
    util_align_top_anchorWithPixel(header_lbl, 10, true);
    util_align_left_anchorWithPixel(header_lbl, 20, true);
    util_align_right_anchorWithPixel(header_lbl, 54, true);
}

void ManageServicesViewController::setup_new_button() {
    QWidget* root = view();
    make_views();
    new_btn->setFlat(true);
    new_btn->setIcon(ui::Image::systemImage(QStringLiteral("plus"), {18, ui::SymbolWeight::bold})
                         .withTintColor(XCol::teal().resolved(), ui::RenderingMode::alwaysOriginal)
                         .icon());
    new_btn->setIconSize(QSize(18, 18));
    new_btn->setToolTip(QStringLiteral("Add Service"));
    new_btn->setCursor(Qt::PointingHandCursor);
    place(new_btn, root);
    util_align_right_anchorWithPixel(new_btn, 10, true);
    util_width_anchorWithPixel(new_btn, 36);
    util_height_anchorWithPixel(new_btn, 36);
    util_align_center_y_anchor_to_center_y_of_viewWithView(new_btn, header_lbl, 0);
}

void ManageServicesViewController::setup_close_button() {
    QWidget* root = view();
    make_views();
    close_btn->setText(QStringLiteral("Close"));
    servers_ui::ButtonConfiguration configuration;
    configuration.style = servers_ui::ButtonStyle::filled;
    configuration.size = servers_ui::ButtonSize::medium;
    configuration.baseBackgroundColor = XCol::button_background();
    configuration.titleFont = servers_ui::system_font(10);
    servers_ui::apply_button_configuration(close_btn, configuration);
    place(close_btn, root);
    util_align_bottom_anchorWithPixel(close_btn, 20, true);
    util_align_right_anchorWithPixel(close_btn, 20, true);
}

void ManageServicesViewController::setup_services_table() {
    QWidget* root = view();
    make_views();
    services_tableView->setBackgroundColor(std::nullopt);
    services_tableView->setAllowsSelection(true);
    services_tableView->setDataSource(this);
    services_tableView->setDelegate(this);
    services_tableView->registerCell(ManageServices_TableViewCell::cell_identifier,
                                     [] { return new ManageServices_TableViewCell; });
    services_tableView->setEstimatedRowHeight(50);
    services_tableView->addRefreshControl(refreshControl);
    place(services_tableView, root);
    util_align_left_anchorWithPixel(services_tableView, 0, true);
    util_align_right_anchorWithPixel(services_tableView, 0, true);
    util_align_bottom_anchorWithPixel(services_tableView, 60, true);
    util_align_top_anchor_to_bottom_of_viewWithView(services_tableView, header_lbl, 10);
    refreshControl->setAttributedTitle(QStringLiteral("Pull to refresh"));
}

// ---- actions -------------------------------------------------------------------------------

void ManageServicesViewController::refresh() {
    // The window's explorer re-embeds this list a second later, which ends the refreshing.
    if (scene_file_delegatex) {
        servers_link::rebuild_welcome_splash_later(scene_file_delegatex);
        return;
    }
    // No window to do that (the list's own window): the list reloads itself and the control
    // stops, rather than spinning on.
    QPointer<ManageServicesViewController> self(this);
    dispatch::mainQueue().async([self] {
        if (!self) return;
        self->reload_saved_services();
        if (self->refreshControl) self->refreshControl->endRefreshing();
    });
}

void ManageServicesViewController::new_service_pressed() {
    auto form = ui::make<SingleServiceViewController>();
    form->is_editing_a_service = false;
    form->scene_file_delegatex = scene_file_delegatex;
    form->single_vc_to_manage_vc_delegate = WeakLink<single_vc_to_manage_vc_protocol>(this);
    presentViewController(form, true);
}

void ManageServicesViewController::close_controller() {
    if (scene_file_delegatex) servers_link::rebuild_welcome_splash_later(scene_file_delegatex);
    servers_link::dismiss_screen(this);
}

// ---- table ---------------------------------------------------------------------------------

int ManageServicesViewController::tableView_numberOfRowsInSection(servers_ui::ServicesTableView*, int) {
    return static_cast<int>(saved_services.size());
}

servers_ui::TableViewCell* ManageServicesViewController::tableView_cellForRowAtIndexPath(
    servers_ui::ServicesTableView* table, int row) {
    return configure_service_cell(table, row);
}

void ManageServicesViewController::tableView_didSelectRowAtIndexPath(servers_ui::ServicesTableView*, int row) {
    open_selected_service(row);
}

servers_ui::TableViewCell* ManageServicesViewController::configure_service_cell(servers_ui::ServicesTableView* table,
                                                                               int row) {
    servers_ui::TableViewCell* dequeued = table ? table->dequeueReusableCell(ManageServices_TableViewCell::cell_identifier)
                                                : nullptr;
    auto* cell = dynamic_cast<ManageServices_TableViewCell*>(dequeued);
    if (!cell) return new servers_ui::TableViewCell(QString());
    cell->manage_service_cell_delegate = WeakLink<manage_service_cell_delegate_protocol>(this);
    cell->serviceInfo = (row >= 0 && static_cast<size_t>(row) < saved_services.size())
                            ? saved_services[static_cast<size_t>(row)]
                            : nullptr;
    cell->is_odd_row = row % 2 != 0;
    cell->configure_cell();
    return cell;
}

void ManageServicesViewController::open_selected_service(int row) {
    if (row < 0 || static_cast<size_t>(row) >= saved_services.size() || !saved_services[static_cast<size_t>(row)])
        return;
    const std::string id = saved_services[static_cast<size_t>(row)]->id;

    if (QObject* welcome = welcome_manage_services_protocol_delegate.data()) {
        // The welcome screen: connect the explorer's window and stay on screen.
        auto* explorer = qobject_cast<VornFileServerViewController*>(welcome);
        if (!explorer || !explorer->scene_file_delegatex) return;
        QPointer<VornFileViewerSceneDelegateProtocol> window = explorer->scene_file_delegatex;
        QPointer<QObject> explorerLink(welcome);
        servers_link::reset_and_connect(window, id, [window, explorerLink](std::optional<VornError> error) {
            if (error) {
                servers_link::show_error_on_window(window, *error);
                return;
            }
            if (auto* done = dynamic_cast<welcome_manage_services_protocol*>(explorerLink.data()))
                done->welcome_service_connected();
        });
        return;
    }

    // Its own window: connect (when linked to a window) and close.
    if (scene_file_delegatex) {
        QPointer<VornFileViewerSceneDelegateProtocol> window = scene_file_delegatex;
        servers_link::reset_and_connect(window, id, [window](std::optional<VornError> error) {
            if (error) servers_link::show_error_on_window(window, *error);
        });
    }
    servers_link::dismiss_screen(this);
}

// ---- reloading -----------------------------------------------------------------------------

void ManageServicesViewController::service_list_changed() {
    QPointer<ManageServicesViewController> self(this);
    dispatch::mainQueue().async([self] {
        if (!self) return;
        self->reload_services_on_main();
        // Only what this screen presents (the form) goes, never the list itself.
        if (self->presentedViewController()) self->dismissViewControllerAnimated(true);
    });
}

void ManageServicesViewController::reload_services_on_main() {
    // Requests that come while one is on its way (the window returning to the foreground shows
    // the list again too) make one reload.
    if (reload_pending_) return;
    reload_pending_ = true;
    QPointer<ManageServicesViewController> self(this);
    dispatch::mainQueue().async([self] {
        if (self) self->reload_saved_services_on_main();
    });
}

void ManageServicesViewController::reload_saved_services_on_main() {
    QPointer<ManageServicesViewController> self(this);
    dispatch::mainQueue().async([self] {
        if (self) self->reload_saved_services();
    });
}

void ManageServicesViewController::reload_saved_services() {
    reload_pending_ = false;
    saved_services = app_services_manager().appServicesModel->saved_services;
    if (services_tableView) services_tableView->reloadSections();
    ++reloads_;
    update_header_on_main(saved_services.size());
}

void ManageServicesViewController::open_new_service_form_if_empty() {
    QPointer<ManageServicesViewController> self(this);
    dispatch::mainQueue().async([self] {
        if (!self || !self->isViewLoaded() || self->viewIfLoaded()->isHidden()) return;
        // The rows may not have been read yet: the store decides too.
        if (!self->saved_services.empty() || !app_services_manager().appServicesModel->saved_services.empty()) return;
        self->new_service_pressed();
    });
}

void ManageServicesViewController::update_header_on_main(size_t count) {
    QPointer<ManageServicesViewController> self(this);
    dispatch::mainQueue().async([self, count] {
        if (self && self->header_lbl) self->header_lbl->setText(QString::fromStdString(connectedServicesSummary(count)));
    });
}

// ---- rows ----------------------------------------------------------------------------------

std::optional<std::string> ManageServicesViewController::cell_file_controller_window_id() const {
    return file_controller_window_id;
}

QPointer<VornFileViewerSceneDelegateProtocol> ManageServicesViewController::cell_scene_file_delegatex() const {
    return scene_file_delegatex;
}

bool ManageServicesViewController::cell_present_form(const std::shared_ptr<SingleServiceViewController>& form) {
    return presentViewController(form, true);
}

void ManageServicesViewController::cell_link_form(SingleServiceViewController& form) {
    form.single_vc_to_manage_vc_delegate = WeakLink<single_vc_to_manage_vc_protocol>(this);
}
