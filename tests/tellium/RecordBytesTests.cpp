// The records' bytes: the direct archive writer gives the same CBOR as the JSON-map writer through
// nlohmann (the store's format), the direct JSON writer the same text as nlohmann's dump of the
// record's JSON object (the request bodies), for every kind of record; an archive written before
// still reads back; and every record survives its archive.
#include <gtest/gtest.h>

#include "TelliumTestSupport.h"
#include "platform/defaults/Base64.h"
#include "tellium/model/TLMAbstractLog.h"
#include "tellium/model/TLMHistoryInfo.h"
#include "tellium/model/TLMTypedProperty.h"
#include "tellium/model/commonschema/TLMCommonSchemaLog.h"
#include "tellium/util/TLMUtility.h"
#include "tellium_analytics/TLMEventLog.h"

using namespace telltest;

namespace {

std::string referenceArchive(const TLMCoding& object) {
    std::string bytes;
    nlohmann::json::to_cbor(TLMKeyedArchiver::encodeRoot(object), nlohmann::detail::output_adapter<char>(bytes));
    return bytes;
}

std::string hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text += digits[c >> 4];
        text += digits[c & 15];
    }
    return text;
}

std::shared_ptr<TLMLogWithProperties> propertiesLog(std::map<std::string, std::string> properties) {
    auto log = std::make_shared<TLMLogWithProperties>();
    log->type = "event";
    log->timestamp = TLMDateFromNanoseconds(1714564800123456789);
    log->sid = "3C8B2B3E-1F0A-4D7C-9E0B-2D9A1B9F4C11";
    log->device = sampleDevice();
    log->properties = std::move(properties);
    return log;
}

struct Case {
    std::string name;
    std::shared_ptr<TLMSerializableObject> record;
};

