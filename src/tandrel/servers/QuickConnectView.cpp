#include "tandrel/servers/QuickConnectView.h"

#include <QActionGroup>
#include <QEnterEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/FileProvider.h"
#include "platform/ui/Accessibility.h"
#include "platform/ui/Appearance.h"
#include "platform/ui/Image.h"
#include "platform/ui/View.h"
#include "tandrel/foundation/Jsonable.h"
#include "tandrel/foundation/UIViewTandrel.h"
#include "tandrel/foundation/VornServicesManager.h"
#include "tandrel/foundation/XCol.h"
#include "tandrel/servers/ExplorerStyle.h"
#include "tandrel/servers/FileViewerScene.h"
#include "tandrel/servers/VornFileViewController.h"

namespace {
using Err = EnumManager::vorn_error_throws;

// The system background (white / black) and the tint colour views take by default.
QColor system_background_for(const QWidget* w) {
    return ui::traitCollectionOf(w).userInterfaceStyle == ui::InterfaceStyle::dark ? QColor(0, 0, 0)
                                                                                  : QColor(255, 255, 255);
}
QColor default_tint_for(const QWidget* w) {
    return ui::traitCollectionOf(w).userInterfaceStyle == ui::InterfaceStyle::dark ? QColor(10, 132, 255)
                                                                                  : QColor(0, 122, 255);
}

QString base64_of(const std::string& text) {
    return QString::fromLatin1(QByteArray::fromStdString(text).toBase64());
}

// A one-line label that cuts its text short when it does not fit (QuickConnectView::shown_text).
class TruncatingLabel : public QLabel {
public:
    explicit TruncatingLabel(bool is_url = false) : is_url_(is_url) {}
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }
    QString shownText() const {
        return QuickConnectView::shown_text(text(), fontMetrics(), contentsRect().width(), is_url_);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setFont(font());
        p.setPen(palette().color(foregroundRole()));
        p.drawText(contentsRect(), static_cast<int>(alignment()) | Qt::TextSingleLine, shownText());
    }

private:
    bool is_url_;
};

// Inside the body (a button) a label draws with the button's text role: set both.
void set_label_colour(QLabel* label, const QColor& colour) {
    QPalette p = label->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(group, QPalette::WindowText, colour);
        p.setColor(group, QPalette::ButtonText, colour);
    }
    label->setPalette(p);
}
}  // namespace

// ---- body -------------------------------------------------------------------------------------

QuickConnectBodyButton::QuickConnectBodyButton(QWidget* parent) : QPushButton(parent) {
    setFlat(true);
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::TabFocus);
}

void QuickConnectBodyButton::setHighlighted(bool on) {
    if (highlighted_ == on) return;
    highlighted_ = on;
    update();
}

void QuickConnectBodyButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(r, 10, 10);
    // The shadow shows through the see-through body: stronger while the pointer is over it.
    p.fillPath(shape, QColor(0, 0, 0, highlighted_ ? 128 : 51));
    QColor background = system_background_for(this);
    background.setAlphaF(0.3f);
    p.fillPath(shape, background);
    if (isDown()) p.fillPath(shape, QColor(127, 127, 127, 60));
    QColor border = XCol::border().resolvedFor(this);
    border.setAlphaF(0.5f);
    p.setPen(QPen(border, 1));
    p.drawPath(shape);
    if (hasFocus()) {
        p.setPen(QPen(default_tint_for(this), 2));
        p.drawRoundedRect(r.adjusted(1, 1, -1, -1), 9, 9);
    }
}

void QuickConnectBodyButton::enterEvent(QEnterEvent* event) {
    QPushButton::enterEvent(event);
    emit hoverChanged(true);
}

void QuickConnectBodyButton::leaveEvent(QEvent* event) {
    QPushButton::leaveEvent(event);
    emit hoverChanged(false);
}

// ---- header -----------------------------------------------------------------------------------

