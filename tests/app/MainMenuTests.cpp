// The desktop main menu as the user sees it in the app's own windows: the menu bar the
// application delegate builds for a document window and a file-viewer window, its entries chosen
// as a click would (the QAction is triggered), reaching the document's save and close, the
// page's search, the file browser's New File and New Folder, a new file-viewer window, and the
// editor preferences, which are written to disk before the page follows.
#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QSet>
#include <algorithm>
#include <atomic>
#include <functional>
#include <fstream>

#include "DocumentTestSupport.h"
#include "MainMenuSupport.h"
#include "app/AppDelegate.h"
#include "platform/ui/Menu.h"
#include "support/MainQueueSettle.h"
#include "tandrel/foundation/VornEditorPreferencesManager.h"
#include "tandrel/foundation/VornServicesManager.h"
#include "tandrel/scenes/SiteSearchWindow.h"
#include "tandrel/scenes/VornMainMenuController.h"
#include "tandrel/editor/EditorWebViewController.h"
#include "tandrel/editor/MainViewController.h"
#include "tandrel/editor/VornEditorWKWebView.h"
#include "tandrel/foundation/VornFileServerViewController.h"
#include "tandrel/servers/FileViewerScene.h"

using namespace documenttest;
using namespace menutest;

namespace {

class MainMenuOnPeers : public MainMenu, public ::testing::WithParamInterface<std::string> {};
std::string peerName(const ::testing::TestParamInfo<std::string>& info) { return info.param; }

TEST_F(MainMenu, TheBuilderGetsTheMenusWithTheirIdentifiersAndFormatAndNewSceneGo) {
    ui::MenuBuilder builder(ui::MenuSystem::main, nullptr);
    appDelegate.buildMenu(builder);
    ASSERT_TRUE(appDelegate.menuController);
    for (const char* id : {"file_sec2_items", "DravixFTPClient.newMenu", "DravixFTPClient.findMenu",
                           "DravixFTPClient.findMenuItems_group_1", "DravixFTPClient.editorMenu",
                           "DravixFTPClient.editorMenuItems_id_group_1", "DravixFTPClient.editorSoftWrapMenuID",
                           "DravixFTPClient.editor_soft_wrap_items", "DravixFTPClient.editorThemeMenuItems",
                           "DravixFTPClient.editorLightThemeMenu", "DravixFTPClient.editorDarkThemeMenu"}) {
        EXPECT_TRUE(builder.menuForIdentifier(id)) << id;
    }
    EXPECT_FALSE(builder.menuForIdentifier(ui::MenuIdentifier::format));
    EXPECT_FALSE(builder.menuForIdentifier(ui::MenuIdentifier::newScene));
    EXPECT_EQ(builder.menuForIdentifier("DravixFTPClient.newMenu")->options, ui::MenuOptions::destructive);
    QStringList top;
    for (const auto& e : builder.mainMenu()->children) top << std::get<ui::MenuPtr>(e)->identifier;
    EXPECT_EQ(top, (QStringList{ui::MenuIdentifier::file, ui::MenuIdentifier::edit, ui::MenuIdentifier::view,
                                "DravixFTPClient.findMenu", "DravixFTPClient.editorMenu", ui::MenuIdentifier::window,
                                ui::MenuIdentifier::help}));
}

// Every command of the app's main menu names a method some responder of the app has: a typo in a
// selector would leave its entry disabled for ever.
TEST(MainMenuSelectors, EveryCommandReachesAMethodOfAResponder) {
    ui::MenuBuilder builder(ui::MenuSystem::main, nullptr);
    VornMainMenuController controller(builder);
    const QList<const QMetaObject*> responders{
        &EditorWebViewController::staticMetaObject, &MainViewController::staticMetaObject,
        &VornEditorWKWebView::staticMetaObject,     &VornFileServerViewController::staticMetaObject,
        &AppDelegate::staticMetaObject,             &ui::Application::staticMetaObject,
        &QLineEdit::staticMetaObject,               &FileViewerSceneDelegate::staticMetaObject,
        &DocumentSceneDelegate::staticMetaObject};
    int commands = 0;
    std::function<void(const ui::MenuPtr&)> walk = [&](const ui::MenuPtr& menu) {
        for (const ui::MenuElement& element : menu->children) {
            if (const auto* sub = std::get_if<ui::MenuPtr>(&element)) {
                walk(*sub);
                continue;
            }
            const QString action = std::get<ui::KeyCommand>(element).action;
            ++commands;
            const bool answered = std::any_of(responders.begin(), responders.end(), [&](const QMetaObject* meta) {
                return ui::classImplementsAction(meta, action);
            });
            EXPECT_TRUE(answered) << action.toStdString() << " in " << menu->identifier.toStdString();
        }
    };
    walk(builder.mainMenu());
    EXPECT_GT(commands, 20);
}

TEST_F(MainMenu, TheDocumentWindowsMenuBarHasTheFileFindAndEditorMenusInOrder) {
    CONNECT_OR_SKIP("pyftpd");
    DocumentSceneDelegate* doc = openChanged("a.txt", "text\n", "");
    ASSERT_TRUE(doc);
    QMenuBar* bar = barOf(doc);
    ASSERT_TRUE(bar);
    EXPECT_EQ(titles(bar->actions()), (QStringList{"File", "Edit", "Find", "Editor"}))
        << "Format is gone; menus without entries are not shown";
    EXPECT_EQ(titles(entry(doc, {"File"})->menu()->actions()),
              (QStringList{"New", "-", "Save File", "Close File", "Reopen with Encoding", "Save with Encoding", "History\u2026", "-", "Quit"}));
    EXPECT_EQ(titles(entry(doc, {"File", "New"})->menu()->actions()), (QStringList{"Window", "File", "Folder"}));
    struct Key {
        QStringList path;
        QKeySequence keys;
    };
    for (const auto& k : {Key{{"File", "New", "Window"}, QKeySequence("Ctrl+Shift+T")},
                          Key{{"File", "New", "File"}, QKeySequence("Ctrl+N")},
                          Key{{"File", "New", "Folder"}, QKeySequence("Ctrl+Shift+N")},
                          Key{{"File", "Save File"}, QKeySequence("Ctrl+S")}, Key{{"File", "Close File"}, QKeySequence()},
                          Key{{"File", "Quit"}, QKeySequence("Ctrl+Q")}, Key{{"Find", "Find..."}, QKeySequence()},
                          Key{{"Find", "Find in Site\u2026"}, QKeySequence("Ctrl+Shift+F")}}) {
        ASSERT_TRUE(entry(doc, k.path)) << k.path.join(" > ").toStdString();
        EXPECT_EQ(entry(doc, k.path)->shortcut(), k.keys) << k.path.join(" > ").toStdString();
    }
    EXPECT_EQ(titles(entry(doc, {"Find"})->menu()->actions()),
              (QStringList{"Find...", "Find and Replace...", "Find in Site\u2026"}));
    // The toggles read the stored settings (invisibles are off by default).
    EXPECT_EQ(titles(entry(doc, {"Editor"})->menu()->actions()),
              (QStringList{"Disable Gutter", "Disable Auto Suggest", "Enable Invisibles", "Beautify Code", "-",
                           "Soft Wrap", "Set Theme"}));
    EXPECT_EQ(titles(entry(doc, {"Editor", "Soft Wrap"})->menu()->actions()),
              (QStringList{"Off", "View", "Print Margin", "Set Custom"}));
    const QStringList themes = titles(entry(doc, {"Editor", "Set Theme"})->menu()->actions());
    ASSERT_EQ(themes.size(), 1 + 15 + 1 + 1 + 24);
    EXPECT_EQ(themes.first(), "- Light Themes");
    EXPECT_EQ(themes[1], "Chrome");
    EXPECT_EQ(themes[15], "SQL Server");
    EXPECT_EQ(themes[16], "-");
    EXPECT_EQ(themes[17], "- Dark Themes");
    EXPECT_EQ(themes[18], "Ambiance");
    EXPECT_EQ(themes.last(), "Vibrant InK");
    aboutToShow(doc, {"Editor", "Set Theme"});
    EXPECT_FALSE(entry(doc, {"Editor", "Set Theme", "- Light Themes"})->isEnabled());
    EXPECT_FALSE(entry(doc, {"Editor", "Set Theme", "- Dark Themes"})->isEnabled());
}

TEST_P(MainMenuOnPeers, SaveFileWritesTheChangedFileToTheServer) {
    CONNECT_OR_SKIP(GetParam());
    DocumentSceneDelegate* doc = openChanged("save.html", "<p>one</p>\n", "<!-- menu -->");
    ASSERT_TRUE(doc);
    QAction* save = entry(doc, {"File", "Save File"});
    ASSERT_TRUE(save);
    EXPECT_EQ(save->shortcut(), QKeySequence("Ctrl+S"));
    ASSERT_TRUE(chooseEntry(doc, {"File", "Save File"})) << "Save File is disabled in a document window";
    ASSERT_TRUE(waitFor([&] { return diskText("save.html") == "<!-- menu --><p>one</p>\n"; }, 30000))
        << diskText("save.html");
    EXPECT_EQ(curlRead("save.html"), "<!-- menu --><p>one</p>\n");
}

INSTANTIATE_TEST_SUITE_P(Peers, MainMenuOnPeers, ::testing::Values("pyftpd", "apache"), peerName);

TEST_F(MainMenu, CloseFileAsksAboutUnsavedChangesAndCancelKeepsTheWindow) {
    CONNECT_OR_SKIP("pyftpd");
    DocumentSceneDelegate* doc = openChanged("close.txt", "x\n", "changed ");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(chooseEntry(doc, {"File", "Close File"}));
    ui::AlertController* alert = awaitAlert(doc);
    ASSERT_TRUE(alert) << "no Unsaved Changes alert";
    EXPECT_EQ(alert->alertTitle(), QStringLiteral("Unsaved Changes"));
    ASSERT_TRUE(choose(doc, "Cancel"));
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    EXPECT_TRUE(isOpen(doc));
    EXPECT_EQ(diskText("close.txt"), "x\n");
}

TEST_F(MainMenu, QuitAsksAboutEachChangedFileAndCancelKeepsTheAppRunning) {
    CONNECT_OR_SKIP("pyftpd");
    // Without documents the delegate lets the quit go at once.
    std::optional<bool> answer;
    appDelegate.applicationShouldTerminate([&answer](bool ok) { answer = ok; });
    EXPECT_EQ(answer, true);

    DocumentSceneDelegate* doc = openChanged("quit.txt", "q\n", "changed ");
    ASSERT_TRUE(doc);
    bool quitting = false;
    QObject guard;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &guard, [&quitting] { quitting = true; });
    ASSERT_TRUE(chooseEntry(doc, {"File", "Quit"}));
    ASSERT_TRUE(awaitAlert(doc)) << "Quit did not ask about the changed file";
    EXPECT_EQ(alertOf(doc)->alertTitle(), QStringLiteral("Unsaved Changes"));
    ASSERT_TRUE(choose(doc, "Cancel"));
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    EXPECT_FALSE(quitting);
    EXPECT_TRUE(isOpen(doc));

