#include "tellium/model/TLMAbstractLog.h"

#include <unordered_map>

#include "tellium/TLMLogger.h"
#include "tellium/util/TLMUtility.h"

// ---- target tokens -------------------------------------------------------------------------

std::shared_ptr<const TLMAbstractLog::TokenSet> TLMAbstractLog::transmissionTargetTokens() const {
    std::lock_guard lock(tokensMutex_);
    return tokens_;
}

void TLMAbstractLog::addTransmissionTargetToken(const std::string& token) {
    std::lock_guard lock(tokensMutex_);
    auto next = tokens_ ? std::make_shared<TokenSet>(*tokens_) : std::make_shared<TokenSet>();
    next->insert(token);
    tokens_ = std::move(next);
}

void TLMAbstractLog::setTransmissionTargetTokens(std::shared_ptr<const TokenSet> tokens) {
    std::lock_guard lock(tokensMutex_);
    tokens_ = std::move(tokens);
}

// ---- JSON ----------------------------------------------------------------------------------

TLMJson TLMAbstractLog::serializeToDictionary() const { return tlmfields::toJson(*this, fields()); }

bool TLMAbstractLog::deserializeFromDictionary(const TLMJson& json) { return tlmfields::fromJson(*this, json, fields()); }

bool TLMAbstractLog::appendJson(std::string& out) const {
    return tlmfields::appendJson(*this, out, fields());
}

std::optional<std::string> TLMAbstractLog::serializeLogWithPrettyPrinting(bool pretty) const {
    return tlmjson::dump(serializeToDictionary(), pretty);
}

// ---- validity and equality -----------------------------------------------------------------

void TLMAbstractLog::logInvalid(const std::string& className, const char* key) {
    TLMLogVerbose(kTLMLogTag, className + ": \"" + key + "\" is not valid.");
}

bool TLMAbstractLog::isValid() const {
    if (!type) {
        logInvalid(archiveClassName(), "type");
        return false;
    }
    if (!timestamp) {
        logInvalid(archiveClassName(), "timestamp");
        return false;
    }
    if (!device || !device->isValid()) {
        logInvalid(archiveClassName(), "device");
        return false;
    }
    return true;
}

bool TLMAbstractLog::isEqual(const TLMSerializableObject& other) const {
    auto o = dynamic_cast<const TLMAbstractLog*>(&other);
    return o && tag == o->tag && tlmfields::equal(*this, *o, fields());
}

// ---- archive -------------------------------------------------------------------------------

void TLMAbstractLog::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }

bool TLMAbstractLog::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }

// ---- factory by type -----------------------------------------------------------------------

namespace {
struct LogTypes {
    std::mutex mutex;
    std::unordered_map<std::string, TLMAbstractLog::Factory> factories{
        {TLMStartServiceLog::kType, [] { return std::make_shared<TLMStartServiceLog>(); }},
    };
};
LogTypes& logTypes() {
    static auto* types = new LogTypes;
    return *types;
}
}  // namespace

void TLMAbstractLog::registerLogType(const std::string& type, Factory factory) {
    auto& t = logTypes();
    std::lock_guard lock(t.mutex);
    t.factories[type] = std::move(factory);
}

std::shared_ptr<TLMAbstractLog> TLMAbstractLog::logFromDictionary(const TLMJson& json) {
    if (!json.is_object()) return nullptr;
    auto typeIt = json.find("type");
    if (typeIt == json.end() || !typeIt->is_string()) return nullptr;
    Factory factory;
    {
        auto& t = logTypes();
        std::lock_guard lock(t.mutex);
        auto it = t.factories.find(typeIt->get<std::string>());
        if (it == t.factories.end()) return nullptr;
        factory = it->second;
    }
    auto log = factory();
    if (!log || !log->deserializeFromDictionary(json)) return nullptr;
    return log;
}

// ---- log with properties -------------------------------------------------------------------

TLMJson TLMLogWithProperties::serializeToDictionary() const { return tlmfields::toJson(*this, fields()); }

bool TLMLogWithProperties::deserializeFromDictionary(const TLMJson& json) {
    return tlmfields::fromJson(*this, json, fields());
}

bool TLMLogWithProperties::isEqual(const TLMSerializableObject& other) const {
    auto o = dynamic_cast<const TLMLogWithProperties*>(&other);
    return o && tag == o->tag && tlmfields::equal(*this, *o, fields());
}

void TLMLogWithProperties::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }

bool TLMLogWithProperties::initWithCoder(const TLMKeyedUnarchiver& c) {
    return tlmfields::unarchive(*this, c, fields());
}

bool TLMLogWithProperties::appendJson(std::string& out) const {
    return tlmfields::appendJson(*this, out, fields());
}

// ---- start-service log ---------------------------------------------------------------------

TLMStartServiceLog::TLMStartServiceLog() { type = kType; }

TLMJson TLMStartServiceLog::serializeToDictionary() const { return tlmfields::toJson(*this, fields()); }

bool TLMStartServiceLog::deserializeFromDictionary(const TLMJson& json) {
    return tlmfields::fromJson(*this, json, fields());
}

bool TLMStartServiceLog::isEqual(const TLMSerializableObject& other) const {
    auto o = dynamic_cast<const TLMStartServiceLog*>(&other);
    return o && tag == o->tag && tlmfields::equal(*this, *o, fields());
}

void TLMStartServiceLog::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }

// Decoding does not run the constructor's work: the type comes from the archive.
bool TLMStartServiceLog::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }

bool TLMStartServiceLog::appendJson(std::string& out) const { return tlmfields::appendJson(*this, out, fields()); }

// ---- container -----------------------------------------------------------------------------

std::optional<std::string> TLMLogContainer::serializeLogWithPrettyPrinting(bool pretty) const {
    if (!pretty) {
        // Each log writes its own text (the same text as below, without building the objects).
        std::string text = "{\"logs\":[";
        text.reserve(1024 * logs.size() + 16);
        bool first = true;
        for (const auto& log : logs) {
            if (!log) continue;
            const std::size_t mark = text.size();
            if (!first) text += ',';
            if (log->appendJson(text)) first = false;
            else text.resize(mark);
        }
        text += "]}";
        return text;
    }
    TLMJson list = TLMJson::array();
    for (const auto& log : logs) {
        if (!log) continue;
        auto json = log->serializeToDictionary();
        if (!json.is_null()) list.push_back(std::move(json));
    }
    TLMJson body = TLMJson::object();
    body["logs"] = std::move(list);
    auto text = tlmjson::dump(body, pretty);
    if (!text) TLMLogError(kTLMLogTag, "Couldn't serialize log container to json: the writer failed");
    return text;
}

bool TLMLogContainer::isValid() const {
    if (logs.empty()) {
        TLMLogVerbose(kTLMLogTag, "TLMLogContainer: there are no logs in container.");
        return false;
    }
    for (const auto& log : logs) {
        if (!log || !log->isValid()) return false;
    }
    return true;
}
