#pragma once
// The SDK's switches that every part reads: whether network requests are allowed (persisted as
// "NetworkRequestsAllowed", true when never set) and the log level. The switch is an atomic, so
// the endpoints read it before every send without taking any lock.
#include "tellium/TLMLogger.h"

class TLMTellium {
public:
    static bool isNetworkRequestsAllowed();
    static void setNetworkRequestsAllowed(bool isAllowed);
    static TLMLogLevel logLevel();
    static void setLogLevel(TLMLogLevel logLevel);
    // Forgets the cached switch, so the next read loads the stored value again. For tests.
    static void resetForTesting();
};
