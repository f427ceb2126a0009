#pragma once
// The type of the weak links through which screens and other windows reach a file-viewer
// window's scene delegate (`scene_file_delegatex`, `file_delegatex`, `file_server_delegatex`).
// Hold it as QPointer<VornFileViewerSceneDelegateProtocol>: the link empties itself when the
// window goes. `FileViewerSceneDelegate` is the one class that adopts it.
#include "platform/ui/scenes/Scene.h"

class VornFileViewerSceneDelegateProtocol : public ui::SceneDelegate {
    Q_OBJECT
public:
    ~VornFileViewerSceneDelegateProtocol() override = default;
};