std::vector<Case> cases() {
    std::vector<Case> all;
    auto plain = std::make_shared<TLMAbstractLog>();
    plain->type = "plain";
    plain->timestamp = utc(2024, 1, 2, 3, 4, 5, 6);
    all.push_back({"log without device", plain});

    auto everything = std::make_shared<TLMAbstractLog>();
    everything->type = "every field";
    everything->timestamp = TLMDateFromNanoseconds(-5);  // before 1970
    everything->sid = "sid";
    everything->distributionGroupId = "group/1";
    everything->userId = "alice";
    everything->device = sampleDevice();
    everything->device->osApiLevel = -70000;
    everything->device->timeZoneOffset = -480;
    everything->device->wrapperSdkName = "wrapper";
    everything->device->wrapperSdkVersion = "1.0";
    everything->device->wrapperRuntimeVersion = "9";
    everything->device->liveUpdateReleaseLabel = "v1";
    everything->device->liveUpdateDeploymentKey = "key";
    everything->device->liveUpdatePackageHash = "hash";
    everything->device->carrierName = "carrier";
    everything->device->carrierCountry = "de";
    all.push_back({"log with every field", everything});

    all.push_back({"properties", propertiesLog({{"name", "Started"}, {"index", "42"}})});
    all.push_back({"empty properties", propertiesLog({})});
    all.push_back({"escapes", propertiesLog({{"quote\"back\\slash/", "tab\tnew\nline\rctl\x01\x1f del\x7f"}})});
    all.push_back({"unicode", propertiesLog({{"naïve", "日本語 😀"}, {"", ""}})});
    all.push_back({"invalid UTF-8", propertiesLog({{"bad", std::string("a\xff\xfe b\xc3", 6)}})});
    all.push_back({"long text", propertiesLog({{"long", std::string(70000, 'x')}, {"mid", std::string(300, 'y')}})});

    auto start = std::make_shared<TLMStartServiceLog>();
    start->timestamp = utc(2024, 5, 1, 12, 0, 0, 5);
    start->device = sampleDevice();
    start->services = std::vector<std::string>{"Crashes", "Analytics"};
    start->isEventCollectorEnabled = true;
    all.push_back({"start service", start});
    all.push_back({"empty start service", std::make_shared<TLMStartServiceLog>()});
    auto noServices = std::make_shared<TLMStartServiceLog>();
    noServices->isEventCollectorEnabled = true;  // archived, but not written without the services
    all.push_back({"start service flag without services", noServices});
    auto emptyServices = std::make_shared<TLMStartServiceLog>();
    emptyServices->services = std::vector<std::string>{};
    all.push_back({"start service with an empty list", emptyServices});
    auto oddServices = std::make_shared<TLMStartServiceLog>();
    oddServices->services = std::vector<std::string>{"", "quote\"back\\", "naïve\n"};
    oddServices->isEventCollectorEnabled = true;
    all.push_back({"start service with escapes", oddServices});

    all.push_back({"device", sampleDevice()});
    auto wrapper = std::make_shared<TLMWrapperSdk>();
    wrapper->wrapperSdkName = "w";
    all.push_back({"wrapper", wrapper});
    all.push_back({"empty wrapper", std::make_shared<TLMWrapperSdk>()});

    auto source = propertiesLog({{"k", "v"}});
    source->userId = "c:bob";
    auto cs = source->toCommonSchemaLogForTargetToken("abc-def", 1);
    cs->name = "Started";
    cs->ext->metadataExt = std::make_shared<TLMMetadataExtension>();
    cs->ext->metadataExt->metadata = TLMJson{{"f", {{"count", 4}}}};
    cs->ext->protocolExt->ticketKeys = std::vector<std::string>{"hash"};
    cs->ext->sdkExt->epoch = "E";
    cs->ext->sdkExt->seq = 300;
    cs->data = std::make_shared<TLMCSData>();
    cs->data->properties = TLMJson{{"baseType", "T"}, {"nested", {{"b", true}, {"a", 1.5}, {"x", 0.1}, {"n", -3}}}};
    cs->popSample = 50;
    all.push_back({"common schema", cs});
    auto csPlain = std::make_shared<TLMCommonSchemaLog>();
    csPlain->ver = "3.0";
    csPlain->name = "tab\there \"q\" \x01 é";
    csPlain->timestamp = TLMDateFromNanoseconds(-5);
    csPlain->iKey = "";
    csPlain->flags = 0;  // left out of the JSON object
    csPlain->popSample = 0.1;
    csPlain->cV = "cv";
    csPlain->sid = "archived only";
    csPlain->userId = "c:bob";
    csPlain->ext = std::make_shared<TLMCSExtensions>();
    csPlain->data = std::make_shared<TLMCSData>();
    all.push_back({"common schema without ext and data", csPlain});
    auto csFlags = std::make_shared<TLMCommonSchemaLog>();
    csFlags->flags = -(int64_t{1} << 40);
    csFlags->popSample = 1e300;
    all.push_back({"common schema with only flags", csFlags});
    all.push_back({"empty common schema", std::make_shared<TLMCommonSchemaLog>()});
    all.push_back({"common schema extensions", cs->ext});
    all.push_back({"common schema data", cs->data});
    cs->ext->sdkExt->installId = "3c8b2b3e-1f0a-4d7c-9e0b-2d9a1b9f4c11";
    all.push_back({"sdk extension, lower-case install id", cs->ext->sdkExt});
    auto noSeq = std::make_shared<TLMSDKExtension>();
    noSeq->libVer = "lib";
    all.push_back({"sdk extension without seq", noSeq});
    auto app = std::make_shared<TLMAppExtension>();
    app->appId = "I:net.dravix";
    app->ver = "1.2";
    app->name = "Dravix";
    app->locale = "en-US";
    app->userId = "c:bob";
    all.push_back({"app extension", app});
    auto protocol = std::make_shared<TLMProtocolExtension>();
    protocol->ticketKeys = std::vector<std::string>{"a", "b\"c"};
    protocol->devMake = "QEMU";
    all.push_back({"protocol extension", protocol});
    all.push_back({"empty protocol extension", std::make_shared<TLMProtocolExtension>()});
    auto user = std::make_shared<TLMUserExtension>();
    user->locale = "de-DE";
    all.push_back({"user extension", user});
    auto os = std::make_shared<TLMOSExtension>();
    os->name = "Linux";
    os->ver = "6.1";
    all.push_back({"os extension", os});
    for (auto empty : std::initializer_list<std::shared_ptr<TLMSerializableObject>>{
             std::make_shared<TLMUserExtension>(), std::make_shared<TLMDeviceExtension>(),
             std::make_shared<TLMOSExtension>(), std::make_shared<TLMAppExtension>(), std::make_shared<TLMNetExtension>(),
             std::make_shared<TLMSDKExtension>(), std::make_shared<TLMLocExtension>(),
             std::make_shared<TLMMetadataExtension>(), std::make_shared<TLMCSData>()}) {
        all.push_back({"empty " + empty->archiveClassName(), empty});
    }
    auto someEmpty = std::make_shared<TLMCSExtensions>();
    someEmpty->userExt = std::make_shared<TLMUserExtension>();  // nothing to write: left out
    someEmpty->locExt = std::make_shared<TLMLocExtension>();
    someEmpty->locExt->tz = "+01:00";
    all.push_back({"extensions with an empty part", someEmpty});
    all.push_back({"no extensions", std::make_shared<TLMCSExtensions>()});

    auto b = std::make_shared<TLMBooleanTypedProperty>();
    b->name = "b";
    b->value = true;
    all.push_back({"boolean property", b});
    auto d = std::make_shared<TLMDateTimeTypedProperty>();
    d->name = "d";
    d->value = utc(2024, 5, 1, 12, 0, 0, 5);
    all.push_back({"date property", d});
    for (double value : {0.5, 0.1, 1e300, -2.0, 16777217.0, 0.0, -0.0, 5e-324, 1.7976931348623157e308, 1e21, 1e-7}) {
        auto x = std::make_shared<TLMDoubleTypedProperty>();
        x->name = "x";
        x->setValue(value);
        all.push_back({"double property " + std::to_string(value), x});
    }
    for (int64_t value : {int64_t{0}, int64_t{23}, int64_t{24}, int64_t{255}, int64_t{256}, int64_t{65536},
                          int64_t{-24}, int64_t{-25}, int64_t{-257}, int64_t{1} << 40, -(int64_t{1} << 40)}) {
        auto l = std::make_shared<TLMLongTypedProperty>();
        l->name = "l";
        l->value = value;
        all.push_back({"long property " + std::to_string(value), l});
    }
    auto s = std::make_shared<TLMStringTypedProperty>();
    s->name = "s";
    s->value = "text";
    all.push_back({"string property", s});

    TLMEventLog::registerClass();
    auto event = std::make_shared<TLMEventLog>();
    event->timestamp = utc(2024, 5, 1, 12, 0, 0, 5);
    event->sid = "sid";
    event->device = sampleDevice();
    event->eventId = "0b3c1f6e-9d2a-4e5b-8c7d-1a2b3c4d5e6f";
    event->name = "Opened \"quoted\"\n";
    event->typedProperties = std::make_shared<TLMEventProperties>();
    event->typedProperties->setString("ünïcode \t\x01", "text");
    event->typedProperties->setString("", "empty");
    event->typedProperties->setDouble(0.1, "fraction");
    event->typedProperties->setDouble(-1e300, "huge");
    event->typedProperties->setInt64(-(int64_t{1} << 40), "big");
    event->typedProperties->setInt64(0, "zero");
    event->typedProperties->setBool(false, "no");
    event->typedProperties->setDate(TLMDateFromNanoseconds(-5), "before 1970");
    all.push_back({"event log", event});
    auto emptyProperties = std::make_shared<TLMEventLog>();
    emptyProperties->name = "";
    emptyProperties->typedProperties = std::make_shared<TLMEventProperties>();  // left out
    all.push_back({"event log with no properties", emptyProperties});
    all.push_back({"empty event log", std::make_shared<TLMEventLog>()});
    return all;
}

