// The main menu by keyboard in a document window: the menu bar's mnemonics and Escape with the
// editor page holding the focus. The keys need the display's input focus, so these cases run
// alone (tests running beside them would take the focus with their own windows).
#include <gtest/gtest.h>

#include <QApplication>

#include "MainMenuSupport.h"

using namespace menutest;

namespace {

// With the editor page focused, the Edit menu opened by its mnemonic and closed with Escape
// leaves the editor screen answering: the Editor menu's entries stay as they were, not greyed out
// until the text is clicked again.
TEST_F(MainMenu, EscapeFromAMenuOverTheFocusedEditorPageKeepsTheEditorMenuEnabled) {
    CONNECT_OR_SKIP("pyftpd");
    DocumentSceneDelegate* doc = openChanged("escape.css", "a { color: red; }\n", "");
    ASSERT_TRUE(doc);
    ui::Window* w = windowOf(doc);
    focusEditorForKeys(doc);
    auto enabledEditorEntries = [&] {
        aboutToShow(doc, {"Editor"});
        QStringList on;
        for (QAction* a : entry(doc, {"Editor"})->menu()->actions()) {
            if (!a->isSeparator() && a->isEnabled()) on << ui::MenuRenderer::titleOf(a);
        }
        return on.join(QStringLiteral(", ")).toStdString();
    };
    const std::string before = enabledEditorEntries();
    ASSERT_FALSE(before.empty()) << "the focused editor enables the Editor menu";

    QAction* edit = entry(doc, {"Edit"});
    ASSERT_TRUE(edit && edit->menu());
    const QKeySequence mnemonic = QKeySequence::mnemonic(edit->text());
    ASSERT_FALSE(mnemonic.isEmpty());
    QTest::keyClick(w, mnemonic[0].key(), Qt::AltModifier);
    ASSERT_TRUE(waitFor([&] { return edit->menu()->isVisible(); }, 5000)) << "Alt and the mnemonic open Edit";
    QTest::keyClick(edit->menu(), Qt::Key_Escape);
    ASSERT_TRUE(waitFor([&] { return !edit->menu()->isVisible(); }, 5000));
    EXPECT_EQ(enabledEditorEntries(), before) << "while the menu bar holds the keyboard";
    QTest::keyClick(barOf(doc), Qt::Key_Escape);  // the bar lets go of the keyboard
    EXPECT_EQ(enabledEditorEntries(), before) << "after the bar let go";
}

}  // namespace

namespace {

// Alt and a top menu's underlined letter, sent as the display sends keys: to the widget that has
// the focus (in a document window, the editor page's own surface).
void pressMnemonic(const QAction* top) {
    const QKeySequence mnemonic = QKeySequence::mnemonic(top->text());
    QTest::keyClick(QApplication::focusWidget(), mnemonic[0].key(), Qt::AltModifier);
}

// Every top menu opens by its underlined letter; nothing else happens (the letter goes nowhere).
void expectEveryMnemonicOpensItsMenu(QMenuBar* bar) {
    ASSERT_TRUE(bar);
    int opened = 0;
    for (QAction* top : bar->actions()) {
        if (!top->menu() || !top->isVisible()) continue;
        const std::string title = ui::MenuRenderer::titleOf(top).toStdString();
        ASSERT_FALSE(QKeySequence::mnemonic(top->text()).isEmpty()) << title;
        pressMnemonic(top);
        EXPECT_TRUE(webtest::waitFor([&] { return top->menu()->isVisible(); }, 5000)) << "Alt opens " << title;
        ++opened;
        if (top->menu()->isVisible()) QTest::keyClick(top->menu(), Qt::Key_Escape);
        ASSERT_TRUE(webtest::waitFor([&] { return !top->menu()->isVisible(); }, 5000)) << title;
        QTest::keyClick(bar, Qt::Key_Escape);  // the bar lets go of the keyboard
        ASSERT_TRUE(webtest::waitFor([&] { return QApplication::focusWidget() && !bar->isAncestorOf(QApplication::focusWidget()) &&
                                         QApplication::focusWidget() != bar; }, 5000));
    }
    EXPECT_GE(opened, 4) << "File, Edit, Find and Editor at least";
}

TEST_F(MainMenu, EachTopMenuOpensByItsUnderlinedLetterFromTheEditorPage) {
    CONNECT_OR_SKIP("pyftpd");
    DocumentSceneDelegate* doc = openChanged("letters.html", "<p>letters</p>\n", "");
    ASSERT_TRUE(doc);
    focusEditorForKeys(doc);
    expectEveryMnemonicOpensItsMenu(barOf(doc));
    EXPECT_EQ(pageText(doc), "<p>letters</p>\n") << "a letter went into the file";
    EXPECT_TRUE(webtest::waitForPageFocus(*editorView(doc))) << "the page has the focus again";
}

TEST_F(MainMenu, EachTopMenuOpensByItsUnderlinedLetterFromAFileViewerWindow) {
    CONNECT_OR_SKIP("pyftpd");
    ui::Window* w = windowOf(window);
    ASSERT_TRUE(w);
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    ASSERT_TRUE(waitFor([&] { return QApplication::focusWidget() != nullptr; }, 5000));
    expectEveryMnemonicOpensItsMenu(barOf(window));
}

}  // namespace
