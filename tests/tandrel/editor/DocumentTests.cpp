// The document window's pieces without a server: the window's set-up from its user info, the
// screens each idiom gets, the editor screen's bar buttons and title, and the main screen's
// command validation.
#include <gtest/gtest.h>

#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include <QTest>

#include "support/MainQueueSettle.h"
#include "support/Pictures.h"
#include "DocumentTestSupport.h"
#include "HoldingRelay.h"
#include "platform/ui/Menu.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/SplitViewController.h"
#include "tandrel/editor/CompactDocumentRoute.h"
#include "tandrel/editor/VORNSplitViewController.h"

using namespace documenttest;

namespace {

// The web engine's settings for tests (as scripts/test sets them), before the application exists:
// no sandbox (the tests may run as root) and no GPU (Xvfb).
const bool kWebEngineEnvironment = [] {
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS")) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    return true;
}();

using Column = ui::SplitViewController::Column;
using Mode = ui::SplitViewController::DisplayMode;

TEST(EditorWindowTitle, TitleIsTheNameAMiddleDotAndTheUpperCaseExtension) {
    struct Row {
        std::string path;
        std::optional<QString> title;
    };
    const std::vector<Row> rows{
        {"/www/index.html", QString::fromUtf8("index \xC2\xB7 HTML")},
        {"style.min.css", QString::fromUtf8("style.min \xC2\xB7 CSS")},
        {"/a/README", QString::fromUtf8("README \xC2\xB7 ")},
        {"/a/.htaccess", QString::fromUtf8(".htaccess \xC2\xB7 ")},
        {"/caf\xC3\xA9/men\xC3\xBC.php", QString::fromUtf8("men\xC3\xBC \xC2\xB7 PHP")},
        {"", std::nullopt},
    };
    for (const auto& row : rows) EXPECT_EQ(EditorWebViewController::window_title_for_path(row.path), row.title) << row.path;
}

// Titles that would read alike add the folder, and the server where the servers differ.
TEST(EditorWindowTitle, TitlesThatWouldReadAlikeAddTheFolderAndTheServerWhereTheyDiffer) {
    using Subject = EditorWebViewController::TitleSubject;
    const QString dash = QStringLiteral(" \u2014 ");
    const QString index = QString::fromUtf8("index \xC2\xB7 HTML");
    struct Row {
        const char* what;
        std::vector<Subject> subjects;
        std::vector<QString> titles;
    };
    const std::vector<Row> rows{
        {"different names", {{"/a/index.html", "Site"}, {"/a/about.html", "Site"}},
         {index, QString::fromUtf8("about \xC2\xB7 HTML")}},
        {"two folders", {{"/a/index.html", "Site"}, {"/b/index.html", "Site"}}, {index + dash + "/a", index + dash + "/b"}},
        {"two servers", {{"/www/index.html", "Live"}, {"/www/index.html", "Test"}},
         {index + dash + "/www" + dash + "Live", index + dash + "/www" + dash + "Test"}},
        {"the root folder", {{"/index.html", "Site"}, {"/b/index.html", "Site"}}, {index + dash + "/", index + dash + "/b"}},
        {"a third alone", {{"/a/index.html", "S"}, {"/b/index.html", "S"}, {"/b/page.php", "S"}},
         {index + dash + "/a", index + dash + "/b", QString::fromUtf8("page \xC2\xB7 PHP")}},
        {"one alone", {{"/a/index.html", "Site"}}, {index}},
    };
    for (const Row& row : rows) EXPECT_EQ(EditorWebViewController::document_window_titles(row.subjects), row.titles) << row.what;
}

// ---- the window from its user info ----------------------------------------------------------------

QVariantMap documentInfo() {
    return {{"service_session_id", QStringLiteral("svc-1")},
            {"file_bucket_id", QString::fromStdString(file_bucket_id_for_path("/index.html"))},
            {"preview_supported", true}};
}

class DocumentWindowSetup : public DocumentTest {
protected:
    // Asks for a document window with that user info and lets the requests run.
    void request(std::optional<QVariantMap> info) {
        SceneManager::request_scene(SceneKind::main_editor, std::move(info), nullptr);
        settle();
        QTest::qWait(100);
        settle();
    }
};

TEST_F(DocumentWindowSetup, MissingOrMistypedUserInfoOpensAServerWindowAndClosesTheDocumentWindow) {
    struct Row {
        const char* what;
        std::optional<QVariantMap> info;
    };
    QVariantMap asText = documentInfo();
    asText["preview_supported"] = QStringLiteral("true");
    QVariantMap noFile = documentInfo();
    noFile.remove("file_bucket_id");
    QVariantMap numberId = documentInfo();
    numberId["service_session_id"] = 42;
    const std::vector<Row> rows{{"no user info", std::nullopt},
                                {"preview_supported as text", asText},
                                {"no file_bucket_id", noFile},
                                {"service_session_id as a number", numberId}};
    for (const auto& row : rows) {
        const size_t viewers = SceneManager::file_viewer_scenes().size();
        request(row.info);
        EXPECT_TRUE(waitFor([&] { return SceneManager::file_viewer_scenes().size() == viewers + 1; }, 5000)) << row.what;
        EXPECT_TRUE(waitFor([&] { return SceneManager::document_scenes().empty(); }, 5000)) << row.what;
    }
}

TEST_F(DocumentWindowSetup, FullUserInfoWithExtraKeysBuildsTheWindowAroundTheMainScreen) {
    QVariantMap info = documentInfo();
    info["extra"] = QStringLiteral("ignored");
    request(info);
    ASSERT_EQ(SceneManager::document_scenes().size(), 1u);
    auto* doc = documentOf(SceneManager::document_scenes().front());
    ASSERT_TRUE(doc && doc->window());
    auto* m = managerOf(doc);
    EXPECT_EQ(m->my_current_editor_info.service_session_id, "svc-1");
    EXPECT_EQ(m->my_current_editor_info.file_bucket_id, file_bucket_id_for_path("/index.html"));
    EXPECT_TRUE(m->my_current_editor_info.preview_supported);
    EXPECT_EQ(doc->window()->rootViewController(), m->main_controller.get());
    EXPECT_EQ(m->main_controller->scene_delegatex.data(), m);
    EXPECT_EQ(doc->document_service_session_id(), "svc-1");
    // No file-viewer window serves "svc-1": no editor screens, and the main screen says so.
    EXPECT_FALSE(m->ext_editor_vc);
    auto* alert = awaitAlert(doc, 5000);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->message(), "Sorry. Something went wrong. Please try again");
}

