#include "tandrel/servers/SingleServiceViewController.h"

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QShortcut>
#include <QUrl>
#include <algorithm>
#include <cctype>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/FileProvider.h"
#include "platform/ui/Layout.h"
#include "platform/ui/View.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/foundation/UIViewTandrel.h"
#include "tandrel/foundation/VORNPresenterUtility.h"
#include "tandrel/foundation/VornServerAddress.h"
#include "tandrel/foundation/VornServicesManager.h"
#include "tandrel/foundation/XCol.h"
#include "tandrel/servers/ServerScreenWidgets.h"
#include "tandrel/servers/ServerScreensWindowLink.h"
#include "tandrel/servers/VornConnectorUtilityClass.h"

using servers_ui::TextStyle;
using ConnectionType = EnumManager::VornConnectionType;
using Err = EnumManager::vorn_error_throws;

namespace {

constexpr int kCaptionHeight = 34;
constexpr int kFieldHeight = 44;
constexpr int kRowHeight = kCaptionHeight + kFieldHeight;
constexpr int kRowGap = 10;
// The "Require encryption" box, in the 50 between the port row and the buttons.
constexpr int kEncryptionBoxHeight = 22;

// The form's root view: the palette's background of the appearance it is drawn in.
class FormRootView : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), XCol::background().resolvedFor(this));
    }
};

// Scrolls the whole form: its content is as wide as the view and as tall as the form needs.
class FormScrollArea : public QScrollArea {
public:
    std::function<int()> contentHeight;

    void fitContent() {
        QWidget* content = widget();
        if (!content) return;
        const int height = contentHeight ? contentHeight() : content->height();
        const QSize size(viewport()->width(), height);
        if (content->size() != size) content->resize(size);
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QScrollArea::resizeEvent(event);
        fitContent();
    }
};

// A text field with the form's rounded border (the foreground colour at alpha 0.3) and a
// 10-point inner margin on the left.
class FormTextField : public QLineEdit {
public:
    FormTextField() {
        setFrame(false);
        setTextMargins(10, 0, 4, 0);
        // Clear inside the border, as the screen's other views.
        QPalette p = palette();
        p.setColor(QPalette::Base, Qt::transparent);
        setPalette(p);
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QLineEdit::paintEvent(event);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPen pen(XCol::foreground().withAlphaComponent(hasFocus() ? 0.6 : 0.3).resolvedFor(this));
        pen.setWidthF(1);
        painter.setPen(pen);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }
};

const ui::DynamicColor& system_red() {
    static const ui::DynamicColor c(ui::DynamicColor::Provider([](const ui::TraitCollection& t) {
        return t.userInterfaceStyle == ui::InterfaceStyle::dark ? QColor(0xff, 0x45, 0x3a) : QColor(0xff, 0x3b, 0x30);
    }));
    return c;
}

QString q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

// ---- values --------------------------------------------------------------------------------

const std::vector<SingleServiceViewController::ui_elements>& SingleServiceViewController::ui_elements_all_cases() {
    static const std::vector<ui_elements> all = {ui_elements::nickname, ui_elements::server_url,
                                                 ui_elements::username, ui_elements::password,
                                                 ui_elements::port,     ui_elements::web_root,
                                                 ui_elements::site_url};
    return all;
}

std::string SingleServiceViewController::caption_for(ui_elements element) {
    switch (element) {
        case ui_elements::nickname: return "Service Nickname";
        case ui_elements::server_url: return url_caption_for(0);
        case ui_elements::username: return "Username";
        case ui_elements::password: return "Password";
        case ui_elements::port: return "Port";
        case ui_elements::web_root: return "Web root";
        case ui_elements::site_url: return "Site URL";
    }
    return {};
}

const std::vector<SingleServiceViewController::ConnectionChoice>& SingleServiceViewController::connection_choices() {
    static const std::vector<ConnectionChoice> choices = {
        {"FTP", "ftp://ftp.example.com"},
        {"WebDav", "http://www.example.com/webdav/"},
        {"SFTP", "sftp://sftp.example.com"},
    };
    return choices;
}

std::string SingleServiceViewController::url_caption_for(int type_segment) {
    return "Service URL - Including " +
           server_address::scheme_list(ServerFormModel::connection_type_for_segment(type_segment));
}

std::string SingleServiceViewController::placeholder_for(ui_elements element) {
    switch (element) {
        case ui_elements::nickname: return "Eg: My Website";
        case ui_elements::server_url: return connection_choices().front().url_placeholder;
        case ui_elements::port: return "21";
        case ui_elements::web_root: return "Eg: /public_html (blank: the login folder)";
        case ui_elements::site_url: return "Eg: https://example.com/";
        default: return {};
    }
}

// ---- life cycle ------------------------------------------------------------------------------

SingleServiceViewController::SingleServiceViewController()
    : authenticating_lbl(new QLabel),
      spinner(new servers_ui::ActivityIndicatorView),
      scrollview(new FormScrollArea),
      contentViexw(new QWidget),
      close_controller_btn(new QPushButton),
      controller_title_lbl(new QLabel),
      add_service_type(new servers_ui::SegmentedControl({})),
      apply_btn(new QPushButton),
      cancel_btn(new QPushButton),
      delete_btn(new QPushButton) {}

