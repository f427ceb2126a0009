// The main menu by keyboard in a document window: the menu bar's mnemonics and Escape with the
// editor page holding the focus. The keys need the display's input focus, so these cases run
// alone (tests running beside them would take the focus with their own windows).
#include <gtest/gtest.h>

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
