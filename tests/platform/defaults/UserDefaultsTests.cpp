#include <gtest/gtest.h>

#include <sys/stat.h>
#include <thread>
#include <vector>

#include "platform/defaults/AtomicFile.h"
#include "platform/defaults/Base64.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/ExitDrain.h"
#include "support/TempHome.h"

using defaults::Value;
using testsupport::TempHome;

TEST(UserDefaults, EveryValueKindSurvivesAReopen) {
    TempHome home;
    const auto file = home.config() / "DravixFTPClient" / "defaults.json";
    defaults::Dictionary dict{{"$date", Value("not a date")}, {"n", Value(int64_t(2))}};
    {
        defaults::UserDefaults store(file);
        store.setString("s", "hello ✓");
        store.setInteger("i", -42);
        store.setDouble("d", 2.5);
        store.setBool("b", true);
        store.setObject("date", Value(defaults::Date{86400.25}));
        store.setObject("data", Value(defaults::Data{std::string("\0\xff\x01", 3)}));
        store.setObject("list", Value(defaults::List{Value("a"), Value(int64_t(1))}));
        store.setObject("dict", Value(dict));
    }
    defaults::UserDefaults again(file);
    EXPECT_EQ(again.stringForKey("s"), "hello ✓");
    EXPECT_EQ(again.integerForKey("i"), -42);
    EXPECT_DOUBLE_EQ(again.doubleForKey("d"), 2.5);
    EXPECT_TRUE(again.boolForKey("b"));
    EXPECT_EQ(again.dateForKey("date")->sinceReferenceDate, 86400.25);
    EXPECT_EQ(again.dataForKey("data")->bytes, std::string("\0\xff\x01", 3));
    EXPECT_EQ(again.arrayForKey("list")->size(), 2u);
    // A dictionary that looks like a tagged value still reads back as a dictionary.
    EXPECT_EQ(again.dictionaryForKey("dict"), dict);
}

TEST(UserDefaults, TypedReadersFollowTheStoredKind) {
    TempHome home;
    defaults::UserDefaults store(home.config() / "d.json");
    struct Case {
        Value stored;
        std::optional<std::string> text;
        int64_t integer;
        bool flag;
    };
    const std::vector<Case> cases = {
        {Value("3"), "3", 3, true},
        {Value("12abc"), "12abc", 12, true},
        {Value("abc"), "abc", 0, false},
        {Value("YES"), "YES", 0, true},
        {Value(int64_t(7)), "7", 7, true},
        {Value(2.0), "2", 2, true},
        {Value(false), "0", 0, false},
        {Value(defaults::List{Value("x")}), std::nullopt, 0, false},
        {Value(defaults::Date{5}), std::nullopt, 0, false},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        store.setObject("k", cases[i].stored);
        EXPECT_EQ(store.stringForKey("k"), cases[i].text) << "case " << i;
        EXPECT_EQ(store.integerForKey("k"), cases[i].integer) << "case " << i;
        EXPECT_EQ(store.boolForKey("k"), cases[i].flag) << "case " << i;
    }
    store.removeObjectForKey("k");
    EXPECT_FALSE(store.objectForKey("k"));
    EXPECT_EQ(store.integerForKey("k"), 0);
}

TEST(UserDefaults, RegisteredDefaultsAreFallbacksOnly) {
    TempHome home;
    const auto file = home.config() / "d.json";
    {
        defaults::UserDefaults store(file);
        store.registerDefaults({{"a", Value(int64_t(5))}});
        EXPECT_EQ(store.integerForKey("a"), 5);
        store.setInteger("b", 1);
    }
    defaults::UserDefaults again(file);
    EXPECT_FALSE(again.objectForKey("a"));
    EXPECT_EQ(again.integerForKey("b"), 1);
}

TEST(UserDefaults, AnUnreadableFileIsKeptAsideOnceNotOverwritten) {
    TempHome home;
    const auto file = home.config() / "d.json";
    testsupport::writeFile(file, "{ this is not json");
    // Opened twice while unreadable (two launches): one copy.
    EXPECT_FALSE(defaults::UserDefaults(file).objectForKey("anything"));
    defaults::UserDefaults store(file);
    store.setInteger("x", 1);
    ASSERT_TRUE(store.flush());
    int kept = 0;
    for (auto& e : std::filesystem::directory_iterator(file.parent_path())) {
        if (e.path().filename().string().rfind("d.json.bad-", 0) == 0) {
            ++kept;
            EXPECT_EQ(testsupport::readFile(e.path()), "{ this is not json");
        }
    }
    EXPECT_EQ(kept, 1);
    EXPECT_EQ(defaults::UserDefaults(file).integerForKey("x"), 1);
}

