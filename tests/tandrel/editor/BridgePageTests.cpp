// The editor connector against the real editor page and the local FTP server: opening a file
// creates or selects its session, preferences reach the page, saving writes the page's text, the
// stored undo count moves only on creation and after a successful write, and malformed replies
// upload nothing.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>

#include "support/ClipboardLock.h"
#include "support/MainQueueSettle.h"
#include "BridgeTestSupport.h"
#include "platform/web/WebProfile.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/scenes/SceneSession.h"
#include "platform/ui/scenes/Window.h"
#include "tandrel/scenes/DocumentScene.h"
#include "tandrel/foundation/VornEditorPreferencesDataModel.h"

using namespace bridgetest;
using filestest::makeDiskFolder;
using filestest::readDiskFile;
using filestest::writeDiskFile;

namespace {

using Theme = EnumManager::ace_editor_theme;
using Wrap = EnumManager::soft_wrap;

class EditorBridgePage : public BridgeTest {
protected:
    json reply() { return page("session_manager.get_current_session()"); }
    int64_t pageCount() { return reply()["undo_count"].get<int64_t>(); }
    // The page's reply, stored into the record as a refresh does.
    void refresh() {
        bool done = false;
        connector->update_file_session(reply(), std::nullopt, [&](std::optional<VornError>) { done = true; });
        ASSERT_TRUE(waitFor([&] { return done; }, 10000));
    }
    ui::AlertController* alert() { return dynamic_cast<ui::AlertController*>(hub->screen->presentedViewController()); }
};

TEST_F(EditorBridgePage, DocReadyCreatesThePageSessionAndItsRecord) {
    // The content model lets go of its text once the page holds it.
    const std::string text = content->contents;
    ASSERT_TRUE(loadEditor()) << "no doc_ready";
    EXPECT_FALSE(openResult) << openResult->text();
    EXPECT_EQ(hub->docReadyCalls, 1);

    auto r = record("/index.html");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->session_id, content->id);
    EXPECT_EQ(r->file_path, "/index.html");
    EXPECT_EQ(r->mime_type, "text/html");
    EXPECT_EQ(r->undo_count, 0);
    const json stored = json::parse(r->json);
    EXPECT_EQ(stored["value"], text);
    EXPECT_EQ(stored["file_path"], "/index.html");
    EXPECT_EQ(stored["session_id"], content->id);

    EXPECT_EQ(hub->info.file_bucket_id, content->id);
    EXPECT_EQ(hub->info.file_path, "/index.html");
    EXPECT_EQ(pageState()["value"], text);

    // The refresh that follows reopens the file in the editor screen with its title.
    ASSERT_TRUE(waitFor([&] { return !hub->screen->opened.empty(); }, 10000));
    EXPECT_EQ(hub->screen->opened.front(), content);
    EXPECT_EQ(hub->screen->titles.front(), "/index.html");

    // The record is in the server's sessions file.
    const fs::path file = *app_sessions_manager().url /
                          VornSessionsManager::folder_name_for_service_id(server_->id) / "session.json";
    ASSERT_TRUE(waitFor([&] { return fs::exists(file) && readDiskFile(file).find(content->id) != std::string::npos; }, 10000));
    EXPECT_TRUE(errors->errors.empty()) << errors->errors.front().text();
}

