// The saved-servers list and the server form in a file-viewer window, against the local FTP and
// WebDAV servers and the test keyring: adding a server (stored, its password kept, the window
// connected), a wrong password storing nothing, the duplicate prompt, editing, deleting with the
// password, the list's rows and header, and the form's fields, defaults and waiting state.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QSignalSpy>

#include "support/AccessibleTree.h"
#include "support/MainQueueSettle.h"
#include "support/Pictures.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Layout.h"
#include "platform/ui/View.h"
#include "platform/ui/scenes/Window.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/foundation/XCol.h"
#include "tandrel/scenes/ServerWindowScenes.h"
#include "tandrel/servers/QuickConnectView.h"
#include "tandrel/servers/VornFileViewController.h"
#include "tandrel/servers/ListTestSupport.h"

using namespace listtest;
using Err = EnumManager::vorn_error_throws;

namespace {

std::string text(const QLabel* label) { return label ? label->text().toStdString() : "<none>"; }

// ---- values ----------------------------------------------------------------------------------

TEST(ServersListValues, HeaderSummaryCountsTheServers) {
    const std::pair<size_t, const char*> rows[] = {
        {0, "You currently have no saved services."},
        {1, "You currently have 1 saved service."},
        {2, "You currently have 2 saved services."},
        {13, "You currently have 13 saved services."},
    };
    for (const auto& [count, expected] : rows)
        EXPECT_EQ(ManageServicesViewController::connectedServicesSummary(count), expected) << count;
}

TEST(ServersListValues, FormIdIsBase64OfUrlDashUserAndPortTakesLeadingDigits) {
    const std::pair<std::string, std::string> servers[] = {
        {"ftp://example.com", "anna"}, {"webdav://127.0.0.1:8080/dav/", "bob"}, {"ftp://h", ""},
        {"ftp://über.example", "zoë"}};
    for (const auto& [url, user] : servers)
        EXPECT_EQ(SingleServiceViewController::service_id_for(url, user), idFor(url, user)) << url;
    EXPECT_EQ(SingleServiceViewController::service_id_for("ftp://h", ""), "ZnRwOi8vaC0=");

    const std::pair<const char*, int64_t> ports[] = {{"21", 21}, {"8021x", 8021}, {"x21", 0}, {"", 0},
                                                     {" 42", 42}, {"0080", 80}};
    for (const auto& [text, value] : ports) EXPECT_EQ(SingleServiceViewController::port_value(text), value) << text;
}

TEST(ServersListValues, APortTheUrlDoesNotNameGoesIntoTheUrl) {
    struct Row {
        std::string url;
        int64_t port, formDefault;
        std::string stored;
    };
    const Row rows[] = {
        {"ftp://127.0.0.1", 2121, 21, "ftp://127.0.0.1:2121"},
        {"ftp://127.0.0.1/www/", 2121, 21, "ftp://127.0.0.1:2121/www/"},
        {"ftp://me@host?x#y", 990, 21, "ftp://me@host:990?x#y"},
        {"webdav://[::1]/dav/", 8080, 80, "webdav://[::1]:8080/dav/"},
        {"ftp://127.0.0.1:2121/", 21, 21, "ftp://127.0.0.1:2121/"},   // the URL's own port stays
        {"ftp://127.0.0.1:2121/", 3000, 21, "ftp://127.0.0.1:2121/"},
        {"ftp://host/", 21, 21, "ftp://host/"},                          // defaults are not written
        {"https://host/dav/", 80, 80, "https://host/dav/"},              // the form's WebDAV default
        {"https://host/dav/", 443, 80, "https://host/dav/"},             // the scheme's default
        {"http://host", 80, 21, "http://host"},
        {"ftp://host", 0, 21, "ftp://host"},                             // no port typed
        {"ftp://host", 70000, 21, "ftp://host"},
        {"host.example", 2121, 21, "host.example"},                      // no scheme, no host
        {"sftp://host", 2222, 22, "sftp://host:2222"},                  // SFTP's own default is 22
        {"sftp://host", 22, 21, "sftp://host"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(SingleServiceViewController::url_with_port(r.url, r.port, r.formDefault), r.stored) << r.url << " " << r.port;
}

// ---- the list ----------------------------------------------------------------------------------

TEST_F(ListTest, RowsShowNicknameAndUrlOddRowsAreTintedAndTheHeaderCounts) {
    // An empty list first.
    reloadList();
    ASSERT_TRUE(waitFor([&] { return list->header_lbl->text() == "You currently have no saved services."; }));
    EXPECT_EQ(list->services_tableView->numberOfRows(), 0);

    const char* nicknames[] = {"First", "", "Third", "Fourth"};
    for (int i = 0; i < 4; ++i) {
        auto s = std::make_shared<VornSingleServiceDataModel>();
        s->url = "ftp://server" + std::to_string(i) + ".example";
        s->username = "u";
        s->nickname = nicknames[i];
        s->connection_type = Type::ftp;
        app_services_manager().appServicesModel->saved_services.push_back(s);
    }
    reloadList();
    ASSERT_TRUE(waitFor([&] { return list->header_lbl->text() == "You currently have 4 saved services."; }));
    ASSERT_EQ(list->services_tableView->numberOfRows(), 4);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        ManageServices_TableViewCell* cell = row(i);
        ASSERT_TRUE(cell);
        EXPECT_EQ(text(cell->server_name_lbl), i == 1 ? "Servername Not Set" : nicknames[i]);
        EXPECT_EQ(text(cell->server_url_lbl), "ftp://server" + std::to_string(i) + ".example");
        EXPECT_EQ(cell->is_odd_row, i % 2 == 1);
        // Odd rows: the selected-row colour at half alpha; even rows clear.
        EXPECT_EQ(cell->backgroundViewColor().has_value(), i % 2 == 1);
        if (cell->backgroundViewColor()) {
            EXPECT_EQ(cell->backgroundViewColor()->resolvedFor(cell),
                      XCol::selected_row().withAlphaComponent(0.5).resolvedFor(cell));
        }
        ASSERT_TRUE(cell->selectedBackgroundViewColor());
        EXPECT_EQ(cell->edit_button->toolTip(), "Edit Service");
        EXPECT_EQ(cell->server_url_lbl->palette().color(QPalette::WindowText), XCol::teal().resolvedFor(cell));
        // The row is as tall as its two labels and margins.
        const int nameLine = QFontMetrics(cell->server_name_lbl->font()).height();
        EXPECT_EQ(cell->height(), 10 + ManageServices_TableViewCell::name_line_height() + 5 +
                                      ManageServices_TableViewCell::url_line_height() + 10);
        EXPECT_LE(nameLine, ManageServices_TableViewCell::name_line_height());  // shrunk to fit, never taller
        EXPECT_EQ(cell->server_name_lbl->geometry().top(), 10);
        EXPECT_EQ(cell->server_url_lbl->geometry().top(), cell->server_name_lbl->geometry().bottom() + 1 + 5);
        EXPECT_EQ(cell->server_url_lbl->geometry().bottom() + 1, cell->height() - 10);
        EXPECT_EQ(cell->server_name_lbl->geometry().left(), 20 + 44 + 10);
        EXPECT_EQ(cell->server_name_lbl->geometry().right() + 1, cell->edit_button->geometry().left() - 10);
        const QRect icon = cell->server_type_img->geometry();
        EXPECT_EQ(icon.size(), QSize(44, 44));
        EXPECT_EQ(icon.left(), 20);
        EXPECT_LE(std::abs(icon.center().y() - cell->rect().center().y()), 1);
        EXPECT_EQ(cell->edit_button->size(), QSize(36, 36));
        EXPECT_EQ(cell->edit_button->geometry().right() + 1, cell->width() - 10);
    }
    // The welcome list hides its "Close"; the header is teal, the "plus" sits at the right.
    EXPECT_TRUE(list->close_btn->isHidden());
    EXPECT_EQ(list->header_lbl->palette().color(QPalette::WindowText), XCol::teal().resolvedFor(list->header_lbl));
    // 36 by 36 (the layout may round a half-point centre either way).
    EXPECT_EQ(list->new_btn->width(), 36);
    EXPECT_LE(std::abs(list->new_btn->height() - 36), 1);
    EXPECT_LE(std::abs(list->new_btn->geometry().center().y() - list->header_lbl->geometry().center().y()), 1);
    EXPECT_EQ(list->new_btn->geometry().right() + 1, list->view()->width() - 10);
    EXPECT_EQ(list->header_lbl->geometry().left(), 20);
    EXPECT_EQ(list->services_tableView->geometry().top(), list->header_lbl->geometry().bottom() + 1 + 10);
    EXPECT_EQ(list->services_tableView->geometry().bottom() + 1, list->view()->height() - 60);
    EXPECT_EQ(list->refreshControl->attributedTitle(), "Pull to refresh");
}

// A saved server in the list's store, as the form would have made it.
std::shared_ptr<VornSingleServiceDataModel> listedServer(const std::string& url, const std::string& user,
                                                          const std::string& nickname, Type type, int64_t port) {
    auto s = std::make_shared<VornSingleServiceDataModel>();
    s->url = url;
    s->username = user;
    s->nickname = nickname;
    s->connection_type = type;
    s->port = port;
    s->id = idFor(s->url, s->username);
    app_services_manager().appServicesModel->saved_services.push_back(s);
    return s;
}

TEST_F(ListTest, GearOpensTheEditFormOnlyForAListThatServesAWindow) {
    auto s = listedServer("webdav://127.0.0.1:1/dav/", "carol", "Docs", Type::webDav, 8080);
    reloadList();
    ASSERT_TRUE(row(0));

    // Without a window id the gear does nothing.
    const auto windowId = list->file_controller_window_id;
    list->file_controller_window_id.reset();
    QTest::mouseClick(row(0)->edit_button, Qt::LeftButton);
    settle();
    EXPECT_FALSE(list->presentedViewController());
    list->file_controller_window_id = windowId;

    QPointer<SingleServiceViewController> form = openEditForm(0);
    ASSERT_TRUE(form);
    EXPECT_TRUE(form->is_editing_a_service);
    EXPECT_EQ(form->service_id, s->id);
    EXPECT_EQ(form->scene_file_delegatex.data(), window);
    EXPECT_EQ(form->single_vc_to_manage_vc_delegate.get(), static_cast<single_vc_to_manage_vc_protocol*>(list));
    ASSERT_EQ(form->editing_service_model, s);
    // The record fills the form, except the password (none is saved for this server).
    EXPECT_EQ(field(form, Field::nickname)->text(), "Docs");
    EXPECT_EQ(field(form, Field::server_url)->text(), "webdav://127.0.0.1:1/dav/");
    EXPECT_EQ(field(form, Field::username)->text(), "carol");
    EXPECT_EQ(field(form, Field::password)->text(), "");
    EXPECT_EQ(field(form, Field::port)->text(), "8080");
    EXPECT_EQ(form->add_service_type->selectedSegmentIndex(), 1);
    EXPECT_EQ(form->add_service_type_selection, Type::webDav);
    EXPECT_EQ(text(form->controller_title_lbl), "Update Service");
    EXPECT_EQ(form->apply_btn->text(), "Update");
    EXPECT_TRUE(form->delete_btn->isVisible());
    EXPECT_EQ(form->delete_btn->text(), "Delete");
    EXPECT_EQ(form->delete_btn->geometry().left(), 10);
    // Under the fields the form says when the edited settings apply; "Update" stands where
    // "Apply" does, under that line, with "Cancel" beside it and "Delete" across.
    settle();
    const QRect last = form->element_ui_dict.at(Field::site_url)->geometry();
    ASSERT_TRUE(form->edit_note_lbl);
    EXPECT_EQ(form->edit_note_lbl->text().toStdString(), SingleServiceViewController::kEditNote);
    EXPECT_TRUE(form->edit_note_lbl->isVisible());
    const QRect note = form->edit_note_lbl->geometry();
    EXPECT_EQ(note.top(), last.bottom() + 1 + 10);
    EXPECT_GE(note.height(), form->edit_note_lbl->heightForWidth(note.width()));
    EXPECT_EQ(form->apply_btn->geometry().top(), note.bottom() + 1 + 20);
    EXPECT_LE(form->apply_btn->geometry().bottom() + 1 + 20, form->contentViexw->height());
    EXPECT_EQ(form->apply_btn->geometry().right() + 1, form->contentViexw->width() - 20);
    EXPECT_EQ(form->cancel_btn->geometry().right() + 1, form->apply_btn->geometry().left() - 10);
    EXPECT_EQ(form->delete_btn->geometry().top(), form->apply_btn->geometry().top());

    // Update with the field blank and no password saved: missing information naming the field,
    // nothing changes.
    form->apply_btn->click();
    ui::AlertController* alert = awaitAlert(form);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->alertTitle(), "Missing Information...");
    EXPECT_EQ(alert->message(),
              "The Password field is empty. Please check you have supplied the required information, and try again");
    EXPECT_FALSE(form->password_saved());
    EXPECT_TRUE(field(form, Field::password)->placeholderText().isEmpty());
    ASSERT_TRUE(choose(form, "Try again..."));
    ASSERT_TRUE(waitFor([&] { return idle(form); }));
    EXPECT_EQ(s->nickname, "Docs");
}

TEST_F(ListTest, AnEmptyListOnAShownWelcomeScreenOpensTheAddForm) {
    // With a saved server nothing opens.
    app_services_manager().appServicesModel->saved_services.push_back(std::make_shared<VornSingleServiceDataModel>());
    reloadList();
    list->open_new_service_form_if_empty();
    settle();
    EXPECT_FALSE(list->presentedViewController());

    app_services_manager().appServicesModel->saved_services.clear();
    reloadList();
    list->open_new_service_form_if_empty();
    ASSERT_TRUE(waitFor([&] { return shownForm() != nullptr; }));
    EXPECT_FALSE(shownForm()->is_editing_a_service);
    EXPECT_EQ(shownForm()->scene_file_delegatex.data(), window);
}

TEST_F(ListTest, AWindowThatOpensWithNoSavedServerLandsInTheAddFormAndOneWithAServerDoesNot) {
    auto newWindow = [&]() -> FileViewerSceneDelegate* {
        ui::Scene* scene = open(SceneKind::server_viewer);
        return scene ? qobject_cast<FileViewerSceneDelegate*>(scene->delegate()) : nullptr;
    };
    auto formOf = [](FileViewerSceneDelegate* w) {
        return dynamic_cast<SingleServiceViewController*>(w->welcome_manage_services_vc->presentedViewController());
    };
    // As at a first launch: nothing saved.
    ASSERT_TRUE(app_services_manager().appServicesModel->saved_services.empty());
    QPointer<FileViewerSceneDelegate> first = newWindow();
    ASSERT_TRUE(first);
    ASSERT_TRUE(waitFor([&] { return first && formOf(first) != nullptr; }, 10000)) << "no add form";
    EXPECT_FALSE(formOf(first)->is_editing_a_service);
    EXPECT_EQ(formOf(first)->scene_file_delegatex.data(), first.data());
    EXPECT_TRUE(formOf(first)->isViewInWindow());

    // With a saved server the window shows its list.
    app_services_manager().appServicesModel->saved_services.push_back(std::make_shared<VornSingleServiceDataModel>());
    QPointer<FileViewerSceneDelegate> second = newWindow();
    ASSERT_TRUE(second);
    auto* list2 = second->welcome_manage_services_vc.get();
    ASSERT_TRUE(waitFor([&] { return list2->isViewLoaded() && list2->isViewInWindow(); }, 10000));
    settle();
    EXPECT_FALSE(list2->presentedViewController());
}

// ---- the form ----------------------------------------------------------------------------------

TEST_F(ListTest, AddFormHasItsRowsCaptionsDefaultsAndLayout) {
    QPointer<SingleServiceViewController> form = openAddForm();
    ASSERT_TRUE(form);
    settle();
    EXPECT_EQ(form->title(), "Add New Service");
    EXPECT_EQ(text(form->controller_title_lbl), "Add New Service");
    EXPECT_EQ(form->controller_title_lbl->palette().color(QPalette::WindowText),
              XCol::teal().resolvedFor(form->controller_title_lbl));
    ASSERT_EQ(form->add_service_type->numberOfSegments(), 3);
    EXPECT_EQ(form->add_service_type->titleForSegment(0), "FTP");
    EXPECT_EQ(form->add_service_type->titleForSegment(1), "WebDav");
    EXPECT_EQ(form->add_service_type->titleForSegment(2), "SFTP");
    EXPECT_EQ(form->add_service_type->selectedSegmentIndex(), 0);
    EXPECT_EQ(form->add_service_type_selection, Type::ftp);
    EXPECT_EQ(form->apply_btn->text(), "Apply");
    EXPECT_EQ(form->cancel_btn->text(), "Cancel");
    EXPECT_FALSE(form->delete_btn->parentWidget());  // add mode: no Delete

    struct Row {
        Field field;
        const char* caption;
        QLineEdit::EchoMode echo;
    };
    const Row rows[] = {
        {Field::nickname, "Service Nickname", QLineEdit::Normal},
        {Field::server_url, "Service URL - Including ftp:// or ftps://", QLineEdit::Normal},
        {Field::username, "Username", QLineEdit::Normal},
        {Field::password, "Password", QLineEdit::Password},
        {Field::port, "Port", QLineEdit::Normal},
        {Field::web_root, "Web root", QLineEdit::Normal},
        {Field::site_url, "Site URL", QLineEdit::Normal},
    };
    QWidget* previous = nullptr;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.caption);
        QLabel* caption = form->element_ui_lbl_dict.at(r.field);
        QLineEdit* f = field(form, r.field);
        QWidget* rowView = form->element_ui_dict.at(r.field);
        EXPECT_EQ(text(caption), r.caption);
        EXPECT_EQ(caption->palette().color(QPalette::WindowText), XCol::teal().resolvedFor(caption));
        EXPECT_EQ(f->echoMode(), r.echo);
        EXPECT_TRUE(f->inputMethodHints() & Qt::ImhNoAutoUppercase);
        // Caption 34 high over a 44-high field, the row 20 in from each side.
        EXPECT_EQ(caption->geometry(), QRect(0, 0, rowView->width(), 34));
        EXPECT_EQ(f->geometry(), QRect(0, 34, rowView->width(), 44));
        EXPECT_EQ(rowView->geometry().left(), 20);
        EXPECT_EQ(rowView->geometry().right() + 1, form->contentViexw->width() - 20);
        // The site's rows start 50 under the port, below the "Require encryption" box.
        if (previous) EXPECT_EQ(rowView->geometry().top(), previous->geometry().bottom() + 1 + (r.field == Field::web_root ? 50 : 10));
        else EXPECT_EQ(rowView->geometry().top(), form->add_service_type->geometry().bottom() + 1 + 20);
        previous = rowView;
    }
    EXPECT_TRUE(field(form, Field::nickname)->placeholderText().startsWith("Eg: "));
    EXPECT_TRUE(field(form, Field::server_url)->placeholderText().startsWith("ftp://"));
    EXPECT_EQ(field(form, Field::port)->placeholderText(), "21");
    EXPECT_EQ(field(form, Field::port)->text(), "21");
    EXPECT_TRUE(field(form, Field::port)->inputMethodHints() & Qt::ImhDigitsOnly);
    EXPECT_TRUE(field(form, Field::server_url)->inputMethodHints() & Qt::ImhUrlCharactersOnly);

    EXPECT_TRUE(field(form, Field::site_url)->inputMethodHints() & Qt::ImhUrlCharactersOnly);
    EXPECT_TRUE(field(form, Field::web_root)->text().isEmpty());
    EXPECT_TRUE(field(form, Field::site_url)->text().isEmpty());

    // Buttons 50 below the last row: Apply 20 from the right, Cancel 10 left of it.
    const QRect port = form->element_ui_dict.at(Field::port)->geometry();
    const QRect last = form->element_ui_dict.at(Field::site_url)->geometry();
    EXPECT_EQ(form->apply_btn->geometry().top(), last.bottom() + 1 + 50);
    const QRect box = form->require_encryption_box->geometry();
    EXPECT_GT(box.top(), port.bottom());
    EXPECT_LT(box.bottom(), form->element_ui_dict.at(Field::web_root)->geometry().top());
    EXPECT_EQ(form->apply_btn->geometry().right() + 1, form->contentViexw->width() - 20);
    EXPECT_EQ(form->cancel_btn->geometry().right() + 1, form->apply_btn->geometry().left() - 10);
    EXPECT_EQ(form->contentViexw->height(), form->apply_btn->geometry().bottom() + 1 + 20);
    // The screen's background colour shows through the scrolling content.
    const QImage shot = form->view()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(4, 4).rgb(), XCol::background().resolvedFor(form->view()).rgb());
    EXPECT_EQ(shot.pixelColor(shot.width() / 2, port.bottom() + 25).rgb(), XCol::background().resolvedFor(form->view()).rgb());
    // The waiting line is there but hidden and clear.
    EXPECT_EQ(text(form->authenticating_lbl), "Authenticating Login...");
    EXPECT_TRUE(form->authenticating_lbl->isHidden());
    EXPECT_EQ(ui::alpha(form->authenticating_lbl), 0.0);
    EXPECT_FALSE(form->spinner->isVisible());
}

