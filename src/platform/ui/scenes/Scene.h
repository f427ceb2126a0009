#pragma once
// A window scene and its delegate. The application creates both when a session connects (from
// the factories its manifest gives for the session's configuration), tells the delegate of each
// step of the scene's life, and releases scene, delegate and windows when the session is
// destroyed. The scene owns its delegate and its windows.
//
// Responder chain: window -> scene -> its next responder (the delegate, unless a scene links
// another one with setNextResponderOverride) -> the application -> the application delegate.
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QUrl>
#include <memory>

#include "platform/ui/scenes/SceneConfiguration.h"

namespace ui {

class Scene;
class SceneSession;
class Window;

enum class SceneActivationState { unattached, foregroundActive, foregroundInactive, background };

// Told of a scene's life. The callbacks arrive on the main thread, in this order for a session:
// willConnectToSession, sceneWillEnterForeground, sceneDidBecomeActive; and on destruction
// sceneWillResignActive, sceneDidEnterBackground, sceneDidDisconnect.
class SceneDelegate : public QObject {
    Q_OBJECT
public:
    SceneDelegate();
    ~SceneDelegate() override;

    virtual void willConnectToSession(Scene* scene, SceneSession* session, const ConnectionOptions& options);
    virtual void sceneDidDisconnect(Scene* scene);
    virtual void sceneWillEnterForeground(Scene* scene);
    virtual void sceneDidBecomeActive(Scene* scene);
    virtual void sceneWillResignActive(Scene* scene);
    virtual void sceneDidEnterBackground(Scene* scene);
    virtual void openURLContexts(Scene* scene, const QList<QUrl>& urls);
    virtual void didUpdateUserActivity(Scene* scene, const UserActivity& activity);

    // The delegate's window, once it has made one (the scene keeps the window alive).
    Window* window() const;
    void setWindow(Window* window);

private:
    QPointer<Window> window_;
};

// Minimum and maximum size of a scene's windows. Offered only on the desktop idiom.
class SizeRestrictions {
public:
    explicit SizeRestrictions(Scene* scene) : scene_(scene) {}
    QSize minimumSize() const { return minimum_; }
    QSize maximumSize() const { return maximum_; }
    void setMinimumSize(QSize size);
    void setMaximumSize(QSize size);
    // Applies the limits to one window (new windows of the scene get them too).
    void applyTo(Window* window) const;

private:
    void apply() const;
    Scene* scene_;
    QSize minimum_{0, 0};
    QSize maximum_{16777215, 16777215};
};

class Scene : public QObject {
    Q_OBJECT
public:
    explicit Scene(SceneSession* session);
    ~Scene() override;

    SceneSession* session() const;
    SceneDelegate* delegate() const { return delegate_.get(); }
    // Takes the delegate; the responder chain goes on from the scene to it.
    void setDelegate(std::unique_ptr<SceneDelegate> delegate);

    SceneActivationState activationState() const { return state_; }

    // The title of the scene's windows.
    QString title() const { return title_; }
    void setTitle(const QString& title);

    // The scene's windows, oldest first.
    QList<Window*> windows() const;
    // The scene's window that is the application's key window, or nullptr.
    Window* keyWindow() const;

    // Nullptr where the device offers no size limits (phone and tablet idioms).
    SizeRestrictions* sizeRestrictions() const { return restrictions_.get(); }

    // The object after the scene in the responder chain instead of its delegate; nullptr goes
    // back to the delegate.
    void setNextResponderOverride(QObject* next);

private:
    friend class Application;
    friend class Window;
    void addWindow(Window* window);
    void removeWindow(Window* window);
    void relinkResponders();

    QPointer<SceneSession> session_;
    std::unique_ptr<SceneDelegate> delegate_;
    QPointer<QObject> nextOverride_;
    SceneActivationState state_ = SceneActivationState::unattached;
    QString title_;
    QList<QPointer<Window>> windows_;
    std::unique_ptr<SizeRestrictions> restrictions_;
};

}  // namespace ui
