#include "tandrel/search/SiteSearch.h"

#include <algorithm>

#include "platform/dispatch/Dispatch.h"
#include "platform/files/RemotePath.h"
#include "platform/files/VersionCheck.h"

namespace sitesearch {

namespace {

// Where each line of the text starts (lines end at LF, CR LF or CR).
std::vector<std::size_t> lineStarts(std::string_view text) {
    std::vector<std::size_t> starts{0};
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            starts.push_back(i + 1);
        } else if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            starts.push_back(i + 1);
        }
    }
    return starts;
}

// The end of the line that starts at `start`, before its line break.
std::size_t lineEnd(std::string_view text, std::size_t start) {
    const auto end = text.find_first_of("\r\n", start);
    return end == std::string_view::npos ? text.size() : end;
}

bool cancelled(const std::optional<files::FileError>& error) {
    return error && error->kind == files::ErrorKind::cancelled;
}

}  // namespace

std::string SiteSearch::relativeTo(const std::string& folder, const std::string& path) {
    if (folder == "/" || folder.empty()) return path.size() > 1 && path[0] == '/' ? path.substr(1) : path;
    if (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/') {
        return path.substr(folder.size() + 1);
    }
    return path;
}

std::optional<FileHits> SiteSearch::hitsIn(const SitePattern& pattern, std::shared_ptr<const SiteFileText> file,
                                           std::string relativePath) {
    if (!file) return std::nullopt;
    const std::string_view text = file->text.utf8;
    std::vector<MatchSpan> matches = pattern.find(text);
    if (matches.empty()) return std::nullopt;
    FileHits hits;
    hits.relativePath = std::move(relativePath);
    const std::vector<std::size_t> starts = lineStarts(text);
    for (const MatchSpan& match : matches) {
        const auto after = std::upper_bound(starts.begin(), starts.end(), match.offset);
        const std::size_t index = static_cast<std::size_t>(after - starts.begin()) - 1;
        const std::size_t start = starts[index];
        const std::size_t end = lineEnd(text, start);
        if (hits.lines.empty() || hits.lines.back().line != index + 1) {
            hits.lines.push_back(LineHit{index + 1, std::string(text.substr(start, end - start)), {}});
        }
        const std::size_t from = match.offset - start;
        const std::size_t to = std::min(match.offset + match.length, end) - start;
        hits.lines.back().spans.push_back(MatchSpan{from, to > from ? to - from : 0});
    }
    hits.matches = std::move(matches);
    hits.file = std::move(file);
    return hits;
}

SiteSearch::SiteSearch(std::shared_ptr<files::FileProvider> provider, std::shared_ptr<SiteSearchCache> cache,
                       SearchQuery query, SearchHandlers handlers)
    : provider_(std::move(provider)),
      cache_(std::move(cache)),
      query_(std::move(query)),
      pattern_(query_.text, query_.options),
      filter_(query_.includes, query_.excludes),
      handlers_(std::move(handlers)) {}

std::shared_ptr<SiteSearch> SiteSearch::start(std::shared_ptr<files::FileProvider> provider,
                                              std::shared_ptr<SiteSearchCache> cache, SearchQuery query,
                                              std::map<std::string, std::string> editorTexts, SearchHandlers handlers) {
    query.folder = files::path::normalize(query.folder.empty() ? "/" : query.folder);
    auto search = std::make_shared<SiteSearch>(std::move(provider), std::move(cache), std::move(query), std::move(handlers));
    search->begin(std::move(editorTexts));
    return search;
}

void SiteSearch::begin(std::map<std::string, std::string> editorTexts) {
    std::optional<std::string> error = pattern_.error();
    if (!error && !provider_) error = "The window is not connected to a server.";
    if (error) {
        // Told as any end is: off the caller's thread.
        auto self = shared_from_this();
        dispatch::globalQueue().async([self, error] {
            std::unique_lock lock(self->mutex_);
            self->summary_.error = error;
            self->finishIfDone(lock);
        });
        return;
    }
    // The open documents' texts under the folder, in folders and of names the search takes.
    for (auto& [path, text] : editorTexts) {
        if (!files::path::isSameOrInside(path, query_.folder) || path == query_.folder) continue;
        const std::string relative = relativeTo(query_.folder, path);
        bool taken = filter_.searchesFile(files::path::lastComponent(path));
        std::size_t from = 0;
        for (std::size_t slash = relative.find('/'); taken && slash != std::string::npos;
             from = slash + 1, slash = relative.find('/', from)) {
            taken = filter_.searchesFolder(relative.substr(from, slash - from));
        }
        if (taken) editorTexts_.emplace(path, std::move(text));
    }
    std::unique_lock lock(mutex_);
    folders_.push_back(query_.folder);
    summary_.progress.filesFound = editorTexts_.size();
    ++pending_;  // the editors' texts, searched below
    lock.unlock();
    for (const auto& [path, text] : editorTexts_) {
        auto file = std::make_shared<SiteFileText>();
        file->path = path;
        file->text.utf8 = text;
        file->fromEditor = true;
        searchFile(std::move(file));
    }
    settleOne();
}

