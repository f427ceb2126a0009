#include "tellium/util/TLMUtility.h"

#include <openssl/rand.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <random>
#include <regex>

#include "platform/defaults/Utf8.h"
#include "tellium/TLMLogger.h"

namespace {

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        auto at = s.find(sep, start);
        parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) break;
        start = at + 1;
    }
    return parts;
}

std::string removeAll(std::string s, std::string_view what) {
    for (auto at = s.find(what); at != std::string::npos; at = s.find(what, at)) s.erase(at, what.size());
    return s;
}

bool contains(std::string_view s, std::string_view what) { return s.find(what) != std::string_view::npos; }

}  // namespace

std::optional<std::string> TLMUtility::appSecretFrom(const std::optional<std::string>& string) {
    if (!string) return std::nullopt;
    const bool iosOnly = contains(*string, "ios=");
    for (const auto& part : split(*string, ';')) {
        if (part.empty() || contains(part, "target=")) continue;
        std::string result;
        if (iosOnly) {
            if (!contains(part, "ios=")) continue;
            result = removeAll(part, "ios=");
        } else if (!contains(part, "appsecret=") && !contains(part, "=")) {
            result = part;
        } else {
            result = removeAll(part, "appsecret=");
        }
        if (!result.empty()) return result;
    }
    return std::nullopt;
}

std::optional<std::string> TLMUtility::transmissionTargetTokenFrom(const std::optional<std::string>& string) {
    if (!string) return std::nullopt;
    for (const auto& part : split(*string, ';')) {
        if (!contains(part, "target=")) continue;
        auto token = removeAll(part, "target=");
        if (!token.empty()) return token;
    }
    return std::nullopt;
}

std::optional<std::string> TLMUtility::targetKeyFromTargetToken(const std::optional<std::string>& token) {
    if (!token) return std::nullopt;
    auto key = token->substr(0, token->find('-'));
    if (key.empty()) return std::nullopt;
    return key;
}

std::optional<std::string> TLMUtility::iKeyFromTargetToken(const std::optional<std::string>& token) {
    auto key = targetKeyFromTargetToken(token);
    if (!key) return std::nullopt;
    return "o:" + *key;
}

int TLMUtility::currentAppEnvironment() {
    const char* env = std::getenv("DRAVIX_APP_ENVIRONMENT");
    if (env && std::string_view(env) == "99") return 99;
    return 0;
}

std::string TLMUtility::sdkName() { return "tellium.cpp"; }
std::string TLMUtility::sdkVersion() { return "4.4.2"; }

// ---- archives ------------------------------------------------------------------------------

void TLMUtility::addMigrationClasses(const std::map<std::string, std::string>& oldToNew) {
    TLMArchiveRegistry::addMigrationClasses(oldToNew);
}

std::string TLMUtility::archiveKeyedData(const TLMCoding& object) {
    auto root = TLMKeyedArchiver::encodeRoot(object);
    std::string bytes;
    nlohmann::json::to_cbor(root, nlohmann::detail::output_adapter<char>(bytes));
    return bytes;
}

std::string TLMUtility::archiveKeyedArray(const std::vector<std::shared_ptr<TLMCoding>>& objects) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& o : objects) {
        if (o) list.push_back(TLMKeyedArchiver::encodeRoot(*o));
    }
    auto bytes = nlohmann::json::to_cbor(list);
    return std::string(bytes.begin(), bytes.end());
}

namespace {
nlohmann::json parseCbor(std::string_view bytes) {
    if (bytes.empty()) return nlohmann::json(nlohmann::json::value_t::discarded);
    try {
        return nlohmann::json::from_cbor(bytes.begin(), bytes.end(), true, false);
    } catch (...) {
        return nlohmann::json(nlohmann::json::value_t::discarded);
    }
}
}  // namespace

std::shared_ptr<TLMCoding> TLMUtility::unarchiveKeyedData(std::string_view bytes) {
    try {
        auto root = parseCbor(bytes);
        if (root.is_discarded()) return nullptr;
        return TLMKeyedUnarchiver::decodeRoot(root);
    } catch (...) {
        return nullptr;
    }
}

std::optional<std::vector<std::shared_ptr<TLMCoding>>> TLMUtility::unarchiveKeyedArray(std::string_view bytes) {
    try {
        auto root = parseCbor(bytes);
        if (!root.is_array()) return std::nullopt;
        std::vector<std::shared_ptr<TLMCoding>> out;
        out.reserve(root.size());
        for (const auto& e : root) {
            auto object = TLMKeyedUnarchiver::decodeRoot(e);
            if (!object) return std::nullopt;
            out.push_back(std::move(object));
        }
        return out;
    } catch (...) {
        return std::nullopt;
    }
}

// ---- text ----------------------------------------------------------------------------------

std::optional<std::string> TLMUtility::prettyPrintJson(const std::optional<std::string>& bytes) {
    if (!bytes) return std::nullopt;
    // nlohmann never writes "\/", so the text needs no slash clean-up afterwards.
    auto parsed = TLMJson::parse(*bytes, nullptr, false);
    if (!parsed.is_discarded()) {
        try {
            return parsed.dump(2, ' ', false, TLMJson::error_handler_t::replace);
        } catch (...) {
        }
    }
    return *bytes;
}

