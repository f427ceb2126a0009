// Unsaved text kept on disk, through document windows against the local FTP server: a change is
// kept within two seconds, only while the file is unsaved; a save, a discard or a close removes
// it; and a document the launch reopens from its kept text opens with it, without a question,
// marked unsaved, even when its file is gone from the server, and merges with a change made on the
// server after the crash.
#include <gtest/gtest.h>

#include <QTest>
#include <future>

#include "DocumentTestSupport.h"
#include "HoldingRelay.h"
#include "platform/defaults/AtomicFile.h"
#include "platform/files/VersionCheck.h"
#include "support/MainQueueSettle.h"
#include "tandrel/foundation/VornUnsavedTextKeeper.h"
#include "tandrel/scenes/UnsavedRestore.h"

using namespace documenttest;

namespace {

class DocumentKeep : public DocumentTest {
protected:
    fs::path keptFile(const std::string& path) const {
        return *VornUnsavedTextKeeper::shared().file_for(server_->id, file_bucket_id_for_path(path));
    }
    std::optional<std::string> keptText(const std::string& path) const {
        auto bytes = defaults::readWholeFile(keptFile(path));
        auto document = bytes ? VornUnsavedTextKeeper::decode(*bytes) : std::nullopt;
        return document ? document->text() : std::nullopt;
    }
    bool keptGone(const std::string& path) {
        return waitFor([&] { return !fs::exists(keptFile(path)); }, 15000);
    }
    // Opens the file and waits for its text in the page.
    DocumentSceneDelegate* open(const std::string& name, const std::string& text) {
        putFile(name, text);
        DocumentSceneDelegate* doc = openFromBrowser(name);
        if (!doc || !waitForPageText(doc, text)) return nullptr;
        return doc;
    }
};

TEST_F(DocumentKeep, AChangeIsKeptOnlyWhileTheFileIsUnsaved) {
    CONNECT_OR_SKIP("pyftpd");
    const std::string server = "<p>on the server</p>\n";
    DocumentSceneDelegate* doc = open("page.html", server);
    ASSERT_TRUE(doc);
    auto* m = managerOf(doc);
    // An unchanged file keeps nothing; that is settled once the page's first refresh is stored.
    ASSERT_TRUE(waitFor([&] { return record(doc, "/page.html") != nullptr; }, 10000));
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    EXPECT_FALSE(fs::exists(keptFile("/page.html")));

    // How soon a change is kept (within two seconds on a quiet machine) is a timing bound, which a
    // machine busy with other work would break: here, that it is kept.
    type(doc, "<h1>typed</h1>");
    ASSERT_TRUE(waitFor([&] { return keptText("/page.html") == "<h1>typed</h1>" + server; }, 10000))
        << "the typed text was never kept";

    // A burst of changes: the latest text is what lies on disk.
    for (int i = 0; i < 20; ++i) type(doc, "x");
    const std::string burst = "<h1>typed</h1>" + std::string(20, 'x') + server;
    ASSERT_TRUE(waitFor([&] { return keptText("/page.html") == burst; }, 10000));
    EXPECT_EQ(diskText("page.html"), server);

    // Saved: the kept copy goes; a change after the save is kept again.
    bool written = false;
    m->main_controller->request_save([&](bool w) { written = w; });
    ASSERT_TRUE(waitFor([&] { return written; }, 30000));
    EXPECT_EQ(diskText("page.html"), burst);
    EXPECT_TRUE(keptGone("/page.html")) << "the save left the kept copy";
    type(doc, "!");
    const std::string after = "<h1>typed</h1>" + std::string(20, 'x') + "!" + server;
    ASSERT_TRUE(waitFor([&] { return keptText("/page.html") == after; }, 10000))
        << keptText("/page.html").value_or("(nothing kept)");
}

// The relay keeps the save's upload (of "A") on its way while "B" is typed and kept.
TEST_F(DocumentKeep, ChangesASaveDidNotSeeStayKept) {
    opstest::Peer real = peer("pyftpd");
    if (!real.skipReason.empty()) GTEST_SKIP() << real.skipReason;
    if (auto why = keyringtest::keyringUnavailable()) GTEST_SKIP() << *why;
    relaytest::HoldingRelay relay(real.port);
    opstest::Peer via = real;
    const std::string port = ":" + std::to_string(real.port) + "/";
    ASSERT_NE(via.url.find(port), std::string::npos) << via.url;
    via.url.replace(via.url.find(port), port.size(), ":" + std::to_string(relay.port()) + "/");
    peer_ = real;
    server_ = saveServer(via);
    ASSERT_TRUE(connect(server_->id).bucket);
    const std::string server = "<p>on the server</p>\n";
    DocumentSceneDelegate* doc = open("page.html", server);
    ASSERT_TRUE(doc);

    type(doc, "A");
    std::optional<bool> written;
    managerOf(doc)->main_controller->request_save([&](bool w) { written = w; });
    ASSERT_TRUE(waitFor([&] { return relay.holding(); }, 30000)) << "the save never reached the relay";
    type(doc, "B");
    ASSERT_TRUE(waitFor([&] { return keptText("/page.html") == "AB" + server; }, 10000));
    relay.release();
    ASSERT_TRUE(waitFor([&] { return written.has_value(); }, 30000));
    ASSERT_TRUE(*written);
    EXPECT_EQ(diskText("page.html"), "A" + server);
    // What the save asked the keeper to do has been done: "B" is still kept.
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    VornUnsavedTextKeeper::shared().queue.sync([] {});
    EXPECT_EQ(keptText("/page.html"), "AB" + server) << "the save took the kept copy of a change it did not write";
}

// The close button's question on a changed file, and what each answer leaves on disk.
struct CloseCase {
    const char* answer;
    bool kept_after;
};
void PrintTo(const CloseCase& c, std::ostream* os) { *os << c.answer; }

class DocumentKeepClose : public DocumentKeep, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(DocumentKeepClose, EachAnswerRemovesTheKeptCopyOrKeepsItWithTheWindow) {
    const CloseCase c = GetParam();
    CONNECT_OR_SKIP("pyftpd");
    DocumentSceneDelegate* doc = open("style.css", "body { color: red; }\n");
    ASSERT_TRUE(doc);
    type(doc, "/* new */ ");
    ASSERT_TRUE(waitFor([&] { return keptText("/style.css") == "/* new */ body { color: red; }\n"; }, 10000));
    QPointer<DocumentSceneDelegate> weak(doc);
    doc->window()->close();
    ASSERT_TRUE(awaitAlert(doc)) << "closing a changed file did not ask";
    ASSERT_TRUE(choose(doc, c.answer));
    if (c.kept_after) {
        // Cancel: the window stays with its changes, and so does their kept copy.
        ASSERT_TRUE(waitFor([&] { return alertOf(weak) == nullptr; }, 5000));
        ASSERT_TRUE(testsupport::settleMainQueue(3));
        EXPECT_TRUE(isOpen(weak));
        EXPECT_EQ(keptText("/style.css"), "/* new */ body { color: red; }\n");
    } else {
        ASSERT_TRUE(waitFor([&] { return !isOpen(weak); }, 30000));
        EXPECT_TRUE(keptGone("/style.css")) << c.answer << " left the kept copy";
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, DocumentKeepClose,
                         ::testing::Values(CloseCase{"Save", false}, CloseCase{"Discard", false},
                                           CloseCase{"Cancel", true}),
                         [](const auto& info) { return std::string(info.param.answer); });

// What a launch leaves for a document it reopens (the end to end case is the app's own launch
// test): the kept copy, and the kept state in its sessions record (more changes than the last
// write saw).
class DocumentKeepReopen : public DocumentKeep {
protected:
    void leaveKept(const std::string& path, const std::string& text, files::FileVersion version = {},
                   std::optional<textcodec::TextFormat> format = std::nullopt,
                   std::shared_ptr<const VornDocumentBase> base = nullptr) {
        VornKeptDocument kept;
        kept.base = std::move(base);
        kept.server_version = std::move(version);
        kept.text_format = std::move(format);
        kept.service_id = server_->id;
        kept.session_id = file_bucket_id_for_path(path);
        kept.file_path = path;
        kept.saved_count = 2;
        kept.state = json{{"session_id", kept.session_id}, {"file_path", path}, {"value", text}, {"undo_count", 5}}.dump();
        VornKeptDocument on_disk = kept;
        std::promise<void> written;
        VornUnsavedTextKeeper::shared().keep(std::move(on_disk), [&](std::optional<VornError>) { written.set_value(); });
        written.get_future().get();
        unsaved_restore::put_in_sessions_record(kept);
        VornUnsavedTextKeeper::shared().mark_restoring(server_->id, kept.session_id);
    }
};

TEST_F(DocumentKeepReopen, KeptTextTheServerHasAlreadyOpensAsSavedAndItsCopyGoes) {
    CONNECT_OR_SKIP("pyftpd");
    const std::string text = "<p>saved just before the crash</p>\n";
    putFile("page.html", text);
    leaveKept("/page.html", text);
    DocumentSceneDelegate* doc = openFromBrowser("page.html");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, text));
    EXPECT_EQ(alertOf(doc), nullptr);
    EXPECT_TRUE(keptGone("/page.html"));
    ASSERT_TRUE(waitFor([&] { return record(doc, "/page.html") != nullptr; }, 10000));
    EXPECT_GE(record(doc, "/page.html")->undo_count, pageCount(doc));
}

