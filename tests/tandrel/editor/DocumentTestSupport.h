#pragma once
// Document windows as the app makes them: a file-viewer window (connected to a local server when a
// test needs one), document windows opened through the scene layer with the user info the file
// browser gives, the real editor page copied into the app's folder, and waits on the event loop.
#include <iostream>

#include <gtest/gtest.h>

#include <QImage>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "WebTestSupport.h"
#include "platform/keychain/KeyringTestSupport.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Idiom.h"
#include "platform/ui/View.h"
#include "tandrel/editor/DocumentInterfaceManager.h"
#include "tandrel/editor/EditorWebViewController.h"
#include "tandrel/editor/MainViewController.h"
#include "tandrel/editor/VornEditorJSConnector.h"
#include "tandrel/editor/VornEditorWKWebView.h"
#include "tandrel/editor/VornPreviewJSConnector.h"
#include "tandrel/editor/WebViewController.h"
#include "tandrel/foundation/VornAppUrlUtility.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/foundation/VornSessionsDataModel.h"
#include "tandrel/foundation/VornSessionsManager.h"
#include "tandrel/scenes/DocumentScene.h"
#include "tandrel/servers/OpsTestSupport.h"
#include "tandrel/servers/VornFileViewController.h"

namespace documenttest {

namespace fs = std::filesystem;
using nlohmann::json;

// Where screenshots go: DRAVIX_SCREENSHOT_DIR, else <build>/screenshots.
inline fs::path screenshotDir() {
    const char* dir = std::getenv("DRAVIX_SCREENSHOT_DIR");
    fs::path p = dir && *dir ? fs::path(dir) : fs::path(DRAVIX_TEST_SCREENSHOT_DIR);
    fs::create_directories(p);
    return p;
}

// Sets DRAVIX_IDIOM for the life of the object.
class IdiomScope {
public:
    explicit IdiomScope(const char* idiom) : had_(qEnvironmentVariableIsSet("DRAVIX_IDIOM")), old_(qgetenv("DRAVIX_IDIOM")) {
        qputenv("DRAVIX_IDIOM", idiom);
    }
    ~IdiomScope() {
        if (had_) qputenv("DRAVIX_IDIOM", old_);
        else qunsetenv("DRAVIX_IDIOM");
    }

private:
    bool had_;
    QByteArray old_;
};

class DocumentTest : public opstest::OpsTest {
protected:
    void SetUp() override {
        OpsTest::SetUp();
        if (HasFatalFailure()) return;
        if (!webtest::haveDisplay()) GTEST_SKIP() << "no display (DISPLAY is empty)";
        VornAppUrlUtility::reset_for_testing();
        if (auto error = VornAppUrlUtility::create_urls()) GTEST_SKIP() << "no app folders: " << error->text();
        const auto ace = VornAppUrlUtility::ace_folder_url();
        if (!ace || !fs::exists(*ace / "index.html")) GTEST_SKIP() << "the editor page was not built";
        declare<DocumentScene, DocumentSceneDelegate>(SceneKind::main_editor);
        ready = true;
    }

    void TearDown() override {
        if (ready) {
            for (int i = 0; i < 5; ++i) {
                bool any = false;
                for (DocumentScene* s : SceneManager::document_scenes()) {
                    if (auto* a = alertOf(documentOf(s))) {
                        a->performAction(static_cast<int>(a->actions().size()) - 1);
                        any = true;
                    }
                }
                if (!any) break;
                settle();
            }
            restoreWritable();
        }
        OpsTest::TearDown();
        VornAppUrlUtility::reset_for_testing();
    }

    // ---- a connected file-viewer window ----------------------------------------------------------

    // Saves and connects the local server of that kind (in a folder of its own); a reason to skip
    // when it cannot run here. With `via_port`, the saved address reaches the server through
    // that port of 127.0.0.1 (a relay's).
    std::optional<std::string> connectPeer(const std::string& kind, int via_port = 0) {
        peer_ = peer(kind);
        if (!peer_.skipReason.empty()) return peer_.skipReason;
        if (auto why = keyringtest::keyringUnavailable()) return why;
        opstest::Peer via = peer_;
        if (via_port > 0) {
            const std::string port = ":" + std::to_string(peer_.port) + "/";
            const auto at = via.url.find(port);
            if (at == std::string::npos) return "no port in " + via.url;
            via.url.replace(at, port.size(), ":" + std::to_string(via_port) + "/");
        }
        server_ = saveServer(via);
        const auto connected = connect(server_->id);
        if (!connected.bucket) {
            if (connected.error && connected.error->name == "guardReturnNoFileProvider") {
                return std::string("the file viewer cannot build a connection in this build");
            }
            ADD_FAILURE() << "could not connect to " << kind << ": "
                          << (connected.error ? connected.error->text() : "no error");
            return "no connection";
        }
        return std::nullopt;
    }

