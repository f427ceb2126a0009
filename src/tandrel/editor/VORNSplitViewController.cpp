#include "tandrel/editor/VORNSplitViewController.h"

#include <QPalette>

#include "tandrel/foundation/XCol.h"

VORNSplitViewController::VORNSplitViewController(Style style) : ui::SplitViewController(style) {}

VORNSplitViewController::~VORNSplitViewController() = default;

void VORNSplitViewController::viewDidLoad() {
    ui::SplitViewController::viewDidLoad();
    QWidget* root = view();
    QPalette palette = root->palette();
    palette.setColor(QPalette::Window, XCol::bar_background().resolvedFor(root));
    root->setPalette(palette);
    root->setAutoFillBackground(true);
}
