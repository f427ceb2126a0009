// Quit in the real app: the `dravix` program runs as a child process with a home of its own, a
// saved FTP server (the local pyftpdlib peer) and its password in the session's keyring. The
// test reaches the app's own menu items and alert buttons through its test control channel
// (DRAVIX_TEST_CONTROL=1, see AppTestControl.h), and checks what a user would see: whether the
// app ends and how, how long it takes, the file on the server, and each alert shown once.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <chrono>
#include <string>
#include <vector>

#include "HoldingRelay.h"
#include "platform/dispatch/ExitDrain.h"
#include "platform/files/ProviderTestSupport.h"
#include "platform/keychain/KeyringTestSupport.h"
#include "support/TempHome.h"
#include "tandrel/foundation/VornKeyChainUtilityClass.h"
#include "tandrel/foundation/VornServicesDataModel.h"

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
            relay_ = std::make_unique<relaytest::HoldingRelay>(peer_.port);
            const std::string port = ":" + std::to_string(peer_.port);
            peer_.url.replace(peer_.url.find(port), port.size(), ":" + std::to_string(relay_->port()));
        }

        // The saved server, as the server form leaves it, and its password in the keyring.
        id_ = VornKeyChainUtilityClass::keychain_account(peer_.url, peer_.user);
        auto server = std::make_shared<VornSingleServiceDataModel>();
        server->id = id_;
        server->url = peer_.url;
        server->username = peer_.user;
        server->nickname = "quit test";
        server->connection_type = EnumManager::VornConnectionType::ftp;
        VornServicesDataModel services;
        services.saved_services.push_back(server);
        const auto text = services.toJsonString();
        ASSERT_TRUE(text);
        const fs::path services_folder = home_.data() / "DravixFTPClient" / "Services";
        fs::create_directories(services_folder);
        testsupport::writeFile(services_folder / "app_services.json", *text);
        keys_.add(peer_.url, id_);
        auto stored = keyringtest::runNow(
            [&](keychain::Completion c) { keychain::writePassword(peer_.url, id_, peer_.password, std::move(c)); });
        ASSERT_FALSE(stored.failure);
    }

    void TearDown() override {
        if (app_.state() != QProcess::NotRunning) {
            app_.kill();
            app_.waitForFinished(5000);
        }
    }

    // Starts the app and opens page.html of the saved server in a document window.
    void launchWithDocument() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", QString::fromStdString(home_.root().string()));
        env.insert("DRAVIX_TEST_CONTROL", "1");
        app_.setProcessEnvironment(env);
        app_.setProcessChannelMode(QProcess::SeparateChannels);
        QObject::connect(&app_, &QProcess::readyReadStandardOutput, [this] {
            while (app_.canReadLine()) {
                const std::string line = app_.readLine().trimmed().toStdString();
                lines_.push_back(line);
                if (line.rfind("alert ", 0) == 0) alerts_.push_back(line.substr(6));
            }
        });
        app_.start(QStringLiteral(DRAVIX_APP), {});
        ASSERT_TRUE(app_.waitForStarted(10000)) << "the app did not start";
        ASSERT_EQ(command("connect " + id_, "connected", 60000), "connected");
        ASSERT_EQ(command("open page.html", "opened", 60000), "opened");
        ASSERT_EQ(command("type " + std::string(kTyped), "typed", 15000), "typed");
    }

    // Sends a command and waits for its answer (the expected line, or any "failed ..." line).
    std::string command(const std::string& line, const std::string& expected, int ms = 15000) {
        const size_t from = lines_.size();
        app_.write((line + "\n").c_str());
        std::string answer;
        QTest::qWaitFor(
            [&] {
                for (size_t i = from; i < lines_.size(); ++i) {
                    if (lines_[i] == expected || lines_[i].rfind("failed", 0) == 0) {
                        answer = lines_[i];
                        return true;
                    }
                }
                return app_.state() == QProcess::NotRunning;
            },
            ms);
        return answer;
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
    EXPECT_TRUE(alerts_.empty()) << alerts_.front();
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

}  // namespace
