// A file changed on the server by someone else while it is open in a document window: the save
// writes nothing and asks "Overwrite" or "Cancel"; Cancel keeps the edit in the window, unsaved,
// and Overwrite writes it. The version a save wrote guards the next save, and a file deleted
// from the server's disk is asked about as one deleted in the server window. The other change
// is made on the server's disk with the same size and modification time where the dates cannot
// show it, against FTP, WebDAV with ETags, and WebDAV without (lighttpd). Changes apart are
// offered "Merge", which saves the merge checked against the copy it merged. Each copy a save
// replaced is in the server's history. The comparison page's buttons are tried on its sheet alone.
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <unistd.h>

#include "DocumentTestSupport.h"
#include "ServerBytes.h"
#include "tandrel/editor/VornCompareViewController.h"
#include "platform/log/Log.h"
#include "tandrel/foundation/VornFileHistory.h"

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
        saving_ = doc;
        managerOf(doc)->main_controller->request_save([written](bool w) { *written = w; });
        waitFor([&] { return written->has_value() || alertOf(doc) != nullptr; }, 30000);
        return *written;
    }
    // As long as a save may take on a busy machine (as save() waits), not how long it should.
    // A save that never ended says what the window shows instead (a question asked again).
    ::testing::AssertionResult awaitSaveEnd() {
        if (waitFor([&] { return pending_ && pending_->has_value(); }, 60000)) return ::testing::AssertionSuccess();
        auto failure = ::testing::AssertionFailure() << "the save never ended";
        if (auto* a = saving_ ? alertOf(saving_) : nullptr) {
            failure << "; the window asks \"" << a->alertTitle().toStdString() << "\": " << a->message().toStdString();
        }
        // The log of the save (its checks and what the server answered).
        if (auto& logger = testLog(); logger) {
            xlog::Log::sharedInstance().flush();
            if (auto file = logger->currentLogFile()) {
                std::ifstream in(*file);
                std::deque<std::string> last;
                for (std::string line; std::getline(in, line);) {
                    last.push_back(line);
                    if (last.size() > 40) last.pop_front();
                }
                failure << "\nthe log's last lines:";
                for (const auto& line : last) failure << "\n  " << line;
            }
        }
        return failure;
    }
    std::shared_ptr<std::optional<bool>> pending_;
    DocumentSceneDelegate* saving_ = nullptr;
    // The log lines of this program's run, in a folder of its own.
    static std::shared_ptr<xlog::FileLogger>& testLog() {
        static std::shared_ptr<xlog::FileLogger> logger = [] {
            auto made = std::make_shared<xlog::FileLogger>(std::filesystem::temp_directory_path() /
                                                           ("dravix-server-change-log-" + std::to_string(::getpid())));
            xlog::Log::addLogger(made);
            return made;
        }();
        return logger;
    }
    void SetUp() override {
        testLog();
        DocumentTest::SetUp();
    }
    // The copies of a file the server's history keeps, newest first.
    std::vector<std::string> historyOf(const std::string& path) {
        std::vector<std::string> out;
        for (const auto& v : VornFileHistory::shared().versions(server_->id, path)) {
            out.push_back(VornFileHistory::read(v).value_or("(unreadable)"));
        }
        return out;
    }
    // The comparison sheet shown over the document, if any.
    static VornCompareViewController* compareOf(DocumentSceneDelegate* doc) {
        auto* m = managerOf(doc);
        if (!m) return nullptr;
        for (ui::ViewController* screen : {static_cast<ui::ViewController*>(m->ext_editor_vc.get()),
                                           static_cast<ui::ViewController*>(m->main_controller.get())}) {
            if (!screen) continue;
            if (auto* s = dynamic_cast<VornCompareViewController*>(screen->presentedViewController())) return s;
        }
        return nullptr;
    }
    // A script's value in the comparison page.
    json inCompare(VornCompareViewController* sheet, const std::string& script) {
        auto out = webtest::run(*sheet->page(), script);
        EXPECT_FALSE(out.error) << script << ": " << (out.error ? out.error->message : "");
        return out.result;
    }
    // The answers the question offers, in order.
    std::vector<std::string> answers(DocumentSceneDelegate* doc) {
        std::vector<std::string> titles;
        if (auto* a = alertOf(doc)) {
            for (const auto& action : a->actions()) titles.push_back(action->title().toStdString());
        }
        return titles;
    }
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
    // Both changed the same line: nothing to merge, only to compare.
    EXPECT_EQ(answers(doc), (std::vector<std::string>{"Compare\u2026", "Overwrite", "Cancel"}));
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
    // The copy it overwrote is in the history.
    EXPECT_EQ(historyOf("/page.css"), (std::vector<std::string>{"a { color: RED }\n"}));

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

