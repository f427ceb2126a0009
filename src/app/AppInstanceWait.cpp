#include "app/AppInstanceWait.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

#include "tandrel/foundation/AppGlobals.h"

AppInstance::Claim wait_for_running_copy(AppInstance& instance, const std::function<void(qint64)>& shown) {
    const QString name = QString::fromStdString(app_display_name());
    QMessageBox box(QMessageBox::Information, name, name + QStringLiteral(" is already running and is still starting."));
    box.setInformativeText(QStringLiteral("Its window comes forward as soon as it is ready (process %1).")
                               .arg(instance.holderPid()));
    QPushButton* quit = box.addButton(QStringLiteral("Quit"), QMessageBox::RejectRole);
    box.setDefaultButton(quit);
    box.setEscapeButton(quit);

    // Nothing else of the app runs yet: this loop is the only one, and it ends before the app's.
    QEventLoop loop;
    auto claim = AppInstance::Claim::unanswered;
    instance.waitForHolder([&](AppInstance::Claim settled) {
        claim = settled;
        loop.quit();
    });
    QObject::connect(&box, &QMessageBox::finished, &loop, [&] { loop.quit(); });
    const bool quitOnLast = QGuiApplication::quitOnLastWindowClosed();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    box.show();
    if (shown) shown(instance.holderPid());
    loop.exec();
    instance.stopWaiting();
    box.hide();
    QGuiApplication::setQuitOnLastWindowClosed(quitOnLast);
    return claim;
}
