// The web layer against real pages: a small page in a temporary folder and pages served from
// memory. One view per suite: the web engine's start is the slow part.
#include <gtest/gtest.h>

#include <QTest>

#include <QAccessible>
#include <QApplication>
#include <QProcess>
#include <QPushButton>
#include <QVBoxLayout>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QSignalSpy>
#include <QTcpServer>
#include <QWebEngineProfile>
#include <QThread>

#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "WebTestSupport.h"
#include "platform/web/JsString.h"
#include "platform/web/MemoryRelease.h"
#include "platform/web/WebProfile.h"
#include "support/KeyWindow.h"

namespace fs = std::filesystem;
using webtest::json;
using webtest::run;

namespace {

void writeText(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
}

// A loopback listener that counts the connections made to it (and closes them).
class ConnectionCounter : public QTcpServer {
public:
    ConnectionCounter() {
        QObject::connect(this, &QTcpServer::newConnection, [this] {
            while (auto* s = nextPendingConnection()) {
                ++connections;
                s->close();
            }
        });
    }
    int connections = 0;
};

class WebViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!webtest::haveDisplay()) return;
        std::random_device rd;
        root_ = new fs::path(fs::temp_directory_path() / ("dravix-web-" + std::to_string(rd())));
        // Posts made by the head's first script, before the page's channel can be up.
        writeText(*root_ / "page" / "index.html",
                  "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><script>\n"
                  "window.webkit.messageHandlers.msg.postMessage({seq: 1});\n"
                  "window.webkit.messageHandlers.msg.postMessage({seq: 2, text: \"\\u00e9\\u4e2d\","
                  " big: \"x\\u00e9\\\"\\\\\".repeat(30000)});\n"
                  "window.webkit.messageHandlers.log.postMessage(\"early log\");\n"
                  "window.webkit.messageHandlers.msg.postMessage({seq: 3});\n"
                  "</script></head><body><script src=\"inside.js\"></script></body></html>\n");
        writeText(*root_ / "page" / "inside.js", "window.insideLoaded = true;\n");
        writeText(*root_ / "page" / "inside2.js", "window.inside2Loaded = true;\n");
        writeText(*root_ / "outside.js", "window.outsideLoaded = true;\n");
        view_ = new web::WebView();
        view_->resize(400, 300);
        view_->show();
        log_ = new webtest::MessageLog(*view_, {"msg", "log", "err", "scriptlog"});
        refused_ = new std::vector<QUrl>();
        QObject::connect(view_, &web::WebView::requestRefused, [](const QUrl& u) { refused_->push_back(u); });
        ASSERT_TRUE(view_->loadFileUrl(*root_ / "page" / "index.html", *root_ / "page"));
    }
    static void TearDownTestSuite() {
        delete log_;
        log_ = nullptr;
        delete view_;
        view_ = nullptr;
        delete refused_;
        refused_ = nullptr;
        if (root_) {
            std::error_code ec;
            fs::remove_all(*root_, ec);
            delete root_;
            root_ = nullptr;
        }
    }
    void SetUp() override {
        SKIP_WITHOUT_DISPLAY();
        ASSERT_TRUE(log_->waitFor("msg", "seq")) << "the test page did not post";
        ASSERT_TRUE(webtest::waitFor([] { return run(*view_, "window.insideLoaded === true").result == true; },
                                    webtest::kPageLoadMs));
    }

    static bool refusedContains(const std::string& needle) {
        for (const auto& u : *refused_)
            if (u.toString().toStdString().find(needle) != std::string::npos) return true;
        return false;
    }

    static fs::path* root_;
    static web::WebView* view_;
    static webtest::MessageLog* log_;
    static std::vector<QUrl>* refused_;
};

fs::path* WebViewTest::root_ = nullptr;
web::WebView* WebViewTest::view_ = nullptr;
webtest::MessageLog* WebViewTest::log_ = nullptr;
std::vector<QUrl>* WebViewTest::refused_ = nullptr;

TEST_F(WebViewTest, PostsMadeBeforeTheChannelIsUpArriveInOrder) {
    ASSERT_TRUE(webtest::waitFor([] { return log_->bodiesWith("msg", "seq").size() >= 3; }, webtest::kPageLoadMs));
    const auto bodies = log_->bodiesWith("msg", "seq");
    ASSERT_EQ(bodies.size(), 3u);
    EXPECT_EQ(bodies[0]["seq"], 1);
    EXPECT_EQ(bodies[1]["seq"], 2);
    EXPECT_EQ(bodies[1]["text"], "\xC3\xA9\xE4\xB8\xAD");
    std::string big;
    for (int i = 0; i < 30000; ++i) big += "x\xC3\xA9\"\\";
    EXPECT_TRUE(bodies[1]["big"] == big) << "a large string posted before the channel was up";
    EXPECT_EQ(bodies[2]["seq"], 3);
    bool sawLog = false;
    for (const auto& m : log_->messages())
        if (m.name == "log") {
            EXPECT_EQ(m.body, "early log");
            sawLog = true;
        }
    EXPECT_TRUE(sawLog);
}

