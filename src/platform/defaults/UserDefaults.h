#pragma once
// The settings store: typed values under text keys, kept in one JSON file. A change is seen by
// readers at once; the file is written in the background, a burst of changes in one write, and
// each write merges the keys this store changed into what the file holds by then, so two running
// instances keep each other's settings. What is still pending at quit is written by the exit
// drain. Safe to use from any thread.
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "platform/defaults/Date.h"
#include "platform/dispatch/ExitDrain.h"

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
    ~UserDefaults();  // writes what is still pending
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

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
    // Writes the pending changes now (merged into the file's content) and waits for the write.
    // True when the file holds every change made before the call.
    bool flush();
    bool synchronize() { return flush(); }

    const std::filesystem::path& filePath() const { return file_; }
    std::optional<std::string> lastWriteError() const;

private:
    using Changes = std::map<std::string, std::optional<Value>>;  // nothing: removed

    std::optional<Value> lookup(const std::string& key) const;  // caller holds mutex_
    void load();
    void writerLoop();

    std::filesystem::path file_;
    mutable std::mutex mutex_;  // the values; never held while the file is read or written
    std::mutex writeMutex_;     // one write at a time
    std::condition_variable wake_;
    Dictionary values_;
    Dictionary registered_;
    Changes pending_;           // changed since the last successful write
    uint64_t changeCount_ = 0;
    bool stopping_ = false;
    std::thread writer_;        // started by the first change
    std::optional<std::string> lastError_;
    std::unique_ptr<dispatch::ExitDrain> exitDrain_;  // writes what is pending when the app quits
};

// JSON form of values (also used by tests): dates as {"$date": seconds since 2001}, data as
// {"$data": base64}, a dictionary that could be mistaken for those wrapped in {"$dict": {...}}.
std::string encodeValuesToJson(const Dictionary& values);
std::optional<Dictionary> decodeValuesFromJson(const std::string& text);

}  // namespace defaults
