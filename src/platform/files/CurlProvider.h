#pragma once
// The part the providers share (FTP and WebDAV over libcurl; SFTP takes the pool and the
// operation wrapper only): base URL and credential, timeouts, the worker pool, the wrapper
// that turns a job body into an operation that completes exactly once, and the transfer that
// checks the server's certificate (and asks the user about one the system
// does not vouch for) before anything of the request goes out.

#include <atomic>
#include <exception>
#include <mutex>
#include <tuple>
#include <utility>
#include <variant>

#include "platform/files/CertificateCheck.h"
#include "platform/files/ConnectionsAtExit.h"
#include "platform/files/CurlSupport.h"
#include "platform/files/RemotePath.h"

namespace files::detail {

template <typename T>
struct Outcome {
    T value{};
    std::optional<FileError> error;

    Outcome() = default;
    Outcome(T v) : value(std::move(v)) {}
    Outcome(FileError e) : error(std::move(e)) {}
};
using Done = Outcome<std::monostate>;

// A curl string list that frees itself.
class StringList {
public:
    StringList() = default;
    StringList(std::initializer_list<std::string> items) {
        for (const auto& item : items) append(item);
    }
    ~StringList() { curl_slist_free_all(list_); }
    StringList(const StringList&) = delete;
    StringList& operator=(const StringList&) = delete;
    StringList(StringList&& other) noexcept : list_(std::exchange(other.list_, nullptr)) {}
    StringList& operator=(StringList&& other) noexcept {
        std::swap(list_, other.list_);
        return *this;
    }
    void append(const std::string& item) { list_ = curl_slist_append(list_, item.c_str()); }
    curl_slist* get() const { return list_; }

private:
    curl_slist* list_ = nullptr;
};

class CurlProvider : public FileProvider, public ConnectionOwner {
public:
    CurlProvider(BaseUrl base, Credential credential, const ProviderOptions& options)
        : base_(std::move(base)), credential_(std::move(credential)), trust_(options.trust), timeouts_(options.timeouts) {
        setUpLibraries();
        std::tie(tlsHost_, tlsPort_) = hostAndPort(base_.authority, base_.scheme);
        pool_ = std::make_unique<WorkerPool>(options.workers);
    }
    ~CurlProvider() override { endConnections(); }

    // A provider as its factory returns it: its connections are closed at the latest when the
    // process ends, before the libraries' own clean-up (see ConnectionsAtExit.h).
    template <typename P>
    static std::shared_ptr<FileProvider> closedAtExit(std::shared_ptr<P> provider) {
        provider->exitClosing_ = std::make_unique<ExitClosing>(std::weak_ptr<ConnectionOwner>(provider));
        return provider;
    }

    // Stops the workers, whose sessions hold the connections. A provider with more connections
    // of its own closes those too.
    void closeConnections() override { stopWorkers(); }

    std::string baseUrl() const override { return base_.display(); }

    void setTimeouts(const Timeouts& timeouts) override {
        std::lock_guard lock(mutex_);
        timeouts_ = timeouts;
    }
    Timeouts timeouts() const override {
        std::lock_guard lock(mutex_);
        return timeouts_;
    }

    std::optional<bool> connectionEncrypted() const override {
        const int state = encrypted_.load();
        if (state < 0) return std::nullopt;
        return state == 1;
    }

protected:
    // Runs `body` on a worker (one it suits best, with a `fit`: see WorkerPool::submit); the
    // completion gets its outcome exactly once, once the worker is free again (see
    // Session::completeAfterJob).
    template <typename T, typename Deliver>
    OperationHandle start(std::function<Outcome<T>(Session&, Operation&)> body, Deliver deliver,
                          WorkerPool::Fit fit = {}) {
        auto op = std::make_shared<Operation>();
        pool_->submit(op, [op, body = std::move(body), deliver = std::move(deliver)](Session& session) mutable {
            Outcome<T> out;
            if (op->isCancelled()) {
                out = Outcome<T>(FileError::make(ErrorKind::cancelled));
            } else {
                try {
                    out = body(session, *op);
                } catch (const std::exception& e) {
                    out = Outcome<T>(FileError::make(ErrorKind::other, e.what()));
                } catch (...) {
                    out = Outcome<T>(FileError::make(ErrorKind::other));
                }
            }
            if (session.retiring()) return;  // handed over: another worker runs it again
            if (!OperationAccess::finish(*op)) return;
            session.completeAfterJob([deliver, out = std::move(out)]() mutable {
                try {
                    deliver(std::move(out));
                } catch (...) {
                    // A completion's own failure stays with it.
                }
            });
        }, std::move(fit));
        return op;
    }

