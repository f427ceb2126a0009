#pragma once
// The protocols every telemetry record adopts: a validity test, a JSON object for the wire (a
// key only for a present field), and the keyed archive whose keys equal the JSON keys.
#include <memory>
#include <optional>
#include <string>

#include "tellium/util/TLMKeyedArchiver.h"

class TLMModel {
public:
    virtual ~TLMModel() = default;
    virtual bool isValid() const = 0;
};

class TLMSerializableObject : public TLMCoding {
public:
    // The JSON object; a record with nothing to write may answer null.
    virtual TLMJson serializeToDictionary() const = 0;
    // Reads the fields back from their JSON object; false when the object does not fit.
    virtual bool deserializeFromDictionary(const TLMJson& json) = 0;
    virtual bool isEqual(const TLMSerializableObject& other) const = 0;
    // Appends the text of the JSON object (as tlmjson::dump writes it, not pretty); false, with
    // nothing appended, for a record that answers null or cannot be written. Records with a field
    // table write it straight; the others go through their JSON object.
    virtual bool appendJson(std::string& out) const;
};

// Two optional values match when both are absent or both present and equal.
template <class T>
bool TLMOptionalEqual(const std::optional<T>& a, const std::optional<T>& b) {
    return a.has_value() == b.has_value() && (!a || *a == *b);
}
// Two records match when both are absent or both present and equal by their own isEqual.
template <class T>
bool TLMObjectEqual(const std::shared_ptr<T>& a, const std::shared_ptr<T>& b) {
    if (!a || !b) return !a && !b;
    return a == b || a->isEqual(*b);
}

// JSON readers that never throw: nothing for a missing key, false through `ok` for a wrong kind.
namespace tlmjson {
std::optional<std::string> string(const TLMJson& json, const char* key, bool& ok);
std::optional<int64_t> integer(const TLMJson& json, const char* key, bool& ok);
std::optional<double> number(const TLMJson& json, const char* key, bool& ok);
std::optional<bool> boolean(const TLMJson& json, const char* key, bool& ok);
std::optional<TLMDate> date(const TLMJson& json, const char* key, bool& ok);  // ISO 8601 text
const TLMJson* object(const TLMJson& json, const char* key, bool& ok);
const TLMJson* array(const TLMJson& json, const char* key, bool& ok);
// Text the way the model writes it: nlohmann never escapes "/", so nothing is replaced afterwards.
std::optional<std::string> dump(const TLMJson& json, bool pretty);
}  // namespace tlmjson
