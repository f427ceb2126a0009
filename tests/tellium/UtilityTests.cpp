// The SDK's utilities: secret parsing, dates, text limits, JSON printing, compression, archives,
// the settings store with its migration, the ordered dictionary and the dispatch helpers.
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <set>
#include <thread>

#include "TelliumTestSupport.h"
#include "support/ForkedNext.h"
#include "platform/defaults/UserDefaults.h"
#include "tellium/model/TLMHistoryInfo.h"
#include "tellium/util/TLMCompression.h"
#include "tellium/util/TLMDispatcherUtil.h"
#include "tellium/util/TLMOrderedDictionary.h"
#include "tellium/util/TLMTelliumUserDefaults.h"
#include "tellium/util/TLMUtility.h"

using namespace telltest;

namespace {

struct SecretCase {
    const char* input;
    std::optional<std::string> secret;
    std::optional<std::string> token;
};

class SecretParsing : public ::testing::TestWithParam<SecretCase> {};

TEST_P(SecretParsing, SplitsSecretAndTargetToken) {
    const auto& c = GetParam();
    EXPECT_EQ(TLMUtility::appSecretFrom(std::string(c.input)), c.secret) << c.input;
    EXPECT_EQ(TLMUtility::transmissionTargetTokenFrom(std::string(c.input)), c.token) << c.input;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, SecretParsing,
    ::testing::Values(SecretCase{"abc-123", "abc-123", std::nullopt},
                      SecretCase{"appsecret=abc;target=tok-1", "abc", "tok-1"},
                      SecretCase{"target=tok-1;appsecret=abc", "abc", "tok-1"},
                      SecretCase{"target=tok-1", std::nullopt, "tok-1"},
                      SecretCase{";;abc;", "abc", std::nullopt},
                      SecretCase{"ios=one;macos=two", "one", std::nullopt},
                      SecretCase{"macos=two;ios=one", "one", std::nullopt},
                      SecretCase{"other=x;appsecret=abc", "other=x", std::nullopt},
                      SecretCase{"appsecret=;target=", std::nullopt, std::nullopt},
                      SecretCase{"", std::nullopt, std::nullopt}));

TEST(UtilityTest, TargetKeyAndIKeyComeFromTheTokenBeforeItsFirstDash) {
    EXPECT_EQ(TLMUtility::targetKeyFromTargetToken(std::string("abc-def-ghi")), "abc");
    EXPECT_EQ(TLMUtility::targetKeyFromTargetToken(std::string("abc")), "abc");
    EXPECT_EQ(TLMUtility::targetKeyFromTargetToken(std::string("-abc")), std::nullopt);
    EXPECT_EQ(TLMUtility::iKeyFromTargetToken(std::string("abc-def")), "o:abc");
    EXPECT_EQ(TLMUtility::iKeyFromTargetToken(std::string("-def")), std::nullopt);
    EXPECT_EQ(TLMUtility::iKeyFromTargetToken(std::nullopt), std::nullopt);
}

TEST(UtilityTest, NameVersionAndEnvironment) {
    EXPECT_EQ(TLMUtility::sdkName(), "tellium.cpp");
    EXPECT_EQ(TLMUtility::sdkVersion(), "4.4.2");
    unsetenv("DRAVIX_APP_ENVIRONMENT");
    EXPECT_EQ(TLMUtility::currentAppEnvironment(), 0);
    setenv("DRAVIX_APP_ENVIRONMENT", "99", 1);
    EXPECT_EQ(TLMUtility::currentAppEnvironment(), 99);
    unsetenv("DRAVIX_APP_ENVIRONMENT");
}

TEST(UtilityTest, Iso8601DatesAreUtcWithMillisecondsAndReadBack) {
    EXPECT_EQ(TLMUtility::dateToISO8601(utc(2024, 2, 29, 23, 59, 58, 7)), "2024-02-29T23:59:58.007Z");
    EXPECT_EQ(TLMUtility::dateToISO8601(TLMDateFromNanoseconds(1'999'999)), "1970-01-01T00:00:00.001Z");
    EXPECT_EQ(TLMUtility::dateToISO8601(TLMDateFromMilliseconds(-1)), "1969-12-31T23:59:59.999Z");
    // Every millisecond of a day, leap days and far years read back as written.
    for (const TLMDate d : {utc(2000, 2, 29, 0, 0, 0, 0), utc(1900, 3, 1, 12, 30, 5, 999), utc(2262, 1, 1, 0, 0, 0, 0),
                            utc(1970, 1, 1, 0, 0, 0, 0), utc(2023, 12, 31, 23, 59, 59, 999)}) {
        const auto text = TLMUtility::dateToISO8601(d);
        EXPECT_EQ(TLMUtility::dateFromISO8601(text), d) << text;
    }
    for (int64_t ms = -86'400'000LL * 800; ms < 86'400'000LL * 800; ms += 86'400'000LL / 7 + 13) {
        std::time_t t = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000));
        std::tm tm{};
        gmtime_r(&t, &tm);
        char expected[64];
        std::snprintf(expected, sizeof expected, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                      tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms - static_cast<int64_t>(t) * 1000));
        ASSERT_EQ(TLMUtility::dateToISO8601(TLMDateFromMilliseconds(ms)), expected) << ms;
    }
    EXPECT_EQ(TLMUtility::dateFromISO8601("2024-02-29T23:59:58.007Z"), utc(2024, 2, 29, 23, 59, 58, 7));
    EXPECT_EQ(TLMUtility::dateFromISO8601("2024-02-30T00:00:00.000Z"), std::nullopt);
    EXPECT_EQ(TLMUtility::dateFromISO8601("2024-02-01 00:00:00"), std::nullopt);
    // Beyond what a date holds (nanoseconds from 1970): no date rather than an overflow.
    EXPECT_EQ(TLMUtility::dateFromISO8601("9999-12-31T23:59:59.999Z"), std::nullopt);
    EXPECT_EQ(TLMUtility::dateFromISO8601("1600-01-01T00:00:00.000Z"), std::nullopt);
    EXPECT_EQ(TLMUtility::dateFromISO8601("2262-01-01T00:00:00.000Z"), utc(2262, 1, 1, 0, 0, 0, 0));
}

