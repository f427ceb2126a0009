#pragma once
// The app's asynchronous operations: a three-state life cycle (ready, executing, finished) that
// operation queues follow, optional blocks run before or instead of the work, a result or an
// error, errors passed up a chain of parents, self-cancellation when the operation depended on was
// cancelled, failed or asked the chain to stop, and a background task held while running.
//
// Safe across threads: the state, result, error, links and blocks are guarded, each block runs at
// most once, and however many threads race to finish an operation (its work, a cancel, the expiry
// of its background task) exactly one finish takes effect; the others only log.
//
// Operations are always made with std::make_shared.
#include <any>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tandrel/foundation/AMZOperationQueue.h"
#include "tandrel/foundation/VornError.h"

// Errors of the operations themselves. No texts of their own; the code is the case's position.
struct operation_error {
    enum Case { invalid_input, invalid_parameter, not_implemented, missing_operation };
    Case value;
    operation_error(Case c) : value(c) {}
    std::string name() const;
    operator VornError() const;
};

class AMZBaseOperation : public AMZQueueOperation {
public:
    enum class State { ready, executing, finished };
    static std::string raw_value(State state);  // "Ready", "Executing", "Finished"
    static std::string key_path(State state);   // "isReady", "isExecuting", "isFinished"

    // A block run with the operation; an error it returns fails the operation.
    using FailableBlock = std::function<std::optional<VornError>(AMZBaseOperation* operation)>;
    using Block = std::function<void(AMZBaseOperation* operation)>;

    AMZBaseOperation();
    ~AMZBaseOperation() override;

    // ---- State and outcome ----------------------------------------------------------------
    State state() const;
    // None until a background task was begun; AMZBackgroundTasks::kInvalid once it was ended.
    std::optional<uint64_t> backgroundTaskID() const;
    std::any result() const;  // empty: no result
    std::optional<VornError> error() const;

    // ---- Switches (set them before the operation is queued) -----------------------------------
    std::atomic<bool> log_error{true};                  // log an error given to finish_operation
    std::atomic<bool> use_bg_task{true};                // hold a background task while running
    std::atomic<bool> interrupt_chain{false};           // operations depending on this one cancel themselves
    std::atomic<bool> interrupt_chain_on_result{false}; // set interrupt_chain when finishing with a result
    std::atomic<bool> ensure_execution{false};          // ignore cancellation and the interruption checks
    std::atomic<bool> error_interrupt_chain{true};      // cancel itself when its first dependency holds an error
    std::atomic<bool> cancel_interrupt_chain{true};     // cancel itself when its first dependency was cancelled
    std::atomic<bool> propagate_error_to_parent{true};  // copy an error up the parent chain
    std::atomic<bool> propagated_error{false};          // set when a child's error was copied here
    std::atomic<bool> enable_op_log{false};             // log the destruction at verbose level

    // ---- Links ------------------------------------------------------------------------------
    std::shared_ptr<AMZBaseOperation> parent() const;
    void set_parent(std::shared_ptr<AMZBaseOperation> parent);
    std::vector<std::shared_ptr<AMZBaseOperation>> children_ops() const;
    // Links a child below this operation (the child's parent becomes this operation).
    void add_child_op(const std::shared_ptr<AMZBaseOperation>& child);
    // The operation's own queue (one operation at a time); cancelled with it.
    AMZOperationQueue& sub_queue() { return sub_queue_; }

    // ---- Blocks (each cleared after it ran) ---------------------------------------------------
    void set_input_block(FailableBlock block);    // first, when the operation executes
    void set_execute_block(FailableBlock block);  // the work, instead of run_operation
    void set_complete_block(Block block);         // at the finish, before the finished state
    void set_end_block(Block block);              // at the finish, after the finished state

    // ---- The work -----------------------------------------------------------------------------
    // Cancels the operation and its sub-queue; with `finish`, a running or ready operation is also
    // finished at once.
    virtual void cancel_operation_chain(bool finish);
    // The work; it must end with finish_operation. Does nothing in the base class.
    virtual std::optional<VornError> run_operation();
    // Records the outcome, runs the blocks and (with mark_finished) moves to the finished state.
    virtual void finish_operation(std::any result, std::optional<VornError> error, bool mark_finished);
    virtual void begin_background_task();
    // The first dependency, when it is one of these operations.
    virtual std::shared_ptr<AMZBaseOperation> check_dependencies();
    void execute_operation();
    void background_task_expired();

    // ---- Platform side ------------------------------------------------------------------------
    void start() override;
    void main() override;
    void cancel() override;
    bool isAsynchronous() const override { return true; }
    bool isExecuting() const override;
    bool isFinished() const override;
    // Label, result, error and " isCancelled true|false".
    std::string description() const override;

    // "-" once per ancestor, a blank, the depth, a blank and the class name.
    std::string label() const;
    virtual std::string class_name() const { return "AMZBaseOperation"; }
    // The debug rendering of a result ("nil" for none).
    static std::string describe_value(const std::any& value);

protected:
    void change_state(State next);
    std::shared_ptr<AMZBaseOperation> shared_self();

private:
    void receive_child_error(const VornError& error);

    mutable std::mutex mutex_;
    std::recursive_mutex state_change_mutex_;  // keeps each change's notices together
    State state_ = State::ready;
    bool started_ = false;
    bool finishing_ = false;
    std::optional<uint64_t> background_task_;
    std::any result_;
    std::optional<VornError> error_;
    std::shared_ptr<AMZBaseOperation> parent_;
    std::vector<std::shared_ptr<AMZBaseOperation>> children_;
    FailableBlock input_block_;
    FailableBlock execute_block_;
    Block complete_block_;
    Block end_block_;
    AMZOperationQueue sub_queue_;
};

// Finishes `seconds` after it starts executing (at once when asked to skip the wait while the app
// is in the background).
class AMZDelayOperation : public AMZBaseOperation {
public:
    std::atomic<int64_t> seconds{5};
    std::atomic<bool> avoid_wait_in_bacground{false};

    std::optional<VornError> run_operation() override;
    void wait_and_finish();
    std::string class_name() const override { return "AMZDelayOperation"; }
};

// An operation whose result is a T.
template <class T>
class AMZOperation : public AMZBaseOperation {
public:
    std::optional<T> typed_result() const {
        std::any r = result();
        if (const T* v = std::any_cast<T>(&r)) return *v;
        return std::nullopt;
    }
    std::string class_name() const override { return "AMZOperation"; }
};