QuickConnectView::QuickConnectView(QWidget* parent)
    : QWidget(parent),
      view_wrapper_btn(new QuickConnectBodyButton(this)),
      connection_status_circle(new QWidget(this)),
      serverConnectionStatus_Lbl(new TruncatingLabel),
      serverConnectionName_Lbl(new TruncatingLabel(true)),
      serverIconImageView(new QLabel(this)),
      quickViewDownArrowImageView(new QLabel),
      encryption_Lbl(new QLabel) {
    connection_status_circle->hide();
    serverIconImageView->hide();
    setup_quick_connect_view();
}

QuickConnectView::~QuickConnectView() {
    if (menu_) delete menu_.data();
}

void QuickConnectView::setup_quick_connect_view() {
    QuickConnectBodyButton* body = view_wrapper_btn;
    body->setToolTip(QStringLiteral("Quick Connect to service"));
    ui::setAccessiblePopup(body, nullptr);  // its menu is made each time it opens
    QPointer<QuickConnectView> self(this);
    connect(body, &QPushButton::clicked, this, [self] {
        if (self) self->activate_quickConnect_menu(self->view_wrapper_btn);
    });
    set_hover_highlight(false);
    util_align_top_anchorWithPixel(body, 0, true);
    util_align_bottom_anchorWithPixel(body, 0, true);
    util_align_left_anchorWithPixel(body, 0, true);
    util_align_right_anchorWithPixel(body, 0, true);
    connect(body, &QuickConnectBodyButton::hoverChanged, this, [self](bool inside) {
        if (self) self->hovering(inside);
    });

    QLabel* status = serverConnectionStatus_Lbl;
    status->setParent(body);
    status->setAttribute(Qt::WA_TransparentForMouseEvents);
    ui::setAlpha(status, 0);
    status->setText(QStringLiteral("Please Wait..."));
    status->setFont(explorer_style::large_title_font());
    status->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    util_align_left_anchorWithPixel(status, 10, true);
    util_align_top_anchorWithPixel(status, 8, true);
    util_align_bottom_anchorWithPixel(status, 40, true);

    QLabel* encryption = encryption_Lbl;
    encryption->setParent(body);
    encryption->setAttribute(Qt::WA_TransparentForMouseEvents);
    encryption->setFont(explorer_style::caption1_font());
    encryption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    util_align_right_anchorWithPixel(encryption, 15 + kArrowSide, true);
    util_align_top_anchorWithPixel(encryption, 8, true);
    util_align_bottom_anchorWithPixel(encryption, 40, true);
    util_align_right_anchor_to_left_of_viewWithView(status, encryption, 6);
    show_encryption(std::nullopt);

    QLabel* url = serverConnectionName_Lbl;
    url->setParent(body);
    url->setAttribute(Qt::WA_TransparentForMouseEvents);
    ui::setAlpha(url, 0);
    url->setText(QStringLiteral("..."));
    url->setFont(explorer_style::headline_font());
    url->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    util_align_top_anchor_to_bottom_of_viewWithView(url, status, 5);
    util_align_left_anchorWithPixel(url, 10, true);
    util_align_right_anchorWithPixel(url, 15 + kArrowSide, true);
    util_align_bottom_anchorWithPixel(url, 0, true);

    QLabel* arrow = quickViewDownArrowImageView;
    arrow->setParent(body);
    arrow->setAttribute(Qt::WA_TransparentForMouseEvents);
    ui::setAlpha(arrow, 0);
    arrow->setAlignment(Qt::AlignCenter);
    arrow->setAccessibleName(QStringLiteral("Open Quick Connect menu"));
    util_align_right_anchorWithPixel(arrow, 10, true);
    util_width_anchorWithPixel(arrow, kArrowSide);
    util_height_anchorWithPixel(arrow, kArrowSide);
    util_align_center_y_anchorWithPixel(arrow, 0);

    apply_colours();
    apply_arrow_image(true);
    // Labels draw in colours that do not change with the appearance; the border and the arrow
    // do.
    new ui::TraitObserver(this, [self](const ui::TraitCollection& previous, const ui::TraitCollection& current) {
        if (!self || previous.userInterfaceStyle == current.userInterfaceStyle) return;
        self->appearance_changed_ = true;
        self->serverIconImageView->setPixmap(
            ui::Image::systemImage(QStringLiteral("server.rack")).pixmap(QSize(kArrowSide, kArrowSide)));
        self->apply_arrow_image(false);
        self->view_wrapper_btn->update();
    });

    clear_header_on_main();
    if (file_delegatex) manage_services();
}

