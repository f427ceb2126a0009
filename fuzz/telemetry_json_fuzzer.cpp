// The telemetry records' JSON readers. The first byte picks the record class, the rest is its
// JSON object: a record that reads it must write an object that reads back to an equal record
// writing the same object.
// Also the ISO 8601 date reader, the secret-string readers and the property validation; and text
// from outside (properties set by the app, tickets, collector answers) taken as raw bytes, valid
// UTF-8 or not: every JSON write of it gives JSON that reads back, nothing throws, and masking
// leaves no match behind.
#include <functional>
#include <map>
#include <utility>
#include <memory>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "tellium/model/TLMAbstractLog.h"
#include "tellium/model/TLMDevice.h"
#include "tellium/model/TLMTypedProperty.h"
#include "tellium/model/commonschema/TLMCSExtensions.h"
#include "tellium/model/commonschema/TLMCommonSchemaLog.h"
#include "tellium/util/TLMUtility.h"

namespace {

using Factory = std::function<std::shared_ptr<TLMSerializableObject>()>;
template <class T>
Factory make() {
    return [] { return std::make_shared<T>(); };
}

const std::vector<Factory>& factories() {
    static const std::vector<Factory> all = {
        make<TLMWrapperSdk>(),          make<TLMDevice>(),
        make<TLMAbstractLog>(),         make<TLMLogWithProperties>(),
        make<TLMStartServiceLog>(),     make<TLMCommonSchemaLog>(),
        make<TLMCSExtensions>(),        make<TLMMetadataExtension>(),
        make<TLMProtocolExtension>(),   make<TLMUserExtension>(),
        make<TLMDeviceExtension>(),     make<TLMOSExtension>(),
        make<TLMAppExtension>(),        make<TLMNetExtension>(),
        make<TLMSDKExtension>(),        make<TLMLocExtension>(),
        make<TLMCSData>(),              make<TLMBooleanTypedProperty>(),
        make<TLMDateTimeTypedProperty>(), make<TLMDoubleTypedProperty>(),
        make<TLMLongTypedProperty>(),   make<TLMStringTypedProperty>(),
    };
    return all;
}

void checkOutsideText(std::string_view text) {
    const std::string raw(text);
    const std::string key(text.substr(0, text.size() / 2));
    const std::string value(text.substr(text.size() / 2));
    auto readsBack = [](const std::optional<std::string>& written) {
        FUZZ_CHECK(written.has_value());
        FUZZ_CHECK(!TLMJson::parse(*written, nullptr, false).is_discarded());
    };

    TLMLogWithProperties log;
    log.type = "event";
    log.userId = value;
    log.properties = std::map<std::string, std::string>{{key, value}};
    readsBack(log.serializeLogWithPrettyPrinting(false));
    for (const auto& [k, v] : TLMValidateProperties(TLMJson{{key, value}}, value, "event")) {
        FUZZ_CHECK(TLMUtility::utf16Length(k) <= kTLMMaxPropertyKeyLength);
        FUZZ_CHECK(TLMUtility::utf16Length(v) <= kTLMMaxPropertyValueLength);
    }

    TLMCommonSchemaLog cs;
    cs.name = value;
    cs.ext = std::make_shared<TLMCSExtensions>();
    cs.ext->metadataExt = std::make_shared<TLMMetadataExtension>();
    cs.ext->metadataExt->metadata = TLMJson{{key, {{value, 1}}}};
    cs.ext->protocolExt = std::make_shared<TLMProtocolExtension>();
    cs.ext->protocolExt->ticketKeys = std::vector<std::string>{key, value};
    cs.data = std::make_shared<TLMCSData>();
    cs.data->properties = TLMJson{{"baseType", value}, {key, value}};
    readsBack(cs.serializeLogWithPrettyPrinting(false));
    readsBack(cs.serializeLogWithPrettyPrinting(true));
    if (auto stored = TLMUtility::unarchiveKeyedDataOfClass<TLMCommonSchemaLog>(TLMUtility::archiveKeyedData(cs))) {
        readsBack(stored->serializeLogWithPrettyPrinting(false));
    }

    (void)TLMUtility::prettyPrintJson(raw);
    // The collector's answers and the tickets header as they are masked for the log.
    const std::string tokenPattern = "\"token\"\\s*:\\s*\"[^\"]+\"";
    const std::string tokenMask = "\"token\" : \"***\"";
    for (const auto& [pattern, mask] : {std::pair{tokenPattern, tokenMask}, std::pair{std::string(":[^\"]+"),
                                                                                      std::string(":***")}}) {
        const auto once = TLMUtility::obfuscateString(raw, pattern, mask);
        FUZZ_CHECK(once.has_value());
        FUZZ_CHECK(TLMUtility::obfuscateString(*once, pattern, mask) == once);
    }
    // Any short pattern: refused or applied, never thrown.
    if (key.size() <= 64 && value.size() <= 1024) (void)TLMUtility::obfuscateString(value, key, "$1$&$$");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const auto& all = factories();
    const std::string_view text = fuzzText(data + 1, size - 1);
    checkOutsideText(text);

    if (auto date = TLMUtility::dateFromISO8601(text)) {
        const std::string written = TLMUtility::dateToISO8601(*date);
        const auto again = TLMUtility::dateFromISO8601(written);
        FUZZ_CHECK(again.has_value());
        FUZZ_CHECK(TLMUtility::dateToISO8601(*again) == written);
    }
    (void)TLMUtility::appSecretFrom(std::string(text));
    (void)TLMUtility::transmissionTargetTokenFrom(std::string(text));
    (void)TLMUtility::iKeyFromTargetToken(std::string(text));
    const std::string cut = TLMUtility::truncateToUtf16Length(text, data[0]);
    FUZZ_CHECK(TLMUtility::utf16Length(cut) <= data[0]);

    const TLMJson json = TLMJson::parse(text.begin(), text.end(), nullptr, false);
    if (json.is_discarded()) return 0;
    if (json.is_object()) {
        for (const auto& [key, value] : TLMValidateProperties(json, "fuzz", "event")) {
            FUZZ_CHECK(!key.empty());
            FUZZ_CHECK(TLMUtility::utf16Length(key) <= kTLMMaxPropertyKeyLength);
            FUZZ_CHECK(TLMUtility::utf16Length(value) <= kTLMMaxPropertyValueLength);
        }
    }
    auto record = all[data[0] % all.size()]();
    if (!record->deserializeFromDictionary(json)) return 0;
    const TLMJson written = record->serializeToDictionary();
    if (written.is_null()) return 0;  // nothing to write
    auto again = all[data[0] % all.size()]();
    FUZZ_CHECK(again->deserializeFromDictionary(written));
    FUZZ_CHECK(again->serializeToDictionary() == written);
    // An extension read from an object without any known key writes nothing, so the first
    // record may hold an empty part the written one lacks; from the written form on, equal.
    auto third = all[data[0] % all.size()]();
    FUZZ_CHECK(third->deserializeFromDictionary(written));
    FUZZ_CHECK(third->isEqual(*again));
    return 0;
}
