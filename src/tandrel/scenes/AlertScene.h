#pragma once
// The alert window: a small window of its own (320 x 250) with an icon, a title, a message and a
// close button, requested with an "alert_window" activity carrying "title" and "message".
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/ViewController.h"
#include "platform/ui/scenes/Scene.h"
#include "platform/ui/scenes/Window.h"

class QLabel;
class QPushButton;

class AlertScene : public ui::Scene {
    Q_OBJECT
public:
    explicit AlertScene(ui::SceneSession* session);
    ~AlertScene() override;

    // Next responder after the scene when set (else the platform's).
    QPointer<QObject> my_next;
    void set_my_next(QObject* next);
};

class AlertSceneWindow : public ui::Window {
    Q_OBJECT
public:
    explicit AlertSceneWindow(ui::Scene* scene) : ui::Window(scene) {}
};

class AlertSceneDelegate : public ui::SceneDelegate {
    Q_OBJECT
public:
    AlertSceneDelegate();

    std::string guid;  // a new random UUID text per delegate

    void willConnectToSession(ui::Scene* scene, ui::SceneSession* session, const ui::ConnectionOptions& options) override;
    void sceneDidDisconnect(ui::Scene* scene) override;

    void setup_alert_window(ui::Scene* scene, const ui::ConnectionOptions& options);
};

// The desktop window system, reached by name at run time (by default through the class
// registry of the dynamic wrapper; where nothing is registered under the name, the style step
// below stops at its first check).
class DesktopWindowObject {
public:
    virtual ~DesktopWindowObject() = default;
    // An unsigned value read by key, or nothing when the key holds something else.
    virtual std::optional<uint64_t> unsigned_value_for_key(const std::string& key) const = 0;
    virtual void set_unsigned_value_for_key(const std::string& key, uint64_t value) = 0;
};

class DesktopWindowSystem {
public:
    virtual ~DesktopWindowSystem() = default;
    // The desktop window hosting a platform window, or nothing.
    virtual std::shared_ptr<DesktopWindowObject> host_window_for(QWidget* window) = 0;
};

class AlertViewController : public ui::ViewController {
    Q_OBJECT
public:
    AlertViewController();
    ~AlertViewController() override;

    QLabel* alertyTitleLbl;
    QLabel* alertyMessageLbl;
    QLabel* alertyIcon;
    QPushButton* alertyCloseBtn;
    std::string alertTitle = "Oops!";
    std::string alertMessage = "We're very sorry. Something went wrong.";

    void setup_alert_view();
    // On the desktop: makes the alert's own desktop window fixed-size and keeps it out of full
    // screen. Only the alert's window changes; the other windows keep their size behaviour.
    void applyCatalystWindowStyle();
    // The close button's action.
    Q_INVOKABLE void closeAlert();
    void close_alert_scene();

    // Finds the desktop window system by its application class name ("NSApplication"). The
    // default asks the class registry; tests may install another lookup (null restores it).
    using DesktopLookup = std::function<std::shared_ptr<DesktopWindowSystem>(const std::string& class_name)>;
    static void set_desktop_lookup(DesktopLookup lookup);

    // Bit values of the desktop window system's style and collection-behaviour flags.
    static constexpr uint64_t kStyleMaskResizable = 1u << 3;
    static constexpr uint64_t kFullScreenPrimary = 1u << 7;
    static constexpr uint64_t kFullScreenAuxiliary = 1u << 8;
    static constexpr uint64_t kFullScreenNone = 1u << 9;

protected:
    void viewDidLoad() override;
    void viewDidAppear(bool animated) override;
};
