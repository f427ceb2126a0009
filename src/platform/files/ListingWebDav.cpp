// WebDAV's answers: PROPFIND multi-status documents read into entries (elements matched by
// namespace, not prefix), the resource type of a folder's own entry, and the first failure a
// multi-status answer reports.

#include "platform/files/ListingParsers.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstring>

#include "platform/files/ListingText.h"
#include "platform/files/RemotePath.h"

namespace files::parse {

using namespace text;

namespace {

// ---- XML with namespaces -------------------------------------------------------------------

constexpr std::string_view kDav = "DAV:";

// The xmlns declarations in scope, innermost last, with a small cache of resolved prefixes
// (a response names the same two or three prefixes over and over).
struct Scope {
    std::vector<std::pair<std::string_view, std::string_view>> decls;
    struct Cached {
        std::string_view prefix;
        bool dav = false;
        bool valid = false;
    };
    mutable Cached cache[4];
    mutable unsigned next = 0;

    void invalidate() {
        for (auto& c : cache) c.valid = false;
    }
    std::size_t enter(const pugi::xml_node& node) {
        std::size_t mark = decls.size();
        for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
            const char* name = a.name();
            if (std::strncmp(name, "xmlns", 5) != 0) continue;
            if (name[5] == '\0') decls.emplace_back(std::string_view{}, a.value());
            else if (name[5] == ':') decls.emplace_back(std::string_view(name + 6), a.value());
        }
        if (decls.size() != mark) invalidate();
        return mark;
    }
    void leave(std::size_t mark) {
        if (decls.size() != mark) {
            decls.resize(mark);
            invalidate();
        }
    }

    std::string_view namespaceOf(std::string_view prefix) const {
        for (auto it = decls.rbegin(); it != decls.rend(); ++it) {
            if (it->first == prefix) return it->second;
        }
        return {};
    }
    bool isDavPrefix(std::string_view prefix) const {
        for (const auto& c : cache) {
            if (c.valid && c.prefix == prefix) return c.dav;
        }
        Cached& slot = cache[next++ % 4];
        slot = {prefix, namespaceOf(prefix) == kDav, true};
        return slot.dav;
    }
    // The element's local name when it is in the DAV: namespace, "" otherwise (also for text).
    std::string_view davName(const pugi::xml_node& node) const {
        const char* name = node.name();
        std::size_t colon = std::string_view::npos, n = 0;
        for (; name[n]; ++n) {
            if (name[n] == ':' && colon == std::string_view::npos) colon = n;
        }
        std::string_view full(name, n);
        std::string_view prefix = colon == std::string_view::npos ? std::string_view{} : full.substr(0, colon);
        std::string_view local = colon == std::string_view::npos ? full : full.substr(colon + 1);
        return isDavPrefix(prefix) ? local : std::string_view{};
    }
};

// The decoded server path of an href ("http://h/a%20b/" and "/a%20b/" both give "/a b/").
// An href names a resource, never a query or a fragment: some servers write "#" and "?" of
// names as they are, so both stay part of the path.
std::string hrefPath(std::string_view href) {
    href = trim(href);
    std::size_t scheme = href.find("://");
    if (scheme != std::string_view::npos) {
        std::size_t slash = href.find('/', scheme + 3);
        href = slash == std::string_view::npos ? std::string_view("/") : href.substr(slash);
    }
    return path::percentDecode(href);
}

struct PropValues {
    bool haveType = false;
    bool collection = false;
    std::optional<std::int64_t> length;
    std::optional<Date> modified;
    std::optional<Date> created;
};

void readProp(const pugi::xml_node& prop, Scope& scope, PropValues& out);

// One response element: its first href (decoded) and the properties of its 2xx propstats.
// False when it has no href.
bool readResponse(const pugi::xml_node& response, Scope& scope, std::string& href, PropValues& values) {
    bool haveHref = false;
    for (pugi::xml_node child = response.first_child(); child; child = child.next_sibling()) {
        std::size_t mark = scope.enter(child);
        std::string_view name = scope.davName(child);
        if (name == "href") {
            if (!haveHref) href = hrefPath(child.child_value());
            haveHref = true;
        } else if (name == "propstat") {
            int status = 0;
            pugi::xml_node prop;
            for (pugi::xml_node ps = child.first_child(); ps; ps = ps.next_sibling()) {
                std::size_t m2 = scope.enter(ps);
                std::string_view psName = scope.davName(ps);
                if (psName == "status") status = statusCode(ps.child_value());
                else if (psName == "prop") prop = ps;
                scope.leave(m2);
            }
            if (status >= 200 && status < 300 && prop) {
                // The prop element's own declarations were dropped with its scope: enter again.
                std::size_t m3 = scope.enter(prop);
                readProp(prop, scope, values);
                scope.leave(m3);
            }
        }
        scope.leave(mark);
    }
    return haveHref;
}

void readProp(const pugi::xml_node& prop, Scope& scope, PropValues& out) {
    for (pugi::xml_node p = prop.first_child(); p; p = p.next_sibling()) {
        std::size_t mark = scope.enter(p);
        std::string_view name = scope.davName(p);
        if (name == "resourcetype") {
            out.haveType = true;
            for (pugi::xml_node t = p.first_child(); t; t = t.next_sibling()) {
                std::size_t m2 = scope.enter(t);
                if (scope.davName(t) == "collection") out.collection = true;
                scope.leave(m2);
            }
        } else if (name == "getcontentlength") {
            std::int64_t n;
            if (toNumber(trim(p.child_value()), n)) out.length = n;
        } else if (name == "getlastmodified") {
            std::string_view v = trim(p.child_value());
            out.modified = httpDate(v);
            if (!out.modified) out.modified = rfc3339(v);
        } else if (name == "creationdate") {
            std::string_view v = trim(p.child_value());
            out.created = rfc3339(v);
            if (!out.created) out.created = httpDate(v);
        }
        scope.leave(mark);
    }
}

}  // namespace

