#pragma once
// A throw-away home for one test: XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_STATE_HOME and
// XDG_CACHE_HOME point into a fresh temporary folder, removed (with the old values put back)
// when the object goes.
#include <filesystem>
#include <string>

namespace testsupport {

class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path data() const { return root_ / "data"; }
    std::filesystem::path config() const { return root_ / "config"; }
    std::filesystem::path state() const { return root_ / "state"; }

private:
    std::filesystem::path root_;
    std::string saved_[4];
    bool had_[4] = {};
};

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace testsupport
