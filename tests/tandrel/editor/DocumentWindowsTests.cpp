// Document windows among the app's other windows: the "Unsaved Changes" question names its file
// and stays above the window it asks about, whichever window comes to the front; the windows of
// two files of one name read apart; a window with unsaved changes shows the desktop's mark, and
// only while its text is not the saved one.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QProcess>
#include <QWindow>

#include "DocumentTestSupport.h"
#include "platform/ui/scenes/Application.h"
#include "platform/ui/scenes/SceneSession.h"
#include "tandrel/editor/MainViewController.h"

using namespace documenttest;

namespace {

// The display's top-level windows from the bottom up, as the X server stacks them.
std::vector<WId> stackingOrder() {
    QProcess tree;
    tree.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-children")});
    if (!tree.waitForFinished(10000)) return {};
    std::vector<WId> topDown;
    for (const QString& line : QString::fromLocal8Bit(tree.readAllStandardOutput()).split('\n')) {
        const QString trimmed = line.trimmed();
        if (!trimmed.startsWith(QStringLiteral("0x"))) continue;
        bool ok = false;
        const WId id = trimmed.section(' ', 0, 0).toULongLong(&ok, 16);
        if (ok) topDown.push_back(id);
    }
    return {topDown.rbegin(), topDown.rend()};  // xwininfo lists the topmost first
}

bool stackedAbove(QWidget* upper, QWidget* lower) {
    const auto order = stackingOrder();
    const auto u = std::find(order.begin(), order.end(), upper->winId());
    const auto l = std::find(order.begin(), order.end(), lower->winId());
    return u != order.end() && l != order.end() && u > l;
}

TEST_F(DocumentTest, TheUnsavedChangesQuestionNamesItsFileAndStaysAboveItsWindow) {
    CONNECT_OR_SKIP("pyftpd");
    DocumentSceneDelegate* doc = openWithText("stay.html", "<p>stay</p>\n");
    ASSERT_TRUE(doc);
    type(doc, "<!-- changed -->");
    managerOf(doc)->main_controller->close_session_main();
    ui::AlertController* alert = awaitAlert(doc);
    ASSERT_TRUE(alert);
    ASSERT_TRUE(waitFor([&] { return alert->isViewInWindow() && alert->view()->window()->isVisible(); }));
    EXPECT_EQ(alert->message(), QStringLiteral("Do you want to save your changes to \u201Cstay.html\u201D?"));

    QWidget* question = alert->view()->window();
    QWidget* document = doc->window();
    ASSERT_NE(question, document);
    // The window system keeps it above its window: its transient, modal for that window alone.
    ASSERT_TRUE(question->windowHandle());
    EXPECT_EQ(question->windowHandle()->transientParent(), document->windowHandle());
    EXPECT_EQ(question->windowModality(), Qt::WindowModal);

    // Another window comes to the front (a click on it), then the document's window: the question
    // comes along with its window.
    for (QWidget* clicked : std::initializer_list<QWidget*>{window->window(), document}) {
        clicked->raise();
        clicked->activateWindow();
        EXPECT_TRUE(waitFor([&] { return stackedAbove(clicked, document) || clicked == document; }, 5000));
    }
    EXPECT_TRUE(waitFor([&] { return stackedAbove(question, document); }, 5000))
        << "the question went behind the window it asks about";
    ASSERT_TRUE(choose(doc, QStringLiteral("Cancel")));
}

// Two files named alike, in two folders: each window's title adds its folder; once one has gone,
// the other reads as its file alone again.
TEST_F(DocumentTest, WindowsOfTwoFilesOfOneNameAddTheirFolders) {
    CONNECT_OR_SKIP("pyftpd");
    filestest::makeDiskFolder(disk("one"));
    filestest::makeDiskFolder(disk("two"));
    putFile("one/index.html", "<p>one</p>\n");
    putFile("two/index.html", "<p>two</p>\n");
    DocumentSceneDelegate* first = openDocument("/one/index.html", true);
    ASSERT_TRUE(first);
    ASSERT_TRUE(waitForPageText(first, "<p>one</p>\n"));
    QPointer<DocumentSceneDelegate> second = openDocument("/two/index.html", true);
    ASSERT_TRUE(second);
    ASSERT_TRUE(waitForPageText(second, "<p>two</p>\n"));
    const QString index = QString::fromUtf8("index \xC2\xB7 HTML");
    auto shown = [](DocumentSceneDelegate* doc) {
        QAccessibleInterface* i = QAccessible::queryAccessibleInterface(doc->window());
        return i ? i->text(QAccessible::Name) : QString();
    };
    EXPECT_TRUE(waitFor([&] { return shown(first) == index + QStringLiteral(" \u2014 /one"); }, 20000))
        << shown(first).toStdString() << " / " << first->window()->windowTitle().toStdString();
    EXPECT_TRUE(waitFor([&] { return shown(second) == index + QStringLiteral(" \u2014 /two"); }, 20000)) << shown(second).toStdString();
    ui::Application::shared().requestSceneSessionDestruction(second->window()->windowScene()->session(), {}, nullptr);
    EXPECT_TRUE(waitFor([&] { return shown(first) == index; }, 20000)) << shown(first).toStdString();
}

// The title carries the desktop's mark while the file has changes no save wrote.
TEST_F(DocumentTest, TheTitleShowsUnsavedChangesUntilTheSave) {
    CONNECT_OR_SKIP("pyftpd");
    DocumentSceneDelegate* doc = openWithText("mark.css", "a { color: red; }\n");
    ASSERT_TRUE(doc);
    QWidget* w = doc->window();
    ASSERT_TRUE(waitFor([&] { return w->windowTitle().contains(QStringLiteral("[*]")); }, 10000)) << w->windowTitle().toStdString();
    EXPECT_FALSE(w->isWindowModified());
    type(doc, "/* edit */ ");
    EXPECT_TRUE(waitFor([&] { return w->isWindowModified(); }, 10000)) << "typing marks the window";
    EXPECT_TRUE(managerOf(doc)->my_current_editor_info.has_changes);
    bool written = false;
    managerOf(doc)->main_controller->request_save([&](bool ok) { written = ok; });
    ASSERT_TRUE(waitFor([&] { return written; }, 30000));
    EXPECT_TRUE(waitFor([&] { return !w->isWindowModified(); }, 10000)) << "the save clears the mark";
    EXPECT_FALSE(managerOf(doc)->my_current_editor_info.has_changes);
}

// The mark follows the editor's own record of the saved text: undoing back to it clears the mark
// (and closing asks nothing), redoing away sets it again; after a save, the text it wrote is the
// saved one, and the text before it is a change again.
TEST_F(DocumentTest, TheMarkFollowsUndoAndRedoToAndFromTheSavedText) {
    CONNECT_OR_SKIP("pyftpd");
    DocumentSceneDelegate* doc = openWithText("undo.css", "a { color: red; }\n");
    ASSERT_TRUE(doc);
    QWidget* w = doc->window();
    auto marked = [&](bool expected, const char* step) {
        EXPECT_TRUE(waitFor([&] { return w->isWindowModified() == expected; }, 10000)) << step;
        EXPECT_EQ(managerOf(doc)->my_current_editor_info.has_changes, expected) << step;
    };
    // Each step is a script in the page, then the mark it leaves; "save" writes the file.
    struct Step {
        const char* script;
        bool marked;
        const char* what;
    };
    const Step steps[] = {
        {"editor.insert('/* one */ ')", true, "typing"},
        {"editor.undo()", false, "undo back to the text as read"},
        {"editor.redo()", true, "redo away from it"},
        {"editor.undo()", false, "undo again"},
        {"editor.redo()", true, "redo again"},
        {"save", false, "saved"},
        {"editor.insert('/* two */ ')", true, "typing after the save"},
        {"editor.undo()", false, "undo back to the text the save wrote"},
        {"editor.undo()", true, "undo past it, to the text as first read"},
        {"editor.redo()", false, "redo to the saved text"},
    };
    for (const auto& step : steps) {
        if (std::string(step.script) == "save") {
            bool written = false;
            managerOf(doc)->main_controller->request_save([&](bool ok) { written = ok; });
            ASSERT_TRUE(waitFor([&] { return written; }, 30000));
            ASSERT_EQ(diskText("undo.css"), "/* one */ a { color: red; }\n");
        } else {
            page(doc, step.script);
        }
        marked(step.marked, step.what);
    }

    // Back at the saved text, the window closes without asking.
    page(doc, "editor.insert('x')");
    marked(true, "typing once more");
    page(doc, "editor.undo()");
    marked(false, "and undoing it");
    QPointer<DocumentSceneDelegate> closing(doc);
    managerOf(doc)->main_controller->close_session_main();
    EXPECT_TRUE(waitFor([&] { return !isOpen(closing); }, 15000)) << "the window stayed";
    EXPECT_FALSE(closing && alertOf(closing)) << "closing an unchanged file asked about changes";
    EXPECT_EQ(diskText("undo.css"), "/* one */ a { color: red; }\n");
}

}  // namespace
