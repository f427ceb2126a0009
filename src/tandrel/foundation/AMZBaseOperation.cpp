#include "tandrel/foundation/AMZBaseOperation.h"

#include <nlohmann/json.hpp>

#include <exception>
#include <utility>

#include "platform/dispatch/Dispatch.h"
#include "tandrel/foundation/AMZLogger.h"

// ---- operation_error -------------------------------------------------------------------------

std::string operation_error::name() const {
    switch (value) {
        case invalid_input: return "invalid_input";
        case invalid_parameter: return "invalid_parameter";
        case not_implemented: return "not_implemented";
        case missing_operation: return "missing_operation";
    }
    return "invalid_input";
}

operation_error::operator VornError() const {
    int code = static_cast<int>(value);
    return VornError{"operation_error", code,
                     "The operation couldn't be completed. (operation_error error " + std::to_string(code) + ".)", name()};
}

// ---- AMZBaseOperation ------------------------------------------------------------------------

namespace {

// Runs a block or the work; a thrown exception becomes an error value (it must not cross a queue).
std::optional<VornError> guarded(const std::function<std::optional<VornError>()>& work) {
    try {
        return work();
    } catch (const std::exception& e) {
        return VornError{"AMZBaseOperation", 1, e.what(), "exception"};
    } catch (...) {
        return VornError{"AMZBaseOperation", 1, "unknown exception", "exception"};
    }
}

template <class T>
T take(std::mutex& m, T& slot) {
    std::lock_guard lock(m);
    return std::exchange(slot, T{});
}

}  // namespace

std::string AMZBaseOperation::raw_value(State state) {
    switch (state) {
        case State::ready: return "Ready";
        case State::executing: return "Executing";
        case State::finished: return "Finished";
    }
    return "Ready";
}

std::string AMZBaseOperation::key_path(State state) { return "is" + raw_value(state); }

AMZBaseOperation::AMZBaseOperation() : sub_queue_("AMZBaseOperation.sub_queue") {
    sub_queue_.setMaxConcurrentOperationCount(1);
}

AMZBaseOperation::~AMZBaseOperation() {
    set_parent(nullptr);
    if (enable_op_log) AMZLogger::shared().log_verbose("deinit " + label());
    if (background_task_ && *background_task_ != AMZBackgroundTasks::kInvalid) {
        AMZBackgroundTasks::shared().end(*background_task_);
    }
}

std::shared_ptr<AMZBaseOperation> AMZBaseOperation::shared_self() {
    return std::static_pointer_cast<AMZBaseOperation>(weak_from_this().lock());
}

AMZBaseOperation::State AMZBaseOperation::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

std::optional<uint64_t> AMZBaseOperation::backgroundTaskID() const {
    std::lock_guard lock(mutex_);
    return background_task_;
}

std::any AMZBaseOperation::result() const {
    std::lock_guard lock(mutex_);
    return result_;
}

std::optional<VornError> AMZBaseOperation::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

std::shared_ptr<AMZBaseOperation> AMZBaseOperation::parent() const {
    std::lock_guard lock(mutex_);
    return parent_;
}

void AMZBaseOperation::set_parent(std::shared_ptr<AMZBaseOperation> parent) {
    std::shared_ptr<AMZBaseOperation> old;  // released outside the lock
    std::lock_guard lock(mutex_);
    old = std::exchange(parent_, std::move(parent));
}

std::vector<std::shared_ptr<AMZBaseOperation>> AMZBaseOperation::children_ops() const {
    std::lock_guard lock(mutex_);
    return children_;
}

void AMZBaseOperation::add_child_op(const std::shared_ptr<AMZBaseOperation>& child) {
    if (!child || child.get() == this) return;
    child->set_parent(shared_self());
    std::lock_guard lock(mutex_);
    children_.push_back(child);
}

void AMZBaseOperation::set_input_block(FailableBlock block) {
    std::lock_guard lock(mutex_);
    input_block_ = std::move(block);
}

void AMZBaseOperation::set_execute_block(FailableBlock block) {
    std::lock_guard lock(mutex_);
    execute_block_ = std::move(block);
}

