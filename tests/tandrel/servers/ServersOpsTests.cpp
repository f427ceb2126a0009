// A file-viewer window's connection and remote file operations against the local FTP and WebDAV
// servers and the test keyring: connecting a saved server, failures reported as errors, the
// sessions record, new files and folders, editor saves, dropped files and dragged-out files.
#include <QLineEdit>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include "platform/files/FileProvider.h"
#include "tandrel/foundation/VornServerAddress.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/foundation/VornSessionsDataModel.h"
#include "HoldingRelay.h"
#include "platform/files/LoopbackRelay.h"
#include "support/MainQueueSettle.h"
#include "tandrel/servers/OpsTestSupport.h"
#include "tandrel/servers/VornFileDragDrop.h"

using namespace opstest;
using filestest::readDiskFile;
using filestest::writeDiskFile;
namespace fs = std::filesystem;
using Err = EnumManager::vorn_error_throws;

namespace {

bool isAppError(const std::optional<VornError>& e, Err::Case c) { return e && EnumManager::is_error(*e, c); }
std::string text(const std::optional<VornError>& e) { return e ? e->text() : "no error"; }

// The same over each server kind.
class OpsPeerTest : public OpsTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        OpsTest::SetUp();
        p = peer(GetParam());
    }
    // Connects the peer's saved server; false (with a failure) when it does not connect.
    bool connectPeer() {
        server = saveServer(p);
        auto c = connect(server->id);
        EXPECT_EQ(c.calls, 1);
        EXPECT_TRUE(c.bucket) << text(c.error);
        EXPECT_FALSE(c.error) << text(c.error);
        return c.bucket && !c.error;
    }
    fs::path disk(const std::string& name) const { return p.root / name; }

    Peer p;
    std::shared_ptr<VornSingleServiceDataModel> server;
};

std::string peerName(const ::testing::TestParamInfo<const char*>& info) { return info.param; }

}  // namespace

// ---- connecting --------------------------------------------------------------------------------

TEST_P(OpsPeerTest, SavedServerConnectsWithItsKeychainPasswordAndResetKeepsItsId) {
    SKIP_WITHOUT_KEYRING();
    SKIP_WITHOUT_PEER(p);
    ASSERT_TRUE(connectPeer());

    EXPECT_TRUE(window->my_session_info->connected);
    EXPECT_EQ(window->my_session_info->service_id, server->id);
    EXPECT_EQ(window->my_session_info->server_url, p.url);
    ASSERT_TRUE(window->service);
    EXPECT_EQ(window->service->id, server->id);
    ASSERT_TRUE(window->provider_as_read_write());
    EXPECT_TRUE(app_sessions_manager().service_sessions.count(server->id));
    // The window shows the server: its name as the title, the root folder listed.
    ui::Window* shown = window->window();
    ASSERT_TRUE(shown);
    EXPECT_TRUE(waitFor([&] { return shown->windowTitle().toStdString() == server->nickname; }, 5000))
        << shown->windowTitle().toStdString();
    EXPECT_TRUE(waitFor([&] { return window->my_session_info->current_dir == std::string("/"); }, 30000));
    // The record reached the disk, in the server's own folder.
    EXPECT_TRUE(fs::exists(*app_sessions_manager().url / VornSessionsManager::folder_name_for_service_id(server->id) /
                           "session.json"));

    // A disconnect: nothing connected any more, but the window still names its last server, so
    // that server's document windows can be found.
    EXPECT_FALSE(await([&](auto done) { window->reset_service_connection(done); }));
    EXPECT_FALSE(window->my_session_info->connected);
    EXPECT_FALSE(window->provider_as_read_write());
    EXPECT_FALSE(window->provider_bucket);
    EXPECT_FALSE(window->my_session_info->server_url);
    EXPECT_EQ(window->my_session_info->current_dir, std::string());
    EXPECT_EQ(window->my_session_info->file_path, std::string());
    EXPECT_EQ(window->my_session_info->service_id, server->id);
    ASSERT_TRUE(window->service);
    EXPECT_EQ(window->service->id, server->id);
    EXPECT_TRUE(waitFor([&] { return shown->windowTitle() == QStringLiteral("DravixFTPClient"); }, 5000))
        << shown->windowTitle().toStdString();
}

TEST_P(OpsPeerTest, WrongPasswordIsAnErrorAndLeavesTheWindowUnconnected) {
    SKIP_WITHOUT_KEYRING();
    SKIP_WITHOUT_PEER(p);
    auto s = saveServer(p.url, p.user, typeOf(p), p.password + "-wrong");
    auto c = connect(s->id);
    EXPECT_EQ(c.calls, 1);
    EXPECT_FALSE(c.bucket);
    ASSERT_TRUE(c.error);
    EXPECT_EQ(c.error->name, "loginRejected") << text(c.error);
    EXPECT_FALSE(window->my_session_info->connected);
    EXPECT_FALSE(window->provider_bucket);
}