void SiteSearch::stop() {
    stopping_ = true;
    std::vector<files::OperationHandle> operations;
    {
        std::unique_lock lock(mutex_);
        summary_.stopped = !finished_;
        folders_.clear();
        operations = operations_;
    }
    for (const auto& operation : operations) operation->cancel();
    std::unique_lock lock(mutex_);
    finishIfDone(lock);
}

void SiteSearch::pump() {
    std::unique_lock lock(mutex_);
    auto self = shared_from_this();
    while (!stopping_ && !folders_.empty() && listings_ < kListingsInFlight) {
        // The folders known by now go together (one flight on SFTP).
        std::vector<std::string> folders;
        while (!folders_.empty() && folders.size() < kFoldersPerListing) {
            folders.push_back(std::move(folders_.front()));
            folders_.pop_front();
        }
        pending_ += static_cast<int>(folders.size());
        ++listings_;
        lock.unlock();
        auto left = std::make_shared<std::atomic<std::size_t>>(folders.size());
        auto operation = provider_->contentsOfDirectories(
            std::move(folders),
            [self, left](std::string folder, std::vector<files::FileObject> entries, std::optional<files::FileError> error) {
                // The next listing starts once this one handed over all its folders, so that it
                // takes every folder they hold (the next level of the tree in one flight). The
                // folders may be handed over side by side: the one whose hand-over ends last goes
                // on (one counted as last before another's had settled could find the search
                // unfinished, and the other then settled without looking: the search never ended).
                self->listed(folder, std::move(entries), std::move(error), false);
                if (--*left != 0) return;
                {
                    std::lock_guard lock(self->mutex_);
                    --self->listings_;
                }
                self->pump();
            });
        lock.lock();
        operations_.push_back(std::move(operation));
    }
    finishIfDone(lock);
}

void SiteSearch::listed(const std::string& folder, std::vector<files::FileObject> entries,
                        std::optional<files::FileError> error, bool pumpAfter) {
    if (error) {
        std::unique_lock lock(mutex_);
        if (!cancelled(error)) {
            if (folder == query_.folder) {
                summary_.error = error->message.empty() ? std::string(files::kindName(error->kind)) : error->message;
            } else {
                ++summary_.unreadable;
            }
        }
        lock.unlock();
        return settleOne(pumpAfter);
    }
    std::vector<files::FileObject> toRead;
    std::vector<std::shared_ptr<const SiteFileText>> cached;
    {
        std::unique_lock lock(mutex_);
        for (auto& entry : entries) {
            if (entry.isDirectory()) {
                if (filter_.searchesFolder(entry.name)) folders_.push_back(entry.path);
                continue;
            }
            if (!entry.isRegularFile() && !entry.isSymbolicLink()) continue;
            if (editorTexts_.count(entry.path) || !filter_.searchesFile(entry.name)) continue;
            if (entry.size > SiteFileFilter::kMaxBytes) continue;
            if (cache_) {
                if (auto hit = cache_->lookup(entry.path, entry.size, entry.modificationDate)) {
                    if (hit->file) {
                        ++summary_.progress.filesFound;
                        cached.push_back(hit->file);
                    }
                    continue;  // binary: passed over as before
                }
            }
            ++summary_.progress.filesFound;
            toRead.push_back(std::move(entry));
        }
        pending_ += static_cast<int>(toRead.size());
    }
    for (auto& file : cached) searchFile(std::move(file));

    // Small files go together; a file whose version keeps no hash is read with the server's facts.
    auto self = shared_from_this();
    std::vector<files::FileObject> batch;
    auto flush = [&] {
        if (batch.empty()) return;
        auto byPath = std::make_shared<std::map<std::string, files::FileObject>>();
        std::vector<std::string> paths;
        for (auto& entry : batch) {
            paths.push_back(entry.path);
            byPath->emplace(entry.path, std::move(entry));
        }
        batch.clear();
        auto operation = provider_->contentsOfFiles(
            std::move(paths), [self, byPath](std::string path, std::optional<files::Bytes> data,
                                             std::optional<files::FileError> error) {
                files::FileObject entry;
                if (auto it = byPath->find(path); it != byPath->end()) entry = it->second;
                entry.path = path;
                self->readArrived(entry, std::move(data), {}, false, std::move(error));
            });
        std::lock_guard lock(mutex_);
        operations_.push_back(std::move(operation));
    };
    for (auto& entry : toRead) {
        if (stopping_) {
            // Not asked for: settled at once.
            settleOne();
            continue;
        }
        if (entry.size > static_cast<std::int64_t>(files::detail::kHashedSizeLimit)) {
            auto operation = provider_->contentsAndVersion(
                entry.path, [self, entry](std::optional<files::Bytes> data, files::FileVersion version,
                                          std::optional<files::FileError> error) {
                    self->readArrived(entry, std::move(data), std::move(version), true, std::move(error));
                });
            std::lock_guard lock(mutex_);
            operations_.push_back(std::move(operation));
            continue;
        }
        batch.push_back(std::move(entry));
        if (batch.size() == kReadBatch) flush();
    }
    flush();
    settleOne(pumpAfter);
}

