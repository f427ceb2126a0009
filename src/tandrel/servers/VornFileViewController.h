#pragma once
// The file explorer: the root screen of a file-viewer window. For now it shows the explorer's
// background in the window's appearance; the listing, path bar and header arrive with the server
// screens.
#include "tandrel/scenes/VornFileServerViewController.h"

class VornFileViewController : public VornFileServerViewController {
    Q_OBJECT
public:
    VornFileViewController();

protected:
    void loadView() override;
    void viewDidLoad() override;
};
