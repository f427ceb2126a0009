#include "platform/dispatch/Dispatch.h"

#include "platform/dispatch/ExitDrain.h"

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace dispatch {

namespace {
thread_local const void* t_current_queue = nullptr;

void runGuarded(const Task& task) {
    // A task's own failure must not take a worker thread (or the process) down with it.
    try {
        task();
    } catch (...) {
    }
}
}  // namespace

void Queue::sync(Task task) {
    if (isCurrent()) {
        runGuarded(task);
        return;
    }
    std::promise<void> done;
    auto future = done.get_future();
    async([&] {
        runGuarded(task);
        done.set_value();
    });
    future.wait();
}

void Queue::after(std::chrono::milliseconds delay, Task task) { dispatch::after(*this, delay, std::move(task)); }

// A serial queue's thread carries the end of its label (the kernel keeps 15 bytes), so that a
// debugger, top or perf tells the queues apart.
static void nameThisThread(const std::string& label) {
    const std::string name = label.size() > 15 ? label.substr(label.size() - 15) : label;
    pthread_setname_np(pthread_self(), name.c_str());
}

// ---- Serial queues -------------------------------------------------------------------------

struct SerialQueue::State {
    std::string label;
    QoS qos;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Task> tasks;
    bool stopping = false;
    std::thread worker;

    void run() {
        t_current_queue = this;
        nameThisThread(label);
        for (;;) {
            Task task;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [&] { return stopping || !tasks.empty(); });
                if (tasks.empty()) return;  // stopping and nothing left
                task = std::move(tasks.front());
                tasks.pop_front();
            }
            runGuarded(task);
        }
    }
};

SerialQueue::SerialQueue(std::string label, QoS qos) : state_(std::make_shared<State>()) {
    state_->label = std::move(label);
    state_->qos = qos;
    // The thread keeps the state alive: a queue destroyed from its own task lets the thread finish
    // with it (the destructor then detaches instead of joining).
    state_->worker = std::thread([s = state_] { s->run(); });
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    if (state_->worker.get_id() == std::this_thread::get_id()) {
        state_->worker.detach();  // destroyed from its own task: let the thread finish by itself
    } else if (state_->worker.joinable()) {
        state_->worker.join();
    }
}

void SerialQueue::async(Task task) {
    {
        std::lock_guard lock(state_->mutex);
        state_->tasks.push_back(std::move(task));
    }
    state_->wake.notify_one();
}

const std::string& SerialQueue::label() const { return state_->label; }
bool SerialQueue::isCurrent() const { return t_current_queue == state_.get(); }
QoS SerialQueue::qos() const { return state_->qos; }

// ---- Global pools --------------------------------------------------------------------------

namespace {
class ConcurrentQueue final : public Queue {
public:
    explicit ConcurrentQueue(std::string label) : label_(std::move(label)) {
        unsigned n = std::max(2u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < n; ++i) workers_.emplace_back([this] { run(); });
    }
    ~ConcurrentQueue() override {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (auto& w : workers_) w.detach();  // process-lifetime pools: never joined at exit
    }
    void async(Task task) override {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        wake_.notify_one();
    }
    const std::string& label() const override { return label_; }
    bool isCurrent() const override { return t_current_queue == this; }

private:
    void run() {
        t_current_queue = this;
        for (;;) {
            Task task;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
                if (stopping_) return;
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            runGuarded(task);
        }
    }
    std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};
}  // namespace

Queue& globalQueue(QoS qos) {
    static std::mutex mutex;
    static std::map<QoS, ConcurrentQueue*> pools;  // leaked on purpose: alive until exit
    std::lock_guard lock(mutex);
    auto& pool = pools[qos];
    if (!pool) pool = new ConcurrentQueue("global." + std::to_string(static_cast<int>(qos)));
    return *pool;
}

// ---- Main queue ----------------------------------------------------------------------------

namespace {
struct MainState {
    std::mutex mutex;
    std::condition_variable wake;
    Executor executor;
    std::function<bool()> isMain;
    std::deque<Task> pending;
    std::thread::id mainThread = std::this_thread::get_id();
};
MainState& mainState() {
    static auto* s = new MainState;
    return *s;
}
}  // namespace

void installMainExecutor(Executor executor, std::function<bool()> isMainThread) {
    auto& s = mainState();
    std::deque<Task> backlog;
    {
        std::lock_guard lock(s.mutex);
        s.executor = std::move(executor);
        s.isMain = std::move(isMainThread);
        if (s.executor) backlog.swap(s.pending);
    }
    for (auto& t : backlog) s.executor(std::move(t));
}

void setMainThreadToCurrent() {
    auto& s = mainState();
    std::lock_guard lock(s.mutex);
    s.mainThread = std::this_thread::get_id();
}

void returnToHandPumpedMainQueue(std::vector<Task> leftovers) {
    auto& s = mainState();
    {
        std::lock_guard lock(s.mutex);
        s.executor = nullptr;
        s.isMain = nullptr;
        s.mainThread = std::this_thread::get_id();
        for (auto it = leftovers.rbegin(); it != leftovers.rend(); ++it) s.pending.push_front(std::move(*it));
    }
    s.wake.notify_all();
}

