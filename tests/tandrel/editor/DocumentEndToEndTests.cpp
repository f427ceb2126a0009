// Document windows end to end against the local FTP and WebDAV servers: a file opened from the file
// browser shows in the editor page, edits made in the page are saved back to the server's disk,
// HTML shows in the live preview and follows edits, other types show the no-preview panel, closing
// a changed file asks first, a save the server refuses keeps everything as it was, and a closed
// window leaves none of its pages or their renderer processes behind.
#include <gtest/gtest.h>

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebChannel>
#include <QWebEnginePage>

#include <algorithm>

#include "support/AccessibleTree.h"
#include "support/MainQueueSettle.h"
#include "support/Pictures.h"
#include "DocumentTestSupport.h"
#include "platform/ui/SplitViewController.h"
#include "tandrel/editor/VORNSplitViewController.h"
#include "tandrel/editor/VornNoPreviewNeededViewController.h"
#include "tandrel/editor/VornPreviewWKWebView.h"
#include "tandrel/foundation/VornEditorPreferencesManager.h"

using namespace documenttest;

namespace {

const std::vector<std::string> kPeers{"pyftpd", "vsftpd", "apache", "sshd"};

class DocumentEndToEnd : public DocumentTest, public ::testing::WithParamInterface<std::string> {};

std::string peerName(const ::testing::TestParamInfo<std::string>& info) { return info.param; }

TEST_P(DocumentEndToEnd, OpensAFileFromTheBrowserAndSavesEditsToTheServer) {
    CONNECT_OR_SKIP(GetParam());
    // Quotes, a backslash, non-ASCII text and CR LF line ends survive the trip both ways.
    const std::string original = "<h1>Caf\xC3\xA9 \"quotes\" & 'apostrophes'</h1>\r\n<p>line two\\n</p>\r\n";
    putFile("index.html", original);

    DocumentSceneDelegate* doc = openFromBrowser("index.html");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, original)) << "the page never held the file's text";
    auto* m = managerOf(doc);
    EXPECT_TRUE(m->ace_loaded);
    EXPECT_TRUE(waitFor([&] { return m->my_current_editor_info.file_path == "/index.html"; }, 5000));
    EXPECT_TRUE(waitFor([&] { return m->ext_editor_vc->title() == QString::fromUtf8("index \xC2\xB7 HTML"); }, 5000))
        << m->ext_editor_vc->title().toStdString();
    EXPECT_EQ(doc->window() ? static_cast<ui::Window*>(doc->window())->windowScene()->title() : QString(),
              QString::fromUtf8("index \xC2\xB7 HTML"));
    auto r = record(doc, "/index.html");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->undo_count, 0);

    type(doc, "<!-- edited -->");
    ASSERT_EQ(pageText(doc), "<!-- edited -->" + original);
    const int64_t count = pageCount(doc);
    EXPECT_GT(count, 0);

    // The bar's save button: the page's text reaches the server's disk byte for byte, and the
    // checkmark shows once it is there.
    m->ext_editor_vc->save_editor();
    ASSERT_TRUE(waitFor([&] { return diskText("index.html") == "<!-- edited -->" + original; }, 30000))
        << "the server's file holds: " << diskText("index.html");
    EXPECT_TRUE(waitFor([&] { return m->ext_editor_vc->save_bar_button->image().symbolName() == "checkmark"; }, 10000));
    EXPECT_EQ(record(doc, "/index.html")->undo_count, count) << "a successful write marks the file saved";
    EXPECT_EQ(alertOf(doc), nullptr);

    // Saved: closing asks nothing and the window goes.
    QPointer<DocumentSceneDelegate> weak(doc);
    m->main_controller->close_session_main();
    EXPECT_TRUE(waitFor([&] { return !isOpen(weak); }, 10000));
    EXPECT_EQ(diskText("index.html"), "<!-- edited -->" + original);
}

