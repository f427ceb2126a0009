// Background operations: life cycle and its notices, exactly-once finishing across threads,
// cancellation, dependencies, error chains, background tasks, queues, URL and delay operations.
#include <gtest/gtest.h>

#include <ostream>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "support/LogCapture.h"
#include "platform/keychain/LoopbackHttpServer.h"
#include "tandrel/foundation/AMZBaseOperation.h"
#include "tandrel/foundation/AMZUrlConnOperation.h"

using namespace std::chrono_literals;
using State = AMZBaseOperation::State;

namespace {

// Notices of one operation, as "will:isReady" / "did:isFinished".
class Notices {
public:
    explicit Notices(AMZQueueOperation& op) {
        op.addObserver([this](const std::string& key, bool did) {
            std::lock_guard lock(mutex_);
            list_.push_back((did ? "did:" : "will:") + key);
        });
    }
    std::vector<std::string> list() {
        std::lock_guard lock(mutex_);
        return list_;
    }
    size_t count(const std::string& notice) {
        auto l = list();
        return static_cast<size_t>(std::count(l.begin(), l.end(), notice));
    }

private:
    std::mutex mutex_;
    std::vector<std::string> list_;
};

// An operation whose work only starts; the test finishes it.
std::shared_ptr<AMZBaseOperation> idleOperation() {
    auto op = std::make_shared<AMZBaseOperation>();
    op->set_execute_block([](AMZBaseOperation*) { return std::optional<VornError>(); });
    return op;
}

VornError testError(int code) { return VornError{"test", code, "test failure " + std::to_string(code), "e" + std::to_string(code)}; }

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    return dispatch::pumpMainQueueUntil(done, limit);
}

TEST(Operation, StartsReadyRunsAndFinishesWithItsNotices) {
    auto op = std::make_shared<AMZBaseOperation>();
    Notices notices(*op);
    State duringWork = State::ready, duringComplete = State::ready, duringEnd = State::ready;
    op->set_execute_block([&](AMZBaseOperation* o) {
        duringWork = o->state();
        o->finish_operation(std::string("done"), std::nullopt, true);
        return std::optional<VornError>();
    });
    op->set_complete_block([&](AMZBaseOperation* o) { duringComplete = o->state(); });
    op->set_end_block([&](AMZBaseOperation* o) { duringEnd = o->state(); });
    EXPECT_EQ(op->state(), State::ready);
    EXPECT_TRUE(op->isAsynchronous());

    op->start();

    EXPECT_EQ(duringWork, State::executing);
    EXPECT_EQ(duringComplete, State::executing);  // before the finished state
    EXPECT_EQ(duringEnd, State::finished);        // after it
    EXPECT_TRUE(op->isFinished());
    EXPECT_FALSE(op->isExecuting());
    EXPECT_EQ(std::any_cast<std::string>(op->result()), "done");
    EXPECT_EQ(notices.list(), (std::vector<std::string>{
                                  "will:isReady", "will:isReady", "did:isReady", "did:isReady",              // start
                                  "will:isReady", "will:isExecuting", "did:isExecuting", "did:isReady",      // main
                                  "will:isExecuting", "will:isFinished", "did:isFinished", "did:isExecuting"  // finish
                              }));
}

TEST(Operation, StateNamesAndKeys) {
    EXPECT_EQ(AMZBaseOperation::raw_value(State::ready), "Ready");
    EXPECT_EQ(AMZBaseOperation::key_path(State::executing), "isExecuting");
    EXPECT_EQ(AMZBaseOperation::key_path(State::finished), "isFinished");
}