// The kept text keeps the server's copy it was edited from: a copy changed on the server after the
// crash is not overwritten by the first save after the restart unasked.
TEST_F(DocumentKeepReopen, KeptTextIsSavedOnlyOverTheServersCopyItWasEditedFrom) {
    CONNECT_OR_SKIP("pyftpd");
    const std::string read = "<p>as it was read</p>\n", kept = "<p>typed before the crash</p>\n";
    files::FileVersion version;
    files::detail::addContentFacts(version, read);
    const std::string theirs = "<p>changed on the server after the crash</p>\n";
    putFile("page.html", theirs);
    leaveKept("/page.html", kept, version);
    ASSERT_EQ(VornUnsavedTextKeeper::shared().kept_documents().at(0).server_version, version);
    DocumentSceneDelegate* doc = openFromBrowser("page.html");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, kept)) << "the page shows: " << pageText(doc).value_or("(nothing)");

    std::optional<bool> written;
    managerOf(doc)->main_controller->request_save([&](bool w) { written = w; });
    ASSERT_TRUE(waitFor([&] { return alertOf(doc) != nullptr || written.has_value(); }, 30000));
    ASSERT_TRUE(alertOf(doc)) << "the save wrote over the changed copy unasked";
    EXPECT_EQ(alertOf(doc)->alertTitle(), VornEditorJSConnector::kChangedTitle);
    ASSERT_TRUE(choose(doc, "Cancel"));
    ASSERT_TRUE(waitFor([&] { return written.has_value(); }, 10000));
    EXPECT_FALSE(*written);
    EXPECT_EQ(diskText("page.html"), theirs);
}

