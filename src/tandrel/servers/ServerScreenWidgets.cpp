#include "tandrel/servers/ServerScreenWidgets.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStyleOptionButton>
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "platform/ui/Appearance.h"

namespace servers_ui {

// ---- fonts ---------------------------------------------------------------------------------

double text_style_points(TextStyle style) {
    switch (style) {
        case TextStyle::body: return 17;
        case TextStyle::title1: return 28;
        case TextStyle::subheadline: return 15;
        case TextStyle::caption1: return 12;
        case TextStyle::caption2: return 11;
    }
    return 17;
}

namespace {
// Font points for a size in device-independent pixels on the primary screen.
double points_for_pixels(double pixels) {
    double dpi = 96;
    if (QScreen* screen = QGuiApplication::primaryScreen()) dpi = screen->logicalDotsPerInchY();
    if (dpi <= 0) dpi = 96;
    return pixels * 72.0 / dpi;
}
}  // namespace

QFont system_font(double points) {
    QFont f = QApplication::font();
    f.setPointSizeF(points_for_pixels(points));
    return f;
}

QFont text_style_font(TextStyle style) { return system_font(text_style_points(style)); }

// ---- colours -------------------------------------------------------------------------------

void follow_appearance(QWidget* widget, std::function<void(QWidget*)> apply) {
    if (!widget || !apply) return;
    apply(widget);
    QPointer<QWidget> target(widget);
    new ui::TraitObserver(widget, [target, apply](const ui::TraitCollection&, const ui::TraitCollection&) {
        if (target) apply(target);
    });
}

void bind_text_color(QWidget* widget, const ui::DynamicColor& color) {
    follow_appearance(widget, [color](QWidget* w) {
        const QColor c = color.resolvedFor(w);
        QPalette p = w->palette();
        if (p.color(QPalette::WindowText) == c && p.color(QPalette::Text) == c && p.color(QPalette::ButtonText) == c)
            return;
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            p.setColor(group, QPalette::WindowText, c);
            p.setColor(group, QPalette::Text, c);
            p.setColor(group, QPalette::ButtonText, c);
        }
        w->setPalette(p);
    });
}

ColorView::ColorView(QWidget* parent) : QWidget(parent) {}

void ColorView::setBackgroundColor(std::optional<ui::DynamicColor> color) {
    color_ = std::move(color);
    update();
}

void ColorView::paintEvent(QPaintEvent*) {
    if (!color_) return;
    QPainter painter(this);
    painter.fillRect(rect(), color_->resolvedFor(this));
}

// ---- buttons ---------------------------------------------------------------------------------

const ui::DynamicColor& accent_color() {
    static const ui::DynamicColor c(ui::DynamicColor::Provider([](const ui::TraitCollection& t) {
        return t.userInterfaceStyle == ui::InterfaceStyle::dark ? QColor(0x0a, 0x84, 0xff) : QColor(0x00, 0x7a, 0xff);
    }));
    return c;
}

namespace {

// The fill of gray buttons and of the segment control's track.
QColor quiet_fill(const QWidget* w) {
    const bool dark = ui::traitCollectionOf(w).userInterfaceStyle == ui::InterfaceStyle::dark;
    return dark ? QColor(118, 118, 128, 61) : QColor(118, 118, 128, 31);
}

// Draws a configured button in place of the style's bevel.
class ButtonPainter : public QObject {
public:
    static constexpr const char* kName = "servers_ui_button_painter";

