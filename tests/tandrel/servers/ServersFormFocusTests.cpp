// The server form's keys that need the display's input focus: where the focus starts, Tab's
// walk through the form, Return and Escape, and the names the assistive technologies read. Its
// own program, run with no other test beside it, since another test's window on the same display
// may take the focus at any moment.
#include <QAccessible>
#include <QApplication>

#include "support/AccessibleTree.h"
#include "tandrel/servers/ListTestSupport.h"

using namespace listtest;

TEST_F(ListTest, SegmentsSetThePort) {
    QPointer<SingleServiceViewController> form = openAddForm();
    ASSERT_TRUE(form);
    field(form, Field::port)->setText("2121");
    pickSegment(form, 1);
    EXPECT_EQ(form->add_service_type->selectedSegmentIndex(), 1);
    EXPECT_EQ(form->add_service_type_selection, Type::webDav);
    EXPECT_EQ(field(form, Field::port)->text(), "80");
    field(form, Field::port)->setText("8443");
    pickSegment(form, 0);
    EXPECT_EQ(form->add_service_type_selection, Type::ftp);
    EXPECT_EQ(field(form, Field::port)->text(), "21");
}

// Each protocol of the switch shows its own example URL and fills in its own port, in an add
// form and in the edit form of a server of that protocol.
TEST_F(ListTest, EachProtocolShowsItsOwnExampleUrl) {
    struct Row {
        int segment;
        Type type;
        const char* placeholder;
        const char* port;
    };
    const Row rows[] = {
        {1, Type::webDav, "http://www.example.com/webdav/", "80"},
        {0, Type::ftp, "ftp://ftp.example.com", "21"},
    };
    QPointer<SingleServiceViewController> form = openAddForm();
    ASSERT_TRUE(form);
    EXPECT_EQ(field(form, Field::server_url)->placeholderText(), "ftp://ftp.example.com");
    for (const Row& r : rows) {
        pickSegment(form, r.segment);
        EXPECT_EQ(form->add_service_type_selection, r.type);
        EXPECT_EQ(field(form, Field::server_url)->placeholderText(), r.placeholder) << r.segment;
        EXPECT_EQ(field(form, Field::port)->text(), r.port) << r.segment;
        EXPECT_EQ(field(form, Field::server_url)->accessibleDescription(), r.placeholder) << r.segment;
    }
    list->dismissViewControllerAnimated(false);
    settle();
    storeServer("http://127.0.0.1:8080/", "user", Type::webDav, "secret", "dav");
    reloadList();
    form = openEditForm(0);
    ASSERT_TRUE(form);
    EXPECT_EQ(form->add_service_type->selectedSegmentIndex(), 1);
    EXPECT_EQ(field(form, Field::server_url)->placeholderText(), "http://www.example.com/webdav/");
    list->dismissViewControllerAnimated(false);
    settle();
}

// The focus starts in the nickname; Tab walks the fields, the buttons, then the protocol above the
// fields, and comes back round; each stop is read by a name, and the form's sheet by its title.
TEST_F(ListTest, FocusStartsInTheFirstFieldAndTabWalksTheForm) {
    for (bool edit : {false, true}) {
        if (edit) storeServer("ftp://127.0.0.1:2121/", "user", Type::ftp, "secret", "site"), reloadList();
        QPointer<SingleServiceViewController> form = edit ? openEditForm(0) : openAddForm();
        ASSERT_TRUE(form);
        QLineEdit* first = field(form, Field::nickname);
        ASSERT_TRUE(waitFor([&] { return first->hasFocus(); })) << "edit " << edit;
        // As the form reads: the protocol switch above the fields, the fields, the buttons.
        std::vector<QWidget*> expected;
        for (Field f : SingleServiceViewController::ui_elements_all_cases()) {
            expected.push_back(field(form, f));
            if (f == Field::port) expected.push_back(form->require_encryption_box);  // the box under the port
        }
        if (edit) expected.push_back(form->delete_btn);
        expected.push_back(form->cancel_btn);
        expected.push_back(form->apply_btn);
        expected.push_back(form->add_service_type);
        expected.push_back(first);
        for (size_t i = 1; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            settle();
            EXPECT_EQ(QApplication::focusWidget(), expected[i]) << "edit " << edit << ", stop " << i;
        }
        for (Field f : SingleServiceViewController::ui_elements_all_cases()) {
            QAccessibleInterface* i = QAccessible::queryAccessibleInterface(field(form, f));
            EXPECT_EQ(i->text(QAccessible::Name).toStdString(), SingleServiceViewController::caption_for(f));
        }
        const QString title = edit ? QStringLiteral("Update Service") : QStringLiteral("Add New Service");
        EXPECT_EQ(QAccessible::queryAccessibleInterface(form->view()->window())->text(QAccessible::Name), title);
        const auto unnamed = testsupport::unnamedButtons(form->view()->window());
        EXPECT_TRUE(unnamed.empty()) << ::testing::PrintToString(unnamed);
        list->dismissViewControllerAnimated(false);
        settle();
    }
}

// Return applies what was typed (here: nothing usable, so the missing-information alert shows);
// Escape cancels the form.
TEST_F(ListTest, ReturnAppliesAndEscapeCancels) {
    QPointer<SingleServiceViewController> form = openAddForm();
    ASSERT_TRUE(form);
    QLineEdit* first = field(form, Field::nickname);
    ASSERT_TRUE(waitFor([&] { return first->hasFocus(); }));
    QTest::keyClick(first, Qt::Key_Return);
    ui::AlertController* alert = awaitAlert(form, 5000);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->alertTitle(), QStringLiteral("Missing Information..."));
    ASSERT_TRUE(choose(form, QStringLiteral("Try again...")));
    ASSERT_TRUE(waitFor([&] { return idle(form); }));

    form->view()->window()->activateWindow();
    first->setFocus();
    ASSERT_TRUE(waitFor([&] { return first->hasFocus(); }));
    QTest::keyClick(first, Qt::Key_Escape);
    EXPECT_TRUE(waitFor([&] { return list->presentedViewController() == nullptr; }));
}
