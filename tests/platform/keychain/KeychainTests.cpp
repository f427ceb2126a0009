// The keyring layer against the real Secret Service (gnome-keyring on the test's D-Bus session).
#include <gtest/gtest.h>

#include <ostream>

#include <QThread>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/keychain/Keychain.h"
#include "platform/keychain/KeyringTestSupport.h"

using keychain::Failure;
using namespace keyringtest;

namespace {

class KeychainTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_KEYRING();
        service = unique("ftp://127.0.0.1/keychain-test");
        account = unique("account");
        cleanup.add(service, account);
    }
    void add(const std::string& secret) {
        auto o = runNow([&](keychain::Completion c) { keychain::addPassword(service, account, secret, std::move(c)); });
        ASSERT_FALSE(o.failure) << o.failure->text();
    }
    std::string service, account;
    Cleanup cleanup;
};

TEST_F(KeychainTest, ReadingWhatWasNeverStoredIsItemNotFound) {
    auto o = readNow(service, account);
    EXPECT_FALSE(o.secret);
    ASSERT_TRUE(o.failure);
    EXPECT_EQ(o.failure->kind, Failure::Kind::itemNotFound);
    EXPECT_EQ(o.failure->code, keychain::kEntryNotFound);
    EXPECT_TRUE(o.onMain);
}

struct SecretCase {
    const char* name;
    std::string bytes;
};
void PrintTo(const SecretCase& c, std::ostream* os) { *os << c.name; }

class KeychainRoundTrip : public KeychainTest, public ::testing::WithParamInterface<SecretCase> {};

TEST_P(KeychainRoundTrip, AddThenReadGivesTheSameBytes) {
    add(GetParam().bytes);
    auto o = readNow(service, account);
    ASSERT_FALSE(o.failure) << o.failure->text();
    ASSERT_TRUE(o.secret);
    EXPECT_EQ(*o.secret, GetParam().bytes);
    EXPECT_TRUE(o.onMain);
}

