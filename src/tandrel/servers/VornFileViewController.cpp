#include "tandrel/servers/VornFileViewController.h"

#include <QPainter>
#include <QWidget>

#include "tandrel/foundation/XCol.h"

namespace {
// The screen's root view: filled with the palette's background colour of the appearance it is
// drawn in (the window's, which may be fixed to dark or light).
class ExplorerRootView : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), XCol::background().resolvedFor(this));
    }
};
}  // namespace

VornFileViewController::VornFileViewController() = default;

void VornFileViewController::loadView() { setView(new ExplorerRootView); }

void VornFileViewController::viewDidLoad() {
    VornFileServerViewController::viewDidLoad();
    setTitle(QStringLiteral("File Explorer"));
}
