#pragma once
// A colour that depends on the appearance: a provider turns a trait collection into a colour,
// and the colour is resolved for a widget (its current appearance) or a trait collection when it
// is used. A plain QColor converts to a colour that is the same in both appearances.
#include <QColor>
#include <functional>
#include <memory>

#include "platform/ui/Appearance.h"

class QWidget;

namespace ui {

class DynamicColor {
public:
    using Provider = std::function<QColor(const TraitCollection&)>;

    DynamicColor();                        // black
    DynamicColor(const QColor& color);     // NOLINT: the same colour in every appearance
    DynamicColor(Qt::GlobalColor color);   // NOLINT
    explicit DynamicColor(Provider provider);

    QColor resolvedColor(const TraitCollection& traits) const;
    QColor resolvedFor(const QWidget* widget) const;  // for the widget's current appearance
    QColor resolved() const;                          // for the application's appearance

    // The same colour with another alpha (0 to 1), still following the appearance.
    DynamicColor withAlphaComponent(double alpha) const;

    // Hue, saturation, brightness and alpha on the 0 to 1 scale; the hue is taken modulo 1, so a
    // hue of 1.0 (or 360 given on the wrong scale) is red, as 0 is.
    static QColor hsb(double hue, double saturation, double brightness, double alpha = 1.0);

private:
    std::shared_ptr<const Provider> provider_;
};

}  // namespace ui