// Changes apart merge: "Merge" puts both into the window and saves the merge at once, checked
// against the server's copy that was merged, so a change made while the question waits asks
// again. The file is a windows-1252 style sheet with CR LF line breaks and stays one. Cancel
// writes nothing.
TEST_P(ServerChangedDocument, ChangesApartMergeAndTheMergeIsSavedChecked) {
    CONNECT_OR_SKIP(GetParam());
    // Lines as the server's bytes (windows-1252, CR LF) and as the editor's text.
    auto file = [](const std::vector<std::string>& lines, bool utf8) {
        std::string out;
        for (const auto& line : lines) out += line + "\r\n";
        if (utf8) {
            std::string text;
            for (char c : out) text += c == '\xe9' ? std::string("\u00e9") : std::string(1, c);
            return text;
        }
        return out;
    };
    std::vector<std::string> lines{"@charset \"windows-1252\";", "/* caf\xe9 */", "a {}", "b {}", "c {}",
                                   "d {}", "e {}", "f {}", "g {}"};
    putFile("page.css", file(lines, false));
    fs::last_write_time(disk("page.css"), fs::file_time_type::clock::now() + std::chrono::minutes(10));
    awaitServerShows("page.css", file(lines, false));
    DocumentSceneDelegate* doc = openFromBrowser("page.css");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, file(lines, true))) << pageText(doc).value_or("(nothing)");

    // Mine on the second line, theirs on the last.
    page(doc, "editor.gotoLine(2, 0)");
    type(doc, "/* mine */ ");
    auto mine = lines;
    mine[1] = "/* mine */ /* caf\xe9 */";
    auto theirs = lines;
    theirs[8] = "g { color: red }";
    changeOnDisk("page.css", file(theirs, false), false);
    EXPECT_EQ(save(doc), std::nullopt) << "saved without asking";
    ASSERT_TRUE(alertOf(doc)) << "the save did not ask";
    EXPECT_EQ(alertOf(doc)->message().toStdString(), "\u201Cpage.css\u201D changed on the server since you opened it.");
    EXPECT_EQ(answers(doc), (std::vector<std::string>{"Merge", "Compare\u2026", "Overwrite", "Cancel"}));
    EXPECT_EQ(diskText("page.css"), file(theirs, false)) << "written before the answer";

    // Cancel: nothing written, the window keeps its own text, unsaved.
    ASSERT_TRUE(choose(doc, "Cancel"));
    ASSERT_TRUE(awaitSaveEnd());
    EXPECT_FALSE(pending_->value());
    EXPECT_EQ(diskText("page.css"), file(theirs, false));
    EXPECT_EQ(pageText(doc), file(mine, true));

    // Asked again; a third change comes while the question waits, apart from both.
    EXPECT_EQ(save(doc), std::nullopt);
    ASSERT_EQ(answers(doc), (std::vector<std::string>{"Merge", "Compare\u2026", "Overwrite", "Cancel"}));
    auto third = theirs;
    third[5] = "d { margin: 0 }";
    changeOnDisk("page.css", file(third, false), false);
    ASSERT_TRUE(choose(doc, "Merge"));
    // The merge was of the copy before the third change: its save is refused and asks again
    // (once the question answered has gone: the save reads and merges anew before it asks).
    ASSERT_TRUE(waitFor([&] { return alertOf(doc) == nullptr || pending_->has_value(); }, 30000));
    ASSERT_TRUE(waitFor([&] { return alertOf(doc) != nullptr || pending_->has_value(); }, 30000));
    ASSERT_TRUE(alertOf(doc)) << "the merge was saved over a third change unasked";
    EXPECT_FALSE(pending_->has_value());
    EXPECT_EQ(diskText("page.css"), file(third, false));
    auto merged = theirs;
    merged[1] = mine[1];
    EXPECT_EQ(pageText(doc), file(merged, true)) << "the merge is not in the window";
    EXPECT_EQ(answers(doc), (std::vector<std::string>{"Merge", "Compare\u2026", "Overwrite", "Cancel"}));

    ASSERT_TRUE(choose(doc, "Merge"));
    ASSERT_TRUE(awaitSaveEnd());
    EXPECT_TRUE(pending_->value());
    merged[5] = third[5];
    EXPECT_EQ(serverBytes(peer_, "page.css"), file(merged, false));
    EXPECT_EQ(pageText(doc), file(merged, true));
    EXPECT_LE(pageCount(doc), record(doc, "/page.css")->undo_count) << "not marked saved";
    // The copy the merge replaced is in the history, byte for byte; the copies the refused saves
    // did not replace are not.
    EXPECT_EQ(historyOf("/page.css"), (std::vector<std::string>{file(third, false)}));

    // The merged copy is the base now: the next save goes through unasked, and keeps it first.
    page(doc, "editor.gotoLine(3, 0)");
    type(doc, "/* last */ ");
    const auto before = merged;
    merged[2] = "/* last */ a {}";
    EXPECT_EQ(save(doc), std::optional<bool>(true));
    EXPECT_EQ(serverBytes(peer_, "page.css"), file(merged, false));
    EXPECT_EQ(historyOf("/page.css"), (std::vector<std::string>{file(before, false), file(third, false)}));
}

