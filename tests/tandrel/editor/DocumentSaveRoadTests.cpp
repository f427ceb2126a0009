// A document window's save as the disk and the servers see it: how often the server's sessions
// file is replaced by one save (an inotify watch on its folder counts the renames over
// "session.json"), what a save the server refuses leaves in the record, in the sessions file and
// on the server, and the exact bytes the server hands out after a save of text that is easy to
// get wrong on its way from the page (quotes, backslashes, U+2028, characters beyond the BMP,
// CR LF line ends).
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <future>
#include <string>
#include <vector>

#include "DocumentTestSupport.h"
#include "HoldingRelay.h"
#include "ServerBytes.h"
#include "platform/defaults/AtomicFile.h"
#include "platform/ui/View.h"
#include "tandrel/editor/EditorWebViewController.h"
#include "tandrel/editor/VornEditorWKWebView.h"

using namespace documenttest;

namespace {

const std::vector<std::string> kPeers{"pyftpd", "vsftpd", "apache", "sshd"};

// Counts the files renamed to "session.json" in one folder (every store write ends so) since the
// watch began. The creations of the write's temporary files are watched too: the kernel merges an
// event into an identical one still unread before it, and they keep two renames apart.
class SessionsFileWrites {
public:
    explicit SessionsFileWrites(const fs::path& folder) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd_ >= 0) watch_ = inotify_add_watch(fd_, folder.c_str(), IN_MOVED_TO | IN_CREATE);
    }
    ~SessionsFileWrites() {
        if (fd_ >= 0) close(fd_);
    }
    SessionsFileWrites(const SessionsFileWrites&) = delete;
    SessionsFileWrites& operator=(const SessionsFileWrites&) = delete;
    bool watching() const { return fd_ >= 0 && watch_ >= 0; }

    // The writes so far: the store's queue is drained first, so every write asked for has ended.
    int count() {
        app_sessions_manager().save_queue.sync([] {});
        alignas(inotify_event) char buffer[8192];
        for (;;) {
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0) break;
            for (char* p = buffer; p < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                if ((event->mask & IN_MOVED_TO) && event->len && std::string(event->name) == "session.json") ++writes_;
                p += sizeof(inotify_event) + event->len;
            }
        }
        return writes_;
    }

private:
    int fd_ = -1;
    int watch_ = -1;
    int writes_ = 0;
};

class DocumentSaveRoad : public DocumentTest, public ::testing::WithParamInterface<std::string> {
protected:
    fs::path sessionsFolder() const {
        return *app_sessions_manager().url / VornSessionsManager::folder_name_for_service_id(server_->id);
    }
    // The file's session as the sessions file on disk holds it.
    json storedSession(const std::string& path) const {
        auto bytes = defaults::readWholeFile(sessionsFolder() / "session.json");
        if (!bytes) return nullptr;
        json file = json::parse(*bytes, nullptr, false);
        if (!file.is_object() || !file["ace_file_sessions"].is_array()) return nullptr;
        for (const auto& s : file["ace_file_sessions"]) {
            if (s.is_object() && s.value("session_id", "") == file_bucket_id_for_path(path)) return s;
        }
        return nullptr;
    }
    static std::string valueOf(const json& session) {
        if (!session.is_object() || !session["json"].is_string()) return "<no session>";
        json state = json::parse(session["json"].get<std::string>(), nullptr, false);
        return state.is_object() && state["value"].is_string() ? state["value"].get<std::string>() : "<no value>";
    }
    // The save command of the document's main screen; whether it wrote (nothing: no outcome).
    std::optional<bool> save(DocumentSceneDelegate* doc) {
        std::optional<bool> written;
        managerOf(doc)->main_controller->request_save([&](bool w) { written = w; });
        waitFor([&] { return written.has_value(); }, 60000);
        return written;
    }
    // Opens the file and waits until the window is quiet: its text shown, its record made and
    // every sessions write of the opening done. The editor fades in only after the opening's
    // last write (the record refreshed from the page) has ended.
    DocumentSceneDelegate* openQuiet(const std::string& name, const std::string& text) {
        putFile(name, text);
        DocumentSceneDelegate* doc = openFromBrowser(name);
        if (!doc || !waitForPageText(doc, text)) return nullptr;
        if (!waitFor([&] { return record(doc, "/" + name) != nullptr; }, 10000)) return nullptr;
        if (!waitFor([&] {
                auto* m = managerOf(doc);
                return m && m->ext_editor_vc && ui::alpha(m->ext_editor_vc->editorWebView()) > 0.0;
            }, 10000)) {
            return nullptr;
        }
        app_sessions_manager().save_queue.sync([] {});
        settle();
        return doc;
    }
};

std::string peerName(const ::testing::TestParamInfo<std::string>& info) { return info.param; }

