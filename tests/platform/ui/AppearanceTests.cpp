// Light and dark: detection from palettes, window overrides, and the screens' change hook.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>
#include <QTest>

#include "platform/ui/Appearance.h"
#include "platform/ui/Color.h"
#include "platform/ui/ViewController.h"

using namespace ui;

namespace {

class StyleWatcher : public ViewController {
public:
    std::vector<std::pair<InterfaceStyle, InterfaceStyle>> calls;  // previous, current

protected:
    void traitCollectionDidChange(const std::optional<TraitCollection>& previous) override {
        calls.emplace_back(previous ? previous->userInterfaceStyle : InterfaceStyle::unspecified,
                           traitCollection().userInterfaceStyle);
    }
};

// Lets palette changes and the checks they queue run.
void settle() {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

// Puts the application palette back after a test that switched the "system" appearance.
class SystemAppearance : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = QApplication::palette();
        QApplication::setPalette(lightPalette());
        settle();
    }
    void TearDown() override {
        QApplication::setPalette(saved_);
        settle();
    }
    QPalette saved_;
};

struct Shown {
    std::shared_ptr<StyleWatcher> vc = make<StyleWatcher>();
    QMainWindow window;
    Shown() {
        window.setCentralWidget(vc->view());
        window.resize(300, 200);
        window.show();
        settle();
    }
    ~Shown() { window.takeCentralWidget(); }
};

}  // namespace

TEST(Appearance, PalettesTellTheirStyle) {
    EXPECT_EQ(styleOfPalette(darkPalette()), InterfaceStyle::dark);
    EXPECT_EQ(styleOfPalette(lightPalette()), InterfaceStyle::light);
}

TEST(Appearance, ModeAppearanceValues) {
    struct Case {
        int mode;
        InterfaceStyle style;
    };
    for (const Case& c : {Case{0, InterfaceStyle::unspecified}, Case{1, InterfaceStyle::dark},
                          Case{2, InterfaceStyle::light}, Case{3, InterfaceStyle::unspecified},
                          Case{-1, InterfaceStyle::unspecified}}) {
        EXPECT_EQ(styleForModeAppearance(c.mode), c.style) << c.mode;
    }
}

TEST_F(SystemAppearance, WindowOverrideFixesTheStyleOfEveryWidgetInIt) {
    QWidget window;
    QWidget child(&window);
    setOverrideInterfaceStyle(&window, styleForModeAppearance(1));
    EXPECT_EQ(traitCollectionOf(&child).userInterfaceStyle, InterfaceStyle::dark);
    EXPECT_EQ(overrideInterfaceStyle(&window), InterfaceStyle::dark);
    setOverrideInterfaceStyle(&window, styleForModeAppearance(2));
    EXPECT_EQ(traitCollectionOf(&child).userInterfaceStyle, InterfaceStyle::light);
    // Back to the system: follows the application palette again.
    setOverrideInterfaceStyle(&window, InterfaceStyle::unspecified);
    QApplication::setPalette(darkPalette());
    settle();
    EXPECT_EQ(traitCollectionOf(&child).userInterfaceStyle, InterfaceStyle::dark);
}

TEST_F(SystemAppearance, SystemSwitchCallsTheHookOncePerRealChange) {
    Shown s;
    ASSERT_TRUE(s.vc->calls.empty());
    QApplication::setPalette(darkPalette());
    settle();
    ASSERT_EQ(s.vc->calls.size(), 1u);
    EXPECT_EQ(s.vc->calls[0].first, InterfaceStyle::light);
    EXPECT_EQ(s.vc->calls[0].second, InterfaceStyle::dark);

    // Another dark palette (a different accent, say) is no change of style.
    QPalette otherDark = darkPalette();
    otherDark.setColor(QPalette::Highlight, Qt::magenta);
    QApplication::setPalette(otherDark);
    settle();
    EXPECT_EQ(s.vc->calls.size(), 1u);

    QApplication::setPalette(lightPalette());
    settle();
    ASSERT_EQ(s.vc->calls.size(), 2u);
    EXPECT_EQ(s.vc->calls[1].first, InterfaceStyle::dark);
}

TEST_F(SystemAppearance, OverriddenWindowSeesNoSystemSwitch) {
    Shown s;
    setOverrideInterfaceStyle(&s.window, InterfaceStyle::light);
    settle();
    EXPECT_TRUE(s.vc->calls.empty());  // light to light
    QApplication::setPalette(darkPalette());
    settle();
    EXPECT_TRUE(s.vc->calls.empty());
    EXPECT_EQ(s.vc->traitCollection().userInterfaceStyle, InterfaceStyle::light);

    // Forcing the window dark is a change the screen hears about.
    setOverrideInterfaceStyle(&s.window, InterfaceStyle::dark);
    settle();
    ASSERT_EQ(s.vc->calls.size(), 1u);
    EXPECT_EQ(s.vc->calls[0].second, InterfaceStyle::dark);
}

TEST_F(SystemAppearance, DynamicColorsResolvePerWidget) {
    const DynamicColor c([](const TraitCollection& t) {
        return t.userInterfaceStyle == InterfaceStyle::dark ? QColor(Qt::white) : QColor(Qt::black);
    });
    QWidget dark, light;
    setOverrideInterfaceStyle(&dark, InterfaceStyle::dark);
    EXPECT_EQ(c.resolvedFor(&dark), QColor(Qt::white));
    EXPECT_EQ(c.resolvedFor(&light), QColor(Qt::black));
    EXPECT_NEAR(c.withAlphaComponent(0.5).resolvedFor(&dark).alphaF(), 0.5, 0.01);
    EXPECT_EQ(DynamicColor(QColor(Qt::red)).resolvedFor(&dark), QColor(Qt::red));
}

TEST(Appearance, HueOnTheWrongScaleWrapsToRed) {
    EXPECT_EQ(DynamicColor::hsb(360.0, 0, 0), QColor::fromHsvF(0, 0, 0));
    EXPECT_EQ(DynamicColor::hsb(1.0, 1.0, 1.0), QColor::fromHsvF(0, 1, 1));
    const QColor teal = DynamicColor::hsb(0.48, 1.0, 0.73);
    EXPECT_NEAR(teal.hsvHueF(), 0.48, 0.003);
    EXPECT_NEAR(teal.valueF(), 0.73, 0.003);
}
