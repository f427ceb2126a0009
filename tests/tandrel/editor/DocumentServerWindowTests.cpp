// A file-viewer window and the document windows it serves, end to end against the local FTP and
// WebDAV servers: closing the server window, switching it to another server and disconnecting it
// first ask "Unsaved Changes" for each changed file while the connection is still up (so "Save"
// reaches the server), and "Cancel" keeps every window; one save of a file runs at a time, so the
// server ends with the newest text; a save that cannot reach its server says so; and a link to
// nothing opens no empty editor.
#include <gtest/gtest.h>

#include <QMenu>
#include <QTest>

#include "DocumentTestSupport.h"
#include "HoldingRelay.h"
#include "ServerBytes.h"
#include "tandrel/servers/QuickConnectView.h"

using namespace documenttest;

namespace {

const std::vector<std::string> kPeers{"pyftpd", "vsftpd", "apache", "sshd"};

std::string peerName(const ::testing::TestParamInfo<std::string>& info) { return info.param; }

class ServerWindowDocuments : public DocumentTest, public ::testing::WithParamInterface<std::string> {
protected:
    // A changed file in its own document window.
    DocumentSceneDelegate* openChanged(const std::string& name, const std::string& text, const std::string& edit) {
        putFile(name, text);
        DocumentSceneDelegate* doc = openFromBrowser(name);
        if (!doc || !waitForPageText(doc, text)) return nullptr;
        type(doc, edit);
        return doc;
    }

    // A save of a file deleted on the server asks first: "Cancel" writes nothing, "Save" writes
    // the document's text there again.
    void saveAsksBeforeWritingAgain(DocumentSceneDelegate* doc, const std::string& name, const std::string& text) {
        std::optional<bool> written;
        managerOf(doc)->main_controller->request_save([&](bool w) { written = w; });
        ASSERT_TRUE(waitFor([&] { return alertOf(doc) != nullptr || written.has_value(); }, 30000));
        ASSERT_TRUE(alertOf(doc)) << "the save did not ask";
        EXPECT_EQ(alertOf(doc)->alertTitle(), "File Deleted");
        ASSERT_TRUE(choose(doc, "Cancel"));
        ASSERT_TRUE(waitFor([&] { return written.has_value(); }, 10000));
        EXPECT_FALSE(*written);
        EXPECT_EQ(serverBytes(peer_, name), std::nullopt) << "the file came back unasked";

        written.reset();
        managerOf(doc)->main_controller->request_save([&](bool w) { written = w; });
        ASSERT_TRUE(awaitAlert(doc));
        ASSERT_TRUE(choose(doc, "Save"));
        ASSERT_TRUE(waitFor([&] { return written.has_value(); }, 30000));
        EXPECT_TRUE(*written);
        EXPECT_EQ(serverBytes(peer_, name), text);
    }

    // Deletes the file in the server window; its document window is told, and the user says OK.
    void deleteInServerWindow(DocumentSceneDelegate* doc, const std::string& name) {
        auto entry = window->find_listed_file(file_bucket_id_for_path("/" + name));
        ASSERT_TRUE(entry);
        window->fileView_controller->delete_remote_item(entry);
        ASSERT_TRUE(awaitAlert(doc)) << "the document window was not told";
        ASSERT_TRUE(choose(doc, "OK"));
        ASSERT_TRUE(waitFor([&] { return alertOf(doc) == nullptr; }, 5000));
    }

    QuickConnectView* header() const { return window->fileView_controller->quickConnectView; }
    // Runs the entry of the header's menu, as a click on it does.
    bool runMenuEntry(const std::function<bool(QAction*)>& which) {
        auto menu = header()->build_quick_connect_menu();
        if (!menu) return false;
        for (QAction* action : menu->findChildren<QAction*>()) {
            if (which(action) && action->isEnabled()) {
                action->trigger();
                return true;
            }
        }
        return false;
    }

