// The layout helpers: which constraint each makes, and the geometry of screens laid out with them.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QScrollArea>

#include "tandrel/foundation/UIViewTandrel.h"

using ui::Attribute;
using ui::LayoutItem;
using ui::Relation;

TEST(LayoutHelpers, WithoutASuperviewOnlySizesApply) {
    QWidget lone;
    EXPECT_EQ(util_align_top_anchorWithPixel(&lone, 10, true), nullptr);
    EXPECT_TRUE(ui::translatesAutoresizingMaskIntoConstraints(&lone));
    auto width = util_width_anchorWithPixel(&lone, 30);
    ASSERT_NE(width, nullptr);
    EXPECT_TRUE(width->isActive());
    EXPECT_EQ(width->firstAttribute(), Attribute::width);
    EXPECT_FALSE(width->secondItem().has_value());
    EXPECT_FALSE(ui::translatesAutoresizingMaskIntoConstraints(&lone));

    QWidget other;
    const auto edges = util_anchor_edges(&other, std::nullopt, std::nullopt, std::nullopt, std::nullopt, 40.0, 50.0);
    ASSERT_EQ(edges.size(), 2u);
    EXPECT_EQ(edges[0]->firstAttribute(), Attribute::width);
    EXPECT_EQ(edges[1]->firstAttribute(), Attribute::height);
    EXPECT_TRUE(util_anchor_edges(&other).empty());
}

TEST(LayoutHelpers, SignsAndTargetsAgainstTheSuperview) {
    QWidget parent;
    QWidget v(&parent);
    struct Case {
        const char* name;
        ui::ConstraintRef c;
        Attribute attribute;
        LayoutItem::Kind target;
        double constant;
    };
    const Case cases[] = {
        {"top safe", util_align_top_anchorWithPixel(&v, 10, true), Attribute::top, LayoutItem::Kind::safeAreaGuide, 10},
        {"top view", util_align_top_anchorWithPixel(&v, 10, false), Attribute::top, LayoutItem::Kind::view, -10},
        {"left safe", util_align_left_anchorWithPixel(&v, 10, true), Attribute::left, LayoutItem::Kind::safeAreaGuide, 10},
        {"left view", util_align_left_anchorWithPixel(&v, 10, false), Attribute::left, LayoutItem::Kind::view, -10},
        {"bottom safe", util_align_bottom_anchorWithPixel(&v, 10, true), Attribute::bottom, LayoutItem::Kind::safeAreaGuide, -10},
        {"bottom view", util_align_bottom_anchorWithPixel(&v, 10, false), Attribute::bottom, LayoutItem::Kind::view, -10},
        {"right safe", util_align_right_anchorWithPixel(&v, 10, true), Attribute::right, LayoutItem::Kind::safeAreaGuide, -10},
        {"right view", util_align_right_anchorWithPixel(&v, 10, false), Attribute::right, LayoutItem::Kind::view, -10},
        {"centre x", util_align_center_x_anchorWithPixel(&v, 3), Attribute::centerX, LayoutItem::Kind::safeAreaGuide, 3},
        {"width", util_fill_width_anchorWithSafe_area(&v, false), Attribute::width, LayoutItem::Kind::view, 0},
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.c, nullptr) << c.name;
        EXPECT_EQ(c.c->firstAttribute(), c.attribute) << c.name;
        ASSERT_TRUE(c.c->secondItem().has_value()) << c.name;
        EXPECT_EQ(c.c->secondItem()->view, &parent) << c.name;
        EXPECT_EQ(c.c->secondItem()->kind, c.target) << c.name;
        EXPECT_EQ(c.c->secondAttribute(), c.attribute) << c.name;
        EXPECT_DOUBLE_EQ(c.c->constant(), c.constant) << c.name;
        EXPECT_TRUE(c.c->isActive()) << c.name;
    }
}

TEST(LayoutHelpers, SignsAgainstAnotherView) {
    QWidget parent;
    QWidget a(&parent), b(&parent);
    struct Case {
        ui::ConstraintRef c;
        Attribute attribute, other;
        double constant;
    };
    const Case cases[] = {
        {util_align_top_anchor_to_bottom_of_viewWithView(&a, &b, 5), Attribute::top, Attribute::bottom, 5},
        {util_align_top_anchor_to_top_of_viewWithView(&a, &b, 5), Attribute::top, Attribute::top, 5},
        {util_align_bottom_anchor_to_bottom_of_viewWithView(&a, &b, 5), Attribute::bottom, Attribute::bottom, -5},
        {util_align_bottom_anchor_to_top_of_viewWithView(&a, &b, 5), Attribute::bottom, Attribute::top, 5},
        {util_align_left_anchor_to_left_of_viewWithView(&a, &b, 5), Attribute::left, Attribute::left, 5},
        {util_align_left_anchor_to_right_of_viewWithView(&a, &b, 5), Attribute::left, Attribute::right, 5},
        {util_align_right_anchor_to_left_of_viewWithView(&a, &b, 5), Attribute::right, Attribute::left, -5},
        {util_align_right_anchor_to_right_of_viewWithView(&a, &b, 5), Attribute::right, Attribute::right, 5},
        {util_align_center_x_anchor_to_center_x_of_viewWithView(&a, &b, 5), Attribute::centerX, Attribute::centerX, 5},
        {util_align_center_y_anchor_to_center_y_of_viewWithView(&a, &b, 5), Attribute::centerY, Attribute::centerY, 5},
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.c, nullptr);
        EXPECT_EQ(c.c->firstAttribute(), c.attribute);
        EXPECT_EQ(c.c->secondItem()->view, &b);
        EXPECT_EQ(c.c->secondAttribute(), c.other);
        EXPECT_DOUBLE_EQ(c.c->constant(), c.constant);
    }
    EXPECT_TRUE(ui::translatesAutoresizingMaskIntoConstraints(&b));  // the other view is untouched
    EXPECT_EQ(util_align_top_anchor_to_bottom_of_viewWithView(&a, nullptr, 5), nullptr);
}

