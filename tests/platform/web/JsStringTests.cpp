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

TEST(WrapForEvaluation, CarriesAProgramAsOneLiteral) {
    const std::string wrapped = web::wrapForEvaluation("x = '</script>'\n1");
    EXPECT_NE(wrapped.find("(0,eval)('x = \\'<\\/script>\\'\\n1')"), std::string::npos) << wrapped;
    EXPECT_EQ(wrapped.find('\n'), std::string::npos);
    // The lifted strings, their ids and their marker.
    EXPECT_NE(wrapped.find("b:b,n:n,m:m"), std::string::npos) << wrapped;
    // No string is held: the page may name none.
    EXPECT_NE(wrapped.find("})([])"), std::string::npos) << wrapped;
}

TEST(WrapForEvaluation, NamesTheStringsTheAppHoldsAsLiterals) {
    const std::string wrapped = web::wrapForEvaluation("session_manager.get_current_session()", {"00ab", "c'd"});
    EXPECT_NE(wrapped.find("})(['00ab','c\\'d'])"), std::string::npos) << wrapped;
    EXPECT_NE(wrapped.find("((session_manager.get_current_session()))"), std::string::npos) << wrapped;
}

TEST(WrapForEvaluation, CarriesALiteralCallAsItIs) {
    const std::string call = "session_manager.set_current_session('QUJD\\'+/=')";
    const std::string wrapped = web::wrapForEvaluation(call + " ;\n");
    EXPECT_NE(wrapped.find("((" + call + "))"), std::string::npos) << wrapped;
    EXPECT_EQ(wrapped.find("eval"), std::string::npos) << wrapped;
}

TEST(IsLiteralCall, TakesOnlyACallWithLiteralArguments) {
    struct Case {
        const char* script;
        bool literal;
    };
    const Case cases[] = {
        {"session_manager.new_aces_editor_session('id', 'QUJD', '/a b/it\\'s.html')", true},
        {"main.insertContent(\"4pyT\");", true},
        {"  main.set_soft_wrap('80') ; ", true},
        {"session_manager.get_current_session()", true},
        {"f(1, -2.5, true, false, null, '\\x41\\u00e9\\n\\0')", true},
        {"main.toggle_search(false);", true},
        {"editor.setTheme(\"ace/theme/monokai\");", true},
        {"f('a'b')", false},             // a quote ends the literal early
        {"f('a\nb')", false},            // a raw line break inside a literal
        {"f('a') ; g('b')", false},       // two statements
        {"f('a');;", false},
        {"f('\\07')", false},             // an octal escape
        {"f('\\q')", false},              // an escape that means nothing
        {"f('\\x4')", false},
        {"f(x)", false},                  // a name as an argument
        {"f(1e3)", false},
        {"f(010)", false},                // a legacy octal number
        {"f(0, 10.25)", true},
        {"f(.5)", false},
        {"f(truex)", false},
        {"eval('1')", false},             // would see the wrapper's scope
        {"arguments.callee()", false},
        {"a.eval('1')", true},
        {"editor.renderer.setShowGutter(true)", true},
        {"f('a' + 'b')", false},
        {"f(", false},
        {"f('abc", false},
        {"f()x", false},
        {"1 + 1", false},
        {"{a: f()}", false},
        {"f() // note", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(web::isLiteralCall(c.script), c.literal) << c.script;
}

}  // namespace
