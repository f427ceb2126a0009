// The file explorer screen: construction and layout, the new-item and sort menus, the welcome
// splash, the connection state and the window title.
#include "tandrel/servers/VornFileViewController.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>

#include "platform/dispatch/Dispatch.h"
#include "platform/ui/Accessibility.h"
#include "platform/ui/View.h"
#include "platform/ui/scenes/Scene.h"
#include "platform/ui/scenes/Window.h"
#include "tandrel/foundation/AppGlobals.h"
#include "tandrel/foundation/EnumManagerImages.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/foundation/UIViewTandrel.h"
#include "tandrel/foundation/UserPrefs.h"
#include "tandrel/foundation/XCol.h"
#include "tandrel/servers/ExplorerStyle.h"
#include "tandrel/servers/FileExplorerListingModel.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/ManageServicesViewController.h"
#include "tandrel/servers/QuickConnectView.h"
#include "tandrel/servers/ServerScreenWidgets.h"
#include "tandrel/servers/VornFileDragDrop.h"

namespace {

// The screen's root view: filled with the palette's background colour of the appearance it is
// drawn in (the window's, which may be fixed to dark or light).
class ExplorerRootView : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), XCol::background().resolvedFor(this));
    }
};

// The system background: white in the light appearance, black in the dark one.
const ui::DynamicColor& system_background() {
    static const ui::DynamicColor color = XCol::makeDynamicColor([](const ui::TraitCollection& t) {
        return t.userInterfaceStyle == ui::InterfaceStyle::dark ? QColor(0, 0, 0) : QColor(255, 255, 255);
    });
    return color;
}

constexpr double kFadeSeconds = 0.2;

void unhide_and_fade_in(QWidget* view) {
    if (!view) return;
    if (view->isHidden()) view->show();
    ui::animateAlpha(view, 1.0, kFadeSeconds);
}

void fade_out_and_hide(QWidget* view) {
    if (!view) return;
    ui::animateAlpha(view, 0.0, kFadeSeconds);
    if (!view->isHidden()) view->hide();
}

}  // namespace

VornFileViewController::VornFileViewController()
    : spinner(new servers_ui::ActivityIndicatorView),
      fileExplorerTableView(new FileExplorerTableView),
      sortByButton(new QPushButton),
      path_bar_view(new QScrollArea),
      currentDIR_view(new QWidget),
      refreshControl(new servers_ui::RefreshControl),
      refresh_button(new QPushButton),
      refresh_action(new QAction(QStringLiteral("Refresh"), this)),
      up_one_level_action(new QAction(QStringLiteral("Up One Level"), this)),
      welcome_splash_view(new servers_ui::ColorView),
      quickConnectView(new QuickConnectView),
      new_drop_button(new QPushButton) {
    model_ = new FileExplorerListingModel(this);
    refresh_action->setShortcut(QKeySequence(Qt::Key_F5));
    refresh_action->setShortcutContext(Qt::WindowShortcut);
    refresh_action->setEnabled(false);
    connect(refresh_action, &QAction::triggered, this, [this] { refreshControl->beginRefreshingFromUser(); });
    // Up one level, as the "[UP ONE LEVEL] .." row: Backspace or Alt+Up anywhere in the screen
    // (a text field keeps its own Backspace).
    up_one_level_action->setShortcuts({QKeySequence(Qt::Key_Backspace), QKeySequence(Qt::ALT | Qt::Key_Up)});
    up_one_level_action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    up_one_level_action->setEnabled(false);
    connect(up_one_level_action, &QAction::triggered, this, [this] { go_up_one_level(); });
    connect(refreshControl, &servers_ui::RefreshControl::valueChanged, this, [this] { refresh(); });
}

VornFileViewController::~VornFileViewController() {
    // Views never placed on the screen belong to it alone.
    for (QWidget* w : std::initializer_list<QWidget*>{spinner, fileExplorerTableView, sortByButton, path_bar_view,
                                                      currentDIR_view, refreshControl, refresh_button, welcome_splash_view,
                                                      quickConnectView, new_drop_button}) {
        if (w && !w->parentWidget()) delete w;
    }
    if (context_menu_) delete context_menu_.data();
}

FileViewerSceneDelegate* VornFileViewController::file_window() const {
    return qobject_cast<FileViewerSceneDelegate*>(scene_file_delegatex.data());
}

