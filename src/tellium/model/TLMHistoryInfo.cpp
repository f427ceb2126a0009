#include "tellium/model/TLMHistoryInfo.h"

void TLMHistoryInfo::encodeWithCoder(TLMKeyedArchiver& c) const { c.encodeDate("timestampKey", timestamp); }
bool TLMHistoryInfo::initWithCoder(const TLMKeyedUnarchiver& c) {
    timestamp = c.decodeDate("timestampKey");
    return !c.failed();
}

void TLMDeviceHistoryInfo::encodeWithCoder(TLMKeyedArchiver& c) const {
    TLMHistoryInfo::encodeWithCoder(c);
    c.encodeObject("deviceKey", device);
}
bool TLMDeviceHistoryInfo::initWithCoder(const TLMKeyedUnarchiver& c) {
    if (!TLMHistoryInfo::initWithCoder(c)) return false;
    device = c.decodeObjectOfClass<TLMDevice>("deviceKey");
    return !c.failed();
}

void TLMSessionHistoryInfo::encodeWithCoder(TLMKeyedArchiver& c) const {
    TLMHistoryInfo::encodeWithCoder(c);
    c.encodeString("sessionIdKey", sessionId);
}
bool TLMSessionHistoryInfo::initWithCoder(const TLMKeyedUnarchiver& c) {
    if (!TLMHistoryInfo::initWithCoder(c)) return false;
    sessionId = c.decodeString("sessionIdKey");
    return !c.failed();
}

void TLMUserIdHistoryInfo::encodeWithCoder(TLMKeyedArchiver& c) const {
    TLMHistoryInfo::encodeWithCoder(c);
    c.encodeString("userIdKey", userId);
}
bool TLMUserIdHistoryInfo::initWithCoder(const TLMKeyedUnarchiver& c) {
    if (!TLMHistoryInfo::initWithCoder(c)) return false;
    userId = c.decodeString("userIdKey");
    return !c.failed();
}
