// The telemetry delivery road end to end against the ingestion peer on 127.0.0.1: 10,000 event
// logs enqueued on a channel unit of the default configuration (batches of 50, 3 in flight) until
// the peer has answered 200 for every one, beside its baseline: raw libcurl over as many
// connections as the pipeline keeps batches in flight (3), each connection posting its next
// batch of the same 50 logs as soon as its last one is answered, each body built (the batch's
// JSON) and gzip'd in the loop as the client does. Each round runs the two back to back, in
// alternating order, then, for context, raw libcurl on one connection building each body, the
// same bodies made beforehand on one connection, and the store's share on its own. The figures
// are medians over the rounds, the ratios those of each round's own times.
// Also reports the median time of one enqueue call on the caller's thread, and the CPU time the
// pipeline took: of the whole process, and of its busiest thread other than the caller's (the log
// queue, as a rule), which bounds how fast the logs can go out whatever the network.
//
// Run: build/bench/bench_telemetry_channel
// (DRAVIX_BENCH_LOGS changes the number of logs, DRAVIX_BENCH_ROUNDS the rounds, 5 by default;
// the store goes to the temporary folder, TMPDIR.)
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <random>

#include <time.h>
#include <unistd.h>

#include "BenchPeers.h"
#include "tellium/channel/TLMChannelGroupDefault.h"
#include "tellium/channel/TLMChannelUnitConfiguration.h"
#include "tellium/channel/TLMChannelUnitDefault.h"
#include "tellium/http/TLMHttpClient.h"
#include "tellium/storage/TLMLogDBStorage.h"
#include "tellium/util/TLMCompression.h"
#include "tellium/SampleDevice.h"

namespace fs = std::filesystem;

namespace {

const char* kInstallId = "5B3F1D2E-9A44-4C6B-8E21-0F7A6C3D9B10";
const char* kSecret = "0123abcd-4567-89ef-0123-456789abcdef";

int logCount() {
    const char* env = std::getenv("DRAVIX_BENCH_LOGS");
    return env ? std::max(50, std::atoi(env)) : 10000;
}

class NetworkUp final : public TLM_Reachability {
public:
    TLMNetworkStatus currentReachabilityStatus() override { return TLMReachableViaWiFi; }
    bool startNotifier() override { return true; }
    void stopNotifier() override {}
};

// Counts the logs the peer accepted.
class Delivered final : public TLMChannelDelegate {
public:
    void channelDidSucceedSendingLog(TLMChannelUnitProtocol&, const std::shared_ptr<TLMAbstractLog>&) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++sent_;
        if (sent_ >= wanted_) done_.notify_all();
    }
    void channelDidFailSendingLog(TLMChannelUnitProtocol&, const std::shared_ptr<TLMAbstractLog>&,
                                  const std::optional<TLMError>&) override {
        failed_ = true;
    }
    bool waitFor(long wanted) {
        std::unique_lock<std::mutex> lock(mutex_);
        wanted_ = wanted;
        return done_.wait_for(lock, std::chrono::seconds(300), [&] { return sent_ >= wanted_; }) && !failed_;
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    long sent_ = 0;
    long wanted_ = 0;
    std::atomic<bool> failed_{false};
};

std::shared_ptr<TLMAbstractLog> eventLog(int i) {
    auto log = std::make_shared<TLMLogWithProperties>();
    log->type = "event";
    log->timestamp = TLMDateFromMilliseconds(1714564800000 + i);
    log->sid = "3C8B2B3E-1F0A-4D7C-9E0B-2D9A1B9F4C11";
    log->device = telltest::sampleDevice();
    log->properties = std::map<std::string, std::string>{{"name", "Started"}, {"index", std::to_string(i)}};
    return log;
}

std::vector<double> enqueueMicros;
std::vector<double> pipelineCpuMillis;
std::vector<double> busiestThreadMillis;

// CPU time of each thread of this process, in milliseconds, by thread id.
std::map<std::string, double> threadCpuMillis() {
    std::map<std::string, double> times;
    for (const auto& entry : fs::directory_iterator("/proc/self/task")) {
        std::ifstream in(entry.path() / "schedstat");
        double ns = 0;
        if (in >> ns) times[entry.path().filename().string()] = ns / 1e6;
    }
    return times;
}

// CPU time of the whole process (every thread), in milliseconds.
double processCpuMillis() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// One run of the pipeline; milliseconds from the first enqueue until the peer has taken every
// log, negative on failure. Its CPU times and median enqueue call go to the lists above.
double runPipeline(const benchpeers::Server& peer) {
    const int count = logCount();
    const auto dir = fs::temp_directory_path() / ("dravix-bench-channel-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    std::vector<std::shared_ptr<TLMAbstractLog>> logs;
    for (int i = 0; i < count; ++i) logs.push_back(eventLog(i));
    auto client = TLMHttpClient::initWithMaxHttpConnectionsPerHost(std::nullopt, std::make_shared<NetworkUp>());
    auto storage = std::make_shared<TLMLogDBStorage>(dir / "Logs.sqlite");
    auto ingestion = TLMTelliumIngestion::initWithHttpClient(client, peer.url + "/t/bench", kInstallId);
    ingestion->setAppSecret(std::string(kSecret));
    auto group = TLMChannelGroupDefault::initWithIngestion(ingestion, storage);
    auto delivered = std::make_shared<Delivered>();
    group->addDelegate(delivered);
    auto unit = group->addChannelUnitWithConfiguration(
        TLMChannelUnitConfiguration::initDefaultConfigurationWithGroupId("Tellium"));
    std::vector<double> calls;
    calls.reserve(count);

    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = processCpuMillis();
    const auto threadsStart = threadCpuMillis();
    for (const auto& log : logs) {
        const auto before = std::chrono::steady_clock::now();
        unit->enqueueItem(log, TLMFlagsNormal);
        calls.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - before).count());
    }
    const bool ok = delivered->waitFor(count);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    pipelineCpuMillis.push_back(processCpuMillis() - cpuStart);
    double busiest = 0;
    for (const auto& [tid, cpu] : threadCpuMillis()) {
        if (tid == std::to_string(getpid())) continue;  // the caller's thread
        auto before = threadsStart.find(tid);
        busiest = std::max(busiest, cpu - (before == threadsStart.end() ? 0 : before->second));
    }
    busiestThreadMillis.push_back(busiest);
    enqueueMicros.push_back(benchpeers::median(calls));