TEST(UtilityTest, NowInMillisecondsFollowsTheClock) {
    ScopedClock clock(utc(2020, 1, 1, 0, 0, 0, 250));
    EXPECT_DOUBLE_EQ(TLMUtility::nowInMilliseconds(), 1577836800250.0);
}

TEST(UtilityTest, PrettyPrintKeepsBackslashSlashAsWritten) {
    // A value holding a backslash before a slash must come back exactly as it went in.
    std::string value = R"(C:\/path/x)";
    TLMJson json = {{"v", value}};
    auto printed = TLMUtility::prettyPrintJson(json.dump());
    ASSERT_TRUE(printed);
    EXPECT_NE(printed->find('\n'), std::string::npos);
    EXPECT_EQ(TLMJson::parse(*printed)["v"], value);
    EXPECT_EQ(TLMUtility::prettyPrintJson(std::string("not json")), "not json");
    EXPECT_EQ(TLMUtility::prettyPrintJson(std::nullopt), std::nullopt);
}

TEST(UtilityTest, ObfuscateReplacesCaseInsensitiveMatches) {
    LogRecorder log;
    EXPECT_EQ(TLMUtility::obfuscateString(std::string("App-Secret: abc App-secret: def"), "(app-secret): [a-z]+", "$1: ***"),
              "App-Secret: *** App-secret: ***");
    EXPECT_EQ(TLMUtility::obfuscateString(std::nullopt, "x", "y"), std::nullopt);
    EXPECT_EQ(TLMUtility::obfuscateString(std::string("text"), "([", "y"), std::nullopt);
    EXPECT_TRUE(log.contains("Couldn't create regular expression", TLMLogLevelError));
}

struct MaskCase {
    std::string text, pattern, replacement;
    std::optional<std::string> expected;  // nothing: the pattern is refused
};

class ObfuscateCases : public ::testing::TestWithParam<MaskCase> {};

