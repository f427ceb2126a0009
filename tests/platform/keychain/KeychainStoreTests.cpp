// The server-password store against the real keyring: the form's steps and their order, the
// app's error values, and the main-queue delivery of everything.
#include <gtest/gtest.h>

#include <ostream>

#include <QThread>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/keychain/KeyringTestSupport.h"
#include "support/MainQueueSettle.h"
#include "tandrel/foundation/AppGlobals.h"
#include "tandrel/foundation/VornKeyChainUtilityClass.h"

using namespace keyringtest;
using KC = VornKeyChainUtilityClass;
using KeychainError = EnumManager::KeychainError;

namespace {

// Records the steps the store runs on the form, and on which thread.
struct FormLog {
    std::mutex mutex;
    std::vector<std::string> steps;
    std::vector<VornError> presented;
    std::atomic<bool> allOnMain{true};
    std::atomic<bool> done{false};

    void note(const std::string& step) {
        std::lock_guard lock(mutex);
        steps.push_back(step);
        if (!onGuiThread()) allOnMain = false;
    }
    VornKeyChainFormSteps steps_for_form() {
        VornKeyChainFormSteps s;
        s.end_authenticating_on_main = [this] { note("end_authenticating"); };
        s.update_editing_service = [this] { note("update_editing_service"); done = true; };
        s.add_new_service = [this] { note("add_new_service"); done = true; };
        s.service_list_changed = [this] { note("service_list_changed"); };
        s.present_error = [this](const VornError& e) {
            note("present_error");
            std::lock_guard lock(mutex);
            presented.push_back(e);
        };
        s.save_updated_service = [this](std::function<void()> completion) {
            note("save_updated_service");
            if (completion) completion();
            done = true;
        };
        return s;
    }
    std::vector<std::string> list() {
        std::lock_guard lock(mutex);
        return steps;
    }
};

bool isKeychainError(const VornError& e, KeychainError::Case c) { return e.domain == "KeychainError" && e.code == c; }

class KeychainStore : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_KEYRING();
        url = unique("ftp://127.0.0.1:2121");
        username = "user name ü";
        account = KC::keychain_account(url, username);
        cleanup.add(url, account);
    }

    Expected<std::string> read(const std::string& service, const std::string& acct) {
        std::atomic<bool> done{false};
        Expected<std::string> out(VornError{});
        bool onMain = false;
        KC::keychain_read_password(service, acct, [&](Expected<std::string> r) {
            out = std::move(r);
            onMain = onGuiThread();
            done = true;
        });
        EXPECT_TRUE(waitFor(done));
        EXPECT_TRUE(onMain);
        return out;
    }

    // Adds for a new server and waits for the form's steps.
    void addNew(const std::string& password) {
        FormLog form;
        std::atomic<bool> failed{false};
        KC::keychain_add_password_for_new(password, url, account, form.steps_for_form(), [&](const VornError&) { failed = true; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return form.done.load() || failed.load(); }, 20000));
        ASSERT_FALSE(failed.load());
    }

    std::string url, username, account;
    Cleanup cleanup;
};

TEST(KeychainStoreNames, AccountIsBase64OfUrlDashUserAndTheCommentNamesTheApp) {
    EXPECT_EQ(KC::keychain_account("ftp://example.org", "bob"), "ZnRwOi8vZXhhbXBsZS5vcmctYm9i");
    EXPECT_EQ(KC::keychain_account("", ""), "LQ==");
    EXPECT_EQ(KC::keychain_comment(),
              "Added to KeyChain by " + app_display_name() + ". This helps to connect to your service quickly and safely.");
}

// How keyring failures become the app's error values.
struct MappingCase {
    const char* name;
    keychain::Failure failure;
    KeychainError::Case expected;
    int32_t status;
};
void PrintTo(const MappingCase& c, std::ostream* os) { *os << c.name; }

class KeychainStoreMapping : public ::testing::TestWithParam<MappingCase> {};

