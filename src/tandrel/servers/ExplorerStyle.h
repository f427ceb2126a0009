#pragma once
// Fonts and small looks of the file explorer and its header. Text-style sizes are the
// platform's points, drawn as that many device-independent pixels.
#include <QColor>
#include <QFont>

class QPushButton;
class QWidget;

namespace explorer_style {

QFont font_of_points(double points, QFont::Weight weight = QFont::Normal);
QFont body_font();         // 17
QFont caption1_font();     // 12
QFont headline_font();     // 17, semibold
QFont large_title_font();  // 34
QFont system_font(double points);

// A clear button with a rounded border: border width, corner radius 10, the title colour, and
// content insets (top and bottom, left and right).
void style_bordered_button(QPushButton* button, const QColor& border, int border_width, const QColor& title,
                           int inset_vertical, int inset_horizontal);

}  // namespace explorer_style
