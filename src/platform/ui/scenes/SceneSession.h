#pragma once
// A scene session: the lasting identity of one window request. The application keeps it while
// its scene is connected and drops it when the session is destroyed.
#include <QObject>
#include <QPointer>
#include <QString>

#include "platform/ui/scenes/SceneConfiguration.h"

namespace ui {

class Scene;

class SceneSession : public QObject {
    Q_OBJECT
public:
    SceneSession(QString persistentIdentifier, SceneSessionRole role, QObject* parent = nullptr);

    const QString& persistentIdentifier() const { return identifier_; }
    SceneSessionRole role() const { return role_; }
    const SceneConfiguration& configuration() const { return configuration_; }
    // The connected scene, or nullptr once it is gone.
    Scene* scene() const;

private:
    friend class Application;
    QString identifier_;
    SceneSessionRole role_;
    SceneConfiguration configuration_;
    QPointer<Scene> scene_;
};

}  // namespace ui
