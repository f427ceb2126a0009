#include "tellium/model/commonschema/TLMCSExtensions.h"

#include <cctype>

#include "tellium/TLMLogger.h"
#include "tellium/util/TLMOrderedDictionary.h"

namespace {

void put(TLMJson& json, const char* key, const std::optional<std::string>& v) {
    if (v) json[key] = *v;
}
TLMJson orNull(TLMJson json) { return json.empty() ? TLMJson() : json; }

template <class T>
const T* same(const TLMSerializableObject& other) {
    return dynamic_cast<const T*>(&other);
}

std::optional<std::vector<std::string>> stringArray(const TLMJson& json, const char* key, bool& ok) {
    auto a = tlmjson::array(json, key, ok);
    if (!a) return std::nullopt;
    std::vector<std::string> out;
    for (const auto& e : *a) {
        if (!e.is_string()) {
            ok = false;
            return std::nullopt;
        }
        out.push_back(e.get<std::string>());
    }
    return out;
}

bool sameUuid(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    if (!a || !b) return !a && !b;
    if (a->size() != b->size()) return false;
    for (std::size_t i = 0; i < a->size(); ++i) {
        if (std::toupper(static_cast<unsigned char>((*a)[i])) != std::toupper(static_cast<unsigned char>((*b)[i])))
            return false;
    }
    return true;
}

std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

// ---- metadata ------------------------------------------------------------------------------

TLMJson TLMMetadataExtension::serializeToDictionary() const {
    const auto metadata = this->metadata.snapshot();  // one whole value, whoever replaces it now
    if (!metadata || !metadata->is_object()) return TLMJson();
    return *metadata;
}
bool TLMMetadataExtension::deserializeFromDictionary(const TLMJson& json) {
    if (!json.is_object()) return false;
    metadata = json;
    return true;
}
bool TLMMetadataExtension::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMMetadataExtension>(other);
    return o && TLMOptionalEqual(metadata.load(), o->metadata.load());
}
void TLMMetadataExtension::encodeWithCoder(TLMKeyedArchiver& c) const { c.encodeJson("metadata", metadata.load()); }
bool TLMMetadataExtension::initWithCoder(const TLMKeyedUnarchiver& c) {
    metadata = c.decodeJson("metadata");
    return !c.failed();
}

// ---- protocol ------------------------------------------------------------------------------

TLMJson TLMProtocolExtension::serializeToDictionary() const {
    TLMJson json = TLMJson::object();
    if (ticketKeys) json["ticketKeys"] = *ticketKeys;
    put(json, "devMake", devMake);
    put(json, "devModel", devModel);
    return orNull(std::move(json));
}
bool TLMProtocolExtension::deserializeFromDictionary(const TLMJson& json) {
    if (!json.is_object()) return false;
    bool ok = true;
    ticketKeys = stringArray(json, "ticketKeys", ok);
    devMake = tlmjson::string(json, "devMake", ok);
    devModel = tlmjson::string(json, "devModel", ok);
    return ok;
}
bool TLMProtocolExtension::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMProtocolExtension>(other);
    return o && TLMOptionalEqual(ticketKeys, o->ticketKeys) && TLMOptionalEqual(devMake, o->devMake) &&
           TLMOptionalEqual(devModel, o->devModel);
}
void TLMProtocolExtension::encodeWithCoder(TLMKeyedArchiver& c) const {
    c.encodeStrings("ticketKeys", ticketKeys);
    c.encodeString("devMake", devMake);
    c.encodeString("devModel", devModel);
}
bool TLMProtocolExtension::initWithCoder(const TLMKeyedUnarchiver& c) {
    ticketKeys = c.decodeStrings("ticketKeys");
    devMake = c.decodeString("devMake");
    devModel = c.decodeString("devModel");
    return !c.failed();
}

// ---- user ----------------------------------------------------------------------------------

TLMJson TLMUserExtension::serializeToDictionary() const {
    TLMJson json = TLMJson::object();
    put(json, "localId", localId);
    put(json, "locale", locale);
    return orNull(std::move(json));
}
bool TLMUserExtension::deserializeFromDictionary(const TLMJson& json) {
    if (!json.is_object()) return false;
    bool ok = true;
    localId = tlmjson::string(json, "localId", ok);
    locale = tlmjson::string(json, "locale", ok);
    return ok;
}
bool TLMUserExtension::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMUserExtension>(other);
    return o && TLMOptionalEqual(localId, o->localId) && TLMOptionalEqual(locale, o->locale);
}
void TLMUserExtension::encodeWithCoder(TLMKeyedArchiver& c) const {
    c.encodeString("localId", localId);
    c.encodeString("locale", locale);
}
bool TLMUserExtension::initWithCoder(const TLMKeyedUnarchiver& c) {
    localId = c.decodeString("localId");
    locale = c.decodeString("locale");
    return !c.failed();
}

