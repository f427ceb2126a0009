#include "platform/ui/Image.h"

#include <QApplication>
#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QMutex>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>
#include <QRegularExpression>
#include <QTextStream>
#include <algorithm>
#include <cmath>

namespace ui {

struct Image::Data {
    // Symbols.
    QString symbol;
    QByteArray svg;  // with "currentColor" where the colour goes
    SymbolConfiguration configuration;
    // Bitmaps.
    QImage bitmap;
    // Both.
    std::optional<QColor> tint;
    RenderingMode mode = RenderingMode::automatic;
};

namespace {

// Symbol name -> SVG text, read once from the resource table and the bundled icons.
const QHash<QString, QByteArray>& symbolTable() {
    static const QHash<QString, QByteArray> table = [] {
        QHash<QString, QByteArray> out;
        QFile names(QStringLiteral(":/symbols/SymbolNames.txt"));
        if (!names.open(QIODevice::ReadOnly | QIODevice::Text)) return out;
        QTextStream in(&names);
        while (!in.atEnd()) {
            const QString line = in.readLine().trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
            const QStringList parts = line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
            if (parts.size() < 2) continue;
            QFile svg(QStringLiteral(":/symbols/%1.svg").arg(parts[1]));
            if (!svg.open(QIODevice::ReadOnly)) continue;
            const QByteArray bytes = svg.readAll();
            if (!bytes.isEmpty()) out.insert(parts[0], bytes);
        }
        return out;
    }();
    return table;
}

QColor paletteTextColor() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        return QApplication::palette().color(QPalette::WindowText);
    return QColor(Qt::black);
}

QByteArray coloredSvg(const Image::Data& d, const QColor& color) {
    QByteArray svg = d.svg;
    const QByteArray name = color.name(QColor::HexRgb).toLatin1();
    svg.replace("currentColor", name);
    if (color.alpha() < 255) {
        svg.replace("<svg ", "<svg opacity=\"" + QByteArray::number(color.alphaF(), 'f', 3) + "\" ");
    }
    if (d.configuration.weight != SymbolWeight::regular) {
        // Heavier strokes: outline every shape in its own colour.
        const QByteArray width = d.configuration.weight == SymbolWeight::bold ? "0.55" : "0.3";
        svg.replace("<svg ", "<svg stroke=\"" + name + "\" stroke-width=\"" + width + "\" stroke-linejoin=\"round\" ");
    }
    return svg;
}

QImage renderSymbol(const Image::Data& d, const QSize& pixels, const QColor& color) {
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (pixels.isEmpty()) return image;
    QSvgRenderer renderer(coloredSvg(d, color));
    if (!renderer.isValid()) return image;
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // Keep the symbol's aspect, centred.
    const QSizeF box = renderer.viewBoxF().size().scaled(QSizeF(pixels), Qt::KeepAspectRatio);
    const QRectF target((pixels.width() - box.width()) / 2, (pixels.height() - box.height()) / 2, box.width(),
                        box.height());
    renderer.render(&painter, target);
    return image;
}

QColor drawColor(const Image::Data& d, std::optional<QColor> templateColor) {
    if (d.tint && d.mode != RenderingMode::alwaysTemplate) return *d.tint;
    if (templateColor) return *templateColor;
    if (d.tint) return *d.tint;
    return paletteTextColor();
}

// Draws a symbol at whatever size a button, menu or label asks for.
class SymbolIconEngine : public QIconEngine {
public:
    explicit SymbolIconEngine(std::shared_ptr<const Image::Data> data) : data_(std::move(data)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, pixmapFor(rect.size(), mode, dpr));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override { return pixmapFor(size, mode, 1.0); }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine* clone() const override { return new SymbolIconEngine(data_); }
    QString key() const override { return QStringLiteral("dravix-symbol"); }
    // The symbol's name is the icon's name (buttons are read by it when they have no title).
    QString iconName() override { return data_->symbol; }
    bool isNull() override { return false; }

private:
    QPixmap pixmapFor(const QSize& size, QIcon::Mode mode, qreal dpr) {
        QColor color = drawColor(*data_, std::nullopt);
        if (mode == QIcon::Disabled) color.setAlphaF(color.alphaF() * 0.4f);
        else if (mode == QIcon::Selected && !data_->tint) color = QApplication::palette().color(QPalette::HighlightedText);
        QImage image = renderSymbol(*data_, size * dpr, color);
        image.setDevicePixelRatio(dpr);
        return QPixmap::fromImage(image);
    }
    std::shared_ptr<const Image::Data> data_;
};

}  // namespace

