// A file changed on the server by someone else while it is open in a document window: the save
// writes nothing and asks "Overwrite" or "Cancel"; Cancel keeps the edit in the window, unsaved,
// and Overwrite writes it. The version a save wrote guards the next save, and a file deleted
// from the server's disk is asked about as one deleted in the server window. The other change
// is made on the server's disk with the same size and modification time where the dates cannot
// show it, against FTP, WebDAV with ETags, and WebDAV without (lighttpd).
#include <gtest/gtest.h>

#include "DocumentTestSupport.h"
#include "ServerBytes.h"

using namespace documenttest;

namespace {

class ServerChangedDocument : public DocumentTest, public ::testing::WithParamInterface<std::string> {
protected:
    // Somebody else writes the file: with `sameTime`, as many bytes and the modification time it had.
    void changeOnDisk(const std::string& name, const std::string& text, bool sameTime) {
        const auto time = fs::last_write_time(disk(name));
        putFile(name, text);
        if (sameTime) fs::last_write_time(disk(name), time);
        awaitServerShows(name, text);
    }
    // lighttpd answers from its cache of file facts (and open files) for up to a second after a
    // change on its disk, also for a file removed and made again at the same path: the open or
    // the save begins once the server shows the change.
    void awaitServerShows(const std::string& name, const std::optional<std::string>& text) {
        EXPECT_TRUE(waitFor([&] { return serverBytes(peer_, name) == text; }, 10000)) << "the server never showed it";
    }
    // Starts a save: its answer when it came without a question, nothing while a question waits.
    std::optional<bool> save(DocumentSceneDelegate* doc) {
        auto written = pending_ = std::make_shared<std::optional<bool>>();
        managerOf(doc)->main_controller->request_save([written](bool w) { *written = w; });
        waitFor([&] { return written->has_value() || alertOf(doc) != nullptr; }, 30000);
        return *written;
    }
    bool awaitSaveEnd() {
        return waitFor([&] { return pending_ && pending_->has_value(); }, 30000);
    }
    std::shared_ptr<std::optional<bool>> pending_;
};

TEST_P(ServerChangedDocument, ASaveOverAnotherChangeAsksAndWritesOnlyWhenTold) {
    CONNECT_OR_SKIP(GetParam());
    putFile("page.css", "a { color: red }\n");
    // Dated ten minutes ahead: to the server the file then changed in the second it answers the
    // open, however long the open takes, so the version has to keep the bytes' hash. For an older
    // file the server's strong ETag is trusted, and Apache's is made of the size and the time,
    // which the change below keeps.
    fs::last_write_time(disk("page.css"), fs::file_time_type::clock::now() + std::chrono::minutes(10));
    awaitServerShows("page.css", "a { color: red }\n");
    DocumentSceneDelegate* doc = openFromBrowser("page.css");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, "a { color: red }\n"));
    ASSERT_TRUE(record(doc, "/page.css"));
    EXPECT_FALSE(record(doc, "/page.css")->server_version.empty());

    type(doc, "/* mine */ ");
    changeOnDisk("page.css", "a { color: RED }\n", true);
    EXPECT_EQ(save(doc), std::nullopt) << "saved without asking";
    ASSERT_TRUE(alertOf(doc)) << "the save did not ask";
    EXPECT_EQ(alertOf(doc)->message().toStdString(), "\u201Cpage.css\u201D changed on the server since you opened it.");
    EXPECT_EQ(diskText("page.css"), "a { color: RED }\n") << "written before the answer";

    // Cancel: nothing written, the edit stays in the window, unsaved.
    ASSERT_TRUE(choose(doc, "Cancel"));
    ASSERT_TRUE(awaitSaveEnd());
    EXPECT_FALSE(pending_->value());
    EXPECT_EQ(diskText("page.css"), "a { color: RED }\n");
    EXPECT_EQ(pageText(doc), "/* mine */ a { color: red }\n");
    EXPECT_GT(pageCount(doc), record(doc, "/page.css")->undo_count) << "marked saved";

    // Asked again, Overwrite writes the window's text.
    EXPECT_EQ(save(doc), std::nullopt);
    ASSERT_TRUE(alertOf(doc));
    ASSERT_TRUE(choose(doc, "Overwrite"));
    ASSERT_TRUE(awaitSaveEnd());
    EXPECT_TRUE(pending_->value());
    EXPECT_EQ(serverBytes(peer_, "page.css"), "/* mine */ a { color: red }\n");

    // The version that save wrote guards the next one.
    type(doc, "/* more */ ");
    changeOnDisk("page.css", "a { color: blue; margin: 0 }\n", false);
    EXPECT_EQ(save(doc), std::nullopt);
    ASSERT_TRUE(alertOf(doc)) << "the second save did not ask";
    ASSERT_TRUE(choose(doc, "Cancel"));
    ASSERT_TRUE(awaitSaveEnd());
    EXPECT_EQ(diskText("page.css"), "a { color: blue; margin: 0 }\n");

    // Deleted on the server's disk: the question of a deleted file; Cancel keeps it deleted.
    fs::remove(disk("page.css"));
    awaitServerShows("page.css", std::nullopt);
    EXPECT_EQ(save(doc), std::nullopt);
    ASSERT_TRUE(alertOf(doc)) << "the save over a deleted file did not ask";
    EXPECT_EQ(alertOf(doc)->alertTitle(), "File Deleted");
    ASSERT_TRUE(choose(doc, "Cancel"));
    ASSERT_TRUE(awaitSaveEnd());
    EXPECT_FALSE(pending_->value());
    EXPECT_FALSE(fs::exists(disk("page.css"))) << "the file came back unasked";
    EXPECT_EQ(save(doc), std::nullopt);
    ASSERT_TRUE(alertOf(doc));
    ASSERT_TRUE(choose(doc, "Save"));
    ASSERT_TRUE(awaitSaveEnd());
    EXPECT_TRUE(pending_->value());
    EXPECT_EQ(serverBytes(peer_, "page.css"), "/* mine */ /* more */ a { color: red }\n");

    // Unchanged on the server: a save just writes.
    type(doc, "/* last */ ");
    EXPECT_EQ(save(doc), std::optional<bool>(true));
    EXPECT_EQ(serverBytes(peer_, "page.css"), "/* mine */ /* more */ /* last */ a { color: red }\n");
}

INSTANTIATE_TEST_SUITE_P(Peers, ServerChangedDocument, ::testing::Values("pyftpd", "vsftpd", "apache", "lighttpd"),
                         [](const auto& info) { return info.param; });

}  // namespace