INSTANTIATE_TEST_SUITE_P(Secrets, KeychainRoundTrip,
                         ::testing::Values(SecretCase{"ascii", "s3cret!"},
                                           SecretCase{"spaces_and_symbols", " pass word \"'\\;:$%&"},
                                           SecretCase{"utf8", "pässwörd-密码-🔑"},
                                           SecretCase{"not_utf8", std::string("\xff\xfe\x80pw\x01", 6)},
                                           SecretCase{"long", std::string(4096, 'x')}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(KeychainTest, AddingOverAStoredSecretIsDuplicateAndKeepsTheOldOne) {
    add("first");
    auto o = runNow([&](keychain::Completion c) { keychain::addPassword(service, account, "second", std::move(c)); });
    ASSERT_TRUE(o.failure);
    EXPECT_EQ(o.failure->kind, Failure::Kind::duplicateItem);
    EXPECT_EQ(readNow(service, account).secret, std::optional<std::string>("first"));
}

TEST_F(KeychainTest, UpdateReplacesAStoredSecret) {
    add("first");
    auto o = runNow([&](keychain::Completion c) { keychain::updatePassword(service, account, "second", std::move(c)); });
    EXPECT_FALSE(o.failure);
    EXPECT_TRUE(o.onMain);
    EXPECT_EQ(readNow(service, account).secret, std::optional<std::string>("second"));
}

TEST_F(KeychainTest, UpdatingAMissingSecretIsItemNotFoundAndStoresNothing) {
    auto o = runNow([&](keychain::Completion c) { keychain::updatePassword(service, account, "x", std::move(c)); });
    ASSERT_TRUE(o.failure);
    EXPECT_EQ(o.failure->kind, Failure::Kind::itemNotFound);
    EXPECT_EQ(readNow(service, account).failure->kind, Failure::Kind::itemNotFound);
}

TEST_F(KeychainTest, WriteStoresAndReplacesWithoutAsking) {
    for (const char* secret : {"one", "two"}) {
        auto o = runNow([&](keychain::Completion c) { keychain::writePassword(service, account, secret, std::move(c)); });
        EXPECT_FALSE(o.failure);
        EXPECT_EQ(readNow(service, account).secret, std::optional<std::string>(secret));
    }
}

TEST_F(KeychainTest, AWriteSlowerThanTheTimeLimitIsReportedByWhatItDid) {
    // The keyring takes longer than a millisecond for a write; the write is not given up on, so
    // the report and the keyring agree.
    const auto limit = keychain::timeout();
    keychain::setTimeout(std::chrono::milliseconds(1));
    auto o = runNow([&](keychain::Completion c) { keychain::writePassword(service, account, "late", std::move(c)); });
    keychain::setTimeout(limit);
    EXPECT_FALSE(o.failure) << o.failure->text();
    EXPECT_EQ(readNow(service, account).secret, std::optional<std::string>("late"));
}

TEST_F(KeychainTest, DeleteRemovesAndThenReportsNothingToRemove) {
    add("gone soon");
    auto first = runNow([&](keychain::Completion c) { keychain::deletePassword(service, account, std::move(c)); });
    EXPECT_FALSE(first.failure);
    EXPECT_EQ(readNow(service, account).failure->kind, Failure::Kind::itemNotFound);
    auto second = runNow([&](keychain::Completion c) { keychain::deletePassword(service, account, std::move(c)); });
    ASSERT_TRUE(second.failure);
    EXPECT_EQ(second.failure->kind, Failure::Kind::itemNotFound);
}

TEST_F(KeychainTest, ServiceAndAccountBothNameTheItem) {
    add("mine");
    std::string otherService = unique("ftp://127.0.0.1/other");
    std::string otherAccount = unique("other");
    EXPECT_EQ(readNow(otherService, account).failure->kind, Failure::Kind::itemNotFound);
    EXPECT_EQ(readNow(service, otherAccount).failure->kind, Failure::Kind::itemNotFound);
}

TEST_F(KeychainTest, CompletionNeverRunsBeforeTheCallReturns) {
    bool returned = false;
    std::atomic<bool> ranEarly{false}, done{false};
    keychain::readPassword(service, account, [&](auto, auto) {
        ranEarly = !returned;
        done = true;
    });
    returned = true;
    ASSERT_TRUE(waitFor(done));
    EXPECT_FALSE(ranEarly);
}

TEST_F(KeychainTest, RequestsCompleteInOrderOnTheMainThread) {
    std::mutex m;
    std::vector<int> order;
    std::atomic<int> count{0};
    std::atomic<bool> allOnMain{true};
    keychain::addPassword(service, account, "v0", [&](auto) { std::lock_guard l(m); order.push_back(0); allOnMain = allOnMain && onGuiThread(); ++count; });
    keychain::updatePassword(service, account, "v1", [&](auto) { std::lock_guard l(m); order.push_back(1); allOnMain = allOnMain && onGuiThread(); ++count; });
    keychain::readPassword(service, account, [&](auto s, auto) {
        std::lock_guard l(m);
        EXPECT_EQ(s, std::optional<std::string>("v1"));
        order.push_back(2);
        allOnMain = allOnMain && onGuiThread();
        ++count;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return count.load() == 3; }, 20000));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(allOnMain);
}

// Adds racing from several threads: the read-then-write of each add cannot interleave, so exactly
// one wins and the others see the duplicate.
TEST_F(KeychainTest, RacingAddsFromManyThreadsStoreExactlyOnce) {
    constexpr int kThreads = 6;
    std::atomic<int> done{0}, stored{0}, duplicates{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            keychain::addPassword(service, account, "from " + std::to_string(i), [&](std::optional<Failure> f) {
                if (!f) ++stored;
                else if (f->kind == Failure::Kind::duplicateItem) ++duplicates;
                ++done;
            });
        });
    }
    for (auto& t : threads) t.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return done.load() == kThreads; }, 30000));
    EXPECT_EQ(stored.load(), 1);
    EXPECT_EQ(duplicates.load(), kThreads - 1);
}

}  // namespace
