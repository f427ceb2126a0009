#pragma once
// One URL request as an operation: AMZUrlConnOperation delivers the response body as its result
// (a std::string of bytes), AMZUrlJsonConnOperation the body parsed as JSON (an nlohmann::json
// object or array). The HTTP status is not examined: an answer with a body is a result, a
// transport failure is the error.
//
// Requests go through libcurl on the global pool of utility quality; only http and https, no
// redirects followed, no signals. The request's timeout limits connecting and any stall of the
// transfer (no overall limit).
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tandrel/foundation/AMZBaseOperation.h"

struct AMZUrlRequest {
    enum class CachePolicy { useProtocolCachePolicy, reloadIgnoringLocalAndRemoteCacheData };

    AMZUrlRequest() = default;
    explicit AMZUrlRequest(std::string u, CachePolicy policy = CachePolicy::useProtocolCachePolicy,
                           double timeout = 60)
        : url(std::move(u)), cachePolicy(policy), timeoutInterval(timeout) {}

    std::string url;
    std::string httpMethod = "GET";
    std::vector<std::pair<std::string, std::string>> headers;  // in the order they are sent
    std::string httpBody;
    CachePolicy cachePolicy = CachePolicy::useProtocolCachePolicy;
    double timeoutInterval = 60;  // seconds

    // Sets a header, replacing one of the same name (names compare without case).
    void setValue(const std::string& value, const std::string& field);
    std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;
};

struct AMZUrlResponse {
    long statusCode = 0;
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
};

// A transfer of the shared URL session. Its completion runs once, on the transfer's thread:
// (body, response, none) on an answer, (none, none, error) on failure; a cancel before the answer
// gives the "cancelled" error.
class AMZUrlDataTask : public std::enable_shared_from_this<AMZUrlDataTask> {
public:
    using Completion = std::function<void(std::optional<std::string> data, std::optional<AMZUrlResponse> response,
                                          std::optional<VornError> error)>;
    static constexpr int64_t kCancelledCode = -999;

    AMZUrlDataTask(AMZUrlRequest request, Completion completion);
    void resume();
    void cancel();
    const AMZUrlRequest& request() const { return request_; }

private:
    void perform();
    AMZUrlRequest request_;
    Completion completion_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> resumed_{false};
};

class AMZUrlSession {
public:
    static AMZUrlSession& shared();
    std::shared_ptr<AMZUrlDataTask> dataTask(AMZUrlRequest request, AMZUrlDataTask::Completion completion);

private:
    AMZUrlSession();
};

class AMZUrlConnOperation : public AMZBaseOperation {
public:
    // Set one of them before queueing the operation.
    void set_url(std::string url);
    void set_request(AMZUrlRequest request);
    std::optional<std::string> url() const;
    std::optional<AMZUrlRequest> request() const;
    std::shared_ptr<AMZUrlDataTask> data_task() const;

    std::optional<VornError> run_operation() override;
    // The request field, else a GET of the URL (60 s timeout), else invalid_parameter.
    virtual Expected<AMZUrlRequest> build_request();
    virtual void start_data_task(const AMZUrlRequest& request);
    void handle_response(std::optional<std::string> data, std::optional<AMZUrlResponse> response,
                         std::optional<VornError> error);
    // The result made of a non-empty body: the bytes themselves.
    virtual Expected<std::any> process_data(const std::string& data);
    void cancel() override;
    std::string class_name() const override { return "AMZUrlConnOperation"; }

private:
    mutable std::mutex url_mutex_;
    std::optional<std::string> url_;
    std::optional<AMZUrlRequest> request_;
    std::shared_ptr<AMZUrlDataTask> data_task_;
};

class AMZUrlJsonConnOperation : public AMZUrlConnOperation {
public:
    // The body parsed as JSON; its top level must be an object or an array.
    Expected<std::any> process_data(const std::string& data) override;
    std::string class_name() const override { return "AMZUrlJsonConnOperation"; }
};