TEST_F(EditorBridgePage, PreferencesReachThePageWhenItLoadsAndWhenTheyChange) {
    auto& prefs = *app_editor_preferences_manager().theModel;
    const auto saved = prefs;
    prefs.theme_id = Theme::monokai;
    prefs.gutter_visible = false;
    prefs.invisibles_visible = true;
    prefs.auto_suggest_enabled = false;
    prefs.soft_wrap = Wrap::custom;
    prefs.soft_wrap_custom_value = 120;
    ASSERT_TRUE(loadEditor());
    EXPECT_GE(hub->preferenceCalls, 1);

    // The saved theme and invisibles come with the rest, so a new page never shows the defaults.
    ASSERT_TRUE(waitFor([&] { return page("editor.getTheme()") == "ace/theme/monokai"; }, 10000));
    EXPECT_EQ(page("editor.renderer.getShowGutter()"), false);
    EXPECT_EQ(page("editor.getShowInvisibles()"), true);
    EXPECT_EQ(page("editor.getOption('enableBasicAutocompletion')"), false);
    EXPECT_EQ(page("editor.getOption('enableLiveAutocompletion')"), false);
    EXPECT_EQ(page("editor.session.getUseWrapMode()"), true);
    EXPECT_EQ(page("editor.session.getWrapLimitRange().max"), 120);

    // Changes, one at a time, as the editor menu sends them.
    struct Row {
        std::function<void()> change;
        const char* probe;
        json expected;
    };
    const std::vector<Row> rows{
        {[&] { connector->set_show_gutter(true); }, "editor.renderer.getShowGutter()", true},
        {[&] { connector->set_show_invisibles(false); }, "editor.getShowInvisibles()", false},
        {[&] { connector->run_editor_js(editor_script::set_theme(Theme::twilight)); }, "editor.getTheme()",
         "ace/theme/twilight"},
        {[&] { connector->run_editor_js(editor_script::set_autocompletion(true)); },
         "editor.getOption('enableLiveAutocompletion')", true},
        {[&] { connector->run_editor_js(editor_script::set_soft_wrap("off")); }, "editor.session.getUseWrapMode()",
         false},
        {[&] { connector->run_editor_js(editor_script::set_soft_wrap("-1")); },
         "editor.session.getOption('wrap')", "printMargin"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.probe);
        row.change();
        EXPECT_TRUE(waitFor([&] { return page(row.probe) == row.expected; }, 10000)) << page(row.probe).dump();
    }

    // A later request of the page applies the stored model again.
    prefs.gutter_visible = false;
    connector->handle_script_message({"msg", {{"requestPreferences", json::object()}}});
    EXPECT_TRUE(waitFor([&] { return page("editor.renderer.getShowGutter()") == false; }, 10000));
    EXPECT_TRUE(waitFor([&] { return page("editor.getTheme()") == "ace/theme/monokai"; }, 10000));
    prefs = saved;
}

TEST_F(EditorBridgePage, ATrickyTextReachesThePageAsItsBytesByteForByteAndTheAppLetsGoOfItsCopy) {
    using namespace std::string_literals;
    // Quotes, backslashes, an inline script's end, the two script line separators, NUL, every kind
    // of line break (mixed), a character beyond the basic plane, and a byte order mark first.
    const std::string text = "\xEF\xBB\xBF<p title='it\\'s' data-q=\"q\">back\\slash</p>\r\n"
                             "</script><script>alert(1)</script>\n\xE2\x80\xA8|\xE2\x80\xA9|\0|\r|"
                             "\xF0\x9F\x98\x80 caf\xC3\xA9\n"s;
    content = fileContent("/tricky.html", text);
    const auto served = web::documents::served();
    ASSERT_TRUE(loadEditor());
    ASSERT_FALSE(openResult) << openResult->text();

    // The page read the text's bytes from its offer (not Base64 inside the script) and holds it
    // exactly; so does the record.
    EXPECT_GE(web::documents::served(), served + 1);
    EXPECT_EQ(pageState()["value"].get<std::string>(), text);
    ASSERT_TRUE(waitFor([&] { return record("/tricky.html") && !record("/tricky.html")->json.empty(); }, 10000));
    EXPECT_EQ(json::parse(record("/tricky.html")->json)["value"].get<std::string>(), text);
    // The app keeps no download of a text the page holds.
    EXPECT_TRUE(content->contents.empty());
    EXPECT_TRUE(waitFor([] { return web::documents::count() == 0; }, 10000)) << "an offer outlived its script";

    // Selected again from its stored state, the text still arrives whole.
    connector->select_page_session(record("/tricky.html")->json);
    EXPECT_TRUE(waitFor([&] { return pageState()["value"] == text; }, 10000));
    EXPECT_TRUE(errors->errors.empty()) << errors->errors.front().text();
}

