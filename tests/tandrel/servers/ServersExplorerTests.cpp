// The file explorer screen, its connection header and its table, offscreen, against the local
// FTP (pyftpdlib, vsftpd) and WebDAV (Apache) servers.
#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <set>

#include "platform/files/ProviderTestSupport.h"
#include "platform/ui/Accessibility.h"
#include "support/AccessibleTree.h"
#include "support/MainQueueSettle.h"
#include "support/Pictures.h"
#include "ExplorerTestSupport.h"
#include "platform/files/LoopbackRelay.h"
#include "platform/defaults/Base64.h"
#include "platform/files/FileProvider.h"
#include "platform/files/RemotePath.h"
#include "platform/ui/Menu.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Responder.h"
#include "platform/ui/scenes/Scene.h"
#include "tandrel/foundation/VornAppUrlUtility.h"
#include "tandrel/foundation/VornFileHistory.h"
#include "tandrel/foundation/AppGlobals.h"
#include "tandrel/foundation/UserPrefs.h"
#include "tandrel/foundation/VornSessionsDataModel.h"
#include "tandrel/servers/ExplorerStyle.h"
#include "tandrel/foundation/CompactEditorRoute.h"
#include "tandrel/servers/ManageServicesViewController.h"
#include "tandrel/servers/VornDeletedFilesViewController.h"
#include "tandrel/servers/VornProviderBucket.h"

using namespace explorertest;
using filestest::makeDiskFolder;
using filestest::readDiskFile;
using filestest::writeDiskFile;
namespace fs = std::filesystem;

namespace {

std::shared_ptr<VornServerFileDataModel> entry(std::optional<std::string> name, std::optional<URLFileResourceType> kind,
                                               std::optional<int64_t> size, bool up = false) {
    auto e = std::make_shared<VornServerFileDataModel>();
    e->name = std::move(name);
    e->kind = kind;
    e->size = size;
    if (e->name) e->path = "/dir/" + *e->name;
    e->special_assignment = up ? EnumManager::file_special_assignment::up_one_level
                               : EnumManager::file_special_assignment::no_assignment;
    return e;
}

QAction* actionNamed(QMenu* menu, const QString& text) {
    if (!menu) return nullptr;
    for (QAction* a : menu->actions())
        if (a->text() == text) return a;
    return nullptr;
}

std::string unique_name(const std::string& stem) {
    static int n = 0;
    return stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(++n);
}

}  // namespace

// ---- rows ---------------------------------------------------------------------------------

TEST(ExplorerRows, TitlesSizesIconsAndColoursFollowTheEntry) {
    using K = EnumManager::file_icon_kind;
    const auto dir = URLFileResourceType::directory;
    const auto file = URLFileResourceType::regular;
    struct Row {
        std::shared_ptr<VornServerFileDataModel> e;
        const char* title;
        const char* size;
        K icon;
        bool folder;
    };
    const Row rows[] = {
        {entry("index.html", file, 2048), "index.html", "2 KB", K::source_code, false},
        {entry("INDEX.HTML", file, 1), "INDEX.HTML", "1 byte", K::source_code, false},
        {entry("README", file, 532), "README.--", "532 bytes", K::other_document, false},
        {entry(".htaccess", file, 0), ".htaccess", "Zero KB", K::other_document, false},
        {entry(".ftpquota", file, 10), ".ftpquota", "10 bytes", K::archive, false},
        {entry("img", dir, 4096), "img", "4 KB", K::folder, true},
        {entry("[UP ONE LEVEL] ..", dir, 0, true), "[UP ONE LEVEL] ..", "Zero KB", K::up_one_level, true},
        {entry("style.CSS", file, -1), "style.CSS", "", K::stylesheet, false},
        {entry("movie.mp4", file, std::nullopt), "movie.mp4", "Zero KB", K::video, false},
        {entry("site.tar.gz", file, 1234567), "site.tar.gz", "1.2 MB", K::archive, false},
        {entry("a.zip", file, 1000000), "a.zip", "1 MB", K::archive, false},
        {entry(std::nullopt, file, 5), "(No Name).--", "5 bytes", K::other_document, false},
        {entry("big.iso", file, 3456789012), "big.iso", "3.46 GB", K::archive, false},
    };
    for (const Row& r : rows) {
        FileViewTableViewCell cell;
        cell.fileInfo = r.e;
        cell.configure_size();
        SCOPED_TRACE(r.title);
        EXPECT_EQ(cell.title_lbl.toStdString(), r.title);
        EXPECT_EQ(cell.size_lbl.toStdString(), r.size);
        EXPECT_EQ(cell.icon_kind, r.icon);
        EXPECT_EQ(cell.folder_colour, r.folder);
    }
    // Icons: 16 points on the desktop, 28 on phones and tablets.
    ::setenv("DRAVIX_IDIOM", "mac", 1);
    EXPECT_EQ(FileViewTableViewCell::icon_side_length(), 16);
    ::setenv("DRAVIX_IDIOM", "phone", 1);
    EXPECT_EQ(FileViewTableViewCell::icon_side_length(), 28);
    ::unsetenv("DRAVIX_IDIOM");
}

TEST(ExplorerRows, ABigListingIsOneResetAndRowsAreMadeWhenDrawn) {
    auto listing = std::make_shared<VornServerFilesDataModel>();
    std::vector<std::shared_ptr<VornServerFileDataModel>> rows;
    for (int i = 0; i < 10000; ++i) rows.push_back(entry("page-" + std::to_string(i) + ".html", URLFileResourceType::regular, i));
    listing->fileSections = rows;
    FileExplorerListingModel model;
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
    model.setListing(listing);
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(inserts.count(), 0);
    EXPECT_EQ(model.rowCount(), 10000);
    EXPECT_EQ(model.configuredRowCount(), 0);
    EXPECT_EQ(model.data(model.index(9999, 0)).toString(), QStringLiteral("page-9999.html"));
    EXPECT_EQ(model.configuredRowCount(), 1);
    model.clearRows();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(resets.count(), 2);
}

// ---- path bar, navigation, opening --------------------------------------------------------------

