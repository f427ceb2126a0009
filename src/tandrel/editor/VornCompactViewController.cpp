#include "tandrel/editor/VornCompactViewController.h"

#include <QPalette>
#include <QWidget>

#include "tandrel/editor/EditorWebViewController.h"

VornCompactViewController::VornCompactViewController() = default;
VornCompactViewController::~VornCompactViewController() = default;

void VornCompactViewController::viewDidLoad() {
    VornDocViewController::viewDidLoad();
    QPalette palette = view()->palette();
    palette.setColor(QPalette::Window, Qt::green);
    view()->setPalette(palette);
    view()->setAutoFillBackground(true);
}
