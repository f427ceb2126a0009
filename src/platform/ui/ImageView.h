#pragma once
// A view that shows one image (a symbol or a bitmap) in its bounds. A symbol without its own
// tint is drawn in the view's tint colour, or the palette's text colour when none is set.
#include <QWidget>
#include <optional>

#include "platform/ui/Color.h"
#include "platform/ui/Image.h"

namespace ui {

enum class ContentMode { scaleToFill, scaleAspectFit, scaleAspectFill, center };

class ImageView : public QWidget {
    Q_OBJECT
public:
    explicit ImageView(QWidget* parent = nullptr);
    explicit ImageView(const Image& image, QWidget* parent = nullptr);

    const Image& image() const { return image_; }
    void setImage(const Image& image);
    ContentMode contentMode() const { return mode_; }
    void setContentMode(ContentMode mode);
    void setTintColor(std::optional<DynamicColor> color);

    // The image's own size (points); an empty view has none.
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Image image_;
    ContentMode mode_ = ContentMode::scaleToFill;
    std::optional<DynamicColor> tint_;
};

}  // namespace ui
