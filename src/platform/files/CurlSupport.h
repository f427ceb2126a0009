#pragma once
// Internals shared by the FTP and WebDAV providers: worker threads that each own one libcurl
// handle (so connections and logins stay between operations), the transfer loop with cancel
// and reply-timeout handling, base URL parsing and the mapping of libcurl codes to errors.
// The handles, their callbacks and header reading come from the HTTP layer (platform/net).

#include <curl/curl.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/ExitDrain.h"
#include "platform/files/FileProvider.h"
#include "platform/net/Curl.h"

namespace files::detail {

struct OperationAccess {
    // Installs the waker of the transfer about to run; false when the operation is cancelled.
    static bool arm(Operation& op, std::function<void()> wake);
    static void disarm(Operation& op);
    // Marks the operation finished; false when it already was (the completion must not run).
    static bool finish(Operation& op);
};

struct TransferResult {
    CURLcode code = CURLE_OK;
    bool cancelled = false;  // stopped by Operation::cancel
    bool silent = false;     // stopped because the server said nothing for the reply timeout
    long responseCode = 0;   // HTTP status or last FTP reply code
    long newConnections = 0;  // connections this transfer had to open (0 when it reused one)
    long long uploaded = 0;   // bytes of the upload body handed to the connection
    std::vector<std::string> headers;  // header lines / FTP reply lines, without CRLF
    std::string body;
    std::string curlMessage;
    // The server's certificate was not trusted (the user said no, or nobody could be asked):
    // the connection was closed in the handshake, before anything of the request was sent.
    std::optional<FileError> untrusted;

    bool ok() const { return code == CURLE_OK && !cancelled && !silent; }
    // The last FTP reply line ("550 Failed to open file."), or the HTTP status line.
    std::string lastReply() const;
    // The values of the headers with this name (case-insensitive), in order.
    std::vector<std::string> headerValues(std::string_view name) const;
};

class Session {
public:
    Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    CURL* easy() const { return transfer_.easy(); }
    // Clears the previous transfer's options (keeping connections) and sets the common ones.
    void reset(const Timeouts& timeouts);
    // Sends these bytes as the upload body (FTP STOR); they must outlive perform().
    void setUpload(std::string_view data);
    // Ends the transfer once its body grows past `max` bytes (bodyCut() then tells it).
    void limitBody(std::size_t max) { transfer_.setMaxBody(max); }
    bool bodyCut() const { return transfer_.bodyCut(); }
    // Where the reply lines tell the body's size before it comes (see net::Transfer::setSizeInHeaders).
    void sizeInHeaders(net::Transfer::SizeInHeaders read) { transfer_.setSizeInHeaders(std::move(read)); }
    // Runs the transfer set up on easy() until it ends, is cancelled or the server falls silent.
    TransferResult perform(Operation& op);
    // Sets the transfer that just failed up to run once more on a new connection (its upload
    // body from its first byte).
    void prepareRetry();
    // The upload set up with setUpload starts again from its first byte (same connection rules).
    void rewindUpload();
    // Set by WorkerPool::retire: the job in progress goes back to the queue and this session's
    // worker stops.
    bool retiring() const { return retiring_; }
    // Whether the connection this session's last transfer used is encrypted: 1 or 0, -1 before
    // any (kept by the provider's transfer, which knows the handshakes).
    int encrypted = -1;
    // Closes the connections kept for later transfers: the next transfer opens a new one, set
    // up as its options say (libcurl reuses an FTP connection whatever TLS versions it allowed).
    void dropConnections();
    // What the provider last set this session's connections up with (FTP: the TLS versions it
    // allows); the provider drops them when that changes.
    int connectionSetup = 0;
    // The provider's once-per-connection commands (bits of its own) that went over the
    // connection in use; cleared with the connections.
    unsigned connectionSaid = 0;
    // The folder URL the connection's last listing went into, where it still is as far as the
    // provider can tell (FTP); cleared with the connections.
    std::string folder;

    // The completion of the operation the job running on this session carries out: the worker
    // runs it once it counts as free again (see WorkerPool), so that an operation the completion
    // starts at once may go to this worker, whose connection is the one that suits it best.
    void completeAfterJob(std::function<void()> completion) { completion_ = std::move(completion); }