INSTANTIATE_TEST_SUITE_P(Peers, OpsPeerTest, ::testing::Values("pyftpd", "vsftpd", "apache", "sshd"), peerName);

TEST_F(OpsTest, ConnectFailuresAreErrorsNeverSilence) {
    SKIP_WITHOUT_KEYRING();
    const std::string closed = "ftp://127.0.0.1:" + std::to_string(closedPort()) + "/";
    struct Row {
        const char* what;
        std::string url;
        Type type;
        std::string password;  // empty: none in the keyring
        bool saved;
        std::function<bool(const std::optional<VornError>&)> expected;
    };
    const std::vector<Row> rows = {
        {"server not saved", "ftp://127.0.0.1:21/", Type::ftp, "pw", false,
         [](auto& e) { return isAppError(e, Err::no_saved_service); }},
        {"address not a URL", "ftp://bad host name/", Type::ftp, "pw", true,
         [](auto& e) { return isAppError(e, Err::invalid_service_url); }},
        // No scheme: the message says so (an address the form would refuse, saved by an older build).
        {"address without a host", "just-a-name", Type::ftp, "pw", true,
         [](auto& e) { return e && server_address::problem_of(*e) == server_address::Problem::no_scheme; }},
        {"an SFTP server not listening", "sftp" + closed.substr(3), Type::sftp, "pw", true,
         [](auto& e) { return e && e->name == "cannotReachHost"; }},
        {"no connector for an unknown type", "ftp://127.0.0.1:21/", Type::unKnown, "pw", true,
         [](auto& e) { return isAppError(e, Err::unsupported_connection_type); }},
        // Asked for in a window (see ServersAccessibilityTests); a Cancel there is no error to show.
        {"password not in the keychain, its question cancelled", "ftp://127.0.0.1:2121/", Type::ftp, "", true,
         [](auto& e) { return e && e->is_silent(); }},
        {"nothing listens there", closed, Type::ftp, "pw", true,
         [](auto& e) { return e && e->name == "cannotReachHost"; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::string id = "not-saved-id";
        if (row.saved) id = saveServer(row.url, "user", row.type, row.password)->id;
        // A question for the password is answered with Cancel.
        QTimer cancelling;
        QObject::connect(&cancelling, &QTimer::timeout, [&] {
            for (ui::Window* w : ui::Application::shared().windows()) {
                ui::ViewController* screen = w ? w->rootViewController() : nullptr;
                while (screen && screen->presentedViewController()) screen = screen->presentedViewController();
                auto* alert = dynamic_cast<ui::AlertController*>(screen);
                if (alert && alert->alertTitle().startsWith("Password for")) alert->performAction(1);
            }
        });
        cancelling.start(20);
        auto c = connect(id);
        EXPECT_EQ(c.calls, 1);
        EXPECT_FALSE(c.bucket);
        EXPECT_TRUE(row.expected(c.error)) << text(c.error);
        EXPECT_FALSE(window->my_session_info->connected);
        EXPECT_FALSE(window->provider_as_read_write());
    }
}

// A machine in the middle that hides the server's TLS after the app has once spoken TLS to it
// gets no login: the saved server is from then on only logged in to over TLS, as if "Require
// encryption" were ticked (and its record says so). A user who unticks it is not overruled.
TEST_F(OpsTest, AServerThatSpokeTlsIsFromThenOnOnlyLoggedInToOverTls) {
    SKIP_WITHOUT_KEYRING();
    Peer p = peer("pureftpd-tls");
    SKIP_WITHOUT_PEER(p);
    filestest::LoopbackRelay relay(filestest::LoopbackRelay::Mode::ftp, p.port);
    auto server = saveServerBehindRelay(p, relay.port());
    ASSERT_FALSE(server->require_encryption);

    auto first = connect(server->id);
    ASSERT_TRUE(first.bucket) << text(first.error);
    EXPECT_EQ(window->provider_as_read_write()->connectionEncrypted(), std::optional<bool>(true));
    ASSERT_TRUE(waitFor([&] { return server->require_encryption; })) << "the record was not ticked";
    EXPECT_TRUE(server->tls_seen);

    relay.stripTls(true);
    relay.closeAll();
    const std::size_t before = relay.received().size();
    auto stripped = connect(server->id);
    EXPECT_FALSE(stripped.bucket);
    ASSERT_TRUE(stripped.error);
    EXPECT_EQ(stripped.error->name, "secureConnectionRequired") << text(stripped.error);
    const std::string sent = relay.received().substr(before);
    EXPECT_NE(sent.find("AUTH TLS"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("USER"), std::string::npos) << sent;
    EXPECT_EQ(sent.find(p.password), std::string::npos) << sent;

    // Unticked by the user: the plain login goes ahead, and the box stays as the user left it.
    server->require_encryption = false;
    auto plain = connect(server->id);
    ASSERT_TRUE(plain.bucket) << text(plain.error);
    EXPECT_EQ(window->provider_as_read_write()->connectionEncrypted(), std::optional<bool>(false));
    ASSERT_TRUE(testsupport::settleMainQueue(4));
    EXPECT_FALSE(server->require_encryption);
}

TEST_F(OpsTest, ConnectingTwiceKeepsTheSessionsRecordAndItsFileSessions) {
    SKIP_WITHOUT_KEYRING();
    Peer p = peer("pyftpd");
    SKIP_WITHOUT_PEER(p);
    auto s = saveServer(p);
    auto first = connect(s->id);
    ASSERT_TRUE(first.bucket) << text(first.error);
    auto record = app_sessions_manager().service_sessions.at(s->id);
    auto file = std::make_shared<VornACEFileSessionsDataModel>();
    file->session_id = "a";
    EXPECT_FALSE(await([&](auto done) { window->add_file_session(file, done); }));
    auto again = connect(s->id);
    ASSERT_TRUE(again.bucket) << text(again.error);
    EXPECT_EQ(app_sessions_manager().service_sessions.at(s->id), record);
    EXPECT_EQ(record->ace_file_sessions.size(), 1u);
}

// A temporary copy that a broken save left, as the file's session keeps it, is removed once
// the window connects again, and the session lets go of it.
TEST_F(OpsTest, ALeftoverCopyKeptWithAFileSessionIsRemovedAtTheNextConnection) {
    SKIP_WITHOUT_KEYRING();
    Peer p = peer("pyftpd");
    SKIP_WITHOUT_PEER(p);
    writeDiskFile(p.root / "page.php", "<?php $password = 'x';");
    writeDiskFile(p.root / ".page.dravix-1a2b3c4d.php", "<?php $password = ");
    auto s = saveServer(p);
    auto record = std::make_shared<VornAppMultipleSessionsDataModel>();
    record->service_id = s->id;
    auto file = std::make_shared<VornACEFileSessionsDataModel>();
    file->session_id = "page";
    file->file_path = "/page.php";
    // As the server names it: the test's folder lies in the server's root.
    file->leftover_copies = {"/" + p.root.filename().string() + "/.page.dravix-1a2b3c4d.php"};
    record->ace_file_sessions = {file};
    app_sessions_manager().service_sessions[s->id] = record;

    auto c = connect(s->id);
    ASSERT_TRUE(c.bucket) << text(c.error);
    EXPECT_TRUE(waitFor([&] { return !fs::exists(p.root / ".page.dravix-1a2b3c4d.php"); }, 30000));
    EXPECT_TRUE(waitFor([&] { return file->leftover_copies.empty(); }, 30000));
    EXPECT_EQ(readDiskFile(p.root / "page.php"), "<?php $password = 'x';");
}

// ---- sessions bookkeeping -------------------------------------------------------------------------

TEST_F(OpsTest, FileSessionsAreAddedAndEveryMatchRemoved) {
    // Without a server there is no record to change.
    auto lone = std::make_shared<VornACEFileSessionsDataModel>();
    EXPECT_TRUE(isAppError(await([&](auto done) { window->add_file_session(lone, done); }), Err::no_multiple_session));
    EXPECT_TRUE(isAppError(await([&](auto done) { window->remove_file_session("x", done); }), Err::no_multiple_session));
    EXPECT_TRUE(isAppError(await([&](auto done) { window->save_service_session(done); }), Err::no_multiple_session));

    window->service = std::make_shared<VornSingleServiceDataModel>();
    auto record = std::make_shared<VornAppMultipleSessionsDataModel>();
    record->service_id = window->service->id;
    app_sessions_manager().service_sessions[record->service_id] = record;
    for (const char* id : {"a", "b", "a", "c"}) {
        auto f = std::make_shared<VornACEFileSessionsDataModel>();
        f->session_id = id;
        EXPECT_FALSE(await([&](auto done) { window->add_file_session(f, done); }));
    }
    EXPECT_FALSE(await([&](auto done) { window->remove_file_session("a", done); }));
    std::vector<std::string> left;
    for (const auto& f : record->ace_file_sessions) left.push_back(f->session_id);
    EXPECT_EQ(left, (std::vector<std::string>{"b", "c"}));
    // What was saved is what the record holds.
    auto saved = testsupport::readFile(*app_sessions_manager().url /
                                       VornSessionsManager::folder_name_for_service_id(record->service_id) / "session.json");
    EXPECT_EQ(saved.find("\"a\""), std::string::npos);
    EXPECT_NE(saved.find("\"c\""), std::string::npos);
}

// ---- new files and folders --------------------------------------------------------------------------

TEST(NewItemNames, UnusableNamesAreRefusedAndPathsJoinedOnce) {
    for (const char* bad : {"", ".", "..", "a/b", "/lead", "tab\there", "line\nbreak", "bell\x07", "del\x7f"}) {
        EXPECT_TRUE(isAppError(FileViewerSceneDelegate::check_new_item_name(bad), Err::invalid_item_name)) << bad;
    }
    for (const char* good : {"index.html", "   ", "no-extension", "...dots", "caf\xc3\xa9.css", ".htaccess"}) {
        EXPECT_FALSE(FileViewerSceneDelegate::check_new_item_name(good)) << good;
    }
    struct Row {
        const char* dir;
        const char* expected;
    };
    for (auto row : {Row{"", "/n"}, Row{"/", "/n"}, Row{"/www", "/www/n"}, Row{"/www/", "/www/n"}}) {
        EXPECT_EQ(FileViewerSceneDelegate::remote_item_path(row.dir, "n"), row.expected) << row.dir;
    }
}

TEST_P(OpsPeerTest, NewFileAndFolderFromTheDialogsAppearAndTakenNamesAreRefused) {
    SKIP_WITHOUT_KEYRING();
    SKIP_WITHOUT_PEER(p);
    ASSERT_TRUE(connectPeer());
    writeDiskFile(disk("taken.html"), "original bytes");
    auto* explorer = window->fileView_controller.get();

    // Types a name into the dialog and chooses "Create"; waits for the explorer's reload.
    auto create = [&](bool folder, const std::string& name) {
        auto alert = explorer->make_new_item_alert(folder);
        explorer->presentViewController(alert, false);
        EXPECT_TRUE(waitFor([&] { return !alert->textFields().isEmpty(); }));
        EXPECT_FALSE(alert->actions().front()->isEnabled());  // "Create" waits for a name
        alert->textFields().front()->setText(QString::fromStdString(name));
        EXPECT_TRUE(alert->actions().front()->isEnabled());
        const int before = reloads;
        EXPECT_TRUE(alert->performAction(0));
        EXPECT_TRUE(waitFor([&] { return reloads > before; }, 30000)) << name;
    };

    create(false, "fresh.html");
    create(true, "assets");
    EXPECT_TRUE(fs::is_regular_file(disk("fresh.html")));
    EXPECT_EQ(fs::file_size(disk("fresh.html")), 0u);
    EXPECT_TRUE(fs::is_directory(disk("assets")));
    EXPECT_EQ(shownAlert(), nullptr);

    // The explorer's reloaded listing shows both, and the window finds the file by its key.
    EXPECT_TRUE(waitFor([&] { return listed("fresh.html") && listed("assets"); }, 30000));
    auto entry = window->find_listed_file(file_bucket_id_for_path("/fresh.html"));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "fresh.html");
    EXPECT_FALSE(window->find_listed_file(file_bucket_id_for_path("/nothing.html")));

    // A file name that is taken: refused, the original keeps its bytes.
    create(false, "taken.html");
    auto* alert = awaitAlert();
    ASSERT_TRUE(alert);
    EXPECT_NE(alert->message().indexOf("already exists"), -1) << alert->message().toStdString();
    EXPECT_EQ(readDiskFile(disk("taken.html")), "original bytes");
    dismissAlerts();

    // A folder name that is taken.
    create(true, "assets");
    alert = awaitAlert();
    ASSERT_TRUE(alert);
    EXPECT_NE(alert->message().indexOf("already exists"), -1) << alert->message().toStdString();
}

TEST_P(OpsPeerTest, UnusableNewNamesNeverReachTheServer) {
    SKIP_WITHOUT_KEYRING();
    SKIP_WITHOUT_PEER(p);
    ASSERT_TRUE(connectPeer());
    filestest::makeDiskFolder(disk("sub"));
    for (const char* bad : {"sub/inner.html", "..", "bad\r\nname"}) {
        for (auto creator : {FileViewerSceneDelegate::file_creator(), FileViewerSceneDelegate::folder_creator()}) {
            auto e = await([&](auto done) { creator(*window, bad, "/", done); });
            EXPECT_TRUE(isAppError(e, Err::invalid_item_name)) << bad << ": " << text(e);
        }
    }
    EXPECT_TRUE(fs::is_empty(disk("sub")));
    EXPECT_EQ(reloads, 0);
}

TEST_F(OpsTest, CreatingWithoutAConnectionSaysSo) {
    auto e = await([&](auto done) { window->create_remote_file("a.html", "", done); });
    EXPECT_TRUE(isAppError(e, Err::guardReturnNoFileProvider)) << text(e);
    e = await([&](auto done) { window->create_remote_folder("a", "", done); });
    EXPECT_TRUE(isAppError(e, Err::guardReturnNoFileProvider)) << text(e);

    // From the dialog of a window that never connected: the error is shown on the screen.
    auto* explorer = window->fileView_controller.get();
    auto alert = explorer->make_new_item_alert(false);
    explorer->presentViewController(alert, false);
    ASSERT_TRUE(waitFor([&] { return !alert->textFields().isEmpty(); }));
    alert->textFields().front()->setText("a.html");
    ASSERT_TRUE(alert->performAction(0));
    ASSERT_TRUE(waitFor([&] { return shownAlert() && shownAlert() != alert.get(); }, 5000));
    EXPECT_EQ(shownAlert()->message().toStdString(), "The service provider could not be connected successfully");
}

// ---- the editor's saves ------------------------------------------------------------------------------

// The editor's typed save road: (path, text) straight to the provider, bytes unchanged, the
// outcome once on the main queue.
TEST_P(OpsPeerTest, EditorTextIsWrittenAsItStandsAndItsOutcomeArrivesOnce) {
    SKIP_WITHOUT_KEYRING();
    SKIP_WITHOUT_PEER(p);
    // Longer than the text that replaces it: nothing of it may stay behind.
    const std::string before = "the server's copy" + std::string(200, '.');
    writeDiskFile(disk("typed.html"), before);
    // Not connected yet: nothing is written and the window says why.
    int calls = 0;
    std::optional<VornError> got;
    window->write_file_text_checked("/typed.html", "x", files::WriteMode::replace, std::nullopt,
                                    [&](std::optional<files::FileVersion>, std::optional<VornError> e) {
        EXPECT_TRUE(dispatch::mainQueue().isCurrent());
        ++calls;
        got = e;
    });
    ASSERT_TRUE(waitFor([&] { return calls > 0; }));
    settle();
    EXPECT_EQ(calls, 1);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->name, "guardReturnNoFileProvider");
    EXPECT_EQ(readDiskFile(disk("typed.html")), before);

    ASSERT_TRUE(connectPeer());
    static const char raw[] = "\"q\" \\ \\u0041 \xE2\x80\xA8 \xF0\x9F\x98\x80\r\n\0after-nul\r\n";
    const std::string bytes(raw, sizeof raw - 1);
    calls = 0;
    window->write_file_text_checked("/typed.html", bytes, files::WriteMode::replace, std::nullopt,
                                    [&](std::optional<files::FileVersion>, std::optional<VornError> e) {
        EXPECT_TRUE(dispatch::mainQueue().isCurrent());
        ++calls;
        got = e;
    });
    ASSERT_TRUE(waitFor([&] { return calls > 0; }, 30000));
    settle();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(got) << text(got);
    EXPECT_EQ(readDiskFile(disk("typed.html")), bytes);
}

// ---- drag and drop ----------------------------------------------------------------------------------

TEST_P(OpsPeerTest, DroppedFilesAreUploadedOneByOneAndTakenNamesRefused) {
    SKIP_WITHOUT_KEYRING();
    SKIP_WITHOUT_PEER(p);
    ASSERT_TRUE(connectPeer());
    QTemporaryDir local;
    const std::string binary("\x89PNG\r\n\x1a\n\0\xff\xfe", 11);
    testsupport::writeFile(local.filePath("one.css").toStdString(), "body { color: red; }");
    testsupport::writeFile(local.filePath("two image.png").toStdString(), binary);

    QMimeData drop;
    drop.setUrls({QUrl::fromLocalFile(local.filePath("one.css")), QUrl::fromLocalFile(local.filePath("two image.png"))});
    EXPECT_EQ(VornFileDragDrop::perform_file_drop(window->fileView_controller.get(), drop), 2);
    ASSERT_TRUE(waitFor([&] { return reloads == 2; }, 30000)) << reloads;
    settle();
    EXPECT_EQ(reloads, 2);
    EXPECT_EQ(readDiskFile(disk("one.css")), "body { color: red; }");
    EXPECT_EQ(readDiskFile(disk("two image.png")), binary);
    EXPECT_EQ(shownAlert(), nullptr);
    EXPECT_TRUE(waitFor([&] { return listed("one.css") && listed("two image.png"); }, 30000));

    // The same file again: "already exists", and the server keeps what it had.
    writeDiskFile(disk("one.css"), "the server's own");
    EXPECT_EQ(VornFileDragDrop::perform_file_drop(window->fileView_controller.get(), drop), 2);
    auto* alert = awaitAlert();
    ASSERT_TRUE(alert);
    EXPECT_NE(alert->message().indexOf("already exists"), -1) << alert->message().toStdString();
    // The second item's refusal waits for the first alert to close.
    QPointer<ui::AlertController> first(alert);
    alert->performAction(0);
    ASSERT_TRUE(waitFor([&] { return shownAlert() && (first.isNull() || shownAlert() != first.data()); }, 10000));
    EXPECT_NE(shownAlert()->message().indexOf("already exists"), -1);
    EXPECT_EQ(readDiskFile(disk("one.css")), "the server's own");
    EXPECT_EQ(readDiskFile(disk("two image.png")), binary);
    EXPECT_EQ(reloads, 2);
}

TEST_F(OpsTest, DropsWithoutANameOrAConnection) {
    // Dropped text has no name: it becomes "Untitled.html"; a folder is skipped.
    QTemporaryDir local;
    QMimeData text;
    text.setHtml("<b>x</b>");
    auto items = VornDropItemProvider::items_of(text);
    ASSERT_EQ(items.size(), 1u);
    auto bucket = VornFileDragDrop::make_drop_bucket(items.front());
    ASSERT_TRUE(bucket);
    EXPECT_EQ(bucket->ib_fileName, "Untitled.html");
    QMimeData folder;
    folder.setUrls({QUrl::fromLocalFile(local.path())});
    EXPECT_TRUE(VornDropItemProvider::items_of(folder).empty());

    // A name with blanks and letters beyond ASCII keeps its plain form; only the URL is encoded.
    auto named = VornDropItemProvider::for_bytes("x", "public.data");
    named->suggestedName = "caf\xc3\xa9 menu.html";
    bucket = VornFileDragDrop::make_drop_bucket(named);
    ASSERT_TRUE(bucket);
    EXPECT_EQ(bucket->ib_fileName, "caf\xc3\xa9 menu.html");
    EXPECT_EQ(bucket->ib_fileNameURLEncoded, "caf%C3%A9%20menu.html");

    // Not connected: the item loads, then the missing connection is shown.
    EXPECT_EQ(VornFileDragDrop::perform_file_drop(window->fileView_controller.get(), text), 1);
    auto* alert = awaitAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->message().toStdString(), "The service provider could not be connected successfully");
    EXPECT_EQ(reloads, 0);
}