void VornFileViewController::loadView() { setView(new ExplorerRootView); }

void VornFileViewController::viewDidLoad() {
    VornFileServerViewController::viewDidLoad();
    setTitle(QStringLiteral("File Explorer"));
    view()->addAction(refresh_action);
    view()->addAction(up_one_level_action);

    setup_quick_connect_header();
    // The explorer's controls come after this list, so they lie above the welcome splash.
    QPointer<VornFileViewController> self(this);
    dispatch::mainQueue().async([self] {
        if (self) self->setup_explorer();
    });
    setup_welcome_splash();
    refreshControl->setAttributedTitle(QStringLiteral("Pull to refresh"));
}

// ---- construction -----------------------------------------------------------------------------

void VornFileViewController::setup_quick_connect_header() {
    quickConnectView->file_delegatex = scene_file_delegatex;
    quickConnectView->error_delegate = this;
    quickConnectView->setParent(view());
    util_align_top_anchorWithPixel(quickConnectView, 20, true);
    util_align_left_anchorWithPixel(quickConnectView, 10, true);
    util_align_right_anchorWithPixel(quickConnectView, 10, true);
    util_height_anchorWithPixel(quickConnectView, kHeaderHeight);
    quickConnectView->show();
}

void VornFileViewController::setup_explorer() {
    if (controls_built_ || !isViewLoaded()) return;
    controls_built_ = true;
    setup_sort_button();
    setup_new_item_button();
    setup_refresh_button();
    setup_path_bar_view();
    setup_table();
    update_tab_order();
    ui::layoutIfNeeded(view());
}

void VornFileViewController::setup_sort_button() {
    const QColor violet = XCol::purple().resolved();
    sortByButton->setLayoutDirection(Qt::RightToLeft);  // image after the title
    explorer_style::style_bordered_button(sortByButton, violet, 2, violet, 8, 10);
    sortByButton->setFont(explorer_style::caption1_font());
    sortByButton->setIconSize(QSize(20, 20));
    sortByButton->setToolTip(QStringLiteral("Sort"));
    sortByButton->setParent(view());
    ui::setAlpha(sortByButton, 0);
    util_width_anchorWithPixel(sortByButton, kRowButtonSide);
    util_height_anchorWithPixel(sortByButton, kRowButtonSide);
    util_align_right_anchorWithPixel(sortByButton, 10, true);
    util_align_top_anchor_to_bottom_of_viewWithView(sortByButton, quickConnectView, 20);
    sortByButton->hide();
    connect(sortByButton, &QPushButton::clicked, this, [this] {
        if (sort_menu_) sort_menu_->popup(sortByButton->mapToGlobal(QPoint(0, sortByButton->height())));
    });
    build_sort_menu();
}

void VornFileViewController::setup_new_item_button() {
    const QColor violet = XCol::purple().resolved();
    explorer_style::style_bordered_button(new_drop_button, violet, 2, violet, 8, 10);
    new_drop_button->setIconSize(QSize(20, 20));
    new_drop_button->setToolTip(QStringLiteral("New"));
    new_drop_button->setParent(view());
    ui::setAlpha(new_drop_button, 0);
    util_width_anchorWithPixel(new_drop_button, kRowButtonSide);
    util_height_anchorWithPixel(new_drop_button, kRowButtonSide);
    util_align_right_anchor_to_left_of_viewWithView(new_drop_button, sortByButton, 10);
    util_align_top_anchor_to_bottom_of_viewWithView(new_drop_button, quickConnectView, 20);
    new_drop_button->hide();
    connect(new_drop_button, &QPushButton::clicked, this, [this] {
        if (new_item_menu_) new_item_menu_->popup(new_drop_button->mapToGlobal(QPoint(0, new_drop_button->height())));
    });
    build_new_item_menu();
}

void VornFileViewController::setup_refresh_button() {
    const QColor violet = XCol::purple().resolved();
    explorer_style::style_bordered_button(refresh_button, violet, 2, violet, 8, 10);
    refresh_button->setIconSize(QSize(20, 20));
    refresh_button->setIcon(ui::Image::systemImage(QStringLiteral("arrow.clockwise")).withTintColor(violet).icon());
    if (refresh_button->icon().isNull()) refresh_button->setText(QStringLiteral("\u21bb"));
    refresh_button->setToolTip(QStringLiteral("Refresh (F5)"));
    refresh_button->setParent(view());
    ui::setAlpha(refresh_button, 0);
    util_width_anchorWithPixel(refresh_button, kRowButtonSide);
    util_height_anchorWithPixel(refresh_button, kRowButtonSide);
    util_align_right_anchor_to_left_of_viewWithView(refresh_button, new_drop_button, 10);
    util_align_top_anchor_to_bottom_of_viewWithView(refresh_button, quickConnectView, 20);
    refresh_button->hide();
    connect(refresh_button, &QPushButton::clicked, refresh_action, &QAction::trigger);
}

