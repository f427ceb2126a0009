#include "tandrel/scenes/VornFileServerViewController.h"

#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/VORNPresenterUtility.h"

VornFileServerViewController::VornFileServerViewController() = default;
VornFileServerViewController::~VornFileServerViewController() = default;

void VornFileServerViewController::present_error(const std::optional<VornError>& error) {
    if (!error) return;
    VORNPresenterUtility::present_error(this, error, "OK");
}

void VornFileServerViewController::new_file() {
    AMZLogger::shared().log_verbose("new_file reached " + description().toStdString());
}

void VornFileServerViewController::new_folder() {
    AMZLogger::shared().log_verbose("new_folder reached " + description().toStdString());
}
