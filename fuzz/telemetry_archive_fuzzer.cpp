// Archived telemetry logs as the log store keeps them (keyed archives written as CBOR): bytes
// that read back as a record must archive again to bytes that read back to the same archive.
// Stored text is raw bytes (UTF-8 or not): a record read back writes JSON that reads back.
#include <string>

#include "tellium/model/TLMSerializableObject.h"

#include "FuzzCheck.h"
#include "tellium/util/TLMUtility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool registered = (TLMRegisterCoreArchiveClasses(), true);
    (void)registered;
    const std::string_view bytes = fuzzText(data, size);
    if (auto object = TLMUtility::unarchiveKeyedData(bytes)) {
        if (auto record = std::dynamic_pointer_cast<TLMSerializableObject>(object)) {
            const auto written = tlmjson::dump(record->serializeToDictionary(), false);
            FUZZ_CHECK(written.has_value());
            FUZZ_CHECK(!TLMJson::parse(*written, nullptr, false).is_discarded());
        }
        const std::string archived = TLMUtility::archiveKeyedData(*object);
        auto again = TLMUtility::unarchiveKeyedData(archived);
        FUZZ_CHECK(again != nullptr);
        FUZZ_CHECK(again->archiveClassName() == object->archiveClassName());
        FUZZ_CHECK(TLMUtility::archiveKeyedData(*again) == archived);
    }
    if (auto objects = TLMUtility::unarchiveKeyedArray(bytes)) {
        const std::string archived = TLMUtility::archiveKeyedArray(*objects);
        auto again = TLMUtility::unarchiveKeyedArray(archived);
        FUZZ_CHECK(again.has_value());
        FUZZ_CHECK(again->size() == objects->size());
        FUZZ_CHECK(TLMUtility::archiveKeyedArray(*again) == archived);
    }
    return 0;
}
