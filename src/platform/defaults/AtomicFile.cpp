#include "platform/defaults/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sstream>
#include <unistd.h>

namespace defaults {

namespace {
std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }
}  // namespace

std::optional<std::string> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    if (path.empty()) return std::string("no file path");
    const auto dir = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    const auto tmp = dir / ("." + path.filename().string() + ".tmp-" + std::to_string(rng() % 1000000000ULL));

    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return errnoText("cannot create " + tmp.string());
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            auto err = errnoText("cannot write " + tmp.string());
            ::close(fd);
            ::unlink(tmp.c_str());
            return err;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) {
        auto err = errnoText("cannot flush " + tmp.string());
        ::close(fd);
        ::unlink(tmp.c_str());
        return err;
    }
    ::close(fd);
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        auto err = errnoText("cannot replace " + path.string());
        ::unlink(tmp.c_str());
        return err;
    }
    // Make the rename itself durable.
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> keepAside(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &tm);
    auto base = path.string() + ".bad-" + stamp;
    auto target = std::filesystem::path(base);
    for (int i = 1; std::filesystem::exists(target, ec); ++i) target = base + "-" + std::to_string(i);
    std::filesystem::copy_file(path, target, ec);
    if (ec) return std::nullopt;
    return target;
}

std::optional<std::string> readWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return s.str();
}

}  // namespace defaults