    // "Discard" lets the quit go on (asked of the delegate, so the test's own loop stays).
    answer.reset();
    appDelegate.applicationShouldTerminate([&answer](bool ok) { answer = ok; });
    ASSERT_TRUE(awaitAlert(doc));
    ASSERT_TRUE(choose(doc, "Discard"));
    EXPECT_TRUE(waitFor([&] { return answer.has_value(); }, 10000));
    EXPECT_EQ(answer, true);
    EXPECT_EQ(diskText("quit.txt"), "q\n");
}

TEST_F(MainMenu, FindAndFindAndReplaceOpenThePagesSearch) {
    CONNECT_OR_SKIP("pyftpd");
    DocumentSceneDelegate* doc = openChanged("find.txt", "needle\n", "");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(chooseEntry(doc, {"Find", "Find..."}));
    EXPECT_TRUE(waitFor([&] { return pageQuiet(doc, "!!(editor.searchBox && editor.searchBox.active)") == true; }, 10000));
    EXPECT_EQ(pageQuiet(doc, "!!editor.searchBox.replaceOption.checked"), false);
    ASSERT_TRUE(chooseEntry(doc, {"Find", "Find and Replace..."}));
    EXPECT_TRUE(waitFor([&] { return pageQuiet(doc, "!!(editor.searchBox && editor.searchBox.active && "
                                                    "editor.searchBox.replaceOption.checked)") == true; },
                        10000));
}