TEST_F(DocumentWindowSetup, TheAppearanceSettingFixesTheWindowsStyle) {
    struct Row {
        const char* setting;
        ui::InterfaceStyle style;
    };
    for (const Row& row : {Row{"1", ui::InterfaceStyle::dark}, Row{"2", ui::InterfaceStyle::light},
                           Row{"0", ui::InterfaceStyle::unspecified}, Row{"7", ui::InterfaceStyle::unspecified}}) {
        defaults::UserDefaults::standard().setString("MODE_APPEARANCE", row.setting);
        QVariantMap info = documentInfo();
        info["file_bucket_id"] = QStringLiteral("file-") + QString::fromLatin1(row.setting);
        const size_t before = SceneManager::document_scenes().size();
        request(info);
        ASSERT_EQ(SceneManager::document_scenes().size(), before + 1) << row.setting;
        auto* doc = documentOf(SceneManager::document_scenes().back());
        ASSERT_TRUE(doc && doc->window());
        EXPECT_EQ(doc->window()->overrideUserInterfaceStyle(), row.style) << row.setting;
    }
}

TEST_F(DocumentWindowSetup, TheCloseButtonOfAWindowWithoutAFileClosesAtOnceAndTearsDownOnce) {
    request(documentInfo());
    ASSERT_EQ(SceneManager::document_scenes().size(), 1u);
    QPointer<DocumentSceneDelegate> doc = documentOf(SceneManager::document_scenes().front());
    ASSERT_TRUE(doc);
    doc->window()->close();
    EXPECT_TRUE(waitFor([&] { return SceneManager::document_scenes().empty(); }, 5000));
    EXPECT_TRUE(waitFor([&] { return doc.isNull(); }, 5000)) << "the scene delegate was not released";
}

