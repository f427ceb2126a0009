#include "tandrel/foundation/VornServerAddress.h"

#include <QString>
#include <QUrl>
#include <algorithm>
#include <cctype>
#include <vector>

#include "platform/net/PercentEncoding.h"

namespace server_address {

namespace {

using Type = ConnectionType;

// A connection type's schemes: a new connection type is one line here (and its connector).
constexpr Scheme kSchemes[] = {
    {"ftp", Type::ftp, "FTP"},
    {"ftps", Type::ftp, "FTP"},
    {"http", Type::webDav, "WebDAV"},
    {"https", Type::webDav, "WebDAV"},
    {"webdav", Type::webDav, "WebDAV"},
    {"webdavs", Type::webDav, "WebDAV"},
    {"sftp", Type::sftp, "SFTP"},
};

bool has_schemes(Type type) {
    return std::any_of(std::begin(kSchemes), std::end(kSchemes), [type](const Scheme& s) { return s.type == type; });
}

const Scheme* find_scheme(std::string_view name) {
    for (const Scheme& s : kSchemes)
        if (s.name == name) return &s;
    return nullptr;
}

}  // namespace

std::string scheme_list(ConnectionType type) {
    std::vector<std::string> names;
    const bool all = !has_schemes(type);
    for (const Scheme& s : kSchemes)
        if (all || s.type == type) names.push_back(std::string(s.name) + "://");
    std::string out;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += i + 1 == names.size() ? " or " : ", ";
        out += names[i];
    }
    return out;
}

namespace {

std::string type_label(Type type) {
    for (const Scheme& s : kSchemes)
        if (s.type == type) return std::string(s.label);
    return {};
}

// "An FTP server's address starts with ftp:// or ftps://".
std::string starts_with_text(Type type) {
    const std::string label = type_label(type);
    if (label.empty()) return "A server's address starts with " + scheme_list(type) + ".";
    const bool vowel = !label.empty() && std::string_view("AEFHILMNORSX").find(label.front()) != std::string_view::npos;
    return std::string(vowel ? "An " : "A ") + label + " server's address starts with " + scheme_list(type) + ".";
}

bool blank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

// The scheme in front of "://" (RFC 3986: a letter, then letters, digits, "+", "-", "."),
// lower-cased; nothing when the text does not start with one.
std::optional<std::string> scheme_of(std::string_view text) {
    const size_t end = text.find("://");
    if (end == std::string_view::npos || end == 0) return std::nullopt;
    std::string name(text.substr(0, end));
    if (!std::isalpha(static_cast<unsigned char>(name.front()))) return std::nullopt;
    for (char& c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isalnum(u) && c != '+' && c != '-' && c != '.') return std::nullopt;
        c = static_cast<char>(std::tolower(u));
    }
    return name;
}

}  // namespace

std::span<const Scheme> schemes() { return kSchemes; }

VornError error_for(Problem problem, std::string_view typed, Type type) {
    std::string message;
    std::string name;
    switch (problem) {
        case Problem::empty:
            message = "The server address is empty. " + starts_with_text(type);
            name = "address_empty";
            break;
        case Problem::blanks_around:
            message = "The server address has spaces before or after it. Remove them and try again.";
            name = "address_blanks_around";
            break;
        case Problem::no_scheme:
            message = "The server address has no scheme. " + starts_with_text(type);
            name = "address_no_scheme";
            break;
        case Problem::unknown_scheme:
            message = "\u201C" + scheme_of(typed).value_or(std::string()) +
                      "://\u201D is not a scheme this app connects with. " + starts_with_text(type);
            name = "address_unknown_scheme";
            break;
        case Problem::scheme_of_other_type:
            message = "\u201C" + scheme_of(typed).value_or(std::string()) + "://\u201D is not a scheme of " +
                      type_label(type) + " servers. " + starts_with_text(type);
            name = "address_scheme_of_other_type";
            break;
        case Problem::no_host:
            message = "The server address names no server. " + starts_with_text(type);
            name = "address_no_host";
            break;
        case Problem::not_a_url:
            // The app's own error for it, as ever.
            return VornError(EnumManager::vorn_error_throws(EnumManager::vorn_error_throws::invalid_service_url));
    }
    return VornError{kDomain, static_cast<int64_t>(problem), std::move(message), std::move(name)};
}

std::optional<Problem> problem_of(const VornError& error) {
    if (EnumManager::is_error(error, EnumManager::vorn_error_throws::invalid_service_url)) return Problem::not_a_url;
    if (error.domain != kDomain || error.code < 1 || error.code > static_cast<int64_t>(Problem::not_a_url)) return std::nullopt;
    return static_cast<Problem>(error.code);
}

Expected<std::string> from_typed(std::string_view typed, Type type) {
    auto refuse = [&](Problem p) { return Expected<std::string>(error_for(p, typed, type)); };
    if (std::all_of(typed.begin(), typed.end(), blank)) return refuse(Problem::empty);
    if (blank(typed.front()) || blank(typed.back())) return refuse(Problem::blanks_around);
    const auto scheme = scheme_of(typed);
    if (!scheme) return refuse(Problem::no_scheme);
    const Scheme* known = find_scheme(*scheme);
    if (has_schemes(type)) {
        if (!known) return refuse(Problem::unknown_scheme);
        if (known->type != type) return refuse(Problem::scheme_of_other_type);
    }
    std::string address = net::escapeTypedUrl(typed);
    const QUrl url(QString::fromStdString(address), QUrl::StrictMode);
    if (!url.isValid()) return refuse(Problem::not_a_url);
    if (url.host().isEmpty()) return refuse(Problem::no_host);
    return address;
}

}  // namespace server_address