    ButtonPainter(QPushButton* button, ButtonConfiguration configuration)
        : QObject(button), button_(button), configuration_(std::move(configuration)) {
        setObjectName(QLatin1String(kName));
        button->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != button_ || event->type() != QEvent::Paint) return QObject::eventFilter(watched, event);
        paint();
        return true;
    }

private:
    void paint() {
        QPushButton* b = button_;
        QPainter p(b);
        p.setRenderHint(QPainter::Antialiasing);
        const bool filled = configuration_.style == ButtonStyle::filled;
        QColor background = filled ? (configuration_.baseBackgroundColor ? configuration_.baseBackgroundColor->resolvedFor(b)
                                                                         : accent_color().resolvedFor(b))
                                   : quiet_fill(b);
        QColor foreground = configuration_.baseForegroundColor
                                ? configuration_.baseForegroundColor->resolvedFor(b)
                                : (filled ? QColor(Qt::white) : accent_color().resolvedFor(b));
        if (!b->isEnabled()) {
            background = quiet_fill(b);
            foreground = b->palette().color(QPalette::Disabled, QPalette::WindowText);
        } else if (b->isDown()) {
            background = background.lightness() > 128 ? background.darker(115) : background.lighter(130);
        }
        const QRectF r = QRectF(b->rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const double radius = std::min(r.height() / 2, configuration_.size == ButtonSize::large ? 12.0 : 8.0);
        QPainterPath path;
        path.addRoundedRect(r, radius, radius);
        p.fillPath(path, background);
        if (b->hasFocus()) {
            QPen pen(accent_color().resolvedFor(b));
            pen.setWidthF(2);
            p.setPen(pen);
            p.drawRoundedRect(r.adjusted(1, 1, -1, -1), radius, radius);
        }
        // Icon and title, centred together.
        const QFontMetrics fm(b->font());
        const QString text = b->text();
        const int textWidth = text.isEmpty() ? 0 : fm.horizontalAdvance(text);
        const QSize iconSize = b->icon().isNull() ? QSize() : b->iconSize();
        const int gap = (iconSize.isValid() && textWidth > 0) ? 6 : 0;
        const int total = (iconSize.isValid() ? iconSize.width() : 0) + gap + textWidth;
        int x = (b->width() - total) / 2;
        if (iconSize.isValid()) {
            const QPixmap pm = b->icon().pixmap(iconSize, b->devicePixelRatioF(),
                                                b->isEnabled() ? QIcon::Normal : QIcon::Disabled);
            p.drawPixmap(QPoint(x, (b->height() - iconSize.height()) / 2), pm);
            x += iconSize.width() + gap;
        }
        if (textWidth > 0) {
            p.setPen(foreground);
            p.setFont(b->font());
            p.drawText(QRect(x, 0, textWidth + 1, b->height()), Qt::AlignVCenter | Qt::AlignLeft, text);
        }
    }

    QPointer<QPushButton> button_;
    ButtonConfiguration configuration_;
};

}  // namespace

void apply_button_configuration(QPushButton* button, const ButtonConfiguration& configuration) {
    if (!button) return;
    // Only the painter of an earlier configuration goes (the button has other helpers).
    for (QObject* child : button->children()) {
        auto* old = dynamic_cast<ButtonPainter*>(child);
        if (!old || old->objectName() != QLatin1String(ButtonPainter::kName)) continue;
        button->removeEventFilter(old);
        delete old;
    }
    double points = 15;
    if (configuration.size == ButtonSize::small) points = 12;
    if (configuration.size == ButtonSize::large) points = 17;
    button->setFont(configuration.titleFont ? *configuration.titleFont : system_font(points));
    const int height = configuration.size == ButtonSize::small ? 28 : configuration.size == ButtonSize::large ? 50 : 34;
    const int padding = configuration.size == ButtonSize::small ? 10 : configuration.size == ButtonSize::large ? 20 : 12;
    const QFontMetrics fm(button->font());
    const int iconWidth = button->icon().isNull() ? 0 : button->iconSize().width() + 6;
    button->setMinimumSize(fm.horizontalAdvance(button->text()) + iconWidth + 2 * padding, height);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    new ButtonPainter(button, configuration);
    button->update();
}

// ---- segmented control -----------------------------------------------------------------------

