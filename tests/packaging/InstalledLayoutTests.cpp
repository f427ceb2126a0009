// The app as an install leaves it: `cmake --install` into a temporary prefix, then the installed
// program started with a fresh home, its source and build trees hidden from it (tmpfs mounted over
// them in a private mount namespace), against the local FTP server. It must find its resources
// beside itself, open its window, and load the editor page with a file of the server in it. What
// is installed holds no test hook: no control channel (the program's test build, which has one,
// is copied beside the installed program to drive it), no seam setter of the tests.
#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/AppProcessSupport.h"
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace {

constexpr const char* kAppId = "com.dravix.ftpclient";
constexpr const char* kMarker = "<!-- the installed copy of the page -->";

// Runs a program to its end; its exit code and standard output.
std::pair<int, std::string> run(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(120000)) return {-1, "did not finish"};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            p.readAllStandardOutput().toStdString() + p.readAllStandardError().toStdString()};
}

class InstalledApp : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "no display (DISPLAY is empty)";
        prefix_ = home_.root() / "prefix";
        const auto [rc, out] = run(QStringLiteral(DRAVIX_CMAKE),
                                   {"--install", DRAVIX_BUILD_TREE, "--prefix", QString::fromStdString(prefix_.string())});
        ASSERT_EQ(rc, 0) << out;
    }

    void TearDown() override {
        if (app_.state() != QProcess::NotRunning) {
            app_.kill();
            app_.waitForFinished(5000);
        }
    }

    std::string command(const std::string& line, const std::string& expected, int ms = 60000) {
        return apptest::command(app_, lines_, line, expected, ms);
    }

    // The program's test build, copied beside the installed program: it runs as that one does
    // (its resources, and its libraries in a build of shared ones, found from its own path).
    fs::path installTestable() {
        const fs::path copy = prefix_ / "bin" / "dravix-testable";
        fs::copy_file(DRAVIX_TESTABLE_APP, copy, fs::copy_options::overwrite_existing);
        return copy;
    }

    // Every file the install put in bin/ and lib/ (the program, and the project's libraries in a
    // build of shared ones).
    std::vector<fs::path> installedCode() const {
        std::vector<fs::path> out;
        for (const char* folder : {"bin", "lib"}) {
            std::error_code ec;
            for (auto it = fs::recursive_directory_iterator(prefix_ / folder, ec); !ec && it != fs::end(it);
                 it.increment(ec)) {
                if (it->is_regular_file()) out.push_back(it->path());
            }
        }
        return out;
    }

    testsupport::TempHome home_;
    fs::path prefix_;
    QProcess app_;
    std::vector<std::string> lines_;
};

TEST_F(InstalledApp, PutsEachFileWhereTheDesktopLooksAndOneVersionInAll) {
    const fs::path share = prefix_ / "share";
    for (const fs::path& file :
         {prefix_ / "bin" / "dravix", share / "dravix" / "Info.json", share / "dravix" / "ace" / "index.html",
          share / "dravix" / "ace" / "lib" / "ace.js", share / "applications" / (std::string(kAppId) + ".desktop"),
          share / "metainfo" / (std::string(kAppId) + ".metainfo.xml"),
          share / "icons" / "hicolor" / "scalable" / "apps" / (std::string(kAppId) + ".svg"),
          share / "doc" / "dravix" / "copyright", share / "doc" / "dravix" / "changelog.gz"})
        EXPECT_TRUE(fs::is_regular_file(file)) << file;
    for (int size : {48, 128, 256}) {
        const auto png = share / "icons" / "hicolor" / (std::to_string(size) + "x" + std::to_string(size)) / "apps" /
                         (std::string(kAppId) + ".png");
        const QImage image(QString::fromStdString(png.string()));
        EXPECT_EQ(image.size(), QSize(size, size)) << png;
    }

    const auto info = nlohmann::json::parse(testsupport::readFile(share / "dravix" / "Info.json"), nullptr, false);
    EXPECT_EQ(info.value("CFBundleShortVersionString", ""), DRAVIX_VERSION);
    EXPECT_NE(testsupport::readFile(share / "metainfo" / (std::string(kAppId) + ".metainfo.xml"))
                  .find("<release version=\"" DRAVIX_VERSION "\""),
              std::string::npos);
    const auto [rc, out] = run(QString::fromStdString((prefix_ / "bin" / "dravix").string()), {"--version"});
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out, "dravix " DRAVIX_VERSION "\n");
}

