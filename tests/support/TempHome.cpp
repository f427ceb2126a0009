#include "support/TempHome.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace testsupport {

namespace {
const char* kVars[4] = {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"};
const char* kDirs[4] = {"data", "config", "state", "cache"};
}  // namespace

TempHome::TempHome() {
    std::random_device rd;
    root_ = std::filesystem::temp_directory_path() / ("dravix-test-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(root_);
    for (int i = 0; i < 4; ++i) {
        if (const char* v = std::getenv(kVars[i])) {
            had_[i] = true;
            saved_[i] = v;
        }
        auto dir = root_ / kDirs[i];
        std::filesystem::create_directories(dir);
        setenv(kVars[i], dir.c_str(), 1);
    }
}

TempHome::~TempHome() {
    for (int i = 0; i < 4; ++i) {
        if (had_[i]) setenv(kVars[i], saved_[i].c_str(), 1);
        else unsetenv(kVars[i]);
    }
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

}  // namespace testsupport
