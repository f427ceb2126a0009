// The log model: the JSON object and text for the wire, the keyed archive for the store, validity,
// equality and target tokens of every log class, the batch body and the typed properties.
#include <gtest/gtest.h>

#include <thread>

#include "TelliumTestSupport.h"
#include "tellium/model/TLMAbstractLog.h"
#include "tellium/model/TLMTypedProperty.h"
#include "tellium/util/TLMUtility.h"

using namespace telltest;

namespace {

template <class T>
std::shared_ptr<T> throughArchive(const T& object) {
    return TLMUtility::unarchiveKeyedDataOfClass<T>(TLMUtility::archiveKeyedData(object));
}

template <class T>
std::shared_ptr<T> throughJson(const T& object) {
    auto text = object.serializeLogWithPrettyPrinting(false);
    EXPECT_TRUE(text);
    auto back = std::make_shared<T>();
    EXPECT_TRUE(back->deserializeFromDictionary(TLMJson::parse(*text)));
    return back;
}

std::shared_ptr<TLMLogWithProperties> propertiesLog() {
    auto log = std::make_shared<TLMLogWithProperties>();
    log->type = "custom";
    log->timestamp = utc(2024, 5, 1, 12, 30, 15, 123);
    log->sid = "3C8B2B3E-1F0A-4D7C-9E0B-2D9A1B9F4C11";
    log->distributionGroupId = "group/1";
    log->userId = "alice";
    log->device = sampleDevice();
    log->properties = std::map<std::string, std::string>{{"path", "a/b\\/c"}, {"k", "v"}};
    return log;
}

std::shared_ptr<TLMStartServiceLog> startLog() {
    auto log = std::make_shared<TLMStartServiceLog>();
    log->timestamp = utc(2024, 5, 1, 12, 0, 0, 5);
    log->device = sampleDevice();
    log->services = std::vector<std::string>{"Crashes", "Analytics"};
    log->isEventCollectorEnabled = true;
    return log;
}

class ModelTest : public TelliumTest {};

// ---- round trips ---------------------------------------------------------------------------

TEST_F(ModelTest, EveryLogClassSurvivesJsonAndArchive) {
    std::vector<std::shared_ptr<TLMAbstractLog>> logs;
    auto plain = std::make_shared<TLMAbstractLog>();
    plain->type = "plain";
    plain->timestamp = utc(2024, 1, 2, 3, 4, 5, 6);
    plain->device = sampleDevice();
    logs.push_back(plain);
    logs.push_back(propertiesLog());
    logs.push_back(startLog());
    auto empty = std::make_shared<TLMStartServiceLog>();
    logs.push_back(empty);

    for (const auto& log : logs) {
        auto archived = TLMUtility::unarchiveKeyedDataOfClass<TLMAbstractLog>(TLMUtility::archiveKeyedData(*log));
        ASSERT_TRUE(archived) << log->archiveClassName();
        EXPECT_EQ(typeid(*archived), typeid(*log));
        EXPECT_TRUE(archived->isEqual(*log)) << log->archiveClassName();

        auto text = log->serializeLogWithPrettyPrinting(true);
        ASSERT_TRUE(text);
        std::shared_ptr<TLMAbstractLog> fromJson;
        if (dynamic_cast<TLMStartServiceLog*>(log.get())) fromJson = TLMAbstractLog::logFromDictionary(TLMJson::parse(*text));
        else {
            fromJson = log->archiveClassName() == "TLMLogWithProperties" ? std::make_shared<TLMLogWithProperties>()
                                                                         : std::make_shared<TLMAbstractLog>();
            ASSERT_TRUE(fromJson->deserializeFromDictionary(TLMJson::parse(*text)));
        }
        ASSERT_TRUE(fromJson) << *text;
        EXPECT_TRUE(fromJson->isEqual(*log)) << *text;
    }
}

TEST_F(ModelTest, ArchiveKeepsDatesToTheNanosecondAndTheArchivedType) {
    auto log = startLog();
    log->timestamp = TLMDateFromNanoseconds(1714564800123456789);
    log->type = "renamed";
    auto back = throughArchive(*log);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->timestamp, log->timestamp);
    EXPECT_EQ(back->type, "renamed");  // decoding does not run the constructor's type
    EXPECT_TRUE(back->isEventCollectorEnabled);
}

