#pragma once
// The saved-servers list: the welcome screen of a file-viewer window (embedded by its file
// explorer, "Close" hidden) and the root screen of a manage-services window. Choosing a row
// connects the window to that server; "+" opens the server form to add one, a row's gear opens
// it to edit that server. All its work runs on the main queue.
#include <QPointer>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tandrel/foundation/VornServicesDataModel.h"
#include "tandrel/foundation/VornFileServerViewController.h"
#include "tandrel/servers/ManageServicesProtocols.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/servers/ServicesTableView.h"

class QPushButton;
namespace servers_ui {
class RefreshControl;
}

class ManageServicesViewController : public VornFileServerViewController,
                                     public servers_ui::TableViewDataSource,
                                     public servers_ui::TableViewDelegate,
                                     public manage_service_cell_delegate_protocol,
                                     public single_vc_to_manage_vc_protocol {
    Q_OBJECT
public:
    ManageServicesViewController();
    ~ManageServicesViewController() override;

    // The views are made with the screen and live in its view once it is loaded; a link is
    // empty while its view is gone (a window that closed took it), and a new view of this screen
    // gets new ones.
    // Inside the table; F5 or the table's "Refresh" starts it (the desktop's pull-to-refresh).
    QPointer<servers_ui::RefreshControl> refreshControl;
    // The file explorer that embeds this list as its welcome screen (weak; it adopts
    // welcome_manage_services_protocol). Unset when the list has its own window.
    QPointer<QObject> welcome_manage_services_protocol_delegate;
    // The rows: the store's list as of the last reload.
    std::vector<std::shared_ptr<VornSingleServiceDataModel>> saved_services;
    // The file-viewer window this list serves.
    std::optional<std::string> file_controller_window_id;
    QPointer<VornLabel> header_lbl;
    QPointer<servers_ui::ServicesTableView> services_tableView;
    QPointer<QPushButton> close_btn;
    QPointer<QPushButton> new_btn;

    // "You currently have no saved services." and so on: the count of saved servers.
    static std::string connectedServicesSummary(size_t count);

    // ---- actions -------------------------------------------------------------------------------
    // The refresh control's action: the window's explorer rebuilds its welcome screen a second
    // later (which ends the refreshing). Without a window link the list reloads itself and the
    // refreshing ends.
    void refresh();
    // Opens the server form to add a server.
    Q_INVOKABLE void new_service_pressed();
    // Asks the window's explorer for the welcome-screen rebuild, then dismisses this screen.
    Q_INVOKABLE void close_controller();

    // ---- table ---------------------------------------------------------------------------------
    int tableView_numberOfRowsInSection(servers_ui::ServicesTableView* table, int section) override;
    servers_ui::TableViewCell* tableView_cellForRowAtIndexPath(servers_ui::ServicesTableView* table, int row) override;
    void tableView_didSelectRowAtIndexPath(servers_ui::ServicesTableView* table, int row) override;
    servers_ui::TableViewCell* configure_service_cell(servers_ui::ServicesTableView* table, int row);
    // Connects the window to the row's server (welcome screen), or connects and closes (own
    // window). A row outside the list does nothing.
    void open_selected_service(int row);

    // ---- reloading -----------------------------------------------------------------------------
    // A server was saved: reload, and close the form this screen presents.
    void service_list_changed() override;
    // Two main-queue hops, then reload_saved_services.
    void reload_services_on_main();
    void reload_saved_services_on_main();
    // Copies the store's list, reloads the table and (one hop later) the header.
    void reload_saved_services();
    // A user without saved servers lands in the add form: when this screen is not hidden and
    // has no servers, it opens the form (one hop later).
    void open_new_service_form_if_empty();
    void update_header_on_main(size_t count);
    // How many reloads ran.
    int reload_count() const { return reloads_; }

    // ---- building (also run by the file explorer when it embeds the list; safe to repeat) ----
    void setup_header_label();
    void setup_new_button();
    void setup_close_button();
    void setup_services_table();

    // ---- rows --------------------------------------------------------------------------------
    std::optional<std::string> cell_file_controller_window_id() const override;
    QPointer<VornFileViewerSceneDelegateProtocol> cell_scene_file_delegatex() const override;
    bool cell_present_form(const std::shared_ptr<SingleServiceViewController>& form) override;
    void cell_link_form(SingleServiceViewController& form) override;

    // The list does not restyle itself when the appearance changes (its colours follow it).
    void user_interface_style_did_change(const ui::TraitCollection& previous,
                                         const ui::TraitCollection& current) override;

protected:
    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

private:
    // Makes the views that are missing (all of them at first) and wires their actions.
    void make_views();
    int reloads_ = 0;
    bool reload_pending_ = false;
};
