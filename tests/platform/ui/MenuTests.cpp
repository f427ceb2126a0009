// The main menu model, its builder, and the menu bar it renders: commands travel along the
// window's responder chain, entries nobody answers are disabled, and validation sets titles and
// check marks before a menu shows.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSet>
#include <QTest>
#include <QVBoxLayout>

#include "platform/ui/Menu.h"
#include "platform/ui/Responder.h"
#include "support/KeyWindow.h"

namespace {

using ui::KeyCommand;
using ui::Menu;
using ui::MenuBuilder;
using ui::MenuPtr;

QStringList identifiers(const MenuPtr& menu) {
    QStringList out;
    for (const auto& e : menu->children) {
        if (const auto* m = std::get_if<MenuPtr>(&e)) out << (*m)->identifier;
        if (const auto* c = std::get_if<KeyCommand>(&e)) out << QStringLiteral("cmd:") + c->action;
    }
    return out;
}

KeyCommand cmd(const QString& title, const QString& action, QVariant list = {}, QString input = {}, int mods = 0) {
    KeyCommand c;
    c.title = title;
    c.action = action;
    c.propertyList = std::move(list);
    c.input = std::move(input);
    c.modifierFlags = mods;
    return c;
}

TEST(MenuBuilder, EditsTheStandardMenuByIdentifier) {
    struct Row {
        const char* name;
        std::function<bool(MenuBuilder&)> edit;
        bool ok;
        const char* parent;
        QStringList expected;
    };
    const auto x = [] { return Menu::make("X", "x"); };
    const Row rows[] = {
        {"remove Format", [](MenuBuilder& b) { return b.removeMenuForIdentifier(ui::MenuIdentifier::format); }, true,
         ui::MenuIdentifier::root,
         {"ui.menu.file", "ui.menu.edit", "ui.menu.view", "ui.menu.window", "ui.menu.help"}},
        {"remove nested New Scene",
         [](MenuBuilder& b) { return b.removeMenuForIdentifier(ui::MenuIdentifier::newScene); }, true,
         ui::MenuIdentifier::file, {"ui.menu.quit"}},
        {"remove unknown", [](MenuBuilder& b) { return b.removeMenuForIdentifier("nope"); }, false,
         ui::MenuIdentifier::file, {"ui.menu.newScene", "ui.menu.quit"}},
        {"child at start", [x](MenuBuilder& b) { return b.insertChildMenuAtStart(x(), ui::MenuIdentifier::file); },
         true, ui::MenuIdentifier::file, {"x", "ui.menu.newScene", "ui.menu.quit"}},
        {"child at end of File stays before Quit",
         [x](MenuBuilder& b) { return b.insertChildMenuAtEnd(x(), ui::MenuIdentifier::file); }, true,
         ui::MenuIdentifier::file, {"ui.menu.newScene", "x", "ui.menu.quit"}},
        {"child at end", [x](MenuBuilder& b) { return b.insertChildMenuAtEnd(x(), ui::MenuIdentifier::edit); }, true,
         ui::MenuIdentifier::edit, {"ui.menu.undoRedo", "ui.menu.standardEdit", "x"}},
        {"sibling after View", [x](MenuBuilder& b) { return b.insertSiblingMenuAfter(x(), ui::MenuIdentifier::view); },
         true, ui::MenuIdentifier::root,
         {"ui.menu.file", "ui.menu.edit", "ui.menu.format", "ui.menu.view", "x", "ui.menu.window", "ui.menu.help"}},
        {"sibling before Window",
         [x](MenuBuilder& b) { return b.insertSiblingMenuBefore(x(), ui::MenuIdentifier::window); }, true,
         ui::MenuIdentifier::root,
         {"ui.menu.file", "ui.menu.edit", "ui.menu.format", "ui.menu.view", "x", "ui.menu.window", "ui.menu.help"}},
        {"sibling of unknown", [x](MenuBuilder& b) { return b.insertSiblingMenuAfter(x(), "nope"); }, false,
         ui::MenuIdentifier::root,
         {"ui.menu.file", "ui.menu.edit", "ui.menu.format", "ui.menu.view", "ui.menu.window", "ui.menu.help"}},
        {"child of unknown", [x](MenuBuilder& b) { return b.insertChildMenuAtEnd(x(), "nope"); }, false,
         ui::MenuIdentifier::root,
         {"ui.menu.file", "ui.menu.edit", "ui.menu.format", "ui.menu.view", "ui.menu.window", "ui.menu.help"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        MenuBuilder builder(ui::MenuSystem::main, nullptr);
        EXPECT_EQ(row.edit(builder), row.ok);
        MenuPtr parent = builder.menuForIdentifier(row.parent);
        ASSERT_TRUE(parent);
        EXPECT_EQ(identifiers(parent), row.expected);
    }
}

TEST(MenuBuilder, NestedInsertionsFindMenusInsertedBefore) {
    MenuBuilder builder(ui::MenuSystem::main, nullptr);
    ASSERT_TRUE(builder.insertSiblingMenuBefore(Menu::make("Editor", "ed"), ui::MenuIdentifier::window));
    ASSERT_TRUE(builder.insertChildMenuAtEnd(Menu::make({}, "group", ui::MenuOptions::displayInline), "ed"));
    ASSERT_TRUE(builder.insertSiblingMenuAfter(Menu::make("Sub", "sub"), "group"));
    EXPECT_EQ(identifiers(builder.menuForIdentifier("ed")), (QStringList{"group", "sub"}));
}

TEST(KeyCommand, CommandIsControlOnLinux) {
    struct Row {
        const char* input;
        int mods;
        QKeySequence expected;
    };
    const Row rows[] = {
        {"s", ui::KeyModifier::command, QKeySequence(Qt::CTRL | Qt::Key_S)},
        {"t", ui::KeyModifier::command | ui::KeyModifier::shift, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T)},
        {"n", ui::KeyModifier::command | ui::KeyModifier::alternate, QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_N)},
        {"", 0, QKeySequence()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.input);
        EXPECT_EQ(cmd("t", "a", {}, row.input, row.mods).keySequence(), row.expected);
    }
}

// A screen-like responder: answers two actions, validates one, records what it got.
class Answering : public QWidget {
    Q_OBJECT
public:
    Q_INVOKABLE void plain() { calls << QStringLiteral("plain"); }
    Q_INVOKABLE void with_list(const ui::Command& sender) {
        calls << QStringLiteral("with_list %1").arg(sender.propertyList.toMap().value("k").toInt());
    }
    Q_INVOKABLE void validateCommand(ui::Command* command) {
        ++validations;
        if (command->action == QLatin1String("plain")) {
            command->title = on ? QStringLiteral("Disable Plain") : QStringLiteral("Enable Plain");
            command->state = on ? 1 : 0;
        }
    }
    QStringList calls;
    bool on = true;
    int validations = 0;
};

class MenuBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<QMainWindow>();
        auto* central = new QWidget;
        auto* layout = new QVBoxLayout(central);
        screen = new Answering;
        field = new QLineEdit(screen);
        layout->addWidget(screen);
        window->setCentralWidget(central);
        auto group = Menu::make({}, "g", ui::MenuOptions::displayInline,
                                {cmd("Plain", "plain", {}, "s", ui::KeyModifier::command),
                                 cmd("List", "with_list:", QVariantMap{{"k", 4}}),
                                 cmd("Nobody", "nobody_answers")});
        KeyCommand header = cmd("- Header", "with_list:", QVariantMap{{"k", -1}});
        header.attributes = ui::MenuElementAttributes::disabled;
        auto sub = Menu::make("Sub", "sub", 0, {header, cmd("Deep", "with_list:", QVariantMap{{"k", 9}})});
        root = Menu::make({}, "root", 0,
                          {Menu::make("Top", "top", 0, {group, sub}), Menu::make("Empty", "empty", 0, {})});
        ui::MenuRenderer::render(*root, window->menuBar(), window.get());
        window->show();
        field->setFocus();
        // As when the user opens the menu.
        ui::MenuRenderer::validateMenuBar(window->menuBar(), window.get());
    }
    QAction* action(const QStringList& path) { return ui::MenuRenderer::findAction(window->menuBar(), path); }

    std::unique_ptr<QMainWindow> window;
    Answering* screen = nullptr;
    QLineEdit* field = nullptr;
    MenuPtr root;
};