class RecordBytesTest : public TelliumTest {};

}  // namespace

TEST_F(RecordBytesTest, TheDirectArchiveWriterGivesTheBytesOfTheMapWriter) {
    for (const auto& c : cases()) {
        EXPECT_EQ(hex(TLMUtility::archiveKeyedData(*c.record)), hex(referenceArchive(*c.record))) << c.name;
    }
}

TEST_F(RecordBytesTest, TheDirectJsonWriterGivesTheTextOfTheJsonObject) {
    for (const auto& c : cases()) {
        const TLMJson json = c.record->serializeToDictionary();
        std::string text;
        const bool written = c.record->appendJson(text);
        EXPECT_EQ(written, !json.is_null()) << c.name;
        if (written) EXPECT_EQ(text, tlmjson::dump(json, false).value_or("?")) << c.name;
    }
}

TEST_F(RecordBytesTest, TheBatchBodyIsTheTextOfItsJsonObject) {
    std::vector<std::shared_ptr<TLMAbstractLog>> logs;
    for (const auto& c : cases()) {
        if (auto log = std::dynamic_pointer_cast<TLMAbstractLog>(c.record)) logs.push_back(log);
    }
    logs.push_back(nullptr);
    TLMLogContainer container("batch", logs);
    TLMJson list = TLMJson::array();
    for (const auto& log : logs) {
        if (log) list.push_back(log->serializeToDictionary());
    }
    EXPECT_EQ(container.serializeLog(), tlmjson::dump(TLMJson{{"logs", list}}, false));
    EXPECT_EQ(TLMLogContainer("empty", {}).serializeLog(), "{\"logs\":[]}");
}