TEST_P(ObfuscateCases, MatchLikeARegularExpression) {
    const MaskCase& c = GetParam();
    EXPECT_EQ(TLMUtility::obfuscateString(c.text, c.pattern, c.replacement), c.expected)
        << c.pattern << " on " << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, ObfuscateCases,
    ::testing::Values(
        MaskCase{"a:b\"c:d\"", ":[^\"]+", ":***", std::string("a:***\"c:***\"")},
        MaskCase{"x \"TOKEN\"\t:\n\"abc\" y", "\"token\"\\s*:\\s*\"[^\"]+\"", "\"token\" : \"***\"",
                 std::string("x \"token\" : \"***\" y")},
        MaskCase{"\"token\":\"\"", "\"token\"\\s*:\\s*\"[^\"]+\"", "-", std::string("\"token\":\"\"")},
        MaskCase{"aaa", "a*", "<$&>", std::string("<aaa><>")},
        MaskCase{"abab", "(a)(b)", "$2$1", std::string("baba")},
        MaskCase{"cat dog", "(cat|dog)", "[$1]", std::string("[cat] [dog]")},
        MaskCase{"<a><b>", "<.+?>", "_", std::string("__")},
        MaskCase{"<a><b>", "<.+>", "_", std::string("_")},
        MaskCase{"a1b22", "\\d+", "#", std::string("a#b#")},
        MaskCase{"A-z", "[a-c]", "$$", std::string("$-z")},
        MaskCase{"ab", "(?:a)b?", "$1", std::string("$1")},
        MaskCase{"abc", "x", "y", std::string("abc")},
        MaskCase{"aab", "a{2}", "y", std::string("yb")},
        MaskCase{"abc", "^b", "y", std::string("abc")},
        MaskCase{"a b", "\\bb", "y", std::string("a y")},
        MaskCase{"\xc9t\xe9", "[^\"]+", "*", std::string("*")},
        MaskCase{"abcdefghijk", "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)", "$11$10$1", std::string("kja")},
        MaskCase{"ab", "(a)|(b)", "[$2]", std::string("[][b]")},
        MaskCase{"abc", "(a", "y", std::nullopt},
        MaskCase{"abc", "a)", "y", std::nullopt},
        MaskCase{"abc", "[a", "y", std::nullopt},
        MaskCase{"abc", "*a", "y", std::nullopt}));

TEST(UtilityTest, ObfuscateScansMegabyteTextsWithoutRecursion) {
    // One match as long as the text, and a text where every position starts a match that fails.
    const std::string colonRun = ":" + std::string((1 << 20) - 1, 'x');
    EXPECT_EQ(TLMUtility::obfuscateString(colonRun, ":[^\"]+", ":***"), std::string(":***"));
    const std::string colons(1 << 20, ':');
    EXPECT_EQ(TLMUtility::obfuscateString(colons + "\"", ":[^\"]+", "*"), std::string("*\""));
    const std::string quotes(1 << 20, '"');
    EXPECT_EQ(TLMUtility::obfuscateString(quotes, "\"[^\"]+\"", "*"), quotes);
    // A collector answer with a megabyte token, masked as the endpoint masks it for the log.
    const std::string token(1 << 20, 'T');
    const std::string tokenPattern = "\"token\"\\s*:\\s*\"[^\"]+\"";
    EXPECT_EQ(TLMUtility::obfuscateString("{\"n\":1,\"Token\" :  \"" + token + "\",\"x\":\"" + token + "\"}", tokenPattern,
                                          "\"token\" : \"***\""),
              "{\"n\":1,\"token\" : \"***\",\"x\":\"" + token + "\"}");
    std::string misses;
    while (misses.size() < (1u << 20)) misses += "\"token\":\"\"";
    EXPECT_EQ(TLMUtility::obfuscateString(misses, tokenPattern, "*"), misses);
    // Bytes that are not UTF-8 are text like any other.
    EXPECT_EQ(TLMUtility::obfuscateString(std::string("p:\xff\xfe\"z"), ":[^\"]+", ":***"), std::string("p:***\"z"));
}

struct LengthCase {
    std::string text;
    std::size_t limit;
    std::string expected;
};

class Utf16Truncation : public ::testing::TestWithParam<LengthCase> {};

TEST_P(Utf16Truncation, CutsWholeCharactersOnly) {
    const auto& c = GetParam();
    EXPECT_EQ(TLMUtility::truncateToUtf16Length(c.text, c.limit), c.expected);
    EXPECT_LE(TLMUtility::utf16Length(TLMUtility::truncateToUtf16Length(c.text, c.limit)), c.limit);
}

