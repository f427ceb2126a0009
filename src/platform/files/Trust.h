#pragma once
// Whom the providers trust: SSH host keys (the user's ~/.ssh/known_hosts, read only, and the
// app's own known_hosts, both in OpenSSH's format, hashed names included) and TLS certificates
// the user chose to trust for a host and port (kept in the app's data folder). One object for
// the process, shared by the providers through ProviderOptions; thread safe.
//
// A provider meets a host key or certificate that is not trusted before it sends any password
// or key; it then asks here, from its worker thread, and waits for the answer (decide). The
// question itself is put by the asker that the app installs (a window, on the main queue);
// without one, nothing unknown is trusted. A changed host key is never accepted from here: the
// user is told how to remove the old key.

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace files {

class Operation;

// A server's SSH host key.
struct HostKey {
    std::string type;  // "ssh-ed25519", "ecdsa-sha2-nistp256", "ssh-rsa", ...
    std::string blob;  // the key in the SSH wire format, as the server sent it
    // "SHA256:" and the unpadded Base64 of the blob's SHA-256, as `ssh-keygen -l` writes it.
    std::string fingerprint() const;
};

// A server's TLS certificate, as the user is shown it.
struct Certificate {
    std::string der;        // the leaf certificate, DER
    std::string subject;    // one line ("CN=www.example.com, O=Example")
    std::string issuer;
    std::string notBefore;  // "2026-01-31 12:00:00 UTC"
    std::string notAfter;
    std::string reason;     // why the system's trust store refused it ("self-signed certificate")
    // SHA-256 of the DER, upper-case hex pairs joined by ':'.
    std::string fingerprint() const;
};

enum class TrustVerdict { trusted, unknown, changed };

// One question to the user.
struct TrustQuestion {
    enum class Subject { hostKey, certificate };
    Subject subject = Subject::hostKey;
    std::string host;
    int port = 0;
    TrustVerdict verdict = TrustVerdict::unknown;  // unknown or changed
    HostKey hostKey;          // for hostKey
    Certificate certificate;  // for certificate
    // False for a changed host key: the user is warned and cannot accept it here.
    bool acceptable = true;
    std::string title;    // the window's title
    std::string message;  // what the user reads: the key's type and fingerprint, or the
                          // certificate's subject, issuer, dates, reason and fingerprint; for a
                          // changed host key, how to remove the old one
};

// A question an SSH login puts to the user: the prompts of one keyboard-interactive round, as
// the server wrote them, or the passphrase of a key file.
struct LoginQuestion {
    enum class Kind { prompts, passphrase };
    struct Prompt {
        std::string text;   // "Password: ", "Verification code: "
        bool echo = false;  // whether the answer may be shown as it is typed
    };
    Kind kind = Kind::prompts;
    std::string host;
    int port = 0;
    std::string user;
    std::string title;               // the window's title
    std::string name, instruction;   // prompts: what the server calls the round and says of it
    std::vector<Prompt> prompts;     // prompts: in the server's order (none for passphrase)
    std::string keyFile;             // passphrase: the key file, as its path is written
    // The server did not take the last answers to these prompts (or the passphrase given for this
    // file was wrong): the user is asked again.
    bool again = false;
};

struct LoginAnswer {
    std::vector<std::string> answers;  // one per prompt; the passphrase alone for a key file
    bool remember = false;             // passphrase: the user asked to keep it (in the keyring)
    bool cancelled = false;            // the user chose Cancel (no answers then)
};

// Puts a question to the user. `answer` is called exactly once, from any thread (true: trust).
class TrustAsker {
public:
    virtual ~TrustAsker() = default;
    virtual void ask(TrustQuestion question, std::function<void(bool trust)> answer) = 0;
    // A login question: the answers, the user's Cancel (an answer with `cancelled`), or nothing
    // when nobody could be asked (no window to ask in). An asker that cannot show such questions
    // answers nothing.
    virtual void askLogin(LoginQuestion, std::function<void(std::optional<LoginAnswer> answer)> answer) {
        answer(std::nullopt);
    }
    // The passphrase the user asked to keep for question.keyFile opened the key and the server
    // took it: it may be stored now (never before it is known to be right). From a worker thread.
    virtual void rememberPassphrase(const LoginQuestion& question, const std::string& passphrase) {
        (void)question;
        (void)passphrase;
    }
};

class Trust {
public:
    // appFolder: the app's data folder, where its known_hosts and trusted certificates live;
    // userKnownHosts: normally ~/.ssh/known_hosts, only ever read.
    Trust(std::filesystem::path appFolder, std::filesystem::path userKnownHosts);

    void setAsker(std::shared_ptr<TrustAsker> asker);

    // Host keys: trusted when either file has this key for the host (and port: "[host]:port"
    // for a port other than 22), changed when they have another key of the same type for it, or
    // keys of other types only (a server that suddenly shows a key of a type never seen from it
    // is refused as a changed one, never asked about).
    TrustVerdict checkHostKey(const std::string& host, int port, const HostKey& key) const;
    // The key types either file knows for the host and port ("ssh-ed25519", "ssh-rsa"), in the
    // order of their lines, each once: the types to ask the server for first.
    std::vector<std::string> knownHostKeyTypes(const std::string& host, int port) const;
    // Adds the key to the app's known_hosts (an atomic rewrite of the file).
    bool addHostKey(const std::string& host, int port, const HostKey& key);

    // Certificates: trusted when the user trusted this very certificate for the host and port,
    // changed when they trusted another one there.
    TrustVerdict checkCertificate(const std::string& host, int port, const Certificate& certificate) const;
    bool addCertificate(const std::string& host, int port, const Certificate& certificate);

    // Asks the user (through the asker) and waits; on yes, records the key or certificate. False
    // without an asker, on no, for a question that is not acceptable, or once `op` is cancelled.
    // `answered`, when given, says whether a false came from the user: the asker answered no (or
    // took the warning of a question that cannot be accepted), as opposed to nobody to ask or a
    // cancelled operation.
    bool decide(const TrustQuestion& question, const Operation* op = nullptr, bool* answered = nullptr);

    // Asks the user a login question (through the asker) and waits for the answer: the user's
    // answers or Cancel (see TrustAsker::askLogin); nothing without an asker, when nobody could be
    // asked, or once `op` is cancelled. Never logged.
    std::optional<LoginAnswer> askLogin(const LoginQuestion& question, const Operation* op = nullptr);
    // Hands a passphrase known to be right to the asker to keep (see TrustAsker).
    void rememberPassphrase(const LoginQuestion& question, const std::string& passphrase);

    // Where the app keeps what it trusts.
    std::filesystem::path knownHostsFile() const;
    std::filesystem::path certificatesFile() const;

private:
    const std::filesystem::path appFolder_;
    const std::filesystem::path userKnownHosts_;
    mutable std::mutex mutex_;
    std::shared_ptr<TrustAsker> asker_;
};

}  // namespace files
