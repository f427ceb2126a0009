// The HTTP client against the ingestion peer on 127.0.0.1: what goes on the wire, which answers
// are retried and when (on a clock the tests move), pausing and resuming with the network, and
// giving up for good.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <condition_variable>
#include <regex>

#include "IngestionPeer.h"
#include "TelliumTestSupport.h"
#include "platform/dispatch/Dispatch.h"
#include "tellium/http/TLMHttpClient.h"
#include "tellium/http/TLMHttpUtil.h"
#include "TestReachability.h"

using namespace std::chrono_literals;
using telltest::IngestionPeer;

namespace {

using telltest::TestReachability;

struct Completion {
    std::optional<std::string> data;
    std::shared_ptr<TLMHttpResponse> response;
    std::optional<TLMError> error;
};

// Keeps every completion of the requests it hands out.
class Completions {
public:
    TLMHttpRequestCompletionHandler handler() {
        return [this](std::optional<std::string> data, std::shared_ptr<TLMHttpResponse> response,
                      std::optional<TLMError> error) {
            std::lock_guard<std::mutex> lock(mutex_);
            done_.push_back({std::move(data), std::move(response), std::move(error)});
            changed_.notify_all();
        };
    }
    std::vector<Completion> waitFor(std::size_t count, std::chrono::seconds timeout = 30s) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return done_.size() >= count; });
        return done_;
    }
    std::size_t count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return done_.size();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Completion> done_;
};

class HttpClientTest : public telltest::TelliumTest {
protected:
    void SetUp() override {
        TelliumTest::SetUp();
        log_ = std::make_unique<telltest::LogRecorder>();
        if (!peer_.skipReason().empty()) {
            GTEST_SKIP() << peer_.skipReason();
        }
    }
    void TearDown() override {
        client_.reset();
        log_.reset();
        TelliumTest::TearDown();
    }
    std::shared_ptr<TLMHttpClient> makeClient(TLMHttpTimeouts timeouts = TLMHttpTimeouts()) {
        client_ = TLMHttpClient::initWithMaxHttpConnectionsPerHost(std::nullopt, reachability_, timeouts);
        return client_;
    }
    bool pumpUntil(const std::function<bool()>& done) { return dispatch::pumpMainQueueUntil(done, 30s); }

    std::unique_ptr<telltest::LogRecorder> log_;
    IngestionPeer peer_;
    std::shared_ptr<TestReachability> reachability_ = std::make_shared<TestReachability>();
    std::shared_ptr<TLMHttpClient> client_;
};

const std::vector<double> kDefault = TLMHttpClient::defaultRetryIntervals();

TEST_F(HttpClientTest, BodiesOf1400BytesOrMoreGoGzipAndBodiesGetAJsonContentTypeUnlessTheCallerGaveOne) {
    struct Case {
        const char* name;
        std::optional<std::string> body;
        TLMHttpHeaders headers;
        bool gzip;
        std::optional<std::string> contentType;
    };
    const std::vector<Case> cases = {
        {"1399 bytes", std::string(1399, 'a'), {}, false, "application/json"},
        {"1400 bytes", std::string(1400, 'b'), {}, true, "application/json"},
        {"no body", std::nullopt, {}, false, std::nullopt},
        {"caller's type", std::string("x=1"), {{"Content-Type", "text/plain"}}, false, "text/plain"},
    };
    auto client = makeClient();
    Completions completions;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        client->sendAsync(peer_.baseUrl() + "/plain", "POST", cases[i].headers, cases[i].body, kDefault, true,
                          completions.handler());
        completions.waitFor(i + 1);  // one at a time, so the peer records them in order
    }
    const auto requests = peer_.waitForRequests(cases.size());
    ASSERT_EQ(requests.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const auto& request = requests[i];
        EXPECT_EQ(request["gzip"].get<bool>(), cases[i].gzip);
        EXPECT_EQ(request["headers"].contains("Content-Encoding"), cases[i].gzip);
        EXPECT_EQ(request["body"].get<std::string>(), cases[i].body.value_or(""));
        if (cases[i].contentType) {
            EXPECT_EQ(request["headers"].value("Content-Type", ""), *cases[i].contentType);
        } else {
            EXPECT_FALSE(request["headers"].contains("Content-Type"));
        }
        if (cases[i].gzip) {
            EXPECT_LT(request["size"].get<int>(), 1400);
        }
    }
}

