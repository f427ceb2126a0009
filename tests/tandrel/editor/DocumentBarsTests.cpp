// The document window's bars on the display while the editor takes the focus. The case grabs
// the display, so it runs alone (no other test's window may lie over it).
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "DocumentTestSupport.h"
#include "platform/ui/NavigationController.h"
#include "support/KeyWindow.h"

using namespace documenttest;

namespace {

class DocumentBars : public DocumentTest {};

// The bars of the editor and the preview as the screen shows them (a grab of the display) are
// what the bars draw, before and after the editor page takes the focus and text is typed.
TEST_F(DocumentBars, TheBarsStayOnScreenWhenTheEditorTakesTheFocusAndTextIsTyped) {
    CONNECT_OR_SKIP("pyftpd");
    putFile("bar.html", "<html><body><h1>Bar</h1></body></html>\n");
    DocumentSceneDelegate* doc = openFromBrowser("bar.html");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, "<html><body><h1>Bar</h1></body></html>\n"));
    QWidget* win = doc->window();
    win->activateWindow();
    const QList<ui::NavigationBar*> bars = win->findChildren<ui::NavigationBar*>();
    ASSERT_EQ(bars.size(), 2) << "the editor's bar and the preview's";
    // The share of the bar's pixels the display shows otherwise than the bar draws them.
    auto offScreenShare = [&](QWidget* bar) {
        const QPoint at = bar->mapToGlobal(QPoint(0, 0));
        const QImage shown =
            win->screen()->grabWindow(0, at.x(), at.y(), bar->width(), bar->height()).toImage().convertToFormat(QImage::Format_RGB32);
        const QImage drawn = bar->grab().toImage().convertToFormat(QImage::Format_RGB32);
        if (shown.size() != drawn.size()) return 1.0;
        int differ = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                if (shown.pixel(x, y) != drawn.pixel(x, y)) ++differ;
        return double(differ) / (shown.width() * shown.height());
    };
    for (auto* bar : bars) {
        EXPECT_TRUE(waitFor([&] { return offScreenShare(bar) < 0.02; }, 10000)) << "before: " << offScreenShare(bar);
    }

    auto* view = editorView(doc);
    ASSERT_TRUE(view);
    QTest::mouseClick(view->focusProxy() ? view->focusProxy() : view, Qt::LeftButton, {}, QPoint(50, 50));
    ASSERT_TRUE(waitFor([&] { return view->hasFocus() || (view->focusProxy() && view->focusProxy()->hasFocus()); }, 5000));
    type(doc, "x");
    ASSERT_TRUE(waitFor([&] { return pageText(doc) && pageText(doc)->find('x') != std::string::npos; }, 5000));
    QTest::qWait(800);  // what the engine and the widgets draw after the focus and the edit
    for (int i = 0; i < bars.size(); ++i) {
        EXPECT_LT(offScreenShare(bars[i]), 0.02) << "bar " << i << " is not what the screen shows";
    }
}

}  // namespace

// Tab indents in the editor page; Ctrl+Tab leaves it for the window's next control (the window
// must be the active one, hence here among the tests that run alone).
TEST_F(DocumentBars, CtrlTabLeavesTheEditor) {
    CONNECT_OR_SKIP("pyftpd");
    putFile("leave.html", "<html><body><h1>Leave</h1></body></html>\n");
    DocumentSceneDelegate* doc = openFromBrowser("leave.html");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, "<html><body><h1>Leave</h1></body></html>\n"));
    QWidget* window = doc->window();
    ASSERT_TRUE(testsupport::activateForKeyboard(window));
    QWidget* editor = editorView(doc);
    ASSERT_TRUE(editor);
    auto inEditor = [&] {
        QWidget* f = QApplication::focusWidget();
        return f && (f == editor || editor->isAncestorOf(f));
    };
    // Each key waits until the page holds the focus: the page hears of it after Qt moved it.
    editor->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(webtest::waitForPageFocus(*editorView(doc)));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_TRUE(waitFor([&] { return !inEditor() && QApplication::focusWidget(); }, 10000));
    editor->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(webtest::waitForPageFocus(*editorView(doc)));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(waitFor([&] { return !inEditor() && QApplication::focusWidget(); }, 10000));
}