// ---- WebDAV --------------------------------------------------------------------------------

int statusCode(std::string_view statusLine) {
    statusLine = trim(statusLine);
    std::size_t space = statusLine.find(' ');
    if (space == std::string_view::npos) return 0;
    std::string_view rest = statusLine.substr(space + 1);
    int code = 0;
    if (rest.size() < 3 || !toNumber(rest.substr(0, 3), code) || code < 100) return 0;
    return code;
}

std::string statusText(std::string_view statusLine) {
    statusLine = trim(statusLine);
    std::size_t space = statusLine.find(' ');
    if (space == std::string_view::npos) return {};
    std::string_view rest = statusLine.substr(space + 1);
    std::size_t second = rest.find(' ');
    if (second == std::string_view::npos) return {};
    return std::string(trim(rest.substr(second + 1)));
}

std::optional<std::vector<FileObject>> propfind(std::string_view xml, std::string_view basePath,
                                                std::string_view folder) {
    std::string copy(xml);
    return propfindInPlace(copy, basePath, folder);
}

std::optional<std::vector<FileObject>> propfindInPlace(std::string& xml, std::string_view basePath,
                                                       std::string_view folder) {
    pugi::xml_document doc;
    constexpr unsigned kOptions = pugi::parse_minimal | pugi::parse_escapes | pugi::parse_cdata;
    if (!doc.load_buffer_inplace(xml.data(), xml.size(), kOptions)) return std::nullopt;
    pugi::xml_node root = doc.document_element();
    Scope scope;
    scope.enter(root);
    if (scope.davName(root) != "multistatus") return std::nullopt;

    const std::string prefix = childPrefix(folder);
    const std::string ownServerPath = path::join(basePath, path::toServer(folder));
    std::vector<FileObject> entries;
    entries.reserve(xml.size() / 512 + 1);
    std::string normalized;
    for (pugi::xml_node response = root.first_child(); response; response = response.next_sibling()) {
        std::size_t responseMark = scope.enter(response);
        if (scope.davName(response) != "response") {
            scope.leave(responseMark);
            continue;
        }
        std::string href;
        PropValues values;
        const bool haveHref = readResponse(response, scope, href, values);
        scope.leave(responseMark);
        if (!haveHref) continue;

        std::string_view serverPath = href;
        const bool slashEnded = serverPath.size() > 1 && serverPath.back() == '/';
        while (serverPath.size() > 1 && serverPath.back() == '/') serverPath.remove_suffix(1);
        if (serverPath.empty() || serverPath.front() != '/' || serverPath.find("//") != std::string_view::npos) {
            normalized = path::normalize(serverPath);
            serverPath = normalized;
        }
        if (serverPath == ownServerPath) continue;
        std::string_view rawName = serverPath.substr(serverPath.rfind('/') + 1);
        if (rawName.empty() || rawName == "." || rawName == "..") continue;
        if (!usableName(rawName)) continue;

        FileObject entry = entryFor(rawName, prefix);
        if (values.haveType) entry.type = values.collection ? FileType::directory : FileType::regular;
        else entry.type = slashEnded ? FileType::directory : FileType::unknown;
        // What a server sends as a folder's length (often its size on disk) is no file size.
        if (values.length && !entry.isDirectory()) entry.size = *values.length;
        entry.modificationDate = values.modified;
        entry.creationDate = values.created;
        entries.push_back(std::move(entry));
    }
    return entries;
}

