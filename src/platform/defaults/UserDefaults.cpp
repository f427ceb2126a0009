#include "platform/defaults/UserDefaults.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "platform/defaults/AtomicFile.h"
#include "platform/defaults/Base64.h"

namespace defaults {

using json = nlohmann::ordered_json;

namespace {

json toJson(const Value& value);

json dictToJson(const Dictionary& d) {
    json obj = json::object();
    for (const auto& [k, v] : d) obj[k] = toJson(v);
    // A dictionary whose only key looks like one of our tags is wrapped so it reads back as itself.
    if (d.size() == 1 && (d.count("$date") || d.count("$data") || d.count("$dict"))) {
        return json{{"$dict", obj}};
    }
    return obj;
}

json toJson(const Value& value) {
    return std::visit(
        [](const auto& v) -> json {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, Date>) return json{{"$date", v.sinceReferenceDate}};
            else if constexpr (std::is_same_v<T, Data>) return json{{"$data", base64Encode(v.bytes)}};
            else if constexpr (std::is_same_v<T, List>) {
                json arr = json::array();
                for (const auto& e : v) arr.push_back(toJson(e));
                return arr;
            } else if constexpr (std::is_same_v<T, Dictionary>) return dictToJson(v);
            else if constexpr (std::is_same_v<T, double>) return std::isfinite(v) ? json(v) : json(0.0);
            else return json(v);
        },
        value.storage());
}

std::optional<Value> fromJson(const json& j) {
    switch (j.type()) {
        case json::value_t::string: return Value(j.get<std::string>());
        case json::value_t::boolean: return Value(j.get<bool>());
        case json::value_t::number_integer: return Value(j.get<int64_t>());
        case json::value_t::number_unsigned: return Value(static_cast<int64_t>(j.get<uint64_t>()));
        case json::value_t::number_float: return Value(j.get<double>());
        case json::value_t::array: {
            List list;
            for (const auto& e : j) {
                auto v = fromJson(e);
                if (!v) return std::nullopt;
                list.push_back(std::move(*v));
            }
            return Value(std::move(list));
        }
        case json::value_t::object: {
            if (j.size() == 1) {
                auto it = j.begin();
                if (it.key() == "$date" && it.value().is_number()) return Value(Date{it.value().get<double>()});
                if (it.key() == "$data" && it.value().is_string()) {
                    auto bytes = base64Decode(it.value().get<std::string>());
                    if (!bytes) return std::nullopt;
                    return Value(Data{std::move(*bytes)});
                }
                if (it.key() == "$dict" && it.value().is_object()) {
                    Dictionary d;
                    for (auto e = it.value().begin(); e != it.value().end(); ++e) {
                        auto v = fromJson(e.value());
                        if (!v) return std::nullopt;
                        d.emplace(e.key(), std::move(*v));
                    }
                    return Value(std::move(d));
                }
            }
            Dictionary d;
            for (auto it = j.begin(); it != j.end(); ++it) {
                auto v = fromJson(it.value());
                if (!v) return std::nullopt;
                d.emplace(it.key(), std::move(*v));
            }
            return Value(std::move(d));
        }
        default: return std::nullopt;
    }
}

std::optional<int64_t> leadingInteger(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    size_t start = i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t digits = i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
    if (i == digits) return std::nullopt;
    errno = 0;
    long long v = std::strtoll(s.c_str() + start, nullptr, 10);
    if (errno == ERANGE) return std::nullopt;
    return static_cast<int64_t>(v);
}

std::string numberText(double d) {
    if (std::floor(d) == d && std::fabs(d) < 1e15) return std::to_string(static_cast<int64_t>(d));
    json j = d;
    return j.dump();
}

}  // namespace

std::string encodeValuesToJson(const Dictionary& values) { return dictToJson(values).dump(2) + "\n"; }

