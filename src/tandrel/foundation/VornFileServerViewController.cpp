#include "tandrel/foundation/VornFileServerViewController.h"

#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/VORNPresenterUtility.h"

VornFileServerViewController::VornFileServerViewController() = default;
VornFileServerViewController::~VornFileServerViewController() = default;

void VornFileServerViewController::present_error(const std::optional<VornError>& error) {
    if (!error) return;
    VORNPresenterUtility::present_error(this, error, "OK");
}

// new_file, new_folder and create_remote_item: VornFileServerViewController+NewItems.cpp
