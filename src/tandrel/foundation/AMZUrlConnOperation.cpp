#include "tandrel/foundation/AMZUrlConnOperation.h"

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <mutex>

#include "platform/dispatch/Dispatch.h"
#include "platform/net/Curl.h"
#include "platform/net/HttpHeaders.h"

// ---- Requests --------------------------------------------------------------------------------

namespace {

bool sameField(const std::string& a, const std::string& b) { return net::equalsIgnoringCase(a, b); }

bool hasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos || s.find('\0') != std::string::npos; }

VornError urlError(int64_t code, const std::string& message, const std::string& name) {
    return VornError{"AMZUrlSession", code, message, name};
}

}  // namespace

void AMZUrlRequest::setValue(const std::string& value, const std::string& field) {
    for (auto& [name, v] : headers) {
        if (sameField(name, field)) {
            v = value;
            return;
        }
    }
    headers.emplace_back(field, value);
}

std::optional<std::string> AMZUrlRequest::valueForHTTPHeaderField(const std::string& field) const {
    for (const auto& [name, v] : headers)
        if (sameField(name, field)) return v;
    return std::nullopt;
}

// ---- The URL session -------------------------------------------------------------------------

AMZUrlSession::AMZUrlSession() { net::initialize(); }

AMZUrlSession& AMZUrlSession::shared() {
    static auto* session = new AMZUrlSession;  // lives until exit
    return *session;
}

std::shared_ptr<AMZUrlDataTask> AMZUrlSession::dataTask(AMZUrlRequest request, AMZUrlDataTask::Completion completion) {
    return std::make_shared<AMZUrlDataTask>(std::move(request), std::move(completion));
}

AMZUrlDataTask::AMZUrlDataTask(AMZUrlRequest request, Completion completion)
    : request_(std::move(request)), completion_(std::move(completion)) {}

void AMZUrlDataTask::resume() {
    if (resumed_.exchange(true)) return;
    AMZUrlSession::shared();  // the library is set up before the first transfer
    auto self = shared_from_this();
    dispatch::globalQueue(dispatch::QoS::utility).async([self] { self->perform(); });
}

void AMZUrlDataTask::cancel() { cancelled_ = true; }

void AMZUrlDataTask::perform() {
    Completion completion = std::exchange(completion_, nullptr);
    auto fail = [&](VornError e) {
        if (completion) completion(std::nullopt, std::nullopt, std::move(e));
    };
    if (cancelled_) return fail(urlError(kCancelledCode, "cancelled", "cancelled"));
    if (hasLineBreak(request_.url) || hasLineBreak(request_.httpMethod))
        return fail(urlError(CURLE_URL_MALFORMAT, "The request is malformed.", "bad_request"));
    for (const auto& [name, value] : request_.headers)
        if (hasLineBreak(name) || hasLineBreak(value) || name.find(':') != std::string::npos)
            return fail(urlError(CURLE_URL_MALFORMAT, "The request has a malformed header.", "bad_request"));

    auto owned = std::make_unique<net::Transfer>();  // closed before the completion runs
    net::Transfer& transfer = *owned;
    if (!transfer.easy()) return fail(urlError(CURLE_FAILED_INIT, "The connection could not be set up.", "curl_init"));

    // The timeout limits connecting and any stall (less than a byte a second); no overall limit.
    const long timeoutMs = static_cast<long>(std::max(1.0, std::ceil(request_.timeoutInterval * 1000.0)));
    transfer.setUrl(request_.url);
    transfer.setProtocols("http,https");
    transfer.setTimeouts(net::Timeouts{std::chrono::milliseconds(timeoutMs), std::chrono::milliseconds(0), 1L,
                                       std::chrono::milliseconds(std::max(1000L, timeoutMs))});
    transfer.setTls(net::Tls());
    transfer.setCancelFlag(&cancelled_);

    const std::string& method = request_.httpMethod;
    bool sendsBody = !request_.httpBody.empty() || method == "POST" || method == "PUT" || method == "PATCH";
    if (sendsBody) transfer.setPostBody(request_.httpBody);
    if (method == "HEAD") transfer.setNoBody();
    else if (method != (sendsBody ? "POST" : "GET")) transfer.setCustomMethod(method);

    std::vector<std::string> headers;
    for (const auto& [name, value] : request_.headers) headers.push_back(name + ": " + value);
    headers.emplace_back("Expect:");
    if (sendsBody && !request_.valueForHTTPHeaderField("Content-Type")) headers.emplace_back("Content-Type:");
    if (request_.cachePolicy == AMZUrlRequest::CachePolicy::reloadIgnoringLocalAndRemoteCacheData &&
        !request_.valueForHTTPHeaderField("Cache-Control")) {
        headers.emplace_back("Cache-Control: no-cache");
    }
    transfer.setHeaders(headers);

    const CURLcode rc = transfer.perform();
    AMZUrlResponse response;
    for (auto& field : net::lastResponseFields(transfer.headerLines()))
        response.headers.emplace_back(std::move(field.name), std::move(field.value));
    std::string body = std::move(transfer.body());
    const long status = transfer.responseCode();
    const std::string errorText = rc == CURLE_OK ? std::string() : transfer.errorText(rc);
    owned.reset();

    if (!completion) return;
    if (cancelled_ || rc == CURLE_ABORTED_BY_CALLBACK) return fail(urlError(kCancelledCode, "cancelled", "cancelled"));
    if (rc != CURLE_OK) {
        return fail(urlError(rc, errorText, "curl_" + std::to_string(static_cast<int>(rc))));
    }
    response.statusCode = status;
    response.url = request_.url;
    completion(std::move(body), std::move(response), std::nullopt);
}

