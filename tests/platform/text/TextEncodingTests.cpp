// The text road: which encoding a file is read in, and that writing its text back gives its
// bytes. The files of the round-trip table are made by glibc's iconv from a sample text, a
// converter other than the one under test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "IconvBytes.h"
#include "platform/text/TextEncoding.h"

using textcodec::TextFormat;
using texttest::iconvBytes;

namespace {

std::string encoded(const std::string& utf8, const TextFormat& format) {
    auto out = textcodec::encodeText(utf8, format);
    if (auto* bytes = std::get_if<std::string>(&out)) return *bytes;
    const auto& refused = std::get<textcodec::Unencodable>(out);
    return "<refused U+" + std::to_string(static_cast<unsigned>(refused.character)) + ">";
}

struct Sample {
    const char* encoding;  // the WHATWG name
    const char* iconv;     // glibc's name of it
    const char* text;      // with line breaks of each kind
};

// One sample for each encoding offered (the table must cover them all).
const std::vector<Sample> kSamples{
    {"UTF-8", "UTF-8", "Grüße, 日本語 😀\r\nnext\n"},
    {"UTF-16LE", "UTF-16LE", "Grüße, 日本語 😀\r\nnext\n"},
    {"UTF-16BE", "UTF-16BE", "Grüße, 日本語 😀\r\nnext\n"},
    {"windows-1252", "CP1252", "Caf\u00e9 \u20ac \u201cquoted\u201d \u0152uvre \u2026\r\nna\u00efve\r\n"},
    {"ISO-8859-15", "ISO-8859-15", "\u20ac \u0153 \u0160 \u017d \u00e9\n"},
    {"macintosh", "MACINTOSH", "Caf\u00e9 \u2020 \u00ae \u03c0\r"},
    {"windows-1250", "CP1250", "P\u0159\u00edli\u0161 \u017elu\u0165ou\u010dk\u00fd k\u016f\u0148\r\n"},
    {"ISO-8859-2", "ISO-8859-2", "Za\u017c\u00f3\u0142\u0107 g\u0119\u015bl\u0105 ja\u017a\u0144\n"},
    {"windows-1257", "CP1257", "\u0100\u017e\u0161 \u0113\u012b\u016b \u2019\n"},
    {"ISO-8859-13", "ISO-8859-13", "\u0100\u017e\u0161 \u0113\u012b\u016b \u201d\n"},
    {"windows-1251", "CP1251", "\u0421\u044a\u0435\u0448\u044c \u0436\u0435 \u0435\u0449\u0451 \u2116\r\n"},
    {"KOI8-R", "KOI8-R", "\u0421\u044a\u0435\u0448\u044c \u0436\u0435 \u0435\u0449\u0451\n"},
    {"KOI8-U", "KOI8-U", "\u0407\u0436\u0430\u043a \u0491\u0454\n"},
    {"ISO-8859-5", "ISO-8859-5", "\u041f\u0440\u0438\u0432\u0435\u0442 \u2116\n"},
    {"IBM866", "IBM866", "\u041f\u0440\u0438\u0432\u0435\u0442 \u2591\n"},
    {"windows-1253", "CP1253", "\u039a\u03b1\u03bb\u03b7\u03bc\u03ad\u03c1\u03b1 \u0386\n"},
    {"ISO-8859-7", "ISO-8859-7", "\u039a\u03b1\u03bb\u03b7\u03bc\u03ad\u03c1\u03b1\n"},
    {"windows-1254", "CP1254", "\u011f\u00fc\u015f\u0131\u00f6\u00e7 \u0130\n"},
    {"windows-1255", "CP1255", "\u05e9\u05dc\u05d5\u05dd \u20aa\n"},
    {"ISO-8859-8", "ISO-8859-8", "\u05e9\u05dc\u05d5\u05dd\n"},
    {"windows-1256", "CP1256", "\u0645\u0631\u062d\u0628\u0627 \u067e\n"},
    {"ISO-8859-6", "ISO-8859-6", "\u0645\u0631\u062d\u0628\u0627\n"},
    {"windows-1258", "CP1258", "\u0111\u01b0\u01a1\u00e0 \u20ab\n"},
    {"windows-874", "CP874", "\u0e2a\u0e27\u0e31\u0e2a\u0e14\u0e35\n"},
    {"Shift_JIS", "CP932", "\u65e5\u672c\u8a9e\u306e\u30c6\u30ad\u30b9\u30c8\uff71\r\n\u2460\n"},
    {"EUC-JP", "EUC-JP", "\u65e5\u672c\u8a9e\u306e\u30c6\u30ad\u30b9\u30c8\n"},
    {"gb18030", "GB18030", "\u4e2d\u6587\u7f51\u9875 \u20ac \U00020000\n"},
    {"GBK", "GBK", "\u4e2d\u6587\u7f51\u9875\n"},
    {"Big5", "BIG5", "\u7e41\u9ad4\u4e2d\u6587\u7db2\u9801\n"},
    {"EUC-KR", "CP949", "\ud55c\uad6d\uc5b4 \ud398\uc774\uc9c0\n"},
};

}  // namespace

