#pragma once
// One table of fields per telemetry record drives everything the record does with its fields:
// its JSON object, reading that back, equality, its keyed archive, reading that back, and the
// direct writer of its JSON text (the request bodies). A table is a tuple of fields, each a key
// (the JSON key, which is also the archive key), a member pointer and a few options; what is done
// with a field follows from its member's type, in the overloads below. A record's table starts
// with its base's table, so a field is listed once, where it is declared (a record whose JSON
// object has a form of its own keeps a second table for it). A kind of member that
// belongs to another library (the event log's typed properties, say) declares its overloads beside
// its type, in the global namespace, where argument-dependent lookup finds them.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <typeinfo>
#include <vector>

#include "platform/defaults/Utf8.h"
#include "tellium/model/TLMSerializableObject.h"
#include "tellium/util/TLMUtility.h"

namespace tlmfields {

enum Options : unsigned {
    kPlain = 0,
    // An empty collection is left out of the JSON object (it is still archived).
    kOmitEmptyInJson = 1u << 0,
    // A whole number that is 0 is left out of the JSON object (it is still archived).
    kOmitZeroInJson = 1u << 1,
    // A UUID: written in upper case in JSON, compared without regard to case.
    kUuid = 1u << 2,
    // A nested record whose JSON object is null is left out of the JSON object.
    kOmitNullInJson = 1u << 3,
    // Takes no part in equality.
    kNotCompared = 1u << 4,
    // In the JSON object only together with the field listed just before it (it is still archived).
    kJsonWithPrevious = 1u << 5,
};

template <class Record, class Member>
struct Field {
    const char* key;
    Member Record::*member;
    unsigned options;
};

template <class Record, class Member>
constexpr Field<Record, Member> field(const char* key, Member Record::*member, unsigned options = kPlain) {
    return {key, member, options};
}

// A field whose value, when read back (from JSON or from the archive), goes through the record's
// validating setter; a value the setter refuses fails the read. A value missing from the JSON
// object leaves the field as it is.
template <class Record, class Member>
struct CheckedField : Field<Record, Member> {
    bool (Record::*set)(Member);
};

template <class Record, class Member>
constexpr CheckedField<Record, Member> checkedField(const char* key, Member Record::*member,
                                                    bool (Record::*set)(Member), unsigned options = kPlain) {
    return {{key, member, options}, set};
}

// ---- JSON text as nlohmann writes it (no pretty printing, invalid UTF-8 written as U+FFFD) ----

// Valid UTF-8 is written as nlohmann writes it; anything else by nlohmann itself (U+FFFD).
inline void appendJsonString(std::string& out, std::string_view text) {
    if (defaults::isValidUtf8(text)) {
        defaults::appendJsonString(out, text);
        return;
    }
    out += TLMJson(std::string(text)).dump(-1, ' ', false, TLMJson::error_handler_t::replace);
}

inline void appendJsonInteger(std::string& out, int64_t value) {
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

// ---- what each kind of member does ------------------------------------------------------------

// optional text
inline std::string upperCase(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}
inline void putJson(TLMJson& j, const char* key, const std::optional<std::string>& v, unsigned options) {
    if (v) j[key] = (options & kUuid) ? upperCase(*v) : *v;
}
inline bool hasJson(const std::optional<std::string>& v, unsigned) { return v.has_value(); }
inline bool appendJsonValue(std::string& out, const std::optional<std::string>& v, unsigned options) {
    appendJsonString(out, (options & kUuid) ? upperCase(*v) : *v);
    return true;
}
inline void readJson(const TLMJson& j, const char* key, std::optional<std::string>& v, bool& ok) {
    v = tlmjson::string(j, key, ok);
}
inline void encode(TLMKeyedArchiver& c, const char* key, const std::optional<std::string>& v) { c.encodeString(key, v); }
inline void decode(const TLMKeyedUnarchiver& c, const char* key, std::optional<std::string>& v) {
    v = c.decodeString(key);
}

// optional whole number
inline void putJson(TLMJson& j, const char* key, const std::optional<int64_t>& v, unsigned) {
    if (v) j[key] = *v;
}
inline bool hasJson(const std::optional<int64_t>& v, unsigned) { return v.has_value(); }
inline bool appendJsonValue(std::string& out, const std::optional<int64_t>& v, unsigned) {
    appendJsonInteger(out, *v);
    return true;
}
inline void readJson(const TLMJson& j, const char* key, std::optional<int64_t>& v, bool& ok) {
    v = tlmjson::integer(j, key, ok);
}
inline void encode(TLMKeyedArchiver& c, const char* key, const std::optional<int64_t>& v) {
    if (v) c.encodeInt64(key, *v);
}
// A number missing from the archive leaves the field as it is.
inline void decode(const TLMKeyedUnarchiver& c, const char* key, std::optional<int64_t>& v) {
    if (c.contains(key)) v = c.decodeInt64(key);
}

// optional date: ISO 8601 text in JSON, nanoseconds in the archive
inline void putJson(TLMJson& j, const char* key, const std::optional<TLMDate>& v, unsigned) {
    if (v) j[key] = TLMUtility::dateToISO8601(*v);
}
inline bool hasJson(const std::optional<TLMDate>& v, unsigned) { return v.has_value(); }
inline bool appendJsonValue(std::string& out, const std::optional<TLMDate>& v, unsigned) {
    appendJsonString(out, TLMUtility::dateToISO8601(*v));
    return true;
}
inline void readJson(const TLMJson& j, const char* key, std::optional<TLMDate>& v, bool& ok) {
    v = tlmjson::date(j, key, ok);
}
inline void encode(TLMKeyedArchiver& c, const char* key, const std::optional<TLMDate>& v) { c.encodeDate(key, v); }
inline void decode(const TLMKeyedUnarchiver& c, const char* key, std::optional<TLMDate>& v) {
    v = c.decodeDate(key);
}

// optional dictionary of texts (keys in order, as in a JSON object)
using StringMap = std::map<std::string, std::string>;
inline bool hasJson(const std::optional<StringMap>& v, unsigned options) {
    return v && !((options & kOmitEmptyInJson) && v->empty());
}
inline void putJson(TLMJson& j, const char* key, const std::optional<StringMap>& v, unsigned options) {
    if (hasJson(v, options)) j[key] = *v;
}
inline bool appendJsonValue(std::string& out, const std::optional<StringMap>& v, unsigned) {
    out += '{';
    bool first = true;
    for (const auto& [name, value] : *v) {
        if (!first) out += ',';
        first = false;
        appendJsonString(out, name);
        out += ':';
        appendJsonString(out, value);
    }
    out += '}';
    return true;
}
inline void readJson(const TLMJson& j, const char* key, std::optional<StringMap>& v, bool& ok) {
    v.reset();
    const TLMJson* object = tlmjson::object(j, key, ok);
    if (!object) return;
    StringMap values;
    for (auto it = object->begin(); it != object->end(); ++it) {
        if (!it.value().is_string()) {
            ok = false;
            return;
        }
        values.emplace(it.key(), it.value().get<std::string>());
    }
    v = std::move(values);
}
inline void encode(TLMKeyedArchiver& c, const char* key, const std::optional<StringMap>& v) {
    c.encodeStringMap(key, v);
}
inline void decode(const TLMKeyedUnarchiver& c, const char* key, std::optional<StringMap>& v) {
    v = c.decodeStringMap(key);
}

// optional list of texts
using StringList = std::vector<std::string>;
inline void putJson(TLMJson& j, const char* key, const std::optional<StringList>& v, unsigned) {
    if (v) j[key] = *v;
}
inline bool hasJson(const std::optional<StringList>& v, unsigned) { return v.has_value(); }
inline bool appendJsonValue(std::string& out, const std::optional<StringList>& v, unsigned) {
    out += '[';
    for (std::size_t i = 0; i < v->size(); ++i) {
        if (i) out += ',';
        appendJsonString(out, (*v)[i]);
    }
    out += ']';
    return true;
}
inline void readJson(const TLMJson& j, const char* key, std::optional<StringList>& v, bool& ok) {
    v.reset();
    const TLMJson* list = tlmjson::array(j, key, ok);
    if (!list) return;
    StringList values;
    for (const auto& e : *list) {
        if (!e.is_string()) {
            ok = false;
            return;
        }
        values.push_back(e.get<std::string>());
    }
    v = std::move(values);
}
inline void encode(TLMKeyedArchiver& c, const char* key, const std::optional<StringList>& v) { c.encodeStrings(key, v); }
inline void decode(const TLMKeyedUnarchiver& c, const char* key, std::optional<StringList>& v) {
    v = c.decodeStrings(key);
}

// floating-point number, always there (0 when missing)
inline bool hasJson(double, unsigned) { return true; }
inline void putJson(TLMJson& j, const char* key, double v, unsigned) { j[key] = v; }
inline bool appendJsonValue(std::string& out, double v, unsigned) {
    out += TLMJson(v).dump();  // nlohmann's own shortest round-trip form
    return true;
}
inline void readJson(const TLMJson& j, const char* key, double& v, bool& ok) { v = tlmjson::number(j, key, ok).value_or(0); }
inline void readJson(const TLMJson& j, const char* key, std::optional<double>& v, bool& ok) { v = tlmjson::number(j, key, ok); }
inline void encode(TLMKeyedArchiver& c, const char* key, double v) { c.encodeDouble(key, v); }
inline void decode(const TLMKeyedUnarchiver& c, const char* key, double& v) { v = c.decodeDouble(key); }
inline bool same(double a, double b, unsigned) { return a == b; }

// whole number, always there (0 when missing)
inline bool hasJson(int64_t v, unsigned options) { return !((options & kOmitZeroInJson) && v == 0); }
inline void putJson(TLMJson& j, const char* key, int64_t v, unsigned options) {
    if (hasJson(v, options)) j[key] = v;
}
inline bool appendJsonValue(std::string& out, int64_t v, unsigned) {
    appendJsonInteger(out, v);
    return true;
}
inline void readJson(const TLMJson& j, const char* key, int64_t& v, bool& ok) { v = tlmjson::integer(j, key, ok).value_or(0); }
inline void encode(TLMKeyedArchiver& c, const char* key, int64_t v) { c.encodeInt64(key, v); }
inline void decode(const TLMKeyedUnarchiver& c, const char* key, int64_t& v) { v = c.decodeInt64(key); }

// yes or no, always there (false when missing)
inline bool hasJson(bool, unsigned) { return true; }
inline void putJson(TLMJson& j, const char* key, bool v, unsigned) { j[key] = v; }
inline bool appendJsonValue(std::string& out, bool v, unsigned) {
    out += v ? "true" : "false";
    return true;
}
inline void readJson(const TLMJson& j, const char* key, bool& v, bool& ok) { v = tlmjson::boolean(j, key, ok).value_or(false); }
inline void encode(TLMKeyedArchiver& c, const char* key, bool v) { c.encodeBool(key, v); }
inline void decode(const TLMKeyedUnarchiver& c, const char* key, bool& v) { v = c.decodeBool(key); }
inline bool same(bool a, bool b, unsigned) { return a == b; }

// a nested record, present or not
template <class T>
void putJson(TLMJson& j, const char* key, const std::shared_ptr<T>& v, unsigned options) {
    if (!v) return;
    TLMJson value = v->serializeToDictionary();
    if (!(value.is_null() && (options & kOmitNullInJson))) j[key] = std::move(value);
}
template <class T>
bool hasJson(const std::shared_ptr<T>& v, unsigned) {
    return v != nullptr;
}
// False when the record answers null and the field leaves it out.
template <class T>
bool appendJsonValue(std::string& out, const std::shared_ptr<T>& v, unsigned options) {
    if (v->appendJson(out)) return true;
    if (options & kOmitNullInJson) return false;
    out += "null";
    return true;
}
template <class T>
void readJson(const TLMJson& j, const char* key, std::shared_ptr<T>& v, bool& ok) {
    v.reset();
    if (const TLMJson* object = tlmjson::object(j, key, ok)) {
        v = std::make_shared<T>();
        if (!v->deserializeFromDictionary(*object)) ok = false;
    }
}
template <class T>
void encode(TLMKeyedArchiver& c, const char* key, const std::shared_ptr<T>& v) {
    c.encodeObject(key, v);
}
template <class T>
void decode(const TLMKeyedUnarchiver& c, const char* key, std::shared_ptr<T>& v) {
    v = c.decodeObjectOfClass<T>(key);
}

template <class T>
bool same(const std::optional<T>& a, const std::optional<T>& b, unsigned) {
    return TLMOptionalEqual(a, b);
}
inline bool same(const std::optional<std::string>& a, const std::optional<std::string>& b, unsigned options) {
    if (!(options & kUuid) || !a || !b) return TLMOptionalEqual(a, b);
    return a->size() == b->size() && std::equal(a->begin(), a->end(), b->begin(), [](unsigned char x, unsigned char y) {
               return std::toupper(x) == std::toupper(y);
           });
}
inline bool same(int64_t a, int64_t b, unsigned) { return a == b; }
template <class T>
bool same(const std::shared_ptr<T>& a, const std::shared_ptr<T>& b, unsigned) {
    return TLMObjectEqual(a, b);
}

// ---- reading one field back: straight into the member, or through its setter --------------------

template <class R, class Rec, class M>
void readField(R& record, const TLMJson& json, const Field<Rec, M>& f, bool& ok) {
    readJson(json, f.key, record.*f.member, ok);
}
template <class R, class Rec, class M>
void readField(R& record, const TLMJson& json, const CheckedField<Rec, M>& f, bool& ok) {
    std::optional<M> value;
    readJson(json, f.key, value, ok);
    if (ok && value && !(record.*f.set)(*value)) ok = false;
}

template <class R, class Rec, class M>
void decodeField(R& record, const TLMKeyedUnarchiver& coder, const Field<Rec, M>& f, bool&) {
    decode(coder, f.key, record.*f.member);
}
template <class R, class Rec, class M>
void decodeField(R& record, const TLMKeyedUnarchiver& coder, const CheckedField<Rec, M>& f, bool& ok) {
    M value{};
    decode(coder, f.key, value);
    if (ok && !coder.failed() && !(record.*f.set)(value)) ok = false;
}

// ---- the five uses of a table, and the text writer ----------------------------------------------

template <class R, class Table>
TLMJson toJson(const R& record, const Table& table) {
    TLMJson json = TLMJson::object();
    bool previous = false;  // the field before was written
    auto one = [&](const auto& f) {
        const std::size_t before = json.size();
        if (!(f.options & kJsonWithPrevious) || previous) putJson(json, f.key, record.*f.member, f.options);
        previous = json.size() > before;
    };
    std::apply([&](const auto&... f) { (one(f), ...); }, table);
    return json;
}

template <class R, class Table>
bool fromJson(R& record, const TLMJson& json, const Table& table) {
    if (!json.is_object()) return false;
    bool ok = true;
    std::apply([&](const auto&... f) { (readField(record, json, f, ok), ...); }, table);
    return ok;
}

template <class R, class Table>
bool equal(const R& a, const R& b, const Table& table) {
    auto one = [&](const auto& f) { return (f.options & kNotCompared) || same(a.*f.member, b.*f.member, f.options); };
    return std::apply([&](const auto&... f) { return (one(f) && ...); }, table);
}

template <class R, class Table>
void archive(const R& record, TLMKeyedArchiver& coder, const Table& table) {
    std::apply([&](const auto&... f) { (encode(coder, f.key, record.*f.member), ...); }, table);
}

template <class R, class Table>
bool unarchive(R& record, const TLMKeyedUnarchiver& coder, const Table& table) {
    bool ok = true;
    std::apply([&](const auto&... f) { (decodeField(record, coder, f, ok), ...); }, table);
    return ok && !coder.failed();
}

// The same text as nlohmann's dump of toJson(record, table), written straight. A subclass that
// has no table of its own (it writes more fields by hand) goes through its JSON object instead.
template <class R, class Table>
bool appendJson(const R& record, std::string& out, const Table& table) {
    if (typeid(record) != typeid(R)) return record.TLMSerializableObject::appendJson(out);
    out += '{';
    bool first = true;
    bool previous = false;  // the field before was written
    auto one = [&](const auto& f) {
        const auto& value = record.*f.member;
        const bool wanted = !(f.options & kJsonWithPrevious) || previous;
        previous = false;
        if (!wanted || !hasJson(value, f.options)) return;
        const std::size_t mark = out.size();
        if (!first) out += ',';
        appendJsonString(out, f.key);
        out += ':';
        if (appendJsonValue(out, value, f.options)) {
            first = false;
            previous = true;
        } else {
            out.resize(mark);
        }
    };
    std::apply([&](const auto&... f) { (one(f), ...); }, table);
    out += '}';
    return true;
}

// Records that drop out when they have nothing to write: null instead of an empty object.
template <class R, class Table>
TLMJson toJsonOrNull(const R& record, const Table& table) {
    TLMJson json = toJson(record, table);
    return json.empty() ? TLMJson() : json;
}

template <class R, class Table>
bool appendJsonOrNothing(const R& record, std::string& out, const Table& table) {
    const std::size_t mark = out.size();
    if (!appendJson(record, out, table)) return false;
    if (out.size() - mark > 2) return true;
    out.resize(mark);  // "{}": nothing to write
    return false;
}

}  // namespace tlmfields
