#include "platform/ui/NavigationController.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>

#include "platform/ui/Responder.h"

namespace ui {

namespace {

QString systemItemTitle(BarButtonSystemItem item) {
    switch (item) {
        case BarButtonSystemItem::done: return QStringLiteral("Done");
        case BarButtonSystemItem::cancel: return QStringLiteral("Cancel");
        case BarButtonSystemItem::edit: return QStringLiteral("Edit");
        case BarButtonSystemItem::save: return QStringLiteral("Save");
        case BarButtonSystemItem::add: return QString();
        case BarButtonSystemItem::close: return QString();
    }
    return QString();
}

Image systemItemImage(BarButtonSystemItem item) {
    switch (item) {
        case BarButtonSystemItem::add: return Image::systemImage(QStringLiteral("plus"));
        case BarButtonSystemItem::close: return Image::systemImage(QStringLiteral("multiply"));
        default: return Image();
    }
}

constexpr int kBarHeight = 44;

}  // namespace

// ---- BarButtonItem ---------------------------------------------------------------------------

std::shared_ptr<BarButtonItem> BarButtonItem::withTitle(const QString& title, BarButtonItemStyle style, QObject* target,
                                                        const QString& action) {
    std::shared_ptr<BarButtonItem> item(new BarButtonItem);
    item->title_ = title;
    item->style_ = style;
    item->target_ = target;
    item->action_ = action;
    return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withImage(const Image& image, BarButtonItemStyle style, QObject* target,
                                                        const QString& action) {
    std::shared_ptr<BarButtonItem> item(new BarButtonItem);
    item->image_ = image;
    item->style_ = style;
    item->target_ = target;
    item->action_ = action;
    return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withSystemItem(BarButtonSystemItem system, QObject* target,
                                                             const QString& action) {
    std::shared_ptr<BarButtonItem> item(new BarButtonItem);
    item->systemItem_ = system;
    item->title_ = systemItemTitle(system);
    item->image_ = systemItemImage(system);
    item->style_ = system == BarButtonSystemItem::done ? BarButtonItemStyle::done : BarButtonItemStyle::plain;
    item->target_ = target;
    item->action_ = action;
    return item;
}

void BarButtonItem::setTitle(const QString& title) {
    title_ = title;
    emit changed();
}

void BarButtonItem::setImage(const Image& image) {
    image_ = image;
    emit changed();
}

void BarButtonItem::setTarget(QObject* target, const QString& action) {
    target_ = target;
    action_ = action;
}

void BarButtonItem::setTintColor(std::optional<DynamicColor> color) {
    tint_ = std::move(color);
    emit changed();
}

void BarButtonItem::setEnabled(bool enabled) {
    enabled_ = enabled;
    emit changed();
}

bool BarButtonItem::trigger(QObject* from) {
    if (!enabled_ || action_.isEmpty()) return false;
    Command command;
    command.action = action_;
    command.title = title_;
    command.sender = this;
    if (target_) return invokeAction(target_, action_, command);
    return sendAction(action_, command, from);
}

// ---- NavigationItem --------------------------------------------------------------------------

void NavigationItem::setTitle(const QString& title) {
    title_ = title;
    emit changed();
}

void NavigationItem::watch(const std::vector<BarButtonItemRef>& items) {
    for (const auto& item : items)
        if (item) connect(item.get(), &BarButtonItem::changed, this, &NavigationItem::changed, Qt::UniqueConnection);
}

void NavigationItem::setLeftBarButtonItems(std::vector<BarButtonItemRef> items) {
    left_ = std::move(items);
    watch(left_);
    emit changed();
}

void NavigationItem::setRightBarButtonItems(std::vector<BarButtonItemRef> items) {
    right_ = std::move(items);
    watch(right_);
    emit changed();
}

void NavigationItem::setRightBarButtonItem(BarButtonItemRef item) {
    setRightBarButtonItems(item ? std::vector<BarButtonItemRef>{std::move(item)} : std::vector<BarButtonItemRef>{});
}

void NavigationItem::setHidesBackButton(bool hides) {
    hidesBackButton_ = hides;
    emit changed();
}

// ---- NavigationBar ---------------------------------------------------------------------------

NavigationBar::NavigationBar(NavigationController* owner, QWidget* parent) : QWidget(parent), owner_(owner) {
    setObjectName(QStringLiteral("navigation_bar"));
    setFixedHeight(kBarHeight);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 0, 8, 0);
    left_ = new QHBoxLayout;
    right_ = new QHBoxLayout;
    left_->setSpacing(4);
    right_->setSpacing(4);
    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("navigation_title"));
    title_->setAlignment(Qt::AlignCenter);
    QFont f = title_->font();
    f.setBold(true);
    title_->setFont(f);
    row->addLayout(left_);
    row->addWidget(title_, 1);
    row->addLayout(right_);
}

QString NavigationBar::titleText() const { return title_->text(); }

QList<QToolButton*> NavigationBar::buttons() const {
    QList<QToolButton*> out;
    for (QHBoxLayout* side : {left_, right_})
        for (int i = 0; i < side->count(); ++i)
            if (auto* b = qobject_cast<QToolButton*>(side->itemAt(i)->widget())) out.push_back(b);
    return out;
}

void NavigationBar::setAppearance(const NavigationBarAppearance& appearance) {
    appearance_ = appearance;
    rebuild();
    update();
}

QToolButton* NavigationBar::makeButton(const BarButtonItemRef& item) {
    auto* button = new QToolButton(this);
    button->setAutoRaise(true);
    button->setEnabled(item->isEnabled());
    button->setToolTip(item->title());
    const QColor tint = item->tintColor() ? item->tintColor()->resolvedFor(this) : palette().color(QPalette::ButtonText);
    if (!item->image().isNull()) {
        // An image with a tint of its own keeps it; a plain symbol takes the item's tint.
        Image image = item->image();
        if (!image.tintColor()) image = image.withTintColor(tint);
        button->setIcon(image.icon());
        button->setIconSize(QSize(20, 20));
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    } else {
        button->setText(item->title());
        QPalette p = button->palette();
        p.setColor(QPalette::ButtonText, tint);
        button->setPalette(p);
        if (item->style() == BarButtonItemStyle::done) {
            QFont f = button->font();
            f.setBold(true);
            button->setFont(f);
        }
    }
    std::weak_ptr<BarButtonItem> weak = item;
    QPointer<NavigationBar> self(this);
    connect(button, &QToolButton::clicked, this, [weak, self] {
        auto item = weak.lock();
        if (!item || !self) return;
        ViewController* top = self->owner_ ? self->owner_->topViewController() : nullptr;
        item->trigger(top ? static_cast<QObject*>(top) : static_cast<QObject*>(self.data()));
    });
    return button;
}

void NavigationBar::rebuild() {
    // A button that has the keyboard focus (the one just pressed by the keyboard, say) hands it
    // to the button that takes its place, so the user stays where they were.
    const QList<QToolButton*> before = buttons();
    qsizetype focused = -1;
    for (qsizetype i = 0; i < before.size(); ++i)
        if (before[i]->hasFocus()) focused = i;
    for (QHBoxLayout* side : {left_, right_}) {
        while (QLayoutItem* it = side->takeAt(0)) {
            if (QWidget* w = it->widget()) {
                w->hide();
                w->deleteLater();
            }
            delete it;
        }
    }
    shown_.clear();
    ViewController* top = owner_ ? owner_->topViewController() : nullptr;
    if (!top) {
        title_->clear();
        return;
    }
    NavigationItem* item = top->navigationItem();
    title_->setText(item->title().isEmpty() ? top->title() : item->title());
    QPalette tp = title_->palette();
    tp.setColor(QPalette::WindowText, appearance_.titleColor ? appearance_.titleColor->resolvedFor(this)
                                                             : palette().color(QPalette::WindowText));
    title_->setPalette(tp);

    const auto controllers = owner_->viewControllers();
    if (controllers.size() > 1 && !item->hidesBackButton()) {
        auto* back = new QToolButton(this);
        back->setObjectName(QStringLiteral("navigation_back"));
        back->setAutoRaise(true);
        const QString previous = controllers[controllers.size() - 2]->title();
        back->setText(QStringLiteral("‹ ") + (previous.isEmpty() ? QStringLiteral("Back") : previous));
        QPointer<NavigationController> nav(owner_);
        connect(back, &QToolButton::clicked, this, [nav] {
            if (nav) nav->popViewControllerAnimated(true);
        });
        left_->addWidget(back);
    }
    for (const auto& b : item->leftBarButtonItems()) {
        if (!b) continue;
        left_->addWidget(makeButton(b));
        shown_.push_back(b);
    }
    for (const auto& b : item->rightBarButtonItems()) {
        if (!b) continue;
        right_->addWidget(makeButton(b));
        shown_.push_back(b);
    }
    if (const QList<QToolButton*> after = buttons(); focused >= 0 && focused < after.size()) {
        after[focused]->show();
        after[focused]->setFocus(Qt::OtherFocusReason);
    }
}

void NavigationBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QColor background = appearance_.backgroundColor ? appearance_.backgroundColor->resolvedFor(this)
                                                          : palette().color(QPalette::Window);
    p.fillRect(rect(), background);
    if (!appearance_.backgroundColor) {
        p.setPen(palette().color(QPalette::Mid));
        p.drawLine(0, height() - 1, width(), height() - 1);
    }
}

