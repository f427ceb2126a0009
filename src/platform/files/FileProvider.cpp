// The provider contract's default parts: a provider that cannot tell a file's version reads
// without one, and refuses a checked write rather than writing unchecked. Also the in-memory
// set of leftover temporary copies.

#include "platform/files/FileProvider.h"

#include <algorithm>

namespace files {

namespace {

class MemoryLeftoverCopies final : public LeftoverCopies {
public:
    void remember(const std::string&, const std::string& copy) override {
        std::lock_guard lock(mutex_);
        if (std::find(copies_.begin(), copies_.end(), copy) == copies_.end()) copies_.push_back(copy);
    }
    void forget(const std::string& copy) override {
        std::lock_guard lock(mutex_);
        copies_.erase(std::remove(copies_.begin(), copies_.end(), copy), copies_.end());
    }
    std::vector<std::string> copies() const override {
        std::lock_guard lock(mutex_);
        return copies_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> copies_;
};

}  // namespace

std::shared_ptr<LeftoverCopies> makeLeftoverCopies() { return std::make_shared<MemoryLeftoverCopies>(); }

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
