#pragma once
// The typed properties of one analytics event, by key in the order they were first set; each
// setter checks the key and the value and stores a typed property named by the key.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tellium/model/TLMTypedProperty.h"

class TLMEventProperties {
public:
    void setString(const std::optional<std::string>& value, const std::string& key);
    void setDouble(double value, const std::string& key);
    void setInt64(int64_t value, const std::string& key);
    void setBool(bool value, const std::string& key);
    void setDate(const std::optional<TLMDate>& value, const std::string& key);

    bool isEmpty() const { return properties_.empty(); }
    std::size_t count() const { return properties_.size(); }
    // The properties in the order their keys were first set.
    std::vector<std::shared_ptr<TLMTypedProperty>> properties() const;
    // Their JSON objects, as the event log writes them under "typedProperties".
    TLMJson serializeToArray() const;
    // Rebuilt from archived or parsed typed properties (nothing for a property without a name).
    static std::shared_ptr<TLMEventProperties> fromProperties(const std::vector<std::shared_ptr<TLMTypedProperty>>& list);

private:
    bool validateKey(const std::string& key) const;
    void store(const std::string& key, std::shared_ptr<TLMTypedProperty> property);

    std::vector<std::string> order_;
    std::map<std::string, std::shared_ptr<TLMTypedProperty>> properties_;
};

// The typed properties as a field of a record's table (see TLMFieldTable.h): in JSON the array of
// the properties' objects, left out when there is none; archived as the list of the properties,
// left out when there is none; two match when their JSON arrays match (none is an empty array).
bool hasJson(const std::shared_ptr<TLMEventProperties>& v, unsigned options);
void putJson(TLMJson& j, const char* key, const std::shared_ptr<TLMEventProperties>& v, unsigned options);
bool appendJsonValue(std::string& out, const std::shared_ptr<TLMEventProperties>& v, unsigned options);
void readJson(const TLMJson& j, const char* key, std::shared_ptr<TLMEventProperties>& v, bool& ok);
void encode(TLMKeyedArchiver& c, const char* key, const std::shared_ptr<TLMEventProperties>& v);
void decode(const TLMKeyedUnarchiver& c, const char* key, std::shared_ptr<TLMEventProperties>& v);
bool same(const std::shared_ptr<TLMEventProperties>& a, const std::shared_ptr<TLMEventProperties>& b, unsigned options);
