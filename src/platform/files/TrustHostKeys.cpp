// SSH host keys: the user's ~/.ssh/known_hosts (only ever read) and the app's own known_hosts,
// both in OpenSSH's format: "[@marker] patterns type base64-key [comment]", the patterns plain
// ("host", "[host]:port", "*.example.com", "!bad"), or hashed ("|1|salt|hash", HMAC-SHA1 of
// the name keyed by the salt). A key marked @revoked is never trusted (it counts as changed);
// @cert-authority lines name no host key and are passed over. Keys the user accepts are added
// to the app's file under a hashed name, in an atomic rewrite of the file.

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/defaults/AtomicFile.h"
#include "platform/defaults/Base64.h"
#include "platform/files/TrustHostKeys.h"

namespace files {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// OpenSSH's wildcard match: "*" any run, "?" any one character.
bool glob(std::string_view pattern, std::string_view text) {
    std::size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
    while (t < text.size()) {
        // "*" is a wildcard before it is a character: a name holding one is still matched.
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::string hmacSha1(std::string_view key, std::string_view data) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(data.data()),
         data.size(), out, &length);
    return std::string(reinterpret_cast<const char*>(out), length);
}

std::optional<std::string> readFile(const std::filesystem::path& file, bool& unreadable) {
    unreadable = false;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        unreadable = true;
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string typeLabel(const std::string& type) {
    if (type == "ssh-ed25519") return "ED25519";
    if (type.rfind("ecdsa-sha2-", 0) == 0) return "ECDSA";
    if (type == "ssh-rsa") return "RSA";
    if (type == "ssh-dss") return "DSA";
    return type;
}

}  // namespace

std::string HostKey::fingerprint() const {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(blob.data(), blob.size(), digest, &length, EVP_sha256(), nullptr);
    std::string text = defaults::base64Encode(std::string_view(reinterpret_cast<const char*>(digest), length));
    while (!text.empty() && text.back() == '=') text.pop_back();
    return "SHA256:" + text;
}

std::string knownHostsName(const std::string& host, int port) {
    const std::string name = lower(host);
    return port == 22 || port <= 0 ? name : "[" + name + "]:" + std::to_string(port);
}

namespace knownhosts {

std::optional<Entry> parseLine(std::string_view line) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size() && fields.size() < 4) {
        while (i < line.size() && blank(line[i])) ++i;
        if (i >= line.size()) break;
        const std::size_t start = i;
        while (i < line.size() && !blank(line[i])) ++i;
        fields.push_back(line.substr(start, i - start));
    }
    if (fields.empty() || fields[0].front() == '#') return std::nullopt;
    Entry entry;
    std::size_t at = 0;
    if (fields[0].front() == '@') {
        entry.marker = fields[0] == "@revoked" ? Marker::revoked
                       : fields[0] == "@cert-authority" ? Marker::certAuthority
                                                        : Marker::unknown;
        at = 1;
    }
    if (fields.size() < at + 3) return std::nullopt;
    entry.hosts = std::string(fields[at]);
    entry.type = std::string(fields[at + 1]);
    auto blob = defaults::base64Decode(fields[at + 2]);
    if (!blob) return std::nullopt;
    entry.blob = std::move(*blob);
    return entry;
}

bool matchesHost(std::string_view patterns, const std::string& name) {
    if (patterns.rfind("|1|", 0) == 0) {
        const std::string_view rest = patterns.substr(3);
        const auto bar = rest.find('|');
        if (bar == std::string_view::npos) return false;
        auto salt = defaults::base64Decode(rest.substr(0, bar));
        auto hash = defaults::base64Decode(rest.substr(bar + 1));
        return salt && hash && hmacSha1(*salt, name) == *hash;
    }
    bool matched = false;
    std::size_t start = 0;
    while (start <= patterns.size()) {
        std::size_t end = patterns.find(',', start);
        if (end == std::string_view::npos) end = patterns.size();
        std::string_view pattern = patterns.substr(start, end - start);
        const bool negated = !pattern.empty() && pattern.front() == '!';
        if (negated) pattern.remove_prefix(1);
        if (!pattern.empty() && glob(lower(pattern), name)) {
            if (negated) return false;
            matched = true;
        }
        start = end + 1;
    }
    return matched;
}

std::string hashedName(const std::string& name) {
    unsigned char salt[20];
    RAND_bytes(salt, sizeof salt);
    const std::string_view saltBytes(reinterpret_cast<const char*>(salt), sizeof salt);
    return "|1|" + defaults::base64Encode(saltBytes) + "|" + defaults::base64Encode(hmacSha1(saltBytes, name));
}

}  // namespace knownhosts

