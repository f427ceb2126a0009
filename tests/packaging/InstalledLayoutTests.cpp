// The app as an install leaves it: `cmake --install` into a temporary prefix, then the installed
// program started with a fresh home, its source and build trees hidden from it (tmpfs mounted over
// them in a private mount namespace), against the local FTP server. It must find its resources
// beside itself, open its window, and load the editor page with a file of the server in it.
#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QTest>
#include <filesystem>
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

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", QString::fromStdString(home_.root().string()));
    env.insert("DRAVIX_TEST_CONTROL", "1");
    env.remove("DRAVIX_RESOURCE_DIR");
    app_.setProcessEnvironment(env);
    QObject::connect(&app_, &QProcess::readyReadStandardOutput, [this] {
        while (app_.canReadLine()) lines_.push_back(app_.readLine().trimmed().toStdString());
    });
    // The build tree first: it may lie inside the source tree, which hides it too.
    app_.start("unshare", {"-m", "sh", "-c",
                           "mount -t tmpfs none \"$1\" && mount -t tmpfs none \"$2\" && shift 2 && exec \"$@\"", "sh",
                           DRAVIX_BUILD_TREE, DRAVIX_SOURCE_TREE,
                           QString::fromStdString((prefix_ / "bin" / "dravix").string())});
    ASSERT_TRUE(app_.waitForStarted(10000));

    ASSERT_EQ(command("connect " + id, "connected"), "connected");
    ASSERT_EQ(command("open page.html", "opened"), "opened");
    EXPECT_EQ(command("key", "key main_editor shown", 15000), "key main_editor shown");
    const fs::path copied = home_.data() / "DravixFTPClient" / "Editor" / "ace" / "index.html";
    EXPECT_NE(testsupport::readFile(copied).find(kMarker), std::string::npos) << "the page did not come from the install";
}

}  // namespace
