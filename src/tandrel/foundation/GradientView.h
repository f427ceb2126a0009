#pragma once
// A two-colour linear gradient that follows the light or dark appearance. It draws from its
// current fields: changing any of them (or the appearance) redraws it.
#include <QPointF>
#include <QVector>
#include <QWidget>

#include "platform/ui/Color.h"

namespace ui {
class TraitObserver;
}

class GradientView : public QWidget {
public:
    explicit GradientView(QWidget* parent = nullptr);

    const ui::DynamicColor& startColor() const { return startColor_; }
    void setStartColor(const ui::DynamicColor& color);  // then update_colors
    const ui::DynamicColor& endColor() const { return endColor_; }
    void setEndColor(const ui::DynamicColor& color);  // then update_colors
    double startLocation() const { return startLocation_; }
    void setStartLocation(double location);
    double endLocation() const { return endLocation_; }
    void setEndLocation(double location);
    bool horizontalMode() const { return horizontalMode_; }
    void setHorizontalMode(bool on);
    bool diagonalMode() const { return diagonalMode_; }
    void setDiagonalMode(bool on);

    // Redraw with the colours (resolved for the view's appearance now) and with the points.
    void update_colors();
    void update_points();

    // What the gradient draws now: colours for the view's appearance, locations, and start and
    // end points in unit coordinates (x to the right, y downwards).
    QVector<QColor> gradient_colors() const;
    QVector<double> gradient_locations() const;
    QPointF start_point() const;
    QPointF end_point() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ui::DynamicColor startColor_{QColor(Qt::black)};
    ui::DynamicColor endColor_{QColor(Qt::white)};
    double startLocation_ = 0.05;
    double endLocation_ = 0.95;
    bool horizontalMode_ = false;
    bool diagonalMode_ = false;
    ui::TraitObserver* traitObserver_ = nullptr;
};