void NavigationBar::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) rebuild();  // tints follow the appearance
}

// ---- NavigationController --------------------------------------------------------------------

NavigationController::NavigationController(std::shared_ptr<ViewController> root) {
    if (root) pushViewController(root, false);
}

NavigationController::~NavigationController() {
    // The view (and the bar in it) outlives this part of the object for a moment; a palette
    // change then must not reach back into a half-destroyed controller.
    if (bar_) bar_->detachOwner();
}

void NavigationController::loadView() {
    auto* root = new QWidget;
    auto* column = new QVBoxLayout(root);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    bar_ = new NavigationBar(this, root);
    bar_->setVisible(!barHidden_);
    content_ = new QWidget(root);
    stack_ = new QStackedLayout(content_);
    stack_->setContentsMargins(0, 0, 0, 0);
    column->addWidget(bar_);
    column->addWidget(content_, 1);
    setView(root);
    showTop();
}

NavigationBar* NavigationController::navigationBar() {
    loadViewIfNeeded();
    return bar_;
}

ViewController* NavigationController::topViewController() const {
    const auto& list = childViewControllers();
    return list.empty() ? nullptr : list.back().get();
}

void NavigationController::pushViewController(const std::shared_ptr<ViewController>& controller, bool) {
    if (!controller || controller.get() == this || controller->parentViewController() == this) return;
    addChildViewController(controller);
    showTop();
    controller->didMoveToParentViewController(this);
}