// The kept text carries the server's copy it was edited from: a change made on the server after
// the crash, apart from the kept edit, merges at the first save after the restart.
TEST_F(DocumentKeepReopen, KeptTextMergesWithAChangeMadeOnTheServerAfterTheCrash) {
    CONNECT_OR_SKIP("pyftpd");
    const std::string read = "<p>one</p>\n<p>two</p>\n<p>three</p>\n<p>four</p>\n<p>five</p>\n";
    const std::string kept = "<p>one, typed before the crash</p>\n<p>two</p>\n<p>three</p>\n<p>four</p>\n<p>five</p>\n";
    const std::string theirs = "<p>one</p>\n<p>two</p>\n<p>three</p>\n<p>four</p>\n<p>five, theirs</p>\n";
    files::FileVersion version;
    files::detail::addContentFacts(version, read);
    putFile("page.html", theirs);
    leaveKept("/page.html", kept, version, std::nullopt,
              std::make_shared<const VornDocumentBase>(VornDocumentBase{read, textcodec::TextFormat{}, version}));
    DocumentSceneDelegate* doc = openFromBrowser("page.html");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, kept)) << "the page shows: " << pageText(doc).value_or("(nothing)");

    std::optional<bool> written;
    managerOf(doc)->main_controller->request_save([&](bool w) { written = w; });
    ASSERT_TRUE(waitFor([&] { return alertOf(doc) != nullptr || written.has_value(); }, 30000));
    ASSERT_TRUE(alertOf(doc)) << "the save wrote over the changed copy unasked";
    EXPECT_EQ(diskText("page.html"), theirs);
    ASSERT_TRUE(choose(doc, "Merge")) << "no Merge offered";
    ASSERT_TRUE(waitFor([&] { return written.has_value(); }, 30000));
    EXPECT_TRUE(*written);
    const std::string merged = "<p>one, typed before the crash</p>\n<p>two</p>\n<p>three</p>\n<p>four</p>\n<p>five, theirs</p>\n";
    EXPECT_EQ(diskText("page.html"), merged);
    EXPECT_EQ(pageText(doc), merged);
    EXPECT_TRUE(keptGone("/page.html"));
}