SingleServiceViewController::~SingleServiceViewController() {
    // Views that never went into the form's view are the form's own (a link empties itself when
    // an earlier deletion took its view along).
    const QList<QPointer<QWidget>> own = {authenticating_lbl.data(), spinner.data(),        scrollview.data(),
                                          contentViexw.data(),       close_controller_btn.data(),
                                          controller_title_lbl.data(), add_service_type.data(), apply_btn.data(),
                                          cancel_btn.data(),         delete_btn.data()};
    for (const QPointer<QWidget>& w : own)
        if (w && !w->parentWidget()) delete w.data();
}

std::shared_ptr<SingleServiceViewController> SingleServiceViewController::strong_self() {
    return std::static_pointer_cast<SingleServiceViewController>(sharedFromThis());
}

void SingleServiceViewController::loadView() { setView(new FormRootView); }

void SingleServiceViewController::viewDidLoad() {
    VornFileServerViewController::viewDidLoad();
    buildServiceForm();
}

void SingleServiceViewController::buildServiceForm() {
    setTitle(QStringLiteral("Add New Service"));
    setup_scroll_view();
    setup_title_label();
    setup_type_segments();
    setup_form_rows();
    setup_encryption_box();
    setup_edit_note();
    setup_buttons();
    set_form_defaults();
    setup_spinner();
    setup_key_commands();
    fillServiceForm();
    setup_tab_order();
    fit_content();
    // Shown over another screen, the sheet is tall enough for the whole form.
    setPreferredContentSize(QSize(360, form_content_height()));
}

void SingleServiceViewController::setup_scroll_view() {
    auto* area = static_cast<FormScrollArea*>(scrollview.data());
    area->setFrameShape(QFrame::NoFrame);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setWidget(contentViexw);
    area->setWidgetResizable(false);
    // Clear all the way down: the root view's background shows (setWidget turns filling on).
    area->viewport()->setAutoFillBackground(false);
    contentViexw->setAutoFillBackground(false);
    area->contentHeight = [this] { return form_content_height(); };
    scrollview->setParent(view());
    util_align_top_anchorWithPixel(scrollview, 0, false);
    util_align_bottom_anchorWithPixel(scrollview, 0, false);
    util_align_left_anchorWithPixel(scrollview, 0, false);
    util_align_right_anchorWithPixel(scrollview, 0, false);
}

int SingleServiceViewController::form_content_height() const {
    const int title = controller_title_lbl->sizeHint().height();
    const int segments = add_service_type->sizeHint().height();
    const int rows = static_cast<int>(ui_elements_all_cases().size());
    const int buttons = std::max(apply_btn->minimumHeight(), apply_btn->sizeHint().height());
    // The encryption box takes a 50 between the port and the site's rows, as between the last row
    // and the buttons.
    // Edit mode's note stands between the last row and the buttons (10 above it, 20 below).
    const int above_buttons = edit_note_lbl ? 10 + edit_note_height() + 20 : 50;
    return 10 + title + 20 + segments + 20 + rows * kRowHeight + (rows - 2) * kRowGap + 50 + above_buttons + buttons +
           20 + keyboard_inset_;
}

int SingleServiceViewController::edit_note_height() const {
    if (!edit_note_lbl) return 0;
    // The note's width: the scroll view's, less the rows' margins (the sheet's width before the
    // view has one).
    const int view_width = scrollview ? scrollview->viewport()->width() : 0;
    return edit_note_lbl->heightForWidth(view_width > 100 ? view_width - 40 : 320);
}

void SingleServiceViewController::setup_title_label() {
    controller_title_lbl->setText(QStringLiteral("Add New Service"));
    controller_title_lbl->setFont(servers_ui::text_style_font(TextStyle::body));
    controller_title_lbl->setAlignment(Qt::AlignCenter);
    servers_ui::bind_text_color(controller_title_lbl, XCol::teal());
    controller_title_lbl->setParent(contentViexw);
    util_align_top_anchorWithPixel(controller_title_lbl, 10, true);
    util_align_left_anchorWithPixel(controller_title_lbl, 0, true);
    util_align_right_anchorWithPixel(controller_title_lbl, 0, true);
}

void SingleServiceViewController::setup_type_segments() {
    // The control made with the form is replaced by the one with the three protocols.
    delete add_service_type.data();
    QStringList titles;
    for (const ConnectionChoice& choice : connection_choices()) titles << QString::fromUtf8(choice.title);
    add_service_type = new servers_ui::SegmentedControl(titles);
    connect(add_service_type, &servers_ui::SegmentedControl::valueChanged, this, [this] { selected_segment(); });
    add_service_type->setParent(contentViexw);
    util_align_top_anchor_to_bottom_of_viewWithView(add_service_type, controller_title_lbl, 20);
    util_align_center_x_anchorWithPixel(add_service_type, 0);
}

void SingleServiceViewController::setup_form_rows() {
    for (ui_elements element : ui_elements_all_cases()) add_form_row(element);
}

