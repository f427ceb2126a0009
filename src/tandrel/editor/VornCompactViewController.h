#pragma once
// A document screen holding one editor screen; its view is green. Nothing creates it yet.
#include <memory>

#include "tandrel/foundation/VornDocViewController.h"

class EditorWebViewController;

class VornCompactViewController : public VornDocViewController {
    Q_OBJECT
public:
    VornCompactViewController();
    ~VornCompactViewController() override;

    std::shared_ptr<EditorWebViewController> editor_vc;

protected:
    void viewDidLoad() override;
};
