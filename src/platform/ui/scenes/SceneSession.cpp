#include "platform/ui/scenes/SceneSession.h"

#include "platform/ui/scenes/Scene.h"

namespace ui {

SceneSession::SceneSession(QString persistentIdentifier, SceneSessionRole role, QObject* parent)
    : QObject(parent), identifier_(std::move(persistentIdentifier)), role_(role) {}

Scene* SceneSession::scene() const { return scene_.data(); }

}  // namespace ui
