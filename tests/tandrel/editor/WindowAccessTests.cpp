// Every kind of window the app shows, walked through Qt's accessibility interfaces as an
// assistive technology reads it and by keyboard as a user without a pointer goes through it:
// each control that takes the focus has a name, nothing the user cannot see is reported as
// showing, and Tab (real key presses) reaches every such control once and comes back round.
//
// The editor page is a code editor: Tab indents there, so the walk leaves it with Ctrl+Tab, the
// editor's own key for moving on to the window's next control. The preview page hands Tab on
// like any control.
//
// Its own program, run alone: the keys need the display's input focus.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QTest>
#include <QToolButton>
#include <optional>
#include <set>

#include "DocumentTestSupport.h"
#include "support/AccessibleTree.h"
#include "support/KeyWindow.h"
#include "tandrel/editor/MainViewController.h"
#include "tandrel/scenes/AlertScene.h"
#include "tandrel/servers/ManageServicesViewController.h"
#include "tandrel/servers/ManageServices_TableViewCell.h"
#include "tandrel/servers/QuickConnectView.h"

using namespace documenttest;

namespace {

class WindowAccess;

// A window kind: how to bring the window up; it returns the window (its top-level widget), and
// puts the controls that keep Tab for themselves into `tabIndents`; nullptr when it cannot.
struct WindowCase {
    const char* name;
    const char* idiom;
    QWidget* (WindowAccess::*open)(std::set<QWidget*>& tabIndents);
};

void PrintTo(const WindowCase& c, std::ostream* os) { *os << c.name; }

class WindowAccess : public DocumentTest, public ::testing::WithParamInterface<WindowCase> {
public:
    void SetUp() override {
        idiom_.emplace(GetParam().idiom);
        DocumentTest::SetUp();
        if (HasFatalFailure() || IsSkipped()) return;
        declare<AlertScene, AlertSceneDelegate>(SceneKind::alert_window);
    }
    void TearDown() override {
        // The forms and the new-item dialogs go unanswered (a dialog's "Create" waits for a name).
        for (ui::ViewController* screen :
             {static_cast<ui::ViewController*>(list()), static_cast<ui::ViewController*>(explorer())}) {
            for (int i = 0; screen && i < 3 && screen->presentedViewController(); ++i) {
                screen->dismissViewControllerAnimated(false);
                settle();
            }
        }
        DocumentTest::TearDown();
        idiom_.reset();
    }

    // ---- the server window ----------------------------------------------------------------------
    QWidget* serverWindow() const { return window ? window->window() : nullptr; }
    ManageServicesViewController* list() const { return window ? window->welcome_manage_services_vc.get() : nullptr; }
    VornFileViewController* explorer() const { return window ? window->fileView_controller.get() : nullptr; }

    QWidget* firstScreen(std::set<QWidget*>&) {
        if (!waitFor([&] { return list() && list()->isViewInWindow(); }, 5000)) return nullptr;
        return serverWindow();
    }

    // Connected to the local FTP server, listing a folder and a file.
    QWidget* fileBrowser(std::set<QWidget*>&) {
        if (!connectFtp()) return nullptr;
        filestest::makeDiskFolder(disk("folder"));
        putFile("file.html", "<p>file</p>\n");
        explorer()->refresh();
        const std::string id = file_bucket_id_for_path("/file.html");
        if (!waitFor([&] { return window->find_listed_file(id) != nullptr && listed("folder"); }, 15000))
            return nullptr;
        settle();
        return serverWindow();
    }

    // The saved servers shown again over the connected file browser.
    QWidget* manageServices(std::set<QWidget*>& tabIndents) {
        if (!fileBrowser(tabIndents)) return nullptr;
        explorer()->quickConnectView->manage_services();
        if (!waitFor([&] { return list()->isViewInWindow() && list()->view()->isVisible(); }, 5000)) return nullptr;
        settle();
        return serverWindow();
    }

