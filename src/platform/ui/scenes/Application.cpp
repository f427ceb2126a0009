#include "platform/ui/scenes/Application.h"

#include <QApplication>
#include <QMenu>
#include <QUuid>

#include "platform/dispatch/Dispatch.h"
#include "platform/ui/Accessibility.h"
#include "platform/ui/DesktopBridge.h"
#include "platform/ui/Idiom.h"
#include "platform/ui/Responder.h"

namespace ui {

// ---- MenuBuilder / SceneManifest ----------------------------------------------------------


void SceneManifest::declare(const QString& configurationName, SceneFactory scene, DelegateFactory delegate) {
    entries_.insert(configurationName, Entry{std::move(scene), std::move(delegate)});
}

const SceneManifest::Entry* SceneManifest::entry(const QString& configurationName) const {
    auto it = entries_.constFind(configurationName);
    return it == entries_.cend() ? nullptr : &it.value();
}

QStringList SceneManifest::configurationNames() const { return entries_.keys(); }

// ---- Application ---------------------------------------------------------------------------

Application& Application::shared() {
    // Made once and kept to the end of the process: windows and log calls may still reach it
    // while the process winds down.
    static Application* app = new Application;
    return *app;
}

Application::Application() {
    setApplicationResponder(this);
    // Picture-only buttons of every screen are read by a name.
    installAccessibleButtonNames();
}

void Application::setDelegate(ApplicationDelegate* delegate) {
    delegate_ = delegate;
    setNextResponder(this, delegate);
}

bool Application::finishLaunching(const QVariantMap& options) {
    // The desktop window system's names answer from here on (on the desktop idiom only).
    DesktopBridge::install();
    return delegate_ ? delegate_->didFinishLaunching(options) : true;
}

bool Application::supportsMultipleScenes() const {
    if (multipleOverride_) return *multipleOverride_;
    return userInterfaceIdiom() != Idiom::phone;
}

QList<Scene*> Application::connectedScenes() const {
    QList<Scene*> out;
    for (const auto& s : connected_) {
        if (s) out.append(s.data());
    }
    return out;
}

QList<SceneSession*> Application::openSessions() const {
    QList<SceneSession*> out;
    for (const auto& s : sessions_) {
        if (s) out.append(s.data());
    }
    return out;
}

QList<Window*> Application::windows() const {
    QList<Window*> out;
    for (Scene* s : connectedScenes()) out.append(s->windows());
    return out;
}

void Application::requestSceneSessionActivation(SceneSession* session, std::optional<UserActivity> activity,
                                                const ActivationRequestOptions& options,
                                                SceneErrorHandler errorHandler) {
    (void)options;
    QPointer<SceneSession> existing(session);
    const bool hadSession = session != nullptr;
    dispatch::mainQueue().async(
        [this, existing, hadSession, activity = std::move(activity), handler = std::move(errorHandler)]() mutable {
            activate(existing, hadSession, std::move(activity), handler);
        });
}

void Application::requestSceneSessionDestruction(SceneSession* session, const DestructionRequestOptions& options,
                                                 SceneErrorHandler errorHandler) {
    (void)options;
    QPointer<SceneSession> target(session);
    dispatch::mainQueue().async([this, target, handler = std::move(errorHandler)] { destroySession(target, handler); });
}

void Application::fail(const SceneErrorHandler& handler, SceneError error) {
    if (handler) handler(error);
}

void Application::activate(QPointer<SceneSession> existing, bool hadSession, std::optional<UserActivity> activity,
                           const SceneErrorHandler& handler) {
    if (hadSession) {
        if (!existing || !sessions_.contains(existing)) {
            fail(handler, {SceneError::Code::sessionNotFound, QStringLiteral("The scene session is no longer open.")});
            return;
        }
        if (Scene* scene = existing->scene()) {
            const auto windows = scene->windows();
            if (!windows.isEmpty()) windows.first()->makeKeyAndVisible();
        }
        return;
    }
    if (!supportsMultipleScenes() && !connectedScenes().isEmpty()) {
        fail(handler, {SceneError::Code::multipleScenesUnsupported,
                       QStringLiteral("This device shows one window at a time.")});
        return;
    }

    ConnectionOptions options;
    if (activity) options.userActivities.append(*activity);

    auto* session = new SceneSession(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(),
                                     SceneSessionRole::windowApplication, this);
    SceneConfiguration configuration =
        delegate_ ? delegate_->configurationForConnectingSceneSession(session, options) : SceneConfiguration{};
    const SceneManifest::Entry* entry = configuration.name ? manifest_.entry(*configuration.name) : nullptr;
    if (!entry || !entry->sceneFactory) {
        delete session;
        fail(handler, {SceneError::Code::configurationUnavailable,
                       QStringLiteral("No window is configured for \"%1\".").arg(configuration.name.value_or(QString()))});
        return;
    }
    session->configuration_ = configuration;

    std::unique_ptr<Scene> made = entry->sceneFactory(session);
    if (!made) {
        delete session;
        fail(handler, {SceneError::Code::configurationUnavailable,
                       QStringLiteral("The window for \"%1\" could not be made.").arg(*configuration.name)});
        return;
    }
    QPointer<Scene> scene(made.release());
    if (entry->delegateFactory) scene->setDelegate(entry->delegateFactory());
    session->scene_ = scene;
    sessions_.append(session);
    connected_.append(scene);

    // Destruction requests made during these calls are queued, so the scene stays for all three.
    if (SceneDelegate* d = scene->delegate()) d->willConnectToSession(scene, session, options);
    if (!scene) return;
    scene->state_ = SceneActivationState::foregroundInactive;
    if (SceneDelegate* d = scene->delegate()) d->sceneWillEnterForeground(scene);
    if (!scene) return;
    scene->state_ = SceneActivationState::foregroundActive;
    if (SceneDelegate* d = scene->delegate()) d->sceneDidBecomeActive(scene);
    if (!scene) return;
    buildMenus(scene);
    emit sceneConnected(scene);
}

void Application::destroySession(QPointer<SceneSession> target, const SceneErrorHandler& handler) {
    if (!target || !sessions_.contains(target)) {
        fail(handler, {SceneError::Code::sessionNotFound, QStringLiteral("The scene session is no longer open.")});
        return;
    }
    sessions_.removeAll(target);
    if (Scene* scene = target->scene()) disconnect(scene);
    target->deleteLater();
}

void Application::disconnect(Scene* scene) {
    connected_.removeAll(scene);
    QPointer<Scene> guard(scene);
    if (scene->state_ == SceneActivationState::foregroundActive) {
        scene->state_ = SceneActivationState::foregroundInactive;
        if (SceneDelegate* d = scene->delegate()) d->sceneWillResignActive(scene);
    }
    if (guard && scene->state_ == SceneActivationState::foregroundInactive) {
        scene->state_ = SceneActivationState::background;
        if (SceneDelegate* d = scene->delegate()) d->sceneDidEnterBackground(scene);
    }
    if (!guard) return;
    scene->state_ = SceneActivationState::unattached;
    if (SceneDelegate* d = scene->delegate()) d->sceneDidDisconnect(scene);
    if (!guard) return;
    // Closing (not only hiding) lets the last window's close end the application.
    for (Window* w : scene->windows()) {
        w->closingWithScene_ = true;
        w->close();
    }
    emit sceneDisconnected(scene);
    scene->deleteLater();
}

void Application::disconnectAllScenes() {
    const auto scenes = connectedScenes();
    for (Scene* s : scenes) {
        QPointer<SceneSession> session = s->session();
        QPointer<Scene> guard(s);
        disconnect(s);
        delete guard.data();
        if (session) {
            sessions_.removeAll(session);
            delete session.data();
        }
    }
    for (const auto& s : sessions_) delete s.data();
    sessions_.clear();
}

void Application::resetForTesting() {
    disconnectAllScenes();
    manifest_.clear();
    setDelegate(nullptr);
    multipleOverride_.reset();
    keyWindow_ = nullptr;
    terminationPending_ = false;
}

void Application::setNeedsRebuildMainMenu() {
    if (menuRebuildQueued_) return;
    menuRebuildQueued_ = true;
    dispatch::mainQueue().async([this] { rebuildMainMenusNow(); });
}

void Application::rebuildMainMenusNow() {
    // An open menu is never replaced under the user: wait until it closes.
    if (auto* open = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        QMenu* outer = open;
        while (auto* parent = qobject_cast<QMenu*>(outer->parentWidget())) outer = parent;
        QPointer<Application> self(this);
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = connect(outer, &QMenu::aboutToHide, this, [self, connection] {
            QObject::disconnect(*connection);
            if (self) dispatch::mainQueue().async([self] {
                if (self) self->rebuildMainMenusNow();
            });
        });
        return;
    }
    menuRebuildQueued_ = false;
    for (Scene* s : connectedScenes()) buildMenus(s);
}

void Application::buildMenus(Scene* scene) {
    if (!delegate_) return;
    for (Window* w : scene->windows()) {
        ++menuBuildCount_;
        MenuBuilder builder(MenuSystem::main, w);
        delegate_->buildMenu(builder);
        // Only the desktop has a menu bar.
        if (userInterfaceIdiom() != Idiom::mac) continue;
        MenuRenderer::render(*builder.mainMenu(), w->menuBar(), w);
    }
}

void Application::terminate() {
    // One decision at a time: a second Quit while the first one's question is on screen would
    // ask again over it (or, finding the window busy, let the app go without an answer).
    if (terminationPending_) return;
    terminationPending_ = true;
    QPointer<Application> self(this);
    auto finish = [self](bool allowed) {
        if (self) self->terminationPending_ = false;
        // exit(), not quit(): quit() asks every window to close once more, and a document
        // window answers that with its own "Unsaved Changes" decision, so the decision just
        // made would be asked again and the quit dropped. The windows go in the app's exit.
        if (allowed) QCoreApplication::exit(0);
    };
    if (delegate_) {
        delegate_->applicationShouldTerminate(finish);
    } else {
        finish(true);
    }
}

void Application::windowBecomesKey(Window* window) { keyWindow_ = window; }

void Application::windowVisibilityChanged(Window* window) {
    QPointer<Scene> scene(window->windowScene());
    if (!scene || !connected_.contains(scene)) return;
    bool shown = false;
    for (Window* w : scene->windows()) {
        if (w->isVisible() && !w->isMinimized()) shown = true;
    }
    SceneDelegate* d = scene->delegate();
    if (!shown && scene->state_ == SceneActivationState::foregroundActive) {
        scene->state_ = SceneActivationState::foregroundInactive;
        if (d) d->sceneWillResignActive(scene);
        if (!scene) return;
        scene->state_ = SceneActivationState::background;
        if ((d = scene->delegate())) d->sceneDidEnterBackground(scene);
    } else if (shown && scene->state_ == SceneActivationState::background) {
        scene->state_ = SceneActivationState::foregroundInactive;
        if (d) d->sceneWillEnterForeground(scene);
        if (!scene) return;
        scene->state_ = SceneActivationState::foregroundActive;
        if ((d = scene->delegate())) d->sceneDidBecomeActive(scene);
    }
}

void Application::windowGoing(Window* window) {
    if (keyWindow_ == window) keyWindow_ = nullptr;
}

}  // namespace ui
