#include "platform/ui/DesktopBridge.h"

#include <QApplication>
#include <QEvent>
#include <QWindow>

#include "dynamic/ClassRegistry.h"
#include "platform/ui/Idiom.h"
#include "platform/ui/NotificationCenter.h"

namespace ui {

namespace {
struct Bridge {
    DesktopApplicationClass applicationClass;
    DesktopWindowClass windowClass;
    QMetaObject::Connection focusConnection;
    QPointer<QWindow> lastFocus;
};
Bridge*& bridge() {
    static Bridge* b = nullptr;
    return b;
}
}  // namespace

void DesktopBridge::install() {
    if (userInterfaceIdiom() != Idiom::mac) {
        uninstall();
        return;
    }
    if (bridge() || !qGuiApp) return;
    Bridge* b = new Bridge;
    bridge() = b;
    dynamic::ClassRegistry::registerClass(QStringLiteral("NSApplication"), &b->applicationClass);
    dynamic::ClassRegistry::registerClass(QStringLiteral("NSWindow"), &b->windowClass);
    b->lastFocus = QGuiApplication::focusWindow();
    b->focusConnection = QObject::connect(qGuiApp, &QGuiApplication::focusWindowChanged, [](QWindow* focus) {
        Bridge* current = bridge();
        if (!current || !focus) return;
        // Only a move to another top-level window makes a window main; popups and menus do not.
        QWindow* top = focus;
        while (top->transientParent() && top->type() != Qt::Window) top = top->transientParent();
        if (top->type() != Qt::Window && top->type() != Qt::Dialog) return;
        if (current->lastFocus == top) return;
        current->lastFocus = top;
        NotificationCenter::defaultCenter().post(QString::fromLatin1(kDidBecomeMainNotification), top);
    });
}

void DesktopBridge::uninstall() {
    Bridge* b = bridge();
    if (!b) return;
    QObject::disconnect(b->focusConnection);
    dynamic::ClassRegistry::unregisterClass(QStringLiteral("NSApplication"));
    dynamic::ClassRegistry::unregisterClass(QStringLiteral("NSWindow"));
    bridge() = nullptr;
    delete b;
}

bool DesktopBridge::installed() { return bridge() != nullptr; }

DesktopWindow::DesktopWindow(QWidget* window) : QObject(window), window_(window) {
    window->installEventFilter(this);
}

bool DesktopWindow::isKeyWindow() const { return window_ && window_->isVisible() && window_->isActiveWindow(); }

qulonglong DesktopWindow::styleMask() const {
    qulonglong mask = kTitled | kClosable | kMiniaturizable;
    if (window_ && window_->minimumSize() != window_->maximumSize()) mask |= kResizable;
    return mask;
}

void DesktopWindow::setStyleMask(qulonglong mask) {
    if (!window_) return;
    const bool resizable = (mask & kResizable) != 0;
    if (!resizable && !fixed_) {
        freeMin_ = window_->minimumSize();
        freeMax_ = window_->maximumSize();
        window_->setFixedSize(window_->size());
        fixed_ = true;
    } else if (resizable && fixed_) {
        window_->setMinimumSize(freeMin_);
        window_->setMaximumSize(freeMax_);
        fixed_ = false;
    }
}

void DesktopWindow::setCollectionBehavior(qulonglong behavior) {
    behavior_ = behavior;
    if ((behavior_ & kFullScreenNone) && window_ && window_->isFullScreen()) window_->showNormal();
}

bool DesktopWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::WindowStateChange && (behavior_ & kFullScreenNone) &&
        window_->isFullScreen()) {
        window_->setWindowState(window_->windowState() & ~Qt::WindowFullScreen);
    }
    return QObject::eventFilter(watched, event);
}

DesktopHostWindow::DesktopHostWindow(QWidget* window) : QObject(window), attached_(new DesktopWindow(window)) {}

DesktopHostWindow* DesktopHostWindow::of(QWidget* window) {
    if (!window) return nullptr;
    QWidget* top = window->window();
    if (auto* existing = top->findChild<DesktopHostWindow*>(QString(), Qt::FindDirectChildrenOnly)) return existing;
    return new DesktopHostWindow(top);
}

QObject* DesktopApplicationDelegate::hostWindowForUIWindow(QObject* window) const {
    return DesktopHostWindow::of(qobject_cast<QWidget*>(window));
}

DesktopApplication::DesktopApplication() : delegate_(new DesktopApplicationDelegate) { delegate_->setParent(this); }

QVariantList DesktopApplication::windows() const {
    QVariantList out;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible() || !w->isWindow()) continue;
        out.append(QVariant::fromValue<QObject*>(DesktopHostWindow::of(w)->attachedWindow()));
    }
    return out;
}

QObject* DesktopApplicationClass::sharedApplication() {
    if (!shared_) {
        shared_ = new DesktopApplication;
        shared_->setParent(this);
    }
    return shared_;
}

}  // namespace ui
