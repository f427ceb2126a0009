#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/Dispatch.h"

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
    std::this_thread::sleep_for(150ms);
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
