#pragma once
// What the channel group and the channel units have in common: they can be switched on and off
// (optionally deleting what they hold), observed, paused and resumed. Delegates are held weakly.
#include <memory>

#include "tellium/channel/TLMChannelDelegate.h"

class TLMEnable {
public:
    virtual ~TLMEnable() = default;
    virtual void setEnabled(bool isEnabled, bool deleteDataOnDisabled) = 0;
};

class TLMChannelProtocol : public TLMEnable {
public:
    virtual void addDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) = 0;
    virtual void removeDelegate(const std::shared_ptr<TLMChannelDelegate>& delegate) = 0;
    // Paused while any identifying object holds it; each object resumes only its own pause.
    virtual void pauseWithIdentifyingObject(TLMIdentifyingObject identifyingObject) = 0;
    virtual void resumeWithIdentifyingObject(TLMIdentifyingObject identifyingObject) = 0;
};