TEST_F(EditorBridgePage, SavingWritesThePagesTextAndOnlyASuccessfulWriteMovesTheStoredCount) {
    CONNECT_OR_SKIP();
    const std::string text = "<p>it's \"quoted\" \\ back\\slash caf\xc3\xa9 \xe2\x9c\x93</p>\r\nline two\r\n";
    writeDiskFile(disk("index.html"), text);
    content = fileContent("/index.html", text);
    ASSERT_TRUE(loadEditor());

    // Unchanged, the page hands back the text byte for byte.
    auto saved = save();
    EXPECT_TRUE(saved.written) << (saved.error ? saved.error->text() : "");
    EXPECT_EQ(readDiskFile(disk("index.html")), text);

    page("editor.navigateFileStart()");
    type("X");
    type("\xf0\x9f\x98\x80");
    const int64_t count = pageCount();
    ASSERT_GE(count, 2);
    refresh();
    EXPECT_EQ(record("/index.html")->undo_count, 0) << "a refresh must not make the file look saved";

    saved = save();
    ASSERT_TRUE(saved.written) << (saved.error ? saved.error->text() : "");
    const std::string value = pageState()["value"].get<std::string>();
    EXPECT_EQ(readDiskFile(disk("index.html")), value);
    EXPECT_EQ(value, "X\xf0\x9f\x98\x80" + text);
    EXPECT_EQ(record("/index.html")->undo_count, count);
    EXPECT_TRUE(errors->errors.empty()) << errors->errors.front().text();

    // Saved: closing asks nothing and drops the record.
    connector->confirm_unsaved_changes(reply(), false, [](bool) {});
    EXPECT_TRUE(waitFor([&] { return !record("/index.html"); }, 10000));
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    EXPECT_EQ(alert(), nullptr);
}

TEST_F(EditorBridgePage, ASaveWhoseServerWindowClosesFailsAndTheNextSaveStillWrites) {
    CONNECT_OR_SKIP();
    ASSERT_TRUE(loadEditor());

    // Storing the page's session without the server's window says so instead of never finishing.
    connector->file_delegatex = nullptr;
    bool stored = false;
    std::optional<VornError> storeError;
    connector->update_file_session(reply(), std::nullopt, [&](std::optional<VornError> e) {
        stored = true;
        storeError = e;
    });
    ASSERT_TRUE(waitFor([&] { return stored; }, 10000)) << "the completion never ran";
    ASSERT_TRUE(storeError);
    EXPECT_EQ(storeError->name, "no_file_window");
    connector->file_delegatex = window;

    // A save during which the server's window closes (before the page has answered) fails.
    type("A");
    auto first = std::make_shared<Saved>();
    connector->save_current_file([first](bool written, std::optional<VornError> e) {
        first->done = true;
        first->written = written;
        first->error = e;
    });
    connector->file_delegatex = nullptr;
    ASSERT_TRUE(waitFor([&] { return first->done; }, 30000)) << "the save never completed";
    EXPECT_FALSE(first->written);
    ASSERT_TRUE(first->error);
    EXPECT_EQ(first->error->name, "no_file_window");

    // With the window back, the next save of the document runs and writes the page's text.
    connector->file_delegatex = window;
    type("B");
    const auto second = save();
    ASSERT_TRUE(second.done);
    EXPECT_TRUE(second.written) << (second.error ? second.error->text() : "");
    EXPECT_EQ(readDiskFile(disk("index.html")), pageState()["value"].get<std::string>());
}

TEST_F(EditorBridgePage, AWriteTheServerRefusesLeavesTheFileChangedAndTheCloseStillAsks) {
    CONNECT_OR_SKIP();
    makeDiskFolder(disk("taken.html"));  // the server cannot replace a folder with a file
    content = fileContent("/taken.html", "<p>text</p>");
    ASSERT_TRUE(loadEditor());
    type("edit ");
    const auto saved = save();
    EXPECT_FALSE(saved.written);
    ASSERT_TRUE(saved.error);
    auto r = record("/taken.html");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->undo_count, 0);
    EXPECT_NE(json::parse(r->json)["value"].get<std::string>().find("edit "), std::string::npos)
        << "the record keeps the page's text";

    // Save and close with the same refusal: the error shows and the editor stays open.
    bool closed = false;
    connector->save_and_close(content->id, [&](bool c) { closed = c; });
    // The error ends the save-and-close: nothing closes after it.
    ASSERT_TRUE(waitFor([&] { return !errors->errors.empty(); }, 30000));
    EXPECT_FALSE(closed);
    EXPECT_TRUE(record("/taken.html"));

    // The close decision still sees a changed file.
    int calls = 0;
    connector->confirm_unsaved_changes(reply(), false, [&](bool) { ++calls; });
    ASSERT_TRUE(waitFor([&] { return alert() != nullptr; }, 10000));
    EXPECT_EQ(alert()->alertTitle(), "Unsaved Changes");
    EXPECT_EQ(alert()->message(), "Do you want to save your changes to \u201Ctaken.html\u201D?");
    ASSERT_EQ(alert()->actions().size(), 3u);
    struct Action {
        const char* title;
        ui::AlertActionStyle style;
    };
    const Action expected[] = {{"Save", ui::AlertActionStyle::default_},
                               {"Discard", ui::AlertActionStyle::destructive},
                               {"Cancel", ui::AlertActionStyle::cancel}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(alert()->actions()[i]->title(), expected[i].title);
        EXPECT_EQ(alert()->actions()[i]->style(), expected[i].style);
    }
    alert()->performAction(2);  // Cancel: nothing happens
    ASSERT_TRUE(waitFor([&] { return alert() == nullptr; }, 5000));
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(record("/taken.html"));

    // Forced, the close never asks.
    connector->confirm_unsaved_changes(reply(), true, [](bool) {});
    EXPECT_TRUE(waitFor([&] { return !record("/taken.html"); }, 10000));
    EXPECT_EQ(alert(), nullptr);
}

