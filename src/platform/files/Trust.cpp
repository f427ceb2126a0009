// Trust's own state and the question to the user; host keys are read and written in
// TrustHostKeys.cpp, certificates in TrustCertificates.cpp.

#include "platform/files/Trust.h"

namespace files {

Trust::Trust(std::filesystem::path appFolder, std::filesystem::path userKnownHosts)
    : appFolder_(std::move(appFolder)), userKnownHosts_(std::move(userKnownHosts)) {}

void Trust::setAsker(std::shared_ptr<TrustAsker> asker) {
    std::lock_guard lock(mutex_);
    asker_ = std::move(asker);
}

std::filesystem::path Trust::knownHostsFile() const { return appFolder_ / "known_hosts"; }

std::filesystem::path Trust::certificatesFile() const { return appFolder_ / "trusted_certificates.json"; }

}  // namespace files