TEST(LayoutHelpers, AScrollAreasContentIsPinnedToItsContentGuide) {
    QScrollArea area;
    const LayoutItem content = ui::contentLayoutGuide(&area);
    QWidget v(content.view);
    auto c = util_align_top_anchorWithPixel(&v, 4, true);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->secondItem()->kind, LayoutItem::Kind::contentGuide);
    EXPECT_EQ(c->secondItem()->view, content.view);
}

TEST(LayoutHelpers, AllSubViewsIsDepthFirstInOrder) {
    QWidget root;
    auto* a = new QWidget(&root);
    auto* a1 = new QWidget(a);
    auto* b = new QWidget(&root);
    EXPECT_EQ(all_sub_views(&root), (QList<QWidget*>{a, a1, b}));
    EXPECT_TRUE(all_sub_views(b).isEmpty());
}

TEST(LayoutHelpers, FileExplorerControlsOnAFileViewerWindow) {
    // The explorer's header, sort and new-item buttons, path bar and table on a 300 x 770 window.
    QWidget root;
    root.resize(300, 770);
    QWidget header(&root), sort(&root), add(&root), path(&root), table(&root);
    util_align_top_anchorWithPixel(&header, 20, true);
    util_align_left_anchorWithPixel(&header, 10, true);
    util_align_right_anchorWithPixel(&header, 10, true);
    util_height_anchorWithPixel(&header, 80);
    util_width_anchorWithPixel(&sort, 44);
    util_height_anchorWithPixel(&sort, 44);
    util_align_right_anchorWithPixel(&sort, 10, true);
    util_align_top_anchor_to_bottom_of_viewWithView(&sort, &header, 20);
    util_width_anchorWithPixel(&add, 44);
    util_height_anchorWithPixel(&add, 44);
    util_align_right_anchor_to_left_of_viewWithView(&add, &sort, 10);
    util_align_top_anchor_to_bottom_of_viewWithView(&add, &header, 20);
    util_height_anchorWithPixel(&path, 44);
    util_align_left_anchorWithPixel(&path, 10, true);
    util_align_right_anchor_to_left_of_viewWithView(&path, &add, 10);
    util_align_top_anchor_to_bottom_of_viewWithView(&path, &header, 20);
    util_align_top_anchor_to_bottom_of_viewWithView(&table, &path, 10);
    util_align_left_anchorWithPixel(&table, 0, false);
    util_align_right_anchorWithPixel(&table, 0, false);
    util_align_bottom_anchorWithPixel(&table, 1, false);
    ui::layoutIfNeeded(&root);
    EXPECT_EQ(header.geometry(), QRect(10, 20, 280, 80));
    EXPECT_EQ(sort.geometry(), QRect(246, 120, 44, 44));
    EXPECT_EQ(add.geometry(), QRect(192, 120, 44, 44));
    EXPECT_EQ(path.geometry(), QRect(10, 120, 172, 44));
    EXPECT_EQ(table.geometry(), QRect(0, 174, 300, 595));
}

TEST(LayoutHelpers, AlertWindowContent) {
    // Icon, title, message and close button of the 320 x 250 alert window.
    QWidget root;
    root.resize(320, 250);
    QLabel icon(&root);
    QLabel title(QStringLiteral("Oops!"), &root);
    QLabel message(QStringLiteral("We're very sorry. Something went wrong. This message is long enough to wrap "
                                  "onto a second line in a window this narrow."),
                   &root);
    QPushButton close(&root);
    title.setWordWrap(true);
    message.setWordWrap(true);
    util_align_top_anchorWithPixel(&icon, 10, true);
    util_width_anchorWithPixel(&icon, 70);
    util_height_anchorWithPixel(&icon, 80);
    util_align_center_x_anchorWithPixel(&icon, 0);
    util_align_top_anchor_to_bottom_of_viewWithView(&title, &icon, 5);
    util_align_left_anchorWithPixel(&title, 10, true);
    util_align_right_anchorWithPixel(&title, 10, true);
    util_align_top_anchor_to_bottom_of_viewWithView(&message, &title, 5);
    util_align_left_anchorWithPixel(&message, 10, true);
    util_align_right_anchorWithPixel(&message, 10, true);
    util_align_top_anchor_to_bottom_of_viewWithView(&close, &message, 15);
    util_width_anchorWithPixel(&close, 120);
    util_height_anchorWithPixel(&close, 30);
    util_align_center_x_anchorWithPixel(&close, 0);
    ui::layoutIfNeeded(&root);
    EXPECT_EQ(icon.geometry(), QRect(125, 10, 70, 80));
    EXPECT_EQ(title.geometry().topLeft(), QPoint(10, 95));
    EXPECT_EQ(title.width(), 300);
    EXPECT_EQ(message.geometry().top(), title.geometry().bottom() + 1 + 5);
    EXPECT_EQ(message.width(), 300);
    // The message wraps: its height is that of its text at 300 points wide.
    EXPECT_EQ(message.height(), message.heightForWidth(300));
    EXPECT_GT(message.height(), title.height());
    EXPECT_EQ(close.geometry(), QRect(100, message.geometry().bottom() + 1 + 15, 120, 30));
}
