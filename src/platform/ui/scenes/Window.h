#pragma once
// A window of a scene: a top-level main window with its own menu bar, showing its root view
// controller's view. Its close button asks the application to destroy the scene's session; the
// window goes away with its scene.
#include <QMainWindow>
#include <QPointer>
#include <memory>

#include "platform/ui/Appearance.h"

namespace ui {

class Scene;
class ViewController;

class Window : public QMainWindow {
    Q_OBJECT
public:
    // A window on the scene (the scene keeps it and releases it with itself).
    explicit Window(Scene* scene);
    ~Window() override;

    Scene* windowScene() const { return scene_; }

    ViewController* rootViewController() const { return root_.get(); }
    std::shared_ptr<ViewController> rootViewControllerShared() const { return root_; }
    // Shows the controller's view as the window's content (loading it); the window keeps the
    // controller. A previous root gives its view back.
    void setRootViewController(std::shared_ptr<ViewController> controller);

    // Shows the window, brings it to the front and makes it the application's key window.
    void makeKeyAndVisible();
    bool isKeyWindow() const;

    // Fixes the window to the dark or light appearance; unspecified follows the system.
    void setOverrideUserInterfaceStyle(InterfaceStyle style);
    InterfaceStyle overrideUserInterfaceStyle() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    // Return (or Enter) presses the focused push button, as Space does: a button in a window
    // (not a dialog) leaves the key to its window.
    void keyPressEvent(QKeyEvent* event) override;

private:
    friend class Application;
    friend class Scene;
    void detachRoot();

    QPointer<Scene> scene_;
    std::shared_ptr<ViewController> root_;
    bool closingWithScene_ = false;
};

}  // namespace ui