// The tooltips name the folders as the server does: from the server's path of the connection's
// root (the login folder), never the placeholder "ROOT", their case kept.
TEST(ExplorerPathBar, SegmentsTargetsAndTooltips) {
    struct Case {
        std::string dir;
        std::string root_on_server;
        std::vector<std::string> targets;
        std::vector<std::string> folders;  // what the segments open
        std::vector<std::string> tooltips;
    };
    const Case cases[] = {
        {"/", "/", {"/ROOT"}, {""}, {"Click to go to '/'"}},
        {"", "/home/ann", {"/ROOT"}, {""}, {"Click to go to '/home/ann'"}},
        {"/www/css/",
         "/home/ann",
         {"/ROOT", "/ROOT/www", "/ROOT/www/css"},
         {"", "/www", "/www/css"},
         {"Click to go to '/home/ann'", "Click to go to '/home/ann/www'", "Click to go to '/home/ann/www/css'"}},
        {"/Site/CSS", "/", {"/ROOT", "/ROOT/Site", "/ROOT/Site/CSS"}, {"", "/Site", "/Site/CSS"},
         {"Click to go to '/'", "Click to go to '/Site'", "Click to go to '/Site/CSS'"}},
        // A folder whose name begins with ROOT keeps its name; one named ROOT too.
        {"/www/ROOTS", "/", {"/ROOT", "/ROOT/www", "/ROOT/www/ROOTS"}, {"", "/www", "/www/ROOTS"}, {}},
        {"/ROOT/x", "/srv", {"/ROOT", "/ROOT/ROOT", "/ROOT/ROOT/x"}, {"", "/ROOT", "/ROOT/x"},
         {"Click to go to '/srv'", "Click to go to '/srv/ROOT'", "Click to go to '/srv/ROOT/x'"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dir);
        const auto segments = VornFileViewController::path_segments(c.dir, c.root_on_server);
        ASSERT_EQ(segments.size(), c.targets.size());
        for (size_t i = 0; i < segments.size(); ++i) {
            EXPECT_EQ(segments[i].targetDIR, c.targets[i]);
            EXPECT_EQ(VornFileViewController::path_bar_target(segments[i].targetDIR), c.folders[i]);
            if (!c.tooltips.empty()) {
                EXPECT_EQ(segments[i].tooltip, c.tooltips[i]);
            }
        }
        EXPECT_TRUE(segments[0].house);
    }
    EXPECT_TRUE(VornFileViewController::path_segments("/ROOT/x")[1].house);
}

TEST(ExplorerNavigation, ParentFolderPreviewFlagAndRenamedPaths) {
    const std::pair<const char*, const char*> parents[] = {
        {"/a/b", "/a"}, {"/a", "/"}, {"/", "/"}, {"", "/"}, {"/a/b/", "/a"}};
    for (auto [dir, parent] : parents) EXPECT_EQ(VornFileViewController::parent_directory(dir), parent) << dir;

    const std::pair<const char*, bool> previews[] = {{"/a/index.html", true}, {"/b.htm", true},
                                                     {"/INDEX.HTML", false}, {"/my page.html", true},
                                                     {"/style.css", false},   {"/html", false},
                                                     {"/www/page.php", true}, {"/t.phtml", true},
                                                     {"/ssi.shtml", true},    {"/config.inc", false}};
    for (auto [path, flag] : previews) EXPECT_EQ(VornFileViewController::preview_supported_for_path(path), flag) << path;

    EXPECT_EQ(VornFileViewController::renamed_path("/a/b.txt", "c.txt"), "/a/c.txt");
    EXPECT_EQ(VornFileViewController::renamed_path("/b.txt", "c.txt"), "/c.txt");
    EXPECT_EQ(VornFileViewController::renamed_path("/a/folder/", "other"), "/a/other");
}

// ---- the screen without a connection ----------------------------------------------------------

TEST_F(ExplorerTest, WithoutAConnectionTheWelcomeSplashCoversTheScreen) {
    EXPECT_EQ(explorer->title(), QStringLiteral("File Explorer"));
    EXPECT_TRUE(explorer->fileExplorerTableView->isHidden());
    EXPECT_TRUE(explorer->sortByButton->isHidden());
    EXPECT_TRUE(explorer->new_drop_button->isHidden());
    EXPECT_TRUE(explorer->path_bar_view->isHidden());
    EXPECT_FALSE(explorer->refresh_action->isEnabled());
    EXPECT_FALSE(explorer->welcome_splash_view->isHidden());
    EXPECT_DOUBLE_EQ(ui::alpha(explorer->welcome_splash_view), 1.0);
    // The welcome list is embedded a second after the screen loads.
    auto list = window->welcome_manage_services_vc;
    ASSERT_TRUE(waitFor([&] { return list->view()->parentWidget() == explorer->welcome_splash_view; }));
    EXPECT_TRUE(list->close_btn->isHidden());
    EXPECT_EQ(list->parentViewController(), explorer);
    // Header geometry: 20 below the top, 10 inside the sides, 80 high.
    ui::layoutIfNeeded(explorer->view());
    const QRect header = explorer->quickConnectView->geometry();
    EXPECT_EQ(header.top(), 20);
    EXPECT_EQ(header.left(), 10);
    EXPECT_EQ(header.height(), 80);
    EXPECT_EQ(header.right(), explorer->view()->width() - 11);
}

namespace {
class ExplorerSortTest : public ExplorerTest {
protected:
    ExplorerSortTest() { sortMenuUnset_ = true; }
};
}  // namespace

TEST_F(ExplorerSortTest, SortMenuFollowsTheStoredOrder) {
    // The window was made before the test stored an order: the menu is there all the same, with
    // no order turned on.
    ASSERT_TRUE(explorer->sort_menu());
    ASSERT_EQ(explorer->sort_menu()->actions().size(), 4);
    for (QAction* a : explorer->sort_menu()->actions()) EXPECT_FALSE(a->isChecked()) << a->text().toStdString();
    EXPECT_TRUE(explorer->sortByButton->icon().isNull());

    struct Case {
        std::optional<defaults::Value> stored;
        int checked;  // -1: none
        bool icon;
    };
    const Case cases[] = {
        {defaults::Value(int64_t(2)), 2, true},
        {defaults::Value(int64_t(0)), 0, true},
        {defaults::Value(std::string("3")), 3, true},
        {defaults::Value(int64_t(7)), -1, false},
    };
    for (const Case& c : cases) {
        UserPrefs::setPreference("FILEEXPLORER_SORTING", c.stored);
        explorer->build_sort_menu();
        QMenu* menu = explorer->sort_menu();
        ASSERT_TRUE(menu);
        const QStringList titles = {"Name", "Kind", "Size", "Last Modified"};
        ASSERT_EQ(menu->actions().size(), 4);
        for (int i = 0; i < 4; ++i) {
            QAction* a = menu->actions()[i];
            EXPECT_EQ(a->text(), titles[i]);
            EXPECT_EQ(a->toolTip(), QStringLiteral("Sort by: ") + titles[i]);
            EXPECT_EQ(a->isChecked(), i == c.checked) << i;
        }
        EXPECT_EQ(!explorer->sortByButton->icon().isNull(), c.icon);
    }
    // A value that is not a number leaves the button and its menu as they were.
    QMenu* before = explorer->sort_menu();
    UserPrefs::setPreference("FILEEXPLORER_SORTING", defaults::Value(std::string("abc")));
    explorer->build_sort_menu();
    EXPECT_EQ(explorer->sort_menu(), before);

    // The new-item menu: "File" and "Folder".
    QMenu* items = explorer->new_item_menu();
    ASSERT_TRUE(items);
    ASSERT_EQ(items->actions().size(), 2);
    EXPECT_EQ(items->actions()[0]->text(), QStringLiteral("File"));
    EXPECT_EQ(items->actions()[0]->toolTip(), QStringLiteral("New File"));
    EXPECT_EQ(items->actions()[1]->text(), QStringLiteral("Folder"));
    EXPECT_EQ(items->actions()[1]->toolTip(), QStringLiteral("New Folder"));
}

TEST_F(ExplorerTest, QuickConnectMenuListsTheSavedServersAndChecksTheConnectedOne) {
    QuickConnectView* header = explorer->quickConnectView;
    EXPECT_EQ(header->view_wrapper_btn->toolTip(), QStringLiteral("Quick Connect to service"));
    {
        auto menu = header->build_quick_connect_menu();
        ASSERT_TRUE(menu);
        EXPECT_FALSE(actionNamed(menu.get(), "Disconnect"));
        ASSERT_TRUE(actionNamed(menu.get(), "Manage Services"));
        QAction* none = actionNamed(menu.get(), "No Saved Connections");
        ASSERT_TRUE(none);
        EXPECT_FALSE(none->isEnabled());
    }
    auto plain = saveServer("ftp://127.0.0.1:2121/", "ann", opstest::Type::ftp, "");
    plain->nickname = "";
    auto named = saveServer("ftp://127.0.0.1:2121/", "bob", opstest::Type::ftp, "");
    named->nickname = "Bob's site";
    auto longer = saveServer("ftp://127.0.0.1:2121/www", "bob", opstest::Type::ftp, "");
    longer->nickname = "";

    // Connected to bob's server: only its entry is checked (same URL, other user: not; a URL
    // that merely begins with the same text: not).
    window->my_session_info->connected = true;
    window->my_session_info->server_url = "ftp://127.0.0.1:2121/";
    window->my_session_info->service_id = named->id;
    auto menu = header->build_quick_connect_menu();
    ASSERT_TRUE(menu);
    QAction* disconnect = actionNamed(menu.get(), "Disconnect");
    ASSERT_TRUE(disconnect);
    EXPECT_TRUE(disconnect->isEnabled());
    EXPECT_EQ(disconnect->toolTip(), QStringLiteral("Disconnect Service"));
    QAction* a = actionNamed(menu.get(), "ftp://127.0.0.1:2121/");
    QAction* b = actionNamed(menu.get(), "Bob's site (ftp://127.0.0.1:2121/)");
    QAction* c = actionNamed(menu.get(), "ftp://127.0.0.1:2121/www");
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(b->toolTip(), QStringLiteral("Connect to Bob's site (ftp://127.0.0.1:2121/)"));
    EXPECT_EQ(b->objectName().toStdString(), defaults::base64Encode(named->id));
    EXPECT_FALSE(a->isChecked());
    EXPECT_TRUE(b->isChecked());
    EXPECT_FALSE(c->isChecked());
    EXPECT_FALSE(actionNamed(menu.get(), "No Saved Connections"));

    // Hovering highlights the header; leaving leaves the arrow half-seen.
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(header->view_wrapper_btn, &enter);
    EXPECT_TRUE(header->view_wrapper_btn->highlighted());
    EXPECT_DOUBLE_EQ(ui::alpha(header->quickViewDownArrowImageView), 1.0);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(header->view_wrapper_btn, &leave);
    EXPECT_FALSE(header->view_wrapper_btn->highlighted());
    EXPECT_DOUBLE_EQ(ui::alpha(header->quickViewDownArrowImageView), 0.6);

    // Connected with an empty server id: "Disconnect" is there but disabled.
    window->my_session_info->service_id = "";
    menu = header->build_quick_connect_menu();
    EXPECT_FALSE(actionNamed(menu.get(), "Disconnect")->isEnabled());
    window->my_session_info->connected = false;
    window->my_session_info->server_url.reset();
    window->my_session_info->service_id.reset();
}

// The header tells the connection in use, never an earlier one: a listing that comes over a new
// connection without TLS (a machine in the middle hides the server's) takes the lock away.
TEST_F(ExplorerTest, TheHeaderShowsTheStateOfTheConnectionTheListingCameOver) {
    SKIP_WITHOUT_KEYRING();
    Peer p = peer("pureftpd-tls");
    SKIP_WITHOUT_PEER(p);
    filestest::LoopbackRelay relay(filestest::LoopbackRelay::Mode::ftp, p.port);
    auto server = saveServerBehindRelay(p, relay.port());
    server->tls_seen = true;  // its "Require encryption" was unticked by the user after its first TLS login
    QuickConnectView* header = explorer->quickConnectView;
    auto name = [](QWidget* w) { return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name); };

    int before = explorer->listing_count();
    auto c = connect(server->id);
    ASSERT_TRUE(c.bucket) << (c.error ? c.error->text() : "");
    ASSERT_TRUE(awaitListing(before, "/"));
    ASSERT_TRUE(waitFor([&] { return name(header) == QuickConnectView::kEncryptedName; }));

    relay.stripTls(true);
    relay.closeAll();
    before = explorer->listing_count();
    explorer->refresh_directory_on_main(true);
    ASSERT_TRUE(awaitListing(before, "/"));
    EXPECT_EQ(name(header), QuickConnectView::kNotEncryptedText);
    EXPECT_EQ(header->encryption_Lbl->text(), QuickConnectView::kNotEncryptedText);
}

