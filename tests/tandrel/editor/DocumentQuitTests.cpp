// Quitting the app while a save of a large file is on its way to the FTP server: the quit lets the
// upload finish (within its bound), so the server holds the new text in full, and the sessions and
// preferences files hold the state of the last moment. Each case ends the app, so each runs in a
// process of its own (ctest runs every case alone).
#include <gtest/gtest.h>

#include <QTest>

#include "DocumentTestSupport.h"
#include "ServerBytes.h"
#include "app/AppExit.h"
#include "platform/ui/MainQueue.h"
#include "tandrel/foundation/VornEditorPreferencesManager.h"

using namespace documenttest;

namespace {

class DocumentQuit : public DocumentTest {
protected:
    // True once the server's folder shows an upload under way: the file itself changed, or a
    // file of another name is being written beside it.
    bool uploadStarted(const std::string& name, std::size_t old_size) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(peer_.root, ec)) {
            if (!entry.is_regular_file(ec)) continue;
            const std::string n = entry.path().filename().string();
            if (n.rfind(".dravix-", 0) == 0) continue;
            const auto size = entry.file_size(ec);
            if (n == name ? size != old_size : size > 0) return true;
        }
        return false;
    }
};

TEST_F(DocumentQuit, QuittingDuringAFiveMegabyteSaveWaitsForItAndKeepsTheLastState) {
    CONNECT_OR_SKIP("pyftpd");
    std::string text;
    while (text.size() < 5u * 1024 * 1024) text += "<p>a line of a large page, " + std::to_string(text.size()) + "</p>\n";
    putFile("big.html", text);
    auto& prefs = app_editor_preferences_manager();
    prefs.load_editor_preferences(VornAppUrlUtility::editor_pref_file_url());
    ASSERT_TRUE(prefs.url);

    DocumentSceneDelegate* doc = openFromBrowser("big.html");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, text, 60000)) << "the page never held the file";
    type(doc, "<!-- saved at quit -->");
    const std::string edited = "<!-- saved at quit -->" + text;
    ASSERT_EQ(pageText(doc), edited);
    const int64_t count = pageCount(doc);

    // From now on uploads into the test's folder crawl (about 1 MB a second): the quit comes
    // while this one is on its way.
    filestest::writeDiskFile(peer_.root / ".dravix-slow-upload", "");
    bool written = false;
    managerOf(doc)->main_controller->request_save([&](bool w) { written = w; });
    ASSERT_TRUE(waitFor([&] { return uploadStarted("big.html", text.size()); }, 60000)) << "the upload never started";
    ASSERT_FALSE(written);
    // A preference changed in the last moment too.
    prefs.theModel->invisibles_visible = true;
    prefs.theModel->soft_wrap_custom_value = 97;
    prefs.request_save_editor_preferences([](bool) {});

    // The event loop has ended: what the app's main does next.
    finish_application();
    ui::installMainQueueOnGuiThread();  // for this test's own teardown

    // The server holds the new text whole (read with a client of its own).
    const auto bytes = serverBytes(peer_, "big.html");
    ASSERT_TRUE(bytes) << "the server does not give the file";
    EXPECT_EQ(bytes->size(), edited.size());
    EXPECT_TRUE(*bytes == edited) << "the server's file is not the saved text";
    EXPECT_TRUE(written);

    // The sessions file holds the saved state: the new text, counted as saved.
    const fs::path sessions_file =
        *app_sessions_manager().url / VornSessionsManager::folder_name_for_service_id(server_->id) / "session.json";
    const json sessions = json::parse(testsupport::readFile(sessions_file), nullptr, false);
    ASSERT_TRUE(sessions.is_object()) << "no sessions file";
    bool found = false;
    for (const auto& s : sessions["ace_file_sessions"]) {
        if (s["file_path"] != "/big.html") continue;
        found = true;
        EXPECT_EQ(s["undo_count"], count) << "the write is not recorded as saved";
        const json state = json::parse(s["json"].get<std::string>(), nullptr, false);
        ASSERT_TRUE(state.is_object());
        EXPECT_TRUE(state["value"] == edited) << "the stored text is not the saved one";
    }
    EXPECT_TRUE(found) << "the file's session is not in the sessions file";

    // And the preferences file the last change.
    const json stored_prefs = json::parse(testsupport::readFile(*prefs.url), nullptr, false);
    ASSERT_TRUE(stored_prefs.is_object());
    EXPECT_EQ(stored_prefs["invisibles_visible"], true);
    EXPECT_EQ(stored_prefs["soft_wrap_custom_value"], 97);
}

}  // namespace
