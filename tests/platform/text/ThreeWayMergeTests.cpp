// The three-way merge of a file two people changed: which changes go together cleanly and which
// conflict, line breaks kept line by line, and files in other encodings merged as their text (read
// and written through the text road, their bytes made by iconv); and the diff shown for a kept copy.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "IconvBytes.h"
#include "platform/text/TextEncoding.h"
#include "platform/text/TextDiff.h"
#include "platform/text/ThreeWayMerge.h"

using texttest::iconvBytes;
using textmerge::mergeThreeWay;

namespace {

struct MergeCase {
    const char* name;
    std::string base;
    std::string ours;
    std::string theirs;
    bool clean;
    std::string merged;  // when clean
};

const std::vector<MergeCase> kCases{
    {"ChangesApart", "a\nb\nc\nd\ne\nf\n", "A\nb\nc\nd\ne\nf\n", "a\nb\nc\nd\ne\nF\n", true, "A\nb\nc\nd\ne\nF\n"},
    {"OnlyTheServerChanged", "a\nb\n", "a\nb\n", "a\nB\n", true, "a\nB\n"},
    {"OnlyTheEditorChanged", "a\nb\n", "a\nB\n", "a\nb\n", true, "a\nB\n"},
    {"TheSameChangeOnBothSides", "a\nb\nc\n", "a\nB\nc\n", "a\nB\nc\n", true, "a\nB\nc\n"},
    {"LinesAddedApart", "a\nb\nc\nd\n", "top\na\nb\nc\nd\n", "a\nb\nc\nd\nbottom\n", true, "top\na\nb\nc\nd\nbottom\n"},
    // Changes to lines next to each other are one change to git: nobody's is placed on a guess.
    {"AdjacentLines", "a\nb\nc\nd\n", "a\nB\nc\nd\n", "a\nb\nC\nd\n", false, ""},
    {"OverlappingLines", "a\nb\nc\n", "a\nmine\nc\n", "a\ntheirs\nc\n", false, ""},
    {"SameLineDifferentWords", "one two three\n", "ONE two three\n", "one two THREE\n", false, ""},
    {"LineDeletedOnOneSideEditedOnTheOther", "a\nb\nc\nd\ne\n", "a\nb\nd\ne\n", "a\nb\nC\nd\ne\n", false, ""},
    {"LineDeletedOnOneSideAnotherEditedApart", "a\nb\nc\nd\ne\nf\n", "a\nc\nd\ne\nf\n", "a\nb\nc\nd\ne\nF\n", true,
     "a\nc\nd\ne\nF\n"},
    {"CrLfChangesApart", "a\r\nb\r\nc\r\nd\r\ne\r\n", "A\r\nb\r\nc\r\nd\r\ne\r\n", "a\r\nb\r\nc\r\nd\r\nE\r\n", true,
     "A\r\nb\r\nc\r\nd\r\nE\r\n"},
    {"CrLfOverlapping", "a\r\nb\r\nc\r\n", "a\r\nB\r\nc\r\n", "a\r\nbb\r\nc\r\n", false, ""},
    // Each line keeps its own break: a file of mixed breaks merges without turning into one kind.
    {"MixedBreaksKeptLineByLine", "a\r\nb\nc\r\nd\ne\r\nf\n", "A\r\nb\nc\r\nd\ne\r\nf\n", "a\r\nb\nc\r\nd\ne\r\nF\n", true,
     "A\r\nb\nc\r\nd\ne\r\nF\n"},
    {"NoFinalLineBreak", "a\nb\nc\nd\ne", "A\nb\nc\nd\ne", "a\nb\nc\nd\nE", true, "A\nb\nc\nd\nE"},
    {"EmptyBase", "", "mine\n", "theirs\n", false, ""},
    {"NotUtf8Ascii", "caf\xc3\xa9\nb\nc\nd\n\xe6\x97\xa5\n", "CAF\xc3\x89\nb\nc\nd\n\xe6\x97\xa5\n",
     "caf\xc3\xa9\nb\nc\nd\n\xe6\x97\xa5\xe6\x9c\xac\n", true, "CAF\xc3\x89\nb\nc\nd\n\xe6\x97\xa5\xe6\x9c\xac\n"},
};

void PrintTo(const MergeCase& c, std::ostream* os) { *os << c.name; }

class MergeTable : public ::testing::TestWithParam<MergeCase> {};

TEST_P(MergeTable, MergesAsGitDoes) {
    const auto& c = GetParam();
    const auto outcome = mergeThreeWay(c.base, c.ours, c.theirs);
    EXPECT_TRUE(outcome.failure.empty()) << outcome.failure;
    EXPECT_EQ(outcome.clean, c.clean) << outcome.text;
    if (c.clean) {
        EXPECT_EQ(outcome.text, c.merged);
    }
    // A conflict shows both sides (for display), never one side's text alone as if merged.
    if (!c.clean) {
        EXPECT_NE(outcome.text.find("<<<<<<< editor"), std::string::npos) << outcome.text;
        EXPECT_NE(outcome.text.find(">>>>>>> server"), std::string::npos) << outcome.text;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, MergeTable, ::testing::ValuesIn(kCases), [](const auto& info) { return info.param.name; });

TEST(ThreeWayMerge, BinaryTextNeverMergesCleanly) {
    const std::string base("a\0b\nc\nd\ne\n", 11);
    const std::string ours("A\0b\nc\nd\ne\n", 11);
    const std::string theirs("a\0b\nc\nd\nE\n", 11);
    EXPECT_FALSE(mergeThreeWay(base, ours, theirs).clean);
}

// Files in other encodings merge as the text they hold: read with the document's format, merged,
// and written back in it, the bytes are those iconv makes of the merged text.
struct EncodedCase {
    const char* encoding;
    const char* iconv;
    const char* fileName;
    std::string base;
    std::string ours;
    std::string theirs;
    std::string merged;
};

const std::vector<EncodedCase> kEncoded{
    {"Shift_JIS", "SHIFT_JIS", "page.txt", "日本語\r\n一\r\n二\r\n三\r\n四\r\n", "日本語です\r\n一\r\n二\r\n三\r\n四\r\n",
     "日本語\r\n一\r\n二\r\n三\r\n四五\r\n", "日本語です\r\n一\r\n二\r\n三\r\n四五\r\n"},
    {"windows-1252", "CP1252", "page.css", "/* caf\u00e9 */\na {}\nb {}\nc {}\nd { content: \"\u20ac\" }\n",
     "/* caf\u00e9 cr\u00e8me */\na {}\nb {}\nc {}\nd { content: \"\u20ac\" }\n",
     "/* caf\u00e9 */\na {}\nb {}\nc {}\nd { content: \"\u00a3\" }\n",
     "/* caf\u00e9 cr\u00e8me */\na {}\nb {}\nc {}\nd { content: \"\u00a3\" }\n"},
    {"UTF-16LE", "UTF-16LE", "page.html", "\ufeff<p>a</p>\n<p>b</p>\n<p>c</p>\n<p>d</p>\n",
     "\ufeff<p>A</p>\n<p>b</p>\n<p>c</p>\n<p>d</p>\n", "\ufeff<p>a</p>\n<p>b</p>\n<p>c</p>\n<p>D</p>\n",
     "\ufeff<p>A</p>\n<p>b</p>\n<p>c</p>\n<p>D</p>\n"},
};

void PrintTo(const EncodedCase& c, std::ostream* os) { *os << c.encoding; }

class EncodedMerge : public ::testing::TestWithParam<EncodedCase> {};

TEST_P(EncodedMerge, MergesTheTextAndWritesTheFilesEncoding) {
    const auto& c = GetParam();
    const std::string baseBytes = iconvBytes(c.base, c.iconv);
    const std::string theirBytes = iconvBytes(c.theirs, c.iconv);
    ASSERT_FALSE(baseBytes.empty());
    // The document was read with a format; the server's copy is read with the same.
    const auto base = textcodec::decodeText(baseBytes, c.fileName, std::string(c.encoding));
    ASSERT_TRUE(base.lossless);
    ASSERT_EQ(base.format.encoding, c.encoding);
    const auto theirs = textcodec::decodeText(theirBytes, c.fileName, base.format.encoding);
    ASSERT_TRUE(theirs.lossless);
    // The editor's text is the base's text edited (the editor holds UTF-8, without the BOM).
    std::string ours = c.ours;
    const auto merge = mergeThreeWay(base.utf8, ours.substr(ours.rfind("\ufeff", 0) == 0 ? 3 : 0), theirs.utf8);
    ASSERT_TRUE(merge.clean) << merge.text;
    const auto written = textcodec::encodeText(merge.text, base.format);
    ASSERT_TRUE(std::holds_alternative<std::string>(written));
    EXPECT_EQ(std::get<std::string>(written), iconvBytes(c.merged, c.iconv));
}

INSTANTIATE_TEST_SUITE_P(Encodings, EncodedMerge, ::testing::ValuesIn(kEncoded), [](const auto& info) {
    std::string name = info.param.encoding;
    for (auto& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    }
    return name;
});

}  // namespace

namespace {

TEST(TextDiff, ShowsTheChangedLinesWithTheirContext) {
    EXPECT_EQ(textmerge::unifiedDiff("a\nb\nc\n", "a\nb\nc\n"), "");
    EXPECT_EQ(textmerge::unifiedDiff("a\nb\nc\n", "a\nB\nc\n", 1), "@@ -1,3 +1,3 @@\n a\n-b\n+B\n c\n");
    // A line keeps its own line break.
    const auto added = textmerge::unifiedDiff("a\r\nb\r\n", "a\r\nb\r\nc\r\n", 0);
    EXPECT_EQ(added.substr(added.find('\n') + 1), "+c\r\n") << added;
    EXPECT_NE(textmerge::unifiedDiff(std::string("a\0b", 3), "ab").find("not text"), std::string::npos);
}

}  // namespace