TEST_P(OpsPeerTest, DraggingAFileOutHandsOverItsRawBytes) {
    SKIP_WITHOUT_KEYRING();
    SKIP_WITHOUT_PEER(p);
    ASSERT_TRUE(connectPeer());
    const std::string binary("GIF89a\0\x01\xff\xfe not text", 17);
    writeDiskFile(disk("pixel.gif"), binary);
    writeDiskFile(disk("page.html"), "<h1>hi</h1>");

    for (auto [name, bytes] : {std::pair<std::string, std::string>{"pixel.gif", binary}, {"page.html", "<h1>hi</h1>"}}) {
        SCOPED_TRACE(name);
        auto entry = std::make_shared<VornServerFileDataModel>();
        entry->path = "/" + name;
        entry->name = name;
        entry->kind = URLFileResourceType::regular;
        std::unique_ptr<QMimeData> data(VornFileDragDrop::make_drag_item(window->provider_as_read_write(), entry));
        ASSERT_TRUE(data);
        auto* dragged = qobject_cast<VornDraggedFileMimeData*>(data.get());
        ASSERT_TRUE(dragged);
        const QString mime = QString::fromStdString(dragged->mimeType());
        EXPECT_TRUE(data->hasFormat(mime));
        ASSERT_TRUE(waitFor([&] { return dragged->isLoaded() || dragged->loadError(); }, 30000));
        const QByteArray got = data->data(mime);
        EXPECT_EQ(std::string(got.constData(), static_cast<size_t>(got.size())), bytes);
    }

    // A file that is not there: no bytes rather than an empty copy.
    auto missing = std::make_shared<VornServerFileDataModel>();
    missing->path = "/missing.txt";
    std::unique_ptr<QMimeData> data(VornFileDragDrop::make_drag_item(window->provider_as_read_write(), missing));
    auto* dragged = qobject_cast<VornDraggedFileMimeData*>(data.get());
    ASSERT_TRUE(dragged);
    ASSERT_TRUE(waitFor([&] { return dragged->loadError().has_value(); }, 30000));
    EXPECT_FALSE(dragged->isLoaded());
    EXPECT_TRUE(data->data("text/plain").isNull());

    // A dragged file dropped back onto the explorer uploads nothing.
    EXPECT_TRUE(VornDropItemProvider::items_of(*data).empty());
}

