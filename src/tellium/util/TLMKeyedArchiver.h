#pragma once
// The SDK's keyed archive: every archived object is a map whose keys are the object's coder keys
// (equal to its JSON keys) plus "$class", the name it is registered under. The map is written as
// CBOR. Reading never throws: an unknown class, a value of the wrong kind or bytes that are not
// an archive read back as nothing.
// Two writers give the same bytes: encodeRoot builds the map as a JSON value (what nlohmann's
// CBOR writer then writes: keys in byte order, each integer and float in its smallest form), and
// archiveRoot writes those CBOR bytes straight into a string, without building the map, for the
// log store's hot path.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tellium/util/TLMClock.h"

class TLMKeyedArchiver;
class TLMKeyedUnarchiver;

// A free-form JSON value kept in insertion order (property dictionaries of the common schema).
using TLMJson = nlohmann::ordered_json;

// The keyed-coding protocol: an object that can be written to and read from a keyed archive.
class TLMCoding : public std::enable_shared_from_this<TLMCoding> {
public:
    virtual ~TLMCoding() = default;
    // The name the class is registered under in archives.
    virtual std::string archiveClassName() const = 0;
    virtual void encodeWithCoder(TLMKeyedArchiver& coder) const = 0;
    // Reads the fields from the archive; false when a value has the wrong kind.
    virtual bool initWithCoder(const TLMKeyedUnarchiver& coder) = 0;
};

class TLMKeyedArchiver {
public:
    TLMKeyedArchiver() = default;
    void encodeString(const char* key, const std::optional<std::string>& value);
    void encodeBool(const char* key, bool value);
    void encodeDouble(const char* key, double value);
    void encodeInt64(const char* key, int64_t value);
    void encodeDate(const char* key, const std::optional<TLMDate>& value);  // int64 nanoseconds
    void encodeObject(const char* key, const std::shared_ptr<const TLMCoding>& object);
    void encodeObjects(const char* key, const std::optional<std::vector<std::shared_ptr<TLMCoding>>>& objects);
    void encodeStrings(const char* key, const std::optional<std::vector<std::string>>& values);
    void encodeStringMap(const char* key, const std::optional<std::map<std::string, std::string>>& values);
    void encodeJson(const char* key, const std::optional<TLMJson>& value);

    // The archived map of one object, "$class" included.
    static nlohmann::json encodeRoot(const TLMCoding& object);
    // Appends the CBOR bytes of that map to `out`: the same bytes as nlohmann's to_cbor of
    // encodeRoot(object).
    static void archiveRoot(const TLMCoding& object, std::string& out);

private:
    // The direct writer: each value's CBOR bytes go to values_, its key to entries_; the map is
    // put together (keys sorted, the last value of a key kept) when the object is done.
    struct Entry {
        std::string_view key;
        std::size_t begin;
        std::size_t end;
    };
    explicit TLMKeyedArchiver(std::string* values) : values_(values) {}
    void finishInto(const TLMCoding& object, std::string& out);
    std::string& beginValue(const char* key);
    void endValue();

    nlohmann::json map_ = nlohmann::json::object();
    std::string* values_ = nullptr;
    std::vector<Entry> entries_;
};

class TLMKeyedUnarchiver {
public:
    explicit TLMKeyedUnarchiver(const nlohmann::json& map) : map_(map) {}

    bool contains(const char* key) const;
    // Each reader answers nothing for a missing key and sets failed() for a value of the wrong kind.
    std::optional<std::string> decodeString(const char* key) const;
    bool decodeBool(const char* key) const;
    double decodeDouble(const char* key) const;
    int64_t decodeInt64(const char* key) const;
    std::optional<TLMDate> decodeDate(const char* key) const;
    std::shared_ptr<TLMCoding> decodeObject(const char* key) const;
    template <class T>
    std::shared_ptr<T> decodeObjectOfClass(const char* key) const {
        auto object = decodeObject(key);
        if (!object) return nullptr;
        auto typed = std::dynamic_pointer_cast<T>(object);
        if (!typed) failed_ = true;
        return typed;
    }
    std::optional<std::vector<std::shared_ptr<TLMCoding>>> decodeObjects(const char* key) const;
    std::optional<std::vector<std::string>> decodeStrings(const char* key) const;
    std::optional<std::map<std::string, std::string>> decodeStringMap(const char* key) const;
    std::optional<TLMJson> decodeJson(const char* key) const;

    bool failed() const { return failed_; }

    // The object a "$class" map describes, or nothing.
    static std::shared_ptr<TLMCoding> decodeRoot(const nlohmann::json& map);

private:
    const nlohmann::json* find(const char* key) const;
    const nlohmann::json& map_;
    mutable bool failed_ = false;
};

// Archive classes by name.
class TLMArchiveRegistry {
public:
    using Factory = std::function<std::shared_ptr<TLMCoding>()>;
    static void registerClass(const std::string& name, Factory factory);
    // Old names map to registered ones ("TLMDevice" -> the current device class, and so on).
    static void addMigrationClasses(const std::map<std::string, std::string>& oldToNew);
    static std::shared_ptr<TLMCoding> make(const std::string& name);
};

// Registers the core's archived classes once (model, histories, properties, common schema).
void TLMRegisterCoreArchiveClasses();