    group.reset();
    unit.reset();
    storage.reset();
    client.reset();
    fs::remove_all(dir);
    return ok ? ms : -1;
}

// The store's share of the pipeline on its own, on one thread and with no network: the same logs
// saved in the unit's bursts (their stored text made beforehand, as the enqueuing thread does),
// and taken out and deleted in batches of 50 as the peer's answers would have them. Whatever the
// rest of the pipeline does, the log queue cannot deliver faster than this.
double runStoreAlone() {
    const int count = logCount();
    const auto dir = fs::temp_directory_path() / ("dravix-bench-store-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    auto storage = std::make_shared<TLMLogDBStorage>(dir / "Logs.sqlite");
    std::vector<TLMStorageItem> items;
    for (int i = 0; i < count; ++i) {
        auto log = eventLog(i);
        items.emplace_back(log, TLMFlagsNormal, storage->prepareText(*log));
    }

    const auto start = std::chrono::steady_clock::now();
    std::size_t saved = 0;
    int delivered = 0;
    while (delivered < count) {
        if (saved < items.size()) {
            const std::size_t end = std::min(items.size(), saved + TLMChannelUnitDefault::kIncomingBurst);
            storage->saveLogs(std::vector<TLMStorageItem>(items.begin() + saved, items.begin() + end), "Tellium");
            saved = end;
        }
        // As many batches as the answers of a burst's time bring, all of them once every log is in.
        for (int taken = 0; taken < 5 || saved == items.size(); ++taken) {
            std::optional<std::string> batch;
            std::size_t logs = 0;
            storage->loadLogsWithGroupId("Tellium", 50, std::nullopt, [&](const auto& loaded, const auto& id) {
                batch = id;
                logs = loaded.size();
            });
            if (!batch) break;
            storage->deleteLogsWithBatchId(*batch, "Tellium");
            delivered += static_cast<int>(logs);
        }
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    storage.reset();
    fs::remove_all(dir);
    return ms;
}

// The batches the pipeline sends: 50 logs each.
std::vector<std::vector<std::shared_ptr<TLMAbstractLog>>> rawBatches() {
    const int count = logCount();
    std::vector<std::vector<std::shared_ptr<TLMAbstractLog>>> batches;
    for (int from = 0; from < count; from += 50) {
        std::vector<std::shared_ptr<TLMAbstractLog>> batch;
        for (int i = from; i < std::min(count, from + 50); ++i) batch.push_back(eventLog(i));
        batches.push_back(std::move(batch));
    }
    return batches;
}

// A batch's body as the client sends it: the container's JSON, gzip'd.
std::string body(const std::vector<std::shared_ptr<TLMAbstractLog>>& batch) {
    return TLMCompression::compressData(TLMLogContainer("b", batch).serializeLog().value()).value();
}

curl_slist* rawHeaders() {
    curl_slist* headers = nullptr;
    for (const char* h : {"Content-Type: application/json", "Content-Encoding: gzip", "Expect:"}) {
        headers = curl_slist_append(headers, h);
    }
    headers = curl_slist_append(headers, (std::string("App-Secret: ") + kSecret).c_str());
    return curl_slist_append(headers, (std::string("Install-ID: ") + kInstallId).c_str());
}

// Posts `count` bodies one after the other on one connection, body(i) giving each as it goes;
// milliseconds, negative on failure.
double postOneByOne(const benchpeers::Server& peer, std::size_t count, const std::function<std::string(std::size_t)>& bodyAt) {
    const std::string url = peer.url + "/t/bench-raw/logs?api-version=1.0.0";
    const auto start = std::chrono::steady_clock::now();
    CURL* easy = curl_easy_init();
    curl_slist* headers = rawHeaders();
    std::string received;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &benchpeers::collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &received);
    bool ok = true;
    for (std::size_t i = 0; i < count && ok; ++i) {
        const std::string posted = bodyAt(i);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(posted.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, posted.data());
        long status = 0;
        ok = curl_easy_perform(easy) == CURLE_OK &&
             (curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status), status == 200);
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(easy);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return ok ? ms : -1;
}

// For context: each batch's body built and compressed in the loop, then posted, on one connection.
double runRawBuilding(const benchpeers::Server& peer) {
    const auto batches = rawBatches();
    return postOneByOne(peer, batches.size(), [&](std::size_t i) { return body(batches[i]); });
}

// The same bodies made beforehand: the peer's and the connection's cost alone.
double runRawPrebuilt(const benchpeers::Server& peer) {
    std::vector<std::string> bodies;
    for (const auto& batch : rawBatches()) bodies.push_back(body(batch));
    return postOneByOne(peer, bodies.size(), [&](std::size_t i) { return bodies[i]; });
}

// The baseline: the batches over as many connections as the pipeline keeps batches in flight,
// each connection posting its next batch as soon as its last one is answered, each body built and
// compressed as it goes out.
double runRawParallel(const benchpeers::Server& peer) {
    const auto batches = rawBatches();
    std::vector<std::string> bodies(batches.size());
    const std::string url = peer.url + "/t/bench-raw/logs?api-version=1.0.0";
    const int kConnections = static_cast<int>(
        TLMChannelUnitConfiguration::initDefaultConfigurationWithGroupId("Tellium")->pendingBatchesLimit);
    const auto start = std::chrono::steady_clock::now();
    CURLM* multi = curl_multi_init();
    curl_slist* headers = rawHeaders();
    std::vector<CURL*> easies;
    std::vector<std::string> received(kConnections);
    std::size_t next = 0;
    long failures = 0;
    auto post = [&](CURL* easy) {
        bodies[next] = body(batches[next]);
        const auto& posted = bodies[next++];
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(posted.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, posted.data());
        curl_multi_add_handle(multi, easy);
    };
    for (int i = 0; i < kConnections && next < bodies.size(); ++i) {
        CURL* easy = curl_easy_init();
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &benchpeers::collect);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &received[i]);
        easies.push_back(easy);
        post(easy);
    }
    // Until every body is answered: a transfer may end within the very call that started it, so
    // no moment with nothing running says that all of them are done.
    for (std::size_t answered = 0; answered < bodies.size();) {
        int running = 0;
        curl_multi_perform(multi, &running);
        int queued = 0;
        while (CURLMsg* m = curl_multi_info_read(multi, &queued)) {
            if (m->msg != CURLMSG_DONE) continue;
            CURL* easy = m->easy_handle;
            long status = 0;
            curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
            if (m->data.result != CURLE_OK || status != 200) ++failures;
            ++answered;
            curl_multi_remove_handle(multi, easy);
            if (next < bodies.size()) post(easy);
        }
        if (answered < bodies.size()) curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
    for (CURL* easy : easies) curl_easy_cleanup(easy);
    curl_multi_cleanup(multi);
    curl_slist_free_all(headers);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return failures == 0 ? ms : -1;
}