// Many threads finish, cancel and expire the same running operation at once while others read
// its state: one finish takes effect, each block runs once, the finished notice comes once.
TEST(Operation, CompletionRunsExactlyOnceWhenThreadsRaceToFinish) {
    testlog::LogCapture log;
    constexpr int kThreads = 8;
    for (int round = 0; round < 60; ++round) {
        auto op = idleOperation();
        Notices notices(*op);
        std::atomic<int> completes{0}, ends{0};
        op->set_complete_block([&](AMZBaseOperation*) { ++completes; });
        op->set_end_block([&](AMZBaseOperation*) { ++ends; });
        op->start();
        ASSERT_EQ(op->state(), State::executing);

        std::barrier gate(kThreads + 1);
        std::atomic<bool> stopReading{false};
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([&, i] {
                gate.arrive_and_wait();
                switch (i % 4) {
                    case 0: op->finish_operation(i, std::nullopt, true); break;
                    case 1: op->cancel(); break;
                    case 2: op->background_task_expired(); break;
                    default: op->finish_operation({}, testError(i), true); break;
                }
            });
        }
        std::thread reader([&] {
            while (!stopReading) {
                auto s = op->state();
                EXPECT_TRUE(s == State::executing || s == State::finished);
                (void)op->description();
            }
        });
        gate.arrive_and_wait();
        for (auto& t : threads) t.join();
        stopReading = true;
        reader.join();

        EXPECT_EQ(completes.load(), 1);
        EXPECT_EQ(ends.load(), 1);
        EXPECT_EQ(notices.count("did:isFinished"), 1u);
        EXPECT_EQ(op->state(), State::finished);
        EXPECT_EQ(op->parent(), nullptr);
        EXPECT_EQ(op->backgroundTaskID(), std::optional<uint64_t>(AMZBackgroundTasks::kInvalid));
    }
}

TEST(Operation, ASecondFinishOnlyLogsUnlessCancelled) {
    testlog::LogCapture log;
    auto op = idleOperation();
    std::atomic<int> completes{0};
    op->set_complete_block([&](AMZBaseOperation*) { ++completes; });
    op->start();
    op->finish_operation(1, std::nullopt, true);
    op->finish_operation(2, std::nullopt, true);
    EXPECT_EQ(completes.load(), 1);
    EXPECT_EQ(std::any_cast<int>(op->result()), 1);
    EXPECT_EQ(log.count("operation already finished  0 AMZBaseOperation"), 1u);

    auto cancelled = idleOperation();
    cancelled->start();
    cancelled->cancel();
    cancelled->finish_operation(3, std::nullopt, true);
    EXPECT_EQ(log.count("operation already finished"), 1u);  // nothing more for a cancelled one
}

TEST(Operation, CancellingARunningOperationFinishesItAtOnce) {
    auto op = idleOperation();
    std::atomic<int> completes{0};
    op->set_complete_block([&](AMZBaseOperation*) { ++completes; });
    op->start();
    op->cancel();
    EXPECT_TRUE(op->isCancelled());
    EXPECT_TRUE(op->isFinished());
    EXPECT_FALSE(op->error());
    EXPECT_EQ(completes.load(), 1);
}

TEST(Operation, CancellingAReadyOperationCompletesNowAndFinishesWhenTheQueueStartsIt) {
    auto op = std::make_shared<AMZBaseOperation>();
    Notices notices(*op);
    std::atomic<int> completes{0}, works{0};
    op->set_execute_block([&](AMZBaseOperation* o) {
        ++works;
        o->finish_operation({}, std::nullopt, true);
        return std::optional<VornError>();
    });
    op->set_complete_block([&](AMZBaseOperation*) { ++completes; });

    op->cancel();
    EXPECT_EQ(completes.load(), 1);
    EXPECT_EQ(op->state(), State::ready);

    AMZOperationQueue queue("test");
    queue.addOperation(op);
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(5s));
    EXPECT_EQ(op->state(), State::finished);
    EXPECT_EQ(completes.load(), 1);
    EXPECT_EQ(works.load(), 0);
    // Through executing. The queue sees the finish before the last notice ("did:isExecuting")
    // is out: it is waited for, since the notices' recorder must not go before it has arrived.
    ASSERT_TRUE(waitUntil([&] { return notices.count("did:isExecuting") == 2; }));
    EXPECT_EQ(notices.count("will:isExecuting"), 2u);
    EXPECT_EQ(notices.count("did:isFinished"), 1u);
}

TEST(Operation, CancellingAFinishedOperationOnlyLogs) {
    testlog::LogCapture log;
    auto op = idleOperation();
    op->start();
    op->finish_operation({}, std::nullopt, true);
    op->cancel();
    EXPECT_FALSE(op->isCancelled());
    EXPECT_TRUE(log.contains("cannot cancel op isFinished  0 AMZBaseOperation"));
}

