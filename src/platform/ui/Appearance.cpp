#include "platform/ui/Appearance.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace ui {

namespace {
const char* kOverrideProperty = "ui_override_interface_style";

QPalette completePalette(const QColor& window, const QColor& text, const QColor& base, const QColor& alternate,
                         const QColor& button, const QColor& highlight, const QColor& disabledText,
                         const QColor& light, const QColor& mid, const QColor& dark, const QColor& shadow,
                         const QColor& link, const QColor& placeholder) {
    QPalette p;
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        const QColor fg = disabled ? disabledText : text;
        p.setColor(group, QPalette::Window, window);
        p.setColor(group, QPalette::WindowText, fg);
        p.setColor(group, QPalette::Base, base);
        p.setColor(group, QPalette::AlternateBase, alternate);
        p.setColor(group, QPalette::ToolTipBase, base);
        p.setColor(group, QPalette::ToolTipText, text);
        p.setColor(group, QPalette::PlaceholderText, placeholder);
        p.setColor(group, QPalette::Text, fg);
        p.setColor(group, QPalette::Button, button);
        p.setColor(group, QPalette::ButtonText, fg);
        p.setColor(group, QPalette::BrightText, Qt::red);
        p.setColor(group, QPalette::Light, light);
        p.setColor(group, QPalette::Midlight, light);
        p.setColor(group, QPalette::Mid, mid);
        p.setColor(group, QPalette::Dark, dark);
        p.setColor(group, QPalette::Shadow, shadow);
        p.setColor(group, QPalette::Highlight, disabled ? mid : highlight);
        p.setColor(group, QPalette::HighlightedText, Qt::white);
        p.setColor(group, QPalette::Link, link);
        p.setColor(group, QPalette::LinkVisited, link.darker(120));
    }
    // Every role counts as set, so the palette is never filled in from the application's.
    p.setResolveMask(~QPalette::ResolveMask(0));
    return p;
}
}  // namespace

InterfaceStyle styleOfPalette(const QPalette& palette) {
    return palette.color(QPalette::Active, QPalette::Window).lightness() < 128 ? InterfaceStyle::dark
                                                                               : InterfaceStyle::light;
}

TraitCollection traitCollectionOf(const QWidget* widget) {
    if (!widget) return currentTraitCollection();
    return TraitCollection{styleOfPalette(widget->palette())};
}

TraitCollection currentTraitCollection() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return TraitCollection{InterfaceStyle::light};
    return TraitCollection{styleOfPalette(QApplication::palette())};
}

QPalette darkPalette() {
    return completePalette(QColor(0x2b, 0x2d, 0x31), QColor(0xf2, 0xf2, 0xf2), QColor(0x1e, 0x1f, 0x22),
                           QColor(0x33, 0x35, 0x3a), QColor(0x3c, 0x3f, 0x44), QColor(0x2f, 0x6f, 0xd6),
                           QColor(0x80, 0x80, 0x80), QColor(0x50, 0x53, 0x58), QColor(0x3a, 0x3c, 0x40),
                           QColor(0x18, 0x19, 0x1b), QColor(0x00, 0x00, 0x00), QColor(0x5a, 0xa0, 0xff),
                           QColor(0x8a, 0x8a, 0x8a));
}

QPalette lightPalette() {
    return completePalette(QColor(0xef, 0xef, 0xef), QColor(0x00, 0x00, 0x00), QColor(0xff, 0xff, 0xff),
                           QColor(0xf5, 0xf5, 0xf5), QColor(0xe6, 0xe6, 0xe6), QColor(0x30, 0x8c, 0xc6),
                           QColor(0x90, 0x90, 0x90), QColor(0xff, 0xff, 0xff), QColor(0xb8, 0xb8, 0xb8),
                           QColor(0x9f, 0x9f, 0x9f), QColor(0x76, 0x76, 0x76), QColor(0x00, 0x66, 0xcc),
                           QColor(0x7f, 0x7f, 0x7f));
}

void setOverrideInterfaceStyle(QWidget* window, InterfaceStyle style) {
    if (!window) return;
    window->setProperty(kOverrideProperty, static_cast<int>(style));
    switch (style) {
        case InterfaceStyle::dark: window->setPalette(darkPalette()); break;
        case InterfaceStyle::light: window->setPalette(lightPalette()); break;
        case InterfaceStyle::unspecified:
            // A palette that sets nothing hands the window back to the application palette.
            window->setPalette(QPalette());
            window->setAttribute(Qt::WA_SetPalette, false);
            break;
    }
}

InterfaceStyle overrideInterfaceStyle(const QWidget* window) {
    if (!window) return InterfaceStyle::unspecified;
    const QVariant v = window->property(kOverrideProperty);
    return v.isValid() ? static_cast<InterfaceStyle>(v.toInt()) : InterfaceStyle::unspecified;
}

InterfaceStyle styleForModeAppearance(int mode) {
    if (mode == 1) return InterfaceStyle::dark;
    if (mode == 2) return InterfaceStyle::light;
    return InterfaceStyle::unspecified;
}

TraitObserver::TraitObserver(QWidget* widget, Callback callback)
    : QObject(widget), widget_(widget), callback_(std::move(callback)), last_(traitCollectionOf(widget)) {
    if (widget) widget->installEventFilter(this);
}

void TraitObserver::check() {
    checkPending_ = false;
    if (!widget_) return;
    const TraitCollection now = traitCollectionOf(widget_);
    if (now == last_) return;
    const TraitCollection previous = last_;
    last_ = now;
    if (callback_) callback_(previous, now);
}

bool TraitObserver::eventFilter(QObject* watched, QEvent* event) {
    if (watched == widget_ &&
        (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange ||
         event->type() == QEvent::ParentChange || event->type() == QEvent::StyleChange)) {
        // Palettes settle in several steps (the application's, then the window's on top of it):
        // look once they have.
        if (!checkPending_) {
            checkPending_ = true;
            QMetaObject::invokeMethod(this, &TraitObserver::check, Qt::QueuedConnection);
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace ui