TEST_F(ExplorerTest, WithoutAWindowOrAConnectionTheUserIsTold) {
    // A header that lost its window: no menu, and the error shown.
    QuickConnectView loose;
    loose.error_delegate = explorer;
    EXPECT_FALSE(loose.build_quick_connect_menu());
    ui::AlertController* alert = awaitAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->message(), QStringLiteral("We cannot find the connected document manager"));
    dismissAlerts();

    // A row's menu without a connection: no menu, "No data was returned with that action".
    auto listing = std::make_shared<VornServerFilesDataModel>();
    listing->fileSections = std::vector<std::shared_ptr<VornServerFileDataModel>>{
        entry("index.html", URLFileResourceType::regular, 10)};
    model()->setListing(listing);
    EXPECT_FALSE(explorer->build_context_menu(0));
    alert = awaitAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->message(), QStringLiteral("No data was returned with that action"));
    dismissAlerts();

    // A document window that cannot be opened: the scene layer's error is shown.
    window->my_session_info->service_id = "c2VydmVy";
    app().manifest().clear();
    explorer->open_file(listing->fileSections->front());
    alert = awaitAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->alertTitle(), QStringLiteral("An Error Occurred"));
    EXPECT_TRUE(DocumentRequests::all().empty());
}

// ---- the single-window route ---------------------------------------------------------------------

namespace {

struct CompactLog {
    int setups = 0, webViews = 0, pageLoads = 0;
    std::shared_ptr<VornServerFileContentModel> opened;
    VornCurrentEditorStateInfo info;
    bool fullScreen = false;
};

class FakeCompactEditor : public CompactEditorScreen {
public:
    explicit FakeCompactEditor(std::shared_ptr<CompactLog> log) : log_(std::move(log)) {}
    std::shared_ptr<ui::ViewController> compact_view_controller() override {
        if (!screen_) screen_ = ui::make<ui::ViewController>();
        return screen_;
    }
    void setup_editor_web_view() override { ++log_->webViews; }
    void load_editor_page() override { ++log_->pageLoads; }
    void open_file_content(std::shared_ptr<VornServerFileContentModel> content) override { log_->opened = content; }

private:
    std::shared_ptr<CompactLog> log_;
    std::shared_ptr<ui::ViewController> screen_;
};

class FakeDocument : public CompactDocumentInterface {
public:
    FakeDocument(std::shared_ptr<CompactLog> log, bool recordsSession) : log_(log), records_(recordsSession) {}
    void setup_document_controllers() override {
        ++log_->setups;
        log_->info = my_current_editor_info;
        log_->fullScreen = full_screen_iphone;
        editor_ = std::make_shared<FakeCompactEditor>(log_);
        if (!records_) return;
        // What the document side does once its page is ready: the file's editing session.
        const std::string service = *my_current_editor_info.service_session_id;
        auto& record = app_sessions_manager().service_sessions[service];
        if (!record) {
            record = std::make_shared<VornAppMultipleSessionsDataModel>();
            record->service_id = service;
        }
        auto session = std::make_shared<VornACEFileSessionsDataModel>();
        session->session_id = *my_current_editor_info.file_bucket_id;
        session->json = "{\"value\":\"hello\"}";
        record->ace_file_sessions.push_back(session);
    }
    std::shared_ptr<CompactEditorScreen> ext_compact_editor_vc() override { return editor_; }

private:
    std::shared_ptr<CompactLog> log_;
    bool records_;
    std::shared_ptr<FakeCompactEditor> editor_;
};

class PhoneRoute : public ExplorerTest {
protected:
    void SetUp() override {
        ExplorerTest::SetUp();
        if (HasFatalFailure()) return;
        ::setenv("DRAVIX_IDIOM", "phone", 1);
        window->my_session_info->service_id = "c2VydmVy";
    }
    void TearDown() override {
        ::unsetenv("DRAVIX_IDIOM");
        set_compact_document_interface_maker(nullptr);
        explorer->dismissViewControllerAnimated(false);
        ExplorerTest::TearDown();
    }
    std::shared_ptr<VornServerFileDataModel> file = entry("index.html", URLFileResourceType::regular, 10);
};

}  // namespace

TEST_F(PhoneRoute, OpensTheFileInTheCompactEditorOnceItsSessionIsThere) {
    ASSERT_FALSE(app().supportsMultipleScenes());
    auto log = std::make_shared<CompactLog>();
    set_compact_document_interface_maker([log] { return std::make_shared<FakeDocument>(log, true); });
    explorer->open_file(file);
    EXPECT_EQ(log->setups, 1);
    EXPECT_EQ(log->webViews, 1);
    EXPECT_TRUE(log->fullScreen);
    EXPECT_EQ(log->info.service_session_id, "c2VydmVy");
    EXPECT_EQ(log->info.file_bucket_id, defaults::base64Encode("/dir/index.html"));
    EXPECT_TRUE(log->info.preview_supported);
    EXPECT_TRUE(DocumentRequests::all().empty());
    // A moment later the compact editor is shown full screen with the session's text.
    ASSERT_TRUE(waitFor([&] { return log->opened != nullptr; }, 5000));
    auto* nav = dynamic_cast<ui::NavigationController*>(explorer->presentedViewController());
    ASSERT_TRUE(nav);
    EXPECT_EQ(nav->modalPresentationStyle(), ui::ModalPresentationStyle::fullScreen);
    EXPECT_EQ(log->pageLoads, 1);
    EXPECT_EQ(log->opened->id, defaults::base64Encode("/dir/index.html"));
    EXPECT_EQ(log->opened->contents, "{\"value\":\"hello\"}");
    EXPECT_EQ(log->opened->path, "");
}

TEST_F(PhoneRoute, WithoutTheSessionOrACompactEditorTheUserIsTold) {
    auto log = std::make_shared<CompactLog>();
    set_compact_document_interface_maker([log] { return std::make_shared<FakeDocument>(log, false); });
    explorer->open_file(file);
    ui::AlertController* alert = awaitAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->message(), QStringLiteral("We cannot load that url at the moment"));
    EXPECT_EQ(log->pageLoads, 0);
    dismissAlerts();

    set_compact_document_interface_maker(nullptr);
    explorer->open_file(file);
    alert = awaitAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->message(), QStringLiteral("No compact editor was found."));
}

// ---- against the local servers -------------------------------------------------------------------

namespace {

class ExplorerPeerTest : public ExplorerTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        ExplorerTest::SetUp();
        if (HasFatalFailure()) return;
        peer_ = peer(GetParam());
        if (!peer_.skipReason.empty()) GTEST_SKIP() << peer_.skipReason;
        folder = unique_name("explorer");
        disk = peer_.root / folder;
        makeDiskFolder(disk);
        connectTo(peer_);
    }
    // Opens the test's own folder from the root listing, as a double click does.
    void openOwnFolder() {
        const int row = rowOf(folder);
        ASSERT_GE(row, 0) << "the root listing has no " << folder;
        const int before = explorer->listing_count();
        explorer->open_file_entry(row);
        ASSERT_TRUE(awaitListing(before, "/" + folder));
        settle();
    }
    void refreshNow() {
        const int before = explorer->listing_count();
        explorer->refresh_directory_on_main(true);
        ASSERT_TRUE(awaitListing(before, explorer->current_settings.current_dir));
        settle();
    }
    std::unique_ptr<QMenu> menuOf(const std::string& title) {
        const int row = rowOf(title);
        EXPECT_GE(row, 0) << title;
        return explorer->build_context_menu(row);
    }
    // Deletes a file of the folder shown through its menu, as confirmed, until the folder is
    // listed again without it.
    void deleteThroughMenu(const std::string& title) {
        const int before = explorer->listing_count();
        auto menu = menuOf(title);
        ASSERT_TRUE(menu);
        actionNamed(menu.get(), "Delete File")->trigger();
        ui::AlertController* alert = awaitAlert();
        ASSERT_TRUE(alert);
        alert->performAction(0);
        ASSERT_TRUE(awaitListing(before, "/" + folder));
        ASSERT_LT(rowOf(title), 0);
    }
    // Answers the rename alert with the name.
    void renameTo(const std::string& title, const std::string& name, const QString& action) {
        auto menu = menuOf(title);
        ASSERT_TRUE(menu);
        QAction* rename = actionNamed(menu.get(), action);
        ASSERT_TRUE(rename);
        rename->trigger();
        ui::AlertController* alert = awaitAlert();
        ASSERT_TRUE(alert);
        ASSERT_EQ(alert->textFields().size(), 1);
        EXPECT_EQ(alert->textFields().first()->text().toStdString(), title);
        alert->textFields().first()->setText(QString::fromStdString(name));
        ASSERT_TRUE(alert->performAction(0));
        ASSERT_TRUE(waitFor([&] { return shownAlert() == nullptr; }));
    }

    // The Deleted Files sheet a menu's "Deleted Files…" opens, once its list is read.
    VornDeletedFilesViewController* openDeletedFiles(QMenu* menu) {
        QAction* action = actionNamed(menu, QString::fromUtf8(VornFileViewController::kDeletedFiles));
        EXPECT_TRUE(action);
        if (!action) return nullptr;
        action->trigger();
        auto sheet = [&] { return dynamic_cast<VornDeletedFilesViewController*>(explorer->presentedViewController()); };
        waitFor([&] { return sheet() && sheet()->is_listed(); }, 30000);
        return sheet();
    }
    static ui::AlertController* alertOver(ui::ViewController* sheet) {
        return sheet ? dynamic_cast<ui::AlertController*>(sheet->presentedViewController()) : nullptr;
    }
    void closeSheet(VornDeletedFilesViewController* sheet) {
        sheet->done_button()->click();
        EXPECT_TRUE(waitFor([&] { return explorer->presentedViewController() == nullptr; }, 10000));
    }

    Peer peer_;
    std::string folder;
    fs::path disk;
};

}  // namespace