TEST_F(MenuBarTest, RendersMenusWithoutEmptyOnes) {
    QStringList top;
    for (QAction* a : window->menuBar()->actions()) top << ui::MenuRenderer::titleOf(a);
    EXPECT_EQ(top, QStringList{"Top"});
    ASSERT_TRUE(action({"Top", "Plain"}) || action({"Top", "Disable Plain"}));
    ASSERT_TRUE(action({"Top", "Sub", "Deep"}));
    EXPECT_EQ(action({"Top", "List"})->shortcut(), QKeySequence());
}

TEST_F(MenuBarTest, TriggeringSendsTheCommandAlongTheWindowsChain) {
    QAction* list = action({"Top", "List"});
    ASSERT_TRUE(list);
    list->trigger();
    action({"Top", "Sub", "Deep"})->trigger();
    EXPECT_EQ(screen->calls, (QStringList{"with_list 4", "with_list 9"}));
}

TEST_F(MenuBarTest, EntriesNoResponderAnswersAreDisabledAndHeadersStaySo) {
    ui::MenuRenderer::validateMenuBar(window->menuBar(), window.get());
    EXPECT_FALSE(action({"Top", "Nobody"})->isEnabled());
    EXPECT_TRUE(action({"Top", "List"})->isEnabled());
    EXPECT_FALSE(action({"Top", "Sub", "- Header"})->isEnabled());
    EXPECT_TRUE(action({"Top", "Sub", "Deep"})->isEnabled());
}