// "Find in Site…" opens the site search of the server, from its server window and from a document
// window of it alike: one window per server window.
TEST_F(MainMenu, FindInSiteOpensTheServersSiteSearchFromEitherWindow) {
    CONNECT_OR_SKIP("pyftpd");
    aboutToShow(window, {"Find"});
    ASSERT_TRUE(entry(window, {"Find", "Find in Site\u2026"})->isEnabled());
    ASSERT_TRUE(chooseEntry(window, {"Find", "Find in Site\u2026"}));
    SiteSearchWindow* search = nullptr;
    ASSERT_TRUE(waitFor([&] { return (search = SiteSearchWindow::window_for(window)) != nullptr; }, 10000));
    EXPECT_EQ(search->windowTitle(), QString::fromStdString("Find in Site \u2014 " + server_->nickname));
    DocumentSceneDelegate* doc = openChanged("site.txt", "needle\n", "");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(chooseEntry(doc, {"Find", "Find in Site\u2026"}));
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    EXPECT_EQ(SiteSearchWindow::window_for(window), search);
    search->close();
}

TEST_F(MainMenu, NewFileAndNewFolderInAFileViewerWindowCreateThemOnTheServer) {
    CONNECT_OR_SKIP("pyftpd");
    struct Row {
        const char* entry;
        const char* name;
    };
    for (const Row& row : {Row{"File", "made.txt"}, Row{"Folder", "made-folder"}}) {
        SCOPED_TRACE(row.entry);
        aboutToShow(window, {"File", "New"});
        ASSERT_TRUE(entry(window, {"File", "New", row.entry})->isEnabled());
        ASSERT_TRUE(chooseEntry(window, {"File", "New", row.entry}));
        ui::AlertController* alert = opstest::OpsTest::awaitAlert();
        ASSERT_TRUE(alert);
        ASSERT_FALSE(alert->textFields().isEmpty());
        alert->textFields().first()->setText(row.name);
        ASSERT_TRUE(alert->performAction(0));
        EXPECT_TRUE(waitFor([&] { return fs::exists(disk(row.name)); }, 20000)) << row.name;
    }
    EXPECT_TRUE(fs::is_regular_file(disk("made.txt")));
    EXPECT_TRUE(fs::is_directory(disk("made-folder")));
    // A file viewer has no document to save, find in, or edit.
    aboutToShow(window, {"File"});
    EXPECT_FALSE(entry(window, {"File", "Save File"})->isEnabled());
    EXPECT_FALSE(entry(window, {"File", "Close File"})->isEnabled());
}

