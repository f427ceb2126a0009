#pragma once
// The base of a document window's screens: a weak link to the window's hub (its document
// interface manager) on top of the server screens' base. In the foundation, so that the editor
// library derives its screens from it without the servers or the scene layer.
#include <QPointer>

#include "tandrel/foundation/SceneDelegateProtocol.h"
#include "tandrel/foundation/VornFileServerViewController.h"

class VornDocViewController : public VornFileServerViewController {
    Q_OBJECT
public:
    VornDocViewController();
    ~VornDocViewController() override;

    // The document window's hub; set by whoever builds the screen. Empty once it is gone.
    QPointer<SceneDelegateProtocol> scene_delegatex;
};
