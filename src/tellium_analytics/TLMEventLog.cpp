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

TLMJson TLMEventLog::serializeToDictionary() const {
    TLMJson json = TLMAbstractLog::serializeToDictionary();
    if (eventId) json["id"] = *eventId;
    if (name) json["name"] = *name;
    if (typedProperties && !typedProperties->isEmpty()) json["typedProperties"] = typedProperties->serializeToArray();
    return json;
}

bool TLMEventLog::deserializeFromDictionary(const TLMJson& json) {
    if (!TLMAbstractLog::deserializeFromDictionary(json)) return false;
    bool ok = true;
    eventId = tlmjson::string(json, "id", ok);
    name = tlmjson::string(json, "name", ok);
    typedProperties.reset();
    if (auto list = tlmjson::array(json, "typedProperties", ok)) {
        std::vector<std::shared_ptr<TLMTypedProperty>> properties;
        for (const auto& entry : *list) {
            auto p = TLMTypedProperty::propertyFromDictionary(entry);
            if (!p) return false;
            properties.push_back(std::move(p));
        }
        typedProperties = TLMEventProperties::fromProperties(properties);
    }
    return ok;
}

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
    if (!o || !TLMAbstractLog::isEqual(other) || !TLMOptionalEqual(eventId, o->eventId) ||
        !TLMOptionalEqual(name, o->name)) {
        return false;
    }
    const TLMJson mine = typedProperties ? typedProperties->serializeToArray() : TLMJson::array();
    const TLMJson theirs = o->typedProperties ? o->typedProperties->serializeToArray() : TLMJson::array();
    return mine == theirs;
}

void TLMEventLog::encodeWithCoder(TLMKeyedArchiver& c) const {
    TLMAbstractLog::encodeWithCoder(c);
    c.encodeString("id", eventId);
    c.encodeString("name", name);
    if (typedProperties && !typedProperties->isEmpty()) {
        std::vector<std::shared_ptr<TLMCoding>> list;
        for (const auto& p : typedProperties->properties()) list.push_back(p);
        c.encodeObjects("typedProperties", list);
    }
}

bool TLMEventLog::initWithCoder(const TLMKeyedUnarchiver& c) {
    type.reset();
    if (!TLMAbstractLog::initWithCoder(c)) return false;
    eventId = c.decodeString("id");
    name = c.decodeString("name");
    typedProperties.reset();
    if (auto list = c.decodeObjects("typedProperties")) {
        std::vector<std::shared_ptr<TLMTypedProperty>> properties;
        for (const auto& object : *list) {
            if (auto p = std::dynamic_pointer_cast<TLMTypedProperty>(object)) properties.push_back(std::move(p));
        }
        typedProperties = TLMEventProperties::fromProperties(properties);
    }
    return !c.failed();
}

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