TEST_P(KeychainStoreMapping, FailureBecomesKeychainError) {
    auto e = KC::keychain_error(GetParam().failure);
    EXPECT_EQ(e.value, GetParam().expected);
    EXPECT_EQ(e.status, GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, KeychainStoreMapping,
    ::testing::Values(
        MappingCase{"not_found", {keychain::Failure::Kind::itemNotFound, 1, ""}, KeychainError::itemNotFound, 0},
        MappingCase{"duplicate", {keychain::Failure::Kind::duplicateItem, 0, ""}, KeychainError::duplicateItem, 0},
        MappingCase{"access_denied", {keychain::Failure::Kind::backend, 4, "locked"}, KeychainError::unexpectedStatus, 4},
        MappingCase{"no_backend", {keychain::Failure::Kind::backend, 5, ""}, KeychainError::unexpectedStatus, 5},
        MappingCase{"timed_out", {keychain::Failure::Kind::backend, keychain::kTimedOut, ""}, KeychainError::unexpectedStatus, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(KeychainStore, ReadingAServerWithoutAPasswordIsItemNotFound) {
    auto r = read(url, account);
    ASSERT_FALSE(r.ok());
    EXPECT_TRUE(isKeychainError(r.error(), KeychainError::itemNotFound)) << r.error().text();
}

struct AddCase {
    const char* name;
    bool forEdit;
    bool withList;
    std::vector<std::string> steps;
};
void PrintTo(const AddCase& c, std::ostream* os) { *os << c.name; }

class KeychainStoreAdd : public KeychainStore, public ::testing::WithParamInterface<AddCase> {};

TEST_P(KeychainStoreAdd, ASuccessfulAddRunsTheFormsStepsInOrderOnTheMainQueue) {
    const auto& c = GetParam();
    FormLog form;
    auto steps = form.steps_for_form();
    if (!c.withList) steps.service_list_changed = nullptr;
    std::atomic<bool> failed{false};
    auto onFailure = [&](const VornError&) { failed = true; };
    if (c.forEdit) KC::keychain_add_password_for_edit("pw-ß", url, account, steps, onFailure);
    else KC::keychain_add_password_for_new("pw-ß", url, account, steps, onFailure);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.list().size() == c.steps.size() || failed.load(); }, 20000));
    EXPECT_FALSE(failed.load());
    EXPECT_EQ(form.list(), c.steps);
    EXPECT_TRUE(form.allOnMain.load());
    auto r = read(url, account);
    ASSERT_TRUE(r.ok()) << r.error().text();
    EXPECT_EQ(*r, "pw-ß");
}

INSTANTIATE_TEST_SUITE_P(
    Modes, KeychainStoreAdd,
    ::testing::Values(AddCase{"new_with_list", false, true, {"end_authenticating", "add_new_service", "service_list_changed"}},
                      AddCase{"edit_with_list", true, true, {"end_authenticating", "update_editing_service", "service_list_changed"}},
                      AddCase{"new_without_list", false, false, {"end_authenticating", "add_new_service"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(KeychainStore, AddingForAServerThatHasAPasswordIsDuplicateAndRunsNoStep) {
    addNew("first");
    FormLog form;
    std::atomic<bool> failed{false};
    std::optional<VornError> error;
    bool onMain = false;
    KC::keychain_add_password_for_new("second", url, account, form.steps_for_form(), [&](const VornError& e) {
        error = e;
        onMain = onGuiThread();
        failed = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return failed.load(); }, 20000));
    ASSERT_TRUE(error);
    EXPECT_TRUE(isKeychainError(*error, KeychainError::duplicateItem)) << error->text();
    EXPECT_TRUE(onMain);
    ASSERT_TRUE(testsupport::settleMainQueue(3));
    EXPECT_TRUE(form.list().empty());
    EXPECT_EQ(*read(url, account), "first");
}

// An edited server's password replaces the one saved for the account: an edit is never a duplicate.
TEST_F(KeychainStore, AnEditedServersPasswordReplacesTheSavedOne) {
    addNew("first");
    FormLog form;
    std::atomic<bool> failed{false};
    KC::keychain_add_password_for_edit("second", url, account, form.steps_for_form(), [&](const VornError&) { failed = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.done.load() || failed.load(); }, 20000));
    EXPECT_FALSE(failed.load());
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.list().size() == 3; }, 5000));
    EXPECT_EQ(form.list(), (std::vector<std::string>{"end_authenticating", "update_editing_service", "service_list_changed"}));
    EXPECT_EQ(*read(url, account), "second");
}

TEST_F(KeychainStore, UpdateReplacesThePasswordThenSavesTheRecord) {
    addNew("first");
    FormLog form;
    std::atomic<bool> completed{false};
    KC::keychain_update_password("second", url, account, form.steps_for_form(), [&] { completed = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return completed.load(); }, 20000));
    EXPECT_EQ(form.list(), (std::vector<std::string>{"save_updated_service"}));
    EXPECT_TRUE(form.allOnMain.load());
    EXPECT_EQ(*read(url, account), "second");
}

TEST_F(KeychainStore, UpdatingAMissingPasswordShowsItemNotFoundAndStillSavesTheRecord) {
    FormLog form;
    std::atomic<bool> completed{false};
    KC::keychain_update_password("pw", url, account, form.steps_for_form(), [&] { completed = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return completed.load(); }, 20000));
    EXPECT_EQ(form.list(), (std::vector<std::string>{"present_error", "save_updated_service"}));
    ASSERT_EQ(form.presented.size(), 1u);
    EXPECT_TRUE(isKeychainError(form.presented[0], KeychainError::itemNotFound));
    EXPECT_FALSE(read(url, account).ok());  // nothing was written
}

TEST_F(KeychainStore, DeleteRemovesAServersPasswordAndReportsWhenThereIsNone) {
    addNew("pw");
    auto remove = [&] {
        std::atomic<bool> done{false};
        std::optional<VornError> error;
        KC::keychain_delete_password(url, account, [&](std::optional<VornError> e) {
            error = std::move(e);
            done = true;
        });
        EXPECT_TRUE(waitFor(done));
        return error;
    };
    EXPECT_FALSE(remove());
    EXPECT_TRUE(isKeychainError(read(url, account).error(), KeychainError::itemNotFound));
    auto again = remove();
    ASSERT_TRUE(again);
    EXPECT_TRUE(isKeychainError(*again, KeychainError::itemNotFound));
}

TEST_F(KeychainStore, ChangingTheUrlOrUserNameLooksUpAnotherItem) {
    addNew("pw");
    EXPECT_TRUE(read(url, account).ok());
    EXPECT_FALSE(read(url, KC::keychain_account(url, username + "x")).ok());
    EXPECT_FALSE(read(url + "/", KC::keychain_account(url + "/", username)).ok());
}

}  // namespace
