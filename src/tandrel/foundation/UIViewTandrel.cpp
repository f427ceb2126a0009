#include "tandrel/foundation/UIViewTandrel.h"

#include <QScrollArea>
#include <QWidget>

#include "platform/ui/View.h"

using ui::Attribute;
using ui::ConstraintRef;
using ui::LayoutItem;
using ui::Relation;

namespace {

// The superview's guide: the content guide of a scroll area's content, else the safe area.
LayoutItem guide_of(QWidget* superview) {
    if (QScrollArea* area = ui::scrollAreaOfContent(superview)) return ui::contentLayoutGuide(area);
    return ui::safeAreaLayoutGuide(superview);
}

LayoutItem target_of(QWidget* superview, bool safe_area) {
    return safe_area ? guide_of(superview) : ui::itemOf(superview);
}

ConstraintRef activate(QWidget* view, Attribute a, Relation r, const LayoutItem& target, Attribute ta, double c) {
    ui::setTranslatesAutoresizingMaskIntoConstraints(view, false);
    auto constraint = ui::makeConstraint(view, a, r, target, ta, c);
    constraint->setActive(true);
    return constraint;
}

ConstraintRef to_superview(QWidget* view, Attribute a, bool safe_area, double c) {
    if (!view || !view->parentWidget()) return nullptr;
    return activate(view, a, Relation::equal, target_of(view->parentWidget(), safe_area), a, c);
}

ConstraintRef size(QWidget* view, Attribute a, Relation r, double pixel) {
    if (!view) return nullptr;
    ui::setTranslatesAutoresizingMaskIntoConstraints(view, false);
    auto constraint = ui::makeConstraint(view, a, r, pixel);
    constraint->setActive(true);
    return constraint;
}

ConstraintRef to_view(QWidget* view, Attribute a, QWidget* other, Attribute oa, double c) {
    if (!view || !other) return nullptr;
    return activate(view, a, Relation::equal, ui::itemOf(other), oa, c);
}

}  // namespace

void util_fill_superview(QWidget* view) {
    if (!view || !view->parentWidget()) return;
    for (Attribute a : {Attribute::width, Attribute::height, Attribute::centerX, Attribute::centerY})
        to_superview(view, a, true, 0);
}

ConstraintRef util_fill_width_anchor(QWidget* view) { return to_superview(view, Attribute::width, true, 0); }

ConstraintRef util_fill_width_anchorWithSafe_area(QWidget* view, bool safe_area) {
    return to_superview(view, Attribute::width, safe_area, 0);
}

ConstraintRef util_fill_height_anchorWithSafe_area(QWidget* view, bool safe_area) {
    return to_superview(view, Attribute::height, safe_area, 0);
}

ConstraintRef util_align_center_x_anchorWithPixel(QWidget* view, double pixel) {
    return to_superview(view, Attribute::centerX, true, pixel);
}

ConstraintRef util_align_center_y_anchorWithPixel(QWidget* view, double pixel) {
    return to_superview(view, Attribute::centerY, true, pixel);
}

ConstraintRef util_align_top_anchorWithPixel(QWidget* view, double pixel, bool safe_area) {
    return to_superview(view, Attribute::top, safe_area, safe_area ? pixel : -pixel);
}

ConstraintRef util_align_left_anchorWithPixel(QWidget* view, double pixel, bool safe_area) {
    return to_superview(view, Attribute::left, safe_area, safe_area ? pixel : -pixel);
}

ConstraintRef util_align_bottom_anchorWithPixel(QWidget* view, double pixel, bool safe_area) {
    return to_superview(view, Attribute::bottom, safe_area, -pixel);
}

ConstraintRef util_align_right_anchorWithPixel(QWidget* view, double pixel, bool safe_area) {
    return to_superview(view, Attribute::right, safe_area, -pixel);
}

ConstraintRef util_height_anchorWithPixel(QWidget* view, double pixel) {
    return size(view, Attribute::height, Relation::equal, pixel);
}

ConstraintRef util_height_anchor_less_thanWithPixel(QWidget* view, double pixel) {
    return size(view, Attribute::height, Relation::lessThanOrEqual, pixel);
}

