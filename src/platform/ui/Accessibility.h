#pragma once
// Names for the assistive technologies of buttons that show only a picture. Qt names a button by
// its text, so a button with a symbol and no title would be read as nothing: such a button is
// named by its tooltip, else by its symbol's name in words ("arrow.clockwise" -> "arrow
// clockwise"). The name follows the button as its tooltip or symbol changes.
#include <QString>

class QAbstractButton;
class QMenu;

namespace ui {

// "arrow.clockwise" -> "arrow clockwise"; "square.and.pencil" -> "square and pencil".
QString symbolNameInWords(const QString& symbolName);
// The name a button is read by: its own accessible name, its text (without the "&" of a
// shortcut), its tooltip, or the words of its icon's symbol; empty when it has none of them.
QString accessibleButtonName(const QAbstractButton* button);
// Installs, once, the accessibility factory that names picture-only buttons this way.
void installAccessibleButtonNames();

// A button that opens a popup menu: the assistive technologies read it as a menu button, and
// while the menu is open they find it (and its entries) under the button, where the user opened
// it (a popup is a window of its own, outside the window's tree otherwise). A menu built anew
// for each opening is set again each time; a button whose menu is made only when it opens is
// marked with no menu at first.
void setAccessiblePopup(QAbstractButton* button, QMenu* menu);
QMenu* accessiblePopup(const QAbstractButton* button);

}  // namespace ui