TEST_F(DocumentKeepReopen, KeptTextOfAFileDeletedOnTheServerOpensAndASaveAsksFirst) {
    CONNECT_OR_SKIP("pyftpd");
    const std::string kept = "<p>typed, then the file went</p>\n";
    leaveKept("/gone.html", kept);
    DocumentSceneDelegate* doc = openDocument("/gone.html", true);
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, kept)) << "the page shows: " << pageText(doc).value_or("(nothing)");
    EXPECT_EQ(alertOf(doc), nullptr);
    EXPECT_LT(record(doc, "/gone.html")->undo_count, pageCount(doc));
    EXPECT_FALSE(fs::exists(disk("gone.html")));

    bool written = false;
    managerOf(doc)->main_controller->request_save([&](bool w) { written = w; });
    auto* alert = awaitAlert(doc);
    ASSERT_TRUE(alert) << "the file was written again unasked";
    EXPECT_EQ(alert->alertTitle(), VornEditorJSConnector::kRemovedTitle);
    ASSERT_TRUE(choose(doc, "Save"));
    ASSERT_TRUE(waitFor([&] { return written; }, 30000));
    EXPECT_EQ(diskText("gone.html"), kept);
    EXPECT_TRUE(keptGone("/gone.html"));
}

// A file read in Shift_JIS comes back after a crash in Shift_JIS: the kept text opens, compared
// with the server's read in that encoding (a file without a declaration, which a guess could read
// otherwise), and its save writes Shift_JIS.
TEST_F(DocumentKeepReopen, KeptTextIsSavedInTheEncodingItWasReadIn) {
    CONNECT_OR_SKIP("pyftpd");
    const std::string read = "\x93\xfa\x96\x7b\x8c\xea\r\n";  // "日本語" and CR LF in Shift_JIS
    putFile("notes.txt", read);
    textcodec::TextFormat sjis;
    sjis.encoding = "Shift_JIS";
    sjis.lineEnding = textcodec::TextFormat::LineEnding::crlf;
    sjis.source = textcodec::TextFormat::Source::detected;
    const std::string kept = "\u65e5\u672c\u8a9e\r\n\u8ffd\u8a18";  // and "追記" typed before the crash
    leaveKept("/notes.txt", kept, {}, sjis);
    DocumentSceneDelegate* doc = openFromBrowser("notes.txt");
    ASSERT_TRUE(doc);
    ASSERT_TRUE(waitForPageText(doc, kept)) << "the page shows: " << pageText(doc).value_or("(nothing)");
    EXPECT_EQ(alertOf(doc), nullptr);
    ASSERT_TRUE(waitFor([&] { return managerOf(doc)->my_current_editor_info.text_format.has_value(); }, 10000));
    EXPECT_EQ(managerOf(doc)->my_current_editor_info.text_format->encoding, "Shift_JIS");

    bool written = false;
    managerOf(doc)->main_controller->request_save([&](bool w) { written = w; });
    ASSERT_TRUE(waitFor([&] { return written; }, 30000));
    EXPECT_EQ(diskText("notes.txt"), read + "\x92\xc7\x8b\x4c");
    EXPECT_TRUE(keptGone("/notes.txt"));
}

}  // namespace
