// The channel group and its units against the ingestion peer on 127.0.0.1, on a clock the tests
// move: when batches go out and what they look like, which answers are retried and when, what a
// final failure deletes, what a broken connection keeps for a later process, the network going
// away and coming back, and logs with target tokens travelling to the Event Collector.
#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <csignal>

#include "IngestionPeer.h"
#include "TelliumTestSupport.h"
#include "platform/dispatch/Dispatch.h"
#include "tellium/TLMTellium.h"
#include "tellium/channel/TLMChannelGroupDefault.h"
#include "tellium/channel/TLMChannelUnitDefault.h"
#include "tellium/channel/TLMEventCollectorChannelDelegate.h"
#include "tellium/http/TLMHttpClient.h"
#include "tellium/storage/TLMLogDBStorage.h"
#include "tellium/util/TLMApplicationLifecycle.h"
#include "tellium/util/TLMTelliumUserDefaults.h"
#include "TestReachability.h"

using namespace std::chrono_literals;
using telltest::IngestionPeer;

namespace {

const char* kInstallId = "5B3F1D2E-9A44-4C6B-8E21-0F7A6C3D9B10";
const char* kSecret = "0123abcd-4567-89ef-0123-456789abcdef";

using telltest::TestReachability;

// An event whose common-schema form carries its name (as the analytics events do).
class NamedEvent final : public TLMLogWithProperties {
public:
    std::string name;
    std::shared_ptr<TLMCommonSchemaLog> toCommonSchemaLogForTargetToken(const std::string& token,
                                                                        int64_t flags) const override {
        auto csLog = TLMLogWithProperties::toCommonSchemaLogForTargetToken(token, flags);
        if (csLog) csLog->name = name;
        return csLog;
    }
};

std::shared_ptr<NamedEvent> eventLog(int n) {
    auto log = std::make_shared<NamedEvent>();
    log->type = "event";
    log->name = "Started";
    log->timestamp = telltest::utc(2026, 1, 2, 3, 4, 5, n % 1000);
    log->device = telltest::sampleDevice();
    log->sid = "6D1E5F60-0000-4000-8000-000000000001";
    log->properties = std::map<std::string, std::string>{{"n", std::to_string(n)}};
    return log;
}

// What the units told their delegates.
class Recorder final : public TLMChannelDelegate {
public:
    struct Event {
        std::string what;
        std::string groupId;
        std::shared_ptr<TLMAbstractLog> log;
        std::optional<TLMError> error;
    };
    void channelDidCompleteEnqueueingLog(TLMChannelUnitProtocol& c, const std::shared_ptr<TLMAbstractLog>& log,
                                         const std::string&) override {
        add({"enqueued", c.configuration()->groupId, log, std::nullopt});
    }
    void channelDidSucceedSendingLog(TLMChannelUnitProtocol& c, const std::shared_ptr<TLMAbstractLog>& log) override {
        add({"sent", c.configuration()->groupId, log, std::nullopt});
    }
    void channelDidFailSendingLog(TLMChannelUnitProtocol& c, const std::shared_ptr<TLMAbstractLog>& log,
                                  const std::optional<TLMError>& error) override {
        add({"failed", c.configuration()->groupId, log, error});
    }
    std::vector<Event> of(const std::string& what) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Event> found;
        for (const auto& e : events_) {
            if (e.what == what) found.push_back(e);
        }
        return found;
    }
    // Waits until `count` events of that kind came.
    std::vector<Event> waitFor(const std::string& what, std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, 30s, [&] {
            return static_cast<std::size_t>(std::count_if(events_.begin(), events_.end(),
                                                          [&](const Event& e) { return e.what == what; })) >= count;
        });
        lock.unlock();
        return of(what);
    }

private:
    void add(Event e) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(e));
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
};

// Waits until the store holds that many logs (a batch is deleted just after its success is told).
std::size_t waitForStoredCount(TLMLogDBStorage& storage, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    std::size_t now = storage.countLogs();
    while (now != count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
        now = storage.countLogs();
    }
    return now;
}

// One process's pipeline: an HTTP client, the store, the group with one unit and a recorder.
struct Pipeline {
    std::shared_ptr<TLMHttpClient> client;
    std::shared_ptr<TLMLogDBStorage> storage;
    std::shared_ptr<TLMChannelGroupDefault> group;
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::shared_ptr<TLMChannelUnitDefault> unit;
    std::shared_ptr<TLMEventCollectorChannelDelegate> collector;

    ~Pipeline() {
        if (group) group->applicationWillTerminate();
    }
};

class ChannelTest : public telltest::TelliumTest {
protected:
    void SetUp() override {
        TelliumTest::SetUp();
        TLMTellium::resetForTesting();
        log_ = std::make_unique<telltest::LogRecorder>();
        if (!peer_.skipReason().empty()) {
            GTEST_SKIP() << peer_.skipReason();
        }
        clock_ = std::make_unique<telltest::ScopedClock>(telltest::utc(2026, 3, 1, 12, 0));
    }
    void TearDown() override {
        clock_.reset();
        log_.reset();
        TLMTellium::resetForTesting();
        TelliumTest::TearDown();
    }

    std::filesystem::path databaseFile() const { return home_->data() / "channel-tests" / "Logs.sqlite"; }

