#include "tandrel/foundation/AMZOperationQueue.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <optional>
#include <utility>

// ---- Operations ------------------------------------------------------------------------------

AMZQueueOperation::AMZQueueOperation() = default;

AMZQueueOperation::~AMZQueueOperation() {
    for (auto& d : dependencies_) d.operation->removeObserver(d.token);
}

void AMZQueueOperation::notify(const std::string& key, bool did) {
    std::vector<KeyObserver> observers;
    {
        std::lock_guard lock(mutex_);
        observers.reserve(observers_.size());
        for (auto& [token, observer] : observers_) observers.push_back(observer);
    }
    for (auto& observer : observers) observer(key, did);
}

void AMZQueueOperation::willChangeValueForKey(const std::string& key) { notify(key, false); }
void AMZQueueOperation::didChangeValueForKey(const std::string& key) { notify(key, true); }

uint64_t AMZQueueOperation::addObserver(KeyObserver observer) {
    std::lock_guard lock(mutex_);
    uint64_t token = nextToken_++;
    observers_.emplace(token, std::move(observer));
    return token;
}

void AMZQueueOperation::removeObserver(uint64_t token) {
    KeyObserver dropped;  // destroyed outside the lock: it may own the last reference to something
    std::lock_guard lock(mutex_);
    if (auto it = observers_.find(token); it != observers_.end()) {
        dropped = std::move(it->second);
        observers_.erase(it);
    }
}

bool AMZQueueOperation::markEnqueued() {
    std::lock_guard lock(mutex_);
    return !std::exchange(enqueued_, true);
}

bool AMZQueueOperation::isCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

bool AMZQueueOperation::isReady() const {
    std::vector<std::shared_ptr<AMZQueueOperation>> deps;
    {
        std::lock_guard lock(mutex_);
        if (cancelled_) return true;
        for (auto& d : dependencies_) deps.push_back(d.operation);
    }
    return std::all_of(deps.begin(), deps.end(), [](const auto& d) { return d->isFinished(); });
}

bool AMZQueueOperation::isExecuting() const {
    std::lock_guard lock(mutex_);
    return executing_;
}

bool AMZQueueOperation::isFinished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

std::string AMZQueueOperation::description() const { return "AMZQueueOperation"; }

void AMZQueueOperation::start() {
    {
        std::lock_guard lock(mutex_);
        if (executing_ || finished_) return;
    }
    if (!isCancelled()) {
        willChangeValueForKey("isExecuting");
        {
            std::lock_guard lock(mutex_);
            executing_ = true;
        }
        didChangeValueForKey("isExecuting");
        main();
    }
    willChangeValueForKey("isExecuting");
    willChangeValueForKey("isFinished");
    {
        std::lock_guard lock(mutex_);
        executing_ = false;
        finished_ = true;
    }
    didChangeValueForKey("isFinished");
    didChangeValueForKey("isExecuting");
}

void AMZQueueOperation::cancel() {
    {
        std::lock_guard lock(mutex_);
        if (cancelled_) return;
    }
    willChangeValueForKey("isCancelled");
    willChangeValueForKey("isReady");
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    didChangeValueForKey("isReady");
    didChangeValueForKey("isCancelled");
}

void AMZQueueOperation::addDependency(const std::shared_ptr<AMZQueueOperation>& operation) {
    if (!operation || operation.get() == this) return;
    {
        std::lock_guard lock(mutex_);
        for (auto& d : dependencies_)
            if (d.operation == operation) return;
    }
    std::weak_ptr<AMZQueueOperation> weak = weak_from_this();
    uint64_t token = operation->addObserver([weak](const std::string& key, bool did) {
        if (!did || key != "isFinished") return;
        if (auto self = weak.lock()) {
            self->willChangeValueForKey("isReady");
            self->didChangeValueForKey("isReady");
        }
    });
    willChangeValueForKey("isReady");
    {
        std::lock_guard lock(mutex_);
        dependencies_.push_back({operation, token});
    }
    didChangeValueForKey("isReady");
}

void AMZQueueOperation::removeDependency(const std::shared_ptr<AMZQueueOperation>& operation) {
    std::optional<Dependency> removed;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(dependencies_.begin(), dependencies_.end(),
                               [&](const Dependency& d) { return d.operation == operation; });
        if (it == dependencies_.end()) return;
        removed = *it;
        dependencies_.erase(it);
    }
    removed->operation->removeObserver(removed->token);
    willChangeValueForKey("isReady");
    didChangeValueForKey("isReady");
}

std::vector<std::shared_ptr<AMZQueueOperation>> AMZQueueOperation::dependencies() const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<AMZQueueOperation>> out;
    for (auto& d : dependencies_) out.push_back(d.operation);
    return out;
}

AMZQueuePriority AMZQueueOperation::queuePriority() const {
    std::lock_guard lock(mutex_);
    return priority_;
}

void AMZQueueOperation::setQueuePriority(AMZQueuePriority priority) {
    std::lock_guard lock(mutex_);
    priority_ = priority;
}

// ---- Queues ----------------------------------------------------------------------------------

namespace {
class BlockOperation final : public AMZQueueOperation {
public:
    explicit BlockOperation(std::function<void()> block) : block_(std::move(block)) {}
    void main() override {
        if (block_) block_();
        block_ = nullptr;
    }
    std::string description() const override { return "AMZBlockOperation"; }

private:
    std::function<void()> block_;
};
}  // namespace