void VornFileViewController::setup_path_bar_view() {
    path_bar_view->setFrameShape(QFrame::NoFrame);
    path_bar_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    path_bar_view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    path_bar_view->setWidgetResizable(true);
    path_bar_view->setAutoFillBackground(false);
    path_bar_view->viewport()->setAutoFillBackground(false);
    currentDIR_view->setAutoFillBackground(false);
    auto* row = new QHBoxLayout(currentDIR_view);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addStretch(1);
    path_bar_view->setWidget(currentDIR_view);
    // Its segments take the focus, not the strip that holds them.
    path_bar_view->setFocusPolicy(Qt::NoFocus);
    path_bar_view->setParent(view());
    ui::setAlpha(path_bar_view, 0);
    util_height_anchorWithPixel(path_bar_view, kRowButtonSide);
    util_align_left_anchorWithPixel(path_bar_view, 10, true);
    util_align_right_anchor_to_left_of_viewWithView(path_bar_view, refresh_button, 10);
    util_align_top_anchor_to_bottom_of_viewWithView(path_bar_view, quickConnectView, 20);
    path_bar_view->hide();
    // A long path keeps its last folder in sight.
    connect(path_bar_view->horizontalScrollBar(), &QScrollBar::rangeChanged, path_bar_view, [this](int, int max) {
        path_bar_view->horizontalScrollBar()->setValue(max);
    });
    // A bar that changes width leaves out as many folders as it must, and no more.
    path_bar_view->viewport()->installEventFilter(this);
}

void VornFileViewController::setup_table() {
    QTableView* table = fileExplorerTableView;
    spinner->setColor(XCol::foreground());
    spinner->setHidesWhenStopped(true);
    spinner->setParent(table->viewport());
    spinner->setFixedSize(spinner->sizeHint());
    table->viewport()->installEventFilter(this);

    table->setModel(model_);
    table->setItemDelegate(new FileViewTableViewCellPainter(table));
    table->horizontalHeader()->hide();
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(FileViewTableViewCellPainter::kRowHeight);
    table->setShowGrid(false);
    table->setWordWrap(false);
    table->setFrameShape(QFrame::NoFrame);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    fileExplorerTableView->setSelectAllSkipRole(FileExplorerListingModel::UpOneLevelRole);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The arrow keys move between rows; Tab leaves the table for the window's other controls.
    table->setTabKeyNavigation(false);
    table->setAccessibleName(QStringLiteral("Files"));
    table->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->setMouseTracking(true);
    // Clear without a style sheet, so the table keeps the window's palette (and appearance).
    table->setAutoFillBackground(false);
    table->viewport()->setAutoFillBackground(false);
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(table, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) { show_context_menu(p); });
    connect(table, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) open_file_entry(index.row());
    });
    table->installEventFilter(this);

    // Drag and drop: dropped files are uploaded into the current folder; a file dragged out
    // carries its bytes.
    QPointer<VornFileServerViewController> screen(this);
    model_->drop_mime_types = {QStringLiteral("text/uri-list"), QStringLiteral("text/plain"),
                               QStringLiteral("application/octet-stream")};
    model_->drag_provider = [screen](const QModelIndexList& indexes) -> QMimeData* {
        if (indexes.isEmpty()) return nullptr;
        return VornFileDragDrop::drag_items_for_row(screen, indexes.first().row());
    };
    model_->drop_acceptor = [](const QMimeData* data, Qt::DropAction, int) {
        // A row dragged out of this table is not uploaded back into it.
        return qobject_cast<const VornDraggedFileMimeData*>(data) == nullptr;
    };
    model_->drop_handler = [screen](const QMimeData* data, Qt::DropAction, int) {
        if (!screen || !data || qobject_cast<const VornDraggedFileMimeData*>(data)) return false;
        return VornFileDragDrop::perform_file_drop(screen, *data) > 0;
    };
    table->setDragEnabled(true);
    table->setAcceptDrops(true);
    table->setDragDropMode(QAbstractItemView::DragDrop);
    table->setDefaultDropAction(Qt::CopyAction);
    table->setDropIndicatorShown(false);

    refreshControl->setParent(table);
    refreshControl->hide();

    table->setParent(view());
    util_align_top_anchor_to_bottom_of_viewWithView(table, path_bar_view, 10);
    util_align_left_anchorWithPixel(table, 0, false);
    util_align_right_anchorWithPixel(table, 0, false);
    util_align_bottom_anchorWithPixel(table, 1, false);
    ui::setAlpha(table, 0);
    table->hide();
}

