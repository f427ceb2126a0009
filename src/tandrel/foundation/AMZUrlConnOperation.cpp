#include "tandrel/foundation/AMZUrlConnOperation.h"

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <mutex>

#include "platform/dispatch/Dispatch.h"

// ---- Requests --------------------------------------------------------------------------------

namespace {

bool sameField(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

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

AMZUrlSession::AMZUrlSession() { curl_global_init(CURL_GLOBAL_DEFAULT); }

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

namespace {

size_t collectBody(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

size_t collectHeader(char* data, size_t size, size_t count, void* user) {
    auto* response = static_cast<AMZUrlResponse*>(user);
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.rfind("HTTP/", 0) == 0) {
        response->headers.clear();  // a new answer (after an interim 1xx)
    } else if (auto colon = line.find(':'); colon != std::string::npos) {
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        response->headers.emplace_back(line.substr(0, colon), value);
    }
    return size * count;
}

int checkCancelled(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<std::atomic<bool>*>(user)->load() ? 1 : 0;
}

}  // namespace

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

    CURL* curl = curl_easy_init();
    if (!curl) return fail(urlError(CURLE_FAILED_INIT, "The connection could not be set up.", "curl_init"));

    std::string body;
    AMZUrlResponse response;
    char errbuf[CURL_ERROR_SIZE] = {};
    long timeoutMs = static_cast<long>(std::max(1.0, std::ceil(request_.timeoutInterval * 1000.0)));

    curl_easy_setopt(curl, CURLOPT_URL, request_.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, std::max(1L, (timeoutMs + 999) / 1000));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, collectHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, checkCancelled);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &cancelled_);

    const std::string& method = request_.httpMethod;
    bool sendsBody = !request_.httpBody.empty() || method == "POST" || method == "PUT" || method == "PATCH";
    if (sendsBody) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request_.httpBody.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request_.httpBody.size()));
    }
    if (method == "HEAD") curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    else if (method != (sendsBody ? "POST" : "GET")) curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());

    curl_slist* headers = nullptr;
    for (const auto& [name, value] : request_.headers) headers = curl_slist_append(headers, (name + ": " + value).c_str());
    headers = curl_slist_append(headers, "Expect:");
    if (sendsBody && !request_.valueForHTTPHeaderField("Content-Type")) headers = curl_slist_append(headers, "Content-Type:");
    if (request_.cachePolicy == AMZUrlRequest::CachePolicy::reloadIgnoringLocalAndRemoteCacheData &&
        !request_.valueForHTTPHeaderField("Cache-Control")) {
        headers = curl_slist_append(headers, "Cache-Control: no-cache");
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);

    CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);

    if (!completion) return;
    if (cancelled_ || rc == CURLE_ABORTED_BY_CALLBACK) return fail(urlError(kCancelledCode, "cancelled", "cancelled"));
    if (rc != CURLE_OK) {
        std::string text = errbuf[0] ? std::string(errbuf) : std::string(curl_easy_strerror(rc));
        return fail(urlError(rc, text, "curl_" + std::to_string(static_cast<int>(rc))));
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