// ---- device --------------------------------------------------------------------------------

TLMJson TLMDeviceExtension::serializeToDictionary() const {
    TLMJson json = TLMJson::object();
    put(json, "localId", localId);
    return orNull(std::move(json));
}
bool TLMDeviceExtension::deserializeFromDictionary(const TLMJson& json) {
    if (!json.is_object()) return false;
    bool ok = true;
    localId = tlmjson::string(json, "localId", ok);
    return ok;
}
bool TLMDeviceExtension::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMDeviceExtension>(other);
    return o && TLMOptionalEqual(localId, o->localId);
}
void TLMDeviceExtension::encodeWithCoder(TLMKeyedArchiver& c) const { c.encodeString("localId", localId); }
bool TLMDeviceExtension::initWithCoder(const TLMKeyedUnarchiver& c) {
    localId = c.decodeString("localId");
    return !c.failed();
}

// ---- os ------------------------------------------------------------------------------------

TLMJson TLMOSExtension::serializeToDictionary() const {
    TLMJson json = TLMJson::object();
    put(json, "ver", ver);
    put(json, "name", name);
    return orNull(std::move(json));
}
bool TLMOSExtension::deserializeFromDictionary(const TLMJson& json) {
    if (!json.is_object()) return false;
    bool ok = true;
    ver = tlmjson::string(json, "ver", ok);
    name = tlmjson::string(json, "name", ok);
    return ok;
}
bool TLMOSExtension::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMOSExtension>(other);
    return o && TLMOptionalEqual(name, o->name) && TLMOptionalEqual(ver, o->ver);
}
void TLMOSExtension::encodeWithCoder(TLMKeyedArchiver& c) const {
    c.encodeString("ver", ver);
    c.encodeString("name", name);
}
bool TLMOSExtension::initWithCoder(const TLMKeyedUnarchiver& c) {
    ver = c.decodeString("ver");
    name = c.decodeString("name");
    return !c.failed();
}

// ---- app -----------------------------------------------------------------------------------

TLMJson TLMAppExtension::serializeToDictionary() const {
    TLMJson json = TLMJson::object();
    put(json, "id", appId);
    put(json, "ver", ver);
    put(json, "name", name);
    put(json, "locale", locale);
    put(json, "userId", userId);
    return orNull(std::move(json));
}
bool TLMAppExtension::deserializeFromDictionary(const TLMJson& json) {
    if (!json.is_object()) return false;
    bool ok = true;
    appId = tlmjson::string(json, "id", ok);
    ver = tlmjson::string(json, "ver", ok);
    name = tlmjson::string(json, "name", ok);
    locale = tlmjson::string(json, "locale", ok);
    userId = tlmjson::string(json, "userId", ok);
    return ok;
}
bool TLMAppExtension::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMAppExtension>(other);
    return o && TLMOptionalEqual(appId, o->appId) && TLMOptionalEqual(ver, o->ver) && TLMOptionalEqual(name, o->name) &&
           TLMOptionalEqual(locale, o->locale) && TLMOptionalEqual(userId, o->userId);
}
void TLMAppExtension::encodeWithCoder(TLMKeyedArchiver& c) const {
    c.encodeString("id", appId);
    c.encodeString("ver", ver);
    c.encodeString("name", name);
    c.encodeString("locale", locale);
    c.encodeString("userId", userId);
}
bool TLMAppExtension::initWithCoder(const TLMKeyedUnarchiver& c) {
    appId = c.decodeString("id");
    ver = c.decodeString("ver");
    name = c.decodeString("name");
    locale = c.decodeString("locale");
    userId = c.decodeString("userId");
    return !c.failed();
}

// ---- net -----------------------------------------------------------------------------------

