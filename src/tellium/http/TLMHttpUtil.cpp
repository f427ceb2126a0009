#include "tellium/http/TLMHttpUtil.h"

bool TLMHttpUtil::isRecoverableError(long statusCode) {
    return statusCode >= 500 || statusCode == 408 || statusCode == 429 || statusCode == 0;
}

bool TLMHttpUtil::isSuccessStatusCode(long statusCode) { return statusCode >= 200 && statusCode < 300; }

bool TLMHttpUtil::isNoInternetConnectionError(const TLMError& error) {
    return error.domain == kTLMURLErrorDomain &&
           (error.code == kTLMURLErrorNotConnectedToInternet || error.code == kTLMURLErrorNetworkConnectionLost);
}

bool TLMHttpUtil::isSSLConnectionError(const TLMError& error) {
    return error.domain == kTLMURLErrorDomain && error.code >= -2000 && error.code <= -1200;
}

std::string TLMHttpUtil::hideSecret(const std::string& secret) {
    constexpr std::size_t shown = 8;
    std::string result = secret;
    const std::size_t hidden = secret.size() > shown ? secret.size() - shown : secret.size();
    for (std::size_t i = 0; i < hidden; ++i) {
        result[i] = '*';
    }
    return result;
}

std::string TLMHttpUtil::hideSecretInString(const std::string& text, const std::string& secret) {
    if (secret.empty()) {
        return text;
    }
    const std::string masked = hideSecret(secret);
    std::string result = text;
    for (std::size_t at = result.find(secret); at != std::string::npos;
         at = result.find(secret, at + masked.size())) {
        result.replace(at, secret.size(), masked);
    }
    return result;
}