TEST_F(ModelTest, TagAndTargetTokensNeverLeaveMemory) {
    auto log = propertiesLog();
    log->addTransmissionTargetToken("abc-1");
    auto back = throughArchive(*log);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->transmissionTargetTokens(), nullptr);
    EXPECT_TRUE(back->isEqual(*log));  // tokens take no part in equality
    auto json = log->serializeToDictionary();
    EXPECT_FALSE(json.contains("tag"));
    EXPECT_FALSE(json.contains("transmissionTargetTokens"));
}

// ---- JSON ----------------------------------------------------------------------------------

TEST_F(ModelTest, MinimalLogHasExactlyTypeTimestampAndDevice) {
    TLMAbstractLog log;
    log.type = "t";
    log.timestamp = utc(2024, 1, 1, 0, 0);
    log.device = sampleDevice();
    auto json = log.serializeToDictionary();
    std::vector<std::string> keys;
    for (auto it = json.begin(); it != json.end(); ++it) keys.push_back(it.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"type", "timestamp", "device"}));
    EXPECT_EQ(json["timestamp"], "2024-01-01T00:00:00.000Z");
}

TEST_F(ModelTest, SlashesAreWrittenBareAndBackslashSlashSurvives) {
    auto log = propertiesLog();
    auto text = *log->serializeLogWithPrettyPrinting(false);
    EXPECT_NE(text.find("\"group/1\""), std::string::npos) << text;
    EXPECT_NE(text.find(R"("a/b\\/c")"), std::string::npos) << text;  // the value's own backslash, escaped once
    auto back = TLMJson::parse(text);
    EXPECT_EQ(back["properties"]["path"], "a/b\\/c");
}

TEST_F(ModelTest, EmptyPropertiesAreNotWrittenButArchived) {
    TLMLogWithProperties log;
    log.type = "t";
    log.properties = std::map<std::string, std::string>{};
    EXPECT_FALSE(log.serializeToDictionary().contains("properties"));
    auto back = throughArchive(log);
    ASSERT_TRUE(back);
    ASSERT_TRUE(back->properties);
    EXPECT_TRUE(back->properties->empty());
}

TEST_F(ModelTest, StartServiceLogWritesItsFlagOnlyWithServices) {
    TLMStartServiceLog log;
    log.isEventCollectorEnabled = true;
    auto json = log.serializeToDictionary();
    EXPECT_EQ(json["type"], "startService");
    EXPECT_FALSE(json.contains("services"));
    EXPECT_FALSE(json.contains("isEventCollectorEnabled"));
    log.services = std::vector<std::string>{"Analytics"};
    log.isEventCollectorEnabled = false;
    json = log.serializeToDictionary();
    EXPECT_EQ(json["services"], TLMJson::array({"Analytics"}));
    EXPECT_EQ(json["isEventCollectorEnabled"], false);
    EXPECT_TRUE(json["isEventCollectorEnabled"].is_boolean());
}

TEST_F(ModelTest, BatchBodyIsTheLogsUnderOneKeyInOrder) {
    auto first = startLog();
    first->sid = "S";
    TLMLogContainer container("batch-1", {first, propertiesLog()});
    auto body = container.serializeLog();
    ASSERT_TRUE(body);
    const std::string device =
        R"({"sdkName":"tellium.cpp","sdkVersion":"4.4.2","model":"x86_64","oemName":"QEMU","osName":"Debian GNU/Linux",)"
        R"("osVersion":"12","osBuild":"6.1.0-18-amd64","locale":"en_US","timeZoneOffset":60,"screenSize":"1080x1920",)"
        R"("appVersion":"1.2","appBuild":"42","appNamespace":"net.dravix.ftpclient"})";
    const std::string expected =
        R"({"logs":[{"type":"startService","timestamp":"2024-05-01T12:00:00.005Z","sid":"S","device":)" + device +
        R"(,"services":["Crashes","Analytics"],"isEventCollectorEnabled":true},)"
        R"({"type":"custom","timestamp":"2024-05-01T12:30:15.123Z","sid":"3C8B2B3E-1F0A-4D7C-9E0B-2D9A1B9F4C11",)"
        R"("distributionGroupId":"group/1","userId":"alice","device":)" + device +
        R"(,"properties":{"k":"v","path":"a/b\\/c"}}]})";
    EXPECT_EQ(*body, expected);
    EXPECT_EQ(body->find("batch-1"), std::string::npos);
    auto pretty = container.serializeLogWithPrettyPrinting(true);
    ASSERT_TRUE(pretty);
    EXPECT_EQ(TLMJson::parse(*pretty), TLMJson::parse(*body));
}

