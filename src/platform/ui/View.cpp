#include "platform/ui/View.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>
#include <algorithm>

namespace ui {

namespace {
const char* kAlphaProperty = "ui_alpha";
const char* kAnimationName = "ui_alpha_animation";
const char* kFadesByCoverProperty = "ui_fades_by_cover";
}  // namespace

void setFadesByCover(QWidget* view) {
    if (view) view->setProperty(kFadesByCoverProperty, true);
}

double alpha(const QWidget* view) {
    if (!view) return 1.0;
    const QVariant v = view->property(kAlphaProperty);
    return v.isValid() ? v.toDouble() : 1.0;
}

namespace {
const char* kCoverName = "ui_alpha_cover";

// The see-through drawing of a view that fades by cover (see setFadesByCover): a child of the
// view over all of it, in the background colour of the view's parent, as opaque as the view is
// see-through. The view itself keeps drawing as it does.
class OpacityCover final : public QWidget {
public:
    explicit OpacityCover(QWidget* view) : QWidget(view) {
        setObjectName(QLatin1String(kCoverName));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        setGeometry(view->rect());
        view->installEventFilter(this);
        raise();
        show();
    }
    double opacity = 1.0;  // the view's presented opacity

    void setOpacity(double value) {
        opacity = value;
        update();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parentWidget()) {
            if (event->type() == QEvent::Resize) {
                setGeometry(parentWidget()->rect());
            } else if (event->type() == QEvent::ChildAdded) {
                // A part the view adds later (a web view's page surface) goes under the cover.
                raise();
                QPointer<OpacityCover> self(this);
                QMetaObject::invokeMethod(this, [self] { if (self) self->raise(); }, Qt::QueuedConnection);
            }
        }
        return false;
    }
    void paintEvent(QPaintEvent*) override {
        const QWidget* under = parentWidget() ? parentWidget()->parentWidget() : nullptr;
        QColor color = under ? under->palette().color(under->backgroundRole()) : palette().color(QPalette::Window);
        color.setAlphaF(std::clamp(1.0 - opacity, 0.0, 1.0));
        QPainter(this).fillRect(rect(), color);
    }
};

OpacityCover* coverOf(const QWidget* view) {
    return view->findChild<OpacityCover*>(QLatin1String(kCoverName), Qt::FindDirectChildrenOnly);
}

// Draws the widget at `value` without touching its model alpha.
void applyOpacity(QWidget* view, double value) {
    if (view->property(kFadesByCoverProperty).toBool() && value > 0.0 && value < 1.0) {
        if (view->graphicsEffect()) view->setGraphicsEffect(nullptr);
        OpacityCover* cover = coverOf(view);
        if (!cover) cover = new OpacityCover(view);
        cover->setOpacity(value);
        return;
    }
    // Opaque, or not drawn at all (an effect at 0 draws nothing, not even the view's own frames).
    delete coverOf(view);
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
    if (const OpacityCover* cover = coverOf(view)) return cover->opacity;
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
    // A view that is not on screen (its window not shown yet) has nothing to animate: drawing the
    // frames of an unseen fade only takes the GUI thread from what the view is loading meanwhile.
    if (seconds <= 0 || from == target || !view->isVisible()) return;
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
