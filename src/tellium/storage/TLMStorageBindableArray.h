#pragma once
// The parameters of one SQL statement, in order, bound to the prepared statement just before it
// runs; the store never splices values into its SQL text.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

class TLMStorageBindableType {
public:
    virtual ~TLMStorageBindableType() = default;
    // Binds the value at the 1-based index; answers SQLite's result code.
    virtual int bindWithStatement(sqlite3_stmt* statement, int index) const = 0;
};

class TLMStorageNumberType final : public TLMStorageBindableType {
public:
    explicit TLMStorageNumberType(std::optional<int64_t> value) : value(value) {}
    int bindWithStatement(sqlite3_stmt* statement, int index) const override;  // absent binds 0
    std::optional<int64_t> value;
};

class TLMStorageTextType final : public TLMStorageBindableType {
public:
    explicit TLMStorageTextType(std::optional<std::string> value) : value(std::move(value)) {}
    int bindWithStatement(sqlite3_stmt* statement, int index) const override;  // absent binds NULL
    std::optional<std::string> value;
};

class TLMStorageBindableArray {
public:
    void addString(std::optional<std::string> value);
    void addNumber(std::optional<int64_t> value);
    void add(std::shared_ptr<TLMStorageBindableType> value) { array.push_back(std::move(value)); }
    // Binds every value in order; stops at the first failure, logs it and answers its code.
    int bindAllValuesWithStatement(sqlite3_stmt* statement, sqlite3* database) const;

    std::vector<std::shared_ptr<TLMStorageBindableType>> array;
};
