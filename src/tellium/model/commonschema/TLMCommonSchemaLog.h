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

    std::string archiveClassName() const override { return "TLMCommonSchemaLog"; }
    // Keys in the order "ver", "name", "time", "iKey", "flags", "ext", "data".
    TLMJson serializeToDictionary() const override;
    bool deserializeFromDictionary(const TLMJson& json) override;
    bool isValid() const override;
    bool isEqual(const TLMSerializableObject& other) const override;
    void encodeWithCoder(TLMKeyedArchiver& coder) const override;
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override;
};
