// The "Find in Site" window of a server window connected to a local server, with document windows
// on the real editor page: opened by its command, searched with Return, a result opened at its
// match, and Replace All over a saved file, a document with unsaved changes and a file somebody
// changed on the server since the search.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>

#include "DocumentTestSupport.h"
#include "platform/ui/Responder.h"
#include "tandrel/editor/FindMenuActionsProtocol.h"
#include "tandrel/foundation/VornFileHistory.h"
#include "tandrel/scenes/SiteSearchWindow.h"

using namespace documenttest;

namespace {

class SiteSearchWindowTest : public DocumentTest {
protected:
    void TearDown() override {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* search = qobject_cast<SiteSearchWindow*>(w)) search->close();
        }
        settle();
        DocumentTest::TearDown();
    }
    // Searches with Return in the "Find" field; the window's summary.
    QString findWithReturn(SiteSearchWindow* search, const QString& text) {
        search->find_field->setText(text);
        QSignalSpy finished(search, &SiteSearchWindow::searchFinished);
        QTest::keyClick(search->find_field, Qt::Key_Return);
        EXPECT_TRUE(waitFor([&] { return finished.count() > 0; }, 60000)) << "the search never ended";
        return search->summary_label->text();
    }
    std::map<std::string, std::size_t> counts(SiteSearchWindow* search) {
        std::map<std::string, std::size_t> out;
        for (const auto& hits : search->results()) out[hits.relativePath] = hits.matches.size();
        return out;
    }
    static QTreeWidgetItem* lineItem(SiteSearchWindow* search, const QString& file) {
        for (int i = 0; i < search->results_tree->topLevelItemCount(); ++i) {
            QTreeWidgetItem* group = search->results_tree->topLevelItem(i);
            if (group->text(0).startsWith(file + " (") && group->childCount() > 0) return group->child(0);
        }
        return nullptr;
    }
};

