// One app per data folder, with the real program as child processes: a second launch on a folder
// that a running copy holds brings that copy's server window forward and ends without having
// written anything; copies on folders of their own run side by side; a copy that was killed
// leaves nothing that keeps the next launch from running. The copies the test asks things of are
// the program's test build (`dravix-testable`), reached through its control channel
// (AppTestControl.h); the others are `dravix` itself.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <signal.h>

#include "support/TempHome.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kServices =
    "{\"saved_services\":[{\"id\":\"5B0E8C1A-2F47-4D39-9E61-7A3C0B2D4E58\",\"connection_type\":{\"ftp\":{}},"
    "\"url\":\"ftp://127.0.0.1:9/\",\"username\":\"someone\",\"nickname\":\"kept\",\"created_date\":0,"
    "\"last_connected\":0}]}";

// One run of the app in a home of its own.
class AppRun {
public:
    AppRun(const fs::path& home, bool control) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", QString::fromStdString(home.string()));
        env.insert("XDG_DATA_HOME", QString::fromStdString((home / "data").string()));
        env.insert("XDG_CONFIG_HOME", QString::fromStdString((home / "config").string()));
        env.insert("XDG_STATE_HOME", QString::fromStdString((home / "state").string()));
        env.insert("XDG_CACHE_HOME", QString::fromStdString((home / "cache").string()));
        env.insert("DRAVIX_SKIP_TELEMETRY", "1");
        process_.setProcessEnvironment(env);
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] {
            while (process_.canReadLine()) lines_.push_back(process_.readLine().trimmed().toStdString());
        });
        process_.start(QString::fromUtf8(control ? DRAVIX_TESTABLE_APP : DRAVIX_APP), {});
    }
    ~AppRun() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.kill();
        process_.waitForFinished(5000);
    }

    bool running() const { return process_.state() != QProcess::NotRunning; }
    QProcess& process() { return process_; }

    // Sends a command; its answer (the first line starting with `prefix` or "failed"), or "".
    std::string ask(const std::string& line, const std::string& prefix, int ms = 15000) {
        const size_t from = lines_.size();
        process_.write((line + "\n").c_str());
        std::string answer;
        QTest::qWaitFor(
            [&] {
                for (size_t i = from; i < lines_.size(); ++i) {
                    if (lines_[i].rfind(prefix, 0) == 0 || lines_[i].rfind("failed", 0) == 0) {
                        answer = lines_[i];
                        return true;
                    }
                }
                return !running();
            },
            ms);
        return answer;
    }

    // Asks `key` until the answer is `wanted` (the app may still be opening its first window).
    bool keyBecomes(const std::string& wanted, int ms = 60000) {
        return QTest::qWaitFor([&] { return ask("key", "key") == wanted || !running(); }, ms) &&
               ask("key", "key") == wanted;
    }

    // Whether a line starting with `prefix` came (waits for it).
    bool saw(const std::string& prefix, int ms) {
        return QTest::qWaitFor(
            [&] {
                for (const auto& l : lines_)
                    if (l.rfind(prefix, 0) == 0) return true;
                return false;
            },
            ms);
    }

    bool ends(int ms = 20000) {
        return QTest::qWaitFor([&] { return !running(); }, ms);
    }

private:
    QProcess process_;
    std::vector<std::string> lines_;
};

// What a launch writes: the stores' files and the fresh copy of the editor page made at every
// launch (the settings are left out: the running copy itself writes them as its window comes
// back).
struct Footprint {
    std::vector<std::pair<std::string, std::string>> entries;
    static Footprint of(const fs::path& home) {
        Footprint f;
        const fs::path app = home / "data" / "DravixFTPClient";
        for (const fs::path& p : {app / "Services" / "app_services.json", app / "Editor" / "editor_preferences.json",
                                  app / "Editor" / "ace"}) {
            std::error_code ec;
            const auto time = fs::last_write_time(p, ec);
            std::string text = ec ? std::string("missing") : std::to_string(time.time_since_epoch().count());
            if (fs::is_regular_file(p, ec)) text += " " + testsupport::readFile(p);
            f.entries.emplace_back(p.string(), text);
        }
        return f;
    }
    bool operator==(const Footprint&) const = default;
};