TEST_F(ListTest, PictureButtonsHaveNamesAndTheProtocolSwitchIsATabListThatCanBePressed) {
    auto s = std::make_shared<VornSingleServiceDataModel>();
    s->url = "ftp://server.example";
    s->username = "u";
    s->nickname = "Named";
    s->connection_type = Type::ftp;
    app_services_manager().appServicesModel->saved_services.push_back(s);
    reloadList();
    ASSERT_TRUE(row(0));
    // "+" and the row's gear, as an assistive technology reads them.
    auto* plus = QAccessible::queryAccessibleInterface(list->new_btn.data());
    ASSERT_TRUE(plus);
    EXPECT_EQ(plus->role(), QAccessible::Button);
    // Read by their tooltips.
    EXPECT_EQ(plus->text(QAccessible::Name), "Add Service");
    auto* gear = QAccessible::queryAccessibleInterface(row(0)->edit_button);
    ASSERT_TRUE(gear);
    EXPECT_EQ(gear->text(QAccessible::Name), "Edit Service");
    const auto unnamed = testsupport::unnamedButtons(list->view()->window());
    EXPECT_TRUE(unnamed.empty()) << ::testing::PrintToString(unnamed);
    // The list itself, which takes the focus.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(list->services_tableView.data())->text(QAccessible::Name), "Services");

    QPointer<SingleServiceViewController> form = openAddForm();
    ASSERT_TRUE(form);
    auto* tabs = QAccessible::queryAccessibleInterface(form->add_service_type);
    ASSERT_TRUE(tabs);
    EXPECT_EQ(tabs->role(), QAccessible::PageTabList);
    ASSERT_EQ(tabs->childCount(), 3);
    EXPECT_EQ(tabs->child(0)->text(QAccessible::Name), "FTP");
    EXPECT_EQ(tabs->child(1)->text(QAccessible::Name), "WebDav");
    EXPECT_EQ(tabs->child(2)->text(QAccessible::Name), "SFTP");
    EXPECT_TRUE(tabs->child(0)->state().checked);
    EXPECT_FALSE(tabs->child(1)->state().checked);
    EXPECT_EQ(tabs->indexOfChild(tabs->child(1)), 1);
    // Pressed through its action as a screen reader does: the same as a click.
    auto* action = tabs->child(1)->actionInterface();
    ASSERT_TRUE(action);
    action->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(form->add_service_type_selection, Type::webDav);
    EXPECT_EQ(field(form, Field::port)->text(), "80");
    EXPECT_TRUE(tabs->child(1)->state().checked);
    // SFTP, the third choice, with its own default port; then back to FTP.
    auto* sftp = tabs->child(2)->actionInterface();
    ASSERT_TRUE(sftp);
    sftp->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(form->add_service_type_selection, Type::sftp);
    EXPECT_EQ(field(form, Field::port)->text(), "22");
    EXPECT_TRUE(tabs->child(2)->state().checked);
    EXPECT_FALSE(tabs->child(1)->state().checked);
    tabs->child(0)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(form->add_service_type_selection, Type::ftp);
    EXPECT_EQ(field(form, Field::port)->text(), "21");
    tabs->child(1)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    // The form itself, its switch included, shows no nameless button.
    const auto form_unnamed = testsupport::unnamedButtons(form->view()->window());
    EXPECT_TRUE(form_unnamed.empty()) << ::testing::PrintToString(form_unnamed);
    EXPECT_TRUE(testsupport::accessibleNames(form->view()->window(), QAccessible::PageTabList).size() >= 1);
}