// ---- validity ------------------------------------------------------------------------------

TEST_F(ModelTest, ValidityNamesTheFirstMissingField) {
    LogRecorder log;
    TLMAbstractLog bare;
    EXPECT_FALSE(bare.isValid());
    EXPECT_TRUE(log.contains("TLMAbstractLog: \"type\" is not valid.", TLMLogLevelVerbose));
    EXPECT_FALSE(log.contains("\"timestamp\" is not valid."));

    TLMAbstractLog noDevice;
    noDevice.type = "t";
    noDevice.timestamp = utc(2024, 1, 1, 0, 0);
    EXPECT_FALSE(noDevice.isValid());
    EXPECT_TRUE(log.contains("TLMAbstractLog: \"device\" is not valid."));

    noDevice.device = sampleDevice();
    EXPECT_TRUE(noDevice.isValid());
    noDevice.device->appBuild.reset();
    EXPECT_FALSE(noDevice.isValid());
    EXPECT_TRUE(log.contains("TLMDevice: \"appBuild\" is not valid."));
}

TEST_F(ModelTest, ContainerValidity) {
    LogRecorder log;
    EXPECT_FALSE(TLMLogContainer("b", {}).isValid());
    EXPECT_TRUE(log.contains("there are no logs in container."));
    auto invalid = std::make_shared<TLMLogWithProperties>();
    EXPECT_TRUE(TLMLogContainer("b", {startLog(), propertiesLog()}).isValid());
    EXPECT_FALSE(TLMLogContainer("b", {startLog(), invalid, propertiesLog()}).isValid());
}

// ---- equality and tokens -------------------------------------------------------------------

TEST_F(ModelTest, EqualityRules) {
    auto a = startLog();
    auto b = startLog();
    b->isEventCollectorEnabled = false;
    EXPECT_TRUE(a->isEqual(*b));  // the flag takes no part
    b->addTransmissionTargetToken("x-1");
    EXPECT_TRUE(a->isEqual(*b));
    b->tag = std::make_shared<int>(1);
    EXPECT_FALSE(a->isEqual(*b));
    a->tag = b->tag;
    EXPECT_TRUE(a->isEqual(*b));
    a->sid = "s";
    EXPECT_FALSE(a->isEqual(*b));  // present on one side only

    TLMAbstractLog base;
    base.type = "startService";
    EXPECT_FALSE(TLMStartServiceLog().isEqual(base));
    TLMLogWithProperties p1, p2;
    p1.properties = std::map<std::string, std::string>{{"a", "1"}};
    EXPECT_FALSE(p1.isEqual(p2));
}

TEST_F(ModelTest, TargetTokenSetsAreReplacedNeverChanged) {
    TLMAbstractLog log;
    EXPECT_EQ(log.transmissionTargetTokens(), nullptr);
    log.addTransmissionTargetToken("t-1");
    auto first = log.transmissionTargetTokens();
    log.addTransmissionTargetToken("t-1");
    log.addTransmissionTargetToken("t-2");
    EXPECT_EQ(first->size(), 1u);
    EXPECT_EQ(log.transmissionTargetTokens()->size(), 2u);

    // Added from several threads at once, none is lost.
    TLMAbstractLog shared;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i) {
                shared.addTransmissionTargetToken(std::to_string(t) + "-" + std::to_string(i));
                (void)shared.transmissionTargetTokens();
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(shared.transmissionTargetTokens()->size(), 400u);
}

TEST_F(ModelTest, DeviceRecordRoundTripsWithWrapperFields) {
    auto device = sampleDevice();
    device->wrapperSdkName = "wrapper";
    device->liveUpdatePackageHash = "hash";
    device->osApiLevel = 33;
    auto archived = throughArchive(*device);
    ASSERT_TRUE(archived);
    EXPECT_TRUE(archived->isEqual(*device));
    auto json = device->serializeToDictionary();
    EXPECT_EQ(json.begin().key(), "wrapperSdkName");
    TLMDevice fromJson;
    ASSERT_TRUE(fromJson.deserializeFromDictionary(json));
    EXPECT_TRUE(fromJson.isEqual(*device));
    fromJson.timeZoneOffset = 0;
    EXPECT_FALSE(fromJson.isEqual(*device));
}

