#pragma once
// The scene class of document windows ("Main Configuration"). Other parts recognise document
// windows by this class together with the configuration name. The document window's delegate
// tells which server its file belongs to through DocumentSceneServiceLink.
#include <optional>
#include <string>

#include "platform/ui/scenes/Scene.h"

class DocumentScene : public ui::Scene {
    Q_OBJECT
public:
    explicit DocumentScene(ui::SceneSession* session);
    ~DocumentScene() override;
};

// Adopted by the document window's scene delegate: the `service_session_id` of the window's
// editor state (the saved server whose file-viewer window serves the file), when set.
class DocumentSceneServiceLink {
public:
    virtual ~DocumentSceneServiceLink() = default;
    virtual std::optional<std::string> document_service_session_id() const = 0;
};