std::size_t drainMainQueueBefore(Clock::time_point deadline) {
    auto& s = mainState();
    std::size_t ran = 0;
    while (Clock::now() < deadline) {
        Task task;
        {
            std::lock_guard lock(s.mutex);
            if (s.pending.empty()) break;
            task = std::move(s.pending.front());
            s.pending.pop_front();
        }
        runGuarded(task);
        ++ran;
    }
    return ran;
}

void MainQueue::async(Task task) {
    auto& s = mainState();
    Executor executor;
    {
        std::lock_guard lock(s.mutex);
        if (!s.executor) {
            s.pending.push_back(std::move(task));
            s.wake.notify_all();
            return;
        }
        executor = s.executor;
    }
    executor([task = std::move(task)] {
        t_current_queue = &mainQueue();
        runGuarded(task);
        t_current_queue = nullptr;
    });
}

void MainQueue::sync(Task task) {
    if (isCurrent()) {
        runGuarded(task);
        return;
    }
    Queue::sync(std::move(task));
}

const std::string& MainQueue::label() const {
    static const std::string label = "main";
    return label;
}

bool MainQueue::isCurrent() const {
    auto& s = mainState();
    std::function<bool()> isMain;
    std::thread::id mainThread;
    {
        std::lock_guard lock(s.mutex);
        isMain = s.isMain;
        mainThread = s.mainThread;
    }
    if (isMain) return isMain();
    return std::this_thread::get_id() == mainThread;
}

Queue& mainQueue() {
    static MainQueue* queue = new MainQueue;
    return *queue;
}

std::size_t drainMainQueue(std::chrono::milliseconds limit) {
    auto& s = mainState();
    const auto deadline = Clock::now() + limit;
    std::size_t ran = 0;
    for (;;) {
        Task task;
        {
            std::unique_lock lock(s.mutex);
            if (s.pending.empty() && limit.count() > 0) {
                s.wake.wait_until(lock, deadline, [&] { return !s.pending.empty(); });
            }
            if (s.pending.empty()) return ran;
            task = std::move(s.pending.front());
            s.pending.pop_front();
        }
        runGuarded(task);
        ++ran;
        if (limit.count() > 0 && Clock::now() >= deadline) return ran;
    }
}

bool pumpMainQueueUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        auto now = Clock::now();
        if (now >= deadline) return done();
        auto slice = std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(5));
        drainMainQueue(std::chrono::duration_cast<std::chrono::milliseconds>(slice) + std::chrono::milliseconds(1));
    }
    return true;
}

// ---- Timers --------------------------------------------------------------------------------

struct Timer::State {
    std::atomic<bool> cancelled{false};
};

namespace {
struct TimerEntry {
    Queue* queue;
    std::weak_ptr<std::atomic<bool>> alive;  // empty for one-shot submissions
    bool hasHandle;
    Task task;
};

class TimerThread {
public:
    static TimerThread& shared() {
        static auto* t = new TimerThread;  // lives until exit
        return *t;
    }
    void schedule(Clock::time_point when, TimerEntry entry) {
        {
            std::lock_guard lock(mutex_);
            entries_.emplace(when, std::move(entry));
        }
        wake_.notify_one();
    }

private:
    TimerThread() { std::thread([this] { run(); }).detach(); }
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (entries_.empty()) {
                wake_.wait(lock);
                continue;
            }
            auto first = entries_.begin();
            if (Clock::now() < first->first) {
                wake_.wait_until(lock, first->first);
                continue;
            }
            TimerEntry entry = std::move(first->second);
            entries_.erase(first);
            lock.unlock();
            bool fire = true;
            if (entry.hasHandle) {
                auto flag = entry.alive.lock();
                fire = flag && !flag->load();
            }
            if (fire) entry.queue->async(std::move(entry.task));
            lock.lock();
        }
    }
    std::mutex mutex_;
    std::condition_variable wake_;
    std::multimap<Clock::time_point, TimerEntry> entries_;
};

}  // namespace

// The timer keeps only a weak link to its cancel flag, so a destroyed Timer never fires.

Timer::Timer(Queue& queue, std::chrono::milliseconds delay, Task task) : state_(std::make_shared<State>()) {
    auto flag = std::shared_ptr<std::atomic<bool>>(state_, &state_->cancelled);
    // Check the flag again on the queue, so a cancel() that races the firing still wins.
    std::weak_ptr<std::atomic<bool>> weak = flag;
    Task guarded = [weak, task = std::move(task)] {
        auto f = weak.lock();
        if (f && !f->load()) task();
    };
    TimerThread::shared().schedule(Clock::now() + delay, TimerEntry{&queue, flag, true, std::move(guarded)});
}

Timer::~Timer() { cancel(); }

void Timer::cancel() { state_->cancelled.store(true); }

void after(Queue& queue, std::chrono::milliseconds delay, Task task) {
    TimerThread::shared().schedule(Clock::now() + delay, TimerEntry{&queue, {}, false, std::move(task)});
}

}  // namespace dispatch
