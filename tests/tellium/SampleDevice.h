#pragma once
// The device record the telemetry tests and benchmarks stamp on their logs: every field set, as
// the device tracker would on a desktop. Header-only, so programs without GoogleTest (the
// benchmarks, the process the no-loss test kills) share it too.
#include <memory>

#include "tellium/model/TLMDevice.h"

namespace telltest {

inline std::shared_ptr<TLMDevice> sampleDevice() {
    auto d = std::make_shared<TLMDevice>();
    d->sdkName = "tellium.cpp";
    d->sdkVersion = "4.4.2";
    d->model = "x86_64";
    d->oemName = "QEMU";
    d->osName = "Debian GNU/Linux";
    d->osVersion = "12";
    d->osBuild = "6.1.0-18-amd64";
    d->locale = "en_US";
    d->timeZoneOffset = 60;
    d->screenSize = "1080x1920";
    d->appVersion = "1.2";
    d->appBuild = "42";
    d->appNamespace = "net.dravix.ftpclient";
    return d;
}

}  // namespace telltest