// ---- the screens of each idiom --------------------------------------------------------------------

class DocumentIdioms : public DocumentTest {
protected:
    // A manager for a file of the (unconnected) file-viewer window.
    std::shared_ptr<DocumentInterfaceManager> makeManager(bool preview) {
        window->my_session_info->service_id = "svc-idioms";
        auto m = std::make_shared<DocumentInterfaceManager>();
        m->my_current_editor_info.service_session_id = "svc-idioms";
        m->my_current_editor_info.file_bucket_id = file_bucket_id_for_path("/index.html");
        m->my_current_editor_info.preview_supported = preview;
        m->setup_document_controllers();
        return m;
    }
    static ui::ViewController* rootOf(ui::ViewController* column) {
        auto* nav = qobject_cast<ui::NavigationController*>(column);
        return nav && !nav->viewControllers().empty() ? nav->viewControllers().front().get() : column;
    }
};

TEST_F(DocumentIdioms, EachIdiomGetsItsEditorsAndColumns) {
    struct Row {
        const char* idiom;
        bool regular;
        bool compact;
        bool uses_compact;
        ui::SplitViewController::PrimaryEdge edge;
    };
    const Row rows[] = {
        {"mac", true, false, false, ui::SplitViewController::PrimaryEdge::trailing},  // as a tablet, no compact editor
        {"pad", true, true, false, ui::SplitViewController::PrimaryEdge::trailing},
        {"phone", false, true, true, ui::SplitViewController::PrimaryEdge::leading},
    };
    for (const Row& row : rows) {
        IdiomScope idiom(row.idiom);
        auto m = makeManager(true);
        EXPECT_EQ(m->file_server_delegatex.data(), window) << row.idiom;
        EXPECT_EQ(bool(m->ext_editor_vc), row.regular) << row.idiom;
        EXPECT_EQ(bool(m->ext_compact_editor_vc), row.compact) << row.idiom;
        EXPECT_TRUE(m->ext_webview_vc) << row.idiom;
        if (m->ext_editor_vc) {
            EXPECT_TRUE(m->ext_editor_vc->loaded) << row.idiom;
            EXPECT_EQ(m->ext_editor_vc->jsc, m->editor_js_connector) << row.idiom;
            EXPECT_FALSE(m->editor_js_connector->is_compact);
        }
        if (m->ext_compact_editor_vc) {
            EXPECT_TRUE(m->ext_compact_editor_vc->loaded) << row.idiom;
            EXPECT_EQ(m->ext_compact_editor_vc->jsc, m->editor_compact_js_connector) << row.idiom;
            EXPECT_TRUE(m->editor_compact_js_connector->is_compact);
        }
        EXPECT_EQ(m->editor_js_connector->error_delegatex.get(), m->main_controller.get());
        EXPECT_EQ(m->editor_js_connector->editorwk_to_previewwk_delegate.object(), static_cast<QObject*>(m->preview_js_connector.get()));

        auto split = m->build_split_view(true, 1100.0);
        split->view()->resize(1100, 700);
        split->layoutColumns();
        EXPECT_EQ(m->split_view_controller, split);
        EXPECT_EQ(split->primaryEdge(), row.edge) << row.idiom;
        EXPECT_EQ(split->minimumPrimaryColumnWidth(), 300.0);
        EXPECT_EQ(split->maximumPrimaryColumnWidth(), 1100.0);
        EXPECT_FALSE(split->presentsWithGesture());
        EXPECT_EQ(m->uses_compact_editor(), row.uses_compact) << row.idiom;
        if (row.regular) {
            EXPECT_EQ(rootOf(split->viewController(Column::secondary)), m->ext_editor_vc.get()) << row.idiom;
            EXPECT_EQ(rootOf(split->viewController(Column::primary)), m->ext_webview_vc.get()) << row.idiom;
            EXPECT_TRUE(m->ext_editor_vc->has_preview_support);
        } else {
            EXPECT_EQ(split->viewController(Column::primary), nullptr) << row.idiom;
        }
        if (row.compact) {
            EXPECT_EQ(rootOf(split->viewController(Column::compact)), m->ext_compact_editor_vc.get()) << row.idiom;
        } else {
            EXPECT_EQ(split->viewController(Column::compact), nullptr) << row.idiom;
        }
        EXPECT_EQ(m->visible_editor_screen(), row.uses_compact ? m->ext_compact_editor_vc.get() : m->ext_editor_vc.get());
    }
}

