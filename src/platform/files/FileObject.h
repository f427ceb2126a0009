#pragma once
// One entry of a remote directory listing, as the providers report it.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace files {

using Date = std::chrono::system_clock::time_point;

enum class FileType { regular, directory, symbolicLink, unknown };

struct FileObject {
    std::string name;  // for display: UTF-8 (bytes that are not become U+FFFD)
    std::string path;  // absolute from the provider's root: "/folder/name"; every operation on
                       // the entry uses it (it keeps a name's bytes, see path::fromServer)
    FileType type = FileType::unknown;
    std::int64_t size = -1;  // bytes; -1 when the server did not say
    std::optional<Date> modificationDate;
    std::optional<Date> creationDate;
    bool isHidden = false;  // the name starts with "."
    std::optional<unsigned> permissions;  // the Unix permission bits (07777), when the server tells them (SFTP)

    bool isDirectory() const { return type == FileType::directory; }
    bool isRegularFile() const { return type == FileType::regular; }
    bool isSymbolicLink() const { return type == FileType::symbolicLink; }

    friend bool operator==(const FileObject&, const FileObject&) = default;
};

}  // namespace files