TEST(UserDefaults, TwoStoresOnOneFileKeepEachOthersChanges) {
    TempHome home;
    const auto file = home.config() / "d.json";
    testsupport::writeFile(file, defaults::encodeValuesToJson({{"shared", Value(int64_t(0))}, {"gone", Value("x")}}));
    defaults::UserDefaults first(file);
    defaults::UserDefaults second(file);
    first.setInteger("a", 1);
    first.setInteger("shared", 1);
    second.setInteger("b", 2);
    second.removeObjectForKey("gone");
    // Seen at once by the store's own readers, before any write.
    EXPECT_EQ(first.integerForKey("a"), 1);
    EXPECT_FALSE(second.objectForKey("gone"));
    ASSERT_TRUE(first.flush());
    ASSERT_TRUE(second.flush());

    defaults::UserDefaults reader(file);
    EXPECT_EQ(reader.integerForKey("a"), 1);
    EXPECT_EQ(reader.integerForKey("b"), 2);
    EXPECT_EQ(reader.integerForKey("shared"), 1);
    EXPECT_FALSE(reader.objectForKey("gone"));
    // A store that wrote takes in what the other wrote before it.
    EXPECT_EQ(second.integerForKey("a"), 1);
}

TEST(UserDefaults, ChangesReachTheFileWithoutAFlush) {
    TempHome home;
    const auto file = home.config() / "d.json";
    defaults::UserDefaults store(file);
    store.setString("k", "v");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (defaults::UserDefaults(file).stringForKey("k") != "v" && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(defaults::UserDefaults(file).stringForKey("k"), "v");
}

TEST(UserDefaults, WhatIsPendingAtQuitIsWrittenByTheExitDrain) {
    TempHome home;
    const auto file = home.config() / "d.json";
    defaults::UserDefaults store(file);
    store.setString("last", "word");
    EXPECT_TRUE(dispatch::drainBeforeExit(dispatch::Clock::now() + std::chrono::seconds(5)).empty());
    EXPECT_EQ(defaults::UserDefaults(file).stringForKey("last"), "word");
}

TEST(AtomicFile, FilesAreTheOwnersOnlyInFoldersOfTheOwnersOnly) {
    TempHome home;
    const auto folder = home.root() / "a" / "b";
    ASSERT_FALSE(defaults::createPrivateDirectories(folder));
    const auto file = folder / "f.json";
    testsupport::writeFile(file, "old");
    ::chmod(file.c_str(), 0644);
    ASSERT_FALSE(defaults::writeFileAtomically(file, "new"));
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    for (const auto& made : {folder, folder.parent_path()}) {
        ASSERT_EQ(::stat(made.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << made;
    }
    // A folder made earlier with looser rights is narrowed.
    ::chmod(folder.c_str(), 0755);
    ASSERT_FALSE(defaults::createPrivateDirectories(folder));
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(UserDefaults, ConcurrentWritersLoseNothing) {
    TempHome home;
    const auto file = home.config() / "d.json";
    {
        defaults::UserDefaults store(file);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < 25; ++i) store.setInteger("k" + std::to_string(t) + "_" + std::to_string(i), i);
            });
        }
        for (auto& th : threads) th.join();
    }
    defaults::UserDefaults again(file);
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 25; ++i) EXPECT_EQ(again.integerForKey("k" + std::to_string(t) + "_" + std::to_string(i)), i);
}

TEST(AtomicFile, FailedWriteLeavesTheOldFileAndNoTemporaries) {
    TempHome home;
    const auto dir = home.root() / "ro";
    std::filesystem::create_directories(dir);
    const auto file = dir / "f.json";
    ASSERT_FALSE(defaults::writeFileAtomically(file, "old"));
    ASSERT_FALSE(defaults::writeFileAtomically(file, "new"));
    EXPECT_EQ(testsupport::readFile(file), "new");
    // A folder that is not there: an error, nothing written.
    EXPECT_TRUE(defaults::writeFileAtomically(dir / "missing" / "f.json", "x"));
    size_t entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir)) ++entries;
    EXPECT_EQ(entries, 1u);
}

TEST(Base64, RoundTripsAndRejectsMalformedText) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"/www/index.html", "L3d3dy9pbmRleC5odG1s"},
        {"\xff\xfe", "//4="}};
    for (auto& [plain, encoded] : cases) {
        EXPECT_EQ(defaults::base64Encode(plain), encoded);
        EXPECT_EQ(defaults::base64Decode(encoded), plain);
    }
    for (const char* bad : {"Zg=", "Z===", "Zm9v\n", "Zm=v", "****"}) EXPECT_FALSE(defaults::base64Decode(bad)) << bad;
}
