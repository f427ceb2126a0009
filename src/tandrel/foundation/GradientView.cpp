#include "tandrel/foundation/GradientView.h"

#include <QLinearGradient>
#include <QPainter>
#include <algorithm>

#include "platform/ui/Appearance.h"

GradientView::GradientView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    // A change of appearance resolves the colours again.
    traitObserver_ = new ui::TraitObserver(this, [this](const ui::TraitCollection&, const ui::TraitCollection&) {
        update_points();
        update_colors();
    });
}

void GradientView::setStartColor(const ui::DynamicColor& color) {
    startColor_ = color;
    update_colors();
}

void GradientView::setEndColor(const ui::DynamicColor& color) {
    endColor_ = color;
    update_colors();
}

void GradientView::setStartLocation(double location) {
    startLocation_ = location;
    update();
}

void GradientView::setEndLocation(double location) {
    endLocation_ = location;
    update();
}

void GradientView::setHorizontalMode(bool on) {
    horizontalMode_ = on;
    update_points();
}

void GradientView::setDiagonalMode(bool on) {
    diagonalMode_ = on;
    update_points();
}

void GradientView::update_colors() { update(); }
void GradientView::update_points() { update(); }

QVector<QColor> GradientView::gradient_colors() const {
    return {startColor_.resolvedFor(this), endColor_.resolvedFor(this)};
}

QVector<double> GradientView::gradient_locations() const { return {startLocation_, endLocation_}; }

QPointF GradientView::start_point() const {
    if (horizontalMode_) return diagonalMode_ ? QPointF(1, 0) : QPointF(0, 0.5);
    return diagonalMode_ ? QPointF(0, 0) : QPointF(0.5, 0);
}

QPointF GradientView::end_point() const {
    if (horizontalMode_) return diagonalMode_ ? QPointF(0, 1) : QPointF(1, 0.5);
    return diagonalMode_ ? QPointF(1, 1) : QPointF(0.5, 1);
}

void GradientView::paintEvent(QPaintEvent*) {
    const QRectF r = rect();
    const QPointF s = start_point(), e = end_point();
    QLinearGradient gradient(QPointF(r.width() * s.x(), r.height() * s.y()),
                             QPointF(r.width() * e.x(), r.height() * e.y()));
    const QVector<QColor> colors = gradient_colors();
    // Like a gradient layer: the first colour before its location, the last after its own.
    const double a = std::clamp(startLocation_, 0.0, 1.0);
    const double b = std::clamp(endLocation_, a, 1.0);
    gradient.setColorAt(a, colors[0]);
    gradient.setColorAt(b, colors[1]);
    gradient.setSpread(QGradient::PadSpread);
    QPainter painter(this);
    painter.fillRect(r, gradient);
}