    QWidget* addServiceForm(std::set<QWidget*>& tabIndents) {
        if (!firstScreen(tabIndents)) return nullptr;
        list()->new_service_pressed();
        return sheetOf(list());
    }

    QWidget* updateServiceForm(std::set<QWidget*>& tabIndents) {
        if (!manageServices(tabIndents)) return nullptr;
        const int before = list()->reload_count();
        list()->reload_services_on_main();
        if (!waitFor([&] { return list()->reload_count() > before; })) return nullptr;
        settle();
        auto* row = dynamic_cast<ManageServices_TableViewCell*>(list()->services_tableView->cellForRow(0));
        if (!row) return nullptr;
        QTest::mouseClick(row->edit_button, Qt::LeftButton);
        return sheetOf(list());
    }

    QWidget* newFileDialog(std::set<QWidget*>& tabIndents) {
        if (!fileBrowser(tabIndents)) return nullptr;
        explorer()->new_file();
        return sheetOf(explorer());
    }
    QWidget* newFolderDialog(std::set<QWidget*>& tabIndents) {
        if (!fileBrowser(tabIndents)) return nullptr;
        explorer()->new_folder();
        return sheetOf(explorer());
    }
    QWidget* renameDialog(std::set<QWidget*>& tabIndents) {
        if (!fileBrowser(tabIndents)) return nullptr;
        explorer()->show_rename_alert(window->find_listed_file(file_bucket_id_for_path("/file.html")));
        return sheetOf(explorer());
    }

    // ---- alerts ------------------------------------------------------------------------------------
    // The alert window of its own.
    QWidget* alertWindow(std::set<QWidget*>&) {
        ui::Scene* s = open(SceneKind::alert_window, QVariantMap{{"title", QStringLiteral("Upload failed")},
                                                                 {"message", QStringLiteral("The server is full.")}});
        return s && !s->windows().isEmpty() ? s->windows().first() : nullptr;
    }

    // The question a changed document asks before its window closes (three answers).
    QWidget* unsavedChangesAlert(std::set<QWidget*>&) {
        std::set<QWidget*> documentIndents;  // the alert's window has no page
        if (!document(documentIndents)) return nullptr;
        type(doc_, "<!-- changed -->");
        managerOf(doc_)->main_controller->close_session_main();
        ui::AlertController* alert = awaitAlert(doc_);
        if (!alert || !waitFor([&] { return alert->isViewInWindow(); })) return nullptr;
        settle();
        return alert->view()->window();
    }

    // ---- document windows --------------------------------------------------------------------------
    // An HTML file in the editor beside its live preview.
    QWidget* document(std::set<QWidget*>& tabIndents) {
        if (!connectFtp()) return nullptr;
        putFile("page.html", "<html><body><h1>Page</h1></body></html>\n");
        doc_ = openFromBrowser("page.html");
        if (!doc_ || !waitForPageText(doc_, "<html><body><h1>Page</h1></body></html>\n")) return nullptr;
        auto* m = managerOf(doc_);
        tabIndents.insert(editorView(doc_));
        // Until the empty state has faded out and the bar shows its buttons.
        if (!waitFor([&] { return !m->ext_editor_vc->empty_view->isVisible(); }, 5000)) return nullptr;
        settle();
        return doc_->window();
    }

    // On a tablet, narrowed: the compact editor alone, with "Close", "Save" and "Preview".
    QWidget* compactDocument(std::set<QWidget*>& tabIndents) {
        if (!connectFtp()) return nullptr;
        putFile("small.html", "<html><body><h1>Small</h1></body></html>\n");
        doc_ = openFromBrowser("small.html");
        if (!doc_) return nullptr;
        auto* m = managerOf(doc_);
        if (!m->ext_compact_editor_vc) return nullptr;
        doc_->window()->resize(500, 700);
        VornEditorWKWebView* compact = m->ext_compact_editor_vc->editorWebView();
        if (!waitFor([&] { return m->uses_compact_editor(); }, 20000)) return nullptr;
        auto text = [&] {
            auto out = webtest::run(*compact, "session_manager.get_current_session().json", 5000);
            return out.done && !out.error && out.result.is_string() ? out.result.get<std::string>() : std::string();
        };
        if (!waitFor([&] { return text().find("Small") != std::string::npos; }, 20000)) return nullptr;
        tabIndents.insert(compact);
        if (!waitFor([&] { return !m->ext_compact_editor_vc->empty_view->isVisible(); }, 5000)) return nullptr;
        settle();
        return doc_->window();
    }

