// The HTTP layer against real servers on 127.0.0.1: the telemetry ingestion peer (status, header
// fields of the answer, TLS verified), Apache WebDAV (an upload read back, authentication
// refused) and a listener that never speaks (a wakeup from another thread, the total timeout,
// the cancel flag).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "platform/net/Curl.h"
#include "platform/net/HttpHeaders.h"
#include "tellium/IngestionPeer.h"

namespace {

using namespace std::chrono_literals;

std::map<std::string, std::string> peerEnv(const std::string& kind) {
    std::map<std::string, std::string> values;
    const char* dir = std::getenv("DRAVIX_PEERS_DIR");
    if (!dir) return values;
    std::ifstream in(std::filesystem::path(dir) / (kind + ".env"));
    for (std::string line; std::getline(in, line);) {
        auto eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

#define SKIP_WITHOUT(env, kind)                                                   \
    if ((env).count("SKIP")) GTEST_SKIP() << kind " is not available: " << (env)["SKIP"]; \
    if (!(env).count("URL")) GTEST_SKIP() << "the peer_" kind " fixture did not run"

// Runs one transfer on its own multi handle until it ends, or until `stop` is set (checked each
// time the wait for traffic ends). `waiting` is set once the first wait begins.
CURLcode drive(net::Multi& multi, net::Transfer& transfer, const std::atomic<bool>* stop = nullptr,
               std::atomic<bool>* waiting = nullptr, std::chrono::milliseconds pollFor = 1000ms) {
    multi.add(transfer.easy());
    CURLcode result = CURLE_OK;
    for (bool done = false; !done;) {
        if (stop && stop->load()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        int running = 0;
        EXPECT_TRUE(multi.perform(running));
        for (const auto& [easy, code] : multi.takeFinished()) {
            if (easy == transfer.easy()) {
                result = code;
                done = true;
            }
        }
        if (done) break;
        if (waiting) *waiting = true;
        multi.poll(pollFor);
    }
    multi.remove(transfer.easy());
    return result;
}

TEST(NetPeers, IngestionAnswerStatusAndFieldsOfTheLastAnswer) {
    telltest::IngestionPeer peer;
    if (!peer.skipReason().empty()) GTEST_SKIP() << peer.skipReason();
    peer.plan(nlohmann::json::array({{{"status", 429}, {"retry_after", "2500"}}}));

    net::Transfer transfer;
    const std::string body = "{}";
    transfer.setUrl(peer.baseUrl() + "/logs?api-version=1.0.0");
    transfer.setProtocols("http,https");
    transfer.setTimeouts(net::Timeouts{10s, 30s});
    transfer.setHeaders({"App-Secret: s", "Install-ID: i", "Content-Type: application/json", "Expect:"});
    transfer.setPostBody(body);
    net::Multi multi;
    ASSERT_EQ(drive(multi, transfer), CURLE_OK);
    EXPECT_EQ(transfer.responseCode(), 429);
    std::string retryAfter;
    for (const auto& field : net::lastResponseFields(transfer.headerLines())) {
        if (net::equalsIgnoringCase(field.name, "X-TLM-Retry-After-Ms")) retryAfter = field.value;
    }
    EXPECT_EQ(retryAfter, "2500");
    auto seen = peer.waitForRequests(1);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0]["headers"]["App-Secret"], "s");
}

TEST(NetPeers, WakeupEndsTheWaitForAServerThatNeverAnswers) {
    auto env = peerEnv("silent");
    if (env.count("SKIP")) GTEST_SKIP() << env["SKIP"];
    if (!env.count("PORT")) GTEST_SKIP() << "the peer_silent fixture did not run";

    net::Transfer transfer;
    transfer.setUrl("http://127.0.0.1:" + env["PORT"] + "/");
    transfer.setTimeouts(net::Timeouts{10s, 0ms});
    net::Multi multi;
    std::atomic<bool> stop{false};
    std::atomic<bool> waiting{false};
    std::thread canceller([&] {
        while (!waiting) std::this_thread::yield();
        stop = true;
        multi.wakeup();
    });
    // The server never answers and the waits are long: only the wakeup can end the transfer.
    EXPECT_EQ(drive(multi, transfer, &stop, &waiting, std::chrono::minutes(5)), CURLE_ABORTED_BY_CALLBACK);
    canceller.join();
}

TEST(NetPeers, HttpsIsVerifiedByDefault) {
    telltest::IngestionPeer peer;
    if (!peer.skipReason().empty()) GTEST_SKIP() << peer.skipReason();
    if (peer.httpsBaseUrl().rfind("https://", 0) != 0) GTEST_SKIP() << "no HTTPS on the peer";
    net::Transfer transfer;
    transfer.setUrl(peer.httpsBaseUrl() + "/logs");
    transfer.setTimeouts(net::Timeouts{10s, 30s});
    EXPECT_EQ(transfer.perform(), CURLE_PEER_FAILED_VERIFICATION);
    EXPECT_FALSE(transfer.errorText(CURLE_PEER_FAILED_VERIFICATION).empty());
}

TEST(NetPeers, ApacheUploadReadBackAndRefusedLogin) {
    auto env = peerEnv("apache");
    SKIP_WITHOUT(env, "apache");
    const std::string url = env["URL"] + "/net-layer.txt";
    const std::string bytes = "one\r\ntwo\0three";

    net::Transfer put;
    put.setUrl(url);
    put.setTimeouts(net::Timeouts{10s, 30s});
    curl_easy_setopt(put.easy(), CURLOPT_USERNAME, env["USER"].c_str());
    curl_easy_setopt(put.easy(), CURLOPT_PASSWORD, env["PASSWORD"].c_str());
    curl_easy_setopt(put.easy(), CURLOPT_UPLOAD, 1L);
    put.setUpload(bytes);
    ASSERT_EQ(put.perform(), CURLE_OK);
    EXPECT_EQ(put.responseCode(), 201);

    // The same handle again after reset: nothing of the upload is left.
    put.reset();
    put.clearReceived();
    put.setUrl(url);
    put.setTimeouts(net::Timeouts{10s, 30s});
    curl_easy_setopt(put.easy(), CURLOPT_USERNAME, env["USER"].c_str());
    curl_easy_setopt(put.easy(), CURLOPT_PASSWORD, env["PASSWORD"].c_str());
    ASSERT_EQ(put.perform(), CURLE_OK);
    EXPECT_EQ(put.responseCode(), 200);
    EXPECT_EQ(put.body(), bytes);
    EXPECT_EQ(net::fieldValues(put.headerLines(), "content-length"), std::vector<std::string>{std::to_string(bytes.size())});

    net::Transfer refused;
    refused.setUrl(url);
    refused.setTimeouts(net::Timeouts{10s, 30s});
    ASSERT_EQ(refused.perform(), CURLE_OK);
    EXPECT_EQ(refused.responseCode(), 401);
    EXPECT_FALSE(net::fieldValues(refused.headerLines(), "WWW-Authenticate").empty());
    auto status = net::parseStatusLine(refused.headerLines().front());
    ASSERT_TRUE(status);
    EXPECT_EQ(status->code, 401);
}

TEST(NetPeers, TotalTimeoutEndsASilentServer) {
    auto env = peerEnv("silent");
    if (env.count("SKIP")) GTEST_SKIP() << env["SKIP"];
    if (!env.count("PORT")) GTEST_SKIP() << "the peer_silent fixture did not run";
    net::Transfer transfer;
    transfer.setUrl("http://127.0.0.1:" + env["PORT"] + "/");
    transfer.setTimeouts(net::Timeouts{5s, 300ms});
    EXPECT_EQ(transfer.perform(), CURLE_OPERATION_TIMEDOUT);
}

TEST(NetPeers, CancelFlagEndsABlockingTransfer) {
    auto env = peerEnv("silent");
    if (env.count("SKIP")) GTEST_SKIP() << env["SKIP"];
    if (!env.count("PORT")) GTEST_SKIP() << "the peer_silent fixture did not run";
    net::Transfer transfer;
    transfer.setUrl("http://127.0.0.1:" + env["PORT"] + "/");
    transfer.setTimeouts(net::Timeouts{5s, 0ms});
    std::atomic<bool> cancelled{true};
    transfer.setCancelFlag(&cancelled);
    EXPECT_EQ(transfer.perform(), CURLE_ABORTED_BY_CALLBACK);
}

}  // namespace