TLMJson TLMNetExtension::serializeToDictionary() const {
    TLMJson json = TLMJson::object();
    put(json, "provider", provider);
    return orNull(std::move(json));
}
bool TLMNetExtension::deserializeFromDictionary(const TLMJson& json) {
    if (!json.is_object()) return false;
    bool ok = true;
    provider = tlmjson::string(json, "provider", ok);
    return ok;
}
bool TLMNetExtension::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMNetExtension>(other);
    return o && TLMOptionalEqual(provider, o->provider);
}
void TLMNetExtension::encodeWithCoder(TLMKeyedArchiver& c) const { c.encodeString("provider", provider); }
bool TLMNetExtension::initWithCoder(const TLMKeyedUnarchiver& c) {
    provider = c.decodeString("provider");
    return !c.failed();
}

// ---- sdk -----------------------------------------------------------------------------------

TLMJson TLMSDKExtension::serializeToDictionary() const {
    TLMJson json = TLMJson::object();
    put(json, "libVer", libVer);
    put(json, "epoch", epoch);
    if (installId) json["installId"] = upper(*installId);
    if (seq != 0) json["seq"] = seq;
    return orNull(std::move(json));
}
bool TLMSDKExtension::deserializeFromDictionary(const TLMJson& json) {
    if (!json.is_object()) return false;
    bool ok = true;
    libVer = tlmjson::string(json, "libVer", ok);
    epoch = tlmjson::string(json, "epoch", ok);
    installId = tlmjson::string(json, "installId", ok);
    seq = tlmjson::integer(json, "seq", ok).value_or(0);
    return ok;
}
bool TLMSDKExtension::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMSDKExtension>(other);
    return o && TLMOptionalEqual(libVer, o->libVer) && TLMOptionalEqual(epoch, o->epoch) && seq == o->seq &&
           sameUuid(installId, o->installId);
}
void TLMSDKExtension::encodeWithCoder(TLMKeyedArchiver& c) const {
    c.encodeString("libVer", libVer);
    c.encodeString("epoch", epoch);
    c.encodeInt64("seq", seq);
    c.encodeString("installId", installId);
}
bool TLMSDKExtension::initWithCoder(const TLMKeyedUnarchiver& c) {
    libVer = c.decodeString("libVer");
    epoch = c.decodeString("epoch");
    seq = c.decodeInt64("seq");
    installId = c.decodeString("installId");
    return !c.failed();
}

// ---- loc -----------------------------------------------------------------------------------

TLMJson TLMLocExtension::serializeToDictionary() const {
    TLMJson json = TLMJson::object();
    put(json, "tz", tz);
    return orNull(std::move(json));
}
bool TLMLocExtension::deserializeFromDictionary(const TLMJson& json) {
    if (!json.is_object()) return false;
    bool ok = true;
    tz = tlmjson::string(json, "tz", ok);
    return ok;
}
bool TLMLocExtension::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMLocExtension>(other);
    return o && TLMOptionalEqual(tz, o->tz);
}
void TLMLocExtension::encodeWithCoder(TLMKeyedArchiver& c) const { c.encodeString("tz", tz); }
bool TLMLocExtension::initWithCoder(const TLMKeyedUnarchiver& c) {
    tz = c.decodeString("tz");
    return !c.failed();
}

// ---- data ----------------------------------------------------------------------------------

TLMJson TLMCSData::serializeToDictionary() const {
    const auto properties = this->properties.snapshot();  // one whole value, whoever replaces it now
    if (!properties || !properties->is_object()) return TLMJson();
    TLMOrderedDictionary out;
    if (auto it = properties->find("baseType"); it != properties->end()) out.setObject(*it, "baseType");
    if (auto it = properties->find("baseData"); it != properties->end()) out.setObject(*it, "baseData");
    for (auto it = properties->begin(); it != properties->end(); ++it) {
        if (!out.objectForKey(it.key())) out.setObject(it.value(), it.key());
    }
    return out.toJson();
}
bool TLMCSData::deserializeFromDictionary(const TLMJson& json) {
    if (!json.is_object()) return false;
    properties = json;
    return true;
}
bool TLMCSData::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMCSData>(other);
    return o && TLMOptionalEqual(properties.load(), o->properties.load());
}
void TLMCSData::encodeWithCoder(TLMKeyedArchiver& c) const { c.encodeJson("properties", properties.load()); }
bool TLMCSData::initWithCoder(const TLMKeyedUnarchiver& c) {
    properties = c.decodeJson("properties");
    return !c.failed();
}

// ---- extensions ----------------------------------------------------------------------------

