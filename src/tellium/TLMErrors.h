#pragma once
// The errors the telemetry core hands to completions: a domain, a code and a readable text.
#include <string>

struct TLMError {
    std::string domain;
    long code = 0;
    std::string localizedDescription;
};

// The telemetry core's own errors.
inline constexpr const char* kTLMErrorDomain = "org.dravix.tellium.ErrorDomain";
inline constexpr long kTLMLogInvalidContainerErrorCode = 1;
inline constexpr const char* kTLMLogInvalidContainerErrorDesc = "Invalid log container.";
inline constexpr long kTLMCanceledErrorCode = 2;
inline constexpr const char* kTLMCanceledErrorDesc = "The operation was canceled.";
inline constexpr long kTLMDisabledErrorCode = 3;
inline constexpr const char* kTLMDisabledErrorDesc = "The service is disabled.";

// Transport failures: a libcurl code in its own domain, or, while the network is down, one of the
// URL-loading codes below.
inline constexpr const char* kTLMCurlErrorDomain = "org.dravix.tellium.CurlErrorDomain";
inline constexpr const char* kTLMURLErrorDomain = "org.dravix.tellium.URLErrorDomain";
inline constexpr long kTLMURLErrorNotConnectedToInternet = -1009;
inline constexpr long kTLMURLErrorNetworkConnectionLost = -1005;