void AMZBaseOperation::set_complete_block(Block block) {
    std::lock_guard lock(mutex_);
    complete_block_ = std::move(block);
}

void AMZBaseOperation::set_end_block(Block block) {
    std::lock_guard lock(mutex_);
    end_block_ = std::move(block);
}

std::string AMZBaseOperation::label() const {
    int depth = 0;
    for (auto p = parent(); p; p = p->parent()) ++depth;
    return std::string(static_cast<size_t>(depth), '-') + " " + std::to_string(depth) + " " + class_name();
}

std::string AMZBaseOperation::describe_value(const std::any& value) {
    if (!value.has_value()) return "nil";
    if (auto* s = std::any_cast<std::string>(&value)) return std::to_string(s->size()) + " bytes";
    if (auto* j = std::any_cast<nlohmann::json>(&value)) return j->dump();
    if (auto* b = std::any_cast<bool>(&value)) return *b ? "true" : "false";
    if (auto* i = std::any_cast<int>(&value)) return std::to_string(*i);
    if (auto* l = std::any_cast<int64_t>(&value)) return std::to_string(*l);
    if (auto* d = std::any_cast<double>(&value)) return std::to_string(*d);
    return std::string("<") + value.type().name() + ">";
}

std::string AMZBaseOperation::description() const {
    std::any r;
    std::optional<VornError> e;
    {
        std::lock_guard lock(mutex_);
        r = result_;
        e = error_;
    }
    return label() + " " + describe_value(r) + " " + (e ? e->text() : std::string("nil")) + " isCancelled " +
           (isCancelled() ? "true" : "false");
}

bool AMZBaseOperation::isExecuting() const { return state() == State::executing; }
bool AMZBaseOperation::isFinished() const { return state() == State::finished; }

void AMZBaseOperation::change_state(State next) {
    std::lock_guard serial(state_change_mutex_);
    State old = state();
    willChangeValueForKey(key_path(old));
    willChangeValueForKey(key_path(next));
    {
        std::lock_guard lock(mutex_);
        state_ = next;
    }
    didChangeValueForKey(key_path(next));
    didChangeValueForKey(key_path(old));
}

void AMZBaseOperation::start() {
    {
        std::lock_guard lock(mutex_);
        // An operation runs once; a second start (or a start after it finished) does nothing.
        if (started_ || state_ == State::finished) return;
        started_ = true;
    }
    auto keep = shared_self();
    begin_background_task();
    change_state(State::ready);
    main();
}

void AMZBaseOperation::main() { execute_operation(); }

void AMZBaseOperation::execute_operation() {
    auto keep = shared_self();
    change_state(State::executing);

    if (auto input = take(mutex_, input_block_)) {
        if (auto e = guarded([&] { return input(this); })) {
            cancel_operation_chain(false);
            finish_operation({}, e, true);
            return;
        }
    }

    if (!ensure_execution) {
        if (isCancelled()) {
            finish_operation({}, std::nullopt, true);
            return;
        }
        if (auto dependency = check_dependencies()) {
            if (dependency->interrupt_chain || (cancel_interrupt_chain && dependency->isCancelled()) ||
                (error_interrupt_chain && dependency->error())) {
                cancel();
                return;
            }
        }
    }

    std::optional<VornError> e;
    if (auto work = take(mutex_, execute_block_)) {
        e = guarded([&] { return work(this); });
    } else {
        e = guarded([&] { return run_operation(); });
    }
    if (e) {
        AMZLogger::shared().log_error("operation error " + description() + " " + e->text());
        finish_operation({}, e, true);
    }
}

std::optional<VornError> AMZBaseOperation::run_operation() { return std::nullopt; }

void AMZBaseOperation::cancel() { cancel_operation_chain(true); }

void AMZBaseOperation::cancel_operation_chain(bool finish) {
    if (ensure_execution) return;
    if (isFinished()) {
        AMZLogger::shared().log_warn("cannot cancel op isFinished " + label());
        return;
    }
    AMZQueueOperation::cancel();
    auto queued = sub_queue_.operations();
    for (auto it = queued.rbegin(); it != queued.rend(); ++it) (*it)->cancel();

    if (isExecuting()) {
        if (finish) finish_operation({}, std::nullopt, true);
        return;
    }
    if (AMZQueueOperation::isReady()) {
        // The completion work runs now; the state stays ready, and the queue later starts the
        // cancelled operation, which then goes straight to finished.
        if (finish) finish_operation({}, std::nullopt, false);
        return;
    }
    AMZLogger::shared().log_warn("cannot cancel op not ready " + label());
}

