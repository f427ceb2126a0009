#include "tandrel/search/SiteFileFilter.h"

#include <fnmatch.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace sitesearch {

namespace {

// Extensions of files that are never text (compared without case).
constexpr std::array kBinaryExtensions = {
    "png", "jpg", "jpeg", "gif", "webp", "avif", "bmp", "ico", "tif", "tiff", "heic", "psd", "ai", "eps",
    "zip", "gz", "tgz", "bz2", "xz", "zst", "7z", "rar", "tar", "jar", "war", "phar",
    "woff", "woff2", "ttf", "otf", "eot",
    "mp3", "wav", "ogg", "oga", "flac", "m4a", "aac", "mp4", "m4v", "mov", "avi", "mkv", "webm", "ogv", "swf", "flv",
    "pdf", "doc", "docx", "xls", "xlsx", "ppt", "pptx", "odt", "ods", "odp",
    "exe", "dll", "so", "dylib", "bin", "o", "a", "class", "pyc", "wasm", "dat", "db", "sqlite", "mo"};

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

}  // namespace

std::vector<std::string> SiteFileFilter::parsePatterns(std::string_view text) {
    std::vector<std::string> out;
    std::string current;
    auto flush = [&] {
        if (!current.empty()) out.push_back(current);
        current.clear();
    };
    for (char c : text) {
        if (c == ',' || c == ' ' || c == '\t' || c == '\n' || c == ';') {
            flush();
        } else {
            current += c;
        }
    }
    flush();
    return out;
}

SiteFileFilter::SiteFileFilter(std::string_view includes, std::string_view excludes) {
    auto read = [](std::string_view text) {
        std::vector<Pattern> patterns;
        for (std::string glob : parsePatterns(text)) {
            Pattern p;
            while (glob.size() > 1 && glob.back() == '/') {
                glob.pop_back();
                p.foldersOnly = true;
            }
            if (glob == "/") continue;
            p.glob = std::move(glob);
            patterns.push_back(std::move(p));
        }
        return patterns;
    };
    includes_ = read(includes);
    excludes_ = read(excludes);
}

bool SiteFileFilter::matches(const std::vector<Pattern>& patterns, std::string_view name, bool isFolder) {
    const std::string n(name);
    return std::any_of(patterns.begin(), patterns.end(), [&](const Pattern& p) {
        if (p.foldersOnly && !isFolder) return false;
        return ::fnmatch(p.glob.c_str(), n.c_str(), 0) == 0;
    });
}

bool SiteFileFilter::searchesFolder(std::string_view name) const { return !matches(excludes_, name, true); }

bool SiteFileFilter::searchesFile(std::string_view name) const {
    if (hasBinaryExtension(name)) return false;
    if (matches(excludes_, name, false)) return false;
    std::vector<Pattern> fileIncludes;
    for (const Pattern& p : includes_) {
        if (!p.foldersOnly) fileIncludes.push_back(p);
    }
    return fileIncludes.empty() || matches(fileIncludes, name, false);
}

bool SiteFileFilter::hasBinaryExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    const std::string extension = lower(name.substr(dot + 1));
    return std::any_of(kBinaryExtensions.begin(), kBinaryExtensions.end(),
                       [&](const char* e) { return extension == e; });
}

bool SiteFileFilter::looksBinary(std::string_view bytes) {
    if (bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF'))) {
        return false;
    }
    return bytes.substr(0, kBinaryProbeBytes).find('\0') != std::string_view::npos;
}

}  // namespace sitesearch