    // The same, with the preview in front of the compact editor (its bar's "Preview").
    QWidget* compactPreview(std::set<QWidget*>& tabIndents) {
        QWidget* w = compactDocument(tabIndents);
        if (!w || !clickBarButton(w, QStringLiteral("Preview"))) return nullptr;
        QWidget* preview = managerOf(doc_)->ext_webview_vc->previewWebView();
        if (!waitFor([&] { return preview->isVisible() && preview->window() == w; }, 5000)) return nullptr;
        tabIndents.clear();  // the editor is off screen now
        settle();
        return w;
    }

    // The editor alone: the preview column hidden with the bar's button.
    QWidget* documentPreviewHidden(std::set<QWidget*>& tabIndents) {
        QWidget* w = document(tabIndents);
        if (!w || !clickBarButton(w, QStringLiteral("Hide Preview"))) return nullptr;
        QWidget* preview = managerOf(doc_)->ext_webview_vc->previewWebView();
        if (!waitFor([&] { return !preview->isVisible() && barButton(w, QStringLiteral("Show Preview")); }, 5000))
            return nullptr;
        settle();
        return w;
    }

    // A file with no preview (a style sheet): the editor fills the window.
    QWidget* documentWithoutPreview(std::set<QWidget*>& tabIndents) {
        if (!connectFtp()) return nullptr;
        putFile("style.css", "h1 { color: teal; }\n");
        doc_ = openFromBrowser("style.css");
        if (!doc_ || !waitForPageText(doc_, "h1 { color: teal; }\n")) return nullptr;
        tabIndents.insert(editorView(doc_));
        if (!waitFor([&] { return !managerOf(doc_)->ext_editor_vc->empty_view->isVisible(); }, 5000)) return nullptr;
        settle();
        return doc_->window();
    }

private:
    // The shown bar button read by that name.
    static QToolButton* barButton(QWidget* window, const QString& name) {
        for (QToolButton* b : window->findChildren<QToolButton*>()) {
            QAccessibleInterface* i = QAccessible::queryAccessibleInterface(b);
            if (b->isVisible() && i && i->text(QAccessible::Name) == name) return b;
        }
        return nullptr;
    }
    // Clicks it once the bar shows it (the bar takes new buttons on a later turn of the main queue).
    bool clickBarButton(QWidget* window, const QString& name) {
        if (!waitFor([&] { return barButton(window, name) != nullptr; })) return false;
        QTest::mouseClick(barButton(window, name), Qt::LeftButton);
        return true;
    }
    bool connectFtp() {
        if (auto why = connectPeer("pyftpd")) {
            skip_ = *why;
            return false;
        }
        return true;
    }
    // The sheet the screen presents, once it shows.
    QWidget* sheetOf(ui::ViewController* screen) {
        auto shown = [&] {
            ui::ViewController* sheet = screen->presentedViewController();
            return sheet && sheet->isViewInWindow();
        };
        if (!waitFor(shown)) return nullptr;
        settle();
        return screen->presentedViewController()->view()->window();
    }

public:
    // Brings the case's window up and makes it the active one (or skips, or fails).
    void openActive(std::set<QWidget*>& tabIndents, QWidget*& w) {
        w = (this->*GetParam().open)(tabIndents);
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(w) << "the window did not show";
        ASSERT_TRUE(testsupport::activateForKeyboard(w));
    }