    std::unique_ptr<Pipeline> start(const std::string& baseUrl, const std::string& groupId = "Tellium",
                                    TLMHttpTimeouts timeouts = TLMHttpTimeouts(), bool withCollector = false) {
        auto p = std::make_unique<Pipeline>();
        p->client = TLMHttpClient::initWithMaxHttpConnectionsPerHost(std::nullopt, reachability_, timeouts);
        std::filesystem::create_directories(databaseFile().parent_path());
        p->storage = std::make_shared<TLMLogDBStorage>(databaseFile());
        auto ingestion = TLMTelliumIngestion::initWithHttpClient(p->client, baseUrl, kInstallId);
        ingestion->setAppSecret(std::string(kSecret));
        p->group = TLMChannelGroupDefault::initWithIngestion(ingestion, p->storage);
        p->group->addDelegate(p->recorder);
        if (withCollector) {
            p->collector = TLMEventCollectorChannelDelegate::initWithHttpClient(p->client, kInstallId, baseUrl);
            p->group->addDelegate(p->collector);
        }
        p->unit = std::dynamic_pointer_cast<TLMChannelUnitDefault>(
            p->group->addChannelUnitWithConfiguration(TLMChannelUnitConfiguration::initDefaultConfigurationWithGroupId(groupId)));
        return p;
    }

    // Enqueues logs n..n+count-1 and waits until the unit has taken each of them.
    std::vector<std::shared_ptr<TLMAbstractLog>> enqueue(Pipeline& p, int from, int count) {
        const std::size_t before = p.recorder->of("enqueued").size();
        std::vector<std::shared_ptr<TLMAbstractLog>> logs;
        for (int i = from; i < from + count; ++i) {
            logs.push_back(eventLog(i));
            p.unit->enqueueItem(logs.back(), TLMFlagsNormal);
        }
        EXPECT_EQ(p.recorder->waitFor("enqueued", before + count).size(), before + count);
        return logs;
    }

    // Waits until the unit's state (read on its queue) satisfies the test.
    bool waitForUnit(Pipeline& p, const std::function<bool(const TLMChannelUnitDefault::State&)>& test) {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (test(p.unit->stateSync())) return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }


    // The "n" property of every log of the batches the peer answered with 200.
    std::multiset<std::string> deliveredNumbers(const nlohmann::json& requests) {
        std::multiset<std::string> numbers;
        for (const auto& request : requests) {
            if (request["answer"].value("status", 0) != 200 || request["answer"].contains("hang")) continue;
            const auto body = nlohmann::json::parse(request["body"].get<std::string>());
            for (const auto& log : body["logs"]) numbers.insert(log["properties"]["n"].get<std::string>());
        }
        return numbers;
    }

    std::unique_ptr<telltest::LogRecorder> log_;
    std::unique_ptr<telltest::ScopedClock> clock_;
    IngestionPeer peer_;
    std::shared_ptr<TestReachability> reachability_ = std::make_shared<TestReachability>();
};

TEST_F(ChannelTest, AFullBatchGoesOutAtOnceAndASmallerOneWhenTheFlushIntervalEnds) {
    auto p = start(peer_.baseUrl());
    const auto first = enqueue(*p, 0, 50);
    auto requests = peer_.waitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);

    // Seven more wait for the interval: stored and counted, a timer running, nothing in flight.
    ASSERT_EQ(p->recorder->waitFor("sent", 50).size(), 50u);
    const auto second = enqueue(*p, 50, 7);
    ASSERT_TRUE(waitForUnit(*p, [](const auto& s) { return s.itemsCount == 7 && s.timerRunning && s.pendingBatches == 0; }));
    EXPECT_EQ(peer_.requests().size(), 1u);
    (*clock_)->advance(6s);
    requests = peer_.waitForRequests(2);
    ASSERT_EQ(requests.size(), 2u);
    ASSERT_EQ(p->recorder->waitFor("sent", 57).size(), 57u);
    EXPECT_EQ(waitForStoredCount(*p->storage, 0), 0u);  // delivered logs are gone from the store

    const std::vector<std::vector<std::shared_ptr<TLMAbstractLog>>> expected = {first, second};
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const auto& request = requests[i];
        EXPECT_TRUE(request["problems"].empty()) << request["problems"].dump();
        EXPECT_EQ(request["path"], "/logs");
        EXPECT_EQ(request["query"], "api-version=1.0.0");
        EXPECT_EQ(request["headers"]["App-Secret"], kSecret);
        EXPECT_EQ(request["headers"]["Install-ID"], kInstallId);
        EXPECT_EQ(request["headers"]["Content-Type"], "application/json");
        const std::string body = request["body"].get<std::string>();
        EXPECT_EQ(request["gzip"].get<bool>(), body.size() >= 1400u) << body.size();
        EXPECT_EQ(body, TLMLogContainer("b", expected[i]).serializeLog().value());
    }
    EXPECT_TRUE(requests[0]["gzip"].get<bool>());
}