TEST_F(DocumentIdioms, ATabletUsesTheCompactEditorWhileTheSplitViewIsCollapsed) {
    IdiomScope idiom("pad");
    auto m = makeManager(true);
    auto split = m->build_split_view(true, 1000.0);
    split->view()->resize(1000, 700);
    split->layoutColumns();
    EXPECT_FALSE(m->uses_compact_editor());
    EXPECT_EQ(m->visible_editor_connector(), m->editor_js_connector.get());
    split->view()->resize(400, 700);
    split->layoutColumns();
    EXPECT_TRUE(m->uses_compact_editor());
    EXPECT_EQ(m->visible_editor_connector(), m->editor_compact_js_connector.get());
}

TEST_F(DocumentIdioms, WithoutPreviewTheEditorFillsTheWindow) {
    auto m = makeManager(false);
    auto split = m->build_split_view(false, 1200.0);
    EXPECT_EQ(split->preferredDisplayMode(), Mode::secondaryOnly);
    EXPECT_FALSE(split->showsSecondaryOnlyButton());
    EXPECT_EQ(split->viewController(Column::primary), nullptr);
    EXPECT_EQ(rootOf(split->viewController(Column::secondary)), m->ext_editor_vc.get());
    EXPECT_FALSE(m->ext_editor_vc->has_preview_support);
}

TEST_F(DocumentIdioms, NoFileViewerWindowMeansNoScreens) {
    auto m = std::make_shared<DocumentInterfaceManager>();
    m->my_current_editor_info.service_session_id = "nobody";
    m->my_current_editor_info.file_bucket_id = "x";
    m->setup_document_controllers();
    EXPECT_FALSE(m->ext_editor_vc);
    EXPECT_FALSE(m->ext_webview_vc);
    EXPECT_FALSE(m->file_server_delegatex);
    // Without a file id nothing is looked up either.
    window->my_session_info->service_id = "svc";
    auto n = std::make_shared<DocumentInterfaceManager>();
    n->my_current_editor_info.service_session_id = "svc";
    n->setup_document_controllers();
    EXPECT_FALSE(n->file_server_delegatex);
    // And a doc_ready of such a window does nothing (no read, no alert).
    n->load_current_editor_file(false);
    settle();
    EXPECT_FALSE(n->ace_loaded);
}

TEST_F(DocumentIdioms, TearingDownDetachesTheVisibleEditorOnce) {
    auto m = makeManager(true);
    auto* editor = m->ext_editor_vc.get();
    QPointer<VornEditorWKWebView> view = editor->editorWebView();
    ASSERT_TRUE(waitFor([&] { return m->editor_js_connector->web_view == view; }, 5000));
    EXPECT_EQ(view->parentWidget(), editor->view());
    m->teardown_document_interface();
    EXPECT_TRUE(editor->web_view_released);
    EXPECT_TRUE(!view || view->parentWidget() == nullptr) << "the web view left the editor's view";
    EXPECT_TRUE(waitFor([&] { return view.isNull(); }, 3000));
    m->teardown_document_interface();  // nothing the second time
    EXPECT_TRUE(editor->web_view_released);
}

// ---- the editor screen's bar ----------------------------------------------------------------------