    fs::path disk(const std::string& name) const { return peer_.root / name; }
    void putFile(const std::string& name, const std::string& text) { filestest::writeDiskFile(disk(name), text); }
    std::string diskText(const std::string& name) const { return filestest::readDiskFile(disk(name)); }

    // The test's folder on the server refuses writes: its server-side marker for pyftpdlib (which
    // runs as the test's user, root in CI) and no write permission for the servers that run as
    // an unprivileged user (vsftpd, Apache).
    void makeReadOnly() {
        filestest::writeDiskFile(peer_.root / ".dravix-read-only", "");
        for (const auto& entry : fs::directory_iterator(peer_.root)) {
            if (entry.is_regular_file()) fs::permissions(entry.path(), fs::perms(0444));
        }
        fs::permissions(peer_.root, fs::perms(0555));
        readOnly_ = true;
    }
    void restoreWritable() {
        if (!readOnly_) return;
        readOnly_ = false;
        std::error_code ec;
        fs::permissions(peer_.root, fs::perms(0777), ec);
        fs::remove(peer_.root / ".dravix-read-only", ec);
        for (const auto& entry : fs::directory_iterator(peer_.root, ec)) {
            if (entry.is_regular_file()) fs::permissions(entry.path(), fs::perms(0666), ec);
        }
    }

    // ---- document windows ---------------------------------------------------------------------------

    static DocumentSceneDelegate* documentOf(ui::Scene* scene) {
        return scene ? qobject_cast<DocumentSceneDelegate*>(scene->delegate()) : nullptr;
    }
    static DocumentInterfaceManager* managerOf(DocumentSceneDelegate* doc) { return doc ? doc->doc_int_man.get() : nullptr; }

    // Opens the file as the file browser does and waits for its window.
    DocumentSceneDelegate* openDocument(const std::string& path, bool preview) {
        const int before = connected;
        SceneManager::open_document_scene(server_ ? server_->id : std::string("no-server"), file_bucket_id_for_path(path),
                                          preview, [](const VornError& e) { ADD_FAILURE() << e.text(); });
        if (!waitFor([&] { return connected > before; }, 10000)) return nullptr;
        settle();
        return documentOf(app().connectedScenes().last());
    }

    // Opens the file from the file browser: the explorer lists its folder again when the file is
    // not in its listing yet, then opens the file's entry as a click does.
    DocumentSceneDelegate* openFromBrowser(const std::string& name) {
        auto explorer = window->fileView_controller;
        if (!explorer) return nullptr;
        const std::string id = file_bucket_id_for_path("/" + name);
        if (!window->find_listed_file(id)) {
            explorer->refresh();
            if (!waitFor([&] { return window->find_listed_file(id) != nullptr; }, 15000)) return nullptr;
        }
        const int before = connected;
        explorer->open_file(window->find_listed_file(id));
        if (!waitFor([&] { return connected > before; }, 10000)) return nullptr;
        settle();
        return documentOf(app().connectedScenes().last());
    }

    // Puts the file on the server, opens it from the file browser and waits until the page shows
    // it; nullptr when it does not.
    DocumentSceneDelegate* openWithText(const std::string& name, const std::string& text) {
        putFile(name, text);
        DocumentSceneDelegate* doc = openFromBrowser(name);
        return doc && waitForPageText(doc, text) ? doc : nullptr;
    }

    // The regular editor's web view of a document.
    static VornEditorWKWebView* editorView(DocumentSceneDelegate* doc) {
        auto* m = managerOf(doc);
        return m && m->ext_editor_vc ? m->ext_editor_vc->editorWebView() : nullptr;
    }