TEST_P(ExplorerPeerTest, ListsWithTheUpEntryFirstAndNavigatesByRowsAndPathBar) {
    makeDiskFolder(disk / "www" / "css");
    writeDiskFile(disk / "aaa.html", "<p>a</p>");
    writeDiskFile(disk / "www" / "index.html", "<p>i</p>");

    // The root: no up entry; the connected look.
    EXPECT_NE(rowTitles().front(), "[UP ONE LEVEL] ..");
    EXPECT_FALSE(explorer->fileExplorerTableView->isHidden());
    EXPECT_FALSE(explorer->sortByButton->isHidden());
    EXPECT_TRUE(explorer->refresh_action->isEnabled());
    EXPECT_DOUBLE_EQ(ui::alpha(explorer->welcome_splash_view), 0.0);
    EXPECT_EQ(window->my_session_info->current_dir, "/");

    // The row under the header: sort button 44 by 44 at the right, 10 points in; the new-item
    // and refresh buttons 10 points to its left; the path bar from 10 points in up to them; all
    // 20 points below the header; the table 10 points below them down to 1 point above the
    // bottom, across the whole width.
    ui::layoutIfNeeded(explorer->view());
    const int width = explorer->view()->width();
    const QRect header = explorer->quickConnectView->geometry();
    const QRect sort = explorer->sortByButton->geometry();
    EXPECT_EQ(sort.size(), QSize(44, 44));
    EXPECT_EQ(sort.right(), width - 11);
    EXPECT_EQ(sort.top(), header.bottom() + 1 + 20);
    EXPECT_EQ(explorer->new_drop_button->geometry().right(), sort.left() - 11);
    EXPECT_EQ(explorer->refresh_button->geometry().right(), explorer->new_drop_button->geometry().left() - 11);
    EXPECT_EQ(explorer->path_bar_view->geometry().left(), 10);
    EXPECT_EQ(explorer->path_bar_view->geometry().right(), explorer->refresh_button->geometry().left() - 11);
    EXPECT_EQ(explorer->path_bar_view->height(), 44);
    const QRect tableRect = explorer->fileExplorerTableView->geometry();
    EXPECT_EQ(tableRect.top(), explorer->path_bar_view->geometry().bottom() + 1 + 10);
    EXPECT_EQ(tableRect.left(), 0);
    EXPECT_EQ(tableRect.width(), width);
    EXPECT_EQ(tableRect.bottom(), explorer->view()->height() - 2);

    openOwnFolder();
    auto titles = rowTitles();
    ASSERT_EQ(titles.size(), 3u);
    EXPECT_EQ(titles[0], "[UP ONE LEVEL] ..");  // before "aaa.html", which sorts earlier
    EXPECT_EQ(titles[1], "aaa.html");
    EXPECT_EQ(titles[2], "www");
    EXPECT_EQ(window->my_session_info->current_dir, "/" + folder);

    // A double click on the row opens the folder.
    const int before = explorer->listing_count();
    QTableView* table = explorer->fileExplorerTableView;
    const QRect rect = table->visualRect(model()->index(rowOf("www"), 0));
    QSignalSpy doubleClicks(table, &QAbstractItemView::doubleClicked);
    // The first click of a double click, then the second (as the window system delivers them).
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    EXPECT_EQ(doubleClicks.count(), 1);
    ASSERT_TRUE(awaitListing(before, "/" + folder + "/www"));
    settle();
    EXPECT_EQ(rowTitles(), (std::vector<std::string>{"[UP ONE LEVEL] ..", "css", "index.html"}));

    // The path bar: house, the test folder, www.
    auto buttons = explorer->path_bar_buttons();
    ASSERT_EQ(buttons.size(), 3u);
    EXPECT_EQ(buttons[0]->targetDIR, "/ROOT");
    EXPECT_TRUE(buttons[0]->text().isEmpty());
    EXPECT_FALSE(buttons[0]->icon().isNull());
    EXPECT_EQ(buttons[1]->targetDIR, "/ROOT/" + folder);
    EXPECT_EQ(buttons[1]->text().toStdString(), folder);
    const auto root = window->provider_as_read_write()->rootOnServer();
    ASSERT_TRUE(root);
    EXPECT_EQ(buttons[2]->toolTip().toStdString(), "Click to go to '" + files::path::join(*root, folder + "/www") + "'");
    // In the window's opening width the house stays whole at the left of the bar and the current
    // folder stays in sight, here and one folder deeper.
    const auto expectEndsInBar = [&](const char* where) {
        ui::layoutIfNeeded(explorer->view());
        // The bar's own row and its scroll range follow their layout requests.
        for (int i = 0; i < 3; ++i) QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        const auto shown = explorer->path_bar_buttons();
        ASSERT_GE(shown.size(), 2u) << where;
        QWidget* bar = explorer->path_bar_view->viewport();
        const QRect room = bar->rect();
        for (VornTargetedButton* b : {shown.front(), shown.back()}) {
            const QRect r(b->mapTo(bar, QPoint(0, 0)), b->size());
            EXPECT_TRUE(b->isVisibleTo(bar)) << where << " " << b->targetDIR;
            EXPECT_TRUE(room.contains(r)) << where << " " << b->targetDIR << ": " << r.left() << ".." << r.right()
                                          << " of " << room.width();
        }
    };
    expectEndsInBar("www");
    go("/" + folder + "/www/css");
    expectEndsInBar("css");
    go("/" + folder + "/www");
    buttons = explorer->path_bar_buttons();
    ASSERT_EQ(buttons.size(), 3u);
    int listed = explorer->listing_count();
    buttons[1]->click();
    ASSERT_TRUE(awaitListing(listed, "/" + folder));
    settle();

    // "../" from the test folder lists the root (Return on the row opens it as well).
    listed = explorer->listing_count();
    table->setCurrentIndex(model()->index(0, 0));
    QTest::keyClick(table, Qt::Key_Return);
    ASSERT_TRUE(awaitListing(listed, "/"));
    EXPECT_GE(rowOf(folder), 0);

    // The house segment lists the root as well.
    go("/" + folder + "/www");
    listed = explorer->listing_count();
    explorer->path_bar_buttons().front()->click();
    ASSERT_TRUE(awaitListing(listed, "/"));
}

TEST_P(ExplorerPeerTest, EveryPictureButtonOfTheServerWindowHasAName) {
    openOwnFolder();
    QWidget* screen = explorer->view()->window();
    const auto unnamed = testsupport::unnamedButtons(screen);
    EXPECT_TRUE(unnamed.empty()) << ::testing::PrintToString(unnamed);
    // The five picture buttons: sort order, new item, refresh, the path bar's home, the header's
    // server menu; each read by its tooltip or its symbol.
    int named = 0;
    for (QAbstractButton* b : screen->findChildren<QAbstractButton*>()) {
        if (!b->isVisible() || !b->text().trimmed().isEmpty()) continue;
        auto* i = QAccessible::queryAccessibleInterface(b);
        ASSERT_TRUE(i);
        EXPECT_FALSE(i->text(QAccessible::Name).isEmpty()) << b->metaObject()->className();
        ++named;
    }
    EXPECT_GE(named, 4);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(explorer->refresh_button)->text(QAccessible::Name),
              ui::accessibleButtonName(explorer->refresh_button));
    EXPECT_FALSE(ui::accessibleButtonName(explorer->new_drop_button).isEmpty());
}

TEST_P(ExplorerPeerTest, ChoosingASortOrderStoresItAndListsAgain) {
    writeDiskFile(disk / "b-large.txt", std::string(3000, 'b'));
    writeDiskFile(disk / "a-small.txt", "a");
    writeDiskFile(disk / "c-medium.txt", std::string(200, 'c'));
    openOwnFolder();
    EXPECT_EQ(rowTitles(), (std::vector<std::string>{"[UP ONE LEVEL] ..", "a-small.txt", "b-large.txt", "c-medium.txt"}));

    QAction* size = actionNamed(explorer->sort_menu(), "Size");
    ASSERT_TRUE(size);
    int before = explorer->listing_count();
    size->trigger();
    EXPECT_EQ(UserPrefs::user_defaults().integerForKey("FILEEXPLORER_SORTING"), 2);
    ASSERT_TRUE(awaitListing(before, "/" + folder));
    EXPECT_EQ(rowTitles(), (std::vector<std::string>{"[UP ONE LEVEL] ..", "b-large.txt", "c-medium.txt", "a-small.txt"}));
    EXPECT_TRUE(actionNamed(explorer->sort_menu(), "Size")->isChecked());
    EXPECT_FALSE(actionNamed(explorer->sort_menu(), "Name")->isChecked());

    before = explorer->listing_count();
    actionNamed(explorer->sort_menu(), "Name")->trigger();
    ASSERT_TRUE(awaitListing(before, "/" + folder));
    EXPECT_EQ(UserPrefs::user_defaults().integerForKey("FILEEXPLORER_SORTING"), 0);
    EXPECT_EQ(rowTitles(), (std::vector<std::string>{"[UP ONE LEVEL] ..", "a-small.txt", "b-large.txt", "c-medium.txt"}));
}

