#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

#include "FoundationTestSupport.h"
#include "tandrel/foundation/VornAppUrlUtility.h"
#include "tandrel/foundation/VornEditorPreferencesManager.h"

namespace fs = std::filesystem;

namespace {
// A stand-in editor page in a resource folder that the app is pointed at.
struct PageResources {
    fs::path dir;
    explicit PageResources(const fs::path& root) : dir(root / "resources") {
        testsupport::writeFile(dir / "ace" / "index.html", "<html>page</html>");
        testsupport::writeFile(dir / "ace" / "src" / "ace.js", "// editor");
        setenv("DRAVIX_RESOURCE_DIR", dir.c_str(), 1);
    }
    ~PageResources() { unsetenv("DRAVIX_RESOURCE_DIR"); }
};

std::vector<std::string> tree(const fs::path& root) {
    std::vector<std::string> out;
    for (auto& e : fs::recursive_directory_iterator(root)) out.push_back(fs::relative(e.path(), root).string());
    std::sort(out.begin(), out.end());
    return out;
}

unsigned mode(const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}
}  // namespace

TEST(AppFolders, FirstLaunchMakesTheTreeAndTheExactDefaultFiles) {
    AppHome home;
    PageResources page(home.root());
    VornAppUrlUtility::reset_for_testing();
    EXPECT_FALSE(VornAppUrlUtility::create_urls());

    const auto app = home.data() / "DravixFTPClient";
    EXPECT_EQ(tree(app), (std::vector<std::string>{"Editor", "Editor/ace", "Editor/ace/index.html", "Editor/ace/src",
                                                   "Editor/ace/src/ace.js", "Editor/editor_preferences.json", "Services",
                                                   "Services/app_services.json", "Sessions"}));
    EXPECT_EQ(testsupport::readFile(app / "Services" / "app_services.json"), "{\n  \"saved_services\": []\n}");
    EXPECT_EQ(testsupport::readFile(app / "Editor" / "editor_preferences.json"),
              "{\n  \"gutter_visible\": true,\n  \"auto_suggest_enabled\": true,\n  \"invisibles_visible\": false,\n"
              "  \"theme_id\": 12,\n  \"soft_wrap\": 2,\n  \"soft_wrap_custom_value\": 80\n}");
    EXPECT_EQ(VornAppUrlUtility::base_url(), app);
    EXPECT_EQ(VornAppUrlUtility::ace_folder_url(), app / "Editor" / "ace");
    EXPECT_EQ(VornAppUrlUtility::services_file_url(), app / "Services" / "app_services.json");
    EXPECT_EQ(VornAppUrlUtility::editor_pref_file_url(), app / "Editor" / "editor_preferences.json");
    // The user's data is the user's alone.
    for (const char* folder : {"", "Sessions", "Services", "Editor"}) EXPECT_EQ(mode(app / folder), 0700u) << folder;
    EXPECT_EQ(mode(app / "Services" / "app_services.json"), 0600u);
    EXPECT_EQ(mode(app / "Editor" / "editor_preferences.json"), 0600u);
}

TEST(AppFolders, NextLaunchKeepsTheJsonFilesAndReplacesThePage) {
    AppHome home;
    PageResources page(home.root());
    VornAppUrlUtility::reset_for_testing();
    ASSERT_FALSE(VornAppUrlUtility::create_urls());
    const auto app = home.data() / "DravixFTPClient";
    testsupport::writeFile(app / "Services" / "app_services.json", "{\"saved_services\":[1]}");
    testsupport::writeFile(app / "Editor" / "editor_preferences.json", "custom");
    testsupport::writeFile(app / "Editor" / "ace" / "user-file.txt", "mine");
    testsupport::writeFile(page.dir / "ace" / "index.html", "<html>new version</html>");

    VornAppUrlUtility::reset_for_testing();
    EXPECT_FALSE(VornAppUrlUtility::create_urls());
    EXPECT_EQ(testsupport::readFile(app / "Services" / "app_services.json"), "{\"saved_services\":[1]}");
    EXPECT_EQ(testsupport::readFile(app / "Editor" / "editor_preferences.json"), "custom");
    EXPECT_FALSE(fs::exists(app / "Editor" / "ace" / "user-file.txt"));
    EXPECT_EQ(testsupport::readFile(app / "Editor" / "ace" / "index.html"), "<html>new version</html>");
}

TEST(AppFolders, AFailedPageCopyKeepsTheOldPageAndTheFileUrls) {
    if (geteuid() == 0) {
        // Root reads unreadable files anyway; make the copy fail with a dangling special file instead.
    }
    AppHome home;
    PageResources page(home.root());
    VornAppUrlUtility::reset_for_testing();
    ASSERT_FALSE(VornAppUrlUtility::create_urls());
    const auto app = home.data() / "DravixFTPClient";

    // A FIFO in the page folder cannot be copied: the copy fails part-way.
    ASSERT_EQ(mkfifo((page.dir / "ace" / "zz-pipe").c_str(), 0644), 0);
    testsupport::writeFile(page.dir / "ace" / "index.html", "<html>half</html>");
    VornAppUrlUtility::reset_for_testing();
    auto error = VornAppUrlUtility::create_urls();
    EXPECT_TRUE(error);
    EXPECT_EQ(testsupport::readFile(app / "Editor" / "ace" / "index.html"), "<html>page</html>");
    EXPECT_EQ(VornAppUrlUtility::ace_folder_url(), app / "Editor" / "ace");
    EXPECT_EQ(VornAppUrlUtility::services_file_url(), app / "Services" / "app_services.json");
    EXPECT_EQ(VornAppUrlUtility::editor_pref_file_url(), app / "Editor" / "editor_preferences.json");
    for (auto& e : fs::directory_iterator(app / "Editor")) EXPECT_EQ(e.path().filename().string().find(".ace-new"), std::string::npos);
}

TEST(AppFolders, AFolderThatCannotBeMadeLeavesLaterUrlsUnset) {
    AppHome home;
    VornAppUrlUtility::reset_for_testing();
    // A plain file where the "Services" folder belongs.
    testsupport::writeFile(home.data() / "DravixFTPClient" / "Services", "not a folder");
    auto error = VornAppUrlUtility::create_urls();
    EXPECT_TRUE(error);
    EXPECT_TRUE(VornAppUrlUtility::base_url());
    EXPECT_TRUE(VornAppUrlUtility::sessions_folder_url());
    EXPECT_TRUE(VornAppUrlUtility::services_folder_url());
    EXPECT_FALSE(VornAppUrlUtility::editor_folder_url());
    EXPECT_FALSE(VornAppUrlUtility::services_file_url());
    EXPECT_FALSE(VornAppUrlUtility::editor_pref_file_url());
}
