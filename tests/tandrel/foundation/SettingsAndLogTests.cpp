#include <gtest/gtest.h>

#include "FoundationTestSupport.h"
#include "tandrel/foundation/AMZLogger.h"
#include "tandrel/foundation/EnumManager.h"
#include "tandrel/foundation/UserPrefs.h"

using defaults::Value;

TEST(UserPrefsDefaults, MissingOrUnreadableKeysGetTheirDefaults) {
    AppHome home;
    auto& store = UserPrefs::user_defaults();
    store.setString("COLOR_THEME", "3");                                  // text counts as present
    store.setInteger("MODE_APPEARANCE", 2);                               // kept
    store.setObject("EDITOR_FONT_SIZE", Value(defaults::List{Value(1)}));  // a list counts as missing
    UserPrefs::registerDefaultPreferences();
    EXPECT_EQ(store.integerForKey("PREVIEWWINDOW"), 1);
    EXPECT_EQ(store.integerForKey("UPDATEDELAY"), 0);
    EXPECT_EQ(store.integerForKey("MODE_APPEARANCE"), 2);
    EXPECT_EQ(store.stringForKey("COLOR_THEME"), "3");
    EXPECT_EQ(store.integerForKey("EDITOR_FONT_SIZE"), 14);
    EXPECT_EQ(store.integerForKey("FILEEXPLORER_SORTING"), 0);
    // Defaults are stored, not fallbacks: a fresh store on the same file sees them.
    ASSERT_TRUE(store.flush());
    EXPECT_EQ(defaults::UserDefaults(store.filePath()).integerForKey("PREVIEWWINDOW"), 1);
    UserPrefs::setPreference("PREVIEWWINDOW", std::nullopt);
    EXPECT_FALSE(store.objectForKey("PREVIEWWINDOW"));
}

TEST(UserPrefsReaders, AppearanceAndSortOrder) {
    AppHome home;
    struct Case {
        std::optional<Value> stored;
        int appearance;
        EnumManager::file_explorer_sorting sorting;
    };
    using S = EnumManager::file_explorer_sorting;
    const std::vector<Case> cases = {
        {Value("2"), 2, S::size},         {Value("3"), 0, S::dateModified}, {Value("-1"), 0, S::name},
        {Value("abc"), 0, S::name},       {Value(""), 0, S::name},          {std::nullopt, 0, S::name},
        {Value(int64_t(1)), 1, S::kind},  {Value("4"), 0, S::name},         {Value(" 1"), 0, S::name},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        UserPrefs::setPreference("MODE_APPEARANCE", cases[i].stored);
        UserPrefs::setPreference("FILEEXPLORER_SORTING", cases[i].stored);
        EXPECT_EQ(EnumManager::read_mode_appearance(), cases[i].appearance) << "case " << i;
        EXPECT_EQ(EnumManager::read_file_explorer_sorting(), cases[i].sorting) << "case " << i;
    }
}

TEST(AppLog, FileLinesCarryTheRunCounterRaisedOncePerSetup) {
    AppHome home;
    auto& logger = AMZLogger::shared();
    logger.setup(app_environment::production);
    const auto first = logger.log_run;
    EXPECT_EQ(first, 1);
    logger.log_error("Started");
    logger.log_warn("");
    logger.log_info("dropped in production");
    logger.log_verbose("always dropped");
    logger.log_exception("boom");
    xlog::Log::sharedInstance().flush();
    const auto firstFile = *logger.fileLogger->currentLogFile();
    EXPECT_EQ(firstFile.parent_path(), home.state() / "DravixFTPClient" / "logs");
    EXPECT_EQ(testsupport::readFile(firstFile), "[1] Started\n[1] \n[1] boom\n");

    xlog::Log::removeAllLoggers();
    logger.setup(app_environment::develop);
    EXPECT_EQ(logger.log_run, 2);
    EXPECT_EQ(UserPrefs::user_defaults().integerForKey("xlog_run"), 2);
    logger.log_info("info in develop");
    logger.log_verbose("still dropped");
    xlog::Log::sharedInstance().flush();
    // The second launch of the day writes on in the day's file.
    EXPECT_EQ(*logger.fileLogger->currentLogFile(), firstFile);
    EXPECT_EQ(testsupport::readFile(firstFile), "[1] Started\n[1] \n[1] boom\n[2] info in develop\n");
    EXPECT_EQ(logger.fileLogger->maximumNumberOfLogFiles(), 3u);
    EXPECT_EQ(logger.fileLogger->rollingFrequency(), 86400);
    xlog::Log::removeAllLoggers();
}

TEST(AppLog, MessagesCarryTheLoggersOwnPlaceAndTheSecondFormat) {
    CapturedLog log(7);
    std::vector<xlog::Message> seen;
    struct Keep final : xlog::Logger {
        std::vector<xlog::Message>* out;
        void writeLine(const xlog::Message& m, const std::string&) override { out->push_back(m); }
    };
    auto keep = std::make_shared<Keep>();
    keep->out = &seen;
    xlog::Log::addLogger(keep);
    AMZLogger::shared().log_warn("a");
    AMZLogger::shared().log_warn("b");
    xlog::Log::sharedInstance().flush();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].function, "log_warn(_:)");
    EXPECT_EQ(seen[0].file, seen[1].file);
    EXPECT_EQ(seen[0].line, seen[1].line);
    EXPECT_EQ(seen[0].level, ~0u);
    EXPECT_EQ(seen[0].flag, xlog::FlagWarning);
    EXPECT_EQ(seen[0].options, 3u);
    LogFormatter second;
    EXPECT_EQ(second.formatLogMessage(seen[0]), "[AMZLogger:log_warn(_:):" + std::to_string(seen[0].line) + " ]: a");
    seen[0].level = 3;
    EXPECT_EQ(second.formatLogMessage(seen[0]).substr(0, 1), "[");
    EXPECT_NE(second.formatLogMessage(seen[0]).find(" W]: a"), std::string::npos);
}
