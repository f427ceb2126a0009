#include "tellium/ingestion/TLMHttpIngestion.h"

#include <curl/curl.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>
#include <cctype>

#include "platform/net/PercentEncoding.h"
#include "tellium/TLMLogger.h"
#include "tellium/TLMTellium.h"
#include "tellium/http/TLMHttpClient.h"
#include "tellium/http/TLMHttpUtil.h"
#include "tellium/util/TLMUtility.h"

bool TLMIsPlaceholderBaseURL(const std::string& baseURL) {
    return baseURL == kTLMDefaultLogUrl || baseURL == kTLMDefaultEventCollectorUrl;
}

namespace {

// The characters a URL query may carry as they are (besides the unreserved ones); everything
// else is percent-encoded.
std::string percentEncodeQuery(const std::string& query) { return net::percentEncode(query, "!$&'()*+,;=:@/?"); }

std::string curlPart(CURLU* url, CURLUPart part, bool& present) {
    char* text = nullptr;
    present = curl_url_get(url, part, &text, 0) == CURLUE_OK && text;
    std::string result = present ? text : "";
    curl_free(text);
    return result;
}

}  // namespace

TLMHttpIngestion::TLMHttpIngestion(std::shared_ptr<TLMHttpClientProtocol> httpClient, std::string baseUrl,
                                   std::string apiPath, TLMHttpHeaders headers, QueryItems queryStrings,
                                   std::vector<double> retryIntervals, int64_t maxNumberOfConnections)
    : httpHeaders_(std::move(headers)),
      baseURL_(std::move(baseUrl)),
      apiPath_(std::move(apiPath)),
      httpClient_(std::move(httpClient)),
      maxNumberOfConnections_(maxNumberOfConnections),
      callsRetryIntervals_(std::move(retryIntervals)),
      payloadQueue_(std::make_shared<dispatch::SerialQueue>("org.dravix.tellium.IngestionPayloadQueue", dispatch::QoS::utility)) {
    sendURL_ = buildURL(baseURL_, apiPath_, queryStrings);
}

void TLMHttpIngestion::attachToClient() {
    if (httpClient_) {
        httpClient_->setDelegate(std::weak_ptr<TLMHttpClientDelegate>(shared_from_this()));
    }
}

std::string TLMHttpIngestion::buildURL(const std::string& baseURL, const std::string& apiPath,
                                       const QueryItems& queryStrings) {
    std::string query;
    for (const auto& [name, value] : queryStrings) {
        query += (query.empty() ? "" : "&") + name + "=" + value;
    }
    std::string url = baseURL + apiPath;
    if (!query.empty()) {
        url += "?" + percentEncodeQuery(query);
    }
    return url;
}

bool TLMHttpIngestion::isReadyToSend() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return !TLMIsPlaceholderBaseURL(baseURL_);
}

bool TLMHttpIngestion::isEnabled() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return enabled_ && TLMTellium::isNetworkRequestsAllowed();
}

void TLMHttpIngestion::setEnabled(bool isEnabled, bool /*deleteDataOnDisabled*/) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    enabled_ = isEnabled;
}

std::string TLMHttpIngestion::baseURL() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return baseURL_;
}

std::string TLMHttpIngestion::sendURL() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return sendURL_;
}

void TLMHttpIngestion::setBaseURL(const std::string& baseURL) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    baseURL_ = baseURL;
    auto failed = [&] { TLMLogInfo(kTLMLogTag, "Failed to update HTTP URL " + sendURL_ + " with " + baseURL); };
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> current(curl_url(), &curl_url_cleanup);
    if (curl_url_set(parsed.get(), CURLUPART_URL, (baseURL + apiPath_).c_str(), 0) != CURLUE_OK ||
        curl_url_set(current.get(), CURLUPART_URL, sendURL_.c_str(), 0) != CURLUE_OK) {
        failed();
        return;
    }
    // The new origin and path; the query of the current URL stays.
    for (CURLUPart part : {CURLUPART_SCHEME, CURLUPART_USER, CURLUPART_PASSWORD, CURLUPART_HOST, CURLUPART_PORT,
                           CURLUPART_PATH}) {
        bool present = false;
        const std::string value = curlPart(parsed.get(), part, present);
        curl_url_set(current.get(), part, present ? value.c_str() : nullptr, 0);
    }
    bool present = false;
    const std::string url = curlPart(current.get(), CURLUPART_URL, present);
    if (!present) {
        failed();
        return;
    }
    sendURL_ = url;
}