class Instance : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "no display (DISPLAY is empty)";
    }

    static fs::path homeWithServer(const testsupport::TempHome& home) {
        const fs::path folder = home.root() / "data" / "DravixFTPClient" / "Services";
        fs::create_directories(folder);
        testsupport::writeFile(folder / "app_services.json", kServices);
        return home.root();
    }
};

TEST_F(Instance, ASecondLaunchBringsTheRunningServerWindowForwardAndEndsWithoutWriting) {
    testsupport::TempHome home;
    const fs::path root = homeWithServer(home);
    AppRun first(root, true);
    ASSERT_TRUE(first.keyBecomes("key server_viewer shown")) << "the first copy showed no server window";
    ASSERT_EQ(first.ask("minimize", "minimized"), "minimized");
    ASSERT_EQ(first.ask("key", "key"), "key server_viewer minimized");
    const Footprint before = Footprint::of(root);

    AppRun second(root, false);
    ASSERT_TRUE(second.ends()) << "the second launch keeps running beside the first";
    EXPECT_EQ(second.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.process().exitCode(), 0);

    EXPECT_TRUE(first.running());
    EXPECT_TRUE(first.keyBecomes("key server_viewer shown", 10000)) << "the running copy did not come forward";
    EXPECT_TRUE(Footprint::of(root) == before) << "the second launch wrote into the app's folders";
    EXPECT_EQ(testsupport::readFile(root / "data" / "DravixFTPClient" / "Services" / "app_services.json"), kServices);
}

// A first copy that is slow to start (stopped here, as a slow keyring would hold it): the later
// launch says so in a window and waits, and ends once the first copy has come forward.
TEST_F(Instance, ASecondLaunchWhileTheFirstIsStillStartingWaitsInAWindowUntilItComesForward) {
    testsupport::TempHome home;
    const fs::path root = homeWithServer(home);
    const fs::path lock = root / "data" / "DravixFTPClient" / ".running";
    AppRun first(root, true);
    const qint64 pid = first.process().processId();
    ASSERT_GT(pid, 0);
    // Stopped as soon as it holds the folder, before its window is there.
    auto holder = [&] {
        std::error_code ec;
        return fs::exists(lock, ec) ? testsupport::readFile(lock) : std::string();
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return holder() == std::to_string(pid) + "\n"; }, 20000));
    ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGSTOP), 0);
    struct Resume {
        qint64 pid;
        ~Resume() { ::kill(static_cast<pid_t>(pid), SIGCONT); }
    } resume{pid};

    AppRun second(root, true);
    EXPECT_TRUE(second.saw("waiting " + std::to_string(pid), 30000)) << "the later launch did not say it waits";
    EXPECT_TRUE(second.running()) << "the later launch ended while the first was still starting, with status "
                                  << second.process().exitCode();
    ::kill(static_cast<pid_t>(pid), SIGCONT);

    ASSERT_TRUE(second.ends(60000)) << "the later launch kept waiting after the first came up";
    EXPECT_EQ(second.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.process().exitCode(), 0);
    EXPECT_TRUE(first.keyBecomes("key server_viewer shown")) << "the first copy's window did not come forward";
}

TEST_F(Instance, CopiesWithDataFoldersOfTheirOwnRunSideBySide) {
    testsupport::TempHome a;
    testsupport::TempHome b;
    AppRun one(homeWithServer(a), true);
    AppRun two(homeWithServer(b), true);
    EXPECT_TRUE(one.keyBecomes("key server_viewer shown"));
    EXPECT_TRUE(two.keyBecomes("key server_viewer shown"));
}

TEST_F(Instance, ACopyThatWasKilledDoesNotKeepTheNextLaunchFromRunning) {
    testsupport::TempHome home;
    const fs::path root = homeWithServer(home);
    {
        AppRun killed(root, true);
        ASSERT_TRUE(killed.keyBecomes("key server_viewer shown"));
        killed.process().kill();
        ASSERT_TRUE(killed.ends());
    }
    AppRun next(root, true);
    EXPECT_TRUE(next.keyBecomes("key server_viewer shown")) << "the launch after the kill does not run";
}

}  // namespace