TEST(Operation, EnsureExecutionIgnoresCancel) {
    auto op = idleOperation();
    op->ensure_execution = true;
    op->start();
    op->cancel();
    EXPECT_FALSE(op->isCancelled());
    EXPECT_TRUE(op->isExecuting());
    op->finish_operation({}, std::nullopt, true);
    EXPECT_TRUE(op->isFinished());
}

TEST(Operation, CancellingAlsoCancelsTheSubQueue) {
    auto op = idleOperation();
    auto blocker = idleOperation();
    auto queued = idleOperation();
    op->sub_queue().addOperation(blocker);
    op->sub_queue().addOperation(queued);
    ASSERT_TRUE(waitUntil([&] { return blocker->isExecuting(); }));
    op->start();
    op->cancel();
    EXPECT_TRUE(blocker->isCancelled());
    EXPECT_TRUE(queued->isCancelled());
    EXPECT_TRUE(op->sub_queue().waitUntilAllOperationsAreFinished(5s));
}

// What the operation it depends on did, and whether the dependent then runs its work.
struct DependencyCase {
    const char* name;
    enum Outcome { finished, cancelled, failed, finishedWithResultInterrupting } outcome;
    bool cancelInterruptChain = true;
    bool errorInterruptChain = true;
    bool ensureExecution = false;
    bool dependentRuns;
};
void PrintTo(const DependencyCase& c, std::ostream* os) { *os << c.name; }

class OperationDependency : public ::testing::TestWithParam<DependencyCase> {};

