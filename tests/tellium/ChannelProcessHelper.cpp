// A process of its own for the no-loss test: sends telemetry logs through a channel group to the
// ingestion peer, so the test can kill it in the middle of sending and start another.
//   tellium_channel_helper <database> <base url> <first> <count>
// Enqueues logs <first>..<first+count-1> (the "n" property), prints "stored" once every one is in
// the store, then keeps sending; it exits 0 once the store is empty.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "tellium/channel/TLMChannelGroupDefault.h"
#include "tellium/http/TLMHttpClient.h"
#include "tellium/storage/TLMLogDBStorage.h"
#include "tellium/SampleDevice.h"

namespace {

class NetworkUp final : public TLM_Reachability {
public:
    TLMNetworkStatus currentReachabilityStatus() override { return TLMReachableViaWiFi; }
    bool startNotifier() override { return true; }
    void stopNotifier() override {}
};

class EnqueueCounter final : public TLMChannelDelegate {
public:
    void channelDidCompleteEnqueueingLog(TLMChannelUnitProtocol&, const std::shared_ptr<TLMAbstractLog>&,
                                         const std::string&) override {
        ++count;
    }
    std::atomic<long> count{0};
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s <database> <base url> <first> <count>\n", argv[0]);
        return 2;
    }
    const long first = std::atol(argv[3]);
    const long count = std::atol(argv[4]);
    auto client = TLMHttpClient::initWithMaxHttpConnectionsPerHost(std::nullopt, std::make_shared<NetworkUp>());
    auto storage = std::make_shared<TLMLogDBStorage>(argv[1]);
    auto ingestion = TLMTelliumIngestion::initWithHttpClient(client, argv[2], "5B3F1D2E-9A44-4C6B-8E21-0F7A6C3D9B10");
    ingestion->setAppSecret(std::string("0123abcd-4567-89ef-0123-456789abcdef"));
    auto group = TLMChannelGroupDefault::initWithIngestion(ingestion, storage);
    auto counter = std::make_shared<EnqueueCounter>();
    group->addDelegate(counter);
    auto unit = group->addChannelUnitWithConfiguration(TLMChannelUnitConfiguration::initDefaultConfigurationWithGroupId("Tellium"));
    for (long i = first; i < first + count; ++i) {
        auto log = std::make_shared<TLMLogWithProperties>();
        log->type = "event";
        log->device = telltest::sampleDevice();
        log->properties = std::map<std::string, std::string>{{"n", std::to_string(i)}};
        unit->enqueueItem(log, TLMFlagsNormal);
    }
    while (counter->count < count) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::printf("stored\n");
    std::fflush(stdout);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (storage->countLogs() > 0) {
        if (std::chrono::steady_clock::now() > deadline) return 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // The last answer's task may still be running on the log queue, holding the unit: let it end
    // first, so that the unit and its queue go here and the queue's thread is joined before the
    // process exits (a thread left running then would race the libraries' exit handlers).
    unit->logsDispatchQueue().sync([] {});
    return 0;
}
