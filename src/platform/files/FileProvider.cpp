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

namespace {

// One operation for each path, side by side on the workers: `start(path, finished)` begins the
// path's own and returns its handle, its completion calling `finished()` once it ran. The handle
// returned cancels them all, and is finished once the last one's completion ran.
template <typename Start>
OperationHandle sideBySide(const std::vector<std::string>& paths, Start start) {
    using detail::OperationAccess;
    auto all = std::make_shared<Operation>();
    struct Lot {
        std::mutex mutex;
        std::vector<OperationHandle> ops;
        std::atomic<std::size_t> left{0};
    };
    auto lot = std::make_shared<Lot>();
    lot->left = paths.size();
    if (paths.empty()) {
        OperationAccess::finish(*all);
        return all;
    }
    for (const std::string& path : paths) {
        OperationHandle op = start(path, [all, lot] {
            if (--lot->left == 0) OperationAccess::finish(*all);
        });
        std::lock_guard lock(lot->mutex);
        lot->ops.push_back(std::move(op));
    }
    auto cancelAll = [weak = std::weak_ptr<Lot>(lot)] {
        auto held = weak.lock();
        if (!held) return;
        std::vector<OperationHandle> ops;
        {
            std::lock_guard lock(held->mutex);
            ops = held->ops;
        }
        for (const auto& op : ops) op->cancel();
    };
    if (!OperationAccess::arm(*all, cancelAll)) cancelAll();  // cancelled while they were handed out
    return all;
}

// Runs a caller's completion for one path of several; its own failure stays with it, and the
// others still run.
template <typename Each, typename... Args>
void handOver(const Each& each, Args&&... args) {
    try {
        if (each) each(std::forward<Args>(args)...);
    } catch (...) {
    }
}

}  // namespace

OperationHandle FileProvider::contentsOfDirectories(std::vector<std::string> paths, FolderCompletion each) {
    auto shared = std::make_shared<FolderCompletion>(std::move(each));
    return sideBySide(paths, [this, shared](const std::string& path, std::function<void()> finished) {
        return contentsOfDirectory(path, [shared, path, finished](std::vector<FileObject> entries, std::optional<FileError> error) {
            handOver(*shared, path, std::move(entries), std::move(error));
            finished();
        });
    });
}

OperationHandle FileProvider::contentsOfFiles(std::vector<std::string> paths, FileCompletion each) {
    auto shared = std::make_shared<FileCompletion>(std::move(each));
    return sideBySide(paths, [this, shared](const std::string& path, std::function<void()> finished) {
        return contents(path, [shared, path, finished](std::optional<Bytes> data, std::optional<FileError> error) {
            handOver(*shared, path, std::move(data), std::move(error));
            finished();
        });
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