TEST_F(RecordBytesTest, EveryRecordSurvivesItsArchive) {
    for (const auto& c : cases()) {
        auto archived = TLMUtility::unarchiveKeyedDataOfClass<TLMSerializableObject>(TLMUtility::archiveKeyedData(*c.record));
        ASSERT_TRUE(archived) << c.name;
        EXPECT_EQ(typeid(*archived), typeid(*c.record)) << c.name;
        EXPECT_TRUE(archived->isEqual(*c.record)) << c.name;
        EXPECT_TRUE(c.record->isEqual(*archived)) << c.name;
    }
}

// The JSON text of the records whose fields have a form of their own, spelled out.
TEST_F(RecordBytesTest, RecordsWithAFormOfTheirOwnWriteTheirText) {
    auto flagOnly = std::make_shared<TLMStartServiceLog>();
    flagOnly->isEventCollectorEnabled = true;
    auto withServices = std::make_shared<TLMStartServiceLog>();
    withServices->services = std::vector<std::string>{"Analytics"};
    auto cs = std::make_shared<TLMCommonSchemaLog>();
    cs->ver = "3.0";
    cs->name = "n";
    cs->timestamp = utc(2024, 5, 1, 12, 0, 0, 5);
    cs->sid = "not written";
    cs->popSample = 50;
    cs->ext = std::make_shared<TLMCSExtensions>();
    auto x = std::make_shared<TLMDoubleTypedProperty>();
    x->name = "x";
    x->setValue(0.1);
    auto event = std::make_shared<TLMEventLog>();
    event->eventId = "id";
    event->typedProperties = std::make_shared<TLMEventProperties>();
    event->typedProperties->setInt64(7, "n");
    const std::vector<std::pair<std::shared_ptr<TLMSerializableObject>, std::string>> all{
        {flagOnly, R"({"type":"startService"})"},
        {withServices, R"({"type":"startService","services":["Analytics"],"isEventCollectorEnabled":false})"},
        {cs, R"({"ver":"3.0","name":"n","time":"2024-05-01T12:00:00.005Z","ext":{}})"},
        {std::make_shared<TLMCommonSchemaLog>(), "{}"},
        {x, R"({"type":"double","name":"x","value":0.1})"},
        {event, R"({"type":"event","id":"id","typedProperties":[{"type":"long","name":"n","value":7}]})"},
    };
    for (const auto& [record, text] : all) {
        std::string direct;
        EXPECT_TRUE(record->appendJson(direct)) << text;
        EXPECT_EQ(direct, text);
        EXPECT_EQ(tlmjson::dump(record->serializeToDictionary(), false), text);
    }
}

// The start-service flag takes no part in equality; the services do.
TEST_F(RecordBytesTest, TheStartServiceFlagIsNotCompared) {
    TLMStartServiceLog a, b;
    a.services = b.services = std::vector<std::string>{"Analytics"};
    b.isEventCollectorEnabled = true;
    EXPECT_TRUE(a.isEqual(b));
    b.services->push_back("Crashes");
    EXPECT_FALSE(a.isEqual(b));
}