std::optional<Dictionary> decodeValuesFromJson(const std::string& text) {
    json j = json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return std::nullopt;
    auto v = fromJson(j);
    if (!v || !v->is<Dictionary>()) return std::nullopt;
    return *v->get<Dictionary>();
}

// ---- the store -----------------------------------------------------------------------------

namespace {
std::mutex g_standardMutex;
std::unique_ptr<UserDefaults> g_standard;
}  // namespace

std::filesystem::path UserDefaults::standardFilePath() {
    std::filesystem::path base;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) base = x;
    else if (const char* h = std::getenv("HOME"); h && *h) base = std::filesystem::path(h) / ".config";
    else base = std::filesystem::temp_directory_path();
    return base / "DravixFTPClient" / "defaults.json";
}

UserDefaults& UserDefaults::standard() {
    std::lock_guard lock(g_standardMutex);
    if (!g_standard) g_standard = std::make_unique<UserDefaults>(standardFilePath());
    return *g_standard;
}

void UserDefaults::resetStandardForTesting() {
    std::lock_guard lock(g_standardMutex);
    g_standard.reset();
}

UserDefaults::UserDefaults(std::filesystem::path file) : file_(std::move(file)) {
    load();
    // A local write: quick, so the deadline is not needed.
    exitDrain_ = std::make_unique<dispatch::ExitDrain>("settings " + file_.string(),
                                                       [this](dispatch::Clock::time_point) { return flush(); });
}

UserDefaults::~UserDefaults() {
    exitDrain_.reset();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (writer_.joinable()) writer_.join();
    flush();
}

void UserDefaults::load() {
    auto text = readWholeFile(file_);
    if (!text || text->empty()) return;
    auto decoded = decodeValuesFromJson(*text);
    if (!decoded) {
        // Never overwrite what we could not read: keep a copy for the user before starting empty.
        keepAside(file_);
        return;
    }
    values_ = std::move(*decoded);
}

std::optional<Value> UserDefaults::lookup(const std::string& key) const {
    if (auto it = values_.find(key); it != values_.end()) return it->second;
    if (auto it = registered_.find(key); it != registered_.end()) return it->second;
    return std::nullopt;
}

std::optional<Value> UserDefaults::objectForKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    return lookup(key);
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
    auto v = objectForKey(key);
    if (!v) return std::nullopt;
    if (auto s = v->get<std::string>()) return *s;
    if (auto i = v->get<int64_t>()) return std::to_string(*i);
    if (auto d = v->get<double>()) return numberText(*d);
    if (auto b = v->get<bool>()) return std::string(*b ? "1" : "0");
    return std::nullopt;
}

int64_t UserDefaults::integerForKey(const std::string& key) const {
    auto v = objectForKey(key);
    if (!v) return 0;
    if (auto i = v->get<int64_t>()) return *i;
    if (auto d = v->get<double>()) return std::isfinite(*d) ? static_cast<int64_t>(*d) : 0;
    if (auto b = v->get<bool>()) return *b ? 1 : 0;
    if (auto s = v->get<std::string>()) return leadingInteger(*s).value_or(0);
    return 0;
}

double UserDefaults::doubleForKey(const std::string& key) const {
    auto v = objectForKey(key);
    if (!v) return 0;
    if (auto i = v->get<int64_t>()) return static_cast<double>(*i);
    if (auto d = v->get<double>()) return *d;
    if (auto b = v->get<bool>()) return *b ? 1 : 0;
    if (auto s = v->get<std::string>()) return std::strtod(s->c_str(), nullptr);
    return 0;
}

bool UserDefaults::boolForKey(const std::string& key) const {
    auto v = objectForKey(key);
    if (!v) return false;
    if (auto b = v->get<bool>()) return *b;
    if (auto i = v->get<int64_t>()) return *i != 0;
    if (auto d = v->get<double>()) return *d != 0;
    if (auto s = v->get<std::string>()) {
        if (*s == "YES" || *s == "yes" || *s == "true" || *s == "TRUE" || *s == "Y" || *s == "y") return true;
        return leadingInteger(*s).value_or(0) != 0;
    }
    return false;
}