// The assistive technologies read the view as a control that takes the focus, and Tab gives it
// to the page's surface inside it.
TEST_F(WebViewTest, TheViewIsReadAsAControlThatTakesTheFocus) {
    QAccessibleInterface* i = QAccessible::queryAccessibleInterface(view_);
    ASSERT_TRUE(i);
    EXPECT_TRUE(i->state().focusable);
    EXPECT_TRUE(view_->focusPolicy() & Qt::TabFocus);
    ASSERT_TRUE(view_->focusProxy());
    EXPECT_TRUE(view_->focusProxy()->focusPolicy() & Qt::TabFocus);
}

// A page that hands the focus on (Tab past its last element) moves it to the control after the
// view. The engine may hand it on a second time for the same key, once the focus has left: the
// control that has it then keeps it. And it hands the focus on by itself, with no Tab, when a page
// with nothing to focus loads while the view holds the focus: the view keeps it then.
TEST(WebViewFocus, APageHandsTheFocusOnOnlyForATabWhileItHoldsIt) {
    SKIP_WITHOUT_DISPLAY();
    struct Exposed : web::WebView {
        using web::WebView::focusNextPrevChild;
    };
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* view = new Exposed;
    auto* next = new QPushButton(QStringLiteral("Next"));
    auto* last = new QPushButton(QStringLiteral("Last"));
    for (QWidget* w : {static_cast<QWidget*>(view), static_cast<QWidget*>(next), static_cast<QWidget*>(last)})
        layout->addWidget(w);
    window.resize(300, 300);
    window.show();
    ASSERT_TRUE(testsupport::activateForKeyboard(&window));
    auto holds = [](QWidget* w) {
        QWidget* f = QApplication::focusWidget();
        return f && (f == w || w->isAncestorOf(f));
    };
    const struct {
        const char* what;
        QWidget* before;
        bool tab;  // a Tab key went to the page first
        QWidget* after;
    } rows[] = {
        {"handed on by the page that holds the focus, for a Tab", view, true, next},
        {"handed on again, after the focus left", next, false, next},
        {"handed on with no Tab (a page that loaded)", view, false, view},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        // Asked again for each row: another test's window may have taken the activation meanwhile.
        ASSERT_TRUE(testsupport::activateForKeyboard(&window));
        row.before->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(webtest::waitFor([&] { return holds(row.before); }, 5000));
        if (row.tab) {
            // The Tab as it reaches the page's surface; the engine's own hand-on for it may come
            // before or after the one below, and only one of them moves the focus.
            QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
            QApplication::sendEvent(view->focusProxy() ? view->focusProxy() : view, &tab);
        }
        view->focusNextPrevChild(true);
        EXPECT_TRUE(webtest::waitFor([&] { return holds(row.after); }, 5000));
        EXPECT_FALSE(holds(last)) << "handed on twice";
    }
}

// A load that puts the page in another process replaces the page's surface inside the view; a
// view that held the focus keeps it, on the new surface, and keys reach the new page.
TEST(WebViewFocus, AViewThatHoldsTheFocusKeepsItWhenALoadReplacesThePagesSurface) {
    SKIP_WITHOUT_DISPLAY();
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* view = new web::WebView;
    auto* next = new QPushButton(QStringLiteral("Next"));
    layout->addWidget(view);
    layout->addWidget(next);
    window.resize(300, 300);
    window.show();
    ASSERT_TRUE(testsupport::activateForKeyboard(&window));
    // The window's own focus: other tests' windows on the same display may take the activation.
    auto holds = [&](QWidget* w) {
        QWidget* f = window.focusWidget();
        return f && f->isVisible() && (f == w || w->isAncestorOf(f));
    };
    const std::string html = "<html><body><p>nothing to focus</p></body></html>";
    const fs::path dir = fs::temp_directory_path() / ("dravix-surface-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "page.html") << html;
    QSignalSpy loads(view, &QWebEngineView::loadFinished);
    int swaps = 0;
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        QWidget* before = view->focusProxy();
        view->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(webtest::waitFor([&] { return holds(view); }, 5000));
        const int loaded = loads.size();
        if (round % 2 == 0) ASSERT_TRUE(view->loadFileUrl(dir / "page.html", dir));
        else view->loadHtmlString(html);
        ASSERT_TRUE(webtest::waitFor([&] { return loads.size() > loaded; }, webtest::kPageLoadMs));
        swaps += view->focusProxy() != before;
        EXPECT_TRUE(webtest::waitFor([&] { return holds(view); }, 5000))
            << "the focus went to " << (window.focusWidget() ? window.focusWidget()->metaObject()->className() : "nothing");
    }
    EXPECT_GT(swaps, 0) << "no load replaced the surface: the case is not tested";
    fs::remove_all(dir);
}

