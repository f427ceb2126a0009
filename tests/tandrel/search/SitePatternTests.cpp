// What a site search pattern finds and how it replaces, without a server.
#include <gtest/gtest.h>

#include "tandrel/search/SiteFileFilter.h"
#include "tandrel/search/SitePattern.h"

using namespace sitesearch;

namespace {

struct FindCase {
    const char* name;
    std::string pattern;
    PatternOptions options;
    std::string text;
    std::vector<MatchSpan> expected;
};

TEST(SitePattern, FindsLiteralsRegularExpressionsCaseAndWholeWords) {
    const std::vector<FindCase> cases = {
        {"literal without case", "hello", {}, "Hello hello HELLO", {{0, 5}, {6, 5}, {12, 5}}},
        {"literal with case", "hello", {.matchCase = true}, "Hello hello HELLO", {{6, 5}}},
        {"literal characters are not a pattern", "a.b(", {}, "axb( a.b(", {{5, 4}}},
        {"whole word", "cat", {.wholeWord = true}, "cat concat cat_x cat.", {{0, 3}, {17, 3}}},
        {"whole word with non-ASCII letters", "caf", {.wholeWord = true}, "café caf", {{6, 3}}},
        {"whole word found again after a miss", "ab", {.wholeWord = true}, "aab ab", {{4, 2}}},
        {"regular expression", "h[aeiou]llo", {.regularExpression = true}, "hallo hxllo hullo", {{0, 5}, {12, 5}}},
        {"regular expression with case", "H.llo", {.matchCase = true, .regularExpression = true}, "hello Hello", {{6, 5}}},
        {"anchors at every line", "^x", {.regularExpression = true}, "x\r\nyx\nx", {{0, 1}, {6, 1}}},
        {"empty matches are not matches", "a*", {.regularExpression = true}, "baab", {{1, 2}}},
        {"non-ASCII without case", "ÉTÉ", {}, "un été", {{3, 5}}},
    };
    for (const auto& c : cases) {
        SitePattern pattern(c.pattern, c.options);
        ASSERT_FALSE(pattern.error()) << c.name << ": " << *pattern.error();
        EXPECT_EQ(pattern.find(c.text), c.expected) << c.name;
    }
}

TEST(SitePattern, RefusesEmptyAndBrokenPatterns) {
    EXPECT_TRUE(SitePattern("", {}).error());
    SitePattern broken("(a", {.regularExpression = true});
    ASSERT_TRUE(broken.error());
    EXPECT_EQ(*broken.error(), "missing ): (a") << "in RE2's words, about the pattern as typed";
    EXPECT_FALSE(SitePattern("(a", {}).error()) << "a literal is never broken";
}

TEST(SitePattern, ReplacesLiterallyOrWithGroups) {
    struct Case {
        const char* name;
        std::string pattern;
        PatternOptions options;
        std::string replacement, text, expected;
        std::size_t count;
    };
    const std::vector<Case> cases = {
        {"literal", "old.com", {}, "new.org", "old.com oldxcom OLD.COM", "new.org oldxcom new.org", 2},
        {"a literal's backslashes stay", "a", {}, "\\1", "a", "\\1", 1},
        {"groups", "(\\w+)@(\\w+)", {.regularExpression = true}, "\\2 at \\1", "me@home you@work", "home at me work at you", 2},
        {"whole word only", "id", {.wholeWord = true}, "key", "id ids id", "key ids key", 2},
        {"line breaks kept", "b", {}, "c", "a\r\nb\rb\n", "a\r\nc\rc\n", 2},
    };
    for (const auto& c : cases) {
        SitePattern pattern(c.pattern, c.options);
        std::size_t count = 0;
        auto out = pattern.replaceAll(c.text, c.replacement, &count);
        ASSERT_TRUE(out) << c.name;
        EXPECT_EQ(*out, c.expected) << c.name;
        EXPECT_EQ(count, c.count) << c.name;
    }
    std::string why;
    EXPECT_FALSE(SitePattern("(a)", {.regularExpression = true}).replaceAll("a", "\\2", nullptr, &why));
    EXPECT_FALSE(why.empty());
}

TEST(SiteFileFilter, TakesTextFilesOutsideExcludedFolders) {
    SiteFileFilter defaults;
    for (const char* folder : {".git", "node_modules", "vendor", ".cache"}) EXPECT_FALSE(defaults.searchesFolder(folder)) << folder;
    for (const char* folder : {"css", "vendors", "git"}) EXPECT_TRUE(defaults.searchesFolder(folder)) << folder;
    for (const char* file : {"index.html", ".htaccess", "README", "x.PHP", "vendor"}) EXPECT_TRUE(defaults.searchesFile(file)) << file;
    for (const char* file : {"logo.PNG", "site.zip", "font.woff2", "doc.pdf"}) EXPECT_FALSE(defaults.searchesFile(file)) << file;

    SiteFileFilter chosen("*.php, *.html", "old*, tmp/");
    EXPECT_TRUE(chosen.searchesFile("index.php"));
    EXPECT_FALSE(chosen.searchesFile("site.css"));
    EXPECT_FALSE(chosen.searchesFile("old.php"));
    EXPECT_FALSE(chosen.searchesFolder("tmp"));
    EXPECT_TRUE(SiteFileFilter("", "tmp/").searchesFile("tmp")) << "a pattern ending in / names folders only";
    EXPECT_TRUE(chosen.searchesFolder(".git")) << "the defaults are only defaults";

    EXPECT_TRUE(SiteFileFilter::looksBinary(std::string("GIF89a\0\0", 8)));
    EXPECT_FALSE(SiteFileFilter::looksBinary(std::string("\xFF\xFEh\0i\0", 6)));
    EXPECT_FALSE(SiteFileFilter::looksBinary(std::string(9000, 'a') + std::string(1, '\0')));
}

}  // namespace