// The URL row names the schemes of the protocol chosen, and the port field describes that
// protocol's default port, on every tab and in the edit form of a server of each kind.
// The password's description says, for SFTP only, that it may stay empty.
TEST_F(ListTest, TheUrlCaptionAndThePortDescriptionFollowTheProtocol) {
    struct Tab {
        int segment;
        const char* caption;
        const char* port;
        const char* password;
    };
    const Tab tabs[] = {
        {1, "Service URL - Including http://, https://, webdav:// or webdavs://", "80", ""},
        {2, "Service URL - Including sftp://", "22", "Optional: without one, your SSH keys are used"},
        {0, "Service URL - Including ftp:// or ftps://", "21", ""},
    };
    auto expectTab = [](SingleServiceViewController* form, const Tab& tab) {
        SCOPED_TRACE(tab.caption);
        EXPECT_EQ(text(form->element_ui_lbl_dict.at(Field::server_url)), tab.caption);
        auto* url = QAccessible::queryAccessibleInterface(field(form, Field::server_url));
        ASSERT_TRUE(url);
        EXPECT_EQ(url->text(QAccessible::Name), tab.caption);
        auto* port = QAccessible::queryAccessibleInterface(field(form, Field::port));
        ASSERT_TRUE(port);
        EXPECT_EQ(port->text(QAccessible::Description), tab.port);
        EXPECT_EQ(field(form, Field::port)->placeholderText(), tab.port);
        auto* password = QAccessible::queryAccessibleInterface(field(form, Field::password));
        ASSERT_TRUE(password);
        EXPECT_EQ(password->text(QAccessible::Description), tab.password);
        EXPECT_TRUE(password->state().passwordEdit);
    };
    QPointer<SingleServiceViewController> form = openAddForm();
    ASSERT_TRUE(form);
    expectTab(form, tabs[2]);
    for (const auto& tab : tabs) {
        pickSegment(form, tab.segment);
        ASSERT_EQ(form->add_service_type->selectedSegmentIndex(), tab.segment);
        expectTab(form, tab);
    }
    form->close_controller();
    ASSERT_TRUE(waitFor([&] { return !list->presentedViewController(); }, 10000));

    listedServer("sftp://127.0.0.1:2222/www/", "dave", "Shell", Type::sftp, 2222);
    reloadList();
    ASSERT_TRUE(row(0));
    QPointer<SingleServiceViewController> edit = openEditForm(0);
    ASSERT_TRUE(edit);
    expectTab(edit, tabs[1]);
    EXPECT_EQ(field(edit, Field::port)->text(), "2222");
}