TEST_F(WebViewTest, ResultsComeBackAsJson) {
    struct Case {
        const char* script;
        json expected;
    };
    const Case cases[] = {
        {"1 + 41", 42},
        {"'caf\\u00e9'", "caf\xC3\xA9"},
        {"({a: 1, b: [true, null, 'x'], c: {d: 2.5}})", json{{"a", 1}, {"b", {true, nullptr, "x"}}, {"c", {{"d", 2.5}}}}},
        {"undefined", nullptr},
        {"var q = 3; q * 2;", 6},
        {"(function () {})", nullptr},
        {"var cyc = {}; cyc.self = cyc; cyc", nullptr},
    };
    for (const auto& c : cases) {
        const auto out = run(*view_, c.script);
        ASSERT_TRUE(out.done) << c.script;
        EXPECT_FALSE(out.error) << c.script << ": " << out.error->message;
        EXPECT_EQ(out.result, c.expected) << c.script;
    }
}

TEST_F(WebViewTest, LargeStringsInPostsArriveWhereverTheyStand) {
    log_->clear();
    ASSERT_FALSE(run(*view_,
                     "var big = 'q\"\\\\\\n\u00e9</script>'.repeat(20000);"
                     "window.webkit.messageHandlers.msg.postMessage({big: [big, {deeper: big}], small: 'a',"
                     " lookalike: '\\u0000abc:0'});"
                     "window.webkit.messageHandlers.log.postMessage(big); 1")
                     .error);
    ASSERT_TRUE(log_->waitFor("msg", "big"));
    ASSERT_TRUE(webtest::waitFor([] { return log_->messages().size() >= 2; }, webtest::kScriptMs));
    std::string big;
    for (int i = 0; i < 20000; ++i) big += "q\"\\\n\xC3\xA9</script>";
    const json body = log_->bodiesWith("msg", "big").at(0);
    EXPECT_TRUE(body == (json{{"big", {big, {{"deeper", big}}}}, {"small", "a"}, {"lookalike", std::string("\0abc:0", 6)}}));
    bool sawLog = false;
    for (const auto& m : log_->messages()) {
        if (m.name == "log") sawLog = m.body == big;
    }
    EXPECT_TRUE(sawLog);
    log_->clear();
}

TEST_F(WebViewTest, LargeStringsComeBackWhereverTheyStand) {
    // Past 64 KiB a string crosses beside the JSON text; it must land where it stood, unchanged.
    ASSERT_FALSE(run(*view_,
                     "window.big = 'q\"\\\\\\n\u00e9\u2028</script>'.repeat(20000);"
                     "window.f = function (n) { return window.big.slice(0, n); }; 1")
                     .error);
    const std::string unit = "q\"\\\n\xC3\xA9\xE2\x80\xA8</script>";
    std::string big;
    for (int i = 0; i < 20000; ++i) big += unit;
    struct Case {
        const char* script;
        json expected;
    };
    const Case cases[] = {
        {"window.big", big},
        {"f(65535).length", 65535},
        {"({session_id: 'a', json: window.big, undo_count: 3, list: [window.big, 'x']})",
         json{{"session_id", "a"}, {"json", big}, {"undo_count", 3}, {"list", {big, "x"}}}},
        {"[f(4), window.big, {deep: {er: window.big}}]", json{big.substr(0, 4), big, {{"deep", {{"er", big}}}}}},
        // A page string that merely looks like a marker stays what it is.
        {"'\\u0000abc:0'", std::string("\0abc:0", 6)},
    };
    for (const auto& c : cases) {
        const auto out = run(*view_, c.script);
        ASSERT_TRUE(out.done) << c.script;
        ASSERT_FALSE(out.error) << c.script << ": " << out.error->message;
        EXPECT_TRUE(out.result == c.expected) << c.script;
    }
}