TEST_F(ChannelTest, RecoverableAnswersAreRetriedInTheirWindowsAndAFourthLeavesTheLogsForALaterProcess) {
    struct Case {
        const char* name;
        nlohmann::json answers;  // before the 200
        std::vector<std::pair<long, long>> windows;  // each retry's delay: from, below (ms)
    };
    const std::vector<Case> cases = {
        {"500", {{{"status", 500}}}, {{5000, 10000}}},
        {"503", {{{"status", 503}}}, {{5000, 10000}}},
        {"408", {{{"status", 408}}}, {{5000, 10000}}},
        {"429 with retry-after", {{{"status", 429}, {"retry_after", "2500"}}}, {{2500, 2501}}},
        {"four failures",
         {{{"status", 500}}, {{"status", 503}}, {{"status", 408}}, {{"status", 429}}},
         {{5000, 10000}, {150000, 300000}, {600000, 1200000}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        IngestionPeer peer;
        peer.plan(c.answers);
        std::filesystem::remove(databaseFile());
        log_.reset();
        log_ = std::make_unique<telltest::LogRecorder>();
        auto p = start(peer.baseUrl());
        enqueue(*p, 0, 50);
        ASSERT_EQ(peer.waitForRequests(1).size(), 1u);
        for (std::size_t attempt = 0; attempt < c.windows.size(); ++attempt) {
            const long status = c.answers[attempt]["status"].get<long>();
            const long delay = log_->waitForRetryPlan(static_cast<int>(attempt), status);
            EXPECT_GE(delay, c.windows[attempt].first);
            EXPECT_LT(delay, c.windows[attempt].second);
            EXPECT_EQ(peer.requests().size(), attempt + 1);  // the retry waits for its time
            (*clock_)->advance(std::chrono::milliseconds(delay));
            ASSERT_EQ(peer.waitForRequests(attempt + 2).size(), attempt + 2);
        }
        if (c.answers.size() == c.windows.size()) {
            // Retried until the 200: the batch is delivered once and deleted.
            ASSERT_EQ(p->recorder->waitFor("sent", 50).size(), 50u);
            EXPECT_EQ(waitForStoredCount(*p->storage, 0), 0u);
            EXPECT_TRUE(p->recorder->of("failed").empty());
            continue;
        }
        // The fourth failure: the client pauses, the unit hears of it and stays enabled; the logs
        // stay stored, held by their batch for the rest of this process.
        ASSERT_EQ(p->recorder->waitFor("failed", 50).size(), 50u);
        EXPECT_TRUE(p->client->isPaused());
        ASSERT_TRUE(waitForUnit(*p, [](const auto& s) { return s.pendingBatches == 0; }));
        const auto state = p->unit->stateSync();
        EXPECT_TRUE(state.enabled);
        EXPECT_FALSE(state.discardLogs);
        EXPECT_EQ(p->storage->countLogs(), 50u);
        p.reset();

        // A later process sends them at once (a full batch is waiting).
        auto later = start(peer.baseUrl());
        ASSERT_EQ(later->recorder->waitFor("sent", 50).size(), 50u);
        EXPECT_EQ(waitForStoredCount(*later->storage, 0), 0u);
        const auto requests = peer.requests();
        EXPECT_EQ(requests.size(), 5u);
        EXPECT_EQ(deliveredNumbers(requests).size(), 50u);
    }
}

TEST_F(ChannelTest, WhatAFinalAnswerABrokenConnectionAndAHungServerLeaveBehind) {
    telltest::RefusingPort refusing;
    struct Case {
        const char* name;
        bool refused;
        nlohmann::json answers;
        bool shutsDown;  // else: logs kept for a later process, unit enabled
    };
    const std::vector<Case> cases = {
        {"403", false, {{{"status", 403}}}, true},
        {"400", false, {{{"status", 400}}}, true},
        {"refused", true, nlohmann::json::array(), false},
        {"dropped", false, {{{"drop", true}}}, false},
        {"hung", false, {{{"hang", true}}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        IngestionPeer peer;
        peer.plan(c.answers);
        std::filesystem::remove(databaseFile());
        TLMHttpTimeouts timeouts;
        timeouts.whole = 1500ms;  // the hung server
        auto p = start(c.refused ? refusing.url() : peer.baseUrl(), "Tellium", timeouts);
        // A second group's log in the same store is never touched by this unit's shutdown.
        ASSERT_TRUE(p->storage->saveLog(eventLog(1000), "Other", TLMFlagsNormal));
        enqueue(*p, 0, 50);
        const auto extra = enqueue(*p, 50, 3);  // waiting for the interval while the batch fails
        const auto failed = p->recorder->waitFor("failed", c.shutsDown ? 53 : 50);
        ASSERT_EQ(failed.size(), c.shutsDown ? 53u : 50u);
        if (c.shutsDown) {
            // The batch's logs fail with the HTTP status, the waiting ones with code 100.
            for (std::size_t i = 0; i < 50; ++i) {
                ASSERT_TRUE(failed[i].error);
                EXPECT_EQ(failed[i].error->code, c.answers[0]["status"].get<long>());
            }
            for (std::size_t i = 50; i < 53; ++i) {
                ASSERT_TRUE(failed[i].error);
                EXPECT_EQ(failed[i].error->code, kTLMConnectionPausedErrorCode);
                EXPECT_EQ(failed[i].error->localizedDescription, "Canceled, connection paused with log deletion.");
            }
            ASSERT_TRUE(waitForUnit(*p, [](const auto& s) { return !s.enabled && s.discardLogs; }));
            EXPECT_EQ(p->storage->countLogs(), 1u);  // only the other group's
            // Later logs are dropped with a warning and a failure notice.
            p->unit->enqueueItem(eventLog(99), TLMFlagsNormal);
            ASSERT_EQ(p->recorder->waitFor("failed", 54).size(), 54u);
            EXPECT_TRUE(log_->contains("Channel Tellium disabled in log discarding mode, discard this log.",
                                       TLMLogLevelWarning));
            EXPECT_EQ(p->storage->countLogs(), 1u);
            continue;
        }
        for (const auto& f : failed) {
            ASSERT_TRUE(f.error);
            EXPECT_EQ(f.error->domain, kTLMCurlErrorDomain);
        }
        ASSERT_TRUE(waitForUnit(*p, [](const auto& s) { return s.pendingBatches == 0; }));
        EXPECT_TRUE(p->unit->stateSync().enabled);
        EXPECT_EQ(p->client->pendingCallCount(), 0u);  // nothing left hanging
        EXPECT_EQ(p->storage->countLogs(), 54u);
        p.reset();

        // A later process that reaches the peer delivers all of them.
        auto later = start(peer.baseUrl());  // 54 stored: a full batch goes at once, then the rest
        ASSERT_EQ(later->recorder->waitFor("sent", 53).size(), 53u);
        EXPECT_EQ(waitForStoredCount(*later->storage, 1), 1u);
        const auto delivered = deliveredNumbers(peer.requests());
        EXPECT_EQ(delivered.size(), 53u);
        EXPECT_EQ(std::set<std::string>(delivered.begin(), delivered.end()).size(), 53u);
    }
}

TEST_F(ChannelTest, GoingUnreachableHoldsTheBatchAndComingBackSendsIt) {
    dispatch::setMainThreadToCurrent();
    auto p = start(peer_.baseUrl());
    dispatch::drainMainQueue();
    reachability_->set(TLMNotReachable);
    ASSERT_TRUE(dispatch::pumpMainQueueUntil([&] { return p->client->isPaused(); }, 30s));
    enqueue(*p, 0, 50);
    ASSERT_TRUE(waitForUnit(*p, [](const auto& s) { return s.pendingBatches == 1; }));
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (p->client->pendingCallCount() == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(p->client->pendingCallCount(), 1u);
    EXPECT_TRUE(peer_.requests().empty());
    EXPECT_TRUE(p->recorder->of("failed").empty());

    reachability_->set(TLMReachableViaWiFi);
    ASSERT_TRUE(dispatch::pumpMainQueueUntil([&] { return !p->client->isPaused(); }, 30s));
    ASSERT_EQ(p->recorder->waitFor("sent", 50).size(), 50u);
    EXPECT_EQ(peer_.requests().size(), 1u);
    EXPECT_EQ(waitForStoredCount(*p->storage, 0), 0u);
}

TEST_F(ChannelTest, LogsWithTargetTokensReachTheCollectorInCommonSchemaFormWithEpochAndSequence) {
    auto p = start(peer_.baseUrl(), "Analytics", TLMHttpTimeouts(), true);
    auto mirror = p->group->channelUnitForGroupId("Analytics/one");
    ASSERT_TRUE(mirror);
    EXPECT_EQ(mirror->configuration()->flushInterval, 6u);
    EXPECT_EQ(p->collector->eventCollectorChannelFor("Analytics"), mirror);
    EXPECT_EQ(p->group->channels().size(), 2u);  // the mirror got no mirror

    auto tokened = eventLog(1);
    tokened->addTransmissionTargetToken("keyone-1111");
    tokened->addTransmissionTargetToken("keyone-2222");
    auto other = eventLog(2);
    other->addTransmissionTargetToken("keytwo-3333");
    auto badName = eventLog(3);
    badName->name = "ab";  // too short for the collector
    badName->addTransmissionTargetToken("keytwo-3333");
    auto plain = eventLog(4);
    // A common-schema log enqueued on the source unit goes on to the mirror, stamped there once.
    auto ready = eventLog(5);
    ready->addTransmissionTargetToken("keythree-4444");
    auto direct = ready->toCommonSchemaLogsWithFlags(TLMFlagsNormal)->front();
    for (const std::shared_ptr<TLMAbstractLog>& log : {std::shared_ptr<TLMAbstractLog>(tokened), std::shared_ptr<TLMAbstractLog>(other),
                                                        std::shared_ptr<TLMAbstractLog>(badName), std::shared_ptr<TLMAbstractLog>(plain),
                                                        std::shared_ptr<TLMAbstractLog>(direct)}) {
        p->unit->enqueueItem(log, TLMFlagsNormal);
    }
    // Five on the source unit, five on the mirror.
    ASSERT_EQ(p->recorder->waitFor("enqueued", 10).size(), 10u);
    ASSERT_TRUE(waitForUnit(*p, [](const auto& s) { return s.timerRunning; }));
    EXPECT_EQ(p->storage->countLogs(), 5u);  // the plain log and four valid copies
    EXPECT_TRUE(log_->contains("Name must match", TLMLogLevelError));
    (*clock_)->advance(6s);
    ASSERT_EQ(p->recorder->waitFor("sent", 5).size(), 5u);

    const auto requests = peer_.requests();
    ASSERT_EQ(requests.size(), 2u);
    nlohmann::json collector, logs;
    for (const auto& r : requests) (r["path"] == "/logs" ? logs : collector) = r;
    ASSERT_FALSE(logs.is_null());
    ASSERT_FALSE(collector.is_null());
    EXPECT_TRUE(collector["problems"].empty()) << collector["problems"].dump();
    EXPECT_EQ(collector["path"], "/EventCollector/1.0");
    EXPECT_EQ(collector["headers"]["apikey"], "keyone-1111,keyone-2222,keythree-4444,keytwo-3333");
    const auto plainBody = nlohmann::json::parse(logs["body"].get<std::string>());
    ASSERT_EQ(plainBody["logs"].size(), 1u);
    EXPECT_EQ(plainBody["logs"][0]["properties"]["n"], "4");

    std::vector<nlohmann::json> lines;
    std::istringstream body(collector["body"].get<std::string>());
    for (std::string line; std::getline(body, line);) lines.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(lines.size(), 4u);
    std::map<std::string, std::vector<nlohmann::json>> byKey;
    for (const auto& line : lines) {
        EXPECT_EQ(line["name"], "Started");
        EXPECT_EQ(line["ver"], "3.0");
        EXPECT_EQ(line["ext"]["sdk"]["installId"], kInstallId);
        byKey[line["iKey"].get<std::string>()].push_back(line["ext"]["sdk"]);
    }
    ASSERT_EQ(byKey["o:keyone"].size(), 2u);
    ASSERT_EQ(byKey["o:keytwo"].size(), 1u);
    EXPECT_EQ(byKey["o:keyone"][0]["epoch"], byKey["o:keyone"][1]["epoch"]);
    EXPECT_NE(byKey["o:keyone"][0]["epoch"], byKey["o:keytwo"][0]["epoch"]);
    std::set<int64_t> seqs = {byKey["o:keyone"][0]["seq"].get<int64_t>(), byKey["o:keyone"][1]["seq"].get<int64_t>()};
    EXPECT_EQ(seqs, (std::set<int64_t>{1, 2}));  // once each, counted per key
    EXPECT_EQ(byKey["o:keytwo"][0]["seq"], 1);
    ASSERT_EQ(byKey["o:keythree"].size(), 1u);
    EXPECT_EQ(byKey["o:keythree"][0]["seq"], 1);
}

// ---- no loss across a killed process ------------------------------------------------------------

extern "C" char** environ;

// The helper process: started with its arguments, its standard output read line by line.
class HelperProcess {
public:
    explicit HelperProcess(const std::vector<std::string>& args) {
        const char* helper = std::getenv("DRAVIX_CHANNEL_HELPER");
        if (!helper) return;
        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<std::string> all = {helper};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, helper, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fdopen(fds[0], "r");
    }
    ~HelperProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_) fclose(out_);
    }
    bool started() const { return pid_ > 0; }
    std::string readLine() {
        char line[256];
        return out_ && fgets(line, sizeof line, out_) ? std::string(line) : std::string();
    }
    void killNow() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        exited_ = true;
    }
    // The exit status, or -1 when it has not ended within the time.
    int waitForExit(std::chrono::seconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
    FILE* out_ = nullptr;
    bool exited_ = false;
};

TEST_F(ChannelTest, AProcessKilledWhileSendingLosesNoLogAndTheNextProcessDeliversThem) {
    std::filesystem::create_directories(databaseFile().parent_path());
    // The first batch is answered, the second hangs, the third is answered: the kill comes while
    // the second is under way and the answers of the others may or may not have been handled.
    // (When the first answer is handled before every log is stored, a smaller batch may follow.)
    peer_.plan({{{"status", 200}}, {{"hang", true}}, {{"status", 200}}});
    std::size_t hung = 0;
    {
        HelperProcess sender({databaseFile().string(), peer_.baseUrl(), "0", "150"});
        ASSERT_TRUE(sender.started());
        ASSERT_EQ(sender.readLine(), "stored\n");
        const auto requests = peer_.waitForRequests(3);
        ASSERT_GE(requests.size(), 3u);
        sender.killNow();
        hung = nlohmann::json::parse(requests[1]["body"].get<std::string>())["logs"].size();
    }
    EXPECT_GT(hung, 0u);
    EXPECT_GE(TLMLogDBStorage(databaseFile()).countLogs(), hung);  // at least the hung batch is still there

    HelperProcess next({databaseFile().string(), peer_.baseUrl(), "150", "0"});
    ASSERT_TRUE(next.started());
    ASSERT_EQ(next.readLine(), "stored\n");
    ASSERT_EQ(next.waitForExit(60s), 0);
    const auto delivered = deliveredNumbers(peer_.requests());
    std::set<std::string> unique(delivered.begin(), delivered.end());
    EXPECT_EQ(unique.size(), 150u);
    for (int i = 0; i < 150; ++i) EXPECT_TRUE(unique.count(std::to_string(i))) << i;
}

// ---- unit and group rules, with an endpoint the test answers by hand ----------------------------

// Keeps every batch it is given; the test answers them.
class ManualIngestion final : public TLMIngestionProtocol {
public:
    void sendAsync(const std::shared_ptr<TLMLogContainer>& data, TLMSendAsyncCompletionHandler handler) override {
        std::lock_guard<std::mutex> lock(mutex_);
        sent_.push_back({data, std::move(handler)});
    }
    void sendAsync(const std::shared_ptr<TLMLogContainer>& data, const std::optional<std::string>&,
                   TLMSendAsyncCompletionHandler handler) override {
        sendAsync(data, std::move(handler));
    }
    bool isReadyToSend() override { return true; }
    bool isEnabled() override { return enabled_ && TLMTellium::isNetworkRequestsAllowed(); }
    void setEnabled(bool isEnabled, bool) override { enabled_ = isEnabled; }

    std::size_t sentCount() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sent_.size();
    }
    std::shared_ptr<TLMLogContainer> batch(std::size_t i) {
        std::lock_guard<std::mutex> lock(mutex_);
        return sent_.at(i).first;
    }
    void answer(std::size_t i, long status) {
        TLMSendAsyncCompletionHandler handler;
        std::shared_ptr<TLMLogContainer> data;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            data = sent_.at(i).first;
            handler = sent_.at(i).second;
        }
        auto response = std::make_shared<TLMHttpResponse>();
        response->statusCode = status;
        handler(data->batchId, response, std::string(), std::nullopt);
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<std::shared_ptr<TLMLogContainer>, TLMSendAsyncCompletionHandler>> sent_;
    std::atomic<bool> enabled_{true};
};

class ChannelUnitTest : public telltest::TelliumTest {
protected:
    void SetUp() override {
        TelliumTest::SetUp();
        TLMTellium::resetForTesting();
        clock_ = std::make_unique<telltest::ScopedClock>(telltest::utc(2026, 3, 1, 12, 0));
        std::filesystem::create_directories(home_->data() / "units");
        storage_ = std::make_shared<TLMLogDBStorage>(home_->data() / "units" / "Logs.sqlite");
    }
    void TearDown() override {
        group_.reset();
        storage_.reset();
        clock_.reset();
        TLMTellium::resetForTesting();
        TelliumTest::TearDown();
    }
    // A new group on the same store (a new launch when the old one is gone first).
    std::shared_ptr<TLMChannelUnitDefault> launch(uint64_t flushInterval = 6, const std::string& groupId = "Units") {
        if (group_) group_->applicationWillTerminate();
        group_.reset();
        ingestion_ = std::make_shared<ManualIngestion>();
        group_ = TLMChannelGroupDefault::initWithIngestion(ingestion_, storage_);
        group_->addDelegate(recorder_);
        return std::dynamic_pointer_cast<TLMChannelUnitDefault>(group_->addChannelUnitWithConfiguration(
            TLMChannelUnitConfiguration::initDefaultConfigurationWithGroupId(groupId, flushInterval)));
    }
    // Everything queued so far on the log queue has run.
    void settle() { group_->logsDispatchQueue().sync([] {}); }
    void enqueue(TLMChannelUnitDefault& unit, int count, int from = 0) {
        for (int i = from; i < from + count; ++i) unit.enqueueItem(eventLog(i), TLMFlagsNormal);
        settle();
    }
    std::shared_ptr<TLMCommonSchemaLog> csLog(const std::string& token, int n) {
        auto log = eventLog(n);
        log->addTransmissionTargetToken(token);
        return log->toCommonSchemaLogsWithFlags(TLMFlagsNormal)->front();
    }

    std::unique_ptr<telltest::ScopedClock> clock_;
    std::shared_ptr<TLMLogDBStorage> storage_;
    std::shared_ptr<ManualIngestion> ingestion_;
    std::shared_ptr<TLMChannelGroupDefault> group_;
    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
};

TEST_F(ChannelUnitTest, AtMostThreeBatchesAreInFlightAndTheFourthGoesAfterASuccess) {
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(storage_->saveLog(eventLog(i), "Units", TLMFlagsNormal));
    auto unit = launch();
    settle();
    ASSERT_EQ(ingestion_->sentCount(), 3u);
    auto state = unit->stateSync();
    EXPECT_TRUE(state.pendingBatchQueueFull);
    EXPECT_TRUE(state.availableBatchFromStorage);
    ingestion_->answer(1, 500);  // a failure frees its slot but sends nothing more
    settle();
    EXPECT_EQ(ingestion_->sentCount(), 3u);
    EXPECT_FALSE(unit->stateSync().pendingBatchQueueFull);
    ingestion_->answer(0, 200);
    settle();
    ASSERT_EQ(ingestion_->sentCount(), 4u);
    EXPECT_EQ(ingestion_->batch(3)->logs.size(), 50u);
    ingestion_->answer(0, 200);  // an answer that came twice is ignored
    settle();
    EXPECT_EQ(ingestion_->sentCount(), 4u);
}

// Answers that come together are handled together: the delivered batches leave the store in one
// write, and when a later answer of the same moment disables the unit and deletes its logs, the
// delivered ones go as delivered, never also reported as failed.
TEST_F(ChannelUnitTest, AnswersThatComeTogetherKeepDeliveredLogsApartFromAFatalOnesDeletion) {
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(storage_->saveLog(eventLog(i), "Units", TLMFlagsNormal));
    auto unit = launch();
    settle();
    ASSERT_EQ(ingestion_->sentCount(), 3u);
    std::promise<void> release;
    group_->logsDispatchQueue().async([gate = release.get_future().share()] { gate.wait(); });
    ingestion_->answer(0, 200);
    ingestion_->answer(1, 403);
    release.set_value();
    settle();

    std::set<const TLMAbstractLog*> sent;
    for (const auto& e : recorder_->of("sent")) sent.insert(e.log.get());
    EXPECT_EQ(sent.size(), 50u);
    for (const auto& e : recorder_->of("failed")) EXPECT_FALSE(sent.count(e.log.get())) << "a delivered log reported failed";
    EXPECT_FALSE(unit->stateSync().enabled);
    EXPECT_EQ(storage_->countLogs(), 0u);
    EXPECT_EQ(ingestion_->sentCount(), 4u);  // the success sent the next batch, then nothing more went out
}

TEST_F(ChannelUnitTest, ALongFlushIntervalKeepsTheFirstLogsDeadlineAcrossLaunches) {
    auto unit = launch(60);
    enqueue(*unit, 1);
    const std::string key = "ChannelStartTimer:Units";
    ASSERT_TRUE(TLMTelliumUserDefaults::shared().objectForKey(key));
    EXPECT_TRUE(unit->stateSync().timerRunning);

    // 20 s later a new launch waits the 40 s that are left.
    (*clock_)->advance(20s);
    unit = launch(60);
    settle();
    (*clock_)->advance(39s);
    settle();
    EXPECT_EQ(ingestion_->sentCount(), 0u);
    (*clock_)->advance(1s);
    settle();
    ASSERT_EQ(ingestion_->sentCount(), 1u);
    EXPECT_FALSE(TLMTelliumUserDefaults::shared().objectForKey(key));
    ingestion_->answer(0, 200);
    settle();

    // A launch after the deadline has passed sends at once and forgets the deadline.
    enqueue(*unit, 1, 1);
    ASSERT_TRUE(TLMTelliumUserDefaults::shared().objectForKey(key));
    group_->applicationWillTerminate();
    group_.reset();
    unit.reset();  // the process ends before the deadline...
    (*clock_)->advance(70s);
    unit = launch(60);  // ...and the next one starts after it
    settle();
    EXPECT_EQ(ingestion_->sentCount(), 1u);
    EXPECT_FALSE(TLMTelliumUserDefaults::shared().objectForKey(key));
}

TEST_F(ChannelUnitTest, PauseLanesAndPausedTargetKeys) {
    auto unit = launch();
    int a = 0, b = 0;
    unit->pauseWithIdentifyingObject(&a);
    unit->pauseWithIdentifyingObject(&b);
    enqueue(*unit, 50);
    EXPECT_EQ(ingestion_->sentCount(), 0u);  // stored and counted, nothing sent
    unit->resumeWithIdentifyingObject(&a);
    settle();
    EXPECT_TRUE(unit->stateSync().paused);
    unit->resumeWithIdentifyingObject(&b);
    settle();
    EXPECT_FALSE(unit->stateSync().paused);
    ASSERT_EQ(ingestion_->sentCount(), 1u);  // the check after the resume sends the full batch
    ingestion_->answer(0, 200);
    settle();

    // Logs of a paused target key wait in the store; a key that is empty is never paused.
    unit->pauseSendingLogsWithToken("held-1111");
    unit->pauseSendingLogsWithToken("-2222");
    settle();
    EXPECT_EQ(unit->stateSync().pausedTargetKeys, (std::set<std::string>{"held"}));
    unit->enqueueItem(csLog("held-1111", 1), TLMFlagsNormal);
    unit->enqueueItem(csLog("free-3333", 2), TLMFlagsNormal);
    settle();
    (*clock_)->advance(6s);
    settle();
    ASSERT_EQ(ingestion_->sentCount(), 2u);
    ASSERT_EQ(ingestion_->batch(1)->logs.size(), 1u);
    EXPECT_EQ(*ingestion_->batch(1)->logs[0]->transmissionTargetTokens(), (TLMAbstractLog::TokenSet{"free-3333"}));
    ingestion_->answer(1, 200);
    unit->resumeSendingLogsWithToken("held-1111");
    settle();
    (*clock_)->advance(6s);
    settle();
    ASSERT_EQ(ingestion_->sentCount(), 3u);
    EXPECT_EQ(*ingestion_->batch(2)->logs[0]->transmissionTargetTokens(), (TLMAbstractLog::TokenSet{"held-1111"}));
}

TEST_F(ChannelUnitTest, DisablingWithDeletionDeletesEachTimeAndWithoutKeepsTheLogs) {
    struct Step {
        bool enable;
        bool deleteData;
        std::size_t storedAfter;
        bool discarding;
    };
    auto unit = launch();
    const std::vector<Step> steps = {
        {false, false, 3, false}, {true, false, 3, false}, {false, true, 0, true}, {false, true, 0, true}, {true, false, 0, false}};
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        enqueue(*unit, 3, static_cast<int>(i) * 10);
        unit->setEnabled(steps[i].enable, steps[i].deleteData);
        settle();
        const auto state = unit->stateSync();
        EXPECT_EQ(state.enabled, steps[i].enable);
        EXPECT_EQ(state.discardLogs, steps[i].discarding);
        EXPECT_EQ(storage_->countLogs(), steps[i].storedAfter + (i == 1 ? 3 : 0));
        if (steps[i].enable) {  // enabled again: what was kept goes out with the next flush
            (*clock_)->advance(6s);
            settle();
            for (std::size_t n = 0; n < ingestion_->sentCount(); ++n) ingestion_->answer(n, 200);
            settle();
            EXPECT_EQ(storage_->countLogs(), 0u);
        }
    }
}

TEST_F(ChannelUnitTest, TheGroupFansOutToLiveDelegatesAndPassesSwitchesOn) {
    auto unit = launch();
    EXPECT_EQ(group_->addChannelUnitWithConfiguration(nullptr), nullptr);
    auto second = group_->addChannelUnitWithConfiguration(TLMChannelUnitConfiguration::initDefaultConfigurationWithGroupId("Units"));
    EXPECT_EQ(group_->channelUnitForGroupId("Units"), unit);  // the first one added
    EXPECT_EQ(group_->channels().size(), 2u);

    // A filter answering true stops the asking; a released delegate is gone without being removed.
    struct Filter final : TLMChannelDelegate {
        bool answer;
        std::atomic<int> asked{0};
        explicit Filter(bool a) : answer(a) {}
        bool channelUnitShouldFilterLog(TLMChannelUnitProtocol&, const std::shared_ptr<TLMAbstractLog>&) override {
            ++asked;
            return answer;
        }
    };
    auto yes = std::make_shared<Filter>(true);
    auto never = std::make_shared<Filter>(true);
    group_->addDelegate(yes);
    group_->addDelegate(never);
    never.reset();
    auto after = std::make_shared<Filter>(false);
    group_->addDelegate(after);
    enqueue(*unit, 1);
    EXPECT_EQ(yes->asked, 1);
    EXPECT_EQ(after->asked, 0);
    EXPECT_EQ(storage_->countLogs(), 0u);
    group_->removeDelegate(yes);
    enqueue(*unit, 1, 1);
    EXPECT_EQ(after->asked, 1);
    EXPECT_EQ(storage_->countLogs(), 1u);

    // Paused by the SDK and by the group, resumed by the group: the endpoint is on again, the
    // units stay paused by the SDK.
    int sdk = 0;
    group_->pauseWithIdentifyingObject(&sdk);
    group_->pauseWithIdentifyingObject(group_.get());
    EXPECT_FALSE(ingestion_->isEnabled());
    group_->resumeWithIdentifyingObject(group_.get());
    settle();
    EXPECT_TRUE(ingestion_->isEnabled());
    EXPECT_TRUE(unit->stateSync().paused);
    EXPECT_TRUE(std::dynamic_pointer_cast<TLMChannelUnitDefault>(second)->stateSync().paused);
}

TEST_F(ChannelUnitTest, WillTerminateGivesTheQueuedWorkUpToASecond) {
    launch();
    group_->setEnabled(true, false);
    std::atomic<bool> finished{false};
    group_->logsDispatchQueue().async([&] {
        std::this_thread::sleep_for(100ms);
        finished = true;
    });
    TLMApplicationLifecycle::shared().post(TLMApplicationEvent::willTerminate);
    EXPECT_TRUE(finished);
}

// With batches of no log a flush would find the stored logs still waiting and flush again, forever.
TEST_F(ChannelUnitTest, AUnitWhoseBatchesHoldNoLogIsRefused) {
    telltest::LogRecorder log;
    group_ = TLMChannelGroupDefault::initWithIngestion(std::make_shared<ManualIngestion>(), storage_);
    auto empty = std::make_shared<const TLMChannelUnitConfiguration>("Units", 1, 6, 0, 3);
    EXPECT_EQ(group_->addChannelUnitWithConfiguration(empty), nullptr);
    EXPECT_TRUE(group_->channels().empty());
    EXPECT_TRUE(log.contains("Cannot add channel unit for group Id Units", TLMLogLevelError));
    auto one = std::make_shared<const TLMChannelUnitConfiguration>("Units", 1, 6, 1, 3);
    EXPECT_NE(group_->addChannelUnitWithConfiguration(one), nullptr);
}

TEST_F(ChannelUnitTest, UntilTheSdkIsPointedAtACollectorNothingIsStored) {
    telltest::LogRecorder log;
    auto client = TLMHttpClient::initWithMaxHttpConnectionsPerHost(std::nullopt, std::make_shared<TestReachability>());
    auto ingestion = TLMTelliumIngestion::initWithHttpClient(client, kTLMDefaultLogUrl, kInstallId);
    ingestion->setAppSecret(std::string(kSecret));
    EXPECT_FALSE(ingestion->isReadyToSend());
    group_ = TLMChannelGroupDefault::initWithIngestion(ingestion, storage_);
    group_->addDelegate(recorder_);
    auto unit = group_->addChannelUnitWithConfiguration(TLMChannelUnitConfiguration::initDefaultConfigurationWithGroupId("Units"));
    for (int i = 0; i < 3; ++i) unit->enqueueItem(eventLog(i), TLMFlagsNormal);
    settle();
    EXPECT_EQ(recorder_->of("enqueued").size(), 3u);
    EXPECT_EQ(storage_->countLogs(), 0u);
    EXPECT_TRUE(log.contains("but ingestion is not ready to send it.", TLMLogLevelDebug));

    // Pointed at a collector, it stores (and would send) again.
    group_->setLogUrl("http://127.0.0.1:9");
    EXPECT_TRUE(ingestion->isReadyToSend());
    unit->pauseWithIdentifyingObject(this);
    unit->enqueueItem(eventLog(3), TLMFlagsNormal);
    settle();
    EXPECT_EQ(storage_->countLogs(), 1u);
}

}  // namespace
