#include "tandrel/editor/VornNoPreviewNeededViewController.h"

#include <QGraphicsDropShadowEffect>
#include <QPalette>

#include "platform/ui/Image.h"
#include "tandrel/foundation/UIViewTandrel.h"

VornNoPreviewNeededViewController::VornNoPreviewNeededViewController(QWidget* parent) : QWidget(parent) {
    build_views();
}

void VornNoPreviewNeededViewController::build_views() {
    if (preview_view_wrapper) return;
    preview_view_wrapper = new QWidget(this);
    preview_view_wrapper->setObjectName("preview_view_wrapper");
    preview_view_wrapper->setAttribute(Qt::WA_StyledBackground, true);
    // A raised card in the tertiary background colour with rounded corners and a soft shadow.
    preview_view_wrapper->setStyleSheet(
        "#preview_view_wrapper { background-color: palette(alternate-base); border-radius: 10px; }");
    auto* shadow = new QGraphicsDropShadowEffect(preview_view_wrapper);
    shadow->setBlurRadius(12);
    shadow->setOffset(0, 2);
    shadow->setColor(palette().color(QPalette::Midlight));
    preview_view_wrapper->setGraphicsEffect(shadow);
    util_width_anchorWithPixel(preview_view_wrapper, 280);
    util_height_anchorWithPixel(preview_view_wrapper, 125);
    util_align_center_x_anchorWithPixel(preview_view_wrapper, 0);
    util_align_center_y_anchorWithPixel(preview_view_wrapper, 0);

    code_image = new ui::ImageView(ui::Image::systemImage("doc.text"), preview_view_wrapper);
    code_image->setContentMode(ui::ContentMode::scaleAspectFit);
    util_width_anchorWithPixel(code_image, 60);
    util_height_anchorWithPixel(code_image, 60);
    util_align_center_x_anchorWithPixel(code_image, 0);
    util_align_top_anchorWithPixel(code_image, 10, true);

    no_preview_text = new QLabel(preview_view_wrapper);
    QFont font = no_preview_text->font();
    font.setPixelSize(12);  // 12 points of the layout, not of the printer
    no_preview_text->setFont(font);
    no_preview_text->setWordWrap(true);
    no_preview_text->setAlignment(Qt::AlignCenter);
    util_align_bottom_anchorWithPixel(no_preview_text, 10, true);
    util_align_left_anchorWithPixel(no_preview_text, 10, true);
    util_align_right_anchorWithPixel(no_preview_text, 10, true);
    util_align_top_anchor_to_bottom_of_viewWithView(no_preview_text, code_image, 5);
}

QString VornNoPreviewNeededViewController::unsupported_extension_text(const QString& text) {
    const QString type = text.isEmpty() ? QStringLiteral("Blank") : text.toUpper();
    return QStringLiteral("We're very sorry, but we don't support live code preview for '") + type +
           QStringLiteral("' documents yet.");
}

void VornNoPreviewNeededViewController::set_unsupported_extension_text(const QString& text) {
    extension_type = text;
    if (no_preview_text) no_preview_text->setText(unsupported_extension_text(text));
}
