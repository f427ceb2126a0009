// The server form's keys that need the display's input focus: Tab, which a shortcut of the
// active window keeps in its field. Its own program, run with no other test beside it, since
// another test's window on the same display may take the focus at any moment.
#include "tandrel/servers/ListTestSupport.h"

using namespace listtest;

TEST_F(ListTest, SegmentsSetThePortAndTabDoesNothing) {
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

    QLineEdit* user = field(form, Field::username);
    form->view()->window()->activateWindow();
    user->setFocus();
    ASSERT_TRUE(waitFor([&] { return user->hasFocus(); }));
    QTest::keyClick(user, Qt::Key_Tab);
    settle();
    EXPECT_TRUE(user->hasFocus());
}
