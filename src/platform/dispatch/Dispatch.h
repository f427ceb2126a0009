#pragma once
// Work queues: the main queue (run by whatever executor the app installs, the Qt GUI thread in the
// app and a hand-pumped list in tests), serial queues with labels, a global pool and timers.
// Nothing here depends on Qt.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace dispatch {

using Task = std::function<void()>;
using Clock = std::chrono::steady_clock;

enum class QoS { unspecified, background, utility, default_, userInitiated, userInteractive };

class Queue {
public:
    virtual ~Queue() = default;
    virtual void async(Task task) = 0;
    // Runs the task on this queue and waits for it. Never call it on the queue itself.
    virtual void sync(Task task);
    // Runs the task on this queue once the delay has passed.
    void after(std::chrono::milliseconds delay, Task task);
    virtual const std::string& label() const = 0;
    // True when the calling thread is running this queue's work.
    virtual bool isCurrent() const = 0;
};

// A queue that runs one task at a time, in submission order, on a thread of its own.
class SerialQueue final : public Queue {
public:
    explicit SerialQueue(std::string label, QoS qos = QoS::unspecified);
    ~SerialQueue() override;  // finishes the queued work, then joins
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void async(Task task) override;
    const std::string& label() const override;
    bool isCurrent() const override;
    QoS qos() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// The main queue. The app installs an executor that posts to the GUI thread; until one is
// installed, tasks wait in a list that drainMainQueue() runs (tests pump it by hand).
class MainQueue final : public Queue {
public:
    void async(Task task) override;
    void sync(Task task) override;
    const std::string& label() const override;
    bool isCurrent() const override;
};

using Executor = std::function<void(Task)>;
// Installs the main-queue executor and the way to tell the main thread. Pass nullptr to go back
// to the hand-pumped list.
void installMainExecutor(Executor executor, std::function<bool()> isMainThread = nullptr);
// Runs the tasks waiting on the hand-pumped main queue (and those they add) until none is left
// or the limit passes. Returns how many ran.
std::size_t drainMainQueue(std::chrono::milliseconds limit = std::chrono::milliseconds(0));
// Waits up to `timeout` for the condition, pumping the hand-pumped main queue meanwhile.
bool pumpMainQueueUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
// Marks the calling thread as the main thread (for the hand-pumped list).
void setMainThreadToCurrent();

Queue& mainQueue();
// The process-wide concurrent pool for a quality of service.
Queue& globalQueue(QoS qos = QoS::default_);

// Runs once after the delay on the given queue; cancel() before it fires stops it.
class Timer {
public:
    Timer(Queue& queue, std::chrono::milliseconds delay, Task task);
    ~Timer();
    void cancel();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// One-shot delayed submission (no handle).
void after(Queue& queue, std::chrono::milliseconds delay, Task task);

}  // namespace dispatch
