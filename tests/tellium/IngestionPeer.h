#pragma once
// The telemetry ingestion peer (tests/peers/ingestion.py) as the tests see it: a tenant of their
// own on it, the answers it is told to give, and the requests it recorded.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "support/RefusingPort.h"
namespace telltest {

class IngestionPeer {
public:
    // Empty url() and a reason when the peer did not run.
    IngestionPeer() {
        const char* dir = std::getenv("DRAVIX_PEERS_DIR");
        if (!dir) {
            skipReason_ = "DRAVIX_PEERS_DIR is not set";
            return;
        }
        std::ifstream in(std::filesystem::path(dir) / "ingestion.env");
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("URL=", 0) == 0) {
                origin_ = line.substr(4);
            } else if (line.rfind("HTTPS_URL=", 0) == 0) {
                httpsOrigin_ = line.substr(10);
            }
        }
        if (origin_.empty()) {
            skipReason_ = "the peer_ingestion fixture did not run";
        }
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        tenant_ = std::string(info ? info->test_suite_name() : "t") + "." + (info ? info->name() : "t") + "." +
                  std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
        for (char& c : tenant_) {
            if (c == '/') c = '_';
        }
    }

    const std::string& skipReason() const { return skipReason_; }
    // The base URL of this test's tenant: the endpoints append "/logs?..." and so on.
    std::string baseUrl() const { return origin_ + "/t/" + tenant_; }
    // The same over HTTPS, with a certificate of a CA made for the run (which nobody trusts).
    std::string httpsBaseUrl() const { return httpsOrigin_ + "/t/" + tenant_; }

    // The answers for the next requests, in order (a JSON list; then 200 for everything).
    void plan(const nlohmann::json& answers) const { post(origin_ + "/_ctl/" + tenant_ + "/plan", answers.dump()); }

    nlohmann::json requests() const {
        const std::string text = get(origin_ + "/_ctl/" + tenant_ + "/requests");
        return nlohmann::json::parse(text, nullptr, false);
    }

    // Waits until the peer has recorded at least `count` requests.
    nlohmann::json waitForRequests(std::size_t count, std::chrono::seconds timeout = std::chrono::seconds(30)) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        nlohmann::json all = requests();
        while (all.size() < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            all = requests();
        }
        return all;
    }

private:
    static size_t collect(char* bytes, size_t size, size_t count, void* out) {
        static_cast<std::string*>(out)->append(bytes, size * count);
        return size * count;
    }
    static std::string get(const std::string& url, const std::string* body = nullptr) {
        std::string received;
        CURL* easy = curl_easy_init();
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_TIMEOUT, 20L);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &collect);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &received);
        if (body) {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body->c_str());
        }
        const CURLcode code = curl_easy_perform(easy);
        curl_easy_cleanup(easy);
        EXPECT_EQ(code, CURLE_OK) << url;
        return received;
    }
    static void post(const std::string& url, const std::string& body) { get(url, &body); }

    std::string origin_;
    std::string httpsOrigin_;
    std::string tenant_;
    std::string skipReason_;
};

using testsupport::RefusingPort;

}  // namespace telltest