TEST_P(DocumentEndToEnd, ASaveTheServerRefusesShowsTheErrorAndKeepsTheTextAndTheChangedState) {
    CONNECT_OR_SKIP(GetParam());
    putFile("page.html", "<p>server text</p>\n");
    DocumentSceneDelegate* doc = openFromBrowser("page.html");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, "<p>server text</p>\n"));
    auto* m = managerOf(doc);

    type(doc, "local edit ");
    makeReadOnly();
    m->ext_editor_vc->save_editor();
    auto* alert = awaitAlert(doc);
    ASSERT_TRUE(alert) << "no error was shown";
    EXPECT_EQ(alert->alertTitle(), "An Error Occurred");
    EXPECT_FALSE(alert->message().isEmpty());
    ASSERT_EQ(alert->actions().size(), 1u);
    EXPECT_EQ(alert->actions()[0]->title(), "OK");

    // Nothing on the server changed, the page keeps the edit, the file still counts as changed
    // and the save mark never showed.
    EXPECT_EQ(diskText("page.html"), "<p>server text</p>\n");
    EXPECT_EQ(pageText(doc), "local edit <p>server text</p>\n");
    auto r = record(doc, "/page.html");
    ASSERT_TRUE(r);
    EXPECT_LT(r->undo_count, pageCount(doc));
    EXPECT_NE(m->ext_editor_vc->save_bar_button->image().symbolName(), "checkmark");
    alert->performAction(0);
    ASSERT_TRUE(waitFor([&] { return alertOf(doc) == nullptr; }, 5000));

    // So closing still asks.
    m->main_controller->close_session_main();
    alert = awaitAlert(doc);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->alertTitle(), "Unsaved Changes");
    ASSERT_TRUE(choose(doc, "Cancel"));
    ASSERT_TRUE(waitFor([&] { return alertOf(doc) == nullptr; }, 5000));

    // Once the server takes writes again, the same text is saved.
    restoreWritable();
    bool written = false;
    m->main_controller->request_save([&](bool w) { written = w; });
    ASSERT_TRUE(waitFor([&] { return written; }, 30000));
    EXPECT_EQ(diskText("page.html"), "local edit <p>server text</p>\n");
}

// The three answers to "Unsaved Changes" when the window's close button is pressed on a changed file.
struct CloseCase {
    const char* answer;
    bool window_closes;
    bool server_gets_edit;
};

class DocumentCloseDecision : public DocumentTest,
                              public ::testing::WithParamInterface<std::tuple<std::string, CloseCase>> {};

TEST_P(DocumentCloseDecision, TheWindowsCloseButtonAsksAndEachAnswerDoesWhatItSays) {
    const auto& [kind, c] = GetParam();
    CONNECT_OR_SKIP(kind);
    putFile("style.css", "body { color: red; }\n");
    DocumentSceneDelegate* doc = openFromBrowser("style.css");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, "body { color: red; }\n"));
    type(doc, "/* new */ ");
    QPointer<DocumentSceneDelegate> weak(doc);

    doc->window()->close();
    auto* alert = awaitAlert(doc);
    ASSERT_TRUE(alert) << "closing a changed file did not ask";
    EXPECT_EQ(alert->alertTitle(), "Unsaved Changes");
    EXPECT_EQ(alert->message(), "Do you want to save your changes to \u201Cstyle.css\u201D?");
    EXPECT_TRUE(isOpen(weak));
    ASSERT_TRUE(choose(doc, c.answer));

    if (c.window_closes) {
        EXPECT_TRUE(waitFor([&] { return !isOpen(weak); }, 30000)) << c.answer << " left the window open";
    } else {
        ASSERT_TRUE(testsupport::settleMainQueue(3));
        EXPECT_TRUE(isOpen(weak));
        EXPECT_EQ(pageText(weak), "/* new */ body { color: red; }\n");
        EXPECT_TRUE(record(weak, "/style.css"));
    }
    EXPECT_EQ(diskText("style.css"), c.server_gets_edit ? "/* new */ body { color: red; }\n" : "body { color: red; }\n");
    // The file's session record goes with a closed window.
    if (c.window_closes) {
        const auto& sessions = app_sessions_manager().service_sessions[server_->id];
        ASSERT_TRUE(sessions);
        for (const auto& s : sessions->ace_file_sessions) EXPECT_NE(s->file_path, "/style.css");
    }
}

std::string closeName(const ::testing::TestParamInfo<std::tuple<std::string, CloseCase>>& info) {
    return std::get<0>(info.param) + "_" + std::get<1>(info.param).answer;
}