void QuickConnectView::apply_colours() {
    set_label_colour(serverConnectionStatus_Lbl, XCol::teal().resolved());
    set_label_colour(serverConnectionName_Lbl, XCol::purple().resolved());
}

void QuickConnectView::apply_arrow_image(bool tinted) {
    const ui::Image symbol = ui::Image::systemImage(QStringLiteral("arrowtriangle.down.fill"));
    if (symbol.isNull()) {
        quickViewDownArrowImageView->clear();
        return;
    }
    // First in the primary text colour; after an appearance change in the view's tint colour.
    const QColor colour = tinted ? XCol::foreground().resolvedFor(this) : default_tint_for(this);
    const qreal dpr = devicePixelRatioF();
    quickViewDownArrowImageView->setPixmap(symbol.withTintColor(colour).pixmap(QSize(14, 14), dpr));
}

void QuickConnectView::hovering(bool inside) {
    if (inside) {
        set_hover_highlight(true);
        ui::setAlpha(quickViewDownArrowImageView, 1.0);
    } else {
        set_hover_highlight(false);
        ui::setAlpha(quickViewDownArrowImageView, 0.6);
    }
}

void QuickConnectView::set_hover_highlight(bool on) { view_wrapper_btn->setHighlighted(on); }

void QuickConnectView::show_connected_service(const std::string& service_id) {
    // A saved server, or one the window connected to without saving it.
    std::shared_ptr<VornSingleServiceDataModel> found = app_services_manager().find_service(service_id);
    if (!found) return;
    if (auto* window = qobject_cast<FileViewerSceneDelegate*>(file_delegatex.data())) {
        if (window->fileView_controller) window->fileView_controller->hide_welcome_splash_view();
    }
    show_service_name(*found);
    serverConnectionName_Lbl->setText(QString::fromStdString(found->url));
    std::optional<bool> encrypted;
    if (auto* window = qobject_cast<FileViewerSceneDelegate*>(file_delegatex.data())) {
        if (auto provider = window->provider_as_read_write()) encrypted = provider->connectionEncrypted();
    }
    show_encryption(encrypted);
    apply_colours();
    connection_status_circle->setStyleSheet(
        QStringLiteral("background: %1; border-radius: 5px;").arg(XCol::teal().resolved().name()));
    reveal_header();
}

void QuickConnectView::show_service_name(const VornSingleServiceDataModel& server) {
    serverConnectionStatus_Lbl->setText(server.nickname.empty() ? QStringLiteral("CONNECTED")
                                                                : QString::fromStdString(server.nickname));
}

void QuickConnectView::show_encryption(std::optional<bool> encrypted) {
    QLabel* label = encryption_Lbl;
    label->clear();
    if (!encrypted) {
        label->setAccessibleName(QString());
        label->setToolTip(QString());
        setAccessibleName(QString());
        label->hide();
        return;
    }
    if (*encrypted) {
        const ui::Image lock = ui::Image::systemImage(QStringLiteral("lock.fill"));
        const QColor colour = XCol::teal().resolved();
        if (!lock.isNull()) label->setPixmap(lock.withTintColor(colour).pixmap(QSize(16, 16), devicePixelRatioF()));
        label->setAccessibleName(QString::fromLatin1(kEncryptedName));
        label->setToolTip(QStringLiteral("The connection is encrypted"));
    } else {
        label->setText(QString::fromLatin1(kNotEncryptedText));
        set_label_colour(label, XCol::foreground().resolvedFor(this));
        label->setAccessibleName(QString::fromLatin1(kNotEncryptedText));
        label->setToolTip(QStringLiteral("The connection is not encrypted: what is sent can be read on the way"));
    }
    setAccessibleName(label->accessibleName());
    label->show();
}