TEST_F(DocumentTest, TheEditorsBarButtonsFollowTheIdiomTheLayoutAndPreviewSupport) {
    struct Row {
        const char* idiom;
        bool compact;
        bool preview;
        std::vector<const char*> left;  // the items' actions
        std::vector<const char*> right;
    };
    const Row rows[] = {
        {"mac", false, true, {"save_editor"}, {"toggle_preview_btn_pressed"}},
        {"mac", false, false, {"save_editor"}, {}},
        {"phone", false, true, {"save_editor"}, {}},
        {"pad", false, true, {"close_editor", "save_editor"}, {"preview_trigger"}},
        {"phone", true, false, {"close_editor", "save_editor"}, {"preview_trigger"}},
        {"mac", true, true, {"close_editor", "save_editor"}, {"preview_trigger"}},
    };
    auto actions = [](const std::vector<ui::BarButtonItemRef>& items) {
        std::vector<std::string> out;
        for (const auto& i : items) out.push_back(i->action().toStdString());
        return out;
    };
    for (const Row& row : rows) {
        IdiomScope idiom(row.idiom);
        auto screen = ui::make<EditorWebViewController>();
        screen->is_compact = row.compact;
        screen->has_preview_support = row.preview;
        screen->loadViewIfNeeded();
        EXPECT_EQ(screen->title(), "Editor");
        settle();
        const std::string what = std::string(row.idiom) + (row.compact ? " compact" : "") + (row.preview ? " preview" : "");
        EXPECT_EQ(actions(screen->navigationItem()->leftBarButtonItems()),
                  std::vector<std::string>(row.left.begin(), row.left.end()))
            << what;
        EXPECT_EQ(actions(screen->navigationItem()->rightBarButtonItems()),
                  std::vector<std::string>(row.right.begin(), row.right.end()))
            << what;
    }
}

TEST_F(DocumentTest, TheSaveMarkShowsForThreeSecondsAndDoesNothingWhenClicked) {
    auto screen = ui::make<EditorWebViewController>();
    screen->loadViewIfNeeded();
    settle();
    screen->show_save_feedback();
    settle();
    ASSERT_EQ(screen->save_bar_button->image().symbolName(), "checkmark");
    EXPECT_EQ(screen->navigationItem()->leftBarButtonItems().front(), screen->save_bar_button);
    EXPECT_TRUE(screen->save_bar_button->trigger());  // its action is a no-op
    EXPECT_EQ(screen->save_bar_button->image().symbolName(), "checkmark");
    EXPECT_TRUE(waitFor([&] { return screen->save_bar_button->systemItem() == ui::BarButtonSystemItem::save; }, 6000));
    settle();
    EXPECT_EQ(screen->navigationItem()->leftBarButtonItems().front(), screen->save_bar_button);
    EXPECT_EQ(screen->save_bar_button->action(), "save_editor");
}

TEST_F(DocumentTest, WithoutTheWindowsManagerPreviewShowsAnErrorAndTheOtherButtonsDoNothing) {
    auto screen = ui::make<EditorWebViewController>();
    screen->view()->resize(600, 400);
    screen->view()->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(screen->view()));
    screen->toggle_preview_btn_pressed();
    screen->close_editor();
    screen->save_editor();
    settle();
    EXPECT_EQ(screen->presentedViewController(), nullptr);
    EXPECT_EQ(screen->save_bar_button->systemItem(), ui::BarButtonSystemItem::save) << "no save, no mark";
    screen->preview_trigger();
    ASSERT_TRUE(waitFor([&] { return screen->presentedViewController() != nullptr; }, 5000));
    auto* alert = dynamic_cast<ui::AlertController*>(screen->presentedViewController());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->alertTitle(), "An Error Occurred");
    EXPECT_EQ(alert->message(), "We cannot find the connected document manager");
    alert->performAction(0);
    waitFor([&] { return screen->presentedViewController() == nullptr; }, 3000);
    screen->view()->hide();
}

