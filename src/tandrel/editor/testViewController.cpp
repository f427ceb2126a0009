#include "tandrel/editor/testViewController.h"

#include <QPalette>
#include <QWidget>

void testViewController::viewDidLoad() {
    QPalette palette = view()->palette();
    palette.setColor(QPalette::Window, Qt::green);
    view()->setPalette(palette);
    view()->setAutoFillBackground(true);
}
