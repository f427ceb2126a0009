// Putting a question to the user and waiting for the answer on the provider's worker thread.
// Only host keys are recorded here; a certificate answer is not kept by this part.

#include <condition_variable>

#include "platform/files/FileProvider.h"
#include "platform/files/Trust.h"

namespace files {

bool Trust::decide(const TrustQuestion& question, const Operation* op) {
    std::shared_ptr<TrustAsker> asker;
    {
        std::lock_guard lock(mutex_);
        asker = asker_;
    }
    if (!asker) return false;
    if (!question.acceptable) {
        asker->ask(question, [](bool) {});  // a warning: its answer changes nothing
        return false;
    }
    struct Answer {
        std::mutex mutex;
        std::condition_variable given;
        std::optional<bool> trust;
    };
    auto answer = std::make_shared<Answer>();
    asker->ask(question, [answer](bool trust) {
        std::lock_guard lock(answer->mutex);
        if (!answer->trust) answer->trust = trust;
        answer->given.notify_all();
    });
    bool trust = false;
    {
        std::unique_lock lock(answer->mutex);
        // A cancel of the operation ends the wait (checked a few times a second).
        while (!answer->trust && !(op && op->isCancelled())) answer->given.wait_for(lock, std::chrono::milliseconds(100));
        trust = answer->trust.value_or(false);
    }
    if (!trust || (op && op->isCancelled())) return false;
    if (question.subject == TrustQuestion::Subject::hostKey) return addHostKey(question.host, question.port, question.hostKey);
    return false;
}

}  // namespace files