// The history records are only archived: their bytes, and each field back after the archive.
TEST_F(RecordBytesTest, HistoryRecordsKeepTheirBytesAndFields) {
    const auto at = utc(2024, 5, 1, 12, 0, 0, 5);
    struct HistoryCase {
        std::string name;
        std::shared_ptr<TLMHistoryInfo> record;
    };
    const std::vector<HistoryCase> all{
        {"bare", std::make_shared<TLMHistoryInfo>(at)},
        {"no timestamp", std::make_shared<TLMHistoryInfo>()},
        {"device", std::make_shared<TLMDeviceHistoryInfo>(at, sampleDevice())},
        {"no device", std::make_shared<TLMDeviceHistoryInfo>(TLMDateFromNanoseconds(-5), nullptr)},
        {"session", std::make_shared<TLMSessionHistoryInfo>(at, std::string("3C8B2B3E-\"x\"\n"))},
        {"no session", std::make_shared<TLMSessionHistoryInfo>(at, std::nullopt)},
        {"empty user", std::make_shared<TLMUserIdHistoryInfo>(at, std::string())},
        {"user", std::make_shared<TLMUserIdHistoryInfo>(at, std::string("c:bob"))},
    };
    for (const auto& c : all) {
        const std::string bytes = TLMUtility::archiveKeyedData(*c.record);
        EXPECT_EQ(hex(bytes), hex(referenceArchive(*c.record))) << c.name;
        auto back = TLMUtility::unarchiveKeyedDataOfClass<TLMHistoryInfo>(bytes);
        ASSERT_TRUE(back) << c.name;
        EXPECT_EQ(typeid(*back), typeid(*c.record)) << c.name;
        EXPECT_EQ(back->timestamp, c.record->timestamp) << c.name;
        if (auto d = std::dynamic_pointer_cast<TLMDeviceHistoryInfo>(c.record)) {
            auto b = std::dynamic_pointer_cast<TLMDeviceHistoryInfo>(back);
            EXPECT_TRUE(TLMObjectEqual(b->device, d->device)) << c.name;
        }
        if (auto s = std::dynamic_pointer_cast<TLMSessionHistoryInfo>(c.record)) {
            EXPECT_EQ(std::dynamic_pointer_cast<TLMSessionHistoryInfo>(back)->sessionId, s->sessionId) << c.name;
        }
        if (auto u = std::dynamic_pointer_cast<TLMUserIdHistoryInfo>(c.record)) {
            EXPECT_EQ(std::dynamic_pointer_cast<TLMUserIdHistoryInfo>(back)->userId, u->userId) << c.name;
        }
    }
}

// A log as the store held it before the direct writer (the Base64 text of its archive).
TEST_F(RecordBytesTest, ALogStoredBeforeReadsBack) {
    const std::string stored =
        "pmYkY2xhc3N0VExNTG9nV2l0aFByb3BlcnRpZXNmZGV2aWNlrmYkY2xhc3NpVExNRGV2aWNlaGFwcEJ1aWxkYjQybGFwcE5hbWVz"
        "cGFjZXRuZXQuZHJhdml4LmZ0cGNsaWVudGphcHBWZXJzaW9uYzEuMmZsb2NhbGVlZW5fVVNlbW9kZWxmeDg2XzY0Z29lbU5hbWVk"
        "UUVNVWdvc0J1aWxkbjYuMS4wLTE4LWFtZDY0Zm9zTmFtZXBEZWJpYW4gR05VL0xpbnV4aW9zVmVyc2lvbmIxMmpzY3JlZW5TaXpl"
        "aTEwODB4MTkyMGdzZGtOYW1la3RlbGxpdW0uY3BwanNka1ZlcnNpb25lNC40LjJudGltZVpvbmVPZmZzZXQYPGpwcm9wZXJ0aWVz"
        "omVpbmRleGI0MmRuYW1lZ1N0YXJ0ZWRjc2lkeCQzQzhCMkIzRS0xRjBBLTREN0MtOUUwQi0yRDlBMUI5RjRDMTFpdGltZXN0YW1w"
        "GxfLW5n/v00VZHR5cGVlZXZlbnQ=";
    auto bytes = defaults::base64Decode(stored);
    ASSERT_TRUE(bytes);
    auto log = TLMUtility::unarchiveKeyedDataOfClass<TLMAbstractLog>(*bytes);
    ASSERT_TRUE(log);
    auto expected = propertiesLog({{"name", "Started"}, {"index", "42"}});
    EXPECT_TRUE(log->isEqual(*expected));
    EXPECT_EQ(TLMUtility::archiveKeyedData(*expected), *bytes);
}