TEST_P(DocumentSaveRoad, ASaveReplacesTheSessionsFileOnceBeforeTheUploadAndOnceMoreOnlyWhenItMarksNewChangesSaved) {
    CONNECT_OR_SKIP(GetParam());
    DocumentSceneDelegate* doc = openQuiet("road.html", "<p>start</p>\n");
    ASSERT_TRUE(doc);
    SessionsFileWrites writes(sessionsFolder());
    ASSERT_TRUE(writes.watching());
    ASSERT_EQ(writes.count(), 0) << "the window was not quiet before the save";

    struct Round {
        const char* typed;   // what is typed before the save (nothing: a save of saved text)
        int writes;          // sessions-file writes the save makes
    };
    // Changed text: the page's state before the upload, the moved mark after it. Saved text
    // again: the state before the upload only (the mark has nothing to move).
    for (const Round& round : {Round{"<!-- one -->", 2}, Round{nullptr, 1}, Round{"<!-- two -->", 2}}) {
        SCOPED_TRACE(round.typed ? round.typed : "(nothing typed)");
        if (round.typed) type(doc, round.typed);
        const auto text = pageText(doc);
        const int64_t count = pageCount(doc);
        ASSERT_TRUE(text);
        const int before = writes.count();
        ASSERT_EQ(save(doc), true);
        EXPECT_EQ(writes.count() - before, round.writes);
        EXPECT_EQ(diskText("road.html"), *text);
        EXPECT_EQ(record(doc, "/road.html")->undo_count, count);
        // The sessions file holds the saved text and mark, as the record does.
        const json stored = storedSession("/road.html");
        EXPECT_EQ(valueOf(stored), *text);
        EXPECT_EQ(stored.value("undo_count", int64_t(-1)), count);
    }
}

TEST_P(DocumentSaveRoad, ARefusedSaveKeepsTheServerCopyAndTheMarkWritesTheTextOnceAndShowsTheError) {
    CONNECT_OR_SKIP(GetParam());
    const std::string server = "<p>server text</p>\r\n";
    DocumentSceneDelegate* doc = openQuiet("refused.html", server);
    ASSERT_TRUE(doc);
    type(doc, "local edit ");
    const auto text = pageText(doc);
    ASSERT_TRUE(text);
    const int64_t mark = record(doc, "/refused.html")->undo_count;
    SessionsFileWrites writes(sessionsFolder());
    ASSERT_TRUE(writes.watching());

    makeReadOnly();
    ASSERT_EQ(save(doc), false);
    // The error reaches the alert presenter.
    auto* alert = awaitAlert(doc);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->alertTitle(), "An Error Occurred");
    // One write: the page's text kept before the upload; the refusal writes nothing more.
    EXPECT_EQ(writes.count(), 1);
    // The server's copy is as it was, to any client.
    EXPECT_EQ(diskText("refused.html"), server);
    EXPECT_EQ(serverBytes(peer_, "refused.html"), server);
    // The record and the sessions file keep the mark (the file still reads as changed) and hold
    // the page's text, so nothing typed is lost.
    auto r = record(doc, "/refused.html");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->undo_count, mark);
    EXPECT_LT(r->undo_count, pageCount(doc));
    const json stored = storedSession("/refused.html");
    EXPECT_EQ(stored.value("undo_count", int64_t(-1)), mark);
    EXPECT_EQ(valueOf(stored), *text);
    alert->performAction(0);
    ASSERT_TRUE(waitFor([&] { return alertOf(doc) == nullptr; }, 5000));

    restoreWritable();
    ASSERT_EQ(save(doc), true);
    EXPECT_EQ(diskText("refused.html"), *text);
}

// The page's text reaches the disk before it goes to the server: the upload waits for the
// sessions write to end, and a sessions write that fails sends nothing and says why. The server
// is reached through a relay, which sees the upload's command arrive: at that moment the
// sessions file must hold the text already.
// The relay finds the upload in the protocol's commands, which SSH encrypts: servers spoken to
// in the clear only.
class DocumentSaveRoadRelay : public DocumentSaveRoad {};