namespace {

// Calls `f` with each DAV:response element of a DAV:multistatus document (its namespaces in
// scope) until `f` gives a value; nothing when the text is no such document or no call gave one.
template <typename T, typename F>
std::optional<T> firstFromResponses(std::string_view xml, F&& f) {
    pugi::xml_document doc;
    if (!doc.load_buffer(xml.data(), xml.size())) return std::nullopt;
    pugi::xml_node root = doc.document_element();
    Scope scope;
    scope.enter(root);
    if (scope.davName(root) != "multistatus") return std::nullopt;
    for (pugi::xml_node response = root.first_child(); response; response = response.next_sibling()) {
        const std::size_t mark = scope.enter(response);
        std::optional<T> found;
        if (scope.davName(response) == "response") found = f(response, scope);
        scope.leave(mark);
        if (found) return found;
    }
    return std::nullopt;
}

}  // namespace

std::optional<FileType> propfindOwnType(std::string_view xml) {
    return firstFromResponses<FileType>(xml, [](const pugi::xml_node& response, Scope& scope) -> std::optional<FileType> {
        std::string href;
        PropValues values;
        if (!readResponse(response, scope, href, values)) return std::nullopt;
        if (!values.haveType) return FileType::unknown;
        return values.collection ? FileType::directory : FileType::regular;
    });
}

std::optional<MultistatusFailure> firstMultistatusFailure(std::string_view xml) {
    return firstFromResponses<MultistatusFailure>(
        xml, [](const pugi::xml_node& response, Scope& scope) -> std::optional<MultistatusFailure> {
            MultistatusFailure failure;
            std::string statusLine;
            for (pugi::xml_node child = response.first_child(); child; child = child.next_sibling()) {
                const std::size_t mark = scope.enter(child);
                std::string_view name = scope.davName(child);
                if (name == "href" && failure.href.empty()) failure.href = hrefPath(child.child_value());
                else if (name == "status") statusLine = child.child_value();
                else if (name == "propstat" && statusLine.empty()) {
                    for (pugi::xml_node ps = child.first_child(); ps; ps = ps.next_sibling()) {
                        const std::size_t inner = scope.enter(ps);
                        if (scope.davName(ps) == "status") {
                            int code = statusCode(ps.child_value());
                            if (code < 200 || code >= 300) statusLine = ps.child_value();
                        }
                        scope.leave(inner);
                    }
                }
                scope.leave(mark);
            }
            const int code = statusCode(statusLine);
            if (code == 0 || (code >= 200 && code < 300)) return std::nullopt;
            failure.status = code;
            failure.text = statusText(statusLine);
            return failure;
        });
}

}  // namespace files::parse