INSTANTIATE_TEST_SUITE_P(Peers, DocumentCloseDecision,
                         ::testing::Combine(::testing::ValuesIn(kPeers),
                                            ::testing::Values(CloseCase{"Save", true, true},
                                                              CloseCase{"Discard", true, false},
                                                              CloseCase{"Cancel", false, false})),
                         closeName);

INSTANTIATE_TEST_SUITE_P(Peers, DocumentEndToEnd, ::testing::ValuesIn(kPeers), peerName);

// ---- preview --------------------------------------------------------------------------------------

class DocumentPreview : public DocumentTest {
protected:
    std::string previewText(DocumentInterfaceManager* m) {
        auto* view = m->ext_webview_vc ? m->ext_webview_vc->previewWebView() : nullptr;
        if (!view) return {};
        auto out = webtest::run(*view, "document.body ? document.body.innerText : ''", 5000);
        return out.done && out.result.is_string() ? out.result.get<std::string>() : std::string();
    }
};

TEST_F(DocumentPreview, AnHtmlFileShowsBesideTheEditorAndFollowsEdits) {
    CONNECT_OR_SKIP("pyftpd");
    putFile("home.html", "<html><body><h1>Welcome</h1></body></html>\n");
    DocumentSceneDelegate* doc = openFromBrowser("home.html");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, "<html><body><h1>Welcome</h1></body></html>\n"));
    auto* m = managerOf(doc);

    // The desktop lays the preview out beside the regular editor, as a tablet does.
    ASSERT_TRUE(m->split_view_controller);
    EXPECT_EQ(m->split_view_controller->displayMode(), ui::SplitViewController::DisplayMode::oneBesideSecondary);
    EXPECT_FALSE(m->ext_compact_editor_vc);
    ASSERT_TRUE(m->ext_webview_vc && m->ext_webview_vc->isViewLoaded());
    EXPECT_TRUE(m->ext_webview_vc->view()->isVisible());
    EXPECT_TRUE(m->ext_editor_vc->view()->isVisible());
    // The file shows in the preview as soon as it is open.
    EXPECT_TRUE(waitFor([&] { return previewText(m).find("Welcome") != std::string::npos; }, 20000))
        << "the preview shows: " << previewText(m);

    page(doc, "editor.gotoLine(1, 16); editor.insert('Hello and ')");
    EXPECT_TRUE(waitFor([&] { return previewText(m).find("Hello and Welcome") != std::string::npos; }, 20000))
        << "the preview shows: " << previewText(m);

    // The "Preview" request of the bar asks the page for its content again.
    m->request_preview_content();
    EXPECT_TRUE(waitFor([&] { return previewText(m).find("Hello and Welcome") != std::string::npos; }, 20000));

    // The desktop's toggle hides the preview column and shows it again.
    auto* editor = m->ext_editor_vc.get();
    // The bar's right side: the document's encoding and line endings, then the toggle.
    ASSERT_TRUE(waitFor([&] { return editor->navigationItem()->rightBarButtonItems().size() == 2u; }, 5000));
    EXPECT_EQ(editor->navigationItem()->rightBarButtonItems().front()->title(), QStringLiteral("UTF-8 \u00B7 LF"));
    EXPECT_EQ(editor->navigationItem()->rightBarButtonItems().back(), editor->toggle_preview_button);
    editor->toggle_preview_btn_pressed();
    EXPECT_EQ(m->split_view_controller->displayMode(), ui::SplitViewController::DisplayMode::secondaryOnly);
    EXPECT_TRUE(waitFor([&] { return !m->ext_webview_vc->view()->isVisible(); }, 3000));
    editor->toggle_preview_btn_pressed();
    EXPECT_EQ(m->split_view_controller->displayMode(), ui::SplitViewController::DisplayMode::oneBesideSecondary);
    EXPECT_TRUE(waitFor([&] { return m->ext_webview_vc->view()->isVisible(); }, 3000));

    // Every picture button of the window, the preview toggle among them, is read by a name.
    const auto unnamed = testsupport::unnamedButtons(doc->window());
    EXPECT_TRUE(unnamed.empty()) << ::testing::PrintToString(unnamed);
    EXPECT_FALSE(testsupport::accessibleNames(doc->window(), QAccessible::Button).isEmpty());

    // Both pages draw again once the column is back: the editor's text and the preview's
    // heading, not a blank column. A page paints when its renderer gets to it, so the window is
    // looked at until both show (a loaded machine takes longer) and kept in the screenshot folder.
    QImage shot;
    auto colours = [&](QWidget* part) { return pictures::colours(pictures::partOf(shot, doc->window(), part)); };
    const bool drawn = waitFor(
        [&] {
            shot = grab(doc->window());
            return !shot.isNull() && colours(m->ext_webview_vc->previewWebView()) >= 3 &&
                   colours(m->ext_editor_vc->editorWebView()) >= 3;
        },
        20000);
    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(QString::fromStdString((screenshotDir() / "document_window_html_preview.png").string())));
    EXPECT_TRUE(drawn);
    EXPECT_GE(colours(m->ext_webview_vc->previewWebView()), 3);
    EXPECT_GE(colours(m->ext_editor_vc->editorWebView()), 3);
}

