#pragma once
// Small view operations the screens use on any widget: alpha (see-through level, 0 to 1) with
// an animated change, and the list of direct subviews in stacking order.
#include <QList>

class QWidget;

namespace ui {

double alpha(const QWidget* view);
// Below 1 the widget is drawn through an opacity effect (or a cover, below); nearly transparent widgets (alpha below
// 0.01) let mouse events through, as invisible views take no touches.
void setAlpha(QWidget* view, double alpha);
// Animates the alpha from its current value to `target` over `seconds` (ease in and out); a new
// animation of the same widget replaces the one running. A widget that is not visible (itself or
// its window not shown) takes the target at once.
void animateAlpha(QWidget* view, double target, double seconds);
// A view drawn by a compositor of its own (a web page) is slow to draw through an opacity effect:
// every frame is copied through an offscreen picture on the GUI thread (tens of milliseconds for
// a large page, which holds up all the page asks of that thread meanwhile, its reads of offered
// documents among them). Such a view fades by cover instead: it keeps drawing as it is, under a
// cover in its parent's background colour that is as opaque as the view is see-through (the same
// picture over a plain background). At 0 the view is not drawn at all, as any view. The alpha,
// its animation and the mouse rule stay as above.
void setFadesByCover(QWidget* view);

// Direct child widgets that are not windows, bottom first.
QList<QWidget*> subviews(const QWidget* view);

}  // namespace ui
