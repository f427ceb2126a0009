#include "platform/files/ConnectionsAtExit.h"

#include <libssh/libssh.h>
#include <openssl/crypto.h>

#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

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

// Closes (or waits for the close of) every registered owner in turn, until `deadline` for those
// closed elsewhere.
void closeEvery(const std::vector<std::shared_ptr<ExitClosing::State>>& states, dispatch::Clock::time_point deadline) {
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
    if (states.empty()) return;
    // On a thread of its own, so that the wait for it has a bound.
    struct Closing {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
    };
    auto closing = std::make_shared<Closing>();
    std::thread closer;
    try {
        closer = std::thread([states, closing, deadline] {
            closeEvery(states, deadline);
            std::lock_guard lock(closing->mutex);
            closing->done = true;
            closing->ended.notify_all();
        });
    } catch (...) {
        closeEvery(states, deadline);  // no thread to be had: closed here, as it comes
        return;
    }
    std::unique_lock lock(closing->mutex);
    if (!closing->ended.wait_until(lock, deadline, [&] { return closing->done; })) {
        lock.unlock();
        for (const auto& state : states) {
            if (auto owner = state->owner.lock()) owner->cutConnections();
        }
        lock.lock();
        closing->ended.wait_for(lock, kExitCutGrace, [&] { return closing->done; });
    }
    const bool done = closing->done;
    lock.unlock();
    if (done) closer.join();
    else closer.detach();  // ends with the process
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
