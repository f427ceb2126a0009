#include "platform/files/CurlSupport.h"
#include "platform/files/ConnectionsAtExit.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/files/RemotePath.h"
#include "platform/net/HttpHeaders.h"

namespace files {

void initializeNetworking() { detail::setUpLibraries(); }

void Operation::cancel() {
    cancelled_.store(true);
    std::lock_guard lock(mutex_);
    if (wake_) wake_();
}

}  // namespace files

namespace files::detail {

using Clock = std::chrono::steady_clock;

// ---- operations ----------------------------------------------------------------------------

bool OperationAccess::arm(Operation& op, std::function<void()> wake) {
    std::lock_guard lock(op.mutex_);
    if (op.cancelled_.load()) return false;
    op.wake_ = std::move(wake);
    return true;
}

void OperationAccess::disarm(Operation& op) {
    std::lock_guard lock(op.mutex_);
    op.wake_ = nullptr;
}

bool OperationAccess::finish(Operation& op) { return !op.finished_.exchange(true); }

// ---- transfer results ----------------------------------------------------------------------

namespace {

bool isReplyLine(std::string_view line) {
    return line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[0])) &&
           std::isdigit(static_cast<unsigned char>(line[1])) && std::isdigit(static_cast<unsigned char>(line[2])) &&
           line[3] == ' ';
}

}  // namespace

std::string TransferResult::lastReply() const {
    for (auto it = headers.rbegin(); it != headers.rend(); ++it) {
        if (isReplyLine(*it) || net::parseStatusLine(*it)) return *it;
    }
    return {};
}

std::vector<std::string> TransferResult::headerValues(std::string_view name) const {
    return net::fieldValues(headers, name);
}

// ---- sessions ------------------------------------------------------------------------------

Session::Session() { transfer_.setMaxHeaderLines(1000); }

void Session::reset(const Timeouts& timeouts) {
    timeouts_ = timeouts;
    upload_.reset();
    transfer_.reset();
    // No limit on the whole transfer (a big file takes its time); a stall of at least a second.
    transfer_.setTimeouts(net::Timeouts{timeouts.connect, std::chrono::milliseconds(0), timeouts.stallBytesPerSecond,
                                        std::max<std::chrono::milliseconds>(timeouts.stall, std::chrono::seconds(1))});
    curl_easy_setopt(easy(), CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy(), CURLOPT_TCP_KEEPALIVE, 1L);
}

void Session::setUpload(std::string_view data) {
    upload_ = data;
    transfer_.setUpload(data);
}

void Session::dropConnections() {
    multi_ = std::make_unique<net::Multi>();
    connectionSaid = 0;
    folder.clear();
}

void Session::rewindUpload() {
    if (upload_) transfer_.setUpload(*upload_);
}

void Session::prepareRetry() {
    rewindUpload();
    curl_easy_setopt(easy(), CURLOPT_FRESH_CONNECT, 1L);
}

