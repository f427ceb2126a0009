// The colour palette, the small extensions and widgets, the gradient view and padded label, and
// the row and sort images.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QVariantAnimation>

#include "platform/ui/View.h"
#include "tandrel/foundation/EnumManagerImages.h"
#include "tandrel/foundation/GradientView.h"
#include "tandrel/foundation/PaddingLabel.h"
#include "tandrel/foundation/TandrelExtensions.h"
#include "tandrel/foundation/XCol.h"

using ui::InterfaceStyle;
using ui::TraitCollection;

namespace {

const TraitCollection kLight{InterfaceStyle::light};
const TraitCollection kDark{InterfaceStyle::dark};
const TraitCollection kUnspecified{InterfaceStyle::unspecified};

void expectHSB(const QColor& c, double h, double s, double b, const char* what) {
    if (s > 0 && b > 0) {
        EXPECT_NEAR(c.hsvHueF(), h, 0.003) << what;
    }
    EXPECT_NEAR(c.hsvSaturationF(), s, 0.003) << what;
    EXPECT_NEAR(c.valueF(), b, 0.003) << what;
    EXPECT_EQ(c.alpha(), 255) << what;
}

// The most opaque pixel's colour.
QColor strongest(const QImage& image) {
    QColor best(Qt::transparent);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).alpha() > best.alpha()) best = image.pixelColor(x, y);
    return best;
}

}  // namespace

TEST(XCol, EachColourResolvesByAppearance) {
    struct Case {
        const char* name;
        const ui::DynamicColor& color;
        double lh, ls, lb, dh, ds, db;
    };
    const Case cases[] = {
        {"foreground", XCol::foreground(), 1.0, 1.0, 0.0, 1.0, 0.0, 1.0},
        {"button_background", XCol::button_background(), 0.59, 0.2, 0.93, 0.59, 0.8, 0.07},
        {"gradient_start", XCol::gradient_start(), 0.0, 0.0, 0.9, 0.64, 0.16, 0.29},
        {"background", XCol::background(), 0.0, 0.0, 1.0, 0.64, 0.25, 0.1},
        {"selected_row", XCol::selected_row(), 0.67, 0.0, 0.94, 0.6, 0.25, 0.28},
        {"border", XCol::border(), 0.67, 0.01, 0.6, 0.0, 0.0, 0.0},
        {"orange", XCol::orange(), 0.07, 0.73, 1.0, 0.07, 0.91, 1.0},
        {"green", XCol::green(), 0.39, 1.0, 0.67, 0.39, 1.0, 0.83},
        {"teal", XCol::teal(), 0.48, 1.0, 0.73, 0.48, 1.0, 0.73},
        {"purple", XCol::purple(), 0.77, 0.6, 0.7, 0.77, 0.6, 0.7},
        {"yellow", XCol::yellow(), 0.17, 0.66, 0.84, 0.17, 0.66, 0.84},
        {"pink", XCol::pink(), 0.92, 0.91, 1.0, 0.92, 0.91, 1.0},
    };
    for (const Case& c : cases) {
        expectHSB(c.color.resolvedColor(kLight), c.lh == 1.0 ? 0.0 : c.lh, c.ls, c.lb, c.name);
        expectHSB(c.color.resolvedColor(kUnspecified), c.lh == 1.0 ? 0.0 : c.lh, c.ls, c.lb, c.name);
        expectHSB(c.color.resolvedColor(kDark), c.dh == 1.0 ? 0.0 : c.dh, c.ds, c.db, c.name);
    }
    EXPECT_EQ(XCol::foreground().resolvedColor(kDark).rgb(), QColor(Qt::white).rgb());
    EXPECT_EQ(XCol::foreground().resolvedColor(kLight).rgb(), QColor(Qt::black).rgb());
    EXPECT_EQ(XCol::border().resolvedColor(kDark).rgb(), QColor(Qt::black).rgb());
    EXPECT_EQ(&XCol::accent_teal(), &XCol::teal());
    EXPECT_EQ(&XCol::text_primary(), &XCol::foreground());
}