TEST_P(OperationDependency, DependentRunsOrCancelsItself) {
    const auto& c = GetParam();
    auto dependency = std::make_shared<AMZBaseOperation>();
    dependency->interrupt_chain_on_result = c.outcome == DependencyCase::finishedWithResultInterrupting;
    dependency->set_execute_block([c](AMZBaseOperation* o) {
        switch (c.outcome) {
            case DependencyCase::cancelled: o->cancel(); break;
            case DependencyCase::failed: o->finish_operation({}, testError(7), true); break;
            case DependencyCase::finishedWithResultInterrupting: o->finish_operation(1, std::nullopt, true); break;
            default: o->finish_operation({}, std::nullopt, true); break;
        }
        return std::optional<VornError>();
    });
    auto dependent = std::make_shared<AMZBaseOperation>();
    dependent->cancel_interrupt_chain = c.cancelInterruptChain;
    dependent->error_interrupt_chain = c.errorInterruptChain;
    dependent->ensure_execution = c.ensureExecution;
    std::atomic<bool> ran{false};
    dependent->set_execute_block([&](AMZBaseOperation* o) {
        ran = true;
        o->finish_operation({}, std::nullopt, true);
        return std::optional<VornError>();
    });
    dependent->addDependency(dependency);

    AMZOperationQueue queue("deps");
    queue.addOperation(dependent);  // waits for its dependency although added first
    queue.addOperation(dependency);
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(5s));
    EXPECT_EQ(ran.load(), c.dependentRuns);
    EXPECT_EQ(dependent->isCancelled(), !c.dependentRuns);
    EXPECT_TRUE(dependent->isFinished());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OperationDependency,
    ::testing::Values(DependencyCase{"finished", DependencyCase::finished, true, true, false, true},
                      DependencyCase{"cancelled", DependencyCase::cancelled, true, true, false, false},
                      DependencyCase{"cancelled_not_interrupting", DependencyCase::cancelled, false, true, false, true},
                      DependencyCase{"failed", DependencyCase::failed, true, true, false, false},
                      DependencyCase{"failed_not_interrupting", DependencyCase::failed, true, false, false, true},
                      DependencyCase{"interrupt_chain_on_result", DependencyCase::finishedWithResultInterrupting, true, true, false, false},
                      DependencyCase{"failed_but_ensured", DependencyCase::failed, true, true, true, true},
                      DependencyCase{"cancelled_but_ensured", DependencyCase::cancelled, true, true, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Operation, AFailingInputBlockStopsTheWorkAndFinishesWithItsError) {
    testlog::LogCapture log;
    auto op = std::make_shared<AMZBaseOperation>();
    std::atomic<bool> worked{false};
    op->set_input_block([](AMZBaseOperation*) { return std::optional<VornError>(testError(3)); });
    op->set_execute_block([&](AMZBaseOperation*) {
        worked = true;
        return std::optional<VornError>();
    });
    op->start();
    EXPECT_FALSE(worked.load());
    EXPECT_TRUE(op->isFinished());
    EXPECT_TRUE(op->isCancelled());
    ASSERT_TRUE(op->error());
    EXPECT_EQ(op->error()->code, 3);
    EXPECT_TRUE(log.contains("op_error  0 AMZBaseOperation test failure 3"));
}

TEST(Operation, AFailingWorkIsLoggedAndFinishesWithItsError) {
    testlog::LogCapture log;
    auto op = std::make_shared<AMZBaseOperation>();
    op->set_execute_block([](AMZBaseOperation*) { return std::optional<VornError>(testError(4)); });
    op->start();
    EXPECT_TRUE(op->isFinished());
    EXPECT_EQ(op->error()->code, 4);
    EXPECT_TRUE(log.contains("operation error  0 AMZBaseOperation nil nil isCancelled false e4: test failure 4"));
    EXPECT_TRUE(log.contains("op_error  0 AMZBaseOperation test failure 4"));
}

TEST(Operation, AThrowingBlockBecomesAnErrorInsteadOfEscaping) {
    auto op = std::make_shared<AMZBaseOperation>();
    op->set_execute_block([](AMZBaseOperation*) -> std::optional<VornError> { throw std::runtime_error("boom"); });
    op->log_error = false;
    op->start();
    EXPECT_TRUE(op->isFinished());
    ASSERT_TRUE(op->error());
    EXPECT_EQ(op->error()->message, "boom");
}

TEST(Operation, LabelsCountTheAncestorsAndDescriptionsShowTheOutcome) {
    auto top = std::make_shared<AMZBaseOperation>();
    auto middle = std::make_shared<AMZBaseOperation>();
    auto bottom = std::make_shared<AMZUrlJsonConnOperation>();
    top->add_child_op(middle);
    middle->add_child_op(bottom);
    EXPECT_EQ(top->label(), " 0 AMZBaseOperation");
    EXPECT_EQ(middle->label(), "- 1 AMZBaseOperation");
    EXPECT_EQ(bottom->label(), "-- 2 AMZUrlJsonConnOperation");
    EXPECT_EQ(std::make_shared<AMZUrlJsonConnOperation>()->label(), " 0 AMZUrlJsonConnOperation");
    EXPECT_EQ(top->description(), " 0 AMZBaseOperation nil nil isCancelled false");
    top->finish_operation(nlohmann::json{{"a", 1}}, std::nullopt, false);
    EXPECT_EQ(top->description(), R"( 0 AMZBaseOperation {"a":1} nil isCancelled false)");
    // Finishing unlinks the chain (parents and children hold each other until then).
    for (auto op : std::vector<std::shared_ptr<AMZBaseOperation>>{bottom, middle, top}) op->finish_operation({}, std::nullopt, true);
    EXPECT_EQ(bottom->label(), " 0 AMZUrlJsonConnOperation");
    EXPECT_TRUE(top->children_ops().empty());
}

TEST(Operation, ErrorsGoUpTheParentChainAndTheFirstErrorStays) {
    testlog::LogCapture log;
    auto grandparent = idleOperation();
    auto parent = idleOperation();
    auto child = idleOperation();
    grandparent->add_child_op(parent);
    parent->add_child_op(child);
    child->start();
    parent->start();

    child->finish_operation({}, testError(1), true);
    EXPECT_EQ(parent->error()->code, 1);
    EXPECT_EQ(grandparent->error()->code, 1);
    EXPECT_TRUE(parent->propagated_error);
    EXPECT_TRUE(grandparent->propagated_error);
    EXPECT_FALSE(child->propagated_error);
    EXPECT_FALSE(parent->isFinished());  // a child's error neither finishes nor cancels
    EXPECT_FALSE(parent->isCancelled());
    EXPECT_TRUE(log.contains("op_error -- 2 AMZBaseOperation test failure 1"));
    EXPECT_EQ(child->parent(), nullptr);  // a finished operation has no parent ...

    // The parent's own error: its field keeps the first one, but the new one is logged and
    // replaces what the grandparent holds.
    parent->finish_operation({}, testError(2), true);
    EXPECT_EQ(parent->error()->code, 1);
    EXPECT_EQ(grandparent->error()->code, 2);
    EXPECT_TRUE(log.contains("op_error - 1 AMZBaseOperation test failure 2"));
    EXPECT_TRUE(parent->children_ops().empty());  // ... and no children
    EXPECT_EQ(parent->parent(), nullptr);
}

TEST(Operation, HoldsABackgroundTaskWhileRunningAndFinishesWhenItExpires) {
    testlog::LogCapture log;
    auto names = [] {
        auto n = AMZBackgroundTasks::shared().active_names();
        return std::count(n.begin(), n.end(), "AMZDelayOperation");
    };
    auto before = names();
    auto op = std::make_shared<AMZDelayOperation>();
    op->seconds = 3600;
    op->start();
    ASSERT_TRUE(op->backgroundTaskID());
    EXPECT_EQ(names(), before + 1);

    AMZBackgroundTasks::shared().expire_all();

    EXPECT_TRUE(op->isFinished());
    EXPECT_FALSE(op->error());
    EXPECT_EQ(names(), before);
    EXPECT_EQ(op->backgroundTaskID(), std::optional<uint64_t>(AMZBackgroundTasks::kInvalid));
    EXPECT_TRUE(log.contains("expired_task AMZDelayOperation"));
}

TEST(Operation, AChildLeavesTheBackgroundTaskToItsParent) {
    auto parent = idleOperation();
    auto child = idleOperation();
    parent->add_child_op(child);
    child->start();
    EXPECT_FALSE(child->backgroundTaskID());
    parent->use_bg_task = false;
    auto other = idleOperation();
    parent->add_child_op(other);
    other->start();
    EXPECT_TRUE(other->backgroundTaskID());
    child->finish_operation({}, std::nullopt, true);
    other->finish_operation({}, std::nullopt, true);
}

TEST(OperationQueue, WidthOneRunsOneAtATimeByPriorityThenInOrder) {
    AMZOperationQueue queue("serial");
    queue.setMaxConcurrentOperationCount(1);
    std::atomic<int> running{0}, most{0};
    std::mutex m;
    std::vector<std::string> order;
    std::atomic<bool> open{false};

    auto make = [&](std::string name, AMZQueuePriority priority, bool gate = false) {
        auto op = std::make_shared<AMZBaseOperation>();
        op->setQueuePriority(priority);
        op->set_execute_block([&, name, gate](AMZBaseOperation* o) {
            int now = ++running;
            most = std::max(most.load(), now);
            {
                std::lock_guard l(m);
                order.push_back(name);
            }
            auto self = std::static_pointer_cast<AMZBaseOperation>(o->shared_from_this());
            std::thread([&, self, gate] {
                while (gate && !open) std::this_thread::sleep_for(1ms);
                std::this_thread::sleep_for(5ms);
                --running;
                self->finish_operation({}, std::nullopt, true);
            }).detach();
            return std::optional<VornError>();
        });
        return op;
    };
    queue.addOperation(make("gate", AMZQueuePriority::normal, true));
    ASSERT_TRUE(waitUntil([&] { return running.load() == 1; }));
    queue.addOperation(make("low", AMZQueuePriority::veryLow));
    queue.addOperation(make("normal1", AMZQueuePriority::normal));
    queue.addOperation(make("high", AMZQueuePriority::high));
    queue.addOperation(make("normal2", AMZQueuePriority::normal));
    EXPECT_EQ(queue.operationCount(), 5u);
    open = true;
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(10s));
    EXPECT_EQ(most.load(), 1);
    EXPECT_EQ(order, (std::vector<std::string>{"gate", "high", "normal1", "normal2", "low"}));
}

