#include "platform/ui/Color.h"

#include <QWidget>
#include <algorithm>
#include <cmath>

namespace ui {

DynamicColor::DynamicColor() : DynamicColor(QColor(Qt::black)) {}

DynamicColor::DynamicColor(const QColor& color)
    : provider_(std::make_shared<const Provider>([color](const TraitCollection&) { return color; })) {}

DynamicColor::DynamicColor(Qt::GlobalColor color) : DynamicColor(QColor(color)) {}

DynamicColor::DynamicColor(Provider provider)
    : provider_(std::make_shared<const Provider>(provider ? std::move(provider)
                                                           : Provider([](const TraitCollection&) {
                                                                 return QColor(Qt::black);
                                                             }))) {}

QColor DynamicColor::resolvedColor(const TraitCollection& traits) const { return (*provider_)(traits); }

QColor DynamicColor::resolvedFor(const QWidget* widget) const { return resolvedColor(traitCollectionOf(widget)); }

QColor DynamicColor::resolved() const { return resolvedColor(currentTraitCollection()); }

DynamicColor DynamicColor::withAlphaComponent(double alpha) const {
    auto base = provider_;
    return DynamicColor(Provider([base, alpha](const TraitCollection& t) {
        QColor c = (*base)(t);
        c.setAlphaF(static_cast<float>(std::clamp(alpha, 0.0, 1.0)));
        return c;
    }));
}

QColor DynamicColor::hsb(double hue, double saturation, double brightness, double alpha) {
    double h = std::fmod(hue, 1.0);
    if (h < 0 || !std::isfinite(h)) h = 0;
    return QColor::fromHsvF(static_cast<float>(h), static_cast<float>(std::clamp(saturation, 0.0, 1.0)),
                            static_cast<float>(std::clamp(brightness, 0.0, 1.0)),
                            static_cast<float>(std::clamp(alpha, 0.0, 1.0)));
}

}  // namespace ui
