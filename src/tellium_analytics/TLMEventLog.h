#pragma once
// The log of one analytics event: type "event", an "id" (a random UUID), the event's "name" and,
// when it has any, its "typedProperties", on top of the base log's keys. As a Common Schema log
// its name is the event name and its properties fill the data part and the metadata extension.
#include <memory>
#include <optional>
#include <string>

#include "tellium/model/TLMAbstractLog.h"
#include "tellium_analytics/TLMEventProperties.h"

class TLMEventLog : public TLMAbstractLog {
public:
    static constexpr const char* kType = "event";
    TLMEventLog();

    std::optional<std::string> eventId;
    std::optional<std::string> name;
    std::shared_ptr<TLMEventProperties> typedProperties;

    // The fields written and archived after the base log's (see TLMFieldTable.h).
    static constexpr auto fields() {
        using tlmfields::field;
        return std::tuple_cat(TLMAbstractLog::fields(), std::tuple{
                                                            field("id", &TLMEventLog::eventId),
                                                            field("name", &TLMEventLog::name),
                                                            field("typedProperties", &TLMEventLog::typedProperties),
                                                        });
    }

    std::string archiveClassName() const override { return "TLMEventLog"; }
    TLMJson serializeToDictionary() const override;
    bool deserializeFromDictionary(const TLMJson& json) override;
    bool isValid() const override;
    bool isEqual(const TLMSerializableObject& other) const override;
    void encodeWithCoder(TLMKeyedArchiver& coder) const override;
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override;
    bool appendJson(std::string& out) const override;

    std::shared_ptr<TLMCommonSchemaLog> toCommonSchemaLogForTargetToken(const std::string& token,
                                                                        int64_t flags) const override;
    // The data part and the metadata extension ("f": the type codes of the non-string values).
    void setPropertiesAndMetadataForCSLog(TLMCommonSchemaLog& csLog) const;

    // The log type and the archive class, registered once.
    static void registerClass();
};