TEST(OperationQueue, KeepsRunningAfterTheQueueObjectIsGone) {
    std::atomic<int> done{0};
    {
        AMZOperationQueue queue("dropped");
        queue.setMaxConcurrentOperationCount(1);
        for (int i = 0; i < 3; ++i) queue.addOperation([&] {
            std::this_thread::sleep_for(10ms);
            ++done;
        });
    }
    EXPECT_TRUE(waitUntil([&] { return done.load() == 3; }));
}

TEST(OperationQueue, AnOperationIsQueuedOnce) {
    AMZOperationQueue a("a"), b("b");
    auto op = idleOperation();
    a.addOperation(op);
    b.addOperation(op);
    EXPECT_EQ(a.operationCount() + b.operationCount(), 1u);
    a.cancelAllOperations();
    EXPECT_TRUE(a.waitUntilAllOperationsAreFinished(5s));
}

TEST(DelayOperation, FinishesAfterItsSecondsOrAtOnceInTheBackground) {
    auto op = std::make_shared<AMZDelayOperation>();
    EXPECT_EQ(op->seconds.load(), 5);
    op->seconds = 1;
    auto begun = std::chrono::steady_clock::now();
    op->start();
    ASSERT_TRUE(waitUntil([&] { return op->isFinished(); }, 5s));
    auto took = std::chrono::steady_clock::now() - begun;
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 3s);

    amz_set_application_state(AMZApplicationState::background);
    auto quick = std::make_shared<AMZDelayOperation>();
    quick->avoid_wait_in_bacground = true;
    begun = std::chrono::steady_clock::now();
    quick->start();
    ASSERT_TRUE(waitUntil([&] { return quick->isFinished(); }, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - begun, 1s);
    amz_set_application_state(AMZApplicationState::active);
}

