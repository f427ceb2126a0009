#pragma once
// A placeholder for a split view's primary column: an orange view, no navigation bar, and no
// secondary-only button on its split view. No column layout places it.
#include "platform/ui/ViewController.h"

class DummyPrimaryViewController : public ui::ViewController {
    Q_OBJECT
protected:
    void viewDidLoad() override;
};
