// The provider contract's default parts: a provider that cannot tell a file's version reads
// without one, and refuses a checked write rather than writing unchecked; several files are
// read as that many reads, which the provider's workers run side by side (FTP and WebDAV: one
// request per file and connection is all their protocols have). Also the in-memory set of
// leftover temporary copies.

#include "platform/files/FileProvider.h"

#include <algorithm>
#include <atomic>

#include "platform/files/CurlSupport.h"  // OperationAccess

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

OperationHandle FileProvider::contentsOfDirectories(std::vector<std::string> paths, FolderCompletion each) {
    using detail::OperationAccess;
    auto all = std::make_shared<Operation>();
    // The listings under way; the lot is finished once the last one handed its folder over.
    struct Lot {
        std::mutex mutex;
        std::vector<OperationHandle> listings;
        std::atomic<std::size_t> left{0};
    };
    auto lot = std::make_shared<Lot>();
    lot->left = paths.size();
    if (paths.empty()) {
        OperationAccess::finish(*all);
        return all;
    }
    auto shared = std::make_shared<FolderCompletion>(std::move(each));
    for (std::string& path : paths) {
        OperationHandle listing = contentsOfDirectory(
            path, [all, lot, shared, path](std::vector<FileObject> entries, std::optional<FileError> error) {
                try {
                    if (*shared) (*shared)(path, std::move(entries), std::move(error));
                } catch (...) {
                    // A completion's own failure stays with it; the others still run.
                }
                if (--lot->left == 0) OperationAccess::finish(*all);
            });
        std::lock_guard lock(lot->mutex);
        lot->listings.push_back(std::move(listing));
    }
    auto cancelAll = [weak = std::weak_ptr<Lot>(lot)] {
        auto held = weak.lock();
        if (!held) return;
        std::vector<OperationHandle> listings;
        {
            std::lock_guard lock(held->mutex);
            listings = held->listings;
        }
        for (const auto& listing : listings) listing->cancel();
    };
    if (!OperationAccess::arm(*all, cancelAll)) cancelAll();  // cancelled while the listings were handed out
    return all;
}

OperationHandle FileProvider::contentsOfFiles(std::vector<std::string> paths, FileCompletion each) {
    using detail::OperationAccess;
    auto all = std::make_shared<Operation>();
    // The reads under way; the lot is finished once the last one handed its file over.
    struct Lot {
        std::mutex mutex;
        std::vector<OperationHandle> reads;
        std::atomic<std::size_t> left{0};
    };
    auto lot = std::make_shared<Lot>();
    lot->left = paths.size();
    if (paths.empty()) {
        OperationAccess::finish(*all);
        return all;
    }
    auto shared = std::make_shared<FileCompletion>(std::move(each));
    for (std::string& path : paths) {
        OperationHandle read = contents(path, [all, lot, shared, path](std::optional<Bytes> data, std::optional<FileError> error) {
            try {
                if (*shared) (*shared)(path, std::move(data), std::move(error));
            } catch (...) {
                // A completion's own failure stays with it; the others still run.
            }
            if (--lot->left == 0) OperationAccess::finish(*all);
        });
        std::lock_guard lock(lot->mutex);
        lot->reads.push_back(std::move(read));
    }
    auto cancelAll = [weak = std::weak_ptr<Lot>(lot)] {
        auto held = weak.lock();
        if (!held) return;
        std::vector<OperationHandle> reads;
        {
            std::lock_guard lock(held->mutex);
            reads = held->reads;
        }
        for (const auto& read : reads) read->cancel();
    };
    if (!OperationAccess::arm(*all, cancelAll)) cancelAll();  // cancelled while the reads were handed out
    return all;
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