std::optional<Date> UserDefaults::dateForKey(const std::string& key) const {
    auto v = objectForKey(key);
    if (v && v->is<Date>()) return *v->get<Date>();
    return std::nullopt;
}

std::optional<Data> UserDefaults::dataForKey(const std::string& key) const {
    auto v = objectForKey(key);
    if (!v) return std::nullopt;
    if (auto d = v->get<Data>()) return *d;
    if (auto s = v->get<std::string>()) return Data{*s};
    return std::nullopt;
}

std::optional<List> UserDefaults::arrayForKey(const std::string& key) const {
    auto v = objectForKey(key);
    if (v && v->is<List>()) return *v->get<List>();
    return std::nullopt;
}

std::optional<Dictionary> UserDefaults::dictionaryForKey(const std::string& key) const {
    auto v = objectForKey(key);
    if (v && v->is<Dictionary>()) return *v->get<Dictionary>();
    return std::nullopt;
}

Dictionary UserDefaults::dictionaryRepresentation() const {
    std::lock_guard lock(mutex_);
    return values_;
}

void UserDefaults::setObject(const std::string& key, std::optional<Value> value) {
    {
        std::lock_guard lock(mutex_);
        if (value) values_[key] = *value;
        else values_.erase(key);
        pending_[key] = std::move(value);
        ++changeCount_;
        if (!writer_.joinable() && !stopping_) writer_ = std::thread([this] { writerLoop(); });
    }
    wake_.notify_all();
}

void UserDefaults::registerDefaults(const Dictionary& values) {
    std::lock_guard lock(mutex_);
    for (const auto& [k, v] : values) registered_[k] = v;
}

void UserDefaults::writerLoop() {
    // Changes arriving within this time of each other share one write.
    constexpr auto kGather = std::chrono::milliseconds(100);
    uint64_t attempted = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
        // After a failed write, wait for a new change rather than retrying in a loop.
        wake_.wait(lock, [&] { return stopping_ || (!pending_.empty() && changeCount_ != attempted); });
        if (stopping_) return;
        wake_.wait_for(lock, kGather, [&] { return stopping_; });
        if (stopping_) return;  // the destructor writes what is left
        attempted = changeCount_;
        lock.unlock();
        flush();
        lock.lock();
    }
}

bool UserDefaults::flush() {
    std::lock_guard writing(writeMutex_);
    Changes changes;
    Dictionary mine;
    {
        std::lock_guard lock(mutex_);
        if (pending_.empty()) return !lastError_;
        changes.swap(pending_);
        mine = values_;
    }

    // Start from what the file holds now: another instance may have written since we read it.
    Dictionary merged;
    if (auto text = readWholeFile(file_); text && !text->empty()) {
        if (auto decoded = decodeValuesFromJson(*text)) {
            merged = std::move(*decoded);
        } else {
            keepAside(file_);
            merged = std::move(mine);
        }
    }
    for (const auto& [key, value] : changes) {
        if (value) merged[key] = *value;
        else merged.erase(key);
    }

    std::optional<std::string> error = createPrivateDirectories(file_.parent_path());
    if (!error) error = writeFileAtomically(file_, encodeValuesToJson(merged));

    std::lock_guard lock(mutex_);
    lastError_ = error;
    if (error) {
        // Keep the changes for the next write, unless a newer change of the same key came meanwhile.
        for (auto& [key, value] : changes) pending_.emplace(key, std::move(value));
        return false;
    }
    // The other instance's keys become ours; changes made during the write stay on top.
    for (const auto& [key, value] : pending_) {
        if (value) merged[key] = *value;
        else merged.erase(key);
    }
    values_ = std::move(merged);
    return true;
}

std::optional<std::string> UserDefaults::lastWriteError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

}  // namespace defaults