    json page(DocumentSceneDelegate* doc, const std::string& script) {
        auto* view = editorView(doc);
        if (!view) return nullptr;
        auto out = webtest::run(*view, script);
        EXPECT_TRUE(out.done) << script;
        EXPECT_FALSE(out.error) << script << ": " << (out.error ? out.error->message : "");
        return out.result;
    }
    // The script's value, or null when it failed (a page still loading, for one).
    json pageQuiet(DocumentSceneDelegate* doc, const std::string& script) {
        auto* view = editorView(doc);
        if (!view) return nullptr;
        auto out = webtest::run(*view, script);
        return out.done && !out.error ? out.result : json(nullptr);
    }
    // The page's current session reply, or null.
    json pageSession(DocumentSceneDelegate* doc) { return pageQuiet(doc, "session_manager.get_current_session()"); }
    std::optional<std::string> pageText(DocumentSceneDelegate* doc) {
        json reply = pageSession(doc);
        if (!reply.is_object() || !reply["json"].is_string()) return std::nullopt;
        json state = json::parse(reply["json"].get<std::string>(), nullptr, false);
        if (!state.is_object() || !state["value"].is_string()) return std::nullopt;
        return state["value"].get<std::string>();
    }
    int64_t pageCount(DocumentSceneDelegate* doc) {
        json reply = pageSession(doc);
        return reply.is_object() && reply["undo_count"].is_number_integer() ? reply["undo_count"].get<int64_t>() : -1;
    }
    // Waits until the page shows the file with this text.
    // On a timeout it says what the window shows instead (the page's text, an alert, unsaved
    // changes), so that a failure on a busy machine can be told from its log.
    bool waitForPageText(DocumentSceneDelegate* doc, const std::string& text, int ms = webtest::kPageLoadMs) {
        if (waitFor([&] { return pageText(doc) == text; }, ms)) return true;
        auto* m = managerOf(doc);
        auto* alert = alertOf(doc);
        std::cerr << "the page shows " << json(pageText(doc).value_or("(no session)")).dump() << ", not "
                  << json(text).dump() << "; alert: "
                  << (alert ? (alert->alertTitle() + QStringLiteral(": ") + alert->message()).toStdString() : "none")
                  << "; unsaved changes: " << (m && m->my_current_editor_info.has_changes) << std::endl;
        return false;
    }
    // Types into the page as a user would (one change).
    void type(DocumentSceneDelegate* doc, const std::string& text) { page(doc, "editor.insert(" + json(text).dump() + ")"); }

    std::shared_ptr<VornACEFileSessionsDataModel> record(DocumentSceneDelegate* doc, const std::string& path) {
        auto* m = managerOf(doc);
        return m ? m->editor_js_connector->find_file_session(file_bucket_id_for_path(path)) : nullptr;
    }

    // The alert shown over the document's editor or main screen, if any.
    static ui::AlertController* alertOf(DocumentSceneDelegate* doc) {
        auto* m = managerOf(doc);
        if (!m) return nullptr;
        for (ui::ViewController* screen : {static_cast<ui::ViewController*>(m->ext_editor_vc.get()),
                                           static_cast<ui::ViewController*>(m->main_controller.get())}) {
            if (!screen) continue;
            if (auto* a = dynamic_cast<ui::AlertController*>(screen->presentedViewController())) return a;
        }
        return nullptr;
    }
    ui::AlertController* awaitAlert(DocumentSceneDelegate* doc, int ms = 30000) {
        waitFor([&] { return alertOf(doc) != nullptr; }, ms);
        return alertOf(doc);
    }
    // The alert shown over the server window's file explorer, if any.
    ui::AlertController* serverWindowAlert() const {
        auto explorer = window ? window->fileView_controller : nullptr;
        return explorer ? dynamic_cast<ui::AlertController*>(explorer->presentedViewController()) : nullptr;
    }
    // Waits for an alert in the server window; `over_editor` becomes true when an alert showed
    // over a document window meanwhile.
    ui::AlertController* awaitServerWindowAlert(bool& over_editor, int ms = 30000) {
        waitFor([&] {
            for (DocumentScene* s : SceneManager::document_scenes())
                if (alertOf(documentOf(s))) over_editor = true;
            return serverWindowAlert() != nullptr;
        }, ms);
        return serverWindowAlert();
    }
    bool choose(DocumentSceneDelegate* doc, const QString& title) {
        auto* a = alertOf(doc);
        if (!a) return false;
        for (const auto& action : a->actions()) {
            if (action->title() == title) return a->performAction(action);
        }
        return false;
    }

    bool isOpen(QPointer<DocumentSceneDelegate> doc) {
        if (!doc) return false;
        for (DocumentScene* s : SceneManager::document_scenes()) {
            if (s->delegate() == doc.data()) return true;
        }
        return false;
    }

    // A picture of the window: its own drawing (web pages included), never whatever else lies
    // over it on the display while other suites run beside this one.
    static QImage grab(QWidget* window) {
        QTest::qWait(300);
        return window->grab().toImage();
    }

    bool ready = false;
    opstest::Peer peer_;
    std::shared_ptr<VornSingleServiceDataModel> server_;

private:
    bool readOnly_ = false;
};

#define CONNECT_OR_SKIP(kind)                                  \
    do {                                                       \
        if (auto why = connectPeer(kind)) GTEST_SKIP() << *why; \
    } while (0)

}  // namespace documenttest
