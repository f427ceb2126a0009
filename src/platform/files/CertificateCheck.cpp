#include "platform/files/CertificateCheck.h"

#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <vector>

namespace files::detail {

namespace {

std::string nameLine(const X509_NAME* name) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (!bio) return {};
    X509_NAME_print_ex(bio, name, 0, (XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB & ~XN_FLAG_SPC_EQ) | ASN1_STRFLGS_UTF8_CONVERT);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string out(data ? data : "", size > 0 ? static_cast<std::size_t>(size) : 0);
    BIO_free(bio);
    return out;
}

std::string timeLine(const ASN1_TIME* time) {
    std::tm tm{};
    if (!time || ASN1_TIME_to_tm(time, &tm) != 1) return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

Certificate describe(X509* leaf, std::string reason) {
    Certificate c;
    const int size = i2d_X509(leaf, nullptr);
    if (size > 0) {
        c.der.resize(static_cast<std::size_t>(size));
        auto* out = reinterpret_cast<unsigned char*>(c.der.data());
        i2d_X509(leaf, &out);
    }
    c.subject = nameLine(X509_get_subject_name(leaf));
    c.issuer = nameLine(X509_get_issuer_name(leaf));
    c.notBefore = timeLine(X509_get0_notBefore(leaf));
    c.notAfter = timeLine(X509_get0_notAfter(leaf));
    c.reason = std::move(reason);
    return c;
}

bool namesHost(X509* leaf, const std::string& host) {
    if (X509_check_ip_asc(leaf, host.c_str(), 0) == 1) return true;
    return X509_check_host(leaf, host.data(), host.size(), 0, nullptr) == 1;
}

// The faults the verification of the chain on this thread meets (it runs within X509_verify_cert).
thread_local std::vector<int>* tFaults = nullptr;

// Notes each fault and lets the verification go on, so that the user is told all of them
// (a self-signed certificate that has also expired); verifyChain decides.
int noteFault(int ok, X509_STORE_CTX* store) {
    if (!ok && tFaults) {
        const int error = X509_STORE_CTX_get_error(store);
        if (std::find(tFaults->begin(), tFaults->end(), error) == tFaults->end()) tFaults->push_back(error);
    }
    return 1;
}

// Replaces the chain verification of every connection of the transfer.
int verifyChain(X509_STORE_CTX* store, void* arg) {
    auto* check = static_cast<CertificateCheck*>(arg);
    std::vector<int> faults;
    tFaults = &faults;
    X509_STORE_CTX_set_verify_cb(store, noteFault);
    const int verified = X509_verify_cert(store);
    tFaults = nullptr;
    if (verified != 1 && faults.empty()) faults.push_back(X509_STORE_CTX_get_error(store));
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    if (!leaf) {
        X509_STORE_CTX_set_error(store, faults.empty() ? X509_V_ERR_UNSPECIFIED : faults.front());
        return 0;
    }
    std::string reason;
    for (int fault : faults) reason += (reason.empty() ? "" : "; ") + std::string(X509_verify_cert_error_string(fault));
    const bool named = namesHost(leaf, check->host);
    if (!named) reason += (reason.empty() ? "" : "; ") + ("the certificate is for another name than " + check->host);
    if (reason.empty()) return 1;
    Certificate certificate = describe(leaf, reason);
    TrustVerdict verdict = check->trust ? check->trust->checkCertificate(check->host, check->port, certificate)
                                        : TrustVerdict::unknown;
    if (verdict == TrustVerdict::trusted) {
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return 1;
    }
    check->refused = std::move(certificate);
    check->verdict = verdict;
    X509_STORE_CTX_set_error(store, faults.empty() ? X509_V_ERR_HOSTNAME_MISMATCH : faults.front());
    return 0;
}

using NewSession = int (*)(SSL*, SSL_SESSION*);

// libcurl's own callback for new sessions (one function for every connection), which ours wraps.
std::atomic<NewSession> curlsNewSession{nullptr};

// A session whose certificate was refused is not kept for resumption: a resumed session skips
// the verification, and would carry the refusal (or let a later refusal go unseen). The
// callback may come after the transfer that made the connection (a TLS 1.3 ticket read later),
// so it looks at nothing of that transfer.
int keepVerifiedSession(SSL* ssl, SSL_SESSION* session) {
    NewSession curls = curlsNewSession.load();
    if (!curls || SSL_get_verify_result(ssl) != X509_V_OK) return 0;
    return curls(ssl, session);
}

// FTP servers take a data connection only when it resumes the TLS session of its control
// connection (vsftpd's require_ssl_reuse, on by default; proftpd alike), and answer any other
// with "522 SSL connection failed: session reuse required". Under TLS 1.3, OpenSSL's client
// uses a cached session once: the handshake that resumes it marks it used up, and only the
// ticket the server sends after that handshake is good for the next connection. libcurl reads
// that ticket (and puts it in its cache in place of the used one) only when it reads from the
// connection: a data connection that only sends, an upload, is closed before the ticket comes,
// and the session libcurl then keeps is one OpenSSL no longer offers, so the next data
// connection of that control connection makes a new session and is refused. A connection
// resumes a copy instead, leaving the kept session resumable until a newer ticket replaces it
// (the servers' tickets are good for more than one connection). Installed at the start of each
// handshake, after libcurl has set the session to resume.
void resumeACopy(const SSL* ssl, int where, int) {
    if ((where & SSL_CB_HANDSHAKE_START) == 0) return;
    SSL* s = const_cast<SSL*>(ssl);
    SSL_SESSION* kept = SSL_get_session(s);
    if (!kept || SSL_SESSION_get_protocol_version(kept) != TLS1_3_VERSION || !SSL_SESSION_is_resumable(kept)) return;
    if (SSL_SESSION* copy = SSL_SESSION_dup(kept)) {
        SSL_set_session(s, copy);
        SSL_SESSION_free(copy);
    }
}

// The system's trust store (the bundle and folder libcurl was built to use), read once for the
// process: reading the bundle costs tens of milliseconds, and FTP opens a TLS connection for
// every listing and transfer.
X509_STORE* systemStore() {
    static X509_STORE* const store = [] {
        CURL* easy = curl_easy_init();
        char* bundle = nullptr;
        char* folder = nullptr;
        std::string file, path;
        if (easy) {
            if (curl_easy_getinfo(easy, CURLINFO_CAINFO, &bundle) == CURLE_OK && bundle) file = bundle;
            if (curl_easy_getinfo(easy, CURLINFO_CAPATH, &folder) == CURLE_OK && folder) path = folder;
            curl_easy_cleanup(easy);
        }
        X509_STORE* s = X509_STORE_new();
        if (!s) return s;
        if (!file.empty()) X509_STORE_load_file(s, file.c_str());
        if (!path.empty()) X509_STORE_load_path(s, path.c_str());
        if (file.empty() && path.empty()) X509_STORE_set_default_paths(s);
        return s;
    }();
    return store;
}

CURLcode onContext(CURL*, void* sslContext, void* arg) {
    auto* check = static_cast<CertificateCheck*>(arg);
    auto* ctx = static_cast<SSL_CTX*>(sslContext);
    ++check->handshakes;
    if (X509_STORE* store = systemStore()) SSL_CTX_set1_cert_store(ctx, store);
    // The check lives for one transfer, the connection longer: no handshake after the first,
    // which would verify through a check that is gone.
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_cert_verify_callback(ctx, verifyChain, check);
    if (NewSession curls = SSL_CTX_sess_get_new_cb(ctx); curls && curls != keepVerifiedSession) {
        curlsNewSession.store(curls);
        SSL_CTX_sess_set_new_cb(ctx, keepVerifiedSession);
    }
    if (check->sessionStaysResumable && !SSL_CTX_get_info_callback(ctx)) SSL_CTX_set_info_callback(ctx, resumeACopy);
    return CURLE_OK;
}

}  // namespace

void armCertificateCheck(CURL* easy, CertificateCheck& check) {
    check.handshakes = 0;
    check.refused.reset();
    check.verdict = TrustVerdict::unknown;
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    if (curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, onContext) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, &check) == CURLE_OK) {
        // The name is checked in verifyChain, where a certificate the user trusted passes; the
        // system's trust store is put in place there too, instead of libcurl reading it anew
        // for every connection.
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr);
        curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    } else {
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    }
}

