#pragma once
// The panel shown instead of the preview for content that is not HTML: a document symbol and a
// line that names the type.
#include <QImage>
#include <QLabel>
#include <QString>
#include <QWidget>

#include "platform/ui/ImageView.h"

class VornNoPreviewNeededViewController : public QWidget {
    Q_OBJECT
public:
    explicit VornNoPreviewNeededViewController(QWidget* parent = nullptr);

    QString extension_type;
    QWidget* preview_view_wrapper = nullptr;
    ui::ImageView* code_image = nullptr;
    QLabel* no_preview_text = nullptr;

    void build_views();
    // "We're very sorry, but we don't support live code preview for 'T' documents yet." with T
    // the text in upper case, or "Blank" for empty text.
    void set_unsupported_extension_text(const QString& text);
    static QString unsupported_extension_text(const QString& text);
};
