#include "platform/web/JsString.h"

#include <vector>

#include "platform/defaults/Utf8.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace web {

namespace {

using defaults::utf8SequenceLength;

// Printable ASCII that stands for itself inside a quoted literal.
constexpr auto kPlainAscii = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x7F; ++c) plain[c] = true;
    for (unsigned char c : {'\\', '\'', '"', '<'}) plain[c] = false;
    return plain;
}();

}  // namespace

std::string jsStringEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8 + 8);
    size_t i = 0;
    while (i < text.size()) {
        // Runs of printable ASCII that needs no escape go in whole.
        size_t run = i;
        while (run < text.size() && kPlainAscii[static_cast<unsigned char>(text[run])]) ++run;
        if (run > i) {
            out.append(text.data() + i, run - i);
            i = run;
            if (i == text.size()) break;
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
                case '\\': out += "\\\\"; break;
                case '\'': out += "\\'"; break;
                case '"': out += "\\\""; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\t': out += "\\t"; break;
                case '<':
                    // "</" becomes "<\/": the same string, but never the end of an inline script.
                    out += '<';
                    if (i + 1 < text.size() && text[i + 1] == '/') {
                        out += "\\/";
                        ++i;
                    }
                    break;
                default:
                    if (c < 0x20 || c == 0x7F) {
                        char buf[8];
                        std::snprintf(buf, sizeof buf, "\\x%02X", c);
                        out += buf;
                    } else {
                        out += static_cast<char>(c);
                    }
            }
            ++i;
            continue;
        }
        const size_t n = utf8SequenceLength(text, i);
        if (n == 0) {
            out += "\\uFFFD";
            ++i;
            continue;
        }
        // U+2028 and U+2029 (E2 80 A8 / E2 80 A9) end a line in older script grammars.
        if (n == 3 && c == 0xE2 && static_cast<unsigned char>(text[i + 1]) == 0x80) {
            const auto b2 = static_cast<unsigned char>(text[i + 2]);
            if (b2 == 0xA8 || b2 == 0xA9) {
                out += b2 == 0xA8 ? "\\u2028" : "\\u2029";
                i += 3;
                continue;
            }
        }
        out.append(text.substr(i, n));
        i += n;
    }
    return out;
}

std::string jsStringLiteral(std::string_view text) {
    std::string out = "'";
    out += jsStringEscape(text);
    out += '\'';
    return out;
}

