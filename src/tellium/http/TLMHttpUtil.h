#pragma once
// Status and error predicates of the HTTP client, and the masking of secrets in log output.
#include <string>

#include "tellium/TLMErrors.h"

class TLMHttpUtil {
public:
    // 0 (no answer), 408, 429 and every 5xx: worth sending again later.
    static bool isRecoverableError(long statusCode);
    static bool isSuccessStatusCode(long statusCode);
    static bool isNoInternetConnectionError(const TLMError& error);
    static bool isSSLConnectionError(const TLMError& error);
    // All but the last 8 characters as "*" (every character when there are 8 or fewer).
    static std::string hideSecret(const std::string& secret);
    static std::string hideSecretInString(const std::string& text, const std::string& secret);
};