INSTANTIATE_TEST_SUITE_P(Texts, Utf16Truncation,
                         ::testing::Values(LengthCase{"abcdef", 3, "abc"},
                                           LengthCase{"ab\xC3\xA9" "cd", 3, "ab\xC3\xA9"},  // é is one unit
                                           // 😀 is two UTF-16 units: with room for one it is left out whole.
                                           LengthCase{"ab\xF0\x9F\x98\x80", 3, "ab"},
                                           LengthCase{"ab\xF0\x9F\x98\x80", 4, "ab\xF0\x9F\x98\x80"},
                                           LengthCase{"", 5, ""}));

TEST(UtilityTest, PropertyValidationLimitsEntriesAndLengths) {
    LogRecorder log;
    TLMJson props = TLMJson::object();
    props[""] = "empty key";
    props["number"] = 5;
    for (int i = 0; i < 25; ++i) props["k" + std::to_string(100 + i)] = "v";
    std::string longKey(130, 'k');
    std::string longValue;
    for (int i = 0; i < 70; ++i) longValue += "\xF0\x9F\x98\x80";  // 140 UTF-16 units
    TLMJson second = TLMJson::object();
    second[longKey] = longValue;
    auto valid = TLMValidateProperties(props, "Started", "Event");
    EXPECT_EQ(valid.size(), 20u);
    EXPECT_FALSE(valid.count(""));
    EXPECT_FALSE(valid.count("number"));
    EXPECT_TRUE(log.contains("properties cannot contain more than 20 items", TLMLogLevelWarning));

    auto cut = TLMValidateProperties(second, "Started", "Event");
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut.begin()->first, std::string(125, 'k'));
    EXPECT_EQ(TLMUtility::utf16Length(cut.begin()->second), 124u);  // 62 emoji; the 63rd would need 126
}

TEST(UtilityTest, CompressionGivesGzipThatInflatesBack) {
    std::string body(5000, 'a');
    for (std::size_t i = 0; i < body.size(); i += 7) body[i] = static_cast<char>('a' + i % 26);
    auto gz = TLMCompression::compressData(body);
    ASSERT_TRUE(gz);
    ASSERT_GE(gz->size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>((*gz)[0]), 0x1f);
    EXPECT_EQ(static_cast<unsigned char>((*gz)[1]), 0x8b);
    z_stream s{};
    ASSERT_EQ(inflateInit2(&s, 31), Z_OK);
    std::string out(body.size() + 16, '\0');
    s.next_in = reinterpret_cast<Bytef*>(gz->data());
    s.avail_in = static_cast<uInt>(gz->size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&s, Z_FINISH), Z_STREAM_END);
    out.resize(s.total_out);
    inflateEnd(&s);
    EXPECT_EQ(out, body);
    EXPECT_EQ(TLMCompression::compressData(""), std::nullopt);
    EXPECT_TRUE(TLMCompression::compressData("x"));  // tiny input still fits its gzip wrapper
}

TEST(UtilityTest, UuidsAreRandomAndCanonical) {
    auto a = TLMUtility::uuidString();
    auto b = TLMUtility::uuidString();
    EXPECT_NE(a, b);
    EXPECT_TRUE(TLMUtility::isValidUuid(a));
    EXPECT_EQ(a[14], '4');
    EXPECT_EQ(a, [&] { std::string u = a; for (auto& c : u) c = static_cast<char>(std::toupper(c)); return u; }());
    EXPECT_FALSE(TLMUtility::isValidUuid("not-a-uuid"));
    // Many from several threads: all distinct, all version 4 with the RFC variant.
    std::vector<std::vector<std::string>> made(4);
    std::vector<std::thread> threads;
    for (auto& list : made) threads.emplace_back([&list] { for (int i = 0; i < 5000; ++i) list.push_back(TLMUtility::uuidString()); });
    for (auto& t : threads) t.join();
    std::set<std::string> all;
    for (const auto& list : made) {
        for (const auto& u : list) {
            ASSERT_TRUE(TLMUtility::isValidUuid(u)) << u;
            EXPECT_EQ(u[14], '4');
            EXPECT_NE(std::string("89AB").find(u[19]), std::string::npos) << u;
            all.insert(u);
        }
    }
    EXPECT_EQ(all.size(), 20000u);
}

