#pragma once
// A plain screen whose view is green. Nothing creates it yet.
#include "platform/ui/ViewController.h"

class testViewController : public ui::ViewController {
    Q_OBJECT
protected:
    void viewDidLoad() override;
};
