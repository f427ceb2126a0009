#include "tellium/model/TLMHistoryInfo.h"

void TLMHistoryInfo::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }
bool TLMHistoryInfo::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }

void TLMDeviceHistoryInfo::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }
bool TLMDeviceHistoryInfo::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }

void TLMSessionHistoryInfo::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }
bool TLMSessionHistoryInfo::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }

void TLMUserIdHistoryInfo::encodeWithCoder(TLMKeyedArchiver& c) const { tlmfields::archive(*this, c, fields()); }
bool TLMUserIdHistoryInfo::initWithCoder(const TLMKeyedUnarchiver& c) { return tlmfields::unarchive(*this, c, fields()); }
