#pragma once
// The editor bridge against the real editor page and a file-viewer window connected to the local
// FTP server: a connector attached to an editor web view that loads our page, a preview connector
// with its screen, and a stand-in for the document window's hub (the document interface manager
// is not the subject here). When the page reports "doc_ready" the stand-in does what the document
// window does: it stores the page's current session and opens the test's file content.
#include <gtest/gtest.h>

#include <QTest>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "WebTestSupport.h"
#include "platform/keychain/KeyringTestSupport.h"
#include "tandrel/editor/DocumentInterfaceHub.h"
#include "tandrel/editor/EditorScripts.h"
#include "tandrel/editor/VornEditorJSConnector.h"
#include "tandrel/editor/VornEditorWKWebView.h"
#include "tandrel/editor/VornPreviewContentBucket.h"
#include "tandrel/editor/VornPreviewJSConnector.h"
#include "tandrel/editor/WebViewController.h"
#include "tandrel/foundation/VornCurrentEditorStateInfo.h"
#include "tandrel/foundation/VornEditorPreferencesManager.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/foundation/VornSessionsManager.h"
#include "tandrel/servers/OpsTestSupport.h"

namespace bridgetest {

namespace fs = std::filesystem;
using nlohmann::json;

inline const fs::path kPageDir = DRAVIX_TEST_EDITOR_PAGE_DIR;

// An error display that keeps what it was given.
class TestErrors : public QObject, public VornErrorProtocol {
public:
    void present_error(const std::optional<VornError>& error) override {
        if (error) errors.push_back(*error);
    }
    bool has(const std::string& name) const {
        for (const auto& e : errors) {
            if (e.name == name) return true;
        }
        return false;
    }
    std::vector<VornError> errors;
};

// An editor screen that records what the connector asks of it.
class TestEditorScreen : public ui::ViewController, public VornEditorScreenProtocol {
public:
    ui::ViewController* editor_view_controller() override { return this; }
    void update_window_title(const std::string& path) override { titles.push_back(path); }
    void open_file_content(std::shared_ptr<VornServerFileContentModel> content) override { opened.push_back(content); }
    std::vector<std::string> titles;
    std::vector<std::shared_ptr<VornServerFileContentModel>> opened;
};

class TestHub : public DocumentInterfaceHub {
public:
    void load_current_editor_file(bool is_compact) override {
        ++docReadyCalls;
        if (onDocReady) onDocReady(is_compact);
    }
    void apply_editor_preferences() override {
        ++preferenceCalls;
        if (onPreferences) onPreferences();
    }
    bool uses_compact_editor() const override { return false; }
    VornCurrentEditorStateInfo& current_editor_info() override { return info; }
    VornPreviewJSConnector* preview_connector() const override { return preview.data(); }
    WebViewController* preview_screen() const override { return previewScreen.get(); }
    VornEditorScreenProtocol* editor_screen(bool) const override { return screen.get(); }

    VornCurrentEditorStateInfo info;
    QPointer<VornPreviewJSConnector> preview;
    std::shared_ptr<WebViewController> previewScreen;
    std::shared_ptr<TestEditorScreen> screen;
    std::function<void(bool)> onDocReady;
    std::function<void()> onPreferences;
    int docReadyCalls = 0;
    int preferenceCalls = 0;
};

// A file as the file browser hands it to the editor (id = Base64 of the path).
inline std::shared_ptr<VornServerFileContentModel> fileContent(const std::string& path, const std::string& text) {
    auto c = std::make_shared<VornServerFileContentModel>();
    c->id = file_bucket_id_for_path(path);
    c->path = path;
    c->contents = text;
    return c;
}

class BridgeTest : public opstest::OpsTest {
protected:
    void SetUp() override {
        OpsTest::SetUp();
        if (!webtest::haveDisplay()) GTEST_SKIP() << "no display (DISPLAY is empty)";
        if (!fs::exists(kPageDir / "index.html")) GTEST_SKIP() << "the editor page was not built into " << kPageDir;
        peer_ = peer("pyftpd");
        if (!peer_.skipReason.empty()) GTEST_SKIP() << peer_.skipReason;
        // The window's server and its sessions record; a connection only where a test writes.
        server_ = saveServer(peer_.url, peer_.user, opstest::typeOf(peer_), "");
        window->service = server_;
        app_sessions_manager().new_service_session(server_->id);
        ready_ = true;

        hub = std::make_unique<TestHub>();
        errors = std::make_unique<TestErrors>();
        preview = std::make_unique<VornPreviewJSConnector>();
        connector = std::make_unique<VornEditorJSConnector>();
        hub->screen = ui::make<TestEditorScreen>();
        hub->screen->view()->resize(900, 640);
        hub->screen->view()->show();
        connector->scene_delegatex = hub.get();
        connector->file_delegatex = window;
        connector->error_delegatex = errors.get();
        preview->scene_delegatex = hub.get();
        preview->file_delegatex = window;
        preview->error_delegatex = errors.get();
        hub->onDocReady = [this](bool) { openInPage(content); };
        hub->onPreferences = [this] { connector->apply_preferences(); };
    }