void VornFileViewController::setup_welcome_splash() {
    static_cast<servers_ui::ColorView*>(welcome_splash_view)->setBackgroundColor(system_background());
    welcome_splash_view->setParent(view());
    util_align_top_anchorWithPixel(welcome_splash_view, 0, false);
    util_align_bottom_anchorWithPixel(welcome_splash_view, 0, false);
    util_align_left_anchorWithPixel(welcome_splash_view, 0, false);
    util_align_right_anchorWithPixel(welcome_splash_view, 0, false);
    welcome_splash_view->show();
    welcome_splash_view->raise();
    hide_views_under_splash();
    rebuild_welcome_splash_later();
}

bool VornFileViewController::eventFilter(QObject* watched, QEvent* event) {
    if (fileExplorerTableView && watched == fileExplorerTableView->viewport() && event->type() == QEvent::Resize) {
        QWidget* port = fileExplorerTableView->viewport();
        spinner->move((port->width() - spinner->width()) / 2, (port->height() - spinner->height()) / 2);
        refreshControl->setGeometry(0, 0, fileExplorerTableView->width(), refreshControl->height());
    }
    if (path_bar_view && watched == path_bar_view->viewport() && event->type() == QEvent::Resize) fit_path_bar();
    if (watched == fileExplorerTableView && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && key->modifiers() == Qt::NoModifier) {
            const QModelIndex current = fileExplorerTableView->currentIndex();
            if (current.isValid()) {
                open_file_entry(current.row());
                return true;
            }
        }
    }
    return VornFileServerViewController::eventFilter(watched, event);
}

// ---- new-item and sort menus --------------------------------------------------------------------

void VornFileViewController::build_new_item_menu() {
    const QColor violet = XCol::purple().resolved();
    new_drop_button->setIcon(ui::Image::systemImage(QStringLiteral("plus")).withTintColor(violet).icon());
    auto* menu = new QMenu(new_drop_button);
    const QColor text = XCol::foreground().resolvedFor(view());
    QAction* file = menu->addAction(ui::Image::systemImage(QStringLiteral("doc.fill")).withTintColor(text).icon(),
                                    QStringLiteral("File"));
    file->setToolTip(QStringLiteral("New File"));
    file->setStatusTip(QStringLiteral("New File"));
    QAction* folder = menu->addAction(ui::Image::systemImage(QStringLiteral("folder.fill")).withTintColor(text).icon(),
                                      QStringLiteral("Folder"));
    folder->setToolTip(QStringLiteral("New Folder"));
    folder->setStatusTip(QStringLiteral("New Folder"));
    QPointer<VornFileViewController> self(this);
    connect(file, &QAction::triggered, this, [self] {
        if (self) self->new_file();
    });
    connect(folder, &QAction::triggered, this, [self] {
        if (self) self->new_folder();
    });
    menu->setToolTipsVisible(true);
    if (new_item_menu_) new_item_menu_->deleteLater();
    new_item_menu_ = menu;
    ui::setAccessiblePopup(new_drop_button, menu);
}

QString VornFileViewController::sort_title(EnumManager::file_explorer_sorting order) {
    switch (order) {
        case EnumManager::file_explorer_sorting::name: return QStringLiteral("Name");
        case EnumManager::file_explorer_sorting::kind: return QStringLiteral("Kind");
        case EnumManager::file_explorer_sorting::size: return QStringLiteral("Size");
        case EnumManager::file_explorer_sorting::dateModified: return QStringLiteral("Last Modified");
    }
    return {};
}

