#pragma once
// A network the telemetry tests switch on and off; every change reaches observers on the main
// queue, as the route watcher's do.
#include <atomic>

#include "tellium/http/TLMReachability.h"

namespace telltest {

class TestReachability final : public TLM_Reachability {
public:
    TLMNetworkStatus currentReachabilityStatus() override { return status_; }
    bool startNotifier() override {
        postChangeNotification();
        return true;
    }
    void stopNotifier() override {}
    // Changes the answer without telling anyone (as when the network drops under a running request).
    void setStatusOnlyForTest(TLMNetworkStatus status) { status_ = status; }
    void set(TLMNetworkStatus status) {
        status_ = status;
        postChangeNotification();
    }

private:
    std::atomic<TLMNetworkStatus> status_{TLMReachableViaWiFi};
};

}  // namespace telltest
