#pragma once
// The one road between a text file's bytes and the editor's text, both ways. Everything that
// turns a file into text for the user, or text back into the file (opening and saving, the
// session's and the crash-kept text, the live preview's served files), goes through here.
//
// Reading (decodeText): the encoding is taken, first found wins, from
//   1. a byte-order mark (UTF-8, UTF-16LE, UTF-16BE);
//   2. the file's own declaration: in HTML and PHP files a <meta charset> or a <meta http-equiv=
//      "Content-Type" content="...; charset=..."> within the first 1024 bytes (found as the
//      HTML standard's prescan finds it), in style sheets an @charset "..."; at the very start,
//      in any file an XML declaration's encoding="...";
//   3. UTF-8, when every byte is valid UTF-8;
//   4. uchardet's guess (fed the parts of the file that hold bytes above ASCII); a guess that
//      does not hold every byte, or none, is windows-1252, which holds them all, and so is one
//      that reads the text as windows-1252 does (the detector cannot tell the Latin encodings
//      apart by a few accented letters).
// A chosen encoding (the user's "Reopen with Encoding") goes before all of these. Labels are
// read as the WHATWG Encoding Standard reads them ("iso-8859-1", "latin1" and "us-ascii" are
// windows-1252; "sjis" is Shift_JIS; "gb2312" is GBK), and names are that standard's.
// Conversion is ICU's (ucnv); ICU's converters map windows-1252's unassigned bytes (0x81 0x8D
// 0x8F 0x90 0x9D) to U+0081 etc. and back, as the standard does, so they round trip.
//
// Bytes that do not read as the encoding (invalid or unassigned sequences, and sequences the
// converter reads one way only, so that writing the text back would give other bytes) are never
// lost silently: `lossless` is then false (the text shows U+FFFD for bytes that do not read, and
// what a one-way sequence reads as), and the app keeps such a document read-only until the user
// picks an encoding that holds every byte.
//
// Line endings: the text keeps the file's own (CR LF, CR, LF, or a mix, each where it was); the
// editor page hands back each line's ending as it came (see resources/editor/editor.js), and
// encodeText writes the line breaks of the text as they are. `lineEnding` says what the file had,
// for the document's bar.
//
// Writing (encodeText): the text in the format's encoding, with its BOM when it had one; a
// character the encoding cannot hold refuses the whole text (nothing is written half-way), with
// the character and where it stands. A decode followed by an encode with no edit in between gives
// the very bytes that were read, for every encoding offered; an edit changes only the bytes of
// what was edited.
//
// No Qt; thread-safe (each call opens its own converters).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace textcodec {

struct TextFormat {
    // The WHATWG name: "UTF-8", "UTF-16LE", "UTF-16BE", "windows-1252", "ISO-8859-2",
    // "Shift_JIS", "EUC-JP", "gb18030", "GBK", "Big5", "KOI8-R", "windows-1251", ...
    std::string encoding = "UTF-8";
    bool bom = false;
    enum class LineEnding { lf, crlf, cr, mixed };
    // What the file's line breaks were (lf for a file without any).
    LineEnding lineEnding = LineEnding::lf;
    // The label the file declares, as written there (empty: no declaration).
    std::string declared;
    // Where the encoding came from.
    enum class Source { bom, declaration, utf8Valid, detected, chosen };
    Source source = Source::utf8Valid;

    bool operator==(const TextFormat&) const = default;
};

struct DecodedText {
    std::string utf8;
    TextFormat format;
    // False: some bytes do not read as this encoding (shown as U+FFFD); the document is read-only.
    bool lossless = true;
    // The offset in the file's bytes of the first that does not read as the encoding.
    std::optional<std::size_t> firstBadOffset;
};

// `fileName` (a name or a path) tells which declarations count (by its extension).
// `chosenEncoding`: a label the user chose; an unknown label counts as none.
DecodedText decodeText(std::string_view bytes, std::string_view fileName,
                       std::optional<std::string> chosenEncoding = {});

// A character the encoding cannot hold, and where it first stands: line and column from 1, the
// column in characters (code points); lines end at LF, CR LF or CR.
struct Unencodable {
    char32_t character;
    std::size_t line;
    std::size_t column;
};

// The file's bytes for `utf8` (valid UTF-8) in `format`: its encoding, its BOM. An encoding this
// road does not know is an Unencodable of the text's first character (nothing can be written).
std::variant<std::string /*bytes*/, Unencodable> encodeText(std::string_view utf8, const TextFormat& format);

// The encodings a user can choose among, by display name, in the order menus show them:
// (WHATWG name, display name), e.g. ("windows-1252", "Western (Windows-1252)").
std::vector<std::pair<std::string, std::string>> offeredEncodings();
// The display name of an encoding (its name when it is not offered).
std::string displayName(std::string_view encoding);
// The WHATWG name for a label (ASCII case and surrounding white space ignored); nothing for a
// label the standard does not know or this road cannot convert.
std::optional<std::string> canonicalEncoding(std::string_view label);
// "LF", "CRLF", "CR", "Mixed".
const char* lineEndingName(TextFormat::LineEnding ending);

// Where a file's declaration names its encoding: the label's offset and length in `text` (the
// file's bytes, or its text as UTF-8: the declarations are ASCII), and the label itself. Nothing
// when the file (as `fileName` tells its kind, see decodeText) declares none.
struct Declaration {
    std::size_t offset = 0;
    std::size_t length = 0;
    std::string label;
};
std::optional<Declaration> findDeclaration(std::string_view text, std::string_view fileName);

// The text with its declaration naming `encoding` instead (the same text when it has none).
std::string withDeclaration(std::string_view utf8, std::string_view fileName, std::string_view encoding);

}  // namespace textcodec