    bool serverWindowOpen() const {
        for (FileViewerScene* s : SceneManager::file_viewer_scenes()) {
            if (s->delegate() == window) return true;
        }
        return false;
    }
};

// Closing the server window.
TEST_P(ServerWindowDocuments, ClosingTheServerWindowAsksForEachChangedFileAndCancelKeepsEveryWindow) {
    CONNECT_OR_SKIP(GetParam());
    QPointer<DocumentSceneDelegate> first(openChanged("one.css", "a { }\n", "/* one */ "));
    QPointer<DocumentSceneDelegate> second(openChanged("two.css", "b { }\n", "/* two */ "));
    ASSERT_TRUE(first && second);
    QPointer<FileViewerSceneDelegate> viewer(window);
    ASSERT_TRUE(window->window());

    // Cancel at the first question keeps both files and the server window as they were.
    window->window()->close();
    ASSERT_TRUE(awaitAlert(first)) << "closing the server window did not ask";
    EXPECT_EQ(alertOf(first)->alertTitle(), "Unsaved Changes");
    EXPECT_TRUE(window->my_session_info->connected) << "asked with the connection already gone";
    ASSERT_TRUE(choose(first, "Cancel"));
    ASSERT_TRUE(waitFor([&] { return alertOf(first) == nullptr; }, 5000));
    EXPECT_TRUE(isOpen(first));
    EXPECT_TRUE(isOpen(second));
    EXPECT_TRUE(serverWindowOpen());
    EXPECT_EQ(alertOf(second), nullptr) << "asked on after a Cancel";
    EXPECT_TRUE(window->my_session_info->connected);

    // Asked again: "Save" writes the first file, "Discard" drops the second; then everything closes.
    window->window()->close();
    ASSERT_TRUE(awaitAlert(first));
    ASSERT_TRUE(choose(first, "Save"));
    ASSERT_TRUE(awaitAlert(second)) << "the second changed file was not asked about";
    EXPECT_EQ(alertOf(second)->alertTitle(), "Unsaved Changes");
    EXPECT_EQ(diskText("one.css"), "/* one */ a { }\n") << "the first file was not saved before the next question";
    ASSERT_TRUE(choose(second, "Discard"));
    EXPECT_TRUE(waitFor([&] { return !isOpen(first) && !isOpen(second); }, 10000));
    EXPECT_TRUE(waitFor([&] { return !viewer; }, 10000)) << "the server window stayed open";
    window = nullptr;
    EXPECT_EQ(serverBytes(peer_, "one.css"), "/* one */ a { }\n");
    EXPECT_EQ(serverBytes(peer_, "two.css"), "b { }\n");
}

// Switching the server window to another server.
TEST_P(ServerWindowDocuments, SwitchingToAnotherServerAsksFirstAndSaveReachesTheOldServer) {
    CONNECT_OR_SKIP(GetParam());
    const auto first = server_;
    const opstest::Peer other = peer(GetParam());
    const auto second = saveServer(other);
    QPointer<DocumentSceneDelegate> doc(openChanged("site.js", "var a;\n", "// new\n"));
    ASSERT_TRUE(doc);
    const QString entry = QuickConnectView::service_entry_name(*second);
    auto toSecond = [&](QAction* a) { return a->text() == entry; };

    // Cancel: the window stays on the first server, the file stays open and changed.
    ASSERT_TRUE(runMenuEntry(toSecond));
    ASSERT_TRUE(awaitAlert(doc)) << "switching servers did not ask about the changed file";
    EXPECT_EQ(alertOf(doc)->alertTitle(), "Unsaved Changes");
    EXPECT_TRUE(window->my_session_info->connected);
    ASSERT_TRUE(choose(doc, "Cancel"));
    ASSERT_TRUE(waitFor([&] { return alertOf(doc) == nullptr; }, 5000));
    EXPECT_TRUE(isOpen(doc));
    EXPECT_EQ(window->my_session_info->service_id, first->id);
    EXPECT_TRUE(window->my_session_info->connected);
    EXPECT_EQ(pageText(doc), "// new\nvar a;\n");

    // Save: the first server gets the file, its window closes, then the window connects the second.
    ASSERT_TRUE(runMenuEntry(toSecond));
    ASSERT_TRUE(awaitAlert(doc));
    ASSERT_TRUE(choose(doc, "Save"));
    EXPECT_TRUE(waitFor([&] { return !isOpen(doc); }, 30000));
    EXPECT_TRUE(waitFor([&] { return window->my_session_info->connected && window->my_session_info->service_id == second->id; },
                        30000))
        << "the window did not move to the second server";
    EXPECT_EQ(serverBytes(peer_, "site.js"), "// new\nvar a;\n");
    EXPECT_EQ(serverBytes(other, "site.js"), std::nullopt) << "the file went to the new server";
}

// The disconnect asks while the connection is up.
TEST_P(ServerWindowDocuments, DisconnectAsksWithTheConnectionUpAndResetsAfterTheDecision) {
    CONNECT_OR_SKIP(GetParam());
    QPointer<DocumentSceneDelegate> doc(openChanged("page.php", "<?php echo 1;\n", "// changed\n"));
    ASSERT_TRUE(doc);

    ASSERT_TRUE(runMenuEntry([](QAction* a) { return a->objectName() == "disconnect_service_item"; }));
    ASSERT_TRUE(awaitAlert(doc)) << "the disconnect did not ask about the changed file";
    EXPECT_EQ(alertOf(doc)->alertTitle(), "Unsaved Changes");
    EXPECT_TRUE(window->my_session_info->connected) << "the connection was reset before the question";
    EXPECT_TRUE(window->provider_as_read_write());
    ASSERT_TRUE(choose(doc, "Save"));
    EXPECT_TRUE(waitFor([&] { return !isOpen(doc); }, 30000));
    EXPECT_TRUE(waitFor([&] { return !window->my_session_info->connected; }, 30000)) << "the disconnect never ran";
    EXPECT_EQ(serverBytes(peer_, "page.php"), "// changed\n<?php echo 1;\n");
    EXPECT_EQ(alertOf(doc), nullptr);
    EXPECT_EQ(shownAlert(), nullptr) << shownAlert()->message().toStdString();
}

// A file renamed in the server window while it is open: the document follows the new name.
TEST_P(ServerWindowDocuments, RenamingAnOpenFileMovesItsDocumentToTheNewName) {
    CONNECT_OR_SKIP(GetParam());
    QPointer<DocumentSceneDelegate> doc(openChanged("old.css", "a { }\n", "/* edit */ "));
    ASSERT_TRUE(doc);
    auto explorer = window->fileView_controller;
    auto entry = window->find_listed_file(file_bucket_id_for_path("/old.css"));
    ASSERT_TRUE(entry);
    explorer->rename_remote_item(entry, "new.css");
    ASSERT_TRUE(waitFor([&] { return managerOf(doc)->my_current_editor_info.file_path == std::string("/new.css"); }, 15000))
        << "the document did not follow the rename";
    const std::string new_id = file_bucket_id_for_path("/new.css");
    EXPECT_EQ(managerOf(doc)->my_current_editor_info.file_bucket_id, new_id);
    EXPECT_TRUE(record(doc, "/new.css"));
    EXPECT_FALSE(record(doc, "/old.css"));
    EXPECT_TRUE(waitFor([&] { return pageSession(doc).value("session_id", std::string()) == new_id; }, 10000));
    EXPECT_TRUE(waitFor([&] { return managerOf(doc)->ext_editor_vc->title().contains(QStringLiteral("new")); }, 5000))
        << managerOf(doc)->ext_editor_vc->title().toStdString();

    std::optional<bool> written;
    managerOf(doc)->main_controller->request_save([&](bool w) { written = w; });
    ASSERT_TRUE(waitFor([&] { return written.has_value(); }, 30000));
    EXPECT_TRUE(*written);
    EXPECT_EQ(serverBytes(peer_, "new.css"), "/* edit */ a { }\n");
    EXPECT_EQ(serverBytes(peer_, "old.css"), std::nullopt) << "the save brought the old name back";
}

// A file deleted in the server window while it is open: the window is told, and a save asks.
TEST_P(ServerWindowDocuments, DeletingAnOpenFileTellsItsWindowAndASaveAsksBeforeWritingItAgain) {
    CONNECT_OR_SKIP(GetParam());
    QPointer<DocumentSceneDelegate> doc(openChanged("gone.css", "a { }\n", "/* edit */ "));
    ASSERT_TRUE(doc);
    auto entry = window->find_listed_file(file_bucket_id_for_path("/gone.css"));
    ASSERT_TRUE(entry);
    window->fileView_controller->delete_remote_item(entry);
    ASSERT_TRUE(awaitAlert(doc)) << "the document window was not told";
    EXPECT_EQ(alertOf(doc)->alertTitle(), "File Deleted");
    ASSERT_TRUE(choose(doc, "OK"));
    ASSERT_TRUE(waitFor([&] { return alertOf(doc) == nullptr; }, 5000));
    EXPECT_EQ(serverBytes(peer_, "gone.css"), std::nullopt);
    saveAsksBeforeWritingAgain(doc, "gone.css", "/* edit */ a { }\n");
}

// The deleted mark is kept with the file's session: after a restart (the sessions read again
// from their files, the window's own state fresh) a save still asks before writing the file again.
TEST_P(ServerWindowDocuments, TheDeletedMarkOutlivesARestartAndASaveStillAsks) {
    CONNECT_OR_SKIP(GetParam());
    QPointer<DocumentSceneDelegate> doc(openChanged("kept.css", "a { }\n", "/* edit */ "));
    ASSERT_TRUE(doc);
    deleteInServerWindow(doc, "kept.css");
    if (HasFatalFailure()) return;

    // A restart: the sessions come back from their files; the window's state starts unmarked.
    auto& store = app_sessions_manager();
    auto markOnDisk = [&] {
        store.save_queue.sync([] {});
        std::error_code ec;
        for (const auto& f : fs::recursive_directory_iterator(*store.url, ec)) {
            if (f.is_regular_file() && filestest::readDiskFile(f.path()).find("\"removed_from_server\": true") != std::string::npos)
                return true;
        }
        return false;
    };
    ASSERT_TRUE(waitFor(markOnDisk, 10000)) << "the mark never reached the sessions file";
    store.save_queue.sync([] {});
    store.service_sessions.clear();
    store.load_sessions(store.url);
    auto reread = record(doc, "/kept.css");
    ASSERT_TRUE(reread);
    EXPECT_TRUE(reread->removed_from_server) << "the mark was not kept with the session";
    managerOf(doc)->my_current_editor_info.removed_from_server = false;

    saveAsksBeforeWritingAgain(doc, "kept.css", "/* edit */ a { }\n");
    if (HasFatalFailure()) return;
    // Written again with consent: the mark goes.
    EXPECT_TRUE(waitFor([&] {
        auto r = record(doc, "/kept.css");
        return r && !r->removed_from_server;
    }, 10000));
}

// A link whose target is gone cannot be read: its document window goes, and the error shows in
// the server window that opened it, not over an empty editor.
TEST_P(ServerWindowDocuments, ALinkToNothingLeavesNoEmptyEditorBehindItsError) {
    CONNECT_OR_SKIP(GetParam());
    fs::create_symlink("missing.html", disk("dangling.html"));
    ASSERT_TRUE(fs::is_symlink(disk("dangling.html")));
    const int before = connected;
    SceneManager::open_document_scene(server_->id, file_bucket_id_for_path("/dangling.html"), true,
                                      [](const VornError& e) { ADD_FAILURE() << e.text(); });
    ASSERT_TRUE(waitFor([&] { return connected > before; }, 10000)) << "no document window";
    bool overEditor = false;
    ui::AlertController* alert = awaitServerWindowAlert(overEditor);
    ASSERT_TRUE(alert) << "no error in the server window";
    EXPECT_FALSE(overEditor) << "the error showed over the empty editor";
    EXPECT_TRUE(waitFor([&] { return SceneManager::document_scenes().empty(); }, 10000)) << "the empty editor stayed";
    EXPECT_FALSE(alert->message().isEmpty());
    alert->performAction(0);
}

// A deleted file the user writes again is made anew: where somebody has made one of that name
// meanwhile, theirs is not overwritten unasked. Once written, the server window's row of the
// file shows what the document window saved, with no listing asked for.
TEST_P(ServerWindowDocuments, AFileMadeAgainMeanwhileIsNotOverwrittenUnaskedAndItsRowShowsTheSave) {
    CONNECT_OR_SKIP(GetParam());
    QPointer<DocumentSceneDelegate> doc(openChanged("again.css", "a { }\n", "/* edit */ "));
    ASSERT_TRUE(doc);
    deleteInServerWindow(doc, "again.css");
    if (HasFatalFailure()) return;
    const std::string theirs = "b { color: red; }\n";
    putFile("again.css", theirs);  // made again by somebody else

    auto titled = [&](const char* title) { return alertOf(doc) && alertOf(doc)->alertTitle() == title; };
    std::optional<bool> written;
    managerOf(doc)->main_controller->request_save([&](bool w) { written = w; });
    ASSERT_TRUE(waitFor([&] { return titled("File Deleted") || written.has_value(); }, 30000));
    ASSERT_TRUE(choose(doc, "Save"));
    ASSERT_TRUE(waitFor([&] { return titled(VornEditorJSConnector::kChangedTitle) || written.has_value(); }, 30000));
    ASSERT_FALSE(written.has_value()) << "the file made again was overwritten unasked";
    EXPECT_NE(alertOf(doc)->message().toStdString().find("made again"), std::string::npos);
    ASSERT_TRUE(choose(doc, "Cancel"));
    ASSERT_TRUE(waitFor([&] { return written.has_value(); }, 10000));
    EXPECT_FALSE(*written);
    EXPECT_EQ(serverBytes(peer_, "again.css"), theirs);

    written.reset();
    managerOf(doc)->main_controller->request_save([&](bool w) { written = w; });
    ASSERT_TRUE(waitFor([&] { return titled(VornEditorJSConnector::kChangedTitle) || written.has_value(); }, 30000));
    ASSERT_FALSE(written.has_value()) << "the save did not ask";
    ASSERT_TRUE(choose(doc, "Overwrite"));
    ASSERT_TRUE(waitFor([&] { return written.has_value(); }, 30000));
    EXPECT_TRUE(*written);
    const std::string text = "/* edit */ a { }\n";
    EXPECT_EQ(serverBytes(peer_, "again.css"), text);
    auto listedSize = [&]() -> int64_t {
        auto listing = window->explorer_listing();
        if (!listing || !listing->fileSections) return -2;
        for (const auto& e : *listing->fileSections)
            if (e && e->name == "again.css") return e->size.value_or(-1);
        return -1;
    };
    EXPECT_TRUE(waitFor([&] { return listedSize() == static_cast<int64_t>(text.size()); }, 30000))
        << "the row says " << listedSize();
}

INSTANTIATE_TEST_SUITE_P(Peers, ServerWindowDocuments, ::testing::ValuesIn(kPeers), peerName);

// ---- one save at a time ----------------------------------------------------------------------------

class OneSaveAtATime : public DocumentTest, public ::testing::WithParamInterface<std::string> {};

// Two saves of one file never overlap. The relay keeps the first write on its way to the
// server until the second save has been asked for, then lets it go: the server must end with the
// newer text, and the editor must mark saved only what the server holds.
TEST_P(OneSaveAtATime, ASaveAskedWhileOneRunsWaitsAndTheServerEndsWithTheNewestText) {
    relaytest::HoldingRelay relay(peer(GetParam()).port);
    ASSERT_GT(relay.port(), 0);
    if (auto why = connectPeer(GetParam(), relay.port())) GTEST_SKIP() << *why;

    putFile("app.js", "base\n");
    DocumentSceneDelegate* doc = openFromBrowser("app.js");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, "base\n"));
    auto* m = managerOf(doc);

    type(doc, "older ");
    int firstDone = 0, secondDone = 0;
    bool firstWritten = false, secondWritten = false;
    m->main_controller->request_save([&](bool w) {
        ++firstDone;
        firstWritten = w;
    });
    ASSERT_TRUE(waitFor([&] { return relay.holding(); }, 30000)) << "the first write never reached the relay";

    type(doc, "newer ");
    const int64_t newest = pageCount(doc);
    m->main_controller->request_save([&](bool w) {
        ++secondDone;
        secondWritten = w;
    });
    // The second save either waits for the first (one at a time) or races it to the server.
    ASSERT_TRUE(waitFor([&] { return m->editor_js_connector->save_waiting() || secondDone > 0; }, 30000));
    relay.release();

    ASSERT_TRUE(waitFor([&] { return firstDone > 0 && secondDone > 0; }, 30000));
    EXPECT_TRUE(firstWritten);
    EXPECT_TRUE(secondWritten);
    EXPECT_EQ(firstDone, 1);
    EXPECT_EQ(secondDone, 1);
    EXPECT_EQ(serverBytes(peer_, "app.js"), "older newer base\n") << "the server ended with an older text";
    auto r = record(doc, "/app.js");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->undo_count, newest);
    EXPECT_EQ(relay.uploads(), 2);
    EXPECT_EQ(alertOf(doc), nullptr);
}

