#pragma once
// Generic passwords in the desktop keyring (the Secret Service, reached through qtkeychain), filed
// by service and account.
//
// Every call returns at once. The requests run on the keychain's own thread, one at a time and in
// the order they were made, so the read-then-write of add and update cannot interleave with
// another request of this process. Each completion runs exactly once, on the main queue. The GUI
// thread never waits for the keyring.
//
// A Qt application object must exist (the backend needs Qt's event loop); without one every
// request fails with kNoApplication.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace keychain {

// Failure codes. Positive codes are the backend's own (qtkeychain's error values): 1 entry not
// found, 2 could not delete, 3 access denied by the user, 4 access denied, 5 no keyring backend,
// 6 not implemented, 7 other error. These are ours:
inline constexpr int32_t kTimedOut = -1;       // the keyring did not answer within the time limit
inline constexpr int32_t kNoApplication = -2;  // no Qt application object: nothing can run
inline constexpr int32_t kEntryNotFound = 1;   // the backend's "entry not found"

struct Failure {
    enum class Kind {
        itemNotFound,   // nothing stored under this service and account
        duplicateItem,  // add: something is already stored
        backend,        // anything else; `code` tells which
    };
    Kind kind = Kind::backend;
    int32_t code = 0;
    std::string message;  // the backend's text (never contains a secret)

    std::string text() const;
};

using Completion = std::function<void(std::optional<Failure> failure)>;
using ReadCompletion = std::function<void(std::optional<std::string> secret, std::optional<Failure> failure)>;

// The stored secret, or itemNotFound.
void readPassword(const std::string& service, const std::string& account, ReadCompletion completion);
// Stores the secret, replacing whatever is stored.
void writePassword(const std::string& service, const std::string& account, const std::string& secret,
                   Completion completion);
// Stores the secret when nothing is stored yet; duplicateItem (and nothing written) otherwise.
void addPassword(const std::string& service, const std::string& account, const std::string& secret,
                 Completion completion);
// Replaces a stored secret; itemNotFound (and nothing written) when nothing is stored.
void updatePassword(const std::string& service, const std::string& account, const std::string& secret,
                    Completion completion);
// Removes the stored secret; itemNotFound when nothing was stored.
void deletePassword(const std::string& service, const std::string& account, Completion completion);

// The longest wait for a keyring read before the request fails with kTimedOut (default two
// minutes: an unlock prompt waits for the user). A write or delete, once started, is reported by
// the keyring's own answer however late, since it may still take effect.
void setTimeout(std::chrono::milliseconds limit);
std::chrono::milliseconds timeout();

}  // namespace keychain
