#pragma once
// Shared by the keyring suites: unique names, a probe of the Secret Service (tests skip with a
// clear message when none answers), waiting on the Qt event loop, and clean-up of the items a
// test made.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <atomic>
#include <chrono>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/keychain/Keychain.h"

namespace keyringtest {

inline std::string unique(const std::string& stem) {
    static std::mt19937_64 rng{std::random_device{}()};
    return stem + "-" + std::to_string(rng());
}

inline bool onGuiThread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

// Waits (spinning the event loop, which runs the main queue) until the flag is set.
inline bool waitFor(const std::atomic<bool>& done, int ms = 20000) {
    return QTest::qWaitFor([&] { return done.load(); }, ms);
}

// Empty when the keyring answers like a working Secret Service; else why it does not.
inline std::optional<std::string> keyringUnavailable() {
    static std::optional<std::optional<std::string>> cached;
    if (cached) return *cached;
    std::atomic<bool> done{false};
    std::optional<keychain::Failure> failure;
    bool found = false;
    keychain::readPassword(unique("dravix-probe"), "probe", [&](std::optional<std::string> s, std::optional<keychain::Failure> f) {
        found = s.has_value();
        failure = std::move(f);
        done = true;
    });
    if (!waitFor(done, 15000)) {
        cached = std::optional<std::string>("the Secret Service did not answer within 15 s");
    } else if (found || (failure && failure->kind == keychain::Failure::Kind::itemNotFound)) {
        cached = std::optional<std::string>();
    } else {
        cached = std::optional<std::string>("no usable Secret Service on this D-Bus session (" +
                                            (failure ? failure->text() : std::string("?")) +
                                            "); run inside dbus-run-session -- tests/peers/with_session.sh");
    }
    return *cached;
}

#define SKIP_WITHOUT_KEYRING()                                                     \
    do {                                                                           \
        if (auto why = keyringtest::keyringUnavailable()) GTEST_SKIP() << *why;    \
    } while (0)

// Results of the platform calls, waited for.
struct Outcome {
    std::optional<std::string> secret;
    std::optional<keychain::Failure> failure;
    bool onMain = false;
};

inline Outcome readNow(const std::string& service, const std::string& account) {
    std::atomic<bool> done{false};
    Outcome o;
    keychain::readPassword(service, account, [&](std::optional<std::string> s, std::optional<keychain::Failure> f) {
        o.secret = std::move(s);
        o.failure = std::move(f);
        o.onMain = onGuiThread();
        done = true;
    });
    EXPECT_TRUE(waitFor(done));
    return o;
}

template <class Call>
Outcome runNow(Call call) {
    std::atomic<bool> done{false};
    Outcome o;
    call([&](std::optional<keychain::Failure> f) {
        o.failure = std::move(f);
        o.onMain = onGuiThread();
        done = true;
    });
    EXPECT_TRUE(waitFor(done));
    return o;
}

// Removes the items named while it lives (best effort).
class Cleanup {
public:
    void add(std::string service, std::string account) { items_.emplace_back(std::move(service), std::move(account)); }
    ~Cleanup() {
        for (auto& [service, account] : items_) {
            runNow([&](keychain::Completion c) { keychain::deletePassword(service, account, std::move(c)); });
        }
    }

private:
    std::vector<std::pair<std::string, std::string>> items_;
};

}  // namespace keyringtest