// ---- URL operations against a loopback HTTP server ------------------------------------------

struct UrlCase {
    const char* name;
    bool json;
    int status;
    std::string body;
    std::optional<std::string> bytes;          // expected byte result
    std::optional<nlohmann::json> value;       // expected JSON result
    std::optional<std::pair<std::string, int64_t>> error;  // expected error domain and code
};
void PrintTo(const UrlCase& c, std::ostream* os) { *os << c.name; }

class UrlOperation : public ::testing::TestWithParam<UrlCase> {};

TEST_P(UrlOperation, AnswersBecomeResultsOrErrors) {
    const auto& c = GetParam();
    testhttp::LoopbackHttpServer server;
    testhttp::Reply reply;
    reply.status = c.status;
    reply.body = c.body;
    server.setReply(reply);

    std::shared_ptr<AMZUrlConnOperation> op = c.json ? std::make_shared<AMZUrlJsonConnOperation>()
                                                      : std::make_shared<AMZUrlConnOperation>();
    op->log_error = false;
    op->set_url(server.baseUrl() + "/thing");
    std::atomic<int> completes{0};
    op->set_complete_block([&](AMZBaseOperation*) { ++completes; });
    AMZOperationQueue queue("url");
    queue.addOperation(op);
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(10s));

    EXPECT_EQ(completes.load(), 1);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].method, "GET");
    EXPECT_EQ(server.requests()[0].target, "/thing");
    std::any result = op->result();
    if (c.bytes) {
        ASSERT_TRUE(std::any_cast<std::string>(&result));
        EXPECT_EQ(std::any_cast<std::string>(result), *c.bytes);
    } else if (c.value) {
        ASSERT_TRUE(std::any_cast<nlohmann::json>(&result));
        EXPECT_EQ(std::any_cast<nlohmann::json>(result), *c.value);
    } else {
        EXPECT_FALSE(result.has_value());
    }
    if (c.error) {
        ASSERT_TRUE(op->error());
        EXPECT_EQ(op->error()->domain, c.error->first);
        EXPECT_EQ(op->error()->code, c.error->second);
    } else {
        EXPECT_FALSE(op->error()) << op->error()->text();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, UrlOperation,
    ::testing::Values(
        UrlCase{"error_status_keeps_body", false, 500, "oops", std::string("oops"), std::nullopt, std::nullopt},
        UrlCase{"empty_body_no_result", false, 200, "", std::nullopt, std::nullopt, std::nullopt},
        UrlCase{"json_object", true, 200, R"({"result":{"n":1}})", std::nullopt, nlohmann::json{{"result", {{"n", 1}}}}, std::nullopt},
        UrlCase{"json_array_with_error_status", true, 404, "[1,2]", std::nullopt, nlohmann::json::array({1, 2}), std::nullopt},
        UrlCase{"json_empty_body", true, 204, "", std::nullopt, std::nullopt, std::nullopt},
        UrlCase{"json_invalid", true, 200, "<html>", std::nullopt, std::nullopt, std::pair<std::string, int64_t>{"NSCocoaErrorDomain", 3840}},
        UrlCase{"json_fragment_refused", true, 200, "\"text\"", std::nullopt, std::nullopt, std::pair<std::string, int64_t>{"NSCocoaErrorDomain", 3840}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UrlOperationFailures, NoRequestAndNoUrlIsInvalidParameter) {
    testlog::LogCapture log;
    auto op = std::make_shared<AMZUrlJsonConnOperation>();
    AMZOperationQueue queue("url");
    queue.addOperation(op);
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(5s));
    ASSERT_TRUE(op->error());
    EXPECT_EQ(op->error()->domain, "operation_error");
    EXPECT_EQ(op->error()->code, 1);
    EXPECT_TRUE(log.contains("operation error  0 AMZUrlJsonConnOperation"));
    EXPECT_TRUE(log.contains("op_error  0 AMZUrlJsonConnOperation"));
}

TEST(UrlOperationFailures, ARefusedConnectionIsTheError) {
    int port;
    {
        testhttp::LoopbackHttpServer closed;
        port = closed.port();
    }
    auto op = std::make_shared<AMZUrlConnOperation>();
    op->log_error = false;
    op->set_url("http://127.0.0.1:" + std::to_string(port) + "/");
    AMZOperationQueue queue("url");
    queue.addOperation(op);
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(10s));
    ASSERT_TRUE(op->error());
    EXPECT_EQ(op->error()->domain, "AMZUrlSession");
    EXPECT_EQ(op->error()->code, 7);  // could not connect
}

