#include "tellium_analytics/TLMEventLog.h"

#include <mutex>

#include "tellium/model/commonschema/TLMCommonSchemaLog.h"
#include "tellium/util/TLMUtility.h"

namespace {
// The Common Schema metadata type codes of the typed properties that need one.
std::optional<int> metadataType(const TLMTypedProperty& p) {
    if (dynamic_cast<const TLMLongTypedProperty*>(&p)) return 4;
    if (dynamic_cast<const TLMDoubleTypedProperty*>(&p)) return 6;
    if (dynamic_cast<const TLMDateTimeTypedProperty*>(&p)) return 9;
    return std::nullopt;
}
}  // namespace

TLMEventLog::TLMEventLog() { type = kType; }

void TLMEventLog::registerClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        TLMRegisterCoreArchiveClasses();
        TLMAbstractLog::registerLogType(kType, [] { return std::make_shared<TLMEventLog>(); });
        TLMArchiveRegistry::registerClass("TLMEventLog", [] { return std::make_shared<TLMEventLog>(); });
    });
}

TLMJson TLMEventLog::serializeToDictionary() const { return tlmfields::toJson(*this, fields()); }

bool TLMEventLog::deserializeFromDictionary(const TLMJson& json) { return tlmfields::fromJson(*this, json, fields()); }

bool TLMEventLog::appendJson(std::string& out) const { return tlmfields::appendJson(*this, out, fields()); }

bool TLMEventLog::isValid() const {
    if (!TLMAbstractLog::isValid()) return false;
    if (!eventId) {
        logInvalid(archiveClassName(), "id");
        return false;
    }
    if (!name) {
        logInvalid(archiveClassName(), "name");
        return false;
    }
    return true;
}

bool TLMEventLog::isEqual(const TLMSerializableObject& other) const {
    auto o = dynamic_cast<const TLMEventLog*>(&other);
    return o && tag == o->tag && tlmfields::equal(*this, *o, fields());
}

void TLMEventLog::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }

// Decoding does not run the constructor's work: the type comes from the archive.
bool TLMEventLog::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }

std::shared_ptr<TLMCommonSchemaLog> TLMEventLog::toCommonSchemaLogForTargetToken(const std::string& token,
                                                                                int64_t flags) const {
    auto csLog = TLMAbstractLog::toCommonSchemaLogForTargetToken(token, flags);
    if (!csLog) return nullptr;
    csLog->name = name;
    setPropertiesAndMetadataForCSLog(*csLog);
    csLog->tag = tag;
    return csLog;
}

void TLMEventLog::setPropertiesAndMetadataForCSLog(TLMCommonSchemaLog& csLog) const {
    if (!typedProperties || typedProperties->isEmpty()) return;
    TLMJson data = TLMJson::object();
    TLMJson types = TLMJson::object();
    for (const auto& p : typedProperties->properties()) {
        const TLMJson json = p->serializeToDictionary();
        auto value = json.find("value");
        if (!p->name || value == json.end()) continue;
        data[*p->name] = *value;
        if (auto code = metadataType(*p)) types[*p->name] = *code;
    }
    if (!csLog.data) csLog.data = std::make_shared<TLMCSData>();
    csLog.data->properties = std::move(data);
    if (!types.empty()) {
        if (!csLog.ext) csLog.ext = std::make_shared<TLMCSExtensions>();
        auto metadata = std::make_shared<TLMMetadataExtension>();
        TLMJson f = TLMJson::object();
        f["f"] = std::move(types);
        metadata->metadata = std::move(f);
        csLog.ext->metadataExt = metadata;
    }
}
