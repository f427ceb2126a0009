#include "tandrel/servers/ExplorerStyle.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

namespace explorer_style {

namespace {
QString css_color(const QColor& c) {
    return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}
}  // namespace

QFont font_of_points(double points, QFont::Weight weight) {
    QFont f = QGuiApplication::font();
    f.setPixelSize(static_cast<int>(points + 0.5));
    f.setWeight(weight);
    return f;
}

QFont body_font() { return font_of_points(17); }
QFont caption1_font() { return font_of_points(12); }
QFont headline_font() { return font_of_points(17, QFont::DemiBold); }
QFont large_title_font() { return font_of_points(34); }
QFont system_font(double points) { return font_of_points(points); }

void style_bordered_button(QPushButton* button, const QColor& border, int border_width, const QColor& title,
                           int inset_vertical, int inset_horizontal) {
    if (!button) return;
    button->setFlat(true);
    button->setStyleSheet(QStringLiteral("QPushButton { background: transparent; border: %1px solid %2; "
                                         "border-radius: 10px; color: %3; padding: %4px %5px; }"
                                         "QPushButton:hover { background: rgba(127,127,127,40); }"
                                         "QPushButton:pressed { background: rgba(127,127,127,80); }"
                                         "QPushButton::menu-indicator { image: none; width: 0px; }")
                              .arg(border_width)
                              .arg(css_color(border))
                              .arg(css_color(title))
                              .arg(inset_vertical)
                              .arg(inset_horizontal));
}

}  // namespace explorer_style