TEST_F(SiteSearchWindowTest, SearchesOpensAtTheMatchAndReplacesWithCheckedSavesAndUnsavedEdits) {
    CONNECT_OR_SKIP("sshd");
    putFile("a.html", "<p>Welcome to old.example</p>\n");
    putFile("b.css", "/* old.example */\n");
    putFile("d.txt", "old.example\r\n");
    putFile("logo.png", "old.example");
    DocumentSceneDelegate* doc = openWithText("c.js", "x\n// old.example\n");
    ASSERT_TRUE(doc);
    // An unsaved change: the search reads the editor's text, not the server's.
    page(doc, "editor.gotoLine(1, 0); editor.insert('old.example ')");
    ASSERT_TRUE(waitFor([&] { return managerOf(doc)->my_current_editor_info.has_changes; }, 10000));

    // Find > "Find in Site…" in the server window.
    ASSERT_TRUE(ui::invokeAction(window, FindMenuActionsProtocol::kFindInSite));
    SiteSearchWindow* search = SiteSearchWindow::window_for(window);
    ASSERT_TRUE(search);
    EXPECT_EQ(search->windowTitle(), QString::fromStdString("Find in Site \u2014 " + server_->nickname));
    EXPECT_EQ(search->find_field->accessibleName(), "Find");
    EXPECT_EQ(search->replace_field->accessibleName(), "Replace");
    EXPECT_EQ(search->folder_field->text(), "/");
    // The same command in the document window brings the same window forward.
    ASSERT_TRUE(ui::invokeAction(doc, FindMenuActionsProtocol::kFindInSite));
    EXPECT_EQ(SiteSearchWindow::window_for(window), search);

    EXPECT_EQ(findWithReturn(search, "old.example"), "5 matches in 4 files");
    EXPECT_EQ(counts(search), (std::map<std::string, std::size_t>{{"a.html", 1}, {"b.css", 1}, {"c.js", 2}, {"d.txt", 1}}));

    // A double-click opens the file at its match.
    QTreeWidgetItem* line = lineItem(search, "a.html");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->text(0), "1: <p>Welcome to old.example</p>");
    const int before = connected;
    emit search->results_tree->itemActivated(line, 0);
    ASSERT_TRUE(waitFor([&] { return connected > before; }, 10000));
    DocumentSceneDelegate* opened = documentOf(app().connectedScenes().last());
    ASSERT_TRUE(opened && waitForPageText(opened, "<p>Welcome to old.example</p>\n"));
    EXPECT_TRUE(waitFor([&] { return pageQuiet(opened, "editor.getSelectedText()") == "old.example"; }, 10000));
    EXPECT_EQ(pageQuiet(opened, "editor.getSelectionRange().start.column"), 14);

    // Somebody changes b.css on the server before the replace.
    putFile("b.css", "/* old.example, theirs */\n");
    search->replace_field->setText("new.example");
    QSignalSpy asked(search, &SiteSearchWindow::replaceAsked);
    QSignalSpy replaced(search, &SiteSearchWindow::replaceFinished);
    search->replace_button->click();
    ASSERT_EQ(asked.count(), 1);
    auto* question = search->findChild<QMessageBox*>();
    ASSERT_TRUE(question);
    EXPECT_EQ(question->text(), "Replace 5 matches in 4 files?");
    QAbstractButton* go = nullptr;
    for (QAbstractButton* b : question->buttons()) {
        if (b->text() == "Replace All") go = b;
    }
    ASSERT_TRUE(go);
    go->click();
    ASSERT_TRUE(waitFor([&] { return replaced.count() > 0; }, 60000));

    // Saved through the checked save: d.txt, its CR LF kept.
    EXPECT_EQ(diskText("d.txt"), "new.example\r\n");
    // The copy it replaced is in the server's history; the skipped file's is not.
    const auto kept = VornFileHistory::shared().versions(server_->id, "/d.txt");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(VornFileHistory::read(kept.front()), std::optional<std::string>("old.example\r\n"));
    EXPECT_TRUE(VornFileHistory::shared().versions(server_->id, "/b.css").empty());
    EXPECT_EQ(diskText("b.css"), "/* old.example, theirs */\n") << "changed since the search: not written";
    // Open in document windows (c.js with unsaved changes, a.html as opened at its match): unsaved edits.
    EXPECT_EQ(diskText("c.js"), "x\n// old.example\n");
    EXPECT_EQ(pageText(doc), "new.example x\n// new.example\n");
    EXPECT_TRUE(managerOf(doc)->my_current_editor_info.has_changes);
    EXPECT_EQ(diskText("a.html"), "<p>Welcome to old.example</p>\n");
    EXPECT_EQ(pageText(opened), "<p>Welcome to new.example</p>\n");
    EXPECT_TRUE(waitFor([&] { return managerOf(opened)->my_current_editor_info.has_changes; }, 10000));
    const QString summary = search->summary_label->text();
    EXPECT_TRUE(summary.startsWith("Replaced 4 matches in 3 files.")) << summary.toStdString();
    EXPECT_TRUE(summary.contains("Skipped 1 file:\nb.css \u2014 Changed on the server since the search."))
        << summary.toStdString();
    EXPECT_EQ(diskText("logo.png"), "old.example") << "binaries are never changed";
}

TEST_F(SiteSearchWindowTest, StopEndsASearchAndABrokenPatternSaysWhy) {
    CONNECT_OR_SKIP("pyftpd");
    for (int i = 0; i < 60; ++i) putFile("p" + std::to_string(i) + ".html", "<p>hello</p>\n");
    SiteSearchWindow* search = SiteSearchWindow::open_for(window);
    ASSERT_TRUE(search);
    search->regular_expression->setChecked(true);
    EXPECT_EQ(findWithReturn(search, "(hello"), "missing ): (hello");
    search->regular_expression->setChecked(false);

    search->find_field->setText("hello");
    QSignalSpy finished(search, &SiteSearchWindow::searchFinished);
    search->find_button->click();
    EXPECT_TRUE(search->stop_button->isEnabled());
    search->stop_button->click();
    ASSERT_TRUE(waitFor([&] { return finished.count() > 0; }, 30000));
    EXPECT_FALSE(search->running());
    EXPECT_FALSE(search->stop_button->isEnabled());
    EXPECT_EQ(finished.count(), 1);
}

}  // namespace
