// Decoding and encoding over ICU's converters, the encoding's choice, and the line endings' count.
#include "platform/text/TextEncoding.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <uchardet/uchardet.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/defaults/Utf8.h"

namespace textcodec {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

// ICU's converter for each WHATWG name, named exactly (several of ICU's aliases are ambiguous).
const char* icuName(std::string_view encoding) {
    static const std::map<std::string, const char*, std::less<>> names{
        {"UTF-8", "UTF-8"},
        {"UTF-16LE", "UTF-16LE"},
        {"UTF-16BE", "UTF-16BE"},
        {"IBM866", "ibm-866_P100-1995"},
        {"ISO-8859-2", "ibm-912_P100-1995"},
        {"ISO-8859-3", "ibm-913_P100-2000"},
        {"ISO-8859-4", "ibm-914_P100-1995"},
        {"ISO-8859-5", "ibm-915_P100-1995"},
        {"ISO-8859-6", "ibm-1089_P100-1995"},
        {"ISO-8859-7", "ibm-9005_X110-2007"},
        {"ISO-8859-8", "ibm-5012_P100-1999"},
        {"ISO-8859-8-I", "ibm-5012_P100-1999"},
        {"ISO-8859-10", "iso-8859_10-1998"},
        {"ISO-8859-13", "ibm-921_P100-1995"},
        {"ISO-8859-14", "iso-8859_14-1998"},
        {"ISO-8859-15", "ibm-923_P100-1998"},
        {"KOI8-R", "ibm-878_P100-1996"},
        {"KOI8-U", "ibm-1168_P100-2002"},
        {"macintosh", "macos-0_2-10.2"},
        {"windows-874", "windows-874-2000"},
        {"windows-1250", "ibm-5346_P100-1998"},
        {"windows-1251", "ibm-5347_P100-1998"},
        {"windows-1252", "ibm-5348_P100-1997"},
        {"windows-1253", "ibm-5349_P100-1998"},
        {"windows-1254", "ibm-5350_P100-1998"},
        {"windows-1255", "ibm-9447_P100-2002"},
        {"windows-1256", "ibm-9448_X100-2005"},
        {"windows-1257", "ibm-9449_P100-2002"},
        {"windows-1258", "ibm-5354_P100-1998"},
        {"x-mac-cyrillic", "macos-7_3-10.2"},
        {"GBK", "windows-936-2000"},
        {"gb18030", "gb18030"},
        {"Big5", "windows-950-2000"},
        {"EUC-JP", "euc-jp-2007"},
        {"ISO-2022-JP", "ISO_2022,locale=ja,version=0"},
        {"Shift_JIS", "ibm-943_P15A-2003"},
        {"EUC-KR", "windows-949-2000"},
    };
    const auto it = names.find(encoding);
    return it == names.end() ? nullptr : it->second;
}

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter openConverter(const char* name) {
    UErrorCode error = U_ZERO_ERROR;
    Converter c(ucnv_open(name, &error));
    if (U_FAILURE(error)) return nullptr;
    return c;
}

// ---- callbacks ------------------------------------------------------------------------------

// Bytes that do not read as the encoding: the first one's offset is noted, and U+FFFD stands for
// them in the text.
struct BadBytes {
    const char* start = nullptr;
    std::optional<std::size_t> first;
};

void noteBadBytes(const void* context, UConverterToUnicodeArgs* args, const char* codeUnits, int32_t length,
                              UConverterCallbackReason reason, UErrorCode* error) {
    if (reason > UCNV_IRREGULAR) return;  // reset, close, clone
    auto* bad = static_cast<BadBytes*>(const_cast<void*>(context));
    if (!bad->first) {
        // `source` has gone past the bad bytes; a sequence cut at the end is all in codeUnits.
        const auto past = static_cast<std::size_t>(args->source - bad->start);
        bad->first = past >= static_cast<std::size_t>(length) ? past - static_cast<std::size_t>(length) : 0;
    }
    *error = U_ZERO_ERROR;
    static const UChar replacement = 0xFFFD;
    ucnv_cbToUWriteUChars(args, &replacement, 1, 0, error);
    (void)codeUnits;
}

// A character the encoding has no bytes for: the first is noted and the conversion stops.
struct Refused {
    std::optional<char32_t> character;
};

void refuseCharacter(const void* context, UConverterFromUnicodeArgs*, const UChar*, int32_t, UChar32 codePoint,
                                 UConverterCallbackReason reason, UErrorCode*) {
    if (reason > UCNV_IRREGULAR) return;
    auto* refused = static_cast<Refused*>(const_cast<void*>(context));
    if (!refused->character) refused->character = static_cast<char32_t>(codePoint);
    // The error stays set: the conversion ends here.
}

// ---- converting -----------------------------------------------------------------------------

// Runs `from` -> `to` over the whole input a block at a time, handing each block of output to
// `sink`; false when the sink says stop or a callback stopped the conversion.
template <class Sink>
bool convert(UConverter* to, UConverter* from, std::string_view input, Sink&& sink) {
    std::array<char, 64 * 1024> block;
    std::array<UChar, 16 * 1024> pivot;
    UChar* pivotSource = pivot.data();
    UChar* pivotTarget = pivot.data();
    const char* source = input.data();
    const char* const sourceLimit = input.data() + input.size();
    bool reset = true;
    for (;;) {
        char* target = block.data();
        UErrorCode error = U_ZERO_ERROR;
        ucnv_convertEx(to, from, &target, block.data() + block.size(), &source, sourceLimit, pivot.data(), &pivotSource,
                       &pivotTarget, pivot.data() + pivot.size(), reset, true, &error);
        reset = false;
        const std::string_view out(block.data(), static_cast<std::size_t>(target - block.data()));
        if (!out.empty() && !sink(out)) return false;
        if (error == U_BUFFER_OVERFLOW_ERROR) continue;
        return U_SUCCESS(error);
    }
}

// Whether every byte a single-byte converter reads reads back to itself (no mapping it reads
// one way only): the text of such an encoding is then written back as read without a check.
bool bytesRoundTrip(const char* name) {
    static std::mutex lock;
    static std::map<std::string, bool> known;
    std::lock_guard guard(lock);
    if (auto it = known.find(name); it != known.end()) return it->second;
    Converter c = openConverter(name);
    bool all = c && ucnv_getMaxCharSize(c.get()) == 1;
    if (all) {
        UErrorCode error = U_ZERO_ERROR;
        ucnv_setToUCallBack(c.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
        ucnv_setFromUCallBack(c.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
    }
    for (int b = 0; all && b < 256; ++b) {
        const char byte = static_cast<char>(b);
        UChar read[4];
        UErrorCode error = U_ZERO_ERROR;
        ucnv_resetToUnicode(c.get());
        const int32_t n = ucnv_toUChars(c.get(), read, 4, &byte, 1, &error);
        if (U_FAILURE(error)) continue;  // unassigned: caught when reading
        char back[8];
        ucnv_resetFromUnicode(c.get());
        const int32_t m = ucnv_fromUChars(c.get(), back, sizeof back, read, n, &error);
        all = U_SUCCESS(error) && m == 1 && back[0] == byte;
    }
    known[name] = all;
    return all;
}

struct Decoded {
    std::string utf8;
    std::optional<std::size_t> firstBad;
};

// The bytes read in `encoding` (the name of a converter that opens), with the first byte that
// does not read as it, or would not be written back as it was.
Decoded decodeWith(std::string_view bytes, const char* name) {
    Decoded out;
    Converter from = openConverter(name);
    Converter utf8 = openConverter("UTF-8");
    if (!from || !utf8) {
        out.firstBad = 0;
        return out;
    }
    BadBytes bad{bytes.data(), std::nullopt};
    UErrorCode error = U_ZERO_ERROR;
    ucnv_setToUCallBack(from.get(), noteBadBytes, &bad, nullptr, nullptr, &error);
    out.utf8.reserve(bytes.size() + bytes.size() / 4 + 16);
    convert(utf8.get(), from.get(), bytes, [&](std::string_view block) {
        out.utf8.append(block);
        return true;
    });
    out.firstBad = bad.first;
    // The Unicode forms, and single-byte encodings whose every byte reads back to itself, write
    // back what they read.
    const std::string_view n(name);
    if (out.firstBad || n == "UTF-8" || n == "UTF-16LE" || n == "UTF-16BE" || bytesRoundTrip(name)) return out;
    // A sequence read one way only would come back as other bytes: the text is written back
    // and compared with the file, block by block.
    Converter to = openConverter(name);
    Converter back = openConverter("UTF-8");
    Refused refused;
    error = U_ZERO_ERROR;
    ucnv_setFromUCallBack(to.get(), refuseCharacter, &refused, nullptr, nullptr, &error);
    std::size_t at = 0;
    const bool whole = convert(to.get(), back.get(), out.utf8, [&](std::string_view block) {
        const std::size_t n = std::min(block.size(), bytes.size() - at);
        const auto differ = std::mismatch(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n), bytes.begin() + static_cast<std::ptrdiff_t>(at));
        if (differ.first != block.begin() + static_cast<std::ptrdiff_t>(n) || n < block.size()) {
            out.firstBad = at + static_cast<std::size_t>(differ.first - block.begin());
            return false;
        }
        at += n;
        return true;
    });
    if (!out.firstBad && (!whole || at != bytes.size())) out.firstBad = at;
    return out;
}

TextFormat::LineEnding lineEndingOf(std::string_view s) {
    const void* firstCr = std::memchr(s.data(), '\r', s.size());
    if (!firstCr) return TextFormat::LineEnding::lf;
    bool lf = false, crlf = false, cr = false;
    // Every LF before the first CR stands alone.
    lf = std::memchr(s.data(), '\n', static_cast<std::size_t>(static_cast<const char*>(firstCr) - s.data())) != nullptr;
    for (std::size_t i = static_cast<std::size_t>(static_cast<const char*>(firstCr) - s.data()); i < s.size(); ++i) {
        if (s[i] == '\r') {
            if (i + 1 < s.size() && s[i + 1] == '\n') {
                crlf = true;
                ++i;
            } else {
                cr = true;
            }
        } else if (s[i] == '\n') {
            lf = true;
        }
    }
    const int kinds = int(lf) + int(crlf) + int(cr);
    if (kinds > 1) return TextFormat::LineEnding::mixed;
    if (crlf) return TextFormat::LineEnding::crlf;
    if (cr) return TextFormat::LineEnding::cr;
    return TextFormat::LineEnding::lf;
}

// uchardet's guess from the parts of the file that hold bytes above ASCII (a whole file of
// megabytes would take it a quarter of a second; what it needs is in those parts).
std::optional<std::string> guessEncoding(std::string_view bytes) {
    constexpr std::size_t kBlock = 4096;
    constexpr std::size_t kBlocks = 32;
    std::unique_ptr<std::remove_pointer_t<uchardet_t>, void (*)(uchardet_t)> detector(uchardet_new(), uchardet_delete);
    if (!detector) return std::nullopt;
    std::size_t fed = 0;
    for (std::size_t at = 0; at < bytes.size() && fed < kBlocks; at += kBlock) {
        const std::string_view block = bytes.substr(at, kBlock);
        bool high = false;
        for (const char c : block) {
            if (static_cast<unsigned char>(c) >= 0x80) {
                high = true;
                break;
            }
        }
        if (!high) continue;
        uchardet_handle_data(detector.get(), block.data(), block.size());
        ++fed;
    }
    uchardet_data_end(detector.get());
    const std::string name = uchardet_get_charset(detector.get());
    if (name == "MAC-CYRILLIC") return "x-mac-cyrillic";
    if (name == "UHC") return "EUC-KR";
    return canonicalEncoding(name);
}

// The decode of `bytes` (a BOM already taken off) in `encoding`; `validUtf8`: the bytes are
// known to be valid UTF-8 already.
DecodedText decodeIn(std::string_view bytes, const std::string& encoding, TextFormat format, std::size_t skipped,
                     bool validUtf8 = false) {
    DecodedText result;
    result.format = std::move(format);
    result.format.encoding = encoding;
    if (encoding == "UTF-8" && (validUtf8 || defaults::isValidUtf8(bytes))) {
        result.utf8.assign(bytes);
    } else {
        const char* name = icuName(encoding);
        Decoded d = decodeWith(bytes, name ? name : "");
        result.utf8 = std::move(d.utf8);
        if (d.firstBad) {
            result.lossless = false;
            result.firstBadOffset = *d.firstBad + skipped;
        }
    }
    result.format.lineEnding = lineEndingOf(result.utf8);
    return result;
}

// Where (line, column) the first `character` of the text stands.
Unencodable positionOf(std::string_view utf8, char32_t character) {
    Unencodable at{character, 1, 1};
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::size_t n = std::max<std::size_t>(1, defaults::utf8SequenceLength(utf8, i));
        char32_t cp = static_cast<unsigned char>(utf8[i]);
        if (n > 1) {
            cp &= (0xFF >> (n + 1));
            for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        if (cp == character) return at;
        if (cp == '\n' || (cp == '\r' && !(i + 1 < utf8.size() && utf8[i + 1] == '\n'))) {
            ++at.line;
            at.column = 1;
        } else if (cp != '\r') {
            ++at.column;
        }
        i += n;
    }
    return at;
}

char32_t firstCharacter(std::string_view utf8) {
    if (utf8.empty()) return 0;
    const std::size_t n = defaults::utf8SequenceLength(utf8, 0);
    char32_t cp = static_cast<unsigned char>(utf8[0]);
    if (n <= 1) return cp;
    cp &= (0xFF >> (n + 1));
    for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[k]) & 0x3F);
    return cp;
}

}  // namespace

