#include "tellium/util/TLMUtility.h"

#include <re2/re2.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <map>
#include <memory>
#include <vector>

#include "platform/defaults/Utf8.h"
#include "platform/defaults/Uuid.h"
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
    std::string bytes;
    TLMKeyedArchiver::archiveRoot(object, bytes);
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

namespace {

// The masking patterns, compiled once each and shared by every thread (RE2 objects are safe to
// use concurrently). RE2 matches in time linear in the text and without recursion, so a megabyte
// token or ticket costs no stack. Bytes are matched as Latin-1, so text that is not UTF-8 is
// masked like any other; letters match without regard to case.
std::shared_ptr<const re2::RE2> compiledPattern(const std::string& pattern, std::string& why) {
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<const re2::RE2>> cache;
    std::lock_guard lock(mutex);
    if (auto found = cache.find(pattern); found != cache.end()) return found->second;
    re2::RE2::Options options;
    options.set_encoding(re2::RE2::Options::EncodingLatin1);
    options.set_case_sensitive(false);
    options.set_log_errors(false);
    auto compiled = std::make_shared<const re2::RE2>(pattern, options);
    if (!compiled->ok()) {
        why = compiled->error();
        return nullptr;
    }
    if (cache.size() >= 16) cache.clear();  // callers use a few fixed patterns; stay bounded anyway
    cache.emplace(pattern, compiled);
    return compiled;
}

// The replacement for one match: "$&" the match, "$n" / "$nn" a group, "$$" a dollar sign,
// anything else as it stands. `groups[0]` is the whole match; a group that took no part is empty.
void appendReplacement(std::string& out, const std::vector<std::string_view>& groups, const std::string& replacement) {
    const std::size_t count = groups.size() - 1;
    for (std::size_t i = 0; i < replacement.size(); ++i) {
        const char c = replacement[i];
        if (c != '$' || i + 1 >= replacement.size()) {
            out += c;
            continue;
        }
        const char n = replacement[i + 1];
        if (n == '$') {
            out += '$';
            ++i;
        } else if (n == '&') {
            out.append(groups[0]);
            ++i;
        } else if (std::isdigit(static_cast<unsigned char>(n)) && n != '0') {
            std::size_t number = static_cast<std::size_t>(n - '0');
            std::size_t used = 1;
            if (i + 2 < replacement.size() && std::isdigit(static_cast<unsigned char>(replacement[i + 2]))) {
                const std::size_t two = number * 10 + static_cast<std::size_t>(replacement[i + 2] - '0');
                if (two <= count) {
                    number = two;
                    used = 2;
                }
            }
            if (number <= count) {
                out.append(groups[number]);
                i += used;
            } else {
                out += c;
            }
        } else {
            out += c;
        }
    }
}

}  // namespace

std::optional<std::string> TLMUtility::obfuscateString(const std::optional<std::string>& text,
                                                       const std::string& pattern, const std::string& replacement) {
    if (!text) return std::nullopt;
    std::string why;
    const auto re = compiledPattern(pattern, why);
    if (!re) {
        TLMLogError(kTLMLogTag, "Couldn't create regular expression with pattern\"" + pattern + "\": " + why);
        return std::nullopt;
    }
    const re2::StringPiece in(*text);
    std::vector<re2::StringPiece> pieces(static_cast<std::size_t>(re->NumberOfCapturingGroups()) + 1);
    std::vector<std::string_view> groups(pieces.size());
    std::string out;
    out.reserve(in.size());
    std::size_t copied = 0;
    std::size_t from = 0;
    while (from <= in.size() &&
           re->Match(in, from, in.size(), re2::RE2::UNANCHORED, pieces.data(), static_cast<int>(pieces.size()))) {
        const std::size_t start = static_cast<std::size_t>(pieces[0].data() - in.data());
        const std::size_t end = start + pieces[0].size();
        for (std::size_t g = 0; g < pieces.size(); ++g) groups[g] = std::string_view(pieces[g].data(), pieces[g].size());
        out.append(in.data() + copied, start - copied);
        appendReplacement(out, groups, replacement);
        copied = end;
        // An empty match moves on by one byte, so the scan always ends.
        from = end > start ? end : end + 1;
    }
    if (copied < in.size()) out.append(in.data() + copied, in.size() - copied);
    return out;
}

double TLMUtility::nowInMilliseconds() {
    auto now = TLMClock::current()->now();
    return static_cast<double>(TLMDateToNanoseconds(now)) / 1e6;
}

std::string TLMUtility::dateToISO8601(TLMDate date) {
    using namespace std::chrono;
    // Every log's timestamp goes through here as a batch is written: digits by hand for the years
    // of four digits, the C library for the rest.
    const auto whole = floor<milliseconds>(date);
    const auto day = floor<days>(whole);
    const year_month_day ymd{day};
    if (const int year = static_cast<int>(ymd.year()); year >= 0 && year <= 9999) {
        long long rest = (whole - day).count();  // milliseconds since midnight
        const int millis = static_cast<int>(rest % 1000);
        rest /= 1000;
        const int seconds = static_cast<int>(rest % 60);
        rest /= 60;
        const int minutes = static_cast<int>(rest % 60);
        const int hours = static_cast<int>(rest / 60);
        std::string out = "0000-00-00T00:00:00.000Z";
        auto put = [&out](std::size_t at, int value, int digits) {
            for (int i = digits - 1; i >= 0; --i, value /= 10) out[at + static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
        };
        put(0, year, 4);
        put(5, static_cast<int>(static_cast<unsigned>(ymd.month())), 2);
        put(8, static_cast<int>(static_cast<unsigned>(ymd.day())), 2);
        put(11, hours, 2);
        put(14, minutes, 2);
        put(17, seconds, 2);
        put(20, millis, 3);
        return out;
    }
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

std::string TLMUtility::uuidString() { return defaults::uuidString(); }

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