std::shared_ptr<ViewController> NavigationController::popViewControllerAnimated(bool) {
    const auto list = childViewControllers();
    if (list.size() <= 1) return nullptr;
    std::shared_ptr<ViewController> top = list.back();
    if (QWidget* v = top->viewIfLoaded(); v && stack_ && stack_->indexOf(v) >= 0) {
        stack_->removeWidget(v);
        v->hide();
        v->setParent(nullptr);
    }
    top->removeFromParentViewController();
    showTop();
    return top;
}

void NavigationController::popToRootViewControllerAnimated(bool animated) {
    while (childViewControllers().size() > 1) popViewControllerAnimated(animated);
}

void NavigationController::setViewControllers(const std::vector<std::shared_ptr<ViewController>>& controllers,
                                              bool animated) {
    for (auto& old : childViewControllers()) {
        if (QWidget* v = old->viewIfLoaded(); v && stack_ && stack_->indexOf(v) >= 0) {
            stack_->removeWidget(v);
            v->hide();
            v->setParent(nullptr);
        }
        old->removeFromParentViewController();
    }
    for (const auto& c : controllers) pushViewController(c, animated);
    showTop();
}

void NavigationController::setNavigationBarHidden(bool hidden, bool) {
    barHidden_ = hidden;
    if (bar_) bar_->setVisible(!hidden);
}

void NavigationController::showTop() {
    ViewController* top = topViewController();
    for (const auto& c : watching_) disconnect(c);
    watching_.clear();
    if (!isViewLoaded() || !stack_) return;
    if (top) {
        QWidget* v = top->view();
        if (stack_->indexOf(v) < 0) stack_->addWidget(v);
        stack_->setCurrentWidget(v);
        auto rebuild = [this] {
            if (bar_) bar_->rebuild();
        };
        watching_.push_back(connect(top->navigationItem(), &NavigationItem::changed, this, rebuild));
        watching_.push_back(connect(top, &ViewController::titleChanged, this, rebuild));
    }
    if (bar_) bar_->rebuild();
}

}  // namespace ui