TransferResult Session::perform(Operation& op) {
    TransferResult result;
    transfer_.clearReceived();
    CURL* const easy_ = transfer_.easy();

    if (!OperationAccess::arm(op, [multi = multi_.get()] { multi->wakeup(); })) {
        result.cancelled = true;
        result.code = CURLE_ABORTED_BY_CALLBACK;
        return result;
    }
    const auto start = Clock::now();
    std::optional<Clock::time_point> connectedAt;
    multi_->add(easy_);
    CURLcode code = CURLE_OK;
    bool done = false;
    for (;;) {
        if (op.isCancelled()) {
            result.cancelled = true;
            break;
        }
        int running = 0;
        if (!multi_->perform(running)) {
            code = CURLE_FAILED_INIT;
            break;
        }
        for (const auto& [easy, finished] : multi_->takeFinished()) {
            if (easy == easy_) {
                code = finished;
                done = true;
            }
        }
        if (done || running == 0) break;

        // The reply watchdog: counts from the last byte that moved, or from the moment the
        // connection stood (before that, the connect timeout rules).
        const auto now = Clock::now();
        if (!connectedAt) {
            curl_off_t micros = 0;
            if (curl_easy_getinfo(easy_, CURLINFO_CONNECT_TIME_T, &micros) == CURLE_OK && micros > 0)
                connectedAt = start + std::chrono::microseconds(micros);
        }
        Clock::time_point since = connectedAt ? *connectedAt : start + timeouts_.connect;
        if (transfer_.sawActivity() && transfer_.lastActivity() > since) since = transfer_.lastActivity();
        const auto deadline = since + timeouts_.reply;
        if (now >= deadline) {
            result.silent = true;
            break;
        }
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
        // Until the transfer itself begins, a short look: libcurl begins the TLS handshake of
        // an FTP data connection before it sends the command that makes the server take it,
        // and then waits on that connection alone, so the server's reply on the control
        // connection would be seen only when libcurl's own 200 ms timer runs out.
        curl_off_t pretransfer = 0;
        curl_easy_getinfo(easy_, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
        multi_->poll(std::chrono::milliseconds(std::clamp<long long>(wait, 1, pretransfer > 0 ? 250 : 10)));
    }
    multi_->remove(easy_);
    OperationAccess::disarm(op);
    if (op.isCancelled() && !done) result.cancelled = true;

    result.code = result.cancelled ? CURLE_ABORTED_BY_CALLBACK : result.silent ? CURLE_OPERATION_TIMEDOUT : code;
    result.responseCode = transfer_.responseCode();
    long connects = 0;
    curl_easy_getinfo(easy_, CURLINFO_NUM_CONNECTS, &connects);
    result.newConnections = connects;
    curl_off_t sent = 0;
    if (curl_easy_getinfo(easy_, CURLINFO_SIZE_UPLOAD_T, &sent) == CURLE_OK) result.uploaded = sent;
    result.headers = std::move(transfer_.headerLines());
    result.body = std::move(transfer_.body());
    result.curlMessage = transfer_.errorText(result.code);
    transfer_.headerLines() = {};
    transfer_.body() = {};
    return result;
}

// ---- worker pool ---------------------------------------------------------------------------

struct WorkerPool::State {
    std::mutex mutex;
    std::condition_variable wake;
    struct Item {
        OperationHandle op;
        Job job;
        Fit fit;
    };
    std::deque<Item> queue;
    std::vector<OperationHandle> running;
    std::vector<std::thread> threads;
    int active = 0;  // workers that have not retired or ended
    int kept = 0;      // the workers the pool was made with
    int ceiling = 16;  // the most workers the server took (lowered when one retires)
    int busy = 0;      // workers running a job
    int completing = 0;  // jobs done whose completions have not run yet (see Session::completeAfterJob)
    std::vector<std::thread::id> ended;  // added workers that ended, to be joined
    std::condition_variable idle;  // nothing queued and nothing running
    bool stopping = false;
    std::chrono::milliseconds idleEvery{0};
    IdleHook idleHook;
    std::vector<OperationHandle> keeping;  // the idle hooks' operations in progress
    std::vector<Session*> free;  // the sessions of the workers waiting for a job
    Session* spareFree = nullptr;  // the spare worker's session while it waits (see lend)
    std::condition_variable spareWake;  // its own: a job queued never wakes it
    bool spareRuns = false;        // there is a spare worker
    bool spareRefused = false;     // the server turned one away

    // The first queued job for the worker of `session`: one that no other free worker suits
    // better. While the pool stops, any.
    std::deque<Item>::iterator next(const Session& session) {
        if (stopping) return queue.begin();
        return std::find_if(queue.begin(), queue.end(), [&](const Item& item) {
            if (!item.fit) return true;
            const int mine = item.fit(session);
            return std::none_of(free.begin(), free.end(), [&](const Session* other) { return item.fit(*other) > mine; });
        });
    }

    // Waits for a job; an idle worker runs the idle hook each idleEvery meanwhile. False when
    // the pool stops.
    bool waitForJob(std::unique_lock<std::mutex>& lock, Session& session) {
        auto ready = [&] { return stopping || session.lent_ || next(session) != queue.end(); };
        while (idleHook && idleEvery.count() > 0) {
            if (waitIdle(lock, session, idleEvery, ready)) break;
            // Not among `running`: a change on its way is what an exit waits for, not this.
            auto op = std::make_shared<Operation>();
            keeping.push_back(op);
            const IdleHook hook = idleHook;
            lock.unlock();
            try {
                hook(session, *op);
            } catch (...) {
            }
            lock.lock();
            keeping.erase(std::find(keeping.begin(), keeping.end(), op));
        }
        waitIdle(lock, session, std::chrono::milliseconds::max(), ready);
        return session.lent_ || next(session) != queue.end();
    }

    // Waits as a free worker, whose session may be lent meanwhile (see lend).
    template <typename Ready>
    bool waitIdle(std::unique_lock<std::mutex>& lock, Session& session, std::chrono::milliseconds most, Ready ready) {
        free.push_back(&session);
        if (session.completion_) {
            const std::function<void()> completion = std::exchange(session.completion_, nullptr);
            lock.unlock();
            try {
                completion();
            } catch (...) {
            }
            lock.lock();
            if (--completing == 0 && running.empty() && queue.empty()) idle.notify_all();
        }
        const bool woken = most == std::chrono::milliseconds::max() ? (wake.wait(lock, ready), true)
                                                                    : wake.wait_for(lock, most, ready);
        if (auto at = std::find(free.begin(), free.end(), &session); at != free.end()) free.erase(at);
        // A job left for this worker, which takes another now or goes, may suit another.
        if (!queue.empty()) wake.notify_all();
        return woken;
    }

    // An added worker's wait: false once it had no job for `linger` (it then counts no more).
    // Where it would leave the pool with fewer workers than it keeps (one that lasts retired
    // meanwhile), it stays, as one that lasts.
    bool waitForJobAWhile(std::unique_lock<std::mutex>& lock, Session& session, std::chrono::milliseconds linger,
                          bool& lasting) {
        const bool woken =
            waitIdle(lock, session, linger, [&] { return stopping || session.lent_ || next(session) != queue.end(); });
        if (woken) return session.lent_ || next(session) != queue.end();
        if (active > std::min(kept, ceiling)) {
            --active;
            return false;
        }
        lasting = true;
        return waitForJob(lock, session);
    }

    // The spare worker's life: lent jobs, the first one `first`, until it had none for `linger`
    // or the pool stops.
    void runSpare(Job first, std::chrono::milliseconds linger) {
        {
            Session session;
            Job job = std::move(first);
            for (;;) {
                try {
                    job(session);
                } catch (...) {
                }
                std::unique_lock lock(mutex);
                --busy;
                spareFree = &session;
                const bool lent = spareWake.wait_for(lock, linger, [&] { return stopping || session.lent_; });
                spareFree = nullptr;
                if (!lent || !session.lent_) {
                    spareRuns = false;
                    --active;
                    break;
                }
                job = std::move(session.lent_);
                session.lent_ = nullptr;
            }
        }
        std::lock_guard lock(mutex);
        ended.push_back(std::this_thread::get_id());
    }

    // A worker's life; `linger` is zero for one that lasts as long as the pool.
    void run(std::chrono::milliseconds linger) {
        {
            Session session;
            work(session, linger);
        }
        if (linger.count() > 0) {  // its connection is closed: what joins it waits for nothing more
            std::lock_guard lock(mutex);
            ended.push_back(std::this_thread::get_id());
        }
    }

    void work(Session& session, std::chrono::milliseconds linger) {
        bool lasting = linger.count() == 0;
        for (;;) {
            Item item;
            {
                std::unique_lock lock(mutex);
                if (!(lasting ? waitForJob(lock, session) : waitForJobAWhile(lock, session, linger, lasting))) return;
                if (session.lent_) {  // counted busy by lend
                    const Job lent = std::move(session.lent_);
                    session.lent_ = nullptr;
                    lock.unlock();
                    try {
                        lent(session);
                    } catch (...) {
                    }
                    lock.lock();
                    --busy;
                    if (running.empty() && queue.empty() && completing == 0) idle.notify_all();
                    continue;
                }
                const auto at = next(session);
                item = std::move(*at);
                queue.erase(at);
                running.push_back(item.op);
                ++busy;
            }
            try {
                item.job(session);
            } catch (...) {
                // A job reports its own failures; nothing may take the worker down.
            }
            std::unique_lock lock(mutex);
            running.erase(std::find(running.begin(), running.end(), item.op));
            --busy;
            if (session.completion_) ++completing;
            if (session.retiring_) {
                // The job did not complete: it goes to a worker that stays. While the pool
                // stops, the workers may already be gone, so it runs here once more (its
                // operation is cancelled by then, so it completes at once).
                if (!stopping) {
                    queue.push_front(std::move(item));
                    lock.unlock();
                    wake.notify_all();
                    return;
                }
                session.retiring_ = false;
                running.push_back(item.op);
                lock.unlock();
                try {
                    item.job(session);
                } catch (...) {
                }
                lock.lock();
                running.erase(std::find(running.begin(), running.end(), item.op));
                if (session.completion_) ++completing;
            }
            if (running.empty() && queue.empty() && completing == 0) idle.notify_all();
        }
    }

    bool waitUntilIdle(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(mutex);
        return idle.wait_until(lock, deadline, [&] { return running.empty() && queue.empty() && completing == 0; });
    }
};

WorkerPool::WorkerPool(int workers) : state_(std::make_shared<State>()) {
    initializeNetworking();
    workers = std::clamp(workers, 1, 16);
    state_->active = state_->kept = workers;
    for (int i = 0; i < workers; ++i) state_->threads.emplace_back([s = state_] { s->run(std::chrono::milliseconds(0)); });
    // An upload or any other change still on its way to the server is let finish at exit.
    exitDrain_ = std::make_unique<dispatch::ExitDrain>(
        "file provider workers", [s = state_](dispatch::Clock::time_point deadline) { return s->waitUntilIdle(deadline); });
}

WorkerPool::~WorkerPool() { stop(); }

void WorkerPool::stop() {
    std::lock_guard stopping(stopMutex_);
    exitDrain_.reset();
    std::vector<OperationHandle> toCancel;
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        for (auto& item : state_->queue) toCancel.push_back(item.op);
        toCancel.insert(toCancel.end(), state_->running.begin(), state_->running.end());
        toCancel.insert(toCancel.end(), state_->keeping.begin(), state_->keeping.end());
        threads.swap(state_->threads);
    }
    for (auto& op : toCancel) op->cancel();
    state_->wake.notify_all();
    state_->spareWake.notify_all();
    for (auto& t : threads) {
        // A completion may drop the last reference to the provider on a worker thread: that
        // worker cannot join itself, so it is let go and ends on its own once its job returns.
        if (t.get_id() == std::this_thread::get_id()) t.detach();
        else t.join();
    }
}