// One segment as the assistive technologies see it: a tab named by its title.
class SegmentAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    SegmentAccessible(SegmentedControl* control, int index) : control_(control), index_(index) {}
    bool isValid() const override { return control_ && index_ < control_->numberOfSegments(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return parent() ? parent()->window() : nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override { return control_ ? QAccessible::queryAccessibleInterface(control_) : nullptr; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name && control_ ? control_->titleForSegment(index_) : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!control_) return {};
        const QRect r = control_->segmentRect(index_);
        return QRect(control_->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::PageTab; }
    QAccessible::State state() const override {
        QAccessible::State s;
        s.checkable = true;
        s.checked = control_ && control_->selectedSegmentIndex() == index_;
        s.selectable = true;
        s.selected = s.checked;
        if (!control_ || !control_->isEnabled()) s.disabled = true;
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction() && control_ && control_->isEnabled()) control_->choose(index_);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<SegmentedControl> control_;
    int index_;
};

// The control itself: a tab list of its segments.
class SegmentedControlAccessible : public QAccessibleWidget {
public:
    explicit SegmentedControlAccessible(SegmentedControl* control)
        : QAccessibleWidget(control, QAccessible::PageTabList) {}
    ~SegmentedControlAccessible() override {
        for (QAccessible::Id id : ids_) QAccessible::deleteAccessibleInterface(id);
    }
    int childCount() const override { return control()->numberOfSegments(); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount()) return nullptr;
        while (ids_.size() <= static_cast<size_t>(index)) {
            const int at = static_cast<int>(ids_.size());
            ids_.push_back(QAccessible::registerAccessibleInterface(new SegmentAccessible(control(), at)));
        }
        return QAccessible::accessibleInterface(ids_[index]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (size_t i = 0; i < ids_.size(); ++i) {
            if (QAccessible::accessibleInterface(ids_[i]) == child) return static_cast<int>(i);
        }
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const int index = control()->segmentAt(control()->mapFromGlobal(QPoint(x, y)));
        return index >= 0 ? child(index) : nullptr;
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && control()->accessibleName().isEmpty()) {
            return control()->titleForSegment(control()->selectedSegmentIndex());
        }
        return QAccessibleWidget::text(t);
    }

private:
    SegmentedControl* control() const { return static_cast<SegmentedControl*>(widget()); }
    mutable std::vector<QAccessible::Id> ids_;
};

namespace {
QAccessibleInterface* segmented_control_factory(const QString&, QObject* object) {
    auto* control = qobject_cast<SegmentedControl*>(object);
    return control ? new SegmentedControlAccessible(control) : nullptr;
}
}  // namespace

SegmentedControl::SegmentedControl(const QStringList& items, QWidget* parent) : QWidget(parent), items_(items) {
    static const bool accessible = [] {
        QAccessible::installFactory(segmented_control_factory);
        return true;
    }();
    (void)accessible;
    setFocusPolicy(Qt::StrongFocus);
    setFont(system_font(13));
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
}

QString SegmentedControl::titleForSegment(int index) const {
    return index >= 0 && index < items_.size() ? items_[index] : QString();
}

void SegmentedControl::setSelectedSegmentIndex(int index) {
    if (index < -1 || index >= items_.size()) index = -1;
    if (selected_ == index) return;
    selected_ = index;
    update();
}

QSize SegmentedControl::sizeHint() const {
    const QFontMetrics fm(font());
    int widest = 0;
    for (const QString& item : items_) widest = std::max(widest, fm.horizontalAdvance(item));
    return {std::max(1, static_cast<int>(items_.size())) * (widest + 32), 32};
}

QRect SegmentedControl::segmentRect(int index) const {
    if (index < 0 || index >= items_.size()) return {};
    const int n = static_cast<int>(items_.size());
    const int x0 = index * width() / n;
    const int x1 = (index + 1) * width() / n;
    return {x0, 0, x1 - x0, height()};
}

int SegmentedControl::segmentAt(const QPoint& point) const {
    if (!rect().contains(point)) return -1;
    for (int i = 0; i < items_.size(); ++i)
        if (segmentRect(i).contains(point)) return i;
    return -1;
}

void SegmentedControl::choose(int index) {
    if (index < 0 || index >= items_.size() || index == selected_) return;
    selected_ = index;
    update();
    emit valueChanged();
}

void SegmentedControl::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    setFocus(Qt::MouseFocusReason);
    choose(segmentAt(event->position().toPoint()));
}

void SegmentedControl::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Left) return choose(std::max(0, selected_ - 1));
    if (event->key() == Qt::Key_Right) return choose(std::min(static_cast<int>(items_.size()) - 1, selected_ + 1));
    QWidget::keyPressEvent(event);
}

void SegmentedControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool dark = ui::traitCollectionOf(this).userInterfaceStyle == ui::InterfaceStyle::dark;
    const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(track, 8, 8);
    p.fillPath(path, quiet_fill(this));
    const QColor text = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);
    for (int i = 0; i < items_.size(); ++i) {
        const QRectF seg = QRectF(segmentRect(i));
        if (i == selected_) {
            QPainterPath pill;
            pill.addRoundedRect(seg.adjusted(2, 2, -2, -2), 7, 7);
            p.fillPath(pill, dark ? QColor(0x63, 0x63, 0x66) : QColor(Qt::white));
        } else if (i > 0 && i - 1 != selected_) {
            p.setPen(QColor(142, 142, 147, 90));
            p.drawLine(QPointF(seg.left(), seg.top() + 8), QPointF(seg.left(), seg.bottom() - 8));
        }
        QFont f = font();
        f.setWeight(i == selected_ ? QFont::DemiBold : QFont::Medium);
        p.setFont(f);
        p.setPen(text);
        p.drawText(seg, Qt::AlignCenter, items_[i]);
    }
    if (hasFocus()) {
        QPen pen(accent_color().resolvedFor(this));
        pen.setWidthF(2);
        p.setPen(pen);
        p.drawRoundedRect(track.adjusted(1, 1, -1, -1), 8, 8);
    }
}

// ---- activity indicator ------------------------------------------------------------------------

ActivityIndicatorView::ActivityIndicatorView(QWidget* parent) : QWidget(parent) {
    timer_.setInterval(80);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
        phase_ = (phase_ + 1) % 8;
        update();
    });
    setAttribute(Qt::WA_TransparentForMouseEvents);
    QWidget::setVisible(false);
}

void ActivityIndicatorView::startAnimating() {
    animating_ = true;
    if (!timer_.isActive()) timer_.start();
    show();
}

void ActivityIndicatorView::stopAnimating() {
    animating_ = false;
    timer_.stop();
    if (hidesWhenStopped_) hide();
}

void ActivityIndicatorView::setHidesWhenStopped(bool hides) {
    hidesWhenStopped_ = hides;
    if (!animating_) setVisible(!hides);
}

void ActivityIndicatorView::setColor(const ui::DynamicColor& color) {
    color_ = color;
    update();
}

void ActivityIndicatorView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(width(), height());
    const QPointF centre(width() / 2.0, height() / 2.0);
    const double outer = side / 2.0 - 1;
    const double inner = outer * 0.45;
    QColor c = color_.resolvedFor(this);
    QPen pen;
    pen.setWidthF(std::max(2.0, side / 11.0));
    pen.setCapStyle(Qt::RoundCap);
    for (int i = 0; i < 8; ++i) {
        const int age = (phase_ - i + 8) % 8;  // 0: the leading spoke
        QColor spoke = c;
        spoke.setAlphaF(static_cast<float>(c.alphaF() * (1.0 - age * 0.1)));
        pen.setColor(spoke);
        p.setPen(pen);
        const double angle = i * M_PI / 4.0 - M_PI / 2.0;
        p.drawLine(centre + QPointF(std::cos(angle) * inner, std::sin(angle) * inner),
                   centre + QPointF(std::cos(angle) * outer, std::sin(angle) * outer));
    }
}

// ---- refresh control ---------------------------------------------------------------------------

RefreshControl::RefreshControl(QWidget* parent)
    : QWidget(parent), spinner_(new ActivityIndicatorView(this)), title_(new QLabel(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 8, 12, 8);
    row->setSpacing(8);
    row->addStretch(1);
    spinner_->setFixedSize(20, 20);
    spinner_->setColor(QColor(142, 142, 147));
    row->addWidget(spinner_);
    title_->setFont(system_font(13));
    row->addWidget(title_);
    row->addStretch(1);
    setFixedHeight(44);
    QWidget::setVisible(false);
}

void RefreshControl::setAttributedTitle(const QString& title) { title_->setText(title); }
QString RefreshControl::attributedTitle() const { return title_->text(); }

void RefreshControl::beginRefreshing() {
    if (refreshing_) return;
    refreshing_ = true;
    spinner_->startAnimating();
    show();
}

void RefreshControl::endRefreshing() {
    if (!refreshing_) return;
    refreshing_ = false;
    spinner_->stopAnimating();
    hide();
}

void RefreshControl::beginRefreshingFromUser() {
    beginRefreshing();
    emit valueChanged();
}

}  // namespace servers_ui