// A large string that came back a moment ago and comes back again (a session read back right after
// it was made) may be named instead of sent: whatever crossed, each result holds exactly what the
// page returned, also for a string of the same length that differs in its last character, and
// after the app let go of what it held.
TEST_F(WebViewTest, ALargeStringGivenAgainComesBackWhole) {
    ASSERT_FALSE(run(*view_,
                     "window.again = '\\u00e9\\u6f22\\ud83d\\ude00\"\\\\\\n'.repeat(30000);"
                     "window.other = window.again.slice(0, -1) + 'Z'; 1")
                     .error);
    std::string again;
    for (int i = 0; i < 30000; ++i) again += "\xC3\xA9\xE6\xBC\xA2\xF0\x9F\x98\x80\"\\\n";
    const std::string other = again.substr(0, again.size() - 1) + "Z";
    struct Case {
        const char* script;
        json expected;
    };
    const Case cases[] = {
        {"window.again", again},
        {"window.again", again},
        {"({json: window.again, n: 1})", json{{"json", again}, {"n", 1}}},
        {"window.other", other},
        {"[window.other, window.again, window.other]", json{other, again, other}},
        {"'small'", "small"},
        {"window.again", again},
    };
    for (const auto& c : cases) {
        const auto out = run(*view_, c.script);
        ASSERT_TRUE(out.done) << c.script;
        ASSERT_FALSE(out.error) << c.script << ": " << out.error->message;
        EXPECT_TRUE(out.result == c.expected) << c.script;
    }
    // Once the app has let go of what it held, the text crosses again, whole.
    QTest::qWait(1700);
    const auto late = run(*view_, "window.again");
    ASSERT_FALSE(late.error);
    EXPECT_TRUE(late.result == again);
}

// A large text that crossed asks the allocator to hand its freed pages back, once, a moment later;
// asks in between join that one release, and small results ask for none.
TEST_F(WebViewTest, ALargeCrossingReleasesFreedMemoryOnceAMomentLater) {
    ASSERT_TRUE(webtest::waitFor([] { return !web::memory::releasePending(); }, webtest::kScriptMs));
    const std::size_t before = web::memory::releases();
    ASSERT_EQ(run(*view_, "'small'").result, "small");
    EXPECT_FALSE(web::memory::releasePending()) << "a small result asks for no release";

    const auto out = run(*view_, "'x'.repeat(2 * 1024 * 1024)");
    ASSERT_TRUE(out.done && out.result.is_string());
    EXPECT_EQ(out.result.get_ref<const std::string&>().size(), 2u * 1024u * 1024u);
    web::memory::releaseSoon();
    web::memory::releaseSoon();
    EXPECT_TRUE(web::memory::releasePending());
    ASSERT_TRUE(webtest::waitFor([&] { return web::memory::releases() > before; }, webtest::kScriptMs));
    EXPECT_EQ(web::memory::releases(), before + 1) << "the asks joined one release";
    EXPECT_FALSE(web::memory::releasePending());
}