// ---- the listing after the app's own writes ----------------------------------------------------

namespace {
std::optional<int64_t> listedSize(const FileViewerSceneDelegate& w, const std::string& name) {
    auto listing = w.explorer_listing();
    if (!listing || !listing->fileSections) return std::nullopt;
    for (const auto& e : *listing->fileSections)
        if (e && e->name == name) return e->size;
    return std::nullopt;
}
}  // namespace

TEST_P(OpsPeerTest, ASaveShowsInTheListingAFileItMadeAgainAndTheNewSize) {
    SKIP_WITHOUT_KEYRING();
    SKIP_WITHOUT_PEER(p);
    writeDiskFile(disk("grown.html"), "");
    writeDiskFile(disk("gone.html"), "<p>first</p>");
    ASSERT_TRUE(connectPeer());
    ASSERT_TRUE(waitFor([&] { return listedSize(*window, "grown.html") == 0 && listed("gone.html"); }, 30000));

    // Deleted behind the app's back, and seen so.
    fs::remove(disk("gone.html"));
    const int shown = window->fileView_controller->listing_count();
    window->fileView_controller->refresh();
    // A listing asked before the removal may still come in first: the refresh's own follows it.
    ASSERT_TRUE(waitFor([&] { return window->fileView_controller->listing_count() > shown && !listed("gone.html"); }, 30000));

    auto write = [&](const std::string& path, const std::string& text) {
        return await([&](FileViewerSceneDelegate::ErrorCompletion done) {
            window->write_file_text_checked(path, text, files::WriteMode::replace, std::nullopt,
                                            [done](std::optional<files::FileVersion>, std::optional<VornError> e) { done(e); });
        });
    };
    // A save makes it again: listed, with no F5.
    ASSERT_FALSE(write("/gone.html", "<p>back</p>"));
    EXPECT_TRUE(waitFor([&] { return listed("gone.html"); }, 30000)) << "the file the save made is not listed";
    // A save that grows a file: its new size.
    const std::string text(5000, 'x');
    ASSERT_FALSE(write("/grown.html", text));
    EXPECT_TRUE(waitFor([&] { return listedSize(*window, "grown.html") == 5000; }, 30000))
        << "the listing still says " << listedSize(*window, "grown.html").value_or(-2);

    // Made again while a listing (which may predate the write) is on its way: listed once it is.
    fs::remove(disk("gone.html"));
    const int before = window->fileView_controller->listing_count();
    window->fileView_controller->refresh();
    ASSERT_FALSE(write("/gone.html", "<p>again</p>"));
    ASSERT_TRUE(waitFor([&] { return window->fileView_controller->listing_count() > before; }, 30000));
    EXPECT_TRUE(waitFor([&] { return listedSize(*window, "gone.html") == 12; }, 30000));
}

