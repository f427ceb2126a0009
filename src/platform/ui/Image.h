#pragma once
// Images as the screens use them: symbol images by name (drawn from the bundled bootstrap-icons
// SVGs, sharp at any size), optionally tinted and drawn in that colour, and plain bitmaps. An
// unknown symbol name gives the empty image.
#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace ui {

enum class SymbolWeight { regular, semibold, bold };
enum class RenderingMode { automatic, alwaysOriginal, alwaysTemplate };

struct SymbolConfiguration {
    double pointSize = 17;  // the symbol's drawn size in points
    SymbolWeight weight = SymbolWeight::regular;
};

class Image {
public:
    Image() = default;  // the empty image

    // The symbol of that name, or the empty image when there is none.
    static Image systemImage(const QString& name, const SymbolConfiguration& configuration = {});
    static Image fromImage(const QImage& image);

    bool isNull() const { return !data_; }
    explicit operator bool() const { return !isNull(); }

    bool isSymbol() const;
    QString symbolName() const;
    QSizeF size() const;  // points
    std::optional<QColor> tintColor() const;
    RenderingMode renderingMode() const;

    // A copy drawn in `color` (for symbols: every shape in that colour).
    Image withTintColor(const QColor& color, RenderingMode mode = RenderingMode::alwaysOriginal) const;
    Image withConfiguration(const SymbolConfiguration& configuration) const;
    Image withRenderingMode(RenderingMode mode) const;

    // The image at a size in device-independent pixels. A symbol without a tint is drawn in
    // `templateColor` (the palette's text colour when none is given).
    QPixmap pixmap(const QSize& size, qreal devicePixelRatio = 1.0,
                   std::optional<QColor> templateColor = std::nullopt) const;
    QImage toImage(const QSize& size, std::optional<QColor> templateColor = std::nullopt) const;
    // An icon for buttons, menus and labels (symbols stay vector-drawn).
    QIcon icon() const;

    // Every symbol name that has an image.
    static QStringList availableSymbolNames();

    struct Data;

private:
    std::shared_ptr<const Data> data_;
};

// An image of the given size filled entirely with the colour.
Image solidColorImage(const QColor& color, double width, double height);

}  // namespace ui
