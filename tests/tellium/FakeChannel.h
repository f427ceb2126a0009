#pragma once
// A channel group and units that only record what they are asked, for the tests of the SDK's
// entry point and its services (the channel group has tests of its own).
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tellium/channel/TLMChannelGroupProtocol.h"
#include "tellium/channel/TLMChannelUnitProtocol.h"

namespace telltest {

class FakeChannelUnit final : public TLMChannelUnitProtocol {
public:
    explicit FakeChannelUnit(std::shared_ptr<const TLMChannelUnitConfiguration> configuration)
        : configuration_(std::move(configuration)) {}

    void enqueueItem(const std::shared_ptr<TLMAbstractLog>& item, uint32_t flags) override {
        std::lock_guard lock(mutex_);
        logs_.emplace_back(item, flags);
    }
    void pauseSendingLogsWithToken(const std::string&) override {}
    void resumeSendingLogsWithToken(const std::string&) override {}
    void checkPendingLogs() override {}
    std::shared_ptr<const TLMChannelUnitConfiguration> configuration() const override { return configuration_; }
    dispatch::Queue& logsDispatchQueue() override { return dispatch::mainQueue(); }
    void setEnabled(bool isEnabled, bool deleteData) override {
        std::lock_guard lock(mutex_);
        enabledCalls_.emplace_back(isEnabled, deleteData);
        if (!isEnabled && deleteData) logs_.clear();
    }
    void addDelegate(const std::shared_ptr<TLMChannelDelegate>&) override {}
    void removeDelegate(const std::shared_ptr<TLMChannelDelegate>&) override {}
    void pauseWithIdentifyingObject(TLMIdentifyingObject) override {}
    void resumeWithIdentifyingObject(TLMIdentifyingObject) override {}

    std::vector<std::pair<std::shared_ptr<TLMAbstractLog>, uint32_t>> logs() {
        std::lock_guard lock(mutex_);
        return logs_;
    }
    std::vector<std::pair<bool, bool>> enabledCalls() {
        std::lock_guard lock(mutex_);
        return enabledCalls_;
    }

private:
    std::shared_ptr<const TLMChannelUnitConfiguration> configuration_;
    std::mutex mutex_;
    std::vector<std::pair<std::shared_ptr<TLMAbstractLog>, uint32_t>> logs_;
    std::vector<std::pair<bool, bool>> enabledCalls_;
};

class FakeChannelGroup final : public TLMChannelGroupProtocol {
public:
    FakeChannelGroup(std::string installId, std::string logUrl)
        : installId(std::move(installId)), logUrl_(std::move(logUrl)) {}

    std::shared_ptr<TLMChannelUnitProtocol> addChannelUnitWithConfiguration(
        const std::shared_ptr<const TLMChannelUnitConfiguration>& configuration) override {
        if (!configuration) return nullptr;
        auto unit = std::make_shared<FakeChannelUnit>(configuration);
        std::lock_guard lock(mutex_);
        units_.push_back(unit);
        return unit;
    }
    std::shared_ptr<TLMChannelUnitProtocol> addChannelUnitWithConfiguration(
        const std::shared_ptr<const TLMChannelUnitConfiguration>& configuration,
        const std::shared_ptr<TLMIngestionProtocol>&) override {
        return addChannelUnitWithConfiguration(configuration);
    }
    void setMaxStorageSize(int64_t size, std::function<void(bool)> completionHandler) override {
        {
            std::lock_guard lock(mutex_);
            maxStorageSize = size;
        }
        if (completionHandler) completionHandler(true);
    }
    std::shared_ptr<TLMChannelUnitProtocol> channelUnitForGroupId(const std::string& groupId) override {
        return unit(groupId);
    }
    std::string logUrl() override {
        std::lock_guard lock(mutex_);
        return logUrl_;
    }
    void setLogUrl(const std::string& url) override {
        std::lock_guard lock(mutex_);
        logUrl_ = url;
    }
    std::optional<std::string> appSecret() override {
        std::lock_guard lock(mutex_);
        return appSecret_;
    }
    void setAppSecret(const std::optional<std::string>& secret) override {
        std::lock_guard lock(mutex_);
        appSecret_ = secret;
    }
    void setEnabled(bool isEnabled, bool deleteData) override {
        std::vector<std::shared_ptr<FakeChannelUnit>> units;
        {
            std::lock_guard lock(mutex_);
            enabledCalls.emplace_back(isEnabled, deleteData);
            units = units_;
        }
        for (auto& u : units) u->setEnabled(isEnabled, deleteData);
    }
    void addDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) override {
        std::lock_guard lock(mutex_);
        delegates.push_back(delegate);
    }
    void removeDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) override {
        std::lock_guard lock(mutex_);
        std::erase_if(delegates, [&](const auto& w) { return w.lock() == delegate; });
    }
    void pauseWithIdentifyingObject(TLMIdentifyingObject object) override {
        std::lock_guard lock(mutex_);
        pauses.push_back(object);
    }
    void resumeWithIdentifyingObject(TLMIdentifyingObject object) override {
        std::lock_guard lock(mutex_);
        resumes.push_back(object);
    }

    // The first unit of a group id, and how many there are.
    std::shared_ptr<FakeChannelUnit> unit(const std::string& groupId) {
        std::lock_guard lock(mutex_);
        for (auto& u : units_) {
            if (u->configuration()->groupId == groupId) return u;
        }
        return nullptr;
    }
    std::size_t unitCount(const std::string& groupId) {
        std::lock_guard lock(mutex_);
        std::size_t n = 0;
        for (auto& u : units_) n += u->configuration()->groupId == groupId ? 1 : 0;
        return n;
    }

    const std::string installId;
    std::optional<int64_t> maxStorageSize;
    std::vector<std::pair<bool, bool>> enabledCalls;
    std::vector<std::weak_ptr<TLMChannelDelegate>> delegates;
    std::vector<TLMIdentifyingObject> pauses;
    std::vector<TLMIdentifyingObject> resumes;

private:
    std::mutex mutex_;
    std::string logUrl_;
    std::optional<std::string> appSecret_;
    std::vector<std::shared_ptr<FakeChannelUnit>> units_;
};

}  // namespace telltest