TEST_F(EditorBridgePage, MalformedRepliesAreNoDataAndNothingIsUploaded) {
    writeDiskFile(disk("index.html"), "server text");
    content = fileContent("/index.html", "server text");
    ASSERT_TRUE(loadEditor());
    type("page edit ");
    const std::string id = content->id;
    const std::string good = json{{"value", "x"}, {"file_path", "/index.html"}}.dump();
    const std::vector<json> replies{
        nullptr,
        json::array(),
        {{"session_id", id}},
        {{"session_id", id}, {"json", good}, {"undo_count", "3"}, {"ace_language", "html"}},
        {{"session_id", id}, {"json", "not json"}, {"undo_count", 3}, {"ace_language", "html"}},
        {{"session_id", id}, {"json", R"({"file_path":"/index.html"})"}, {"undo_count", 3}, {"ace_language", "html"}},
        {{"session_id", "another file"}, {"json", good}, {"undo_count", 3}, {"ace_language", "html"}},
    };
    for (const auto& r : replies) {
        SCOPED_TRACE(r.dump());
        page("session_manager.get_current_session = function () { return " + r.dump() + "; }; true");
        errors->errors.clear();
        const auto saved = save();
        EXPECT_FALSE(saved.written);
        ASSERT_TRUE(saved.error);
        EXPECT_EQ(saved.error->name, "no_data");

        bool closed = false;
        connector->save_and_close(id, [&](bool c) { closed = c; });
        ASSERT_TRUE(waitFor([&] { return errors->has("no_data"); }, 10000));
        EXPECT_FALSE(closed);
        EXPECT_TRUE(record("/index.html"));
        EXPECT_EQ(readDiskFile(disk("index.html")), "server text");
    }
}

TEST_F(EditorBridgePage, AStaleRecordGivesWayToTheDownloadedTextAndThePagesOwnIsSelectedAgain) {
    // Left over from an earlier window: older text and a higher count.
    auto stale = std::make_shared<VornACEFileSessionsDataModel>();
    stale->session_id = content->id;
    stale->file_path = content->path;
    stale->json = json{{"value", "OLD TEXT"}, {"file_path", content->path}, {"session_id", content->id}}.dump();
    stale->undo_count = 5;
    app_sessions_manager().service_sessions[server_->id]->ace_file_sessions.push_back(stale);

    const std::string text = content->contents;
    ASSERT_TRUE(loadEditor());
    EXPECT_FALSE(openResult);
    EXPECT_EQ(pageState()["value"], text);
    int records = 0;
    for (const auto& s : app_sessions_manager().service_sessions[server_->id]->ace_file_sessions) {
        records += s->session_id == content->id;
    }
    EXPECT_EQ(records, 1);
    EXPECT_EQ(record("/index.html")->undo_count, 0);
    EXPECT_EQ(json::parse(record("/index.html")->json)["value"], text);

    // This page's own session: opening the file again selects the stored state, not the
    // downloaded text.
    type("kept ");
    refresh();
    const int before = opened;
    openInPage(fileContent("/index.html", "a newer download that must not win"));
    ASSERT_TRUE(waitFor([&] { return opened > before; }, 10000));
    EXPECT_FALSE(openResult);
    EXPECT_EQ(pageState()["value"], "kept " + text);
}