// ---- a rename or delete that ends after its window has gone -----------------------------------

// The second window connected to the same saved server as the fixture's window.
class OpsTwoWindows : public OpsPeerTest {
protected:
    FileViewerSceneDelegate* secondWindow(const std::string& id) {
        ui::Scene* scene = open(SceneKind::server_viewer);
        auto* w = scene ? qobject_cast<FileViewerSceneDelegate*>(scene->delegate()) : nullptr;
        if (!w) return nullptr;
        other_scene_ = scene;
        bool done = false;
        w->reset_service_connection([w, id, &done](std::optional<VornError> error) {
            w->connect_after_reset(error, [&done](std::shared_ptr<VornProviderBucket>, std::optional<VornError>) { done = true; }, id);
        });
        if (!waitFor([&] { return done; }, 30000) || !w->my_session_info->connected) return nullptr;
        return w;
    }
    // The server's sessions with one file session for `path`.
    std::shared_ptr<VornACEFileSessionsDataModel> openSession(const std::string& path) {
        auto& sessions = app_sessions_manager().service_sessions[server->id];
        if (!sessions) return nullptr;
        auto session = std::make_shared<VornACEFileSessionsDataModel>();
        session->session_id = file_bucket_id_for_path(path);
        session->file_path = path;
        session->json = "{}";
        sessions->ace_file_sessions.push_back(session);
        return session;
    }
    // The rename or delete is made in a second window, which goes while the server holds the answer.
    template <class Start>
    void inWindowThatGoes(const std::string& name, relaytest::HoldingRelay& relay, Start start) {
        QPointer<FileViewerSceneDelegate> other = secondWindow(server->id);
        ASSERT_TRUE(other);
        const std::string id = file_bucket_id_for_path("/" + name);
        ASSERT_TRUE(waitFor([&] { return other->find_listed_file(id) != nullptr; }, 30000));
        // The request goes on after the window has gone (its connection is let go only after it).
        keep_ = other->provider_as_read_write();
        start(*other->fileView_controller, other->find_listed_file(id));
        ASSERT_TRUE(waitFor([&] { return relay.holding(); }, 30000)) << "the request never reached the server";
        ASSERT_TRUE(other_scene_ && other_scene_->session());
        ui::Application::shared().requestSceneSessionDestruction(other_scene_->session(), {}, nullptr);
        ASSERT_TRUE(waitFor([&] { return !other; }, 10000)) << "the window did not go";
        relay.release();
    }
    void TearDown() override {
        keep_.reset();  // after the relay of the case, which is gone by now
        OpsPeerTest::TearDown();
    }
    // Connects the fixture's window to the peer through the relay.
    void connectThrough(relaytest::HoldingRelay& relay) {
        std::string url = p.url;
        const std::string port = ":" + std::to_string(p.port);
        url.replace(url.find(port), port.size(), ":" + std::to_string(relay.port()));
        server = saveServer(url, p.user, typeOf(p), p.password);
        auto c = connect(server->id);
        ASSERT_TRUE(c.bucket) << text(c.error);
    }
    std::shared_ptr<files::FileProvider> keep_;
    QPointer<ui::Scene> other_scene_;
};

