// The scanner must accept exactly what the JSON parser accepts and read the same member texts,
// so the save path can never upload something the parser would have refused or read otherwise.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <random>
#include <string>
#include <vector>

#include "tandrel/foundation/JsonScan.h"
#include "tandrel/foundation/Jsonable.h"

namespace {

using nlohmann::json;

// What the parser makes of the text: the same three shapes and member texts.
json_scan::Members byParser(const std::string& text, const std::vector<std::string_view>& keys) {
    json_scan::Members m;
    m.strings.assign(keys.size(), std::nullopt);
    const json j = json::parse(text, nullptr, false);
    if (j.is_discarded()) return m;
    if (!j.is_object()) {
        m.shape = json_scan::Shape::not_object;
        return m;
    }
    m.shape = json_scan::Shape::object;
    for (size_t k = 0; k < keys.size(); ++k) {
        auto it = j.find(std::string(keys[k]));
        if (it != j.end() && it->is_string()) m.strings[k] = it->get<std::string>();
    }
    return m;
}

void expectSameAsParser(const std::string& text) {
    const std::vector<std::string_view> keys = {"value", "file_path", "", "n", "a"};
    const auto scanned = json_scan::object_strings(text, keys);
    const auto parsed = byParser(text, keys);
    ASSERT_EQ(static_cast<int>(scanned.shape), static_cast<int>(parsed.shape)) << json(text).dump();
    ASSERT_EQ(scanned.raw.size(), keys.size());
    const json j = parsed.shape == json_scan::Shape::object ? json::parse(text) : json();
    for (size_t k = 0; k < keys.size(); ++k) {
        EXPECT_EQ(scanned.strings[k], parsed.strings[k]) << json(text).dump() << " key " << keys[k];
        // A member that is not text stands in the text as the parser reads it.
        const auto member = j.is_object() ? j.find(std::string(keys[k])) : j.end();
        if (!j.is_object() || member == j.end() || member->is_string()) {
            EXPECT_FALSE(scanned.raw[k]) << json(text).dump() << " key " << keys[k];
        } else {
            ASSERT_TRUE(scanned.raw[k]) << json(text).dump() << " key " << keys[k];
            EXPECT_EQ(json::parse(*scanned.raw[k]), *member) << json(text).dump() << " key " << keys[k];
        }
    }
}

TEST(JsonScan, AgreesWithTheParserOnHandPickedTexts) {
    const std::string cases[] = {
        // objects and what they hold
        R"({"value":"abc","file_path":"/a.html"})",
        R"( {"value" : "a\"b\\c\/d\b\f\n\r\t" , "x": [1, {"value": "inner"}], "file_path": "p"} )",
        R"({"value":"\u00e9\u4e2d\ud83d\ude00\u0000"})",
        R"({"value":"caf)" "\xC3\xA9" R"( )" "\xF0\x9F\x98\x80" R"("})",
        R"({"value":1,"file_path":null})",
        R"({"value":"first","value":"second"})",
        R"({"value":"first","value":2})",
        R"({"value":2,"value":"second"})",
        R"({"":"empty key"})",
        R"({})",
        "\xEF\xBB\xBF{\"value\":\"after a mark\"}",
        R"({"a":{"b":{"c":[[[[]]],{}]}},"value":"deep"})",
        R"({"n":[-0, 0.5, -1.25e+10, 1E-3, 123456789012345678901234567890]})",
        R"({"n": 12 , "a":{"x":[true,null]},"value":"v"})", R"({"n":"text","n":-7})", R"({"n":-7,"n":"text"})",
        R"({"a":false})",
        // other values at the top level
        R"("just text")", "42", "-0.5e3", "true", "null", "[1,2]", " [ ] ",
        // not JSON
        "", "   ", "{", "}", R"({"value":"open)", R"({"value":"a"} x)", R"({"value":"a",})", R"({,})",
        R"({"value" "a"})", R"({value:"a"})", R"({'value':'a'})", R"({"value":"\x41"})", R"({"value":"\u12"})",
        R"({"value":"\ud800"})", R"({"value":"\udc00"})", R"({"value":"\ud800\u0041"})", R"({"value":"a)" "\n" R"("})",
        R"({"value":"a)" "\t" R"("})", std::string("{\"value\":\"a\0b\"}", 14), R"({"value":"\q"})",
        "{\"value\":\"\xC3\"}", "{\"value\":\"\xC0\xAF\"}", "{\"value\":\"\xED\xA0\x80\"}", "{\"value\":\"\xF4\x90\x80\x80\"}",
        "{\"value\":\"\xFF\"}", R"([1,])", R"([01])", R"([1.])", R"([.5])", R"([1e])", R"([-])", R"([+1])",
        R"([tru])", R"([nulls])", R"({"a":1}{"b":2})", " \xEF\xBB\xBF{}", "\xEF\xBB{}", R"({"a":[1 2]})",
        R"({"a":1 "b":2})", R"([[[]])", R"({"a":]})", "{\"value\":\"ok\"}\x00",
        // numbers beyond a double: too large is refused, too small reads as zero
        "2e1177", R"({"value":"a","n":1e309})", "[-1.5E+400]", "[0.0001e309]", "[1e-400]", "[-0.00e999999999999]",
        "[" + std::string(400, '9') + "]", "[0." + std::string(400, '0') + "1]", "[1000e306]", "[1000e305]",
    };
    for (const auto& text : cases) expectSameAsParser(text);
}

