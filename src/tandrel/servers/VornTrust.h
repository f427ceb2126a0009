#pragma once
// Whom the app's connections trust: one files::Trust for the process (the app's data folder,
// the user's ~/.ssh/known_hosts), handed to every provider the app builds, and the asker that
// puts a trust question to the user: an alert on the window in front, shown on the main queue
// ("Trust" / "Cancel"; only "OK" for a question that cannot be accepted). The provider's worker
// waits for the answer; the GUI thread never does.
#include <functional>
#include <memory>
#include <optional>

#include "platform/files/Trust.h"

// The process's trust store (made on first use, from any thread).
std::shared_ptr<files::Trust> app_trust();
// Puts another trust store in its place (test programs give one that knows their servers' host
// keys); null goes back to a store of the app's own, made afresh on next use.
void set_app_trust(std::shared_ptr<files::Trust> trust);

class VornTrustAsker : public files::TrustAsker {
public:
    // The answer is false when no window can show the question, or when the alert goes away
    // without a choice.
    void ask(files::TrustQuestion question, std::function<void(bool trust)> answer) override;
    // An SSH login's question as an alert with one field per prompt (hidden as typed unless the
    // server lets it show): "Log In" / "Cancel"; for a key's passphrase "Unlock", "Unlock and
    // Remember" (the answer asks for it to be kept) and "Cancel". A remembered passphrase answers
    // without a window, unless it was just found wrong (then it is removed). Cancel answers as
    // the user's Cancel; nothing when no window can show it.
    void askLogin(files::LoginQuestion question, std::function<void(std::optional<files::LoginAnswer>)> answer) override;
    // Keeps a passphrase that proved right in the keyring, under kPassphraseService and the key
    // file.
    void rememberPassphrase(const files::LoginQuestion& question, const std::string& passphrase) override;

    static constexpr const char* kPassphraseService = "Dravix SSH key passphrase";
};
