#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/ExitDrain.h"

using namespace std::chrono_literals;

TEST(SerialQueue, RunsTasksOneAtATimeInOrderOnItsOwnThread) {
    dispatch::SerialQueue queue("save_app_services");
    EXPECT_EQ(queue.label(), "save_app_services");
    std::vector<int> order;
    std::atomic<int> running{0}, maxRunning{0};
    for (int i = 0; i < 200; ++i) {
        queue.async([&, i] {
            int now = ++running;
            maxRunning = std::max(maxRunning.load(), now);
            EXPECT_TRUE(queue.isCurrent());
            order.push_back(i);
            --running;
        });
    }
    queue.sync([] {});
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
    EXPECT_EQ(maxRunning.load(), 1);
    EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueue, AThrowingTaskDoesNotStopTheQueue) {
    dispatch::SerialQueue queue("q");
    std::atomic<bool> ran{false};
    queue.async([] { throw std::runtime_error("boom"); });
    queue.async([&] { ran = true; });
    queue.sync([] {});
    EXPECT_TRUE(ran);
}

TEST(SerialQueue, AQueueWhoseLastOwnerGoesInItsOwnTaskRunsTheRestOfThatTaskAndStops) {
    // The last owner of a queue may be released by one of its tasks (an object that owns the queue
    // and whose last reference a task held); the worker must not run on freed state afterwards.
    auto queue = std::make_shared<dispatch::SerialQueue>("owned by its task");
    std::promise<void> released, testLetGo;
    auto done = released.get_future();
    auto letGo = testLetGo.get_future().share();
    std::atomic<bool> later{false};
    queue->async([owner = queue, &released, letGo]() mutable {
        letGo.wait();  // the test's own reference is gone: this one is the last
        owner.reset();
        released.set_value();
    });
    queue->async([&later] { later = true; });  // queued before the release: still runs
    queue.reset();
    testLetGo.set_value();
    done.wait();
    for (int i = 0; i < 2000 && !later; ++i) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(later);
}

TEST(MainQueue, HandPumpedQueueRunsOnlyWhenDrained) {
    std::atomic<int> count{0};
    std::thread other([&] { dispatch::mainQueue().async([&] { ++count; }); });
    other.join();
    EXPECT_EQ(count, 0);
    dispatch::mainQueue().async([&] {
        EXPECT_TRUE(dispatch::mainQueue().isCurrent());
        dispatch::mainQueue().async([&] { ++count; });  // added while draining: runs too
        ++count;
    });
    dispatch::drainMainQueue();
    EXPECT_EQ(count, 3);
}

TEST(MainQueue, SyncFromAnotherThreadWaitsForThePump) {
    std::atomic<bool> done{false};
    std::thread other([&] {
        dispatch::mainQueue().sync([] {});
        done = true;
    });
    EXPECT_TRUE(dispatch::pumpMainQueueUntil([&] { return done.load(); }, 2s));
    other.join();
}

TEST(Timers, FireAfterTheirDelayAndNotWhenCancelled) {
    dispatch::SerialQueue queue("timers");
    std::atomic<int> fired{0};
    auto start = dispatch::Clock::now();
    std::atomic<int64_t> firedAfterMs{-1};
    dispatch::after(queue, 50ms, [&] {
        firedAfterMs = std::chrono::duration_cast<std::chrono::milliseconds>(dispatch::Clock::now() - start).count();
        ++fired;
    });
    {
        dispatch::Timer cancelled(queue, 20ms, [&] { fired += 100; });
        cancelled.cancel();
    }
    { dispatch::Timer dropped(queue, 20ms, [&] { fired += 1000; }); }  // destroyed before firing
    // The 50 ms timer runs after any 20 ms one would have: once it ran, the others had their turn.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (fired == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    queue.sync([] {});
    EXPECT_EQ(fired, 1);
    EXPECT_GE(firedAfterMs.load(), 50);
}

TEST(GlobalQueue, RunsTasksConcurrently) {
    std::mutex m;
    std::condition_variable cv;
    int arrived = 0;
    std::atomic<int> finished{0};
    for (int i = 0; i < 2; ++i) {
        dispatch::globalQueue(dispatch::QoS::background).async([&] {
            std::unique_lock lock(m);
            ++arrived;
            cv.notify_all();
            // Both tasks must be running at once for either to get past this point.
            cv.wait_for(lock, 2s, [&] { return arrived == 2; });
            if (arrived == 2) ++finished;
        });
    }
    for (int i = 0; i < 100 && finished < 2; ++i) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(finished, 2);
}

// ---- exit drains ---------------------------------------------------------------------------

TEST(ExitDrain, RunsTheMainQueueAndWaitsForQueuedWritesAndTheWritesTheirCompletionsAskFor) {
    // A store's queue with a slow write on it, whose completion hops to the main queue and asks
    // for one more write, as the app's saves do.
    dispatch::SerialQueue store("exit.test.store");
    dispatch::ExitDrain drain(store.label(), dispatch::queueDrain(store));
    std::vector<std::string> written;
    std::mutex mutex;
    auto write = [&](std::string what) {
        std::this_thread::sleep_for(50ms);
        std::lock_guard lock(mutex);
        written.push_back(std::move(what));
    };
    dispatch::mainQueue().async([&] {
        store.async([&] {
            write("first");
            dispatch::mainQueue().async([&] { store.async([&] { write("second"); }); });
        });
    });
    const auto unfinished = dispatch::drainBeforeExit(dispatch::Clock::now() + 5s);
    EXPECT_TRUE(unfinished.empty());
    std::lock_guard lock(mutex);
    EXPECT_EQ(written, (std::vector<std::string>{"first", "second"}));
}

TEST(ExitDrain, GivesUpAtTheDeadlineAndNamesWhatDidNotFinish) {
    std::atomic<bool> release{false};
    dispatch::SerialQueue stuck("exit.test.stuck");
    dispatch::ExitDrain drain(stuck.label(), dispatch::queueDrain(stuck));
    stuck.async([&] {
        while (!release) std::this_thread::sleep_for(1ms);
    });
    const auto unfinished = dispatch::drainBeforeExit(dispatch::Clock::now() + 100ms);
    EXPECT_EQ(unfinished, std::vector<std::string>{"exit.test.stuck"});
    release = true;
    stuck.sync([] {});
}

TEST(ExitDrain, AnUnregisteredDrainIsNoLongerWaitedFor) {
    std::atomic<int> calls{0};
    {
        dispatch::ExitDrain drain("exit.test.custom", [&](dispatch::Clock::time_point) {
            ++calls;
            return true;
        });
        auto labels = dispatch::registeredExitDrains();
        EXPECT_NE(std::find(labels.begin(), labels.end(), "exit.test.custom"), labels.end());
        EXPECT_TRUE(dispatch::drainBeforeExit(dispatch::Clock::now() + 1s).empty());
        EXPECT_EQ(calls.load(), 1);
    }
    auto labels = dispatch::registeredExitDrains();
    EXPECT_EQ(std::find(labels.begin(), labels.end(), "exit.test.custom"), labels.end());
    dispatch::drainBeforeExit(dispatch::Clock::now() + 1s);
    EXPECT_EQ(calls.load(), 1);
}