TEST_P(OpsTwoWindows, ARenameOrDeleteThatEndsAfterItsWindowWentReachesTheSessionAndTheOtherWindows) {
    SKIP_WITHOUT_KEYRING();
    SKIP_WITHOUT_PEER(p);
    struct Case {
        const char* what;
        std::vector<QByteArray> held;  // the request the server's answer is held for
        std::function<void(VornFileViewController&, std::shared_ptr<VornServerFileDataModel>)> start;
        const char* told;  // what the other window's documents hear
        std::function<bool(const VornACEFileSessionsDataModel&)> session_follows;
    };
    const Case cases[] = {
        {"rename", {"MOVE ", "RNTO "}, [](auto& explorer, auto entry) { explorer.rename_remote_item(entry, "renamed.html"); },
         "moved /page.html /renamed.html", [](const auto& s) { return s.file_path == "/renamed.html"; }},
        {"delete", {"DELETE ", "DELE "}, [](auto& explorer, auto entry) { explorer.delete_remote_item(entry); },
         "removed /page.html", [](const auto& s) { return s.removed_from_server; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeDiskFile(disk("page.html"), "<p>x</p>");
        auto relay = std::make_unique<relaytest::HoldingRelay>(p.port, c.held);
        connectThrough(*relay);
        auto session = openSession("/page.html");
        ASSERT_TRUE(session);
        std::vector<std::string> told;
        QObject context;
        QObject::connect(window.data(), &VornFileViewerSceneDelegateProtocol::remoteItemMoved, &context,
                         [&](const QByteArray& from, const QByteArray& to) {
                             told.push_back("moved " + from.toStdString() + " " + to.toStdString());
                         });
        QObject::connect(window.data(), &VornFileViewerSceneDelegateProtocol::remoteItemRemoved, &context,
                         [&](const QByteArray& path) { told.push_back("removed " + path.toStdString()); });

        inWindowThatGoes("page.html", *relay, c.start);
        if (HasFatalFailure()) return;
        ASSERT_TRUE(waitFor([&] { return !fs::exists(disk("page.html")); }, 30000));
        EXPECT_TRUE(waitFor([&] { return c.session_follows(*session); }, 10000)) << "the session did not follow";
        EXPECT_TRUE(waitFor([&] { return !told.empty(); }, 10000)) << "the other window's documents were not told";
        if (!told.empty()) EXPECT_EQ(told.front(), c.told);
        // The relay goes first: the connection kept open then ends at once, without waiting on
        // the relay, which this thread runs.
        relay.reset();
        keep_.reset();
        fs::remove(disk("renamed.html"));
    }
}

INSTANTIATE_TEST_SUITE_P(Peers, OpsTwoWindows, ::testing::Values("pyftpd", "vsftpd", "apache"), peerName);
