// Our editor page, as the app drives it: the exact script texts the app sends, and the messages the
// page posts. One editor view is shared by the suite; the hand-over test adds a second one.
#include <gtest/gtest.h>

#include <QImage>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "WebTestSupport.h"
#include "platform/web/JsString.h"

namespace fs = std::filesystem;
using webtest::base64;
using webtest::json;
using webtest::run;
using webtest::unbase64;

namespace {

const fs::path kPageDir = DRAVIX_TEST_EDITOR_PAGE_DIR;

web::WebView* makeEditor(webtest::MessageLog** log, std::vector<QUrl>* refused) {
    auto* view = new web::WebView();
    view->resize(640, 480);
    view->show();
    *log = new webtest::MessageLog(*view, {"scriptlog", "log", "msg", "err"});
    QObject::connect(view, &web::WebView::requestRefused, [refused](const QUrl& u) { refused->push_back(u); });
    EXPECT_TRUE(view->loadFileUrl(kPageDir / "index.html", kPageDir));
    return view;
}

std::string newSessionScript(const std::string& id, const std::string& text, const std::string& path) {
    return "session_manager.new_aces_editor_session('" + web::jsStringEscape(id) + "', '" + base64(text) + "', '" +
           web::jsStringEscape(path) + "')";
}

std::string setSessionScript(const std::string& b64) {
    return "session_manager.set_current_session('" + b64 + "')";
}

class EditorPageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!webtest::haveDisplay() || !fs::exists(kPageDir / "index.html")) return;
        refused_ = new std::vector<QUrl>();
        view_ = makeEditor(&log_, refused_);
    }
    static void TearDownTestSuite() {
        delete log_;
        log_ = nullptr;
        delete view_;
        view_ = nullptr;
        delete refused_;
        refused_ = nullptr;
        delete firstMessages_;
        firstMessages_ = nullptr;
        ready_ = false;
    }
    void SetUp() override {
        SKIP_WITHOUT_DISPLAY();
        ASSERT_TRUE(fs::exists(kPageDir / "index.html")) << "the editor page was not built into " << kPageDir;
        if (!ready_) {
            ASSERT_TRUE(log_->waitFor("msg", "doc_ready")) << "no doc_ready";
            log_->waitFor("msg", "requestPreferences", webtest::kScriptMs);
            firstMessages_ = new std::vector<web::ScriptMessage>(log_->messages());
            ready_ = true;
        }
    }
    void TearDown() override {
        if (!log_) return;
        for (const auto& m : log_->messages()) {
            if (m.name == "err") ADD_FAILURE() << "page error: " << m.body.dump();
        }
        log_->clear();
        if (refused_) {
            for (const auto& u : *refused_) ADD_FAILURE() << "refused: " << u.toString().toStdString();
        }
    }

    static json ok(const std::string& script) {
        auto out = run(*view_, script);
        EXPECT_TRUE(out.done) << script.substr(0, 200);
        EXPECT_FALSE(out.error) << script.substr(0, 200) << ": " << (out.error ? out.error->message : "");
        return out.result;
    }
    static json currentSession() { return ok("session_manager.get_current_session()"); }
    static json currentState() {
        const json reply = currentSession();
        if (!reply.is_object() || !reply["json"].is_string()) return nullptr;
        return json::parse(reply["json"].get<std::string>());
    }

    static web::WebView* view_;
    static webtest::MessageLog* log_;
    static std::vector<QUrl>* refused_;
    static std::vector<web::ScriptMessage>* firstMessages_;  // what the page posted while loading
    static bool ready_;
};

std::vector<web::ScriptMessage>* EditorPageTest::firstMessages_ = nullptr;
bool EditorPageTest::ready_ = false;
web::WebView* EditorPageTest::view_ = nullptr;
webtest::MessageLog* EditorPageTest::log_ = nullptr;
std::vector<QUrl>* EditorPageTest::refused_ = nullptr;

TEST_F(EditorPageTest, DocReadyComesFirstThenThePreferencesRequest) {
    std::vector<std::string> keys;
    for (const auto& m : *firstMessages_) {
        if (m.name == "msg" && m.body.is_object() && !m.body.empty()) keys.push_back(m.body.begin().key());
    }
    ASSERT_GE(keys.size(), 2u);
    EXPECT_EQ(keys[0], "doc_ready");
    EXPECT_EQ(keys[1], "requestPreferences");
    for (const auto& m : *firstMessages_) {
        if (m.name != "msg") continue;
        if (m.body.contains("doc_ready")) {
            EXPECT_EQ(m.body["doc_ready"], true);
        }
        if (m.body.contains("requestPreferences")) {
            EXPECT_TRUE(m.body["requestPreferences"].is_object());
        }
    }
    EXPECT_EQ(ok("typeof editor + ' ' + typeof main + ' ' + typeof session_manager"), "object object object");
    EXPECT_EQ(ok("editor.session.getUseWorker()"), false);
}

