#include "tellium/http/TLMHttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <condition_variable>
#include <limits>
#include <map>
#include <thread>

#include "platform/dispatch/Dispatch.h"
#include "platform/net/Curl.h"
#include "platform/net/HttpHeaders.h"
#include "tellium/TLMLogger.h"
#include "tellium/http/TLMHttpUtil.h"

std::optional<std::string> TLMHttpResponse::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (net::equalsIgnoringCase(key, name)) {
            return value;
        }
    }
    return std::nullopt;
}

namespace {
std::mutex dependencyMutex;
std::shared_ptr<TLMHttpClientProtocol> dependencyHttpClient;
}  // namespace

std::shared_ptr<TLMHttpClientProtocol> TLMDependencyConfiguration::httpClient() {
    std::lock_guard<std::mutex> lock(dependencyMutex);
    return dependencyHttpClient;
}

void TLMDependencyConfiguration::setHttpClient(std::shared_ptr<TLMHttpClientProtocol> client) {
    std::lock_guard<std::mutex> lock(dependencyMutex);
    dependencyHttpClient = std::move(client);
}

// One libcurl multi handle (of the HTTP layer) run by one worker thread. Requests handed to
// start() are added on the worker; each finished one is reported through its callback on the
// global queue.
class TLMHttpSession {
public:
    struct Result {
        std::optional<std::string> data;
        std::shared_ptr<TLMHttpResponse> response;
        std::optional<TLMError> error;
    };
    using Callback = std::function<void(Result)>;

    TLMHttpSession(std::optional<long> maxHttpConnectionsPerHost, TLMHttpTimeouts timeouts)
        : timeouts_(timeouts) {
        if (maxHttpConnectionsPerHost) {
            multi_.setMaxHostConnections(*maxHttpConnectionsPerHost);
        }
        worker_ = std::thread([this] { run(); });
    }

    ~TLMHttpSession() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        multi_.wakeup();
        worker_.join();
        for (auto& [easy, task] : active_) {
            multi_.remove(easy);
        }
        active_.clear();
        incoming_.clear();
    }

    // The request is made on the worker, which also compresses the call's body when it has to.
    void start(std::shared_ptr<TLMHttpCall> call, Callback callback) {
        auto task = std::make_unique<Task>();
        task->call = std::move(call);
        task->callback = std::move(callback);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            incoming_.push_back(std::move(task));
        }
        multi_.wakeup();
    }

private:
    struct Task {
        net::Transfer transfer;
        std::shared_ptr<TLMHttpCall> call;  // holds the body the transfer points at
        Callback callback;
    };

    void prepare(Task& task) {
        TLMHttpCall& call = *task.call;
        const auto& data = call.data();
        const TLMHttpHeaders headers = call.headers();
        std::vector<std::string> lines;
        for (const auto& [name, value] : headers) {
            lines.push_back(name + ": " + value);
        }
        lines.emplace_back("Expect:");
        if (headers.find("Content-Type") == headers.end()) {
            lines.emplace_back("Content-Type:");  // not curl's form type
        }
        net::Transfer& transfer = task.transfer;
        transfer.setUrl(call.url());
        transfer.setProtocols("http,https");
        transfer.setTimeouts(net::Timeouts{timeouts_.connect, timeouts_.whole});
        transfer.setTls(net::Tls());
        transfer.setHeaders(lines);
        if (data) {
            transfer.setPostBody(*data);
        } else if (call.method() == "POST" || call.method() == "PUT") {
            transfer.setPostBody(kNoBody);
        }
        if (call.method() != "GET" && call.method() != "POST") {
            transfer.setCustomMethod(call.method());
        }
    }

    static inline const std::string kNoBody;

    void run() {
        for (;;) {
            std::vector<std::unique_ptr<Task>> incoming;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (stop_) {
                    return;
                }
                incoming.swap(incoming_);
            }
            for (auto& task : incoming) {
                prepare(*task);
                CURL* easy = task->transfer.easy();
                multi_.add(easy);
                active_[easy] = std::move(task);
            }
            int running = 0;
            multi_.perform(running);
            for (const auto& [easy, code] : multi_.takeFinished()) {
                multi_.remove(easy);
                auto found = active_.find(easy);
                if (found == active_.end()) {
                    continue;
                }
                std::shared_ptr<Task> task(std::move(found->second));
                active_.erase(found);
                Result result;
                if (code == CURLE_OK) {
                    auto response = std::make_shared<TLMHttpResponse>();
                    response->url = task->call->url();
                    response->statusCode = task->transfer.responseCode();
                    // The fields of the final answer; of a repeated field the first one counts.
                    for (auto& field : net::lastResponseFields(task->transfer.headerLines())) {
                        response->headers.emplace(std::move(field.name), std::move(field.value));
                    }
                    result.response = std::move(response);
                    result.data = std::move(task->transfer.body());
                } else {
                    result.error = TLMError{kTLMCurlErrorDomain, static_cast<long>(code), task->transfer.errorText(code)};
                }
                dispatch::globalQueue().async([task, result = std::move(result)]() mutable {
                    task->callback(std::move(result));
                });
            }
            multi_.poll(std::chrono::milliseconds(1000));
        }
    }

    TLMHttpTimeouts timeouts_;
    net::Multi multi_;
    std::mutex mutex_;  // incoming_ and stop_
    std::vector<std::unique_ptr<Task>> incoming_;
    bool stop_ = false;
    std::map<CURL*, std::unique_ptr<Task>> active_;  // the worker's own
    std::thread worker_;
};

