// A document's "History…" against the local FTP server: the copies of its file that saves
// replaced, newest first, each shown against the editor's text; "Restore" puts one into the
// editor as an edit, which the next save writes like any other (keeping the copy it replaces).
#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "tandrel/editor/VornHistoryViewController.h"
#include "tandrel/foundation/VornFileHistory.h"

using namespace documenttest;

namespace {

class DocumentHistory : public DocumentTest {
protected:
    static VornHistoryViewController* sheetOf(DocumentSceneDelegate* doc) {
        auto* m = managerOf(doc);
        if (!m) return nullptr;
        for (ui::ViewController* screen : {static_cast<ui::ViewController*>(m->ext_editor_vc.get()),
                                           static_cast<ui::ViewController*>(m->main_controller.get())}) {
            if (!screen) continue;
            if (auto* s = dynamic_cast<VornHistoryViewController*>(screen->presentedViewController())) return s;
        }
        return nullptr;
    }
    VornHistoryViewController* showHistory(DocumentSceneDelegate* doc) {
        managerOf(doc)->show_history();
        waitFor([&] { return sheetOf(doc) != nullptr; }, 15000);
        return sheetOf(doc);
    }
    bool saveNow(DocumentSceneDelegate* doc) {
        std::optional<bool> written;
        managerOf(doc)->main_controller->request_save([&](bool w) { written = w; });
        return waitFor([&] { return written.has_value(); }, 30000) && *written;
    }
    std::vector<std::string> kept(const std::string& path) {
        std::vector<std::string> out;
        for (const auto& v : VornFileHistory::shared().versions(server_->id, path)) {
            out.push_back(VornFileHistory::read(v).value_or("(unreadable)"));
        }
        return out;
    }
};

TEST_F(DocumentHistory, ListsTheReplacedCopiesAndRestoresOneAsAnEdit) {
    CONNECT_OR_SKIP("pyftpd");
    putFile("page.html", "<p>first</p>\n");
    DocumentSceneDelegate* doc = openFromBrowser("page.html");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, "<p>first</p>\n"));

    // Nothing replaced yet: nothing to list or restore.
    auto* sheet = showHistory(doc);
    ASSERT_TRUE(sheet) << "History did not open";
    EXPECT_EQ(sheet->list()->count(), 0);
    EXPECT_FALSE(sheet->restore_button()->isEnabled());
    sheet->dismissViewControllerAnimated(false);
    ASSERT_TRUE(waitFor([&] { return sheetOf(doc) == nullptr; }, 10000));

    page(doc, "editor.navigateFileStart()");
    type(doc, "<p>second</p>\n");
    ASSERT_TRUE(saveNow(doc));
    page(doc, "editor.navigateFileStart()");
    type(doc, "<p>third</p>\n");
    ASSERT_TRUE(saveNow(doc));
    const std::string latest = "<p>third</p>\n<p>second</p>\n<p>first</p>\n";
    EXPECT_EQ(diskText("page.html"), latest);
    EXPECT_EQ(kept("/page.html"), (std::vector<std::string>{"<p>second</p>\n<p>first</p>\n", "<p>first</p>\n"}));

    // Newest first, each with its date and size; the one selected is shown against the editor.
    sheet = showHistory(doc);
    ASSERT_TRUE(sheet);
    ASSERT_EQ(sheet->list()->count(), 2);
    const auto versions = VornFileHistory::shared().versions(server_->id, "/page.html");
    EXPECT_EQ(sheet->list()->item(0)->text(), VornHistoryViewController::row_text(versions[0]));
    EXPECT_NE(sheet->list()->item(1)->text().indexOf(QStringLiteral("13")), -1) << "no size";
    ASSERT_TRUE(sheet->select(1));
    const std::string diff = sheet->diff_view()->toPlainText().toStdString();
    EXPECT_NE(diff.find("+<p>third</p>"), std::string::npos) << diff;
    EXPECT_NE(diff.find("+<p>second</p>"), std::string::npos) << diff;
    EXPECT_EQ(diff.find("-<p>first</p>"), std::string::npos) << diff;

    // Restore: the copy's text is in the editor as an unsaved edit; the server keeps its own.
    sheet->restore_selected();
    ASSERT_TRUE(waitForPageText(doc, "<p>first</p>\n", 15000)) << pageText(doc).value_or("(nothing)");
    EXPECT_TRUE(waitFor([&] { return sheetOf(doc) == nullptr; }, 10000));
    EXPECT_GT(pageCount(doc), record(doc, "/page.html")->undo_count) << "the restored text reads as saved";
    EXPECT_EQ(diskText("page.html"), latest);
    // Undo takes it back in one step.
    page(doc, "editor.undo()");
    EXPECT_EQ(pageText(doc), latest);
    page(doc, "editor.redo()");
    EXPECT_EQ(pageText(doc), "<p>first</p>\n");

    // It saves like any other edit, and the copy it replaces is kept.
    ASSERT_TRUE(saveNow(doc));
    EXPECT_EQ(diskText("page.html"), "<p>first</p>\n");
    EXPECT_EQ(kept("/page.html").front(), latest);
}

}  // namespace