TEST_F(DocumentTest, TheEmptyStateCoversTheEditorUntilAFileOpens) {
    auto nav = ui::make<ui::NavigationController>(ui::make<EditorWebViewController>());
    auto* screen = static_cast<EditorWebViewController*>(nav->topViewController());
    nav->view()->resize(700, 450);
    nav->view()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(nav->view()));
    screen->setup_editor_web_view();
    screen->setup_editor_web_view();  // once only
    EXPECT_TRUE(screen->loaded);
    EXPECT_FALSE(screen->jsc) << "no window, no connector";
    ASSERT_TRUE(screen->empty_view && screen->empty_label);
    EXPECT_EQ(screen->empty_label->text(), "Please open a document from\nthe server to begin editing");
    EXPECT_GT(ui::alpha(screen->empty_view), 0.99);
    EXPECT_LT(ui::alpha(screen->editorWebView()), 0.01);
    EXPECT_EQ(screen->editorWebView()->parentWidget(), screen->view());
    QTest::qWait(600);  // the empty state's fade
    const QImage shot = grab(nav->view());
    EXPECT_TRUE(shot.save(QString::fromStdString((screenshotDir() / "editor_empty_state.png").string())));
    EXPECT_GE(pictures::colours(pictures::partOf(shot, nav->view(), screen->empty_label)), 3) << "the words are drawn";
    // Without a connector, opening a file does nothing.
    screen->open_file_content(std::make_shared<VornServerFileContentModel>());
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    EXPECT_GT(ui::alpha(screen->empty_view), 0.99);
    nav->view()->hide();
}

// While the file is on its way the window names it as loading, not as a window with nothing to
// edit; the relay holds the download's command until the test has looked.
TEST_F(DocumentTest, AWindowWhoseFileIsLoadingSaysSo) {
    opstest::Peer real = peer("pyftpd");
    if (!real.skipReason.empty()) GTEST_SKIP() << real.skipReason;
    relaytest::HoldingRelay relay(real.port, {"RETR "});
    if (auto why = connectPeer("pyftpd", relay.port())) GTEST_SKIP() << *why;
    const std::string text = std::string(200000, 'x') + "\n";
    putFile("big notes.txt", text);
    DocumentSceneDelegate* doc = openFromBrowser("big notes.txt");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitFor([&] { return relay.holding(); }, 30000)) << "the file was never asked for";
    auto* m = managerOf(doc);
    ASSERT_TRUE(m && m->ext_editor_vc);
    EditorWebViewController* screen = m->ext_editor_vc.get();
    ASSERT_TRUE(screen->empty_label);
    EXPECT_EQ(screen->empty_label->text(), "Loading big notes.txt\nfrom the server...");
    EXPECT_TRUE(screen->empty_label->isVisible());
    relay.release();
    ASSERT_TRUE(waitForPageText(doc, text));
    EXPECT_TRUE(waitFor([&] { return !screen->empty_view->isVisible(); }, 5000));
}

// ---- the main screen's commands -------------------------------------------------------------------

TEST_F(DocumentTest, ServerCommandsAreValidatedAgainstTheFileViewersConnection) {
    auto main = ui::make<MainViewController>();
    ui::Command disconnect{QStringLiteral("sm_disconnect_service"), {}, {}, nullptr};
    auto connectTo = [](std::optional<QVariant> list) {
        return ui::Command{QStringLiteral("sm_connect_service:"), list.value_or(QVariant()), {}, nullptr};
    };
    // Without a file viewer the connect command is left as it is.
    EXPECT_FALSE(main->validate_service_command(connectTo(QVariantMap{{"ConnectionID", "a"}})).handled);
    EXPECT_EQ(main->validate_service_command(disconnect).attributes, 5);

    main->scene_file_delegatex = window;
    window->my_session_info->connected = false;
    window->my_session_info->service_id = "abc";
    EXPECT_EQ(main->validate_service_command(disconnect).attributes, 5) << "disabled and hidden while not connected";
    window->my_session_info->connected = true;
    EXPECT_EQ(main->validate_service_command(disconnect).attributes, 0);

    struct Row {
        const char* what;
        QVariant list;
        bool on;
    };
    const Row rows[] = {
        {"the connected server", QVariantMap{{"ConnectionID", "abc"}}, true},
        {"another server", QVariantMap{{"ConnectionID", "zzz"}}, false},
        {"no ConnectionID", QVariantMap{{"Other", "abc"}}, false},
        {"a value that is not text", QVariantMap{{"ConnectionID", "abc"}, {"n", 1}}, false},
        {"no property list", QVariant(), false},
    };
    for (const Row& row : rows) {
        const auto v = main->validate_service_command(connectTo(row.list));
        EXPECT_TRUE(v.handled) << row.what;
        EXPECT_EQ(v.state_on, row.on) << row.what;
    }
    window->my_session_info->service_id.reset();
    EXPECT_EQ(main->validate_service_command(connectTo(QVariantMap{{"ConnectionID", "abc"}})).state_on, false);
    EXPECT_FALSE(main->validate_service_command(ui::Command{QStringLiteral("fim_find"), {}, {}, nullptr}).handled);
}

