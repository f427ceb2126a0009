#include "tellium/http/TLMHttpCall.h"

#include <random>

#include "platform/dispatch/Dispatch.h"
#include "tellium/TLMLogger.h"
#include "tellium/util/TLMCompression.h"

TLMHttpCall::TLMHttpCall(std::string url, std::string method, const TLMHttpHeaders& headers,
                         std::optional<std::string> data, std::vector<double> retryIntervals,
                         bool compressionEnabled, TLMHttpRequestCompletionHandler completionHandler)
    : data_(std::move(data)),
      headers_(headers),
      url_(std::move(url)),
      method_(std::move(method)),
      completionHandler_(std::move(completionHandler)),
      retryIntervals_(std::move(retryIntervals)) {
    if (compressionEnabled && data_ && data_->size() >= kTLMMinCompressionLength) {
        // Compressed by whoever first needs the body, on the client's network thread as a rule,
        // so that the caller's thread does not pay for it.
        compressionPending_ = true;
        headers_["Content-Encoding"] = "gzip";
    }
    if (data_ && headers_.find("Content-Type") == headers_.end()) {
        headers_["Content-Type"] = "application/json";
    }
}

void TLMHttpCall::compressBodyOnce() {
    std::lock_guard<std::mutex> lock(bodyMutex_);
    if (!compressionPending_) return;
    compressionPending_ = false;
    // When compression fails the plain body goes out, without claiming gzip.
    if (auto compressed = TLMCompression::compressData(*data_)) {
        data_ = std::move(*compressed);
    } else {
        headers_.erase("Content-Encoding");
    }
}

const std::optional<std::string>& TLMHttpCall::data() {
    compressBodyOnce();
    return data_;
}

TLMHttpHeaders TLMHttpCall::headers() {
    std::lock_guard<std::mutex> lock(bodyMutex_);
    return headers_;
}

bool TLMHttpCall::hasReachedMaxRetries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return retryCount_ >= static_cast<int32_t>(retryIntervals_.size());
}

void TLMHttpCall::resetRetry() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (timerSource_) {
        timerSource_->cancel();
        timerSource_.reset();
    }
    retryCount_ = 0;
}

int32_t TLMHttpCall::retryCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return retryCount_;
}

void TLMHttpCall::startRetryTimerWithStatusCode(long statusCode, std::optional<uint32_t> retryAfter,
                                                std::function<void()> event) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (timerSource_) {
        timerSource_->cancel();
    }
    const uint32_t delay = retryAfter ? *retryAfter : delayForRetryCount(retryCount_);
    const std::string message = "Call attempt #" + std::to_string(retryCount_) + " failed with status code: " +
                                std::to_string(statusCode) + ", it will be retried in " + std::to_string(delay) +
                                " ms.";
    ++retryCount_;
    timerSource_ = TLMClock::current()->schedule(dispatch::globalQueue(), std::chrono::milliseconds(delay),
                                                 std::move(event));
    // Told once the timer runs, so whoever reads it may move the clock on.
    TLMLogWarning(kTLMLogTag, message);
}

uint32_t TLMHttpCall::delayForRetryCount(int32_t retryCount) {
    if (retryCount < 0 || retryCount >= static_cast<int32_t>(retryIntervals_.size())) {
        return 0;
    }
    const double interval = retryIntervals_[static_cast<std::size_t>(retryCount)];
    const auto half = static_cast<uint32_t>(interval * 1000000000.0 * 0.5 / 1000000.0);
    if (half == 0) {
        return 0;
    }
    thread_local std::mt19937 random{std::random_device{}()};
    return half + std::uniform_int_distribution<uint32_t>(0, half - 1)(random);
}
