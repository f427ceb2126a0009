// A save whose upload the FTP server cuts, end to end through a document window: the server's file
// stays whole, the editor keeps the new text marked changed, no temporary file is left on the
// server, and the next save goes through. Where the server leaves no way but writing the file in
// place, a cut write says first that the server's copy is now incomplete.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "DocumentTestSupport.h"

using namespace documenttest;

namespace {

class DocumentCutUpload : public DocumentTest {};

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

// Each road a cut save can take: by a temporary copy (the server's file stays whole), or, where
// the server takes no temporary name (it refuses every name that is not there yet), by writing the
// file in place, where the cut leaves the start of the new text and the alert says so first.
TEST_F(DocumentCutUpload, TheAlertSaysWhatBecameOfTheServersFileAndTheEditStaysUnsaved) {
    CONNECT_OR_SKIP("pyftpd");
    struct Road {
        const char* name;
        std::vector<const char*> markers;  // besides the cut
        const char* message_start;
        bool file_whole;
    };
    const Road roads[] = {
        {"temporary copy", {}, "The file was not saved; the server's copy is unchanged. ", true},
        {"in place", {".dravix-no-new-uploads"}, "The server's copy is now incomplete and must be saved again. ", false},
    };
    for (const Road& road : roads) {
        SCOPED_TRACE(road.name);
        std::string original;
        for (int i = 0; original.size() < 300000; ++i) original += "<p>line " + std::to_string(i) + " of the live page</p>\n";
        const std::string file = std::string(road.file_whole ? "whole" : "cut") + ".html";
        putFile(file, original);
        DocumentSceneDelegate* doc = openFromBrowser(file);
        ASSERT_TRUE(doc);
        ASSERT_TRUE(waitForPageText(doc, original));
        auto* m = managerOf(doc);

        type(doc, "<!-- new version -->");
        const std::string edited = "<!-- new version -->" + original;
        ASSERT_EQ(pageText(doc), edited);
        std::set<std::string> names{file};
        for (const char* marker : road.markers) {
            filestest::writeDiskFile(disk(marker), "");
            names.insert(marker);
        }
        // From here on the server drops the data connection of every upload into the folder.
        filestest::writeDiskFile(disk(".dravix-cut-uploads"), "16");
        m->ext_editor_vc->save_editor();
        auto* alert = awaitAlert(doc);
        ASSERT_TRUE(alert) << "the cut upload showed no error";
        EXPECT_EQ(alert->alertTitle(), "An Error Occurred");
        // What became of the work comes first.
        EXPECT_TRUE(alert->message().startsWith(road.message_start)) << alert->message().toStdString();
        const std::string kept = diskText(file);
        if (road.file_whole) {
            EXPECT_EQ(kept, original);
        } else {
            EXPECT_LT(kept.size(), edited.size());
            EXPECT_EQ(kept, edited.substr(0, kept.size())) << "the server holds the start of the new text";
        }
        std::set<std::string> with_cut = names;
        with_cut.insert(".dravix-cut-uploads");
        EXPECT_EQ(namesIn(peer_.root), with_cut) << "no temporary file is left behind";

        EXPECT_EQ(pageText(doc), edited);
        auto r = record(doc, "/" + file);
        ASSERT_TRUE(r);
        EXPECT_LT(r->undo_count, pageCount(doc)) << "the edit must still count as unsaved";
        EXPECT_NE(m->ext_editor_vc->save_bar_button->image().symbolName(), "checkmark");
        alert->performAction(0);
        ASSERT_TRUE(waitFor([&] { return alertOf(doc) == nullptr; }, 5000));

        // The connection holds again: the same text is saved in full.
        fs::remove(disk(".dravix-cut-uploads"));
        bool written = false;
        m->main_controller->request_save([&](bool w) { written = w; });
        ASSERT_TRUE(waitFor([&] { return written; }, 30000));
        EXPECT_EQ(diskText(file), edited);
        EXPECT_EQ(namesIn(peer_.root), names);
        EXPECT_EQ(record(doc, "/" + file)->undo_count, pageCount(doc));
        for (const char* marker : road.markers) fs::remove(disk(marker));
        fs::remove(disk(file));
    }
}

}  // namespace