TEST_F(WebViewTest, ALiteralCallMeansWhatItMeansAtTheTopLevel) {
    // Globals named like the wrapper's own variables are the ones a call reaches.
    ASSERT_FALSE(run(*view_,
                     "window.r = function (x) { return 'r:' + x; };"
                     "window.b = function (x) { return 'b:' + x; };"
                     "window.j = { k: function (x, y) { return [x, y, this === window.j]; } }; 1")
                     .error);
    struct Case {
        const char* script;
        json expected;
    };
    const Case cases[] = {
        {"r('1')", "r:1"},
        {"b(\"2\");", "b:2"},
        {"j.k('it\\'s', -1.5)", json{"it's", -1.5, true}},
        {"j.k(null, false)", json{nullptr, false, true}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(web::isLiteralCall(c.script)) << c.script;
        const auto out = run(*view_, c.script);
        ASSERT_TRUE(out.done) << c.script;
        ASSERT_FALSE(out.error) << c.script << ": " << out.error->message;
        EXPECT_EQ(out.result, c.expected) << c.script;
    }
    const auto missing = run(*view_, "no_such_function('x')");
    ASSERT_TRUE(missing.error);
    EXPECT_NE(missing.error->message.find("ReferenceError"), std::string::npos) << missing.error->message;
}

TEST_F(WebViewTest, AThrownErrorComesBackAsAnError) {
    struct Case {
        const char* script;
        const char* inMessage;
    };
    const Case cases[] = {
        {"throw new Error('boom')", "boom"},
        {"no_such_object.call()", "ReferenceError"},
        {"session_manager.new_aces_editor_session('a'b', '', 'x')", "SyntaxError"},
        {"throw 'plain text'", "plain text"},
    };
    for (const auto& c : cases) {
        const auto out = run(*view_, c.script);
        ASSERT_TRUE(out.done) << c.script;
        ASSERT_TRUE(out.error) << c.script;
        EXPECT_NE(out.error->message.find(c.inMessage), std::string::npos) << out.error->message;
        EXPECT_TRUE(out.result.is_null());
    }
}

TEST_F(WebViewTest, LiteralsMadeByTheHelperReachThePageUnchanged) {
    const std::string nasty =
        "it's \"quoted\" \\ back\\slash\r\nline\nbreak\rcr </script><script>x</SCRIPT> "
        "\xE2\x80\xA8\xE2\x80\xA9 caf\xC3\xA9 \xF0\x9F\x98\x80 \t end";
    const auto out = run(*view_, "var s = " + web::jsStringLiteral(nasty) + "; s");
    ASSERT_TRUE(out.done);
    ASSERT_FALSE(out.error) << out.error->message;
    EXPECT_EQ(out.result, nasty);
}

TEST_F(WebViewTest, EvaluationFromAnotherThreadCompletesOnTheMainThread) {
    bool done = false;
    bool onMain = false;
    json result;
    std::thread worker([&] {
        view_->evaluateJavaScript("6 * 7", [&](json r, std::optional<web::ScriptError>) {
            result = r;
            onMain = QThread::currentThread() == qApp->thread();
            done = true;
        });
    });
    worker.join();
    ASSERT_TRUE(webtest::waitFor([&] { return done; }, webtest::kScriptMs));
    EXPECT_TRUE(onMain);
    EXPECT_EQ(result, 42);
}

TEST_F(WebViewTest, HandlersCanBeRemovedAndPostsToUnknownNamesAreDropped) {
    std::vector<json> got;
    view_->addMessageHandler("extra", [&](const web::ScriptMessage& m) { got.push_back(m.body); });
    run(*view_, "window.webkit.messageHandlers.extra.postMessage([1, 'two']);"
                "window.webkit.messageHandlers.nobody.postMessage('x'); 0");
    ASSERT_TRUE(webtest::waitFor([&] { return !got.empty(); }, webtest::kScriptMs));
    EXPECT_EQ(got[0], json({1, "two"}));
    view_->removeMessageHandler("extra");
    EXPECT_FALSE(view_->hasMessageHandler("extra"));
    // Messages arrive in the order posted: once the marker is in, the late post has been dropped.
    bool marked = false;
    view_->addMessageHandler("marker", [&](const web::ScriptMessage&) { marked = true; });
    run(*view_, "window.webkit.messageHandlers.extra.postMessage('late');"
                "window.webkit.messageHandlers.marker.postMessage(1); 0");
    ASSERT_TRUE(webtest::waitFor([&] { return marked; }, webtest::kScriptMs));
    EXPECT_EQ(got.size(), 1u);
    // A throwing handler does not take the app down.
    marked = false;
    view_->addMessageHandler("thrower", [](const web::ScriptMessage&) { throw std::runtime_error("handler"); });
    run(*view_, "window.webkit.messageHandlers.thrower.postMessage(1);"
                "window.webkit.messageHandlers.marker.postMessage(2); 0");
    ASSERT_TRUE(webtest::waitFor([&] { return marked; }, webtest::kScriptMs));
    view_->removeMessageHandler("thrower");
}

TEST_F(WebViewTest, TheFilePageReadsItsFolderButNoOtherFileAndNoNetwork) {
    ConnectionCounter server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const std::string outside = QUrl::fromLocalFile(QString::fromStdString((*root_ / "outside.js").string()))
                                    .toString().toStdString();
    const std::string network = "http://127.0.0.1:" + std::to_string(server.serverPort()) + "/x.js";
    const std::string probe =
        "window.results = {};"
        "function probe(key, url) { var s = document.createElement('script'); s.src = url;"
        "  s.onload = function () { window.results[key] = 'loaded'; };"
        "  s.onerror = function () { window.results[key] = 'refused'; };"
        "  document.body.appendChild(s); }"
        "probe('inside', 'inside2.js');"
        "probe('outside', " + web::jsStringLiteral(outside) + ");"
        "probe('network', " + web::jsStringLiteral(network) + ");"
        "probe('traversal', '../outside.js'); 0";
    ASSERT_FALSE(run(*view_, probe).error);
    ASSERT_TRUE(webtest::waitFor([&] { return run(*view_, "Object.keys(window.results).length").result == 4; },
                                webtest::kScriptMs));
    const auto results = run(*view_, "window.results").result;
    EXPECT_EQ(results["inside"], "loaded");
    EXPECT_EQ(results["outside"], "refused");
    EXPECT_EQ(results["traversal"], "refused");
    EXPECT_EQ(results["network"], "refused");
    EXPECT_EQ(run(*view_, "window.outsideLoaded === true").result, false);
    // The file is refused by the page's access rules; the engine itself already keeps a file page
    // off the network, so the http request may not even reach them.
    EXPECT_TRUE(webtest::waitFor([] { return refusedContains("outside.js"); }, 2000));
    EXPECT_EQ(server.connections, 0);
    ASSERT_TRUE(view_->readAccessFolder());
    EXPECT_EQ(*view_->readAccessFolder(), fs::canonical(*root_ / "page"));
}

// Reads a URL with a synchronous XMLHttpRequest in the page: {text} or {error}.
json readInPage(web::WebView& view, const std::string& url) {
    return run(view, "(function(){try{var r=new XMLHttpRequest();r.open('GET'," + web::jsStringLiteral(url) +
                         ",false);r.send();return {status:r.status,text:r.responseText};}"
                         "catch(e){return {error:String(e)};}})()")
        .result;
}

TEST_F(WebViewTest, AnOfferedDocumentIsReadOnceByItsOwnPageByteForByte) {
    // Every kind of character a script string or a text decoder could trip on, a byte order mark
    // of the document's own first.
    using namespace std::string_literals;
    const std::string text = "\xEF\xBB\xBF'\"\\</script>\xE2\x80\xA8\xE2\x80\xA9" "a\0b\r\nc\rd\n\xF0\x9F\x98\x80\xC3\xA9"s;
    const auto before = web::documents::count();
    const QUrl url = view_->offerDocument(QByteArray::fromStdString(text));
    EXPECT_EQ(url.scheme().toStdString(), web::kDocumentScheme);
    EXPECT_GE(url.host().size(), 32) << "the key must not be guessable";
    EXPECT_EQ(web::documents::count(), before + 1);

    // Another page, even one of the same folder, cannot read it.
    web::WebView other;
    other.resize(200, 200);
    other.show();
    bool ready = false;
    other.addMessageHandler("msg", [&](const web::ScriptMessage&) { ready = true; });
    ASSERT_TRUE(other.loadFileUrl(*root_ / "page" / "index.html", *root_ / "page"));
    ASSERT_TRUE(webtest::waitFor([&] { return ready; }, webtest::kPageLoadMs));
    EXPECT_TRUE(readInPage(other, url.toString().toStdString()).contains("error"));
    EXPECT_EQ(web::documents::count(), before + 1) << "a refused read must not use the offer up";

    const json first = readInPage(*view_, url.toString().toStdString());
    ASSERT_TRUE(first.contains("text")) << first.dump();
    EXPECT_EQ(first["text"].get<std::string>(), text);
    EXPECT_EQ(web::documents::count(), before) << "a read document is kept no longer";
    EXPECT_TRUE(readInPage(*view_, url.toString().toStdString()).contains("error")) << "read twice";

    // Nothing else is served under the scheme: no made-up key, no file.
    EXPECT_TRUE(readInPage(*view_, "dravix-doc://0123456789abcdef0123456789abcdef/").contains("error"));
    EXPECT_TRUE(readInPage(*view_, "dravix-doc://localhost/etc/passwd").contains("error"));

    // An offer nobody read goes when withdrawn.
    const QUrl unread = view_->offerDocument("unread");
    view_->withdrawDocument(unread);
    EXPECT_EQ(web::documents::count(), before);
    EXPECT_TRUE(readInPage(*view_, unread.toString().toStdString()).contains("error"));
}

TEST_F(WebViewTest, LoadFileUrlRefusesAFileOutsideItsFolder) {
    EXPECT_FALSE(view_->loadFileUrl(*root_ / "outside.js", *root_ / "page"));
    EXPECT_FALSE(view_->loadFileUrl(*root_ / "page" / "missing.html", *root_ / "page"));
    EXPECT_FALSE(view_->loadFileUrl(*root_ / "page" / "index.html", *root_ / "nowhere"));
    // The page that was there is still there.
    EXPECT_EQ(run(*view_, "window.insideLoaded === true").result, true);
}

// ---- pages from memory ---------------------------------------------------------------------------

class HtmlPageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!webtest::haveDisplay()) return;
        view_ = new web::WebView();
        view_->resize(400, 300);
        view_->show();
        log_ = new webtest::MessageLog(*view_, {"msg"});
        refused_ = new std::vector<QUrl>();
        QObject::connect(view_, &web::WebView::requestRefused, [](const QUrl& u) { refused_->push_back(u); });
    }
    static void TearDownTestSuite() {
        delete log_;
        log_ = nullptr;
        delete view_;
        view_ = nullptr;
        delete refused_;
        refused_ = nullptr;
    }
    void SetUp() override {
        SKIP_WITHOUT_DISPLAY();
        log_->clear();
    }
    static web::WebView* view_;
    static webtest::MessageLog* log_;
    static std::vector<QUrl>* refused_;
};