std::shared_ptr<TLMHttpClient> TLMHttpClient::init() { return initWithMaxHttpConnectionsPerHost(std::nullopt); }

std::shared_ptr<TLMHttpClient> TLMHttpClient::initWithMaxHttpConnectionsPerHost(std::optional<long> maxPerHost) {
    return initWithMaxHttpConnectionsPerHost(maxPerHost, TLM_Reachability::reachabilityForInternetConnection());
}

std::shared_ptr<TLMHttpClient> TLMHttpClient::initWithMaxHttpConnectionsPerHost(
    std::optional<long> maxPerHost, std::shared_ptr<TLM_Reachability> reachability, TLMHttpTimeouts timeouts) {
    std::shared_ptr<TLMHttpClient> client(new TLMHttpClient(maxPerHost, std::move(reachability), timeouts));
    client->start();
    return client;
}

TLMHttpClient::TLMHttpClient(std::optional<long> maxPerHost, std::shared_ptr<TLM_Reachability> reachability,
                             TLMHttpTimeouts timeouts)
    : maxHttpConnectionsPerHost_(maxPerHost),
      timeouts_(timeouts),
      session_(std::make_shared<TLMHttpSession>(maxPerHost, timeouts)),
      reachability_(std::move(reachability)) {}

void TLMHttpClient::start() {
    std::weak_ptr<TLMHttpClient> weak = weak_from_this();
    reachabilityObserver_ = reachability_->addObserver([weak](TLM_Reachability& reachability) {
        if (auto self = weak.lock()) {
            self->networkStateChanged(reachability);
        }
    });
    reachability_->startNotifier();
}

TLMHttpClient::~TLMHttpClient() {
    reachability_->stopNotifier();
    reachability_->removeObserver(reachabilityObserver_);
    if (resumeTimer_) {
        resumeTimer_->cancel();
    }
    for (const auto& call : pendingCalls_) {
        call->resetRetry();
    }
    session_.reset();  // stops the worker
}

void TLMHttpClient::sendAsync(const std::string& url, const std::string& method, const TLMHttpHeaders& headers,
                              std::optional<std::string> data, TLMHttpRequestCompletionHandler completionHandler) {
    sendAsync(url, method, headers, std::move(data), defaultRetryIntervals(), true, std::move(completionHandler));
}

namespace {
// The host part of a URL ("[::1]" for an IPv6 address); empty when the URL does not parse.
std::string hostOf(const std::string& url) {
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    char* host = nullptr;
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
        curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK || !host) {
        return {};
    }
    std::string out(host);
    curl_free(host);
    return out;
}
}  // namespace

void TLMHttpClient::sendAsync(const std::string& url, const std::string& method, const TLMHttpHeaders& headers,
                              std::optional<std::string> data, std::vector<double> retryIntervals,
                              bool compressionEnabled, TLMHttpRequestCompletionHandler completionHandler) {
    // The collector's own address decides whether it can be reached (a collector on this machine
    // needs no default route). Outside the lock: naming the host may ask a name server.
    if (const std::string host = hostOf(url); !host.empty()) reachability_->watchHost(host);
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!enabled_) {
        if (completionHandler) {
            completionHandler(std::nullopt, nullptr, TLMError{kTLMErrorDomain, kTLMDisabledErrorCode, kTLMDisabledErrorDesc});
        }
        return;
    }
    auto call = std::make_shared<TLMHttpCall>(url, method, headers, std::move(data), std::move(retryIntervals),
                                              compressionEnabled, std::move(completionHandler));
    sendCallAsync(call);
}

