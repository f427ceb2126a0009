#pragma once
// Keys a test sends reach a window's shortcuts (and its buttons' mnemonics) only while that
// window itself has the keyboard. QTest::qWaitForWindowActive is no proof of that: Qt counts a
// sheet as active while the window it belongs to has the focus, which is so from the moment the
// sheet shows until the window system has moved the focus onto it (longer on a busy machine).
#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QWidget>

namespace testsupport {

// Waits until the widget's window is the one that receives the keyboard (the one Qt matches
// window shortcuts against).
inline bool waitForKeyboard(QWidget* widget, int timeoutMs = 15000) {
    QPointer<QWidget> window(widget->window());
    return QTest::qWaitFor([window] { return window && QApplication::activeWindow() == window; }, timeoutMs);
}

// Makes the widget's window the one that receives the keyboard and waits for it. Other test
// programs' windows on the same display may take the activation after this one asked for it,
// and nothing gives it back: it is asked for again then.
inline bool activateForKeyboard(QWidget* widget, int attempts = 3, int timeoutMs = 5000) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (QApplication::activeWindow() != widget->window()) widget->window()->activateWindow();
        if (waitForKeyboard(widget, timeoutMs)) return true;
    }
    return false;
}

}  // namespace testsupport
