#pragma once
// The desktop window system as the app reaches it by name: on the desktop idiom the UI layer
// registers two classes with the dynamic-messaging registry.
//
// "NSApplication": sharedApplication -> the application object, whose `delegate` answers
//   hostWindowForUIWindow: (a platform window -> its host) and whose `windows` lists the desktop
//   windows of the platform windows. A host's attachedWindow is the desktop window: isKeyWindow
//   (the Qt window's active state) and the properties styleMask and collectionBehavior.
// "NSWindow": the class member didBecomeMainNotification, the name of the notification posted on
//   the default notification centre whenever the focus moves to another top-level window.
//
// On the other idioms nothing is registered, so every chain through these names reads as absent.
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>
#include <QWidget>

namespace ui {

class DesktopBridge {
public:
    // Registers the classes on the desktop idiom (and removes them on the others). Needs the
    // Qt application; calling it again is harmless.
    static void install();
    static void uninstall();
    static bool installed();

    static constexpr const char* kDidBecomeMainNotification = "NSWindowDidBecomeMainNotification";
};

// A top-level window as the desktop window system sees it (a child object of the widget).
class DesktopWindow : public QObject {
    Q_OBJECT
    Q_PROPERTY(qulonglong styleMask READ styleMask WRITE setStyleMask)
    Q_PROPERTY(qulonglong collectionBehavior READ collectionBehavior WRITE setCollectionBehavior)
public:
    explicit DesktopWindow(QWidget* window);

    // Titled, closable and miniaturizable always; resizable (8) unless the size is fixed.
    static constexpr qulonglong kTitled = 1, kClosable = 2, kMiniaturizable = 4, kResizable = 8;
    static constexpr qulonglong kFullScreenPrimary = 128, kFullScreenAuxiliary = 256, kFullScreenNone = 512;

    Q_INVOKABLE bool isKeyWindow() const;
    qulonglong styleMask() const;
    // Clearing the resizable flag fixes the window at its current size; setting it frees it.
    void setStyleMask(qulonglong mask);
    qulonglong collectionBehavior() const { return behavior_; }
    // With full-screen none, the window leaves full screen and is kept out of it.
    void setCollectionBehavior(qulonglong behavior);

    QWidget* widget() const { return window_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> window_;
    qulonglong behavior_ = kFullScreenPrimary;
    QSize freeMin_, freeMax_;
    bool fixed_ = false;
};

// The host of a platform window: its attachedWindow is the desktop window.
class DesktopHostWindow : public QObject {
    Q_OBJECT
public:
    explicit DesktopHostWindow(QWidget* window);
    Q_INVOKABLE QObject* attachedWindow() const { return attached_; }
    // The host of a top-level widget, made on first use.
    static DesktopHostWindow* of(QWidget* window);

private:
    DesktopWindow* attached_;
};

class DesktopApplicationDelegate : public QObject {
    Q_OBJECT
public:
    // The host of a platform window (any widget: its top-level window counts), or null.
    Q_INVOKABLE QObject* hostWindowForUIWindow(QObject* window) const;
};

class DesktopApplication : public QObject {
    Q_OBJECT
public:
    DesktopApplication();
    Q_INVOKABLE QObject* delegate() const { return delegate_; }
    // The desktop windows of the visible top-level windows.
    Q_INVOKABLE QVariantList windows() const;

private:
    DesktopApplicationDelegate* delegate_;
};

class DesktopApplicationClass : public QObject {
    Q_OBJECT
public:
    Q_INVOKABLE QObject* sharedApplication();

private:
    DesktopApplication* shared_ = nullptr;
};

class DesktopWindowClass : public QObject {
    Q_OBJECT
public:
    Q_INVOKABLE QString didBecomeMainNotification() const {
        return QString::fromLatin1(DesktopBridge::kDidBecomeMainNotification);
    }
};

}  // namespace ui
