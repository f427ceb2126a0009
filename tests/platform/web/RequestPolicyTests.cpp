#include <gtest/gtest.h>

#include <QUrl>

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/web/RequestPolicy.h"
#include "platform/web/SiteResources.h"
#include "platform/web/WebProfile.h"

namespace fs = std::filesystem;

namespace {

class RequestPolicyTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        root_ = fs::temp_directory_path() / ("dravix-policy-" + std::to_string(rd()));
        fs::create_directories(root_ / "page" / "lib");
        fs::create_directories(root_ / "page-evil");
        touch(root_ / "page" / "index.html");
        touch(root_ / "page" / "lib" / "ace.js");
        touch(root_ / "page-evil" / "index.html");
        touch(root_ / "secret.txt");
        fs::create_symlink(root_ / "secret.txt", root_ / "page" / "link-out.txt");
        fs::create_symlink(root_ / "page" / "lib" / "ace.js", root_ / "page" / "link-in.js");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    static void touch(const fs::path& p) { std::ofstream(p) << "x"; }
    QUrl file(const std::string& relative) const {
        return QUrl::fromLocalFile(QString::fromStdString((root_ / relative).string()));
    }
    fs::path root_;
};

TEST_F(RequestPolicyTest, FolderPolicyAllowsOnlyFilesInsideTheFolder) {
    auto policy = web::RequestPolicy::folder(root_ / "page");
    ASSERT_TRUE(policy);
    struct Case {
        QUrl url;
        bool allowed;
    };
    const Case cases[] = {
        {file("page/index.html"), true},
        {file("page/lib/ace.js"), true},
        {file("page/link-in.js"), true},
        {file("page"), true},
        {QUrl(QString::fromStdString("file://" + (root_ / "page/lib/../index.html").string())), true},
        {QUrl(QString::fromStdString("file://" + (root_ / "page/../secret.txt").string())), false},
        {file("secret.txt"), false},
        {file("page/link-out.txt"), false},
        {file("page-evil/index.html"), false},
        {file("page/missing.js"), false},
        {QUrl("file:///etc/hostname"), false},
        {QUrl(QString::fromStdString("file://otherhost" + (root_ / "page/index.html").string())), false},
        {QUrl("http://127.0.0.1:8080/x.js"), false},
        {QUrl("https://127.0.0.1/x.js"), false},
        {QUrl("ws://127.0.0.1/socket"), false},
        {QUrl("ftp://127.0.0.1/file"), false},
        {QUrl(QStringLiteral("%1://p1/").arg(QLatin1String(web::kPageScheme))), false},
        {QUrl("qrc:/qtwebchannel/qwebchannel.js"), false},
        {QUrl("data:text/plain,hello"), true},
        {QUrl("about:blank"), true},
        {QUrl(), false},
    };
    for (const auto& c : cases) EXPECT_EQ(policy->allows(c.url), c.allowed) << c.url.toString().toStdString();
    ASSERT_TRUE(policy->readAccessFolder());
    EXPECT_EQ(policy->readAccessFolder()->toStdString(), fs::canonical(root_ / "page").string());
}

TEST_F(RequestPolicyTest, FolderPolicyNeedsAnExistingFolder) {
    EXPECT_FALSE(web::RequestPolicy::folder(root_ / "nowhere"));
    EXPECT_FALSE(web::RequestPolicy::folder(root_ / "secret.txt"));
}

TEST_F(RequestPolicyTest, MemoryPagePolicyNeverAllowsFiles) {
    const QUrl page(QStringLiteral("%1://p7/").arg(QLatin1String(web::kPageScheme)));
    for (bool network : {false, true}) {
        const auto policy = web::RequestPolicy::memoryPage(network);
        EXPECT_TRUE(policy.allows(page));
        EXPECT_FALSE(policy.allows(file("page/index.html")));
        EXPECT_FALSE(policy.allows(QUrl("file:///etc/hostname")));
        EXPECT_EQ(policy.allows(QUrl("http://127.0.0.1/style.css")), network);
        EXPECT_EQ(policy.allows(QUrl("https://127.0.0.1/style.css")), network);
        EXPECT_FALSE(policy.allows(QUrl("ws://127.0.0.1/")));
        EXPECT_FALSE(policy.readAccessFolder());
    }
}

TEST_F(RequestPolicyTest, SitePolicyAllowsItsOwnSiteOnly) {
    const QString key = QStringLiteral("0a1b2c");
    for (bool network : {false, true}) {
        const auto policy = web::RequestPolicy::site(key, network);
        struct Case {
            QUrl url;
            bool allowed;
        } const cases[] = {
            {web::site::address(key, "/index.html"), true},
            {web::site::address(key, "/css/a b.css"), true},
            {web::site::address(QStringLiteral("0a1b2d"), "/index.html"), false},
            {QUrl(QStringLiteral("%1://p7/").arg(QLatin1String(web::kPageScheme))), false},
            {file("page/index.html"), false},
            {QUrl("file:///etc/hostname"), false},
            {QUrl("http://127.0.0.1/style.css"), network},
            {QUrl("https://127.0.0.1/style.css"), network},
            {QUrl("ws://127.0.0.1/"), false},
            {QUrl("data:text/css,p{}"), true},
        };
        for (const auto& c : cases) EXPECT_EQ(policy.allows(c.url), c.allowed) << c.url.toString().toStdString();
    }
    EXPECT_FALSE(web::RequestPolicy::site(QString(), true).allows(web::site::address(QString(), "/")));
}

TEST_F(RequestPolicyTest, WebPolicyAllowsTheWebOnly) {
    const auto policy = web::RequestPolicy::web();
    struct Case {
        QUrl url;
        bool allowed;
    } const cases[] = {
        {QUrl("http://127.0.0.1:8080/page.php"), true},
        {QUrl("https://example.com/css/a.css"), true},
        {web::site::address(QStringLiteral("0a1b2c"), "/index.html"), false},
        {QUrl(QStringLiteral("%1://p7/").arg(QLatin1String(web::kPageScheme))), false},
        {file("page/index.html"), false},
        {QUrl("file:///etc/hostname"), false},
        {QUrl("ws://127.0.0.1/"), false},
        {QUrl("data:text/css,p{}"), true},
    };
    for (const auto& c : cases) EXPECT_EQ(policy.allows(c.url), c.allowed) << c.url.toString().toStdString();
    EXPECT_FALSE(policy.readAccessFolder());
}

TEST_F(RequestPolicyTest, DefaultPolicyRefusesEverythingButInPageUrls) {
    const web::RequestPolicy policy;
    EXPECT_FALSE(policy.allows(file("page/index.html")));
    EXPECT_FALSE(policy.allows(QUrl("http://127.0.0.1/")));
    EXPECT_TRUE(policy.allows(QUrl("about:blank")));
}

}  // namespace