// ---- typed properties ----------------------------------------------------------------------

TEST_F(ModelTest, TypedPropertiesSerializeWithTheirTypes) {
    TLMLongTypedProperty count;
    count.name = "count";
    count.value = 5;
    EXPECT_EQ(count.serializeToDictionary().dump(), R"({"type":"long","name":"count","value":5})");

    TLMBooleanTypedProperty flag;
    flag.name = "on";
    flag.value = true;
    EXPECT_TRUE(flag.serializeToDictionary()["value"].is_boolean());

    TLMDateTimeTypedProperty when;
    when.name = "when";
    when.value = utc(2024, 3, 4, 5, 6, 7, 89);
    EXPECT_EQ(when.serializeToDictionary()["value"], "2024-03-04T05:06:07.089Z");

    TLMStringTypedProperty text;
    text.value = "v";
    EXPECT_EQ(text.serializeToDictionary().dump(), R"({"type":"string","value":"v"})");

    TLMDoubleTypedProperty number;
    EXPECT_TRUE(number.setValue(0.1 + 0.2));
    EXPECT_EQ(number.serializeToDictionary()["value"].get<double>(), 0.1 + 0.2);
}

TEST_F(ModelTest, TypedPropertiesRoundTripAndCompareWithoutTheirNames) {
    std::vector<std::shared_ptr<TLMTypedProperty>> props;
    auto b = std::make_shared<TLMBooleanTypedProperty>();
    b->value = true;
    auto d = std::make_shared<TLMDateTimeTypedProperty>();
    d->value = utc(2024, 3, 4, 5, 6, 7, 89);
    auto x = std::make_shared<TLMDoubleTypedProperty>();
    x->setValue(1.0 / 3.0);
    auto l = std::make_shared<TLMLongTypedProperty>();
    l->value = INT64_MIN;
    auto s = std::make_shared<TLMStringTypedProperty>();
    s->value = "text";
    for (auto p : std::initializer_list<std::shared_ptr<TLMTypedProperty>>{b, d, x, l, s}) {
        p->name = "n";
        auto archived = TLMUtility::unarchiveKeyedDataOfClass<TLMTypedProperty>(TLMUtility::archiveKeyedData(*p));
        ASSERT_TRUE(archived) << *p->type;
        EXPECT_TRUE(archived->isEqual(*p)) << *p->type;
        EXPECT_EQ(archived->name, "n");
        auto fromJson = TLMTypedProperty::propertyFromDictionary(p->serializeToDictionary());
        ASSERT_TRUE(fromJson) << *p->type;
        EXPECT_TRUE(fromJson->isEqual(*p)) << *p->type;
    }
    auto renamed = std::make_shared<TLMLongTypedProperty>();
    renamed->value = INT64_MIN;
    renamed->name = "other";
    EXPECT_TRUE(renamed->isEqual(*l));
    TLMDoubleTypedProperty five;
    five.setValue(5);
    TLMLongTypedProperty longFive;
    longFive.value = 5;
    EXPECT_FALSE(longFive.isEqual(five));
    EXPECT_FALSE(five.isEqual(longFive));
}

TEST_F(ModelTest, DecodedPropertyKeepsTheArchivedTypeString) {
    TLMStringTypedProperty p;
    p.type = "legacyString";
    p.value = "v";
    auto back = TLMUtility::unarchiveKeyedDataOfClass<TLMStringTypedProperty>(TLMUtility::archiveKeyedData(p));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->type, "legacyString");
}

TEST_F(ModelTest, NonFiniteDoublesAreRefused) {
    LogRecorder log;
    TLMDoubleTypedProperty p;
    EXPECT_TRUE(p.setValue(2.5));
    EXPECT_FALSE(p.setValue(std::nan("")));
    EXPECT_FALSE(p.setValue(INFINITY));
    EXPECT_EQ(p.value(), 2.5);
    EXPECT_TRUE(log.contains("must be a finite number", TLMLogLevelError));
}

}  // namespace