TEST_P(ExplorerPeerTest, RenamesFilesAndFoldersAndNeverOverwrites) {
    writeDiskFile(disk / "x.txt", "x bytes");
    writeDiskFile(disk / "y.txt", "y bytes");
    makeDiskFolder(disk / "d" / "inner");
    writeDiskFile(disk / "d" / "inner" / "f.txt", "deep");
    openOwnFolder();

    // The up entry offers no rename or delete.
    EXPECT_FALSE(explorer->build_context_menu(0));
    EXPECT_FALSE(shownAlert());

    auto fileMenu = menuOf("x.txt");
    ASSERT_TRUE(fileMenu);
    EXPECT_EQ(fileMenu->title(), QStringLiteral("Options"));
    EXPECT_TRUE(actionNamed(fileMenu.get(), "Rename File"));
    EXPECT_TRUE(actionNamed(fileMenu.get(), "Delete File"));
    fileMenu.reset();

    int before = explorer->listing_count();
    renameTo("x.txt", "z.txt", "Rename File");
    ASSERT_TRUE(awaitListing(before, "/" + folder));
    EXPECT_LT(rowOf("x.txt"), 0);
    EXPECT_GE(rowOf("z.txt"), 0);
    EXPECT_EQ(readDiskFile(disk / "z.txt"), "x bytes");
    EXPECT_FALSE(fs::exists(disk / "x.txt"));

    // A folder renames with everything in it.
    before = explorer->listing_count();
    renameTo("d", "e", "Rename Directory");
    ASSERT_TRUE(awaitListing(before, "/" + folder));
    EXPECT_GE(rowOf("e"), 0);
    EXPECT_LT(rowOf("d"), 0);
    EXPECT_EQ(readDiskFile(disk / "e" / "inner" / "f.txt"), "deep");
    EXPECT_FALSE(fs::exists(disk / "d"));

    // Onto a name that is taken: refused, both files as they were.
    renameTo("y.txt", "z.txt", "Rename File");
    ui::AlertController* alert = awaitAlert();
    ASSERT_TRUE(alert);
    EXPECT_NE(alert->message().indexOf(QStringLiteral("already exists")), -1) << alert->message().toStdString();
    dismissAlerts();
    EXPECT_EQ(readDiskFile(disk / "y.txt"), "y bytes");
    EXPECT_EQ(readDiskFile(disk / "z.txt"), "x bytes");

    // Names that cannot be used.
    for (const std::string& bad : {std::string(""), std::string("a/b"), std::string("bad\x01name"), std::string("..")}) {
        SCOPED_TRACE(bad);
        renameTo("y.txt", bad, "Rename File");
        alert = awaitAlert();
        ASSERT_TRUE(alert);
        EXPECT_TRUE(alert->message().startsWith(QStringLiteral("That name cannot be used"))) << alert->message().toStdString();
        dismissAlerts();
    }
    EXPECT_EQ(readDiskFile(disk / "y.txt"), "y bytes");
}

TEST_P(ExplorerPeerTest, DeletesAFolderWithEverythingInItAfterAsking) {
    makeDiskFolder(disk / "full" / "sub");
    writeDiskFile(disk / "full" / "a.txt", "a");
    writeDiskFile(disk / "full" / "sub" / "b.txt", "b");
    openOwnFolder();

    // Cancel: nothing happens.
    auto menu = menuOf("full");
    ASSERT_TRUE(menu);
    actionNamed(menu.get(), "Delete Directory")->trigger();
    ui::AlertController* alert = awaitAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->alertTitle(), QStringLiteral("Delete Directory?"));
    EXPECT_EQ(alert->message(), QStringLiteral("Are you sure you want to delete this directory? This is irreverisble."));
    ASSERT_EQ(alert->actions().size(), 2u);
    EXPECT_EQ(alert->actions()[0]->title(), QStringLiteral("Delete"));
    EXPECT_EQ(alert->actions()[0]->style(), ui::AlertActionStyle::destructive);
    alert->performAction(1);
    ASSERT_TRUE(testsupport::settleMainQueue(3));  // a delete would have been asked for by now
    EXPECT_TRUE(fs::exists(disk / "full" / "sub" / "b.txt"));

    const int before = explorer->listing_count();
    menu = menuOf("full");
    actionNamed(menu.get(), "Delete Directory")->trigger();
    alert = awaitAlert();
    ASSERT_TRUE(alert);
    alert->performAction(0);
    ASSERT_TRUE(awaitListing(before, "/" + folder));
    EXPECT_LT(rowOf("full"), 0);
    EXPECT_FALSE(fs::exists(disk / "full"));
}

// A deleted file can be got back: its copy is in the server's history first.
TEST_P(ExplorerPeerTest, DeletingAFileKeepsItsCopyInTheHistory) {
    // The history lives in the app's data folder, which the launch makes.
    VornAppUrlUtility::reset_for_testing();
    ASSERT_FALSE(VornAppUrlUtility::create_urls());
    writeDiskFile(disk / "gone.txt", "the bytes it had");
    openOwnFolder();
    ASSERT_NO_FATAL_FAILURE(deleteThroughMenu("gone.txt"));
    EXPECT_FALSE(fs::exists(disk / "gone.txt"));
    const auto kept = VornFileHistory::shared().versions(window->service->id, "/" + folder + "/gone.txt");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(VornFileHistory::read(kept[0]), std::optional<std::string>("the bytes it had"));
    VornAppUrlUtility::reset_for_testing();
}

// A deleted file is reached from its folder: "Deleted Files…" lists the folder's files that the
// history keeps and the server no longer has, with their copies; "Restore" puts a copy's very
// bytes back as a new file, so over a file that is there it is refused.
TEST_P(ExplorerPeerTest, ADeletedFileIsRestoredFromItsFolder) {
    VornAppUrlUtility::reset_for_testing();
    ASSERT_FALSE(VornAppUrlUtility::create_urls());
    const std::string bytes = "<p>kept</p>\n<p>\xC3\xA9t\xC3\xA9</p>\n";
    writeDiskFile(disk / "gone.html", bytes);
    writeDiskFile(disk / "stays.html", "now");
    makeDiskFolder(disk / "sub");
    // A copy of a file that is still there (a save replaced it) is not a deleted file.
    VornFileHistory::shared().keep(window->service->id, "/" + folder + "/stays.html", "before");
    openOwnFolder();

    // A folder's menu reaches its deleted files: none are kept of this one.
    auto menu = menuOf("sub");
    ASSERT_TRUE(menu);
    VornDeletedFilesViewController* sheet = openDeletedFiles(menu.get());
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->folder(), "/" + folder + "/sub");
    EXPECT_EQ(sheet->files_list()->count(), 0);
    EXPECT_EQ(sheet->note()->text(), QString::fromLatin1(VornDeletedFilesViewController::kNoFiles));
    EXPECT_FALSE(sheet->restore_button()->isEnabled());
    closeSheet(sheet);

    ASSERT_NO_FATAL_FAILURE(deleteThroughMenu("gone.html"));

    // The folder shown (the menu below the rows): the deleted file, its copy, the copy's text.
    menu = explorer->build_folder_menu();
    ASSERT_TRUE(menu);
    sheet = openDeletedFiles(menu.get());
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->title(), QStringLiteral("Deleted Files"));
    EXPECT_EQ(sheet->listed_paths(), std::vector<std::string>{"/" + folder + "/gone.html"});
    EXPECT_EQ(sheet->files_list()->item(0)->text(), QStringLiteral("gone.html"));
    const auto kept = VornFileHistory::shared().versions(window->service->id, "/" + folder + "/gone.html");
    ASSERT_EQ(kept.size(), 1u);
    ASSERT_EQ(sheet->copies_list()->count(), 1);
    EXPECT_EQ(sheet->copies_list()->item(0)->text().toStdString(), VornFileHistory::describe(kept[0]));
    ASSERT_TRUE(waitFor([&] { return sheet->is_copy_shown(); }, 10000));
    EXPECT_EQ(sheet->copy_view()->toPlainText(), QString::fromStdString(bytes));
    EXPECT_TRUE(sheet->copy_view()->isReadOnly());

    // Restore: the very bytes on the server, and the file listed again.
    int before = explorer->listing_count();
    ASSERT_TRUE(sheet->restore_button()->isEnabled());
    sheet->restore_button()->click();
    ASSERT_TRUE(waitFor([&] { return sheet->restores_finished() == 1; }, 30000));
    EXPECT_NE(sheet->note()->text().indexOf(QStringLiteral("on the server again")), -1) << sheet->note()->text().toStdString();
    EXPECT_EQ(readDiskFile(disk / "gone.html"), bytes);
    ASSERT_TRUE(awaitListing(before, "/" + folder));
    EXPECT_GE(rowOf("gone.html"), 0);

    // Again while the file is there: refused, with the server's reason, and its bytes stay.
    before = explorer->listing_count();
    ASSERT_TRUE(sheet->restore_button()->isEnabled());
    sheet->restore_button()->click();
    ASSERT_TRUE(waitFor([&] { return alertOver(sheet) != nullptr; }, 30000));
    EXPECT_EQ(sheet->restores_finished(), 2);
    ui::AlertController* alert = alertOver(sheet);
    EXPECT_NE(alert->message().indexOf(QStringLiteral("already exists")), -1) << alert->message().toStdString();
    alert->performAction(0);
    ASSERT_TRUE(waitFor([&] { return alertOver(sheet) == nullptr; }, 10000));
    ASSERT_TRUE(awaitListing(before, "/" + folder));
    EXPECT_EQ(readDiskFile(disk / "gone.html"), bytes);
    closeSheet(sheet);
    VornAppUrlUtility::reset_for_testing();
}

