// Anchor layout: constraints solved into widget geometry.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>
#include <QWidget>

#include "platform/ui/Layout.h"

using namespace ui;

namespace {

ConstraintRef pin(QWidget* v, Attribute a, QWidget* target, Attribute ta, double c) {
    auto k = makeConstraint(v, a, Relation::equal, itemOf(target), ta, c);
    k->setActive(true);
    return k;
}

ConstraintRef fixed(QWidget* v, Attribute a, double c, Relation r = Relation::equal) {
    auto k = makeConstraint(v, a, r, c);
    k->setActive(true);
    return k;
}

}  // namespace

TEST(Layout, EdgesAndSizesPlaceAViewInItsContainer) {
    QWidget root;
    root.resize(400, 300);
    QWidget bar(&root);
    pin(&bar, Attribute::top, &root, Attribute::top, 10);
    pin(&bar, Attribute::left, &root, Attribute::left, 20);
    pin(&bar, Attribute::right, &root, Attribute::right, -20);
    fixed(&bar, Attribute::height, 44);
    layoutIfNeeded(&root);
    EXPECT_EQ(bar.geometry(), QRect(20, 10, 360, 44));
}

TEST(Layout, SiblingChainsAndCentring) {
    // A header across the top, a 44x44 button 10 points left of a 44x44 sort button on the
    // right, both 20 below the header; a label centred under them.
    QWidget root;
    root.resize(300, 500);
    QWidget header(&root), sort(&root), add(&root), label(&root);
    pin(&header, Attribute::top, &root, Attribute::top, 0);
    pin(&header, Attribute::width, &root, Attribute::width, 0);
    pin(&header, Attribute::centerX, &root, Attribute::centerX, 0);
    fixed(&header, Attribute::height, 60);
    // Declared before the views they depend on, so the solver must wait for them.
    pin(&add, Attribute::right, &sort, Attribute::left, -10);
    pin(&add, Attribute::top, &header, Attribute::bottom, 20);
    fixed(&add, Attribute::width, 44);
    fixed(&add, Attribute::height, 44);
    pin(&sort, Attribute::right, &root, Attribute::right, -10);
    pin(&sort, Attribute::top, &header, Attribute::bottom, 20);
    fixed(&sort, Attribute::width, 44);
    fixed(&sort, Attribute::height, 44);
    pin(&label, Attribute::centerX, &root, Attribute::centerX, 0);
    pin(&label, Attribute::top, &add, Attribute::bottom, 5);
    fixed(&label, Attribute::width, 120);
    fixed(&label, Attribute::height, 20);
    layoutIfNeeded(&root);
    EXPECT_EQ(header.geometry(), QRect(0, 0, 300, 60));
    EXPECT_EQ(sort.geometry(), QRect(246, 80, 44, 44));
    EXPECT_EQ(add.geometry(), QRect(192, 80, 44, 44));
    EXPECT_EQ(label.geometry(), QRect(90, 129, 120, 20));
}

TEST(Layout, OneEdgeUsesTheSizeHintBoundedByInequalities) {
    QWidget root;
    root.resize(400, 300);
    QLabel label(QStringLiteral("A fairly long line of text for the hint"), &root);
    pin(&label, Attribute::left, &root, Attribute::left, 10);
    pin(&label, Attribute::top, &root, Attribute::top, 10);
    layoutIfNeeded(&root);
    EXPECT_EQ(label.width(), label.sizeHint().width());
    EXPECT_EQ(label.height(), label.sizeHint().height());

    auto limit = fixed(&label, Attribute::width, 50, Relation::lessThanOrEqual);
    layoutIfNeeded(&root);
    EXPECT_EQ(label.width(), 50);
    limit->setActive(false);
    fixed(&label, Attribute::width, 900, Relation::greaterThanOrEqual);
    layoutIfNeeded(&root);
    EXPECT_EQ(label.width(), 900);
}