// Alt+letter on the bar and the letter inside an open menu: no two of one list are the same, and
// every top menu and every entry of a top menu has one.
TEST_F(MainMenu, TopMenusAndTheirEntriesHaveMnemonicsThatDoNotClash) {
    QMenuBar* bar = barOf(window);
    ASSERT_TRUE(bar);
    std::function<void(const QList<QAction*>&, const QString&, bool)> check = [&](const QList<QAction*>& list,
                                                                                 const QString& where, bool all) {
        QSet<int> seen;
        for (QAction* a : list) {
            if (a->isSeparator() || !a->isVisible()) continue;
            const QKeySequence m = QKeySequence::mnemonic(a->text());
            if (all) EXPECT_FALSE(m.isEmpty()) << where.toStdString() << " > " << a->text().toStdString();
            if (!m.isEmpty()) {
                EXPECT_FALSE(seen.contains(m[0].toCombined())) << where.toStdString() << " > " << a->text().toStdString();
                seen.insert(m[0].toCombined());
            }
            if (a->menu()) check(a->menu()->actions(), where + " > " + ui::MenuRenderer::titleOf(a), false);
        }
    };
    check(bar->actions(), "bar", true);
    for (QAction* top : bar->actions()) {
        if (top->menu()) check(top->menu()->actions(), ui::MenuRenderer::titleOf(top), true);
    }
    EXPECT_EQ(titles(bar->actions()), (QStringList{"File", "Edit", "Find", "Editor"}));
}

