#pragma once
// The parts of a Common Schema log: its nine extension records, their container, and the data
// part. Each record writes a JSON key only for a present field and drops out (null) when it has
// nothing to write. Records made of fields list them once, in fields() (see TLMFieldTable.h); the
// metadata and data parts are one free-form JSON object each.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tellium/model/TLMFieldTable.h"
#include "tellium/model/TLMSerializableObject.h"
#include "tellium/util/TLMAtomicCopy.h"

#define TLM_CS_RECORD_DECLS(Name)                                           \
    std::string archiveClassName() const override { return #Name; }        \
    TLMJson serializeToDictionary() const override;                        \
    bool deserializeFromDictionary(const TLMJson& json) override;          \
    bool isValid() const override { return true; }                         \
    bool isEqual(const TLMSerializableObject& other) const override;       \
    void encodeWithCoder(TLMKeyedArchiver& coder) const override;          \
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override;         \
    bool appendJson(std::string& out) const override;

class TLMCSRecord : public TLMSerializableObject, public TLMModel {};

class TLMMetadataExtension : public TLMCSRecord {
public:
    TLMAtomicCopy<TLMJson> metadata;  // a JSON object, replaced whole (services set it from their threads)
    TLM_CS_RECORD_DECLS(TLMMetadataExtension)
};

class TLMProtocolExtension : public TLMCSRecord {
public:
    std::optional<std::vector<std::string>> ticketKeys;
    std::optional<std::string> devMake;
    std::optional<std::string> devModel;
    static constexpr auto fields() {
        using tlmfields::field;
        return std::tuple{
            field("ticketKeys", &TLMProtocolExtension::ticketKeys),
            field("devMake", &TLMProtocolExtension::devMake),
            field("devModel", &TLMProtocolExtension::devModel),
        };
    }
    TLM_CS_RECORD_DECLS(TLMProtocolExtension)
};

class TLMUserExtension : public TLMCSRecord {
public:
    std::optional<std::string> localId;
    std::optional<std::string> locale;
    static constexpr auto fields() {
        using tlmfields::field;
        return std::tuple{
            field("localId", &TLMUserExtension::localId),
            field("locale", &TLMUserExtension::locale),
        };
    }
    TLM_CS_RECORD_DECLS(TLMUserExtension)
};

class TLMDeviceExtension : public TLMCSRecord {
public:
    std::optional<std::string> localId;
    static constexpr auto fields() {
        using tlmfields::field;
        return std::tuple{
            field("localId", &TLMDeviceExtension::localId),
        };
    }
    TLM_CS_RECORD_DECLS(TLMDeviceExtension)
};

class TLMOSExtension : public TLMCSRecord {
public:
    std::optional<std::string> name;
    std::optional<std::string> ver;
    static constexpr auto fields() {
        using tlmfields::field;
        return std::tuple{
            field("ver", &TLMOSExtension::ver),
            field("name", &TLMOSExtension::name),
        };
    }
    TLM_CS_RECORD_DECLS(TLMOSExtension)
};

class TLMAppExtension : public TLMCSRecord {
public:
    std::optional<std::string> appId;  // JSON and archive key "id"
    std::optional<std::string> ver;
    std::optional<std::string> name;
    std::optional<std::string> locale;
    std::optional<std::string> userId;
    static constexpr auto fields() {
        using tlmfields::field;
        return std::tuple{
            field("id", &TLMAppExtension::appId),
            field("ver", &TLMAppExtension::ver),
            field("name", &TLMAppExtension::name),
            field("locale", &TLMAppExtension::locale),
            field("userId", &TLMAppExtension::userId),
        };
    }
    TLM_CS_RECORD_DECLS(TLMAppExtension)
};

class TLMNetExtension : public TLMCSRecord {
public:
    std::optional<std::string> provider;
    static constexpr auto fields() {
        using tlmfields::field;
        return std::tuple{
            field("provider", &TLMNetExtension::provider),
        };
    }
    TLM_CS_RECORD_DECLS(TLMNetExtension)
};

class TLMSDKExtension : public TLMCSRecord {
public:
    std::optional<std::string> libVer;
    std::optional<std::string> epoch;
    int64_t seq = 0;
    std::optional<std::string> installId;  // a UUID, written in upper case
    static constexpr auto fields() {
        using tlmfields::field;
        return std::tuple{
            field("libVer", &TLMSDKExtension::libVer),
            field("epoch", &TLMSDKExtension::epoch),
            field("installId", &TLMSDKExtension::installId, tlmfields::kUuid),
            field("seq", &TLMSDKExtension::seq, tlmfields::kOmitZeroInJson),
        };
    }
    TLM_CS_RECORD_DECLS(TLMSDKExtension)
};

class TLMLocExtension : public TLMCSRecord {
public:
    std::optional<std::string> tz;
    static constexpr auto fields() {
        using tlmfields::field;
        return std::tuple{
            field("tz", &TLMLocExtension::tz),
        };
    }
    TLM_CS_RECORD_DECLS(TLMLocExtension)
};

class TLMCSExtensions : public TLMSerializableObject, public TLMModel {
public:
    std::shared_ptr<TLMMetadataExtension> metadataExt;
    std::shared_ptr<TLMProtocolExtension> protocolExt;
    std::shared_ptr<TLMUserExtension> userExt;
    std::shared_ptr<TLMDeviceExtension> deviceExt;
    std::shared_ptr<TLMOSExtension> osExt;
    std::shared_ptr<TLMAppExtension> appExt;
    std::shared_ptr<TLMNetExtension> netExt;
    std::shared_ptr<TLMSDKExtension> sdkExt;
    std::shared_ptr<TLMLocExtension> locExt;

    // Each part under its key; a part with nothing to write is left out of the JSON object.
    static constexpr auto fields() {
        using tlmfields::field;
        constexpr unsigned omitNull = tlmfields::kOmitNullInJson;
        return std::tuple{
            field("metadata", &TLMCSExtensions::metadataExt, omitNull),
            field("protocol", &TLMCSExtensions::protocolExt, omitNull),
            field("user", &TLMCSExtensions::userExt, omitNull),
            field("device", &TLMCSExtensions::deviceExt, omitNull),
            field("os", &TLMCSExtensions::osExt, omitNull),
            field("app", &TLMCSExtensions::appExt, omitNull),
            field("net", &TLMCSExtensions::netExt, omitNull),
            field("sdk", &TLMCSExtensions::sdkExt, omitNull),
            field("loc", &TLMCSExtensions::locExt, omitNull),
        };
    }

    std::string archiveClassName() const override { return "TLMCSExtensions"; }
    TLMJson serializeToDictionary() const override;
    bool deserializeFromDictionary(const TLMJson& json) override;
    bool isValid() const override;
    bool isEqual(const TLMSerializableObject& other) const override;
    void encodeWithCoder(TLMKeyedArchiver& coder) const override;
    bool initWithCoder(const TLMKeyedUnarchiver& coder) override;
    bool appendJson(std::string& out) const override;
};

class TLMCSData : public TLMCSRecord {
public:
    TLMAtomicCopy<TLMJson> properties;  // a JSON object, replaced whole (services set it from their threads)
    TLM_CS_RECORD_DECLS(TLMCSData)
};

#undef TLM_CS_RECORD_DECLS
