#pragma once
// The add/edit-one-server form. For now it carries the fields the windows set; the form itself
// arrives with the server screens.
#include <string>

#include "tandrel/scenes/VornFileServerViewController.h"

class SingleServiceViewController : public VornFileServerViewController {
    Q_OBJECT
public:
    SingleServiceViewController();

    // True: the form edits the saved server `service_id`; false: it adds a new one.
    bool is_editing_a_service = false;
    std::string service_id;

protected:
    void viewDidLoad() override;
};