// Overlapping changes: "Compare…" shows the server's text beside the merge, whose conflict must
// be decided before Save takes it; Save puts the result in the window and saves it checked against
// the copy compared, so a change made during the comparison asks again. Cancel writes nothing.
TEST_P(ServerChangedDocument, CompareSavesTheDecidedResultChecked) {
    CONNECT_OR_SKIP(GetParam());
    auto file = [](const std::vector<std::string>& lines) {
        std::string out;
        for (const auto& line : lines) out += line + "\n";
        return out;
    };
    const std::vector<std::string> lines{"a {}", "b {}", "c {}", "d {}", "e {}", "f {}", "g {}", "h {}"};
    putFile("page.css", file(lines));
    fs::last_write_time(disk("page.css"), fs::file_time_type::clock::now() + std::chrono::minutes(10));
    awaitServerShows("page.css", file(lines));
    DocumentSceneDelegate* doc = openFromBrowser("page.css");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, file(lines)));
    page(doc, "editor.gotoLine(2, 0)");
    type(doc, "/* mine */ ");
    auto theirs = lines;
    theirs[1] = "b { color: red }";
    theirs[7] = "h { margin: 0 }";
    changeOnDisk("page.css", file(theirs), false);
    EXPECT_EQ(save(doc), std::nullopt);
    ASSERT_EQ(answers(doc), (std::vector<std::string>{"Compare\u2026", "Overwrite", "Cancel"}));
    ASSERT_TRUE(choose(doc, "Compare\u2026"));
    ASSERT_TRUE(waitFor([&] { return compareOf(doc) && compareOf(doc)->page_ready(); }, 30000)) << "no comparison";
    auto* sheet = compareOf(doc);

    // The result starts as the merge: the server's change apart from mine is in, the overlapping
    // one is a conflict, and Save takes nothing while it stands.
    EXPECT_EQ(inCompare(sheet, "compare.conflicts()"), 1);
    const std::string start = inCompare(sheet, "compare.result()").get<std::string>();
    EXPECT_NE(start.find("<<<<<<< editor\n/* mine */ b {}\n=======\nb { color: red }\n>>>>>>> server\n"), std::string::npos)
        << start;
    EXPECT_NE(start.find("h { margin: 0 }"), std::string::npos) << start;
    EXPECT_GT(inCompare(sheet, "compare.differences()").get<int>(), 0);
    sheet->save();
    ASSERT_TRUE(waitFor([&] { return sheet->note()->text() == VornCompareViewController::kUndecided; }, 10000));
    EXPECT_EQ(compareOf(doc), sheet);
    EXPECT_FALSE(pending_->has_value());

    // Decided (as a user edits the result); meanwhile a third change lands on the server.
    auto decided = theirs;
    decided[1] = "/* mine */ b { color: red }";
    inCompare(sheet, "ace.edit('compare-result').setValue(" + json(file(decided)).dump() + ", -1)");
    EXPECT_EQ(inCompare(sheet, "compare.conflicts()"), 0);
    auto third = theirs;
    third[5] = "f { padding: 0 }";
    changeOnDisk("page.css", file(third), false);
    sheet->save();
    // The result is in the window; its save is refused and asks again.
    ASSERT_TRUE(waitFor([&] { return compareOf(doc) == nullptr; }, 10000));
    ASSERT_TRUE(waitFor([&] { return alertOf(doc) != nullptr || pending_->has_value(); }, 30000));
    ASSERT_TRUE(alertOf(doc)) << "the result was saved over a third change unasked";
    EXPECT_EQ(diskText("page.css"), file(third));
    EXPECT_EQ(pageText(doc), file(decided));

    // Cancel writes nothing.
    EXPECT_EQ(answers(doc), (std::vector<std::string>{"Merge", "Compare\u2026", "Overwrite", "Cancel"}));
    ASSERT_TRUE(choose(doc, "Cancel"));
    ASSERT_TRUE(awaitSaveEnd());
    EXPECT_FALSE(pending_->value());
    EXPECT_EQ(diskText("page.css"), file(third));

    // Compared again: the merge is clean now, and Save writes it.
    EXPECT_EQ(save(doc), std::nullopt);
    ASSERT_TRUE(choose(doc, "Compare\u2026"));
    ASSERT_TRUE(waitFor([&] { return compareOf(doc) && compareOf(doc)->page_ready(); }, 30000));
    sheet = compareOf(doc);
    EXPECT_EQ(inCompare(sheet, "compare.conflicts()"), 0);
    sheet->save();
    ASSERT_TRUE(awaitSaveEnd());
    EXPECT_TRUE(pending_->value());
    auto saved = decided;
    saved[5] = third[5];
    EXPECT_EQ(serverBytes(peer_, "page.css"), file(saved));
    EXPECT_EQ(pageText(doc), file(saved));
}

