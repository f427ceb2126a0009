#include "platform/ui/View.h"

#include <QGraphicsOpacityEffect>
#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>
#include <algorithm>

namespace ui {

namespace {
const char* kAlphaProperty = "ui_alpha";
const char* kAnimationName = "ui_alpha_animation";
}  // namespace

double alpha(const QWidget* view) {
    if (!view) return 1.0;
    const QVariant v = view->property(kAlphaProperty);
    return v.isValid() ? v.toDouble() : 1.0;
}

namespace {
// Draws the widget at `value` without touching its model alpha.
void applyOpacity(QWidget* view, double value) {
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view->graphicsEffect());
    if (value >= 1.0) {
        if (effect) view->setGraphicsEffect(nullptr);
    } else {
        if (!effect) {
            effect = new QGraphicsOpacityEffect(view);
            view->setGraphicsEffect(effect);
        }
        effect->setOpacity(value);
    }
}

double presentedOpacity(const QWidget* view) {
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view->graphicsEffect());
    return effect ? effect->opacity() : 1.0;
}

void stopAnimation(QWidget* view) {
    if (auto* old = view->findChild<QVariantAnimation*>(QLatin1String(kAnimationName), Qt::FindDirectChildrenOnly)) {
        old->setObjectName(QString());
        old->stop();  // deletes itself when stopped
    }
}
}  // namespace

void setAlpha(QWidget* view, double value) {
    if (!view) return;
    stopAnimation(view);
    value = std::clamp(value, 0.0, 1.0);
    view->setProperty(kAlphaProperty, value);
    view->setAttribute(Qt::WA_TransparentForMouseEvents, value < 0.01);
    applyOpacity(view, value);
}

void animateAlpha(QWidget* view, double target, double seconds) {
    if (!view) return;
    target = std::clamp(target, 0.0, 1.0);
    const double from = presentedOpacity(view);
    setAlpha(view, target);  // the model value changes at once; only the drawing follows over time
    if (seconds <= 0 || from == target) return;
    applyOpacity(view, from);
    auto* animation = new QVariantAnimation(view);
    animation->setObjectName(QLatin1String(kAnimationName));
    animation->setStartValue(from);
    animation->setEndValue(target);
    animation->setDuration(static_cast<int>(seconds * 1000));
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    QPointer<QWidget> guard(view);
    QObject::connect(animation, &QVariantAnimation::valueChanged, view, [guard](const QVariant& v) {
        if (guard) applyOpacity(guard, v.toDouble());
    });
    QObject::connect(animation, &QVariantAnimation::finished, view, [guard, target] {
        if (guard) applyOpacity(guard, target);
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

QList<QWidget*> subviews(const QWidget* view) {
    QList<QWidget*> out;
    if (!view) return out;
    for (QObject* child : view->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (w && !w->isWindow()) out.push_back(w);
    }
    return out;
}

}  // namespace ui