TEST(JsonScan, AgreesWithTheParserOnMutatedTexts) {
    // Valid session-like texts, then single-byte changes, cuts and insertions of the bytes that
    // matter to the grammar.
    std::mt19937 rng(20261206);
    const std::string alphabet = std::string("{}[]\",:\\/-+.eE0123456789 \t\n\rtrufalsn u") + "\xC3\xA9\xED\xA0\x80\xF0\x9F";
    const std::vector<std::string> seeds = {
        json{{"session_id", "s1"}, {"file_path", "/a/b.html"}, {"value", "<p class=\"x\">caf\xC3\xA9\n\t\\</p>"},
             {"undo_count", 3}, {"cursor", {{"row", 1}, {"column", 2}}}, {"scroll_top", 12.5}}
            .dump(),
        R"({"value":"\ud83d\ude00 \u0041","file_path":"\/x","list":[true,false,null,-1.5e-3]})",
        R"([{"value":"x"},"y",1])",
    };
    int checked = 0;
    for (const auto& seed : seeds) {
        for (int round = 0; round < 4000; ++round) {
            std::string text = seed;
            const int edits = 1 + static_cast<int>(rng() % 3);
            for (int e = 0; e < edits && !text.empty(); ++e) {
                const size_t at = rng() % text.size();
                switch (rng() % 3) {
                    case 0: text[at] = alphabet[rng() % alphabet.size()]; break;
                    case 1: text.erase(at, 1 + rng() % 3); break;
                    default: text.insert(at, 1, alphabet[rng() % alphabet.size()]); break;
                }
            }
            expectSameAsParser(text);
            if (::testing::Test::HasFailure()) return;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 12000);
}

TEST(JsonScan, AgreesWithTheParserWhereverAByteThatNeedsALookStandsInALongRun) {
    // Plain text is read eight bytes at a time: each byte that ends a run (quote, backslash,
    // control character, the bytes of a UTF-8 sequence, good or bad) at every place in a word,
    // and the bytes around the limits (DEL, space, 0x1F) beside it.
    const std::vector<std::string> bytes = {"\"", "\\\"", "\\\\", "\\n", "\\u00e9", "\n", "\x1F",
                                            "\x7F", " ", "\xC3\xA9", "\xC3", "\xFF", "\xF0\x9F\x98\x80"};
    for (const auto& b : bytes) {
        for (size_t at = 0; at <= 24; ++at) {
            std::string value(40, 'a');
            value.insert(at, b);
            expectSameAsParser("{\"value\":\"" + value + "\",\"file_path\":\"" + value + "\"}");
            if (::testing::Test::HasFailure()) return;
        }
    }
}

TEST(JsonScan, ReadsALargeValueWhole) {
    std::string big;
    for (int i = 0; i < 200000; ++i) big += "<p class=\"l\">line \\ " + std::to_string(i) + "</p>\n";
    const std::string text = json{{"session_id", "id"}, {"file_path", "/big.html"}, {"value", big}}.dump();
    const auto m = json_scan::object_strings(text, {"value", "file_path"});
    ASSERT_EQ(m.shape, json_scan::Shape::object);
    EXPECT_EQ(m.strings[0], big);
    EXPECT_EQ(m.strings[1], "/big.html");
}

TEST(JsonText, RefusesTextThatIsNotUtf8WhereverTheBadBytesStand) {
    // The check reads ASCII eight bytes at a time: a bad sequence at any offset must still show.
    for (const std::string bad : {"\xC3", "\xFF", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82"}) {
        for (size_t at = 0; at <= 17; ++at) {
            std::string text(20, 'a');
            text.insert(at, bad);
            EXPECT_FALSE(is_valid_utf8(text)) << at;
            EXPECT_FALSE(jsonable::toJsonString(OrderedJson(text)));
        }
    }
    for (size_t at = 0; at <= 17; ++at) {
        std::string text(20, 'a');
        text.insert(at, "\xC3\xA9\xF0\x9F\x98\x80");
        EXPECT_TRUE(is_valid_utf8(text)) << at;
    }
}

}  // namespace