// A loopback web server for a page's style sheet: it answers every request with the CSS and
// counts what was asked.
class StyleServer : public QTcpServer {
public:
    StyleServer() {
        QObject::connect(this, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = nextPendingConnection()) {
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    const QByteArray head = s->readAll();
                    if (!head.contains("\r\n\r\n")) return;
                    ++requests;
                    const QByteArray css = "h1 { color: rgb(0, 128, 0); }";
                    s->write("HTTP/1.0 200 OK\r\nContent-Type: text/css\r\nContent-Length: " +
                             QByteArray::number(css.size()) + "\r\nConnection: close\r\n\r\n" + css);
                    s->disconnectFromHost();
                });
                QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    int requests = 0;
};

// Whether the process has ended: gone, or a zombie its parent has not reaped yet.
bool processEnded(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return true;
    const QByteArray line = stat.readAll();
    const int close = line.lastIndexOf(')');
    return close < 0 || close + 2 >= line.size() || line[close + 2] == 'Z' || line[close + 2] == 'X';
}

// A closed window leaves nothing of its pages behind: the editor's and the preview's views, pages,
// web channels and the objects registered on them are deleted, and the pages' renderer processes
// end (a page kept alive, or a renderer kept for it, would keep the document's text and script
// heap for as long as the app runs).
TEST_F(DocumentPreview, ClosingTheWindowDeletesItsPagesAndEndsTheirRenderers) {
    CONNECT_OR_SKIP("pyftpd");
    putFile("gone.html", "<html><body><h1>Going</h1></body></html>\n");
    DocumentSceneDelegate* doc = openFromBrowser("gone.html");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, "<html><body><h1>Going</h1></body></html>\n"));
    auto* m = managerOf(doc);
    ASSERT_TRUE(waitFor([&] { return previewText(m).find("Going") != std::string::npos; }, 20000));

    std::vector<std::pair<std::string, QPointer<QObject>>> objects;
    std::vector<qint64> renderers;
    for (const auto& [name, view] : {std::pair<std::string, web::WebView*>{"editor", editorView(doc)},
                                     std::pair<std::string, web::WebView*>{"preview", m->ext_webview_vc->previewWebView()}}) {
        ASSERT_TRUE(view && view->page()) << name;
        // The preview's page has no bridge to the app at all; the editor's has its channel.
        ASSERT_EQ(view->page()->webChannel() != nullptr, name == "editor") << name;
        objects.emplace_back(name + " view", view);
        objects.emplace_back(name + " page", view->page());
        if (QWebChannel* channel = view->page()->webChannel()) {
            objects.emplace_back(name + " channel", channel);
            for (QObject* registered : channel->registeredObjects()) objects.emplace_back(name + " channel object", registered);
        }
        renderers.push_back(view->page()->renderProcessPid());
        EXPECT_GT(renderers.back(), 0) << name;
    }

    QPointer<DocumentSceneDelegate> weak(doc);
    doc->window()->close();
    ASSERT_TRUE(waitFor([&] { return !isOpen(weak); }, 10000));
    EXPECT_TRUE(waitFor([&] {
        return std::all_of(objects.begin(), objects.end(), [](const auto& o) { return o.second.isNull(); });
    }, 10000));
    for (const auto& [name, object] : objects) EXPECT_TRUE(object.isNull()) << name << " is still alive";
    EXPECT_TRUE(waitFor([&] { return std::all_of(renderers.begin(), renderers.end(), processEnded); }, 10000))
        << "a closed window's renderer process is still running";
}