    void TearDown() override {
        if (editorView) {
            if (connector) connector->detach_web_view(editorView);
            delete editorView.data();
        }
        if (hub && hub->previewScreen) hub->previewScreen.reset();
        if (hub) hub->screen.reset();
        connector.reset();
        preview.reset();
        hub.reset();
        OpsTest::TearDown();
    }

    // Connects the window to the local FTP server; the reason to skip when it cannot connect
    // here (no keyring, or no connection can be built yet), else nothing.
    std::optional<std::string> connectServer() {
        if (auto why = keyringtest::keyringUnavailable()) return why;
        keys.add(peer_.url, server_->id);
        auto o = keyringtest::runNow([&](keychain::Completion c) {
            keychain::writePassword(peer_.url, server_->id, peer_.password, std::move(c));
        });
        if (o.failure) return "the keyring refused the password: " + o.failure->text();
        const auto connected = connect(server_->id);
        if (connected.bucket) return std::nullopt;
        if (connected.error && connected.error->name == "guardReturnNoFileProvider") {
            return std::string("the file viewer cannot build a connection in this build");
        }
        ADD_FAILURE() << "could not connect to the local FTP server: "
                      << (connected.error ? connected.error->text() : "no error");
        return "no connection";
    }

    // Makes the editor web view, attaches the connector and loads the page; waits for the page to
    // have answered "doc_ready" with the test's content open.
    bool loadEditor() {
        editorView = new VornEditorWKWebView(hub->screen->view());
        editorView->resize(880, 620);
        editorView->show();
        editorView->editor_wv_delegatex = connector.get();
        connector->attach_web_view(editorView);
        if (!editorView->loadFileUrl(kPageDir / "index.html", kPageDir)) return false;
        return waitFor([&] { return opened > 0; }, webtest::kPageLoadMs);
    }

    // What the document window does on "doc_ready": store the page's current session, then open
    // the content in the page.
    void openInPage(std::shared_ptr<VornServerFileContentModel> file) {
        VornEditorJSConnector* c = connector.get();
        c->run_editor_js(editor_script::get_current_session(), [this, c, file](json reply, std::optional<VornError> e) {
            c->update_file_session(reply, e, [this, c, file](std::optional<VornError> stored) {
                c->open_editor_session(stored, file, [this](std::optional<VornError> result) {
                    openResult = result;
                    ++opened;
                });
            });
        });
    }

    // Runs a script in the editor page and waits for its value.
    json page(const std::string& script) {
        auto out = webtest::run(*editorView, script);
        EXPECT_TRUE(out.done) << script;
        EXPECT_FALSE(out.error) << script << ": " << (out.error ? out.error->message : "");
        return out.result;
    }
    json pageState() {
        json reply = page("session_manager.get_current_session()");
        if (!reply.is_object() || !reply["json"].is_string()) return nullptr;
        return json::parse(reply["json"].get<std::string>());
    }
    // Types into the page as a user would (each call is one change).
    void type(const std::string& text) { page("editor.insert(" + json(text).dump() + ")"); }

    std::shared_ptr<VornACEFileSessionsDataModel> record(const std::string& path) {
        return connector->find_file_session(file_bucket_id_for_path(path));
    }
    fs::path disk(const std::string& name) const { return peer_.root / name; }

    // Saves through the connector and waits for the outcome.
    struct Saved {
        bool done = false;
        bool written = false;
        std::optional<VornError> error;
    };
    Saved save() {
        auto out = std::make_shared<Saved>();
        connector->save_current_file([out](bool written, std::optional<VornError> e) {
            out->done = true;
            out->written = written;
            out->error = e;
        });
        EXPECT_TRUE(waitFor([&] { return out->done; }, 30000)) << "the save never completed";
        return *out;
    }

    std::unique_ptr<TestHub> hub;
    std::unique_ptr<TestErrors> errors;
    std::unique_ptr<VornPreviewJSConnector> preview;
    std::unique_ptr<VornEditorJSConnector> connector;
    QPointer<VornEditorWKWebView> editorView;
    std::shared_ptr<VornServerFileContentModel> content = fileContent("/index.html", "<p>hello</p>\n");
    std::optional<VornError> openResult;
    int opened = 0;
    opstest::Peer peer_;
    std::shared_ptr<VornSingleServiceDataModel> server_;
    bool ready_ = false;
    keyringtest::Cleanup keys;
};

#define CONNECT_OR_SKIP()                                         \
    do {                                                          \
        if (auto why = connectServer()) GTEST_SKIP() << *why;     \
    } while (0)

}  // namespace bridgetest
