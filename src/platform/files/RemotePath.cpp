#include "platform/files/RemotePath.h"

#include "platform/defaults/Utf8.h"
#include "platform/net/PercentEncoding.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace files::path {

namespace {

bool isControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Length of the valid UTF-8 sequence starting at i, or 0 when the byte there starts none.
std::size_t validSequenceLength(std::string_view s, std::size_t i) { return defaults::utf8SequenceLength(s, i); }

}  // namespace

std::optional<FileError> check(std::string_view path) {
    for (unsigned char c : path) {
        if (isControl(c)) return FileError::make(ErrorKind::invalidPath, "control character in the path");
    }
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        std::string_view segment = path.substr(start, end - start);
        if (segment == "." || segment == "..")
            return FileError::make(ErrorKind::invalidPath, "\".\" and \"..\" are not allowed in a path");
        start = end + 1;
    }
    return std::nullopt;
}

std::optional<FileError> checkName(std::string_view name) {
    if (name.empty()) return FileError::make(ErrorKind::invalidPath, "the name is empty");
    if (name.find('/') != std::string_view::npos)
        return FileError::make(ErrorKind::invalidPath, "a name cannot contain \"/\"");
    return check(name);
}

std::string normalize(std::string_view path) {
    std::string out = "/";
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) {
            if (out.size() > 1) out.push_back('/');
            out.append(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return out;
}

std::string join(std::string_view folder, std::string_view name) {
    std::string base = normalize(folder);
    std::string tail = normalize(name);
    if (tail == "/") return base;
    if (base == "/") return tail;
    return base + tail;
}

std::string parent(std::string_view path) {
    std::string p = normalize(path);
    std::size_t slash = p.rfind('/');
    if (slash == 0 || slash == std::string::npos) return "/";
    return p.substr(0, slash);
}

std::string lastComponent(std::string_view path) {
    std::string p = normalize(path);
    return p.substr(p.rfind('/') + 1);
}

bool isSameOrInside(std::string_view path, std::string_view folder) {
    std::string p = normalize(path);
    std::string f = normalize(folder);
    if (f == "/") return true;
    if (p == f) return true;
    return p.size() > f.size() && p.compare(0, f.size(), f) == 0 && p[f.size()] == '/';
}

std::string encodePath(std::string_view path) { return net::percentEncode(path, "/"); }
std::string encodeComponent(std::string_view component) { return net::percentEncode(component); }

std::string percentDecode(std::string_view text) { return net::percentDecode(text); }

bool isValidUtf8(std::string_view bytes) { return defaults::isValidUtf8(bytes); }

namespace {
constexpr std::uint32_t kCarrier = 0xF700;  // U+F700 to U+F7FF: private use

std::uint32_t codePoint(std::string_view s, std::size_t i, std::size_t n) {
    auto b = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<unsigned char>(s[i + k])); };
    if (n == 1) return b(0);
    if (n == 2) return ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
    if (n == 3) return ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
    return ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
}

void appendCarrier(std::string& out, std::uint32_t cp) {  // cp in U+F700..U+F7FF: three bytes
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
}
}  // namespace

std::string fromServer(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = validSequenceLength(bytes, i);
        if (n == 0) {
            appendCarrier(out, kCarrier + static_cast<unsigned char>(bytes[i]));
            i += 1;
            continue;
        }
        const std::uint32_t cp = codePoint(bytes, i, n);
        if (cp >= kCarrier && cp <= kCarrier + 0xFF) appendCarrier(out, kCarrier);
        out.append(bytes.substr(i, n));
        i += n;
    }
    return out;
}

std::string toServer(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = validSequenceLength(text, i);
        if (n == 0) {  // raw bytes stay raw
            out.push_back(text[i]);
            i += 1;
            continue;
        }
        const std::uint32_t cp = codePoint(text, i, n);
        if (cp == kCarrier && i + n < text.size()) {
            // The marker: the carrier-range character after it is the server's own.
            const std::size_t m = validSequenceLength(text, i + n);
            const std::uint32_t next = m > 0 ? codePoint(text, i + n, m) : 0;
            if (next >= kCarrier && next <= kCarrier + 0xFF) {
                out.append(text.substr(i + n, m));
                i += n + m;
                continue;
            }
        }
        if (cp >= kCarrier + 0x80 && cp <= kCarrier + 0xFF) out.push_back(static_cast<char>(cp - kCarrier));
        else out.append(text.substr(i, n));
        i += n;
    }
    return out;
}

std::string forDisplay(std::string_view text) { return decodeLenient(toServer(text)); }

namespace {
// The code points of valid UTF-8 text, each with its bytes.
std::vector<std::pair<std::uint32_t, std::string>> codePoints(std::string_view text) {
    std::vector<std::pair<std::uint32_t, std::string>> out;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = validSequenceLength(text, i);
        if (n == 0) n = 1;  // not expected in this form; kept byte by byte
        out.emplace_back(n == 1 ? static_cast<unsigned char>(text[i]) : codePoint(text, i, n), std::string(text.substr(i, n)));
        i += n;
    }
    return out;
}
}  // namespace

std::string renamedKeepingBytes(std::string_view original, std::string_view typed) {
    // The original as units, each shown as one character: a marked carrier character (two code
    // points) shows as itself, a carried byte as U+FFFD, anything else as itself.
    struct Unit {
        std::string bytes;
        std::uint32_t shown;
    };
    std::vector<Unit> units;
    const auto points = codePoints(original);
    for (std::size_t k = 0; k < points.size(); ++k) {
        const auto& [cp, bytes] = points[k];
        if (cp == kCarrier && k + 1 < points.size() && points[k + 1].first >= kCarrier &&
            points[k + 1].first <= kCarrier + 0xFF) {
            units.push_back({bytes + points[k + 1].second, points[k + 1].first});
            ++k;
        } else if (cp >= kCarrier + 0x80 && cp <= kCarrier + 0xFF) {
            units.push_back({bytes, 0xFFFD});
        } else {
            units.push_back({bytes, cp});
        }
    }
    const auto typed_points = codePoints(typed);
    std::size_t prefix = 0;
    while (prefix < units.size() && prefix < typed_points.size() && units[prefix].shown == typed_points[prefix].first) {
        ++prefix;
    }
    std::size_t suffix = 0;
    while (suffix < units.size() - prefix && suffix < typed_points.size() - prefix &&
           units[units.size() - 1 - suffix].shown == typed_points[typed_points.size() - 1 - suffix].first) {
        ++suffix;
    }
    std::string out;
    for (std::size_t k = 0; k < prefix; ++k) out += units[k].bytes;
    std::string middle;
    for (std::size_t k = prefix; k < typed_points.size() - suffix; ++k) middle += typed_points[k].second;
    out += fromServer(middle);  // typed text: a character of the carrier range gets its marker
    for (std::size_t k = units.size() - suffix; k < units.size(); ++k) out += units[k].bytes;
    return out;
}

std::string decodeLenient(std::string_view bytes) {
    if (isValidUtf8(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t n = validSequenceLength(bytes, i);
        if (n == 0) {
            out.append("\xEF\xBF\xBD");
            i += 1;
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

}  // namespace files::path