TEST_F(EditorPageTest, ANewSessionsStateCarriesValuePathAndId) {
    const std::string text = "<!DOCTYPE html>\n<html><body>Hi</body></html>\n";
    const json result = ok(newSessionScript("c2l0ZS9pbmRleC5odG1s", text, "/site/index.html"));
    ASSERT_TRUE(result.is_string());
    const json state = json::parse(result.get<std::string>());
    EXPECT_EQ(state["value"], text);
    EXPECT_EQ(state["file_path"], "/site/index.html");
    EXPECT_EQ(state["session_id"], "c2l0ZS9pbmRleC5odG1s");
    EXPECT_EQ(state["undo_count"], 0);

    const json reply = currentSession();
    EXPECT_EQ(reply["session_id"], "c2l0ZS9pbmRleC5odG1s");
    EXPECT_EQ(reply["undo_count"], 0);
    EXPECT_EQ(reply["ace_language"], "html");
    ASSERT_TRUE(reply["json"].is_string());
    EXPECT_EQ(json::parse(reply["json"].get<std::string>())["value"], text);

    ASSERT_TRUE(log_->waitFor("msg", "session_info", webtest::kScriptMs));
    EXPECT_EQ(log_->bodiesWith("msg", "session_info")[0]["session_info"]["session_id"], "c2l0ZS9pbmRleC5odG1s");
}

TEST_F(EditorPageTest, TextSurvivesTheRoundTripExactly) {
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"quotes", "it's \"quoted\" and 'single' and `back`"},
        {"backslashes", "C:\\path\\to\\file \\n is not a newline \\\\"},
        {"crlf", "line one\r\nline two\r\n\r\nline four\r\n"},
        {"lf", "a\nb\n\nc"},
        {"cr", "old\rmac\rtext\r"},
        {"non_ascii", "caf\xC3\xA9 \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80 \xD0\x9F\xD1\x80\xD0\xB8"},
        {"separators", "a\xE2\x80\xA8" "b\xE2\x80\xA9" "c"},
        {"script_end", "<script>var s = '</script>';</script>"},
        {"bom_and_tabs", "\xEF\xBB\xBF\tindented\t\ttext"},
        {"mixed_line_breaks", "a\r\nb\nc\rd\n"},
        {"empty", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const json created = ok(newSessionScript(std::string("rt-") + c.name, c.text, "/rt/file.txt"));
        ASSERT_TRUE(created.is_string());
        EXPECT_EQ(json::parse(created.get<std::string>())["value"], c.text);
        EXPECT_EQ(currentState()["value"], c.text);
    }
}

TEST_F(EditorPageTest, MixedLineBreaksStayUntilTheTextIsEdited) {
    const std::string text = "one\r\ntwo\nthree\r\n";
    ok(newSessionScript("mixed", text, "/m/mixed.php"));
    const json unchanged = currentSession();
    // Handed to the page again (as after a refresh), still the same bytes.
    EXPECT_EQ(ok(setSessionScript(base64(unchanged["json"].get<std::string>()))), true);
    EXPECT_EQ(currentState()["value"], text);
    ok("editor.navigateFileEnd(); editor.insert('four'); 0");
    // Once edited, each line keeps its own break: an edit changes only what was edited.
    EXPECT_EQ(currentState()["value"], "one\r\ntwo\nthree\r\nfour");
}

TEST_F(EditorPageTest, UncaughtPageErrorsArriveOnErr) {
    ok("var s = document.createElement('script'); s.textContent = \"throw new Error('late failure')\";"
       "document.body.appendChild(s); 0");
    ASSERT_TRUE(webtest::waitFor([] {
        for (const auto& m : log_->messages())
            if (m.name == "err" && m.body.is_string() && m.body.get<std::string>().find("late failure") != std::string::npos)
                return true;
        return false;
    }, webtest::kScriptMs));
    log_->clear();
}

TEST_F(EditorPageTest, IdsAndPathsWithQuotesArriveWhenEscaped) {
    const std::string id = "it's an \"id\"\\";
    const std::string path = "/site/o'brien </script>\n.html";
    const json created = ok(newSessionScript(id, "x", path));
    ASSERT_TRUE(created.is_string());
    const json state = json::parse(created.get<std::string>());
    EXPECT_EQ(state["session_id"], id);
    EXPECT_EQ(state["file_path"], path);
    EXPECT_EQ(currentSession()["ace_language"], "html");
}

TEST_F(EditorPageTest, TheUndoCountRisesOnEditsAndOnUndo) {
    ok(newSessionScript("undo", "start", "/u/a.css"));
    EXPECT_EQ(currentSession()["undo_count"], 0);
    ok("editor.navigateFileEnd(); editor.insert(' more'); 0");
    const int afterEdit = currentSession()["undo_count"].get<int>();
    EXPECT_GE(afterEdit, 1);
    EXPECT_EQ(currentState()["value"], "start more");
    ok("editor.undo(); 0");
    const json reply = currentSession();
    EXPECT_GT(reply["undo_count"].get<int>(), afterEdit);
    EXPECT_EQ(currentState()["value"], "start");
    EXPECT_EQ(currentState()["undo_count"], reply["undo_count"]);
    ok("editor.redo(); 0");
    EXPECT_GT(currentSession()["undo_count"].get<int>(), reply["undo_count"].get<int>());
}