void TLMHttpIngestion::sendAsync(const std::shared_ptr<TLMLogContainer>& data, TLMSendAsyncCompletionHandler handler) {
    sendAsync(data, std::nullopt, TLMUtility::uuidString(), std::move(handler));
}

void TLMHttpIngestion::sendAsync(const std::shared_ptr<TLMLogContainer>& data, const std::optional<std::string>& eTag,
                                 TLMSendAsyncCompletionHandler handler) {
    sendAsync(data, eTag, TLMUtility::uuidString(), std::move(handler));
}

void TLMHttpIngestion::sendAsync(const std::shared_ptr<TLMLogContainer>& data, const std::optional<std::string>& eTag,
                                 const std::optional<std::string>& callId, TLMSendAsyncCompletionHandler handler) {
    std::optional<TLMHttpHeaders> headers;
    std::optional<std::string> payload;
    std::string url;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (!isEnabled()) {
            TLMLogWarning(kTLMLogTag, className() + " is disabled.");
            if (handler) {
                handler(callId, nullptr, std::nullopt, TLMError{kTLMErrorDomain, kTLMDisabledErrorCode, kTLMDisabledErrorDesc});
            }
            return;
        }
        if (data) {
            headers = getHeadersWithData(*data, eTag);
        }
        url = sendURL_;
    }
    // The body is written on the endpoint's own queue, in the order of the calls: the caller (the
    // log queue, which every log and batch goes through) goes on at once. The task holds the
    // endpoint, so the request always reaches the client and the handler always runs.
    payloadQueue_->async([self = shared_from_this(), data, headers = std::move(headers), url = std::move(url), callId,
                          handler = std::move(handler)]() mutable {
        std::optional<std::string> payload;
        if (data) payload = self->getPayloadWithData(*data);
        std::weak_ptr<TLMHttpIngestion> weak = self;
        self->httpClient_->sendAsync(url, self->getHttpMethod(), headers.value_or(TLMHttpHeaders()), std::move(payload),
                                     self->callsRetryIntervals_, true,
                                     [weak, callId, handler](std::optional<std::string> body,
                                                             std::shared_ptr<TLMHttpResponse> response,
                                                             std::optional<TLMError> error) {
                                         if (auto endpoint = weak.lock()) {
                                             endpoint->printResponse(response, body, error);
                                         }
                                         if (handler) {
                                             handler(callId, std::move(response), std::move(body), std::move(error));
                                         }
                                     });
    });
}

std::optional<std::string> TLMHttpIngestion::eTagFromResponse(const TLMHttpResponse& response) {
    return response.header("etag");
}

void TLMHttpIngestion::printResponse(const std::shared_ptr<TLMHttpResponse>& response,
                                     const std::optional<std::string>& body, const std::optional<TLMError>& error) {
    if (error) {
        TLMLogDebug(kTLMLogTag, "HTTP request error with code: " + std::to_string(error->code) + ", domain: " +
                                    error->domain + ", description: " + error->localizedDescription);
        return;
    }
    if (TLMTellium::logLevel() > TLMLogLevelVerbose || !response) {
        return;
    }
    std::string payload;
    if (body && !body->empty()) {
        const std::string type = response->header("Content-Type").value_or("");
        if (type.rfind("application/json", 0) == 0) {
            payload = obfuscateResponsePayload(TLMUtility::prettyPrintJson(body).value_or(*body));
        } else if (!type.empty() && type.rfind("text/", 0) != 0 && type.rfind("application/", 0) != 0) {
            payload = "<binary>";
        } else {
            payload = obfuscateResponsePayload(*body);
        }
    }
    TLMLogVerbose(kTLMLogTag, "HTTP response received with status code: " + std::to_string(response->statusCode) +
                                  ", payload:\n" + payload);
}

void TLMHttpIngestion::logRequest(const std::string& url, const TLMHttpHeaders& headers,
                                  const std::function<std::string(const std::string&, const std::string&)>& mask) {
    if (TLMTellium::logLevel() > TLMLogLevelVerbose) {
        return;
    }
    std::string texts;
    for (const auto& [name, value] : headers) {
        texts += (texts.empty() ? "" : ", ") + name + " = " + mask(name, value);
    }
    TLMLogVerbose(kTLMLogTag, "URL: " + url);
    TLMLogVerbose(kTLMLogTag, "Headers: " + texts);
}

