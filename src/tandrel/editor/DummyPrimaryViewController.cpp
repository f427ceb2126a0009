#include "tandrel/editor/DummyPrimaryViewController.h"

#include <QPalette>
#include <QWidget>

#include "platform/ui/NavigationController.h"
#include "platform/ui/SplitViewController.h"

void DummyPrimaryViewController::viewDidLoad() {
    if (ui::NavigationController* nav = navigationController()) {
        nav->setNavigationBarHidden(true, false);
        navigationItem()->setLeftBarButtonItems({});
    }
    QPalette palette = view()->palette();
    palette.setColor(QPalette::Window, QColor(255, 149, 0));
    view()->setPalette(palette);
    view()->setAutoFillBackground(true);
    for (ui::ViewController* p = parentViewController(); p; p = p->parentViewController()) {
        if (auto* split = qobject_cast<ui::SplitViewController*>(p)) {
            split->setShowsSecondaryOnlyButton(false);
            break;
        }
    }
}
