// Trust's own state and the question to the user; host keys are read and written in
// TrustHostKeys.cpp, certificates in TrustCertificates.cpp.
//
// decide() runs on a provider's worker thread: it hands the question to the asker (which puts
// it on the main queue) and waits for the answer, looking at the operation's cancel flag while
// it waits. An answer that comes after the wait was given up is dropped.

#include "platform/files/Trust.h"

#include <chrono>
#include <condition_variable>
#include <optional>

#include "platform/files/FileProvider.h"

namespace files {

Trust::Trust(std::filesystem::path appFolder, std::filesystem::path userKnownHosts)
    : appFolder_(std::move(appFolder)), userKnownHosts_(std::move(userKnownHosts)) {}

void Trust::setAsker(std::shared_ptr<TrustAsker> asker) {
    std::lock_guard lock(mutex_);
    asker_ = std::move(asker);
}

std::filesystem::path Trust::knownHostsFile() const { return appFolder_ / "known_hosts"; }

std::filesystem::path Trust::certificatesFile() const { return appFolder_ / "trusted_certificates.json"; }

bool Trust::decide(const TrustQuestion& question, const Operation* op, bool* answered) {
    bool unused = false;
    bool& told = answered ? *answered : unused;
    told = false;
    std::shared_ptr<TrustAsker> asker;
    {
        std::lock_guard lock(mutex_);
        asker = asker_;
    }
    if (!asker || (op && op->isCancelled())) return false;

    struct Answer {
        std::mutex mutex;
        std::condition_variable given;
        std::optional<bool> trust;
    };
    auto answer = std::make_shared<Answer>();
    try {
        asker->ask(question, [answer](bool trust) {
            std::lock_guard lock(answer->mutex);
            if (answer->trust) return;  // exactly one answer counts
            answer->trust = trust;
            answer->given.notify_all();
        });
    } catch (...) {
        return false;  // an asker that failed asked nobody
    }
    // A question that cannot be accepted is a warning: shown, not waited for.
    if (!question.acceptable) {
        told = true;
        return false;
    }
    {
        std::unique_lock lock(answer->mutex);
        // The cancel flag has no waker of its own here: it is looked at a few times a second.
        while (!answer->given.wait_for(lock, std::chrono::milliseconds(100), [&] { return answer->trust.has_value(); })) {
            if (op && op->isCancelled()) return false;
        }
        if (!*answer->trust) {
            told = !(op && op->isCancelled());
            return false;
        }
    }
    if (op && op->isCancelled()) return false;
    if (question.subject == TrustQuestion::Subject::certificate)
        return addCertificate(question.host, question.port, question.certificate);
    return addHostKey(question.host, question.port, question.hostKey);
}

}  // namespace files