TEST_F(MainMenu, NewWindowOpensAnotherFileViewerWindow) {
    const int before = static_cast<int>(SceneManager::file_viewer_scenes().size());
    ASSERT_TRUE(entry(window, {"File", "New", "Window"}));
    EXPECT_EQ(entry(window, {"File", "New", "Window"})->shortcut(), QKeySequence("Ctrl+Shift+T"));
    ASSERT_TRUE(chooseEntry(window, {"File", "New", "Window"}));
    ASSERT_TRUE(waitFor([&] { return static_cast<int>(SceneManager::file_viewer_scenes().size()) == before + 1; }, 10000));
    ASSERT_TRUE(chooseEntry(window, {"File", "New", "Window"}));
    EXPECT_TRUE(waitFor([&] { return static_cast<int>(SceneManager::file_viewer_scenes().size()) == before + 2; }, 10000));
}

TEST_F(MainMenu, EachEditorToggleIsWrittenToDiskThenReachesThePageAndTheNextMenuShowsIt) {
    CONNECT_OR_SKIP("pyftpd");
    DocumentSceneDelegate* doc = openChanged("prefs.js", "var a = 1;\n", "");
    ASSERT_TRUE(doc);
    focusEditor(doc);
    struct Row {
        const char* disable;
        const char* enable;
        const char* key;
        const char* page;
    };
    const Row rows[] = {
        {"Disable Gutter", "Enable Gutter", "gutter_visible", "editor.renderer.getShowGutter()"},
        {"Disable Invisibles", "Enable Invisibles", "invisibles_visible", "editor.renderer.getShowInvisibles()"},
        {"Disable Auto Suggest", "Enable Auto Suggest", "auto_suggest_enabled",
         "editor.getOption('enableLiveAutocompletion')"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        // Every toggle starts on (the record's defaults), as the page does once it has them.
        app_editor_preferences_manager().theModel->invisibles_visible = true;
        aboutToShow(doc, {"Editor"});
        QAction* on = entry(doc, {"Editor", row.disable});
        ASSERT_TRUE(on);
        EXPECT_TRUE(on->isEnabled());
        EXPECT_TRUE(on->isChecked());
        on->trigger();
        EXPECT_TRUE(waitFor([&] { return prefsOnDisk().value(row.key, true) == false; }, 10000));
        EXPECT_TRUE(waitFor([&] { return pageQuiet(doc, row.page) == false; }, 10000));
        aboutToShow(doc, {"Editor"});
        QAction* off = entry(doc, {"Editor", row.enable});
        ASSERT_TRUE(off) << "the next display shows the enabling title";
        EXPECT_FALSE(off->isChecked());
        off->trigger();
        EXPECT_TRUE(waitFor([&] { return prefsOnDisk().value(row.key, false) == true; }, 10000));
        EXPECT_TRUE(waitFor([&] { return pageQuiet(doc, row.page) == true; }, 10000));
    }
}

TEST_F(MainMenu, WithoutAnEditorTheEditorTogglesReadTheStoredSettingsAndStayDisabled) {
    // Only the server window, as right after launch.
    auto& model = *app_editor_preferences_manager().theModel;
    struct Row {
        bool gutter, invisibles, suggest;
        QStringList titles;
    };
    for (const Row& row : {Row{true, false, true, {"Disable Gutter", "Disable Auto Suggest", "Enable Invisibles"}},
                           Row{false, true, false, {"Enable Gutter", "Enable Auto Suggest", "Disable Invisibles"}}}) {
        model.gutter_visible = row.gutter;
        model.invisibles_visible = row.invisibles;
        model.auto_suggest_enabled = row.suggest;
        aboutToShow(window, {"Editor"});
        const bool on[] = {row.gutter, row.suggest, row.invisibles};
        for (int i = 0; i < 3; ++i) {
            QAction* a = entry(window, {"Editor", row.titles[i]});
            ASSERT_TRUE(a) << row.titles[i].toStdString();
            EXPECT_FALSE(a->isEnabled()) << row.titles[i].toStdString();
            EXPECT_EQ(a->isChecked(), on[i]) << row.titles[i].toStdString();
        }
    }
}

TEST_F(MainMenu, UndoRedoCutAndSelectAllReachTheFocusedEditorPage) {
    CONNECT_OR_SKIP("pyftpd");
    DocumentSceneDelegate* doc = openChanged("edit.txt", "abc\n", "");
    ASSERT_TRUE(doc);
    focusEditor(doc);
    type(doc, "X");
    ASSERT_EQ(pageText(doc), "Xabc\n");

    ASSERT_TRUE(chooseEntry(doc, {"Edit", "Undo"})) << "Undo is disabled while the editor has the focus";
    EXPECT_TRUE(waitFor([&] { return pageText(doc) == "abc\n"; }, 5000));
    ASSERT_TRUE(chooseEntry(doc, {"Edit", "Redo"}));
    EXPECT_TRUE(waitFor([&] { return pageText(doc) == "Xabc\n"; }, 5000));
    ASSERT_TRUE(chooseEntry(doc, {"Edit", "Select All"}));
    EXPECT_TRUE(waitFor([&] { return pageQuiet(doc, "editor.getSelectedText()") == "Xabc\n"; }, 5000));
    VornEditorWKWebView::general_pasteboard()->clear();
    ASSERT_TRUE(chooseEntry(doc, {"Edit", "Cut"}));
    EXPECT_TRUE(waitFor([&] { return pageText(doc) == ""; }, 5000));
    EXPECT_TRUE(waitFor([&] { return VornEditorWKWebView::general_pasteboard()->text() == "Xabc\n"; }, 5000));
}

TEST_F(MainMenu, AThemeChoiceReachesThePageAndSurvivesARelaunch) {
    CONNECT_OR_SKIP("pyftpd");
    DocumentSceneDelegate* doc = openChanged("theme.css", "a { }\n", "");
    ASSERT_TRUE(doc);
    focusEditor(doc);
    ASSERT_TRUE(chooseEntry(doc, {"Editor", "Set Theme", "Monokai"}));
    EXPECT_TRUE(waitFor([&] { return prefsOnDisk().value("theme_id", 0) == 28; }, 10000))
        << prefsOnDisk().dump();
    EXPECT_TRUE(waitFor([&] { return pageQuiet(doc, "editor.getTheme()") == "ace/theme/monokai"; }, 10000));

    // A relaunch reads the file again; a new document window's page gets the theme.
    app_editor_preferences_manager().theModel = std::make_shared<VornEditorPreferencesDataModel>();
    app_editor_preferences_manager().load_editor_preferences(prefsFile_);
    EXPECT_EQ(app_editor_preferences_manager().theModel->theme_id, EnumManager::ace_editor_theme::monokai);
    QPointer<DocumentSceneDelegate> first(doc);
    DocumentSceneDelegate* again = openChanged("theme2.css", "b { }\n", "");
    ASSERT_TRUE(again);
    EXPECT_TRUE(waitFor([&] { return pageQuiet(again, "editor.getTheme()") == "ace/theme/monokai"; }, 10000));
}

TEST_F(MainMenu, ACustomWrapWidthIsStoredSentAndShownAndAnythingButANumberChangesNothing) {
    CONNECT_OR_SKIP("pyftpd");
    DocumentSceneDelegate* doc = openChanged("wrap.txt", "long line\n", "");
    ASSERT_TRUE(doc);
    focusEditor(doc);
    auto* editorScreen = managerOf(doc)->ext_editor_vc.get();
    auto enterWidth = [&](const QString& text) {
        focusEditor(doc);
        ASSERT_TRUE(chooseEntry(doc, {"Editor", "Soft Wrap", entry(doc, {"Editor", "Soft Wrap", "Set Custom"})
                                                            ? "Set Custom"
                                                            : ui::MenuRenderer::titleOf(entry(doc, {"Editor", "Soft Wrap"})->menu()->actions().last())}));
        ASSERT_TRUE(waitFor([&] { return dynamic_cast<ui::AlertController*>(editorScreen->presentedViewController()); }, 10000));
        auto* alert = dynamic_cast<ui::AlertController*>(editorScreen->presentedViewController());
        EXPECT_EQ(alert->alertTitle(), QStringLiteral("Set Custom Wrap"));
        alert->textFields().first()->setText(text);
        alert->performAction(0);
        waitFor([&] { return editorScreen->presentedViewController() == nullptr; }, 5000);
    };
    const std::string before = prefsOnDisk().dump();
    for (const char* junk : {"abc", "", "99999999999", "8O"}) {
        SCOPED_TRACE(junk);
        enterWidth(junk);
        ASSERT_TRUE(testsupport::settleMainQueue(3));
        EXPECT_EQ(app_editor_preferences_manager().theModel->soft_wrap, EnumManager::soft_wrap::view_sw);
        EXPECT_EQ(prefsOnDisk().dump(), before);
    }

    enterWidth("80");
    EXPECT_TRUE(waitFor([&] { auto p = prefsOnDisk(); return p.value("soft_wrap_custom_value", 0) == 80 &&
                                                       p.value("soft_wrap", 0) == 4; },
                        10000))
        << prefsOnDisk().dump();
    EXPECT_TRUE(waitFor([&] { return pageQuiet(doc, "editor.getOption('wrap')") == 80; }, 10000))
        << pageQuiet(doc, "editor.getOption('wrap')").dump();
    ASSERT_TRUE(waitFor([&] { return entry(doc, {"Editor", "Soft Wrap", "Custom: 80"}) != nullptr; }, 10000))
        << "the rebuilt menu names the width";
    focusEditor(doc);
    aboutToShow(doc, {"Editor", "Soft Wrap"});
    EXPECT_TRUE(entry(doc, {"Editor", "Soft Wrap", "Custom: 80"})->isChecked());
    EXPECT_FALSE(entry(doc, {"Editor", "Soft Wrap", "View"})->isChecked());

    // Back to View: the custom entry reads "Set Custom" again.
    ASSERT_TRUE(chooseEntry(doc, {"Editor", "Soft Wrap", "View"}));
    EXPECT_TRUE(waitFor([&] { return entry(doc, {"Editor", "Soft Wrap", "Set Custom"}) != nullptr; }, 10000));
    focusEditor(doc);
    aboutToShow(doc, {"Editor", "Soft Wrap"});
    EXPECT_TRUE(entry(doc, {"Editor", "Soft Wrap", "View"})->isChecked());
    EXPECT_TRUE(waitFor([&] { return pageQuiet(doc, "editor.getOption('wrap')") == "free"; }, 10000))
        << pageQuiet(doc, "editor.getOption('wrap')").dump();
}

TEST_F(MainMenu, ASaveOfTheSavedServersRebuildsTheMenusOnce) {
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    const auto dir = fs::temp_directory_path() / keyringtest::unique("dravix-menu-services");
    fs::create_directories(dir);
    app_services_manager().url = dir / "app_services.json";
    const int windows = static_cast<int>(app().windows().size());
    const int before = app().mainMenuBuildCount();
    std::atomic<bool> saved{false};
    app_services_manager().save_services([&saved](bool ok) { saved = ok; });
    ASSERT_TRUE(waitFor([&] { return saved.load(); }, 10000));
    ASSERT_TRUE(waitFor([&] { return app().mainMenuBuildCount() >= before + windows; }, 10000));
    ASSERT_TRUE(testsupport::settleMainQueue(4));
    EXPECT_EQ(app().mainMenuBuildCount(), before + windows) << "one rebuild of every window's menu";
    app_services_manager().url.reset();
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace

namespace {

TEST(CustomWrapWidth, OnlyAWholeNumberThatFitsAnIntIsAWidth) {
    struct Row {
        const char* text;
        std::optional<int> width;
    };
    const Row rows[] = {{"80", 80},        {"+120", 120},           {"-1", -1},        {"0", 0},
                        {"", std::nullopt}, {"abc", std::nullopt},   {"8O", std::nullopt}, {" 80", std::nullopt},
                        {"80 ", std::nullopt}, {"+-5", std::nullopt}, {"+", std::nullopt},
                        {"99999999999", std::nullopt}, {"2147483647", 2147483647}, {"1.5", std::nullopt}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(EditorWebViewController::parse_wrap_width(row.text), row.width);
    }
}

}  // namespace
