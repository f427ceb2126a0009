#pragma once
// The fixture of the main-menu tests: the app delegate's menus on the app's own windows, a
// document window's entries found by their titles and chosen as a click would, the editor page
// given the keyboard focus, and the editor preferences kept in a file of the test's own.
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
#include "app/AppDelegate.h"
#include "platform/ui/Menu.h"
#include "support/KeyWindow.h"
#include "support/MainQueueSettle.h"
#include "tandrel/foundation/VornEditorPreferencesManager.h"
#include "tandrel/foundation/VornServicesManager.h"
#include "tandrel/scenes/VornMainMenuController.h"
#include "tandrel/editor/EditorWebViewController.h"
#include "tandrel/editor/MainViewController.h"
#include "tandrel/editor/VornEditorWKWebView.h"
#include "tandrel/foundation/VornFileServerViewController.h"
#include "tandrel/servers/FileViewerScene.h"

using namespace documenttest;

namespace menutest {

inline QStringList titles(const QList<QAction*>& actions) {
    QStringList out;
    for (QAction* a : actions) out << (a->isSeparator() ? QStringLiteral("-") : ui::MenuRenderer::titleOf(a));
    return out;
}

class MainMenu : public DocumentTest {
protected:
    void SetUp() override {
        DocumentTest::SetUp();
        if (!ready || IsSkipped() || HasFatalFailure()) return;
        idiom_ = std::make_unique<IdiomScope>("mac");
        prefsFile_ = fs::temp_directory_path() / keyringtest::unique("dravix-menu-prefs") / "editor_preferences.json";
        fs::create_directories(prefsFile_.parent_path());
        app_editor_preferences_manager().theModel = std::make_shared<VornEditorPreferencesDataModel>();
        app_editor_preferences_manager().url = prefsFile_;
        app().setDelegate(&appDelegate);
        app().setNeedsRebuildMainMenu();
        ASSERT_TRUE(waitFor([&] { return entry(window, {"File", "New"}) != nullptr; }, 5000));
    }
    void TearDown() override {
        DocumentTest::TearDown();
        app_editor_preferences_manager().url.reset();
        std::error_code ec;
        if (!prefsFile_.empty()) fs::remove_all(prefsFile_.parent_path(), ec);
        idiom_.reset();
    }

    static ui::Window* windowOf(QObject* sceneDelegate) {
        auto* d = qobject_cast<ui::SceneDelegate*>(sceneDelegate);
        return d ? qobject_cast<ui::Window*>(d->window()) : nullptr;
    }
    static QMenuBar* barOf(QObject* sceneDelegate) {
        ui::Window* w = windowOf(sceneDelegate);
        return w ? qobject_cast<QMenuBar*>(w->menuWidget()) : nullptr;
    }
    static QAction* entry(QObject* sceneDelegate, const QStringList& path) {
        return ui::MenuRenderer::findAction(barOf(sceneDelegate), path);
    }
    // Shows the menu as a click on its title would (validation runs), without opening a popup.
    static void aboutToShow(QObject* sceneDelegate, const QStringList& path) {
        QStringList at;
        for (const QString& title : path) {
            at << title;
            QAction* a = entry(sceneDelegate, at);
            if (a && a->menu()) emit a->menu()->aboutToShow();
        }
    }
    // Chooses the entry: validation first, as the menu shows, then the click.
    static bool chooseEntry(QObject* sceneDelegate, const QStringList& path) {
        aboutToShow(sceneDelegate, path.mid(0, path.size() - 1));
        QAction* a = entry(sceneDelegate, path);
        if (!a || !a->isEnabled()) return false;
        a->trigger();
        return true;
    }
    // The editor page has the keyboard focus, as after a click into it.
    void focusEditor(DocumentSceneDelegate* doc) {
        auto* view = editorView(doc);
        ASSERT_TRUE(view);
        view->setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(waitFor([&] { return windowOf(doc)->focusWidget() && (windowOf(doc)->focusWidget() == view ||
                                                                           view->isAncestorOf(windowOf(doc)->focusWidget())); },
                            5000));
    }
    // The same, before keys are sent: the window is the active one and the page itself holds the
    // focus (it hears of the focus from its own process, after Qt moved it).
    void focusEditorForKeys(DocumentSceneDelegate* doc) {
        ui::Window* w = windowOf(doc);
        ASSERT_TRUE(testsupport::activateForKeyboard(w));
        // Into the editor's text, as Tab or a click into the text puts it.
        editorView(doc)->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(webtest::waitForPageFocus(*editorView(doc))) << "the page never took the focus";
    }
    nlohmann::json prefsOnDisk() const {
        std::ifstream in(prefsFile_);
        nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
        return j.is_object() ? j : nlohmann::json::object();
    }
    // The file as the server gives it back.
    std::string curlRead(const std::string& name) const {
        QProcess curl;
        curl.start("curl", {"-s", "--max-time", "20", "--user", QString::fromStdString(peer_.user + ":" + peer_.password),
                            QString::fromStdString(peer_.url + name)});
        if (!curl.waitForFinished(30000)) return "<curl did not finish>";
        return curl.readAllStandardOutput().toStdString();
    }
    DocumentSceneDelegate* openChanged(const std::string& name, const std::string& text, const std::string& typed) {
        putFile(name, text);
        DocumentSceneDelegate* doc = openFromBrowser(name);
        if (!doc || !waitForPageText(doc, text)) return nullptr;
        type(doc, typed);
        return doc;
    }

    AppDelegate appDelegate{AppLaunchServices{}};
    fs::path prefsFile_;
    std::unique_ptr<IdiomScope> idiom_;
};

}  // namespace menutest