void TLMHttpClient::sendCallAsync(const std::shared_ptr<TLMHttpCall>& call) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    pendingCalls_.insert(call);
    if (paused_ || !session_) {
        return;
    }
    if (auto delegate = delegate_.lock()) {
        delegate->willSendHTTPRequestToURL(call->url(), call->headers());
    }
    call->setInProgress(true);
    std::weak_ptr<TLMHttpClient> weak = weak_from_this();
    session_->start(call, [weak, call](TLMHttpSession::Result result) {
                        if (auto self = weak.lock()) {
                            self->requestCompleted(call, std::move(result.data), std::move(result.response),
                                                   std::move(result.error));
                        }
                    });
}

namespace {
// The server's "x-tlm-retry-after-ms": a number of milliseconds; anything else (also a negative
// number) counts as absent.
std::optional<uint32_t> parseRetryAfter(const std::optional<std::string>& text) {
    if (!text) {
        return std::nullopt;
    }
    std::string trimmed = *text;
    trimmed.erase(0, trimmed.find_first_not_of(" \t"));
    trimmed.erase(trimmed.find_last_not_of(" \t") + 1);
    double value = 0;
    auto [end, ec] = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
    if (trimmed.empty() || ec != std::errc() || end != trimmed.data() + trimmed.size() || !(value >= 0)) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(std::min(value, static_cast<double>(std::numeric_limits<uint32_t>::max())));
}
}  // namespace

void TLMHttpClient::requestCompleted(const std::shared_ptr<TLMHttpCall>& call, std::optional<std::string> data,
                                     std::shared_ptr<TLMHttpResponse> response, std::optional<TLMError> error) {
    std::unique_lock<std::recursive_mutex> lock(mutex_);
    call->setInProgress(false);
    if (pendingCalls_.find(call) == pendingCalls_.end()) {
        TLMLogDebug(kTLMLogTag, "HTTP call was canceled; do not process further.");
        return;
    }
    if (error) {
        // A failure while the network is down waits for the network; any other one is the caller's.
        if (error->domain == kTLMCurlErrorDomain && reachability_->currentReachabilityStatus() == TLMNotReachable) {
            error = TLMError{kTLMURLErrorDomain, kTLMURLErrorNotConnectedToInternet,
                             "The Internet connection appears to be offline."};
        }
        const bool noInternet = TLMHttpUtil::isNoInternetConnectionError(*error);
        if (noInternet || TLMHttpUtil::isSSLConnectionError(*error)) {
            call->resetRetry();
            TLMLogInfo(kTLMLogTag, std::string("HTTP call failed with error: ") +
                                       (noInternet ? "Internet connection is down." : "Could not establish secure connection."));
            return;
        }
        TLMLogError(kTLMLogTag, "HTTP request error with code: " + std::to_string(error->code) + ", domain: " +
                                    error->domain + ", description: " + error->localizedDescription);
        pendingCalls_.erase(call);
        lock.unlock();
        if (call->completionHandler()) {
            call->completionHandler()(std::move(data), nullptr, std::move(error));
        }
        return;
    }
    if (!response) {
        return;
    }
    const long statusCode = response->statusCode;
    if (TLMHttpUtil::isRecoverableError(statusCode)) {
        if (call->hasReachedMaxRetries()) {
            pause();
            pendingCalls_.erase(call);
            // Nothing on a desktop may ever report a change of network: try again once the longest
            // interval has passed once more.
            double longest = 0;
            for (double interval : call->retryIntervals()) {
                longest = std::max(longest, interval);
            }
            if (resumeTimer_) {
                resumeTimer_->cancel();
            }
            std::weak_ptr<TLMHttpClient> weak = weak_from_this();
            resumeTimer_ = TLMClock::current()->schedule(
                dispatch::globalQueue(), std::chrono::milliseconds(static_cast<int64_t>(longest * 1000)), [weak] {
                    if (auto self = weak.lock()) {
                        self->resumeAfterRetriesRanOut();
                    }
                });
            lock.unlock();
            if (call->completionHandler()) {
                call->completionHandler()(std::move(data), std::move(response), std::nullopt);
            }
            return;
        }
        const auto retryAfter = parseRetryAfter(response->header("x-tlm-retry-after-ms"));
        std::weak_ptr<TLMHttpClient> weak = weak_from_this();
        call->startRetryTimerWithStatusCode(statusCode, retryAfter, [weak, call] {
            if (auto self = weak.lock()) {
                self->retryTimerFired(call);
            }
        });
        return;
    }
    if (!TLMHttpUtil::isSuccessStatusCode(statusCode)) {
        pendingCalls_.erase(call);
        if (call->completionHandler()) {
            call->completionHandler()(std::move(data), std::move(response), std::nullopt);
        }
        setEnabled(false, true);
        return;
    }
    pendingCalls_.erase(call);
    lock.unlock();
    if (call->completionHandler()) {
        call->completionHandler()(std::move(data), std::move(response), std::nullopt);
    }
}

