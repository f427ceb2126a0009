#pragma once
// One named, typed value of an analytics event: boolean, date and time, double, 64-bit integer or
// string. JSON object and archive: "type", "name", "value". The name takes no part in equality.
// Each class lists its fields once, in fields() (see TLMFieldTable.h); the double's value is read
// back through its setter, which refuses what JSON cannot write.
#include <cstdint>
#include <optional>
#include <string>

#include "tellium/model/TLMFieldTable.h"
#include "tellium/model/TLMSerializableObject.h"

class TLMTypedProperty : public TLMSerializableObject {
public:
    std::optional<std::string> type;
    std::optional<std::string> name;

    static constexpr auto fields() {
        return std::tuple{tlmfields::field("type", &TLMTypedProperty::type),
                          tlmfields::field("name", &TLMTypedProperty::name, tlmfields::kNotCompared)};
    }

    TLMJson serializeToDictionary() const override;
    bool deserializeFromDictionary(const TLMJson& json) override;
    bool isEqual(const TLMSerializableObject& other) const override;
    void encodeWithCoder(TLMKeyedArchiver& coder) const override;
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override;

    // A property of the class its "type" names, read from its JSON object; nothing otherwise.
    static std::shared_ptr<TLMTypedProperty> propertyFromDictionary(const TLMJson& json);
};

class TLMBooleanTypedProperty : public TLMTypedProperty {
public:
    TLMBooleanTypedProperty() { type = "boolean"; }
    bool value = false;
    static constexpr auto fields() {
        return std::tuple_cat(TLMTypedProperty::fields(), std::tuple{tlmfields::field("value", &TLMBooleanTypedProperty::value)});
    }

    std::string archiveClassName() const override { return "TLMBooleanTypedProperty"; }
    TLMJson serializeToDictionary() const override;
    bool deserializeFromDictionary(const TLMJson& json) override;
    bool isEqual(const TLMSerializableObject& other) const override;
    void encodeWithCoder(TLMKeyedArchiver& coder) const override;
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override;
    bool appendJson(std::string& out) const override;
};

class TLMDateTimeTypedProperty : public TLMTypedProperty {
public:
    TLMDateTimeTypedProperty() { type = "dateTime"; }
    std::optional<TLMDate> value;
    static constexpr auto fields() {
        return std::tuple_cat(TLMTypedProperty::fields(), std::tuple{tlmfields::field("value", &TLMDateTimeTypedProperty::value)});
    }

    std::string archiveClassName() const override { return "TLMDateTimeTypedProperty"; }
    TLMJson serializeToDictionary() const override;
    bool deserializeFromDictionary(const TLMJson& json) override;
    bool isEqual(const TLMSerializableObject& other) const override;
    void encodeWithCoder(TLMKeyedArchiver& coder) const override;
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override;
    bool appendJson(std::string& out) const override;
};

class TLMDoubleTypedProperty : public TLMTypedProperty {
public:
    TLMDoubleTypedProperty() { type = "double"; }
    double value() const { return value_; }
    // Refuses NaN and the infinities (JSON has no form for them); false and logged then.
    bool setValue(double value);
    static constexpr auto fields() {
        return std::tuple_cat(TLMTypedProperty::fields(), std::tuple{tlmfields::checkedField(
                                                              "value", &TLMDoubleTypedProperty::value_,
                                                              &TLMDoubleTypedProperty::setValue)});
    }

    std::string archiveClassName() const override { return "TLMDoubleTypedProperty"; }
    TLMJson serializeToDictionary() const override;
    bool deserializeFromDictionary(const TLMJson& json) override;
    bool isEqual(const TLMSerializableObject& other) const override;
    void encodeWithCoder(TLMKeyedArchiver& coder) const override;
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override;
    bool appendJson(std::string& out) const override;

private:
    double value_ = 0;
};

class TLMLongTypedProperty : public TLMTypedProperty {
public:
    TLMLongTypedProperty() { type = "long"; }
    int64_t value = 0;
    static constexpr auto fields() {
        return std::tuple_cat(TLMTypedProperty::fields(), std::tuple{tlmfields::field("value", &TLMLongTypedProperty::value)});
    }

    std::string archiveClassName() const override { return "TLMLongTypedProperty"; }
    TLMJson serializeToDictionary() const override;
    bool deserializeFromDictionary(const TLMJson& json) override;
    bool isEqual(const TLMSerializableObject& other) const override;
    void encodeWithCoder(TLMKeyedArchiver& coder) const override;
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override;
    bool appendJson(std::string& out) const override;
};

class TLMStringTypedProperty : public TLMTypedProperty {
public:
    TLMStringTypedProperty() { type = "string"; }
    std::optional<std::string> value;
    static constexpr auto fields() {
        return std::tuple_cat(TLMTypedProperty::fields(), std::tuple{tlmfields::field("value", &TLMStringTypedProperty::value)});
    }

    std::string archiveClassName() const override { return "TLMStringTypedProperty"; }
    TLMJson serializeToDictionary() const override;
    bool deserializeFromDictionary(const TLMJson& json) override;
    bool isEqual(const TLMSerializableObject& other) const override;
    void encodeWithCoder(TLMKeyedArchiver& coder) const override;
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override;
    bool appendJson(std::string& out) const override;
};
