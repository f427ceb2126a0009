#include "tellium/util/TLMPlatformHooks.h"

#include <cstdlib>
#include <mutex>

#include "platform/dispatch/Dispatch.h"

namespace {
std::mutex g_mutex;
TLMPlatformHooks& stored() {
    static auto* hooks = new TLMPlatformHooks;
    return *hooks;
}
}  // namespace

void TLMPlatform::setHooks(TLMPlatformHooks hooks) {
    std::lock_guard lock(g_mutex);
    stored() = std::move(hooks);
}

TLMPlatformHooks TLMPlatform::hooks() {
    std::lock_guard lock(g_mutex);
    return stored();
}

void TLMPlatform::runOnMainThread(std::function<void()> task) {
    auto h = hooks();
    if (h.runOnMainThread) h.runOnMainThread(std::move(task));
    else dispatch::mainQueue().async(std::move(task));
}

bool TLMPlatform::isMainThread() {
    auto h = hooks();
    if (h.isMainThread) return h.isMainThread();
    return dispatch::mainQueue().isCurrent();
}

std::optional<TLMScreenSize> TLMPlatform::screenSize() {
    auto h = hooks();
    return h.screenSize ? h.screenSize() : std::nullopt;
}

TLMAppInfo TLMPlatform::appInfo() {
    auto h = hooks();
    return h.appInfo ? h.appInfo() : TLMAppInfo{};
}

std::optional<std::string> TLMPlatform::appLanguage() {
    auto h = hooks();
    return h.appLanguage ? h.appLanguage() : std::nullopt;
}

std::filesystem::path TLMPlatform::telliumFolder() {
    auto h = hooks();
    std::filesystem::path data;
    if (h.dataFolder) data = h.dataFolder();
    if (data.empty()) {
        std::filesystem::path base;
        if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) base = x;
        else if (const char* home = std::getenv("HOME"); home && *home)
            base = std::filesystem::path(home) / ".local" / "share";
        else base = std::filesystem::temp_directory_path();
        data = base / "DravixFTPClient";
    }
    return data / "Tellium";
}

std::optional<std::string> TLMPlatform::targetTokenKey() {
    auto h = hooks();
    return h.targetTokenKey ? h.targetTokenKey() : std::nullopt;
}

std::optional<nlohmann::json> TLMPlatform::infoDictionaryValue(const std::string& key) {
    auto h = hooks();
    if (!h.infoDictionary) return std::nullopt;
    const nlohmann::json info = h.infoDictionary();
    if (!info.is_object()) return std::nullopt;
    auto it = info.find(key);
    if (it == info.end() || it->is_null()) return std::nullopt;
    return *it;
}
