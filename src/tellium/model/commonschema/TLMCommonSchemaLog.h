#pragma once
// A log in the Event Collector's common event schema.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "tellium/model/TLMAbstractLog.h"
#include "tellium/model/commonschema/TLMCSExtensions.h"

class TLMCommonSchemaLog : public TLMAbstractLog {
public:
    std::optional<std::string> ver;
    std::optional<std::string> name;
    double popSample = 0;
    std::optional<std::string> iKey;
    int64_t flags = 0;
    std::optional<std::string> cV;
    std::shared_ptr<TLMCSExtensions> ext;
    std::shared_ptr<TLMCSData> data;

    // The archive and equality: every field, the base log's first (see TLMFieldTable.h).
    static constexpr auto fields() {
        using tlmfields::field;
        return std::tuple_cat(TLMAbstractLog::fields(), std::tuple{
                                                            field("ver", &TLMCommonSchemaLog::ver),
                                                            field("name", &TLMCommonSchemaLog::name),
                                                            field("popSample", &TLMCommonSchemaLog::popSample),
                                                            field("iKey", &TLMCommonSchemaLog::iKey),
                                                            field("flags", &TLMCommonSchemaLog::flags),
                                                            field("cV", &TLMCommonSchemaLog::cV),
                                                            field("ext", &TLMCommonSchemaLog::ext),
                                                            field("data", &TLMCommonSchemaLog::data),
                                                        });
    }
    // The JSON object has a form of its own: these keys only, in this order, the timestamp under
    // "time"; a zero "flags" and an "ext" or "data" whose JSON object is null are left out.
    static constexpr auto jsonFields() {
        using namespace tlmfields;
        return std::tuple{
            field("ver", &TLMCommonSchemaLog::ver),
            field("name", &TLMCommonSchemaLog::name),
            field("time", &TLMAbstractLog::timestamp),
            field("iKey", &TLMCommonSchemaLog::iKey),
            field("flags", &TLMCommonSchemaLog::flags, kOmitZeroInJson),
            field("ext", &TLMCommonSchemaLog::ext, kOmitNullInJson),
            field("data", &TLMCommonSchemaLog::data, kOmitNullInJson),
        };
    }

    std::string archiveClassName() const override { return "TLMCommonSchemaLog"; }
    TLMJson serializeToDictionary() const override;
    bool deserializeFromDictionary(const TLMJson& json) override;
    bool isValid() const override;
    bool isEqual(const TLMSerializableObject& other) const override;
    void encodeWithCoder(TLMKeyedArchiver& coder) const override;
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override;
    bool appendJson(std::string& out) const override;
};