TEST(XCol, AWindowForcedDarkGetsTheDarkValues) {
    QWidget window;
    QWidget child(&window);
    ui::setOverrideInterfaceStyle(&window, InterfaceStyle::dark);
    EXPECT_EQ(XCol::foreground().resolvedFor(&child).rgb(), QColor(Qt::white).rgb());
}

TEST(Extensions, UniformTypeOfAUrl) {
    struct Case {
        const char* path;
        std::optional<std::string> identifier;
    };
    const Case cases[] = {
        {"/www/README", "public.data"},  // no dot: a data file, not a directory
        {"/www/folder", "public.data"},
        {"/www/index.html", "text/html"},
        {"/www/site.css", "text/css"},
        {"/www/photo.PNG", "image/png"},
        {"/www/file.qqqunknownext", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto t = ut_type_for_url(std::string(c.path));
        ASSERT_EQ(t.has_value(), c.identifier.has_value()) << c.path;
        if (t) {
            EXPECT_EQ(t->identifier, *c.identifier) << c.path;
        }
    }
    EXPECT_EQ(*ut_type_for_url(QUrl(QStringLiteral("ftp://h/a/b"))), UTType::data());
    EXPECT_TRUE(UTType::data().conformsToData());
    EXPECT_FALSE(UTType::directory().conformsToData());
}

TEST(Extensions, MimeTypeOfAUrl) {
    struct Case {
        const char* path;
        const char* mime;
    };
    const Case cases[] = {
        {"/a/site.css", "text/css"},         {"/a/index.html", "text/html"},
        {"/a/Makefile", "application/octet-stream"}, {"/a/.htaccess", "application/octet-stream"},
        {"/a/x.qqqunknownext", "application/octet-stream"}, {"", "application/octet-stream"},
        {"/a/app.js", "application/javascript"},
    };
    for (const Case& c : cases) EXPECT_EQ(mime_type_for_url(std::string(c.path)), c.mime) << c.path;
    EXPECT_EQ(path_extension("/a/b.tar.gz"), "gz");
    EXPECT_EQ(path_extension("/a/.ftpquota"), "");
}

TEST(Extensions, SmallWidgets) {
    VornTargetedButton button;
    EXPECT_EQ(button.targetDIR, "");
    VornLabel label(QStringLiteral("a label"));
    label.setNumberOfLines(0);
    EXPECT_EQ(label.numberOfLines(), 1);
    EXPECT_TRUE(label.wordWrap());  // the value was passed on
    label.setNumberOfLines(1);
    // A long text in a narrow label shrinks, to half the size at most.
    const double base = label.fittedPointSize();
    label.setText(QStringLiteral("a very long label text that cannot fit in a narrow label at all"));
    label.resize(60, 20);
    label.show();
    EXPECT_LT(label.fittedPointSize(), base);
    EXPECT_GE(label.fittedPointSize(), base * 0.5 - 0.01);
    label.setText(QStringLiteral("ab"));
    EXPECT_DOUBLE_EQ(label.fittedPointSize(), base);

    const ui::Image image = color_image(QColor(1, 2, 3), 16, 16);
    EXPECT_EQ(image.size(), QSizeF(16, 16));
    EXPECT_EQ(image.toImage(QSize(16, 16)).pixelColor(8, 8), QColor(1, 2, 3));
}

TEST(Extensions, FadesSetTheAlphaAndKeepTheView) {
    QWidget parent;
    QWidget view(&parent);
    view.show();
    fadeOut(&view, 0.05);
    EXPECT_DOUBLE_EQ(ui::alpha(&view), 0.0);  // the model value changes at once
    fadeIn(&view, 0.05, 0.5);
    EXPECT_DOUBLE_EQ(ui::alpha(&view), 0.5);
    // Every fade has run to its end (an animation deletes itself when it stops).
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.findChildren<QVariantAnimation*>().isEmpty(); }, 3000));
    EXPECT_EQ(view.parentWidget(), &parent);
    EXPECT_FALSE(view.isHidden());
    fadeOut(&view, 0, 0.2);
    EXPECT_DOUBLE_EQ(ui::alpha(&view), 0.2);
}

