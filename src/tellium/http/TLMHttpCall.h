#pragma once
// One request of the HTTP client with its retry state: the body (gzip'd when asked and long
// enough, by the first thread that needs it), the headers, the completion, how many retries have
// started and the timer of the next.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tellium/http/TLMHttpClientProtocol.h"
#include "tellium/util/TLMClock.h"

class TLMHttpCall {
public:
    // Bodies of this many bytes or more are compressed when compression is on.
    static constexpr std::size_t kTLMMinCompressionLength = 1400;

    TLMHttpCall(std::string url, std::string method, const TLMHttpHeaders& headers, std::optional<std::string> data,
                std::vector<double> retryIntervals, bool compressionEnabled,
                TLMHttpRequestCompletionHandler completionHandler);

    bool hasReachedMaxRetries();
    // Cancels the pending retry and counts from 0 again.
    void resetRetry();
    // Runs the event once the delay has passed: the server's retry-after in milliseconds when
    // given, else the back-off of the current retry count.
    void startRetryTimerWithStatusCode(long statusCode, std::optional<uint32_t> retryAfter,
                                       std::function<void()> event);
    // Half the interval of that retry up to just under the whole interval, in milliseconds.
    uint32_t delayForRetryCount(int32_t retryCount);

    // The body as it goes out (gzip'd when asked and long enough; compressed on the first call).
    const std::optional<std::string>& data();
    // The headers as they go out: "Content-Encoding" is dropped again should compression fail.
    TLMHttpHeaders headers();
    const std::string& url() const { return url_; }
    const std::string& method() const { return method_; }
    const TLMHttpRequestCompletionHandler& completionHandler() const { return completionHandler_; }
    const std::vector<double>& retryIntervals() const { return retryIntervals_; }
    int32_t retryCount();
    // Touched under the client's lock only.
    bool inProgress() const { return inProgress_; }
    void setInProgress(bool value) { inProgress_ = value; }

private:
    void compressBodyOnce();

    std::mutex bodyMutex_;  // data_, headers_ and compressionPending_
    std::optional<std::string> data_;
    TLMHttpHeaders headers_;
    bool compressionPending_ = false;
    std::string url_;
    std::string method_;
    TLMHttpRequestCompletionHandler completionHandler_;
    std::mutex mutex_;  // retryCount_ and timerSource_
    std::shared_ptr<TLMTimer> timerSource_;
    int32_t retryCount_ = 0;
    std::vector<double> retryIntervals_;
    bool inProgress_ = false;
};