TEST_F(ListTest, AnSftpServerEditsOnTheSftpChoiceWithItsPort) {
    listedServer("sftp://127.0.0.1:2222/www/", "dave", "Shell", Type::sftp, 2222);
    reloadList();
    ASSERT_TRUE(row(0));
    QPointer<SingleServiceViewController> form = openEditForm(0);
    ASSERT_TRUE(form);
    EXPECT_EQ(form->add_service_type->selectedSegmentIndex(), 2);
    EXPECT_EQ(form->add_service_type_selection, Type::sftp);
    EXPECT_EQ(field(form, Field::port)->text(), "2222");
    EXPECT_EQ(field(form, Field::server_url)->text(), "sftp://127.0.0.1:2222/www/");
}

TEST_F(ListTest, RequireEncryptionIsACheckBoxForFtpAndAServerWithoutTlsIsRefusedBeforeTheLogin) {
    QPointer<SingleServiceViewController> form = openAddForm();
    ASSERT_TRUE(form);
    auto* box = QAccessible::queryAccessibleInterface(form->require_encryption_box.data());
    ASSERT_TRUE(box);
    EXPECT_EQ(box->role(), QAccessible::CheckBox);
    EXPECT_EQ(box->text(QAccessible::Name), "Require encryption");
    EXPECT_FALSE(box->state().checked);
    EXPECT_FALSE(box->state().disabled);
    // WebDAV's encryption is its URL's scheme: the box is for FTP.
    pickSegment(form, 1);
    EXPECT_TRUE(box->state().disabled);
    pickSegment(form, 0);
    EXPECT_FALSE(box->state().disabled);
    // Ticked as a screen reader does it.
    auto* action = box->actionInterface();
    ASSERT_TRUE(action);
    action->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(box->state().checked);
    EXPECT_TRUE(form->require_encryption_box->isChecked());

    // A server that offers no TLS: refused, nothing stored.
    Peer p = peer("pyftpd");
    SKIP_WITHOUT_PEER(p);
    fill(form, {"Plain", p.url, p.user, p.password, std::nullopt});
    form->apply_btn->click();
    ui::AlertController* alert = awaitAlert(form);
    ASSERT_TRUE(alert) << "no error shown";
    EXPECT_NE(alert->message().toStdString().find("require"), std::string::npos) << alert->message().toStdString();
    ASSERT_TRUE(waitFor([&] { return idle(form); }));
    ASSERT_TRUE(choose(form, "OK"));
    EXPECT_TRUE(app_services_manager().appServicesModel->saved_services.empty());
}

// The preview's site fields, typed as a screen reader does: named by their captions, stored in
// the record's optional fields (the saved file keeps both names), shown again when editing; a Site
// URL that is no web address is refused saying so, before any server is asked.
TEST_F(ListTest, TheWebRootAndSiteUrlFieldsAreStoredInTheRecordAndShownWhenEditing) {
    SKIP_WITHOUT_KEYRING();
    Peer p = peer("pyftpd");
    SKIP_WITHOUT_PEER(p);
    keys.add(p.url, idFor(p.url, p.user));
    QPointer<SingleServiceViewController> form = openAddForm();
    ASSERT_TRUE(form);
    fill(form, {"Site fields", p.url, p.user, p.password, std::nullopt});
    auto type = [&](Field f, const QString& value) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(field(form, f));
        ASSERT_TRUE(a && a->editableTextInterface());
        EXPECT_EQ(a->role(), QAccessible::EditableText);
        EXPECT_EQ(a->text(QAccessible::Name).toStdString(), SingleServiceViewController::caption_for(f));
        EXPECT_FALSE(a->text(QAccessible::Description).isEmpty());
        const int length = a->textInterface()->characterCount();
        if (length > 0) a->editableTextInterface()->deleteText(0, length);
        a->editableTextInterface()->insertText(0, value);
    };
    type(Field::web_root, "www/");
    type(Field::site_url, "example.com");
    form->apply_btn->click();
    ui::AlertController* alert = awaitAlert(form);
    ASSERT_TRUE(alert) << "no error shown";
    EXPECT_EQ(alert->message(), QString::fromLatin1(ServerFormModel::kInvalidSiteUrlMessage));
    answerAlertsOn(form);
    ASSERT_TRUE(waitFor([&] { return idle(form); }));
    EXPECT_TRUE(app_services_manager().appServicesModel->saved_services.empty());

    type(Field::site_url, "http://127.0.0.1:8080/");
    form->apply_btn->click();
    const std::string id = idFor(p.url, p.user);
    ASSERT_TRUE(waitFor([&] { return !recordsWithId(id).empty(); }, 30000));
    auto record = recordsWithId(id).front();
    EXPECT_EQ(record->web_root, std::optional<std::string>("/www"));
    EXPECT_EQ(record->site_url, std::optional<std::string>("http://127.0.0.1:8080/"));
    ASSERT_TRUE(waitFor([&] { return servicesFileText().find("\"site_url\"") != std::string::npos; }));
    EXPECT_NE(servicesFileText().find("\"web_root\""), std::string::npos);
    ASSERT_TRUE(waitFor([&] { return list->presentedViewController() == nullptr; }));
    reloadList();
    QPointer<SingleServiceViewController> edit = openEditForm(0);
    ASSERT_TRUE(edit);
    EXPECT_EQ(field(edit, Field::web_root)->text(), "/www");
    EXPECT_EQ(field(edit, Field::site_url)->text(), "http://127.0.0.1:8080/");
}

TEST_F(ListTest, MissingInformationStoresNothingAndLeavesTheFormIdle) {
    struct Case {
        const char* name;
        FormValues values;
        const char* named;  // what the message says first: the field that is missing
        bool unlink_window = false;
    };
    const Case cases[] = {
        {"no password", {"n", "ftp://127.0.0.1:1", "u", "", std::nullopt}, "The Password field is empty. "},
        {"no URL", {"n", "", "u", "secret", std::nullopt}, "The Service URL field is empty. "},
        {"not a URL", {"n", "ftp://exa mple.com:x", "u", "secret", std::nullopt},
         "The Service URL field holds no server address. "},
        {"no window to connect", {"n", "ftp://127.0.0.1:1", "u", "secret", std::nullopt}, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QPointer<SingleServiceViewController> form = openAddForm();
        ASSERT_TRUE(form);
        fill(form, c.values);
        if (c.unlink_window) form->scene_file_delegatex = nullptr;
        form->apply_btn->click();
        ui::AlertController* alert = awaitAlert(form, 5000);
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->alertTitle(), "Missing Information...");
        EXPECT_EQ(alert->message().toStdString(),
                  std::string(c.named) + "Please check you have supplied the required information, and try again");
        ASSERT_EQ(alert->actions().size(), 1u);
        EXPECT_EQ(alert->actions()[0]->title(), "Try again...");
        EXPECT_EQ(alert->actions()[0]->style(), ui::AlertActionStyle::default_);
        ASSERT_TRUE(choose(form, "Try again..."));
        EXPECT_TRUE(waitFor([&] { return idle(form); }));
        EXPECT_TRUE(app_services_manager().appServicesModel->saved_services.empty());
        list->dismissViewControllerAnimated(false);
        settle();
    }
}

