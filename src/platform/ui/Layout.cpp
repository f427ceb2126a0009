#include "platform/ui/Layout.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHash>
#include <QLoggingCategory>
#include <QScrollArea>
#include <algorithm>
#include <cmath>
#include <map>

Q_LOGGING_CATEGORY(lcLayout, "dravix.ui.layout")

namespace ui {

namespace {

const char* kTranslatesProperty = "ui_translates_autoresizing_mask";

enum Axis { horizontal = 0, vertical = 1 };

Axis axisOf(Attribute a) {
    switch (a) {
        case Attribute::left:
        case Attribute::right:
        case Attribute::width:
        case Attribute::centerX: return horizontal;
        default: return vertical;
    }
}

bool isSize(Attribute a) { return a == Attribute::width || a == Attribute::height; }

double valueIn(const QRectF& r, Attribute a) {
    switch (a) {
        case Attribute::left: return r.left();
        case Attribute::right: return r.left() + r.width();
        case Attribute::top: return r.top();
        case Attribute::bottom: return r.top() + r.height();
        case Attribute::width: return r.width();
        case Attribute::height: return r.height();
        case Attribute::centerX: return r.left() + r.width() / 2;
        case Attribute::centerY: return r.top() + r.height() / 2;
    }
    return 0;
}

class LayoutEngine;

// The active constraints whose first item is one widget; a child object of that widget.
class ConstraintStore : public QObject {
public:
    explicit ConstraintStore(QWidget* owner);
    ~ConstraintStore() override;
    std::vector<ConstraintRef> constraints;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* owner_;
};

// Solves the constrained children of one container; a child object of the container.
class LayoutEngine : public QObject {
public:
    explicit LayoutEngine(QWidget* container);
    ~LayoutEngine() override;
    void solve();
    void requestSolve();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* container_;
    bool pending_ = false;
    bool solving_ = false;
};

QHash<const QWidget*, ConstraintStore*>& stores() {
    static QHash<const QWidget*, ConstraintStore*> map;
    return map;
}

QHash<const QWidget*, LayoutEngine*>& engines() {
    static QHash<const QWidget*, LayoutEngine*> map;
    return map;
}

ConstraintStore* storeOf(const QWidget* w, bool create) {
    if (!w) return nullptr;
    auto it = stores().find(w);
    if (it != stores().end()) return it.value();
    if (!create) return nullptr;
    return new ConstraintStore(const_cast<QWidget*>(w));
}

LayoutEngine* engineOf(QWidget* container, bool create) {
    if (!container) return nullptr;
    auto it = engines().find(container);
    if (it != engines().end()) return it.value();
    if (!create) return nullptr;
    return new LayoutEngine(container);
}

ConstraintStore::ConstraintStore(QWidget* owner) : QObject(owner), owner_(owner) {
    setObjectName(QStringLiteral("ui_constraint_store"));
    stores().insert(owner, this);
    owner->installEventFilter(this);
}

ConstraintStore::~ConstraintStore() { stores().remove(owner_); }

bool ConstraintStore::eventFilter(QObject* watched, QEvent* event) {
    if (watched == owner_ && event->type() == QEvent::ParentChange && !constraints.empty()) {
        if (QWidget* parent = owner_->parentWidget()) engineOf(parent, true)->requestSolve();
    }
    return QObject::eventFilter(watched, event);
}

LayoutEngine::LayoutEngine(QWidget* container) : QObject(container), container_(container) {
    setObjectName(QStringLiteral("ui_layout_engine"));
    engines().insert(container, this);
    container->installEventFilter(this);
}

LayoutEngine::~LayoutEngine() { engines().remove(container_); }

void LayoutEngine::requestSolve() {
    if (pending_) return;
    pending_ = true;
    QCoreApplication::postEvent(container_, new QEvent(QEvent::LayoutRequest));
}

bool LayoutEngine::eventFilter(QObject* watched, QEvent* event) {
    if (watched == container_) {
        switch (event->type()) {
            case QEvent::Resize:
            case QEvent::LayoutRequest:
            case QEvent::Show:
                solve();
                break;
            default: break;
        }
    }
    return QObject::eventFilter(watched, event);
}

// Where a target widget lies in the container's coordinates, from current geometry.
std::optional<QRectF> rectInContainer(QWidget* target, QWidget* container) {
    if (!target) return std::nullopt;
    if (target == container) return QRectF(QPointF(0, 0), QSizeF(container->size()));
    if (container->isAncestorOf(target)) {
        const QPoint origin = target->mapTo(container, QPoint(0, 0));
        return QRectF(QPointF(origin), QSizeF(target->size()));
    }
    if (target->isAncestorOf(container)) {
        const QPoint origin = container->mapTo(target, QPoint(0, 0));
        return QRectF(QPointF(-origin), QSizeF(target->size()));
    }
    if (target->window() == container->window()) {
        QWidget* top = container->window();
        const QPoint t = target->mapTo(top, QPoint(0, 0));
        const QPoint c = container->mapTo(top, QPoint(0, 0));
        return QRectF(QPointF(t - c), QSizeF(target->size()));
    }
    return std::nullopt;
}

struct Node {
    QWidget* widget = nullptr;
    QRectF frame;
    bool solved[2] = {false, false};
    std::vector<ConstraintRef> constraints;
};

void LayoutEngine::solve() {
    pending_ = false;
    if (solving_) return;
    solving_ = true;

    std::vector<Node> nodes;
    std::map<const QWidget*, size_t> index;
    for (QObject* child : container_->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (!w || w->isWindow()) continue;
        ConstraintStore* store = storeOf(w, false);
        if (!store || store->constraints.empty()) continue;
        Node n;
        n.widget = w;
        n.frame = QRectF(w->geometry());
        for (const auto& c : store->constraints)
            if (c->isActive()) n.constraints.push_back(c);
        if (n.constraints.empty()) continue;
        index[w] = nodes.size();
        nodes.push_back(std::move(n));
    }
    const QRectF containerRect(QPointF(0, 0), QSizeF(container_->size()));

    // The value of a target attribute; nothing while the target is a sibling not yet solved on
    // that axis (unless `force`, when its current frame is used).
    auto targetValue = [&](const LayoutItem& target, Attribute attr, bool force) -> std::optional<double> {
        QWidget* v = target.view;
        if (!v) return std::nullopt;
        if (v == container_) return valueIn(containerRect, attr);
        auto it = index.find(v);
        if (it != index.end()) {
            const Node& n = nodes[it->second];
            if (!n.solved[axisOf(attr)] && !force) return std::nullopt;
            return valueIn(n.frame, attr);
        }
        auto r = rectInContainer(v, container_);
        if (!r) return std::nullopt;
        return valueIn(*r, attr);
    };

    // Solves one axis of one node; false when it must wait for a sibling.
    auto solveAxis = [&](Node& n, Axis axis, bool force) -> bool {
        std::optional<double> start, end, center, size;
        double minSize = 0, maxSize = QWIDGETSIZE_MAX;
        for (const auto& c : n.constraints) {
            if (axisOf(c->firstAttribute()) != axis) continue;
            std::optional<double> v;
            if (c->secondItem() && c->secondAttribute()) {
                v = targetValue(*c->secondItem(), *c->secondAttribute(), force);
                if (!v) {
                    if (!force) return false;
                    continue;
                }
                *v += c->constant();
            } else {
                v = c->constant();
            }
            if (c->relation() == Relation::equal) {
                switch (c->firstAttribute()) {
                    case Attribute::left:
                    case Attribute::top: start = v; break;
                    case Attribute::right:
                    case Attribute::bottom: end = v; break;
                    case Attribute::centerX:
                    case Attribute::centerY: center = v; break;
                    default: size = v; break;
                }
            } else if (isSize(c->firstAttribute())) {
                if (c->relation() == Relation::lessThanOrEqual) maxSize = std::min(maxSize, *v);
                else minSize = std::max(minSize, *v);
            } else {
                qCDebug(lcLayout) << "position inequalities are not solved; ignored";
            }
        }
        const double curStart = axis == horizontal ? n.frame.left() : n.frame.top();
        const double curSize = axis == horizontal ? n.frame.width() : n.frame.height();
        double s = curStart, len = curSize;
        if (size) {
            len = *size;
            if (start) s = *start;
            else if (end) s = *end - len;
            else if (center) s = *center - len / 2;
        } else if (start && end) {
            s = *start;
            len = *end - *start;
        } else if (start && center) {
            s = *start;
            len = 2 * (*center - *start);
        } else if (end && center) {
            len = 2 * (*end - *center);
            s = *end - len;
        } else {
            const QSize hint = n.widget->sizeHint();
            int hinted = axis == horizontal ? hint.width() : hint.height();
            if (axis == vertical && n.widget->hasHeightForWidth()) {
                // Wrapping text: its height follows the width it was given.
                if (!n.solved[horizontal] && !force) return false;
                const int forWidth = n.widget->heightForWidth(static_cast<int>(std::lround(n.frame.width())));
                if (forWidth >= 0) hinted = forWidth;
            }
            len = hinted >= 0 ? hinted : curSize;
            len = std::clamp(len, minSize, std::max(minSize, maxSize));
            if (start) s = *start;
            else if (end) s = *end - len;
            else if (center) s = *center - len / 2;
        }
        if (len < 0) len = 0;
        if (axis == horizontal) {
            n.frame.setLeft(s);
            n.frame.setWidth(len);
        } else {
            n.frame.setTop(s);
            n.frame.setHeight(len);
        }
        n.solved[axis] = true;
        return true;
    };

    bool progress = true;
    while (progress) {
        progress = false;
        for (auto& n : nodes)
            for (Axis axis : {horizontal, vertical})
                if (!n.solved[axis] && solveAxis(n, axis, false)) progress = true;
    }
    for (auto& n : nodes)  // cycles or unreachable targets: use what is there now
        for (Axis axis : {horizontal, vertical})
            if (!n.solved[axis]) solveAxis(n, axis, true);

    for (auto& n : nodes) {
        const int x = static_cast<int>(std::lround(n.frame.left()));
        const int y = static_cast<int>(std::lround(n.frame.top()));
        const int r = static_cast<int>(std::lround(n.frame.left() + n.frame.width()));
        const int b = static_cast<int>(std::lround(n.frame.top() + n.frame.height()));
        const QRect g(x, y, std::max(0, r - x), std::max(0, b - y));
        if (n.widget->geometry() != g) n.widget->setGeometry(g);
    }
    solving_ = false;
}

}  // namespace

LayoutItem itemOf(QWidget* view) { return LayoutItem{view, LayoutItem::Kind::view}; }
LayoutItem safeAreaLayoutGuide(QWidget* view) { return LayoutItem{view, LayoutItem::Kind::safeAreaGuide}; }

LayoutItem contentLayoutGuide(QScrollArea* scrollArea) {
    if (!scrollArea) return LayoutItem{};
    if (!scrollArea->widget()) {
        scrollArea->setWidget(new QWidget);
        scrollArea->setWidgetResizable(true);
    }
    return LayoutItem{scrollArea->widget(), LayoutItem::Kind::contentGuide};
}

QScrollArea* scrollAreaOfContent(QWidget* w) {
    if (!w) return nullptr;
    QWidget* viewport = w->parentWidget();
    if (!viewport) return nullptr;
    auto* area = qobject_cast<QScrollArea*>(viewport->parentWidget());
    return area && area->widget() == w ? area : nullptr;
}

LayoutConstraint::LayoutConstraint(LayoutItem item, Attribute attribute, Relation relation,
                                   std::optional<LayoutItem> target, std::optional<Attribute> targetAttribute,
                                   double constant)
    : item_(std::move(item)),
      attribute_(attribute),
      relation_(relation),
      target_(std::move(target)),
      targetAttribute_(targetAttribute),
      constant_(constant) {}

LayoutConstraint::~LayoutConstraint() = default;

void LayoutConstraint::setConstant(double constant) {
    if (constant_ == constant) return;
    constant_ = constant;
    if (active_) invalidate();
}

void LayoutConstraint::setActive(bool active) {
    if (active_ == active) return;
    QWidget* view = item_.view;
    if (!view) {
        active_ = false;
        return;
    }
    active_ = active;
    ConstraintStore* store = storeOf(view, active);
    if (store) {
        auto& list = store->constraints;
        if (active) {
            list.push_back(shared_from_this());
        } else {
            list.erase(std::remove_if(list.begin(), list.end(),
                                      [this](const ConstraintRef& c) { return c.get() == this; }),
                       list.end());
        }
    }
    invalidate();
}

void LayoutConstraint::invalidate() {
    QWidget* view = item_.view;
    if (!view) return;
    if (QWidget* parent = view->parentWidget()) engineOf(parent, true)->requestSolve();
}

ConstraintRef makeConstraint(QWidget* view, Attribute attribute, Relation relation, const LayoutItem& target,
                             Attribute targetAttribute, double constant) {
    return std::make_shared<LayoutConstraint>(itemOf(view), attribute, relation, target, targetAttribute, constant);
}

ConstraintRef makeConstraint(QWidget* view, Attribute attribute, Relation relation, double constant) {
    return std::make_shared<LayoutConstraint>(itemOf(view), attribute, relation, std::nullopt, std::nullopt,
                                              constant);
}

void activate(const std::vector<ConstraintRef>& constraints) {
    for (const auto& c : constraints)
        if (c) c->setActive(true);
}

void deactivate(const std::vector<ConstraintRef>& constraints) {
    for (const auto& c : constraints)
        if (c) c->setActive(false);
}

std::vector<ConstraintRef> constraintsOf(const QWidget* view) {
    ConstraintStore* store = storeOf(view, false);
    return store ? store->constraints : std::vector<ConstraintRef>{};
}

void setTranslatesAutoresizingMaskIntoConstraints(QWidget* view, bool translates) {
    if (view) view->setProperty(kTranslatesProperty, translates);
}

bool translatesAutoresizingMaskIntoConstraints(const QWidget* view) {
    if (!view) return true;
    const QVariant v = view->property(kTranslatesProperty);
    return v.isValid() ? v.toBool() : true;
}

void layoutIfNeeded(QWidget* container) {
    if (!container) return;
    if (LayoutEngine* engine = engineOf(container, false)) engine->solve();
    for (QObject* child : container->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (w && !w->isWindow()) layoutIfNeeded(w);
    }
}

void setNeedsLayout(QWidget* container) {
    if (container) engineOf(container, true)->requestSolve();
}

}  // namespace ui
