// Navigation stacks, their bar, bar button items and image views.
#include <gtest/gtest.h>

#include <QLabel>
#include <QMainWindow>
#include <QTest>
#include <QToolButton>

#include "platform/ui/ImageView.h"
#include "platform/ui/NavigationController.h"

using namespace ui;

namespace {

class Screen : public ViewController {
    Q_OBJECT
public:
    explicit Screen(const QString& title) { setTitle(title); }
    int saves = 0, closes = 0;
    Q_INVOKABLE void save_editor() { ++saves; }
    Q_INVOKABLE void close_editor() { ++closes; }
};

struct Host {
    QMainWindow window;
    std::shared_ptr<NavigationController> nav;
    explicit Host(std::shared_ptr<ViewController> root) : nav(make<NavigationController>(std::move(root))) {
        window.setCentralWidget(nav->view());
        window.resize(500, 400);
        window.show();
    }
    ~Host() {
        if (QWidget* w = window.takeCentralWidget()) w->setParent(nullptr);
    }
};

}  // namespace

TEST(Navigation, PushAndPopShowTheTopScreenUnderItsTitle) {
    auto editor = make<Screen>(QStringLiteral("Editor"));
    Host host(editor);
    EXPECT_EQ(host.nav->topViewController(), editor.get());
    EXPECT_EQ(editor->navigationController(), host.nav.get());
    EXPECT_EQ(host.nav->navigationBar()->titleText(), QStringLiteral("Editor"));
    EXPECT_TRUE(editor->view()->isVisible());

    auto preview = make<Screen>(QStringLiteral("Preview"));
    host.nav->pushViewController(preview, true);
    EXPECT_EQ(host.nav->topViewController(), preview.get());
    EXPECT_EQ(host.nav->navigationBar()->titleText(), QStringLiteral("Preview"));
    EXPECT_TRUE(preview->view()->isVisible());
    EXPECT_FALSE(editor->view()->isVisible());
    // A back button leads to the screen below.
    auto* back = host.nav->navigationBar()->findChild<QToolButton*>(QStringLiteral("navigation_back"));
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->text().contains(QStringLiteral("Editor")));
    back->click();
    EXPECT_EQ(host.nav->topViewController(), editor.get());
    EXPECT_EQ(preview->parentViewController(), nullptr);
    EXPECT_EQ(host.nav->popViewControllerAnimated(true), nullptr);  // the root stays
    editor->setTitle(QStringLiteral("index.html"));
    EXPECT_EQ(host.nav->navigationBar()->titleText(), QStringLiteral("index.html"));
}

TEST(Navigation, BarButtonItemsSendTheirActions) {
    auto editor = make<Screen>(QStringLiteral("Editor"));
    Host host(editor);
    auto save = BarButtonItem::withSystemItem(BarButtonSystemItem::save, editor.get(), QStringLiteral("save_editor"));
    auto close = BarButtonItem::withImage(Image::systemImage(QStringLiteral("multiply")), BarButtonItemStyle::plain,
                                          nullptr, QStringLiteral("close_editor"));  // no target: the chain
    editor->navigationItem()->setLeftBarButtonItems({close, save});
    const QList<QToolButton*> buttons = host.nav->navigationBar()->buttons();
    ASSERT_EQ(buttons.size(), 2);
    EXPECT_FALSE(buttons[0]->icon().isNull());
    EXPECT_EQ(buttons[1]->text(), QStringLiteral("Save"));
    buttons[1]->click();
    EXPECT_EQ(editor->saves, 1);
    buttons[0]->click();
    EXPECT_EQ(editor->closes, 1);
    save->setEnabled(false);
    EXPECT_FALSE(host.nav->navigationBar()->buttons()[1]->isEnabled());
    EXPECT_FALSE(save->trigger());
}

TEST(Navigation, BarCanBeHiddenAndStyled) {
    auto root = make<Screen>(QStringLiteral("Preview"));
    Host host(root);
    host.nav->setNavigationBarHidden(true, false);
    EXPECT_FALSE(host.nav->navigationBar()->isVisible());
    host.nav->setNavigationBarHidden(false, false);
    NavigationBarAppearance look;
    look.backgroundColor = DynamicColor(QColor(10, 20, 30));
    look.titleColor = DynamicColor(QColor(200, 100, 50));
    host.nav->navigationBar()->setAppearance(look);
    const QImage bar = host.nav->navigationBar()->grab().toImage();
    EXPECT_EQ(bar.pixelColor(2, 2).rgb(), QColor(10, 20, 30).rgb());
    auto* title = host.nav->navigationBar()->findChild<QLabel*>(QStringLiteral("navigation_title"));
    EXPECT_EQ(title->palette().color(QPalette::WindowText), QColor(200, 100, 50));
}

TEST(ImageView, DrawsItsImageAspectFitInItsTint) {
    QWidget root;
    root.resize(100, 50);
    ImageView view(Image::systemImage(QStringLiteral("doc.fill")), &root);
    view.setGeometry(0, 0, 100, 50);
    view.setContentMode(ContentMode::scaleAspectFit);
    view.setTintColor(DynamicColor(QColor(255, 0, 0)));
    root.show();
    const QImage pixels = view.grab().toImage();
    QColor strongest(Qt::transparent);
    int leftmost = pixels.width();
    for (int y = 0; y < pixels.height(); ++y)
        for (int x = 0; x < pixels.width(); ++x) {
            const QColor c = pixels.pixelColor(x, y);
            if (c.red() > 200 && c.green() < 60) leftmost = std::min(leftmost, x);
        }
    // Aspect fit: a 50 x 50 square centred in 100 x 50 starts at x 25.
    EXPECT_GE(leftmost, 25);
    EXPECT_LT(leftmost, 40);
    EXPECT_EQ(view.sizeHint(), QSize(17, 17));
    ImageView empty;
    EXPECT_FALSE(empty.sizeHint().isValid());
}

#include "NavigationTests.moc"
