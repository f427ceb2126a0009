// Trust's own state and the question to the user; host keys are read and written in
// TrustHostKeys.cpp, certificates in TrustCertificates.cpp.
//
// decide() runs on a provider's worker thread: it hands the question to the asker (which puts
// it on the main queue) and waits for the answer, looking at the operation's cancel flag while
// it waits. An answer that comes after the wait was given up is dropped. Login questions (SSH
// prompts and passphrases) take the same road.

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

namespace {

// Hands a question to the asker and waits for its one answer, looking at the operation's cancel
// flag a few times a second (it has no waker of its own here). Nothing when the asker failed,
// when the wait was given up, or when `wait` is false (a warning: shown, not waited for).
template <typename A, typename Put>
std::optional<A> waitForAnswer(const Operation* op, bool wait, Put put) {
    struct Answer {
        std::mutex mutex;
        std::condition_variable given;
        std::optional<A> value;
    };
    auto answer = std::make_shared<Answer>();
    try {
        put([answer](A value) {
            std::lock_guard lock(answer->mutex);
            if (answer->value) return;  // exactly one answer counts
            answer->value = std::move(value);
            answer->given.notify_all();
        });
    } catch (...) {
        return std::nullopt;  // an asker that failed asked nobody
    }
    if (!wait) return std::nullopt;
    std::unique_lock lock(answer->mutex);
    while (!answer->given.wait_for(lock, std::chrono::milliseconds(100), [&] { return answer->value.has_value(); })) {
        if (op && op->isCancelled()) return std::nullopt;
    }
    if (op && op->isCancelled()) return std::nullopt;
    return std::move(answer->value);
}

}  // namespace

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
    // A question that cannot be accepted is a warning: shown, not waited for.
    if (!question.acceptable) {
        try {
            asker->ask(question, [](bool) {});
        } catch (...) {
            return false;  // an asker that failed asked nobody
        }
        told = true;
        return false;
    }
    const auto trust = waitForAnswer<bool>(op, true, [&](std::function<void(bool)> give) {
        asker->ask(question, std::move(give));
    });
    if (!trust) return false;
    if (!*trust) {
        told = !(op && op->isCancelled());
        return false;
    }
    if (question.subject == TrustQuestion::Subject::certificate)
        return addCertificate(question.host, question.port, question.certificate);
    return addHostKey(question.host, question.port, question.hostKey);
}

std::optional<LoginAnswer> Trust::askLogin(const LoginQuestion& question, const Operation* op) {
    std::shared_ptr<TrustAsker> asker;
    {
        std::lock_guard lock(mutex_);
        asker = asker_;
    }
    if (!asker || (op && op->isCancelled())) return std::nullopt;
    auto answer = waitForAnswer<std::optional<LoginAnswer>>(op, true, [&](std::function<void(std::optional<LoginAnswer>)> give) {
        asker->askLogin(question, std::move(give));
    });
    if (!answer) return std::nullopt;
    return std::move(*answer);
}

void Trust::rememberPassphrase(const LoginQuestion& question, const std::string& passphrase) {
    std::shared_ptr<TrustAsker> asker;
    {
        std::lock_guard lock(mutex_);
        asker = asker_;
    }
    if (asker) asker->rememberPassphrase(question, passphrase);
}

}  // namespace files
