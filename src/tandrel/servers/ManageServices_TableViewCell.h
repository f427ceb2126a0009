#pragma once
// One row of the saved-servers list: the server's icon, nickname and URL, and a gear button that
// opens the server form to edit that server. Odd rows are tinted.
#include <QString>
#include <memory>
#include <optional>

#include "tandrel/foundation/VornServicesDataModel.h"
#include "tandrel/servers/ManageServicesProtocols.h"
#include "tandrel/servers/ServicesTableView.h"

class QPushButton;
class VornLabel;
namespace ui {
class ImageView;
}

class ManageServices_TableViewCell : public servers_ui::TableViewCell {
public:
    static inline const QString cell_identifier = QStringLiteral("ManageServices_TableViewCellIdentifier");

    explicit ManageServices_TableViewCell(QWidget* parent = nullptr);
    ~ManageServices_TableViewCell() override;

    // The list (weak).
    WeakLink<manage_service_cell_delegate_protocol> manage_service_cell_delegate;
    std::shared_ptr<VornSingleServiceDataModel> serviceInfo;
    std::optional<bool> is_odd_row;
    ui::ImageView* server_type_img;
    VornLabel* server_name_lbl;
    VornLabel* server_url_lbl;
    // The gear: a button that carries the row's server (its class is private to this row).
    QPushButton* edit_button;

    // Fills the row from serviceInfo.
    void configure_cell();
    void apply_row_background();
    // The gear's action.
    void edit_service();
    // Opens the form in edit mode for the button's server, over the list.
    void open_edit_form();

    void prepareForReuse() override;
    // The height the two labels ask for (automatic row height).
    QSize sizeHint() const override;
    static int name_line_height();
    static int url_line_height();

private:
    void setup_cell_views();
};
