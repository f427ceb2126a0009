// The provider's worker pool growing for a burst of work: as many more workers as jobs wait, up
// to its bound; none past the workers that remained once one retired (the server turned a
// connection away); and those it added going once they sat without work. And the free worker a
// job goes to: the one whose session suits it best; and a job lent to a free worker beside the
// running ones, which runs at once or not at all, and also while the pool stops.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
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

bool awaitWorkers(const WorkerPool& pool, int count, bool free = false) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while ((free ? pool.freeWorkers() : pool.workers()) != count) {
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

TEST(WorkerPool, AJobGoesToTheFreeWorkerThatSuitsItBestOrToAnyWhenThatOneIsBusy) {
    WorkerPool pool(3);
    // Each worker's session marked 1, 2 or 3 (as a provider marks what its connection is):
    // three jobs that wait for each other run on three workers.
    {
        std::mutex mutex;
        std::condition_variable changed;
        int started = 0;
        std::vector<std::future<void>> marked;
        for (unsigned mark = 1; mark <= 3; ++mark) {
            auto done = std::make_shared<std::promise<void>>();
            marked.push_back(done->get_future());
            pool.submit(std::make_shared<files::Operation>(), [&, mark, done](Session& session) {
                session.connectionSaid = mark;
                std::unique_lock lock(mutex);
                ++started;
                changed.notify_all();
                changed.wait(lock, [&] { return started == 3; });
                done->set_value();
            });
        }
        for (auto& m : marked) ASSERT_EQ(m.wait_for(20s), std::future_status::ready);
    }
    auto suits = [](unsigned mark) { return [mark](const Session& s) { return s.connectionSaid == mark ? 1 : 0; }; };
    // Where a job ran: the mark of its worker's session.
    auto runOn = [&](WorkerPool::Fit fit) {
        auto ran = std::make_shared<std::promise<unsigned>>();
        auto where = ran->get_future();
        pool.submit(std::make_shared<files::Operation>(), [ran](Session& s) { ran->set_value(s.connectionSaid); }, std::move(fit));
        return where;
    };

    struct Case {
        const char* name;
        unsigned wanted;  // the mark the job's fit prefers
        unsigned busy;    // a worker held by another job meanwhile (0: none)
    };
    const Case cases[] = {
        {"the first", 1, 0}, {"the second", 2, 0}, {"the third", 3, 0}, {"the second again", 2, 0},
        {"the one it suits is busy: another", 2, 2}, {"busy, another one", 3, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(awaitWorkers(pool, 3, true)) << pool.freeWorkers() << " free";
        std::promise<void> letGo;
        std::future<void> held;
        if (c.busy) {
            auto running = std::make_shared<std::promise<void>>();
            auto gate = letGo.get_future().share();
            pool.submit(std::make_shared<files::Operation>(), [running, gate](Session&) {
                running->set_value();
                gate.wait();
            }, suits(c.busy));
            held = running->get_future();
            ASSERT_EQ(held.wait_for(20s), std::future_status::ready);
        }
        auto where = runOn(suits(c.wanted));
        ASSERT_EQ(where.wait_for(20s), std::future_status::ready) << "the job waited for a busy worker";
        const unsigned ran = where.get();
        if (c.busy == c.wanted) EXPECT_NE(ran, c.wanted);
        else EXPECT_EQ(ran, c.wanted);
        letGo.set_value();
    }
    // Without a fit, any free worker.
    ASSERT_TRUE(awaitWorkers(pool, 3, true));
    auto anywhere = runOn({});
    ASSERT_EQ(anywhere.wait_for(20s), std::future_status::ready);
    EXPECT_GE(anywhere.get(), 1u);
}

TEST(WorkerPool, AJobIsLentAtOnceToAFreeWorkerThatSuitsItOrToTheSpareOrToNone) {
    using Lent = WorkerPool::Lent;
    auto anOp = [] { return std::make_shared<files::Operation>(); };
    // Holds a worker with a job that marks its session; let go by the returned promise.
    auto hold = [&](WorkerPool& pool, unsigned mark) {
        auto letGo = std::make_shared<std::promise<void>>();
        auto holding = std::make_shared<std::promise<void>>();
        auto started = holding->get_future();
        pool.submit(anOp(), [holding, mark, gate = letGo->get_future().share()](Session& session) {
            session.connectionSaid = mark;
            holding->set_value();
            gate.wait();
        });
        EXPECT_EQ(started.wait_for(20s), std::future_status::ready);
        return letGo;
    };
    // Lends a job that marks its session `marks` (when not 0) and tells the mark it found.
    struct Lending {
        Lent how;
        std::future<unsigned> found;
    };
    auto lend = [&](WorkerPool& pool, unsigned wanted, std::chrono::milliseconds spare, unsigned marks = 0) {
        auto ran = std::make_shared<std::promise<unsigned>>();
        Lending l{Lent::no, ran->get_future()};
        l.how = pool.lend([wanted](const Session& s) { return s.connectionSaid == wanted; }, anOp(),
                          [ran, marks](Session& s) {
                              ran->set_value(s.connectionSaid);
                              if (marks) s.connectionSaid = marks;
                          },
                          spare);
        return l;
    };

    {
        SCOPED_TRACE("two workers, one held (marked 7)");
        WorkerPool pool(2);
        auto letGo = hold(pool, 7);
        struct Case {
            const char* name;
            unsigned wanted;
            Lent how;
        };
        const Case cases[] = {
            {"the free worker suits", 0, Lent::suited},
            {"only the busy one suits: none", 7, Lent::no},
            {"none suits", 3, Lent::no},
            {"the free worker again", 0, Lent::suited},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            ASSERT_TRUE(awaitWorkers(pool, 1, true));
            Lending l = lend(pool, c.wanted, 0ms);
            EXPECT_EQ(l.how, c.how);
            if (l.how == Lent::no) continue;  // a job not lent never runs: its promise is dropped unset
            ASSERT_EQ(l.found.wait_for(20s), std::future_status::ready) << "a lent job waited";
            EXPECT_EQ(l.found.get(), c.wanted);
        }
        letGo->set_value();
        // Lent while the pool is about to stop: it still runs, once.
        ASSERT_TRUE(awaitWorkers(pool, 2, true));
        Lending last = lend(pool, 0, 0ms);
        ASSERT_EQ(last.how, Lent::suited);
        pool.stop();
        EXPECT_EQ(last.found.wait_for(0s), std::future_status::ready);
        EXPECT_EQ(lend(pool, 0, 0ms).how, Lent::no) << "lent after the stop";
    }
    {
        SCOPED_TRACE("one worker, held (marked 7), and a spare");
        WorkerPool pool(1);
        auto letGo = hold(pool, 7);
        // The spare is made for a job none suits; it marks its session 5.
        Lending first = lend(pool, 5, 20s, 5);
        ASSERT_EQ(first.how, Lent::spare);
        ASSERT_EQ(first.found.wait_for(20s), std::future_status::ready);
        EXPECT_EQ(first.found.get(), 0u) << "a new session";
        EXPECT_EQ(pool.workers(), 2);
        // A job queued meanwhile waits for the held worker: never the spare's.
        auto queued = std::make_shared<std::promise<unsigned>>();
        auto queuedFound = queued->get_future();
        pool.submit(anOp(), [queued](Session& s) { queued->set_value(s.connectionSaid); });
        // Now the spare suits, and it is lent again once it waits.
        ASSERT_TRUE(awaitWorkers(pool, 1, true));
        Lending again = lend(pool, 5, 20s);
        EXPECT_EQ(again.how, Lent::suited);
        ASSERT_EQ(again.found.wait_for(20s), std::future_status::ready);
        EXPECT_EQ(again.found.get(), 5u);
        letGo->set_value();
        ASSERT_EQ(queuedFound.wait_for(20s), std::future_status::ready);
        EXPECT_EQ(queuedFound.get(), 7u) << "the queued job ran on the spare";
    }
    {
        SCOPED_TRACE("a spare that had no job for its time");
        WorkerPool pool(1);
        for (int round = 0; round < 2; ++round) {
            Lending l = lend(pool, 5, 50ms);
            if (round == 0) {  // the free worker does not suit: a spare is made
                ASSERT_EQ(l.how, Lent::spare);
                ASSERT_EQ(l.found.wait_for(20s), std::future_status::ready);
                ASSERT_TRUE(awaitWorkers(pool, 1)) << "the spare stayed";
                pool.noSpare();  // as after the server turned it away
            } else {
                EXPECT_EQ(l.how, Lent::no) << "a spare after the server turned one away";
            }
        }
    }
}

}  // namespace
