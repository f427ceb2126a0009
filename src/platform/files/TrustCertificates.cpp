// The certificates the user chose to trust, one per host and port, in the app's data folder
// (trusted_certificates.json):
//   { "certificates": { "host:port": { "sha256": "AB:CD:...", "subject": "...", "issuer": "...",
//                                      "notBefore": "...", "notAfter": "..." } } }
// Only the fingerprint decides; the rest is kept for whoever reads the file. Trusting another
// certificate for the same host and port replaces the one before. The file is read at each
// check (checks are rare: only for a certificate the system's trust store refused), written
// atomically, and a file that cannot be read is kept aside before it is written again.

#include <openssl/evp.h>

#include <nlohmann/json.hpp>

#include "platform/defaults/AtomicFile.h"
#include "platform/files/Trust.h"

namespace files {

namespace {

using json = nlohmann::json;

std::string entryKey(const std::string& host, int port) {
    const bool v6 = host.find(':') != std::string::npos && host.front() != '[';
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

// The file's entries; nothing when it is there but cannot be read.
std::optional<json> readEntries(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return json::object();
    auto bytes = defaults::readWholeFile(file);
    if (!bytes) return std::nullopt;
    json doc = json::parse(*bytes, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) return std::nullopt;
    auto it = doc.find("certificates");
    if (it == doc.end()) return json::object();
    if (!it->is_object()) return std::nullopt;
    return *it;
}

}  // namespace

std::string Certificate::fingerprint() const {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(der.data(), der.size(), digest, &length, EVP_sha256(), nullptr) != 1) return {};
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(length * 3);
    for (unsigned int i = 0; i < length; ++i) {
        if (i) out.push_back(':');
        out.push_back(kHex[digest[i] >> 4]);
        out.push_back(kHex[digest[i] & 0x0f]);
    }
    return out;
}

TrustVerdict Trust::checkCertificate(const std::string& host, int port, const Certificate& certificate) const {
    std::lock_guard lock(mutex_);
    auto entries = readEntries(certificatesFile());
    if (!entries) return TrustVerdict::unknown;
    auto it = entries->find(entryKey(host, port));
    if (it == entries->end() || !it->is_object()) return TrustVerdict::unknown;
    const std::string pinned = it->value("sha256", std::string());
    if (pinned.empty()) return TrustVerdict::unknown;
    return pinned == certificate.fingerprint() ? TrustVerdict::trusted : TrustVerdict::changed;
}

bool Trust::addCertificate(const std::string& host, int port, const Certificate& certificate) {
    const std::string fingerprint = certificate.fingerprint();
    if (fingerprint.empty()) return false;
    std::lock_guard lock(mutex_);
    const std::filesystem::path file = certificatesFile();
    auto entries = readEntries(file);
    if (!entries) {
        // Kept aside, never written over: the user may want what it held.
        if (!defaults::keepAside(file)) return false;
        entries = json::object();
    }
    (*entries)[entryKey(host, port)] = json{{"sha256", fingerprint},
                                            {"subject", certificate.subject},
                                            {"issuer", certificate.issuer},
                                            {"notBefore", certificate.notBefore},
                                            {"notAfter", certificate.notAfter}};
    if (defaults::createPrivateDirectories(appFolder_)) return false;
    json doc{{"certificates", *entries}};
    return !defaults::writeFileAtomically(file, doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n");
}

}  // namespace files
