// The log-ingestion and Event Collector endpoints against the ingestion peer on 127.0.0.1: URLs,
// headers, bodies, the gates in front of sending, and what reaches the log of the SDK.
#include <gtest/gtest.h>

#include <condition_variable>
#include <set>
#include <nlohmann/json.hpp>

#include "IngestionPeer.h"
#include "TelliumTestSupport.h"
#include "tellium/TLMTellium.h"
#include "tellium/http/TLMHttpClient.h"
#include "tellium/ingestion/TLMHttpIngestion.h"
#include "tellium/util/TLMUtility.h"

using namespace std::chrono_literals;
using telltest::IngestionPeer;

namespace {

struct Sent {
    std::optional<std::string> callId;
    std::shared_ptr<TLMHttpResponse> response;
    std::optional<std::string> data;
    std::optional<TLMError> error;
};

class SentBatches {
public:
    TLMSendAsyncCompletionHandler handler() {
        return [this](std::optional<std::string> callId, std::shared_ptr<TLMHttpResponse> response,
                      std::optional<std::string> data, std::optional<TLMError> error) {
            std::lock_guard<std::mutex> lock(mutex_);
            done_.push_back({std::move(callId), std::move(response), std::move(data), std::move(error)});
            changed_.notify_all();
        };
    }
    std::vector<Sent> waitFor(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, 30s, [&] { return done_.size() >= count; });
        return done_;
    }
    std::size_t count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return done_.size();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Sent> done_;
};

class NetworkUp final : public TLM_Reachability {
public:
    TLMNetworkStatus currentReachabilityStatus() override { return TLMReachableViaWiFi; }
    bool startNotifier() override { return true; }
    void stopNotifier() override {}
};

const char* kInstallId = "5B3F1D2E-9A44-4C6B-8E21-0F7A6C3D9B10";
const char* kSecret = "0123abcd-4567-89ef-0123-456789abcdef";  // 36 characters

class IngestionTest : public telltest::TelliumTest {
protected:
    void SetUp() override {
        TelliumTest::SetUp();
        TLMTellium::resetForTesting();
        TLMTicketCache::sharedInstance().clearCache();
        log_ = std::make_unique<telltest::LogRecorder>();
        if (!peer_.skipReason().empty()) {
            GTEST_SKIP() << peer_.skipReason();
        }
        client_ = TLMHttpClient::initWithMaxHttpConnectionsPerHost(std::nullopt, std::make_shared<NetworkUp>());
    }
    void TearDown() override {
        client_.reset();
        log_.reset();
        TLMTicketCache::sharedInstance().clearCache();
        TLMTellium::resetForTesting();
        TelliumTest::TearDown();
    }

    static std::shared_ptr<TLMAbstractLog> eventLog(int n) {
        auto log = std::make_shared<TLMLogWithProperties>();
        log->type = "event";
        log->timestamp = telltest::utc(2026, 1, 2, 3, 4, 5, n % 1000);
        log->device = telltest::sampleDevice();
        log->sid = "6D1E5F60-0000-4000-8000-00000000000" + std::to_string(n % 10);
        log->properties = std::map<std::string, std::string>{{"n", std::to_string(n)}};
        return log;
    }
    static std::shared_ptr<TLMLogContainer> container(std::size_t count, const std::string& batchId = "batch-1") {
        std::vector<std::shared_ptr<TLMAbstractLog>> logs;
        for (std::size_t i = 0; i < count; ++i) logs.push_back(eventLog(static_cast<int>(i)));
        return std::make_shared<TLMLogContainer>(batchId, logs);
    }
    std::shared_ptr<TLMTelliumIngestion> logIngestion() {
        auto ingestion = TLMTelliumIngestion::initWithHttpClient(client_, peer_.baseUrl(), kInstallId);
        ingestion->setAppSecret(std::string(kSecret));
        return ingestion;
    }

    std::unique_ptr<telltest::LogRecorder> log_;
    IngestionPeer peer_;
    std::shared_ptr<TLMHttpClient> client_;
};