QWidget* SingleServiceViewController::make_form_row(ui_elements element) {
    auto* row = new QWidget;

    // The caption shrinks its text to fit rather than cut off the URL schemes it names.
    auto* caption = new VornLabel(q(caption_for(element)), row);
    caption->setFont(servers_ui::text_style_font(TextStyle::subheadline));
    servers_ui::bind_text_color(caption, XCol::teal());
    util_align_top_anchorWithPixel(caption, 0, false);
    util_align_left_anchorWithPixel(caption, 0, false);
    util_align_right_anchorWithPixel(caption, 0, false);
    util_height_anchorWithPixel(caption, kCaptionHeight);
    element_ui_lbl_dict[element] = caption;

    auto* field = new FormTextField;
    field->setParent(row);
    field->setPlaceholderText(q(placeholder_for(element)));
    field->setFont(servers_ui::text_style_font(TextStyle::caption1));
    Qt::InputMethodHints hints = Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText;
    switch (element) {
        case ui_elements::server_url:
        case ui_elements::site_url: hints |= Qt::ImhUrlCharactersOnly; break;
        case ui_elements::password:
            field->setEchoMode(QLineEdit::Password);
            hints |= Qt::ImhHiddenText | Qt::ImhSensitiveData;
            break;
        case ui_elements::port: hints |= Qt::ImhDigitsOnly; break;
        default: break;
    }
    field->setInputMethodHints(hints);
    field->setObjectName(QStringLiteral("service_field_%1").arg(static_cast<int>(element)));
    // Read by its caption; the example in the field only describes it.
    field->setAccessibleName(q(caption_for(element)));
    field->setAccessibleDescription(field->placeholderText());
    caption->setBuddy(field);
    util_align_bottom_anchorWithPixel(field, 0, false);
    util_align_left_anchorWithPixel(field, 0, false);
    util_align_right_anchorWithPixel(field, 0, false);
    util_height_anchorWithPixel(field, kFieldHeight);
    util_align_top_anchor_to_bottom_of_viewWithView(field, caption, 0);
    element_ui_tf_dict[element] = field;
    return row;
}

void SingleServiceViewController::add_form_row(ui_elements element) {
    QWidget* row = make_form_row(element);
    row->setParent(contentViexw);
    util_align_left_anchorWithPixel(row, 20, true);
    util_align_right_anchorWithPixel(row, 20, true);
    util_height_anchorWithPixel(row, kRowHeight);
    const auto& order = ui_elements_all_cases();
    const auto at = std::find(order.begin(), order.end(), element);
    QWidget* previous = nullptr;
    if (at != order.begin()) {
        auto found = element_ui_dict.find(*(at - 1));
        if (found != element_ui_dict.end()) previous = found->second;
    }
    // The site's rows start under the "Require encryption" box, which sits under the port.
    if (previous) util_align_top_anchor_to_bottom_of_viewWithView(row, previous, element == ui_elements::web_root ? 50 : kRowGap);
    else util_align_top_anchor_to_bottom_of_viewWithView(row, add_service_type, 20);
    element_ui_dict[element] = row;
}

void SingleServiceViewController::setup_encryption_box() {
    auto port_row = element_ui_dict.find(ui_elements::port);
    if (port_row == element_ui_dict.end()) return;
    require_encryption_box = new QCheckBox(QString::fromLatin1(ServerFormModel::kRequireEncryptionTitle));
    require_encryption_box->setObjectName(QStringLiteral("require_encryption"));
    require_encryption_box->setFont(servers_ui::text_style_font(TextStyle::subheadline));
    require_encryption_box->setAccessibleDescription(
        QStringLiteral("Never log in to this server without an encrypted connection (FTP over TLS)"));
    require_encryption_box->setParent(contentViexw);
    // In the space between the port and the buttons, at its foot.
    util_align_left_anchorWithPixel(require_encryption_box, 20, true);
    util_height_anchorWithPixel(require_encryption_box, kEncryptionBoxHeight);
    util_align_top_anchor_to_bottom_of_viewWithView(require_encryption_box, port_row->second,
                                                    50 - kEncryptionBoxHeight - 4);
}

void SingleServiceViewController::setup_edit_note() {
    if (!is_editing_a_service) return;
    auto last_row = element_ui_dict.find(ui_elements_all_cases().back());
    if (last_row == element_ui_dict.end()) return;
    edit_note_lbl = new QLabel(QString::fromLatin1(kEditNote));
    edit_note_lbl->setObjectName(QStringLiteral("edit_note"));
    edit_note_lbl->setWordWrap(true);
    edit_note_lbl->setFont(servers_ui::text_style_font(TextStyle::caption1));
    servers_ui::bind_text_color(edit_note_lbl, XCol::foreground());
    edit_note_lbl->setParent(contentViexw);
    util_align_left_anchorWithPixel(edit_note_lbl, 20, true);
    util_align_right_anchorWithPixel(edit_note_lbl, 20, true);
    util_align_top_anchor_to_bottom_of_viewWithView(edit_note_lbl, last_row->second, 10);
}

