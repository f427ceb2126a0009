// The responder chain: who gets a command, in which order.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMainWindow>
#include <QTest>

#include "platform/ui/Layout.h"
#include "platform/ui/Responder.h"
#include "platform/ui/ViewController.h"

using namespace ui;

namespace {

class ServerScreen : public ViewController {
    Q_OBJECT
public:
    int newFiles = 0;
    QVariant lastProperty;
    bool refuseNewFolder = false;
    Q_INVOKABLE void new_file() { ++newFiles; }
    Q_INVOKABLE void new_folder() { ++newFiles; }
    Q_INVOKABLE void edm_set_theme(const ui::Command& sender) { lastProperty = sender.propertyList; }
    bool canPerformAction(const QString& action) override { return !(refuseNewFolder && action == "new_folder"); }
};

class EditorScreen : public ViewController {
    Q_OBJECT
public:
    int saves = 0;
    QPointer<QLineEdit> field;
    Q_INVOKABLE void save_file() { ++saves; }

protected:
    void viewDidLoad() override { field = new QLineEdit(view()); }
};

class AppLevel : public QObject {
    Q_OBJECT
public:
    int scenes = 0;
    Q_INVOKABLE void new_scene() { ++scenes; }
};

struct Tree {
    QMainWindow window;
    std::shared_ptr<ServerScreen> parent = make<ServerScreen>();
    std::shared_ptr<EditorScreen> child = make<EditorScreen>();
    QObject scene;
    AppLevel app;
    AppLevel appDelegate;
    Tree() {
        parent->addChildViewController(child);
        child->view()->setParent(parent->view());
        window.setCentralWidget(parent->view());
        window.resize(400, 300);
        window.show();
        window.activateWindow();
        setNextResponder(&window, &scene);
        setApplicationResponder(&app);
        setNextResponder(&app, &appDelegate);
    }
    ~Tree() {
        setApplicationResponder(nullptr);
        if (QWidget* w = window.takeCentralWidget()) w->setParent(nullptr);
    }
};

}  // namespace

TEST(Responder, ActionNamesDropTheArgumentColon) {
    EXPECT_EQ(actionName(QStringLiteral("edm_set_theme:")), QStringLiteral("edm_set_theme"));
    EXPECT_EQ(actionName(QStringLiteral("new_file")), QStringLiteral("new_file"));
}

TEST(Responder, ChainRunsFromTheWidgetThroughControllersWindowSceneToTheApplication) {
    Tree t;
    const QList<QObject*> chain = responderChain(t.child->field);
    const QList<QObject*> expected{t.child->field.data(), t.child->view(), t.child.get(), t.parent->view(),
                                   t.parent.get(), &t.window, &t.scene, &t.app, &t.appDelegate};
    EXPECT_EQ(chain, expected);
}

TEST(Responder, TheFirstResponderThatImplementsTheActionHandlesIt) {
    Tree t;
    t.child->field->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == t.child->field; }, 2000));
    EXPECT_TRUE(sendAction(QStringLiteral("save_file")));
    EXPECT_EQ(t.child->saves, 1);
    EXPECT_TRUE(sendAction(QStringLiteral("new_file")));  // the child has none: its parent takes it
    EXPECT_EQ(t.parent->newFiles, 1);
    EXPECT_TRUE(sendAction(QStringLiteral("new_scene")));  // only the application has it
    EXPECT_EQ(t.app.scenes, 1);
    EXPECT_EQ(t.appDelegate.scenes, 0);
    EXPECT_FALSE(sendAction(QStringLiteral("nobody_has_this")));
}

TEST(Responder, CommandsCarryTheirPropertyList) {
    Tree t;
    Command c;
    c.propertyList = QVariantMap{{QStringLiteral("themeEnumID"), 7}};
    EXPECT_TRUE(sendAction(QStringLiteral("edm_set_theme:"), c, t.child->field));
    EXPECT_EQ(t.parent->lastProperty.toMap().value(QStringLiteral("themeEnumID")).toInt(), 7);
}

TEST(Responder, ARefusingResponderIsPassedOver) {
    Tree t;
    t.parent->refuseNewFolder = true;
    EXPECT_EQ(targetForAction(QStringLiteral("new_folder"), t.child->field), nullptr);
    EXPECT_EQ(targetForAction(QStringLiteral("new_file"), t.child->field), t.parent.get());
}

TEST(Responder, APresentedScreenHandsOnToItsPresenter) {
    Tree t;
    auto sheet = make<ViewController>();
    ASSERT_TRUE(t.parent->presentViewController(sheet, false));
    EXPECT_EQ(targetForAction(QStringLiteral("new_file"), sheet->view()), t.parent.get());
    t.parent->dismissViewControllerAnimated(false);
}

#include "ResponderTests.moc"