web::WebView* HtmlPageTest::view_ = nullptr;
webtest::MessageLog* HtmlPageTest::log_ = nullptr;
std::vector<QUrl>* HtmlPageTest::refused_ = nullptr;

TEST_F(HtmlPageTest, AThreeMegabytePageShowsCompletely) {
    // Past the 2 MB that an HTML string loaded as a data URL could hold. The bulk sits in one <pre>
    // so the software renderer of a CI machine lays it out quickly.
    std::string html = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>big</title></head><body>"
                       "<p id=\"start\">caf\xC3\xA9 \xE2\x80\x94 start</p><pre>";
    const std::string line = "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor.\n";
    while (html.size() < 3 * 1024 * 1024) html += line;
    html += "</pre><div id=\"end\">the end</div><script>window.webkit.messageHandlers.msg.postMessage("
            "{loaded: document.body.innerHTML.length});</script></body></html>";
    view_->loadHtmlString(html);
    ASSERT_TRUE(log_->waitFor("msg", "loaded"));
    EXPECT_GT(log_->bodiesWith("msg", "loaded")[0]["loaded"].get<long long>(), 3'000'000);
    EXPECT_EQ(run(*view_, "document.getElementById('end').textContent").result, "the end");
    EXPECT_EQ(run(*view_, "document.title").result, "big");
    EXPECT_EQ(run(*view_, "document.getElementById('start').textContent").result, "caf\xC3\xA9 \xE2\x80\x94 start");
    EXPECT_EQ(run(*view_, "location.protocol").result, std::string(web::kPageScheme) + ":");
    EXPECT_FALSE(view_->readAccessFolder());
}