DecodedText decodeText(std::string_view bytes, std::string_view fileName, std::optional<std::string> chosenEncoding) {
    TextFormat format;
    // The declaration is the file's own, whatever decides the encoding; in a UTF-16 file it
    // cannot be read from the bytes (and is not looked for).
    const auto declaration = findDeclaration(bytes, fileName);
    if (declaration) format.declared = declaration->label;

    const std::optional<std::string> chosen = chosenEncoding ? canonicalEncoding(*chosenEncoding) : std::nullopt;
    if (chosen && icuName(*chosen)) {
        format.source = TextFormat::Source::chosen;
        // A BOM of the chosen encoding stays a BOM; any other bytes are text in it.
        if ((*chosen == "UTF-8" && bytes.starts_with(kUtf8Bom)) ||
            (*chosen == "UTF-16LE" && bytes.starts_with(kUtf16LeBom)) ||
            (*chosen == "UTF-16BE" && bytes.starts_with(kUtf16BeBom))) {
            format.bom = true;
            const std::size_t skip = *chosen == "UTF-8" ? 3 : 2;
            return decodeIn(bytes.substr(skip), *chosen, std::move(format), skip);
        }
        return decodeIn(bytes, *chosen, std::move(format), 0);
    }

    format.source = TextFormat::Source::bom;
    format.bom = true;
    if (bytes.starts_with(kUtf8Bom)) return decodeIn(bytes.substr(3), "UTF-8", std::move(format), 3);
    if (bytes.starts_with(kUtf16LeBom)) return decodeIn(bytes.substr(2), "UTF-16LE", std::move(format), 2);
    if (bytes.starts_with(kUtf16BeBom)) return decodeIn(bytes.substr(2), "UTF-16BE", std::move(format), 2);
    format.bom = false;

    if (declaration) {
        if (auto declared = canonicalEncoding(declaration->label); declared && icuName(*declared)) {
            format.source = TextFormat::Source::declaration;
            // A declaration read as ASCII cannot stand in UTF-16 text: such a page is UTF-8, as
            // browsers read it.
            if (*declared == "UTF-16LE" || *declared == "UTF-16BE") declared = "UTF-8";
            return decodeIn(bytes, *declared, std::move(format), 0);
        }
    }

    if (defaults::isValidUtf8(bytes)) {
        format.source = TextFormat::Source::utf8Valid;
        return decodeIn(bytes, "UTF-8", std::move(format), 0, true);
    }

    format.source = TextFormat::Source::detected;
    DecodedText western = decodeIn(bytes, "windows-1252", format, 0);
    if (auto guess = guessEncoding(bytes); guess && icuName(*guess) && *guess != "UTF-8" && *guess != "windows-1252") {
        DecodedText read = decodeIn(bytes, *guess, std::move(format), 0);
        // A guess that reads the text as windows-1252 does (a few accented letters, which the
        // detector cannot tell among the Latin encodings) is windows-1252, the standard's
        // default for such pages.
        if (read.lossless && read.utf8 != western.utf8) return read;
    }
    // No guess, one that does not hold every byte, or one that reads as it: windows-1252, which
    // holds them all.
    return western;
}