TEST_P(DocumentSaveRoadRelay, TheUploadWaitsForTheSessionsWriteAndAFailedOneUploadsNothing) {
    relaytest::HoldingRelay relay(peer(GetParam()).port);
    ASSERT_GT(relay.port(), 0);
    if (auto why = connectPeer(GetParam(), relay.port())) GTEST_SKIP() << *why;
    const std::string server = "<p>server text</p>\n";
    DocumentSceneDelegate* doc = openQuiet("first.html", server);
    ASSERT_TRUE(doc);
    type(doc, "<!-- held -->");
    const auto text = pageText(doc);
    ASSERT_TRUE(text);

    // The store's queue is held: the save's sessions write waits behind it.
    struct Hold {
        std::promise<void> promise;
        bool let_go = false;
        void release() {
            if (!std::exchange(let_go, true)) promise.set_value();
        }
        ~Hold() { release(); }  // never left holding when the test stops early
    } hold;
    app_sessions_manager().save_queue.async([released = hold.promise.get_future().share()] { released.wait(); });
    std::optional<bool> written;
    managerOf(doc)->main_controller->request_save([&](bool w) { written = w; });
    // What the sessions file held, and whether the store was still held, when the upload came.
    std::optional<std::string> storedAtUpload;
    bool heldAtUpload = false;
    relay.on_upload = [&] {
        if (storedAtUpload) return;
        storedAtUpload = valueOf(storedSession("/first.html"));
        heldAtUpload = !hold.let_go;
    };
    // The page's state is in the record: the sessions write has been asked for. Then the store
    // goes on, and the upload comes (the relay keeps it until the check is done).
    ASSERT_TRUE(waitFor([&] {
        auto r = record(doc, "/first.html");
        return r && r->json.find("<!-- held -->") != std::string::npos;
    }, 30000));
    hold.release();
    ASSERT_TRUE(waitFor([&] { return relay.holding(); }, 60000)) << "the upload never came";
    ASSERT_TRUE(storedAtUpload);
    EXPECT_FALSE(heldAtUpload) << "the upload started while its sessions write waited";
    EXPECT_EQ(*storedAtUpload, *text) << "the upload started before the sessions write ended";
    EXPECT_FALSE(written) << "the save ended before its upload";
    EXPECT_EQ(diskText("first.html"), server) << "the server took the text while the upload was held";
    relay.release();
    ASSERT_TRUE(waitFor([&] { return written.has_value(); }, 60000));
    EXPECT_TRUE(*written);
    EXPECT_EQ(diskText("first.html"), *text);
    EXPECT_EQ(valueOf(storedSession("/first.html")), *text);

    // The server's sessions folder cannot be written (a plain file stands where it goes).
    type(doc, "<!-- not stored -->");
    const auto saved = *text;
    const fs::path folder = sessionsFolder();
    const fs::path aside = folder.string() + ".aside";
    fs::rename(folder, aside);
    filestest::writeDiskFile(folder, "in the way");
    const auto refused = save(doc);
    fs::remove(folder);
    fs::rename(aside, folder);
    ASSERT_EQ(refused, false);
    // The user is told, and the server's copy is the one saved before.
    auto* alert = awaitAlert(doc);
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->alertTitle(), "An Error Occurred");
    EXPECT_EQ(diskText("first.html"), saved);
    EXPECT_EQ(serverBytes(peer_, "first.html"), saved);
    alert->performAction(0);
    ASSERT_TRUE(waitFor([&] { return alertOf(doc) == nullptr; }, 5000));

    // With the folder back the same text is stored and uploaded.
    const auto now = pageText(doc);
    ASSERT_TRUE(now);
    ASSERT_EQ(save(doc), true);
    EXPECT_EQ(diskText("first.html"), *now);
}

TEST_P(DocumentSaveRoad, TheServerHandsOutTheEditorsTextByteForByte) {
    CONNECT_OR_SKIP(GetParam());
    // Quotes, backslashes and escapes as text, U+2028 and U+2029 (line ends to JavaScript source,
    // plain characters to JSON), characters beyond the BMP (surrogate pairs in the page), NUL-free
    // control-looking text, and CR LF line ends.
    const std::string original =
        "<p title=\"a \\\"b\\\" c\">\\u0041 \\\\ \\n '\xE2\x80\xA8' '\xE2\x80\xA9'</p>\r\n"
        "<p>\xF0\x9F\x98\x80 \xF0\x90\x8D\x88 caf\xC3\xA9 \xEF\xBB\xBF-inside</p>\r\n"
        "<script>var s = \"</script>\\/\"; // \\ \"</script>\r\n";
    DocumentSceneDelegate* doc = openQuiet("tricky.html", original);
    ASSERT_TRUE(doc);
    // Typed at the start: more of the same, through the page's own editing.
    const std::string typed = "\"\\\" \\\\ \xE2\x80\xA8 \xF0\x9F\x8E\x89 ";
    type(doc, typed);
    ASSERT_EQ(pageText(doc), typed + original);

    ASSERT_EQ(save(doc), true);
    EXPECT_EQ(diskText("tricky.html"), typed + original);
    EXPECT_EQ(serverBytes(peer_, "tricky.html"), typed + original);
}

INSTANTIATE_TEST_SUITE_P(Peers, DocumentSaveRoad, ::testing::ValuesIn(kPeers), peerName);
INSTANTIATE_TEST_SUITE_P(Peers, DocumentSaveRoadRelay, ::testing::Values("pyftpd", "vsftpd", "apache"), peerName);

}  // namespace
