#pragma once
// Operations and operation queues: the platform layer under the app's background operations.
//
// An operation has a life cycle (ready, executing, finished), a cancelled flag, dependencies that
// must finish before it is ready, and a queue priority. Changes of "isReady", "isExecuting",
// "isFinished" and "isCancelled" are announced to observers as will-change and did-change notices;
// queues learn of an operation's end through them, so an asynchronous operation may finish on any
// thread, long after its start returned.
//
// A queue starts its ready operations on the global pool, highest priority first (then in the
// order they were added), never more at once than its width. Operations keep running (and queued
// ones keep starting) after the queue object itself is gone.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/Dispatch.h"

enum class AMZQueuePriority : int { veryLow = -8, low = -4, normal = 0, high = 4, veryHigh = 8 };

class AMZQueueOperation : public std::enable_shared_from_this<AMZQueueOperation> {
public:
    // `did` is false for the will-change notice and true for the did-change notice.
    using KeyObserver = std::function<void(const std::string& key, bool did)>;

    AMZQueueOperation();
    virtual ~AMZQueueOperation();
    AMZQueueOperation(const AMZQueueOperation&) = delete;
    AMZQueueOperation& operator=(const AMZQueueOperation&) = delete;

    // Runs the operation. The base version runs `main` synchronously between the executing and
    // finished states (a cancelled operation goes straight to finished).
    virtual void start();
    virtual void main() {}
    // Sets the cancelled flag. A cancelled operation counts as ready whatever its dependencies.
    virtual void cancel();
    bool isCancelled() const;
    virtual bool isReady() const;
    virtual bool isExecuting() const;
    virtual bool isFinished() const;
    // True when the operation finishes on its own schedule after `start` returned.
    virtual bool isAsynchronous() const { return false; }
    virtual std::string description() const;

    void addDependency(const std::shared_ptr<AMZQueueOperation>& operation);
    void removeDependency(const std::shared_ptr<AMZQueueOperation>& operation);
    std::vector<std::shared_ptr<AMZQueueOperation>> dependencies() const;

    AMZQueuePriority queuePriority() const;
    void setQueuePriority(AMZQueuePriority priority);

    uint64_t addObserver(KeyObserver observer);
    void removeObserver(uint64_t token);
    void willChangeValueForKey(const std::string& key);
    void didChangeValueForKey(const std::string& key);

    // Claims the operation for one queue; false when it was already given to one.
    bool markEnqueued();

private:
    void notify(const std::string& key, bool did);

    mutable std::mutex mutex_;
    bool cancelled_ = false;
    bool enqueued_ = false;
    bool executing_ = false;  // base life cycle (synchronous operations)
    bool finished_ = false;
    AMZQueuePriority priority_ = AMZQueuePriority::normal;
    struct Dependency {
        std::shared_ptr<AMZQueueOperation> operation;
        uint64_t token;
    };
    std::vector<Dependency> dependencies_;
    std::map<uint64_t, KeyObserver> observers_;
    uint64_t nextToken_ = 1;
};

class AMZOperationQueue {
public:
    static constexpr int kDefaultMaxConcurrentOperationCount = -1;  // as many as are ready

    explicit AMZOperationQueue(std::string name = {}, dispatch::QoS qos = dispatch::QoS::default_);
    ~AMZOperationQueue();
    AMZOperationQueue(const AMZOperationQueue&) = delete;
    AMZOperationQueue& operator=(const AMZOperationQueue&) = delete;

    void setMaxConcurrentOperationCount(int count);
    int maxConcurrentOperationCount() const;
    const std::string& name() const;

    // Adds the operation; an operation already given to a queue, or finished, is ignored.
    void addOperation(std::shared_ptr<AMZQueueOperation> operation);
    void addOperation(std::function<void()> block);
    // Cancels every operation of the queue, from the last added to the first.
    void cancelAllOperations();
    // The operations not yet finished.
    std::vector<std::shared_ptr<AMZQueueOperation>> operations() const;
    size_t operationCount() const;
    // Waits until every operation added so far has finished, at most `limit`. It blocks: for
    // tests and shutdown, never on the GUI thread. True when the queue is empty.
    bool waitUntilAllOperationsAreFinished(std::chrono::milliseconds limit);

private:
    struct State;
    std::shared_ptr<State> state_;
};

// Work the platform lets finish after the app leaves the foreground. Where the platform has no
// such service the tasks are only recorded: begun at an operation's start, ended at its finish,
// and expired all at once (the app does it when it must stop at once).
class AMZBackgroundTasks {
public:
    static constexpr uint64_t kInvalid = 0;
    static AMZBackgroundTasks& shared();

    uint64_t begin(const std::string& name, std::function<void()> expirationHandler);
    void end(uint64_t identifier);
    // Calls the expiration handler of every task still held (each once).
    void expire_all();
    std::vector<std::string> active_names() const;

private:
    AMZBackgroundTasks() = default;
    mutable std::mutex mutex_;
    uint64_t next_ = 1;
    struct Task {
        std::string name;
        std::function<void()> expire;
    };
    std::map<uint64_t, Task> tasks_;
};

// Whether the app is in the foreground; set by the app's window layer.
enum class AMZApplicationState { active, inactive, background };
AMZApplicationState amz_application_state();
void amz_set_application_state(AMZApplicationState state);
