// Quit in the real app: the program (its test build, `dravix-testable`) runs as a child process
// with a home of its own, a saved FTP server (the local pyftpdlib peer) and its password in the
// session's keyring. The test reaches the app's own menu items and alert buttons through the test
// build's control channel (AppTestControl.h), and checks what a user would see: whether the
// app ends and how, how long it takes, the file on the server, and each alert shown once.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "HoldingRelay.h"
#include "AppProcessSupport.h"
#include "platform/dispatch/ExitDrain.h"
#include "platform/files/ProviderTestSupport.h"
#include "platform/keychain/KeyringTestSupport.h"
#include "support/TempHome.h"
#include "tandrel/foundation/VornKeyChainUtilityClass.h"
#include "tandrel/foundation/VornServicesDataModel.h"
#include "tandrel/foundation/VornServerFilesDataModel.h"
#include "tandrel/foundation/VornUnsavedTextKeeper.h"
#include "platform/defaults/AtomicFile.h"
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace {

constexpr const char* kOriginal = "<p>the page as the server had it</p>\n";
constexpr const char* kTyped = "<!-- typed before the quit -->";

class QuitProcess : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "no display (DISPLAY is empty)";
        peer_ = filestest::loadPeer("pyftpd");
        if (!peer_.skipReason.empty()) GTEST_SKIP() << peer_.skipReason;
        if (auto why = keyringtest::keyringUnavailable()) GTEST_SKIP() << *why;
        // A folder of the server's own for this case, holding the page.
        const std::string folder = keyringtest::unique("quit");
        peer_.root /= folder;
        peer_.url += "/" + folder + "/";
        filestest::makeDiskFolder(peer_.root);
        filestest::writeDiskFile(peer_.root / "page.html", kOriginal);
        if (hold_uploads_) {
            // The app reaches the server through a relay that can keep an upload waiting.
            relay_ = hold_markers_.empty() ? std::make_unique<relaytest::HoldingRelay>(peer_.port)
                                           : std::make_unique<relaytest::HoldingRelay>(peer_.port, hold_markers_);
            const std::string port = ":" + std::to_string(peer_.port);
            peer_.url.replace(peer_.url.find(port), port.size(), ":" + std::to_string(relay_->port()));
        }

        // The saved server, as the server form leaves it, and its password in the keyring.
        apptest::save_ftp_server(home_, peer_, "quit test", keys_, id_);
    }

    void TearDown() override {
        if (app_.state() != QProcess::NotRunning) {
            app_.kill();
            app_.waitForFinished(5000);
        }
    }

    // Starts the app (again, once it has ended).
    void start() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", QString::fromStdString(home_.root().string()));
        app_.setProcessEnvironment(env);
        app_.setProcessChannelMode(QProcess::SeparateChannels);
        if (!reading_) {
            reading_ = true;
            QObject::connect(&app_, &QProcess::readyReadStandardOutput, [this] {
                while (app_.canReadLine()) {
                    const std::string line = app_.readLine().trimmed().toStdString();
                    lines_.push_back(line);
                    if (line.rfind("alert ", 0) == 0) alerts_.push_back(line.substr(6));
                }
            });
        }
        app_.start(QStringLiteral(DRAVIX_TESTABLE_APP), {});
        ASSERT_TRUE(app_.waitForStarted(10000)) << "the app did not start";
    }

    // Starts the app and opens page.html of the saved server in a document window.
    void launchWithDocument() {
        start();
        if (HasFatalFailure()) return;
        ASSERT_EQ(command("connect " + id_, "connected", 60000), "connected");
        ASSERT_EQ(command("open page.html", "opened", 60000), "opened");
        ASSERT_EQ(command("type " + std::string(kTyped), "typed", 15000), "typed");
    }

    // Sends a command and waits for its answer (the expected line, or any "failed ..." line).
    std::string command(const std::string& line, const std::string& expected, int ms = 15000) {
        return apptest::command(app_, lines_, line, expected, ms);
    }

    bool awaitAlerts(size_t count, int ms = 15000) {
        return QTest::qWaitFor([&] { return alerts_.size() >= count || app_.state() == QProcess::NotRunning; }, ms) &&
               alerts_.size() >= count;
    }

    // Waits for the app to end; how long it took from now.
    std::chrono::milliseconds awaitExit() {
        QElapsedTimer timer;
        timer.start();
        // The exit may wait for uploads up to its bound; a little more for the process itself.
        const int bound = static_cast<int>(std::chrono::milliseconds(dispatch::kExitDrainBound).count()) + 7000;
        QTest::qWaitFor([&] { return app_.state() == QProcess::NotRunning; }, bound);
        return std::chrono::milliseconds(timer.elapsed());
    }

    std::string serverText() { return filestest::readDiskFile(peer_.root / "page.html"); }

    bool hold_uploads_ = false;
    std::vector<QByteArray> hold_markers_;  // what the relay holds (the uploads when empty)
    bool reading_ = false;
    std::unique_ptr<relaytest::HoldingRelay> relay_;
    testsupport::TempHome home_;
    filestest::Peer peer_;
    std::string id_;
    keyringtest::Cleanup keys_;
    QProcess app_;
    std::vector<std::string> lines_;
    std::vector<std::string> alerts_;
};