TEST_F(HttpClientTest, SuccessCompletesAndAnyOtherFailureThatCannotRecoverDisablesTheClientForGood) {
    struct Case {
        int status;
        bool disables;
    };
    for (const Case& c : std::vector<Case>{{200, false}, {204, false}, {400, true}, {401, true}, {403, true}, {404, true}}) {
        SCOPED_TRACE(c.status);
        IngestionPeer peer;
        peer.plan({{{"status", c.status}, {"body", c.status == 204 ? "" : "answer"}}});
        auto client = makeClient();
        Completions completions;
        client->sendAsync(peer.baseUrl() + "/plain", "POST", {}, std::string("{}"), completions.handler());
        auto done = completions.waitFor(1);
        ASSERT_EQ(done.size(), 1u);
        ASSERT_TRUE(done[0].response);
        EXPECT_EQ(done[0].response->statusCode, c.status);
        EXPECT_FALSE(done[0].error);
        EXPECT_EQ(client->isEnabled(), !c.disables);
        EXPECT_EQ(client->pendingCallCount(), 0u);
        if (c.disables) {
            // Every later request is refused at once.
            client->sendAsync(peer.baseUrl() + "/plain", "POST", {}, std::string("{}"), completions.handler());
            done = completions.waitFor(2);
            ASSERT_EQ(done.size(), 2u);
            ASSERT_TRUE(done[1].error);
            EXPECT_EQ(done[1].error->domain, kTLMErrorDomain);
            EXPECT_EQ(done[1].error->code, kTLMDisabledErrorCode);
            EXPECT_EQ(done[1].error->localizedDescription, "The service is disabled.");
            EXPECT_EQ(peer.requests().size(), 1u);
        }
    }
}

TEST_F(HttpClientTest, RecoverableAnswersAreRetriedWithinTheirWindowsAndAFourthPausesTheClientUntilTheLongestIntervalPassesAgain) {
    telltest::ScopedClock clock(telltest::utc(2026, 3, 1, 12, 0));
    peer_.plan({{{"status", 500}}, {{"status", 503}}, {{"status", 408}}, {{"status", 429}}});
    auto client = makeClient();
    Completions completions;
    client->sendAsync(peer_.baseUrl() + "/plain", "POST", {}, std::string("{\"logs\":[]}"), completions.handler());

    struct Window {
        long status;
        long from, below;
    };
    const std::vector<Window> windows = {{500, 5000, 10000}, {503, 150000, 300000}, {408, 600000, 1200000}};
    for (std::size_t attempt = 0; attempt < windows.size(); ++attempt) {
        const long delay = log_->waitForRetryPlan(static_cast<int>(attempt), windows[attempt].status);
        EXPECT_GE(delay, windows[attempt].from);
        EXPECT_LT(delay, windows[attempt].below);
        EXPECT_EQ(peer_.requests().size(), attempt + 1);  // the retry waits for its time
        clock->advance(std::chrono::milliseconds(delay));
        ASSERT_EQ(peer_.waitForRequests(attempt + 2).size(), attempt + 2);
    }
    auto done = completions.waitFor(1);
    ASSERT_EQ(done.size(), 1u);
    ASSERT_TRUE(done[0].response);
    EXPECT_EQ(done[0].response->statusCode, 429);
    EXPECT_TRUE(client->isPaused());
    EXPECT_TRUE(client->isEnabled());

    // Paused, it keeps what it is given; once the longest interval has passed again it goes on.
    client->sendAsync(peer_.baseUrl() + "/plain", "POST", {}, std::string("{}"), completions.handler());
    EXPECT_EQ(client->pendingCallCount(), 1u);
    clock->advance(1200s);
    done = completions.waitFor(2);
    ASSERT_EQ(done.size(), 2u);
    ASSERT_TRUE(done[1].response);
    EXPECT_EQ(done[1].response->statusCode, 200);
    EXPECT_FALSE(client->isPaused());
    EXPECT_EQ(peer_.requests().size(), 5u);
}