    std::string skip_;
    DocumentSceneDelegate* doc_ = nullptr;

private:
    std::optional<IdiomScope> idiom_;
};

TEST_P(WindowAccess, EveryControlHasANameNothingHiddenShowsAndTabReachesEachOnce) {
    std::set<QWidget*> tabIndents;
    QWidget* w = nullptr;
    openActive(tabIndents, w);
    if (IsSkipped() || HasFatalFailure()) return;

    const std::vector<QWidget*> controls = testsupport::focusableControls(w);
    ASSERT_FALSE(controls.empty());
    const auto unnamed = testsupport::unnamedControls(w);
    EXPECT_TRUE(unnamed.empty()) << ::testing::PrintToString(unnamed);
    EXPECT_TRUE(waitFor([&] { return testsupport::shownOutOfSight(w).empty(); }, 5000))
        << ::testing::PrintToString(testsupport::shownOutOfSight(w));
    for (QWidget* indenting : tabIndents)
        EXPECT_EQ(std::count(controls.begin(), controls.end(), indenting), 1) << testsupport::describe(indenting);

    if (!w->focusWidget()) controls.front()->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(waitFor([&] { return w->focusWidget() != nullptr; }));
    // A key for an editor page waits until the page holds the focus it was given: sent before,
    // its Ctrl+Tab is not the editor's. (A page with nothing to edit hands Tab on either way.)
    auto ready = [&tabIndents](QWidget* control) {
        auto* page = qobject_cast<web::WebView*>(control);
        return !page || !tabIndents.count(control) || webtest::waitForPageFocus(*page);
    };
    const testsupport::TabWalk walk = testsupport::tabWalk(w, tabIndents, ready);
    std::vector<std::string> stops;
    for (QWidget* s : walk.stops) stops.push_back(testsupport::describe(s));
    EXPECT_TRUE(walk.faults.empty()) << ::testing::PrintToString(walk.faults)
                                     << "\nstops: " << ::testing::PrintToString(stops);

    // Why the walk leaves the editor page with Ctrl+Tab: a plain Tab indents the text and the
    // focus stays in the page.
    for (QWidget* indenting : tabIndents) {
        auto* page = qobject_cast<web::WebView*>(indenting);
        ASSERT_TRUE(page);
        auto text = [&] {
            auto out = webtest::run(*page, "editor.getValue()", 5000);
            return out.done && !out.error && out.result.is_string() ? out.result.get<std::string>() : std::string();
        };
        auto inPage = [&] {
            QWidget* f = w->focusWidget();
            return f && (f == page || page->isAncestorOf(f));
        };
        page->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(webtest::waitForPageFocus(*page)) << "the page never took the focus";
        const std::string before = text();
        QTest::keyClick(w->focusWidget(), Qt::Key_Tab);
        EXPECT_TRUE(waitFor([&] { return text() != before; }, 5000)) << "Tab did not indent";
        EXPECT_TRUE(inPage()) << testsupport::describe(w->focusWidget());
    }
}

const WindowCase kWindows[] = {
    {"ServerWindowFirstScreen", "mac", &WindowAccess::firstScreen},
    {"FileBrowser", "mac", &WindowAccess::fileBrowser},
    {"ManageServices", "mac", &WindowAccess::manageServices},
    {"AddServiceForm", "mac", &WindowAccess::addServiceForm},
    {"UpdateServiceForm", "mac", &WindowAccess::updateServiceForm},
    {"NewFileDialog", "mac", &WindowAccess::newFileDialog},
    {"NewFolderDialog", "mac", &WindowAccess::newFolderDialog},
    {"RenameDialog", "mac", &WindowAccess::renameDialog},
    {"AlertWindow", "mac", &WindowAccess::alertWindow},
    {"UnsavedChangesAlert", "mac", &WindowAccess::unsavedChangesAlert},
    {"DocumentWindow", "mac", &WindowAccess::document},
    {"DocumentWindowPreviewHidden", "mac", &WindowAccess::documentPreviewHidden},
    {"DocumentWindowWithoutPreview", "mac", &WindowAccess::documentWithoutPreview},
    {"CompactDocumentWindow", "pad", &WindowAccess::compactDocument},
    {"CompactDocumentWindowPreview", "pad", &WindowAccess::compactPreview},
};

INSTANTIATE_TEST_SUITE_P(Windows, WindowAccess, ::testing::ValuesIn(kWindows),
                         [](const ::testing::TestParamInfo<WindowCase>& info) { return std::string(info.param.name); });

// The windows with web views: what the pages' documents report. Each page shows as a document
// with a name (the view's when the page has no title), only the document of the view that holds
// the focus says it is focused (never both pages of a window at once), and a hidden view shows
// no document.
class WebDocumentAccess : public WindowAccess {};

QAccessibleInterface* pageDocument(QWidget* view) {
    QAccessibleInterface* i = QAccessible::queryAccessibleInterface(view);
    for (int c = 0; i && c < i->childCount(); ++c) {
        QAccessibleInterface* child = i->child(c);
        if (child && child->role() == QAccessible::WebDocument) return child;
    }
    return nullptr;
}

TEST_P(WebDocumentAccess, EachPageIsANamedDocumentOnlyTheFocusedOneSaysSoAndAHiddenOneShowsNone) {
    std::set<QWidget*> tabIndents;
    QWidget* w = nullptr;
    openActive(tabIndents, w);
    if (IsSkipped() || HasFatalFailure()) return;

    std::vector<web::WebView*> shown;
    for (web::WebView* view : w->findChildren<web::WebView*>()) {
        SCOPED_TRACE(testsupport::describe(view));
        QAccessibleInterface* document = pageDocument(view);
        if (!view->isVisible()) {
            EXPECT_TRUE(!document || document->state().invisible) << "a hidden page shows its document";
            continue;
        }
        shown.push_back(view);
        ASSERT_TRUE(document) << "a shown page has no document";
        EXPECT_FALSE(document->text(QAccessible::Name).trimmed().isEmpty());
        EXPECT_FALSE(document->state().invisible);
        EXPECT_EQ(document->parent(), QAccessible::queryAccessibleInterface(view));
    }
    ASSERT_FALSE(shown.empty());

    // The documents that say they hold the focus, or something in them does.
    auto claimingFocus = [&] {
        std::vector<QWidget*> out;
        for (web::WebView* view : shown) {
            QAccessibleInterface* document = pageDocument(view);
            if (document && (document->state().focused || document->focusChild())) out.push_back(view);
        }
        return out;
    };
    QToolButton* button = nullptr;
    for (QToolButton* b : w->findChildren<QToolButton*>())
        if (b->isVisible() && b->isEnabled() && b->focusPolicy() != Qt::NoFocus) button = b;
    ASSERT_TRUE(button);
    std::vector<QWidget*> targets(shown.begin(), shown.end());
    targets.push_back(button);
    for (QWidget* target : targets) {
        SCOPED_TRACE(testsupport::describe(target));
        target->setFocus(Qt::TabFocusReason);
        auto* page = qobject_cast<web::WebView*>(target);
        if (page) {
            ASSERT_TRUE(webtest::waitForPageFocus(*page));
        } else {
            ASSERT_TRUE(waitFor([&] { return target->hasFocus(); }));
        }
        const std::vector<QWidget*> expected = page ? std::vector<QWidget*>{page} : std::vector<QWidget*>{};
        std::vector<std::string> claiming;
        for (QWidget* v : claimingFocus()) claiming.push_back(testsupport::describe(v));
        EXPECT_EQ(claimingFocus(), expected) << ::testing::PrintToString(claiming);
    }
}

const WindowCase kWebWindows[] = {
    {"DocumentWindow", "mac", &WindowAccess::document},
    {"DocumentWindowPreviewHidden", "mac", &WindowAccess::documentPreviewHidden},
    {"CompactDocumentWindowPreview", "pad", &WindowAccess::compactPreview},
};

INSTANTIATE_TEST_SUITE_P(Windows, WebDocumentAccess, ::testing::ValuesIn(kWebWindows),
                         [](const ::testing::TestParamInfo<WindowCase>& info) { return std::string(info.param.name); });

}  // namespace