// The comparison page, through its sheet: a conflict decided with each of its sides, and the
// server's change the merge took in apart from the conflict put back to the editor's lines. Each
// is one edit of the result, which Undo takes back.
class ComparePage : public DocumentTest {};

TEST_F(ComparePage, EachDifferenceIsTakenFromEitherSideAsOneEdit) {
    const std::string mine = "a {}\n/* mine */ b {}\nc {}\nd {}\ne {}\nh {}\n";
    const std::string server = "a {}\nb { color: red }\nc {}\nd {}\ne {}\nh { margin: 0 }\n";
    const std::string merged =
        "a {}\n<<<<<<< editor\n/* mine */ b {}\n=======\nb { color: red }\n>>>>>>> server\n"
        "c {}\nd {}\ne {}\nh { margin: 0 }\n";
    auto sheet = ui::make<VornCompareViewController>("page.css", server, mine, merged, "css", [](auto) {});
    sheet->view()->resize(980, 620);
    sheet->view()->show();
    ASSERT_TRUE(waitFor([&] { return sheet->page_ready(); }, webtest::kPageLoadMs)) << "no comparison";
    auto run = [&](const std::string& script) {
        auto out = webtest::run(*sheet->page(), script);
        EXPECT_FALSE(out.error) << script << ": " << (out.error ? out.error->message : "");
        return out.result;
    };
    ASSERT_EQ(run("compare.conflicts()"), 1);
    ASSERT_EQ(run("compare.serverChanges()"), 1);

    struct Case {
        const char* action;
        std::string result;
        int conflicts;
        int serverChanges;  // the result's differences from the editor's text outside conflicts
    };
    const std::vector<Case> cases{
        {"compare.keep(0, 'mine')", "a {}\n/* mine */ b {}\nc {}\nd {}\ne {}\nh { margin: 0 }\n", 0, 1},
        {"compare.keep(0, 'server')", "a {}\nb { color: red }\nc {}\nd {}\ne {}\nh { margin: 0 }\n", 0, 2},
        {"compare.keep(0, 'both')", "a {}\n/* mine */ b {}\nb { color: red }\nc {}\nd {}\ne {}\nh { margin: 0 }\n", 0, 2},
        {"compare.keepMine(0)",
         "a {}\n<<<<<<< editor\n/* mine */ b {}\n=======\nb { color: red }\n>>>>>>> server\nc {}\nd {}\ne {}\nh {}\n", 1,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.action);
        EXPECT_EQ(run(c.action), true);
        EXPECT_EQ(run("compare.result()"), c.result);
        EXPECT_EQ(run("compare.conflicts()"), c.conflicts);
        EXPECT_EQ(run("compare.serverChanges()"), c.serverChanges);
        run("ace.edit('compare-result').undo()");
        EXPECT_EQ(run("compare.result()"), merged) << "not one edit";
    }
}

INSTANTIATE_TEST_SUITE_P(Peers, ServerChangedDocument, ::testing::Values("pyftpd", "vsftpd", "apache", "lighttpd"),
                         [](const auto& info) { return info.param; });

}  // namespace
