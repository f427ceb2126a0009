#pragma once
// The settings store: typed values under text keys, kept in one JSON file that is rewritten
// atomically on every change. Safe to use from any thread.
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/defaults/Date.h"

namespace defaults {

struct Data {
    std::string bytes;
    bool operator==(const Data&) const = default;
};

class Value;
using List = std::vector<Value>;
using Dictionary = std::map<std::string, Value>;

class Value {
public:
    using Storage = std::variant<std::string, int64_t, double, bool, Date, Data, List, Dictionary>;

    Value() : v_(std::string()) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(int v) : v_(static_cast<int64_t>(v)) {}
    Value(int64_t v) : v_(v) {}
    Value(double v) : v_(v) {}
    Value(bool v) : v_(v) {}
    Value(Date v) : v_(v) {}
    Value(Data v) : v_(std::move(v)) {}
    Value(List v) : v_(std::move(v)) {}
    Value(Dictionary v) : v_(std::move(v)) {}

    const Storage& storage() const { return v_; }
    template <class T> bool is() const { return std::holds_alternative<T>(v_); }
    template <class T> const T* get() const { return std::get_if<T>(&v_); }
    bool isNumber() const { return is<int64_t>() || is<double>() || is<bool>(); }

    bool operator==(const Value& o) const { return v_ == o.v_; }

private:
    Storage v_;
};

class UserDefaults {
public:
    // The app's store: $XDG_CONFIG_HOME (or ~/.config) / DravixFTPClient / defaults.json. The
    // location is read when first used; resetStandardForTesting() makes the next use read again.
    static UserDefaults& standard();
    static void resetStandardForTesting();
    static std::filesystem::path standardFilePath();

    // A store on its own file (read now; an unreadable file is kept aside and the store starts empty).
    explicit UserDefaults(std::filesystem::path file);

    std::optional<Value> objectForKey(const std::string& key) const;
    // Text of a text value, or the decimal form of a number; nothing for other kinds.
    std::optional<std::string> stringForKey(const std::string& key) const;
    // A number (truncated), a bool (0/1) or the leading integer of a text; 0 otherwise.
    int64_t integerForKey(const std::string& key) const;
    double doubleForKey(const std::string& key) const;
    // A number (non-zero), or a text "YES"/"true"/"y"/a non-zero integer; false otherwise.
    bool boolForKey(const std::string& key) const;
    std::optional<Date> dateForKey(const std::string& key) const;
    std::optional<Data> dataForKey(const std::string& key) const;
    std::optional<List> arrayForKey(const std::string& key) const;
    std::optional<Dictionary> dictionaryForKey(const std::string& key) const;
    // Every stored value by key (registered fallbacks not included).
    Dictionary dictionaryRepresentation() const;

    void setObject(const std::string& key, std::optional<Value> value);  // nothing removes
    void setInteger(const std::string& key, int64_t v) { setObject(key, Value(v)); }
    void setDouble(const std::string& key, double v) { setObject(key, Value(v)); }
    void setBool(const std::string& key, bool v) { setObject(key, Value(v)); }
    void setString(const std::string& key, std::string v) { setObject(key, Value(std::move(v))); }
    void removeObjectForKey(const std::string& key) { setObject(key, std::nullopt); }

    // Fallback values seen by the readers while a key has no stored value; never written.
    void registerDefaults(const Dictionary& values);
    // Writes the file now if the last write failed. True when the file holds the store.
    bool synchronize();

    const std::filesystem::path& filePath() const { return file_; }
    std::optional<std::string> lastWriteError() const;

private:
    std::optional<Value> lookup(const std::string& key) const;  // caller holds mutex_
    void load();
    bool writeLocked();

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    Dictionary values_;
    Dictionary registered_;
    bool dirty_ = false;
    std::optional<std::string> lastError_;
};

// JSON form of values (also used by tests): dates as {"$date": seconds since 2001}, data as
// {"$data": base64}, a dictionary that could be mistaken for those wrapped in {"$dict": {...}}.
std::string encodeValuesToJson(const Dictionary& values);
std::optional<Dictionary> decodeValuesFromJson(const std::string& text);

}  // namespace defaults