void SiteSearch::readArrived(const files::FileObject& entry, std::optional<files::Bytes> data,
                             files::FileVersion version, bool withVersion, std::optional<files::FileError> error) {
    if (error || !data) {
        if (!cancelled(error) && !stopping_) {
            std::lock_guard lock(mutex_);
            ++summary_.unreadable;
        }
        return settleOne();
    }
    if (stopping_) return settleOne();
    {
        std::lock_guard lock(mutex_);
        ++summary_.readFromServer;
    }
    if (data->size() > static_cast<std::size_t>(SiteFileFilter::kMaxBytes) || SiteFileFilter::looksBinary(*data)) {
        if (cache_) cache_->store(entry.path, {entry.size, entry.modificationDate, nullptr});
        {
            std::lock_guard lock(mutex_);
            if (summary_.progress.filesFound > 0) --summary_.progress.filesFound;
        }
        return settleOne();
    }
    auto file = std::make_shared<SiteFileText>();
    file->path = entry.path;
    file->text = textcodec::decodeText(*data, entry.path);
    if (!withVersion || version.empty()) {
        version = {};
        files::detail::addContentFacts(version, *data);
    } else if (version.size < 0) {
        version.size = static_cast<std::int64_t>(data->size());
    }
    file->version = std::move(version);
    file->bytes = std::move(*data);
    file->listedSize = entry.size;
    file->listedDate = entry.modificationDate;
    std::shared_ptr<const SiteFileText> kept = std::move(file);
    if (cache_) cache_->store(entry.path, {entry.size, entry.modificationDate, kept});
    searchFile(std::move(kept));
    settleOne();
}

void SiteSearch::searchFile(std::shared_ptr<const SiteFileText> file) {
    if (stopping_) return;
    std::string relative = relativeTo(query_.folder, file->path);
    std::optional<FileHits> hits = hitsIn(pattern_, std::move(file), std::move(relative));
    SearchProgress progress;
    {
        std::lock_guard lock(mutex_);
        ++summary_.progress.filesRead;
        if (hits) {
            ++summary_.files;
            summary_.matches += hits->matches.size();
        }
        progress = summary_.progress;
    }
    if (hits && handlers_.found) handlers_.found(std::move(*hits));
    if (handlers_.progress) handlers_.progress(progress);
}

void SiteSearch::settleOne(bool pumpAfter) {
    {
        std::lock_guard lock(mutex_);
        --pending_;
    }
    if (pumpAfter) pump();
}

void SiteSearch::finishIfDone(std::unique_lock<std::mutex>& lock) {
    if (finished_) return;
    const bool done = summary_.error || (pending_ == 0 && (folders_.empty() || stopping_));
    if (!done) return;
    if (summary_.error && pending_ > 0) {
        // The rest is cancelled; the end waits for it.
        stopping_ = true;
        folders_.clear();
        auto operations = operations_;
        lock.unlock();
        for (const auto& operation : operations) operation->cancel();
        lock.lock();
        if (finished_ || pending_ > 0) return;
    }
    finished_ = true;
    SearchSummary summary = summary_;
    operations_.clear();
    lock.unlock();
    if (handlers_.finished) handlers_.finished(std::move(summary));
    lock.lock();
}

}  // namespace sitesearch