// A forked child never hands out the identifier its parent hands out next.
TEST(UtilityTest, AForkedChildMakesOtherUuidsThanItsParent) {
    const auto next = dravix_test::nextInChildAndParent([] { return TLMUtility::uuidString(); });
    ASSERT_TRUE(next);
    EXPECT_TRUE(TLMUtility::isValidUuid(next->first)) << next->first;
    EXPECT_NE(next->first, next->second);
}

// ---- archives ------------------------------------------------------------------------------

TEST(ArchiveTest, BadBytesUnknownClassesAndWrongKindsReadAsNothing) {
    EXPECT_EQ(TLMUtility::unarchiveKeyedData(""), nullptr);
    EXPECT_EQ(TLMUtility::unarchiveKeyedData("\xff\x00garbage"), nullptr);
    auto unknown = nlohmann::json::to_cbor(nlohmann::json{{"$class", "NoSuchClass"}, {"type", "x"}});
    EXPECT_EQ(TLMUtility::unarchiveKeyedData(std::string(unknown.begin(), unknown.end())), nullptr);
    auto wrongKind = nlohmann::json::to_cbor(nlohmann::json{{"$class", "TLMStartServiceLog"}, {"type", 5}});
    EXPECT_EQ(TLMUtility::unarchiveKeyedData(std::string(wrongKind.begin(), wrongKind.end())), nullptr);
    auto badDevice = nlohmann::json::to_cbor(
        nlohmann::json{{"$class", "TLMStartServiceLog"}, {"device", {{"$class", "TLMHistoryInfo"}}}});
    EXPECT_EQ(TLMUtility::unarchiveKeyedData(std::string(badDevice.begin(), badDevice.end())), nullptr);
    // Every truncation of a good archive is refused or read whole, never a crash.
    TLMStartServiceLog log;
    log.services = std::vector<std::string>{"Analytics"};
    log.device = sampleDevice();
    auto bytes = TLMUtility::archiveKeyedData(log);
    for (std::size_t n = 0; n < bytes.size(); ++n) EXPECT_EQ(TLMUtility::unarchiveKeyedData(bytes.substr(0, n)), nullptr);
}

TEST(ArchiveTest, MigrationNamesMapOldClassNames) {
    auto old = nlohmann::json::to_cbor(nlohmann::json{{"$class", "MSOldDevice"}, {"sdkName", "x"}});
    std::string bytes(old.begin(), old.end());
    EXPECT_EQ(TLMUtility::unarchiveKeyedData(bytes), nullptr);
    TLMUtility::addMigrationClasses({{"MSOldDevice", "TLMDevice"}});
    auto device = TLMUtility::unarchiveKeyedDataOfClass<TLMDevice>(bytes);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->sdkName, "x");
}

TEST(ArchiveTest, ArraysOfRecordsRoundTrip) {
    std::vector<std::shared_ptr<TLMCoding>> list{
        std::make_shared<TLMSessionHistoryInfo>(utc(2024, 1, 1, 10, 0), std::string("A")),
        std::make_shared<TLMSessionHistoryInfo>(utc(2024, 1, 1, 11, 0), std::nullopt)};
    auto back = TLMUtility::unarchiveKeyedArray(TLMUtility::archiveKeyedArray(list));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 2u);
    auto first = std::dynamic_pointer_cast<TLMSessionHistoryInfo>((*back)[0]);
    auto second = std::dynamic_pointer_cast<TLMSessionHistoryInfo>((*back)[1]);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->sessionId, "A");
    EXPECT_EQ(first->timestamp, utc(2024, 1, 1, 10, 0));
    EXPECT_EQ(second->sessionId, std::nullopt);
}

// ---- ordered dictionary --------------------------------------------------------------------

TEST(OrderedDictionaryTest, KeepsInsertionOrderAndPlaceOfReplacedKeys) {
    TLMOrderedDictionary d;
    d.setObject("1", "z");
    d.setObject("2", "a");
    d.setObject("3", "z");
    EXPECT_EQ(d.count(), 2u);
    EXPECT_EQ(d.toJson().dump(), R"({"z":"3","a":"2"})");
    TLMOrderedDictionary e;
    e.setObject("2", "a");
    e.setObject("3", "z");
    EXPECT_FALSE(d.isEqualToDictionary(e));
    TLMOrderedDictionary f;
    f.setObject("3", "z");
    f.setObject("2", "a");
    EXPECT_TRUE(d.isEqualToDictionary(f));
}

// ---- settings ------------------------------------------------------------------------------

