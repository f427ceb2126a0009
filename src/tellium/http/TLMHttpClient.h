#pragma once
// The one place the telemetry SDK talks to the network. Each call waits in the pending set until
// it is answered; recoverable failures (no answer, 408, 429, 5xx) are sent again on a randomised
// back-off or after the delay the server asks for; the client pauses while the network is down
// and after a call has used up its retries, and disables itself for good on any other failure.
//
// Requests run on libcurl: one multi handle and one worker thread per session, connections
// reused, TLS verified, connect timeout 10 s and whole-request timeout 60 s. Answers are handled
// on the global queue; retry timers run on the SDK's clock (virtual in tests).
//
// Locking: the client's lock is re-entrant, since completions and the delegate run under it and may
// call back in. The delegate is told of each request under the client's lock, so whoever is the
// delegate must not hold its own lock while calling into the client.
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tellium/http/TLMHttpCall.h"
#include "tellium/http/TLMHttpClientProtocol.h"
#include "tellium/http/TLMReachability.h"

class TLMHttpSession;

// How long a request may take to connect, and in all.
struct TLMHttpTimeouts {
    std::chrono::milliseconds connect{10000};
    std::chrono::milliseconds whole{60000};
};

class TLMHttpClient final : public TLMHttpClientProtocol, public std::enable_shared_from_this<TLMHttpClient> {
public:
    static std::shared_ptr<TLMHttpClient> init();
    static std::shared_ptr<TLMHttpClient> initWithMaxHttpConnectionsPerHost(std::optional<long> maxHttpConnectionsPerHost);
    static std::shared_ptr<TLMHttpClient> initWithMaxHttpConnectionsPerHost(
        std::optional<long> maxHttpConnectionsPerHost, std::shared_ptr<TLM_Reachability> reachability,
        TLMHttpTimeouts timeouts = TLMHttpTimeouts());
    ~TLMHttpClient() override;

    void sendAsync(const std::string& url, const std::string& method, const TLMHttpHeaders& headers,
                   std::optional<std::string> data, TLMHttpRequestCompletionHandler completionHandler) override;
    void sendAsync(const std::string& url, const std::string& method, const TLMHttpHeaders& headers,
                   std::optional<std::string> data, std::vector<double> retryIntervals, bool compressionEnabled,
                   TLMHttpRequestCompletionHandler completionHandler) override;
    void pause() override;
    void resume() override;
    void setEnabled(bool isEnabled) override;  // the flag only
    // The full switch: disabling pauses and, when deleting, cancels every pending call.
    void setEnabled(bool isEnabled, bool deleteDataOnDisabled);
    std::shared_ptr<TLMHttpClientDelegate> delegate() override;
    void setDelegate(std::weak_ptr<TLMHttpClientDelegate> delegate) override;
    void networkStateChanged(TLM_Reachability& reachability);

    bool isPaused();
    bool isEnabled();
    std::size_t pendingCallCount();

    // The default retry intervals, in seconds.
    static std::vector<double> defaultRetryIntervals() { return {10, 300, 1200}; }

private:
    TLMHttpClient(std::optional<long> maxHttpConnectionsPerHost, std::shared_ptr<TLM_Reachability> reachability,
                  TLMHttpTimeouts timeouts);
    void start();
    void sendCallAsync(const std::shared_ptr<TLMHttpCall>& call);
    void requestCompleted(const std::shared_ptr<TLMHttpCall>& call, std::optional<std::string> data,
                          std::shared_ptr<TLMHttpResponse> response, std::optional<TLMError> error);
    void retryTimerFired(const std::shared_ptr<TLMHttpCall>& call);
    void resumeAfterRetriesRanOut();

    std::recursive_mutex mutex_;
    std::optional<long> maxHttpConnectionsPerHost_;
    TLMHttpTimeouts timeouts_;
    std::shared_ptr<TLMHttpSession> session_;
    std::shared_ptr<TLM_Reachability> reachability_;
    uint64_t reachabilityObserver_ = 0;
    std::set<std::shared_ptr<TLMHttpCall>> pendingCalls_;
    bool paused_ = false;
    bool enabled_ = true;
    std::weak_ptr<TLMHttpClientDelegate> delegate_;
    // After the retries of a call ran out: resume once the longest interval has passed again.
    std::shared_ptr<TLMTimer> resumeTimer_;
};
