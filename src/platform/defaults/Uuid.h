#pragma once
// Random (version 4) UUIDs, the one generator of the app and the telemetry SDK: record ids,
// window ids, install and session ids, log ids. The bytes come from OpenSSL's generator, drawn a
// block at a time per thread, so ids stay unpredictable and cheap (a log gets one as it is
// enqueued).
#include <string>

namespace defaults {

// "XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX" in upper-case hex, as stored records already hold them.
std::string uuidString();

}  // namespace defaults