TEST_F(HttpClientTest, TheServersRetryAfterIsHonouredAndOneThatIsNotANumberOrNegativeFallsBackToTheBackOff) {
    struct Case {
        const char* retryAfter;
        long from, below;
    };
    const std::vector<Case> cases = {{"2500", 2500, 2501}, {"abc", 5000, 10000}, {"-5", 5000, 10000}};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.retryAfter);
        telltest::ScopedClock clock(telltest::utc(2026, 3, 1, 12, 0));
        IngestionPeer peer;
        peer.plan({{{"status", 429}, {"retry_after", c.retryAfter}}});
        auto client = makeClient();
        Completions completions;
        client->sendAsync(peer.baseUrl() + "/plain", "POST", {}, std::string("{}"), completions.handler());
        const long delay = log_->waitForRetryPlan(0, 429, i);
        EXPECT_GE(delay, c.from);
        EXPECT_LT(delay, c.below);
        clock->advance(std::chrono::milliseconds(delay));
        const auto done = completions.waitFor(1);
        ASSERT_EQ(done.size(), 1u);
        ASSERT_TRUE(done[0].response);
        EXPECT_EQ(done[0].response->statusCode, 200);
        EXPECT_EQ(peer.requests().size(), 2u);
    }
}

TEST_F(HttpClientTest, TransportFailuresOnAReachableNetworkCompleteWithTheirErrorAndLeaveNothingPending) {
    telltest::RefusingPort refusing;
    struct Case {
        const char* name;
        std::string url;
        const char* plan;
        long curlCode;
    };
    const std::vector<Case> cases = {
        {"refused", refusing.url() + "/plain", nullptr, 7},
        {"hung", "", "hang", 28},
        {"dropped", "", "drop", 52},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IngestionPeer peer;
        if (c.plan) {
            peer.plan({{{c.plan, true}}});
        }
        TLMHttpTimeouts timeouts;
        timeouts.whole = 1500ms;
        auto client = makeClient(timeouts);
        Completions completions;
        client->sendAsync(c.url.empty() ? peer.baseUrl() + "/plain" : c.url, "POST", {}, std::string("{}"),
                          completions.handler());
        const auto done = completions.waitFor(1);
        ASSERT_EQ(done.size(), 1u);
        EXPECT_FALSE(done[0].response);
        ASSERT_TRUE(done[0].error);
        EXPECT_EQ(done[0].error->domain, kTLMCurlErrorDomain);
        EXPECT_EQ(done[0].error->code, c.curlCode);
        EXPECT_EQ(client->pendingCallCount(), 0u);
        EXPECT_FALSE(client->isPaused());
        EXPECT_TRUE(client->isEnabled());
    }
}

TEST_F(HttpClientTest, AServerWhoseCertificateIsNotTrustedIsNeverTalkedToAndTheCallerHearsWhy) {
    auto client = makeClient();
    Completions completions;
    client->sendAsync(peer_.httpsBaseUrl() + "/plain", "POST", {}, std::string("{}"), completions.handler());
    const auto done = completions.waitFor(1);
    ASSERT_EQ(done.size(), 1u);
    ASSERT_TRUE(done[0].error);
    EXPECT_EQ(done[0].error->domain, kTLMCurlErrorDomain);
    EXPECT_EQ(done[0].error->code, 60);  // peer certificate cannot be authenticated
    EXPECT_EQ(client->pendingCallCount(), 0u);
    EXPECT_TRUE(client->isEnabled());
    EXPECT_TRUE(peer_.requests().empty());
}

TEST_F(HttpClientTest, GoingUnreachablePausesAndCallsWaitUntilTheNetworkComesBack) {
    auto client = makeClient();
    ASSERT_TRUE(pumpUntil([&] { return log_->contains("Internet connection is up."); }));
    reachability_->set(TLMNotReachable);
    ASSERT_TRUE(pumpUntil([&] { return client->isPaused(); }));

    Completions completions;
    client->sendAsync(peer_.baseUrl() + "/plain", "POST", {}, std::string("{}"), completions.handler());
    EXPECT_EQ(client->pendingCallCount(), 1u);
    EXPECT_EQ(completions.count(), 0u);

    reachability_->set(TLMReachableViaWiFi);
    ASSERT_TRUE(pumpUntil([&] { return completions.count() == 1; }));
    EXPECT_FALSE(client->isPaused());
    EXPECT_EQ(peer_.requests().size(), 1u);
}