TEST_F(InstalledApp, StartsWithTheTreesHiddenAndLoadsTheInstalledEditorPage) {
    auto peer = filestest::loadPeer("pyftpd");
    if (!peer.skipReason.empty()) GTEST_SKIP() << peer.skipReason;
    if (auto why = keyringtest::keyringUnavailable()) GTEST_SKIP() << *why;
    const auto [can_hide, why] = run("unshare", {"-m", "true"});
    ASSERT_EQ(can_hide, 0) << "a private mount namespace is needed to hide the trees: " << why;

    // The page as installed, marked, so that the copy the app makes shows where it came from.
    const fs::path page = prefix_ / "share" / "dravix" / "ace" / "index.html";
    testsupport::writeFile(page, testsupport::readFile(page) + kMarker + "\n");

    const std::string folder = keyringtest::unique("installed");
    peer.root /= folder;
    peer.url += "/" + folder + "/";
    filestest::makeDiskFolder(peer.root);
    filestest::writeDiskFile(peer.root / "page.html", "<p>from the server</p>\n");
    keyringtest::Cleanup keys;
    std::string id;
    apptest::save_ftp_server(home_, peer, "installed", keys, id);
    if (HasFatalFailure()) return;

    const fs::path program = installTestable();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", QString::fromStdString(home_.root().string()));
    env.remove("DRAVIX_RESOURCE_DIR");
    app_.setProcessEnvironment(env);
    QObject::connect(&app_, &QProcess::readyReadStandardOutput, [this] {
        while (app_.canReadLine()) lines_.push_back(app_.readLine().trimmed().toStdString());
    });
    // The build tree first: it may lie inside the source tree, which hides it too.
    app_.start("unshare", {"-m", "sh", "-c",
                           "mount -t tmpfs none \"$1\" && mount -t tmpfs none \"$2\" && shift 2 && exec \"$@\"", "sh",
                           DRAVIX_BUILD_TREE, DRAVIX_SOURCE_TREE, QString::fromStdString(program.string())});
    ASSERT_TRUE(app_.waitForStarted(10000));

    ASSERT_EQ(command("connect " + id, "connected"), "connected");
    ASSERT_EQ(command("open page.html", "opened"), "opened");
    EXPECT_EQ(command("key", "key main_editor shown", 15000), "key main_editor shown");
    const fs::path copied = home_.data() / "DravixFTPClient" / "Editor" / "ace" / "index.html";
    EXPECT_NE(testsupport::readFile(copied).find(kMarker), std::string::npos) << "the page did not come from the install";
}

// The installed code names none of the tests' hooks (its symbols are not stripped, so a function
// that were there would be named): the scan is shown to see them in the test build, which has
// its control channel.
TEST_F(InstalledApp, HoldsNoTestHook) {
    // The names of the channel and the seam setters, and an answer of the channel (a text that
    // stays in a stripped program).
    const std::vector<std::string> hooks = {"DRAVIX_TEST_CONTROL", "setSaveCutHook", "setUserHomeForTests",
                                            "test_control", "alert-message "};
    const auto code = installedCode();
    ASSERT_FALSE(code.empty());
    for (const fs::path& file : code) {
        const std::string bytes = testsupport::readFile(file);
        for (const auto& hook : hooks) EXPECT_EQ(bytes.find(hook), std::string::npos) << hook << " in " << file;
    }
    for (const char* hook : {"test_control", "alert-message "}) {
        EXPECT_NE(testsupport::readFile(DRAVIX_TESTABLE_APP).find(hook), std::string::npos)
            << "the scan does not see the test build's channel: " << hook;
    }
}

// Started as the tests once started it, with DRAVIX_TEST_CONTROL=1 and commands on its standard
// input, the installed program answers none of them; its test build, started the same way,
// answers. A second launch on the same data folder, handed over to the running copy, shows that
// the copy's event loop has run (with the commands already waiting on its input) before the copy
// is ended and what it wrote is read.
TEST_F(InstalledApp, AnswersNothingOnItsStandardInput) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "no display (DISPLAY is empty)";
    const fs::path installed = prefix_ / "bin" / "dravix";
    const fs::path testable = installTestable();
    struct Case {
        const char* name;
        fs::path program;
        bool answers;
    };
    for (const Case& c : {Case{"installed", installed, false}, Case{"test build", testable, true}}) {
        SCOPED_TRACE(c.name);
        testsupport::TempHome home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", QString::fromStdString(home.root().string()));
        env.insert("XDG_DATA_HOME", QString::fromStdString((home.root() / "data").string()));
        env.insert("XDG_CONFIG_HOME", QString::fromStdString((home.root() / "config").string()));
        env.insert("DRAVIX_SKIP_TELEMETRY", "1");
        env.insert("DRAVIX_TEST_CONTROL", "1");
        env.remove("DRAVIX_RESOURCE_DIR");
        QProcess app;
        app.setProcessEnvironment(env);
        app.setStandardErrorFile(QProcess::nullDevice());
        app.start(QString::fromStdString(c.program.string()), {});
        ASSERT_TRUE(app.waitForStarted(10000));
        app.write("windows\nkey\n");
        ASSERT_TRUE(app.waitForBytesWritten(10000));
        // The second launch starts once this copy holds the data folder (its lock names it):
        // started sooner, it could take the folder first and run on as the copy itself.
        const fs::path lock = home.root() / "data" / "DravixFTPClient" / ".running";
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                std::ifstream in(lock);
                qint64 pid = 0;
                return in >> pid && pid == app.processId();
            },
            60000))
            << "the copy never took the data folder";

        QProcess second;
        second.setProcessEnvironment(env);
        second.start(QString::fromStdString(installed.string()), {});
        // Waited for with the event loop running, which keeps reading what the running copy
        // writes: blocked in waitForFinished, the test would leave the copy's output pipe full
        // and the copy stuck in a write, never answering the second launch.
        ASSERT_TRUE(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 120000))
            << "the second launch did not end: " << second.readAllStandardError().toStdString()
            << "\nthe running copy wrote: " << app.readAllStandardOutput().toStdString();
        EXPECT_EQ(second.exitCode(), 0) << "the second launch was not handed over: "
                                        << second.readAllStandardError().toStdString();
        if (c.answers) {
            // The channel's answers, once they are both there.
            EXPECT_TRUE(QTest::qWaitFor(
                [&] {
                    const QByteArray out = app.peek(1 << 20);
                    return out.contains("windows ") && out.contains("key ");
                },
                60000));
        }
        app.kill();
        ASSERT_TRUE(app.waitForFinished(10000));
        const std::string out = app.readAllStandardOutput().toStdString();
        EXPECT_EQ(out.find("windows ") != std::string::npos, c.answers) << out;
        EXPECT_EQ(out.find("key ") != std::string::npos, c.answers) << out;
    }
}

}  // namespace