void AMZBaseOperation::receive_child_error(const VornError& error) {
    {
        std::lock_guard lock(mutex_);
        error_ = error;
    }
    propagated_error = true;
}

void AMZBaseOperation::finish_operation(std::any result, std::optional<VornError> error, bool mark_finished) {
    auto keep = shared_self();  // a finish may drop the last other reference (the queue's)
    bool already = false;
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::finished || finishing_) {
            already = true;
        } else {
            if (mark_finished) finishing_ = true;
            result_ = result;
            if (error && !error_) error_ = error;
        }
    }
    if (already) {
        if (!isCancelled()) AMZLogger::shared().log_warn("operation already finished " + description());
        return;
    }

    if (error) {
        if (log_error) AMZLogger::shared().log_error("op_error " + label() + " " + error->localizedDescription());
        if (propagate_error_to_parent) {
            for (auto p = parent(); p; p = p->parent()) p->receive_child_error(*error);
        }
    }

    if (auto complete = take(mutex_, complete_block_)) complete(this);

    take(mutex_, children_);

    if (interrupt_chain_on_result && result.has_value()) interrupt_chain = true;

    if (mark_finished) change_state(State::finished);

    if (auto end = take(mutex_, end_block_)) end(this);

    set_parent(nullptr);

    std::optional<uint64_t> task;
    {
        std::lock_guard lock(mutex_);
        if (background_task_ && *background_task_ != AMZBackgroundTasks::kInvalid) {
            task = std::exchange(background_task_, AMZBackgroundTasks::kInvalid);
        }
    }
    if (task) AMZBackgroundTasks::shared().end(*task);
}

void AMZBaseOperation::begin_background_task() {
    if (!use_bg_task) return;
    if (auto p = parent(); p && p->use_bg_task) return;  // the parent holds the task for the chain
    std::weak_ptr<AMZQueueOperation> weak = weak_from_this();
    uint64_t id = AMZBackgroundTasks::shared().begin(class_name(), [weak] {
        if (auto self = weak.lock()) static_cast<AMZBaseOperation*>(self.get())->background_task_expired();
    });
    std::lock_guard lock(mutex_);
    background_task_ = id;
}

void AMZBaseOperation::background_task_expired() {
    auto keep = shared_self();
    AMZLogger::shared().log_error("expired_task " + class_name());
    if (!isFinished()) finish_operation({}, std::nullopt, true);
    std::optional<uint64_t> task;
    {
        std::lock_guard lock(mutex_);
        if (background_task_ && *background_task_ != AMZBackgroundTasks::kInvalid) {
            task = std::exchange(background_task_, AMZBackgroundTasks::kInvalid);
        }
    }
    if (task) AMZBackgroundTasks::shared().end(*task);
}

std::shared_ptr<AMZBaseOperation> AMZBaseOperation::check_dependencies() {
    auto deps = dependencies();
    if (deps.empty()) return nullptr;
    return std::dynamic_pointer_cast<AMZBaseOperation>(deps.front());
}

// ---- AMZDelayOperation -----------------------------------------------------------------------

std::optional<VornError> AMZDelayOperation::run_operation() {
    auto self = std::static_pointer_cast<AMZDelayOperation>(shared_self());
    dispatch::mainQueue().async([self] {
        if (self) self->wait_and_finish();
    });
    return std::nullopt;
}

void AMZDelayOperation::wait_and_finish() {
    auto self = std::static_pointer_cast<AMZDelayOperation>(shared_self());
    if (avoid_wait_in_bacground && amz_application_state() == AMZApplicationState::background) {
        finish_operation({}, std::nullopt, true);
        return;
    }
    dispatch::after(dispatch::globalQueue(dispatch::QoS::default_), std::chrono::seconds(seconds.load()),
                    [self] {
                        if (self) self->finish_operation({}, std::nullopt, true);
                    });
}
