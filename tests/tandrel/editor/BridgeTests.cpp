// The bridge without a page: the exact script texts, the page messages' dispatch, the preview
// content record, and the small view classes.
#include <gtest/gtest.h>

#include <QTest>

#include "support/MainQueueSettle.h"
#include "BridgeTestSupport.h"
#include "platform/ui/View.h"
#include "tandrel/editor/VORNSplitViewController.h"
#include "tandrel/editor/VornEditorJSConnectorSupport.h"
#include "tandrel/editor/VornNoPreviewNeededViewController.h"
#include "tandrel/editor/VornPreviewContentBucket.h"
#include "tandrel/foundation/VornEditorPreferencesDataModel.h"

using namespace bridgetest;
using Theme = EnumManager::ace_editor_theme;
using Wrap = EnumManager::soft_wrap;

namespace {

TEST(EditorScripts, EveryScriptIsTheExactText) {
    struct Row {
        std::string made;
        std::string expected;
    };
    const std::vector<Row> rows{
        {editor_script::new_aces_editor_session("c2l0ZS9pbmRleC5odG1s", "<p>Hi</p>", "/site/index.html"),
         "session_manager.new_aces_editor_session('c2l0ZS9pbmRleC5odG1s', 'PHA+SGk8L3A+', '/site/index.html')"},
        {editor_script::set_current_session(R"({"value":"a"})"),
         "session_manager.set_current_session('eyJ2YWx1ZSI6ImEifQ==')"},
        {editor_script::set_current_session(""), "session_manager.set_current_session('')"},
        {editor_script::get_current_session(), "session_manager.get_current_session()"},
        {editor_script::restart_session(), "session_manager.restart_session()"},
        {editor_script::mark_saved("it's", 12), "session_manager.mark_saved('it\\'s', 12)"},
        {editor_script::get_selected_content(), "session_manager.get_selected_content()"},
        {editor_script::insert_content("it's \"x\"\r\n"), "main.insertContent('aXQncyAieCINCg==')"},
        {editor_script::send_content_to_preview(), "main.send_content_to_preview()"},
        {editor_script::toggle_search(false), "main.toggle_search(false);"},
        {editor_script::toggle_search(true), "main.toggle_search(true);"},
        {editor_script::beautify_code(), "main.beautify_code()"},
        {editor_script::set_soft_wrap("free"), "main.set_soft_wrap('free')"},
        {editor_script::set_theme(Theme::monokai), "editor.setTheme(\"ace/theme/monokai\");"},
        {editor_script::set_theme(Theme::tomorrow_night_80s), "editor.setTheme(\"ace/theme/tomorrow_night_eighties\");"},
        {editor_script::set_show_gutter(true), "editor.renderer.setShowGutter(true);"},
        {editor_script::set_show_gutter(false), "editor.renderer.setShowGutter(false);"},
        {editor_script::set_show_invisibles(true), "editor.renderer.setShowInvisibles(true);"},
        {editor_script::set_show_invisibles(false), "editor.renderer.setShowInvisibles(false);"},
        {editor_script::set_autocompletion(true),
         "editor.setOptions({ enableBasicAutocompletion: true, enableLiveAutocompletion: true });"},
        {editor_script::set_autocompletion(false),
         "editor.setOptions({ enableBasicAutocompletion: false, enableLiveAutocompletion: false });"},
    };
    for (const auto& row : rows) EXPECT_EQ(row.made, row.expected);
}

TEST(EditorScripts, IdsAndPathsAreEscapedAsScriptStringContent) {
    // A quote in a file name must neither break the call nor run code in a page that reads files.
    EXPECT_EQ(editor_script::new_aces_editor_session("id'x", "", "/a/it's\\n\r\n.html"),
              "session_manager.new_aces_editor_session('id\\'x', '', '/a/it\\'s\\\\n\\r\\n.html')");
    EXPECT_EQ(editor_script::new_aces_editor_session("i", "t", "/x');alert(1);('.html"),
              "session_manager.new_aces_editor_session('i', 'dA==', '/x\\');alert(1);(\\'.html')");
    // Non-ASCII names pass unchanged.
    EXPECT_EQ(editor_script::new_aces_editor_session("i", "", "/caf\xc3\xa9.css"),
              "session_manager.new_aces_editor_session('i', '', '/caf\xc3\xa9.css')");
}

TEST(EditorScripts, SoftWrapValuesFollowTheMode) {
    struct Row {
        Wrap mode;
        int64_t custom;
        const char* value;
    };
    for (auto row : {Row{Wrap::off_sw, 80, "off"}, Row{Wrap::view_sw, 80, "free"}, Row{Wrap::print_sw, 80, "-1"},
                     Row{Wrap::custom, 0, "0"}, Row{Wrap::custom, 120, "120"}, Row{Wrap::custom, -7, "-7"}}) {
        EXPECT_EQ(editor_script::soft_wrap_value(row.mode, row.custom), row.value);
    }
}

TEST(EditorScripts, Base64TextRoundTripsAndRejectsGarbage) {
    const std::string text = "quotes ' \" backslash \\ CRLF\r\nnon-ASCII caf\xc3\xa9 \xf0\x9f\x98\x80";
    EXPECT_EQ(editor_script::decode_base64_text(editor_script::base64(text)), text);
    EXPECT_EQ(editor_script::base64(std::string(100, 'a')).find('\n'), std::string::npos);
    EXPECT_FALSE(editor_script::decode_base64_text("not base64!"));
    EXPECT_FALSE(editor_script::decode_base64_text(editor_script::base64("\xff\xfe bad utf-8")));
    EXPECT_EQ(editor_script::decode_base64_text(""), std::string());
}

// A save takes the page's reply once into the session the record keeps, and reads the text to
// write out of that session's state.
TEST(SaveReply, ReadsTheSessionAndItsTextOnceOrNothing) {
    using nlohmann::json;
    const std::string tricky = "\"q\" \\ \\u0041 \xE2\x80\xA8 \xF0\x9F\x98\x80\r\n</script>";
    const std::string state = json{{"value", tricky}, {"file_path", "/a.html"}, {"undo_count", 3}}.dump();
    auto reply = [&](json changes) {
        json r{{"session_id", "c2lk"}, {"json", state}, {"undo_count", 3}, {"ace_language", "html"}};
        for (auto& [k, v] : changes.items()) {
            if (v.is_null()) r.erase(k);
            else r[k] = v;
        }
        return r;
    };
    // The reply's session, then the text of its state; nothing when either cannot be read.
    auto read = [](json r) -> std::optional<std::pair<editor_support::SessionReply, std::string>> {
        auto session = editor_support::take_session_reply(std::move(r));
        if (!session) return std::nullopt;
        auto value = editor_support::session_value(session->json);
        if (!value) return std::nullopt;
        return std::make_pair(std::move(*session), std::move(*value));
    };
    auto saved = read(reply(json::object()));
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->second, tricky);
    EXPECT_EQ(saved->first.session_id, "c2lk");
    EXPECT_EQ(saved->first.json, state);
    EXPECT_EQ(saved->first.undo_count, 3);
    EXPECT_EQ(saved->first.ace_language, "html");

