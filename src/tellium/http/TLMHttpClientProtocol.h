#pragma once
// What the ingestion endpoints need of an HTTP client, so tests and the app can hand in their own.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tellium/TLMErrors.h"

using TLMHttpHeaders = std::map<std::string, std::string>;

// A received HTTP answer: status and headers (names as sent by the server).
struct TLMHttpResponse {
    std::string url;
    long statusCode = 0;
    TLMHttpHeaders headers;
    // The value of the first header of that name, compared without case.
    std::optional<std::string> header(const std::string& name) const;
};

// Response body, response, error; each may be absent.
using TLMHttpRequestCompletionHandler = std::function<void(
    std::optional<std::string> data, std::shared_ptr<TLMHttpResponse> response, std::optional<TLMError> error)>;

class TLMHttpClientDelegate {
public:
    virtual ~TLMHttpClientDelegate() = default;
    // Just before each request (and each retry) leaves, with its final headers.
    virtual void willSendHTTPRequestToURL(const std::string& url, const TLMHttpHeaders& headers) = 0;
};

class TLMHttpClientProtocol {
public:
    virtual ~TLMHttpClientProtocol() = default;
    // Retries after 10, 300 and 1200 seconds, bodies compressed.
    virtual void sendAsync(const std::string& url, const std::string& method, const TLMHttpHeaders& headers,
                           std::optional<std::string> data, TLMHttpRequestCompletionHandler completionHandler) = 0;
    virtual void sendAsync(const std::string& url, const std::string& method, const TLMHttpHeaders& headers,
                           std::optional<std::string> data, std::vector<double> retryIntervals,
                           bool compressionEnabled, TLMHttpRequestCompletionHandler completionHandler) = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    virtual void setEnabled(bool isEnabled) = 0;
    virtual std::shared_ptr<TLMHttpClientDelegate> delegate() = 0;
    virtual void setDelegate(std::weak_ptr<TLMHttpClientDelegate> delegate) = 0;
};

// A client injected before the SDK starts is used by the log-ingestion endpoint instead of a new one.
class TLMDependencyConfiguration {
public:
    static std::shared_ptr<TLMHttpClientProtocol> httpClient();
    static void setHttpClient(std::shared_ptr<TLMHttpClientProtocol> client);
};
