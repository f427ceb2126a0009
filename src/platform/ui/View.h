#pragma once
// Small view operations the screens use on any widget: alpha (see-through level, 0 to 1) with
// an animated change, and the list of direct subviews in stacking order.
#include <QList>

class QWidget;

namespace ui {

double alpha(const QWidget* view);
// Below 1 the widget is drawn through an opacity effect; nearly transparent widgets (alpha below
// 0.01) let mouse events through, as invisible views take no touches.
void setAlpha(QWidget* view, double alpha);
// Animates the alpha from its current value to `target` over `seconds` (ease in and out); a new
// animation of the same widget replaces the one running.
void animateAlpha(QWidget* view, double target, double seconds);

// Direct child widgets that are not windows, bottom first.
QList<QWidget*> subviews(const QWidget* view);

}  // namespace ui