bool WorkerPool::retire(Session& session) {
    std::lock_guard lock(state_->mutex);
    if (state_->active <= 1 || state_->stopping) return false;
    --state_->active;
    state_->ceiling = std::min(state_->ceiling, state_->active);
    session.retiring_ = true;
    return true;
}

WorkerPool::Lent WorkerPool::lend(const std::function<bool(const Session&)>& suits, OperationHandle op, Job job,
                                  std::chrono::milliseconds spare) {
    auto& st = *state_;
    // Runs the job under `op`, which stop() cancels meanwhile.
    Job tracked = [s = state_, op, job = std::move(job)](Session& session) {
        try {
            job(session);
        } catch (...) {
        }
        std::lock_guard lock(s->mutex);
        s->keeping.erase(std::find(s->keeping.begin(), s->keeping.end(), op));
    };
    Lent how = Lent::no;
    {
        std::lock_guard lock(st.mutex);
        if (st.stopping) return Lent::no;
        // The spare first where it suits: it leaves the others to the queue.
        Session* to = st.spareFree && !st.spareFree->lent_ && suits(*st.spareFree) ? st.spareFree : nullptr;
        if (!to) {
            auto at = std::find_if(st.free.begin(), st.free.end(), [&](Session* s) { return !s->lent_ && suits(*s); });
            if (at != st.free.end()) {
                to = *at;
                st.free.erase(at);
            }
        }
        if (to) {
            how = Lent::suited;
        } else if (spare.count() > 0 && st.spareFree && !st.spareFree->lent_) {
            to = st.spareFree;
            how = Lent::spare;
        } else if (spare.count() > 0 && !st.spareRuns && !st.spareRefused && st.active < st.ceiling) {
            st.keeping.push_back(op);
            st.spareRuns = true;
            ++st.active;
            ++st.busy;
            st.threads.emplace_back([s = state_, tracked = std::move(tracked), spare]() mutable {
                s->runSpare(std::move(tracked), spare);
            });
            return Lent::spare;
        }
        if (!to) return Lent::no;
        if (to == st.spareFree) st.spareFree = nullptr;
        to->lent_ = std::move(tracked);
        st.keeping.push_back(op);
        ++st.busy;
    }
    st.wake.notify_all();
    st.spareWake.notify_all();
    return how;
}

