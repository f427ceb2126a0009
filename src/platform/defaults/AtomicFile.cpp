#include "platform/defaults/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <sstream>
#include <unistd.h>

namespace defaults {

namespace {
std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

// Folders above the one asked for: made 0700 when missing, left as they are when present.
std::optional<std::string> makeMissingFolders(const std::filesystem::path& folder) {
    std::error_code ec;
    if (folder.empty() || std::filesystem::is_directory(folder, ec)) return std::nullopt;
    if (folder.has_parent_path() && folder.parent_path() != folder) {
        if (auto error = makeMissingFolders(folder.parent_path())) return error;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return errnoText("cannot create " + folder.string());
    return std::nullopt;
}
}  // namespace

std::optional<std::string> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    if (path.empty()) return std::string("no file path");
    const auto dir = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    const auto tmp = dir / ("." + path.filename().string() + ".tmp-" + std::to_string(rng() % 1000000000ULL));

    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
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

std::optional<std::string> createPrivateDirectories(const std::filesystem::path& folder) {
    if (folder.empty()) return std::nullopt;
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        if (folder.has_parent_path() && folder.parent_path() != folder) {
            if (auto error = makeMissingFolders(folder.parent_path())) return error;
        }
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return errnoText("cannot create " + folder.string());
    }
    if (::chmod(folder.c_str(), 0700) != 0) return errnoText("cannot protect " + folder.string());
    return std::nullopt;
}

std::optional<std::filesystem::path> keepAside(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
    // Kept before with the same bytes: the copy is there already.
    const auto bytes = readWholeFile(path);
    const auto prefix = path.filename().string() + ".bad-";
    const auto size = std::filesystem::file_size(path, ec);
    for (auto it = std::filesystem::directory_iterator(path.parent_path(), ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const auto name = it->path().filename().string();
        std::error_code sizeError;
        if (name.rfind(prefix, 0) != 0 || it->file_size(sizeError) != size || sizeError) continue;
        if (bytes && readWholeFile(it->path()) == bytes) return it->path();
    }
    ec.clear();
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
    std::filesystem::permissions(target, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
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
