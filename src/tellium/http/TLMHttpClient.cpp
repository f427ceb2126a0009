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
#include "tellium/TLMLogger.h"
#include "tellium/http/TLMHttpUtil.h"

std::optional<std::string> TLMHttpResponse::header(const std::string& name) const {
    auto lower = [](std::string text) {
        std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
        return text;
    };
    const std::string wanted = lower(name);
    for (const auto& [key, value] : headers) {
        if (lower(key) == wanted) {
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

// One libcurl multi handle run by one worker thread. Requests handed to start() are added on the
// worker; each finished one is reported through its callback on the global queue.
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
        static std::once_flag curlReady;
        std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
        multi_ = curl_multi_init();
        if (maxHttpConnectionsPerHost) {
            curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, *maxHttpConnectionsPerHost);
        }
        worker_ = std::thread([this] { run(); });
    }

    ~TLMHttpSession() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        curl_multi_wakeup(multi_);
        worker_.join();
        for (auto& [easy, task] : active_) {
            curl_multi_remove_handle(multi_, easy);
        }
        active_.clear();
        incoming_.clear();
        curl_multi_cleanup(multi_);
    }

    void start(const std::string& url, const std::string& method, const TLMHttpHeaders& headers,
               const std::optional<std::string>& data, Callback callback) {
        auto task = std::make_unique<Task>();
        task->url = url;
        task->callback = std::move(callback);
        task->body = data.value_or(std::string());
        CURL* easy = curl_easy_init();
        task->easy = easy;
        for (const auto& [name, value] : headers) {
            task->headers = curl_slist_append(task->headers, (name + ": " + value).c_str());
        }
        task->headers = curl_slist_append(task->headers, "Expect:");
        if (headers.find("Content-Type") == headers.end()) {
            task->headers = curl_slist_append(task->headers, "Content-Type:");  // not curl's form type
        }
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts_.connect.count()));
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(timeouts_.whole.count()));
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, task->headers);
        if (data || method == "POST" || method == "PUT") {
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(task->body.size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, task->body.data());
        }
        if (method != "GET" && method != "POST") {
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
        }
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Task::onBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, task.get());
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Task::onHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, task.get());
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, task->errorBuffer);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            incoming_.push_back(std::move(task));
        }
        curl_multi_wakeup(multi_);
    }

private:
    struct Task {
        ~Task() {
            curl_easy_cleanup(easy);
            curl_slist_free_all(headers);
        }
        static size_t onBody(char* bytes, size_t size, size_t count, void* self) {
            static_cast<Task*>(self)->received.append(bytes, size * count);
            return size * count;
        }
        static size_t onHeader(char* bytes, size_t size, size_t count, void* self) {
            auto* task = static_cast<Task*>(self);
            std::string line(bytes, size * count);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
                line.pop_back();
            }
            if (line.rfind("HTTP/", 0) == 0) {
                task->responseHeaders.clear();  // a new answer (after a 100, or a redirect)
            } else if (auto colon = line.find(':'); colon != std::string::npos) {
                std::string value = line.substr(colon + 1);
                value.erase(0, value.find_first_not_of(" \t"));
                task->responseHeaders.emplace(line.substr(0, colon), value);
            }
            return size * count;
        }

        CURL* easy = nullptr;
        curl_slist* headers = nullptr;
        std::string url;
        std::string body;
        std::string received;
        TLMHttpHeaders responseHeaders;
        char errorBuffer[CURL_ERROR_SIZE] = {};
        Callback callback;
    };

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
                CURL* easy = task->easy;
                curl_multi_add_handle(multi_, easy);
                active_[easy] = std::move(task);
            }
            int running = 0;
            curl_multi_perform(multi_, &running);
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
                if (message->msg != CURLMSG_DONE) {
                    continue;
                }
                CURL* easy = message->easy_handle;
                const CURLcode code = message->data.result;
                curl_multi_remove_handle(multi_, easy);
                auto found = active_.find(easy);
                if (found == active_.end()) {
                    continue;
                }
                std::shared_ptr<Task> task(std::move(found->second));
                active_.erase(found);
                Result result;
                if (code == CURLE_OK) {
                    auto response = std::make_shared<TLMHttpResponse>();
                    response->url = task->url;
                    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &response->statusCode);
                    response->headers = std::move(task->responseHeaders);
                    result.response = std::move(response);
                    result.data = std::move(task->received);
                } else {
                    std::string text = task->errorBuffer[0] ? task->errorBuffer : curl_easy_strerror(code);
                    result.error = TLMError{kTLMCurlErrorDomain, static_cast<long>(code), text};
                }
                dispatch::globalQueue().async([task, result = std::move(result)]() mutable {
                    task->callback(std::move(result));
                });
            }
            curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
        }
    }

    TLMHttpTimeouts timeouts_;
    CURLM* multi_ = nullptr;
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

void TLMHttpClient::sendAsync(const std::string& url, const std::string& method, const TLMHttpHeaders& headers,
                              std::optional<std::string> data, std::vector<double> retryIntervals,
                              bool compressionEnabled, TLMHttpRequestCompletionHandler completionHandler) {
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
    session_->start(call->url(), call->method(), call->headers(), call->data(),
                    [weak, call](TLMHttpSession::Result result) {
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
