#include "tandrel/servers/ManageServices_TableViewCell.h"

#include <QFontMetrics>
#include <QPushButton>
#include <algorithm>

#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/foundation/UIViewTandrel.h"
#include "tandrel/foundation/XCol.h"
#include "tandrel/servers/ServerScreenWidgets.h"
#include "tandrel/servers/SingleServiceViewController.h"

// The gear button of a row: it carries the row's server, so the tap knows which one to edit.
class VornButtonWithServiceModel : public QPushButton {
public:
    explicit VornButtonWithServiceModel(QWidget* parent = nullptr) : QPushButton(parent) {}
    std::shared_ptr<VornSingleServiceDataModel> service_model;
};

using servers_ui::TextStyle;

namespace {
VornButtonWithServiceModel* gear_of(QPushButton* button) { return static_cast<VornButtonWithServiceModel*>(button); }
}  // namespace

ManageServices_TableViewCell::ManageServices_TableViewCell(QWidget* parent)
    : servers_ui::TableViewCell(cell_identifier, parent),
      server_type_img(new ui::ImageView),
      server_name_lbl(new VornLabel),
      server_url_lbl(new VornLabel),
      edit_button(new VornButtonWithServiceModel) {
    setup_cell_views();
}

ManageServices_TableViewCell::~ManageServices_TableViewCell() = default;

void ManageServices_TableViewCell::prepareForReuse() {
    setContentBackgroundColor(std::nullopt);
    setCellBackgroundColor(std::nullopt);
}

void ManageServices_TableViewCell::setup_cell_views() {
    QWidget* content = contentView();

    // Icon: the server rack in teal, 44 by 44, 20 from the left, centred vertically.
    server_type_img->setParent(content);
    server_type_img->setContentMode(ui::ContentMode::scaleAspectFit);
    server_type_img->setImage(ui::Image::systemImage(QStringLiteral("server.rack"))
                                  .withTintColor(XCol::teal().resolved(), ui::RenderingMode::alwaysOriginal));
    util_align_left_anchorWithPixel(server_type_img, 20, true);
    util_width_anchorWithPixel(server_type_img, 44);
    util_height_anchorWithPixel(server_type_img, 44);
    util_align_center_y_anchorWithPixel(server_type_img, 0);

    // Gear: opens the form for this row's server.
    edit_button->setParent(content);
    // The gear is drawn in the accent colour, as a button's untinted symbol is.
    servers_ui::follow_appearance(edit_button, [](QWidget* w) {
        static_cast<QPushButton*>(w)->setIcon(ui::Image::systemImage(QStringLiteral("gear"))
                                                  .withTintColor(servers_ui::accent_color().resolvedFor(w))
                                                  .icon());
    });
    edit_button->setIconSize(QSize(26, 26));
    edit_button->setFlat(true);
    edit_button->setToolTip(QStringLiteral("Edit Service"));
    edit_button->setCursor(Qt::PointingHandCursor);
    QObject::connect(edit_button, &QPushButton::clicked, edit_button, [this] { edit_service(); });
    util_align_right_anchorWithPixel(edit_button, 10, true);
    util_width_anchorWithPixel(edit_button, 36);
    util_height_anchorWithPixel(edit_button, 36);
    util_align_center_y_anchorWithPixel(edit_button, 0);

    // Nickname over URL, between the icon and the gear.
    server_name_lbl->setParent(content);
    server_name_lbl->setFont(servers_ui::text_style_font(TextStyle::title1));
    util_align_top_anchorWithPixel(server_name_lbl, 10, true);
    util_height_anchorWithPixel(server_name_lbl, name_line_height());
    util_align_left_anchor_to_right_of_viewWithView(server_name_lbl, server_type_img, 10);
    util_align_right_anchor_to_left_of_viewWithView(server_name_lbl, edit_button, 10);

    server_url_lbl->setParent(content);
    server_url_lbl->setFont(servers_ui::text_style_font(TextStyle::caption2));
    servers_ui::bind_text_color(server_url_lbl, XCol::teal());
    util_align_top_anchor_to_bottom_of_viewWithView(server_url_lbl, server_name_lbl, 5);
    util_align_bottom_anchorWithPixel(server_url_lbl, 10, true);
    util_align_left_anchor_to_right_of_viewWithView(server_url_lbl, server_type_img, 10);
    util_align_right_anchor_to_left_of_viewWithView(server_url_lbl, edit_button, 10);
}

// The labels' line heights in their own fonts: a nickname shrunk to fit its width keeps the row's
// height.
int ManageServices_TableViewCell::name_line_height() {
    return QFontMetrics(servers_ui::text_style_font(TextStyle::title1)).height();
}

int ManageServices_TableViewCell::url_line_height() {
    return QFontMetrics(servers_ui::text_style_font(TextStyle::caption2)).height();
}

QSize ManageServices_TableViewCell::sizeHint() const {
    return {300, std::max(10 + name_line_height() + 5 + url_line_height() + 10, 44)};
}

void ManageServices_TableViewCell::apply_row_background() {
    setContentBackgroundColor(std::nullopt);
    setCellBackgroundColor(std::nullopt);
    setSelectedBackgroundViewColor(XCol::selected_row());
    if (is_odd_row.value_or(false)) setBackgroundViewColor(XCol::selected_row().withAlphaComponent(0.5));
    else setBackgroundViewColor(std::nullopt);
}

void ManageServices_TableViewCell::configure_cell() {
    apply_row_background();
    if (!serviceInfo) {
        // A row without a server shows nothing (and its gear edits nothing).
        gear_of(edit_button)->service_model.reset();
        server_name_lbl->setText(QString());
        server_url_lbl->setText(QString());
        return;
    }
    gear_of(edit_button)->service_model = serviceInfo;
    server_name_lbl->setText(serviceInfo->nickname.empty() ? QStringLiteral("Servername Not Set")
                                                           : QString::fromStdString(serviceInfo->nickname));
    server_url_lbl->setText(QString::fromStdString(serviceInfo->url));
    updateGeometry();
}

void ManageServices_TableViewCell::edit_service() { open_edit_form(); }

void ManageServices_TableViewCell::open_edit_form() {
    manage_service_cell_delegate_protocol* list = manage_service_cell_delegate.get();
    if (!list || !list->cell_file_controller_window_id()) return;
    const auto& record = gear_of(edit_button)->service_model;
    if (!record) return;
    auto form = ui::make<SingleServiceViewController>();
    form->scene_file_delegatex = list->cell_scene_file_delegatex();
    form->is_editing_a_service = true;
    form->service_id = record->id;
    list->cell_link_form(*form);
    list->cell_present_form(form);
}