TEST_F(ListTest, AnAddressWithBlanksAroundOrWithoutItsSchemeIsRefusedSayingWhatIsWrong) {
    struct Case {
        const char* typed;
        int segment;
        const char* says;
    };
    const Case cases[] = {
        {" ftp://127.0.0.1:1/", 0, "spaces before or after"},
        {"ftp://127.0.0.1:1/ ", 0, "spaces before or after"},
        {"127.0.0.1:1/www/", 0, "has no scheme. An FTP server's address starts with ftp:// or ftps://."},
        {"127.0.0.1/dav/", 1, "has no scheme. A WebDAV server's address starts with http://"},
        {"http://127.0.0.1:1/", 0, "An FTP server's address starts with ftp://"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        QPointer<SingleServiceViewController> form = openAddForm();
        ASSERT_TRUE(form);
        if (c.segment) pickSegment(form, c.segment);
        fill(form, {"n", c.typed, "u", "secret", std::nullopt});
        form->apply_btn->click();
        ui::AlertController* alert = awaitAlert(form, 5000);
        ASSERT_TRUE(alert);
        EXPECT_NE(alert->message().toStdString().find(c.says), std::string::npos) << alert->message().toStdString();
        answerAlertsOn(form);
        EXPECT_TRUE(waitFor([&] { return idle(form); }));
        EXPECT_TRUE(app_services_manager().appServicesModel->saved_services.empty());
        list->dismissViewControllerAnimated(false);
        settle();
    }
    // A saved address from before, with a blank in front: the connect says so too.
    auto s = std::make_shared<VornSingleServiceDataModel>();
    s->url = " ftp://127.0.0.1:1/";
    s->username = "u";
    s->connection_type = Type::ftp;
    s->id = "blank-in-front";
    app_services_manager().appServicesModel->saved_services.push_back(s);
    const opstest::Connect c = connect(s->id);
    ASSERT_TRUE(c.error);
    EXPECT_NE(c.error->message.find("spaces before or after"), std::string::npos) << c.error->message;
}

TEST(ServersListValues, APortFieldTextIsBlankOrReadsAsAPortFromOneTo65535) {
    // Read as the form reads a port (its leading digits), the value must be a port.
    const std::pair<const char*, bool> texts[] = {
        {"21", true},     {" 2121 ", true}, {"65535", true}, {"1", true},      {"", true},
        {"  ", true},     {"8021x", true},  {"0", false},    {"65536", false}, {"99999", false},
        {"abc", false},   {"x21", false},   {"-1", false},   {"99999999999999999999", false},
    };
    for (const auto& [text, ok] : texts) {
        EXPECT_EQ(SingleServiceViewController::port_text_acceptable(text), ok) << '"' << text << '"';
    }
}

TEST_F(ListTest, AnInvalidPortIsRefusedNamingTheFieldBeforeAnythingIsSavedOrConnected) {
    for (const char* port : {"99999", "abc", "0", "x21"}) {
        SCOPED_TRACE(port);
        QPointer<SingleServiceViewController> form = openAddForm();
        ASSERT_TRUE(form);
        // Everything else is complete: only the port stands between the form and a connect.
        fill(form, {"n", "ftp://127.0.0.1:" + std::to_string(opstest::closedPort()) + "/", "u", "secret", std::string(port)});
        form->apply_btn->click();
        ui::AlertController* alert = awaitAlert(form, 5000);
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->alertTitle(), "Invalid Port");
        EXPECT_EQ(alert->message(), "The Port field needs a whole number from 1 to 65535.");
        ASSERT_TRUE(choose(form, "Try again..."));
        EXPECT_TRUE(waitFor([&] { return idle(form); }));
        EXPECT_TRUE(app_services_manager().appServicesModel->saved_services.empty());
        list->dismissViewControllerAnimated(false);
        settle();
    }
}

// ---- against the servers -------------------------------------------------------------------------

class ListPeerTest : public ListTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        ListTest::SetUp();
        p = peer(GetParam());
    }
    bool webdav() const { return p.kind == "apache"; }
    // What the user types: WebDAV servers with the "webdav://" scheme the form's caption names.
    std::string typedUrl() const {
        if (!webdav()) return p.url;
        return "webdav://" + p.url.substr(std::string("http://").size());
    }
    void pickProtocol(SingleServiceViewController* form) {
        if (webdav()) pickSegment(form, 1);
        if (p.kind == "sshd") pickSegment(form, 2);
    }
    Peer p;
};

std::string peerName(const ::testing::TestParamInfo<const char*>& info) { return info.param; }

TEST_P(ListPeerTest, AddingWithTheRightPasswordStoresServerAndPasswordAndConnectsTheWindow) {
    SKIP_WITHOUT_KEYRING();
    SKIP_WITHOUT_PEER(p);
    const std::string url = typedUrl();
    const std::string id = idFor(url, p.user);
    keys.add(url, id);

    QPointer<SingleServiceViewController> form = openAddForm();
    ASSERT_TRUE(form);
    pickProtocol(form);
    fill(form, {"My site", url, p.user, p.password, std::string("2121x")});
    form->apply_btn->click();

    // Waiting: spinner, Apply off, the line shown, the rest faded.
    ASSERT_TRUE(waitFor([&] { return form && form->spinner->isAnimating(); }, 5000));
    EXPECT_FALSE(form->apply_btn->isEnabled());
    EXPECT_FALSE(form->authenticating_lbl->isHidden());
    EXPECT_EQ(ui::alpha(form->authenticating_lbl), 1.0);
    EXPECT_EQ(ui::alpha(form->element_ui_dict.at(Field::server_url)), 0.5);
    EXPECT_EQ(ui::alpha(form->add_service_type), 0.5);
    EXPECT_EQ(ui::alpha(form->spinner), 1.0);

    // Stored once, with the form's id; the password in the keychain; the list closed the form.
    ASSERT_TRUE(waitFor([&] { return !recordsWithId(id).empty(); }, 30000));
    ASSERT_EQ(app_services_manager().appServicesModel->saved_services.size(), 1u);
    auto record = recordsWithId(id).front();
    EXPECT_EQ(record->url, url);
    EXPECT_EQ(record->username, p.user);
    EXPECT_EQ(record->nickname, "My site");
    EXPECT_EQ(record->port, std::optional<int64_t>(2121));
    EXPECT_EQ(record->connection_type, opstest::typeOf(p));
    EXPECT_EQ(keychainPassword(url, p.user), p.password);
    ASSERT_TRUE(waitFor([&] { return servicesFileText().find(id) != std::string::npos; }));
    ASSERT_TRUE(waitFor([&] { return list->presentedViewController() == nullptr; }));
    ASSERT_TRUE(waitFor([&] { return list->services_tableView->numberOfRows() == 1; }));

    // The window connects to it.
    ASSERT_TRUE(waitFor([&] { return window->my_session_info->connected; }, 30000))
        << "the window did not connect";
    EXPECT_EQ(window->my_session_info->service_id, id);
    ASSERT_TRUE(window->service);
    EXPECT_EQ(window->service->id, id);
    EXPECT_FALSE(alertOn(window->fileView_controller.get()));
}

TEST_P(ListPeerTest, APortTypedInTheFormConnectsAndIsStoredInTheUrl) {
    SKIP_WITHOUT_KEYRING();
    SKIP_WITHOUT_PEER(p);
    // The address without its port; the server's port typed in the Port field.
    const std::string withPort = typedUrl();
    const std::string portText = ":" + std::to_string(p.port);
    const size_t at = withPort.find(portText);
    ASSERT_NE(at, std::string::npos) << withPort;
    const std::string typed = withPort.substr(0, at) + withPort.substr(at + portText.size());
    const std::string id = idFor(withPort, p.user);
    keys.add(withPort, id);
    keys.add(typed, idFor(typed, p.user));

    QPointer<SingleServiceViewController> form = openAddForm();
    ASSERT_TRUE(form);
    pickProtocol(form);
    fill(form, {"Ported", typed, p.user, p.password, std::to_string(p.port)});
    form->apply_btn->click();

    ASSERT_TRUE(waitFor([&] { return !recordsWithId(id).empty(); }, 30000))
        << "no record stored under the address with its port";
    auto record = recordsWithId(id).front();
    EXPECT_EQ(record->url, withPort);
    EXPECT_EQ(record->port, std::optional<int64_t>(p.port));
    EXPECT_EQ(keychainPassword(withPort, p.user), p.password);
    ASSERT_TRUE(waitFor([&] { return window->my_session_info->connected; }, 30000)) << "the window did not connect";
    EXPECT_EQ(window->my_session_info->service_id, id);
    EXPECT_FALSE(alertOn(window->fileView_controller.get()));
    ASSERT_TRUE(waitFor([&] { return list->presentedViewController() == nullptr; }));

    // Editing it shows the stored port.
    reloadList();
    QPointer<SingleServiceViewController> edit = openEditForm(0);
    ASSERT_TRUE(edit);
    EXPECT_EQ(field(edit, Field::server_url)->text().toStdString(), withPort);
    EXPECT_EQ(field(edit, Field::port)->text().toStdString(), std::to_string(p.port));
}

TEST_P(ListPeerTest, AWrongPasswordStoresNothing) {
    SKIP_WITHOUT_KEYRING();
    SKIP_WITHOUT_PEER(p);
    const std::string url = typedUrl();
    keys.add(url, idFor(url, p.user));

    QPointer<SingleServiceViewController> form = openAddForm();
    ASSERT_TRUE(form);
    pickProtocol(form);
    fill(form, {"Wrong", url, p.user, "not-" + p.password, std::nullopt});
    form->apply_btn->click();
    ui::AlertController* alert = awaitAlert(form);
    ASSERT_TRUE(alert) << "no error shown";
    EXPECT_EQ(alert->alertTitle(), "An Error Occurred");
    ASSERT_EQ(alert->actions().size(), 1u);
    EXPECT_EQ(alert->actions()[0]->title(), "OK");
    ASSERT_TRUE(waitFor([&] { return idle(form); }));
    ASSERT_TRUE(choose(form, "OK"));

    ASSERT_TRUE(testsupport::settleMainQueue(3));
    EXPECT_TRUE(app_services_manager().appServicesModel->saved_services.empty());
    EXPECT_EQ(keychainPassword(url, p.user), std::nullopt);
    EXPECT_EQ(servicesFileText().find(idFor(url, p.user)), std::string::npos);
    EXPECT_FALSE(window->my_session_info->connected);
    EXPECT_EQ(list->presentedViewController(), form.data());  // the form stays with its entries
    EXPECT_EQ(field(form, Field::server_url)->text().toStdString(), url);
}