// ---- log ingestion --------------------------------------------------------------------------

TLMTelliumIngestion::TLMTelliumIngestion(std::shared_ptr<TLMHttpClientProtocol> httpClient,
                                         const std::string& baseUrl, const std::string& installId)
    : TLMHttpIngestion(std::move(httpClient), baseUrl, "/logs",
                       {{"Content-Type", "application/json"}, {"Install-ID", installId}}, {{"api-version", "1.0.0"}},
                       TLMHttpClient::defaultRetryIntervals(), 4) {}

std::shared_ptr<TLMTelliumIngestion> TLMTelliumIngestion::initWithHttpClient(
    std::shared_ptr<TLMHttpClientProtocol> httpClient, const std::string& baseUrl, const std::string& installId) {
    std::shared_ptr<TLMTelliumIngestion> ingestion(new TLMTelliumIngestion(std::move(httpClient), baseUrl, installId));
    ingestion->attachToClient();
    return ingestion;
}

void TLMTelliumIngestion::sendAsync(const std::shared_ptr<TLMLogContainer>& data, TLMSendAsyncCompletionHandler handler) {
    const std::optional<std::string> batchId = data ? data->batchId : std::nullopt;
    if (!data || !data->isValid()) {
        TLMLogError(kTLMLogTag, kTLMLogInvalidContainerErrorDesc);
        if (handler) {
            handler(batchId, nullptr, std::nullopt,
                    TLMError{kTLMErrorDomain, kTLMLogInvalidContainerErrorCode, kTLMLogInvalidContainerErrorDesc});
        }
        return;
    }
    if (!appSecret()) {
        // Answered, so the caller's batch never waits for a reply that cannot come.
        TLMLogError(kTLMLogTag, "Tellium ingestion is used without app secret.");
        if (handler) {
            handler(batchId, nullptr, std::nullopt, TLMError{kTLMErrorDomain, kTLMDisabledErrorCode, kTLMDisabledErrorDesc});
        }
        return;
    }
    TLMHttpIngestion::sendAsync(data, std::nullopt, batchId, std::move(handler));
}

bool TLMTelliumIngestion::isReadyToSend() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return appSecret_.has_value() && TLMHttpIngestion::isReadyToSend();
}

std::optional<std::string> TLMTelliumIngestion::appSecret() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return appSecret_;
}

void TLMTelliumIngestion::setAppSecret(std::optional<std::string> appSecret) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    appSecret_ = std::move(appSecret);
}

std::optional<TLMHttpHeaders> TLMTelliumIngestion::getHeadersWithData(const TLMLogContainer&,
                                                                      const std::optional<std::string>&) {
    TLMHttpHeaders headers = httpHeaders_;
    headers["App-Secret"] = appSecret_.value_or("");
    return headers;
}

std::optional<std::string> TLMTelliumIngestion::getPayloadWithData(const TLMLogContainer& data) {
    return data.serializeLog();
}

void TLMTelliumIngestion::willSendHTTPRequestToURL(const std::string& url, const TLMHttpHeaders& headers) {
    logRequest(url, headers, [](const std::string& name, const std::string& value) {
        return name == "App-Secret" ? TLMHttpUtil::hideSecret(value) : value;
    });
}

// ---- Event Collector ------------------------------------------------------------------------

TLMEventCollectorIngestion::TLMEventCollectorIngestion(std::shared_ptr<TLMHttpClientProtocol> httpClient,
                                                       const std::string& baseUrl)
    : TLMHttpIngestion(std::move(httpClient), baseUrl, "/EventCollector/1.0",
                       {{"Content-Type", "application/x-json-stream; charset=utf-8"},
                        {"Client-Version", "TLM-Cpp-no-" + TLMUtility::sdkVersion() + "-no"}},
                       {}, TLMHttpClient::defaultRetryIntervals(), 2) {}

std::shared_ptr<TLMEventCollectorIngestion> TLMEventCollectorIngestion::initWithHttpClient(
    std::shared_ptr<TLMHttpClientProtocol> httpClient, const std::string& baseUrl) {
    std::shared_ptr<TLMEventCollectorIngestion> ingestion(new TLMEventCollectorIngestion(std::move(httpClient), baseUrl));
    ingestion->attachToClient();
    return ingestion;
}