// ---- AMZUrlConnOperation ---------------------------------------------------------------------

void AMZUrlConnOperation::set_url(std::string url) {
    std::lock_guard lock(url_mutex_);
    url_ = std::move(url);
}

void AMZUrlConnOperation::set_request(AMZUrlRequest request) {
    std::lock_guard lock(url_mutex_);
    request_ = std::move(request);
}

std::optional<std::string> AMZUrlConnOperation::url() const {
    std::lock_guard lock(url_mutex_);
    return url_;
}

std::optional<AMZUrlRequest> AMZUrlConnOperation::request() const {
    std::lock_guard lock(url_mutex_);
    return request_;
}

std::shared_ptr<AMZUrlDataTask> AMZUrlConnOperation::data_task() const {
    std::lock_guard lock(url_mutex_);
    return data_task_;
}

std::optional<VornError> AMZUrlConnOperation::run_operation() {
    auto request = build_request();
    if (!request) return request.error();
    start_data_task(*request);
    return std::nullopt;
}

Expected<AMZUrlRequest> AMZUrlConnOperation::build_request() {
    if (auto r = request()) return *r;
    if (auto u = url()) return AMZUrlRequest(*u, AMZUrlRequest::CachePolicy::useProtocolCachePolicy, 60);
    return VornError(operation_error(operation_error::invalid_parameter));
}

void AMZUrlConnOperation::start_data_task(const AMZUrlRequest& request) {
    auto self = std::static_pointer_cast<AMZUrlConnOperation>(shared_self());
    auto task = AMZUrlSession::shared().dataTask(
        request, [self](std::optional<std::string> data, std::optional<AMZUrlResponse> response, std::optional<VornError> error) {
            if (self) self->handle_response(std::move(data), std::move(response), std::move(error));
        });
    {
        std::lock_guard lock(url_mutex_);
        data_task_ = task;
    }
    // A cancel that came while the task was being made reaches it here.
    if (isCancelled() && !ensure_execution) task->cancel();
    task->resume();
}

void AMZUrlConnOperation::handle_response(std::optional<std::string> data, std::optional<AMZUrlResponse>,
                                          std::optional<VornError> error) {
    if (error) {
        finish_operation({}, std::move(error), true);
    } else if (data && !data->empty()) {
        auto processed = process_data(*data);
        if (processed) finish_operation(std::move(*processed), std::nullopt, true);
        else finish_operation({}, processed.error(), true);
    } else {
        finish_operation({}, std::nullopt, true);
    }
}

Expected<std::any> AMZUrlConnOperation::process_data(const std::string& data) { return Expected<std::any>(std::any(data)); }

void AMZUrlConnOperation::cancel() {
    if (!ensure_execution) {
        if (auto task = data_task()) task->cancel();
    }
    AMZBaseOperation::cancel();
}

Expected<std::any> AMZUrlJsonConnOperation::process_data(const std::string& data) {
    nlohmann::json value = nlohmann::json::parse(data, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded() || !(value.is_object() || value.is_array())) {
        return VornError::dataCorrupt("json_invalid");
    }
    return Expected<std::any>(std::any(std::move(value)));
}
