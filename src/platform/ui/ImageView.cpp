#include "platform/ui/ImageView.h"

#include <QPainter>
#include <cmath>

namespace ui {

ImageView::ImageView(QWidget* parent) : QWidget(parent) {}

ImageView::ImageView(const Image& image, QWidget* parent) : QWidget(parent), image_(image) {}

void ImageView::setImage(const Image& image) {
    image_ = image;
    updateGeometry();
    update();
}

void ImageView::setContentMode(ContentMode mode) {
    mode_ = mode;
    update();
}

void ImageView::setTintColor(std::optional<DynamicColor> color) {
    tint_ = std::move(color);
    update();
}

QSize ImageView::sizeHint() const {
    if (image_.isNull()) return QSize(-1, -1);
    const QSizeF s = image_.size();
    return QSize(static_cast<int>(std::ceil(s.width())), static_cast<int>(std::ceil(s.height())));
}

void ImageView::paintEvent(QPaintEvent*) {
    if (image_.isNull() || width() <= 0 || height() <= 0) return;
    QSizeF natural = image_.size();
    if (natural.isEmpty()) natural = QSizeF(size());
    const QSizeF box(size());
    QSizeF drawn = box;
    switch (mode_) {
        case ContentMode::scaleToFill: drawn = box; break;
        case ContentMode::scaleAspectFit: drawn = natural.scaled(box, Qt::KeepAspectRatio); break;
        case ContentMode::scaleAspectFill: drawn = natural.scaled(box, Qt::KeepAspectRatioByExpanding); break;
        case ContentMode::center: drawn = natural; break;
    }
    const QRectF target((box.width() - drawn.width()) / 2, (box.height() - drawn.height()) / 2, drawn.width(),
                        drawn.height());
    const qreal dpr = devicePixelRatioF();
    const QColor templateColor = tint_ ? tint_->resolvedFor(this) : palette().color(QPalette::WindowText);
    const QPixmap pixmap = image_.pixmap(target.size().toSize().expandedTo(QSize(1, 1)), dpr, templateColor);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(target.toAlignedRect(), pixmap);
}

}  // namespace ui