TEST_F(DocumentPreview, APageLoadsItsRemoteStyleSheet) {
    CONNECT_OR_SKIP("pyftpd");
    StyleServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const std::string html = "<html><head><link rel=\"stylesheet\" href=\"http://127.0.0.1:" +
                             std::to_string(server.serverPort()) + "/site.css\"></head><body><h1>Styled</h1></body></html>\n";
    putFile("styled.html", html);
    DocumentSceneDelegate* doc = openFromBrowser("styled.html");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, html));
    auto* m = managerOf(doc);
    ASSERT_TRUE(waitFor([&] { return previewText(m).find("Styled") != std::string::npos; }, 20000));
    EXPECT_TRUE(waitFor([&] { return server.requests > 0; }, 20000)) << "the preview never asked for its style sheet";
    auto* view = m->ext_webview_vc->previewWebView();
    EXPECT_TRUE(waitFor(
        [&] {
            auto out = webtest::run(*view, "getComputedStyle(document.querySelector('h1')).color", 5000);
            return out.done && out.result == "rgb(0, 128, 0)";
        },
        20000))
        << "the style sheet was not applied";
}

TEST_F(DocumentPreview, ACssFileShowsTheNoPreviewPanel) {
    CONNECT_OR_SKIP("pyftpd");
    putFile("site.css", "h1 { color: teal; }\n");
    DocumentSceneDelegate* doc = openFromBrowser("site.css");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, "h1 { color: teal; }\n"));
    auto* m = managerOf(doc);

    // Without preview support the editor fills the window.
    EXPECT_EQ(m->split_view_controller->displayMode(), ui::SplitViewController::DisplayMode::secondaryOnly);
    EXPECT_FALSE(m->split_view_controller->showsSecondaryOnlyButton());
    // No preview toggle: the bar's right side shows the document's encoding alone.
    ASSERT_TRUE(waitFor([&] { return m->ext_editor_vc->navigationItem()->rightBarButtonItems().size() == 1u; }, 5000));
    EXPECT_EQ(m->ext_editor_vc->navigationItem()->rightBarButtonItems().front(), m->ext_editor_vc->encoding_bar_item);
    const QImage cssShot = grab(doc->window());
    EXPECT_TRUE(cssShot.save(QString::fromStdString((screenshotDir() / "document_window_css.png").string())));
    EXPECT_GE(pictures::colours(pictures::partOf(cssShot, doc->window(), m->ext_editor_vc->editorWebView())), 3)
        << "the editor drew the file";

    // The content that reaches the preview screen is not HTML: the panel says so.
    m->request_preview_content();
    ASSERT_TRUE(waitFor([&] { return m->ext_webview_vc->isViewLoaded() && m->ext_webview_vc->noPreviewNeededView &&
                                     ui::alpha(m->ext_webview_vc->noPreviewNeededView) > 0.99; },
                        20000));
    EXPECT_EQ(m->ext_webview_vc->noPreviewNeededView->no_preview_text->text(),
              "We're very sorry, but we don't support live code preview for 'TEXT/CSS' documents yet.");
    EXPECT_LT(ui::alpha(m->ext_webview_vc->previewWebView()), 0.01);

    // The preview screen pushed over the editor, as the "Preview" button does where it shows.
    auto nav = ui::make<ui::NavigationController>();
    nav->pushViewController(m->ext_webview_vc, false);
    nav->view()->resize(700, 500);
    nav->view()->show();
    const QImage shot = grab(nav->view());
    EXPECT_TRUE(shot.save(QString::fromStdString((screenshotDir() / "document_no_preview_panel.png").string())));
    EXPECT_GE(pictures::colours(pictures::partOf(shot, nav->view(), m->ext_webview_vc->noPreviewNeededView->no_preview_text)), 3)
        << "the panel's words are drawn";
    nav->view()->hide();
    nav->popToRootViewControllerAnimated(false);
}

// ---- disconnect and reopen ------------------------------------------------------------------------