std::optional<int64_t> VornFileViewController::stored_sort_number() {
    const auto text = UserPrefs::user_defaults().stringForKey("FILEEXPLORER_SORTING");
    if (!text || text->empty()) return std::nullopt;
    size_t i = 0;
    if ((*text)[0] == '-' || (*text)[0] == '+') i = 1;
    if (i == text->size()) return std::nullopt;
    for (size_t k = i; k < text->size(); ++k)
        if (!std::isdigit(static_cast<unsigned char>((*text)[k]))) return std::nullopt;
    try {
        return std::stoll(*text);
    } catch (...) {
        return std::nullopt;
    }
}

void VornFileViewController::build_sort_menu() {
    const auto stored = stored_sort_number();
    // An unreadable setting leaves the button and its menu as they are; without a menu yet, the
    // menu is made with no order turned on (the listing sorts by name then), so there is always
    // one to choose an order from.
    if (!stored && sort_menu_) return;
    const QColor violet = XCol::purple().resolved();
    const auto order = stored ? EnumManager::file_explorer_sorting_from_raw(*stored) : std::nullopt;
    const ui::TraitCollection traits = isViewLoaded() ? traitCollection() : ui::currentTraitCollection();
    if (order) {
        sortByButton->setIcon(sort_menu_image(*order, traits).withTintColor(violet).icon());
    } else {
        sortByButton->setIcon(QIcon());
    }

    auto* menu = new QMenu(sortByButton);
    menu->setToolTipsVisible(true);
    QPointer<VornFileViewController> self(this);
    for (auto each : EnumManager::file_explorer_sorting_all_cases()) {
        const QString title = sort_title(each);
        QAction* action = menu->addAction(sort_menu_image(each, traits).icon(), title);
        action->setToolTip(QStringLiteral("Sort by: ") + title);
        action->setStatusTip(QStringLiteral("Sort by: ") + title);
        action->setCheckable(true);
        action->setChecked(stored && *stored == static_cast<int64_t>(each));
        connect(action, &QAction::triggered, this, [self, each] {
            if (self) self->select_sort_order(each);
        });
    }
    if (sort_menu_) sort_menu_->deleteLater();
    sort_menu_ = menu;
    ui::setAccessiblePopup(sortByButton, menu);
}

void VornFileViewController::select_sort_order(EnumManager::file_explorer_sorting order) {
    UserPrefs::setPreference("FILEEXPLORER_SORTING", defaults::Value(static_cast<int64_t>(order)));
    // While a folder is loading, the rows shown so far take the order and the listing goes on
    // (it is shown in that order when it is whole).
    if (loading_ && !partial_rows_.empty()) show_partial_listing();
    else go_to_directory(current_settings.current_dir, true);
    const ui::TraitCollection traits = isViewLoaded() ? traitCollection() : ui::currentTraitCollection();
    sortByButton->setIcon(sort_menu_image(order, traits).icon());
    build_sort_menu();
}

// ---- connection state, title, welcome splash ------------------------------------------------------

void VornFileViewController::show_connected_state() {
    setup_explorer();
    for (QWidget* w : std::initializer_list<QWidget*>{new_drop_button, sortByButton, refresh_button, path_bar_view,
                                                      fileExplorerTableView}) {
        unhide_and_fade_in(w);
    }
    refresh_action->setEnabled(true);
    up_one_level_action->setEnabled(true);
    hide_welcome_splash_view();
    // The server's root folder is the first listing of a connection.
    current_settings = current_file_explorer_settings{};
    go_to_directory("/", true);
}

void VornFileViewController::show_disconnected_state() {
    for (QWidget* w : std::initializer_list<QWidget*>{new_drop_button, sortByButton, refresh_button, path_bar_view,
                                                      fileExplorerTableView}) {
        fade_out_and_hide(w);
        // Not shown again when the splash goes: they wait for the next connection.
        under_splash_.removeAll(w);
    }
    refresh_action->setEnabled(false);
    up_one_level_action->setEnabled(false);
    refresh_directory_on_main(true);
}

void VornFileViewController::update_window_title_on_main(std::shared_ptr<VornSingleServiceDataModel> service) {
    QPointer<VornFileViewController> self(this);
    dispatch::mainQueue().async([self, service] {
        if (self) self->update_window_title(service);
    });
}