TEST_P(ExplorerPeerTest, OpeningAFileAsksForADocumentWindow) {
    writeDiskFile(disk / "index.html", "<p>hello</p>");
    writeDiskFile(disk / "notes.txt", "n");
    openOwnFolder();
    const std::string id = *window->my_session_info->service_id;
    EXPECT_EQ(id, window->service->id);

    explorer->open_file_entry(rowOf("index.html"));
    ASSERT_TRUE(waitFor([&] { return DocumentRequests::all().size() == 1; }));
    QVariantMap info = DocumentRequests::all().back();
    EXPECT_EQ(info.value("__type").toString(), QStringLiteral("main_editor"));
    EXPECT_EQ(info.value("service_session_id").toString().toStdString(), id);
    EXPECT_EQ(info.value("file_bucket_id").toString().toStdString(),
              defaults::base64Encode("/" + folder + "/index.html"));
    EXPECT_TRUE(info.value("preview_supported").toBool());

    explorer->open_file_entry(rowOf("notes.txt"));
    ASSERT_TRUE(waitFor([&] { return DocumentRequests::all().size() == 2; }));
    EXPECT_FALSE(DocumentRequests::all().back().value("preview_supported").toBool());
}

TEST_P(ExplorerPeerTest, AFailedListingStopsTheSpinnerAndKeepsTheFolder) {
    openOwnFolder();
    explorer->go_to_directory("/" + folder + "/missing-folder", true);
    ui::AlertController* alert = awaitAlert();
    ASSERT_TRUE(alert);
    ASSERT_TRUE(waitFor([&] { return !explorer->spinner->isAnimating() && !explorer->is_loading(); }));
    EXPECT_EQ(explorer->current_settings.current_dir, "/" + folder);
    EXPECT_EQ(window->my_session_info->current_dir, "/" + folder);
    EXPECT_EQ(explorer->path_bar_buttons().size(), 2u);
    dismissAlerts();
}