std::pair<std::string, int> hostAndPort(const std::string& authority, const std::string& scheme) {
    std::string host = authority;
    std::string port;
    if (!host.empty() && host.front() == '[') {
        const auto close = host.find(']');
        if (close != std::string::npos) {
            if (close + 1 < host.size() && host[close + 1] == ':') port = host.substr(close + 2);
            host = host.substr(1, close - 1);
        }
    } else if (const auto colon = host.rfind(':'); colon != std::string::npos) {
        port = host.substr(colon + 1);
        host.resize(colon);
    }
    int number = 0;
    for (char c : port) {
        if (c < '0' || c > '9') {
            number = 0;
            break;
        }
        number = number * 10 + (c - '0');
        if (number > 65535) {
            number = 0;
            break;
        }
    }
    if (number <= 0)
        number = scheme == "ftps" ? 990 : scheme == "https" ? 443 : scheme == "http" ? 80 : scheme == "sftp" ? 22 : 21;
    return {host, number};
}

std::optional<Certificate> describeCertificate(const std::string& der, std::string reason) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
    X509* leaf = d2i_X509(nullptr, &bytes, static_cast<long>(der.size()));
    if (!leaf) return std::nullopt;
    Certificate c = describe(leaf, std::move(reason));
    X509_free(leaf);
    return c;
}

TrustQuestion certificateQuestion(const CertificateCheck& check) {
    TrustQuestion q;
    q.subject = TrustQuestion::Subject::certificate;
    q.host = check.host;
    q.port = check.port;
    q.verdict = check.verdict;
    if (check.refused) q.certificate = *check.refused;
    const Certificate& c = q.certificate;
    const std::string where = check.host + " (port " + std::to_string(check.port) + ")";
    if (check.verdict == TrustVerdict::changed) {
        q.title = "The server's certificate has changed";
        q.message = "The certificate of " + where +
                    " has changed: it is not the one you trusted before. It may have been renewed, or somebody may be "
                    "posing as the server.\n\n";
    } else {
        q.title = "The server's certificate is not trusted";
        q.message = "The certificate of " + where + " could not be verified.\n\n";
    }
    q.message += "Reason: " + c.reason + "\nSubject: " + c.subject + "\nIssuer: " + c.issuer +
                 "\nValid from: " + c.notBefore + "\nValid until: " + c.notAfter +
                 "\nSHA-256 fingerprint: " + c.fingerprint() +
                 "\n\nTrust this certificate for this server? Nothing is sent to the server before you decide.";
    return q;
}

}  // namespace files::detail