TEST_F(HtmlPageTest, AnHtmlPageGetsNoFileAndByDefaultNoNetwork) {
    ConnectionCounter server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const std::string port = std::to_string(server.serverPort());
    view_->loadHtmlString(
        "<!DOCTYPE html><html><body><script>\n"
        "var results = {};\n"
        "function probe(key, url) { var s = document.createElement('script'); s.src = url;\n"
        "  s.onload = function () { results[key] = 'loaded'; done(); };\n"
        "  s.onerror = function () { results[key] = 'refused'; done(); };\n"
        "  document.body.appendChild(s); }\n"
        "function done() { if (Object.keys(results).length === 3)\n"
        "  window.webkit.messageHandlers.msg.postMessage({results: results}); }\n"
        "probe('file', 'file:///etc/hostname');\n"
        "probe('relative', 'style.js');\n"
        "probe('network', 'http://127.0.0.1:" + port + "/x.js');\n"
        "</script></body></html>");
    ASSERT_TRUE(log_->waitFor("msg", "results"));
    const auto results = log_->bodiesWith("msg", "results")[0]["results"];
    EXPECT_EQ(results["file"], "refused");
    EXPECT_EQ(results["relative"], "refused");
    EXPECT_EQ(results["network"], "refused");
    // The engine refuses the file by itself (a page of this scheme is not local); the network
    // request is refused by the page's access rules.
    EXPECT_TRUE(webtest::waitFor([&] {
        for (const auto& u : *refused_)
            if (u.port() == server.serverPort()) return true;
        return false;
    }, 2000));
    EXPECT_EQ(server.connections, 0);
}

TEST_F(HtmlPageTest, AScriptWhoseViewGoesAwayCompletesWithAnError) {
    auto* doomed = new web::WebView();
    webtest::MessageLog log(*doomed, {"msg"});
    doomed->loadHtmlString("<html><body><script>window.webkit.messageHandlers.msg.postMessage({up: 1})</script></body></html>");
    ASSERT_TRUE(log.waitFor("msg", "up"));
    bool done = false;
    std::optional<web::ScriptError> error;
    doomed->evaluateJavaScript("var t = Date.now(); while (Date.now() < t + 300) {} 1",
                               [&](json, std::optional<web::ScriptError> e) {
                                   error = std::move(e);
                                   done = true;
                               });
    delete doomed;
    ASSERT_TRUE(webtest::waitFor([&] { return done; }, webtest::kScriptMs));
    EXPECT_TRUE(error);
}

TEST_F(HtmlPageTest, NetworkCanBeAllowedForHtmlPages) {
    ConnectionCounter server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    view_->setNetworkAllowedForHtml(true);
    view_->loadHtmlString("<html><body><img src=\"http://127.0.0.1:" + std::to_string(server.serverPort()) +
                          "/x.png\"></body></html>");
    EXPECT_TRUE(webtest::waitFor([&] { return server.connections > 0; }, webtest::kPageLoadMs));
    view_->setNetworkAllowedForHtml(false);
    EXPECT_FALSE(view_->networkAllowedForHtml());
}

