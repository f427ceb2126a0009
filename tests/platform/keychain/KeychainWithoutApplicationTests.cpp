// Without a Qt application object the keyring cannot run: every request fails at once (on the
// main queue) instead of waiting for ever.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "platform/dispatch/Dispatch.h"
#include "platform/keychain/Keychain.h"

using namespace std::chrono_literals;

TEST(KeychainWithoutApplication, RequestsFailWithNoApplication) {
    int answered = 0;
    std::optional<keychain::Failure> readFailure, addFailure;
    keychain::readPassword("ftp://127.0.0.1", "account", [&](std::optional<std::string> s, std::optional<keychain::Failure> f) {
        EXPECT_FALSE(s);
        readFailure = f;
        ++answered;
    });
    keychain::addPassword("ftp://127.0.0.1", "account", "pw", [&](std::optional<keychain::Failure> f) {
        addFailure = f;
        ++answered;
    });
    EXPECT_EQ(answered, 0);  // never before the call returns
    ASSERT_TRUE(dispatch::pumpMainQueueUntil([&] { return answered == 2; }, 5s));
    ASSERT_TRUE(readFailure);
    ASSERT_TRUE(addFailure);
    EXPECT_EQ(readFailure->kind, keychain::Failure::Kind::backend);
    EXPECT_EQ(readFailure->code, keychain::kNoApplication);
    EXPECT_EQ(addFailure->code, keychain::kNoApplication);
}
