#pragma once
// The base of the telemetry services (analytics, crashes): what the SDK hands a service when it
// starts it, the service's persisted switch ("<group id>IsEnabled", true when never set), and its
// main channel unit in the SDK's channel group.
//
// A service "class" is a TLMServiceClass: the object the application passes to the SDK to name a
// service, answering its shared instance, its service name and the class-level switch. The
// class-level switch takes the SDK's lock before the service's, the order every path uses.
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "tellium/channel/TLMChannelGroupProtocol.h"
#include "tellium/channel/TLMChannelUnitProtocol.h"

class TLMServiceAbstract;

// The operations the SDK entry point needs of a running service.
class TLMServiceCommon {
public:
    virtual ~TLMServiceCommon() = default;
    virtual void applyEnabledState(bool isEnabled) = 0;
    virtual bool canBeUsed() = 0;
    virtual void startWithChannelGroup(const std::shared_ptr<TLMChannelGroupProtocol>& channelGroup,
                                       const std::optional<std::string>& appSecret,
                                       const std::optional<std::string>& transmissionTargetToken,
                                       bool fromApplication) = 0;
    virtual void updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                                  const std::optional<std::string>& transmissionTargetToken) = 0;
    virtual bool isAppSecretRequired() const = 0;
    virtual bool isStartedFromApplication() const = 0;
    virtual bool isAvailable() = 0;
    virtual bool isEnabled() = 0;
    virtual void setEnabled(bool isEnabled) = 0;
    virtual int initializationPriority() const = 0;
};

// A service as the application names it (the class object of the service).
class TLMServiceClass {
public:
    virtual ~TLMServiceClass() = default;
    virtual std::string className() const = 0;
    virtual std::string serviceName() const = 0;
    virtual std::string logTag() const = 0;
    virtual std::shared_ptr<TLMServiceAbstract> sharedInstance() const = 0;

    // The class-level switch: nothing unless the service can be used; refused while the whole SDK
    // is disabled (unless the SDK itself is switching its services).
    void setEnabled(bool isEnabled) const;
    // The service's switch when it can be used, else false.
    bool isEnabled() const;
};

// The class object of a concrete service T (T provides the static className, serviceName, logTag
// and sharedInstance).
template <class T>
class TLMServiceClassOf final : public TLMServiceClass {
public:
    std::string className() const override { return T::kClassName; }
    std::string serviceName() const override { return T::serviceName(); }
    std::string logTag() const override { return T::logTag(); }
    std::shared_ptr<TLMServiceAbstract> sharedInstance() const override { return T::sharedInstance(); }
};

class TLMServiceAbstract : public TLMServiceCommon {
public:
    static constexpr int kDefaultInitializationPriority = 500;

    ~TLMServiceAbstract() override;

    // What each concrete service names.
    virtual std::string groupId() const = 0;
    virtual const TLMServiceClass& serviceClass() const = 0;
    // The configuration of the service's main unit; nothing when the service has none.
    virtual std::shared_ptr<const TLMChannelUnitConfiguration> channelUnitConfiguration() const { return nullptr; }
    // Whether the service reads the session and user-id records of earlier launches, and so trims
    // those histories itself once it has read them. While no started service does, the SDK keeps
    // only this launch's records (each launch would otherwise add one for good).
    virtual bool readsEarlierLaunchHistories() const { return false; }

    bool isEnabled() override;
    void setEnabled(bool isEnabled) override;
    void applyEnabledState(bool isEnabled) override;
    bool canBeUsed() override;
    bool isAvailable() override;
    int initializationPriority() const override { return kDefaultInitializationPriority; }
    bool isAppSecretRequired() const override { return true; }
    bool isStartedFromApplication() const override;
    void startWithChannelGroup(const std::shared_ptr<TLMChannelGroupProtocol>& channelGroup,
                               const std::optional<std::string>& appSecret,
                               const std::optional<std::string>& transmissionTargetToken,
                               bool fromApplication) override;
    void updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                          const std::optional<std::string>& transmissionTargetToken) override;

    // Accessors.
    std::shared_ptr<TLMChannelGroupProtocol> channelGroup() const;
    std::shared_ptr<TLMChannelUnitProtocol> channelUnit() const;
    std::optional<std::string> appSecret() const;
    std::optional<std::string> defaultTransmissionTargetToken() const;
    bool started() const;
    const std::string& isEnabledKey();

    // The lock of the class-level switch (taken after the SDK's).
    std::recursive_mutex& classLock() { return classMutex_; }

protected:
    TLMServiceAbstract();

private:
    mutable std::mutex fieldsMutex_;
    std::recursive_mutex classMutex_;
    bool startedFromApplication_ = false;
    bool started_ = false;
    std::shared_ptr<TLMChannelGroupProtocol> channelGroup_;
    std::shared_ptr<TLMChannelUnitProtocol> channelUnit_;
    std::optional<std::string> appSecret_;
    std::optional<std::string> defaultTransmissionTargetToken_;
    std::once_flag keyOnce_;
    std::string isEnabledKey_;
};