TEST_F(HtmlPageTest, PagesGivenInQuickSuccessionEndOnTheLastOne) {
    // A live preview hands over a page per edit; however the loads overlap (the next page given
    // while the one before is at any stage of its load), the newest must show and stay.
    std::string bulky = "<html><body><pre>";
    while (bulky.size() < 400000) bulky += "a line of a bulky page that takes a moment to load\n";
    bulky += "</pre><p id=\"p\">bulky</p></body></html>";
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        const std::string last = "last-" + std::to_string(round);
        view_->loadHtmlString(round % 2 ? "" : bulky);
        QTest::qWait(round * 4);
        view_->loadHtmlString("<html><body><p id=\"p\">middle</p></body></html>");
        QTest::qWait(round * 2);
        view_->loadHtmlString("<html><body><p id=\"p\">" + last + "</p></body></html>");
        const char* probe = "(function(){var e=document.getElementById('p');return e?e.textContent:null})()";
        EXPECT_TRUE(webtest::waitFor([&] { return run(*view_, probe).result == last; }, webtest::kPageLoadMs));
        // Once no load runs, none waits either (only the newest waiting page is kept).
        ASSERT_TRUE(webtest::waitFor([&] { return !view_->isLoading(); }, webtest::kPageLoadMs));
        EXPECT_EQ(run(*view_, probe).result, last) << "an older page landed after the newest";
    }
}

TEST_F(HtmlPageTest, ANewPageReplacesTheOldOneInMemory) {
    const auto before = web::pages::count();
    view_->loadHtmlString("<html><body><script>window.webkit.messageHandlers.msg.postMessage({n: 1})</script></body></html>");
    ASSERT_TRUE(log_->waitFor("msg", "n"));
    view_->loadHtmlString("");
    EXPECT_TRUE(webtest::waitFor([] {
        return run(*view_, "document.body ? document.body.innerHTML : ''").result == "";
    }, webtest::kPageLoadMs));
    EXPECT_LE(web::pages::count(), before + 1);
    EXPECT_EQ(view_->page()->profile(), web::sharedProfile());
    EXPECT_TRUE(web::sharedProfile()->isOffTheRecord());
    web::clearWebsiteData();  // returns at once, whatever there is to clear
}

}  // namespace

// The engine runs without the GPU exactly when its own switch says so, among the engine's switches
// or the program's arguments; and then (unless the environment picked a renderer) Qt Quick draws
// the web views in software.
TEST(WebProfileDrawing, TheEngineWithoutGpuIsToldByItsOwnSwitchAlone) {
    struct Case {
        const char* switches;
        QStringList arguments;
        bool withoutGpu;
    };
    const Case cases[] = {
        {"", {"app"}, false},
        {"--disable-gpu", {"app"}, true},
        {"  --lang=en\t--disable-gpu  --no-sandbox", {"app"}, true},
        {"--disable-gpu-compositing", {"app"}, false},
        {"--disable-gpus --xdisable-gpu", {"app"}, false},
        {"", {"app", "--disable-gpu"}, true},
        {"", {"app", "--disable-gpu-rasterization", "disable-gpu"}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(web::engineRunsWithoutGpu(QByteArray(c.switches), c.arguments), c.withoutGpu)
            << c.switches << " / " << c.arguments.join(' ').toStdString();
    }
    if (qEnvironmentVariableIsSet("QT_QUICK_BACKEND") || qEnvironmentVariableIsSet("QSG_RHI_BACKEND")) return;
    if (web::engineRunsWithoutGpu(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"), QCoreApplication::arguments())) {
        EXPECT_EQ(QQuickWindow::sceneGraphBackend().toStdString(), "software") << QQuickWindow::graphicsApi();
    }
}

// A web view nobody deleted when the application ends (a spare page kept for later, say) goes,
// with its page, before the profile: the engine then has nothing to complain about. The case runs
// itself again as a child process that leaves such a view behind, and reads what that printed.
TEST(WebProfileAtExit, PagesLeftAliveAreReleasedBeforeTheProfile) {
    if (!webtest::haveDisplay()) GTEST_SKIP() << "no display (DISPLAY is empty)";
    if (qEnvironmentVariableIsSet("DRAVIX_LEAVE_A_PAGE")) {
        auto* left = new web::WebView();  // never deleted by this case
        left->loadHtmlString("<html><body><p id=\"p\">left behind</p></body></html>");
        ASSERT_TRUE(webtest::waitFor([&] { return webtest::run(*left, "document.getElementById('p') !== null").result == true; },
                                     webtest::kPageLoadMs));
        return;
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DRAVIX_LEAVE_A_PAGE", "1");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=WebProfileAtExit.PagesLeftAliveAreReleasedBeforeTheProfile"});
    ASSERT_TRUE(child.waitForFinished(120000)) << "the child did not end";
    const QString out = QString::fromUtf8(child.readAll());
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << out.toStdString();
    EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.toStdString();
    EXPECT_FALSE(out.contains("Release of profile requested")) << out.toStdString();
}