TEST_P(ListPeerTest, DuplicateInAddModeCancelKeepsAllAndUpdateStoresOneRecordWithTheNewPassword) {
    SKIP_WITHOUT_KEYRING();
    SKIP_WITHOUT_PEER(p);
    const std::string url = typedUrl();
    const std::string id = idFor(url, p.user);
    storeServer(url, p.user, opstest::typeOf(p), "an-old-password", "Old name");
    reloadList();

    QPointer<SingleServiceViewController> form = openAddForm();
    ASSERT_TRUE(form);
    pickProtocol(form);
    fill(form, {"New name", url, p.user, p.password, std::string("990")});

    // Cancel: nothing changes, the form waits no more.
    form->apply_btn->click();
    ui::AlertController* prompt = awaitAlert(form);
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->alertTitle(), "Duplicate Found...");
    EXPECT_EQ(prompt->message(),
              "Duplicate found: Your desktop keyring already has that account saved. Would you like us to update it?");
    ASSERT_EQ(prompt->actions().size(), 2u);
    EXPECT_EQ(prompt->actions()[0]->title(), "Update");
    EXPECT_EQ(prompt->actions()[0]->style(), ui::AlertActionStyle::default_);
    EXPECT_EQ(prompt->actions()[1]->title(), "Cancel");
    EXPECT_EQ(prompt->actions()[1]->style(), ui::AlertActionStyle::destructive);
    ASSERT_TRUE(choose(form, "Cancel"));
    ASSERT_TRUE(waitFor([&] { return idle(form); }));
    EXPECT_EQ(keychainPassword(url, p.user), "an-old-password");
    ASSERT_EQ(recordsWithId(id).size(), 1u);
    EXPECT_EQ(recordsWithId(id).front()->nickname, "Old name");

    // Update: the new password, the one record updated (never a second one), the window connected.
    form->apply_btn->click();
    ASSERT_TRUE(awaitAlert(form));
    ASSERT_TRUE(choose(form, "Update"));
    ASSERT_TRUE(waitFor([&] { return keychainPassword(url, p.user) == p.password; }, 30000));
    ASSERT_TRUE(waitFor([&] { return window->my_session_info->connected; }, 30000)) << "the window did not connect";
    ASSERT_TRUE(testsupport::settleMainQueue(3));  // a second record would have come by now
    EXPECT_EQ(app_services_manager().appServicesModel->saved_services.size(), 1u);
    ASSERT_EQ(recordsWithId(id).size(), 1u);
    EXPECT_EQ(recordsWithId(id).front()->nickname, "New name");
    EXPECT_EQ(recordsWithId(id).front()->port, std::optional<int64_t>(990));
    EXPECT_EQ(window->my_session_info->service_id, id);
    EXPECT_TRUE(waitFor([&] { return servicesFileText().find("New name") != std::string::npos; }));
}

// A password typed in the edit form replaces the saved one: the server's own keyring entry is
// updated, never put to the user as a duplicate.
TEST_P(ListPeerTest, EditWithANewPasswordReplacesTheSavedOneAndStoresTheEditedRecord) {
    SKIP_WITHOUT_KEYRING();
    SKIP_WITHOUT_PEER(p);
    const std::string url = typedUrl();
    const std::string id = idFor(url, p.user);
    storeServer(url, p.user, opstest::typeOf(p), "stale-password", "Before");
    storeServer("ftp://127.0.0.1:1", "other", Type::ftp, "", "Other");
    reloadList();

    QPointer<SingleServiceViewController> form = openEditForm(0);
    ASSERT_TRUE(form);
    EXPECT_EQ(field(form, Field::server_url)->text().toStdString(), url);
    field(form, Field::nickname)->setText("After");
    field(form, Field::password)->setText(QString::fromStdString(p.password));
    form->apply_btn->click();

    // The keychain holds what was typed; the record is edited (id and dates kept) and moves last.
    ASSERT_TRUE(waitFor([&] { return keychainPassword(url, p.user) == p.password || alertOn(form); }, 30000));
    ASSERT_FALSE(alertOn(form)) << alertOn(form)->message().toStdString();
    ASSERT_TRUE(waitFor([&] { return servicesFileText().find("After") != std::string::npos; }, 10000));
    ASSERT_EQ(recordsWithId(id).size(), 1u);
    EXPECT_EQ(recordsWithId(id).front()->nickname, "After");
    EXPECT_EQ(app_services_manager().appServicesModel->saved_services.back()->id, id);
    EXPECT_EQ(app_services_manager().appServicesModel->saved_services.size(), 2u);
    ASSERT_TRUE(waitFor([&] { return list->presentedViewController() == nullptr; }));
}

// Left blank, the edit form's password field keeps the saved password: its hint says one is
// saved, the login is checked with it and the keyring is not written. The window connected to
// the server takes the edited nickname, web root and Site URL at once, and keeps its connection.
// Moved to another address with the field blank, the server takes its saved password along.
TEST_F(ListTest, EditingWithTheSavedPasswordKeepsItAndTheConnectedWindowTakesTheNewSettings) {
    SKIP_WITHOUT_KEYRING();
    Peer p = peer("pyftpd");
    SKIP_WITHOUT_PEER(p);
    const std::string url = p.url;
    const std::string id = idFor(url, p.user);
    auto record = storeServer(url, p.user, Type::ftp, p.password, "Before");
    record->web_root = "/old";
    reloadList();
    ASSERT_TRUE(row(0));
    QTest::mouseClick(row(0)->server_name_lbl, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return window->my_session_info->connected; }, 30000)) << "the window did not connect";
    ASSERT_TRUE(window->service);
    EXPECT_EQ(window->service->web_root, std::optional<std::string>("/old"));
    QSignalSpy changed(window, &VornFileViewerSceneDelegateProtocol::serviceSettingsChanged);

    QPointer<SingleServiceViewController> form = openEditForm(0);
    ASSERT_TRUE(form);
    ASSERT_TRUE(waitFor([&] { return form->password_saved(); }));
    EXPECT_TRUE(field(form, Field::password)->text().isEmpty());
    EXPECT_EQ(field(form, Field::password)->placeholderText().toStdString(), ServerFormModel::kSavedPasswordHint);
    field(form, Field::nickname)->setText("After");
    field(form, Field::web_root)->setText("/www");
    field(form, Field::site_url)->setText("http://127.0.0.1:1/");
    form->apply_btn->click();
    ASSERT_TRUE(waitFor([&] { return changed.count() == 1 || (form && alertOn(form)); }, 30000));
    ASSERT_FALSE(form && alertOn(form)) << alertOn(form)->message().toStdString();
    EXPECT_EQ(record->nickname, "After");
    EXPECT_EQ(keychainPassword(url, p.user), p.password);
    EXPECT_EQ(window->service->nickname, "After");
    EXPECT_EQ(window->service->web_root, std::optional<std::string>("/www"));
    EXPECT_EQ(window->service->site_url, std::optional<std::string>("http://127.0.0.1:1/"));
    EXPECT_NE(window->service, record);  // the window's own record, not the store's
    EXPECT_TRUE(window->my_session_info->connected);
    EXPECT_EQ(window->fileView_controller->quickConnectView->serverConnectionStatus_Lbl->text(), "After");
    ASSERT_TRUE(waitFor([&] { return list->presentedViewController() == nullptr; }));

    // Another address text for the same server (a trailing "/"), the password left blank.
    const std::string moved = url + "/";
    keys.add(moved, idFor(moved, p.user));
    reloadList();
    form = openEditForm(0);
    ASSERT_TRUE(form);
    field(form, Field::server_url)->setText(QString::fromStdString(moved));
    form->apply_btn->click();
    ASSERT_TRUE(waitFor([&] { return record->url == moved || (form && alertOn(form)); }, 30000));
    ASSERT_FALSE(form && alertOn(form)) << alertOn(form)->message().toStdString();
    ASSERT_TRUE(waitFor([&] { return keychainPassword(moved, p.user) == p.password; }, 20000));
    ASSERT_TRUE(waitFor([&] { return !keychainPassword(url, p.user); }, 20000)) << "the old password was left behind";
    // The live connection keeps the address it has: the new one is used from the next one.
    EXPECT_EQ(window->service->url, url);
    ASSERT_TRUE(waitFor([&] { return list->presentedViewController() == nullptr; }));
}

