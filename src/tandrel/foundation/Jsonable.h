#pragma once
// Records that the app writes to disk or passes as text: one conversion to pretty-printed JSON
// whose keys are the field names, and a description that is that same text.
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/defaults/Date.h"
#include "tandrel/foundation/VornError.h"

using OrderedJson = nlohmann::ordered_json;
using Date = defaults::Date;

// The error a store raises when it is asked to read or write while its file URL is unset.
enum class jsonable_error { url_missing };
VornError make_error(jsonable_error e);

// Thrown inside decoders only; stores catch it and turn it into a VornError.
struct DecodingError : std::runtime_error {
    using std::runtime_error::runtime_error;
    VornError toError() const { return VornError{"DecodingError", 1, what(), "dataCorrupted"}; }
};
// Thrown inside encoders only (a value JSON cannot hold).
struct EncodingError : std::runtime_error {
    using std::runtime_error::runtime_error;
    VornError toError() const { return VornError{"EncodingError", 1, what(), "invalidValue"}; }
};

class Jsonable {
public:
    virtual ~Jsonable() = default;
    // The record as a JSON value, keys in field order; may throw EncodingError.
    virtual OrderedJson to_json() const = 0;
    // Pretty-printed JSON text, or the encoding error (a non-finite number, text that is not UTF-8).
    Expected<std::string> toJsonString() const;
    // toJsonString(), or "not convertible".
    std::string description() const;
};

namespace jsonable {
// The pretty JSON text the stores write: the same bytes as value.dump(2), made faster for long
// strings. Every string (and key) must be valid UTF-8 (toJsonString checks).
std::string pretty(const OrderedJson& value);
// Pretty-prints a JSON value as the records do, refusing what JSON cannot hold.
Expected<std::string> toJsonString(const OrderedJson& value);
// Parses JSON text; a syntax error is a DecodingError value.
Expected<OrderedJson> parse(const std::string& text);

// Decoding helpers: each throws DecodingError naming the key.
const OrderedJson& require(const OrderedJson& object, const char* key);
std::string require_string(const OrderedJson& object, const char* key);
int64_t require_int(const OrderedJson& object, const char* key);
bool require_bool(const OrderedJson& object, const char* key);
double require_number(const OrderedJson& object, const char* key);
Date require_date(const OrderedJson& object, const char* key);
void require_object(const OrderedJson& value, const std::string& what);
// Present and not null: the value's reader; missing or null: nothing.
std::optional<std::string> optional_string(const OrderedJson& object, const char* key);
std::optional<int64_t> optional_int(const OrderedJson& object, const char* key);
std::optional<double> optional_number(const OrderedJson& object, const char* key);
std::optional<Date> optional_date(const OrderedJson& object, const char* key);

OrderedJson date_json(Date d);
}  // namespace jsonable

// True when the bytes are well-formed UTF-8.
bool is_valid_utf8(std::string_view bytes);
// A random UUID in upper-case text form (8-4-4-4-12), from the one generator (defaults::uuidString).
std::string new_uuid_string();
