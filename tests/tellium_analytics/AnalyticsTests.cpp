// The analytics records: an event log's JSON object, archive and Common Schema form; the typed
// event properties' checks; the session tracker's stamp.
#include <gtest/gtest.h>

#include "FakeChannel.h"
#include "TelliumTestSupport.h"
#include "tellium/context/TLMSessionContext.h"
#include "tellium/model/commonschema/TLMCommonSchemaLog.h"
#include "tellium/util/TLMUtility.h"
#include "tellium_analytics/TLMEventLog.h"
#include "tellium_analytics/TLMEventProperties.h"
#include "tellium_analytics/TLMSessionTracker.h"

namespace telltest {
namespace {

class Analytics : public TelliumTest {
protected:
    void SetUp() override {
        TelliumTest::SetUp();
        TLMEventLog::registerClass();
    }
    std::shared_ptr<TLMEventLog> sampleEvent(bool withProperties) {
        auto log = std::make_shared<TLMEventLog>();
        log->eventId = "8D5B9D1E-3F5C-4C9A-8B43-5A1C2E7D9F01";
        log->name = "Started";
        log->timestamp = utc(2026, 12, 7, 8, 0, 0, 250);
        log->sid = "S1";
        log->device = sampleDevice();
        if (withProperties) {
            auto p = std::make_shared<TLMEventProperties>();
            p->setString("ftp", "protocol");
            p->setInt64(3, "windows");
            p->setDouble(1.5, "ratio");
            p->setBool(true, "dark");
            log->typedProperties = p;
        }
        return log;
    }
};

TEST_F(Analytics, AnEventLogWritesItsTypeIdNameAndTypedPropertiesOnlyWhenGiven) {
    const auto plain = sampleEvent(false)->serializeToDictionary();
    EXPECT_EQ(plain["type"], "event");
    EXPECT_EQ(plain["id"], "8D5B9D1E-3F5C-4C9A-8B43-5A1C2E7D9F01");
    EXPECT_EQ(plain["name"], "Started");
    EXPECT_EQ(plain["timestamp"], "2026-12-07T08:00:00.250Z");
    EXPECT_EQ(plain["sid"], "S1");
    EXPECT_TRUE(plain.contains("device"));
    EXPECT_FALSE(plain.contains("typedProperties"));

    const auto full = sampleEvent(true)->serializeToDictionary();
    ASSERT_TRUE(full["typedProperties"].is_array());
    ASSERT_EQ(full["typedProperties"].size(), 4u);
    EXPECT_EQ(full["typedProperties"][0], (TLMJson{{"type", "string"}, {"name", "protocol"}, {"value", "ftp"}}));
    EXPECT_EQ(full["typedProperties"][1]["type"], "long");
}

TEST_F(Analytics, AnEventLogComesBackFromItsJsonAndItsArchive) {
    for (bool withProperties : {false, true}) {
        SCOPED_TRACE(withProperties ? "with properties" : "plain");
        auto log = sampleEvent(withProperties);
        EXPECT_TRUE(log->isValid());
        auto parsed = TLMAbstractLog::logFromDictionary(log->serializeToDictionary());
        ASSERT_TRUE(parsed);
        EXPECT_TRUE(parsed->isEqual(*log));
        auto unarchived = TLMUtility::unarchiveKeyedDataOfClass<TLMEventLog>(TLMUtility::archiveKeyedData(*log));
        ASSERT_TRUE(unarchived);
        EXPECT_TRUE(unarchived->isEqual(*log));
        EXPECT_EQ(unarchived->type, "event");
    }
}

TEST_F(Analytics, AnEventLogWithoutIdOrNameIsNotValid) {
    auto noId = sampleEvent(false);
    noId->eventId.reset();
    EXPECT_FALSE(noId->isValid());
    auto noName = sampleEvent(false);
    noName->name.reset();
    EXPECT_FALSE(noName->isValid());
}

TEST_F(Analytics, TheCommonSchemaFormCarriesTheNameThePropertiesAndTheirTypes) {
    auto log = sampleEvent(true);
    int owner = 0;
    log->tag = std::shared_ptr<void>(&owner, [](void*) {});
    auto cs = log->toCommonSchemaLogForTargetToken("abc-def", 1);
    ASSERT_TRUE(cs);
    EXPECT_EQ(cs->name, "Started");
    EXPECT_EQ(cs->tag, log->tag);
    EXPECT_EQ(cs->iKey, "o:abc");
    ASSERT_TRUE(cs->data && cs->data->properties.has_value());
    const auto properties = cs->data->properties.snapshot();
    EXPECT_EQ((*properties)["protocol"], "ftp");
    EXPECT_EQ((*properties)["windows"], 3);
    EXPECT_EQ((*properties)["dark"], true);
    ASSERT_TRUE(cs->ext && cs->ext->metadataExt && cs->ext->metadataExt->metadata.has_value());
    EXPECT_EQ((*cs->ext->metadataExt->metadata.snapshot())["f"], (TLMJson{{"windows", 4}, {"ratio", 6}}));
}

TEST_F(Analytics, PropertiesRefuseMissingValuesAndEmptyKeysAndKeepTheFirstOrder) {
    LogRecorder log;
    TLMEventProperties p;
    p.setString(std::nullopt, "a");
    EXPECT_TRUE(log.contains("Value cannot be null. Property will not be added.", TLMLogLevelError));
    p.setInt64(1, "");
    p.setDouble(std::numeric_limits<double>::quiet_NaN(), "nan");
    EXPECT_TRUE(p.isEmpty());
    p.setInt64(1, "x");
    p.setBool(false, "y");
    p.setString("again", "x");  // keeps its place, takes the new value
    const auto list = p.properties();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->name, "x");
    EXPECT_EQ(list[0]->type, "string");
    EXPECT_EQ(list[1]->name, "y");
}

TEST_F(Analytics, TheTrackerStampsItsSessionOnLogsThatTakeOne) {
    TLMSessionTracker tracker;
    FakeChannelUnit unit(TLMChannelUnitConfiguration::initDefaultConfigurationWithGroupId("Analytics"));
    auto event = sampleEvent(false);
    event->sid.reset();
    tracker.channelPrepareLog(unit, event);
    EXPECT_FALSE(event->sid) << "not started";

    tracker.start();
    const auto session = TLMSessionContext::sharedInstance()->sessionId();
    ASSERT_TRUE(session && TLMUtility::isValidUuid(*session));
    tracker.channelPrepareLog(unit, event);
    EXPECT_EQ(event->sid, session);
    auto startService = std::make_shared<TLMStartServiceLog>();
    tracker.channelPrepareLog(unit, startService);
    EXPECT_FALSE(startService->sid);
}

}  // namespace
}  // namespace telltest