void expectEndedWell(QProcess& app, std::chrono::milliseconds took) {
    ASSERT_EQ(app.state(), QProcess::NotRunning) << "the app is still running";
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    // Nothing is on its way at this quit: no reason to use the exit's bound for uploads.
    EXPECT_LT(took.count(), std::chrono::milliseconds(dispatch::kExitDrainBound).count()) << "took " << took.count() << " ms";
    ::testing::Test::RecordProperty("exit_ms", static_cast<int>(took.count()));
}

TEST_F(QuitProcess, SaveWritesTheFileAndEndsTheApp) {
    launchWithDocument();
    if (HasFatalFailure()) return;
    ASSERT_EQ(command("menu terminate", "chosen"), "chosen");
    ASSERT_TRUE(awaitAlerts(1)) << "no \"Unsaved Changes\"";
    ASSERT_EQ(command("answer Save", "answered"), "answered");
    expectEndedWell(app_, awaitExit());
    EXPECT_EQ(serverText(), std::string(kTyped) + kOriginal);
    EXPECT_EQ(alerts_, std::vector<std::string>{"Unsaved Changes"});
}

TEST_F(QuitProcess, DiscardEndsTheAppAndLeavesTheServerFile) {
    launchWithDocument();
    if (HasFatalFailure()) return;
    ASSERT_EQ(command("menu terminate", "chosen"), "chosen");
    ASSERT_TRUE(awaitAlerts(1)) << "no \"Unsaved Changes\"";
    ASSERT_EQ(command("answer Discard", "answered"), "answered");
    expectEndedWell(app_, awaitExit());
    EXPECT_EQ(serverText(), kOriginal);
    EXPECT_EQ(alerts_, std::vector<std::string>{"Unsaved Changes"});
}

TEST_F(QuitProcess, CancelKeepsTheAppAndASecondQuitAsksOnce) {
    launchWithDocument();
    if (HasFatalFailure()) return;
    ASSERT_EQ(command("menu terminate", "chosen"), "chosen");
    // A second Quit while the question is on screen asks nothing more.
    ASSERT_EQ(command("menu terminate", "chosen"), "chosen");
    ASSERT_TRUE(awaitAlerts(1)) << "no \"Unsaved Changes\"";
    ASSERT_EQ(command("answer Cancel", "answered"), "answered");
    // Still running: it answers the next Quit, with one question again.
    ASSERT_EQ(command("menu terminate", "chosen"), "chosen");
    ASSERT_TRUE(awaitAlerts(2)) << "the second Quit asked nothing";
    EXPECT_EQ(alerts_, (std::vector<std::string>{"Unsaved Changes", "Unsaved Changes"}));
    EXPECT_EQ(serverText(), kOriginal);
    ASSERT_EQ(command("answer Discard", "answered"), "answered");
    expectEndedWell(app_, awaitExit());
    EXPECT_EQ(alerts_.size(), 2u);
}

TEST_F(QuitProcess, QuitRightAfterSaveEndsTheAppWithTheSavedText) {
    launchWithDocument();
    if (HasFatalFailure()) return;
    ASSERT_EQ(command("menu save_file", "chosen"), "chosen");
    ASSERT_EQ(command("menu terminate", "chosen"), "chosen");
    expectEndedWell(app_, awaitExit());
    EXPECT_EQ(serverText(), std::string(kTyped) + kOriginal);
    // Nothing asks. A save that takes over a moment (on a loaded machine) says meanwhile that it
    // is on its way, which is all it may show.
    for (const auto& alert : alerts_) EXPECT_EQ(alert, "Save in Progress");
}