TEST(UrlOperationFailures, AServerThatNeverAnswersTimesOut) {
    testhttp::LoopbackHttpServer server;
    testhttp::Reply reply;
    reply.silent = true;
    server.setReply(reply);
    auto op = std::make_shared<AMZUrlConnOperation>();
    op->log_error = false;
    op->set_request(AMZUrlRequest(server.baseUrl() + "/", AMZUrlRequest::CachePolicy::useProtocolCachePolicy, 1));
    auto begun = std::chrono::steady_clock::now();
    AMZOperationQueue queue("url");
    queue.addOperation(op);
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(10s));
    EXPECT_LT(std::chrono::steady_clock::now() - begun, 5s);
    ASSERT_TRUE(op->error());
    EXPECT_EQ(op->error()->code, 28);  // timed out
}

TEST(UrlOperationFailures, CancellingInFlightFinishesOnceAndStopsTheTransfer) {
    testhttp::LoopbackHttpServer server;
    testhttp::Reply reply;
    reply.delay = 3s;
    server.setReply(reply);
    auto op = std::make_shared<AMZUrlJsonConnOperation>();
    std::atomic<int> completes{0};
    op->set_complete_block([&](AMZBaseOperation*) { ++completes; });
    op->set_url(server.baseUrl() + "/slow");
    AMZOperationQueue queue("url");
    queue.addOperation(op);
    ASSERT_TRUE(server.waitForRequests(1, 5s));
    op->cancel();
    EXPECT_TRUE(op->isFinished());
    EXPECT_TRUE(op->isCancelled());
    EXPECT_FALSE(op->error());
    EXPECT_TRUE(queue.waitUntilAllOperationsAreFinished(500ms));
    std::this_thread::sleep_for(1500ms);  // the aborted transfer reports back meanwhile
    EXPECT_EQ(completes.load(), 1);
    EXPECT_FALSE(op->result().has_value());
}

TEST(UrlOperationFailures, HeadersWithLineBreaksAreRefusedBeforeSending) {
    testhttp::LoopbackHttpServer server;
    AMZUrlRequest request(server.baseUrl() + "/");
    request.setValue("a\r\nInjected: yes", "X-Test");
    auto op = std::make_shared<AMZUrlConnOperation>();
    op->log_error = false;
    op->set_request(request);
    AMZOperationQueue queue("url");
    queue.addOperation(op);
    ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(5s));
    EXPECT_TRUE(op->error());
    EXPECT_TRUE(server.requests().empty());
}

}  // namespace