namespace {

// The known_hosts lines of both files that name the server (markers other than @revoked left
// out), and whether a @revoked line has the key `revoked`.
std::vector<knownhosts::Entry> knownEntries(const std::vector<std::filesystem::path>& files, const std::string& name,
                                            const std::string* revoked, bool* isRevoked) {
    std::vector<knownhosts::Entry> out;
    for (const std::filesystem::path& file : files) {
        if (file.empty()) continue;
        bool unreadable = false;
        auto text = readFile(file, unreadable);
        if (!text) continue;
        std::istringstream lines(*text);
        for (std::string line; std::getline(lines, line);) {
            auto entry = knownhosts::parseLine(line);
            if (!entry || entry->marker == knownhosts::Marker::certAuthority) continue;
            if (entry->marker == knownhosts::Marker::revoked) {
                // A revoked key is refused whatever host it is listed with.
                if (revoked && isRevoked && entry->blob == *revoked) *isRevoked = true;
                continue;
            }
            if (entry->marker != knownhosts::Marker::none || !knownhosts::matchesHost(entry->hosts, name)) continue;
            out.push_back(std::move(*entry));
        }
    }
    return out;
}

}  // namespace

TrustVerdict Trust::checkHostKey(const std::string& host, int port, const HostKey& key) const {
    bool revoked = false;
    const auto entries = knownEntries({userKnownHosts_, knownHostsFile()}, knownHostsName(host, port), &key.blob, &revoked);
    if (revoked) return TrustVerdict::changed;
    bool trusted = false;
    for (const knownhosts::Entry& entry : entries) trusted = trusted || (entry.type == key.type && entry.blob == key.blob);
    if (trusted) return TrustVerdict::trusted;
    // Any other key known for the server, of this type or another: not this server's known key.
    return entries.empty() ? TrustVerdict::unknown : TrustVerdict::changed;
}

std::vector<std::string> Trust::knownHostKeyTypes(const std::string& host, int port) const {
    std::vector<std::string> types;
    for (const knownhosts::Entry& entry : knownEntries({userKnownHosts_, knownHostsFile()}, knownHostsName(host, port), nullptr, nullptr)) {
        if (std::find(types.begin(), types.end(), entry.type) == types.end()) types.push_back(entry.type);
    }
    return types;
}

bool Trust::addHostKey(const std::string& host, int port, const HostKey& key) {
    std::lock_guard lock(mutex_);
    const std::filesystem::path file = knownHostsFile();
    if (defaults::createPrivateDirectories(appFolder_)) return false;
    bool unreadable = false;
    std::string text = readFile(file, unreadable).value_or("");
    if (unreadable) return false;  // never overwritten
    if (!text.empty() && text.back() != '\n') text += '\n';
    text += knownhosts::hashedName(knownHostsName(host, port)) + " " + key.type + " " + defaults::base64Encode(key.blob) + "\n";
    return !defaults::writeFileAtomically(file, text);
}

TrustQuestion hostKeyQuestion(const Trust* trust, const std::string& host, int port, const HostKey& key,
                              TrustVerdict verdict, const std::string& jumpFor) {
    std::vector<std::string> known = trust ? trust->knownHostKeyTypes(host, port) : std::vector<std::string>{};
    const bool otherTypeOnly = !known.empty() && std::find(known.begin(), known.end(), key.type) == known.end();
    TrustQuestion q;
    q.subject = TrustQuestion::Subject::hostKey;
    q.host = host;
    q.port = port;
    q.verdict = verdict;
    q.hostKey = key;
    const bool jump = !jumpFor.empty();
    const std::string whose = jump ? "jump host's" : "server's";
    const std::string server = std::string(jump ? "the jump host " : "") + "\"" + host + "\"" +
                               (port == 22 ? std::string() : " (port " + std::to_string(port) + ")") +
                               (jump ? ", in front of the server \"" + jumpFor + "\"," : "");
    const std::string keyText = typeLabel(key.type) + " key fingerprint is " + key.fingerprint();
    if (verdict == TrustVerdict::changed) {
        q.acceptable = false;
        q.title = jump ? "The jump host's host key has changed" : "The server's host key has changed";
        const std::string name = knownHostsName(host, port);
        std::string knownText;
        if (otherTypeOnly) {
            std::string labels;
            for (const std::string& type : known) labels += (labels.empty() ? "" : ", ") + typeLabel(type);
            knownText = " The key known for it is of another type (" + labels + "), and the " +
                        (jump ? "jump host" : "server") + " did not show that one.";
        }
        q.message = "WARNING: the host key of " + server + " is not the one known for it. Someone could be "
                    "intercepting the connection, or the " + whose + " key was replaced. The " + whose + " " +
                    keyText + "." + knownText + " The connection was refused, and nothing was sent to " +
                    (jump ? "it" : "the server") + ".\n\nIf the " + whose + " administrator confirms the new key, remove the old one, then connect again:\n"
                    "  ssh-keygen -R \"" + name + "\"" +
                    (trust ? " -f \"" + trust->knownHostsFile().string() + "\"" : std::string()) +
                    "\n(and where it is in your own ~/.ssh/known_hosts: ssh-keygen -R \"" + name + "\")";
    } else {
        q.acceptable = true;
        q.title = jump ? "Unknown jump host" : "Unknown server";
        q.message = "The authenticity of " + server + " cannot be established: its host key is not known. The " +
                    keyText + ".\n\nTrust it only if it is the " + whose + " key, as its administrator can tell you. "
                    "Trusted keys are kept in " +
                    (trust ? trust->knownHostsFile().string() : std::string("the app's known_hosts")) + ".";
    }
    return q;
}

}  // namespace files