TEST_F(IngestionTest, ABatchIsPostedToTheLogsPathWithTheAppSecretAndInstallIdAndTheBatchIdComesBack) {
    auto ingestion = logIngestion();
    EXPECT_EQ(ingestion->sendURL(), peer_.baseUrl() + "/logs?api-version=1.0.0");
    auto batch = container(3);
    SentBatches sent;
    ingestion->sendAsync(batch, sent.handler());
    const auto done = sent.waitFor(1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].callId, "batch-1");
    ASSERT_TRUE(done[0].response);
    EXPECT_EQ(done[0].response->statusCode, 200);

    const auto requests = peer_.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_TRUE(request["problems"].empty()) << request["problems"].dump();
    EXPECT_EQ(request["path"], "/logs");
    EXPECT_EQ(request["query"], "api-version=1.0.0");
    EXPECT_EQ(request["headers"]["App-Secret"], kSecret);
    EXPECT_EQ(request["headers"]["Install-ID"], kInstallId);
    EXPECT_EQ(request["headers"]["Content-Type"], "application/json");
    EXPECT_EQ(request["body"].get<std::string>(), batch->serializeLog().value());
    const auto body = nlohmann::json::parse(request["body"].get<std::string>());
    ASSERT_EQ(body["logs"].size(), 3u);
    EXPECT_EQ(body["logs"][2]["properties"]["n"], "2");
}

TEST_F(IngestionTest, ALargeBatchArrivesGzipped) {
    auto ingestion = logIngestion();
    auto batch = container(50);
    ASSERT_GE(batch->serializeLog()->size(), 1400u);
    SentBatches sent;
    ingestion->sendAsync(batch, sent.handler());
    ASSERT_EQ(sent.waitFor(1).size(), 1u);
    const auto requests = peer_.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0]["gzip"].get<bool>());
    EXPECT_TRUE(requests[0]["problems"].empty()) << requests[0]["problems"].dump();
    EXPECT_EQ(nlohmann::json::parse(requests[0]["body"].get<std::string>())["logs"].size(), 50u);
}

// The bodies are written off the caller's thread: an endpoint let go of right after its calls
// still sends each batch and answers each one once.
TEST_F(IngestionTest, AnEndpointLetGoOfAtOnceStillSendsAndAnswersEveryBatch) {
    SentBatches sent;
    std::set<std::string> ids;
    {
        auto ingestion = logIngestion();
        for (int i = 0; i < 5; ++i) {
            ids.insert("batch-" + std::to_string(i));
            ingestion->sendAsync(container(20, "batch-" + std::to_string(i)), sent.handler());
        }
    }
    const auto done = sent.waitFor(5);
    ASSERT_EQ(done.size(), 5u);
    std::set<std::string> answered;
    for (const auto& answer : done) {
        ASSERT_TRUE(answer.response);
        EXPECT_EQ(answer.response->statusCode, 200);
        answered.insert(answer.callId.value_or(""));
    }
    EXPECT_EQ(answered, ids);
    EXPECT_EQ(peer_.requests().size(), 5u);
}