TEST_F(DocumentTest, ADisconnectAsksAboutAChangedFileAndCancelKeepsTheWindow) {
    CONNECT_OR_SKIP("pyftpd");
    putFile("a.js", "let a = 1;\n");
    DocumentSceneDelegate* doc = openDocument("/a.js", false);
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, "let a = 1;\n"));
    type(doc, "// todo\n");
    QPointer<DocumentSceneDelegate> weak(doc);
    // An unchanged window of the same server.
    putFile("b.js", "let b = 2;\n");
    DocumentSceneDelegate* other = openDocument("/b.js", false);
    ASSERT_TRUE(other);
    ASSERT_TRUE(waitForPageText(other, "let b = 2;\n"));
    QPointer<DocumentSceneDelegate> weakOther(other);

    // The server's windows close as a disconnect closes them.
    std::optional<bool> closed;
    auto closeWithServer = [&] {
        closed.reset();
        SceneManager::close_document_scenes_of(window, server_->id, [&](bool c) { closed = c; });
    };
    closeWithServer();
    auto* alert = awaitAlert(doc);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->alertTitle(), "Unsaved Changes");
    ASSERT_TRUE(choose(doc, "Cancel"));
    ASSERT_TRUE(waitFor([&] { return closed.has_value(); }, 10000));
    EXPECT_FALSE(*closed);
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    EXPECT_TRUE(isOpen(weak));
    EXPECT_TRUE(isOpen(weakOther));
    EXPECT_EQ(pageText(doc), "// todo\nlet a = 1;\n");

    // Discard: both go, the unchanged one without being asked; the server keeps its copy.
    closeWithServer();
    ASSERT_TRUE(awaitAlert(doc));
    ASSERT_TRUE(choose(doc, "Discard"));
    ASSERT_TRUE(waitFor([&] { return closed.has_value(); }, 10000));
    EXPECT_TRUE(*closed);
    EXPECT_TRUE(waitFor([&] { return !isOpen(weak) && !isOpen(weakOther); }, 10000));
    EXPECT_EQ(diskText("a.js"), "let a = 1;\n");
}

TEST_F(DocumentTest, ALaterWindowStartsWithAReadyEditorPageAndStillGetsItsFileAndPreferences) {
    CONNECT_OR_SKIP("pyftpd");
    putFile("first.js", "one\n");
    putFile("second.js", "two\n");
    DocumentSceneDelegate* first = openDocument("/first.js", false);
    ASSERT_TRUE(first);
    ASSERT_TRUE(waitForPageText(first, "one\n"));
    EXPECT_FALSE(managerOf(first)->ext_editor_vc->page_preloaded);
    ASSERT_TRUE(waitFor([] { return EditorWebViewController::warm_page_ready(); }, webtest::kPageLoadMs))
        << "no editor page was made ready for the next window";

    app_editor_preferences_manager().theModel->gutter_visible = false;
    DocumentSceneDelegate* second = openDocument("/second.js", false);
    ASSERT_TRUE(second);
    EXPECT_TRUE(managerOf(second)->ext_editor_vc->page_preloaded);
    ASSERT_TRUE(waitForPageText(second, "two\n"));
    EXPECT_TRUE(waitFor([&] { return pageQuiet(second, "editor.renderer.getShowGutter()") == json(false); }, 5000))
        << "the preferences did not reach the ready page";
    EXPECT_TRUE(waitFor([&] { return ui::alpha(editorView(second)) > 0.99; }, 5000));
    // Its own page, not the first window's.
    EXPECT_EQ(pageText(first), "one\n");
    EXPECT_NE(editorView(first), editorView(second));
}

// The text of the current session of any editor page, or nothing.
std::optional<std::string> textIn(web::WebView* view) {
    if (!view) return std::nullopt;
    auto out = webtest::run(*view, "session_manager.get_current_session()", 5000);
    if (!out.done || out.error || !out.result.is_object() || !out.result["json"].is_string()) return std::nullopt;
    json state = json::parse(out.result["json"].get<std::string>(), nullptr, false);
    if (!state.is_object() || !state["value"].is_string()) return std::nullopt;
    return state["value"].get<std::string>();
}

