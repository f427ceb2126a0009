#include <gtest/gtest.h>

#include "platform/web/JsString.h"

namespace {

struct EscapeCase {
    const char* name;
    std::string input;
    std::string escaped;
};

class JsStringEscape : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(JsStringEscape, EscapesWhatCouldEndOrBreakTheLiteral) {
    EXPECT_EQ(web::jsStringEscape(GetParam().input), GetParam().escaped);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsStringEscape,
    ::testing::Values(
        EscapeCase{"plain", "index.html", "index.html"},
        EscapeCase{"single_quote", "it's", "it\\'s"},
        EscapeCase{"double_quote", "say \"hi\"", "say \\\"hi\\\""},
        EscapeCase{"backslash", "C:\\dir\\", "C:\\\\dir\\\\"},
        EscapeCase{"line_breaks", "a\r\nb\nc\rd", "a\\r\\nb\\nc\\rd"},
        EscapeCase{"tab_and_controls", std::string("a\tb\x01" "c\x7f", 6), "a\\tb\\x01c\\x7F"},
        EscapeCase{"nul", std::string("a\0b", 3), "a\\x00b"},
        EscapeCase{"line_separators", "a\xE2\x80\xA8" "b\xE2\x80\xA9" "c", "a\\u2028b\\u2029c"},
        EscapeCase{"script_end", "</script><script>alert(1)</SCRIPT>", "<\\/script><script>alert(1)<\\/SCRIPT>"},
        EscapeCase{"non_ascii_passes", "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80"},
        EscapeCase{"other_e2_sequences_pass", "\xE2\x80\x94", "\xE2\x80\x94"},
        EscapeCase{"invalid_utf8_replaced", "a\xFF" "b\xC3", "a\\uFFFDb\\uFFFD"},
        EscapeCase{"overlong_replaced", "\xC0\xAF", "\\uFFFD\\uFFFD"},
        EscapeCase{"surrogate_replaced", "\xED\xA0\x80", "\\uFFFD\\uFFFD\\uFFFD"},
        EscapeCase{"empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JsStringLiteral, WrapsTheEscapedTextInSingleQuotes) {
    EXPECT_EQ(web::jsStringLiteral("a'b"), "'a\\'b'");
    EXPECT_EQ(web::jsStringLiteral(""), "''");
}

TEST(WrapForEvaluation, CarriesTheScriptAsOneLiteral) {
    const std::string wrapped = web::wrapForEvaluation("x = '</script>'\n1");
    EXPECT_NE(wrapped.find("(0,eval)('x = \\'<\\/script>\\'\\n1')"), std::string::npos) << wrapped;
    EXPECT_EQ(wrapped.find('\n'), std::string::npos);
}

}  // namespace