    struct Row {
        const char* what;
        json reply;
    };
    const std::vector<Row> refused{
        {"not an object", json::array({1, 2})},
        {"no json", reply(json{{"json", nullptr}})},
        {"json not text", reply(json{{"json", json::object()}})},
        {"count not integer", reply(json{{"undo_count", "3"}})},
        {"no language", reply(json{{"ace_language", nullptr}})},
        {"state not JSON", reply(json{{"json", R"({"value": "x")"}})},
        {"state without value", reply(json{{"json", R"({"file_path":"/a.html"})"}})},
        {"value not text", reply(json{{"json", R"({"value":42})"}})},
        {"state not an object", reply(json{{"json", R"("just text")"}})},
    };
    for (const auto& row : refused) {
        SCOPED_TRACE(row.what);
        EXPECT_FALSE(read(json(row.reply)));
    }
}

TEST(PreviewContentBucket, WritesOnlyWhatIsPresent) {
    auto only = VornPreviewContentBucket::from_json(OrderedJson::parse(R"({"content":"<b>x</b>","other":1})"));
    EXPECT_EQ(only->content, "<b>x</b>");
    EXPECT_FALSE(only->file_mime);
    EXPECT_FALSE(only->file_type);
    EXPECT_EQ(only->to_json().dump(), R"({"content":"<b>x</b>"})");

    VornPreviewContentBucket full;
    full.file_mime = "text/html";
    full.content = "c";
    full.file_type = "html";
    EXPECT_EQ(full.to_json().dump(), R"({"file_mime":"text/html","content":"c","file_type":"html"})");
    EXPECT_EQ(full.description(), *full.toJsonString());
    EXPECT_THROW(VornPreviewContentBucket::from_json(OrderedJson::parse("[1]")), DecodingError);
}

