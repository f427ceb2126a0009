// The telemetry delivery road end to end against the ingestion peer on 127.0.0.1: 10,000 event
// logs enqueued on a channel unit of the default configuration (batches of 50, 3 in flight) until
// the peer has answered 200 for every one, beside posting the same batch bodies (gzip'd as the
// client sends them) with raw libcurl, one after the other, to the same peer in the same run; and
// the same bodies again over three connections at once, as the pipeline keeps three batches in
// flight (the peer, a Python server, answers more slowly then).
// Also reports the median time of one enqueue call on the caller's thread, and the CPU time the
// pipeline took: of the whole process, and of its busiest thread other than the caller's (the log
// queue, as a rule), which bounds how fast the logs can go out whatever the network.
//
// Run: build/bench/bench_telemetry_channel --benchmark_repetitions=5 --benchmark_report_aggregates_only
// (DRAVIX_BENCH_LOGS changes the number of logs; the store goes to the temporary folder, TMPDIR.)
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <random>

#include <time.h>
#include <unistd.h>

#include "BenchPeers.h"
#include "tellium/channel/TLMChannelGroupDefault.h"
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
std::vector<double> pipelineMillis;
std::vector<double> rawMillis;
std::vector<double> rawParallelMillis;
std::vector<double> pipelineCpuMillis;
std::vector<double> busiestThreadMillis;
std::vector<double> storeMillis;

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

void BM_ChannelPipeline(benchmark::State& state, const benchpeers::Server& peer) {
    const int count = logCount();
    for (auto _ : state) {
        state.PauseTiming();
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
        state.ResumeTiming();

        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = processCpuMillis();
        const auto threadsStart = threadCpuMillis();
        for (const auto& log : logs) {
            const auto before = std::chrono::steady_clock::now();
            unit->enqueueItem(log, TLMFlagsNormal);
            calls.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - before).count());
        }
        if (!delivered->waitFor(count)) state.SkipWithError("not every log was delivered");
        pipelineMillis.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        pipelineCpuMillis.push_back(processCpuMillis() - cpuStart);
        double busiest = 0;
        for (const auto& [tid, ms] : threadCpuMillis()) {
            if (tid == std::to_string(getpid())) continue;  // the caller's thread
            auto before = threadsStart.find(tid);
            busiest = std::max(busiest, ms - (before == threadsStart.end() ? 0 : before->second));
        }
        busiestThreadMillis.push_back(busiest);
        enqueueMicros.push_back(benchpeers::median(calls));

        state.PauseTiming();
        group.reset();
        unit.reset();
        storage.reset();
        client.reset();
        fs::remove_all(dir);
        state.ResumeTiming();
    }
}

// The store's share of the pipeline on its own, on one thread and with no network: the same logs
// saved in the unit's bursts (their stored text made beforehand, as the enqueuing thread does),
// and taken out and deleted in batches of 50 as the peer's answers would have them. Whatever the
// rest of the pipeline does, the log queue cannot deliver faster than this.
void BM_StoreAlone(benchmark::State& state) {
    const int count = logCount();
    for (auto _ : state) {
        state.PauseTiming();
        const auto dir = fs::temp_directory_path() / ("dravix-bench-store-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir);
        auto storage = std::make_shared<TLMLogDBStorage>(dir / "Logs.sqlite");
        std::vector<TLMStorageItem> items;
        for (int i = 0; i < count; ++i) {
            auto log = eventLog(i);
            items.emplace_back(log, TLMFlagsNormal, storage->prepareText(*log));
        }
        state.ResumeTiming();

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
        storeMillis.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());

        state.PauseTiming();
        storage.reset();
        fs::remove_all(dir);
        state.ResumeTiming();
    }
}

// The same bodies the pipeline sends: batches of 50, gzip'd.
std::vector<std::string> rawBodies() {
    const int count = logCount();
    std::vector<std::string> bodies;
    for (int from = 0; from < count; from += 50) {
        std::vector<std::shared_ptr<TLMAbstractLog>> batch;
        for (int i = from; i < std::min(count, from + 50); ++i) batch.push_back(eventLog(i));
        bodies.push_back(TLMCompression::compressData(TLMLogContainer("b", batch).serializeLog().value()).value());
    }
    return bodies;
}