TEST(TextEncoding, EveryOfferedEncodingReadsItsFileAndWritesBackTheSameBytes) {
    std::vector<std::string> covered;
    for (const Sample& s : kSamples) {
        SCOPED_TRACE(s.encoding);
        const std::string bytes = iconvBytes(s.text, s.iconv);
        ASSERT_FALSE(bytes.empty()) << "iconv has no " << s.iconv;
        const auto read = textcodec::decodeText(bytes, "page.txt", std::string(s.encoding));
        EXPECT_EQ(read.format.encoding, s.encoding);
        EXPECT_EQ(read.format.source, TextFormat::Source::chosen);
        EXPECT_EQ(read.utf8, s.text);
        EXPECT_TRUE(read.lossless) << "first bad byte at " << read.firstBadOffset.value_or(0);
        EXPECT_EQ(encoded(read.utf8, read.format), bytes);
        // An edit changes only the bytes of what was edited.
        const std::string edited = "<b>" + read.utf8;
        EXPECT_EQ(encoded(edited, read.format), iconvBytes("<b>", s.iconv) + bytes);
        covered.push_back(s.encoding);
    }
    for (const auto& [name, shown] : textcodec::offeredEncodings()) {
        EXPECT_NE(std::find(covered.begin(), covered.end(), name), covered.end()) << name << " has no sample";
        EXPECT_EQ(textcodec::canonicalEncoding(name), name);
        EXPECT_EQ(textcodec::displayName(name), shown);
    }
}

TEST(TextEncoding, EveryByteOfASingleByteEncodingRoundTripsOrTheFileReadsAsLossy) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    for (const auto& [name, shown] : textcodec::offeredEncodings()) {
        SCOPED_TRACE(name);
        const auto read = textcodec::decodeText(all, "bytes.bin", name);
        if (read.lossless) {
            EXPECT_EQ(encoded(read.utf8, read.format), all);
        } else {
            ASSERT_TRUE(read.firstBadOffset);
            // The bytes up to the first bad one still read and write back as they were.
            const auto head = textcodec::decodeText(all.substr(0, *read.firstBadOffset), "bytes.bin", name);
            EXPECT_TRUE(head.lossless);
            EXPECT_EQ(encoded(head.utf8, head.format), all.substr(0, *read.firstBadOffset));
        }
    }
}

TEST(TextEncoding, Windows1252UnassignedBytesSurviveAsTheirC1Characters) {
    const std::string bytes = "<meta charset=\"iso-8859-1\">\x81\x8D\x8F\x90\x9D caf\xE9";
    const auto read = textcodec::decodeText(bytes, "old.php");
    EXPECT_EQ(read.format.encoding, "windows-1252");
    EXPECT_EQ(read.format.declared, "iso-8859-1");
    EXPECT_EQ(read.format.source, TextFormat::Source::declaration);
    EXPECT_TRUE(read.lossless);
    EXPECT_EQ(read.utf8, "<meta charset=\"iso-8859-1\">\u0081\u008D\u008F\u0090\u009D caf\u00e9");
    EXPECT_EQ(encoded(read.utf8, read.format), bytes);
}