// ---- page messages, with no page: the dispatch alone --------------------------------------------

class MessageDispatch : public ::testing::Test {
protected:
    void SetUp() override {
        connector.scene_delegatex = &hub;
        connector.error_delegatex = &errors;
        hub.preview = &previewConnector;
        previewConnector.error_delegatex = &errors;
        connector.editorwk_to_previewwk_delegate = &previewConnector;
    }
    void post(const std::string& name, const json& body) { connector.handle_script_message({name, body}); }

    TestHub hub;
    TestErrors errors;
    VornPreviewJSConnector previewConnector;
    VornEditorJSConnector connector;
};

TEST_F(MessageDispatch, DocReadyAndPreferenceRequestsReachTheDocument) {
    struct Row {
        const char* name;
        json body;
        int docReady;
        int preferences;
    };
    const std::vector<Row> rows{
        {"msg", {{"doc_ready", true}}, 1, 0},
        {"msg", {{"doc_ready", false}}, 1, 0},           // any value counts
        {"msg", {{"doc_ready", nullptr}}, 1, 0},
        {"scriptlog", {{"doc_ready", true}}, 0, 0},      // only under "msg"
        {"msg", {{"requestPreferences", json::object()}}, 0, 1},
        {"scriptlog", {{"requestPreferences", json::object()}}, 0, 1},
        {"msg", {{"requestPreferences", {{"a", 1}}}}, 0, 0},  // not a dictionary of text
        {"msg", {{"doc_ready", true}, {"requestPreferences", json::object()}}, 1, 1},
        {"scriptlog", "requestPreferences", 0, 0},       // a text body does nothing
        {"log", "a line", 0, 0},
        {"err", "an error", 0, 0},
        {"log", {{"requestPreferences", json::object()}}, 0, 1},  // non-text log bodies fall through
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " " + row.body.dump());
        hub.docReadyCalls = hub.preferenceCalls = 0;
        post(row.name, row.body);
        EXPECT_EQ(hub.docReadyCalls, row.docReady);
        EXPECT_EQ(hub.preferenceCalls, row.preferences);
    }
    EXPECT_TRUE(errors.errors.empty());
}

TEST_F(MessageDispatch, MalformedPreviewContentIsNoDataAndStopsTheMessage) {
    struct Row {
        json content;
        bool noData;
    };
    const std::vector<Row> rows{
        {json::object(), true},
        {{{"file_path", "/a.html"}}, true},
        {{{"content", editor_script::base64("x")}}, true},
        {{{"file_path", "/a.html"}, {"content", "%%% not base64"}}, true},
        {{{"file_path", "/a.html"}, {"content", editor_script::base64("\xff\xfe")}}, true},
        {42, false},  // not a dictionary: ignored silently
        {{{"file_path", "/a.html"}, {"content", 5}}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.content.dump());
        errors.errors.clear();
        hub.preferenceCalls = 0;
        post("msg", {{"send_content_to_preview", row.content}, {"requestPreferences", json::object()}});
        EXPECT_EQ(errors.has("no_data"), row.noData);
        // The preferences request of the same body is skipped after a malformed preview.
        EXPECT_EQ(hub.preferenceCalls, row.noData ? 0 : 1);
    }
}

