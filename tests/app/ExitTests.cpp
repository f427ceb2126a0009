// Writes asked for just before the process ends reach the disk: the probe program asks the stores
// for saves in its last moments (see ExitProbe.cpp) and ends; its files must hold what it asked.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "support/TempHome.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct ExitCase {
    const char* mode;
    bool adds_server;  // app mode also adds a saved server from the main queue
};
void PrintTo(const ExitCase& c, std::ostream* os) { *os << c.mode; }

class ProcessExit : public ::testing::TestWithParam<ExitCase> {};

json readJson(const fs::path& file) {
    return json::parse(testsupport::readFile(file), nullptr, false);
}

TEST_P(ProcessExit, SavesAskedForInTheLastMomentsAreOnDisk) {
    const ExitCase c = GetParam();
    testsupport::TempHome home;
    const fs::path folder = home.root() / "stores";
    fs::create_directories(folder);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string command = std::string("'") + DRAVIX_EXIT_PROBE + "' " + c.mode + " '" + folder.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    const json prefs = readJson(folder / "editor_preferences.json");
    ASSERT_TRUE(prefs.is_object()) << "no preferences file";
    EXPECT_EQ(prefs["gutter_visible"], false);
    EXPECT_EQ(prefs["soft_wrap_custom_value"], 123);

    const json sessions = readJson(folder / "sessions" / "probe-server" / "session.json");
    ASSERT_TRUE(sessions.is_object()) << "no sessions file";
    ASSERT_EQ(sessions["ace_file_sessions"].size(), 1u);
    const json& file = sessions["ace_file_sessions"][0];
    EXPECT_EQ(file["file_path"], "/page.html");
    EXPECT_EQ(file["undo_count"], 7);
    EXPECT_GE(file["json"].get<std::string>().size(), 24u << 20) << "the session's text was cut";

    if (c.adds_server) {
        const json services = readJson(folder / "app_services.json");
        ASSERT_TRUE(services.is_object()) << "no saved-servers file";
        ASSERT_EQ(services["saved_services"].size(), 1u);
        EXPECT_EQ(services["saved_services"][0]["id"], "probe-added");
    }
    // Every write went through a temporary file that is gone now.
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "editor_preferences.json" || name == "session.json" || name == "app_services.json" ||
                    entry.is_directory())
            << "left behind: " << entry.path();
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, ProcessExit,
                         ::testing::Values(ExitCase{"plain", false}, ExitCase{"app", true}),
                         [](const auto& info) { return std::string(info.param.mode); });

}  // namespace