TEST_P(ListPeerTest, ChoosingARowOnTheWelcomeScreenConnectsAndKeepsTheList) {
    SKIP_WITHOUT_KEYRING();
    SKIP_WITHOUT_PEER(p);
    const std::string url = typedUrl();
    storeServer(url, p.user, opstest::typeOf(p), p.password, "Pick me");
    reloadList();
    ASSERT_TRUE(row(0));
    QTest::mouseClick(row(0)->server_name_lbl, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return window->my_session_info->connected; }, 30000)) << "the window did not connect";
    EXPECT_EQ(window->my_session_info->service_id, idFor(url, p.user));
    EXPECT_TRUE(list->isViewLoaded());
    EXPECT_EQ(list->services_tableView->indexPathForSelectedRow(), std::optional<int>(0));
    EXPECT_FALSE(alertOn(window->fileView_controller.get()));
}

TEST_P(ListPeerTest, EditingTheAddressMovesThePasswordAndKeepsTheRecordsId) {
    SKIP_WITHOUT_KEYRING();
    SKIP_WITHOUT_PEER(p);
    // The same server under another address text (a trailing "/"): a new keychain account.
    const std::string before = typedUrl();
    const std::string after = before + "/";
    const std::string id = idFor(before, p.user);
    auto record = storeServer(before, p.user, opstest::typeOf(p), p.password, "Moved");
    keys.add(after, idFor(after, p.user));
    reloadList();

    QPointer<SingleServiceViewController> form = openEditForm(0);
    ASSERT_TRUE(form);
    field(form, Field::server_url)->setText(QString::fromStdString(after));
    field(form, Field::password)->setText(QString::fromStdString(p.password));
    form->apply_btn->click();

    ASSERT_TRUE(waitFor([&] { return record->url == after; }, 30000)) << "the record was not edited";
    EXPECT_EQ(record->id, id);  // the record keeps its identity
    ASSERT_EQ(recordsWithId(id).size(), 1u);
    EXPECT_EQ(keychainPassword(after, p.user), p.password);
    // The password under the old address is no longer anyone's: it goes.
    ASSERT_TRUE(waitFor([&] { return !keychainPassword(before, p.user); }, 20000)) << "the old password was left behind";
    ASSERT_TRUE(waitFor([&] { return servicesFileText().find(after) != std::string::npos; }));
    EXPECT_TRUE(waitFor([&] { return list->presentedViewController() == nullptr; }));
}

TEST_P(ListPeerTest, AddingTheOldAddressOfAnEditedServerAddsAServerAndLeavesTheEditedOneAlone) {
    SKIP_WITHOUT_KEYRING();
    SKIP_WITHOUT_PEER(p);
    // A server moved to another address text keeps the id of its first address.
    const std::string before = typedUrl();
    const std::string after = before + "/";
    const std::string oldId = idFor(before, p.user);
    auto edited = storeServer(before, p.user, opstest::typeOf(p), p.password, "Edited");
    keys.add(after, idFor(after, p.user));
    reloadList();
    QPointer<SingleServiceViewController> form = openEditForm(0);
    ASSERT_TRUE(form);
    field(form, Field::server_url)->setText(QString::fromStdString(after));
    field(form, Field::password)->setText(QString::fromStdString(p.password));
    form->apply_btn->click();
    ASSERT_TRUE(waitFor([&] { return edited->url == after; }, 30000)) << "the record was not edited";
    ASSERT_TRUE(waitFor([&] { return !keychainPassword(before, p.user); }, 20000));
    ASSERT_TRUE(waitFor([&] { return list->presentedViewController() == nullptr; }));
    reloadList();

    // Then a new server with the old address and user name: the add form's id is taken.
    QPointer<SingleServiceViewController> add = openAddForm();
    ASSERT_TRUE(add);
    pickProtocol(add);
    fill(add, {"Added", before, p.user, p.password, std::nullopt});
    add->apply_btn->click();
    ASSERT_TRUE(waitFor([&] { return list->presentedViewController() == nullptr; }, 30000)) << "the form stayed";
    ASSERT_TRUE(waitFor([&] { return window->my_session_info->connected; }, 30000));

    // Two servers: the edited one as the edit left it, its password still in the keyring, and the
    // new one under an id of its own, which the window is connected to.
    const auto& servers = app_services_manager().appServicesModel->saved_services;
    ASSERT_EQ(servers.size(), 2u);
    EXPECT_EQ(edited->id, oldId);
    EXPECT_EQ(edited->url, after);
    EXPECT_EQ(edited->nickname, "Edited");
    EXPECT_EQ(keychainPassword(after, p.user), p.password) << "the edited server lost its password";
    auto added = servers[0] == edited ? servers[1] : servers[0];
    EXPECT_EQ(added->url, before);
    EXPECT_EQ(added->nickname, "Added");
    EXPECT_NE(added->id, oldId);
    EXPECT_EQ(recordsWithId(oldId).size(), 1u);
    EXPECT_EQ(recordsWithId(added->id).size(), 1u);
    EXPECT_EQ(keychainPassword(before, p.user), p.password);
    EXPECT_EQ(window->my_session_info->service_id, added->id);
    EXPECT_TRUE(waitFor([&] { return servicesFileText().find("\"Added\"") != std::string::npos &&
                                     servicesFileText().find("\"Edited\"") != std::string::npos; }));
}

// The whole road of an address typed with a blank: the form, Apply, a new launch that reads the
// stores again, the connect and the listing of the folder.
TEST_P(ListPeerTest, AnAddressTypedWithABlankIsSavedConnectedAfterANewLaunchAndListed) {
    SKIP_WITHOUT_KEYRING();
    SKIP_WITHOUT_PEER(p);
    filestest::makeDiskFolder(p.root / "web files");
    testsupport::writeFile(p.root / "web files" / "inside.html", "<p>in</p>");
    const std::string typed = typedUrl() + "web files/";
    std::string escaped = typed;
    escaped.replace(escaped.find("web files"), 9, "web%20files");
    keys.add(escaped, idFor(escaped, p.user));
    keys.add(typed, idFor(typed, p.user));

    QPointer<SingleServiceViewController> form = openAddForm();
    ASSERT_TRUE(form);
    pickProtocol(form);
    fill(form, {"Blank", typed, p.user, p.password, std::nullopt});
    form->apply_btn->click();
    ASSERT_TRUE(waitFor([&] { return window->my_session_info->connected || alertOn(window->fileView_controller.get()) ||
                                     (form && alertOn(form)); }, 30000));
    ASSERT_TRUE(window->my_session_info->connected)
        << "the window did not connect: "
        << (alertOn(window->fileView_controller.get()) ? alertOn(window->fileView_controller.get())->message().toStdString()
            : form && alertOn(form)                    ? alertOn(form)->message().toStdString()
                                                       : std::string("no alert"));
    EXPECT_TRUE(waitFor([&] { return listed("inside.html"); }, 30000));
    // Stored as the app connects to it.
    ASSERT_EQ(app_services_manager().appServicesModel->saved_services.size(), 1u);
    const auto saved = app_services_manager().appServicesModel->saved_services.front();
    EXPECT_EQ(saved->url, escaped);
    ASSERT_TRUE(waitFor([&] { return servicesFileText().find("web%20files") != std::string::npos; }));
    const std::string id = saved->id;

    // A new launch: the store read from its file, a new window, the saved server chosen.
    app_services_manager().appServicesModel = std::make_shared<VornServicesDataModel>();
    app_services_manager().load_services(servicesFile);
    ASSERT_EQ(app_services_manager().appServicesModel->saved_services.size(), 1u);
    ui::Scene* scene = open(SceneKind::server_viewer);
    ASSERT_TRUE(scene);
    window = qobject_cast<FileViewerSceneDelegate*>(scene->delegate());
    ASSERT_TRUE(window);
    const opstest::Connect c = connect(id);
    ASSERT_FALSE(c.error) << c.error->message;
    EXPECT_TRUE(window->my_session_info->connected);
    EXPECT_TRUE(waitFor([&] { return listed("inside.html"); }, 30000)) << "the folder was not listed";
}

INSTANTIATE_TEST_SUITE_P(Peers, ListPeerTest, ::testing::Values("pyftpd", "vsftpd", "apache", "sshd"), peerName);

// ---- deleting ------------------------------------------------------------------------------------