TEST_F(DocumentTest, OnATabletTheOpenFileMovesBetweenTheRegularAndTheCompactEditorAsTheWindowNarrowsAndWidens) {
    IdiomScope idiom("pad");
    CONNECT_OR_SKIP("pyftpd");
    putFile("notes.txt", "first line\n");
    DocumentSceneDelegate* doc = openFromBrowser("notes.txt");
    ASSERT_TRUE(doc);
    auto* m = managerOf(doc);
    ASSERT_TRUE(m->ext_compact_editor_vc) << "a tablet has a compact editor";
    doc->window()->resize(1000, 700);
    ASSERT_TRUE(waitForPageText(doc, "first line\n")) << "the regular page did not get the file";
    EXPECT_FALSE(m->uses_compact_editor());
    auto* compactView = m->ext_compact_editor_vc->editorWebView();
    EXPECT_EQ(textIn(compactView), std::nullopt) << "the hidden compact page ignores doc_ready";

    // Narrow: the split view collapses and the compact page takes the file over.
    doc->window()->resize(500, 700);
    ASSERT_TRUE(waitFor([&] { return m->uses_compact_editor(); }, 20000));
    ASSERT_TRUE(waitFor([&] { return textIn(compactView) == "first line\n"; }, 20000))
        << "the compact page did not take the file over";
    page(doc, "1");  // the regular page still answers
    webtest::run(*compactView, "editor.navigateFileEnd(); editor.insert('second line\\n')");
    ASSERT_EQ(textIn(compactView), "first line\nsecond line\n");

    // Wide again: the edit made in the compact page moves back to the regular page.
    doc->window()->resize(1000, 700);
    ASSERT_TRUE(waitFor([&] { return !m->uses_compact_editor(); }, 20000));
    EXPECT_TRUE(waitFor([&] { return pageText(doc) == "first line\nsecond line\n"; }, 20000))
        << "the regular page shows: " << pageText(doc).value_or("(nothing)");
    // And it still counts as changed, so closing asks.
    m->main_controller->close_session_main();
    auto* alert = awaitAlert(doc);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->alertTitle(), "Unsaved Changes");
    ASSERT_TRUE(choose(doc, "Save"));
    EXPECT_TRUE(waitFor([&] { return diskText("notes.txt") == "first line\nsecond line\n"; }, 30000));
}

// A file that cannot be opened: the window that was made for it goes at once (it would only say
// "Please open a document"), and the error shows in the server window that opened the file, never
// over an empty editor.
struct FailedOpen {
    const char* name;
    std::string file;
    std::string bytes;
    bool removed_before_open;  // listed, then gone from the server: the server cannot serve it
};

void PrintTo(const FailedOpen& c, std::ostream* os) { *os << c.name; }

class DocumentFailedOpen : public DocumentTest, public ::testing::WithParamInterface<FailedOpen> {};

TEST_P(DocumentFailedOpen, TheEmptyWindowGoesAndTheErrorShowsInTheServerWindow) {
    const FailedOpen& c = GetParam();
    CONNECT_OR_SKIP("pyftpd");
    putFile(c.file, c.bytes);
    auto explorer = window->fileView_controller;
    ASSERT_TRUE(explorer);
    const std::string id = file_bucket_id_for_path("/" + c.file);
    explorer->refresh();
    ASSERT_TRUE(waitFor([&] { return window->find_listed_file(id) != nullptr; }, 15000));
    if (c.removed_before_open) fs::remove(disk(c.file));

    const int before = connected;
    explorer->open_file(window->find_listed_file(id));
    ASSERT_TRUE(waitFor([&] { return connected > before; }, 10000)) << "no document window";
    bool overEditor = false;
    ui::AlertController* alert = awaitServerWindowAlert(overEditor);
    ASSERT_TRUE(alert) << "the failed open said nothing";
    EXPECT_EQ(alert->alertTitle(), "An Error Occurred");
    EXPECT_FALSE(overEditor) << "the error showed over the empty editor";
    EXPECT_TRUE(waitFor([&] { return SceneManager::document_scenes().empty(); }, 10000)) << "an empty document window stayed";
    ASSERT_TRUE(alert->performAction(0));
    // The server window stays, and its file is as it was.
    EXPECT_EQ(SceneManager::file_viewer_scenes().size(), 1u);
    if (!c.removed_before_open) {
        EXPECT_EQ(diskText(c.file), c.bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DocumentFailedOpen,
    ::testing::Values(FailedOpen{"png", "logo.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff\xfe", 18), false},
                      FailedOpen{"gone", "gone.html", "<p>gone</p>\n", true}),
    [](const ::testing::TestParamInfo<FailedOpen>& info) { return std::string(info.param.name); });

TEST_F(DocumentTest, OpeningAFileThatIsOpenBringsItsWindowForward) {
    CONNECT_OR_SKIP("pyftpd");
    putFile("x.txt", "x\n");
    putFile("y.txt", "y\n");
    DocumentSceneDelegate* doc = openDocument("/x.txt", false);
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, "x\n"));
    DocumentSceneDelegate* y = openDocument("/y.txt", false);
    ASSERT_TRUE(y);
    EXPECT_EQ(SceneManager::document_scenes().size(), 2u);

    SceneManager::open_document_scene(server_->id, file_bucket_id_for_path("/x.txt"), false);
    // The request is done when the file's window comes forward.
    EXPECT_TRUE(waitFor([&] { return app().keyWindow() == doc->window(); }, 5000));
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    EXPECT_EQ(SceneManager::document_scenes().size(), 2u) << "a second window of the same file was made";
}

}  // namespace