void SingleServiceViewController::setup_buttons() {
    auto last_row = element_ui_dict.find(ui_elements_all_cases().back());
    QWidget* above = last_row != element_ui_dict.end() ? last_row->second : view();
    // 50 below the last row, or 20 below edit mode's note under it.
    const int gap = edit_note_lbl ? 20 : 50;
    if (edit_note_lbl) above = edit_note_lbl;

    apply_btn->setText(QStringLiteral("Apply"));
    servers_ui::apply_button_configuration(apply_btn, servers_ui::ButtonConfiguration::filled());
    apply_btn->setDefault(true);
    apply_action_ = connect(apply_btn, &QPushButton::clicked, this, [this] { apply_button_pressed(); });
    apply_btn->setParent(contentViexw);
    util_align_bottom_anchorWithPixel(apply_btn, 20, true);
    util_align_right_anchorWithPixel(apply_btn, 20, true);
    util_align_top_anchor_to_bottom_of_viewWithView(apply_btn, above, gap);

    cancel_btn->setText(QStringLiteral("Cancel"));
    servers_ui::apply_button_configuration(cancel_btn, servers_ui::ButtonConfiguration::gray());
    connect(cancel_btn, &QPushButton::clicked, this, [this] { close_controller(); });
    cancel_btn->setParent(contentViexw);
    util_align_bottom_anchorWithPixel(cancel_btn, 20, true);
    util_align_right_anchor_to_left_of_viewWithView(cancel_btn, apply_btn, 10);
    util_align_top_anchor_to_bottom_of_viewWithView(cancel_btn, above, gap);

    if (!is_editing_a_service) return;
    delete_btn->setText(QStringLiteral("Delete"));
    auto red = servers_ui::ButtonConfiguration::filled();
    red.baseBackgroundColor = system_red();
    red.baseForegroundColor = ui::DynamicColor(QColor(Qt::white));
    servers_ui::apply_button_configuration(delete_btn, red);
    connect(delete_btn, &QPushButton::clicked, this, [this] { delete_btn_pressed(); });
    delete_btn->setParent(contentViexw);
    util_align_bottom_anchorWithPixel(delete_btn, 20, true);
    util_align_left_anchorWithPixel(delete_btn, 10, true);
    util_align_top_anchor_to_bottom_of_viewWithView(delete_btn, above, gap);
}

void SingleServiceViewController::set_form_defaults() {
    add_service_type_selection = ConnectionType::ftp;
    add_service_type->setSelectedSegmentIndex(0);
    if (QLineEdit* port = element_ui_tf_dict[ui_elements::port]) port->setText(QStringLiteral("21"));
}

void SingleServiceViewController::setup_spinner() {
    spinner->setHidesWhenStopped(true);
    spinner->setColor(XCol::foreground());
    spinner->setParent(contentViexw);
    util_align_center_x_anchorWithPixel(spinner, 0);
    util_align_center_y_anchorWithPixel(spinner, 0);

    authenticating_lbl->setText(QStringLiteral("Authenticating Login..."));
    authenticating_lbl->setFont(servers_ui::text_style_font(TextStyle::subheadline));
    authenticating_lbl->setAlignment(Qt::AlignCenter);
    authenticating_lbl->setParent(contentViexw);
    authenticating_lbl->hide();
    ui::setAlpha(authenticating_lbl, 0);
    util_align_top_anchor_to_bottom_of_viewWithView(authenticating_lbl, spinner, 10);
    util_align_center_x_anchorWithPixel(authenticating_lbl, 0);
}

void SingleServiceViewController::setup_key_commands() {
    for (int key : {int(Qt::Key_Return), int(Qt::Key_Enter)}) {
        auto* apply = new QShortcut(QKeySequence(key), view());
        apply->setContext(Qt::WidgetWithChildrenShortcut);
        connect(apply, &QShortcut::activated, this, [this] { return_pressed(); });
    }
    auto* cancel = new QShortcut(QKeySequence(Qt::Key_Escape), view());
    cancel->setContext(Qt::WidgetWithChildrenShortcut);
    connect(cancel, &QShortcut::activated, this, [this] {
        if (cancel_btn && cancel_btn->isEnabled()) cancel_btn->click();
    });
}

void SingleServiceViewController::return_pressed() {
    QWidget* focused = view()->focusWidget();
    auto* button = qobject_cast<QPushButton*>(focused);
    if (!button || !view()->isAncestorOf(button)) button = apply_btn;
    if (button && button->isEnabled() && button->isVisible()) button->click();
}