void VornFileViewController::update_window_title(const std::shared_ptr<VornSingleServiceDataModel>& service) {
    std::string title = app_display_name();
    if (service) title = service->nickname.empty() ? service->url : service->nickname;
    auto* window = qobject_cast<ui::Window*>(viewIfLoaded() ? viewIfLoaded()->window() : nullptr);
    if (!window || !window->windowScene()) return;
    window->windowScene()->setTitle(QString::fromStdString(title));
}

void VornFileViewController::rebuild_welcome_splash_later() {
    // A weak link: a task dropped unrun (at exit) must not be the one that destroys the screen.
    QPointer<VornFileViewController> self(this);
    dispatch::after(dispatch::mainQueue(), std::chrono::milliseconds(1000), [self] {
        if (self) self->rebuild_welcome_splash();
    });
}

void VornFileViewController::rebuild_welcome_splash() {
    FileViewerSceneDelegate* window = file_window();
    std::shared_ptr<ManageServicesViewController> list = window ? window->welcome_manage_services_vc : nullptr;
    QWidget* listView = list ? list->view() : nullptr;
    for (QWidget* child : ui::subviews(welcome_splash_view)) {
        if (child == listView) continue;  // placed again below
        child->hide();
        child->setParent(nullptr);
        child->deleteLater();
    }
    if (!window || !list) return;
    if (list->close_btn && !list->close_btn->isHidden()) list->close_btn->hide();
    addChildViewController(list);
    list->setup_header_label();
    list->setup_new_button();
    list->setup_close_button();
    list->setup_services_table();
    if (list->refreshControl) list->refreshControl->endRefreshing();
    const bool first_embedding = listView->parentWidget() != welcome_splash_view;
    if (first_embedding) {
        listView->setParent(welcome_splash_view);
        util_align_top_anchorWithPixel(listView, 0, false);
        util_align_bottom_anchorWithPixel(listView, 0, false);
        util_align_left_anchorWithPixel(listView, 0, false);
        util_align_right_anchorWithPixel(listView, 0, false);
    }
    listView->show();
    ui::layoutIfNeeded(welcome_splash_view);
    // The window opens on its welcome screen: a user without saved servers lands in the add
    // form. Only then: the later rebuilds (a refresh, a closed form) leave a closed form closed.
    const bool connected = window->my_session_info && window->my_session_info->connected;
    if (first_embedding && !connected) list->open_new_service_form_if_empty();
}

void VornFileViewController::show_welcome_splash_view() {
    ui::animateAlpha(welcome_splash_view, 1.0, 0);
    ui::setAlpha(welcome_splash_view, 1.0);
    welcome_splash_view->show();
    welcome_splash_view->raise();
    hide_views_under_splash();
}

void VornFileViewController::hide_views_under_splash() {
    // What the splash covers is out of sight: hidden, so that neither the keyboard nor the
    // assistive technologies reach it, until the splash goes.
    for (QWidget* w : ui::subviews(view())) {
        if (w == welcome_splash_view || w->isHidden()) continue;
        w->hide();
        under_splash_.push_back(w);
    }
}

void VornFileViewController::show_views_under_splash() {
    const QList<QPointer<QWidget>> covered = std::exchange(under_splash_, {});
    for (const QPointer<QWidget>& w : covered)
        if (w) w->show();
}

void VornFileViewController::update_tab_order() {
    // Left to right, top to bottom: the header, the path bar's segments, refresh, new, sort,
    // then the table.
    QList<QWidget*> order{quickConnectView->view_wrapper_btn};
    for (VornTargetedButton* segment : path_bar_buttons()) order.push_back(segment);
    order << refresh_button << new_drop_button << sortByButton << fileExplorerTableView;
    for (qsizetype i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

void VornFileViewController::go_up_one_level() {
    FileViewerSceneDelegate* window = file_window();
    if (!window || !window->my_session_info || !window->my_session_info->connected) return;
    begin_loading_on_main(true);
    go_to_directory("../", true);
}

void VornFileViewController::hide_welcome_splash_view() {
    ui::animateAlpha(welcome_splash_view, 0.0, 0);
    ui::setAlpha(welcome_splash_view, 0.0);
    // Out of the way of the keyboard too, not only of the eye and the pointer.
    welcome_splash_view->hide();
    show_views_under_splash();
}

void VornFileViewController::welcome_service_connected() {}

void VornFileViewController::user_interface_style_did_change(const ui::TraitCollection&, const ui::TraitCollection&) {
    reload_visible_sections_on_main();
    build_path_bar();
    build_sort_menu();
    build_new_item_menu();
}
