#pragma once
// The check of a server's TLS certificate for the curl-based providers. The chain is verified
// against the system's trust store and the name against the host, by OpenSSL, inside the
// handshake (before libcurl sends a login, an FTP USER or an HTTP request). A certificate that
// fails either is let through only when the user trusted that very certificate (its SHA-256)
// for the host and port; otherwise the handshake's result stays a failure, libcurl closes the
// connection, and the check keeps the certificate and the reason for the question to the user.

#include <memory>
#include <optional>
#include <string>

#include <curl/curl.h>

#include "platform/files/Trust.h"

namespace files::detail {

struct CertificateCheck {
    std::string host;  // as the certificate must name it (an IPv6 address without brackets)
    int port = 0;
    std::shared_ptr<Trust> trust;  // none: only the system's trust store counts
    // FTP: the session libcurl keeps for the server stays resumable when a connection resumes
    // it (see resumeACopy in the .cpp): every data connection must resume the control
    // connection's session, also after one that never read the ticket it was sent.
    bool sessionStaysResumable = false;

    // Filled in by the handshakes of one transfer.
    int handshakes = 0;                    // TLS connections begun
    std::optional<Certificate> refused;    // the certificate that was not trusted, with the reason
    TrustVerdict verdict = TrustVerdict::unknown;  // unknown or changed, for `refused`
};

// Installs the check on the handle for its next transfer (the check must outlive it). With a
// TLS library other than OpenSSL, libcurl's own verification stays in place.
void armCertificateCheck(CURL* easy, CertificateCheck& check);

// The host and port a base URL's authority ("host", "host:21", "[::1]:990") names, with the
// scheme's port (ftp, ftps, sftp, http, https) when it gives none or one out of range.
std::pair<std::string, int> hostAndPort(const std::string& authority, const std::string& scheme);

// A certificate (DER) as the user is shown it, with the reason it was refused; nothing when the
// bytes are no certificate. For certificates met outside libcurl (a web page's).
std::optional<Certificate> describeCertificate(const std::string& der, std::string reason);

// The question to the user about a refused certificate.
TrustQuestion certificateQuestion(const CertificateCheck& check);

}  // namespace files::detail
