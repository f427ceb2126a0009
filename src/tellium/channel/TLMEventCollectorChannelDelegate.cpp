#include "tellium/channel/TLMEventCollectorChannelDelegate.h"

#include <regex>

#include "tellium/TLMLogger.h"
#include "tellium/channel/TLMChannelUnitConfiguration.h"
#include "tellium/util/TLMUtility.h"

namespace {
constexpr const char* kTLMEventNameRule = "^[a-zA-Z0-9]((\\.(?!(\\.|$)))|[_a-zA-Z0-9]){3,99}$";
constexpr const char* kTLMLogValidationFailed = "Log validation failed.";

const std::regex& eventNameRegex() {
    static const std::regex rule(kTLMEventNameRule, std::regex::ECMAScript | std::regex::optimize);
    return rule;
}
}  // namespace

std::shared_ptr<TLMEventCollectorChannelDelegate> TLMEventCollectorChannelDelegate::initWithHttpClient(
    std::shared_ptr<TLMHttpClientProtocol> httpClient, const std::string& installId,
    const std::optional<std::string>& baseUrl) {
    return std::make_shared<TLMEventCollectorChannelDelegate>(std::move(httpClient), installId,
                                                              baseUrl.value_or(kTLMDefaultEventCollectorUrl));
}

TLMEventCollectorChannelDelegate::TLMEventCollectorChannelDelegate(std::shared_ptr<TLMHttpClientProtocol> httpClient,
                                                                   std::string installId, std::string baseUrl)
    : eventCollectorIngestion_(TLMEventCollectorIngestion::initWithHttpClient(std::move(httpClient), baseUrl)),
      baseUrl_(std::move(baseUrl)),
      installId_(std::move(installId)) {}

void TLMEventCollectorChannelDelegate::setLogUrl(const std::string& logUrl) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        baseUrl_ = logUrl;
    }
    eventCollectorIngestion_->setBaseURL(logUrl);
}

const char* TLMEventCollectorChannelDelegate::eventNameRule() { return kTLMEventNameRule; }

bool TLMEventCollectorChannelDelegate::isEventCollectorGroup(const std::string& groupId) {
    const std::string suffix = kTLMEventCollectorGroupIdSuffix;
    return groupId.size() >= suffix.size() && groupId.compare(groupId.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool TLMEventCollectorChannelDelegate::shouldSendLogToEventCollector(const TLMAbstractLog& log) {
    if (dynamic_cast<const TLMCommonSchemaLog*>(&log)) return false;
    auto tokens = log.transmissionTargetTokens();
    return tokens && !tokens->empty();
}

bool TLMEventCollectorChannelDelegate::validateLogName(const std::optional<std::string>& name) {
    if (!name || name->empty()) {
        TLMLogError(kTLMLogTag, std::string(kTLMLogValidationFailed) + " Name must not be nil or empty.");
        return false;
    }
    if (!std::regex_match(*name, eventNameRegex())) {
        TLMLogError(kTLMLogTag, std::string(kTLMLogValidationFailed) + " Name must match '" + kTLMEventNameRule +
                                    "' but was '" + *name + "'");
        return false;
    }
    return true;
}

bool TLMEventCollectorChannelDelegate::validateLog(const TLMCommonSchemaLog& log) { return validateLogName(log.name); }

std::shared_ptr<TLMChannelUnitProtocol> TLMEventCollectorChannelDelegate::eventCollectorChannelFor(const std::string& groupId) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = eventCollectorChannels_.find(groupId);
    return found == eventCollectorChannels_.end() ? nullptr : found->second;
}

std::shared_ptr<TLMChannelUnitProtocol> TLMEventCollectorChannelDelegate::mirrorOf(TLMChannelProtocol& channel) {
    auto* unit = dynamic_cast<TLMChannelUnitProtocol*>(&channel);
    if (!unit) return nullptr;
    const std::string& groupId = unit->configuration()->groupId;
    if (isEventCollectorGroup(groupId)) return nullptr;
    return eventCollectorChannelFor(groupId);
}

void TLMEventCollectorChannelDelegate::channelGroupDidAddChannelUnit(TLMChannelGroupProtocol& channelGroup,
                                                                     const std::shared_ptr<TLMChannelUnitProtocol>& channel) {
    if (!channel) return;
    const auto source = channel->configuration();
    if (isEventCollectorGroup(source->groupId)) return;
    auto configuration = TLMChannelUnitConfiguration::initDefaultConfigurationWithGroupId(
        source->groupId + kTLMEventCollectorGroupIdSuffix, source->flushInterval);
    // Adding the mirror calls this delegate again (for the mirror, which is skipped): no lock here.
    auto mirror = channelGroup.addChannelUnitWithConfiguration(configuration, eventCollectorIngestion_);
    if (!mirror) return;
    std::lock_guard<std::mutex> lock(mutex_);
    eventCollectorChannels_[source->groupId] = mirror;
}

void TLMEventCollectorChannelDelegate::channelPrepareLog(TLMChannelUnitProtocol& channel,
                                                         const std::shared_ptr<TLMAbstractLog>& log) {
    auto csLog = std::dynamic_pointer_cast<TLMCommonSchemaLog>(log);
    // Stamped where it is sent from, so a log handed on from its own unit to the mirror gets one
    // sequence number, not two.
    if (!csLog || !isEventCollectorGroup(channel.configuration()->groupId)) return;
    const std::string iKey = csLog->iKey.value_or("");
    std::string epoch;
    int64_t seq = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto& record = epochsAndSeqsByIKey_[iKey];
        if (!record) record = TLMCSEpochAndSeq::initWithEpoch(TLMUtility::uuidString());
        epoch = record->epoch;
        seq = ++record->seq;
    }
    if (!csLog->ext) csLog->ext = std::make_shared<TLMCSExtensions>();
    if (!csLog->ext->sdkExt) csLog->ext->sdkExt = std::make_shared<TLMSDKExtension>();
    csLog->ext->sdkExt->epoch = epoch;
    csLog->ext->sdkExt->seq = seq;
    csLog->ext->sdkExt->installId = installId_;
}