void SingleServiceViewController::setup_tab_order() {
    // Only the controls take the focus: not the scroll view around them.
    scrollview->setFocusPolicy(Qt::NoFocus);
    // As the form reads, top to bottom: the connection type above the fields, then the buttons.
    QList<QWidget*> order;
    add_service_type->setFocusPolicy(Qt::StrongFocus);
    order.push_back(add_service_type);
    for (ui_elements element : ui_elements_all_cases()) {
        if (QLineEdit* field = element_ui_tf_dict[element]) order.push_back(field);
        // The box under the port comes before the site's rows below it.
        if (element == ui_elements::port && require_encryption_box) order.push_back(require_encryption_box);
    }
    if (is_editing_a_service) order.push_back(delete_btn);
    order.push_back(cancel_btn);
    order.push_back(apply_btn);
    for (qsizetype i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

void SingleServiceViewController::viewWillAppear(bool animated) {
    VornFileServerViewController::viewWillAppear(animated);
    if (focused_once_) return;
    focused_once_ = true;
    if (QLineEdit* first = element_ui_tf_dict[ui_elements::nickname]) first->setFocus(Qt::OtherFocusReason);
}

void SingleServiceViewController::user_interface_style_did_change(const ui::TraitCollection&,
                                                                  const ui::TraitCollection&) {
    for (auto& [element, caption] : element_ui_lbl_dict)
        if (caption) caption->setFont(servers_ui::text_style_font(TextStyle::subheadline));
    for (auto& [element, field] : element_ui_tf_dict)
        if (field) field->setFont(servers_ui::text_style_font(TextStyle::caption1));
}

// ---- edit mode -------------------------------------------------------------------------------

void SingleServiceViewController::fillServiceForm() {
    if (!is_editing_a_service || service_id.empty()) return;
    auto record = ServerFormModel::saved_service_with_id(service_id);
    if (!record) return;  // the form keeps its add appearance
    editing_service_model = record;

    element_ui_tf_dict[ui_elements::nickname]->setText(q(record->nickname));
    element_ui_tf_dict[ui_elements::server_url]->setText(q(record->url));
    element_ui_tf_dict[ui_elements::username]->setText(q(record->username));
    // Never filled: left blank, the saved password stays (its hint says so once the keyring told).
    element_ui_tf_dict[ui_elements::password]->setText(QString());
    look_up_saved_password();

    for (int index = 0; index < static_cast<int>(connection_choices().size()); ++index) {
        if (ServerFormModel::connection_type_for_segment(index) != record->connection_type) continue;
        add_service_type->setSelectedSegmentIndex(index);
        add_service_type_selection = record->connection_type;
        show_choice_placeholder(index);
    }
    // The stored port (a record without one keeps the default).
    if (record->port) element_ui_tf_dict[ui_elements::port]->setText(QString::number(*record->port));
    element_ui_tf_dict[ui_elements::web_root]->setText(q(record->web_root.value_or(std::string())));
    element_ui_tf_dict[ui_elements::site_url]->setText(q(record->site_url.value_or(std::string())));
    if (require_encryption_box) {
        require_encryption_box->setChecked(record->require_encryption);
        require_encryption_box->setEnabled(ServerFormModel::require_encryption_applies(add_service_type->selectedSegmentIndex()));
    }

    controller_title_lbl->setText(QStringLiteral("Update Service"));
    setTitle(QStringLiteral("Update Service"));
    apply_btn->setText(QStringLiteral("Update"));
    servers_ui::apply_button_configuration(apply_btn, servers_ui::ButtonConfiguration::filled());
    disconnect(apply_action_);
    apply_action_ = connect(apply_btn, &QPushButton::clicked, this, [this] { update_button_pressed(); });
}

// ---- fields --------------------------------------------------------------------------------

void SingleServiceViewController::selected_segment() { segment_changed(); }

void SingleServiceViewController::segment_changed() {
    const int index = add_service_type->selectedSegmentIndex();
    if (index < 0 || index >= static_cast<int>(connection_choices().size())) return;
    add_service_type_selection = ServerFormModel::connection_type_for_segment(index);
    if (require_encryption_box) require_encryption_box->setEnabled(ServerFormModel::require_encryption_applies(index));
    if (QLineEdit* port = element_ui_tf_dict[ui_elements::port])
        port->setText(QString::number(ServerFormModel::form_default_port(index)));
    show_choice_placeholder(index);
}

void SingleServiceViewController::show_choice_placeholder(int index) {
    QLineEdit* url = element_ui_tf_dict[ui_elements::server_url];
    if (!url || index < 0 || index >= static_cast<int>(connection_choices().size())) return;
    url->setPlaceholderText(QString::fromUtf8(connection_choices()[static_cast<size_t>(index)].url_placeholder));
    url->setAccessibleDescription(url->placeholderText());
    // The caption names the schemes of the chosen protocol, and reads the field.
    const QString caption = q(url_caption_for(index));
    if (QLabel* label = element_ui_lbl_dict[ui_elements::server_url]) label->setText(caption);
    url->setAccessibleName(caption);
    // The port field's example and description: the chosen protocol's default port.
    if (QLineEdit* port = element_ui_tf_dict[ui_elements::port]) {
        port->setPlaceholderText(QString::number(ServerFormModel::form_default_port(index)));
        port->setAccessibleDescription(port->placeholderText());
    }
    show_password_hint(index);
}

void SingleServiceViewController::show_password_hint(int type_segment) {
    QLineEdit* password = element_ui_tf_dict[ui_elements::password];
    if (!password) return;
    const char* hint = password_saved_                                    ? ServerFormModel::kSavedPasswordHint
                       : ServerFormModel::password_optional(type_segment) ? ServerFormModel::kOptionalPasswordHint
                                                                          : "";
    password->setPlaceholderText(QString::fromUtf8(hint));
    password->setAccessibleDescription(password->placeholderText());
}

void SingleServiceViewController::look_up_saved_password() {
    if (!editing_service_model) return;
    QPointer<SingleServiceViewController> weak(this);
    // Only whether there is one: the secret is not kept, nor shown.
    ServerFormModel::saved_password(editing_service_model->url, editing_service_model->username,
                                    [weak](Expected<std::optional<std::string>> saved) {
                                        if (!weak) return;
                                        weak->password_saved_ = saved && saved->has_value();
                                        weak->show_password_hint(weak->add_service_type->selectedSegmentIndex());
                                    });
}

void SingleServiceViewController::fit_content() {
    if (scrollview) static_cast<FormScrollArea*>(scrollview.data())->fitContent();
}

void SingleServiceViewController::keyboardWillShow(const std::optional<QRect>& keyboard_begin_frame) {
    adjust_for_keyboard(keyboard_begin_frame);
}

void SingleServiceViewController::keyboardWillHide() {
    keyboard_inset_ = 0;
    fit_content();
}

void SingleServiceViewController::adjust_for_keyboard(const std::optional<QRect>& keyboard_begin_frame) {
    if (!keyboard_begin_frame) return;
    keyboard_inset_ = keyboard_begin_frame->height() + 90;
    fit_content();
}

ServerFormModel::Fields SingleServiceViewController::form_fields() const {
    auto text = [this](ui_elements e) -> std::string {
        auto it = element_ui_tf_dict.find(e);
        return it != element_ui_tf_dict.end() && it->second ? it->second->text().toStdString() : std::string();
    };
    ServerFormModel::Fields fields;
    fields.nickname = text(ui_elements::nickname);
    fields.server_url = text(ui_elements::server_url);
    fields.username = text(ui_elements::username);
    fields.password = text(ui_elements::password);
    fields.port = text(ui_elements::port);
    fields.type_segment = add_service_type ? add_service_type->selectedSegmentIndex() : 0;
    fields.require_encryption = require_encryption_box && require_encryption_box->isChecked();
    fields.web_root = text(ui_elements::web_root);
    fields.site_url = text(ui_elements::site_url);
    return fields;
}

bool SingleServiceViewController::accept_form(ServerFormModel::Fields fields, bool needs_window_link,
                                              const std::optional<std::string>& kept_password) {
    const bool kept = fields.password.empty() && kept_password;
    if (kept) fields.password = *kept_password;
    const auto checked = ServerFormModel::check(fields);
    if (checked.problem == ServerFormModel::Problem::invalid_port) {
        show_invalid_port();
        return false;
    }
    if (checked.problem == ServerFormModel::Problem::invalid_address && checked.address_error) {
        // The message says what is wrong with the address, before any server is asked.
        present_error(*checked.address_error);
        end_authenticating_on_main();
        return false;
    }
    if (!checked.info) {
        show_missing_information(checked.missing_field);
        return false;
    }
    if (needs_window_link && !scene_file_delegatex) {
        show_missing_information();
        return false;
    }
    currentFormData = *checked.info;
    // The saved password stays as it is, unless the server moved to another login (then it is
    // stored under the new one, and the old one goes with the record's update).
    currentFormData.password_kept = kept && editing_service_model &&
                                    editing_service_model->url == currentFormData.server_url &&
                                    editing_service_model->username == currentFormData.username;
    return true;
}

void SingleServiceViewController::show_invalid_port() {
    QPointer<ui::ViewController> presenter(this);
    VORNPresenterUtility::present_on_main(presenter, [presenter](bool ready) {
        VORNPresenterUtility::present_action_alert(ready, kInvalidPortTitle, kInvalidPortMessage, "Try again...", nullptr,
                                                   presenter);
    });
    end_authenticating_on_main();
}

void SingleServiceViewController::show_missing_information(const std::string& missing_field) {
    QPointer<ui::ViewController> presenter(this);
    const std::string message = ServerFormModel::missing_information_message(missing_field);
    VORNPresenterUtility::present_on_main(presenter, [presenter, message](bool ready) {
        VORNPresenterUtility::present_action_alert(ready, ServerFormModel::kMissingInformationTitle, message,
                                                   "Try again...", nullptr, presenter);
    });
    end_authenticating_on_main();
}

// ---- adding and updating ---------------------------------------------------------------------

void SingleServiceViewController::apply_button_pressed() { validate_new_service(); }
void SingleServiceViewController::update_button_pressed() { validate_update(); }

void SingleServiceViewController::validate_new_service() {
    if (busy_) return;
    if (!accept_form(form_fields(), true)) return;
    start_login_check(false);
}

void SingleServiceViewController::validate_update() {
    if (busy_) return;
    busy_ = true;
    begin_authenticating_on_main();
    auto record = service_id.empty() ? nullptr : ServerFormModel::saved_service_with_id(service_id);
    if (!record) {
        end_authenticating_on_main();
        return;
    }
    ServerFormModel::Fields fields = form_fields();
    if (!fields.password.empty()) {
        if (accept_form(std::move(fields), false)) start_login_check(true);
        return;
    }
    // A blank password keeps the one the keyring holds for the server: the login is checked
    // with it (none saved: the field is missing, but for SFTP).
    auto self = strong_self();
    ServerFormModel::saved_password(record->url, record->username,
                                    [self, fields](Expected<std::optional<std::string>> saved) {
                                        if (self->closed_) {
                                            self->busy_ = false;
                                            return;
                                        }
                                        if (!saved) {
                                            self->present_error(saved.error());
                                            self->end_authenticating_on_main();
                                            return;
                                        }
                                        if (self->accept_form(fields, false, *saved)) self->start_login_check(true);
                                    });
}

void SingleServiceViewController::start_login_check(bool edit_mode) {
    auto self = strong_self();
    if (!self) return;
    if (!busy_) {
        busy_ = true;
        begin_authenticating_on_main();
    }
    const ConnectionType type = ServerFormModel::connection_type_for_segment(add_service_type->selectedSegmentIndex());
    check_login(
        currentFormData.server_url, currentFormData.username, currentFormData.password, type,
        [self, edit_mode](std::optional<VornError> error) { self->after_login_check(error, edit_mode); },
        currentFormData.require_encryption);
}

void SingleServiceViewController::check_login(const std::string& url, const std::string& username,
                                              const std::string& password, ConnectionType type,
                                              std::function<void(std::optional<VornError>)> completion,
                                              bool require_encryption) {
    // A connector for the typed URL and credential logs in and reads the root folder; its answer
    // comes once, on the main queue (a type or URL without a connector is an error too).
    VornConnectorBuilder::make_bucket_for_form(url, files::Credential{username, password}, type, std::move(completion),
                                               require_encryption);
}

void SingleServiceViewController::after_login_check(std::optional<VornError> error, bool edit_mode) {
    if (closed_) {
        // The form was closed while the server answered: nothing is stored.
        busy_ = false;
        return;
    }
    if (error) {
        present_error(error);
        end_authenticating_on_main();
        return;
    }
    auto self = strong_self();
    auto failure = [self, edit_mode](const VornError& e) { self->handleKeychainDuplicate(e, edit_mode); };
    ServerFormModel::store_password(currentFormData, edit_mode, form_steps(), failure);
}

VornKeyChainFormSteps SingleServiceViewController::form_steps() {
    auto self = strong_self();
    VornKeyChainFormSteps steps;
    steps.end_authenticating_on_main = [self] { self->end_authenticating_on_main(); };
    steps.update_editing_service = [self] { self->update_editing_service(); };
    steps.add_new_service = [self] { self->add_new_service(); };
    // After the add form's duplicate prompt replaced the password.
    steps.save_updated_service = [self](std::function<void()> completion) {
        self->save_updated_service(std::move(completion));
    };
    steps.present_error = [self](const VornError& e) { self->present_error(e); };
    steps.service_list_changed = [self] { self->notify_list(); };
    return steps;
}

void SingleServiceViewController::notify_list() {
    if (auto* list = single_vc_to_manage_vc_delegate.get()) list->service_list_changed();
}

void SingleServiceViewController::handleKeychainDuplicate(const VornError& error, bool edit_mode) {
    if (edit_mode || !error.is("KeychainError", EnumManager::KeychainError::duplicateItem)) {
        present_error(error);
        end_authenticating_on_main();
        return;
    }
    QPointer<SingleServiceViewController> weak(this);
    VORNPresenterUtility::present_on_main(weak.data(), [weak](bool ready) {
        if (!weak) return;
        if (!ready) {
            // No prompt, no answer: the wait ends and nothing is stored.
            weak->end_authenticating_on_main();
            return;
        }
        VORNPresenterUtility::present_actions_alert(
            true, ServerFormModel::kDuplicateTitle, ServerFormModel::kDuplicateMessage,
            {{"Update", ui::AlertActionStyle::default_, true}, {"Cancel", ui::AlertActionStyle::destructive, false}},
            [weak](bool update) {
                if (!weak) return;
                if (!update) {
                    weak->end_authenticating_on_main();
                    return;
                }
                weak->update_duplicate_keychain_item();
            },
            weak.data());
    });
}

void SingleServiceViewController::update_duplicate_keychain_item() {
    ServerFormModel::replace_password(currentFormData, form_steps());
}

void SingleServiceViewController::save_updated_service(std::function<void()> completion) {
    if (completion) completion();
    if (!scene_file_delegatex) {
        present_error(VornError(Err(Err::no_doc_int_manager)));
        end_authenticating_on_main();
        return;
    }
    // The server this URL and user name already are (the keychain account just updated). Found
    // by its address and user, never by the form's id: a server edited to another address keeps
    // the id of its old one.
    auto found = ServerFormModel::saved_service_with_login(currentFormData.server_url, currentFormData.username);
    if (!found) {
        end_authenticating_on_main();
        add_new_service();
        notify_list();
        return;
    }
    const std::string id = found->id;
    auto self = strong_self();
    ServerFormModel::update_existing_login(found, currentFormData, add_service_type_selection, [self, id](bool saved) {
        if (!saved) {
            self->present_on_form_or_window(VornError(Err(Err::update_service_failed)));
            self->end_authenticating_on_main();
            return;
        }
        // Stored once: the existing record was updated, no second one is added.
        self->reconnect_updated_service(id);
        self->end_authenticating_on_main();
        self->update_editing_service();
        self->notify_list();
    });
}

void SingleServiceViewController::reconnect_updated_service(const std::string& id) {
    auto self = strong_self();
    servers_link::reset_and_connect(scene_file_delegatex, id, [self](std::optional<VornError> error) {
        if (!error) self->close_controller();
        else self->present_on_form_or_window(*error);
    });
}

void SingleServiceViewController::add_new_service() {
    auto self = strong_self();
    // Adding never replaces a saved server (only the edit form does): a taken id gets a suffix.
    auto record = ServerFormModel::make_new_record(currentFormData, add_service_type_selection);
    ServerFormModel::add_service(record, [self](std::optional<std::string> saved_id) { self->connect_new_service(saved_id); });
}

void SingleServiceViewController::connect_new_service(std::optional<std::string> id) {
    if (!id || !scene_file_delegatex) {
        present_on_form_or_window(VornError(Err(Err::no_data)));
        return;
    }
    auto self = strong_self();
    servers_link::reset_and_connect(scene_file_delegatex, *id, [self](std::optional<VornError> error) {
        if (!error) self->close_controller();
        else self->present_on_form_or_window(*error);
    });
}

void SingleServiceViewController::present_on_form_or_window(const VornError& error) {
    // A form that already went (the list closes it once the server is saved) leaves the message
    // to the window's explorer.
    if (isViewLoaded() && isViewInWindow()) {
        present_error(error);
    } else if (scene_file_delegatex) {
        servers_link::show_error_on_window(scene_file_delegatex, error);
    } else {
        AMZLogger::shared().log_error("server form: " + error.text());
    }
}

void SingleServiceViewController::update_editing_service() {
    if (!editing_service_model) return;
    auto self = strong_self();
    // A server that moved to another URL or user name leaves no password behind.
    ServerFormModel::update_service(editing_service_model, currentFormData, add_service_type_selection,
                                    [self](bool saved) { self->update_finished(saved); });
}

void SingleServiceViewController::update_finished(bool saved) {
    if (saved) {
        close_controller();
        return;
    }
    present_on_form_or_window(VornError(Err(Err::update_service_failed)));
}

// ---- deleting ------------------------------------------------------------------------------

void SingleServiceViewController::delete_btn_pressed() { confirmDeleteService(); }

void SingleServiceViewController::confirmDeleteService() {
    if (!editing_service_model) return;
    QPointer<SingleServiceViewController> weak(this);
    VORNPresenterUtility::present_on_main(weak.data(), [weak](bool ready) {
        if (!weak) return;
        VORNPresenterUtility::present_actions_alert(
            ready, "Delete this service?", "Are you sure you want to delete this service?",
            {{"Delete", ui::AlertActionStyle::destructive, true}, {"Cancel", ui::AlertActionStyle::cancel, false}},
            [weak](bool confirmed) {
                if (weak && confirmed) weak->delete_service();
            },
            weak.data());
    });
}

void SingleServiceViewController::delete_service() {
    if (!editing_service_model) return;
    auto self = strong_self();
    // The server's password goes with it (unless another saved server uses it).
    ServerFormModel::delete_service(editing_service_model, [self](bool saved) {
        if (!saved) {
            self->present_on_form_or_window(VornError(Err(Err::update_service_failed)));
            return;
        }
        self->notify_list();
        self->close_controller();
    });
}

// ---- closing -------------------------------------------------------------------------------

void SingleServiceViewController::close_controller() {
    QPointer<SingleServiceViewController> weak(this);
    dispatch::mainQueue().async([weak] {
        if (weak) weak->close_form();
    });
}

void SingleServiceViewController::close_form() {
    closed_ = true;
    if (scene_file_delegatex) servers_link::rebuild_welcome_splash_later(scene_file_delegatex);
    QPointer<SingleServiceViewController> weak(this);
    dispatch::mainQueue().async([weak] {
        if (weak) servers_link::dismiss_screen(weak.data());
    });
}

// ---- the authenticating state ----------------------------------------------------------------

void SingleServiceViewController::begin_authenticating_on_main() {
    QPointer<SingleServiceViewController> weak(this);
    dispatch::mainQueue().async([weak] {
        if (weak) weak->begin_authenticating();
    });
}

void SingleServiceViewController::end_authenticating_on_main() {
    QPointer<SingleServiceViewController> weak(this);
    dispatch::mainQueue().async([weak] {
        if (weak) weak->end_authenticating();
    });
}

QList<QWidget*> SingleServiceViewController::fading_views() const {
    QList<QWidget*> out;
    // The form's views sit in the scroll view's content; the spinner and its line stay clear.
    for (QWidget* w : ui::subviews(contentViexw))
        if (w != spinner && w != authenticating_lbl) out.push_back(w);
    if (QWidget* root = viewIfLoaded())
        for (QWidget* w : ui::subviews(root))
            if (w != scrollview && w != spinner && w != authenticating_lbl) out.push_back(w);
    return out;
}

void SingleServiceViewController::begin_authenticating() {
    busy_ = true;
    if (!isViewLoaded()) return;
    spinner->startAnimating();
    spinner->raise();
    apply_btn->setEnabled(false);
    for (QWidget* w : fading_views()) ui::animateAlpha(w, 0.5, 0.2);
    authenticating_lbl->show();
    ui::animateAlpha(authenticating_lbl, 1.0, 0.2);
    authenticating_lbl->raise();
}

void SingleServiceViewController::end_authenticating() {
    busy_ = false;
    if (!isViewLoaded()) return;
    spinner->stopAnimating();
    apply_btn->setEnabled(true);
    for (QWidget* w : fading_views()) ui::animateAlpha(w, 1.0, 0.2);
    ui::animateAlpha(authenticating_lbl, 0.0, 0.2);
    if (!authenticating_lbl->isHidden()) authenticating_lbl->hide();
}