// The relay finds the upload in the protocol's commands, which SSH encrypts: servers spoken to
// in the clear only.
INSTANTIATE_TEST_SUITE_P(Peers, OneSaveAtATime, ::testing::Values("pyftpd", "vsftpd", "apache"), peerName);

// ---- a save without its server -------------------------------------------------------------------

// A save that cannot reach its server always tells so.
struct LostServer {
    const char* name;
    EnumManager::vorn_error_throws::Case error;
};

class SaveWithoutServer : public DocumentTest, public ::testing::WithParamInterface<LostServer> {};

TEST_P(SaveWithoutServer, ShowsAnError) {
    CONNECT_OR_SKIP("pyftpd");
    putFile("lost.txt", "text\n");
    DocumentSceneDelegate* doc = openFromBrowser("lost.txt");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, "text\n"));
    type(doc, "edit ");

    const std::string how = GetParam().name;
    if (how == "server_window_gone") {
        // The server window went without its documents deciding (as a crash of its scene would).
        QPointer<FileViewerSceneDelegate> viewer(window);
        ui::Scene* scene = nullptr;
        for (FileViewerScene* s : SceneManager::file_viewer_scenes()) {
            if (s->delegate() == window) scene = s;
        }
        ASSERT_TRUE(scene);
        app().requestSceneSessionDestruction(scene->session(), {}, nullptr);
        ASSERT_TRUE(waitFor([&] { return !viewer; }, 10000));
        window = nullptr;
    } else {
        // The server window moved to another server underneath the document.
        const opstest::Peer other = peer("pyftpd");
        const auto second = saveServer(other);
        ASSERT_TRUE(connect(second->id).bucket);
    }

    bool finished = false, written = true;
    managerOf(doc)->main_controller->request_save([&](bool w) {
        finished = true;
        written = w;
    });
    ASSERT_TRUE(waitFor([&] { return finished; }, 30000));
    EXPECT_FALSE(written);
    auto* alert = awaitAlert(doc);
    ASSERT_TRUE(alert) << "the save failed without a word";
    EXPECT_EQ(alert->alertTitle(), "An Error Occurred");
    EXPECT_EQ(alert->message().toStdString(), EnumManager::vorn_error_throws(GetParam().error).errorDescription());
    EXPECT_EQ(diskText("lost.txt"), "text\n");
}

INSTANTIATE_TEST_SUITE_P(Cases, SaveWithoutServer,
                         ::testing::Values(LostServer{"server_window_gone", EnumManager::vorn_error_throws::no_file_window},
                                           LostServer{"server_window_on_another_server",
                                                      EnumManager::vorn_error_throws::guardReturnNoFileProvider}),
                         [](const ::testing::TestParamInfo<LostServer>& info) { return std::string(info.param.name); });

}  // namespace
