// The session-text scanner must agree with the full JSON parser: it accepts exactly what the
// parser accepts, sees the same top-level shape, and reads the same text members.
#include <nlohmann/json.hpp>
#include <string>

#include "FuzzCheck.h"
#include "tandrel/foundation/JsonScan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text = fuzzText(data, size);
    const std::vector<std::string_view> keys = {"value", "path", "", "a"};
    const json_scan::Members m = json_scan::object_strings(text, keys);
    const nlohmann::json j = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    // The parser stops at a NUL byte; the scanner refuses text with one.
    if (text.find('\0') != std::string_view::npos) {
        FUZZ_CHECK(m.shape == json_scan::Shape::invalid);
        return 0;
    }
    if (j.is_discarded()) {
        FUZZ_CHECK(m.shape == json_scan::Shape::invalid);
        return 0;
    }
    if (!j.is_object()) {
        FUZZ_CHECK(m.shape == json_scan::Shape::not_object);
        return 0;
    }
    FUZZ_CHECK(m.shape == json_scan::Shape::object);
    FUZZ_CHECK(m.strings.size() == keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const auto it = j.find(std::string(keys[i]));
        if (it != j.end() && it->is_string()) {
            FUZZ_CHECK(m.strings[i].has_value());
            FUZZ_CHECK(*m.strings[i] == it->get<std::string>());
        } else {
            FUZZ_CHECK(!m.strings[i].has_value());
        }
    }
    return 0;
}
