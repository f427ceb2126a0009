#include "tandrel/servers/SingleServiceViewController.h"

#include <QWidget>

SingleServiceViewController::SingleServiceViewController() = default;

void SingleServiceViewController::viewDidLoad() {
    VornFileServerViewController::viewDidLoad();
    view()->setAutoFillBackground(true);
}