TEST_P(ExplorerPeerTest, TheRefreshActionListsAgain) {
    openOwnFolder();
    EXPECT_LT(rowOf("late.txt"), 0);
    writeDiskFile(disk / "late.txt", "late");
    EXPECT_EQ(explorer->refresh_action->shortcut(), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(explorer->refresh_button->toolTip(), QStringLiteral("Refresh (F5)"));
    int before = explorer->listing_count();
    explorer->refresh_action->trigger();  // F5
    EXPECT_TRUE(explorer->refreshControl->isRefreshing());
    EXPECT_EQ(explorer->refreshControl->attributedTitle(), QStringLiteral("Pull to refresh"));
    ASSERT_TRUE(awaitListing(before, "/" + folder));
    EXPECT_GE(rowOf("late.txt"), 0);
    EXPECT_FALSE(explorer->refreshControl->isRefreshing());

    writeDiskFile(disk / "later.txt", "later");
    before = explorer->listing_count();
    explorer->refresh_button->click();
    ASSERT_TRUE(awaitListing(before, "/" + folder));
    EXPECT_GE(rowOf("later.txt"), 0);
}

TEST_P(ExplorerPeerTest, DisconnectReturnsToTheWelcomeSplashAndClosesTheServersDocuments) {
    writeDiskFile(disk / "index.html", "<p>hello</p>");
    openOwnFolder();
    explorer->open_file_entry(rowOf("index.html"));
    ASSERT_TRUE(waitFor([&] { return SceneManager::document_scenes().size() == 1; }));
    ui::Window* win = window->window();
    ASSERT_TRUE(win);
    EXPECT_EQ(win->windowScene()->title().toStdString(), window->service->nickname);

    explorer->quickConnectView->disconnect_service();
    ASSERT_TRUE(waitFor([&] { return ui::alpha(explorer->welcome_splash_view) == 1.0; }));
    ASSERT_TRUE(waitFor([&] { return explorer->fileExplorerTableView->isHidden(); }));
    EXPECT_TRUE(explorer->sortByButton->isHidden());
    EXPECT_FALSE(explorer->refresh_action->isEnabled());
    EXPECT_FALSE(window->my_session_info->connected);
    EXPECT_EQ(ui::subviews(explorer->view()).last(), explorer->welcome_splash_view);
    ASSERT_TRUE(waitFor([&] { return SceneManager::document_scenes().empty(); }));
    ASSERT_TRUE(waitFor([&] { return win->windowScene()->title().toStdString() == app_display_name(); }));
    ASSERT_TRUE(waitFor([&] { return !explorer->spinner->isAnimating(); }));
    EXPECT_FALSE(shownAlert());
}

// The header's "Manage Services" shows the saved servers' list in the window: the title names no
// server while the list shows, and names the server again once one is chosen and connects.
TEST_P(ExplorerPeerTest, TheServersListInTheWindowNamesNoServerInTheTitle) {
    ui::Window* win = window->window();
    ASSERT_TRUE(win);
    const std::string name = window->service->nickname;
    const std::string id = window->service->id;
    ASSERT_TRUE(waitFor([&] { return win->windowScene()->title().toStdString() == name; }));

    explorer->quickConnectView->manage_services();
    ASSERT_TRUE(waitFor([&] { return ui::alpha(explorer->welcome_splash_view) == 1.0; }));
    EXPECT_TRUE(waitFor([&] { return win->windowScene()->title().toStdString() == app_display_name(); }))
        << win->windowScene()->title().toStdString();

    auto list = window->welcome_manage_services_vc;
    ASSERT_TRUE(list);
    int row = -1;
    list->reload_services_on_main();
    ASSERT_TRUE(waitFor([&] {
        for (size_t i = 0; i < list->saved_services.size(); ++i)
            if (list->saved_services[i] && list->saved_services[i]->id == id) row = static_cast<int>(i);
        return row >= 0;
    })) << "the list does not show the server";
    list->open_selected_service(row);
    EXPECT_TRUE(waitFor([&] { return win->windowScene()->title().toStdString() == name; }, 30000))
        << win->windowScene()->title().toStdString();
    EXPECT_TRUE(waitFor([&] { return window->my_session_info->connected; }, 30000));
}

TEST_P(ExplorerPeerTest, QuickConnectSwitchesServersAndTellsAFailedConnect) {
    QuickConnectView* header = explorer->quickConnectView;
    const auto first = window->service;
    ASSERT_TRUE(first);
    EXPECT_EQ(header->serverConnectionStatus_Lbl->text().toStdString(), first->nickname);
    EXPECT_EQ(header->serverConnectionName_Lbl->text().toStdString(), first->url);

    // A saved server whose login the server refuses: the failure is told.
    auto wrong = saveServer(peer_.url, "nobody", opstest::typeOf(peer_), "not-the-password");
    wrong->nickname = "Nobody's login";
    auto menu = header->build_quick_connect_menu();
    QAction* entry = actionNamed(menu.get(), QuickConnectView::service_entry_name(*wrong));
    ASSERT_TRUE(entry);
    EXPECT_FALSE(entry->isChecked());
    EXPECT_TRUE(actionNamed(menu.get(), QuickConnectView::service_entry_name(*first))->isChecked());
    entry->trigger();
    ui::AlertController* alert = awaitAlert();
    ASSERT_TRUE(alert);
    EXPECT_FALSE(window->my_session_info->connected);
    dismissAlerts();
    ASSERT_TRUE(waitFor([&] { return !explorer->welcome_splash_view->isHidden(); }));

    // Back to the first server: connected, its root listed, its entry checked.
    const int before = explorer->listing_count();
    menu = header->build_quick_connect_menu();
    actionNamed(menu.get(), QuickConnectView::service_entry_name(*first))->trigger();
    ASSERT_TRUE(awaitListing(before, "/"));
    EXPECT_TRUE(window->my_session_info->connected);
    EXPECT_TRUE(explorer->welcome_splash_view->isHidden());
    menu = header->build_quick_connect_menu();
    EXPECT_TRUE(actionNamed(menu.get(), QuickConnectView::service_entry_name(*first))->isChecked());
    EXPECT_FALSE(actionNamed(menu.get(), QuickConnectView::service_entry_name(*wrong))->isChecked());
}

TEST_P(ExplorerPeerTest, AQuickConnectPickOvertakenByTheNextIsSilentAndTheLaterWins) {
    QuickConnectView* header = explorer->quickConnectView;
    const auto first = window->service;
    ASSERT_TRUE(first);
    makeDiskFolder(disk / "second");
    auto second = saveServer(peer_.url + folder + "/second/", peer_.user, opstest::typeOf(peer_), peer_.password);
    writeDiskFile(disk / "second" / "only-in-second.txt", "x");

    // The first pick's connect is under way (its reset has shown the splash) when the second comes.
    header->quick_connect_to_service(first->id);
    ASSERT_TRUE(waitFor([&] { return !explorer->welcome_splash_view->isHidden(); }));
    const int before = explorer->listing_count();
    header->quick_connect_to_service(second->id);
    ASSERT_TRUE(awaitListing(before, "/")) << "the later pick did not list";
    EXPECT_TRUE(window->my_session_info->connected);
    ASSERT_TRUE(window->service);
    EXPECT_EQ(window->service->id, second->id);
    EXPECT_GE(rowOf("only-in-second.txt"), 0);
    ASSERT_TRUE(testsupport::settleMainQueue(4));
    EXPECT_FALSE(shownAlert()) << shownAlert()->message().toStdString();

    // Two picks in the same turn: the later one wins, silently. The earlier (the server already
    // connected) may list once before the later has closed its way in, so the wait is for the
    // later server's own listing.
    header->quick_connect_to_service(second->id);
    header->quick_connect_to_service(first->id);
    ASSERT_TRUE(waitFor([&] {
        return window->service && window->service->id == first->id && !explorer->is_loading() && rowOf(folder) >= 0;
    })) << "the later pick did not list";
    EXPECT_EQ(explorer->current_settings.current_dir, "/");
    ASSERT_TRUE(testsupport::settleMainQueue(4));
    EXPECT_FALSE(shownAlert()) << shownAlert()->message().toStdString();
    EXPECT_GE(rowOf(folder), 0) << "the earlier server's listing came back over the later one's";
}

TEST_P(ExplorerPeerTest, ADisconnectDuringAListingShowsNoCancellation) {
    for (int i = 0; i < 200; ++i) writeDiskFile(disk / ("file-" + std::to_string(i) + ".txt"), "x");
    const int answers = explorer->listing_answer_count();
    explorer->go_to_directory("/" + folder, true);
    explorer->quickConnectView->disconnect_service();
    // The listing's answer (a cancellation, or a listing nobody waits for any more) has come.
    ASSERT_TRUE(waitFor([&] { return explorer->listing_answer_count() > answers; }, 30000));
    ASSERT_TRUE(waitFor([&] { return explorer->fileExplorerTableView->isHidden() && !explorer->spinner->isAnimating(); }));
    ASSERT_TRUE(testsupport::settleMainQueue(4));
    EXPECT_FALSE(window->my_session_info->connected);
    EXPECT_FALSE(shownAlert()) << shownAlert()->message().toStdString();
}

// Reads the server's log of the listings it gave: the servers that keep one (sshd does not).
class ExplorerListingLogTest : public ExplorerPeerTest {};

TEST_P(ExplorerListingLogTest, AnEditorSaveRedrawsTheRowsWithoutListingAgain) {
    writeDiskFile(disk / "page.html", "old");
    writeDiskFile(disk / "style.css", "x");
    openOwnFolder();
    const auto titles = rowTitles();
    ASSERT_GE(rowOf("page.html"), 0);
    const std::string serverFolder = "/" + peer_.root.filename().string() + "/" + folder;
    // A web server logs a request after it answered it: wait for the listing's line.
    ASSERT_TRUE(waitFor([&] { return filestest::listingRequests(peer_, serverFolder) >= 1; }))
        << "the peer's request log shows no listing of " << serverFolder;
    const int listed = filestest::listingRequests(peer_, serverFolder);
    const int shown = explorer->listing_count();
    const int redrawn = explorer->visible_reload_count();

    std::optional<std::optional<VornError>> saved;
    window->write_file_text_checked("/" + folder + "/page.html", "saved", files::WriteMode::replace, std::nullopt,
                                    [&](std::optional<files::FileVersion>, std::optional<VornError> e) { saved = e; });
    ASSERT_TRUE(waitFor([&] { return saved.has_value(); }, 30000));
    EXPECT_FALSE(*saved) << (*saved)->text();
    EXPECT_EQ(readDiskFile(disk / "page.html"), "saved");

    // The rows on screen are redrawn; the listing stays and is not asked for again.
    ASSERT_TRUE(waitFor([&] { return explorer->visible_reload_count() > redrawn; }));
    ASSERT_TRUE(testsupport::settleMainQueue(4));
    EXPECT_EQ(rowTitles(), titles);
    EXPECT_EQ(explorer->listing_count(), shown);
    EXPECT_FALSE(explorer->is_loading());
    EXPECT_EQ(filestest::listingRequests(peer_, serverFolder), listed);
}

TEST_P(ExplorerPeerTest, SelectAllSelectsEveryFileRowOfTheTable) {
    writeDiskFile(disk / "a.html", "a");
    writeDiskFile(disk / "b.css", "b");
    makeDiskFolder(disk / "img");
    openOwnFolder();
    QTableView* table = explorer->fileExplorerTableView;
    table->setFocus();
    QObject* target = ui::targetForAction(QStringLiteral("selectAll"), ui::MenuRenderer::chainStart(table->window()));
    ASSERT_EQ(target, table);
    ASSERT_TRUE(ui::invokeAction(target, QStringLiteral("selectAll"), {}));
    std::vector<std::string> selected;
    for (const QModelIndex& index : table->selectionModel()->selectedRows()) {
        selected.push_back(rowTitles()[index.row()]);
    }
    std::sort(selected.begin(), selected.end());
    EXPECT_EQ(selected, (std::vector<std::string>{"a.html", "b.css", "img"}));
}

TEST_P(ExplorerPeerTest, ScreenshotOfAConnectedListing) {
    makeDiskFolder(disk / "img");
    writeDiskFile(disk / "index.html", std::string(2048, 'x'));
    writeDiskFile(disk / "style.css", std::string(300, 'x'));
    writeDiskFile(disk / "README", "r");
    writeDiskFile(disk / ".htaccess", "h");
    openOwnFolder();
    ui::Window* win = window->window();
    ASSERT_TRUE(win);
    // The window keeps its opening size (300 by 770 points) for its first three seconds.
    QTest::qWait(1300);  // fades
    const QString file = QDir(QStringLiteral(DRAVIX_TEST_BINARY_DIR))
                             .filePath(QStringLiteral("explorer-listing-%1.png").arg(QString::fromLatin1(GetParam())));
    const QImage shot = win->grab().toImage();
    ASSERT_TRUE(shot.save(file));
    RecordProperty("screenshot", file.toStdString());
    EXPECT_GE(pictures::colours(pictures::partOf(shot, win, explorer->fileExplorerTableView)), 3) << "the rows are drawn";
}

INSTANTIATE_TEST_SUITE_P(Peers, ExplorerPeerTest, ::testing::Values("pyftpd", "vsftpd", "apache", "sshd"),
                         [](const auto& info) { return std::string(info.param); });
INSTANTIATE_TEST_SUITE_P(Peers, ExplorerListingLogTest, ::testing::Values("pyftpd", "vsftpd", "apache"),
                         [](const auto& info) { return std::string(info.param); });

// The house names the folder the server put the user in at login, as the server said it (here
// one below the server's root, as on many real servers), and the folders below it keep their case.
TEST_F(ExplorerTest, ThePathBarNamesTheFoldersAsTheServerDoes) {
    const Peer p = peer("pyftpdx");
    if (!p.skipReason.empty()) GTEST_SKIP() << p.skipReason;
    const std::string folder = unique_name("Path");
    makeDiskFolder(p.root / folder / "WWW");
    connectTo(p);
    // The connection's root: the test's own folder in the login folder, /home/<user>.
    const std::string home = "/home/" + p.user + "/" + p.root.filename().string();
    auto buttons = explorer->path_bar_buttons();
    ASSERT_EQ(buttons.size(), 1u);
    EXPECT_EQ(buttons[0]->toolTip().toStdString(), "Click to go to '" + home + "'");
    go("/" + folder + "/WWW");
    buttons = explorer->path_bar_buttons();
    ASSERT_EQ(buttons.size(), 3u);
    EXPECT_EQ(buttons[2]->toolTip().toStdString(), "Click to go to '" + home + "/" + folder + "/WWW'");
}

// ---- texts as the 300-point window draws them -----------------------------------------------------

TEST(ExplorerTexts, AnAddressCutShortKeepsItsHostAndPort) {
    const QFontMetrics metrics(explorer_style::headline_font());
    struct Case {
        QString url;
        QString kept;
    };
    const std::vector<Case> cases{
        {QStringLiteral("webdav://127.0.0.1:8088/dav/some/long/folder/"), QStringLiteral("127.0.0.1:8088")},
        {QStringLiteral("ftp://127.0.0.1:2121/a/very/long/path/to/the/site/root"), QStringLiteral("127.0.0.1:2121")},
        {QStringLiteral("webdav://127.0.0.1:8088"), QStringLiteral(":8088")},
    };
    for (const auto& c : cases) {
        for (int width : {255, 200, 150}) {
            const QString shown = QuickConnectView::shown_text(c.url, metrics, width, true);
            EXPECT_LE(metrics.horizontalAdvance(shown), width) << shown.toStdString();
            if (metrics.horizontalAdvance(c.kept) + metrics.horizontalAdvance(QStringLiteral("\u2026")) <= width) {
                EXPECT_TRUE(shown.contains(c.kept)) << shown.toStdString() << " at " << width;
            }
        }
    }
    // A text that fits is drawn whole.
    EXPECT_EQ(QuickConnectView::shown_text(QStringLiteral("ftp://h:21"), metrics, 255, true), QStringLiteral("ftp://h:21"));
}

TEST(ExplorerTexts, ARowCutsItsNameOnlyWhenTheRowHasNoRoomForIt) {
    const QFontMetrics metrics(explorer_style::body_font());
    const QRect row(0, 0, 300, FileViewTableViewCellPainter::kRowHeight);
    const std::vector<std::pair<std::string, std::optional<int64_t>>> entries{
        {"stylesheet-main.css", 12000}, {"index-of-pages.html", 532}, {"a-rather-long-file-name-for-a-narrow-window.html", 1},
        {"folder-with-long-name", -1}};
    for (const auto& [name, size] : entries) {
        FileViewTableViewCell cell;
        cell.fileInfo = std::make_shared<VornServerFileDataModel>();
        cell.fileInfo->name = name;
        cell.fileInfo->size = size;
        cell.configure_size();
        const auto layout = FileViewTableViewCellPainter::layout_row(row, cell, metrics);
        EXPECT_FALSE(layout.title.intersects(layout.size)) << name;
        EXPECT_GE(layout.size.width(), cell.size_lbl.isEmpty() ? 0 : metrics.horizontalAdvance(cell.size_lbl)) << name;
        const int needed = 10 + FileViewTableViewCell::icon_side_length() + 5 + metrics.horizontalAdvance(cell.title_lbl) +
                           (cell.size_lbl.isEmpty() ? 0 : 5 + metrics.horizontalAdvance(cell.size_lbl) + 2) + 10;
        if (needed <= row.width()) {
            EXPECT_EQ(layout.shown_title, cell.title_lbl) << name << " cut with room to spare";
        } else {
            EXPECT_NE(layout.shown_title, cell.title_lbl) << name;
        }
    }
}

// ---- a big folder shows while it loads ------------------------------------------------------------

namespace {

// The window's provider with the completion of one folder's listings held back until released,
// so that a test can look at the explorer while the listing's parts have come and its end has not.
class HeldListingProvider final : public filestest::ForwardingProvider {
public:
    HeldListingProvider(std::shared_ptr<files::FileProvider> inner, std::string held)
        : ForwardingProvider(std::move(inner)), held_(std::move(held)) {}
    ~HeldListingProvider() override { release(); }
    void release() {
        {
            std::lock_guard lock(gate_->mutex);
            gate_->open = true;
        }
        gate_->changed.notify_all();
    }

protected:
    files::OperationHandle listDirectory(std::string path, files::ListOptions options,
                                         files::ListCompletion completion) override {
        if (path != held_) return inner_->contentsOfDirectory(std::move(path), std::move(options), std::move(completion));
        return inner_->contentsOfDirectory(
            std::move(path), std::move(options),
            [gate = gate_, completion = std::move(completion)](std::vector<files::FileObject> entries,
                                                               std::optional<files::FileError> error) {
                {
                    std::unique_lock lock(gate->mutex);
                    gate->changed.wait(lock, [&] { return gate->open; });
                }
                completion(std::move(entries), std::move(error));
            });
    }

private:
    struct Gate {
        std::mutex mutex;
        std::condition_variable changed;
        bool open = false;
    };
    std::string held_;
    std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
};

class ExplorerBigFolderTest : public ExplorerPeerTest {
protected:
    static constexpr int kEntries = 3050;  // the last part (under a hundred) comes with the end
    void SetUp() override {
        ExplorerPeerTest::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        for (int i = 0; i < kEntries; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "file-%04d.txt", i);
            writeDiskFile(disk / name, std::string(static_cast<std::size_t>((i * 37) % 101), 'x'));
        }
        auto& provider = window->provider_bucket->sftp_provider->provider;
        held = std::make_shared<HeldListingProvider>(provider, "/" + folder);
        provider = held;
    }
    void TearDown() override {
        if (held) held->release();
        ExplorerPeerTest::TearDown();
    }
    std::string titleOf(const QModelIndex& index) const { return model()->data(index, Qt::DisplayRole).toString().toStdString(); }
    // Whether the rows after the up entry are in order of size, largest first.
    bool bySizeLargestFirst() const {
        for (int r = 2; r < model()->rowCount(); ++r)
            if (model()->entryAt(r - 1)->size.value_or(0) < model()->entryAt(r)->size.value_or(0)) return false;
        return true;
    }
    std::shared_ptr<HeldListingProvider> held;
};

}  // namespace

