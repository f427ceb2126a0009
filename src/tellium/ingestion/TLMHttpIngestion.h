#pragma once
// The ingestion endpoints: each turns a batch of logs (a log container) into one HTTP request to
// its collector through an HTTP client, and hands the outcome back with the batch id. The base
// builds the URL, gates sending on its own switch and the SDK's network permission, and logs
// requests and answers with their secrets masked; the log-ingestion and Event Collector endpoints
// add their headers and bodies.
//
// Locking: the endpoint's lock is never held while calling into the HTTP client (which calls the
// endpoint back, as its delegate, under the client's lock), so the two are always taken in one order.
#include <cstdint>
#include <map>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "tellium/http/TLMHttpClientProtocol.h"
#include "tellium/model/TLMAbstractLog.h"
#include "tellium/model/commonschema/TLMCommonSchemaLog.h"

// This product runs no collector of its own: until the application points the SDK at one (the
// DRAVIX_TELEMETRY_URL environment variable), the base URLs are these placeholders, which never
// resolve, and nothing is stored for them.
inline constexpr const char* kTLMDefaultLogUrl = "https://in.tellium.invalid";
inline constexpr const char* kTLMDefaultEventCollectorUrl = "https://events.tellium.invalid";
bool TLMIsPlaceholderBaseURL(const std::string& baseURL);

// Call id (the batch id), response, response body, error; each may be absent.
using TLMSendAsyncCompletionHandler =
    std::function<void(std::optional<std::string> callId, std::shared_ptr<TLMHttpResponse> response,
                       std::optional<std::string> data, std::optional<TLMError> error)>;

class TLMIngestionProtocol {
public:
    virtual ~TLMIngestionProtocol() = default;
    virtual void sendAsync(const std::shared_ptr<TLMLogContainer>& data, TLMSendAsyncCompletionHandler handler) = 0;
    virtual void sendAsync(const std::shared_ptr<TLMLogContainer>& data, const std::optional<std::string>& eTag,
                           TLMSendAsyncCompletionHandler handler) = 0;
    virtual bool isReadyToSend() = 0;
    virtual bool isEnabled() = 0;
    virtual void setEnabled(bool isEnabled, bool deleteDataOnDisabled) = 0;
};

class TLMHttpIngestion : public TLMIngestionProtocol,
                         public TLMHttpClientDelegate,
                         public std::enable_shared_from_this<TLMHttpIngestion> {
public:
    using QueryItems = std::vector<std::pair<std::string, std::string>>;

    void sendAsync(const std::shared_ptr<TLMLogContainer>& data, TLMSendAsyncCompletionHandler handler) override;
    void sendAsync(const std::shared_ptr<TLMLogContainer>& data, const std::optional<std::string>& eTag,
                   TLMSendAsyncCompletionHandler handler) override;
    // False while the base URL is a placeholder: there is no collector to send to.
    bool isReadyToSend() override;
    bool isEnabled() override;
    // The endpoint's own switch only; the client is left alone and nothing is deleted.
    void setEnabled(bool isEnabled, bool deleteDataOnDisabled) override;
    void setBaseURL(const std::string& baseURL);
    std::string baseURL();
    std::string sendURL();
    std::shared_ptr<TLMHttpClientProtocol> httpClient() const { return httpClient_; }
    const std::vector<double>& callsRetryIntervals() const { return callsRetryIntervals_; }
    int64_t maxNumberOfConnections() const { return maxNumberOfConnections_; }
    std::string getHttpMethod() const { return "POST"; }
    static std::optional<std::string> eTagFromResponse(const TLMHttpResponse& response);

protected:
    TLMHttpIngestion(std::shared_ptr<TLMHttpClientProtocol> httpClient, std::string baseUrl, std::string apiPath,
                     TLMHttpHeaders headers, QueryItems queryStrings, std::vector<double> retryIntervals,
                     int64_t maxNumberOfConnections);
    // Makes the endpoint its client's delegate (once it is owned by a shared pointer).
    void attachToClient();
    void sendAsync(const std::shared_ptr<TLMLogContainer>& data, const std::optional<std::string>& eTag,
                   const std::optional<std::string>& callId, TLMSendAsyncCompletionHandler handler);

    virtual std::optional<TLMHttpHeaders> getHeadersWithData(const TLMLogContainer& data,
                                                             const std::optional<std::string>& eTag) = 0;
    // Reads the container only: it runs without the ingestion's lock, which the threads that
    // enqueue logs also take.
    virtual std::optional<std::string> getPayloadWithData(const TLMLogContainer& data) = 0;
    virtual std::string obfuscateResponsePayload(const std::string& payload) = 0;
    virtual std::string className() const = 0;
    void printResponse(const std::shared_ptr<TLMHttpResponse>& response, const std::optional<std::string>& body,
                       const std::optional<TLMError>& error);
    // "URL: ..." and "Headers: name = value, ..." at verbose level, each value through the mask.
    void logRequest(const std::string& url, const TLMHttpHeaders& headers,
                    const std::function<std::string(const std::string&, const std::string&)>& mask);

    TLMHttpHeaders httpHeaders_;
    std::recursive_mutex mutex_;

private:
    static std::string buildURL(const std::string& baseURL, const std::string& apiPath, const QueryItems& queryStrings);

    bool enabled_ = true;
    std::string baseURL_;
    std::string apiPath_;
    std::string sendURL_;
    std::shared_ptr<TLMHttpClientProtocol> httpClient_;
    int64_t maxNumberOfConnections_;
    std::vector<double> callsRetryIntervals_;
    // Where the request bodies are written (see sendAsync).
    const std::shared_ptr<dispatch::SerialQueue> payloadQueue_;
};