// A view that fades by cover never takes an opacity effect while it is part see-through: a child
// cover in the parent's background colour draws the level over it, above any part the view adds
// later, and goes when the view is opaque again. At 0 the view is not drawn at all. The alpha and
// the mouse rule are those of any view.
// A fade of a view whose window is not shown has no frames to draw: the view is at the target at
// once. Once the window shows, fades animate.
TEST(Extensions, AFadeOfAViewNotOnScreenEndsAtOnce) {
    QWidget parent;
    parent.resize(60, 40);
    QWidget view(&parent);
    view.resize(60, 40);
    ui::animateAlpha(&view, 0.0, 0.2);
    EXPECT_DOUBLE_EQ(ui::alpha(&view), 0.0);
    EXPECT_TRUE(view.findChildren<QVariantAnimation*>().isEmpty());
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    ui::animateAlpha(&view, 1.0, 0.2);
    EXPECT_DOUBLE_EQ(ui::alpha(&view), 1.0);
    EXPECT_EQ(view.findChildren<QVariantAnimation*>().size(), 1);
}

TEST(Extensions, AViewThatFadesByCoverIsCoveredInsteadOfDrawnThroughAnEffect) {
    QWidget parent;
    parent.resize(120, 80);
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, QColor(0, 200, 0));
    parent.setPalette(palette);
    parent.setAutoFillBackground(true);
    QWidget view(&parent);
    view.setGeometry(0, 0, 120, 80);
    QPalette red = view.palette();
    red.setColor(QPalette::Window, QColor(200, 0, 0));
    view.setPalette(red);
    view.setAutoFillBackground(true);
    ui::setFadesByCover(&view);
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    const auto cover = [&] { return view.findChild<QWidget*>(QStringLiteral("ui_alpha_cover"), Qt::FindDirectChildrenOnly); };
    const auto shown = [&] { return parent.grab().toImage().pixelColor(60, 40); };

    ui::setAlpha(&view, 0.0);
    EXPECT_DOUBLE_EQ(ui::alpha(&view), 0.0);
    EXPECT_TRUE(view.testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_EQ(cover(), nullptr);
    EXPECT_EQ(shown(), QColor(0, 200, 0));  // only the parent shows

    ui::setAlpha(&view, 0.5);
    EXPECT_EQ(view.graphicsEffect(), nullptr);
    ASSERT_TRUE(cover());
    EXPECT_EQ(cover()->geometry(), view.rect());
    const QColor half = shown();
    EXPECT_NEAR(half.red(), 100, 3);
    EXPECT_NEAR(half.green(), 100, 3);

    // A part added later lies under the cover; the cover follows the view's size.
    auto* part = new QWidget(&view);
    part->show();
    QTest::qWait(20);
    EXPECT_EQ(view.children().last(), cover());
    view.resize(100, 60);
    EXPECT_EQ(cover()->geometry(), view.rect());

    ui::animateAlpha(&view, 1.0, 0.05);
    EXPECT_DOUBLE_EQ(ui::alpha(&view), 1.0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.findChildren<QVariantAnimation*>().isEmpty(); }, 3000));
    EXPECT_EQ(cover(), nullptr);
    EXPECT_EQ(view.graphicsEffect(), nullptr);
    EXPECT_FALSE(view.testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_EQ(shown(), QColor(200, 0, 0));
}