// The server takes the first upload and says nothing until the test lets it go on, as a server
// that does not answer would for as long as the connection's timeouts allow.
class QuitWithHeldSave : public QuitProcess {
protected:
    QuitWithHeldSave() { hold_uploads_ = true; }
    bool uploadHeld() {
        return QTest::qWaitFor([&] { return relay_->holding() || app_.state() == QProcess::NotRunning; }, 30000) &&
               relay_->holding();
    }
};

TEST_F(QuitWithHeldSave, QuitWhileASaveWaitsSaysSoAndCancelKeepsTheAppAndTheEdit) {
    launchWithDocument();
    if (HasFatalFailure()) return;
    ASSERT_EQ(command("menu save_file", "chosen"), "chosen");
    ASSERT_TRUE(uploadHeld()) << "the save never reached the server";
    ASSERT_EQ(command("menu terminate", "chosen"), "chosen");
    ASSERT_TRUE(awaitAlerts(1)) << "nothing shows while the quit waits for the save";
    EXPECT_EQ(alerts_, std::vector<std::string>{"Save in Progress"});
    ASSERT_EQ(command("answer Cancel", "answered"), "answered");
    // The save goes on and writes the edit; the app runs on.
    relay_->release();
    const std::string saved = std::string(kTyped) + kOriginal;
    EXPECT_TRUE(QTest::qWaitFor([&] { return serverText() == saved; }, 30000)) << serverText();
    ASSERT_EQ(app_.state(), QProcess::Running) << "Cancel did not keep the app";
    // Saved by now: the next Quit asks nothing.
    ASSERT_EQ(command("menu terminate", "chosen"), "chosen");
    expectEndedWell(app_, awaitExit());
    EXPECT_EQ(alerts_, std::vector<std::string>{"Save in Progress"});
}

TEST_F(QuitWithHeldSave, SaveChosenAtQuitSaysTheSaveIsUnderWayAndQuitsOnceItWrote) {
    launchWithDocument();
    if (HasFatalFailure()) return;
    ASSERT_EQ(command("menu terminate", "chosen"), "chosen");
    ASSERT_TRUE(awaitAlerts(1)) << "no \"Unsaved Changes\"";
    ASSERT_EQ(command("answer Save", "answered"), "answered");
    ASSERT_TRUE(uploadHeld()) << "the save never reached the server";
    ASSERT_TRUE(awaitAlerts(2)) << "nothing shows while the quit waits for the save";
    relay_->release();
    expectEndedWell(app_, awaitExit());
    EXPECT_EQ(serverText(), std::string(kTyped) + kOriginal);
    EXPECT_EQ(alerts_, (std::vector<std::string>{"Unsaved Changes", "Save in Progress"}));
}

// The quit closes the server window, whose connection is then closed on a pool thread: FTP's
// QUIT, whose answer the server here keeps back until the test lets it go on.
class QuitWithHeldClose : public QuitProcess {
protected:
    QuitWithHeldClose() {
        hold_uploads_ = true;
        hold_markers_ = {"QUIT"};
    }
};

TEST_F(QuitWithHeldClose, TheQuitWaitsForTheClosedWindowsConnectionToEnd) {
    launchWithDocument();
    if (HasFatalFailure()) return;
    ASSERT_EQ(command("menu save_file", "chosen"), "chosen");
    const std::string saved = std::string(kTyped) + kOriginal;
    ASSERT_TRUE(QTest::qWaitFor([&] { return serverText() == saved; }, 30000)) << serverText();
    ASSERT_EQ(command("menu terminate", "chosen"), "chosen");
    ASSERT_TRUE(QTest::qWaitFor([&] { return relay_->holding() || app_.state() == QProcess::NotRunning; }, 30000) &&
                relay_->holding())
        << "the quit never closed the connection";
    // Ending now would cut the close short (and, over TLS or SSH, close it after the crypto
    // library's own clean-up): the app waits for it, well within the exit's bound.
    EXPECT_FALSE(QTest::qWaitFor([&] { return app_.state() == QProcess::NotRunning; }, 3000))
        << "the app ended while its connection was being closed";
    relay_->release();
    expectEndedWell(app_, awaitExit());
    EXPECT_FALSE(relay_->client_left_while_held()) << "the connection was dropped before the server answered";
    EXPECT_TRUE(alerts_.empty()) << alerts_.front();
}

