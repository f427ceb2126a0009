#include "tandrel/foundation/Jsonable.h"

#include "platform/defaults/Utf8.h"
#include "platform/defaults/Uuid.h"

#include <cmath>

VornError make_error(jsonable_error) { return VornError{"jsonable_error", 0, "The operation couldn't be completed. (jsonable_error error 0.)", "url_missing"}; }

namespace {
void checkEncodable(const OrderedJson& value) {
    switch (value.type()) {
        case OrderedJson::value_t::number_float:
            if (!std::isfinite(value.get<double>())) throw EncodingError("a number that is not finite cannot be written as JSON");
            break;
        case OrderedJson::value_t::string:
            if (!is_valid_utf8(value.get_ref<const std::string&>())) throw EncodingError("text that is not UTF-8 cannot be written as JSON");
            break;
        case OrderedJson::value_t::array:
            for (const auto& e : value) checkEncodable(e);
            break;
        case OrderedJson::value_t::object:
            for (auto it = value.begin(); it != value.end(); ++it) {
                if (!is_valid_utf8(it.key())) throw EncodingError("a key that is not UTF-8 cannot be written as JSON");
                checkEncodable(it.value());
            }
            break;
        default: break;
    }
}

const char* typeName(const OrderedJson& v) { return v.type_name(); }

// The pretty form the stores write (two-space indent, UTF-8 kept as it is), byte for byte as the
// JSON library's own dump(2) makes it, with strings written a run at a time (a sessions file holds
// whole documents, as JSON text inside JSON). Numbers, booleans and null are the library's own
// output. The strings are valid UTF-8 (checked before).
void appendPretty(std::string& out, const OrderedJson& value, size_t indent) {
    switch (value.type()) {
        case OrderedJson::value_t::object:
        case OrderedJson::value_t::array: {
            const bool object = value.is_object();
            if (value.empty()) {
                out += object ? "{}" : "[]";
                return;
            }
            out += object ? "{\n" : "[\n";
            const size_t inner = indent + 2;
            size_t left = value.size();
            for (auto it = value.begin(); it != value.end(); ++it) {
                out.append(inner, ' ');
                if (object) {
                    defaults::appendJsonString(out, it.key());
                    out += ": ";
                }
                appendPretty(out, it.value(), inner);
                out += --left ? ",\n" : "\n";
            }
            out.append(indent, ' ');
            out += object ? '}' : ']';
            return;
        }
        case OrderedJson::value_t::string: defaults::appendJsonString(out, value.get_ref<const std::string&>()); return;
        default: out += value.dump(); return;
    }
}

size_t stringBytes(const OrderedJson& value) {
    switch (value.type()) {
        case OrderedJson::value_t::string: return value.get_ref<const std::string&>().size();
        case OrderedJson::value_t::array:
        case OrderedJson::value_t::object: {
            size_t n = 0;
            for (auto it = value.begin(); it != value.end(); ++it) n += stringBytes(it.value()) + 16;
            return n;
        }
        default: return 8;
    }
}

}  // namespace

namespace jsonable {

std::string pretty(const OrderedJson& value) {
    std::string out;
    // Room for the text and a little escaping, so that a large document is not copied while it grows.
    const size_t bytes = stringBytes(value);
    out.reserve(bytes + bytes / 8 + 64);
    appendPretty(out, value, 0);
    return out;
}

Expected<std::string> toJsonString(const OrderedJson& value) {
    try {
        checkEncodable(value);
        return pretty(value);
    } catch (const EncodingError& e) {
        return e.toError();
    } catch (const std::exception& e) {
        return EncodingError(e.what()).toError();
    }
}

Expected<OrderedJson> parse(const std::string& text) {
    OrderedJson j = OrderedJson::parse(text, nullptr, false);
    if (j.is_discarded()) return DecodingError("The given data was not valid JSON.").toError();
    return j;
}

const OrderedJson& require(const OrderedJson& object, const char* key) {
    if (!object.is_object()) throw DecodingError(std::string("typeMismatch: expected an object holding \"") + key + "\"");
    auto it = object.find(key);
    if (it == object.end()) throw DecodingError(std::string("keyNotFound: No value associated with key \"") + key + "\"");
    if (it->is_null()) throw DecodingError(std::string("valueNotFound: null found for key \"") + key + "\"");
    return *it;
}

std::string require_string(const OrderedJson& object, const char* key) {
    const auto& v = require(object, key);
    if (!v.is_string()) throw DecodingError(std::string("typeMismatch: expected a string for key \"") + key + "\" but found " + typeName(v));
    return v.get<std::string>();
}

int64_t require_int(const OrderedJson& object, const char* key) {
    const auto& v = require(object, key);
    if (v.is_number_integer()) return v.get<int64_t>();
    if (v.is_number_float()) {
        double d = v.get<double>();
        if (std::floor(d) == d && std::fabs(d) < 9.2e18) return static_cast<int64_t>(d);
    }
    throw DecodingError(std::string("typeMismatch: expected an integer for key \"") + key + "\" but found " + typeName(v));
}

bool require_bool(const OrderedJson& object, const char* key) {
    const auto& v = require(object, key);
    if (!v.is_boolean()) throw DecodingError(std::string("typeMismatch: expected a Boolean for key \"") + key + "\" but found " + typeName(v));
    return v.get<bool>();
}

double require_number(const OrderedJson& object, const char* key) {
    const auto& v = require(object, key);
    if (!v.is_number()) throw DecodingError(std::string("typeMismatch: expected a number for key \"") + key + "\" but found " + typeName(v));
    return v.get<double>();
}

Date require_date(const OrderedJson& object, const char* key) { return Date{require_number(object, key)}; }

void require_object(const OrderedJson& value, const std::string& what) {
    if (!value.is_object()) throw DecodingError("typeMismatch: expected an object for " + what + " but found " + typeName(value));
}

std::optional<std::string> optional_string(const OrderedJson& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return std::nullopt;
    return require_string(object, key);
}

std::optional<int64_t> optional_int(const OrderedJson& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return std::nullopt;
    return require_int(object, key);
}

std::optional<double> optional_number(const OrderedJson& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return std::nullopt;
    return require_number(object, key);
}

std::optional<Date> optional_date(const OrderedJson& object, const char* key) {
    auto n = optional_number(object, key);
    if (!n) return std::nullopt;
    return Date{*n};
}

OrderedJson date_json(Date d) {
    // Whole seconds are written as integers, like the platform encoder does.
    double s = d.sinceReferenceDate;
    if (std::isfinite(s) && std::floor(s) == s && std::fabs(s) < 9e15) return static_cast<int64_t>(s);
    return s;
}

}  // namespace jsonable

Expected<std::string> Jsonable::toJsonString() const {
    try {
        return jsonable::toJsonString(to_json());
    } catch (const EncodingError& e) {
        return e.toError();
    }
}

std::string Jsonable::description() const {
    auto text = toJsonString();
    return text ? *text : std::string("not convertible");
}

bool is_valid_utf8(std::string_view s) { return defaults::isValidUtf8(s); }

std::string new_uuid_string() { return defaults::uuidString(); }