TEST_F(MenuBarTest, ValidationBeforeShowingSetsTitleAndCheckMark) {
    QMenu* top = window->menuBar()->actions().first()->menu();
    ASSERT_TRUE(top);
    screen->on = false;
    emit top->aboutToShow();
    QAction* plain = action({"Top", "Enable Plain"});
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->isChecked());
    screen->on = true;
    emit top->aboutToShow();
    plain = action({"Top", "Disable Plain"});
    ASSERT_TRUE(plain);
    EXPECT_TRUE(plain->isChecked());
    EXPECT_EQ(plain->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
}

TEST_F(MenuBarTest, FocusMovingOutOfTheAnsweringScreenDisablesItsEntries) {
    auto* other = new QLineEdit;
    window->centralWidget()->layout()->addWidget(other);
    other->show();
    other->setFocus();
    // Focus changes arrive only for an active window; validate as the focus hook would.
    ui::MenuRenderer::validateMenuBar(window->menuBar(), window.get());
    EXPECT_FALSE(action({"Top", "List"})->isEnabled());
    field->setFocus();
    ui::MenuRenderer::validateMenuBar(window->menuBar(), window.get());
    EXPECT_TRUE(action({"Top", "List"})->isEnabled());
}

TEST_F(MenuBarTest, RenderingAgainReplacesTheMenus) {
    ui::MenuRenderer::render(*root, window->menuBar(), window.get());
    EXPECT_EQ(window->menuBar()->actions().size(), 1);
    action({"Top", "List"})->trigger();
    EXPECT_EQ(screen->calls, QStringList{"with_list 4"}) << "one action per entry after a re-render";
}

// Each list of entries (the bar, each menu) has mnemonics no two of which are the same.
TEST(MenuMnemonics, NoTwoEntriesOfAListShareOneAndTitlesReadTheSame) {
    QMenuBar bar;
    const QStringList titles{"Find...", "Find and Replace...", "Copy", "Cut", "Fin", "F", "Tomorrow (80s)"};
    for (const QString& t : titles) bar.addAction(t);
    ui::MenuRenderer::assignMnemonics(bar.actions());
    QSet<int> seen;
    QStringList shown;
    for (QAction* a : bar.actions()) {
        shown << ui::MenuRenderer::titleOf(a);
        const QKeySequence m = QKeySequence::mnemonic(a->text());
        if (m.isEmpty()) continue;
        EXPECT_FALSE(seen.contains(m[0].toCombined())) << a->text().toStdString();
        seen.insert(m[0].toCombined());
    }
    EXPECT_EQ(shown, titles);
    EXPECT_EQ(bar.actions()[1]->text(), QStringLiteral("Find and &Replace..."));
    EXPECT_EQ(bar.actions()[2]->text(), QStringLiteral("&Copy"));
    EXPECT_EQ(bar.actions()[3]->text(), QStringLiteral("C&ut"));
    EXPECT_EQ(bar.actions()[5]->text(), QStringLiteral("F")) << "no free character: no mnemonic";
}

TEST_F(MenuBarTest, F10OpensTheFirstMenuAndEscapeLeavesTheScreenInTheChain) {
    ASSERT_TRUE(testsupport::activateForKeyboard(window.get()));
    field->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == field; }));
    QMenu* top = window->menuBar()->actions().first()->menu();
    QTest::keyClick(window.get(), Qt::Key_F10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return top->isVisible(); })) << "F10 opens the first menu";
    EXPECT_TRUE(action({"Top", "List"})->isEnabled());
    // Escape closes the menu and leaves the bar holding the keyboard.
    QTest::keyClick(top, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !top->isVisible(); }));
    ui::MenuRenderer::validateMenuBar(window->menuBar(), window.get());
    EXPECT_TRUE(action({"Top", "List"})->isEnabled()) << "the screen that had the focus still answers";
    // Alt+T (the bar's mnemonic) opens the menu again, validated for that screen.
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QTest::keyClick(window.get(), Qt::Key_T, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return top->isVisible(); }));
    EXPECT_TRUE(action({"Top", "List"})->isEnabled());
    QTest::keyClick(top, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !top->isVisible(); }));
}

}  // namespace

#include "MenuTests.moc"