void TLMHttpClient::retryTimerFired(const std::shared_ptr<TLMHttpCall>& call) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    // A call completed or cancelled meanwhile is not brought back.
    if (pendingCalls_.find(call) == pendingCalls_.end() || call->inProgress()) {
        return;
    }
    sendCallAsync(call);
}

void TLMHttpClient::resumeAfterRetriesRanOut() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    resumeTimer_.reset();
    if (reachability_->currentReachabilityStatus() != TLMNotReachable) {
        resume();
    }
}

void TLMHttpClient::pause() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (paused_) {
        return;
    }
    TLMLogInfo(kTLMLogTag, "Pause HTTP client.");
    paused_ = true;
    for (const auto& call : pendingCalls_) {
        call->resetRetry();
    }
}

void TLMHttpClient::resume() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!paused_ || !enabled_) {
        return;
    }
    TLMLogInfo(kTLMLogTag, "Resume HTTP client.");
    paused_ = false;
    if (resumeTimer_) {
        resumeTimer_->cancel();
        resumeTimer_.reset();
    }
    const std::vector<std::shared_ptr<TLMHttpCall>> calls(pendingCalls_.begin(), pendingCalls_.end());
    for (const auto& call : calls) {
        if (!call->inProgress()) {
            sendCallAsync(call);
        }
    }
}

void TLMHttpClient::setEnabled(bool isEnabled) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    enabled_ = isEnabled;
}

void TLMHttpClient::setEnabled(bool isEnabled, bool deleteDataOnDisabled) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (enabled_ == isEnabled) {
        return;
    }
    enabled_ = isEnabled;
    if (isEnabled) {
        if (!session_) {
            session_ = std::make_shared<TLMHttpSession>(maxHttpConnectionsPerHost_, timeouts_);
        }
        reachability_->startNotifier();
        resume();
        return;
    }
    reachability_->stopNotifier();
    pause();
    if (resumeTimer_) {
        resumeTimer_->cancel();
        resumeTimer_.reset();
    }
    if (!deleteDataOnDisabled) {
        return;
    }
    session_.reset();  // stops the requests under way
    const std::vector<std::shared_ptr<TLMHttpCall>> calls(pendingCalls_.begin(), pendingCalls_.end());
    for (const auto& call : calls) {
        if (call->completionHandler()) {
            call->completionHandler()(std::nullopt, nullptr,
                                      TLMError{kTLMErrorDomain, kTLMCanceledErrorCode, kTLMCanceledErrorDesc});
        }
    }
    pendingCalls_.clear();
}

std::shared_ptr<TLMHttpClientDelegate> TLMHttpClient::delegate() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return delegate_.lock();
}

void TLMHttpClient::setDelegate(std::weak_ptr<TLMHttpClientDelegate> delegate) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    delegate_ = std::move(delegate);
}

void TLMHttpClient::networkStateChanged(TLM_Reachability& reachability) {
    if (reachability.currentReachabilityStatus() != TLMNotReachable) {
        TLMLogInfo(kTLMLogTag, "Internet connection is up.");
        resume();
    } else {
        TLMLogInfo(kTLMLogTag, "Internet connection is down.");
        pause();
    }
}

bool TLMHttpClient::isPaused() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return paused_;
}

bool TLMHttpClient::isEnabled() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return enabled_;
}

std::size_t TLMHttpClient::pendingCallCount() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return pendingCalls_.size();
}