TEST(GradientView, FieldsPointsAndLocations) {
    GradientView g;
    EXPECT_EQ(g.startColor().resolved(), QColor(Qt::black));
    EXPECT_EQ(g.endColor().resolved(), QColor(Qt::white));
    EXPECT_EQ(g.gradient_locations(), (QVector<double>{0.05, 0.95}));
    struct Case {
        bool horizontal, diagonal;
        QPointF start, end;
    };
    for (const Case& c : {Case{false, false, {0.5, 0}, {0.5, 1}}, Case{false, true, {0, 0}, {1, 1}},
                          Case{true, false, {0, 0.5}, {1, 0.5}}, Case{true, true, {1, 0}, {0, 1}}}) {
        g.setHorizontalMode(c.horizontal);
        g.setDiagonalMode(c.diagonal);
        EXPECT_EQ(g.start_point(), c.start);
        EXPECT_EQ(g.end_point(), c.end);
    }
    GradientView fresh;
    fresh.setEndLocation(0.7);
    EXPECT_EQ(fresh.gradient_locations(), (QVector<double>{0.05, 0.7}));
}

TEST(GradientView, DrawsItsCurrentFieldsAndFollowsTheAppearance) {
    QWidget window;
    window.resize(100, 100);
    GradientView g(&window);
    g.setGeometry(0, 0, 100, 100);
    g.setStartColor(XCol::gradient_start());
    g.setEndColor(XCol::background());
    window.show();
    QImage light = g.grab().toImage();
    EXPECT_EQ(light.pixelColor(50, 99).rgb(), XCol::background().resolvedColor(kLight).rgb());
    // A field set afterwards shows at once (no need to wait for an appearance change).
    g.setHorizontalMode(true);
    QImage across = g.grab().toImage();
    EXPECT_EQ(across.pixelColor(99, 50).rgb(), XCol::background().resolvedColor(kLight).rgb());
    EXPECT_NE(across.pixelColor(99, 0).rgb(), light.pixelColor(99, 0).rgb());
    // The window turns dark: the colours are those of the dark appearance.
    ui::setOverrideInterfaceStyle(&window, InterfaceStyle::dark);
    QApplication::processEvents();
    EXPECT_EQ(g.gradient_colors()[1], XCol::background().resolvedColor(kDark));
    QImage dark = g.grab().toImage();
    EXPECT_EQ(dark.pixelColor(99, 50).rgb(), XCol::background().resolvedColor(kDark).rgb());
}

TEST(PaddingLabel, InsetsWidenTheSizeAndMoveTheText) {
    QLabel plain(QStringLiteral("Some text"));
    PaddingLabel padded(QStringLiteral("Some text"));
    EXPECT_EQ(padded.topInset(), 5);
    EXPECT_EQ(padded.leftInset(), 7);
    EXPECT_EQ(padded.intrinsicContentSize(), plain.sizeHint() + QSize(14, 10));
    EXPECT_EQ(padded.textRect(QRectF(0, 0, 100, 30)), QRectF(7, 5, 86, 20));
    padded.setLeftInset(0);
    padded.setRightInset(0);
    EXPECT_EQ(padded.intrinsicContentSize(), plain.sizeHint() + QSize(0, 10));
}

TEST(EnumManagerImages, RowSymbolsAreTintedAndSortSymbolsFollowTheAppearance) {
    const QColor tint(200, 30, 60);
    for (int k = 0; k <= static_cast<int>(EnumManager::file_icon_kind::zipped); ++k) {
        const auto kind = static_cast<EnumManager::file_icon_kind>(k);
        const ui::Image image = file_type_symbol(tint, kind);
        ASSERT_FALSE(image.isNull()) << k;
        EXPECT_EQ(image.renderingMode(), ui::RenderingMode::alwaysOriginal);
        EXPECT_EQ(strongest(image.toImage(QSize(32, 32), QColor(Qt::green))).rgb(), tint.rgb()) << k;
    }
    for (auto sorting : EnumManager::file_explorer_sorting_all_cases()) {
        EXPECT_EQ(strongest(sort_menu_image(sorting, kDark).toImage(QSize(32, 32))).rgb(), QColor(Qt::white).rgb());
        EXPECT_EQ(strongest(sort_menu_image(sorting, kLight).toImage(QSize(32, 32))).rgb(), QColor(Qt::black).rgb());
    }
}
