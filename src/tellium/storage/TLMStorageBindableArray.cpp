#include "tellium/storage/TLMStorageBindableArray.h"

#include <sqlite3.h>

#include "tellium/TLMLogger.h"

int TLMStorageNumberType::bindWithStatement(sqlite3_stmt* statement, int index) const {
    return sqlite3_bind_int64(statement, index, value.value_or(0));
}

int TLMStorageTextType::bindWithStatement(sqlite3_stmt* statement, int index) const {
    if (!value) return sqlite3_bind_null(statement, index);
    return sqlite3_bind_text64(statement, index, value->data(), value->size(), SQLITE_STATIC, SQLITE_UTF8);
}

void TLMStorageBindableArray::addString(std::optional<std::string> value) {
    array.push_back(std::make_shared<TLMStorageTextType>(std::move(value)));
}

void TLMStorageBindableArray::addNumber(std::optional<int64_t> value) {
    array.push_back(std::make_shared<TLMStorageNumberType>(value));
}

int TLMStorageBindableArray::bindAllValuesWithStatement(sqlite3_stmt* statement, sqlite3* database) const {
    for (std::size_t i = 0; i < array.size(); ++i) {
        const int index = static_cast<int>(i) + 1;
        int rc = array[i] ? array[i]->bindWithStatement(statement, index) : sqlite3_bind_null(statement, index);
        if (rc != SQLITE_OK) {
            std::string message = database ? sqlite3_errmsg(database) : "";
            TLMLogError(kTLMLogTag, "Binding query parameter " + std::to_string(index) + " failed with error: " +
                                        std::to_string(rc) + ". Message: " + message);
            return rc;
        }
    }
    return SQLITE_OK;
}