ConstraintRef util_width_anchorWithPixel(QWidget* view, double pixel) {
    return size(view, Attribute::width, Relation::equal, pixel);
}

ConstraintRef util_width_anchor_less_thanWithPixel(QWidget* view, double pixel) {
    return size(view, Attribute::width, Relation::lessThanOrEqual, pixel);
}

ConstraintRef util_width_anchor_greater_thanWithPixel(QWidget* view, double pixel) {
    return size(view, Attribute::width, Relation::greaterThanOrEqual, pixel);
}

ConstraintRef util_align_top_anchor_to_bottom_of_viewWithView(QWidget* view, QWidget* other, double pixel) {
    return to_view(view, Attribute::top, other, Attribute::bottom, pixel);
}

ConstraintRef util_align_top_anchor_to_top_of_viewWithView(QWidget* view, QWidget* other, double pixel) {
    return to_view(view, Attribute::top, other, Attribute::top, pixel);
}

ConstraintRef util_align_bottom_anchor_to_bottom_of_viewWithView(QWidget* view, QWidget* other, double pixel) {
    return to_view(view, Attribute::bottom, other, Attribute::bottom, -pixel);
}

ConstraintRef util_align_bottom_anchor_to_top_of_viewWithView(QWidget* view, QWidget* other, double pixel) {
    return to_view(view, Attribute::bottom, other, Attribute::top, pixel);
}

ConstraintRef util_align_left_anchor_to_left_of_viewWithView(QWidget* view, QWidget* other, double pixel) {
    return to_view(view, Attribute::left, other, Attribute::left, pixel);
}

ConstraintRef util_align_left_anchor_to_right_of_viewWithView(QWidget* view, QWidget* other, double pixel) {
    return to_view(view, Attribute::left, other, Attribute::right, pixel);
}

ConstraintRef util_align_right_anchor_to_left_of_viewWithView(QWidget* view, QWidget* other, double pixel) {
    return to_view(view, Attribute::right, other, Attribute::left, -pixel);
}

ConstraintRef util_align_right_anchor_to_right_of_viewWithView(QWidget* view, QWidget* other, double pixel) {
    return to_view(view, Attribute::right, other, Attribute::right, pixel);
}

ConstraintRef util_align_center_x_anchor_to_center_x_of_viewWithView(QWidget* view, QWidget* other, double pixel) {
    return to_view(view, Attribute::centerX, other, Attribute::centerX, pixel);
}

ConstraintRef util_align_center_y_anchor_to_center_y_of_viewWithView(QWidget* view, QWidget* other, double pixel) {
    return to_view(view, Attribute::centerY, other, Attribute::centerY, pixel);
}

QList<QWidget*> all_sub_views(const QWidget* view) {
    QList<QWidget*> out;
    for (QWidget* child : ui::subviews(view)) {
        out.push_back(child);
        out.append(all_sub_views(child));
    }
    return out;
}

std::vector<ConstraintRef> util_anchor_edges(QWidget* view, std::optional<double> top, std::optional<double> bottom,
                                             std::optional<double> left, std::optional<double> right,
                                             std::optional<double> width, std::optional<double> height,
                                             std::optional<double> center_x, std::optional<double> center_y) {
    std::vector<ConstraintRef> out;
    if (!view) return out;
    ui::setTranslatesAutoresizingMaskIntoConstraints(view, false);
    auto add = [&out](ConstraintRef c) {
        if (c) out.push_back(std::move(c));
    };
    if (top) add(util_align_top_anchorWithPixel(view, *top, true));
    if (bottom) add(util_align_bottom_anchorWithPixel(view, *bottom, true));
    if (left) add(util_align_left_anchorWithPixel(view, *left, true));
    if (right) add(util_align_right_anchorWithPixel(view, *right, true));
    if (width) add(util_width_anchorWithPixel(view, *width));
    if (height) add(util_height_anchorWithPixel(view, *height));
    if (center_x) add(util_align_center_x_anchorWithPixel(view, *center_x));
    if (center_y) add(util_align_center_y_anchorWithPixel(view, *center_y));
    return out;
}