// The open document window as the assistive technologies read it: every control that takes the
// focus has a name, the web views are named, the preview toggle is named by what it does next, and
// nothing out of sight (the faded-out empty state, the no-preview panel) is reported as showing.
TEST_F(DocumentPreview, TheWindowReadsAsItShows) {
    CONNECT_OR_SKIP("pyftpd");
    putFile("named.html", "<html><body><h1>Named</h1></body></html>\n");
    DocumentSceneDelegate* doc = openFromBrowser("named.html");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, "<html><body><h1>Named</h1></body></html>\n"));
    auto* m = managerOf(doc);
    ASSERT_TRUE(m && m->ext_editor_vc && m->ext_webview_vc);
    auto* editor = m->ext_editor_vc.get();
    QWidget* window = doc->window();

    // The empty state is hidden once it has faded out.
    ASSERT_TRUE(editor->empty_view);
    EXPECT_TRUE(waitFor([&] { return !editor->empty_view->isVisible(); }, 5000));
    EXPECT_TRUE(waitFor([&] { return testsupport::shownOutOfSight(window).empty(); }, 5000))
        << ::testing::PrintToString(testsupport::shownOutOfSight(window));
    const QString emptyText = QString::fromUtf8(EditorWebViewController::kEmptyStateText);
    for (const auto& e : testsupport::accessibleElements(window)) {
        EXPECT_NE(e.name, emptyText);
        EXPECT_NE(e.iface->text(QAccessible::Value), emptyText);
    }

    // Every shown control that takes the focus has a name.
    for (const auto& e : testsupport::accessibleElements(window)) {
        if (!e.iface->state().focusable) continue;
        QObject* o = e.iface->object();
        EXPECT_FALSE(e.name.trimmed().isEmpty())
            << (o ? o->metaObject()->className() : "(no object)") << " '" << (o ? o->objectName().toStdString() : "") << "'";
    }

    // The web views.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(editorView(doc))->text(QAccessible::Name), QStringLiteral("Editor"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(m->ext_webview_vc->previewWebView())->text(QAccessible::Name),
              QStringLiteral("Live Preview"));

    // The toggle is named by what pressing it does (the bar takes its new button on a later turn
    // of the main queue).
    auto buttons = [&] { return testsupport::accessibleNames(window, QAccessible::Button); };
    EXPECT_TRUE(buttons().contains(QStringLiteral("Hide Preview"))) << buttons().join(", ").toStdString();
    editor->toggle_preview_btn_pressed();
    EXPECT_TRUE(waitFor([&] { return buttons().contains(QStringLiteral("Show Preview")); }, 3000))
        << buttons().join(", ").toStdString();
    EXPECT_FALSE(buttons().contains(QStringLiteral("Hide Preview")));
    editor->toggle_preview_btn_pressed();
    EXPECT_TRUE(waitFor([&] { return buttons().contains(QStringLiteral("Hide Preview")); }, 3000))
        << buttons().join(", ").toStdString();
    EXPECT_FALSE(buttons().contains(QStringLiteral("Show Preview")));
    ASSERT_TRUE(waitFor([&] { return m->ext_webview_vc->view()->isVisible(); }, 3000));
    // The no-preview panel stays out of the tree while the preview shows.
    EXPECT_TRUE(testsupport::shownOutOfSight(window).empty()) << ::testing::PrintToString(testsupport::shownOutOfSight(window));
}