TEST_F(IngestionTest, WhatIsRefusedBeforeAnythingIsSent) {
    struct Case {
        const char* name;
        bool endpointOn;
        bool networkAllowed;
        bool validContainer;
        std::optional<long> code;  // nothing: no completion at all
        const char* logged;
    };
    const std::vector<Case> cases = {
        {"endpoint off", false, true, true, kTLMDisabledErrorCode, "TLMTelliumIngestion is disabled."},
        {"network forbidden", true, false, true, kTLMDisabledErrorCode, "TLMTelliumIngestion is disabled."},
        {"invalid container", true, true, false, kTLMLogInvalidContainerErrorCode, "Invalid log container."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto ingestion = logIngestion();
        ingestion->setEnabled(c.endpointOn, false);
        TLMTellium::setNetworkRequestsAllowed(c.networkAllowed);
        SentBatches sent;
        auto batch = c.validContainer ? container(1, "b-7") : std::make_shared<TLMLogContainer>("b-7", std::vector<std::shared_ptr<TLMAbstractLog>>{});
        ingestion->sendAsync(batch, sent.handler());
        ASSERT_EQ(sent.count(), 1u);  // answered on the caller's thread
        const auto done = sent.waitFor(1);
        EXPECT_EQ(done[0].callId, "b-7");
        ASSERT_TRUE(done[0].error);
        EXPECT_EQ(done[0].error->code, *c.code);
        EXPECT_TRUE(log_->contains(c.logged));
        TLMTellium::setNetworkRequestsAllowed(true);
    }
    // Without an app secret the endpoint is not ready, sends nothing and says so to the caller.
    auto ingestion = TLMTelliumIngestion::initWithHttpClient(client_, peer_.baseUrl(), kInstallId);
    EXPECT_FALSE(ingestion->isReadyToSend());
    SentBatches sent;
    ingestion->sendAsync(container(1, "b-8"), sent.handler());
    EXPECT_TRUE(log_->contains("Tellium ingestion is used without app secret.", TLMLogLevelError));
    ASSERT_EQ(sent.count(), 1u);
    const auto done = sent.waitFor(1);
    EXPECT_EQ(done[0].callId, "b-8");
    ASSERT_TRUE(done[0].error);
    EXPECT_EQ(done[0].error->code, kTLMDisabledErrorCode);
    EXPECT_TRUE(peer_.requests().empty());
}

TEST_F(IngestionTest, ANewBaseUrlKeepsTheQueryAndOneThatDoesNotParseChangesNothing) {
    auto ingestion = logIngestion();
    ingestion->setBaseURL("https://collector.example.invalid:8443");
    EXPECT_EQ(ingestion->sendURL(), "https://collector.example.invalid:8443/logs?api-version=1.0.0");
    ingestion->setBaseURL("not a url at all");
    EXPECT_EQ(ingestion->sendURL(), "https://collector.example.invalid:8443/logs?api-version=1.0.0");
    EXPECT_TRUE(log_->contains("Failed to update HTTP URL"));
    ingestion->setBaseURL(peer_.baseUrl());
    EXPECT_EQ(ingestion->sendURL(), peer_.baseUrl() + "/logs?api-version=1.0.0");
}

TEST_F(IngestionTest, AtVerboseLevelTheRequestIsLoggedWithTheAppSecretMasked) {
    TLMTellium::setLogLevel(TLMLogLevelVerbose);
    auto ingestion = logIngestion();
    SentBatches sent;
    ingestion->sendAsync(container(1), sent.handler());
    ASSERT_EQ(sent.waitFor(1).size(), 1u);
    EXPECT_TRUE(log_->contains("URL: " + peer_.baseUrl() + "/logs?api-version=1.0.0", TLMLogLevelVerbose));
    EXPECT_TRUE(log_->contains("App-Secret = " + std::string(28, '*') + "89abcdef", TLMLogLevelVerbose));
    EXPECT_FALSE(log_->contains(kSecret));
    EXPECT_TRUE(log_->contains("HTTP response received with status code: 200", TLMLogLevelVerbose));
}

std::shared_ptr<TLMCommonSchemaLog> csLog(const std::string& token, int n) {
    auto source = std::make_shared<TLMLogWithProperties>();
    source->type = "event";
    source->timestamp = telltest::utc(2026, 1, 2, 3, 4, 5, n);
    source->device = telltest::sampleDevice();
    source->addTransmissionTargetToken(token);
    auto converted = source->toCommonSchemaLogsWithFlags(1);
    if (!converted) return nullptr;
    auto log = converted->front();
    log->name = "dravix.event" + std::to_string(n);  // named by the event it came from
    return log;
}

TEST_F(IngestionTest, CommonSchemaLogsGoToTheCollectorOneLineEachWithEveryTokenOnceAndTheirTickets) {
    auto ingestion = TLMEventCollectorIngestion::initWithHttpClient(client_, peer_.baseUrl());
    EXPECT_EQ(ingestion->sendURL(), peer_.baseUrl() + "/EventCollector/1.0");
    auto first = csLog("aaaa1111-token", 1);
    auto second = csLog("aaaa1111-token", 2);
    ASSERT_TRUE(first && second);
    first->addTransmissionTargetToken("bbbb2222-token");
    auto protocol = std::make_shared<TLMProtocolExtension>();
    protocol->ticketKeys = std::vector<std::string>{"key-1", "key-unknown"};
    first->ext->protocolExt = protocol;
    TLMTicketCache::sharedInstance().setTicket(std::string("p:secret-ticket"), "key-1");
    TLMTellium::setLogLevel(TLMLogLevelVerbose);

    auto batch = std::make_shared<TLMLogContainer>("cs-batch", std::vector<std::shared_ptr<TLMAbstractLog>>{first, second});
    SentBatches sent;
    ingestion->sendAsync(batch, sent.handler());
    const auto done = sent.waitFor(1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].callId, "cs-batch");

    const auto requests = peer_.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_TRUE(request["problems"].empty()) << request["problems"].dump();
    EXPECT_EQ(request["path"], "/EventCollector/1.0");
    EXPECT_EQ(request["query"], "");
    EXPECT_EQ(request["headers"]["apikey"], "aaaa1111-token,bbbb2222-token");
    EXPECT_EQ(request["headers"]["Client-Version"], "TLM-Cpp-no-" + TLMUtility::sdkVersion() + "-no");
    EXPECT_EQ(request["headers"]["Tickets"], "{\"key-1\":\"p:secret-ticket\"}");
    const std::string uploadTime = request["headers"]["Upload-Time"];
    EXPECT_FALSE(uploadTime.empty());
    EXPECT_EQ(uploadTime.find_first_not_of("0123456789"), std::string::npos);
    const std::string body = request["body"];
    EXPECT_EQ(body, first->serializeLogWithPrettyPrinting(false).value() + "\n" +
                        second->serializeLogWithPrettyPrinting(false).value() + "\n");
    // In the log, tickets keep their key and type letter and tokens their last 8 characters.
    EXPECT_TRUE(log_->contains("Tickets = {\"key-1\":\"p:***\"}", TLMLogLevelVerbose));
    EXPECT_TRUE(log_->contains("apikey = ******11-token,******22-token", TLMLogLevelVerbose));
    EXPECT_FALSE(log_->contains("secret-ticket"));
}