std::optional<std::string> TLMUtility::obfuscateString(const std::optional<std::string>& text,
                                                       const std::string& pattern, const std::string& replacement) {
    if (!text) return std::nullopt;
    try {
        std::regex re(pattern, std::regex::ECMAScript | std::regex::icase);
        return std::regex_replace(*text, re, replacement);
    } catch (const std::regex_error& e) {
        std::string what = e.what();
        TLMLogError(kTLMLogTag, "Couldn't create regular expression with pattern\"" + pattern + "\": " + what);
        return std::nullopt;
    }
}

double TLMUtility::nowInMilliseconds() {
    auto now = TLMClock::current()->now();
    return static_cast<double>(TLMDateToNanoseconds(now)) / 1e6;
}

std::string TLMUtility::dateToISO8601(TLMDate date) {
    using namespace std::chrono;
    auto ms = floor<milliseconds>(date.time_since_epoch()).count();
    auto secs = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    int millis = static_cast<int>(ms - secs * 1000);
    std::time_t t = static_cast<std::time_t>(secs);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis);
    return buf;
}

std::optional<TLMDate> TLMUtility::dateFromISO8601(std::string_view text) {
    if (text.size() != 24 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != '.' || text[23] != 'Z')
        return std::nullopt;
    auto num = [&](std::size_t at, std::size_t n) -> int {
        int v = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (text[i] < '0' || text[i] > '9') return -1;
            v = v * 10 + (text[i] - '0');
        }
        return v;
    };
    int y = num(0, 4), mo = num(5, 2), d = num(8, 2), h = num(11, 2), mi = num(14, 2), s = num(17, 2),
        ms = num(20, 3);
    if (y < 0 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 60 ||
        ms < 0)
        return std::nullopt;
    using namespace std::chrono;
    year_month_day ymd{year(y), month(static_cast<unsigned>(mo)), day(static_cast<unsigned>(d))};
    if (!ymd.ok()) return std::nullopt;
    auto tp = sys_days(ymd) + hours(h) + minutes(mi) + seconds(s) + milliseconds(ms);
    // A date counts nanoseconds from 1970 (about 1678 to 2261): text outside is no date.
    using Nanos = time_point<system_clock, nanoseconds>;
    if (tp < time_point_cast<milliseconds>(Nanos::min()) + seconds(1) ||
        tp > time_point_cast<milliseconds>(Nanos::max()) - seconds(1))
        return std::nullopt;
    return time_point_cast<nanoseconds>(tp);
}

std::size_t TLMUtility::utf16Length(std::string_view text) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < text.size();) {
        auto n = defaults::utf8SequenceLength(text, i);
        if (n == 0) n = 1;
        units += (n == 4) ? 2 : 1;
        i += n;
    }
    return units;
}

std::string TLMUtility::truncateToUtf16Length(std::string_view text, std::size_t limit) {
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        auto n = defaults::utf8SequenceLength(text, i);
        if (n == 0) n = 1;
        std::size_t u = (n == 4) ? 2 : 1;
        if (units + u > limit) break;
        units += u;
        i += n;
    }
    return std::string(text.substr(0, i));
}

std::string TLMUtility::uuidString() {
    unsigned char b[16];
    if (RAND_bytes(b, sizeof b) != 1) {
        thread_local std::mt19937_64 gen{std::random_device{}()};
        for (auto& x : b) x = static_cast<unsigned char>(gen());
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
    char out[37];
    std::snprintf(out, sizeof out, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0], b[1],
                  b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return out;
}

bool TLMUtility::isValidUuid(std::string_view text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') return false;
        } else if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

// ---- properties ----------------------------------------------------------------------------

std::map<std::string, std::string> TLMValidateProperties(const TLMJson& properties, const std::string& logName,
                                                         const std::string& logType) {
    std::map<std::string, std::string> valid;
    if (!properties.is_object()) return valid;
    for (auto it = properties.begin(); it != properties.end(); ++it) {
        if (!it.value().is_string()) continue;
        if (valid.size() >= kTLMMaxPropertiesPerLog) {
            TLMLogWarning(kTLMLogTag, logType + " '" + logName + "' : properties cannot contain more than " +
                                          std::to_string(kTLMMaxPropertiesPerLog) + " items. Skipping other properties.");
            break;
        }
        std::string key = it.key();
        if (key.empty()) {
            TLMLogWarning(kTLMLogTag, logType + " '" + logName + "' : a property key cannot be null or empty. Property will be skipped.");
            continue;
        }
        if (TLMUtility::utf16Length(key) > kTLMMaxPropertyKeyLength) {
            TLMLogWarning(kTLMLogTag, logType + " '" + logName + "' : property " + key + " : property key length cannot be longer than " +
                                          std::to_string(kTLMMaxPropertyKeyLength) + " characters. Property key will be truncated.");
            key = TLMUtility::truncateToUtf16Length(key, kTLMMaxPropertyKeyLength);
        }
        std::string value = it.value().get<std::string>();
        if (TLMUtility::utf16Length(value) > kTLMMaxPropertyValueLength) {
            TLMLogWarning(kTLMLogTag, logType + " '" + logName + "' : property '" + key + "' : property value cannot be longer than " +
                                          std::to_string(kTLMMaxPropertyValueLength) + " characters. Property value will be truncated.");
            value = TLMUtility::truncateToUtf16Length(value, kTLMMaxPropertyValueLength);
        }
        valid[key] = std::move(value);
    }
    return valid;
}