    // start() for a completion that takes the value and the error.
    template <typename T, typename ValueCompletion>
    OperationHandle startValue(std::function<Outcome<T>(Session&, Operation&)> body, ValueCompletion completion,
                               WorkerPool::Fit fit = {}) {
        return start<T>(
            std::move(body),
            [completion = std::move(completion)](Outcome<T> out) {
                if (completion) completion(std::move(out.value), std::move(out.error));
            },
            std::move(fit));
    }

    OperationHandle startDone(std::function<Done(Session&, Operation&)> body, Completion completion,
                              WorkerPool::Fit fit = {}) {
        return start<std::monostate>(
            std::move(body),
            [completion = std::move(completion)](Done out) {
                if (completion) completion(std::move(out.error));
            },
            std::move(fit));
    }

    // The server-side path of a provider path.
    std::string serverPath(const std::string& providerPath) const {
        return path::join(base_.path, path::toServer(providerPath));
    }

    void setCredentials(CURL* easy) const {
        const std::string& user = credential_.user.empty() ? base_.user : credential_.user;
        const std::string& password = credential_.user.empty() ? base_.password : credential_.password;
        if (!user.empty()) {
            curl_easy_setopt(easy, CURLOPT_USERNAME, user.c_str());
            curl_easy_setopt(easy, CURLOPT_PASSWORD, password.c_str());
        }
    }
    // Runs the transfer set up on the session's handle with the certificate check armed. A
    // certificate that is not trusted stops it in the handshake; the user is then asked (from
    // this worker, which waits) and, when they trust it, the transfer runs once more. Only one
    // question at a time per provider: a worker that waited finds the answer in the trust store,
    // or the certificate among the one the user refused.
    TransferResult performChecked(Session& s, Operation& op) const {
        for (int round = 0;; ++round) {
            CertificateCheck check;
            check.host = tlsHost_;
            check.port = tlsPort_;
            check.trust = trust_;
            check.sessionStaysResumable = tlsSessionStaysResumable_;
            armCertificateCheck(s.easy(), check);
            TransferResult r = s.perform(op);
            // The state of the connection in use, never an earlier one's: a new connection
            // without a handshake (a server that no longer offers TLS, or one in the middle
            // that hides it) is not encrypted, whatever the connection before was.
            if (check.handshakes > 0) s.encrypted = 1;
            else if (r.newConnections > 0) s.encrypted = 0;
            if (s.encrypted >= 0) encrypted_.store(s.encrypted);
            if (r.ok() || r.cancelled || !check.refused) return r;
            const TrustQuestion question = certificateQuestion(check);
            bool trusted = false;
            bool told = false;  // the user turned this certificate down
            if (trust_ && round == 0) {
                std::lock_guard lock(askMutex_);
                const std::string fingerprint = check.refused->fingerprint();
                trusted = trust_->checkCertificate(tlsHost_, tlsPort_, *check.refused) == TrustVerdict::trusted;
                // Operations that met the certificate while the user was asked share the answer:
                // one that the user turned down is not asked about again by this provider.
                if (!trusted && fingerprint != refusedFingerprint_) {
                    trusted = trust_->decide(question, &op, &told);
                    if (!trusted && !op.isCancelled()) {
                        refusedFingerprint_ = fingerprint;
                        refusedByUser_ = told;
                    }
                } else if (!trusted) {
                    told = refusedByUser_;
                }
            }
            if (op.isCancelled()) {
                r.cancelled = true;
                r.code = CURLE_ABORTED_BY_CALLBACK;
                return r;
            }
            if (!trusted) {
                r.untrusted = FileError::make(ErrorKind::notTrusted, check.refused->reason);
                r.untrusted->transportCode = static_cast<int>(r.code);
                r.untrusted->userTold = told;
                return r;
            }
        }
    }