void QuickConnectView::reveal_header() {
    for (QWidget* w : std::initializer_list<QWidget*>{serverIconImageView, serverConnectionStatus_Lbl,
                                                      connection_status_circle, serverConnectionName_Lbl,
                                                      quickViewDownArrowImageView, encryption_Lbl}) {
        ui::animateAlpha(w, 1.0, 1.0);
    }
}

void QuickConnectView::clear_header_on_main() {
    QPointer<QuickConnectView> self(this);
    dispatch::mainQueue().async([self] {
        if (self) self->clear_header();
    });
}

void QuickConnectView::clear_header() {
    for (QWidget* w : ui::subviews(view_wrapper_btn)) ui::animateAlpha(w, 0.0, 0.5);
    show_encryption(std::nullopt);
}

// ---- menu -------------------------------------------------------------------------------------

QString QuickConnectView::service_entry_name(const VornSingleServiceDataModel& service) {
    if (service.nickname.empty()) return QString::fromStdString(service.url);
    return QString::fromStdString(service.nickname + " (" + service.url + ")");
}

bool QuickConnectView::is_connected_entry(const VornSingleServiceDataModel& service) const {
    auto* window = qobject_cast<FileViewerSceneDelegate*>(file_delegatex.data());
    if (!window || !window->my_session_info) return false;
    const auto& info = *window->my_session_info;
    if (!info.server_url || *info.server_url != service.url) return false;
    // Two saved servers may share a URL (other users): the window's own server is the one.
    if (info.service_id && !info.service_id->empty() && *info.service_id != service.id) return false;
    return true;
}

std::unique_ptr<QMenu> QuickConnectView::build_quick_connect_menu() {
    auto* window = qobject_cast<FileViewerSceneDelegate*>(file_delegatex.data());
    if (!window) {
        if (error_delegate) error_delegate->present_error(Err(Err::no_doc_int_manager));
        return nullptr;
    }
    auto menu = std::make_unique<QMenu>();
    menu->setObjectName(QStringLiteral("quickConnect_menu"));
    menu->setToolTipsVisible(true);
    QPointer<QuickConnectView> self(this);
    const auto& info = window->my_session_info;

    // Disconnect (only while connected).
    if (info && info->connected) {
        menu->addSection(QString());
        QAction* disconnect = menu->addAction(QStringLiteral("Disconnect"));
        disconnect->setObjectName(QStringLiteral("disconnect_service_item"));
        disconnect->setToolTip(QStringLiteral("Disconnect Service"));
        disconnect->setEnabled(!(info->service_id && info->service_id->empty()));
        disconnect->setProperty("destructive", true);
        connect(disconnect, &QAction::triggered, this, [self] {
            if (self) self->disconnect_service();
        });
    }

    menu->addSection(QString());
    QAction* manage = menu->addAction(QStringLiteral("Manage Services"));
    manage->setObjectName(QStringLiteral("manage_services"));
    manage->setToolTip(QStringLiteral("Manage Services"));
    connect(manage, &QAction::triggered, this, [self] {
        if (self) self->manage_services();
    });

    menu->addSection(QString());
    auto* group = new QActionGroup(menu.get());
    group->setExclusive(true);
    const auto& saved = app_services_manager().appServicesModel->saved_services;
    for (const auto& service : saved) {
        if (!service) continue;
        const QString name = service_entry_name(*service);
        QAction* entry = menu->addAction(name);
        entry->setObjectName(base64_of(service->id));
        entry->setToolTip(QStringLiteral("Connect to ") + name);
        entry->setCheckable(true);
        entry->setChecked(is_connected_entry(*service));
        group->addAction(entry);
        const std::string id = service->id;
        connect(entry, &QAction::triggered, this, [self, id] {
            if (self) self->quick_connect_to_service(id);
        });
    }
    if (saved.empty()) {
        QAction* none = menu->addAction(QStringLiteral("No Saved Connections"));
        none->setObjectName(base64_of(new_uuid_string()));
        none->setToolTip(QStringLiteral("No Saved Connections"));
        none->setEnabled(false);
    }
    return menu;
}

