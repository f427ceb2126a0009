// The settings file: a dictionary of typed values in JSON (dates, data and dictionaries that
// look like them wrapped). What decodes must encode to text that decodes to the same values.
#include <string>

#include "FuzzCheck.h"
#include "platform/defaults/UserDefaults.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto values = defaults::decodeValuesFromJson(std::string(fuzzText(data, size)));
    if (!values) return 0;
    const std::string text = defaults::encodeValuesToJson(*values);
    const auto again = defaults::decodeValuesFromJson(text);
    FUZZ_CHECK(again);
    FUZZ_CHECK(*again == *values);
    return 0;
}
