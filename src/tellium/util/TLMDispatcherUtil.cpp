#include "tellium/util/TLMDispatcherUtil.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "tellium/util/TLMPlatformHooks.h"

void TLMDispatcherUtil::performBlockOnMainThread(std::function<void()> block) {
    if (!block) return;
    if (TLMPlatform::isMainThread()) {
        block();
        return;
    }
    TLMPlatform::runOnMainThread(std::move(block));
}

void TLMDispatcherUtil::runBlock(const std::function<void()>& block) {
    if (block) block();
}

void TLMDispatcherUtil::dispatchSyncWithTimeout(double timeout, dispatch::Queue& queue, std::function<void()> block) {
    if (queue.isCurrent()) {
        if (block) block();
        return;
    }
    struct Signal {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    };
    auto signal = std::make_shared<Signal>();
    queue.async([signal, block = std::move(block)] {
        if (block) block();
        {
            std::lock_guard lock(signal->mutex);
            signal->done = true;
        }
        signal->cv.notify_all();
    });
    std::unique_lock lock(signal->mutex);
    auto limit = std::chrono::duration<double>(timeout > 0 ? timeout : 0);
    signal->cv.wait_for(lock, std::chrono::duration_cast<std::chrono::nanoseconds>(limit), [&] { return signal->done; });
}