// ---- unsaved text kept across a crash or a kill ----------------------------------------------------

class KeptText : public QuitProcess {
protected:
    fs::path keptFolder() const { return home_.data() / "DravixFTPClient" / VornUnsavedTextKeeper::kFolderName; }
    fs::path keptFile(const std::string& service_id, const std::string& path) const {
        return keptFolder() / VornUnsavedTextKeeper::file_name(service_id, file_bucket_id_for_path(path));
    }
    // The kept text of page.html, when its file is there and readable.
    std::optional<std::string> keptText() const {
        auto bytes = defaults::readWholeFile(keptFile(id_, "/page.html"));
        auto document = bytes ? VornUnsavedTextKeeper::decode(*bytes) : std::nullopt;
        return document ? document->text() : std::nullopt;
    }
    bool keptGone(int ms = 15000) {
        return QTest::qWaitFor([&] { return !fs::exists(keptFile(id_, "/page.html")); }, ms);
    }
    // "document ..." once the app's document holds its file: {unsaved, modified, text}.
    struct DocumentState {
        bool unsaved = false;
        bool modified = false;
        std::string text;
    };
    std::optional<DocumentState> documentState() {
        const size_t from = lines_.size();
        app_.write("document\n");
        std::optional<DocumentState> state;
        QTest::qWaitFor(
            [&] {
                for (size_t i = from; i < lines_.size(); ++i) {
                    if (lines_[i].rfind("failed", 0) == 0) return true;
                    if (lines_[i].rfind("document ", 0) != 0) continue;
                    const QStringList parts = QString::fromStdString(lines_[i]).split(' ');
                    if (parts.size() < 3) return true;
                    state = DocumentState{parts[1] == "unsaved", parts[2] == "modified",
                                          parts.size() > 3 ? QByteArray::fromBase64(parts[3].toLatin1()).toStdString()
                                                           : std::string()};
                    return true;
                }
                return app_.state() == QProcess::NotRunning;
            },
            60000);
        return state;
    }
};

TEST_F(KeptText, AKilledAppReopensTheUnsavedTextAndASaveWritesItByteForByte) {
    launchWithDocument();
    if (HasFatalFailure()) return;
    const std::string edited = std::string(kTyped) + kOriginal;
    QElapsedTimer since_typed;
    since_typed.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return keptText() == edited; }, 15000)) << "the typed text was never kept";
    RecordProperty("kept_after_ms", static_cast<int>(since_typed.elapsed()));

    app_.kill();  // SIGKILL: no quit, no question, nothing written on the way out
    ASSERT_TRUE(app_.waitForFinished(10000));
    ASSERT_EQ(serverText(), kOriginal);
    ASSERT_EQ(keptText(), edited) << "the kill took the kept text";

    start();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(awaitAlerts(1, 60000)) << "the launch did not say what it restored";
    EXPECT_EQ(alerts_, std::vector<std::string>{"Unsaved Changes Restored"});
    ASSERT_EQ(command("answer OK", "answered"), "answered");
    auto state = documentState();
    ASSERT_TRUE(state) << "no document reopened";
    EXPECT_EQ(state->text, edited);
    EXPECT_TRUE(state->unsaved) << "the restored text reads as saved";
    // The window shows the file as changed the desktop's way from the start.
    EXPECT_TRUE(QTest::qWaitFor([&] {
        auto now = documentState();
        return now && now->modified;
    }, 10000)) << "the restored window is not marked modified";
    EXPECT_EQ(serverText(), kOriginal) << "restoring wrote to the server";

    ASSERT_EQ(command("menu save_file", "chosen"), "chosen");
    EXPECT_TRUE(QTest::qWaitFor([&] { return serverText() == edited; }, 30000)) << serverText();
    EXPECT_TRUE(keptGone()) << "the save left the kept copy";
    state = documentState();
    ASSERT_TRUE(state);
    EXPECT_FALSE(state->unsaved);
    EXPECT_FALSE(state->modified) << "the saved window is still marked modified";
    // Saved: the quit asks nothing, and the restore was told once.
    ASSERT_EQ(command("menu terminate", "chosen"), "chosen");
    expectEndedWell(app_, awaitExit());
    EXPECT_EQ(alerts_, std::vector<std::string>{"Unsaved Changes Restored"});
    EXPECT_EQ(serverText(), edited);
}

