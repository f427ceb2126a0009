// A save whose upload the FTP server cuts, end to end through a document window: the server's file
// stays whole, the editor keeps the new text marked changed, no temporary file is left on the
// server, and the next save goes through. Where the server leaves no way but writing the file in
// place, a cut write says first that the server's copy is now incomplete.
#include <gtest/gtest.h>

#include <set>

#include "DocumentTestSupport.h"

using namespace documenttest;

namespace {

class DocumentCutUpload : public DocumentTest {};

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

TEST_F(DocumentCutUpload, TheServersFileStaysWholeAndTheEditKeepsItsChangedState) {
    CONNECT_OR_SKIP("pyftpd");
    std::string original;
    for (int i = 0; original.size() < 300000; ++i) original += "<p>line " + std::to_string(i) + " of the live page</p>\n";
    putFile("site.html", original);
    DocumentSceneDelegate* doc = openFromBrowser("site.html");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, original));
    auto* m = managerOf(doc);

    type(doc, "<!-- new version -->");
    const std::string edited = "<!-- new version -->" + original;
    ASSERT_EQ(pageText(doc), edited);
    // From here on the server drops the data connection of every upload into the folder.
    filestest::writeDiskFile(disk(".dravix-cut-uploads"), "16");
    m->ext_editor_vc->save_editor();
    auto* alert = awaitAlert(doc);
    ASSERT_TRUE(alert) << "the cut upload showed no error";
    EXPECT_EQ(alert->alertTitle(), "An Error Occurred");
    // What became of the work comes first: not saved, and the server's file untouched.
    EXPECT_TRUE(alert->message().startsWith("The file was not saved; the server's copy is unchanged. "))
        << alert->message().toStdString();

    EXPECT_EQ(diskText("site.html"), original);
    EXPECT_EQ(namesIn(peer_.root), (std::set<std::string>{".dravix-cut-uploads", "site.html"}));
    EXPECT_EQ(pageText(doc), edited);
    auto r = record(doc, "/site.html");
    ASSERT_TRUE(r);
    EXPECT_LT(r->undo_count, pageCount(doc)) << "the edit must still count as unsaved";
    EXPECT_NE(m->ext_editor_vc->save_bar_button->image().symbolName(), "checkmark");
    alert->performAction(0);
    ASSERT_TRUE(waitFor([&] { return alertOf(doc) == nullptr; }, 5000));

    // The connection is fine again: the same text is saved in full.
    fs::remove(disk(".dravix-cut-uploads"));
    bool written = false;
    m->main_controller->request_save([&](bool w) { written = w; });
    ASSERT_TRUE(waitFor([&] { return written; }, 30000));
    EXPECT_EQ(diskText("site.html"), edited);
    EXPECT_EQ(namesIn(peer_.root), std::set<std::string>{"site.html"});
    EXPECT_EQ(record(doc, "/site.html")->undo_count, pageCount(doc));
}

// The server takes no temporary name (it refuses every name that is not there yet), so the save
// writes the file itself, and the server cuts that write.
TEST_F(DocumentCutUpload, ACutWriteInPlaceSaysTheServersCopyIsIncompleteAndTheEditStaysUnsaved) {
    CONNECT_OR_SKIP("pyftpd");
    std::string original;
    for (int i = 0; original.size() < 300000; ++i) original += "<p>line " + std::to_string(i) + " of the live page</p>\n";
    putFile("site.html", original);
    DocumentSceneDelegate* doc = openFromBrowser("site.html");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, original));
    auto* m = managerOf(doc);

    type(doc, "<!-- new version -->");
    const std::string edited = "<!-- new version -->" + original;
    ASSERT_EQ(pageText(doc), edited);
    filestest::writeDiskFile(disk(".dravix-no-new-uploads"), "");
    filestest::writeDiskFile(disk(".dravix-cut-uploads"), "16");
    m->ext_editor_vc->save_editor();
    auto* alert = awaitAlert(doc);
    ASSERT_TRUE(alert) << "the cut write showed no error";
    EXPECT_EQ(alert->alertTitle(), "An Error Occurred");
    EXPECT_TRUE(alert->message().startsWith("The server's copy is now incomplete and must be saved again. "))
        << alert->message().toStdString();
    const std::string kept = diskText("site.html");
    EXPECT_LT(kept.size(), edited.size());
    EXPECT_EQ(kept, edited.substr(0, kept.size())) << "the server holds the start of the new text";

    EXPECT_EQ(pageText(doc), edited);
    auto r = record(doc, "/site.html");
    ASSERT_TRUE(r);
    EXPECT_LT(r->undo_count, pageCount(doc)) << "the edit must still count as unsaved";
    EXPECT_NE(m->ext_editor_vc->save_bar_button->image().symbolName(), "checkmark");
    alert->performAction(0);
    ASSERT_TRUE(waitFor([&] { return alertOf(doc) == nullptr; }, 5000));

    // Saved again once the connection holds, the file is whole.
    fs::remove(disk(".dravix-cut-uploads"));
    bool written = false;
    m->main_controller->request_save([&](bool w) { written = w; });
    ASSERT_TRUE(waitFor([&] { return written; }, 30000));
    EXPECT_EQ(diskText("site.html"), edited);
    EXPECT_EQ(namesIn(peer_.root), (std::set<std::string>{".dravix-no-new-uploads", "site.html"}));
    EXPECT_EQ(record(doc, "/site.html")->undo_count, pageCount(doc));
}

}  // namespace