class SettingsTest : public TelliumTest {};

TEST_F(SettingsTest, ValuesLiveUnderThePrefixedKey) {
    auto& settings = TLMTelliumUserDefaults::shared();
    settings.setObject(defaults::Value(true), "TelliumIsEnabled");
    EXPECT_EQ(defaults::UserDefaults::standard().objectForKey("TelliumTelliumIsEnabled"), defaults::Value(true));
    EXPECT_EQ(settings.boolForKey("TelliumIsEnabled"), true);
    settings.removeObjectForKey("TelliumIsEnabled");
    EXPECT_EQ(settings.objectForKey("TelliumIsEnabled"), std::nullopt);
}

TEST_F(SettingsTest, MigrationMovesOldKeysOncePerService) {
    auto& store = defaults::UserDefaults::standard();
    store.setObject("kMSInstallIdKey", defaults::Value("uuid-1"));
    store.setObject("MSChannelStartTimer:Analytics", defaults::Value(int64_t{5}));
    store.setObject("MSChannelStartTimer:Crashes", defaults::Value(int64_t{6}));
    auto& settings = TLMTelliumUserDefaults::shared();
    // New keys are keys of the store: they already carry the prefix the settings add.
    settings.migrateKeys({{"TelliumInstallId", std::string("kMSInstallIdKey")},
                          {"TelliumChannelStartTimer", TLMUserDefaultsPrefixKey("MSChannelStartTimer")}},
                         "Tellium");
    EXPECT_EQ(settings.objectForKey("InstallId"), defaults::Value("uuid-1"));
    EXPECT_EQ(settings.objectForKey("ChannelStartTimer:Analytics"), defaults::Value(int64_t{5}));
    EXPECT_EQ(settings.objectForKey("ChannelStartTimer:Crashes"), defaults::Value(int64_t{6}));
    EXPECT_EQ(store.objectForKey("kMSInstallIdKey"), std::nullopt);
    EXPECT_EQ(settings.boolForKey("310TelliumUserDefaultsMigratedKey"), true);

    // A second run for the same service changes nothing.
    store.setObject("kMSInstallIdKey", defaults::Value("uuid-2"));
    settings.migrateKeys({{"TelliumInstallId", std::string("kMSInstallIdKey")}}, "Tellium");
    EXPECT_EQ(settings.objectForKey("InstallId"), defaults::Value("uuid-1"));
}

// ---- dispatch ------------------------------------------------------------------------------

TEST(DispatcherUtilTest, MainThreadBlockRunsAtOnceOnTheMainThreadAndLaterElsewhere) {
    bool ran = false;
    TLMDispatcherUtil::performBlockOnMainThread([&] { ran = true; });
    EXPECT_TRUE(ran);  // the test's thread is the main thread

    std::atomic<bool> ranFromOther{false};
    std::thread other([&] { TLMDispatcherUtil::performBlockOnMainThread([&] { ranFromOther = true; }); });
    other.join();
    EXPECT_FALSE(ranFromOther);  // queued on the main queue, which nobody pumped yet
    EXPECT_TRUE(dispatch::pumpMainQueueUntil([&] { return ranFromOther.load(); }, std::chrono::seconds(5)));
}

TEST(DispatcherUtilTest, SyncWithTimeoutReturnsWhenTheBlockRanOrTheTimeIsUp) {
    dispatch::SerialQueue queue("tellium.test");
    bool ran = false;
    TLMDispatcherUtil::dispatchSyncWithTimeout(5.0, queue, [&] { ran = true; });
    EXPECT_TRUE(ran);

    // A queue busy past the timeout: the call returns, the block runs afterwards.
    std::mutex gate;
    gate.lock();
    queue.async([&] { std::lock_guard hold(gate); });
    std::atomic<bool> late{false};
    TLMDispatcherUtil::dispatchSyncWithTimeout(0.05, queue, [&] { late = true; });
    EXPECT_FALSE(late);
    gate.unlock();
    queue.sync([] {});
    EXPECT_TRUE(late);

    // From the queue itself the block runs at once instead of stalling the queue.
    bool inner = false;
    queue.sync([&] { TLMDispatcherUtil::dispatchSyncWithTimeout(10.0, queue, [&] { inner = true; }); });
    EXPECT_TRUE(inner);
}

}  // namespace