struct AMZOperationQueue::State : std::enable_shared_from_this<State> {
    std::string name;
    dispatch::QoS qos;
    mutable std::mutex mutex;
    std::condition_variable idle;
    struct Entry {
        std::shared_ptr<AMZQueueOperation> operation;
        uint64_t token = 0;
        uint64_t order = 0;
        bool started = false;
    };
    std::vector<Entry> entries;
    int width = kDefaultMaxConcurrentOperationCount;
    int running = 0;
    uint64_t nextOrder = 0;

    void changed(AMZQueueOperation* operation, const std::string& key) {
        // Dropping an observer drops its reference to this state; keep one until we return.
        auto keep = shared_from_this();
        if (key == "isFinished") {
            if (!operation->isFinished()) return;
            std::optional<Entry> gone;
            {
                std::lock_guard lock(mutex);
                auto it = std::find_if(entries.begin(), entries.end(),
                                       [&](const Entry& e) { return e.operation.get() == operation; });
                if (it == entries.end()) return;
                gone = std::move(*it);
                entries.erase(it);
                if (gone->started) --running;
            }
            idle.notify_all();
            gone->operation->removeObserver(gone->token);
        }
        schedule();
    }

    void schedule() {
        std::vector<std::shared_ptr<AMZQueueOperation>> toStart;
        {
            std::lock_guard lock(mutex);
            while (width < 0 || running < width) {
                Entry* best = nullptr;
                for (auto& e : entries) {
                    if (e.started || !e.operation->isReady()) continue;
                    if (!best) {
                        best = &e;
                        continue;
                    }
                    auto p = static_cast<int>(e.operation->queuePriority());
                    auto bp = static_cast<int>(best->operation->queuePriority());
                    if (p > bp || (p == bp && e.order < best->order)) best = &e;
                }
                if (!best) break;
                best->started = true;
                ++running;
                toStart.push_back(best->operation);
            }
        }
        for (auto& operation : toStart) {
            dispatch::globalQueue(qos).async([operation] { operation->start(); });
        }
    }
};

AMZOperationQueue::AMZOperationQueue(std::string name, dispatch::QoS qos) : state_(std::make_shared<State>()) {
    state_->name = std::move(name);
    state_->qos = qos;
}

AMZOperationQueue::~AMZOperationQueue() = default;

void AMZOperationQueue::setMaxConcurrentOperationCount(int count) {
    {
        std::lock_guard lock(state_->mutex);
        state_->width = count == 0 ? 1 : count;
    }
    state_->schedule();
}

int AMZOperationQueue::maxConcurrentOperationCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->width;
}

const std::string& AMZOperationQueue::name() const { return state_->name; }

void AMZOperationQueue::addOperation(std::shared_ptr<AMZQueueOperation> operation) {
    if (!operation || operation->isFinished() || !operation->markEnqueued()) return;
    // The observer keeps the queue's state alive while the operation is in it, so the work goes
    // on when the queue object is dropped.
    auto state = state_;
    AMZQueueOperation* raw = operation.get();
    uint64_t token = operation->addObserver([state, raw](const std::string& key, bool did) {
        if (did && (key == "isFinished" || key == "isReady")) state->changed(raw, key);
    });
    {
        std::lock_guard lock(state_->mutex);
        state_->entries.push_back({operation, token, state_->nextOrder++, false});
    }
    // It may have finished before the observer was in place.
    if (operation->isFinished()) state_->changed(raw, "isFinished");
    else state_->schedule();
}

void AMZOperationQueue::addOperation(std::function<void()> block) {
    addOperation(std::make_shared<BlockOperation>(std::move(block)));
}

void AMZOperationQueue::cancelAllOperations() {
    auto all = operations();
    for (auto it = all.rbegin(); it != all.rend(); ++it) (*it)->cancel();
}

std::vector<std::shared_ptr<AMZQueueOperation>> AMZOperationQueue::operations() const {
    std::lock_guard lock(state_->mutex);
    std::vector<std::shared_ptr<AMZQueueOperation>> out;
    for (auto& e : state_->entries) out.push_back(e.operation);
    return out;
}

size_t AMZOperationQueue::operationCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->entries.size();
}

bool AMZOperationQueue::waitUntilAllOperationsAreFinished(std::chrono::milliseconds limit) {
    std::unique_lock lock(state_->mutex);
    return state_->idle.wait_for(lock, limit, [&] { return state_->entries.empty(); });
}

// ---- Background tasks and application state -------------------------------------------------

AMZBackgroundTasks& AMZBackgroundTasks::shared() {
    static auto* tasks = new AMZBackgroundTasks;  // lives until exit
    return *tasks;
}

uint64_t AMZBackgroundTasks::begin(const std::string& name, std::function<void()> expirationHandler) {
    std::lock_guard lock(mutex_);
    uint64_t id = next_++;
    tasks_.emplace(id, Task{name, std::move(expirationHandler)});
    return id;
}

void AMZBackgroundTasks::end(uint64_t identifier) {
    Task dropped;
    std::lock_guard lock(mutex_);
    if (auto it = tasks_.find(identifier); it != tasks_.end()) {
        dropped = std::move(it->second);
        tasks_.erase(it);
    }
}

void AMZBackgroundTasks::expire_all() {
    std::vector<std::function<void()>> handlers;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, task] : tasks_) handlers.push_back(std::exchange(task.expire, nullptr));
    }
    for (auto& h : handlers)
        if (h) h();
}

std::vector<std::string> AMZBackgroundTasks::active_names() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (auto& [id, task] : tasks_) out.push_back(task.name);
    return out;
}

namespace {
std::atomic<AMZApplicationState> g_application_state{AMZApplicationState::active};
}

AMZApplicationState amz_application_state() { return g_application_state.load(); }
void amz_set_application_state(AMZApplicationState state) { g_application_state.store(state); }