void TLMEventCollectorChannelDelegate::channelDidPrepareLog(TLMChannelUnitProtocol& channel,
                                                            const std::shared_ptr<TLMAbstractLog>& log,
                                                            const std::string& /*internalId*/, uint32_t flags) {
    if (!log) return;
    const bool fromCollectorUnit = isEventCollectorGroup(channel.configuration()->groupId);
    if (std::dynamic_pointer_cast<TLMCommonSchemaLog>(log)) {
        if (!fromCollectorUnit) {
            if (auto mirror = mirrorOf(channel)) mirror->enqueueItem(log, flags);
        }
        return;
    }
    if (!shouldSendLogToEventCollector(*log)) return;
    auto mirror = mirrorOf(channel);
    if (!mirror) return;
    if (auto csLogs = log->toCommonSchemaLogsWithFlags(flags)) {
        for (const auto& csLog : *csLogs) mirror->enqueueItem(csLog, flags);
    }
}

bool TLMEventCollectorChannelDelegate::channelUnitShouldFilterLog(TLMChannelUnitProtocol& channelUnit,
                                                                  const std::shared_ptr<TLMAbstractLog>& log) {
    if (!log) return false;
    if (auto csLog = std::dynamic_pointer_cast<TLMCommonSchemaLog>(log)) {
        if (isEventCollectorGroup(channelUnit.configuration()->groupId)) return !validateLog(*csLog);
        return true;
    }
    auto tokens = log->transmissionTargetTokens();
    return tokens && !tokens->empty();
}

void TLMEventCollectorChannelDelegate::channelDidSetEnabled(TLMChannelProtocol& channel, bool isEnabled,
                                                            bool deletedData) {
    if (auto mirror = mirrorOf(channel)) {
        mirror->setEnabled(isEnabled, deletedData);
        return;
    }
    if (dynamic_cast<TLMChannelGroupProtocol*>(&channel) && !isEnabled && deletedData) {
        std::lock_guard<std::mutex> lock(mutex_);
        epochsAndSeqsByIKey_.clear();
    }
}

void TLMEventCollectorChannelDelegate::channelDidPauseWithIdentifyingObject(TLMChannelProtocol& channel,
                                                                            TLMIdentifyingObject identifyingObject) {
    if (auto mirror = mirrorOf(channel)) mirror->pauseWithIdentifyingObject(identifyingObject);
}

void TLMEventCollectorChannelDelegate::channelDidResumeWithIdentifyingObject(TLMChannelProtocol& channel,
                                                                             TLMIdentifyingObject identifyingObject) {
    if (auto mirror = mirrorOf(channel)) mirror->resumeWithIdentifyingObject(identifyingObject);
}