// Whether a session's text is the saved one is Ace's own record (its undo manager's clean mark):
// a new session starts clean, undo and redo move to and from the saved text, a write's count
// (mark_saved) moves the mark, also to a text reported before later edits, and a session rebuilt
// from a stored state knows no saved text until it is told.
TEST_F(EditorPageTest, TheCleanMarkFollowsUndoRedoAndTheSavedCount) {
    ok(newSessionScript("clean", "start", "/c/clean.css"));
    auto clean = [] { return currentSession()["clean"]; };
    auto count = [] { return currentSession()["undo_count"].get<int64_t>(); };
    struct Step {
        const char* script;
        bool clean;
    };
    const Step steps[] = {
        {"0", true},
        {"editor.navigateFileEnd(); editor.insert(' one'); 0", false},
        {"editor.undo(); 0", true},
        {"editor.redo(); 0", false},
        {"editor.undo(); 0", true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.script);
        ok(step.script);
        EXPECT_EQ(clean(), step.clean);
    }

    // A write saved the text of this count; edits made while it travelled are not saved.
    ok("editor.redo(); 0");
    const int64_t saved = count();
    ok("editor.navigateFileEnd(); editor.insert(' two'); 0");
    EXPECT_EQ(ok("session_manager.mark_saved('clean', " + std::to_string(saved) + ")"), false);
    EXPECT_EQ(clean(), false);
    ok("editor.undo(); 0");
    EXPECT_EQ(clean(), true) << "back at the text the write saved";
    EXPECT_EQ(currentState()["value"], "start one");
    ok("editor.undo(); 0");
    EXPECT_EQ(clean(), false) << "the text before the save is a change now";
    ok("editor.redo(); 0");
    EXPECT_EQ(ok("session_manager.mark_saved('clean', " + std::to_string(count()) + ")"), true);

    // A rebuilt history keeps a saved text saved.
    ok("session_manager.restart_session(); 0");
    EXPECT_EQ(clean(), true);
    ok("editor.navigateFileEnd(); editor.insert(' three'); 0");
    ok("session_manager.restart_session(); 0");
    EXPECT_EQ(clean(), false);

    // A session built from a stored state is not known to be saved until the app says which count is.
    const json state = currentState();
    ok("session_manager.close_session('clean'); 0");
    EXPECT_EQ(ok(setSessionScript(base64(state.dump()))), true);
    EXPECT_EQ(clean(), false);
    EXPECT_EQ(ok("session_manager.mark_saved('clean', " + std::to_string(state["undo_count"].get<int64_t>() - 1) + ")"),
              false);
    EXPECT_EQ(ok("session_manager.mark_saved('clean', " + std::to_string(state["undo_count"].get<int64_t>()) + ")"),
              true);
    EXPECT_EQ(clean(), true);
    EXPECT_EQ(ok("session_manager.mark_saved('no such session', 1)"), nullptr);

    // The change report carries the mark too.
    // A report of an earlier change may still be on its way: each step waits for the report
    // that tells its own mark.
    auto reported = [&](bool clean) {
        return QTest::qWaitFor([&] {
            const auto bodies = log_->bodiesWith("msg", "content_changed");
            return !bodies.empty() && bodies.back()["content_changed"]["clean"] == clean;
        }, webtest::kScriptMs);
    };
    log_->clear();
    ok("editor.navigateFileEnd(); editor.insert('!'); 0");
    auto reports = [&] {
        std::string all;
        for (const json& body : log_->bodiesWith("msg", "content_changed")) all += body.dump() + "\n";
        return all;
    };
    EXPECT_TRUE(reported(false)) << "an edit reported the text clean:\n" << reports() << currentSession().dump();
    log_->clear();
    ok("editor.undo(); 0");
    EXPECT_TRUE(reported(true)) << "the undo back to the saved text was not reported clean:\n" << reports();
    ok("session_manager.close_session('clean'); 0");
}

