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

namespace {
// The running program's own path (empty when it cannot be told).
std::filesystem::path executable_path() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    buf[n] = 0;
    return buf;
}

bool is_inside(const std::filesystem::path& path, const std::filesystem::path& folder) {
    auto p = path.begin();
    for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
        if (f->empty()) continue;  // a trailing separator
        if (p == path.end() || *p != *f) return false;
    }
    return true;
}
}  // namespace

std::filesystem::path app_resource_folder() {
    if (const char* v = std::getenv("DRAVIX_RESOURCE_DIR"); v && *v) return v;
    const auto exe = executable_path();
    std::error_code ec;
#ifdef DRAVIX_INSTALL_RESOURCE_DIR
    // Installed: beside the program's folder (bin/ -> share/dravix/), wherever the prefix is.
    if (!exe.empty()) {
        auto installed = (exe.parent_path() / DRAVIX_INSTALL_RESOURCE_DIR).lexically_normal();
        if (std::filesystem::is_directory(installed, ec)) return installed;
    }
#endif
#ifdef DRAVIX_BUILD_RESOURCE_DIR
    // A program of the build tree (the app, a test): the folder the build prepared. A program
    // elsewhere never reads the build's (or the sources') files.
    if (!exe.empty() && is_inside(exe, DRAVIX_BUILD_DIR) &&
        std::filesystem::is_directory(DRAVIX_BUILD_RESOURCE_DIR, ec))
        return DRAVIX_BUILD_RESOURCE_DIR;
#endif
    if (!exe.empty()) return exe.parent_path() / "resources";
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
