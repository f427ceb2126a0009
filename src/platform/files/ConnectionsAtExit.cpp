#include "platform/files/ConnectionsAtExit.h"

#include <libssh/libssh.h>
#include <openssl/crypto.h>

#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/dispatch/ExitDrain.h"
#include "platform/net/Curl.h"

namespace files::detail {

struct ExitClosing::State {
    std::weak_ptr<ConnectionOwner> owner;
    std::mutex mutex;
    std::condition_variable changed;
    enum class Step { open, closing, closed } step = Step::open;
    bool unregistered = false;

    // Runs the owner's close unless it ran; waits while it runs on another thread.
    void close(ConnectionOwner& o) {
        {
            std::unique_lock lock(mutex);
            if (step == Step::closing) changed.wait(lock, [&] { return step == Step::closed; });
            if (step == Step::closed) return;
            step = Step::closing;
        }
        try {
            o.closeConnections();
        } catch (...) {
            // A close reports nothing: what failed stays closed as far as it got.
        }
        std::lock_guard lock(mutex);
        step = Step::closed;
        changed.notify_all();
    }
};

namespace {

struct Registry {
    std::mutex mutex;
    std::map<const ExitClosing::State*, std::shared_ptr<ExitClosing::State>> owners;
};

// Never destroyed: owners may unregister after the globals went.
Registry& registry() {
    static auto* r = new Registry;
    return *r;
}

void closeEveryOwnerAtExit() {
    const auto deadline = dispatch::Clock::now() + dispatch::kExitDrainBound;
    // Work still on its way to a server ends first, as the drains' own exit handler would let it.
    dispatch::waitForExitDrains(deadline);
    std::vector<std::shared_ptr<ExitClosing::State>> states;
    {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        for (const auto& [key, state] : r.owners) states.push_back(state);
    }
    for (const auto& state : states) {
        if (auto owner = state->owner.lock()) {
            state->close(*owner);
            continue;  // the owner may go here, its connections closed
        }
        // Going on another thread: its destructor closes its connections (or already has).
        std::unique_lock lock(state->mutex);
        state->changed.wait_until(lock, deadline,
                                  [&] { return state->step == ExitClosing::State::Step::closed || state->unregistered; });
    }
}

}  // namespace

void setUpLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        // OpenSSL first: its exit clean-up is installed now (or was, by whoever set it up
        // before), so the handler installed below runs ahead of it.
        OPENSSL_init_crypto(0, nullptr);
        net::initialize();
        ssh_init();
        std::atexit(closeEveryOwnerAtExit);
    });
}

ExitClosing::ExitClosing(std::weak_ptr<ConnectionOwner> owner) : state_(std::make_shared<State>()) {
    setUpLibraries();
    state_->owner = std::move(owner);
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.owners.emplace(state_.get(), state_);
}

ExitClosing::~ExitClosing() {
    {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        r.owners.erase(state_.get());
    }
    std::lock_guard lock(state_->mutex);
    state_->unregistered = true;
    state_->changed.notify_all();
}

void ExitClosing::closeOnce(ConnectionOwner& owner) { state_->close(owner); }

}  // namespace files::detail
