// Conversion of logs into the Event Collector's common schema, and that schema's records.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "TelliumTestSupport.h"
#include "tellium/model/commonschema/TLMCommonSchemaLog.h"
#include "tellium/util/TLMPlatformHooks.h"
#include "tellium/util/TLMUtility.h"

using namespace telltest;

namespace {

class CommonSchemaTest : public TelliumTest {};

std::shared_ptr<TLMLogWithProperties> sourceLog() {
    auto log = std::make_shared<TLMLogWithProperties>();
    log->type = "event";
    log->timestamp = utc(2024, 6, 1, 8, 0, 0, 1);
    log->device = sampleDevice();
    log->userId = "alice";
    return log;
}

std::vector<std::string> keysOf(const TLMJson& json) {
    std::vector<std::string> keys;
    for (auto it = json.begin(); it != json.end(); ++it) keys.push_back(it.key());
    return keys;
}

TEST_F(CommonSchemaTest, OneLogPerTokenEachWithItsOwnIKey) {
    auto log = sourceLog();
    EXPECT_EQ(log->toCommonSchemaLogsWithFlags(0), std::nullopt);
    log->addTransmissionTargetToken("abc-def");
    log->addTransmissionTargetToken("xyz-1");
    auto converted = log->toCommonSchemaLogsWithFlags(2);
    ASSERT_TRUE(converted);
    ASSERT_EQ(converted->size(), 2u);
    std::set<std::string> iKeys;
    for (const auto& cs : *converted) {
        auto tokens = cs->transmissionTargetTokens();
        ASSERT_TRUE(tokens);
        ASSERT_EQ(tokens->size(), 1u);
        EXPECT_EQ(cs->iKey, TLMUtility::iKeyFromTargetToken(*tokens->begin()));
        iKeys.insert(*cs->iKey);
        EXPECT_EQ(cs->flags, 2);
    }
    EXPECT_EQ(iKeys, (std::set<std::string>{"o:abc", "o:xyz"}));
    EXPECT_EQ(log->toCommonSchemaLogForTargetToken("-def", 0)->iKey, std::nullopt);
}

TEST_F(CommonSchemaTest, ConvertedLogMatchesTheSchema) {
    TLMPlatformHooks hooks;
    hooks.appLanguage = [] { return std::optional<std::string>("de"); };
    TLMPlatform::setHooks(hooks);
    auto cs = sourceLog()->toCommonSchemaLogForTargetToken("abc-def", 0);
    cs->name = "Started";
    auto json = cs->serializeToDictionary();
    EXPECT_EQ(keysOf(json), (std::vector<std::string>{"ver", "name", "time", "iKey", "ext"}));
    EXPECT_EQ(json["ver"], "3.0");
    EXPECT_EQ(json["time"], "2024-06-01T08:00:00.001Z");
    EXPECT_EQ(json["iKey"], "o:abc");
    const auto& ext = json["ext"];
    EXPECT_EQ(keysOf(ext), (std::vector<std::string>{"protocol", "user", "os", "app", "sdk", "loc"}));
    EXPECT_EQ(ext["protocol"], (TLMJson{{"devMake", "QEMU"}, {"devModel", "x86_64"}}));
    EXPECT_EQ(ext["user"], (TLMJson{{"localId", "c:alice"}, {"locale", "en-US"}}));
    EXPECT_EQ(ext["os"], (TLMJson{{"ver", "Version 12 (Build 6.1.0-18-amd64)"}, {"name", "Debian GNU/Linux"}}));
    EXPECT_EQ(ext["app"], (TLMJson{{"id", "I:net.dravix.ftpclient"}, {"ver", "1.2"}, {"locale", "de"}}));
    EXPECT_EQ(ext["sdk"], (TLMJson{{"libVer", "tellium.cpp-4.4.2"}}));
    EXPECT_EQ(ext["loc"], (TLMJson{{"tz", "+01:00"}}));
    for (const char* never : {"type", "timestamp", "sid", "device", "popSample", "cV", "flags", "data"})
        EXPECT_FALSE(json.contains(never)) << never;
    EXPECT_FALSE(ext.contains("device"));
    EXPECT_FALSE(ext.contains("metadata"));
}

TEST_F(CommonSchemaTest, FlagsAndDataPartOrder) {
    TLMCommonSchemaLog cs;
    cs.ver = "3.0";
    cs.name = "n";
    cs.timestamp = utc(2024, 1, 1, 0, 0);
    cs.flags = 2;
    cs.data = std::make_shared<TLMCSData>();
    TLMJson props = TLMJson::object();
    props["x"] = 1;
    props["baseData"] = TLMJson{{"a", 1}};
    props["baseType"] = "T";
    cs.data->properties = props;
    auto json = cs.serializeToDictionary();
    EXPECT_EQ(keysOf(json), (std::vector<std::string>{"ver", "name", "time", "flags", "data"}));
    EXPECT_EQ(json["flags"], 2);
    EXPECT_EQ(keysOf(json["data"]), (std::vector<std::string>{"baseType", "baseData", "x"}));
}

struct UserIdCase {
    std::optional<std::string> userId;
    std::optional<std::string> localId;
};
class UserIdPrefix : public CommonSchemaTest, public ::testing::WithParamInterface<UserIdCase> {};
TEST_P(UserIdPrefix, BecomesTheUserExtensionsLocalId) {
    auto log = sourceLog();
    log->userId = GetParam().userId;
    auto cs = log->toCommonSchemaLogForTargetToken("t-1", 0);
    EXPECT_EQ(cs->ext->userExt->localId, GetParam().localId);
    if (!GetParam().userId) {
        EXPECT_EQ(keysOf(cs->ext->userExt->serializeToDictionary()), (std::vector<std::string>{"locale"}));
    }
}
INSTANTIATE_TEST_SUITE_P(Ids, UserIdPrefix,
                         ::testing::Values(UserIdCase{"alice", "c:alice"}, UserIdCase{"c:alice", "c:alice"},
                                           UserIdCase{"x:alice", "x:alice"}, UserIdCase{std::nullopt, std::nullopt}));

TEST_F(CommonSchemaTest, FormattingHelpers) {
    EXPECT_EQ(TLMAbstractLog::combineOsVersion(std::string("17.1"), std::string("21B74")), "Version 17.1 (Build 21B74)");
    EXPECT_EQ(TLMAbstractLog::combineOsVersion(std::string("17.1"), std::nullopt), "Version 17.1");
    EXPECT_EQ(TLMAbstractLog::combineOsVersion(std::nullopt, std::string("21B74")), std::nullopt);
    EXPECT_EQ(TLMAbstractLog::combineSDKLibVer(std::string("a"), std::string("1")), "a-1");
    EXPECT_EQ(TLMAbstractLog::combineSDKLibVer(std::string(""), std::string("1")), std::nullopt);
    const std::pair<long, const char*> zones[] = {{0, "+00:00"}, {120, "+02:00"}, {345, "+05:45"},
                                                  {-330, "-05:30"}, {-30, "-00:30"}, {-720, "-12:00"}};
    for (auto [minutes, text] : zones) EXPECT_EQ(TLMAbstractLog::convertTimeZoneOffsetToISO8601(minutes), text);
}

TEST_F(CommonSchemaTest, ValidityNeedsTimeVersionAndName) {
    LogRecorder log;
    TLMCommonSchemaLog cs;
    cs.timestamp = utc(2024, 1, 1, 0, 0);
    cs.ver = "3.0";
    EXPECT_FALSE(cs.isValid());
    EXPECT_TRUE(log.contains("TLMCommonSchemaLog: \"name\" is not valid."));
    cs.name = "n";
    EXPECT_TRUE(cs.isValid());  // no type or device needed
    TLMCSExtensions ext;
    ext.userExt = std::make_shared<TLMUserExtension>();
    EXPECT_TRUE(ext.isValid());
}

TEST_F(CommonSchemaTest, RecordEquality) {
    TLMMetadataExtension m1, m2;
    EXPECT_TRUE(m1.isEqual(m2));
    m1.metadata = TLMJson{{"f", 1}};
    EXPECT_FALSE(m1.isEqual(m2));
    TLMProtocolExtension p1, p2;
    p1.ticketKeys = std::vector<std::string>{"a", "b"};
    p2.ticketKeys = std::vector<std::string>{"b", "a"};
    EXPECT_FALSE(p1.isEqual(p2));
    TLMSDKExtension s1, s2;
    s1.installId = "3c8b2b3e-1f0a-4d7c-9e0b-2d9a1b9f4c11";
    s2.installId = "3C8B2B3E-1F0A-4D7C-9E0B-2D9A1B9F4C11";
    EXPECT_TRUE(s1.isEqual(s2));
    EXPECT_FALSE(s1.isEqual(p1));
}

TEST_F(CommonSchemaTest, FullLogSurvivesJsonAndArchive) {
    auto log = sourceLog();
    auto cs = log->toCommonSchemaLogForTargetToken("abc-def", 1);
    cs->name = "Started";
    cs->ext->metadataExt = std::make_shared<TLMMetadataExtension>();
    cs->ext->metadataExt->metadata = TLMJson{{"f", {{"count", 4}}}};
    cs->ext->protocolExt->ticketKeys = std::vector<std::string>{"hash"};
    cs->ext->deviceExt->localId = "a:device";
    cs->ext->sdkExt->epoch = "E";
    cs->ext->sdkExt->seq = 7;
    cs->ext->sdkExt->installId = TLMUtility::uuidString();
    cs->data = std::make_shared<TLMCSData>();
    cs->data->properties = TLMJson{{"baseType", "T"}, {"nested", {{"b", true}, {"a", 1.5}}}};
    cs->popSample = 50;
    cs->cV = "cv";

    auto archived = TLMUtility::unarchiveKeyedDataOfClass<TLMCommonSchemaLog>(TLMUtility::archiveKeyedData(*cs));
    ASSERT_TRUE(archived);
    EXPECT_TRUE(archived->isEqual(*cs));
    EXPECT_EQ(archived->popSample, 50);
    EXPECT_EQ(archived->cV, "cv");
    // The data part keeps its key order through the archive.
    EXPECT_EQ(archived->serializeToDictionary().dump(), cs->serializeToDictionary().dump());

    // The wire form leaves out popSample and cV; everything else comes back from it.
    TLMCommonSchemaLog fromJson;
    ASSERT_TRUE(fromJson.deserializeFromDictionary(TLMJson::parse(*cs->serializeLogWithPrettyPrinting(false))));
    cs->popSample = 0;
    cs->cV.reset();
    cs->device.reset();
    cs->userId.reset();
    cs->type.reset();
    cs->ext->netExt.reset();  // an empty record drops out of the JSON
    EXPECT_TRUE(fromJson.isEqual(*cs));
    const auto sdk = fromJson.serializeToDictionary()["ext"]["sdk"];
    EXPECT_EQ(keysOf(sdk), (std::vector<std::string>{"libVer", "epoch", "installId", "seq"}));
}

TEST_F(CommonSchemaTest, MetadataAndPropertiesAreReplacedWholeWhileAnotherThreadSerializes) {
    auto cs = sourceLog()->toCommonSchemaLogForTargetToken("abc-def", 0);
    ASSERT_TRUE(cs);
    cs->name = "Raced";
    cs->ext->metadataExt = std::make_shared<TLMMetadataExtension>();
    cs->data = std::make_shared<TLMCSData>();
    auto value = [](int generation) {
        TLMJson json = TLMJson::object();
        for (int k = 0; k < 8; ++k) json["k" + std::to_string(k)] = generation;
        return json;
    };
    cs->ext->metadataExt->metadata = value(0);
    cs->data->properties = value(0);

    constexpr int kWrites = 2000;
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        for (int g = 1; g <= kWrites; ++g) {
            cs->ext->metadataExt->metadata = value(g);
            cs->data->properties = value(g);
        }
        writing = false;
    });
    // Every serialized form holds one generation whole in each part.
    int reads = 0;
    while (writing || reads == 0) {
        const TLMJson json = cs->serializeToDictionary();
        for (const TLMJson& part : {json["ext"]["metadata"], json["data"]}) {
            ASSERT_TRUE(part.is_object());
            ASSERT_EQ(part.size(), 8u);
            const int g = part["k0"].get<int>();
            for (const auto& [key, v] : part.items()) ASSERT_EQ(v.get<int>(), g) << key;
        }
        ASSERT_TRUE(cs->serializeLogWithPrettyPrinting(false).has_value());
        ++reads;
    }
    writer.join();
    EXPECT_EQ(cs->serializeToDictionary()["data"]["k7"], kWrites);
}

TEST_F(CommonSchemaTest, PropertiesThatAreNotUtf8AreWrittenWithReplacementCharacters) {
    auto cs = sourceLog()->toCommonSchemaLogForTargetToken("abc-def", 0);
    ASSERT_TRUE(cs);
    cs->name = "Bytes";
    cs->data = std::make_shared<TLMCSData>();
    cs->data->properties = TLMJson{{"k\xc3", "v\xff\xfe"}};
    cs->ext->metadataExt = std::make_shared<TLMMetadataExtension>();
    cs->ext->metadataExt->metadata = TLMJson{{"f\x80", 1}};
    const auto text = cs->serializeLogWithPrettyPrinting(false);
    ASSERT_TRUE(text.has_value());
    const TLMJson back = TLMJson::parse(*text, nullptr, false);
    ASSERT_FALSE(back.is_discarded()) << *text;
    EXPECT_EQ(back["data"]["k\xef\xbf\xbd"], "v\xef\xbf\xbd\xef\xbf\xbd");
}

}  // namespace