TEST(Layout, ConstantChangesAndDeactivationSolveAgain) {
    QWidget root;
    root.resize(200, 200);
    QWidget box(&root);
    auto top = pin(&box, Attribute::top, &root, Attribute::top, 10);
    pin(&box, Attribute::bottom, &root, Attribute::bottom, -10);
    pin(&box, Attribute::left, &root, Attribute::left, 0);
    fixed(&box, Attribute::width, 50);
    layoutIfNeeded(&root);
    EXPECT_EQ(box.geometry(), QRect(0, 10, 50, 180));
    top->setConstant(50);
    layoutIfNeeded(&root);
    EXPECT_EQ(box.geometry(), QRect(0, 50, 50, 140));
    top->setActive(false);
    EXPECT_EQ(constraintsOf(&box).size(), 3u);
    fixed(&box, Attribute::height, 20);
    layoutIfNeeded(&root);
    EXPECT_EQ(box.geometry(), QRect(0, 170, 50, 20));
}

TEST(Layout, ResizingTheContainerSolvesOnItsOwn) {
    QWidget root;
    root.resize(200, 100);
    QWidget fill(&root);
    pin(&fill, Attribute::width, &root, Attribute::width, 0);
    pin(&fill, Attribute::height, &root, Attribute::height, 0);
    pin(&fill, Attribute::centerX, &root, Attribute::centerX, 0);
    pin(&fill, Attribute::centerY, &root, Attribute::centerY, 0);
    root.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fill.geometry() == QRect(0, 0, 200, 100); }, 2000));
    root.resize(320, 240);
    EXPECT_TRUE(QTest::qWaitFor([&] { return fill.geometry() == QRect(0, 0, 320, 240); }, 2000));
}

TEST(Layout, AViewAddedLaterIsPlacedByItsNewContainer) {
    QWidget root;
    root.resize(200, 100);
    auto* box = new QWidget;
    fixed(box, Attribute::width, 30);
    fixed(box, Attribute::height, 40);
    EXPECT_EQ(constraintsOf(box).size(), 2u);
    box->setParent(&root);
    pin(box, Attribute::right, &root, Attribute::right, -5);
    pin(box, Attribute::bottom, &root, Attribute::bottom, -5);
    layoutIfNeeded(&root);
    EXPECT_EQ(box->geometry(), QRect(165, 55, 30, 40));
}

TEST(Layout, CyclesEndWithoutHanging) {
    QWidget root;
    root.resize(200, 100);
    QWidget a(&root), b(&root);
    a.setGeometry(1, 2, 3, 4);
    b.setGeometry(5, 6, 7, 8);
    pin(&a, Attribute::left, &b, Attribute::right, 1);
    pin(&b, Attribute::left, &a, Attribute::right, 1);
    layoutIfNeeded(&root);  // returns; places both from what was there
    SUCCEED();
}

TEST(Layout, NestedContainersSolveTopDown) {
    QWidget root;
    root.resize(300, 300);
    QWidget panel(&root);
    QWidget inner(&panel);
    pin(&panel, Attribute::left, &root, Attribute::left, 10);
    pin(&panel, Attribute::right, &root, Attribute::right, -10);
    pin(&panel, Attribute::top, &root, Attribute::top, 10);
    pin(&panel, Attribute::bottom, &root, Attribute::bottom, -10);
    pin(&inner, Attribute::right, &panel, Attribute::right, -5);
    pin(&inner, Attribute::bottom, &panel, Attribute::bottom, -5);
    fixed(&inner, Attribute::width, 20);
    fixed(&inner, Attribute::height, 20);
    layoutIfNeeded(&root);
    EXPECT_EQ(panel.geometry(), QRect(10, 10, 280, 280));
    EXPECT_EQ(inner.geometry(), QRect(255, 255, 20, 20));
}

TEST(Layout, TranslatesAutoresizingMaskDefaultsToTrue) {
    QWidget w;
    EXPECT_TRUE(translatesAutoresizingMaskIntoConstraints(&w));
    setTranslatesAutoresizingMaskIntoConstraints(&w, false);
    EXPECT_FALSE(translatesAutoresizingMaskIntoConstraints(&w));
}