TEST(TextEncoding, BytesThatDoNotReadAsTheEncodingMakeTheTextLossyAtTheirOffset) {
    struct Case {
        const char* what;
        std::string bytes;
        const char* encoding;
        std::size_t firstBad;
        bool replaced;  // U+FFFD stands for the bytes (a sequence read one way only shows what it reads as)
    };
    const std::vector<Case> cases{
        {"a byte windows-1253 leaves unassigned", std::string("ab\xD2" "c"), "windows-1253", 2, true},
        {"a Shift_JIS lead byte without its trail", std::string("\x93\xfa\x96{\x81"), "Shift_JIS", 4, true},
        {"a Shift_JIS code read one way only (NEC's copy of an IBM extension)", std::string("x\xed\x40"), "Shift_JIS", 1, false},
        {"UTF-8 that is not", std::string("ok \xC3(", 5), "UTF-8", 3, true},
        {"UTF-16 with an odd byte", std::string("a\0b", 3), "UTF-16LE", 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto read = textcodec::decodeText(c.bytes, "f.txt", std::string(c.encoding));
        EXPECT_FALSE(read.lossless);
        EXPECT_EQ(read.firstBadOffset, c.firstBad);
        EXPECT_EQ(read.utf8.find("\uFFFD") != std::string::npos, c.replaced) << read.utf8;
    }
}

TEST(TextEncoding, TheEncodingComesFromTheBomThenTheDeclarationThenUtf8ThenTheGuess) {
    const std::string japanese = iconvBytes(
        "<p>\u65e5\u672c\u8a9e\u306e\u30da\u30fc\u30b8\u3067\u3059\u3002\u3053\u308c\u306f\u30c6\u30b9\u30c8\u3067\u3059\u3002"
        "\u6587\u5b57\u30b3\u30fc\u30c9\u3092\u5224\u5b9a\u3057\u307e\u3059\u3002\u65e5\u672c\u8a9e\u306e\u6587\u7ae0\u3002</p>\n",
        "CP932");
    const std::string russian = iconvBytes(
        "<p>\u042d\u0442\u043e \u0440\u0443\u0441\u0441\u043a\u0430\u044f \u0441\u0442\u0440\u0430\u043d\u0438\u0446\u0430, "
        "\u043d\u0430\u043f\u0438\u0441\u0430\u043d\u043d\u0430\u044f \u0434\u043b\u044f \u043f\u0440\u043e\u0432\u0435\u0440\u043a\u0438 "
        "\u043a\u043e\u0434\u0438\u0440\u043e\u0432\u043a\u0438 \u0442\u0435\u043a\u0441\u0442\u0430.</p>\n",
        "CP1251");
    struct Case {
        const char* what;
        std::string bytes;
        const char* file;
        const char* encoding;
        TextFormat::Source source;
        const char* declared;
        bool bom;
    };
    const std::string filler(1100, ' ');
    const std::vector<Case> cases{
        {"a UTF-8 BOM over a declaration", "\xEF\xBB\xBF<meta charset=\"windows-1251\">", "a.html", "UTF-8",
         TextFormat::Source::bom, "windows-1251", true},
        {"a UTF-16LE BOM", std::string("\xFF\xFEh\0i\0", 6), "a.txt", "UTF-16LE", TextFormat::Source::bom, "", true},
        {"a UTF-16BE BOM", std::string("\xFE\xFF\0h\0i", 6), "a.txt", "UTF-16BE", TextFormat::Source::bom, "", true},
        {"meta charset over ASCII", "<!DOCTYPE html><html><head><meta charset=\"Shift_JIS\"></head>", "a.html", "Shift_JIS",
         TextFormat::Source::declaration, "Shift_JIS", false},
        {"meta http-equiv", "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=koi8-r\">", "a.htm", "KOI8-R",
         TextFormat::Source::declaration, "koi8-r", false},
        {"content without http-equiv does not count", "<meta content=\"text/html; charset=koi8-r\">", "a.htm", "UTF-8",
         TextFormat::Source::utf8Valid, "", false},
        {"a PHP page's meta after its code", "<?php header('X: y'); ?>\n<meta charset='latin1'>", "a.php", "windows-1252",
         TextFormat::Source::declaration, "latin1", false},
        {"a meta inside a comment", "<!-- <meta charset=\"big5\"> --><p>x</p>", "a.html", "UTF-8", TextFormat::Source::utf8Valid,
         "", false},
        {"a meta past the first 1024 bytes", "<html>" + filler + "<meta charset=\"big5\">", "a.html", "UTF-8",
         TextFormat::Source::utf8Valid, "", false},
        {"a meta in a plain text file", "<meta charset=\"big5\">", "a.txt", "UTF-8", TextFormat::Source::utf8Valid, "", false},
        {"an unknown label", "<meta charset=\"no-such\">", "a.html", "UTF-8", TextFormat::Source::utf8Valid, "", false},
        {"a meta naming UTF-16", "<meta charset=\"utf-16\">", "a.html", "UTF-8", TextFormat::Source::declaration, "utf-16", false},
        {"@charset at the start", "@charset \"ISO-8859-15\";\nbody{}", "s.css", "ISO-8859-15", TextFormat::Source::declaration,
         "ISO-8859-15", false},
        {"@charset not at the start", "\n@charset \"ISO-8859-15\";", "s.css", "UTF-8", TextFormat::Source::utf8Valid, "", false},
        {"an XML declaration", "<?xml version=\"1.0\" encoding='EUC-JP'?><r/>", "feed.xml", "EUC-JP",
         TextFormat::Source::declaration, "EUC-JP", false},
        {"valid UTF-8", "caf\xC3\xA9", "a.html", "UTF-8", TextFormat::Source::utf8Valid, "", false},
        {"Japanese without a declaration", japanese, "a.html", "Shift_JIS", TextFormat::Source::detected, "", false},
        {"Russian without a declaration", russian, "a.html", "windows-1251", TextFormat::Source::detected, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto read = textcodec::decodeText(c.bytes, c.file);
        EXPECT_EQ(read.format.encoding, c.encoding);
        EXPECT_EQ(read.format.source, c.source);
        EXPECT_EQ(read.format.declared, c.declared);
        EXPECT_EQ(read.format.bom, c.bom);
        EXPECT_TRUE(read.lossless);
        EXPECT_EQ(encoded(read.utf8, read.format), c.bytes);
    }
}

TEST(TextEncoding, AChosenEncodingGoesBeforeEverythingAndKeepsItsOwnBom) {
    const std::string bytes = "\xEF\xBB\xBF<meta charset=\"utf-8\">caf\xC3\xA9";
    const auto asLatin = textcodec::decodeText(bytes, "a.html", std::string("latin1"));
    EXPECT_EQ(asLatin.format.encoding, "windows-1252");
    EXPECT_FALSE(asLatin.format.bom);
    EXPECT_EQ(asLatin.format.declared, "utf-8");
    EXPECT_EQ(asLatin.utf8.substr(0, 6), "\u00ef\u00bb\u00bf");
    EXPECT_EQ(encoded(asLatin.utf8, asLatin.format), bytes);
    const auto asUtf8 = textcodec::decodeText(bytes, "a.html", std::string("UTF-8"));
    EXPECT_TRUE(asUtf8.format.bom);
    EXPECT_EQ(asUtf8.format.source, TextFormat::Source::chosen);
    EXPECT_EQ(encoded(asUtf8.utf8, asUtf8.format), bytes);
    // A label nobody knows chooses nothing.
    EXPECT_EQ(textcodec::decodeText(bytes, "a.html", std::string("klingon")).format.source, TextFormat::Source::bom);
}

TEST(TextEncoding, TheLineEndingsAreTold) {
    struct Case {
        std::string text;
        TextFormat::LineEnding ending;
    };
    using E = TextFormat::LineEnding;
    for (const Case& c : {Case{"a\nb\n", E::lf}, Case{"a\r\nb\r\n", E::crlf}, Case{"a\rb\r", E::cr}, Case{"a\r\nb\n", E::mixed},
                          Case{"a\nb\r", E::mixed}, Case{"no break", E::lf}, Case{"a\n\r\n", E::mixed}}) {
        EXPECT_EQ(textcodec::decodeText(c.text, "a.txt").format.lineEnding, c.ending) << c.text;
        EXPECT_EQ(textcodec::decodeText(c.text, "a.txt", std::string("KOI8-R")).format.lineEnding, c.ending) << c.text;
    }
}

TEST(TextEncoding, ACharacterTheEncodingCannotHoldIsNamedWithItsPlace) {
    TextFormat latin;
    latin.encoding = "windows-1252";
    const auto refused = textcodec::encodeText("one\r\ntwo\rthree \u00e9\u8a9e\n", latin);
    ASSERT_TRUE(std::holds_alternative<textcodec::Unencodable>(refused));
    const auto& at = std::get<textcodec::Unencodable>(refused);
    EXPECT_EQ(at.character, U'\u8a9e');
    EXPECT_EQ(at.line, 3u);
    EXPECT_EQ(at.column, 8u);
    TextFormat iso15;
    iso15.encoding = "ISO-8859-15";
    EXPECT_EQ(encoded("\u20ac", iso15), "\xA4");
    TextFormat unknown;
    unknown.encoding = "x-none";
    EXPECT_TRUE(std::holds_alternative<textcodec::Unencodable>(textcodec::encodeText("a", unknown)));
}

TEST(TextEncoding, LabelsAreReadAsTheEncodingStandardReadsThem) {
    EXPECT_EQ(textcodec::canonicalEncoding(" ISO-8859-1 "), "windows-1252");
    EXPECT_EQ(textcodec::canonicalEncoding("US-ASCII"), "windows-1252");
    EXPECT_EQ(textcodec::canonicalEncoding("x-sjis"), "Shift_JIS");
    EXPECT_EQ(textcodec::canonicalEncoding("GB2312"), "GBK");
    EXPECT_EQ(textcodec::canonicalEncoding("utf-16"), "UTF-16LE");
    EXPECT_EQ(textcodec::canonicalEncoding("ks_c_5601-1987"), "EUC-KR");
    EXPECT_EQ(textcodec::canonicalEncoding("iso-8859-16"), std::nullopt);  // no converter for it
    EXPECT_EQ(textcodec::canonicalEncoding("utf-7"), std::nullopt);
}

TEST(TextEncoding, TheDeclarationIsFoundWhereItStandsAndCanBeChanged) {
    const std::string page = "<html><head><meta http-equiv=\"content-type\" content=\"text/html;charset=Shift_JIS\">";
    const auto found = textcodec::findDeclaration(page, "/site/index.html");
    ASSERT_TRUE(found);
    EXPECT_EQ(page.substr(found->offset, found->length), "Shift_JIS");
    EXPECT_EQ(textcodec::withDeclaration(page, "/site/index.html", "UTF-8"),
              "<html><head><meta http-equiv=\"content-type\" content=\"text/html;charset=UTF-8\">");
    EXPECT_EQ(textcodec::withDeclaration("@charset \"koi8-r\";", "a.scss", "UTF-8"), "@charset \"UTF-8\";");
    EXPECT_EQ(textcodec::withDeclaration("plain", "a.html", "UTF-8"), "plain");
}