TEST_F(MessageDispatch, ScriptsWithoutAWebViewAreDroppedAndTheirCompletionNeverRuns) {
    int calls = 0;
    connector.run_editor_js("session_manager.get_current_session()", [&](json, std::optional<VornError>) { ++calls; });
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    EXPECT_EQ(calls, 0);

    // Without a document nothing is registered and the view is not kept.
    VornEditorJSConnector lone;
    web::WebView view;
    lone.attach_web_view(&view);
    EXPECT_FALSE(lone.web_view);
    for (const auto& name : VornEditorJSConnector::message_handler_names()) EXPECT_FALSE(view.hasMessageHandler(name));

    connector.attach_web_view(&view);
    EXPECT_EQ(connector.web_view.data(), &view);
    EXPECT_EQ(connector.editorwk_to_previewwk_delegate.get(), &previewConnector);
    for (const auto& name : VornEditorJSConnector::message_handler_names()) EXPECT_TRUE(view.hasMessageHandler(name));
    connector.detach_web_view(&view);
    for (const auto& name : VornEditorJSConnector::message_handler_names()) EXPECT_FALSE(view.hasMessageHandler(name));
}

TEST_F(MessageDispatch, PreviewContentWithoutTextOrTypeIsNoData) {
    for (int i = 0; i < 2; ++i) {
        errors.errors.clear();
        auto bucket = std::make_shared<VornPreviewContentBucket>();
        (i == 0 ? bucket->content : bucket->file_mime) = "x";
        previewConnector.push_preview_content(bucket);
        EXPECT_TRUE(errors.has("no_data"));
    }
    // A bucket with both but no web view: no_webview, once the load's turn comes.
    errors.errors.clear();
    auto bucket = std::make_shared<VornPreviewContentBucket>();
    bucket->content = "<p>x</p>";
    bucket->file_mime = "text/html";
    previewConnector.push_preview_content(bucket);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !errors.errors.empty(); }, 2000));
    EXPECT_TRUE(errors.has("no_webview"));
}

}  // namespace

namespace {

TEST(NoPreviewPanel, NamesTheTypeInUpperCaseOrBlank) {
    struct Row {
        const char* given;
        const char* shown;
    };
    for (auto row : {Row{"text/css", "TEXT/CSS"}, Row{"", "Blank"}, Row{"application/javascript", "APPLICATION/JAVASCRIPT"}}) {
        VornNoPreviewNeededViewController panel;
        panel.set_unsupported_extension_text(row.given);
        EXPECT_EQ(panel.no_preview_text->text().toStdString(),
                  std::string("We're very sorry, but we don't support live code preview for '") + row.shown +
                      "' documents yet.");
        EXPECT_EQ(panel.extension_type.toStdString(), row.given);
    }
}

TEST(DocumentSplitView, NeverOffersTheGesture) {
    auto split = ui::make<VORNSplitViewController>(ui::SplitViewController::Style::doubleColumn);
    EXPECT_FALSE(split->scene_delegatex);
    split->setPresentsWithGesture(true);
    EXPECT_FALSE(split->presentsWithGesture());
}

TEST(DocumentSplitView, PlacesThePrimaryColumnAtItsEdgeOrShowsTheSecondaryAlone) {
    auto split = ui::make<ui::SplitViewController>(ui::SplitViewController::Style::doubleColumn);
    auto primary = ui::make<ui::ViewController>();
    auto secondary = ui::make<ui::ViewController>();
    split->setViewController(primary, ui::SplitViewController::Column::primary);
    split->setViewController(secondary, ui::SplitViewController::Column::secondary);
    split->setMinimumPrimaryColumnWidth(300);
    split->setMaximumPrimaryColumnWidth(500);
    split->setPrimaryEdge(ui::SplitViewController::PrimaryEdge::trailing);
    split->view()->resize(1200, 700);
    split->layoutColumns();
    EXPECT_FALSE(split->isCollapsed());
    EXPECT_EQ(split->displayMode(), ui::SplitViewController::DisplayMode::oneBesideSecondary);
    EXPECT_EQ(primary->view()->geometry().right(), 1199);
    EXPECT_GE(primary->view()->width(), 300);
    EXPECT_LE(primary->view()->width(), 500);
    EXPECT_EQ(secondary->view()->x(), 0);
    EXPECT_EQ(secondary->view()->width() + primary->view()->width(), 1200);

    split->setPreferredDisplayMode(ui::SplitViewController::DisplayMode::secondaryOnly);
    EXPECT_EQ(secondary->view()->width(), 1200);
    EXPECT_TRUE(primary->view()->isHidden());
}

}  // namespace