void TLMEventCollectorIngestion::sendAsync(const std::shared_ptr<TLMLogContainer>& data,
                                           TLMSendAsyncCompletionHandler handler) {
    const std::optional<std::string> batchId = data ? data->batchId : std::nullopt;
    if (!data || !data->isValid()) {
        TLMLogError(kTLMLogTag, kTLMLogInvalidContainerErrorDesc);
        if (handler) {
            handler(batchId, nullptr, std::nullopt,
                    TLMError{kTLMErrorDomain, kTLMLogInvalidContainerErrorCode, kTLMLogInvalidContainerErrorDesc});
        }
        return;
    }
    TLMHttpIngestion::sendAsync(data, std::nullopt, batchId, std::move(handler));
}

std::optional<TLMHttpHeaders> TLMEventCollectorIngestion::getHeadersWithData(const TLMLogContainer& data,
                                                                             const std::optional<std::string>&) {
    TLMHttpHeaders headers = httpHeaders_;
    std::set<std::string> tokens;
    nlohmann::ordered_json tickets = nlohmann::ordered_json::object();
    for (const auto& log : data.logs) {
        if (!log) continue;
        if (auto logTokens = log->transmissionTargetTokens()) {
            tokens.insert(logTokens->begin(), logTokens->end());
        }
        auto csLog = std::dynamic_pointer_cast<TLMCommonSchemaLog>(log);
        if (csLog && csLog->ext && csLog->ext->protocolExt && csLog->ext->protocolExt->ticketKeys) {
            for (const auto& key : *csLog->ext->protocolExt->ticketKeys) {
                if (auto ticket = TLMTicketCache::sharedInstance().ticketFor(key)) {
                    tickets[key] = *ticket;
                }
            }
        }
    }
    std::string apiKey;
    for (const auto& token : tokens) {
        apiKey += (apiKey.empty() ? "" : ",") + token;
    }
    headers["apikey"] = apiKey;
    headers["Upload-Time"] =
        std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(TLMClock::current()->now().time_since_epoch()).count());
    if (!tickets.empty()) {
        // Tickets come from outside: bytes that are not UTF-8 are written as U+FFFD, never thrown.
        headers["Tickets"] = tickets.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    }
    return headers;
}

std::optional<std::string> TLMEventCollectorIngestion::getPayloadWithData(const TLMLogContainer& data) {
    std::string payload;
    for (const auto& log : data.logs) {
        if (!log) continue;
        payload += log->serializeLogWithPrettyPrinting(false).value_or("{}") + "\n";
    }
    return payload;
}

std::string TLMEventCollectorIngestion::obfuscateResponsePayload(const std::string& payload) {
    return TLMUtility::obfuscateString(payload, "\"token\"\\s*:\\s*\"[^\"]+\"", "\"token\" : \"***\"").value_or(payload);
}

std::string TLMEventCollectorIngestion::obfuscateTargetTokens(const std::string& tokenString) {
    std::string result;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = tokenString.find(',', start);
        result += TLMHttpUtil::hideSecret(tokenString.substr(start, comma - start));
        if (comma == std::string::npos) break;
        result += ",";
        start = comma + 1;
    }
    return result;
}

std::string TLMEventCollectorIngestion::obfuscateTickets(const std::string& ticketString) {
    return TLMUtility::obfuscateString(ticketString, ":[^\"]+", ":***").value_or(ticketString);
}

void TLMEventCollectorIngestion::willSendHTTPRequestToURL(const std::string& url, const TLMHttpHeaders& headers) {
    logRequest(url, headers, [](const std::string& name, const std::string& value) {
        if (name == "apikey") return obfuscateTargetTokens(value);
        if (name == "Tickets") return obfuscateTickets(value);
        return value;
    });
}

// ---- ticket cache ---------------------------------------------------------------------------

TLMTicketCache& TLMTicketCache::sharedInstance() {
    static TLMTicketCache cache;
    return cache;
}

std::optional<std::string> TLMTicketCache::ticketFor(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = tickets_.find(key);
    return found == tickets_.end() ? std::nullopt : std::optional<std::string>(found->second);
}

void TLMTicketCache::setTicket(const std::optional<std::string>& ticket, const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ticket) {
        tickets_[key] = *ticket;
    } else {
        tickets_.erase(key);
    }
}

void TLMTicketCache::clearCache() {
    std::lock_guard<std::mutex> lock(mutex_);
    tickets_.clear();
}
