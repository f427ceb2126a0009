// The provider contract's default parts: a provider that cannot tell a file's version reads
// without one, and refuses a checked write rather than writing unchecked.

#include "platform/files/FileProvider.h"

namespace files {

OperationHandle FileProvider::contentsAndVersion(std::string path, VersionedDataCompletion completion) {
    return contents(std::move(path), [completion = std::move(completion)](std::optional<Bytes> data,
                                                                         std::optional<FileError> error) {
        if (completion) completion(std::move(data), FileVersion{}, std::move(error));
    });
}

OperationHandle FileProvider::writeContents(std::string path, std::optional<Bytes> data, WriteMode mode,
                                            std::optional<FileVersion> expected, WriteCompletion completion) {
    if (expected && !expected->empty()) {
        auto op = std::make_shared<Operation>();
        if (completion) {
            completion(std::nullopt,
                       FileError::make(ErrorKind::other, "this server connection cannot check the file before writing"));
        }
        return op;
    }
    return writeContents(std::move(path), std::move(data), mode,
                         [completion = std::move(completion)](std::optional<FileError> error) {
                             if (completion) completion(std::nullopt, std::move(error));
                         });
}

}  // namespace files
