#pragma once
// The saved-servers list: the welcome screen of a file-viewer window and the root screen of a
// manage-services window. For now it carries the fields the windows set; the list itself
// arrives with the server screens.
#include <QPointer>
#include <optional>
#include <string>

#include "tandrel/scenes/VornFileServerViewController.h"

class QPushButton;

class ManageServicesViewController : public VornFileServerViewController {
    Q_OBJECT
public:
    ManageServicesViewController();
    ~ManageServicesViewController() override;

    // The file explorer that embeds this list as its welcome screen (weak).
    QPointer<QObject> welcome_manage_services_protocol_delegate;
    // The file-viewer window this list serves.
    std::optional<std::string> file_controller_window_id;
    QPushButton* close_btn;

    // Schedules on the main queue the re-reading of the saved servers and the list's reload.
    void reload_services_on_main();
    // How many reloads ran (the list's reload counter).
    int reload_count() const { return reloads_; }

protected:
    void viewDidLoad() override;

private:
    void reload_services();
    int reloads_ = 0;
};