Image Image::systemImage(const QString& name, const SymbolConfiguration& configuration) {
    const auto& table = symbolTable();
    auto it = table.find(name);
    if (it == table.end()) return Image();
    auto d = std::make_shared<Data>();
    d->symbol = name;
    d->svg = it.value();
    d->configuration = configuration;
    Image out;
    out.data_ = std::move(d);
    return out;
}

Image Image::fromImage(const QImage& image) {
    if (image.isNull()) return Image();
    auto d = std::make_shared<Data>();
    d->bitmap = image;
    Image out;
    out.data_ = std::move(d);
    return out;
}

bool Image::isSymbol() const { return data_ && !data_->symbol.isEmpty(); }
QString Image::symbolName() const { return data_ ? data_->symbol : QString(); }

QSizeF Image::size() const {
    if (!data_) return QSizeF();
    if (isSymbol()) return QSizeF(data_->configuration.pointSize, data_->configuration.pointSize);
    return QSizeF(data_->bitmap.size()) / data_->bitmap.devicePixelRatio();
}

std::optional<QColor> Image::tintColor() const { return data_ ? data_->tint : std::nullopt; }
RenderingMode Image::renderingMode() const { return data_ ? data_->mode : RenderingMode::automatic; }

Image Image::withTintColor(const QColor& color, RenderingMode mode) const {
    if (!data_) return Image();
    auto d = std::make_shared<Data>(*data_);
    d->tint = color;
    d->mode = mode;
    if (!d->bitmap.isNull() && mode != RenderingMode::alwaysTemplate) {
        // A bitmap is recoloured through its alpha.
        QImage img = d->bitmap.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QPainter p(&img);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(img.rect(), color);
        p.end();
        d->bitmap = img;
    }
    Image out;
    out.data_ = std::move(d);
    return out;
}

Image Image::withConfiguration(const SymbolConfiguration& configuration) const {
    if (!data_) return Image();
    auto d = std::make_shared<Data>(*data_);
    d->configuration = configuration;
    Image out;
    out.data_ = std::move(d);
    return out;
}

Image Image::withRenderingMode(RenderingMode mode) const {
    if (!data_) return Image();
    auto d = std::make_shared<Data>(*data_);
    d->mode = mode;
    Image out;
    out.data_ = std::move(d);
    return out;
}

QImage Image::toImage(const QSize& size, std::optional<QColor> templateColor) const {
    if (!data_) return QImage();
    if (isSymbol()) return renderSymbol(*data_, size, drawColor(*data_, templateColor));
    return data_->bitmap.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QPixmap Image::pixmap(const QSize& size, qreal devicePixelRatio, std::optional<QColor> templateColor) const {
    if (!data_) return QPixmap();
    QImage image = toImage(size * devicePixelRatio, templateColor);
    image.setDevicePixelRatio(devicePixelRatio);
    return QPixmap::fromImage(image);
}

QIcon Image::icon() const {
    if (!data_) return QIcon();
    if (isSymbol()) return QIcon(new SymbolIconEngine(data_));
    return QIcon(QPixmap::fromImage(data_->bitmap));
}

QStringList Image::availableSymbolNames() {
    QStringList names = symbolTable().keys();
    names.sort();
    return names;
}

Image solidColorImage(const QColor& color, double width, double height) {
    const QSize size(std::max(0, static_cast<int>(std::lround(width))), std::max(0, static_cast<int>(std::lround(height))));
    if (size.isEmpty()) return Image();
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.fillRect(QRectF(0, 0, width, height), color);
    p.end();
    return Image::fromImage(image);
}

}  // namespace ui