std::variant<std::string, Unencodable> encodeText(std::string_view utf8, const TextFormat& format) {
    std::string out;
    if (format.encoding == "UTF-8") {
        out.reserve(utf8.size() + 3);
        if (format.bom) out.append(kUtf8Bom);
        out.append(utf8);
        return out;
    }
    const char* name = icuName(format.encoding);
    Converter to = name ? openConverter(name) : nullptr;
    Converter from = openConverter("UTF-8");
    if (!to || !from) return positionOf(utf8, firstCharacter(utf8));
    if (format.bom) {
        if (format.encoding == "UTF-16LE") out.append(kUtf16LeBom);
        else if (format.encoding == "UTF-16BE") out.append(kUtf16BeBom);
    }
    Refused refused;
    UErrorCode error = U_ZERO_ERROR;
    ucnv_setFromUCallBack(to.get(), refuseCharacter, &refused, nullptr, nullptr, &error);
    out.reserve(out.size() + (ucnv_getMaxCharSize(to.get()) > 1 ? utf8.size() + utf8.size() / 2 : utf8.size()));
    const bool whole = convert(to.get(), from.get(), utf8, [&](std::string_view block) {
        out.append(block);
        return true;
    });
    if (refused.character) return positionOf(utf8, *refused.character);
    if (!whole) return positionOf(utf8, firstCharacter(utf8));
    return out;
}

}  // namespace textcodec
