#include "platform/ui/scenes/Window.h"

#include <QCloseEvent>
#include <QEvent>
#include <QKeyEvent>
#include <QPushButton>

#include "platform/ui/Responder.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/scenes/Application.h"
#include "platform/ui/scenes/Scene.h"

namespace ui {

Window::Window(Scene* scene) : QMainWindow(nullptr), scene_(scene) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    if (scene) {
        scene->addWindow(this);
        setWindowTitle(scene->title());
        setNextResponder(this, scene);
        if (auto* limits = scene->sizeRestrictions()) limits->applyTo(this);
    }
}

Window::~Window() {
    Application::shared().windowGoing(this);
    if (scene_) scene_->removeWindow(this);
    detachRoot();
}

void Window::detachRoot() {
    if (!root_) return;
    if (QWidget* content = takeCentralWidget()) {
        content->hide();
        content->setParent(nullptr);
    }
    root_.reset();
}

void Window::setRootViewController(std::shared_ptr<ViewController> controller) {
    if (controller == root_) return;
    detachRoot();
    root_ = std::move(controller);
    if (root_) setCentralWidget(root_->view());
}

void Window::makeKeyAndVisible() {
    Application::shared().windowBecomesKey(this);
    show();
    raise();
    activateWindow();
    // Commands start at the focused widget: with nothing focused yet, the root screen's view
    // takes the focus, so that menu commands reach the screen and its controllers.
    if (!focusWidget() && root_ && root_->viewIfLoaded()) root_->viewIfLoaded()->setFocus(Qt::OtherFocusReason);
}

bool Window::isKeyWindow() const { return Application::shared().keyWindow() == this; }

void Window::setOverrideUserInterfaceStyle(InterfaceStyle style) { setOverrideInterfaceStyle(this, style); }

InterfaceStyle Window::overrideUserInterfaceStyle() const { return overrideInterfaceStyle(this); }

void Window::closeEvent(QCloseEvent* event) {
    if (closingWithScene_ || !scene_ || !scene_->session()) {
        QMainWindow::closeEvent(event);
        return;
    }
    // The window closes with its session: ask for the destruction and keep the window until it
    // is done (the request is answered on a later turn of the event loop).
    event->ignore();
    Application::shared().requestSceneSessionDestruction(scene_->session(), {}, nullptr);
}

void Window::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    auto* button = qobject_cast<QPushButton*>(focusWidget());
    if (enter && plain && button && button->isEnabled() && button->isVisible() && !event->isAutoRepeat()) {
        button->animateClick();
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void Window::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        Application::shared().windowBecomesKey(this);
    }
    if (event->type() == QEvent::WindowStateChange && scene_ && !closingWithScene_) {
        Application::shared().windowVisibilityChanged(this);
    }
    QMainWindow::changeEvent(event);
}

}  // namespace ui