TEST_P(ExplorerBigFolderTest, RowsShowBeforeTheEndAndSortingAndFindingWorkWhileItLoads) {
    const int row = rowOf(folder);
    ASSERT_GE(row, 0);
    const int before = explorer->listing_count();
    explorer->open_file_entry(row);
    ASSERT_TRUE(waitFor([&] { return explorer->partial_listing_count() > 0; }));
    const int firstShown = model()->rowCount();
    EXPECT_TRUE(explorer->is_loading());
    EXPECT_GT(firstShown, 1);
    EXPECT_EQ(titleOf(model()->index(0, 0)), "[UP ONE LEVEL] ..");
    // The parts keep coming: wait for all but the end (held back) to be shown.
    ASSERT_TRUE(waitFor([&] { return model()->rowCount() == kEntries - kEntries % 100 + 1; }));
    auto titles = rowTitles();
    EXPECT_TRUE(std::is_sorted(titles.begin() + 1, titles.end())) << "the rows shown are in name order";

    // Another order while loading: the rows shown take it, and the folder is not asked again.
    const int answersBefore = explorer->listing_answer_count();
    QAction* size = actionNamed(explorer->sort_menu(), "Size");
    ASSERT_TRUE(size);
    size->trigger();
    EXPECT_TRUE(explorer->is_loading());
    EXPECT_EQ(explorer->listing_answer_count(), answersBefore);
    EXPECT_TRUE(bySizeLargestFirst());

    // Typing to find goes to the row and it stays selected (and in sight) when the end comes.
    explorer->fileExplorerTableView->setFocus();
    explorer->fileExplorerTableView->keyboardSearch(QStringLiteral("file-0042"));
    const QModelIndex found = explorer->fileExplorerTableView->currentIndex();
    ASSERT_TRUE(found.isValid());
    EXPECT_EQ(titleOf(found), "file-0042.txt");
    explorer->fileExplorerTableView->scrollTo(found);
    const int scrolled = explorer->fileExplorerTableView->verticalScrollBar()->value();
    // The focus leaves the table before the end comes (the current row is put aside meanwhile):
    // the keyboard's row is still there when the focus returns.
    explorer->fileExplorerTableView->clearFocus();

    held->release();
    ASSERT_TRUE(awaitListing(before, "/" + folder));
    EXPECT_EQ(explorer->listing_answer_count(), answersBefore + 1) << "the listing was asked once";
    EXPECT_LT(firstShown, model()->rowCount());
    EXPECT_EQ(model()->rowCount(), kEntries + 1);
    EXPECT_TRUE(bySizeLargestFirst());
    std::set<std::string> names;
    for (const auto& t : rowTitles()) names.insert(t);
    EXPECT_EQ(names.size(), static_cast<std::size_t>(kEntries + 1)) << "no row twice";
    const QModelIndexList selected = explorer->fileExplorerTableView->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(titleOf(selected.first()), "file-0042.txt");
    EXPECT_EQ(titleOf(explorer->fileExplorerTableView->keyboardRow()), "file-0042.txt");
    EXPECT_EQ(explorer->fileExplorerTableView->verticalScrollBar()->value(), scrolled);
}

TEST_P(ExplorerBigFolderTest, APartOrAnEndAfterTheUserLeftTheFolderIsDropped) {
    const int row = rowOf(folder);
    ASSERT_GE(row, 0);
    explorer->open_file_entry(row);
    ASSERT_TRUE(waitFor([&] { return explorer->partial_listing_count() > 0; }));
    // Back to the root before the big folder's end came: the root shows, and stays.
    const int answers = explorer->listing_answer_count();
    go("/");
    const auto root = rowTitles();
    EXPECT_GE(rowOf(folder), 0);
    const int partsShown = explorer->partial_listing_count();
    held->release();
    ASSERT_TRUE(waitFor([&] { return explorer->listing_answer_count() >= answers + 2; }));
    settle();
    EXPECT_EQ(explorer->current_settings.current_dir, "/");
    EXPECT_EQ(rowTitles(), root);
    EXPECT_EQ(explorer->partial_listing_count(), partsShown);
    EXPECT_FALSE(explorer->is_loading());
}

INSTANTIATE_TEST_SUITE_P(Peers, ExplorerBigFolderTest, ::testing::Values("sshd"),
                         [](const auto& info) { return std::string(info.param); });
