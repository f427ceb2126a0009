#pragma once
// The application object of the scene layer: its delegate, the manifest that maps configuration
// names to scene and delegate classes, the open sessions and connected scenes (in connection
// order), and the requests that open and close windows. Requests return at once and are answered
// on the main queue on a later turn of the event loop; failures reach the request's error handler.
//
// The application is the responder after every scene delegate; its delegate comes after it.
#include <QHash>
#include <QList>
#include <QMenuBar>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>

#include "platform/ui/Menu.h"
#include "platform/ui/scenes/Scene.h"
#include "platform/ui/scenes/SceneConfiguration.h"
#include "platform/ui/scenes/SceneSession.h"
#include "platform/ui/scenes/Window.h"

namespace ui {

class ApplicationDelegate : public QObject {
    Q_OBJECT
public:
    // The launch sequence; runs once, before the first window is asked for.
    virtual bool didFinishLaunching(const QVariantMap& options) {
        (void)options;
        return true;
    }
    // The configuration of a session that is connecting.
    virtual SceneConfiguration configurationForConnectingSceneSession(SceneSession* session,
                                                                      const ConnectionOptions& options) = 0;
    // Edits the main menu of a window (the builder starts with the standard menus).
    virtual void buildMenu(MenuBuilder& builder) { (void)builder; }
    // The Quit command: `reply(true)` lets the application quit, `reply(false)` keeps it running.
    // The reply may come later, on the main queue.
    virtual void applicationShouldTerminate(std::function<void(bool)> reply) { reply(true); }
};

// Configuration name -> how to make its scene and its delegate.
class SceneManifest {
public:
    using SceneFactory = std::function<std::unique_ptr<Scene>(SceneSession* session)>;
    using DelegateFactory = std::function<std::unique_ptr<SceneDelegate>()>;
    struct Entry {
        SceneFactory sceneFactory;        // empty: the configuration has no window
        DelegateFactory delegateFactory;  // empty: the scene has no delegate
    };

    void declare(const QString& configurationName, SceneFactory scene, DelegateFactory delegate);
    const Entry* entry(const QString& configurationName) const;
    QStringList configurationNames() const;
    void clear() { entries_.clear(); }

private:
    QHash<QString, Entry> entries_;
};

class Application : public QObject {
    Q_OBJECT
public:
    // The one application object (made on first use, on the main thread).
    static Application& shared();

    void setDelegate(ApplicationDelegate* delegate);
    ApplicationDelegate* delegate() const { return delegate_; }
    SceneManifest& manifest() { return manifest_; }

    // Runs the delegate's launch sequence.
    bool finishLaunching(const QVariantMap& options = {});

    // Several windows at once: everywhere but on the phone idiom (tests may force it).
    bool supportsMultipleScenes() const;
    void setSupportsMultipleScenesForTesting(std::optional<bool> value) { multipleOverride_ = value; }

    QList<Scene*> connectedScenes() const;
    QList<SceneSession*> openSessions() const;
    QList<Window*> windows() const;
    Window* keyWindow() const { return keyWindow_; }

    // Asks for a window. With no session a new session is made and connected with the activity
    // (its configuration comes from the delegate, its classes from the manifest); with a session
    // that session's window is brought to the front. Answered on the main queue after this call
    // returns; a failure calls the error handler there.
    void requestSceneSessionActivation(SceneSession* session, std::optional<UserActivity> activity,
                                       const ActivationRequestOptions& options, SceneErrorHandler errorHandler);
    // Asks for the session's scene to be disconnected and the session dropped, with its windows.
    // Answered on the main queue after this call returns.
    void requestSceneSessionDestruction(SceneSession* session, const DestructionRequestOptions& options,
                                        SceneErrorHandler errorHandler);

    // Queues a rebuild of every window's main menu through the delegate; requests made before it
    // runs give one rebuild, and a menu that is open is rebuilt only once it has closed.
    void setNeedsRebuildMainMenu();
    // How many rebuilds have run (for tests and diagnostics).
    int mainMenuBuildCount() const { return menuBuildCount_; }

    // The Quit command (Ctrl+Q): asks the delegate, then ends the Qt application's event loop
    // (without asking the windows again). A Quit while the delegate has not answered yet is
    // ignored: its question is already on screen.
    Q_INVOKABLE void terminate();
    bool terminationPending() const { return terminationPending_; }

    // Disconnects every scene now (at exit, and between tests).
    void disconnectAllScenes();
    // Also forgets the delegate, the manifest and test overrides.
    void resetForTesting();

signals:
    void sceneConnected(ui::Scene* scene);
    void sceneDisconnected(ui::Scene* scene);

private:
    friend class Window;
    Application();
    void activate(QPointer<SceneSession> existing, bool hadSession, std::optional<UserActivity> activity,
                  const SceneErrorHandler& handler);
    void destroySession(QPointer<SceneSession> target, const SceneErrorHandler& handler);
    void disconnect(Scene* scene);
    void buildMenus(Scene* scene);
    void fail(const SceneErrorHandler& handler, SceneError error);
    void windowBecomesKey(Window* window);
    // A window was minimised or restored: its scene goes to the background when none of its
    // windows is shown, and back to the foreground when one is again.
    void windowVisibilityChanged(Window* window);
    void windowGoing(Window* window);

    QPointer<ApplicationDelegate> delegate_;
    SceneManifest manifest_;
    QList<QPointer<SceneSession>> sessions_;
    QList<QPointer<Scene>> connected_;
    QPointer<Window> keyWindow_;
    std::optional<bool> multipleOverride_;
    bool menuRebuildQueued_ = false;
    bool terminationPending_ = false;
    int menuBuildCount_ = 0;
    void rebuildMainMenusNow();
};

}  // namespace ui