    bool hasCredentials() const { return !credential_.user.empty() || !base_.user.empty(); }
    // The port the provider's URL reaches the server on (the scheme's own when it names none).
    int serverPort() const { return tlsPort_; }
    // From a job body: when other workers remain, this worker stops and the operation runs
    // again on one of them (what the body returns then is dropped). False for the last worker.
    bool retireWorker(Session& session) { return pool_->retire(session); }
    // Runs `job` at once on a free worker whose session `suits`, else (with `spare`) on the
    // spare worker, which ends after the keep-alive time without work; none with a keep-alive
    // time of 0 (see WorkerPool::lend).
    WorkerPool::Lent lendWorker(const std::function<bool(const Session&)>& suits, OperationHandle op,
                                WorkerPool::Job job, bool spare = true) {
        return pool_->lend(suits, std::move(op), std::move(job), spare ? timeouts_.keepAlive : std::chrono::milliseconds(0));
    }
    // The server turned the spare worker away: none is made again.
    void noSpareWorker() { pool_->noSpare(); }
    // More workers for the jobs queued now, up to `upTo` in all; those added close their
    // connections after a minute without work (see WorkerPool::grow).
    void growWorkers(int upTo) { pool_->grow(upTo, std::chrono::minutes(1)); }
    // Each worker that sat idle for the keep-alive time runs `hook` on its session.
    void keepIdleConnections(WorkerPool::IdleHook hook) { pool_->setIdleHook(timeouts_.keepAlive, std::move(hook)); }
    // Cancels and waits for the workers (once; later calls find them stopped).
    void stopWorkers() { pool_->stop(); }
    // Closes the connections unless the process's exit did (waiting while it does): a derived
    // provider calls it first in its destructor, so no job still runs while the derived part
    // goes away.
    void endConnections() {
        if (exitClosing_) exitClosing_->closeOnce(*this);
        else closeConnections();
    }

    const BaseUrl base_;
    // Set by a provider whose connections must all resume one TLS session (FTP's data
    // connections that of their control connection): see CertificateCheck.
    bool tlsSessionStaysResumable_ = false;

private:
    const Credential credential_;
    const std::shared_ptr<Trust> trust_;
    std::string tlsHost_;
    int tlsPort_ = 0;
    mutable std::mutex askMutex_;
    mutable std::string refusedFingerprint_;  // the certificate the user would not trust (askMutex_)
    mutable bool refusedByUser_ = false;      // and whether the user said so, not a lack of anyone to ask
    mutable std::atomic<int> encrypted_{-1};  // -1: no connection made yet
    mutable std::mutex mutex_;
    Timeouts timeouts_;
    std::unique_ptr<WorkerPool> pool_;  // stopped first on destruction, before anything it uses
    std::unique_ptr<ExitClosing> exitClosing_;
};

// Common checks of a path argument: invalidPath when it is refused.
inline std::optional<FileError> checkPaths(std::initializer_list<std::string_view> paths) {
    for (std::string_view p : paths) {
        if (auto error = path::check(p)) return error;
    }
    return std::nullopt;
}

// The checks of a copy or move: both paths, neither the root, and no folder into itself.
inline std::optional<FileError> checkTransferPaths(const std::string& from, const std::string& to) {
    if (auto e = checkPaths({from, to})) return e;
    if (path::normalize(from) == "/" || path::normalize(to) == "/")
        return FileError::make(ErrorKind::invalidPath, "the root folder cannot be moved or copied");
    if (path::isSameOrInside(to, from) && path::normalize(to) != path::normalize(from))
        return FileError::make(ErrorKind::invalidPath, "a folder cannot go inside itself");
    return std::nullopt;
}

std::shared_ptr<FileProvider> makeFtp(BaseUrl base, const Credential& credential, const ProviderOptions& options);
std::shared_ptr<FileProvider> makeWebDav(BaseUrl base, const Credential& credential, const ProviderOptions& options);

}  // namespace files::detail
