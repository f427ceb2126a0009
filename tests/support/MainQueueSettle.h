#pragma once
// Proof that the main queue has run everything asked of it so far: a marker task goes in behind
// it and the event loop runs until the marker has run. Tests that check that something did NOT
// happen wait for this instead of a fixed time. `rounds` covers work that hops that many times
// (a presenter request, for one, goes through the main queue twice before it decides).
#include <QTest>

#include "platform/dispatch/Dispatch.h"

namespace testsupport {

inline bool settleMainQueue(int rounds = 1) {
    for (int i = 0; i < rounds; ++i) {
        bool reached = false;
        dispatch::mainQueue().async([&reached] { reached = true; });
        if (!QTest::qWaitFor([&reached] { return reached; }, 5000)) return false;
    }
    return true;
}

}  // namespace testsupport