curl_slist* rawHeaders() {
    curl_slist* headers = nullptr;
    for (const char* h : {"Content-Type: application/json", "Content-Encoding: gzip", "Expect:"}) {
        headers = curl_slist_append(headers, h);
    }
    headers = curl_slist_append(headers, (std::string("App-Secret: ") + kSecret).c_str());
    return curl_slist_append(headers, (std::string("Install-ID: ") + kInstallId).c_str());
}

void BM_RawCurl(benchmark::State& state, const benchpeers::Server& peer) {
    const std::vector<std::string> bodies = rawBodies();
    const std::string url = peer.url + "/t/bench-raw/logs?api-version=1.0.0";
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        CURL* easy = curl_easy_init();
        curl_slist* headers = rawHeaders();
        std::string received;
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &benchpeers::collect);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &received);
        for (const auto& body : bodies) {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
            long status = 0;
            if (curl_easy_perform(easy) != CURLE_OK ||
                (curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status), status != 200)) {
                state.SkipWithError("raw post failed");
                break;
            }
        }
        curl_slist_free_all(headers);
        curl_easy_cleanup(easy);
        rawMillis.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
}

// The same bodies over as many connections as the pipeline keeps batches in flight (3), each
// connection posting its next body as soon as its last one is answered: the peer's own cost at
// the pipeline's concurrency.
void BM_RawCurlParallel(benchmark::State& state, const benchpeers::Server& peer) {
    const std::vector<std::string> bodies = rawBodies();
    const std::string url = peer.url + "/t/bench-raw/logs?api-version=1.0.0";
    constexpr int kConnections = 3;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        CURLM* multi = curl_multi_init();
        curl_slist* headers = rawHeaders();
        std::vector<CURL*> easies;
        std::vector<std::string> received(kConnections);
        std::size_t next = 0;
        long failures = 0;
        auto post = [&](CURL* easy) {
            const auto& body = bodies[next++];
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
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
        for (int running = 1; running > 0;) {
            curl_multi_perform(multi, &running);
            int queued = 0;
            while (CURLMsg* m = curl_multi_info_read(multi, &queued)) {
                if (m->msg != CURLMSG_DONE) continue;
                long status = 0;
                curl_easy_getinfo(m->easy_handle, CURLINFO_RESPONSE_CODE, &status);
                if (m->data.result != CURLE_OK || status != 200) ++failures;
                curl_multi_remove_handle(multi, m->easy_handle);
                if (next < bodies.size()) post(m->easy_handle);
            }
            curl_multi_perform(multi, &running);
            if (running > 0) curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
        for (CURL* easy : easies) curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
        curl_slist_free_all(headers);
        if (failures > 0) state.SkipWithError("raw post failed");
        rawParallelMillis.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const auto dir = fs::temp_directory_path() / ("dravix-bench-channel-peers-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    auto peer = benchpeers::startServer(dir, "ingestion");
    if (!peer) return 0;
    benchmark::RegisterBenchmark("ChannelPipeline/10000logs", BM_ChannelPipeline, *peer)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1);
    benchmark::RegisterBenchmark("StoreAlone/10000logs", BM_StoreAlone)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1);
    benchmark::RegisterBenchmark("RawCurlSameBodies/10000logs", BM_RawCurl, *peer)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1);
    benchmark::RegisterBenchmark("RawCurlSameBodiesThreeConnections/10000logs", BM_RawCurlParallel, *peer)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const double pipeline = benchpeers::median(pipelineMillis);
    const double raw = benchpeers::median(rawMillis);
    std::cout << "median pipeline " << pipeline << " ms, raw curl " << raw << " ms, ratio "
              << (raw > 0 ? pipeline / raw : 0) << " (at most 2)\n"
              << "median CPU time of the pipeline (all threads) " << benchpeers::median(pipelineCpuMillis) << " ms\n"
              << "median CPU time of the busiest SDK thread " << benchpeers::median(busiestThreadMillis) << " ms\n"
              << "median store alone " << benchpeers::median(storeMillis) << " ms, ratio to raw curl "
              << (raw > 0 ? benchpeers::median(storeMillis) / raw : 0) << "\n"
              << "median enqueue call " << benchpeers::median(enqueueMicros) << " us (under 20)\n"
              << "median raw curl over 3 connections " << benchpeers::median(rawParallelMillis)
              << " ms, pipeline ratio to it " << (benchpeers::median(rawParallelMillis) > 0 ? pipeline / benchpeers::median(rawParallelMillis) : 0)
              << "\n";
    benchpeers::stopServer(dir, "ingestion");
    fs::remove_all(dir);
    return 0;
}
