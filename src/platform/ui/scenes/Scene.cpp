#include "platform/ui/scenes/Scene.h"

#include "platform/ui/Idiom.h"
#include "platform/ui/Responder.h"
#include "platform/ui/scenes/SceneSession.h"
#include "platform/ui/scenes/Window.h"

namespace ui {

// ---- SceneDelegate -------------------------------------------------------------------------

SceneDelegate::SceneDelegate() = default;
SceneDelegate::~SceneDelegate() = default;

void SceneDelegate::willConnectToSession(Scene*, SceneSession*, const ConnectionOptions&) {}
void SceneDelegate::sceneDidDisconnect(Scene*) {}
void SceneDelegate::sceneWillEnterForeground(Scene*) {}
void SceneDelegate::sceneDidBecomeActive(Scene*) {}
void SceneDelegate::sceneWillResignActive(Scene*) {}
void SceneDelegate::sceneDidEnterBackground(Scene*) {}
void SceneDelegate::openURLContexts(Scene*, const QList<QUrl>&) {}
void SceneDelegate::didUpdateUserActivity(Scene*, const UserActivity&) {}
Window* SceneDelegate::window() const { return window_.data(); }
void SceneDelegate::setWindow(Window* window) { window_ = window; }

// ---- SizeRestrictions ----------------------------------------------------------------------

void SizeRestrictions::setMinimumSize(QSize size) {
    minimum_ = size.expandedTo(QSize(0, 0));
    apply();
}

void SizeRestrictions::setMaximumSize(QSize size) {
    maximum_ = size.expandedTo(QSize(0, 0)).boundedTo(QSize(16777215, 16777215));
    apply();
}

void SizeRestrictions::applyTo(Window* window) const {
    if (!window) return;
    // A minimum above the maximum wins, as the window cannot be smaller than its minimum.
    window->setMinimumSize(minimum_);
    window->setMaximumSize(maximum_.expandedTo(minimum_));
}

void SizeRestrictions::apply() const {
    for (Window* w : scene_->windows()) applyTo(w);
}

// ---- Scene ---------------------------------------------------------------------------------

Scene::Scene(SceneSession* session) : session_(session) {
    if (userInterfaceIdiom() == Idiom::mac) restrictions_ = std::make_unique<SizeRestrictions>(this);
}

SceneSession* Scene::session() const { return session_.data(); }

Scene::~Scene() {
    // Windows first (they show the delegate's screens), then the delegate.
    const auto windows = windows_;
    windows_.clear();
    for (const auto& w : windows) {
        if (!w) continue;
        w->closingWithScene_ = true;
        w->scene_ = nullptr;
        delete w.data();
    }
    setNextResponder(this, nullptr);
    delegate_.reset();
}

void Scene::setDelegate(std::unique_ptr<SceneDelegate> delegate) {
    delegate_ = std::move(delegate);
    relinkResponders();
}

void Scene::setNextResponderOverride(QObject* next) {
    nextOverride_ = next;
    relinkResponders();
}

void Scene::relinkResponders() {
    QObject* next = nextOverride_ ? nextOverride_.data() : static_cast<QObject*>(delegate_.get());
    setNextResponder(this, next);
}

void Scene::setTitle(const QString& title) {
    title_ = title;
    for (Window* w : windows()) w->setWindowTitle(title);
}

QList<Window*> Scene::windows() const {
    QList<Window*> out;
    for (const auto& w : windows_) {
        if (w) out.append(w.data());
    }
    return out;
}

Window* Scene::keyWindow() const {
    for (Window* w : windows()) {
        if (w->isKeyWindow()) return w;
    }
    return nullptr;
}

void Scene::addWindow(Window* window) { windows_.append(window); }

void Scene::removeWindow(Window* window) {
    windows_.removeIf([window](const QPointer<Window>& w) { return !w || w.data() == window; });
}

}  // namespace ui
