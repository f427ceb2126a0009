#pragma once
// Checks on pictures of the app's windows, so that a screenshot step proves something was drawn
// where it should be; the pictures themselves stay in the screenshot folder for a person to see.
#include <QColor>
#include <QImage>
#include <QSet>
#include <QWidget>

namespace pictures {

// The part of a window's picture that one of its widgets covers.
inline QImage partOf(const QImage& shot, const QWidget* window, const QWidget* part) {
    if (!window || !part) return {};
    const qreal ratio = shot.devicePixelRatio();
    const QPoint at = part->mapTo(window, QPoint(0, 0));
    const QRect area(qRound(at.x() * ratio), qRound(at.y() * ratio), qRound(part->width() * ratio),
                     qRound(part->height() * ratio));
    return shot.copy(area.intersected(shot.rect()));
}

// How many colours a picture holds, counted up to `cap`: a picture of one flat colour (or none)
// shows nothing; text, symbols and borders give many.
inline int colours(const QImage& image, int cap = 16) {
    QSet<QRgb> seen;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            seen.insert(image.pixel(x, y));
            if (seen.size() >= cap) return cap;
        }
    }
    return static_cast<int>(seen.size());
}

// The mean lightness of a picture, 0 (black) to 1 (white).
inline double lightness(const QImage& image) {
    if (image.isNull()) return 0;
    double sum = 0;
    long count = 0;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) {
            sum += QColor(image.pixel(x, y)).lightnessF();
            ++count;
        }
    }
    return count ? sum / static_cast<double>(count) : 0;
}

}  // namespace pictures