TEST_F(IngestionTest, ATicketThatIsNotUtf8IsSentWithItsBadBytesReplaced) {
    auto ingestion = TLMEventCollectorIngestion::initWithHttpClient(client_, peer_.baseUrl());
    auto log = csLog("aaaa1111-token", 1);
    ASSERT_TRUE(log);
    auto protocol = std::make_shared<TLMProtocolExtension>();
    protocol->ticketKeys = std::vector<std::string>{"key-1"};
    log->ext->protocolExt = protocol;
    TLMTicketCache::sharedInstance().setTicket(std::string("p:ab\xff\xc3(cd"), "key-1");
    TLMTellium::setLogLevel(TLMLogLevelVerbose);

    auto batch = std::make_shared<TLMLogContainer>("bad-ticket", std::vector<std::shared_ptr<TLMAbstractLog>>{log});
    SentBatches sent;
    ingestion->sendAsync(batch, sent.handler());
    ASSERT_EQ(sent.waitFor(1).size(), 1u);
    const auto requests = peer_.requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string header = requests[0]["headers"]["Tickets"];
    EXPECT_NE(header.find("key-1"), std::string::npos) << header;
    EXPECT_EQ(header.find('\xff'), std::string::npos) << header;
    EXPECT_TRUE(log_->contains("Tickets = {\"key-1\":\"p:***\"}", TLMLogLevelVerbose));
}

TEST_F(IngestionTest, WithoutCachedTicketsThereIsNoTicketsHeader) {
    auto ingestion = TLMEventCollectorIngestion::initWithHttpClient(client_, peer_.baseUrl());
    auto log = csLog("cccc3333-token", 3);
    ASSERT_TRUE(log);
    auto protocol = std::make_shared<TLMProtocolExtension>();
    protocol->ticketKeys = std::vector<std::string>{"key-none"};
    log->ext->protocolExt = protocol;
    SentBatches sent;
    ingestion->sendAsync(std::make_shared<TLMLogContainer>("b", std::vector<std::shared_ptr<TLMAbstractLog>>{log}),
                         sent.handler());
    ASSERT_EQ(sent.waitFor(1).size(), 1u);
    const auto requests = peer_.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_FALSE(requests[0]["headers"].contains("Tickets"));
    EXPECT_EQ(requests[0]["headers"]["apikey"], "cccc3333-token");
}

TEST(IngestionMaskTest, CollectorAnswersNeverShowTokens) {
    EXPECT_EQ(TLMEventCollectorIngestion::obfuscateTickets("{\"k1\":\"p:abc\",\"k2\":\"d:xyz\"}"),
              "{\"k1\":\"p:***\",\"k2\":\"d:***\"}");
    EXPECT_EQ(TLMEventCollectorIngestion::obfuscateTargetTokens("123456789,short"), "*23456789,*****");
}

TEST(IngestionMaskTest, MegabyteTicketsAreMaskedInOnePass) {
    const std::string ticket(1 << 20, 'k');
    EXPECT_EQ(TLMEventCollectorIngestion::obfuscateTickets("{\"key\":\"p:" + ticket + "\"}"), "{\"key\":\"p:***\"}");
    // A ticket segment without its closing quote runs to the end of the text.
    EXPECT_EQ(TLMEventCollectorIngestion::obfuscateTickets("{\"key\":\"d:" + ticket), "{\"key\":\"d:***");
    const std::string tokens(1 << 20, ',');
    EXPECT_EQ(TLMEventCollectorIngestion::obfuscateTargetTokens(tokens).size(), tokens.size());
}

}  // namespace
