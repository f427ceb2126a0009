#pragma once
// Anchor layout for widgets: constraint records (item, attribute, relation, target, constant,
// active) that a container solves whenever it is resized or its constraints change.
//
// A constraint places its first item, a widget, inside that widget's parent (the container). Its
// target is nothing (a fixed size), the container itself or one of its guides (the safe area, and
// the content guide of a scroll area's content widget: on the desktop both cover the container),
// or another widget (usually a sibling; any widget sharing an ancestor works). Each axis of an
// item is solved on its own from the equalities on it: two of left / right / centre / width fix
// the horizontal place; with only one edge the width is the widget's size hint (bounded by its
// size inequalities; a wrapping label's height follows its width), with none the widget keeps
// its place. Vertical alike.
#include <QPointer>
#include <QRectF>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

class QScrollArea;

namespace ui {

enum class Attribute { left, right, top, bottom, width, height, centerX, centerY };
enum class Relation { lessThanOrEqual = -1, equal = 0, greaterThanOrEqual = 1 };

// A widget or one of its layout guides.
struct LayoutItem {
    enum class Kind { view, safeAreaGuide, contentGuide };
    QPointer<QWidget> view;
    Kind kind = Kind::view;

    bool isGuide() const { return kind != Kind::view; }
    bool operator==(const LayoutItem& o) const { return view == o.view && kind == o.kind; }
};

LayoutItem itemOf(QWidget* view);
LayoutItem safeAreaLayoutGuide(QWidget* view);
// The content guide of a scroll area: its content widget (created when it has none).
LayoutItem contentLayoutGuide(QScrollArea* scrollArea);
// The scroll area whose content widget `w` is, if any.
QScrollArea* scrollAreaOfContent(QWidget* w);

class LayoutConstraint : public std::enable_shared_from_this<LayoutConstraint> {
public:
    LayoutConstraint(LayoutItem item, Attribute attribute, Relation relation, std::optional<LayoutItem> target,
                     std::optional<Attribute> targetAttribute, double constant);
    ~LayoutConstraint();

    const LayoutItem& firstItem() const { return item_; }
    Attribute firstAttribute() const { return attribute_; }
    Relation relation() const { return relation_; }
    const std::optional<LayoutItem>& secondItem() const { return target_; }
    std::optional<Attribute> secondAttribute() const { return targetAttribute_; }

    double constant() const { return constant_; }
    void setConstant(double constant);  // re-solves the container
    bool isActive() const { return active_; }
    void setActive(bool active);        // activating stores the constraint with its item

private:
    void invalidate();
    LayoutItem item_;
    Attribute attribute_;
    Relation relation_;
    std::optional<LayoutItem> target_;
    std::optional<Attribute> targetAttribute_;
    double constant_;
    bool active_ = false;
};

using ConstraintRef = std::shared_ptr<LayoutConstraint>;

// Builders: `item.attribute <relation> target.attribute + constant` (not yet active).
ConstraintRef makeConstraint(QWidget* view, Attribute attribute, Relation relation, const LayoutItem& target,
                             Attribute targetAttribute, double constant = 0);
ConstraintRef makeConstraint(QWidget* view, Attribute attribute, Relation relation, double constant);
void activate(const std::vector<ConstraintRef>& constraints);
void deactivate(const std::vector<ConstraintRef>& constraints);

// The widget's active constraints in which it is the first item.
std::vector<ConstraintRef> constraintsOf(const QWidget* view);

// A widget placed by constraints no longer keeps the place it was given by hand. Views start with
// `true`, as in a platform where frames turn into constraints until told otherwise.
void setTranslatesAutoresizingMaskIntoConstraints(QWidget* view, bool translates);
bool translatesAutoresizingMaskIntoConstraints(const QWidget* view);

// Solves the container's constrained children now, then each of their descendants.
void layoutIfNeeded(QWidget* container);
// Queues a solve of the container on the next event-loop turn (several requests make one solve).
void setNeedsLayout(QWidget* container);

}  // namespace ui