void WorkerPool::noSpare() {
    std::lock_guard lock(state_->mutex);
    state_->spareRefused = true;
}

void WorkerPool::setIdleHook(std::chrono::milliseconds every, IdleHook hook) {
    {
        std::lock_guard lock(state_->mutex);
        state_->idleEvery = every;
        state_->idleHook = std::move(hook);
    }
    state_->wake.notify_all();
}

void WorkerPool::grow(int upTo, std::chrono::milliseconds linger) {
    std::vector<std::thread> ended;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stopping) return;
        auto& threads = state_->threads;
        for (auto it = threads.begin(); it != threads.end();) {
            auto gone = std::find(state_->ended.begin(), state_->ended.end(), it->get_id());
            if (gone == state_->ended.end()) {
                ++it;
                continue;
            }
            state_->ended.erase(gone);
            ended.push_back(std::move(*it));
            it = threads.erase(it);
        }
        const int wanted = static_cast<int>(state_->queue.size()) - (state_->active - state_->busy);
        const int room = std::min(upTo, state_->ceiling) - state_->active;
        for (int i = 0; i < std::min(wanted, room); ++i) {
            threads.emplace_back([s = state_, linger] { s->run(linger); });
            ++state_->active;
        }
    }
    for (auto& t : ended) t.join();
}