// The menu system reaches the screen's validation: a menu of server commands shown in a window
// whose screen is the main screen hides Disconnect while not connected and marks the server
// that is connected.
TEST_F(DocumentTest, TheMenuValidatesServerCommandsOnTheMainScreen) {
    auto main = ui::make<MainViewController>();
    main->scene_file_delegatex = window;
    window->my_session_info->service_id = "abc";
    QMainWindow host;
    host.setCentralWidget(main->view());
    auto command = [](const char* title, const char* action, QVariant list = {}) {
        ui::KeyCommand c;
        c.title = QString::fromLatin1(title);
        c.action = QString::fromLatin1(action);
        c.propertyList = std::move(list);
        return c;
    };
    auto root = ui::Menu::make({}, "root", 0,
                               {ui::Menu::make("Servers", "servers", 0,
                                               {command("Disconnect", "sm_disconnect_service"),
                                                command("abc", "sm_connect_service:", QVariantMap{{"ConnectionID", "abc"}}),
                                                command("zzz", "sm_connect_service:", QVariantMap{{"ConnectionID", "zzz"}})})});
    ui::MenuRenderer::render(*root, host.menuBar(), &host);
    host.show();
    main->view()->setFocus();
    struct Row {
        bool connected;
    };
    for (const Row row : {Row{false}, Row{true}}) {
        SCOPED_TRACE(row.connected);
        window->my_session_info->connected = row.connected;
        QMenu* menu = host.menuBar()->actions().first()->menu();
        emit menu->aboutToShow();
        QAction* disconnect = ui::MenuRenderer::findAction(host.menuBar(), {"Servers", "Disconnect"});
        ASSERT_TRUE(disconnect);
        EXPECT_EQ(disconnect->isVisible(), row.connected);
        EXPECT_EQ(disconnect->isEnabled(), row.connected);
        EXPECT_TRUE(ui::MenuRenderer::findAction(host.menuBar(), {"Servers", "abc"})->isChecked());
        EXPECT_FALSE(ui::MenuRenderer::findAction(host.menuBar(), {"Servers", "zzz"})->isChecked());
    }
    host.takeCentralWidget()->setParent(nullptr);
}

}  // namespace

namespace {

TEST_F(DocumentIdioms, TheSingleWindowRouteBuildsACompactEditorForTheExplorer) {
    IdiomScope idiom("phone");
    set_compact_document_interface_maker(nullptr);
    EXPECT_FALSE(make_compact_document_interface());
    install_compact_document_route();
    auto route = make_compact_document_interface();
    ASSERT_TRUE(route);
    window->my_session_info->service_id = "svc-phone";
    route->full_screen_iphone = true;
    route->my_current_editor_info.service_session_id = "svc-phone";
    route->my_current_editor_info.file_bucket_id = file_bucket_id_for_path("/m.html");
    route->my_current_editor_info.preview_supported = true;
    route->setup_document_controllers();
    auto compact = route->ext_compact_editor_vc();
    ASSERT_TRUE(compact);
    auto* manager = static_cast<CompactDocumentRoute*>(route.get())->manager.get();
    EXPECT_TRUE(manager->full_screen_iphone);
    EXPECT_EQ(manager->file_server_delegatex.data(), window);
    EXPECT_FALSE(manager->ext_editor_vc);
    EXPECT_EQ(compact->compact_view_controller().get(), manager->ext_compact_editor_vc.get());
    EXPECT_TRUE(manager->ext_compact_editor_vc->loaded);
    set_compact_document_interface_maker(nullptr);
}

}  // namespace