TEST_F(ListTest, DeleteAsksFirstThenRemovesEveryRecordOfTheServerAndItsPassword) {
    SKIP_WITHOUT_KEYRING();
    const std::string url = "ftp://127.0.0.1:1/" + keyringtest::unique("gone");
    const std::string id = idFor(url, "dora");
    storeServer(url, "dora", Type::ftp, "secret", "Gone soon", 2);
    storeServer("ftp://127.0.0.1:1/stays", "ed", Type::ftp, "", "Stays");
    reloadList();
    ASSERT_EQ(keychainPassword(url, "dora"), "secret");

    QPointer<SingleServiceViewController> form = openEditForm(0);
    ASSERT_TRUE(form);
    // "Cancel" keeps everything.
    form->delete_btn->click();
    ui::AlertController* ask = awaitAlert(form, 5000);
    ASSERT_TRUE(ask);
    EXPECT_EQ(ask->alertTitle(), "Delete this service?");
    EXPECT_EQ(ask->message(), "Are you sure you want to delete this service?");
    ASSERT_EQ(ask->actions().size(), 2u);
    EXPECT_EQ(ask->actions()[0]->title(), "Delete");
    EXPECT_EQ(ask->actions()[0]->style(), ui::AlertActionStyle::destructive);
    EXPECT_EQ(ask->actions()[1]->title(), "Cancel");
    EXPECT_EQ(ask->actions()[1]->style(), ui::AlertActionStyle::cancel);
    ASSERT_TRUE(choose(form, "Cancel"));
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    EXPECT_EQ(recordsWithId(id).size(), 2u);

    // "Delete": both records, the file's entry and the password go; the other server stays.
    form->delete_btn->click();
    ASSERT_TRUE(awaitAlert(form, 5000));
    ASSERT_TRUE(choose(form, "Delete"));
    ASSERT_TRUE(waitFor([&] { return recordsWithId(id).empty(); }));
    ASSERT_TRUE(waitFor([&] { return !servicesFileText().empty() && servicesFileText().find(id) == std::string::npos; }));
    EXPECT_NE(servicesFileText().find("Stays"), std::string::npos);
    ASSERT_TRUE(waitFor([&] { return !keychainPassword(url, "dora"); }, 20000)) << "the password was left behind";
    ASSERT_TRUE(waitFor([&] { return list->presentedViewController() == nullptr; }));
    ASSERT_TRUE(waitFor([&] { return list->services_tableView->numberOfRows() == 1; }));
}

// ---- the separate manage-services window -------------------------------------------------------------

TEST_F(ListTest, InItsOwnWindowCloseAndARowCloseTheWindow) {
    declare<ManageServicesScene, ManageServicesSceneDelegate>(SceneKind::manage_services);
    app_services_manager().appServicesModel->saved_services.push_back(std::make_shared<VornSingleServiceDataModel>());
    for (const char* how : {"close", "row"}) {
        SCOPED_TRACE(how);
        const QVariantMap info{{"file_controller_window_id", QString::fromStdString(
                                                                 window->my_session_info->static_window_file_id)}};
        ui::Scene* scene = open(SceneKind::manage_services, info);
        ASSERT_TRUE(scene);
        auto* own = dynamic_cast<ManageServicesViewController*>(scene->windows().first()->rootViewController());
        ASSERT_TRUE(own);
        EXPECT_FALSE(own->close_btn->isHidden());
        ASSERT_TRUE(waitFor([&] { return own->services_tableView->numberOfRows() == 1; }));
        const int before = disconnected;
        if (std::string(how) == "close") QTest::mouseClick(own->close_btn, Qt::LeftButton);
        else own->services_tableView->selectRowFromUser(0);
        EXPECT_TRUE(waitFor([&] { return disconnected == before + 1; })) << "the window stayed";
        settle();
    }
    EXPECT_FALSE(window->my_session_info->connected);  // no window link: nothing connects
}

TEST_F(ListTest, RefreshOnTheWelcomeScreenEndsWithTheWindowsRebuild) {
    list->services_tableView->setFocus();
    QTest::keyClick(list->services_tableView, Qt::Key_F5);
    EXPECT_TRUE(list->refreshControl->isRefreshing());
    EXPECT_TRUE(list->refreshControl->isVisible());
    // The explorer re-embeds the list a second later, which ends the refreshing.
    ASSERT_TRUE(waitFor([&] { return !list->refreshControl->isRefreshing(); }, 5000));
    EXPECT_TRUE(list->isViewInWindow());

    // Without a window link (the list's own window) the list reloads itself and stops spinning.
    list->scene_file_delegatex = nullptr;
    app_services_manager().appServicesModel->saved_services.push_back(std::make_shared<VornSingleServiceDataModel>());
    const int reloads = list->reload_count();
    list->refreshControl->beginRefreshingFromUser();
    ASSERT_TRUE(waitFor([&] { return !list->refreshControl->isRefreshing(); }, 3000));
    EXPECT_GT(list->reload_count(), reloads);
    EXPECT_EQ(list->services_tableView->numberOfRows(), 1);
    list->scene_file_delegatex = window;
}

TEST_F(ListTest, TheFormInItsOwnWindowAddsTheServerAndClosesItsWindow) {
    SKIP_WITHOUT_KEYRING();
    Peer p = peer("pyftpd");
    SKIP_WITHOUT_PEER(p);
    declare<SingleServiceScene, SingleServiceSceneDelegate>(SceneKind::single_service);
    const QVariantMap info{{"file_controller_window_id", QString::fromStdString(window->my_session_info->static_window_file_id)}};
    ui::Scene* scene = open(SceneKind::single_service, info);
    ASSERT_TRUE(scene);
    QPointer<SingleServiceViewController> form =
        dynamic_cast<SingleServiceViewController*>(scene->windows().first()->rootViewController());
    ASSERT_TRUE(form);
    EXPECT_EQ(form->scene_file_delegatex.data(), window);
    keys.add(p.url, idFor(p.url, p.user));

    const int before = disconnected;
    fill(form, {"Own window", p.url, p.user, p.password, std::nullopt});
    form->apply_btn->click();
    ASSERT_TRUE(waitFor([&] { return window->my_session_info->connected; }, 30000)) << "the window did not connect";
    EXPECT_EQ(window->my_session_info->service_id, idFor(p.url, p.user));
    EXPECT_EQ(recordsWithId(idFor(p.url, p.user)).size(), 1u);
    EXPECT_TRUE(waitFor([&] { return disconnected == before + 1; })) << "the form's window stayed open";
}

// ---- screenshots ---------------------------------------------------------------------------------

TEST_F(ListTest, Screenshots) {
    // Pictures for a person to look at: <build>/screenshots (or $DRAVIX_SCREENSHOT_DIR).
    QString dir = qEnvironmentVariable("DRAVIX_SCREENSHOT_DIR");
#ifdef DRAVIX_SCREENSHOT_DIR
    if (dir.isEmpty()) dir = QStringLiteral(DRAVIX_SCREENSHOT_DIR);
#endif
    if (dir.isEmpty()) GTEST_SKIP() << "no folder for the screenshots";
    QDir().mkpath(dir);
    storeServer("ftp://ftp.example.com", "webmaster", Type::ftp, "", "My Website");
    storeServer("webdav://dav.example.org/site/", "anna", Type::webDav, "", "");
    reloadList();
    QTest::qWait(1500);  // the explorer's welcome rebuild
    reloadList();
    QWidget* top = list->view()->window();
    const QImage light = top->grab().toImage();
    ASSERT_TRUE(light.save(dir + "/welcome_two_servers.png"));
    EXPECT_GE(pictures::colours(pictures::partOf(light, top, list->view())), 3) << "the list is drawn";

    QPointer<SingleServiceViewController> form = openAddForm();
    ASSERT_TRUE(form);
    fill(form, {"My Website", "ftp://ftp.example.com", "webmaster", "secret", std::nullopt});
    QTest::qWait(300);
    const QImage added = form->view()->window()->grab().toImage();
    ASSERT_TRUE(added.save(dir + "/server_form_add.png"));
    EXPECT_GE(pictures::colours(added), 3) << "the form is drawn";
    list->dismissViewControllerAnimated(false);
    settle();

    QPointer<SingleServiceViewController> edit = openEditForm(1);
    ASSERT_TRUE(edit);
    QTest::qWait(300);
    const QImage edited = edit->view()->window()->grab().toImage();
    ASSERT_TRUE(edited.save(dir + "/server_form_edit.png"));
    EXPECT_GE(pictures::colours(edited), 3) << "the form is drawn";
    list->dismissViewControllerAnimated(false);
    settle();

    // The same in the dark appearance.
    auto* viewerWindow = dynamic_cast<ui::Window*>(top);
    ASSERT_TRUE(viewerWindow);
    viewerWindow->setOverrideUserInterfaceStyle(ui::InterfaceStyle::dark);
    QTest::qWait(300);
    const QImage dark = top->grab().toImage();
    ASSERT_TRUE(dark.save(dir + "/welcome_two_servers_dark.png"));
    EXPECT_LT(pictures::lightness(dark), pictures::lightness(light) - 0.2) << "the dark appearance is darker";
    QPointer<SingleServiceViewController> darkForm = openAddForm();
    ASSERT_TRUE(darkForm);
    QTest::qWait(300);
    const QImage darkAdded = darkForm->view()->window()->grab().toImage();
    ASSERT_TRUE(darkAdded.save(dir + "/server_form_add_dark.png"));
    EXPECT_LT(pictures::lightness(darkAdded), pictures::lightness(added) - 0.2) << "the dark form is darker";
}

}  // namespace
