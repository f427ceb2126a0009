#pragma once
// Layout helpers every screen uses: pin a view to its superview (or the superview's guide G: the
// content guide when the superview is a scroll area's content, else its safe area), give it a
// size, or place it against another view; each in one call that turns off the view's
// autoresizing-mask translation, activates one constraint and returns it.
//
// Helpers against the superview do nothing and return nullptr when the view has none. Signs:
// top and left take +pixel against G and -pixel against the superview itself; bottom and right
// take -pixel in both cases (a positive pixel is an inset).
#include <QList>
#include <optional>
#include <vector>

#include "platform/ui/Layout.h"

class QWidget;

// Relative to the superview.
void util_fill_superview(QWidget* view);  // width, height, centre x and centre y = G's
ui::ConstraintRef util_fill_width_anchor(QWidget* view);  // width = G width
ui::ConstraintRef util_fill_width_anchorWithSafe_area(QWidget* view, bool safe_area);
ui::ConstraintRef util_fill_height_anchorWithSafe_area(QWidget* view, bool safe_area);
ui::ConstraintRef util_align_center_x_anchorWithPixel(QWidget* view, double pixel);
ui::ConstraintRef util_align_center_y_anchorWithPixel(QWidget* view, double pixel);
ui::ConstraintRef util_align_top_anchorWithPixel(QWidget* view, double pixel, bool safe_area);
ui::ConstraintRef util_align_left_anchorWithPixel(QWidget* view, double pixel, bool safe_area);
ui::ConstraintRef util_align_bottom_anchorWithPixel(QWidget* view, double pixel, bool safe_area);
ui::ConstraintRef util_align_right_anchorWithPixel(QWidget* view, double pixel, bool safe_area);

// Size (no superview needed).
ui::ConstraintRef util_height_anchorWithPixel(QWidget* view, double pixel);
ui::ConstraintRef util_height_anchor_less_thanWithPixel(QWidget* view, double pixel);
ui::ConstraintRef util_width_anchorWithPixel(QWidget* view, double pixel);
ui::ConstraintRef util_width_anchor_less_thanWithPixel(QWidget* view, double pixel);
ui::ConstraintRef util_width_anchor_greater_thanWithPixel(QWidget* view, double pixel);

// Relative to another view (no superview needed; the other view is not changed).
ui::ConstraintRef util_align_top_anchor_to_bottom_of_viewWithView(QWidget* view, QWidget* other, double pixel);
ui::ConstraintRef util_align_top_anchor_to_top_of_viewWithView(QWidget* view, QWidget* other, double pixel);
ui::ConstraintRef util_align_bottom_anchor_to_bottom_of_viewWithView(QWidget* view, QWidget* other, double pixel);
ui::ConstraintRef util_align_bottom_anchor_to_top_of_viewWithView(QWidget* view, QWidget* other, double pixel);
ui::ConstraintRef util_align_left_anchor_to_left_of_viewWithView(QWidget* view, QWidget* other, double pixel);
ui::ConstraintRef util_align_left_anchor_to_right_of_viewWithView(QWidget* view, QWidget* other, double pixel);
ui::ConstraintRef util_align_right_anchor_to_left_of_viewWithView(QWidget* view, QWidget* other, double pixel);
ui::ConstraintRef util_align_right_anchor_to_right_of_viewWithView(QWidget* view, QWidget* other, double pixel);
ui::ConstraintRef util_align_center_x_anchor_to_center_x_of_viewWithView(QWidget* view, QWidget* other, double pixel);
ui::ConstraintRef util_align_center_y_anchor_to_center_y_of_viewWithView(QWidget* view, QWidget* other, double pixel);

// Every descendant view: each direct subview followed by its own descendants, in order.
QList<QWidget*> all_sub_views(const QWidget* view);

// Several edges at once (all against G): the constraints made for the values given, in the
// order top, bottom, left, right, width, height, centre x, centre y.
std::vector<ui::ConstraintRef> util_anchor_edges(QWidget* view, std::optional<double> top = std::nullopt,
                                                 std::optional<double> bottom = std::nullopt,
                                                 std::optional<double> left = std::nullopt,
                                                 std::optional<double> right = std::nullopt,
                                                 std::optional<double> width = std::nullopt,
                                                 std::optional<double> height = std::nullopt,
                                                 std::optional<double> center_x = std::nullopt,
                                                 std::optional<double> center_y = std::nullopt);