namespace {
template <class T>
void putRecord(TLMJson& json, const char* key, const std::shared_ptr<T>& record) {
    if (!record) return;
    auto value = record->serializeToDictionary();
    if (!value.is_null()) json[key] = std::move(value);
}
template <class T>
bool readRecord(const TLMJson& json, const char* key, std::shared_ptr<T>& record) {
    bool ok = true;
    record.reset();
    if (auto v = tlmjson::object(json, key, ok)) {
        record = std::make_shared<T>();
        if (!record->deserializeFromDictionary(*v)) return false;
    }
    return ok;
}
}  // namespace

TLMJson TLMCSExtensions::serializeToDictionary() const {
    TLMJson json = TLMJson::object();
    putRecord(json, "metadata", metadataExt);
    putRecord(json, "protocol", protocolExt);
    putRecord(json, "user", userExt);
    putRecord(json, "device", deviceExt);
    putRecord(json, "os", osExt);
    putRecord(json, "app", appExt);
    putRecord(json, "net", netExt);
    putRecord(json, "sdk", sdkExt);
    putRecord(json, "loc", locExt);
    return json;
}

bool TLMCSExtensions::deserializeFromDictionary(const TLMJson& json) {
    if (!json.is_object()) return false;
    return readRecord(json, "metadata", metadataExt) && readRecord(json, "protocol", protocolExt) &&
           readRecord(json, "user", userExt) && readRecord(json, "device", deviceExt) &&
           readRecord(json, "os", osExt) && readRecord(json, "app", appExt) && readRecord(json, "net", netExt) &&
           readRecord(json, "sdk", sdkExt) && readRecord(json, "loc", locExt);
}

bool TLMCSExtensions::isValid() const {
    const std::pair<const char*, const TLMModel*> records[] = {
        {"metadataExt", metadataExt.get()}, {"protocolExt", protocolExt.get()}, {"userExt", userExt.get()},
        {"deviceExt", deviceExt.get()},     {"osExt", osExt.get()},             {"appExt", appExt.get()},
        {"netExt", netExt.get()},           {"sdkExt", sdkExt.get()},           {"locExt", locExt.get()},
    };
    for (const auto& [name, record] : records) {
        if (record && !record->isValid()) {
            TLMLogVerbose(kTLMLogTag, std::string("TLMCSExtensions: \"") + name + "\" is not valid.");
            return false;
        }
    }
    return true;
}

bool TLMCSExtensions::isEqual(const TLMSerializableObject& other) const {
    auto o = same<TLMCSExtensions>(other);
    return o && TLMObjectEqual(metadataExt, o->metadataExt) && TLMObjectEqual(protocolExt, o->protocolExt) &&
           TLMObjectEqual(userExt, o->userExt) && TLMObjectEqual(deviceExt, o->deviceExt) &&
           TLMObjectEqual(osExt, o->osExt) && TLMObjectEqual(appExt, o->appExt) && TLMObjectEqual(netExt, o->netExt) &&
           TLMObjectEqual(sdkExt, o->sdkExt) && TLMObjectEqual(locExt, o->locExt);
}

void TLMCSExtensions::encodeWithCoder(TLMKeyedArchiver& c) const {
    c.encodeObject("metadata", metadataExt);
    c.encodeObject("protocol", protocolExt);
    c.encodeObject("user", userExt);
    c.encodeObject("device", deviceExt);
    c.encodeObject("os", osExt);
    c.encodeObject("app", appExt);
    c.encodeObject("net", netExt);
    c.encodeObject("sdk", sdkExt);
    c.encodeObject("loc", locExt);
}

bool TLMCSExtensions::initWithCoder(const TLMKeyedUnarchiver& c) {
    metadataExt = c.decodeObjectOfClass<TLMMetadataExtension>("metadata");
    protocolExt = c.decodeObjectOfClass<TLMProtocolExtension>("protocol");
    userExt = c.decodeObjectOfClass<TLMUserExtension>("user");
    deviceExt = c.decodeObjectOfClass<TLMDeviceExtension>("device");
    osExt = c.decodeObjectOfClass<TLMOSExtension>("os");
    appExt = c.decodeObjectOfClass<TLMAppExtension>("app");
    netExt = c.decodeObjectOfClass<TLMNetExtension>("net");
    sdkExt = c.decodeObjectOfClass<TLMSDKExtension>("sdk");
    locExt = c.decodeObjectOfClass<TLMLocExtension>("loc");
    return !c.failed();
}