QMenu* QuickConnectView::activate_quickConnect_menu(QObject*) {
    auto menu = build_quick_connect_menu();
    if (!menu) return nullptr;
    if (menu_) menu_->deleteLater();
    menu_ = menu.release();
    menu_->setParent(this, menu_->windowFlags());
    menu_->setAttribute(Qt::WA_DeleteOnClose);
    ui::setAccessiblePopup(view_wrapper_btn, menu_);
    menu_->popup(view_wrapper_btn->mapToGlobal(QPoint(0, view_wrapper_btn->height())));
    return menu_;
}

void QuickConnectView::refresh_quick_connect_menu() { activate_quickConnect_menu(view_wrapper_btn); }

void QuickConnectView::quick_connect_to_service(const std::string& service_id) {
    auto* window = qobject_cast<FileViewerSceneDelegate*>(file_delegatex.data());
    if (!window) return;
    QPointer<QuickConnectView> self(this);
    // Another server than the current one: the current server's document windows decide and
    // close first, as in a disconnect.
    window->switch_to_service(service_id, [self](std::shared_ptr<VornProviderBucket>, std::optional<VornError> failure) {
        // A failed quick connect is told, not left as a silent return to the splash.
        if (failure && self && self->error_delegate) self->error_delegate->present_error(failure);
    });
}

void QuickConnectView::disconnect_service() {
    auto* window = qobject_cast<FileViewerSceneDelegate*>(file_delegatex.data());
    if (!window) return;
    QPointer<QuickConnectView> self(this);
    // The server's document windows decide about their changes (and close) before the reset,
    // so "Save" still reaches the server.
    window->disconnect_service([self](std::optional<VornError> error) {
        if (self) self->disconnect_finished(error);
    });
}

void QuickConnectView::disconnect_finished(const std::optional<VornError>& error) {
    if (error) {
        if (error_delegate) error_delegate->present_error(error);
        return;
    }
    auto* window = qobject_cast<FileViewerSceneDelegate*>(file_delegatex.data());
    if (window && window->my_session_info && window->my_session_info->service_id) {
        // The server's document windows closed before the reset.
        if (window->fileView_controller) window->fileView_controller->show_disconnected_state();
        return;
    }
    if (error_delegate) error_delegate->present_error(Err(Err::undeterminedError));
}

void QuickConnectView::manage_services() {
    auto* window = qobject_cast<FileViewerSceneDelegate*>(file_delegatex.data());
    if (window) window->show_welcome_splash();
}

// ---- cutting texts short ------------------------------------------------------------------------

QString QuickConnectView::shown_text(const QString& text, const QFontMetrics& metrics, int width, bool is_url) {
    if (metrics.horizontalAdvance(text) <= width) return text;
    const QString ellipsis = QStringLiteral("\u2026");
    const qsizetype scheme_end = is_url ? text.indexOf(QStringLiteral("://")) : -1;
    if (scheme_end < 0) return metrics.elidedText(text, Qt::ElideRight, width);
    const qsizetype host_start = scheme_end + 3;
    qsizetype path_start = text.indexOf(QLatin1Char('/'), host_start);
    if (path_start < 0) path_start = text.size();
    const QString head = text.left(path_start);  // scheme, host and port
    const QString path = text.mid(path_start);
    // The path gives way in its middle: as much of its end as fits after the head and "…".
    if (!path.isEmpty()) {
        const int room = width - metrics.horizontalAdvance(head + ellipsis);
        if (room >= 0) {
            qsizetype keep = path.size();
            while (keep > 0 && metrics.horizontalAdvance(path.right(keep)) > room) --keep;
            return head + ellipsis + path.right(keep);
        }
    }
    // Then the scheme goes; then the host's start, so that the port stays.
    const QString host = text.mid(host_start, path_start - host_start);
    const QString bare = path.isEmpty() ? host : host + ellipsis;
    if (metrics.horizontalAdvance(bare) <= width) return bare;
    return metrics.elidedText(bare, Qt::ElideLeft, width);
}
