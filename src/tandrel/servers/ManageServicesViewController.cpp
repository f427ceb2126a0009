#include "tandrel/servers/ManageServicesViewController.h"

#include <QPushButton>

#include "platform/dispatch/Dispatch.h"

ManageServicesViewController::ManageServicesViewController() : close_btn(new QPushButton(QStringLiteral("Close"))) {}

ManageServicesViewController::~ManageServicesViewController() {
    if (close_btn && !close_btn->parentWidget()) delete close_btn;
}

void ManageServicesViewController::viewDidLoad() {
    VornFileServerViewController::viewDidLoad();
    view()->setAutoFillBackground(true);
}

void ManageServicesViewController::reload_services_on_main() {
    QPointer<ManageServicesViewController> self(this);
    dispatch::mainQueue().async([self] {
        if (self) self->reload_services();
    });
}

void ManageServicesViewController::reload_services() { ++reloads_; }