namespace {

bool isIdentifierStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '$'; }
bool isIdentifierPart(char c) { return isIdentifierStart(c) || (c >= '0' && c <= '9'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

void skipSpace(std::string_view s, size_t& i) {
    while (i < s.size() && isSpace(s[i])) ++i;
}

// A quoted literal at s[i] whose every escape is one a script reads the same in any mode.
bool skipStringLiteral(std::string_view s, size_t& i) {
    const char quote = s[i++];
    while (i < s.size()) {
        // The body is mostly plain bytes: step over them quickly.
        const char c = s[i];
        if (c == quote) {
            ++i;
            return true;
        }
        if (c == '\n' || c == '\r') return false;
        if (c != '\\') {
            ++i;
            continue;
        }
        if (++i >= s.size()) return false;
        const char e = s[i];
        if (e == 'x') {
            if (i + 2 >= s.size() || !isHex(s[i + 1]) || !isHex(s[i + 2])) return false;
            i += 3;
        } else if (e == 'u') {
            if (i + 4 >= s.size() || !isHex(s[i + 1]) || !isHex(s[i + 2]) || !isHex(s[i + 3]) || !isHex(s[i + 4])) {
                return false;
            }
            i += 5;
        } else if (e == '0') {
            if (i + 1 < s.size() && isDigit(s[i + 1])) return false;  // an octal escape
            ++i;
        } else if (e == '\\' || e == '\'' || e == '"' || e == 'n' || e == 'r' || e == 't' || e == 'b' || e == 'f' ||
                   e == 'v' || e == '/') {
            ++i;
        } else {
            return false;
        }
    }
    return false;
}

bool skipNumber(std::string_view s, size_t& i) {
    if (s[i] == '-') ++i;
    const size_t digits = i;
    while (i < s.size() && isDigit(s[i])) ++i;
    if (i == digits) return false;
    if (s[digits] == '0' && i - digits > 1) return false;  // a legacy octal number
    if (i < s.size() && s[i] == '.') {
        const size_t fraction = ++i;
        while (i < s.size() && isDigit(s[i])) ++i;
        if (i == fraction) return false;
    }
    return true;
}

bool skipWord(std::string_view s, size_t& i, std::string_view word) {
    if (s.substr(i, word.size()) != word) return false;
    i += word.size();
    return i >= s.size() || !isIdentifierPart(s[i]);
}

bool skipArgument(std::string_view s, size_t& i) {
    if (i >= s.size()) return false;
    const char c = s[i];
    if (c == '\'' || c == '"') return skipStringLiteral(s, i);
    if (c == '-' || isDigit(c)) return skipNumber(s, i);
    return skipWord(s, i, "true") || skipWord(s, i, "false") || skipWord(s, i, "null");
}

// The script without white space and one ";" at its end.
std::string_view trimmedCall(std::string_view s) {
    size_t end = s.size();
    while (end > 0 && isSpace(s[end - 1])) --end;
    if (end > 0 && s[end - 1] == ';') --end;
    while (end > 0 && isSpace(s[end - 1])) --end;
    return s.substr(0, end);
}

// A function that serializes its argument r for the app: strings of 64 KiB or more are lifted out
// of the JSON text into the list b (in their place stands the marker m, a NUL, a random word and
// ":", then their index), so the bulk of a large result crosses as a plain string instead of being
// escaped here and unescaped in the app. Page messages cross the same way (see the message shim).
//
// Each lifted string gets an id (listed in n), and the page keeps the strings it lifted last (for
// a few seconds). A later result holding one of them again, whose id the app names as still held
// (the list h the app puts into each call), carries only the marker, "=" and that id: a text the
// app has just been given (a session's state read back right after it was made) does not cross
// twice.
constexpr const char* kResultEncoderHead = "(function(h){return function(r){";
constexpr const char* kResultEncoderBody =
    "var w=window.__dravixLifted;if(!w){w={list:[],timer:0};"
    "Object.defineProperty(window,\"__dravixLifted\",{value:w});}"
    "var b=[],n=[],keep=[],j,m=\"\\u0000\"+Math.random().toString(36).slice(2)+\":\";"
    "try{j=JSON.stringify(r,function(k,x){if(typeof x===\"string\"&&x.length>=65536){"
    "for(var i=0;i<w.list.length;i++){var e=w.list[i];"
    "if(h.indexOf(e.id)>=0&&e.s.length===x.length&&e.s===x){keep.push(e);return m+\"=\"+e.id;}}"
    "var a=new Uint32Array(4);crypto.getRandomValues(a);var d=\"\";"
    "for(var q=0;q<4;q++)d+=(\"00000000\"+a[q].toString(16)).slice(-8);"
    "b.push(x);n.push(d);keep.push({id:d,s:x});return m+(b.length-1);}return x;});}"
    "catch(x){j=undefined;b=[];n=[];keep=[];}"
    "if(keep.length){w.list=keep;clearTimeout(w.timer);w.timer=setTimeout(function(){w.list=[];},3000);}"
    "return{ok:1,v:(typeof j===\"string\"?j:\"null\"),b:b,n:n,m:m};};})";

std::string resultEncoder(const std::vector<std::string>& held) {
    std::string out = kResultEncoderHead;
    out += kResultEncoderBody;
    out += "([";
    for (std::size_t i = 0; i < held.size(); ++i) {
        if (i) out += ',';
        out += jsStringLiteral(held[i]);
    }
    out += "])";
    return out;
}

constexpr const char* kErrorTail =
    "}catch(e){var m;try{m=(e&&e.name&&e.message!==undefined)?(e.name+\": \"+e.message):String(e);}"
    "catch(x){m=\"script error\";}return{ok:0,e:m};}})()";

}  // namespace

bool isLiteralCall(std::string_view script) {
    size_t i = 0;
    const std::string_view s = trimmedCall(script);
    skipSpace(s, i);
    for (bool first = true;; first = false) {
        if (i >= s.size() || !isIdentifierStart(s[i])) return false;
        const size_t name = i;
        while (i < s.size() && isIdentifierPart(s[i])) ++i;
        // Inside the wrapper these two would not mean what they mean at the top level.
        const std::string_view word = s.substr(name, i - name);
        if (first && (word == "eval" || word == "arguments")) return false;
        if (i < s.size() && s[i] == '.') {
            ++i;
            continue;
        }
        break;
    }
    skipSpace(s, i);
    if (i >= s.size() || s[i] != '(') return false;
    ++i;
    skipSpace(s, i);
    if (i < s.size() && s[i] == ')') return i + 1 == s.size();
    for (;;) {
        if (!skipArgument(s, i)) return false;
        skipSpace(s, i);
        if (i >= s.size()) return false;
        if (s[i] == ')') return i + 1 == s.size();
        if (s[i] != ',') return false;
        ++i;
        skipSpace(s, i);
    }
}

std::string wrapForEvaluation(std::string_view script) { return wrapForEvaluation(script, {}); }

std::string wrapForEvaluation(std::string_view script, const std::vector<std::string>& held) {
    const std::string encoder = resultEncoder(held);
    std::string out;
    if (isLiteralCall(script)) {
        // A call with literal arguments means the same as an expression as it does as a program,
        // and it cannot fail to parse: it goes in as it is, read once by the page.
        const std::string_view call = trimmedCall(script);
        out.reserve(call.size() + 600);
        out += "(function(){try{return";
        out += encoder;
        out += "((";
        out += call;
        out += "));";
    } else {
        out.reserve(script.size() + script.size() / 8 + 600);
        out += "(function(){try{return";
        out += encoder;
        out += "((0,eval)(";
        out += jsStringLiteral(script);
        out += "));";
    }
    out += kErrorTail;
    return out;
}

}  // namespace web
