// View controllers: loading, appearance calls, child controllers and modal presentation.
#include <gtest/gtest.h>

#include <QDialog>
#include <QLabel>
#include <QMainWindow>
#include <QTest>

#include "platform/ui/ViewController.h"

using namespace ui;

namespace {

class Recorder : public ViewController {
    Q_OBJECT
public:
    explicit Recorder(std::vector<std::string>* log = nullptr, std::string name = "vc") : log_(log), name_(name) {}
    std::vector<std::string> own;
    QPointer<QLabel> label;

    void released() override { note("released"); }

protected:
    void loadView() override {
        note("loadView");
        auto* v = new QWidget;
        label = new QLabel(QStringLiteral("hello"), v);
        setView(v);
    }
    void viewDidLoad() override { note("viewDidLoad"); }
    void viewWillAppear(bool) override { note("viewWillAppear"); }
    void viewDidAppear(bool) override { note("viewDidAppear"); }
    void viewWillDisappear(bool) override { note("viewWillDisappear"); }
    void viewDidDisappear(bool) override { note("viewDidDisappear"); }

private:
    void note(const std::string& what) {
        own.push_back(what);
        if (log_) log_->push_back(name_ + ":" + what);
    }
    std::vector<std::string>* log_;
    std::string name_;
};

struct Host {
    QMainWindow window;
    std::shared_ptr<ViewController> root;
    explicit Host(std::shared_ptr<ViewController> vc) : root(std::move(vc)) {
        window.setCentralWidget(root->view());
        window.resize(600, 400);
        window.show();
    }
    ~Host() {
        if (QWidget* w = window.takeCentralWidget()) w->setParent(nullptr);
    }
};

}  // namespace

TEST(ViewController, LoadsItsViewOnceOnFirstUse) {
    auto vc = make<Recorder>();
    EXPECT_FALSE(vc->isViewLoaded());
    QWidget* v = vc->view();
    EXPECT_TRUE(vc->isViewLoaded());
    EXPECT_EQ(vc->view(), v);
    EXPECT_EQ(vc->own, (std::vector<std::string>{"loadView", "viewDidLoad"}));
    EXPECT_EQ(viewControllerForView(v), vc.get());
    EXPECT_EQ(enclosingViewController(vc->label), vc.get());
}

TEST(ViewController, AppearanceCallsFollowTheWindow) {
    auto vc = make<Recorder>();
    Host host(vc);
    auto* rec = static_cast<Recorder*>(vc.get());
    ASSERT_TRUE(QTest::qWaitFor([&] { return rec->own.size() >= 4; }, 2000));
    EXPECT_EQ(rec->own, (std::vector<std::string>{"loadView", "viewDidLoad", "viewWillAppear", "viewDidAppear"}));
    EXPECT_TRUE(vc->isAppeared());
    EXPECT_TRUE(vc->isViewInWindow());
    host.window.hide();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rec->own.size() >= 6; }, 2000));
    EXPECT_EQ(rec->own[4], "viewWillDisappear");
    EXPECT_EQ(rec->own[5], "viewDidDisappear");
    EXPECT_FALSE(vc->isViewInWindow());
}

TEST(ViewController, ReleasedIsCalledWhileTheControllerIsWhole) {
    std::vector<std::string> log;
    QPointer<QWidget> view;
    {
        auto vc = make<Recorder>(&log, "a");
        view = vc->view();
    }
    EXPECT_EQ(log.back(), "a:released");
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.isNull(); }, 2000));  // the view went with it
}

TEST(ViewController, ChildControllersAreKeptByTheirParent) {
    auto parent = make<Recorder>();
    std::weak_ptr<ViewController> weakChild;
    {
        auto child = make<Recorder>();
        weakChild = child;
        parent->addChildViewController(child);
        EXPECT_EQ(child->parentViewController(), parent.get());
    }
    ASSERT_FALSE(weakChild.expired());
    EXPECT_EQ(parent->childViewControllers().size(), 1u);
    weakChild.lock()->removeFromParentViewController();
    EXPECT_TRUE(weakChild.expired());
    EXPECT_TRUE(parent->childViewControllers().empty());
}

TEST(ViewController, PresentsInAWindowModalSheetAndDismisses) {
    auto root = make<Recorder>();
    Host host(root);
    auto sheet = make<Recorder>();
    sheet->setTitle(QStringLiteral("Sheet"));
    std::weak_ptr<ViewController> weakSheet = sheet;
    bool presented = false;
    ASSERT_TRUE(root->presentViewController(sheet, true, [&] { presented = true; }));
    EXPECT_TRUE(presented);
    EXPECT_EQ(root->presentedViewController(), sheet.get());
    EXPECT_EQ(sheet->presentingViewController(), root.get());
    auto* dialog = qobject_cast<QDialog*>(sheet->view()->window());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->parentWidget(), &host.window);
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Sheet"));
    EXPECT_TRUE(dialog->isVisible());

    // A second presentation while one is up is refused.
    EXPECT_FALSE(root->presentViewController(make<Recorder>(), true));

    int ended = 0;
    QObject::connect(root.get(), &ViewController::presentationDidEnd, [&] { ++ended; });
    sheet.reset();
    bool dismissed = false;
    root->dismissViewControllerAnimated(true, [&] { dismissed = true; });
    EXPECT_TRUE(dismissed);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_TRUE(weakSheet.expired());  // nobody else kept it
}

TEST(ViewController, EscapeDismissesAPresentedScreen) {
    auto root = make<Recorder>();
    Host host(root);
    auto sheet = make<Recorder>();
    ASSERT_TRUE(root->presentViewController(sheet, true));
    QWidget* dialog = sheet->view()->window();
    QTest::keyClick(dialog, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return root->presentedViewController() == nullptr; }, 2000));
}

TEST(ViewController, PresentingNeedsAViewInAWindow) {
    auto loose = make<Recorder>();
    EXPECT_FALSE(loose->presentViewController(make<Recorder>(), true));
    loose->view();
    EXPECT_FALSE(loose->isViewInWindow());
    EXPECT_FALSE(loose->presentViewController(make<Recorder>(), true));
}

TEST(ViewController, DescriptionNamesTheClass) {
    auto vc = make<Recorder>();
    EXPECT_TRUE(vc->description().startsWith(QStringLiteral("<Recorder: 0x")));
}

#include "ViewControllerTests.moc"