// Posts JSON batches to the log-ingestion service, with the app secret and the install id.
class TLMTelliumIngestion final : public TLMHttpIngestion {
public:
    static std::shared_ptr<TLMTelliumIngestion> initWithHttpClient(std::shared_ptr<TLMHttpClientProtocol> httpClient,
                                                                   const std::string& baseUrl,
                                                                   const std::string& installId);
    using TLMHttpIngestion::sendAsync;
    void sendAsync(const std::shared_ptr<TLMLogContainer>& data, TLMSendAsyncCompletionHandler handler) override;
    bool isReadyToSend() override;
    std::optional<std::string> appSecret();
    void setAppSecret(std::optional<std::string> appSecret);
    void willSendHTTPRequestToURL(const std::string& url, const TLMHttpHeaders& headers) override;

protected:
    std::optional<TLMHttpHeaders> getHeadersWithData(const TLMLogContainer& data,
                                                     const std::optional<std::string>& eTag) override;
    std::optional<std::string> getPayloadWithData(const TLMLogContainer& data) override;
    std::string obfuscateResponsePayload(const std::string& payload) override { return payload; }
    std::string className() const override { return "TLMTelliumIngestion"; }

private:
    TLMTelliumIngestion(std::shared_ptr<TLMHttpClientProtocol> httpClient, const std::string& baseUrl,
                        const std::string& installId);
    std::optional<std::string> appSecret_;
};

// Posts common-schema logs to the Event Collector, one JSON object a line, with the logs' target
// tokens and the users' tickets.
class TLMEventCollectorIngestion final : public TLMHttpIngestion {
public:
    static std::shared_ptr<TLMEventCollectorIngestion> initWithHttpClient(
        std::shared_ptr<TLMHttpClientProtocol> httpClient, const std::string& baseUrl);
    using TLMHttpIngestion::sendAsync;
    void sendAsync(const std::shared_ptr<TLMLogContainer>& data, TLMSendAsyncCompletionHandler handler) override;
    void willSendHTTPRequestToURL(const std::string& url, const TLMHttpHeaders& headers) override;
    static std::string obfuscateTargetTokens(const std::string& tokenString);
    static std::string obfuscateTickets(const std::string& ticketString);

protected:
    std::optional<TLMHttpHeaders> getHeadersWithData(const TLMLogContainer& data,
                                                     const std::optional<std::string>& eTag) override;
    std::optional<std::string> getPayloadWithData(const TLMLogContainer& data) override;
    std::string obfuscateResponsePayload(const std::string& payload) override;
    std::string className() const override { return "TLMEventCollectorIngestion"; }

private:
    TLMEventCollectorIngestion(std::shared_ptr<TLMHttpClientProtocol> httpClient, const std::string& baseUrl);
};

// The users' tickets by ticket key, for the Event Collector's "Tickets" header.
class TLMTicketCache {
public:
    static TLMTicketCache& sharedInstance();
    std::optional<std::string> ticketFor(const std::string& key);
    void setTicket(const std::optional<std::string>& ticket, const std::string& key);  // nothing: removes
    void clearCache();

private:
    std::mutex mutex_;
    std::map<std::string, std::string> tickets_;
};
