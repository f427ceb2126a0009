// Checked saves at the sizes where an SFTP request ends, for each SFTP server the tests run
// (OpenSSH's sshd and python3-asyncssh's server, which answers in its own way).
#include <fcntl.h>
#include <sys/stat.h>

#include <iterator>
#include <random>

#include "ProviderTestSupport.h"
#include "SshTestSupport.h"
#include "platform/files/VersionCheck.h"

using namespace filestest;
using files::ErrorKind;
using files::WriteMode;

namespace sshtest {

// Checked saves against `disk` (the server's disk) through `folder` (the provider's path): at the
// sizes where a read or write request ends, and past the size whose bytes are compared, a file
// that is as it was read is replaced, and one whose last byte changed (same size and date), that
// got a byte more, or lost one is refused, and stays as it was (past the compared size, only a
// change of size or date is seen).
void checkedSavesAtRequestEdges(files::FileProvider& provider, const fs::path& disk, const std::string& folder) {
    using VersionCapture = Capture<std::optional<files::Bytes>, files::FileVersion, std::optional<files::FileError>>;
    using WrittenCapture = Capture<std::optional<files::FileVersion>, std::optional<files::FileError>>;
    enum class Change { none, lastByte, byteMore, byteLess };
    std::mt19937 random(11);
    auto bytesOf = [&](std::size_t n) {
        std::string b(n, '\0');
        for (auto& c : b) c = static_cast<char>(random());
        return b;
    };
    const fs::path file = disk / "edge.bin";
    const std::string path = folder + "/edge.bin";
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{65535}, std::size_t{65536}, std::size_t{65537},
                             std::size_t{131072}, std::size_t{2 * 1024 * 1024 + 5}, std::size_t{4 * 1024 * 1024 + 1}}) {
        for (Change change : {Change::none, Change::lastByte, Change::byteMore, Change::byteLess}) {
            if (size == 0 && (change == Change::lastByte || change == Change::byteLess)) continue;
            // Past the compared size, the size and date decide: a changed byte alone is not seen.
            if (size > files::detail::kHashedSizeLimit && change == Change::lastByte) continue;
            SCOPED_TRACE("file of " + std::to_string(size) + ", change " + std::to_string(static_cast<int>(change)));
            const std::string old = bytesOf(size);
            writeDiskFile(file, old);
            ::chmod(file.c_str(), 0604);  // readable by the server's user
            VersionCapture read;
            provider.contentsAndVersion(path, read.callback());
            awaitOnce(read);
            ASSERT_FALSE(read.get<2>()) << describe(read.get<2>());
            std::string there = old;
            if (change == Change::lastByte) there.back() = static_cast<char>(there.back() ^ 0x5a);
            if (change == Change::byteMore) there.push_back('x');
            if (change == Change::byteLess) there.pop_back();
            if (change != Change::none) {
                struct stat st {};
                ::stat(file.c_str(), &st);
                writeDiskFile(file, there);
                const timespec times[2] = {st.st_atim, st.st_mtim};
                ::utimensat(AT_FDCWD, file.c_str(), times, 0);
            }
            const std::string fresh = bytesOf(size / 2 + 3);
            WrittenCapture written;
            provider.writeContents(path, fresh, WriteMode::replace, read.get<1>(), written.callback());
            awaitOnce(written);
            const auto& error = written.get<1>();
            struct stat after {};
            ASSERT_EQ(::stat(file.c_str(), &after), 0);
            if (change == Change::none) {
                ASSERT_FALSE(error) << describe(error);
                ASSERT_TRUE(written.get<0>());
                EXPECT_EQ(written.get<0>()->size, static_cast<std::int64_t>(fresh.size()));
                EXPECT_TRUE(readDiskFile(file) == fresh) << "the server's copy differs";
                EXPECT_EQ(after.st_mode & 07777, 0604u);
            } else {
                ASSERT_TRUE(error);
                EXPECT_EQ(error->kind, ErrorKind::changedOnServer) << describe(error);
                EXPECT_TRUE(error->targetUnchanged);
                EXPECT_TRUE(readDiskFile(file) == there) << "the check must come before the replace";
            }
            EXPECT_EQ(std::distance(fs::directory_iterator(disk), fs::directory_iterator()), 1) << "a temporary file was left";
        }
    }
}

}  // namespace sshtest
