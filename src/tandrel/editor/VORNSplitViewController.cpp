#include "tandrel/editor/VORNSplitViewController.h"

#include <QPalette>

#include "tandrel/foundation/XCol.h"

VORNSplitViewController::VORNSplitViewController(Style style) : ui::SplitViewController(style) {}

VORNSplitViewController::~VORNSplitViewController() = default;

void VORNSplitViewController::viewDidLoad() {
    ui::SplitViewController::viewDidLoad();
    apply_background();
}

// The bar background follows the light or dark appearance.
void VORNSplitViewController::traitCollectionDidChange(const std::optional<ui::TraitCollection>& previous) {
    ui::SplitViewController::traitCollectionDidChange(previous);
    apply_background();
}

void VORNSplitViewController::apply_background() {
    QWidget* root = viewIfLoaded();
    if (!root) return;
    QPalette palette = root->palette();
    palette.setColor(QPalette::Window, XCol::bar_background().resolvedFor(root));
    root->setPalette(palette);
    root->setAutoFillBackground(true);
}
