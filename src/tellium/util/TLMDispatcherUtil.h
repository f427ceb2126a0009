#pragma once
// Three ways of running a block: on the main thread, at once on the calling thread, and on a
// queue with a bounded wait.
#include <functional>

#include "platform/dispatch/Dispatch.h"

class TLMDispatcherUtil {
public:
    // On the main thread: at once when already there, else queued without waiting.
    static void performBlockOnMainThread(std::function<void()> block);
    static void runBlock(const std::function<void()>& block);
    // Queues the block and waits for it at most `timeout` seconds. A block still waiting when the
    // time is up runs later on the queue. Called from the queue itself it runs the block at once
    // (waiting on itself would only stall the queue for the whole timeout).
    static void dispatchSyncWithTimeout(double timeout, dispatch::Queue& queue, std::function<void()> block);
};
