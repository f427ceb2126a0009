// The main menu by keyboard in a document window: the menu bar's mnemonics and Escape with the
// editor page holding the focus. The keys need the display's input focus, so these cases run
// alone (tests running beside them would take the focus with their own windows).
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QPushButton>
#include <QToolButton>

#include "MainMenuSupport.h"
#include "support/AccessibleTree.h"
#include "support/KeyWindow.h"

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
    ASSERT_TRUE(testsupport::activateForKeyboard(w));
    ASSERT_TRUE(waitFor([&] { return QApplication::focusWidget() != nullptr; }, 5000));
    expectEveryMnemonicOpensItsMenu(barOf(window));
}

// ---- the document window by keyboard ----------------------------------------------------------

// A new document window puts the focus in the editor's text: what is typed goes into the file.
TEST_F(MainMenu, ANewDocumentWindowHasTheFocusInTheEditor) {
    CONNECT_OR_SKIP("pyftpd");
    putFile("focus.html", "<p>focus</p>\n");
    DocumentSceneDelegate* doc = openFromBrowser("focus.html");
    ASSERT_TRUE(doc && waitForPageText(doc, "<p>focus</p>\n"));
    ui::Window* w = windowOf(doc);
    ASSERT_TRUE(testsupport::waitForKeyboard(w));
    ASSERT_TRUE(webtest::waitForPageFocus(*editorView(doc))) << "focus: " << testsupport::describe(QApplication::focusWidget());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_X);
    EXPECT_TRUE(waitFor([&] {
        auto text = pageText(doc);
        return text && text->find('x') != std::string::npos;
    }, 10000)) << pageText(doc).value_or("(none)");
}

// The bar's buttons beside the editor are in the Tab order: from the editor (which keeps Tab to
// indent, and is left with Ctrl+Tab) the keys reach "Save" and "Hide Preview", Space presses
// them, and a pressed button's replacement keeps the focus.
TEST_F(MainMenu, SaveAndHidePreviewAreReachedByTheKeyboard) {
    CONNECT_OR_SKIP("pyftpd");
    DocumentSceneDelegate* doc = openChanged("tabs.html", "<p>tabs</p>\n", "<!-- typed -->");
    ASSERT_TRUE(doc);
    ui::Window* w = windowOf(doc);
    focusEditorForKeys(doc);
    auto* m = managerOf(doc);
    ASSERT_TRUE(waitFor([&] { return !m->ext_editor_vc->empty_view->isVisible(); }, 5000));
    auto named = [](QWidget* f) {
        QAccessibleInterface* i = f ? QAccessible::queryAccessibleInterface(f) : nullptr;
        return i ? i->text(QAccessible::Name) : QString();
    };
    // Around the window from the editor, once: the names of the controls the keys stop on.
    QStringList stops;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    for (int i = 0; i < 30; ++i) {
        QWidget* f = w->focusWidget();
        if (!f || f == editorView(doc) || editorView(doc)->isAncestorOf(f)) break;
        stops << named(f);
        QWidget* was = f;
        QTest::keyClick(f, Qt::Key_Tab);
        if (!waitFor([&] { return w->focusWidget() != was; }, 5000)) break;
    }
    EXPECT_TRUE(stops.contains("Save")) << stops.join(", ").toStdString();
    EXPECT_TRUE(stops.contains("Hide Preview")) << stops.join(", ").toStdString();

    auto barButton = [&](const QString& name) -> QToolButton* {
        for (QToolButton* b : w->findChildren<QToolButton*>())
            if (b->isVisible() && named(b) == name) return b;
        return nullptr;
    };
    // Space on "Hide Preview" hides it; the button that takes its place keeps the focus, and
    // Space there shows the preview again.
    QToolButton* hide = barButton("Hide Preview");
    ASSERT_TRUE(hide);
    hide->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(waitFor([&] { return hide->hasFocus(); }));
    QTest::keyClick(hide, Qt::Key_Space);
    ASSERT_TRUE(waitFor([&] { return named(QApplication::focusWidget()) == "Show Preview"; }, 5000))
        << testsupport::describe(QApplication::focusWidget());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    ASSERT_TRUE(waitFor([&] { return named(QApplication::focusWidget()) == "Hide Preview"; }, 5000))
        << testsupport::describe(QApplication::focusWidget());

    // Space on "Save" saves.
    ASSERT_TRUE(waitFor([&] { return barButton("Save") != nullptr; }));
    QToolButton* save = barButton("Save");
    save->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(waitFor([&] { return save->hasFocus(); }));
    QTest::keyClick(save, Qt::Key_Space);
    EXPECT_TRUE(waitFor([&] { return curlRead("tabs.html") == "<!-- typed --><p>tabs</p>\n"; }, 20000))
        << curlRead("tabs.html");
}

// Ctrl+W closes the document window as its close button does: a changed file asks first
// ("Cancel" by its mnemonic keeps the window, "Discard" closes it); an unchanged one just closes.
TEST_F(MainMenu, CtrlWClosesTheDocumentWindowAskingAboutChanges) {
    CONNECT_OR_SKIP("pyftpd");
    QPointer<DocumentSceneDelegate> doc = openChanged("ctrlw.css", "a { color: red; }\n", "/* typed */");
    ASSERT_TRUE(doc);
    focusEditorForKeys(doc);
    auto pressInAlert = [&](const QString& title) {
        ui::AlertController* alert = awaitAlert(doc);
        if (!alert) return false;
        QWidget* sheet = alert->view()->window();
        sheet->activateWindow();
        if (!testsupport::waitForKeyboard(sheet, 15000)) return false;
        for (QPushButton* b : alert->view()->findChildren<QPushButton*>()) {
            QAccessibleInterface* i = QAccessible::queryAccessibleInterface(b);
            EXPECT_TRUE(i->actionInterface()->keyBindingsForAction(QAccessibleActionInterface::pressAction()).value(0).startsWith("Alt+"))
                << i->text(QAccessible::Name).toStdString();
            if (i->text(QAccessible::Name) != title) continue;
            QTest::keyClick(sheet, QKeySequence::mnemonic(b->text())[0].key(), Qt::AltModifier);
            return waitFor([&] { return alertOf(doc) == nullptr; }, 15000);
        }
        return false;
    };
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_W, Qt::ControlModifier);
    ASSERT_TRUE(awaitAlert(doc)) << "Ctrl+W did not ask about the changed file";
    EXPECT_EQ(alertOf(doc)->alertTitle(), "Unsaved Changes");
    ASSERT_TRUE(pressInAlert("Cancel"));
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    EXPECT_TRUE(isOpen(doc)) << "Cancel keeps the window";

    focusEditorForKeys(doc);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_W, Qt::ControlModifier);
    ASSERT_TRUE(pressInAlert("Discard"));
    EXPECT_TRUE(waitFor([&] { return !isOpen(doc); }, 10000)) << "Discard closes the window";

    // Unchanged: no question.
    QPointer<DocumentSceneDelegate> plain = openChanged("ctrlw-plain.css", "b { color: blue; }\n", "");
    ASSERT_TRUE(plain);
    focusEditorForKeys(plain);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_W, Qt::ControlModifier);
    EXPECT_TRUE(waitFor([&] { return !isOpen(plain); }, 10000));
    EXPECT_FALSE(alertOf(plain));
}

}  // namespace