TEST_F(EditorBridgePage, QuotesInAPathSurviveOpeningAndSaving) {
    CONNECT_OR_SKIP();
    const std::string path = "/it's a \"page\".html";
    content = fileContent(path, "<p>quoted</p>");
    writeDiskFile(disk("it's a \"page\".html"), "<p>quoted</p>");
    ASSERT_TRUE(loadEditor());
    EXPECT_FALSE(openResult) << openResult->text();
    EXPECT_EQ(pageState()["file_path"], path);
    EXPECT_EQ(page("typeof window.alert"), "function");
    type("<b>");
    auto saved = save();
    EXPECT_TRUE(saved.written) << (saved.error ? saved.error->text() : "");
    EXPECT_EQ(readDiskFile(disk("it's a \"page\".html")), "<b><p>quoted</p>");
}

TEST_F(EditorBridgePage, CopyAndPasteGoThroughThePage) {
    testsupport::ClipboardLock clipboard;
    ASSERT_TRUE(clipboard.held());
    content = fileContent("/a.txt", "copy me");
    ASSERT_TRUE(loadEditor());
    page("editor.selectAll(); true");
    QGuiApplication::clipboard()->setText("before");
    editorView->copy({});
    ASSERT_TRUE(waitFor([&] { return QGuiApplication::clipboard()->text() == "copy me"; }, 10000))
        << QGuiApplication::clipboard()->text().toStdString();

    const QString pasted = QString::fromUtf8("it's \"pasted\" \\ caf\xc3\xa9\n");
    QGuiApplication::clipboard()->setText(pasted);
    page("editor.navigateFileEnd(); true");
    editorView->paste({});
    EXPECT_TRUE(waitFor([&] { return pageState()["value"] == "copy me" + pasted.toStdString(); }, 10000))
        << pageState()["value"].dump();
}

// A document window that shows whatever root screen the test gives it.
class PlainDocumentDelegate : public ui::SceneDelegate {
public:
    void willConnectToSession(ui::Scene* scene, ui::SceneSession*, const ui::ConnectionOptions&) override {
        auto* w = new ui::Window(scene);
        setWindow(w);
        w->makeKeyAndVisible();
    }
};

TEST_F(EditorBridgePage, ClosingClosesTheWindowThatHoldsThisEditorNotTheKeyOne) {
    declare<DocumentScene, PlainDocumentDelegate>(SceneKind::main_editor);
    ui::Scene* mine = open(SceneKind::main_editor);
    ASSERT_TRUE(mine);
    mine->delegate()->window()->setRootViewController(hub->screen);
    editorView = new VornEditorWKWebView(hub->screen->view());
    connector->attach_web_view(editorView);
    ui::Scene* other = open(SceneKind::main_editor);  // opened last: the key window
    ASSERT_TRUE(other);
    settle();
    // The window system hands the focus over in its own time (later on a busy machine).
    ASSERT_TRUE(waitFor([&] { return other->delegate()->window()->isKeyWindow(); }, 15000));
    QPointer<ui::Scene> mineAlive(mine), otherAlive(other);

    EXPECT_EQ(connector->find_main_document_scene(app().connectedScenes()), mine);
    std::optional<bool> closed;
    connector->close_editor_scene(false, [&](bool c) { closed = c; });  // Cancel: nothing
    settle();
    EXPECT_FALSE(closed);
    EXPECT_EQ(app().connectedScenes().size(), 3);  // the file viewer and both documents

    connector->close_editor_scene(true, [&](bool c) { closed = c; });
    EXPECT_EQ(closed, true);
    ASSERT_TRUE(waitFor([&] { return mineAlive.isNull() || !app().connectedScenes().contains(mineAlive.data()); }));
    EXPECT_TRUE(otherAlive && app().connectedScenes().contains(otherAlive.data()));

    // Without a window of its own the editor closes nothing (and never the key window).
    closed.reset();
    connector->close_editor_scene(true, [&](bool c) { closed = c; });
    settle();
    EXPECT_FALSE(closed);
    EXPECT_TRUE(otherAlive && app().connectedScenes().contains(otherAlive.data()));
}

}  // namespace