TEST_F(HttpClientTest, AFailureWhileTheNetworkIsDownWaitsForTheNetworkWithoutCompleting) {
    telltest::RefusingPort refusing;
    auto client = makeClient();
    ASSERT_TRUE(pumpUntil([&] { return log_->contains("Internet connection is up."); }));
    // The request leaves while the watcher still says "up" and fails once it says "down".
    reachability_->setStatusOnlyForTest(TLMNotReachable);
    Completions completions;
    client->sendAsync(refusing.url() + "/plain", "POST", {}, std::string("{}"), completions.handler());
    ASSERT_TRUE(pumpUntil([&] { return log_->contains("HTTP call failed with error: Internet connection is down."); }));
    EXPECT_EQ(completions.count(), 0u);
    EXPECT_EQ(client->pendingCallCount(), 1u);

    // The watcher's word of the loss comes, then the network is back: the call is sent again and
    // this time its failure is the caller's.
    reachability_->set(TLMNotReachable);
    ASSERT_TRUE(pumpUntil([&] { return client->isPaused(); }));
    reachability_->set(TLMReachableViaWiFi);
    ASSERT_TRUE(pumpUntil([&] { return completions.count() == 1; }));
    EXPECT_EQ(client->pendingCallCount(), 0u);
}

TEST_F(HttpClientTest, ADisableThatDeletesDataCancelsEveryPendingCallOnce) {
    auto client = makeClient();
    client->pause();
    Completions completions;
    client->sendAsync(peer_.baseUrl() + "/plain", "POST", {}, std::string("{}"), completions.handler());
    client->sendAsync(peer_.baseUrl() + "/plain", "POST", {}, std::string("{}"), completions.handler());
    client->setEnabled(false, true);
    ASSERT_EQ(completions.count(), 2u);
    for (const auto& done : completions.waitFor(2)) {
        ASSERT_TRUE(done.error);
        EXPECT_EQ(done.error->code, kTLMCanceledErrorCode);
        EXPECT_EQ(done.error->localizedDescription, "The operation was canceled.");
    }
    EXPECT_EQ(client->pendingCallCount(), 0u);
    // Back on the network while disabled: nothing leaves.
    reachability_->set(TLMReachableViaWiFi);
    dispatch::drainMainQueue();
    EXPECT_TRUE(client->isPaused());
    EXPECT_TRUE(peer_.requests().empty());
}

TEST(HttpUtilTest, StatusClasses) {
    for (long status : {0L, 408L, 429L, 500L, 503L, 599L}) {
        EXPECT_TRUE(TLMHttpUtil::isRecoverableError(status)) << status;
    }
    for (long status : {200L, 204L, 400L, 401L, 403L, 404L}) {
        EXPECT_FALSE(TLMHttpUtil::isRecoverableError(status)) << status;
    }
    EXPECT_TRUE(TLMHttpUtil::isSuccessStatusCode(200));
    EXPECT_TRUE(TLMHttpUtil::isSuccessStatusCode(299));
    EXPECT_FALSE(TLMHttpUtil::isSuccessStatusCode(300));
}

TEST(HttpUtilTest, SecretsKeepOnlyTheirLastEightCharacters) {
    struct Case {
        std::string in, out;
    };
    const std::vector<Case> cases = {
        {"0123456789abcdef0123456789abcdef0123", std::string(28, '*') + "cdef0123"},
        {"12345678", "********"},
        {"", ""},
        {"123456789", "*23456789"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TLMHttpUtil::hideSecret(c.in), c.out) << c.in;
    }
    EXPECT_EQ(TLMHttpUtil::hideSecretInString("App-Secret: 123456789, again 123456789", "123456789"),
              "App-Secret: *23456789, again *23456789");
}

// ---- reachability by the collector's own address, in a network namespace with only loopback ----

