#include "tellium/TLMTellium.h"

#include <atomic>

#include "tellium/util/TLMTelliumUserDefaults.h"

namespace {
constexpr const char* kTLMNetworkRequestsAllowedKey = "NetworkRequestsAllowed";
// -1: not read yet; 0: forbidden; 1: allowed.
std::atomic<int> networkRequestsAllowed{-1};
}  // namespace

bool TLMTellium::isNetworkRequestsAllowed() {
    int value = networkRequestsAllowed.load();
    if (value < 0) {
        const bool stored = TLMTelliumUserDefaults::shared().boolForKey(kTLMNetworkRequestsAllowedKey).value_or(true);
        int expected = -1;
        networkRequestsAllowed.compare_exchange_strong(expected, stored ? 1 : 0);
        value = networkRequestsAllowed.load();
    }
    return value == 1;
}

void TLMTellium::setNetworkRequestsAllowed(bool isAllowed) {
    TLMLogInfo(kTLMLogTag, std::string("Tellium SDK network requests are ") + (isAllowed ? "allowed" : "forbidden") + ".");
    TLMTelliumUserDefaults::shared().setObject(defaults::Value(isAllowed), kTLMNetworkRequestsAllowedKey);
    networkRequestsAllowed.store(isAllowed ? 1 : 0);
}

TLMLogLevel TLMTellium::logLevel() { return TLMLogger::currentLogLevel(); }

void TLMTellium::setLogLevel(TLMLogLevel logLevel) { TLMLogger::setCurrentLogLevel(logLevel); }

void TLMTellium::resetForTesting() { networkRequestsAllowed.store(-1); }