int WorkerPool::workers() const {
    std::lock_guard lock(state_->mutex);
    return state_->active;
}

int WorkerPool::freeWorkers() const {
    std::lock_guard lock(state_->mutex);
    return static_cast<int>(state_->free.size()) + (state_->spareFree ? 1 : 0);
}

void WorkerPool::submit(OperationHandle op, Job job, Fit fit) {
    const bool anyWorker = !fit;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stopping) op->cancel();
        state_->queue.push_back({std::move(op), std::move(job), std::move(fit)});
    }
    // Which free worker a job with a fit goes to is for them all to tell.
    if (anyWorker) state_->wake.notify_one();
    else state_->wake.notify_all();
}

// ---- URLs and errors -----------------------------------------------------------------------

std::string BaseUrl::display() const {
    std::string p = path == "/" ? "/" : path::encodePath(path) + "/";
    return scheme + "://" + authority + p;
}

std::optional<BaseUrl> parseBaseUrl(const std::string& url, const std::vector<std::string>& schemes) {
    CURLU* u = curl_url();
    if (!u) return std::nullopt;
    std::optional<BaseUrl> out;
    if (curl_url_set(u, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
        auto get = [&](CURLUPart part, unsigned flags) -> std::optional<std::string> {
            char* value = nullptr;
            if (curl_url_get(u, part, &value, flags) != CURLUE_OK || !value) return std::nullopt;
            std::string s(value);
            curl_free(value);
            return s;
        };
        auto scheme = get(CURLUPART_SCHEME, 0);
        auto host = get(CURLUPART_HOST, 0);
        if (scheme && host && !host->empty()) {
            std::string sc = *scheme;
            std::transform(sc.begin(), sc.end(), sc.begin(), [](unsigned char c) { return std::tolower(c); });
            if (sc == "webdav") sc = "http";
            if (sc == "webdavs") sc = "https";
            if (std::find(schemes.begin(), schemes.end(), sc) != schemes.end()) {
                BaseUrl b;
                b.scheme = sc;
                b.authority = *host;
                if (auto port = get(CURLUPART_PORT, 0)) b.authority += ":" + *port;
                b.path = path::normalize(get(CURLUPART_PATH, CURLU_URLDECODE).value_or("/"));
                const std::string raw = get(CURLUPART_PATH, 0).value_or("/");
                b.fromServerRoot = raw.size() >= 4 && raw[0] == '/' && raw[1] == '%' && raw[2] == '2' &&
                                   (raw[3] == 'F' || raw[3] == 'f');
                b.user = get(CURLUPART_USER, CURLU_URLDECODE).value_or("");
                b.password = get(CURLUPART_PASSWORD, CURLU_URLDECODE).value_or("");
                out = std::move(b);
            }
        }
    }
    curl_url_cleanup(u);
    return out;
}

FileError transportError(const TransferResult& r) {
    FileError error;
    if (r.untrusted) {
        error = *r.untrusted;
    } else if (r.cancelled) {
        error = FileError::make(ErrorKind::cancelled);
    } else if (r.silent) {
        error = FileError::make(ErrorKind::timedOut);
    } else {
        switch (r.code) {
            case CURLE_COULDNT_RESOLVE_HOST:
            case CURLE_COULDNT_RESOLVE_PROXY:
            case CURLE_COULDNT_CONNECT:
                error = FileError::make(ErrorKind::cannotReachHost, r.curlMessage);
                break;
            case CURLE_OPERATION_TIMEDOUT:
                error = FileError::make(ErrorKind::timedOut);
                break;
            case CURLE_LOGIN_DENIED:
                error = FileError::make(ErrorKind::loginRejected);
                break;
            case CURLE_REMOTE_FILE_NOT_FOUND:
                error = FileError::make(ErrorKind::notFound);
                break;
            case CURLE_SSL_CONNECT_ERROR:
            case CURLE_PEER_FAILED_VERIFICATION:
            case CURLE_SSL_CERTPROBLEM:
            case CURLE_SSL_CIPHER:
            case CURLE_SSL_CACERT_BADFILE:
            case CURLE_SSL_ISSUER_ERROR:
            case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
            case CURLE_SSL_INVALIDCERTSTATUS:
            case CURLE_USE_SSL_FAILED:
            case CURLE_SSL_ENGINE_NOTFOUND:
            case CURLE_SSL_ENGINE_SETFAILED:
                error = FileError::make(ErrorKind::tlsFailure, r.curlMessage);
                break;
            case CURLE_ABORTED_BY_CALLBACK:
                error = FileError::make(ErrorKind::cancelled);
                break;
            case CURLE_GOT_NOTHING:
            case CURLE_SEND_ERROR:
            case CURLE_RECV_ERROR:
                error = FileError::make(ErrorKind::other, "the connection to the server broke off: " + r.curlMessage);
                break;
            default:
                error = FileError::make(ErrorKind::other, r.curlMessage);
                break;
        }
    }
    error.transportCode = static_cast<int>(r.code);
    return error;
}

}  // namespace files::detail
