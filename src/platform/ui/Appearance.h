#pragma once
// Light and dark appearance. Qt 6.4 has no colour-scheme API, so the style of a widget is read
// from its palette: a dark window colour means the dark appearance. A window can be fixed to one
// appearance by giving it a complete dark or light palette, which application palette changes
// (the system switching between light and dark) then leave alone.
#include <QObject>
#include <QPalette>
#include <QPointer>
#include <functional>

class QWidget;

namespace ui {

enum class InterfaceStyle { unspecified = 0, light = 1, dark = 2 };

struct TraitCollection {
    InterfaceStyle userInterfaceStyle = InterfaceStyle::unspecified;
    bool operator==(const TraitCollection&) const = default;
};

// Dark when the palette's window colour is dark.
InterfaceStyle styleOfPalette(const QPalette& palette);
// The trait collection a widget draws with now (its own resolved palette).
TraitCollection traitCollectionOf(const QWidget* widget);
// The application's trait collection (its palette; light before a QApplication exists).
TraitCollection currentTraitCollection();

// Complete palettes for the two appearances (every role set, so they are not merged with the
// application palette).
QPalette darkPalette();
QPalette lightPalette();

// Fixes a top-level widget's appearance: dark or light palette on that window only; unspecified
// gives the window back to the application palette (the system's appearance).
void setOverrideInterfaceStyle(QWidget* window, InterfaceStyle style);
InterfaceStyle overrideInterfaceStyle(const QWidget* window);

// The "MODE_APPEARANCE" values: 1 dark, 2 light, anything else follows the system.
InterfaceStyle styleForModeAppearance(int mode);

// Widgets (not only screens) that must react to a change of appearance: calls back with the
// previous and the current trait collection once per real change of the widget's style, on the
// event-loop turn after the change (when the palettes have settled).
class TraitObserver : public QObject {
    Q_OBJECT
public:
    using Callback = std::function<void(const TraitCollection& previous, const TraitCollection& current)>;
    TraitObserver(QWidget* widget, Callback callback);

    const TraitCollection& last() const { return last_; }
    // Compares the widget's style with the last one seen and calls back when it changed.
    void check();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> widget_;
    Callback callback_;
    TraitCollection last_;
    bool checkPending_ = false;
};

}  // namespace ui
