#include "tandrel/foundation/AppGlobals.h"

#include "tandrel/foundation/TandrelExtensions.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

app_environment app_build_environment() { return app_environment::production; }

const std::string& app_display_name() {
    static const std::string name = bundle_display_name().value_or("DravixFTPClient");
    return name;
}

std::filesystem::path app_resource_folder() {
    if (const char* v = std::getenv("DRAVIX_RESOURCE_DIR"); v && *v) return v;
#ifdef DRAVIX_BUILD_RESOURCE_DIR
    std::error_code ec;
    if (std::filesystem::is_directory(DRAVIX_BUILD_RESOURCE_DIR, ec)) return DRAVIX_BUILD_RESOURCE_DIR;
#endif
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) {
        buf[n] = 0;
        return std::filesystem::path(buf).parent_path() / "resources";
    }
    return "resources";
}

std::optional<std::filesystem::path> app_resource(const std::string& name) {
    auto p = app_resource_folder() / name;
    std::error_code ec;
    if (std::filesystem::exists(p, ec)) return p;
    return std::nullopt;
}

const nlohmann::json& app_bundle_info() {
    static const nlohmann::json info = [] {
        if (auto path = app_resource("Info.json")) {
            std::ifstream in(*path, std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            auto parsed = nlohmann::json::parse(text.str(), nullptr, false);
            if (parsed.is_object()) return parsed;
        }
        return nlohmann::json::object();
    }();
    return info;
}