// The app hears of a change a moment after it: what it hears is the session under that id as it
// is then. A session opened again, rebuilt, restored or renamed right after a change is told as it
// is now (never as the entry it replaced, and its own changes are not swallowed), a closed one not
// at all. Each case runs in one turn of the page, so no report can go out in between.
TEST_F(EditorPageTest, AChangeReportTellsTheSessionAsItIsWhenItGoesOut) {
    using Told = std::vector<std::pair<std::string, int64_t>>;
    struct Case {
        const char* what;
        std::string then;  // run right after the change, in the same turn
        bool toldNow;      // the current session's id and count are told
        Told alsoTold;     // further reports, by id and count
    };
    auto b64State = [](const std::string& id, const std::string& value, int count) {
        return base64(json{{"session_id", id}, {"file_path", "/r/" + id + ".txt"}, {"value", value}, {"undo_count", count}}
                          .dump());
    };
    const Case cases[] = {
        {"opened again", newSessionScript("r0", "fresh", "/r/r0.txt") + "; editor.insert('y')", true, {}},
        {"rebuilt", "session_manager.restart_session(); editor.insert('y')", true, {}},
        {"restored", setSessionScript(b64State("r2", "other", 7)) + "; editor.insert('y')", true, {}},
        {"renamed, its old name opened again",
         "session_manager.rename_session('r3', 'r3n', '/r/r3n.txt'); " + newSessionScript("r3", "new", "/r/r3.txt") +
             "; editor.insert('y')",
         true, {{"r3n", 1}}},
        {"closed", "session_manager.close_session('r4')", false, {}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.what);
        const std::string id = "r" + std::to_string(i);
        ok(newSessionScript(id, "abc", "/r/" + id + ".txt"));
        log_->clear();
        ok("editor.navigateFileEnd(); editor.insert('x'); " + c.then + "; 0");
        Told expected = c.alsoTold;
        if (c.toldNow) expected.emplace_back(currentSession()["session_id"], currentSession()["undo_count"].get<int64_t>());
        // A change made later is told later: once its report is in, every report of the case is.
        const std::string marker = "mark" + std::to_string(i);
        ok(newSessionScript(marker, "", "/r/mark.txt"));
        ok("editor.insert('m'); 0");
        ASSERT_TRUE(QTest::qWaitFor([&] {
            for (const json& body : log_->bodiesWith("msg", "content_changed"))
                if (body["content_changed"]["session_id"] == marker) return true;
            return false;
        }, webtest::kScriptMs));
        Told told;
        for (const json& body : log_->bodiesWith("msg", "content_changed")) {
            const json& r = body["content_changed"];
            if (r["session_id"] != marker) told.emplace_back(r["session_id"], r["undo_count"].get<int64_t>());
        }
        std::sort(told.begin(), told.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(told, expected);
    }
    for (const char* id : {"r0", "r1", "r2", "r3", "r3n", "mark0", "mark1", "mark2", "mark3", "mark4"})
        ok(std::string("session_manager.close_session('") + id + "'); 0");
}

// The editor draws every character inside its line: an underscore, the lowest mark of a code font,
// shows on the display within its line's box, with the fonts this system has.
TEST_F(EditorPageTest, AnUnderscoreIsDrawnInsideItsLine) {
    ok(newSessionScript("pixels", "\n$db_password = 1;\n\n", "/p/pixels.txt"));
    // Nothing else in the picture but the text: no cursor, no active-line band.
    ok("editor.setHighlightActiveLine(false); editor.renderer.$cursorLayer.element.style.visibility = 'hidden';"
       "editor.renderer.updateFull(true); 0");
    const json at = ok(
        "(function () { var r = editor.renderer; var p = r.textToScreenCoordinates(1, 3);"
        "  return { x: p.pageX, y: p.pageY, line: r.layerConfig.lineHeight, width: r.characterWidth,"
        "           font: getComputedStyle(r.content).fontFamily, size: getComputedStyle(r.content).fontSize }; })()");
    ASSERT_TRUE(at.is_object()) << at.dump();
    const double line = at["line"].get<double>();
    const double width = at["width"].get<double>();
    ASSERT_GT(line, 0);
    ASSERT_GT(width, 0);

    // Ink: a pixel that differs clearly from the page's background (the blank first line).
    QImage shot;
    double scale = 1;
    auto px = [&](double css) { return static_cast<int>(css * scale); };
    auto inkRows = [&](double top, double bottom) {
        std::vector<int> rows;
        const QRgb back = shot.pixel(px(at["x"].get<double>() + width / 2), px(at["y"].get<double>() - line / 2));
        for (int y = px(top); y < px(bottom); ++y) {
            for (int x = px(at["x"].get<double>() + width * 0.25); x < px(at["x"].get<double>() + width * 0.75); ++x) {
                const QRgb c = shot.pixel(x, y);
                if (std::abs(qRed(c) - qRed(back)) + std::abs(qGreen(c) - qGreen(back)) + std::abs(qBlue(c) - qBlue(back)) > 90) {
                    rows.push_back(y);
                    break;
                }
            }
        }
        return rows;
    };
    const double top = at["y"].get<double>();
    // The picture is taken once the line's text is on the display (its "$" shows).
    const bool drawn = webtest::waitFor([&] {
        shot = view_->grab().toImage().convertToFormat(QImage::Format_RGB32);
        scale = shot.devicePixelRatio();
        if (shot.isNull()) return false;
        const double dollar = at["x"].get<double>() - 3 * width;
        for (int y = px(top); y < px(top + line); ++y)
            for (int x = px(dollar); x < px(dollar + width); ++x)
                if (qGray(shot.pixel(x, y)) < 128) return true;
        return false;
    }, webtest::kScriptMs);
    ASSERT_TRUE(drawn) << "the line never showed";
    const auto inside = inkRows(top, top + line);
    const auto below = inkRows(top + line, top + line + line / 2);
    const std::string where = "font " + at["font"].get<std::string>() + " " + at["size"].get<std::string>() +
                              ", line box " + std::to_string(line) + " px";
    EXPECT_FALSE(inside.empty()) << "no underscore inside its line; " << where;
    EXPECT_TRUE(below.empty()) << "the underscore reaches " << below.size() << " rows below its line; " << where;
    // It is the underscore: low in the line.
    if (!inside.empty()) EXPECT_GT(inside.front(), px(top + line / 2)) << where;
    ok("editor.setHighlightActiveLine(true); editor.renderer.$cursorLayer.element.style.visibility = '';"
       "session_manager.close_session('pixels'); 0");
}

TEST_F(EditorPageTest, SetCurrentSessionToleratesEmptyAndGarbage) {
    ok(newSessionScript("keep", "kept text", "/k/keep.js"));
    struct Case {
        const char* name;
        std::string arg;
    };
    const Case cases[] = {
        {"empty", ""},
        {"not_base64", "%%% not base64 %%%"},
        {"not_json", base64("not json at all")},
        {"array", base64("[1, 2, 3]")},
        {"value_not_text", base64(R"({"session_id": "x", "value": 5})")},
        {"not_utf8", base64("\xFF\xFE{")},
        {"null", base64("null")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto out = run(*view_, setSessionScript(c.arg));
        ASSERT_TRUE(out.done);
        EXPECT_FALSE(out.error);
        EXPECT_EQ(out.result, false);
        EXPECT_EQ(currentSession()["session_id"], "keep");
        EXPECT_EQ(currentState()["value"], "kept text");
    }
    log_->clear();  // the page reported those on "err", as it should
}

TEST_F(EditorPageTest, SwitchingSessionsKeepsEachSessionsTextAndCount) {
    ok(newSessionScript("one", "first", "/s/one.html"));
    ok("editor.insert('X'); 0");
    const json one = currentSession();
    ok(newSessionScript("two", "second", "/s/two.less"));
    EXPECT_EQ(currentSession()["ace_language"], "less");
    EXPECT_EQ(ok(setSessionScript(base64(one["json"].get<std::string>()))), true);
    const json back = currentSession();
    EXPECT_EQ(back["session_id"], "one");
    EXPECT_EQ(back["undo_count"], one["undo_count"]);
    EXPECT_EQ(json::parse(back["json"].get<std::string>())["value"], "Xfirst");
}

TEST_F(EditorPageTest, ASessionHandedToAnotherPageKeepsItsTextAndCount) {
    const std::string text = "body {\r\n  color: red; /* caf\xC3\xA9 */\r\n}\r\n";
    ok(newSessionScript("handed", text, "/h/style.scss"));
    ok("editor.navigateFileEnd(); editor.insert('p { }'); editor.undo(); editor.redo(); 0");
    const json source = currentSession();
    ASSERT_GE(source["undo_count"].get<int>(), 3);

    webtest::MessageLog* otherLog = nullptr;
    std::vector<QUrl> otherRefused;
    std::unique_ptr<web::WebView> other(makeEditor(&otherLog, &otherRefused));
    std::unique_ptr<webtest::MessageLog> otherLogOwner(otherLog);
    ASSERT_TRUE(otherLog->waitFor("msg", "doc_ready"));
    EXPECT_TRUE(run(*other, "session_manager.get_current_session()").result.is_null());

    auto set = run(*other, setSessionScript(base64(source["json"].get<std::string>())));
    ASSERT_FALSE(set.error);
    EXPECT_EQ(set.result, true);
    const json there = run(*other, "session_manager.get_current_session()").result;
    EXPECT_EQ(there["session_id"], "handed");
    EXPECT_EQ(there["undo_count"], source["undo_count"]);
    EXPECT_EQ(there["ace_language"], "scss");
    EXPECT_EQ(json::parse(there["json"].get<std::string>())["value"], text + "p { }");

    // Counting goes on from there; the restarted page keeps its text and count.
    run(*other, "editor.insert('!'); 0");
    EXPECT_GT(run(*other, "session_manager.get_current_session()").result["undo_count"].get<int>(),
              source["undo_count"].get<int>());
    EXPECT_EQ(ok("session_manager.restart_session()"), true);
    EXPECT_EQ(currentSession()["undo_count"], source["undo_count"]);
    EXPECT_EQ(currentState()["value"], text + "p { }");
    for (const auto& m : otherLog->messages())
        if (m.name == "err") ADD_FAILURE() << "other page error: " << m.body.dump();
    EXPECT_TRUE(otherRefused.empty());
}

TEST_F(EditorPageTest, ThePreviewMessageCarriesPathAndText) {
    const std::string text = "<html><body><p class=\"x\">caf\xC3\xA9 'q'</p></body></html>";
    ok(newSessionScript("preview", text, "/p/page.htm"));
    log_->clear();
    ok("main.send_content_to_preview()");
    ASSERT_TRUE(log_->waitFor("msg", "send_content_to_preview", webtest::kScriptMs));
    const json body = log_->bodiesWith("msg", "send_content_to_preview")[0]["send_content_to_preview"];
    EXPECT_EQ(body["file_path"], "/p/page.htm");
    EXPECT_EQ(unbase64(body["content"].get<std::string>()), text);

    // Edits push the text by themselves shortly after typing stops.
    log_->clear();
    ok("editor.navigateFileEnd(); editor.insert('<!-- more -->'); 0");
    ASSERT_TRUE(log_->waitFor("msg", "send_content_to_preview", webtest::kScriptMs));
    const json pushed = log_->bodiesWith("msg", "send_content_to_preview")[0]["send_content_to_preview"];
    EXPECT_EQ(unbase64(pushed["content"].get<std::string>()), text + "<!-- more -->");
}

TEST_F(EditorPageTest, TheModeFollowsTheFileExtension) {
    struct Case {
        const char* path;
        const char* language;
    };
    const Case cases[] = {
        {"/m/a.html", "html"}, {"/m/a.HTM", "html"}, {"/m/a.php", "php"},     {"/m/a.css", "css"},
        {"/m/a.scss", "scss"}, {"/m/a.sass", "sass"}, {"/m/a.less", "less"}, {"/m/a.js", "javascript"},
        {"/m/a.txt", "text"},  {"/m/README", "text"}, {"/m/a.unknown", "text"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        ok(newSessionScript(std::string("mode-") + c.path, "x", c.path));
        EXPECT_EQ(currentSession()["ace_language"], c.language);
        const std::string mode = std::string("ace/mode/") + c.language;
        EXPECT_TRUE(webtest::waitFor([&] { return ok("editor.session.$modeId") == mode; }, webtest::kScriptMs))
            << "mode module did not load: " << mode;
    }
}

TEST_F(EditorPageTest, SoftWrapFollowsTheSettingAndTheEditorsWidthInEverySession) {
    // A long line in a session: wrapped to the editor's width under "free", to the given width
    // under a number, not at all under "off"; a session shown again picks up the setting in force.
    std::string longLine(3000, 'w');
    for (size_t i = 7; i < longLine.size(); i += 8) longLine[i] = ' ';
    const std::string text = "<p>" + longLine + "</p>\n<b>short</b>\n";
    const char* expectFree =
        "var r = editor.renderer; var s = editor.session;"
        "s.getUseWrapMode() && s.getWrapLimit() === Math.floor((r.$size.scrollerWidth - 2 * r.$padding) / r.characterWidth)"
        " && s.getScreenLength() > s.getLength()";

    ok("main.set_soft_wrap('free')");
    ok(newSessionScript("wrap-a", text, "/w/a.html"));
    EXPECT_EQ(ok(expectFree), true);

    ok("main.set_soft_wrap('60')");
    EXPECT_EQ(ok("editor.session.getWrapLimit()"), 60);
    EXPECT_EQ(ok("editor.session.getScreenLength() >= editor.session.getLength() + 3000 / 60"), true);

    ok(newSessionScript("wrap-b", text, "/w/b.html"));
    EXPECT_EQ(ok("editor.session.getWrapLimit()"), 60);
    ok("main.set_soft_wrap('off')");
    EXPECT_EQ(ok("editor.session.getUseWrapMode()"), false);

    // Back to the first session, made under "free" and wrapped at 60 since: it shows unwrapped now.
    ok(setSessionScript(base64(json{{"session_id", "wrap-a"}, {"file_path", "/w/a.html"}, {"value", text}, {"undo_count", 0}}.dump())));
    EXPECT_EQ(ok("session_manager.get_current_session().session_id"), "wrap-a");
    EXPECT_EQ(ok("editor.session.getUseWrapMode()"), false);
    ok("main.set_soft_wrap('free')");
    ok("session_manager.restart_session()");
    EXPECT_EQ(ok(expectFree), true);
    EXPECT_EQ(currentState()["value"], text);
    log_->clear();
}

TEST_F(EditorPageTest, ALongDocumentWrapsAtTheEditorsWidthAMomentAfterItShows) {
    std::string text;
    for (int i = 0; i < 30000; ++i) text += "<p>line " + std::to_string(i) + " " + std::string(150, 'x') + "</p>\n";
    const char* wrappedAtWidth =
        "var r = editor.renderer; var s = editor.session;"
        "s.getUseWrapMode() && s.getWrapLimit() === Math.floor((r.$size.scrollerWidth - 2 * r.$padding) / r.characterWidth)"
        " && s.getScreenLength() > s.getLength()";
    ok("main.set_soft_wrap('free')");
    const json state = json::parse(ok(newSessionScript("long", text, "/l/long.html")).get<std::string>());
    EXPECT_EQ(state["value"], text);
    EXPECT_TRUE(webtest::waitFor([&] { return ok(wrappedAtWidth) == true; }, webtest::kScriptMs));

    // Switched away before its wrap came: the other session is left alone, and the long one
    // wraps when it shows again.
    ok(newSessionScript("long-2", text, "/l/long2.html"));
    ok(newSessionScript("short", "short", "/l/s.txt"));
    EXPECT_EQ(ok("session_manager.get_current_session().session_id"), "short");
    ok("main.set_soft_wrap('off')");
    ok(setSessionScript(base64(json{{"session_id", "long-2"}, {"file_path", "/l/long2.html"}, {"value", text}}.dump())));
    ok("main.set_soft_wrap('free')");
    EXPECT_TRUE(webtest::waitFor([&] { return ok(wrappedAtWidth) == true; }, webtest::kScriptMs));
    EXPECT_EQ(currentState()["value"], text);
    ok("main.set_soft_wrap('off')");
    log_->clear();
}

// The page works out a long document's soft wrap itself for rows that fit as they are: for every
// kind of row (short, long, empty, with tabs, with wide and astral characters, inside a fold) and
// every wrap setting the splits and their indents are what Ace's own pass gives.
TEST_F(EditorPageTest, SoftWrapOfEveryKindOfRowIsWhatAcesOwnPassGives) {
    std::string text;
    for (int i = 0; i < 400; ++i) {
        text += "<p>row " + std::to_string(i) + "</p>\n";
        text += "\t\t<li>" + std::string(static_cast<size_t>(i % 90), 'x') + "</li>\n";
        text += std::string(static_cast<size_t>(i % 7) * 40, 'w') + " " + std::string(60, 'z') + "\n";
        text += "\xE6\xBC\xA2\xE5\xAD\x97 caf\xC3\xA9 \xF0\x9F\x98\x80 " + std::string(static_cast<size_t>(i % 50), 'k') + "\n";
        text += "\n";
    }
    ok(newSessionScript("wrap-rows", text, "/w/rows.html"));
    ok("(function(){var R=ace.require('ace/range').Range;editor.session.addFold('...',new R(10,3,14,2));"
       "editor.session.addFold('..',new R(300,0,301,5));return 1;})()");
    const char* compare =
        "(function(){var s=editor.session;if(!s.getUseWrapMode())return 'not wrapped';"
        "function take(){return JSON.stringify(s.$wrapData.map(function(r){return [r,r.indent||0];}));}"
        "s.$updateWrapData(0,s.getLength()-1);var ours=take();"
        "s.$updateWrapData.acePass.call(s,0,s.getLength()-1);var aces=take();"
        "return ours===aces?'same':'differ';})()";
    for (const char* wrap : {"free", "40", "80", "-1"}) {
        SCOPED_TRACE(wrap);
        ok(std::string("main.set_soft_wrap('") + wrap + "')");
        EXPECT_EQ(ok(compare), "same");
    }
    ok("main.set_soft_wrap('off')");
    EXPECT_EQ(currentState()["value"], text);
    log_->clear();
}

// A state the page reported is selected again by its state_id alone; the page answers
// "unknown_state" for one it does not hold (then the app sends the state's text). Asked again
// while nothing moved, the page reports the very same state; an edit makes a new one.
TEST_F(EditorPageTest, AReportedStateIsSelectedByItsIdAndAnUnknownOneIsAskedForInFull) {
    const std::string text = "<p>caf\xC3\xA9 \xF0\x9F\x98\x80</p>\n";
    const std::string made = ok(newSessionScript("ref-a", text, "/r/a.html")).get<std::string>();
    ASSERT_EQ(made.rfind("{\"state_id\":\"", 0), 0u) << made.substr(0, 60);
    const std::string id = json::parse(made)["state_id"].get<std::string>();
    EXPECT_GE(id.size(), 16u);
    EXPECT_EQ(currentSession()["json"], made) << "nothing moved: the same state";

    ok(newSessionScript("ref-b", "other", "/r/b.txt"));
    EXPECT_EQ(ok("session_manager.set_current_session('dravix-state:" + id + "')"), true);
    EXPECT_EQ(currentSession()["session_id"], "ref-a");
    EXPECT_EQ(currentState()["value"], text);
    EXPECT_EQ(ok("session_manager.set_current_session('dravix-state:0123456789abcdef0123')"), "unknown_state");
    EXPECT_EQ(currentSession()["session_id"], "ref-a");

    // An edit: a new state; the older one still selects this (newer) session.
    ok("editor.insert('x')");
    const std::string edited = currentSession()["json"].get<std::string>();
    EXPECT_NE(json::parse(edited)["state_id"], id);
    ok(newSessionScript("ref-c", "third", "/r/c.txt"));
    EXPECT_EQ(ok("session_manager.set_current_session('dravix-state:" + id + "')"), true);
    EXPECT_EQ(currentState()["value"], "x" + text);

    // A session rebuilt from a stored state holds none of the states reported before.
    ok(setSessionScript(base64(edited)));
    ok("session_manager.restart_session()");
    EXPECT_EQ(ok("session_manager.set_current_session('dravix-state:" + id + "')"), "unknown_state");
    log_->clear();
}

TEST_F(EditorPageTest, EveryScriptTheAppSendsRunsAndDoesItsWork) {
    ok(newSessionScript("vocab", "<div>\n<p>hi</p></div>", "/v/v.html"));
    const char* scripts[] = {
        "session_manager.get_current_session()",
        "session_manager.restart_session()",
        "session_manager.mark_saved('vocab', 0)",
        "session_manager.get_selected_content()",
        "main.send_content_to_preview()",
        "main.toggle_search(false);",
        "main.toggle_search(true);",
        "main.beautify_code()",
        "main.set_soft_wrap('off')",
        "main.set_soft_wrap('free')",
        "main.set_soft_wrap('-1')",
        "main.set_soft_wrap('120')",
        "editor.setTheme(\"ace/theme/monokai\");",
        "editor.renderer.setShowGutter(true);",
        "editor.renderer.setShowGutter(false);",
        "editor.renderer.setShowInvisibles(true);",
        "editor.renderer.setShowInvisibles(false);",
        "editor.setOptions({ enableBasicAutocompletion: true, enableLiveAutocompletion: true });",
        "editor.setOptions({ enableBasicAutocompletion: false, enableLiveAutocompletion: false });",
    };
    for (const char* s : scripts) {
        auto out = run(*view_, s);
        EXPECT_TRUE(out.done) << s;
        EXPECT_FALSE(out.error) << s << ": " << (out.error ? out.error->message : "");
    }
    EXPECT_EQ(ok("editor.renderer.getShowGutter()"), false);
    EXPECT_EQ(ok("editor.getOption('enableLiveAutocompletion')"), false);
    EXPECT_EQ(ok("editor.session.getOption('wrap')"), 120);
    EXPECT_TRUE(webtest::waitFor([] { return ok("!!(editor.renderer.theme && editor.renderer.theme.isDark)") == true; },
                                webtest::kScriptMs));
    EXPECT_EQ(ok("main.toggle_search(true);"), false);  // the replace box was open: this closes it
    // Soft wrap applies to later sessions too; "-1" wraps at the print margin.
    ok("main.set_soft_wrap('-1')");
    ok(newSessionScript("vocab2", "text", "/v/w.txt"));
    EXPECT_EQ(ok("editor.session.getOption('wrap')"), "printMargin");

    // Copy and paste travel as Base64.
    const std::string pasted = "it's \"pasted\"\r\n\\ caf\xC3\xA9";
    ok("editor.selectAll(); 0");
    ok("main.insertContent('" + base64(pasted) + "')");
    EXPECT_EQ(currentState()["value"], pasted);
    ok("editor.selectAll(); 0");
    const json selected = ok("session_manager.get_selected_content()");
    EXPECT_EQ(unbase64(selected["selected_content"].get<std::string>()), pasted);
    log_->clear();
}

TEST_F(EditorPageTest, TheSnippetFilesOfEveryModeLoad) {
    const char* languages[] = {"html", "php", "css", "scss", "sass", "less", "javascript", "text"};
    std::string script = "window.snippetsLoaded = {};";
    for (const char* l : languages) {
        script += "ace.config.loadModule('ace/snippets/" + std::string(l) +
                  "', function (m) { window.snippetsLoaded['" + l + "'] = !!m; });";
    }
    ok(script + "0");
    ASSERT_TRUE(webtest::waitFor([] { return ok("Object.keys(window.snippetsLoaded).length") == 8; },
                                 webtest::kPageLoadMs));
    // Every file is there (a missing one never calls back); scss, sass, less and text have none
    // of their own and load as empty stubs.
    const json loaded = ok("window.snippetsLoaded");
    for (const char* l : {"html", "php", "css", "javascript"}) EXPECT_EQ(loaded[l], true) << l;
}

TEST_F(EditorPageTest, EveryThemeTheAppOffersLoads) {
    const char* themes[] = {
        "chrome", "clouds", "crimson_editor", "dawn", "dreamweaver", "eclipse", "github", "iplastic",
        "solarized_light", "textmate", "tomorrow", "xcode", "kuroir", "katzenmilch", "sqlserver", "ambiance",
        "chaos", "clouds_midnight", "dracula", "cobalt", "gruvbox", "gob", "idle_fingers", "kr_theme",
        "merbivore", "merbivore_soft", "mono_industrial", "monokai", "nord_dark", "one_dark", "pastel_on_dark",
        "solarized_dark", "terminal", "tomorrow_night", "tomorrow_night_blue", "tomorrow_night_bright",
        "tomorrow_night_eighties", "twilight", "vibrant_ink"};
    std::string script = "window.themesLoaded = {};";
    for (const char* t : themes) {
        script += "ace.config.loadModule('ace/theme/" + std::string(t) +
                  "', function (m) { window.themesLoaded['" + t + "'] = !!(m && m.cssClass); });";
    }
    ok(script + "0");
    ASSERT_TRUE(webtest::waitFor([] { return ok("Object.keys(window.themesLoaded).length") == 39; },
                                webtest::kPageLoadMs));
    const json loaded = ok("window.themesLoaded");
    for (const char* t : themes) EXPECT_EQ(loaded[t], true) << t;
}

TEST_F(EditorPageTest, BadArgumentsNeverThrowToTheApp) {
    const char* scripts[] = {
        "session_manager.new_aces_editor_session('bad', '%%%', '/x.html')",
        "main.insertContent('***')",
        "main.set_soft_wrap('sideways')",
        "session_manager.set_current_session()",
    };
    for (const char* s : scripts) {
        auto out = run(*view_, s);
        EXPECT_TRUE(out.done) << s;
        EXPECT_FALSE(out.error) << s;
    }
    EXPECT_TRUE(run(*view_, scripts[0]).result.is_null());
    log_->clear();
}

}  // namespace