// A save's removal is the document windows' test; a quit's Discard removes the kept copy at the end.
TEST_F(KeptText, DiscardAtTheQuitRemovesTheKeptCopy) {
    launchWithDocument();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(QTest::qWaitFor([&] { return keptText() == std::string(kTyped) + kOriginal; }, 15000))
        << "the typed text was never kept";
    ASSERT_EQ(command("menu terminate", "chosen"), "chosen");
    ASSERT_TRUE(awaitAlerts(1)) << "no \"Unsaved Changes\"";
    ASSERT_EQ(command("answer Discard", "answered"), "answered");
    expectEndedWell(app_, awaitExit());
    EXPECT_FALSE(fs::exists(keptFile(id_, "/page.html"))) << "the next launch would restore it";
    EXPECT_EQ(serverText(), kOriginal);
}

TEST_F(KeptText, KeptTextOfADeletedServerIsSavedAsAFileOnceAndTheKeptCopyGoes) {
    VornKeptDocument gone;
    gone.service_id = "ftp://nobody@deleted.invalid/";
    gone.session_id = file_bucket_id_for_path("/site/index.html");
    gone.file_path = "/site/index.html";
    gone.server_name = "old host";
    gone.state = nlohmann::json{{"value", "<h1>never saved</h1>\n"}, {"undo_count", 4}}.dump();
    const fs::path file = keptFile(gone.service_id, gone.file_path);
    fs::create_directories(keptFolder());
    testsupport::writeFile(file, VornUnsavedTextKeeper::encode(VornKeptDocument(gone)));

    start();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(awaitAlerts(1, 60000)) << "the launch said nothing of the kept text";
    EXPECT_EQ(alerts_, std::vector<std::string>{"Unsaved Changes Restored"});
    const fs::path recovered = home_.data() / "DravixFTPClient" / "Recovered" / "index.html";
    EXPECT_EQ(filestest::readDiskFile(recovered), "<h1>never saved</h1>\n");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !fs::exists(file); }, 15000)) << "offered, but kept for the next launch too";
    ASSERT_EQ(command("answer OK", "answered"), "answered");
    ASSERT_EQ(command("menu terminate", "chosen"), "chosen");
    expectEndedWell(app_, awaitExit());
}

TEST_F(KeptText, KeptTextWhoseServerCannotBeReachedStaysForTheNextLaunch) {
    // The server is saved, but its password has left the keyring and the user does not give it:
    // the launch cannot connect.
    auto removed = keyringtest::runNow(
        [&](keychain::Completion c) { keychain::deletePassword(peer_.url, id_, std::move(c)); });
    ASSERT_FALSE(removed.failure);
    VornKeptDocument kept;
    kept.service_id = id_;
    kept.session_id = file_bucket_id_for_path("/page.html");
    kept.file_path = "/page.html";
    kept.state = nlohmann::json{{"value", "<p>kept</p>\n"}, {"undo_count", 3}}.dump();
    fs::create_directories(keptFolder());
    testsupport::writeFile(keptFile(id_, "/page.html"), VornUnsavedTextKeeper::encode(std::move(kept)));

    start();
    if (HasFatalFailure()) return;
    // Without a password in the keyring the launch asks for one; the user cancels.
    auto asked = [&] {
        return std::any_of(alerts_.begin(), alerts_.end(), [](const std::string& a) { return a.rfind("Password for", 0) == 0; });
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked() || app_.state() == QProcess::NotRunning; }, 60000) && asked())
        << "the password was not asked for";
    ASSERT_EQ(command("answer Cancel", "answered"), "answered");
    auto told = [&] { return std::count(alerts_.begin(), alerts_.end(), "Unsaved Changes Restored") > 0; };
    ASSERT_TRUE(QTest::qWaitFor([&] { return told() || app_.state() == QProcess::NotRunning; }, 60000) && told())
        << "the launch said nothing of the kept text";
    EXPECT_EQ(keptText(), "<p>kept</p>\n") << "text that could not be reopened was not kept";
    EXPECT_EQ(serverText(), kOriginal);
}

}  // namespace
