#include "tandrel/foundation/PaddingLabel.h"

#include <cmath>

PaddingLabel::PaddingLabel(QWidget* parent) : PaddingLabel(QString(), parent) {}

PaddingLabel::PaddingLabel(const QString& text, QWidget* parent) : QLabel(text, parent) { apply(); }

void PaddingLabel::setTopInset(double v) {
    top_ = v;
    apply();
}

void PaddingLabel::setBottomInset(double v) {
    bottom_ = v;
    apply();
}

void PaddingLabel::setLeftInset(double v) {
    left_ = v;
    apply();
}

void PaddingLabel::setRightInset(double v) {
    right_ = v;
    apply();
}

QRectF PaddingLabel::textRect(const QRectF& rect) const {
    return QRectF(rect.x() + left_, rect.y() + top_, rect.width() - (left_ + right_), rect.height() - (top_ + bottom_));
}

void PaddingLabel::apply() {
    // QLabel draws its text inside its contents margins and counts them in its size hint.
    setContentsMargins(static_cast<int>(std::lround(left_)), static_cast<int>(std::lround(top_)),
                       static_cast<int>(std::lround(right_)), static_cast<int>(std::lround(bottom_)));
}