// Answers every request on 127.0.0.1 with 200 and an empty body.
class LoopbackAnswerer {
public:
    LoopbackAnswerer() {
        listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(listen_, 4) != 0 ||
            getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~LoopbackAnswerer() {
        if (listen_ >= 0) shutdown(listen_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        if (listen_ >= 0) close(listen_);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/logs"; }
    int port() const { return port_; }

private:
    void serve() {
        for (;;) {
            const int peer = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (peer < 0) return;
            std::string request;
            std::array<char, 4096> chunk{};
            std::size_t end = std::string::npos;
            while ((end = request.find("\r\n\r\n")) == std::string::npos) {
                const ssize_t n = recv(peer, chunk.data(), chunk.size(), 0);
                if (n <= 0) break;
                request.append(chunk.data(), static_cast<std::size_t>(n));
            }
            std::size_t body = 0;
            if (const auto at = request.find("Content-Length: "); at != std::string::npos)
                body = std::strtoul(request.c_str() + at + 16, nullptr, 10);
            while (end != std::string::npos && request.size() < end + 4 + body) {
                const ssize_t n = recv(peer, chunk.data(), chunk.size(), 0);
                if (n <= 0) break;
                request.append(chunk.data(), static_cast<std::size_t>(n));
            }
            const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            (void)!send(peer, answer.data(), answer.size(), MSG_NOSIGNAL);
            close(peer);
        }
    }

    int listen_ = -1;
    int port_ = 0;
    std::thread thread_;
};

bool bringLoopbackUp() {
    const int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = sock >= 0 && ioctl(sock, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    up = up && ioctl(sock, SIOCSIFFLAGS, &request) == 0;
    if (sock >= 0) close(sock);
    return up;
}

// A route to 192.0.2.0/24 (a documentation network) through loopback: a routed network that is
// not this machine, inside the namespace only.
bool addRouteToDocumentationNetwork() {
    const int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    rtentry route{};
    auto* destination = reinterpret_cast<sockaddr_in*>(&route.rt_dst);
    destination->sin_family = AF_INET;
    inet_pton(AF_INET, "192.0.2.0", &destination->sin_addr);
    auto* mask = reinterpret_cast<sockaddr_in*>(&route.rt_genmask);
    mask->sin_family = AF_INET;
    inet_pton(AF_INET, "255.255.255.0", &mask->sin_addr);
    reinterpret_cast<sockaddr_in*>(&route.rt_gateway)->sin_family = AF_INET;
    route.rt_flags = RTF_UP;
    char device[] = "lo";
    route.rt_dev = device;
    const bool added = sock >= 0 && ioctl(sock, SIOCADDRT, &route) == 0;
    if (sock >= 0) close(sock);
    return added;
}

// The part that runs inside the namespace (see the test below).
void reachabilityWithOnlyLoopback() {
    ASSERT_TRUE(bringLoopbackUp()) << std::strerror(errno);
    struct Case {
        const char* host;  // empty: none watched
        bool routeAdded;
        TLMNetworkStatus expected;
    };
    const Case cases[] = {
        {"", false, TLMNotReachable},           {"127.0.0.1", false, TLMReachableViaWiFi},
        {"[::1]", false, TLMReachableViaWiFi},  {"localhost", false, TLMReachableViaWiFi},
        {"192.0.2.7", false, TLMNotReachable},  {"192.0.2.7", true, TLMReachableViaWiFi},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        if (c.routeAdded) {
            ASSERT_TRUE(addRouteToDocumentationNetwork()) << std::strerror(errno);
        }
        auto reachability = TLM_Reachability::reachabilityForInternetConnection();
        if (*c.host) reachability->watchHost(c.host);
        EXPECT_EQ(reachability->currentReachabilityStatus(), c.expected);
    }

    // A collector on this machine: the client that found the network down reaches it.
    telltest::LogRecorder log;
    LoopbackAnswerer collector;
    ASSERT_NE(collector.port(), 0);
    auto client = TLMHttpClient::initWithMaxHttpConnectionsPerHost(std::nullopt);
    ASSERT_TRUE(dispatch::pumpMainQueueUntil([&] { return log.contains("Internet connection is down."); }, 10s));
    Completions completions;
    client->sendAsync(collector.url(), "POST", {}, std::string("{}"), completions.handler());
    ASSERT_TRUE(dispatch::pumpMainQueueUntil([&] { return completions.count() == 1; }, 10s))
        << "the call waits for a default route";
    const auto done = completions.waitFor(1);
    ASSERT_TRUE(done[0].response);
    EXPECT_EQ(done[0].response->statusCode, 200);
    EXPECT_FALSE(client->isPaused());
}

TEST(RouteReachability, ACollectorOnThisMachineOrARoutedNetworkIsReachedWithoutADefaultRoute) {
    if (std::getenv("DRAVIX_NETNS_PROBE")) {
        reachabilityWithOnlyLoopback();
        return;
    }
    if (std::system("unshare -rn true >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "this machine does not let an unprivileged process make a user and network namespace "
                        "(unshare -rn failed)";
    }
    std::string output;
    EXPECT_EQ(telltest::runThisProgram("DRAVIX_NETNS_PROBE=1 unshare -rn", "RouteReachability.*", &output), 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

}  // namespace
