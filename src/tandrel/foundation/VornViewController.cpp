#include "tandrel/foundation/VornViewController.h"

#include "tandrel/foundation/AMZLogger.h"

VornViewController::VornViewController() = default;

VornViewController::~VornViewController() {
    // A screen not made through ui::make still says goodbye (with its base class name).
    if (!deinitLogged_) AMZLogger::shared().log_verbose("deinit " + description().toStdString());
}

void VornViewController::released() {
    deinitLogged_ = true;
    AMZLogger::shared().log_verbose("deinit " + description().toStdString());
    ui::ViewController::released();
}

void VornViewController::user_interface_style_did_change(const ui::TraitCollection&, const ui::TraitCollection&) {}

void VornViewController::traitCollectionDidChange(const std::optional<ui::TraitCollection>& previous) {
    ui::ViewController::traitCollectionDidChange(previous);
    const ui::TraitCollection current = traitCollection();
    if (previous && previous->userInterfaceStyle != current.userInterfaceStyle) {
        user_interface_style_did_change(*previous, current);
    }
}