benchpeers::Rounds pipelineRounds;   // raw over the pipeline's connections, then the pipeline
benchpeers::Rounds oneByOneRounds;   // raw building the bodies on one connection, then the pipeline
benchpeers::Rounds prebuiltRounds;   // raw with the bodies made beforehand, then the pipeline
benchpeers::Rounds storeRounds;      // raw over the pipeline's connections, then the store alone

// One iteration is one round. The iteration time is the pipeline's; the counters are the medians
// of the rounds.
void BM_ChannelRounds(benchmark::State& state, const benchpeers::Server& peer) {
    for (auto _ : state) {
        double raw = -1, pipeline = -1;
        if (pipelineRounds.baselineFirst()) {
            raw = runRawParallel(peer);
            pipeline = runPipeline(peer);
        } else {
            pipeline = runPipeline(peer);
            raw = runRawParallel(peer);
        }
        const double oneByOne = runRawBuilding(peer);
        const double prebuilt = runRawPrebuilt(peer);
        const double store = runStoreAlone();
        if (raw < 0 || pipeline < 0 || prebuilt < 0 || oneByOne < 0) {
            state.SkipWithError(pipeline < 0 ? "not every log was delivered" : "raw post failed");
            break;
        }
        pipelineRounds.add(raw, pipeline);
        oneByOneRounds.add(oneByOne, pipeline);
        prebuiltRounds.add(prebuilt, pipeline);
        storeRounds.add(raw, store);
        state.SetIterationTime(pipeline / 1000.0);
    }
    pipelineRounds.report(state, "raw_ms", "pipeline_ms", "ratio");
    state.counters["ratio_to_one_connection"] = oneByOneRounds.ratio();
    state.counters["ratio_to_prebuilt"] = prebuiltRounds.ratio();
    state.counters["store_alone_ratio"] = storeRounds.ratio();
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const auto dir = fs::temp_directory_path() / ("dravix-bench-channel-peers-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    auto peer = benchpeers::startServer(dir, "ingestion");
    if (!peer) return 0;
    benchmark::RegisterBenchmark(("ChannelRounds/" + std::to_string(logCount()) + "logs").c_str(), BM_ChannelRounds, *peer)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(benchpeers::roundCount(5));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    pipelineRounds.print(std::cout, "pipeline beside raw curl over as many connections as batches in flight", "raw",
                         "pipeline");
    oneByOneRounds.print(std::cout, "pipeline beside raw curl building each body on one connection", "raw", "pipeline");
    prebuiltRounds.print(std::cout, "pipeline beside raw curl with the bodies made beforehand, one connection", "raw",
                         "pipeline");
    storeRounds.print(std::cout, "store alone beside raw curl over as many connections as batches in flight", "raw",
                      "store");
    std::cout << "median CPU time of the pipeline (all threads) " << benchpeers::median(pipelineCpuMillis) << " ms\n"
              << "median CPU time of the busiest SDK thread " << benchpeers::median(busiestThreadMillis) << " ms\n"
              << "median enqueue call " << benchpeers::median(enqueueMicros) << " us\n";
    benchpeers::stopServer(dir, "ingestion");
    fs::remove_all(dir);
    return 0;
}
