// The provider's worker pool growing for a burst of work: as many more workers as jobs wait, up
// to its bound; none past the workers that remained once one retired (the server turned a
// connection away); and those it added going once they sat without work.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

#include "platform/files/CurlSupport.h"

namespace {

using namespace std::chrono_literals;
using files::detail::Session;
using files::detail::WorkerPool;

// Jobs that hold their worker until let go, and what they saw.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    int running = 0, done = 0;
    std::set<const Session*> sessions;
    bool retireNext = false;  // the next job to start retires its worker

    ~Gate() { release(); }  // a round that failed lets its jobs end

    static WorkerPool::Job job(std::shared_ptr<Gate> self, WorkerPool& pool) {
        return [self, &pool](Session& session) {
            Gate& g = *self;
            auto& [mutex, changed, open, running, done, sessions, retireNext] = g;
            std::unique_lock lock(mutex);
            if (retireNext && pool.retire(session)) {  // not the last worker: runs again on another
                retireNext = false;
                return;
            }
            ++running;
            sessions.insert(&session);
            changed.notify_all();
            changed.wait(lock, [&] { return open; });
            --running;
            ++done;
            changed.notify_all();
        };
    }
    bool await(auto condition) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 20s, condition);
    }
    void release() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
};

bool awaitWorkers(const WorkerPool& pool, int count) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (pool.workers() != count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

TEST(WorkerPool, GrowsForWaitingJobsToItsBoundNeverPastAServerLimitAndLetsAddedWorkersGo) {
    WorkerPool pool(1);
    struct Round {
        int jobs, upTo;
        bool retire;       // a worker retires, as one the server turned away
        int expectRunning;  // side by side
        int expectAfter;    // workers once the added ones had no work for their time
    };
    const Round rounds[] = {
        {6, 4, false, 4, 1},  // three added for six jobs, bound 4
        {2, 8, false, 2, 1},  // only as many as jobs wait
        {5, 4, true, 3, 1},   // one of four retires: three go on
        {6, 8, false, 3, 1},  // and never more than three again
    };
    for (const Round& r : rounds) {
        SCOPED_TRACE("jobs " + std::to_string(r.jobs) + ", up to " + std::to_string(r.upTo));
        auto held = std::make_shared<Gate>();
        Gate& gate = *held;
        gate.retireNext = r.retire;
        for (int i = 0; i < r.jobs; ++i) pool.submit(std::make_shared<files::Operation>(), Gate::job(held, pool));
        struct Release {
            Gate& gate;
            ~Release() { gate.release(); }
        } release{gate};
        pool.grow(r.upTo, 100ms);
        ASSERT_TRUE(gate.await([&] { return gate.running == r.expectRunning; })) << gate.running << " running";
        EXPECT_EQ(pool.workers(), r.expectRunning);
        gate.release();
        ASSERT_TRUE(gate.await([&] { return gate.done == r.jobs; })) << gate.done << " done";
        EXPECT_EQ(static_cast<int>(gate.sessions.size()), r.expectRunning);
        EXPECT_TRUE(awaitWorkers(pool, r.expectAfter)) << pool.workers() << " workers";
    }
}

}  // namespace