    // Calls `f` once, on this session's thread, when the upload set up with setUpload has
    // handed libcurl its last byte (its reply still to come). Until the next reset().
    void whenUploadEnds(std::function<void()> f) { transfer_.setUploadEnd(std::move(f)); }

private:
    friend class WorkerPool;
    bool retiring_ = false;
    std::function<void(Session&)> lent_;  // a job lent to this idle session's worker (WorkerPool::lend)
    std::function<void()> completion_;    // see completeAfterJob
    net::Transfer transfer_;
    std::unique_ptr<net::Multi> multi_ = std::make_unique<net::Multi>();
    std::optional<std::string_view> upload_;
    Timeouts timeouts_;
};

// A set of worker threads, each with its own Session. Jobs run in submission order as workers
// free up; a worker may retire (a server that takes fewer connections than there are workers).
// For a burst of work the pool may grow for a while (grow). Destroying the pool cancels queued
// and running operations, lets every job run (so each completes, with "cancelled"), and joins
// the workers.
class WorkerPool {
public:
    using Job = std::function<void(Session&)>;
    // How well a worker's session suits a job, higher being better (a connection that is open
    // already, in the state the job needs); read under the pool's lock, so it must only look.
    using Fit = std::function<int(const Session&)>;
    explicit WorkerPool(int workers);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // A job with a `fit` goes to one of the free workers it suits best (to any when none is
    // free); one without, to any free worker.
    void submit(OperationHandle op, Job job, Fit fit = {});
    // What destruction does, from any thread and more than once: cancels queued and running
    // operations, lets every job run (so each completes, with "cancelled"), and joins the
    // workers, whose sessions (and connections) end with them.
    void stop();
    // From a job running on `session`: when other workers remain, this one stops after the job,
    // which must then return without completing; the pool puts it back at the head of the queue
    // for the others. False (and nothing changes) for the last worker.
    bool retire(Session& session);
    // Runs `job` at once on a free worker whose session `suits` (asked under the pool's lock:
    // it must only read the session's own fields), beside the jobs that are running: for a job
    // that wants a second connection for a moment, in the state another job left it in. Where
    // none suits, with a `spare` time, it goes to the pool's spare worker: one more, that runs
    // lent jobs only (never a queued one), made for it when there is none (and the server's
    // limit leaves room), and ending once it had no job for that time. `no` (and the job never
    // runs) when neither. A job lent is always run, also while the pool stops, under `op`,
    // which the stop cancels; it must not retire its worker.
    enum class Lent { no, suited, spare };
    Lent lend(const std::function<bool(const Session&)>& suits, OperationHandle op, Job job,
              std::chrono::milliseconds spare = std::chrono::milliseconds(0));
    // The server turned the spare worker's connection away: the pool makes none again.
    void noSpare();
    // A worker that had no job for `every` runs `hook` on its session (then waits as long
    // again), under an operation the pool's stop cancels. Set before the first job.
    using IdleHook = std::function<void(Session&, Operation&)>;
    void setIdleHook(std::chrono::milliseconds every, IdleHook hook);
    // Adds workers, up to `upTo` in all, while more jobs wait than workers are free: for many
    // files asked for at once, where each costs round trips on its own connection. An added
    // worker ends once it had no job for `linger` (its connection closes with it), and runs no
    // idle hook. Once a worker retired, the pool never grows past the workers that remained:
    // the server takes no more connections than that.
    void grow(int upTo, std::chrono::milliseconds linger);
    // The workers that have not retired or ended, and of them those waiting for a job, the
    // spare included (for tests).
    int workers() const;
    int freeWorkers() const;

private:
    struct State;
    std::shared_ptr<State> state_;
    std::mutex stopMutex_;
    std::unique_ptr<dispatch::ExitDrain> exitDrain_;
};

struct BaseUrl {
    std::string scheme;     // "ftp", "ftps", "http", "https"
    std::string authority;  // "host", "host:port", "[::1]:8080"
    std::string path;       // decoded, normalized ("/" or "/dav")
    std::string user, password;  // as written in the URL, if at all
    bool fromServerRoot = false;  // FTP: the path was written "/%2F...", from the server root

    // scheme://authority/ + the base path, without user or password.
    std::string display() const;
};
// Parses a URL; webdav/webdavs become http/https. Nothing when the scheme is not allowed or
// there is no host.
std::optional<BaseUrl> parseBaseUrl(const std::string& url, const std::vector<std::string>& schemes);

// The error for a transfer that failed at the libcurl level (no HTTP or FTP specific reading).
FileError transportError(const TransferResult& result);

}  // namespace files::detail
